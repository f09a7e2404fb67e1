// Knot insertion and knot refinement of a B-spline.
#include "cardo.h"

#include <new>

namespace cardo {

int CurveKnotInsCheck(int np, int p, const double* UP, double u, int k, int s, int r) {
    if (p < 0) return -2;
    if (np < p) return -1;
    if (ValidKnotVector(np, p, UP)) return -3;
    const int m = np + p + 1;
    // Written so that a NaN parameter is outside the domain too.
    if (!(u >= UP[0] && u <= UP[m])) return -5;
    // The span of a parameter of a clamped vector lies in [p, np]; a lower
    // index would address control points before P[0].
    if (k < p || k > np) return -6;
    if (s < 0 || s > p) return -7;
    if (r <= 0 || r > p - s) return -8;
    return 0;
}

void CurveKnotIns(int np, int p, const double* UP, const double* P, double u, int k, int s, int r,
                  int& nq, double* UQ, double* Q, int& info) {
    info = CurveKnotInsCheck(np, p, UP, u, k, s, r);
    if (info) return;
    double* Rw = new (std::nothrow) double[p + 1];
    if (!Rw) {
        info = 1;
        return;
    }
    const int m = np + p + 1;
    nq = np + r;
    for (int i = 0; i <= k; ++i) UQ[i] = UP[i];
    for (int i = 1; i <= r; ++i) UQ[k + i] = u;
    for (int i = k + 1; i <= m; ++i) UQ[i + r] = UP[i];
    for (int i = 0; i <= k - p; ++i) Q[i] = P[i];
    for (int i = k - s; i <= np; ++i) Q[i + r] = P[i];
    for (int i = 0; i <= p - s; ++i) Rw[i] = P[k - p + i];
    int L = 0;
    for (int j = 1; j <= r; ++j) {
        L = k - p + j;
        for (int i = 0; i <= p - j - s; ++i) {
            if (UP[i + k + 1] == UP[L + i]) {
                info = 2;
                delete[] Rw;
                return;
            }
            const double alpha = (u - UP[L + i]) / (UP[i + k + 1] - UP[L + i]);
            Rw[i] = alpha * Rw[i + 1] + (1.0 - alpha) * Rw[i];
        }
        Q[L] = Rw[0];
        Q[k + r - j - s] = Rw[p - j - s];
    }
    for (int i = L + 1; i <= k - s - 1; ++i) Q[i] = Rw[i - L];
    delete[] Rw;
}

// Index k of the first insertion slot once the old knots above X[r] have
// been moved up (the first pass of the main loop). For ordered input it is
// at most n + r + 1; knots of U that are out of order within the knot
// tolerance could leave it higher, past the end of Ubar and Q.
static int first_slot(int p, const double* U, const double* X, int r, int a, int b) {
    int i = b + p, k = b + p + r + 1;
    while (X[r] <= U[i] && i > a) {
        --k;
        --i;
    }
    return k;
}

int RefineKnotVectCurveCheck(int n, int p, const double* U, const double* X, int r) {
    if (p < 0) return -2;
    if (n < p) return -1;
    if (ValidKnotVector(n, p, U)) return -3;
    // An empty X has no first and last knot to test.
    if (r < 0) return -6;
    const int m = n + p + 1;
    // Written so that NaN knots are outside the domain too.
    if (!(X[0] > U[0])) return -5;
    if (!(X[r] < U[m])) return -5;
    const int a = FindSpan(n, p, X[0], U);
    const int b = FindSpan(n, p, X[r], U);
    if (first_slot(p, U, X, r, a, b) > n + r + 1) return -5;
    return 0;
}

void RefineKnotVectCurve(int n, int p, const double* U, const double* P, const double* X, int r,
                         double* Ubar, double* Q, int& info) {
    info = RefineKnotVectCurveCheck(n, p, U, X, r);
    if (info) return;
    const int m = n + p + 1;
    const int a = FindSpan(n, p, X[0], U);
    const int b = FindSpan(n, p, X[r], U);
    for (int j = 0; j <= a - p; ++j) Q[j] = P[j];
    for (int j = b; j <= n; ++j) Q[j + r + 1] = P[j];
    for (int j = 0; j <= a; ++j) Ubar[j] = U[j];
    for (int j = b + p + 1; j <= m; ++j) Ubar[j + r + 1] = U[j];
    int i = b + p;
    int k = b + p + r + 1;
    for (int j = r; j >= 0; --j) {
        while (X[j] <= U[i] && i > a) {
            Q[k - p - 1] = P[i - p - 1];
            Ubar[k] = U[i];
            --k;
            --i;
        }
        // k only decreases, so this bound holds for every later pass once
        // it holds here (it can fail only when the arrays overlap and the
        // copies above changed the knots that were checked).
        if (k > n + r + 1) {
            info = -5;
            return;
        }
        Q[k - p - 1] = Q[k - p];
        for (int l = 1; l <= p; ++l) {
            const int ind = k - p + l;
            double alpha = Ubar[k + l] - X[j];
            if (near_zero(alpha)) {
                Q[ind - 1] = Q[ind];
            } else {
                alpha = alpha / (Ubar[k + l] - U[i - p + l]);
                Q[ind - 1] = alpha * Q[ind - 1] + (1.0 - alpha) * Q[ind];
            }
        }
        Ubar[k] = X[j];
        --k;
    }
}

}  // namespace cardo
