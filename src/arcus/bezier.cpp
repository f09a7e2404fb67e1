// Bezier segments on [0, 1]: point and array evaluation, the Bezier matrix.
#include "arcus/arcus.hpp"
#include "arcus/cardo/cardo.h"

#include <cstdint>
#include <cstring>

namespace arcus {

double bezpev(double u, DArr P) {
    double C = 0.0;
    int info;
    cardo::PointOnBezierCurve(P.data, hi(P), u, C, info);
    check_info(info);
    return C;
}

double bezpev2(double u, DArr P) {
    double C = 0.0;
    int info;
    cardo::deCasteljau1(P.data, hi(P), u, C, info);
    check_info(info);
    return C;
}

using ArrayEval = void (*)(const double*, int, double*, int, int&);

// C is written while P is read: when the two share memory, P is read from a
// copy.
static void eval_array(ArrayEval eval, DArr C, DArr P) {
    const double* pts = P.data;
    const auto c0 = reinterpret_cast<std::uintptr_t>(C.data);
    const auto p0 = reinterpret_cast<std::uintptr_t>(P.data);
    const bool overlap = C.len > 0 && P.len > 0 && c0 < p0 + sizeof(double) * P.len &&
                         p0 < c0 + sizeof(double) * C.len;
    Work<double> copy(overlap ? P.len : 0);
    if (overlap) {
        if (!copy.ok()) return;
        std::memcpy(copy.data(), P.data, sizeof(double) * static_cast<size_t>(P.len));
        pts = copy.data();
    }
    int info;
    eval(pts, hi(P), C.data, hi(C), info);
    check_info(info);
}

void bezcev(DArr C, DArr P) { eval_array(cardo::BezierCurveEval, C, P); }

void bezcev2(DArr C, DArr P) { eval_array(cardo::BezierCurveEval2, C, P); }

double getbmtxelement(int p, int i, int j) {
    double out = 0.0;
    return cardo::GetBezierMatrixElement(p, i, j, out);
}

void getbezmat(int p, DArr M) {
    if (!need_nonneg("getbezmat", "p", p)) return;
    const Py_ssize_t w = Py_ssize_t(p) + 1;
    if (!pv::need_len("getbezmat", "M", M.len, w * w)) return;
    cardo::GetBezierMatrix(p, M.data);
}

}  // namespace arcus

namespace {

#define BEZIER_CODES                                                                         \
    "ValueError \"the algorithm failed with 'info' value: \" followed by -2 for an\n"       \
    "empty P, -3 for a parameter outside [0, 1]; MemoryError when the work storage\n"       \
    "cannot be allocated.\n"

ARCUS_FUNCTION(bezpev, "PointOnBezierCurve", 38, 39, ("u", "P"),
    "Wrapper for 'PointOnBezierCurve' function of cardo C-library.\n\n"
    "Value at u of the Bezier segment of control points P (Bernstein form).\n\n"
    "Parameters\n----------\n"
    "u : float\n    Parameter, 0 <= u <= 1.\n"
    "P : ndarray of float64\n    Control points; the degree is len(P) - 1.\n\n"
    "Returns\n-------\nfloat\n    The sum of B(k, n)(u) P[k].\n\n"
    "Notes\n-----\n" BEZIER_CODES "\n"
    "References\n----------\n" NURBS_BOOK ", A1.3, A1.4.\n");

ARCUS_FUNCTION(bezpev2, "deCasteljau1", 40, 41, ("u", "P"),
    "Wrapper for 'deCasteljau1' function of cardo C-library.\n\n"
    "Value at u of the Bezier segment of control points P (de Casteljau's\n"
    "algorithm).\n\n"
    "Parameters\n----------\n"
    "u : float\n    Parameter, 0 <= u <= 1.\n"
    "P : ndarray of float64\n    Control points; the degree is len(P) - 1.\n\n"
    "Returns\n-------\nfloat\n    The value of the segment at u.\n\n"
    "Notes\n-----\n" BEZIER_CODES "\n"
    "References\n----------\n" NURBS_BOOK ", A1.5.\n");

ARCUS_FUNCTION(bezcev, "BezierCurveEval", 39, 40, ("C", "P"),
    "Wrapper for 'BezierCurveEval' function of cardo C-library.\n\n"
    "B\xc3\xa9zier evaluation in the values of the input array 'C' (Bernstein form).\n\n"
    "Parameters\n----------\n"
    "C : ndarray of float64\n    Parameters, each 0 <= C[i] <= 1; overwritten with the values.\n"
    "P : ndarray of float64\n    Control points; the degree is len(P) - 1.\n\n"
    "Returns\n-------\nNone\n\n"
    "Notes\n-----\n"
    "The C array is overwritten with the output values, you need to make a copy.\n"
    "C[i] becomes the value of the segment at C[i], as `bezpev` gives it. Every\n"
    "parameter is checked first: on an error C is unchanged. " BEZIER_CODES "\n"
    "References\n----------\n" NURBS_BOOK ", A1.3, A1.4.\n");

ARCUS_FUNCTION(bezcev2, "BezierCurveEval2", 41, 42, ("C", "P"),
    "Wrapper for 'BezierCurveEval2' function of cardo C-library.\n\n"
    "B\xc3\xa9zier evaluation in the values of the input array 'C' (de Casteljau's\n"
    "algorithm).\n\n"
    "Parameters\n----------\n"
    "C : ndarray of float64\n    Parameters, each 0 <= C[i] <= 1; overwritten with the values.\n"
    "P : ndarray of float64\n    Control points; the degree is len(P) - 1.\n\n"
    "Returns\n-------\nNone\n\n"
    "Notes\n-----\n"
    "The C array is overwritten with the output values, you need to make a copy.\n"
    "C[i] becomes the value of the segment at C[i], as `bezpev2` gives it. Every\n"
    "parameter is checked first: on an error C is unchanged. " BEZIER_CODES "\n"
    "References\n----------\n" NURBS_BOOK ", A1.5.\n");

ARCUS_FUNCTION(getbezmat, "GetBezierMatrix", 43, 44, ("p", "M"),
    "Wrapper for 'GetBezierMatrix' function of cardo C-library.\n\n"
    "Bezier matrix of degree p: it turns the control points of a segment into the\n"
    "coefficients of its power basis.\n\n"
    "Parameters\n----------\n"
    "p : int\n    Degree, p >= 0.\n"
    "M : ndarray of float64\n"
    "    Output, (p + 1)**2 values: element (i, j) at M[i*(p + 1) + j].\n\n"
    "Returns\n-------\nNone\n\n"
    "Notes\n-----\n"
    "Element (i, j) is (-1)**(i - j) * C(p, i) * C(i, j) for j <= i; the entries\n"
    "above the diagonal are left unchanged. ValueError for p < 0 or an M of fewer\n"
    "than (p + 1)**2 elements.\n\n"
    "References\n----------\n" NURBS_BOOK ", ch. 6.\n");

ARCUS_C_ENTRY(getbmtxelement, "GetBezierMatrixElement", 42, 43);

}  // namespace
