// Knot vectors and spans: validation, knot placement, control-point
// parameters, span search and the knot vector of a degree elevation.
#include "arcus/arcus.hpp"
#include "arcus/cardo/cardo.h"

namespace arcus {

int validknots(int p, DArr U) {
    // Too short for a clamped vector of degree p (or a negative degree):
    // invalid, without reading past the end.
    if (p < 0 || U.len < 2 * (static_cast<Py_ssize_t>(p) + 1)) return 1;
    return cardo::ValidKnotVector(static_cast<int>(U.len) - p - 2, p, U.data);
}

// Checks shared by the knot-placement functions: p >= 0, at least one
// parameter value and an output of `need` knots.
static bool placement_args(const char* fname, DArr xp, int p, DArr U, Py_ssize_t need) {
    return need_nonneg(fname, "p", p) && pv::need_len(fname, "xp", xp.len, 1) &&
           pv::need_len(fname, "U", U.len, need);
}

void eqspaced(DArr xp, int p, DArr U) {
    if (!pv::distinct("eqspaced", {{"U", U}}, {{"xp", xp}})) return;
    const int n = hi(xp);
    if (!placement_args("eqspaced", xp, p, U, Py_ssize_t(n) + p + 2)) return;
    cardo::EquallySpaced(n, xp.data, p, U.data);
}

void averaging(DArr xp, int p, DArr U) {
    if (!pv::distinct("averaging", {{"U", U}}, {{"xp", xp}})) return;
    const int n = hi(xp);
    if (!placement_args("averaging", xp, p, U, Py_ssize_t(n) + p + 2)) return;
    cardo::AveragingAlg1(n, xp.data, p, U.data);
}

void averaging2(DArr xp, int p, DArr U) {
    if (!pv::distinct("averaging2", {{"U", U}}, {{"xp", xp}})) return;
    const int n = hi(xp);
    if (!placement_args("averaging2", xp, p, U, Py_ssize_t(n) + p + 4)) return;
    cardo::AveragingAlg2(n, xp.data, p, U.data);
}

void averaging3(DArr xp, int p, int k, int l, DArr U) {
    if (!pv::distinct("averaging3", {{"U", U}}, {{"xp", xp}})) return;
    const int n = hi(xp);
    if (!need_nonneg("averaging3", "k", k) || !need_nonneg("averaging3", "l", l)) return;
    if (!placement_args("averaging3", xp, p, U, Py_ssize_t(n) + k + l + p + 2)) return;
    cardo::AveragingAlg3(n, xp.data, p, k, l, U.data);
}

void kevalappr(DArr xp, int p, DArr U) {
    if (!pv::distinct("kevalappr", {{"U", U}}, {{"xp", xp}})) return;
    const int m = hi(xp);
    if (!placement_args("kevalappr", xp, p, U, Py_ssize_t(p) + 1)) return;
    const int n = static_cast<int>(U.len) - p - 2;
    // The rule interpolates between data parameters; with more control
    // points than data points it would read before xp[0].
    if (n - p >= 1 && n - p > m) {
        pv::fail(PyExc_ValueError,
                 "kevalappr(): U of %zd knots asks for %d control points, more than the %zd data "
                 "points",
                 U.len, n + 1, xp.len);
        return;
    }
    cardo::KnotEvalL2Approx(m, xp.data, p, n, U.data);
}

void averagcpts(DArr U, int p, DArr C) {
    if (!pv::distinct("averagcpts", {{"C", C}}, {{"U", U}})) return;
    const int n = hi(C);
    if (!knots_cover("averagcpts", "U", U, n, p)) return;
    int info;
    cardo::AveragingCpts(n, p, U.data, C.data, info);
    check_info(info);
}

// The checks of findspan and findspanmult before the search.
static bool span_args(int p, DArr U) {
    return check_info(cardo::FindSpanCheck(hi(U), p, U.data));
}

int findspan(int p, double u, DArr U) {
    if (!span_args(p, U)) return -1;
    return cardo::FindSpan(static_cast<int>(U.len) - p - 2, p, u, U.data);
}

IPair findspanmult(int p, double u, DArr U) {
    IPair r{-1, -1};
    if (!span_args(p, U)) return r;
    cardo::FindSpanMult(static_cast<int>(U.len) - p - 2, p, u, U.data, r.first, r.second);
    return r;
}

void knotsdegelev(DArr U, int p, DArr Uh) {
    if (!pv::distinct("knotsdegelev", {{"Uh", Uh}}, {{"U", U}})) return;
    if (!need_nonneg("knotsdegelev", "p", p) || !pv::need_len("knotsdegelev", "U", U.len, 1) ||
        !pv::need_len("knotsdegelev", "Uh", Uh.len, Py_ssize_t(p) + 2)) {
        return;
    }
    cardo::IncreaseMultByOne(hi(U), p, U.data, hi(Uh), Uh.data);
}

int distintknots(DArr U, int p) {
    if (!need_nonneg("distintknots", "p", p)) return 0;
    return cardo::DistinctKnots(U.len, p, U.data);
}

}  // namespace arcus

namespace {

ARCUS_PREDICATE(validknots, "ValidKnotVector", 0, 0, ("p", "U"),
    "Wrapper for 'ValidKnotVector' function of cardo C-library.\n\n"
    "Check a clamped knot vector of degree p.\n\n"
    "Parameters\n----------\n"
    "p : int\n    Degree.\n"
    "U : ndarray of float64\n    Knot vector, m + 1 knots.\n\n"
    "Returns\n-------\n"
    "bool\n    0 if check passed, 1 otherwise: False for a valid knot vector, True otherwise.\n\n"
    "Notes\n-----\n"
    "The first p + 1 knots must be equal, the knots non-decreasing and the last\n"
    "p + 1 knots equal, all within the knot tolerance\n"
    "max(1e-9 * max(|a|, |b|), 1e-13). A vector of fewer than 2(p + 1) knots, or a\n"
    "negative p, is reported invalid.\n\n"
    "References\n----------\n"
    NURBS_BOOK ", ch. 2.\n");

ARCUS_FUNCTION(eqspaced, "EquallySpaced", 1, 1, ("xp", "p", "U"),
    "Wrapper for 'EquallySpaced' function of cardo C-library.\n\n"
    "Clamped knot vector with equally spaced interior knots.\n\n"
    "Parameters\n----------\n"
    "xp : ndarray of float64\n    Parameter values u[0..n]; only the first and last are read.\n"
    "p : int\n    Degree.\n"
    "U : ndarray of float64\n    Output, n + p + 2 knots.\n\n"
    "Returns\n-------\nNone\n\n"
    "Notes\n-----\n"
    "U[0..p] = u[0], U[n+1..n+p+1] = u[n], U[p+j] = j (u[n] - u[0]) / (n - p + 1) + u[0].\n"
    "ValueError for p < 0, an empty xp or a U shorter than n + p + 2.\n\n"
    "References\n----------\n"
    NURBS_BOOK ", eq. 9.8.\n");

ARCUS_FUNCTION(averaging, "AveragingAlg1", 2, 2, ("xp", "p", "U"),
    "Wrapper for 'AveragingAlg1' function of cardo C-library.\n\n"
    "Clamped knot vector by averaging the parameter values.\n\n"
    "Parameters\n----------\n"
    "xp : ndarray of float64\n    Parameter values u[0..n], increasing.\n"
    "p : int\n    Degree.\n"
    "U : ndarray of float64\n    Output, n + p + 2 knots.\n\n"
    "Returns\n-------\nNone\n\n"
    "Notes\n-----\n"
    "U[p+j] = (u[j] + ... + u[j+p-1]) / p for j = 1..n-p; the suitable knots for\n"
    "`gcsplint`. ValueError for p < 0, an empty xp or a short U.\n\n"
    "References\n----------\n"
    NURBS_BOOK ", eq. 9.8.\n");

ARCUS_FUNCTION(averaging2, "AveragingAlg2", 3, 3, ("xp", "p", "U"),
    "Wrapper for 'AveragingAlg2' function of cardo C-library.\n\n"
    "Knot vector for interpolation with both end derivatives given.\n\n"
    "Parameters\n----------\n"
    "xp : ndarray of float64\n    Parameter values u[0..n], increasing.\n"
    "p : int\n    Degree.\n"
    "U : ndarray of float64\n    Output, n + p + 4 knots (two more control points than data).\n\n"
    "Returns\n-------\nNone\n\n"
    "Notes\n-----\n"
    "U[p+1+i] = (u[i] + ... + u[i+p-1]) / p for i = 0..n-p+1; the suitable knots for\n"
    "`gdsplint`. ValueError for p < 0, an empty xp or a short U.\n\n"
    "References\n----------\n"
    NURBS_BOOK ", sec. 9.2.2.\n");

ARCUS_FUNCTION(averaging3, "AveragingAlg3", 4, 4, ("xp", "p", "k", "l", "U"),
    "Wrapper for 'AveragingAlg3' function of cardo C-library.\n\n"
    "Knot vector for k derivative constraints at the start and l at the end.\n\n"
    "Parameters\n----------\n"
    "xp : ndarray of float64\n    Parameter values u[0..n], increasing.\n"
    "p : int\n    Degree.\n"
    "k : int\n    Number of derivatives prescribed at the start.\n"
    "l : int\n    Number of derivatives prescribed at the end.\n"
    "U : ndarray of float64\n    Output, n + k + l + p + 2 knots.\n\n"
    "Returns\n-------\nNone\n\n"
    "Notes\n-----\n"
    "Each interior knot is the mean of a window of at most p parameter values; the\n"
    "suitable knots for `gadsplint` with k = len(Ds), l = len(De). ValueError for a\n"
    "negative p, k or l, an empty xp or a short U.\n\n"
    "References\n----------\n"
    "L. Piegl, W. Tiller, Curve Interpolation with Arbitrary End Derivatives,\n"
    "Engineering with Computers 16, 2000.\n");

ARCUS_FUNCTION(kevalappr, "KnotEvalL2Approx", 34, 6, ("xp", "p", "U"),
    "Wrapper for 'KnotEvalL2Approx' function of cardo C-library.\n\n"
    "Knot vector for least-squares approximation.\n\n"
    "Parameters\n----------\n"
    "xp : ndarray of float64\n    Data parameters u[0..m], increasing.\n"
    "p : int\n    Degree.\n"
    "U : ndarray of float64\n    Output; its length n + p + 2 fixes the number n + 1 of\n"
    "    control points of the approximation.\n\n"
    "Returns\n-------\nNone\n\n"
    "Notes\n-----\n"
    "With d = (m + 1) / (n - p + 1): U[p+j] = a u[i] + (1 - a) u[i-1], i = int(j d),\n"
    "a = j d - i. ValueError when U asks for more than len(xp) + p control points\n"
    "(the rule would then read before xp[0]).\n\n"
    "References\n----------\n"
    NURBS_BOOK ", eq. 9.68, 9.69.\n");

ARCUS_FUNCTION(averagcpts, "AveragingCpts", 5, 13, ("U", "p", "C"),
    "Wrapper for 'AveragingCpts' function of cardo C-library.\n\n"
    "Parameters of the control points (Greville abscissae).\n\n"
    "Parameters\n----------\n"
    "U : ndarray of float64\n    Knot vector, n + p + 2 knots.\n"
    "p : int\n    Degree.\n"
    "C : ndarray of float64\n    Output, n + 1 values: C[i] = (U[i+1] + ... + U[i+p]) / p.\n\n"
    "Returns\n-------\nNone\n\n"
    "Notes\n-----\n"
    "ValueError with info -2 for p < 0, -1 for n < p, -3 for an invalid knot\n"
    "vector; C is then unchanged. With p = 0 the quotient is 0/0.\n\n"
    "References\n----------\n"
    NURBS_BOOK ", eq. 9.8.\n");

ARCUS_FUNCTION(findspan, "FindSpan", 6, 14, ("p", "u", "U"),
    "Wrapper for 'FindSpan' function of cardo C-library.\n\n"
    "Knot span index of u.\n\n"
    "Parameters\n----------\n"
    "p : int\n    Degree.\n"
    "u : float\n    Parameter.\n"
    "U : ndarray of float64\n    Clamped knot vector.\n\n"
    "Returns\n-------\n"
    "int\n    The index i with U[i] - tol <= u <= U[i+1] - tol; n at the right end.\n\n"
    "Notes\n-----\n"
    "tol = 4 eps max(|U[p]|, |U[n+1]|) is the rounding of the knot vector's\n"
    "scale (eps the double epsilon), so a shifted or scaled time axis gives the\n"
    "same spans. ValueError with info -1 for p < 0 and -3 for an invalid knot vector. u is not\n"
    "checked against the domain: outside it the nearest end span is returned.\n\n"
    "References\n----------\n"
    NURBS_BOOK ", A2.1.\n");

ARCUS_FUNCTION(findspanmult, "FindSpanMult", 7, 15, ("p", "u", "U"),
    "Wrapper for 'FindSpanMult' function of cardo C-library.\n\n"
    "Knot span index of u and the multiplicity of u in U.\n\n"
    "Parameters\n----------\n"
    "p : int\n    Degree.\n"
    "u : float\n    Parameter.\n"
    "U : ndarray of float64\n    Clamped knot vector.\n\n"
    "Returns\n-------\n"
    "tuple of int\n    (span, mult): mult counts the knots equal to u at or below the span.\n\n"
    "Notes\n-----\n"
    "The checks of `findspan`. At the right end the span is n and mult is\n"
    "normally 0.\n\n"
    "References\n----------\n"
    NURBS_BOOK ", A2.1.\n");

ARCUS_FUNCTION(knotsdegelev, "IncreaseMultByOne", 37, 38, ("U", "p", "Uh"),
    "Wrapper for 'IncreaseMultByOne' function of cardo C-library.\n\n"
    "Knot vector of a degree elevation by one: every distinct knot gains a copy.\n\n"
    "Parameters\n----------\n"
    "U : ndarray of float64\n    Clamped knot vector, m + 1 knots.\n"
    "p : int\n    Degree.\n"
    "Uh : ndarray of float64\n    Output, len(U) + s + 2 knots, s the number of distinct\n"
    "    interior knots.\n\n"
    "Returns\n-------\nNone\n\n"
    "Notes\n-----\n"
    "The length of Uh is trusted: a wrong length gives a wrong vector, never a\n"
    "write or read outside the arrays.\n\n"
    "References\n----------\n"
    NURBS_BOOK ", sec. 5.5.\n");

ARCUS_C_ENTRY(distintknots, "DistinctKnots", arcus::NOT_LISTED, 5);

}  // namespace
