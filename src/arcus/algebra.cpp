// Curve algebra: union of knot vectors, sum, join and split of B-splines of
// the same degree.
#include "arcus/arcus.hpp"
#include "arcus/cardo/cardo.h"

#include <cstring>

namespace arcus {

namespace {

const char EXTREMES[] = "same extremes of the knot vector is required";

// The assertions of the union and the sum: the same first and the same last
// knot (exact comparison). Both arrays hold at least one knot.
bool same_extremes(DArr U1, DArr U2) {
    return assert_check(U1.data[0] == U2.data[0] && U1.data[U1.len - 1] == U2.data[U2.len - 1],
                        EXTREMES);
}

// A clamped knot vector of degree p holds at least 2(p + 1) knots.
bool clamped_len(const char* fname, const char* argname, DArr U, int p) {
    return pv::need_len(fname, argname, U.len, 2 * (Py_ssize_t(p) + 1));
}

// The knot vector of a curve has len(P) + p + 1 knots.
bool curve_len(const char* fname, const char* uname, const char* pname, DArr U, DArr P, int p) {
    const Py_ssize_t need = P.len + p + 1;
    if (U.len == need) return true;
    return pv::fail(PyExc_ValueError, "%s(): '%s' must have len(%s) + p + 1 = %zd knots, got %zd",
                    fname, uname, pname, need, U.len);
}

bool not_clamped_pair(const char* fname) {
    return pv::fail(PyExc_ValueError,
                    "%s(): U1 and U2 must be clamped knot vectors of degree p with the same ends",
                    fname);
}

}  // namespace

PyObject* knotuniondim(DArr U1, DArr U2, int p) {
    const char* f = "knotuniondim";
    if (!pv::need_len(f, "U1", U1.len, 1) || !pv::need_len(f, "U2", U2.len, 1)) return nullptr;
    if (!same_extremes(U1, U2)) return nullptr;
    if (!need_nonneg(f, "p", p) || !clamped_len(f, "U1", U1, p) || !clamped_len(f, "U2", U2, p)) {
        return nullptr;
    }
    int mk;
    {
        pv::NoGil nogil;
        mk = cardo::KnotUnionDim(hi(U1), U1.data, hi(U2), U2.data, p);
    }
    if (mk < 0) {
        not_clamped_pair(f);
        return nullptr;
    }
    return Py_BuildValue("(ii)", mk, mk - p - 1);
}

void splcsum(DArr U1, DArr P1, DArr U2, DArr P2, int p, int mk, DArr UK, int nk, DArr PK) {
    if (!pv::distinct("splcsum", {{"UK", UK}, {"PK", PK}},
                      {{"U1", U1}, {"P1", P1}, {"U2", U2}, {"P2", P2}})) {
        return;
    }
    const char* f = "splcsum";
    if (!pv::need_len(f, "U1", U1.len, 1) || !pv::need_len(f, "U2", U2.len, 1)) return;
    if (!same_extremes(U1, U2)) return;
    if (!need_nonneg(f, "p", p)) return;
    const int m1 = hi(U1), m2 = hi(U2);

    bool same = U1.len == U2.len;
    if (same) {
        pv::NoGil nogil;
        same = cardo::same_knots(m1, U1.data, U2.data);
    }
    if (same) {
        // The knot vectors are equal: add the control points. The sizes must
        // be those of the first curve (knotuniondim, which compares exactly,
        // may count knots that differ within the tolerance twice).
        if (mk != m1) {
            pv::fail(PyExc_ValueError,
                     "%s(): U1 and U2 are equal within the knot tolerance, so mk must be "
                     "len(U1) - 1 = %d, got %d",
                     f, m1, mk);
            return;
        }
        if (nk != hi(P1)) {
            pv::fail(PyExc_ValueError,
                     "%s(): U1 and U2 are equal within the knot tolerance, so nk must be "
                     "len(P1) - 1 = %d, got %d",
                     f, hi(P1), nk);
            return;
        }
        const Py_ssize_t np = Py_ssize_t(nk) + 1;
        if (!pv::need_len(f, "P2", P2.len, np) || !pv::need_len(f, "UK", UK.len, U1.len) ||
            !pv::need_len(f, "PK", PK.len, np)) {
            return;
        }
        pv::NoGil nogil;
        cardo::CurveSumSameKnots(m1, U1.data, nk, P1.data, P2.data, UK.data, PK.data);
        return;
    }

    if (!curve_len(f, "U1", "P1", U1, P1, p) || !curve_len(f, "U2", "P2", U2, P2, p) ||
        !clamped_len(f, "U1", U1, p) || !clamped_len(f, "U2", U2, p)) {
        return;
    }
    int mu;
    {
        pv::NoGil nogil;
        mu = cardo::KnotUnionDim(m1, U1.data, m2, U2.data, p);
    }
    if (mu < 0 || mu < m2) {
        not_clamped_pair(f);
        return;
    }
    if (mk != mu) {
        pv::fail(PyExc_ValueError,
                 "%s(): mk must be the highest index of the union of U1 and U2, %d, got %d", f,
                 mu, mk);
        return;
    }
    if (nk != mk - p - 1) {
        pv::fail(PyExc_ValueError, "%s(): nk must be mk - p - 1 = %d, got %d", f, mk - p - 1, nk);
        return;
    }
    if (!pv::need_len(f, "UK", UK.len, Py_ssize_t(mk) + 1) ||
        !pv::need_len(f, "PK", PK.len, Py_ssize_t(nk) + 1)) {
        return;
    }
    const int nx1 = mk - m1, nx2 = mk - m2;
    Work<double> Q2(Py_ssize_t(nk) + 1), X1(nx1), X2(nx2);
    if (!Q2.ok() || !X1.ok() || !X2.ok()) return;
    // The merge, both refinements and the sum run with the interpreter lock
    // released; their failures are raised once it is held again.
    bool merged;
    int info = 0;
    {
        pv::NoGil nogil;
        merged = cardo::CurveSumRefined(m1, U1.data, P1.data, m2, U2.data, P2.data, p, mk,
                                        UK.data, PK.data, X1.data(), X2.data(), Q2.data(), info);
    }
    if (!merged) {
        pv::fail(PyExc_ValueError, "%s(): the interior knots of U1 and U2 must be non-decreasing",
                 f);
        return;
    }
    check_info(info);
}

void splcjoin(DArr Ul, DArr Pl, DArr Ur, DArr Pr, int p, DArr UK, DArr PK) {
    if (!pv::distinct("splcjoin", {{"UK", UK}, {"PK", PK}},
                      {{"Ul", Ul}, {"Pl", Pl}, {"Ur", Ur}, {"Pr", Pr}})) {
        return;
    }
    const char* f = "splcjoin";
    if (!assert_check(Ul.len - 1 == p + Pl.len && Ur.len == p + Pr.len + 1 &&
                      PK.len == Pl.len + Pr.len && UK.len == p + PK.len + 1)) {
        return;
    }
    if (!need_nonneg(f, "p", p) || !pv::need_len(f, "Ul", Ul.len, 1) ||
        !pv::need_len(f, "Ur", Ur.len, Pr.len + p + 1) ||
        !pv::need_len(f, "UK", UK.len, Ul.len + Pr.len) ||
        !pv::need_len(f, "PK", PK.len, Pl.len + Pr.len)) {
        return;
    }
    // Every copy runs with the interpreter lock released.
    pv::NoGil nogil;
    cardo::CurveJoin(Ul.len - 1, Ul.data, Pl.len - 1, Pl.data, Ur.data, Pr.len - 1, Pr.data, p,
                     UK.data, PK.data);
}

PyObject* splcsli(DArr U, DArr P, int p, double u, DArr UK, DArr PK) {
    if (!pv::distinct("splcsli", {{"UK", UK}, {"PK", PK}}, {{"U", U}, {"P", P}})) return nullptr;
    const char* f = "splcsli";
    if (!assert_check(U.len - 1 == p + P.len)) return nullptr;
    if (!pv::need_len(f, "U", U.len, 1)) return nullptr;
    const int n = hi(P), m = hi(U);
    const double* Ud = U.data;
    if (!assert_check(Ud[0] < u && u < Ud[m])) return nullptr;
    // The codes of the insertion for p and n, needed before the span search.
    if (!check_info(cardo::CheckCurveSizes(n, p))) return nullptr;
    if (!curve_len(f, "U", "P", U, P, p)) return nullptr;
    // A split at an end (also within the knot tolerance) would leave a piece
    // without control points or of zero length.
    if (!(Ud[0] < u && u < Ud[m]) || cardo::keq(u, Ud[0]) || cardo::keq(u, Ud[m])) {
        return pv::fail(PyExc_ValueError,
                        "%s(): u must lie strictly inside the domain (U[0], U[m]) beyond the "
                        "knot tolerance",
                        f);
    }
    int span = 0, s = 0;
    cardo::FindSpanMult(n, p, u, Ud, span, s);
    if (s == p + 1) {
        // Already a knot of full multiplicity: the pieces are there.
        if (!pv::need_len(f, "UK", UK.len, U.len) || !pv::need_len(f, "PK", PK.len, P.len)) {
            return nullptr;
        }
        std::memmove(UK.data, Ud, sizeof(double) * U.len);
        std::memmove(PK.data, P.data, sizeof(double) * P.len);
        return Py_BuildValue("(ii)", span - s, s + n - span - 1);
    }
    if (!assert_check(s <= p + 1)) return nullptr;
    const int r = p - s;  // insertions up to multiplicity p
    if (r != 0 && !check_info(cardo::CurveKnotInsCheck(n, p, Ud, u, span, s, r))) return nullptr;
    if (!pv::need_len(f, "UK", UK.len, U.len + r + 1) ||
        !pv::need_len(f, "PK", PK.len, P.len + r + 1)) {
        return nullptr;
    }
    int nl = 0, nr = 0, info = 0;
    cardo::CurveSplit(n, p, Ud, P.data, u, span, s, UK.data, PK.data, nl, nr, info);
    if (!check_info(info)) return nullptr;
    return Py_BuildValue("(ii)", nl, nr);
}

}  // namespace arcus

namespace {

ARCUS_FUNCTION(knotuniondim, "-", 32, 36, ("U1", "U2", "p"),
    "Auxiliary function that calculates the dimensions of the new knot vector.\n\n"
    "The new knot vector is the union of U1 and U2.\n\n"
    "Parameters\n----------\n"
    "U1 : ndarray of float64\n    Clamped knot vector of degree p.\n"
    "U2 : ndarray of float64\n    Clamped knot vector of degree p, with the same first and last\n"
    "    knot as U1.\n"
    "p : int\n    Degree.\n\n"
    "Returns\n-------\n"
    "tuple of int\n    (mk, nk): the highest knot index of the union and nk = mk - p - 1, the\n"
    "    highest control-point index of a curve on it.\n\n"
    "Notes\n-----\n"
    "The union holds the common end knots and every interior knot of U1 or U2\n"
    "with the larger of its two multiplicities; knots are compared exactly.\n"
    "AssertionError \"same extremes of the knot vector is required\" when the first\n"
    "or the last knots differ (not checked under python -O). ValueError for p < 0,\n"
    "a vector shorter than 2(p + 1) knots or interior knots of U2 beyond the end of\n"
    "U1. The counting runs with the interpreter lock released.\n\n"
    "References\n----------\n"
    NURBS_BOOK ", sec. 5.3.\n");

ARCUS_FUNCTION(splcsum, "-", 33, 37, ("U1", "P1", "U2", "P2", "p", "mk", "UK", "nk", "PK"),
    "Calculates the B-Spline sum of the input curves.\n\n"
    "Both curves are refined onto the union of their knot vectors and their\n"
    "control points are added.\n\n"
    "Parameters\n----------\n"
    "U1, P1 : ndarray of float64\n    Knot vector and control points of the first curve.\n"
    "U2, P2 : ndarray of float64\n    Knot vector and control points of the second curve, with\n"
    "    the same first and last knot.\n"
    "p : int\n    Degree of both curves.\n"
    "mk : int\n    Highest knot index of the union, as returned by `knotuniondim`.\n"
    "UK : ndarray of float64\n    Output, mk + 1 knots.\n"
    "nk : int\n    Highest control-point index of the sum, mk - p - 1.\n"
    "PK : ndarray of float64\n    Output, nk + 1 control points.\n\n"
    "Returns\n-------\nNone\n\n"
    "Notes\n-----\n"
    "When U1 and U2 have the same length and are equal within the rounding\n"
    "tolerance 4 eps max(|U1[0]|, |U1[-1]|), U1 is copied into UK and PK = P1 + P2; mk and\n"
    "nk must then be len(U1) - 1 and len(P1) - 1. Otherwise mk and nk must be the\n"
    "values of `knotuniondim`. AssertionError \"same extremes of the knot vector is\n"
    "required\" before anything is written (not checked under python -O);\n"
    "ValueError for inconsistent sizes or short arrays; refinement failures raise\n"
    "as in `splkref`. The comparison and merge of the knots, the refinements and\n"
    "the sum run with the interpreter lock released.\n\n"
    "References\n----------\n"
    NURBS_BOOK ", A5.4.\n");

ARCUS_FUNCTION(splcjoin, "-", 30, 34, ("Ul", "Pl", "Ur", "Pr", "p", "UK", "PK"),
    "Joins two B-Spline of same order with C-1 joint.\n\n"
    "The right curve is shifted to start where the left one ends; the joint keeps\n"
    "a knot of multiplicity p + 1, so no continuity is imposed there.\n\n"
    "Parameters\n----------\n"
    "Ul, Pl : ndarray of float64\n    Knot vector and control points of the left curve.\n"
    "Ur, Pr : ndarray of float64\n    Knot vector and control points of the right curve.\n"
    "p : int\n    Degree of both curves.\n"
    "UK : ndarray of float64\n    Output, p + len(PK) + 1 knots: Ul, then the knots of Ur after\n"
    "    its first p + 1, shifted by Ul[-1] - Ur[0].\n"
    "PK : ndarray of float64\n    Output, len(Pl) + len(Pr) control points: Pl, then Pr.\n\n"
    "Returns\n-------\nNone\n\n"
    "Notes\n-----\n"
    "AssertionError (no message) unless len(Ul) - 1 == p + len(Pl),\n"
    "len(Ur) == p + len(Pr) + 1, len(PK) == len(Pl) + len(Pr) and\n"
    "len(UK) == p + len(PK) + 1 (not checked under python -O, where short arrays\n"
    "raise ValueError). The copies run with the interpreter lock released.\n\n"
    "References\n----------\n"
    NURBS_BOOK ", ch. 2.\n");

ARCUS_FUNCTION(splcsli, "-", 31, 35, ("U", "P", "p", "u", "UK", "PK"),
    "Separates the curve of same order at a desired point of the knots domain.\n\n"
    "u is inserted up to multiplicity p, then the split knot and the split point\n"
    "are doubled so that both pieces are stored one after the other:\n\n"
    "    U_(left) = UK[:nl + p + 2]  ;  U_(right) = UK[nl + 1:nl + nr + p + 3]\n"
    "    P_(left) = PK[:nl + 1]  ;  P_(right) = PK[nl + 1:nl + nr + 2]\n\n"
    "Parameters\n----------\n"
    "U : ndarray of float64\n    Clamped knot vector, len(P) + p + 1 knots.\n"
    "P : ndarray of float64\n    Control points.\n"
    "p : int\n    Degree.\n"
    "u : float\n    Split parameter, U[0] < u < U[-1].\n"
    "UK : ndarray of float64\n    Output, len(U) + r + 1 knots, r <= p the number of insertions\n"
    "    (len(U) + p + 1 always suffices).\n"
    "PK : ndarray of float64\n    Output, len(P) + r + 1 control points (len(P) + p + 1 always\n"
    "    suffices).\n\n"
    "Returns\n-------\n"
    "tuple of int\n    (nl, nr): the highest control-point indices of the left and the right\n"
    "    piece.\n\n"
    "Notes\n-----\n"
    "When u already has multiplicity p + 1, U and P are copied unchanged.\n"
    "AssertionError (no message) unless len(U) - 1 == p + len(P) and\n"
    "U[0] < u < U[-1] (not checked under python -O). ValueError for a u within the\n"
    "knot tolerance of an end, for short arrays, and the codes of `splkins`.\n\n"
    "References\n----------\n"
    NURBS_BOOK ", A5.1.\n");

}  // namespace
