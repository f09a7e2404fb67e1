// Cubic C2 interpolation with end slopes: the tridiagonal solver.
#include "cardo.h"
#include "scratch.h"

#include <cmath>

namespace cardo {

namespace {

// A pivot of the elimination: zero or not finite when the knot vector has
// coincident interior knots (repeated abscissae).
inline bool bad_pivot(double den) { return den == 0.0 || !std::isfinite(den); }

}  // namespace

void SolveTridiagonal(int n, const double* Q, const double* U, double* P, int& info) {
    info = 0;
    if (n <= 2) {
        info = -1;
        return;
    }
    if (ValidKnotVector(n + 2, 3, U)) {
        info = -3;
        return;
    }
    Scratch<double> Rw(static_cast<std::size_t>(n) + 1), ddw(static_cast<std::size_t>(n) + 1);
    if (!Rw.ok() || !ddw.ok()) {
        info = 1;
        return;
    }
    double* R = Rw.data();
    double* dd = ddw.data();
    double abc[4], left[4], right[4];

    for (int i = 3; i < n; ++i) R[i] = Q[i - 1];

    BasisFuns(4, U[4], 3, U, left, right, abc);
    double den = abc[1];
    if (bad_pivot(den)) {
        info = 2;
    } else {
        P[2] = (Q[1] - abc[0] * P[1]) / den;
        for (int i = 3; i < n; ++i) {
            dd[i] = abc[2] / den;
            BasisFuns(i + 2, U[i + 2], 3, U, left, right, abc);
            den = abc[1] - abc[0] * dd[i];
            if (bad_pivot(den)) {
                info = 2;
                break;
            }
            P[i] = (R[i] - abc[0] * P[i - 1]) / den;
        }
    }
    if (info == 0) {
        dd[n] = abc[2] / den;
        BasisFuns(n + 2, U[n + 2], 3, U, left, right, abc);
        den = abc[1] - abc[0] * dd[n];
        if (bad_pivot(den)) {
            info = 2;
        } else {
            P[n] = (Q[n - 1] - abc[2] * P[n + 1] - abc[0] * P[n - 1]) / den;
            for (int i = n - 1; i >= 2; --i) P[i] = P[i] - dd[i + 1] * P[i + 1];
        }
    }
}

}  // namespace cardo
