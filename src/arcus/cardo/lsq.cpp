// Least-squares fit of a curve's free control points: the rows of the
// problem (span search, basis values, fixed end points) fed into the
// orthogonal factorisation of bandlsq.cpp, and its solve.
//
// On a clamped, finite, non-decreasing knot vector (the usual case) each data
// point has at most p + 1 non-zero basis functions, found by the span search
// and BasisFuns; its row is reduced into a triangular factor with p + 1
// entries per row, in O(data points * p^2) time and O(control points * p)
// memory. Any other knot vector takes every basis value from OneBasisFun into
// a dense factor.
//
// A system is rank deficient when a diagonal entry of the factor is at most
// max(data points, free control points) * eps times the largest one (then the
// condition number is at least the reciprocal of that); it is reported as
// LAPACK's dgesv reports a singular matrix, with the 1-based index of the
// first such free control point.
#include "cardo.h"

#include <algorithm>
#include <cstddef>
#include <limits>

namespace cardo {

namespace {

// Rows with the same first column (the data points of one knot span) are
// gathered in blocks of at most this many rows for BandLsqAddBlock: large
// enough that a reflection pays for itself, small enough for the cache.
constexpr int BLOCK = 128;

// A free count of zero still gets one-element work arrays.
inline std::ptrdiff_t at_least_one(int v) { return v > 0 ? v : 1; }

// Lengths of the parts of the band fit's work array.
inline std::ptrdiff_t band_factor_len(int p, int nfree) {
    return std::ptrdiff_t(p + 1) * at_least_one(nfree);
}
inline std::ptrdiff_t band_scratch_len(int p) {
    return 4 * (std::ptrdiff_t(p) + 1) + (2 * std::ptrdiff_t(p) + 2) * BLOCK;
}

// Rank test of the triangular factor: a diagonal entry at most this many
// times the largest one marks a rank-deficient system (numpy's default
// cutoff for the rank of a K x nfree matrix, max(K, nfree) * eps).
double rank_rtol(int K, int nfree) {
    return static_cast<double>(std::max(K, nfree)) * std::numeric_limits<double>::epsilon();
}

// Solves the triangular system of a fit in place in B; the status in the
// convention of 'dgesv': 0, or the 1-based index of the first free control
// point whose diagonal entry fails the rank test.
int solve_factor(int nfree, int w, const double* R, double* B, int K) {
    if (nfree == 0) return 0;  // every control point is fixed
    int col = -1, info = OK;
    BandLsqSolve(nfree, w, R, B, rank_rtol(K, nfree), col, info);
    // A rank-deficient factor (DIVISION_BY_ZERO) names its column; a refused
    // argument (which the sizes above rule out) stays negative.
    return info == OK ? 0 : (col >= 0 ? col + 1 : info);
}

// The problem of the free control points first .. first + nfree - 1, row by
// row: each inner data point x[1..K] gives the row of its free basis values
// and its residual after the fixed control points. Rows with the same first
// column are gathered in blocks, each reduced into a band triangular factor
// (w = p + 1 entries per row) by BandLsqAddBlock; B receives Q^T R and then
// the solution.
int band_fit(int n, int p, const double* U, int K, const double* x, const double* f, int first,
             int nfree, int nfix, const int* fidx, const double* fval, double* B, double* work) {
    const int m = n + p + 1, w = p + 1;
    double* R = work;
    double* left = R + band_factor_len(p, nfree);
    double* right = left + w;
    double* N = right + w;
    double* row = N + w;
    double* blk = row + w;  // (2w - 1) columns of BLOCK rows
    double* rhs = blk + (2 * w - 1) * BLOCK;
    BandLsqInit(nfree, w, R, B);
    if (nfree == 0) return 0;  // every control point is fixed
    int nr = 0, bcol = -1, info = 0;
    const auto flush = [&]() {
        if (nr > 0) BandLsqAddBlock(nfree, w, R, B, bcol, nr, BLOCK, blk, rhs, row, info);
        nr = 0;
        return info == 0;
    };
    const double lo = U[0], hi = U[m], tol = scale_tol(lo, hi);
    int span = p;
    for (int k = 1; k <= K; ++k) {
        const double u = x[k];
        // Outside the knot domain (beyond the tolerance) every basis value
        // is zero: the point adds nothing.
        if (!(u >= lo - tol && u <= hi + tol)) continue;
        span = FindSpanNext(n, p, u, U, span);
        BasisFuns(span, u, p, U, left, right, N);
        const int c0 = span - p;  // index of the control point of N[0]
        double r = f[k];
        for (int q = 0; q < nfix; ++q) {
            const int j = fidx[q] - c0;
            if (j >= 0 && j <= p) r = r - fval[q] * N[j];
        }
        // Free functions of this point: N[jlo .. jhi].
        const int jlo = std::max(0, first - c0);
        const int jhi = std::min(p, first + nfree - 1 - c0);
        if (jlo > jhi) continue;
        const int col = c0 + jlo - first;
        if ((col != bcol || nr == BLOCK) && !flush()) return -1;
        bcol = col;
        for (int j = 0; j < w; ++j) blk[j * BLOCK + nr] = j <= jhi - jlo ? N[jlo + j] : 0.0;
        rhs[nr++] = r;
    }
    if (!flush()) return -1;
    return solve_factor(nfree, w, R, B, K);
}

// The same problem when the span search does not apply: every basis value by
// OneBasisFun, each row rotated into a dense triangular factor (w = nfree).
int dense_fit(int n, int p, const double* U, int K, const double* x, const double* f, int first,
              int nfree, int nfix, const int* fidx, const double* fval, double* B, double* work) {
    const int m = n + p + 1;
    double* R = work;
    double* rw = R + at_least_one(nfree) * at_least_one(nfree);
    double* basis = rw + at_least_one(nfree);
    const auto basis_at = [&](int i, double u) {
        double v = 0.0;
        OneBasisFun(p, m, U, i, u, basis, v);
        return v;
    };
    BandLsqInit(nfree, nfree, R, B);
    if (nfree == 0) return 0;  // every control point is fixed
    for (int k = 1; k <= K; ++k) {
        double r = f[k];
        for (int q = 0; q < nfix; ++q) r = r - fval[q] * basis_at(fidx[q], x[k]);
        int c0 = -1;
        for (int c = 0; c < nfree; ++c) {
            const double v = basis_at(first + c, x[k]);
            if (c0 < 0 && v != 0.0) c0 = c;
            if (c0 >= 0) rw[c - c0] = v;
        }
        if (c0 < 0) continue;  // no free basis function at this point
        for (int c = nfree - c0; c < nfree; ++c) rw[c] = 0.0;
        int info = 0;
        BandLsqAddRow(nfree, nfree, R, B, c0, rw, r, info);
        if (info) return -1;
    }
    return solve_factor(nfree, nfree, R, B, K);
}

}  // namespace

bool CurveLsqBanded(int p, int m, const double* U) {
    if (!KnotsSorted(m, U)) return false;
    return U[p] == U[0] && U[m - p] == U[m] && U[0] < U[m];
}

std::ptrdiff_t CurveLsqWorkLen(int p, int nfree, bool banded) {
    if (banded) return band_factor_len(p, nfree) + band_scratch_len(p);
    return at_least_one(nfree) * at_least_one(nfree) + at_least_one(nfree) + std::ptrdiff_t(p) + 1;
}

void CurveLsqFit(int n, int p, const double* U, int mi, const double* x, const double* f,
                 int first, int nfix, const int* fidx, const double* fval, bool banded,
                 double* work, double* P, int& info) {
    const int K = mi - 1, nfree = n + 1 - 2 * first;
    for (int q = 0; q < nfix; ++q) P[fidx[q]] = fval[q];
    double* B = P + first;
    info = banded ? band_fit(n, p, U, K, x, f, first, nfree, nfix, fidx, fval, B, work)
                  : dense_fit(n, p, U, K, x, f, first, nfree, nfix, fidx, fval, B, work);
}

}  // namespace cardo
