// Knot insertion and knot refinement.
#include "arcus/arcus.hpp"
#include "arcus/cardo/cardo.h"

namespace arcus {

void splkins(DArr UP, DArr P, int p, double u, int r, DArr UQ, DArr Q) {
    if (!pv::distinct("splkins", {{"UQ", UQ}, {"Q", Q}}, {{"UP", UP}, {"P", P}})) return;
    const int np = hi(P);
    if (!knots_cover("splkins", "UP", UP, np, p)) return;
    // The checks of CurveKnotIns in its order, with the knot vector scanned
    // once; the span and multiplicity of u come between its test and the others.
    if (!check_info(cardo::CheckCurve(np, p, UP.data))) return;
    int k = 0, s = 0;
    cardo::FindSpanMult(np, p, u, UP.data, k, s);
    // The span search places the right end in the last span, where no
    // knot is counted; its true multiplicity is p + 1, as at the left end.
    const double* U = UP.data;
    if (std::fabs(u - U[np + p + 1]) <= cardo::scale_tol(U[p], U[np + 1])) s = p + 1;
    // A u within rounding of a knot raises that knot's multiplicity: the
    // copies inserted are the knot itself, so the curve stays exactly the
    // same and equal knots stay equal.
    else if (s > 0 && s <= p) u = U[k];
    if (!check_info(cardo::CurveKnotInsCheckArgs(np, p, UP.data, u, k, s, r))) return;
    if (!pv::need_len("splkins", "UQ", UQ.len, Py_ssize_t(np) + p + 2 + r) ||
        !pv::need_len("splkins", "Q", Q.len, Py_ssize_t(np) + 1 + r)) {
        return;
    }
    int nq = 0;
    check_info(cardo::CurveKnotInsChecked(np, p, UP.data, P.data, u, k, s, r, nq, UQ.data, Q.data));
}

void splkref(DArr U, DArr P, int p, DArr X, DArr Ubar, DArr Q) {
    if (!pv::distinct("splkref", {{"Ubar", Ubar}, {"Q", Q}},
                      {{"U", U}, {"P", P}, {"X", X}})) {
        return;
    }
    const int n = hi(P);
    const int r = hi(X);
    if (!knots_cover("splkref", "U", U, n, p)) return;
    if (!check_info(cardo::RefineKnotVectCurveCheck(n, p, U.data, X.data, r))) return;
    if (!pv::need_len("splkref", "Ubar", Ubar.len, Py_ssize_t(n) + p + 2 + X.len) ||
        !pv::need_len("splkref", "Q", Q.len, P.len + X.len)) {
        return;
    }
    int info;
    cardo::RefineKnotVectCurve(n, p, U.data, P.data, X.data, r, Ubar.data, Q.data, info);
    check_info(info);
}

}  // namespace arcus

namespace {

ARCUS_FUNCTION(splkins, "CurveKnotIns", 19, 25, ("UP", "P", "p", "u", "r", "UQ", "Q"),
    "Wrapper for 'CurveKnotIns' function of cardo C-library. The knot vector\n"
    "UQ and the control points Q of the same curve with the knot u inserted r\n"
    "times.\n\n"
    "Parameters\n----------\n"
    "UP : ndarray of float64\n    Clamped knot vector, np + p + 2 knots.\n"
    "P : ndarray of float64\n    Control points, np + 1.\n"
    "p : int\n    Degree.\n"
    "u : float\n    Knot to insert, in [UP[0], UP[m]].\n"
    "r : int\n    Number of insertions, 1 <= r <= p - s with s the present\n"
    "    multiplicity of u.\n"
    "UQ : ndarray of float64\n    Output, len(UP) + r knots.\n"
    "Q : ndarray of float64\n    Output, len(P) + r control points.\n\n"
    "Returns\n-------\nNone\n\n"
    "Notes\n-----\n"
    "The span and the multiplicity of u are found with the rounding tolerance of\n"
    "`findspan`: a u within it of a knot inserts copies of that knot, a u that\n"
    "differs by more is a new knot. The\n"
    "end knots UP[0] and UP[m] have multiplicity p + 1 and cannot be inserted.\n"
    "ValueError with info -2 (p < 0), -1 (np < p), -3 (invalid UP), -5 (u outside\n"
    "the domain), -7 (multiplicity of u above p), -8 (r <= 0 or r + s > p);\n"
    "ValueError when UP, UQ or Q are too short. UQ and Q are then unchanged.\n\n"
    "References\n----------\n" NURBS_BOOK ", A5.1.\n");

ARCUS_FUNCTION(splkref, "RefineKnotVectCurve", 20, 33, ("U", "P", "p", "X", "Ubar", "Q"),
    "Wrapper for 'RefineKnotVectCurve' function of cardo C-library.\n\n"
    "Knot refinement: inserts all the knots of X in one pass, the curve unchanged.\n\n"
    "Parameters\n----------\n"
    "U : ndarray of float64\n    Clamped knot vector, n + p + 2 knots.\n"
    "P : ndarray of float64\n    Control points, n + 1.\n"
    "p : int\n    Degree.\n"
    "X : ndarray of float64\n    The new knots, in ascending order, each new knot repeated by\n"
    "    its multiplicity; all strictly inside (U[0], U[m]).\n"
    "Ubar : ndarray of float64\n    Output, len(U) + len(X) knots.\n"
    "Q : ndarray of float64\n    Output, len(P) + len(X) control points.\n\n"
    "Returns\n-------\nNone\n\n"
    "Notes\n-----\n"
    "ValueError with info -2 (p < 0), -1 (n < p), -3 (invalid U), -5 (a new knot\n"
    "not strictly inside the domain), -6 (empty X); ValueError when U, Ubar or Q\n"
    "are too short. Ubar and Q are then unchanged. A non-ascending X gives a\n"
    "meaningless result, but nothing is written outside Ubar and Q.\n\n"
    "References\n----------\n" NURBS_BOOK ", A5.4.\n");

}  // namespace
