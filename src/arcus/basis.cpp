// Basis functions and evaluation of splines and their derivatives.
#include "arcus/arcus.hpp"
#include "arcus/cardo/cardo.h"

namespace arcus {

// N(span, p) reads U[span .. span + p + 1] (and U[0], U[m]).
static bool one_basis_args(const char* fname, int span, DArr U, int p) {
    if (!need_nonneg(fname, "p", p)) return false;
    const Py_ssize_t last = U.len - 1 - p - 1;
    if (span < 0 || span > last) {
        return pv::fail(PyExc_ValueError,
                        "%s(): span %d would read outside U (basis function index in 0..%zd)",
                        fname, span, last);
    }
    return true;
}

// The p + 1 functions of a span read U[span - p + 1 .. span + p].
static bool span_basis_args(const char* fname, int span, DArr U, int p) {
    if (!need_nonneg(fname, "p", p)) return false;
    if (p == 0) return true;
    const Py_ssize_t lo = p - 1, hi_ = U.len - 1 - p;
    if (span < lo || span > hi_) {
        return pv::fail(PyExc_ValueError, "%s(): span %d would read outside U (span in %zd..%zd)",
                        fname, span, lo, hi_);
    }
    return true;
}

double bfunpev(double u, int span, DArr U, int p) {
    if (!one_basis_args("bfunpev", span, U, p)) return 0.0;
    Work<double> N(Py_ssize_t(p) + 1);
    if (!N.ok()) return 0.0;
    double Nip = 0.0;
    cardo::OneBasisFun(p, hi(U), U.data, span, u, N.data(), Nip);
    return Nip;
}

void bfuncev(DArr C, int span, DArr U, int p) {
    if (!pv::distinct("bfuncev", {{"C", C}}, {{"U", U}})) return;
    if (!one_basis_args("bfuncev", span, U, p)) return;
    Work<double> N(Py_ssize_t(p) + 1);
    if (!N.ok()) return;
    const int m = hi(U);
    pv::NoGil nogil;
    for (Py_ssize_t j = 0; j < C.len; ++j) {
        cardo::OneBasisFun(p, m, U.data, span, C.data[j], N.data(), C.data[j]);
    }
}

void bfunspev(double u, int span, DArr U, int p, DArr N) {
    if (!pv::distinct("bfunspev", {{"N", N}}, {{"U", U}})) return;
    if (!span_basis_args("bfunspev", span, U, p)) return;
    if (!pv::need_len("bfunspev", "N", N.len, Py_ssize_t(p) + 1)) return;
    Work<double> work(2 * (Py_ssize_t(p) + 1));
    if (!work.ok()) return;
    cardo::BasisFuns(span, u, p, U.data, work.data(), work.data() + p + 1, N.data);
}

void dbfunspev(double u, int span, DArr U, int p, int k, DArr2 nders) {
    if (!pv::distinct("dbfunspev", {{"nders", nders}}, {{"U", U}})) return;
    if (!span_basis_args("dbfunspev", span, U, p) || !need_nonneg("dbfunspev", "k", k)) return;
    const Py_ssize_t w = Py_ssize_t(p) + 1;
    if (nders.cols != w || nders.rows < Py_ssize_t(k) + 1) {
        pv::fail(PyExc_ValueError, "dbfunspev(): array 'nders' must have shape (%zd, %zd), got (%zd, %zd)",
                 Py_ssize_t(k) + 1, w, nders.rows, nders.cols);
        return;
    }
    Work<double> work(w * w + 4 * w);
    if (!work.ok()) return;
    double* ndu = work.data();
    double* a = ndu + w * w;
    double* left = a + 2 * w;
    double* right = left + w;
    cardo::DersBasisFuns(span, u, p, k, U.data, ndu, a, left, right, nders.data);
}

double splpev(double u, DArr U, DArr P, int p) {
    const int n = hi(P);
    if (!knots_cover("splpev", "U", U, n, p)) return 0.0;
    double C = 0.0;
    int info;
    cardo::CurvePoint(n, p, U.data, P.data, u, C, info);
    check_info(info);
    return C;
}

void splcev(DArr C, DArr U, DArr P, int p) {
    if (!pv::distinct("splcev", {{"C", C}}, {{"U", U}, {"P", P}})) return;
    const int n = hi(P);
    if (!knots_cover("splcev", "U", U, n, p)) return;
    int info;
    cardo::CurveEval(n, p, U.data, P.data, C.data, hi(C), info);
    check_info(info);
}

void dsplpev(double u, DArr U, DArr P, int p, int d, DArr CK) {
    if (!pv::distinct("dsplpev", {{"CK", CK}}, {{"U", U}, {"P", P}})) return;
    const int n = hi(P);
    if (!knots_cover("dsplpev", "U", U, n, p)) return;
    if (d >= 0 && !pv::need_len("dsplpev", "CK", CK.len, Py_ssize_t(d) + 1)) return;
    int info;
    cardo::CurveDerivsAlg1(n, p, U.data, P.data, u, d, CK.data, info);
    check_info(info);
}

void dsplcev(DArr C, DArr U, DArr P, int p, int r1, int r2, DArr2 CK) {
    if (!pv::distinct("dsplcev", {{"CK", CK}}, {{"C", C}, {"U", U}, {"P", P}})) return;
    const int n = hi(P);
    if (!knots_cover("dsplcev", "U", U, n, p)) return;
    // The rows are the kernel's check (-9); the row length must be len(C).
    if (r1 >= 0 && r2 >= r1 && C.len > 0 && CK.rows == Py_ssize_t(r2) - r1 + 1 && CK.cols != C.len) {
        pv::fail(PyExc_ValueError, "dsplcev(): array 'CK' must have %zd columns (len(C)), got %zd",
                 C.len, CK.cols);
        return;
    }
    int info;
    cardo::CurveDerivsEval(n, p, U.data, P.data, r1, r2, hi(C), C.data,
                           static_cast<int>(CK.rows) - 1, CK.data, info);
    check_info(info);
}

}  // namespace arcus

namespace {

ARCUS_FUNCTION(bfunpev, "OneBasisFun", 8, 16, ("u", "span", "U", "p"),
    "Basis function point evaluation.\n\n"
    "Value of the single basis function N(span, p) at u (kernel routine OneBasisFun).\n\n"
    "Parameters\n----------\n"
    "u : float\n    Parameter.\n"
    "span : int\n    Index i of the basis function N(i, p), 0 <= i <= m - p - 1.\n"
    "U : ndarray of float64\n    Knot vector, m + 1 knots.\n"
    "p : int\n    Degree.\n\n"
    "Returns\n-------\nfloat\n    N(i, p)(u).\n\n"
    "Notes\n-----\n"
    "0 outside the support [U[i], U[i+p+1]); 1 at the ends for the end functions.\n"
    "ValueError for p < 0 or an index i that would read outside U.\n\n"
    "References\n----------\n" NURBS_BOOK ", A2.4.\n");

ARCUS_FUNCTION(bfuncev, "-", 9, 17, ("C", "span", "U", "p"),
    "Basis function curve evaluation.\n\n"
    "Replaces every parameter C[j] by N(span, p)(C[j]).\n\n"
    "Parameters\n----------\n"
    "C : ndarray of float64\n    Parameters in, values out.\n"
    "span : int\n    Index i of the basis function N(i, p).\n"
    "U : ndarray of float64\n    Knot vector.\n"
    "p : int\n    Degree.\n\n"
    "Returns\n-------\nNone\n\n"
    "Notes\n-----\n"
    "The loop runs with the interpreter lock released; C must not be changed\n"
    "meanwhile by another thread. ValueError when C shares memory with U.\n\n"
    "References\n----------\n" NURBS_BOOK ", A2.4.\n");

ARCUS_FUNCTION(bfunspev, "BasisFuns", 10, 18, ("u", "span", "U", "p", "N"),
    "Wrapper for 'BasisFuns' function of cardo C-library.\n\n"
    "The p + 1 non-zero basis functions of a span at u.\n\n"
    "Parameters\n----------\n"
    "u : float\n    Parameter.\n"
    "span : int\n    Span index (as from `findspan`).\n"
    "U : ndarray of float64\n    Knot vector.\n"
    "p : int\n    Degree.\n"
    "N : ndarray of float64\n    Output, p + 1 values N(span-p, p)(u) .. N(span, p)(u).\n\n"
    "Returns\n-------\nNone\n\n"
    "Notes\n-----\n"
    "A zero-length span gives a division by zero (inf or NaN, no error).\n"
    "ValueError for p < 0, a span that would read outside U or a short N.\n\n"
    "References\n----------\n" NURBS_BOOK ", A2.2.\n");

ARCUS_FUNCTION(dbfunspev, "DersBasisFuns", 11, 19, ("u", "span", "U", "p", "k", "nders"),
    "Wrapper for 'DersBasisFuns' function of cardo C-library.\n\n"
    "The non-zero basis functions of a span and their derivatives up to order k.\n\n"
    "Parameters\n----------\n"
    "u : float\n    Parameter.\n"
    "span : int\n    Span index.\n"
    "U : ndarray of float64\n    Knot vector.\n"
    "p : int\n    Degree.\n"
    "k : int\n    Highest derivative order.\n"
    "nders : ndarray of float64, shape (k + 1, p + 1)\n"
    "    Output: row r holds the r-th derivatives of N(span-p, p) .. N(span, p).\n\n"
    "Returns\n-------\nNone\n\n"
    "Notes\n-----\n"
    "Rows above p are 0.\n\n"
    "References\n----------\n" NURBS_BOOK ", A2.3.\n");

ARCUS_FUNCTION(splpev, "CurvePoint", 12, 20, ("u", "U", "P", "p"),
    "Wrapper for 'CurvePoint' function of cardo C-library.\n\n"
    "Value of the spline at u.\n\n"
    "Parameters\n----------\n"
    "u : float\n    Parameter in [U[0], U[m]].\n"
    "U : ndarray of float64\n    Clamped knot vector, n + p + 2 knots.\n"
    "P : ndarray of float64\n    Control points, n + 1.\n"
    "p : int\n    Degree.\n\n"
    "Returns\n-------\nfloat\n\n"
    "Notes\n-----\n"
    "ValueError with info -2 (p < 0), -1 (n < p), -3 (invalid U), -5 (u outside\n"
    "the domain); ValueError when U is shorter than n + p + 2.\n\n"
    "References\n----------\n" NURBS_BOOK ", A3.1.\n");

ARCUS_FUNCTION(splcev, "CurveEval", 13, 21, ("C", "U", "P", "p"),
    "Wrapper for 'CurveEval' function of cardo C-library.\n\n"
    "Values of the spline at every parameter of C, in place.\n\n"
    "Parameters\n----------\n"
    "C : ndarray of float64\n    Parameters in, values out.\n"
    "U : ndarray of float64\n    Clamped knot vector.\n"
    "P : ndarray of float64\n    Control points.\n"
    "p : int\n    Degree.\n\n"
    "Returns\n-------\nNone\n\n"
    "Notes\n-----\n"
    "Only the first and the last parameter are checked against the domain (-5);\n"
    "an empty C gives -6. On error C is unchanged. Increasing parameters are\n"
    "evaluated fastest (the span search starts from the previous span).\n"
    "ValueError when C shares memory with U or P (the values would overwrite\n"
    "what is still to be read): pass a copy.\n\n"
    "References\n----------\n" NURBS_BOOK ", A3.1.\n");

ARCUS_FUNCTION(dsplpev, "CurveDerivsAlg1", 14, 22, ("u", "U", "P", "p", "d", "CK"),
    "Wrapper for 'CurveDerivsAlg1' function of cardo C-library.\n\n"
    "Derivatives of orders 0..d of the spline at u.\n\n"
    "Parameters\n----------\n"
    "u : float\n    Parameter.\n"
    "U : ndarray of float64\n    Clamped knot vector.\n"
    "P : ndarray of float64\n    Control points.\n"
    "p : int\n    Degree.\n"
    "d : int\n    Highest derivative order.\n"
    "CK : ndarray of float64\n    Output, d + 1 values; orders above p are 0.\n\n"
    "Returns\n-------\nNone\n\n"
    "Notes\n-----\n"
    "The codes of `splpev`, and -6 for d < 0.\n\n"
    "References\n----------\n" NURBS_BOOK ", A3.2.\n");

ARCUS_FUNCTION(dsplcev, "CurveDerivsEval", 15, 23, ("C", "U", "P", "p", "r1", "r2", "CK"),
    "Wrapper for 'CurveDerivsEval' function of cardo C-library.\n\n"
    "Derivatives of orders r1..r2 of the spline at every parameter of C.\n\n"
    "Parameters\n----------\n"
    "C : ndarray of float64\n    Parameters.\n"
    "U : ndarray of float64\n    Clamped knot vector.\n"
    "P : ndarray of float64\n    Control points.\n"
    "p : int\n    Degree.\n"
    "r1, r2 : int\n    Lowest and highest derivative order.\n"
    "CK : ndarray of float64, shape (r2 - r1 + 1, len(C))\n"
    "    Output: CK[k, i] is the derivative of order k + r1 at C[i].\n\n"
    "Returns\n-------\nNone\n\n"
    "Notes\n-----\n"
    "Info -5 r1 < 0, -6 r2 < r1, -7 empty C, -8 first or last parameter outside\n"
    "the domain, -9 wrong number of rows of CK; CK is then unchanged.\n"
    "ValueError when CK shares memory with C, U or P.\n\n"
    "References\n----------\n" NURBS_BOOK ", A3.2.\n");

}  // namespace
