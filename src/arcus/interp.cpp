// Interpolation: global interpolation through point data (plain, with end
// slopes, with arbitrary end derivatives) and cubic C2 interpolation with end
// slopes. The wrappers check the arguments and raise the errors; the
// collocation systems are assembled and solved in the kernel, which is given
// LAPACK's band solver, and so are the knots and the tridiagonal system of the
// cubic interpolation.
#include "arcus/arcus.hpp"
#include "arcus/cardo/cardo.h"
#include "arcus/lapack.hpp"

#include <algorithm>
#include <string>

namespace arcus {

namespace {

// The degree that the band storage and the end rows need.
bool degree_at_least(const char* fname, int p, int least) {
    if (p >= least) return true;
    return pv::fail(PyExc_ValueError, "%s(): 'p' must be >= %d, got %d", fname, least, p);
}

bool enough_points(const char* fname, int p, Py_ssize_t have, Py_ssize_t need) {
    if (have >= need) return true;
    return pv::fail(PyExc_ValueError,
                    "%s(): %zd data points are too few for degree %d (at least %zd needed)", fname,
                    have, p, need);
}

// An array whose length is fixed by the others: too short is rejected by
// need_len, too long is inconsistent as well.
bool exact_len(const char* fname, const char* argname, Py_ssize_t have, Py_ssize_t need) {
    if (!pv::need_len(fname, argname, have, need)) return false;
    if (have == need) return true;
    return pv::fail(PyExc_ValueError, "%s(): array '%s' must have exactly %zd elements, got %zd",
                    fname, argname, need, have);
}

// The inner abscissae go through the span search: they must lie in the knot
// domain [U[p], U[nP+1]] (within the knot tolerance).
bool inner_in_domain(const char* fname, DArr xp, DArr U, int p, int nP) {
    const double lo = U.data[p], hi_ = U.data[nP + 1];
    const double tol = cardo::scale_tol(lo, hi_);
    for (Py_ssize_t i = 1; i + 1 < xp.len; ++i) {
        const double x = xp.data[i];
        if (!(x >= lo - tol && x <= hi_ + tol)) {
            return pv::fail(PyExc_ValueError, "%s(): xp[%zd] = %s lies outside the knot domain [%s, %s]",
                            fname, i, pv::double_text(x).c_str(), pv::double_text(lo).c_str(),
                            pv::double_text(hi_).c_str());
        }
    }
    return true;
}

// Raises the error of a global interpolation; false when one was raised.
bool colloc_result(const char* fname, int p, const cardo::CollocationFailure& fail, int info) {
    switch (info) {
    case cardo::OK: return true;
    case cardo::BAND_MISFIT:
        return pv::fail(PyExc_ValueError,
                        "%s(): the knot vector U does not fit the data: row %d of the collocation "
                        "matrix has a non-zero entry in column %d, outside its band of %d diagonals "
                        "on each side (p - 1)",
                        fname, fail.row, fail.col, p - 1);
    case cardo::SOLVER_FAILED: return lapack_check(fail.solver);
    default: return check_info(info);
    }
}

}  // namespace

void gcsplint(DArr xp, DArr fp, int p, DArr U, DArr P) {
    if (!pv::distinct("gcsplint", {{"P", P}}, {{"xp", xp}, {"fp", fp}, {"U", U}})) return;
    static const char F[] = "gcsplint";
    if (!assert_check(fp.len == xp.len, "xp and fp must have same dimension") ||
        !assert_check(P.len == xp.len, "P dimension must be: len(xp)") ||
        !assert_check(p > 1, "p must be greater than 1")) {
        return;
    }
    const Py_ssize_t n = xp.len - 1;
    if (!degree_at_least(F, p, 1) || !enough_points(F, p, xp.len, Py_ssize_t(p) + 1) ||
        !pv::need_len(F, "fp", fp.len, xp.len) || !pv::need_len(F, "P", P.len, xp.len) ||
        !exact_len(F, "U", U.len, n + p + 2) ||
        !inner_in_domain(F, xp, U, p, static_cast<int>(n))) {
        return;
    }
    cardo::CollocationFailure fail;
    int info = 0;
    {
        pv::NoGil nogil;
        cardo::GlobalCurveInterp(static_cast<int>(n), xp.data, fp.data, p, U.data, P.data,
                                 lapack::dgbsv, fail, info);
    }
    colloc_result(F, p, fail, info);
}

void gdsplint(DArr xp, DArr fp, int p, DArr U, DArr P, const OptDy* opt) {
    if (!pv::distinct("gdsplint", {{"P", P}}, {{"xp", xp}, {"fp", fp}, {"U", U}})) return;
    static const char F[] = "gdsplint";
    if (!assert_check(fp.len == xp.len, "xp and fp must have same dimension") ||
        !assert_check(P.len == xp.len + 2, "P dimension must be: len(xp) + 2") ||
        !assert_check(p > 1, "p must be greater than 1")) {
        return;
    }
    const Py_ssize_t n = xp.len - 1;
    if (!degree_at_least(F, p, 2) ||
        !enough_points(F, p, xp.len, std::max<Py_ssize_t>(2, Py_ssize_t(p) - 1)) ||
        !pv::need_len(F, "fp", fp.len, xp.len) || !pv::need_len(F, "P", P.len, n + 3) ||
        !exact_len(F, "U", U.len, n + p + 4) ||
        !inner_in_domain(F, xp, U, p, static_cast<int>(n) + 2)) {
        return;
    }
    double dy[2];
    opt_dy(opt, dy);
    cardo::CollocationFailure fail;
    int info = 0;
    {
        pv::NoGil nogil;
        cardo::GlobalCurveInterpSlopes(static_cast<int>(n), xp.data, fp.data, p, dy[0], dy[1],
                                       U.data, P.data, lapack::dgbsv, fail, info);
    }
    colloc_result(F, p, fail, info);
}

void gadsplint(DArr xp, DArr fp, int p, DArr Ds, DArr De, DArr U, DArr P) {
    if (!pv::distinct("gadsplint", {{"P", P}},
                      {{"xp", xp}, {"fp", fp}, {"Ds", Ds}, {"De", De}, {"U", U}})) {
        return;
    }
    static const char F[] = "gadsplint";
    const Py_ssize_t k = Ds.len, l = De.len, n = xp.len - 1, nP = n + k + l;
    if (!assert_check(fp.len == xp.len, "xp and fp must have same dimension") ||
        !assert_check(P.len == nP + 1, "P dimension must be: len(xp) + len(Ds) + len(De)") ||
        !assert_check(p >= 2, "p must be greater than 1") ||
        !assert_check(std::max(k, l) < p, "the maximum constrained derivative must be less than 'p'")) {
        return;
    }
    if (!degree_at_least(F, p, 2)) return;
    if (std::max(k, l) >= p) {
        pv::fail(PyExc_ValueError,
                 "%s(): at most p - 1 = %d derivatives can be prescribed at each end, got %zd",
                 F, p - 1, std::max(k, l));
        return;
    }
    if (!enough_points(F, p, xp.len, std::max<Py_ssize_t>(2, Py_ssize_t(p) + 1 - k - l)) ||
        !pv::need_len(F, "fp", fp.len, xp.len) || !pv::need_len(F, "P", P.len, nP + 1) ||
        !exact_len(F, "U", U.len, nP + p + 2) ||
        !inner_in_domain(F, xp, U, p, static_cast<int>(nP))) {
        return;
    }
    cardo::CollocationFailure fail;
    int info = 0;
    {
        pv::NoGil nogil;
        cardo::GlobalCurveInterpEndDerivs(static_cast<int>(n), xp.data, fp.data, p,
                                          static_cast<int>(k), Ds.data, static_cast<int>(l),
                                          De.data, U.data, P.data, lapack::dgbsv, fail, info);
    }
    colloc_result(F, p, fail, info);
}

void cdsplint(DArr xp, DArr fp, DArr U, DArr P, const OptDy* opt) {
    if (!pv::distinct("cdsplint", {{"U", U}, {"P", P}}, {{"xp", xp}, {"fp", fp}})) return;
    static const char F[] = "cdsplint";
    if (!assert_check(fp.len == xp.len, "xp and fp must have same dimension") ||
        !assert_check(P.len == xp.len + 2, "P dimension must be: len(xp) + 2")) {
        return;
    }
    const Py_ssize_t n = xp.len - 1;
    const int nn = static_cast<int>(n);
    if (!check_info(cardo::CubicCurveInterpCheck(nn))) return;
    if (!pv::need_len(F, "fp", fp.len, xp.len) || !pv::need_len(F, "P", P.len, n + 3) ||
        !exact_len(F, "U", U.len, n + 7)) {
        return;
    }
    double dy[2];
    opt_dy(opt, dy);
    int info = 0;
    {
        pv::NoGil nogil;
        cardo::CubicCurveInterp(nn, xp.data, fp.data, dy[0], dy[1], U.data, P.data, info);
    }
    check_info(info);
}

}  // namespace arcus

namespace {

ARCUS_FUNCTION(gcsplint, "-", 26, 7, ("xp", "fp", "p", "U", "P"),
    "Global Curve Spline Interpolation to point data\n\n"
    "B-spline of degree p through the points (xp[i], fp[i]), i = 0..n.\n\n"
    "Parameters\n----------\n"
    "xp : ndarray of float64\n    Abscissae (parameters) of the data points, increasing.\n"
    "fp : ndarray of float64\n    Ordinates of the data points, len(xp) values.\n"
    "p : int\n    Degree, p > 1.\n"
    "U : ndarray of float64\n    Clamped knot vector of n + p + 2 knots (e.g. from `averaging`).\n"
    "P : ndarray of float64\n    Output, the n + 1 control points.\n\n"
    "Returns\n-------\nNone\n\n"
    "Notes\n-----\n"
    "The first and last points sit at the ends of the clamped domain; every other\n"
    "row of the collocation matrix holds the p + 1 basis functions of its span.\n"
    "The matrix has p - 1 sub- and super-diagonals. Where every inner abscissa\n"
    "lies strictly inside the support of its basis function, U[i] < xp[i] <\n"
    "U[i+p+1], and the inner abscissae increase (the Schoenberg-Whitney\n"
    "conditions), the matrix is totally positive and is factored by band\n"
    "elimination without pivoting, row by row as it is built; otherwise, or\n"
    "when a pivot is not positive, it is stored in LAPACK band format and\n"
    "solved with 'dgbsv'.\n"
    "AssertionError \"xp and fp must have same dimension\", \"P dimension must be:\n"
    "len(xp)\", \"p must be greater than 1\" (not checked under python -O).\n"
    "ValueError for fewer than p + 1 points, a U of other than n + p + 2 knots, an\n"
    "inner abscissa outside the knot domain, or a knot vector whose collocation\n"
    "matrix does not fit the band; Exception \"'dgesv' LAPACK function failed with\n"
    "'info' value: ...\" when the solver fails.\n"
    "The numeric work runs with the interpreter lock released.\n\n"
    "References\n----------\n" NURBS_BOOK ", sec. 9.2.1.\n");

ARCUS_FUNCTION(gdsplint, "-", 27, 8, ("xp", "fp", "p", "U", "P", "dy"),
    "Global curve Interpolation with end Derivatives specified\n\n"
    "B-spline of degree p through the points (xp[i], fp[i]), i = 0..n, with the\n"
    "first derivative prescribed at both ends.\n\n"
    "Parameters\n----------\n"
    "xp : ndarray of float64\n    Abscissae of the data points, increasing (at least two).\n"
    "fp : ndarray of float64\n    Ordinates of the data points, len(xp) values.\n"
    "p : int\n    Degree, p > 1.\n"
    "U : ndarray of float64\n    Clamped knot vector of n + p + 4 knots (e.g. from `averaging2`).\n"
    "P : ndarray of float64\n    Output, the n + 3 control points.\n"
    "dy : tuple of two floats, optional\n"
    "    Slope at the first and at the last point; default (0.0, 0.0).\n\n"
    "Returns\n-------\nNone\n\n"
    "Notes\n-----\n"
    "Rows 1 and n + 1 of the system fix P[1] - P[0] and P[n+2] - P[n+1] from the\n"
    "slopes; the band matrix is solved with 'dgbsv'.\n"
    "AssertionError \"xp and fp must have same dimension\", \"P dimension must be:\n"
    "len(xp) + 2\", \"p must be greater than 1\" (not checked under python -O).\n"
    "ValueError for too few points, a U of other than n + p + 4 knots, an inner\n"
    "abscissa outside the knot domain or a collocation matrix outside the band;\n"
    "Exception \"'dgesv' LAPACK function failed with 'info' value: ...\" when the\n"
    "solver fails. The numeric work runs with the interpreter lock released.\n\n"
    "References\n----------\n" NURBS_BOOK ", sec. 9.2.2.\n");

ARCUS_FUNCTION(gadsplint, "-", 28, 12, ("xp", "fp", "p", "Ds", "De", "U", "P"),
    "Global cuve Iterpolation with Arbitrary End Derivatives\n\n"
    "B-spline of degree p through the points (xp[i], fp[i]), i = 0..n, with k =\n"
    "len(Ds) derivatives prescribed at the start and l = len(De) at the end.\n\n"
    "Parameters\n----------\n"
    "xp : ndarray of float64\n    Abscissae of the data points, increasing (at least two).\n"
    "fp : ndarray of float64\n    Ordinates of the data points, len(xp) values.\n"
    "p : int\n    Degree, p > 1.\n"
    "Ds : ndarray of float64\n    Derivatives at the start: Ds[0] first, Ds[1] second, ...\n"
    "De : ndarray of float64\n    Derivatives at the end, in the same order.\n"
    "U : ndarray of float64\n"
    "    Clamped knot vector of n + k + l + p + 2 knots (e.g. from `averaging3`).\n"
    "P : ndarray of float64\n    Output, the n + k + l + 1 control points.\n\n"
    "Returns\n-------\nNone\n\n"
    "Notes\n-----\n"
    "Fewer than p derivatives may be prescribed at each end; they enter the system\n"
    "as given. Without any (empty Ds and De) the system is that of `gcsplint`\n"
    "and is solved as there; otherwise the band matrix is solved with 'dgbsv'.\n"
    "AssertionError \"xp and fp must have same dimension\", \"P dimension must be:\n"
    "len(xp) + len(Ds) + len(De)\", \"p must be greater than 1\", \"the maximum\n"
    "constrained derivative must be less than 'p'\" (not checked under python -O).\n"
    "ValueError for too few points, a U of the wrong length, an inner abscissa\n"
    "outside the knot domain or a collocation matrix outside the band; Exception\n"
    "\"'dgesv' LAPACK function failed with 'info' value: ...\" when the solver\n"
    "fails. The numeric work runs with the interpreter lock released.\n\n"
    "References\n----------\n"
    "L. Piegl, W. Tiller, Curve Interpolation with Arbitrary End Derivatives,\n"
    "Engineering with Computers 16, 2000.\n");

ARCUS_FUNCTION(cdsplint, "SolveTridiagonal", 29, 9, ("xp", "fp", "U", "P", "dy"),
    "Wrapper for 'SolveTridiagonal' function of cardo C-library.\n\n"
    "Cubic C2 spline interpolation with end slopes: the interior knots are the\n"
    "interior abscissae.\n\n"
    "Parameters\n----------\n"
    "xp : ndarray of float64\n    Abscissae of the data points, increasing (at least four).\n"
    "fp : ndarray of float64\n    Ordinates of the data points, len(xp) values.\n"
    "U : ndarray of float64\n    Output, the n + 7 knots of the cubic spline.\n"
    "P : ndarray of float64\n    Output, the n + 3 control points.\n"
    "dy : tuple of two floats, optional\n"
    "    Slope at the first and at the last point; default (0.0, 0.0).\n\n"
    "Returns\n-------\nNone\n\n"
    "Notes\n-----\n"
    "U and the end control points P[0], P[1], P[n+1], P[n+2] are written first;\n"
    "the tridiagonal system for P[2..n] is solved in O(n).\n"
    "AssertionError \"xp and fp must have same dimension\", \"P dimension must be:\n"
    "len(xp) + 2\" (not checked under python -O). ValueError with info -1 for\n"
    "fewer than four points, -3 for decreasing abscissae, or for a U of other than\n"
    "n + 7 elements; ZeroDivisionError for repeated interior abscissae.\n"
    "The numeric work runs with the interpreter lock released.\n\n"
    "References\n----------\n" NURBS_BOOK ", sec. 9.2.3, A9.2.\n");

}  // namespace
