// Cubic C2 interpolation with end slopes: the knots and end conditions, and
// the tridiagonal solver.
#include "cardo.h"
#include "scratch.h"

#include <algorithm>
#include <cmath>

namespace cardo {

namespace {

// A pivot of the elimination: zero or not finite when the knot vector has
// coincident interior knots (repeated abscissae).
inline bool bad_pivot(double den) { return den == 0.0 || !std::isfinite(den); }

}  // namespace

void SolveTridiagonal(int n, const double* Q, const double* U, double* P, int& info) {
    if (n <= 2) {
        info = -1;
        return;
    }
    // The cubic curve of n + 3 control points; p and n are fine by now.
    info = CheckCurve(n + 2, 3, U);
    if (info) return;
    Scratch<double> Rw(static_cast<std::size_t>(n) + 1), ddw(static_cast<std::size_t>(n) + 1);
    if (!Rw.ok() || !ddw.ok()) {
        info = NO_MEMORY;
        return;
    }
    double* R = Rw.data();
    double* dd = ddw.data();
    double abc[4], left[4], right[4];

    for (int i = 3; i < n; ++i) R[i] = Q[i - 1];

    BasisFuns(4, U[4], 3, U, left, right, abc);
    double den = abc[1];
    if (bad_pivot(den)) {
        info = DIVISION_BY_ZERO;
    } else {
        P[2] = (Q[1] - abc[0] * P[1]) / den;
        for (int i = 3; i < n; ++i) {
            dd[i] = abc[2] / den;
            BasisFuns(i + 2, U[i + 2], 3, U, left, right, abc);
            den = abc[1] - abc[0] * dd[i];
            if (bad_pivot(den)) {
                info = DIVISION_BY_ZERO;
                break;
            }
            P[i] = (R[i] - abc[0] * P[i - 1]) / den;
        }
    }
    if (info == OK) {
        dd[n] = abc[2] / den;
        BasisFuns(n + 2, U[n + 2], 3, U, left, right, abc);
        den = abc[1] - abc[0] * dd[n];
        if (bad_pivot(den)) {
            info = DIVISION_BY_ZERO;
        } else {
            P[n] = (Q[n - 1] - abc[2] * P[n + 1] - abc[0] * P[n - 1]) / den;
            for (int i = n - 1; i >= 2; --i) P[i] = P[i] - dd[i + 1] * P[i + 1];
        }
    }
}

int CubicCurveInterpCheck(int n) {
    // No data point: no knot to place (SolveTridiagonal's n <= 2 comes later).
    return n < 0 ? -1 : OK;
}

void CubicCurveInterp(int n, const double* x, const double* f, double d0, double dn, double* U,
                      double* P, int& info) {
    info = CubicCurveInterpCheck(n);
    if (info) return;
    std::fill(U, U + 4, x[0]);
    if (n > 1) std::copy(x + 1, x + n, U + 4);
    std::fill(U + n + 3, U + n + 7, x[n]);
    P[0] = f[0];
    P[n + 2] = f[n];
    P[1] = d0 * (U[4] - x[0]) / 3 + P[0];
    P[n + 1] = P[n + 2] - dn * (x[n] - U[n + 2]) / 3;
    SolveTridiagonal(n, f, U, P, info);
}

}  // namespace cardo
