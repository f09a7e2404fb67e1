// Knot vectors, knot placement, span search.
#include "cardo.h"

#include <algorithm>
#include <cstring>
#include <cstddef>
#include <new>

namespace cardo {

// True when U[i] >= U[i - 1] for every i in lo..hi (exact comparisons; a NaN
// fails). Every evaluation scans its whole knot vector, so the test runs in
// branch-free blocks of sixteen pairs, as vector comparisons where the
// compiler offers vector types (built twice on x86-64 Linux: for AVX2 and
// for the baseline, chosen at load time), with one branch per block.
#if defined(__GNUC__) && defined(__x86_64__) && defined(__linux__) && !defined(__clang__)
__attribute__((target_clones("avx2", "default")))
#endif
static bool pairs_nondecreasing(const double* U, int lo, int hi) {
    constexpr int B = 16;
    int i = lo;
#if defined(__GNUC__)
    // Unaligned loads of four doubles (may alias the double array).
    typedef double v4d __attribute__((vector_size(32), aligned(8), may_alias));
    typedef long long v4l __attribute__((vector_size(32)));
    for (; i + B - 1 <= hi; i += B) {
        const double* c = U + i;
        const v4l ok = ((*reinterpret_cast<const v4d*>(c) >= *reinterpret_cast<const v4d*>(c - 1)) &
                        (*reinterpret_cast<const v4d*>(c + 4) >= *reinterpret_cast<const v4d*>(c + 3))) &
                       ((*reinterpret_cast<const v4d*>(c + 8) >= *reinterpret_cast<const v4d*>(c + 7)) &
                        (*reinterpret_cast<const v4d*>(c + 12) >= *reinterpret_cast<const v4d*>(c + 11)));
        // all bits set where the pair is in order
        if (((ok[0] & ok[1]) & (ok[2] & ok[3])) != -1) return false;
    }
#else
    for (; i + B - 1 <= hi; i += B) {
        int bad = 0;
        for (int k = 0; k < B; ++k) bad |= !(U[i + k] >= U[i + k - 1]);
        if (bad) return false;
    }
#endif
    for (; i <= hi; ++i) {
        if (!(U[i] >= U[i - 1])) return false;
    }
    return true;
}

int ValidKnotVector(int n, int p, const double* U) {
    // Every evaluation validates its knot vector, so the common cases take a
    // shortcut: finite knots with a zero difference are equal within any
    // tolerance (two equal infinities are not: their difference is NaN), and
    // a knot not below its predecessor cannot be below it beyond the tolerance.
    for (int i = 1; i <= p; ++i) {
        if (!(U[i] - U[0] == 0.0) && !keq(U[i], U[0])) return 1;
    }
    // Only a vector with some decreasing (or NaN) pair needs the tolerant test.
    if (!pairs_nondecreasing(U, p + 1, n + 1)) {
        for (int i = p + 1; i <= n + 1; ++i) {
            if (!(U[i] >= U[i - 1]) && U[i] < U[i - 1] - ktol(U[i], U[i - 1])) return 1;
        }
    }
    const int m = n + p + 1;
    if (m > n + 1) {
        for (int j = n + 1; j <= m - 1; ++j) {
            if (!(U[j] - U[m] == 0.0) && !keq(U[j], U[m])) return 1;
        }
    }
    return 0;
}

int CheckCurveSizes(int n, int p, CurveArgs at) {
    if (p < 0) return InvalidArg(at.p);
    if (n < p) return InvalidArg(at.n);
    return OK;
}

int CheckCurve(int n, int p, const double* U, CurveArgs at) {
    if (const int st = CheckCurveSizes(n, p, at)) return st;
    if (ValidKnotVector(n, p, U)) return InvalidArg(at.U);
    return OK;
}

int FindSpanCheck(int m, int p, const double* U) {
    // (p, u, U): too few knots, n < p, is an invalid U.
    const CurveArgs at{3, 1, 3};
    if (p < 0) return InvalidArg(at.p);
    // In 64 bits: a huge p must not overflow m - p - 1.
    if (static_cast<long long>(m) - p - 1 < p) return InvalidArg(at.n);
    return CheckCurve(m - p - 1, p, U, at);
}

// First p + 1 knots at u0, then the last p + 1 knots (ending at index last)
// at u1; where the two groups overlap (fewer parameters than p + 1) the end
// value wins.
static void clamp_ends(int p, double u0, double u1, int last, double* U) {
    for (int j = 0; j <= p; ++j) U[j] = u0;
    for (int j = 0; j <= p; ++j) U[last - p + j] = u1;
}

void EquallySpaced(int n, const double* u, int p, double* U) {
    clamp_ends(p, u[0], u[n], n + p + 1, U);
    for (int j = 1; j <= n - p; ++j) {
        U[p + j] = (j * (u[n] - u[0])) / (n - p + 1) + u[0];
    }
}

// Mean of u[lo..lo+cnt-1], summed left to right from 0.
static double mean_of(const double* u, int lo, int cnt) {
    double s = 0.0;
    for (int i = lo; i < lo + cnt; ++i) s += u[i];
    return s / cnt;
}

void AveragingAlg1(int n, const double* u, int p, double* U) {
    clamp_ends(p, u[0], u[n], n + p + 1, U);
    for (int j = 1; j <= n - p; ++j) U[p + j] = mean_of(u, j, p);
}

void AveragingAlg2(int n, const double* u, int p, double* U) {
    clamp_ends(p, u[0], u[n], n + p + 3, U);
    for (int i = 0; i <= n - p + 1; ++i) U[p + 1 + i] = mean_of(u, i, p);
}

void AveragingAlg3(int n, const double* u, int p, int k, int l, double* U) {
    clamp_ends(p, u[0], u[n], n + k + l + p + 1, U);
    int j = p + 1;
    for (int i = 1 - k; i <= n + l - p; ++i) {
        const int lo = std::max(0, i);
        const int hi = std::min(n, i + p - 1);
        U[j++] = mean_of(u, lo, hi - lo + 1);
    }
}

void KnotEvalL2Approx(int m, const double* u, int p, int n, double* U) {
    clamp_ends(p, u[0], u[m], n + p + 1, U);
    if (n - p < 1) return;
    const double d = static_cast<double>(m + 1) / (n - p + 1);
    for (int j = 1; j <= n - p; ++j) {
        const double c = j * d;
        const int i = static_cast<int>(c);
        const double alpha = c - i;
        U[p + j] = alpha * u[i] + (1.0 - alpha) * u[i - 1];
    }
}

void AveragingCpts(int n, int p, const double* U, double* C, int& info) {
    info = CheckCurve(n, p, U);
    if (info) return;
    for (int i = 0; i <= n; ++i) {
        double s = 0.0;
        for (int j = i + 1; j <= i + p; ++j) s += U[j];
        C[i] = s / p;
    }
}

int FindSpan(int n, int p, double u, const double* U) {
    // An infinite u lies beyond an end of the domain.
    if (std::isinf(u)) return u < 0 ? p : n;
    const double tol = span_tol(n, p, U);
    if (std::fabs(u - U[n + 1]) <= tol) return n;
    int low = p, high = n + 1, mid = (low + high) / 2;
    for (;;) {
        // Spans are half-open, [U[i] - tol, U[i+1] - tol): a u within the
        // tolerance of a knot, the edge included, belongs to the span that
        // begins at its last copy, and an empty span (a repeated knot) is
        // never chosen.
        const bool below = u < U[mid] - tol;
        const bool above = u >= U[mid + 1] - tol;
        if (!below && !above) return mid;
        // With one span left the search cannot narrow any further: u lies
        // outside the domain, and mid is the nearest end span.
        if (high - low <= 1) return mid;
        if (below)
            high = mid;
        else
            low = mid;
        mid = (low + high) / 2;
    }
}

bool KnotsSorted(int m, const double* U) {
    // Between two finite ends, non-decreasing knots are finite too.
    return std::isfinite(U[0]) && std::isfinite(U[m]) && pairs_nondecreasing(U, 1, m);
}

int FindSpanFrom(int n, int p, double u, const double* U, int hint) {
    // A span is taken from the hint only when it is the one span that
    // FindSpan's test admits, so both searches agree exactly. On finite,
    // non-decreasing knots (KnotsSorted) the tolerant lower bounds
    // U[i] - tol do not decrease with i, so such a span is unique and
    // the bisection of FindSpan ends on it. A u at or above U[i] passes the
    // tolerant lower test at once (the tolerance is positive); a u below
    // U[i+1] - tol is below U[n+1] - tol too, so it is not the right end.
    const int stop = std::min(n, hint + 4);
    const double tol = span_tol(n, p, U);
    for (int i = std::max(hint, p); i <= stop; ++i) {
        if (!(u >= U[i])) {
            const double lo = U[i] - tol;
            if (i == p ? !(u >= lo) : !(u > lo)) break;
        }
        if (u < U[i + 1] - tol) return i;
    }
    return FindSpan(n, p, u, U);
}

void FindSpanMult(int n, int p, double u, const double* U, int& span, int& mult) {
    span = FindSpan(n, p, u, U);
    mult = 0;
    const double tol = span_tol(n, p, U);
    while (span - mult >= 0 && std::fabs(U[span - mult] - u) <= tol) ++mult;
}

void IncreaseMultByOne(int m, int p, const double* U, int mh, double* Uh) {
    for (int k = 0; k <= p + 1; ++k) {
        Uh[k] = U[0];
        Uh[mh - p - 1 + k] = U[m];
    }
    int i = p + 1;
    bool flag = false;
    for (int j = p + 2; j <= mh - p - 2; ++j) {
        // A wrong mh gives a wrong vector, but never a read past U[m].
        if (i + 1 > m) break;
        Uh[j] = U[i];
        if (keq(U[i + 1], U[i]) || flag) {
            ++i;
            flag = false;
        } else {
            flag = true;
        }
    }
}

int DistinctKnots(std::ptrdiff_t len, int p, const double* U) {
    if (len - p - 1 <= p + 1) return 0;
    int s = 0;
    for (std::ptrdiff_t i = p + 1; i <= len - p - 2; ++i) {
        if (U[i] != U[i - 1]) ++s;
    }
    return s;
}

int BinomialCoeff(unsigned a, unsigned b) {
    // The row entry b is never reached for b > a: the coefficient is 0.
    if (b > a) return 0;
    constexpr std::size_t STACK = 64;
    const std::size_t len = static_cast<std::size_t>(b) + 1;
    // Unsigned arithmetic: wraps like the 32-bit int row instead of overflowing.
    unsigned small[STACK];
    unsigned* row = len <= STACK ? small : new (std::nothrow) unsigned[len];
    if (!row) return 0;
    std::fill(row, row + len, 0u);
    row[0] = 1;
    for (unsigned i = 1; i <= a; ++i) {
        for (unsigned j = std::min(i, b); j >= 1; --j) row[j] += row[j - 1];
    }
    const int r = static_cast<int>(row[b]);
    if (row != small) delete[] row;
    return r;
}

}  // namespace cardo
