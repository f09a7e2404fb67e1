// Knot insertion and knot refinement of a B-spline.
#include "cardo.h"
#include "scratch.h"

#include <algorithm>
#include <cstddef>

namespace cardo {

namespace {
// Doubles of an insertion's work kept on the stack (p + 1 are used): every
// degree up to 31, far beyond those in use, inserts without allocating.
constexpr std::size_t INSERT_STACK = 32;
}  // namespace

int CurveKnotInsCheckArgs(int np, int p, const double* UP, double u, int k, int s, int r) {
    const int m = np + p + 1;
    // Written so that a NaN parameter is outside the domain too.
    if (!(u >= UP[0] && u <= UP[m])) return -5;
    // The span of a parameter of a clamped vector lies in [p, np]; a lower
    // index would address control points before P[0].
    if (k < p || k > np) return -6;
    if (s < 0 || s > p) return -7;
    if (r <= 0 || r > p - s) return -8;
    return OK;
}

int CurveKnotInsCheck(int np, int p, const double* UP, double u, int k, int s, int r) {
    if (const int st = CheckCurve(np, p, UP)) return st;
    return CurveKnotInsCheckArgs(np, p, UP, u, k, s, r);
}

int CurveKnotInsChecked(int np, int p, const double* UP, const double* P, double u, int k, int s,
                        int r, int& nq, double* UQ, double* Q) {
    Scratch<double, INSERT_STACK> work(static_cast<std::size_t>(p) + 1);
    if (!work.ok()) return NO_MEMORY;
    double* Rw = work.data();
    const int m = np + p + 1;
    nq = np + r;
    // UQ[0..k] = UP[0..k], UQ[k+1..k+r] = u, UQ[k+1+r..m+r] = UP[k+1..m];
    // Q[0..k-p] = P[0..k-p], Q[k-s+r..np+r] = P[k-s..np] (block copies).
    std::copy(UP, UP + k + 1, UQ);
    std::fill(UQ + k + 1, UQ + k + 1 + r, u);
    std::copy(UP + k + 1, UP + m + 1, UQ + k + 1 + r);
    std::copy(P, P + (k - p + 1), Q);
    std::copy(P + (k - s), P + np + 1, Q + (k - s + r));
    for (int i = 0; i <= p - s; ++i) Rw[i] = P[k - p + i];
    int L = 0, info = OK;
    for (int j = 1; j <= r && info == OK; ++j) {
        L = k - p + j;
        for (int i = 0; i <= p - j - s; ++i) {
            if (UP[i + k + 1] == UP[L + i]) {
                info = DIVISION_BY_ZERO;
                break;
            }
            const double alpha = (u - UP[L + i]) / (UP[i + k + 1] - UP[L + i]);
            Rw[i] = alpha * Rw[i + 1] + (1.0 - alpha) * Rw[i];
        }
        if (info) break;
        Q[L] = Rw[0];
        Q[k + r - j - s] = Rw[p - j - s];
    }
    if (info == OK) {
        for (int i = L + 1; i <= k - s - 1; ++i) Q[i] = Rw[i - L];
    }
    return info;
}

void CurveKnotIns(int np, int p, const double* UP, const double* P, double u, int k, int s, int r,
                  int& nq, double* UQ, double* Q, int& info) {
    info = CurveKnotInsCheck(np, p, UP, u, k, s, r);
    if (info) return;
    info = CurveKnotInsChecked(np, p, UP, P, u, k, s, r, nq, UQ, Q);
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
    if (const int st = CheckCurve(n, p, U)) return st;
    // An empty X has no first and last knot to test.
    if (r < 0) return -6;
    const int m = n + p + 1;
    // Written so that NaN knots are outside the domain too.
    if (!(X[0] > U[0])) return -5;
    if (!(X[r] < U[m])) return -5;
    const int a = FindSpan(n, p, X[0], U);
    const int b = FindSpan(n, p, X[r], U);
    if (first_slot(p, U, X, r, a, b) > n + r + 1) return -5;
    return OK;
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
    const double tol = scale_tol(U[0], U[m]);
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
            if (std::fabs(alpha) <= tol) {
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
