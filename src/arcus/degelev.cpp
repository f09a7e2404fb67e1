// Degree elevation of a B-spline.
#include "arcus/arcus.hpp"
#include "arcus/cardo/cardo.h"

namespace arcus {

void degelevc(DArr U, DArr P, int p, int t, DArr Uh, DArr Q) {
    if (!pv::distinct("degelevc", {{"Uh", Uh}, {"Q", Q}}, {{"U", U}, {"P", P}})) return;
    const int n = hi(P);
    if (!knots_cover("degelevc", "U", U, n, p)) return;
    int info = cardo::DegreeElevateCheck(n, p, U.data, t);
    if (!check_info(info)) return;
    // The sizes of the result are known before the elevation: outputs too
    // short for it are refused before anything is written.
    long long nh = 0, mh = 0;
    cardo::DegreeElevateSizes(n, p, U.data, t, nh, mh);
    if (Q.len < nh + 1 || Uh.len < mh + 1) {
        // An assertion; under python -O, where it passes, the length check.
        if (assert_check(false) && pv::need_len("degelevc", "Uh", Uh.len, mh + 1)) {
            pv::need_len("degelevc", "Q", Q.len, nh + 1);
        }
        return;
    }
    int nh_out = 0;
    cardo::DegreeElevateCurve(n, p, U.data, P.data, t, Uh.data, nh_out, Q.data, info);
    if (!check_info(info)) return;
    // Longer outputs hold the result in their first elements; the lengths
    // must still be exact (an assertion, skipped under python -O).
    const long long mh_out = static_cast<long long>(nh_out) + t + p + 1;
    assert_check(Q.len == nh_out + 1 && Uh.len == mh_out + 1);
}

}  // namespace arcus

namespace {

ARCUS_FUNCTION(degelevc, "DegreeElevateCurve", 25, 30, ("U", "P", "p", "t", "Uh", "Q"),
    "Wrapper for 'DegreeElevateCurve' function of cardo C-library.\n\n"
    "Raises the degree of the spline from p to p + t without changing the curve.\n\n"
    "Parameters\n----------\n"
    "U : ndarray of float64\n    Clamped knot vector, n + p + 2 knots.\n"
    "P : ndarray of float64\n    Control points, n + 1 values.\n"
    "p : int\n    Degree.\n"
    "t : int\n    Number of degrees to add, t >= 1.\n"
    "Uh : ndarray of float64\n"
    "    Output knot vector of U.shape[0] + t*(s + 2) knots, where s is the number\n"
    "    of distinct interior knots of U; every distinct knot gains t copies.\n"
    "Q : ndarray of float64\n"
    "    Output control points, P.shape[0] + t*(s + 1) values.\n\n"
    "Returns\n-------\nNone\n\n"
    "Notes\n-----\n"
    "A nonzero status raises ValueError \"the algorithm failed with 'info' value: \"\n"
    "followed by the code: -2 p < 0, -1 n < p, -3 invalid knot vector (also a knot\n"
    "repeated, exactly, more than p + 1 times), -5 t <= 0; MemoryError when the\n"
    "work storage cannot be allocated. Uh and Q must have exactly the lengths above.\n"
    "Shorter arrays raise AssertionError (ValueError under python -O) before anything\n"
    "is written. Longer arrays receive the result in their first elements and then\n"
    "AssertionError without a message is raised (nothing under python -O). Interior\n"
    "knots are told apart by exact comparison.\n\n"
    "References\n----------\n"
    NURBS_BOOK ", sec. 5.5, A5.9.\n");

}  // namespace
