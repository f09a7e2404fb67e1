// Knot removal: one knot value with and without tolerance, every removable
// interior knot, and the error bound of one removal.
#include "arcus/arcus.hpp"
#include "arcus/cardo/cardo.h"

namespace arcus {

// Last index r and multiplicity s of the knot u, found only once the kernel's
// checks on p, n and U would pass (otherwise the kernel reports them first).
static bool knot_run(const char* fname, DArr U, int n, int p, double u, int& r, int& s) {
    r = s = 0;
    if (!knots_cover(fname, "U", U, n, p)) return false;
    if (cardo::CheckCurve(n, p, U.data) == cardo::OK) cardo::FindSpanMult(n, p, u, U.data, r, s);
    return true;
}

int splkrem(DArr U, DArr P, int p, double u, int num, const OptTol* opt) {
    if (!pv::distinct("splkrem", {{"U", U}, {"P", P}}, {})) return 0;
    const int n = hi(P);
    int r, s;
    if (!knot_run("splkrem", U, n, p, u, r, s)) return 0;
    int t = 0, info;
    cardo::RemoveCurveKnot(n, p, U.data, P.data, u, r, s, num, opt_tol(opt), t, info);
    if (!check_info(info)) return 0;
    return t;
}

int splkrem_notol(DArr U, DArr P, int p, double u, int num) {
    if (!pv::distinct("splkrem_notol", {{"U", U}, {"P", P}}, {})) return 0;
    const int n = hi(P);
    int r, s;
    if (!knot_run("splkrem_notol", U, n, p, u, r, s)) return 0;
    int t = 0, info;
    cardo::RemoveCurveKnotWithoutTol(n, p, U.data, P.data, u, r, s, num, t, info);
    if (!check_info(info)) return 0;
    return t;
}

int splksrem(DArr U, DArr P, int p, const OptTol* opt) {
    if (!pv::distinct("splksrem", {{"U", U}, {"P", P}}, {})) return 0;
    const int n = hi(P);
    if (!knots_cover("splksrem", "U", U, n, p)) return 0;
    int nrem = 0, info;
    cardo::RemoveCurveKnots(n, p, U.data, P.data, opt_tol(opt), nrem, info);
    if (!check_info(info)) return 0;
    return nrem;
}

double getbndrem(DArr U, DArr P, int p, double u) {
    const int n = hi(P);
    // The trial reads P[r-p-1 .. r-s+1] and temp[0 .. p-s+2]: only the
    // checks that keep it inside its arrays (the codes of RemoveCurveKnot).
    // The length of U is checked once p and n pass.
    if (!knots_cover("getbndrem", "U", U, n, p)) return 0.0;
    int r = 0, s = 0;
    if (cardo::CheckCurveSizes(n, p) == cardo::OK) cardo::FindSpanMult(n, p, u, U.data, r, s);
    if (!check_info(cardo::GetRemovalBndCurveCheck(n, p, r, s))) return 0.0;
    Work<double> temp(2 * Py_ssize_t(p) + 3);
    if (!temp.ok()) return 0.0;
    double Br = 0.0;
    cardo::GetRemovalBndCurve(n, p, U.data, P.data, u, r, s, temp.data(), Br);
    return Br;
}

}  // namespace arcus

namespace {

#define REMOVAL_REF                                                                          \
    NURBS_BOOK ", sec. 5.4, A5.8.\n"

#define REMOVAL_CODES                                                                        \
    "A nonzero status raises ValueError \"the algorithm failed with 'info'\n"               \
    "value: \" followed by the code: -2 p < 0, -1 n < p, -3 invalid knot vector,\n"          \
    "-5 u outside [U[0], U[m]], -7 u is not a removable interior knot (not a knot,\n"       \
    "more than p + 1 copies, or the start or end knot), -8 num <= 0 or num greater\n"       \
    "than the multiplicity of u, -9 tol < 0; MemoryError when the work storage\n"           \
    "cannot be allocated. U and P are then unchanged.\n"

ARCUS_FUNCTION(splkrem, "RemoveCurveKnot", 21, 26, ("U", "P", "p", "u", "num", "tol"),
    "Wrapper for 'RemoveCurveKnot' function of cardo C-library. It returns the\n"
    "number of times the knot u has been removed; every removal changes the curve\n"
    "by less than `tol` on the whole domain.\n\n"
    "Parameters\n----------\n"
    "U : ndarray of float64\n    Clamped knot vector, n + p + 2 knots; overwritten.\n"
    "P : ndarray of float64\n    Control points, n + 1 values; overwritten.\n"
    "p : int\n    Degree.\n"
    "u : float\n    Knot to remove.\n"
    "num : int\n    Number of removals to try, 1 <= num <= multiplicity of u.\n"
    "tol : float, optional\n    Tolerance of one removal (default 1e-11).\n\n"
    "Returns\n-------\n"
    "int\n    t, the number of removals made (0 when even the first one would change\n"
    "    the curve by more than `tol`).\n\n"
    "Notes\n-----\n"
    "U and P are overwritten: the new spline occupies U[:len(U) - t] and\n"
    "P[:len(P) - t], the last t entries keep stale values. Make a copy of U and P\n"
    "beforehand when the input is still needed.\n\n" REMOVAL_CODES "\n"
    "References\n----------\n" REMOVAL_REF);

ARCUS_FUNCTION(splksrem, "RemoveCurveKnots", 22, 27, ("U", "P", "p", "tol"),
    "Wrapper for 'RemoveCurveKnots' function of cardo C-library.\n\n"
    "Removes, for each distinct interior knot in increasing order, as many of its\n"
    "copies as can go while every removal changes the curve by less than `tol`.\n\n"
    "Parameters\n----------\n"
    "U : ndarray of float64\n    Clamped knot vector, n + p + 2 knots; overwritten.\n"
    "P : ndarray of float64\n    Control points, n + 1 values; overwritten.\n"
    "p : int\n    Degree.\n"
    "tol : float, optional\n    Tolerance of one removal (default 1e-11).\n\n"
    "Returns\n-------\n"
    "int\n    Number of knots removed.\n\n"
    "Notes\n-----\n"
    "U and P are overwritten: with nrem knots removed the new spline occupies\n"
    "U[:len(U) - nrem] and P[:len(P) - nrem]. Make a copy of U and P beforehand\n"
    "when the input is still needed. A knot repeated more than p + 1 times is\n"
    "left as it is.\n\n"
    "A nonzero status raises ValueError \"the algorithm failed with 'info'\n"
    "value: \" followed by the code: -2 p < 0, -1 n < p, -3 invalid knot vector,\n"
    "-5 tol < 0 or NaN; MemoryError when the work storage cannot be allocated.\n"
    "U and P are then unchanged.\n\n"
    "References\n----------\n" REMOVAL_REF);

ARCUS_FUNCTION(splkrem_notol, "RemoveCurveKnotWithoutTol", 23, 28, ("U", "P", "p", "u", "num"),
    "Wrapper for 'RemoveCurveKnotWithoutTol' function of cardo C-library.\n\n"
    "Removes the knot u num times whatever the change of the curve (`splkrem` with\n"
    "an infinite tolerance).\n\n"
    "Parameters\n----------\n"
    "U : ndarray of float64\n    Clamped knot vector, n + p + 2 knots; overwritten.\n"
    "P : ndarray of float64\n    Control points, n + 1 values; overwritten.\n"
    "p : int\n    Degree.\n"
    "u : float\n    Knot to remove.\n"
    "num : int\n    Number of removals, 1 <= num <= multiplicity of u.\n\n"
    "Returns\n-------\n"
    "int\n    The number of removals made: num, or fewer only when a deviation is not\n"
    "    finite (NaN, or infinite where u and an end knot together have more than\n"
    "    p + 1 copies).\n\n"
    "Notes\n-----\n"
    "U and P are overwritten as by `splkrem`; make a copy beforehand when the\n"
    "input is still needed.\n\n" REMOVAL_CODES "\n"
    "References\n----------\n" REMOVAL_REF);

ARCUS_FUNCTION(getbndrem, "GetRemovalBndCurve", 24, 29, ("U", "P", "p", "u"),
    "Wrapper for 'GetRemovalBndCurve' function of cardo C-library.\n\n"
    "Bound of the change of the curve by one removal of the knot u.\n\n"
    "Parameters\n----------\n"
    "U : ndarray of float64\n    Clamped knot vector, n + p + 2 knots.\n"
    "P : ndarray of float64\n    Control points, n + 1 values.\n"
    "p : int\n    Degree.\n"
    "u : float\n    Knot.\n\n"
    "Returns\n-------\n"
    "float\n    Br: `splkrem(U, P, p, u, 1, tol)` removes u exactly when Br <= tol.\n\n"
    "Notes\n-----\n"
    "U and P are not changed. For a u that is not a knot the result has no\n"
    "meaning. ValueError \"the algorithm failed with 'info' value: \" followed by\n"
    "-2 for p < 0, -1 for n < p, -7 when the trial would need a control point\n"
    "before P[0] or after P[n] (the start and end knots, u in the first or last\n"
    "span) or u has more than p + 1 copies.\n\n"
    "References\n----------\n" REMOVAL_REF);

}  // namespace
