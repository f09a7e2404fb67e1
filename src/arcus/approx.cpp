// Least-squares approximation: a B-spline with fewer control points than
// data points, through the first and last point (and, in gdsplapp, with the
// end slopes fixed), the other control points fitted in the least-squares
// sense by cardo's CurveLsqFit (an orthogonal factorisation, never the
// normal equations, whose condition number is the square of the problem's).
// A rank-deficient system is reported as LAPACK's dgesv reports a singular
// matrix, with the 1-based index of the first such free control point.
#include "arcus/arcus.hpp"
#include "arcus/cardo/cardo.h"

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
};

// Writes the fixed control points of fx into P and fits the free ones,
// first .. n - first, with the interpreter lock released; raises and returns
// false on failure.
bool fit_free(int p, int n, DArr xp, DArr fp, DArr U, DArr P, int first, const Fixed& fx) {
    const int m = hi(U), mi = hi(xp), nfree = n + 1 - 2 * first;
    const bool banded = cardo::CurveLsqBanded(p, m, U.data);
    Work<double> work(cardo::CurveLsqWorkLen(p, nfree, banded));
    if (!work.ok()) return false;
    int info = 0;
    {
        pv::NoGil nogil;
        cardo::CurveLsqFit(n, p, U.data, mi, xp.data, fp.data, first, fx.count, fx.idx, fx.val,
                           banded, work.data(), P.data, info);
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

#define GOLUB \
    "G. H. Golub, C. F. Van Loan, Matrix Computations, 4th ed., Johns Hopkins\n" \
    "University Press, 2013, sec. 5.1.8 and 5.3 (Givens QR, least squares).\n"

ARCUS_FUNCTION(gcsplapp, "-", 35, 10, ("xp", "fp", "p", "U", "P"),
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
    "References\n----------\n" NURBS_BOOK ", sec. 9.4.1, pp. 410-413.\n" GOLUB);

ARCUS_FUNCTION(gdsplapp, "-", 36, 11, ("xp", "fp", "p", "U", "P", "dy"),
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
    "References\n----------\n" NURBS_BOOK ", sec. 9.4.1, pp. 410-413.\n" GOLUB);

}  // namespace
