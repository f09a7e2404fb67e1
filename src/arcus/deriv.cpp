// Control points of derivatives and antiderivatives.
#include "arcus/arcus.hpp"
#include "arcus/cardo/cardo.h"

namespace arcus {

void dsplcpts(DArr U, DArr P, int p, int d, int r1, int r2, DArr2 PK) {
    if (!pv::distinct("dsplcpts", {{"PK", PK}}, {{"U", U}, {"P", P}})) return;
    const int n = hi(P);
    if (!knots_cover("dsplcpts", "U", U, n, p)) return;
    if (!check_info(cardo::CurveDerivCptsAlg1Check(n, p, U.data, d, r1, r2))) return;
    // Row k of PK holds the points of the k-th derivative, rows of len(P).
    if (PK.cols != P.len || PK.rows < Py_ssize_t(d) + 1) {
        pv::fail(PyExc_ValueError,
                 "dsplcpts(): array 'PK' needs a shape of at least (%d, %zd) with rows of "
                 "len(P) = %zd elements, got (%zd, %zd)",
                 d + 1, P.len, P.len, PK.rows, PK.cols);
        return;
    }
    int info;
    cardo::CurveDerivCptsAlg1(n, p, U.data, P.data, d, r1, r2, PK.data, info);
    check_info(info);
}

int dsplcpts2(DArr U, DArr P, int p, int d, DArr UK, DArr PK) {
    if (!pv::distinct("dsplcpts2", {{"UK", UK}, {"PK", PK}}, {{"U", U}, {"P", P}})) return 0;
    const int n = hi(P);
    if (!knots_cover("dsplcpts2", "U", U, n, p)) return -1;
    if (!check_info(cardo::CurveDerivCptsAlg2Check(n, p, U.data, d))) return -1;
    const Py_ssize_t m = Py_ssize_t(n) + p + 1;
    if (!pv::need_len("dsplcpts2", "UK", UK.len, m - 2 * Py_ssize_t(d) + 1) ||
        !pv::need_len("dsplcpts2", "PK", PK.len, P.len)) {
        return -1;
    }
    int pk = p, nk = 0, info;
    cardo::CurveDerivCptsAlg2(n, pk, U.data, P.data, d, nk, UK.data, PK.data, info);
    if (!check_info(info)) return -1;
    return nk;
}

void asplcpts(DArr U, DArr P, int p, int d, DArr UK, DArr PK) {
    if (!pv::distinct("asplcpts", {{"UK", UK}, {"PK", PK}}, {{"U", U}, {"P", P}})) return;
    const int n = hi(P);
    if (!knots_cover("asplcpts", "U", U, n, p)) return;
    int nk = hi(PK);
    // A PK shorter than len(P) + d is the routine's own code (-6).
    if (!check_info(cardo::CurveAntiDerivCptsCheck(n, p, U.data, d, nk))) return;
    const Py_ssize_t m = Py_ssize_t(n) + p + 1;
    if (!pv::need_len("asplcpts", "UK", UK.len, m + 2 * Py_ssize_t(d) + 1)) return;
    int pk = p, info;
    cardo::CurveAntiDerivCpts(n, pk, U.data, P.data, d, nk, UK.data, PK.data, info);
    check_info(info);
}

}  // namespace arcus

namespace {

ARCUS_FUNCTION(dsplcpts, "CurveDerivCptsAlg1", 16, 24, ("U", "P", "p", "d", "r1", "r2", "PK"),
    "Wrapper for 'CurveDerivCptsAlg1' function of cardo C-library.\n\n"
    "Control points of the derivatives of orders 0..d of a B-spline, for the\n"
    "control-point indices r1..r2.\n\n"
    "Parameters\n----------\n"
    "U : ndarray of float64\n    Clamped knot vector, n + p + 2 knots.\n"
    "P : ndarray of float64\n    Control points, n + 1.\n"
    "p : int\n    Degree.\n"
    "d : int\n    Highest derivative order, 0 <= d <= p.\n"
    "r1 : int\n    First control-point index, 0 <= r1 <= n.\n"
    "r2 : int\n    Last control-point index, r1 <= r2 <= n.\n"
    "PK : ndarray of float64, shape (at least d + 1, len(P))\n"
    "    Output: PK[k, i] is the control point of index r1 + i of the k-th\n"
    "    derivative, for i = 0..r2 - r1 - k. Entries to the right are not written.\n\n"
    "Returns\n-------\nNone\n\n"
    "Notes\n-----\n"
    "PK[k, i] = (p - k + 1) (PK[k-1, i+1] - PK[k-1, i]) / (U[r1+i+p+1] - U[r1+i+k]).\n"
    "ValueError with info -2 (p < 0), -1 (n < p), -3 (invalid U), -5 (d outside\n"
    "[0, p]), -6 (r1 outside [0, n]), -7 (r2 outside [r1, n]); ValueError when U\n"
    "is shorter than n + p + 2 or PK has not the shape above. A zero knot\n"
    "difference raises ZeroDivisionError; the rows written before it stay written.\n\n"
    "References\n----------\n" NURBS_BOOK ", A3.3.\n");

ARCUS_FUNCTION(dsplcpts2, "CurveDerivCptsAlg2", 17, 32, ("U", "P", "p", "d", "UK", "PK"),
    "Wrapper for 'CurveDerivCptsAlg2' function of cardo C-library.\n\n"
    "Knot vector and control points of the d-th derivative of a B-spline.\n\n"
    "Parameters\n----------\n"
    "U : ndarray of float64\n    Clamped knot vector, m + 1 = n + p + 2 knots.\n"
    "P : ndarray of float64\n    Control points, n + 1.\n"
    "p : int\n    Degree.\n"
    "d : int\n    Derivative order, 0 <= d <= p.\n"
    "UK : ndarray of float64\n    Output, len(U) - 2d knots: U without its first d and last d knots.\n"
    "PK : ndarray of float64\n    Output, len(P) elements; the derivative's control points are\n"
    "    PK[:nk + 1], the rest holds intermediate values.\n\n"
    "Returns\n-------\n"
    "int\n    nk = n - d, the highest control-point index of the derivative, whose\n"
    "    degree is p - d.\n\n"
    "Notes\n-----\n"
    "The differences are formed in place, one order after the other, on the\n"
    "knot vector U. ValueError with info -2 (p < 0), -1 (n < p), -3 (invalid U),\n"
    "-5 (d outside [0, p]); ValueError when U, UK or PK are too short. A zero\n"
    "knot difference raises ZeroDivisionError; PK then holds partial results and\n"
    "UK is not written.\n\n"
    "References\n----------\n" NURBS_BOOK ", A3.3.\n");

ARCUS_FUNCTION(asplcpts, "CurveAntiDerivCpts", 18, 31, ("U", "P", "p", "d", "UK", "PK"),
    "Wrapper for 'CurveAntiDerivCpts' function of cardo C-library.\n\n"
    "Knot vector and control points of the d-fold antiderivative of a B-spline.\n\n"
    "Parameters\n----------\n"
    "U : ndarray of float64\n    Clamped knot vector, m + 1 = n + p + 2 knots.\n"
    "P : ndarray of float64\n    Control points, n + 1.\n"
    "p : int\n    Degree.\n"
    "d : int\n    Number of integrations, d >= 0.\n"
    "UK : ndarray of float64\n    Output, len(U) + 2d knots: both end knots gain d copies.\n"
    "PK : ndarray of float64\n    Output, at least len(P) + d elements; PK[:n + d + 1] are\n"
    "    written.\n\n"
    "Returns\n-------\nNone\n\n"
    "Notes\n-----\n"
    "The result has degree p + d, and each antiderivative is 0 at U[0]. Each\n"
    "integration forms (UK[i+k+p+1] - UK[i]) PK[i], a running sum and a division\n"
    "by k + p + 1. ValueError with info -2 (p < 0), -1 (n < p), -3 (invalid U),\n"
    "-5 (d < 0), -6 (PK shorter than len(P) + d); ValueError when U or UK are too\n"
    "short.\n\n"
    "References\n----------\n" NURBS_BOOK ", sec. 3.3.\n");

}  // namespace
