// cardo: bucket sort of doubles with the permutation (see sort.h).
#include "arcus/cardo/sort.h"

#include <algorithm>
#include <cmath>
#include <new>
#include <utility>
#include <vector>

namespace cardo {
namespace {

// About this many values per bucket: few enough that a bucket is sorted by
// a handful of insertions, and the bucket heads cost a quarter of the values.
constexpr std::ptrdiff_t PER_BUCKET = 4;
// Buckets up to this size are sorted by insertion; larger ones (the end
// buckets that collect values outside [a, b], or clustered values) by a
// comparison sort.
constexpr std::ptrdiff_t INSERTION_MAX = 32;

}  // namespace

void SortOrder(const double* v, std::ptrdiff_t n, double a, double b, double* sv,
               std::ptrdiff_t* idx, int& info) {
    using Index = std::ptrdiff_t;
    if (n < -1) {
        info = -2;
        return;
    }
    info = OK;
    const Index len = n + 1;
    try {
        const Index nb = len / PER_BUCKET + 1;  // buckets of real values; bucket nb holds NaN
        const double scale =
            (b > a && std::isfinite(b - a)) ? static_cast<double>(nb) / (b - a) : 0.0;
        std::vector<Index> next(static_cast<std::size_t>(nb) + 2, 0);
        std::vector<Index> which(static_cast<std::size_t>(len));
        for (Index i = 0; i < len; ++i) {
            const double x = v[i];
            const double t = (x - a) * scale;
            Index k;
            if (std::isnan(x)) k = nb;
            else if (!(t > 0.0)) k = 0;
            else k = t >= static_cast<double>(nb) ? nb - 1 : static_cast<Index>(t);
            which[i] = k;
            ++next[k + 1];
        }
        for (Index k = 0; k <= nb; ++k) next[k + 1] += next[k];
        for (Index i = 0; i < len; ++i) {
            const Index j = next[which[i]]++;
            sv[j] = v[i];
            idx[j] = i;
        }
        // next[k] is now the end of bucket k, and the start of bucket k + 1.
        Index lo = 0;
        std::vector<std::pair<double, Index>> big;
        for (Index k = 0; k < nb; lo = next[k], ++k) {
            const Index hi = next[k];
            if (hi - lo < 2) continue;
            if (hi - lo <= INSERTION_MAX) {
                for (Index p = lo + 1; p < hi; ++p) {
                    const double key = sv[p];
                    const Index ik = idx[p];
                    Index q = p;
                    for (; q > lo && key < sv[q - 1]; --q) {
                        sv[q] = sv[q - 1];
                        idx[q] = idx[q - 1];
                    }
                    sv[q] = key;
                    idx[q] = ik;
                }
                continue;
            }
            big.resize(static_cast<std::size_t>(hi - lo));
            for (Index p = lo; p < hi; ++p) big[p - lo] = {sv[p], idx[p]};
            std::sort(big.begin(), big.end(),
                      [](const auto& x, const auto& y) { return x.first < y.first; });
            for (Index p = lo; p < hi; ++p) {
                sv[p] = big[p - lo].first;
                idx[p] = big[p - lo].second;
            }
        }
    } catch (const std::bad_alloc&) {
        info = NO_MEMORY;
    }
}

}  // namespace cardo
