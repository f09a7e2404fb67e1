// Least-squares approximation: a B-spline with fewer control points than
// data points, through the first and last point (and, in gdsplapp, with the
// end slopes fixed), the other control points fitted in the least-squares
// sense.
//
// The problem is solved by an orthogonal factorisation (Householder
// reflections and Givens rotations, cardo's BandLsq routines), never through the normal equations, whose
// condition number is the square of the problem's. On a clamped, finite,
// non-decreasing knot vector (the usual case) each data point has at most
// p + 1 non-zero basis functions, found by the span search and BasisFuns; its
// row is reduced into a triangular factor with p + 1 entries per row, in
// O(data points * p^2) time and O(control points * p) memory. Any other knot
// vector takes every basis value from OneBasisFun into a dense factor.
//
// A system is rank deficient when a diagonal entry of the factor is at most
// max(data points, free control points) * eps times the largest one (then the
// condition number is at least the reciprocal of that); it is reported as
// LAPACK's dgesv reports a singular matrix, with the 1-based index of the
// first such free control point.
#include "arcus/arcus.hpp"
#include "arcus/cardo/cardo.h"

#include <algorithm>
#include <cstddef>
#include <limits>

namespace arcus {

namespace {

// The four checks shared by both approximations, in their order.
bool lsq_asserts(const DArr& xp, const DArr& fp, int p, Py_ssize_t n, Py_ssize_t mm) {
    return assert_check(fp.len == xp.len, "xp and fp must have same dimension") &&
           assert_check(p > 0, "p must be greater than or equal to 1") &&
           assert_check(n >= p, "n must be greater than or equal to p") &&
           assert_check(n < mm,
                 "the number of points to be approximated must be greater than the number of "
                 "control points");
}

// What the computation itself relies on, checked also under python -O:
// a degree, `least_n` + 1 control points, three data points (so that the
// inner points exist) and consistent array lengths.
bool lsq_sound(const char* fname, const DArr& xp, const DArr& fp, int p, const DArr& U,
               const DArr& P, Py_ssize_t least_n) {
    const Py_ssize_t n = P.len - 1;
    if (p < 1) return pv::fail(PyExc_ValueError, "%s(): 'p' must be >= 1, got %d", fname, p);
    if (n < least_n) {
        return pv::fail(PyExc_ValueError, "%s(): at least %zd control points are needed, got %zd",
                        fname, least_n + 1, P.len);
    }
    if (!pv::need_len(fname, "xp", xp.len, 3) || !pv::need_len(fname, "fp", fp.len, xp.len) ||
        !pv::need_len(fname, "U", U.len, n + p + 2)) {
        return false;
    }
    if (U.len != n + p + 2) {
        return pv::fail(PyExc_ValueError,
                        "%s(): array 'U' must have exactly %zd elements (len(P) + p + 1), got %zd",
                        fname, n + p + 2, U.len);
    }
    return true;
}

// Clamped (p + 1 equal knots at each end), finite and non-decreasing: the
// knot vectors on which the span search and BasisFuns give every non-zero
// basis value that OneBasisFun gives, at every parameter of [U[0], U[m]].
bool band_knots(int p, int m, const double* U) {
    if (!cardo::KnotsSorted(m, U)) return false;
    return U[p] == U[0] && U[m - p] == U[m] && U[0] < U[m];
}

// The fixed control points: index and value (at most four).
struct Fixed {
    int count = 0;
    int idx[4];
    double val[4];
    void add(int i, double v) {
        idx[count] = i;
        val[count] = v;
        ++count;
    }
    void write(double* P) const {
        for (int q = 0; q < count; ++q) P[idx[q]] = val[q];
    }
};

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
    int col = -1, info = 0;
    cardo::BandLsqSolve(nfree, w, R, B, rank_rtol(K, nfree), col, info);
    return info == 0 ? 0 : (col >= 0 ? col + 1 : -info);
}

// The least-squares problem of the free control points first .. first +
// nfree - 1, row by row: each inner data point gives the row of its free
// basis values and its residual after the fixed control points. Rows with
// the same first column (the data points of one knot span) are gathered in
// blocks of at most BLOCK rows, each reduced into a band triangular factor
// (w = p + 1 entries per row) by cardo's BandLsqAddBlock; B receives Q^T R
// and then the solution.
struct BandFit {
    static constexpr int BLOCK = 128;
    int p, nfree, w;
    Work<double> R, work;  // work: left, right, N, row (p + 1 each), block, rhs
    BandFit(int p_, int nfree_)
        : p(p_),
          nfree(nfree_),
          w(p_ + 1),
          R(Py_ssize_t(p_ + 1) * (nfree_ > 0 ? nfree_ : 1)),
          work(4 * (Py_ssize_t(p_) + 1) + (2 * Py_ssize_t(p_) + 2) * BLOCK) {}
    bool ok() const { return R.ok() && work.ok(); }

    // Forms and solves the problem from the inner data points; the status
    // of solve_factor. B[0 .. nfree - 1] receives the solution.
    int run(int n, const double* U, const double* x, const double* f, int K, int first,
            const Fixed& fx, double* B) {
        const int m = n + p + 1;
        double* left = work.data();
        double* right = left + w;
        double* N = right + w;
        double* row = N + w;
        double* blk = row + w;               // (2w - 1) columns of BLOCK rows
        double* rhs = blk + (2 * w - 1) * BLOCK;
        cardo::BandLsqInit(nfree, w, R.data(), B);
        if (nfree == 0) return 0;  // every control point is fixed
        int nr = 0, bcol = -1, info = 0;
        const auto flush = [&]() {
            if (nr > 0) cardo::BandLsqAddBlock(nfree, w, R.data(), B, bcol, nr, BLOCK, blk, rhs, row, info);
            nr = 0;
            return info == 0;
        };
        const double lo = U[0], hi_ = U[m], tol = cardo::scale_tol(lo, hi_);
        int span = p;
        for (int k = 1; k <= K; ++k) {
            const double u = x[k];
            // Outside the knot domain (beyond the tolerance) every basis value
            // is zero: the point adds nothing.
            if (!(u >= lo - tol && u <= hi_ + tol)) continue;
            span = cardo::FindSpanNext(n, p, u, U, span);
            cardo::BasisFuns(span, u, p, U, left, right, N);
            const int c0 = span - p;  // index of the control point of N[0]
            double r = f[k];
            for (int q = 0; q < fx.count; ++q) {
                const int j = fx.idx[q] - c0;
                if (j >= 0 && j <= p) r = r - fx.val[q] * N[j];
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
        return solve_factor(nfree, w, R.data(), B, K);
    }
};

// The same problem when the span search does not apply: every basis value by
// OneBasisFun, each row rotated into a dense triangular factor (w = nfree).
struct DenseFit {
    int K;      // inner data points
    int nfree;  // free control points
    Work<double> basis, row, R;
    DenseFit(int p, int K_, int nfree_)
        : K(K_),
          nfree(nfree_),
          basis(Py_ssize_t(p) + 1),
          row(nfree_ > 0 ? nfree_ : 1),
          R(Py_ssize_t(nfree_ > 0 ? nfree_ : 1) * (nfree_ > 0 ? nfree_ : 1)) {}
    bool ok() const { return basis.ok() && row.ok() && R.ok(); }

    double basis_at(int p, int m, const double* U, int i, double u) const {
        double v = 0.0;
        cardo::OneBasisFun(p, m, U, i, u, basis.data(), v);
        return v;
    }
    int run(int p, int m, const double* U, const double* x, const double* f, int first,
            const Fixed& fx, double* B) {
        cardo::BandLsqInit(nfree, nfree, R.data(), B);
        if (nfree == 0) return 0;  // every control point is fixed
        double* rw = row.data();
        for (int k = 1; k <= K; ++k) {
            double r = f[k];
            for (int q = 0; q < fx.count; ++q) r = r - fx.val[q] * basis_at(p, m, U, fx.idx[q], x[k]);
            int c0 = -1;
            for (int c = 0; c < nfree; ++c) {
                const double v = basis_at(p, m, U, first + c, x[k]);
                if (c0 < 0 && v != 0.0) c0 = c;
                if (c0 >= 0) rw[c - c0] = v;
            }
            if (c0 < 0) continue;  // no free basis function at this point
            for (int c = nfree - c0; c < nfree; ++c) rw[c] = 0.0;
            int info = 0;
            cardo::BandLsqAddRow(nfree, nfree, R.data(), B, c0, rw, r, info);
            if (info) return -1;
        }
        return solve_factor(nfree, nfree, R.data(), B, K);
    }
};

// Writes the fixed control points of fx into P and fits the free ones,
// first .. n - first, with the interpreter lock released; raises and returns
// false on failure.
bool fit_free(int p, int n, DArr xp, DArr fp, DArr U, DArr P, int first, const Fixed& fx) {
    const int m = hi(U), mi = hi(xp), K = mi - 1, nfree = n + 1 - 2 * first;
    const double* x = xp.data;
    const double* f = fp.data;
    int info = 0;
    if (band_knots(p, m, U.data)) {
        BandFit ls(p, nfree);
        if (!ls.ok()) return false;
        pv::NoGil nogil;
        fx.write(P.data);
        info = ls.run(n, U.data, x, f, K, first, fx, P.data + first);
    } else {
        DenseFit ls(p, K, nfree);
        if (!ls.ok()) return false;
        pv::NoGil nogil;
        fx.write(P.data);
        info = ls.run(p, m, U.data, x, f, first, fx, P.data + first);
    }
    return lapack_check(info);
}

}  // namespace

void gcsplapp(DArr xp, DArr fp, int p, DArr U, DArr P) {
    if (!pv::distinct("gcsplapp", {{"P", P}}, {{"xp", xp}, {"fp", fp}, {"U", U}})) return;
    static const char F[] = "gcsplapp";
    const Py_ssize_t n = P.len - 1, mm = xp.len - 1;
    if (!lsq_asserts(xp, fp, p, n, mm) || !lsq_sound(F, xp, fp, p, U, P, 1)) return;
    const int nn = static_cast<int>(n), mi = static_cast<int>(mm);
    Fixed fx;
    fx.add(0, fp.data[0]);
    fx.add(nn, fp.data[mi]);
    fit_free(p, nn, xp, fp, U, P, 1, fx);
}

void gdsplapp(DArr xp, DArr fp, int p, DArr U, DArr P, const OptDy* opt) {
    if (!pv::distinct("gdsplapp", {{"P", P}}, {{"xp", xp}, {"fp", fp}, {"U", U}})) return;
    static const char F[] = "gdsplapp";
    const Py_ssize_t n = P.len - 1, mm = xp.len - 1;
    if (!lsq_asserts(xp, fp, p, n, mm) || !assert_check(n >= 3, "n must be greater than or equal to 3") ||
        !lsq_sound(F, xp, fp, p, U, P, 3)) {
        return;
    }
    double dy[2];
    opt_dy(opt, dy);
    const int nn = static_cast<int>(n), mi = static_cast<int>(mm);
    const double* x = xp.data;
    const double* f = fp.data;
    const double* u = U.data;
    Fixed fx;
    fx.add(0, f[0]);
    fx.add(1, (u[p + 1] - x[0]) * dy[0] / p + f[0]);
    fx.add(nn - 1, f[mi] - (x[mi] - u[nn]) * dy[1] / p);
    fx.add(nn, f[mi]);
    fit_free(p, nn, xp, fp, U, P, 2, fx);
}

}  // namespace arcus

namespace {

#define NURBS_BOOK "L. Piegl, W. Tiller, The NURBS Book, 2nd ed., Springer, 1997"
#define GOLUB \
    "G. H. Golub, C. F. Van Loan, Matrix Computations, 4th ed., Johns Hopkins\n" \
    "University Press, 2013, sec. 5.1.8 and 5.3 (Givens QR, least squares).\n"

const char* const gcsplapp_args[] = {"gcsplapp", "xp", "fp", "p", "U", "P", nullptr};
const char gcsplapp_doc[] =
    "gcsplapp(xp, fp, p, U, P)\n--\n\n"
    "Least squares curve approximation.\n\n"
    "B-spline of degree p with n + 1 = len(P) control points that passes through\n"
    "the first and the last data point and approximates the others in the\n"
    "least-squares sense.\n\n"
    "Parameters\n----------\n"
    "xp : ndarray of float64\n    Parameters of the data points, increasing.\n"
    "fp : ndarray of float64\n    Ordinates of the data points, len(xp) values.\n"
    "p : int\n    Degree, p >= 1.\n"
    "U : ndarray of float64\n"
    "    Clamped knot vector of len(P) + p + 1 knots whose ends are xp[0] and xp[-1]\n"
    "    (e.g. from `kevalappr`).\n"
    "P : ndarray of float64\n    Output; its length fixes the number of control points,\n"
    "    fewer than the data points.\n\n"
    "Returns\n-------\nNone\n\n"
    "Notes\n-----\n"
    "P[0] = fp[0] and P[n] = fp[-1]; the n - 1 inner control points minimise\n"
    "||N P - R|| by an orthogonal factorisation (Householder, Givens), which keeps\n"
    "the accuracy that the normal equations lose (they square the condition\n"
    "number). On a clamped knot vector only the p + 1 non-zero basis values of\n"
    "each data point are used and the factor is kept in band storage (time\n"
    "O(len(xp) p^2), memory O(n p)); other knot vectors take a dense factor.\n"
    "AssertionError \"xp and fp must have same dimension\", \"p must be greater than\n"
    "or equal to 1\", \"n must be greater than or equal to p\", \"the number of points\n"
    "to be approximated must be greater than the number of control points\" (not\n"
    "checked under python -O). ValueError for a U of other than len(P) + p + 1\n"
    "knots (and, under -O, for p < 1, fewer than 2 control points or 3 data\n"
    "points). Exception \"'dgesv' LAPACK function failed with 'info' value: ...\"\n"
    "when the system is rank deficient, e.g. when a free control point has no\n"
    "data parameter in its support: a diagonal entry of the triangular factor\n"
    "at most max(len(xp), n) * eps times the largest one (the condition number\n"
    "is then at least its reciprocal); the value is the 1-based index of the\n"
    "first such free control point.\n"
    "The numeric work runs with the interpreter lock released.\n\n"
    "References\n----------\n" NURBS_BOOK ", sec. 9.4.1, pp. 410-413.\n" GOLUB;

const char* const gdsplapp_args[] = {"gdsplapp", "xp", "fp", "p", "U", "P", "dy", nullptr};
const char gdsplapp_doc[] =
    "gdsplapp(xp, fp, p, U, P, dy=(0.0, 0.0))\n--\n\n"
    "Least squares curve approximation with fixed endpoint derivatives.\n\n"
    "B-spline of degree p with n + 1 = len(P) control points that passes through\n"
    "the first and the last data point with the given end slopes and\n"
    "approximates the others in the least-squares sense.\n\n"
    "Parameters\n----------\n"
    "xp : ndarray of float64\n    Parameters of the data points, increasing.\n"
    "fp : ndarray of float64\n    Ordinates of the data points, len(xp) values.\n"
    "p : int\n    Degree, p >= 1.\n"
    "U : ndarray of float64\n"
    "    Clamped knot vector of len(P) + p + 1 knots whose ends are xp[0] and xp[-1]\n"
    "    (e.g. from `kevalappr`).\n"
    "P : ndarray of float64\n    Output; at least four control points, fewer than the\n"
    "    data points.\n"
    "dy : tuple of two floats, optional\n"
    "    Slope at the first and at the last data point; default (0.0, 0.0).\n\n"
    "Returns\n-------\nNone\n\n"
    "Notes\n-----\n"
    "P[0], P[1], P[n-1], P[n] are fixed by the end values and slopes; the n - 3\n"
    "inner control points are fitted by the orthogonal factorisation of\n"
    "`gcsplapp`.\n"
    "AssertionError with the messages of `gcsplapp` and \"n must be greater than or\n"
    "equal to 3\" (not checked under python -O). ValueError for a U of other than\n"
    "len(P) + p + 1 knots (and, under -O, for p < 1, fewer than 4 control points\n"
    "or 3 data points). Exception \"'dgesv' LAPACK function failed with 'info'\n"
    "value: ...\" when the system is rank deficient, by the test of `gcsplapp`.\n"
    "The numeric work runs with the interpreter lock released.\n\n"
    "References\n----------\n" NURBS_BOOK ", sec. 9.4.1, pp. 410-413.\n" GOLUB;

const PyMethodDef METHODS[] = {
    ARCUS_METHOD(gcsplapp), ARCUS_METHOD(gdsplapp), ARCUS_METHODS_END,
};

const pv::CEntry ENTRIES[] = {
    ARCUS_ENTRY(gcsplapp), ARCUS_ENTRY(gdsplapp), ARCUS_ENTRIES_END,
};

}  // namespace

const arcus::Family arcus::family_approx = {METHODS, ENTRIES};
