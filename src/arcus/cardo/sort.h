// cardo: the sorting order of an array of doubles.
#pragma once

#include "arcus/cardo/status.h"

#include <cstddef>

namespace cardo {

// Sorts v[0 .. n] into sv[0 .. n], NaN last (ties in any order), with
// idx[j] the index in v of sv[j]. The values are distributed into buckets
// over [a, b] and each bucket is sorted on its own, which takes linear time
// for values spread over [a, b]; values outside it, and all values when
// a >= b (or b - a is not finite), share the end buckets, which are sorted in
// O(k log k). The same order as a comparison sort, found several times
// faster on large arrays. n = -1: nothing to sort. info: -2 n < -1,
// NO_MEMORY; on a nonzero info sv and idx hold nothing useful.
void SortOrder(const double* v, std::ptrdiff_t n, double a, double b, double* sv,
               std::ptrdiff_t* idx, int& info);

}  // namespace cardo
