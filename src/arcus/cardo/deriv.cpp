// Control points of derivatives and antiderivatives of a B-spline.
#include "cardo.h"

namespace cardo {

int CurveDerivCptsAlg1Check(int n, int p, const double* U, int d, int r1, int r2) {
    if (const int st = CheckCurve(n, p, U)) return st;
    if (d > p || d < 0) return -5;
    if (r1 > n || r1 < 0) return -6;
    if (r2 > n || r2 < r1) return -7;
    return OK;
}

void CurveDerivCptsAlg1(int n, int p, const double* U, const double* P, int d, int r1, int r2,
                        double* PK, int& info) {
    info = CurveDerivCptsAlg1Check(n, p, U, d, r1, r2);
    if (info) return;
    const long long w = static_cast<long long>(n) + 1;  // row length of PK
    const int r = r2 - r1;
    for (int i = 0; i <= r; ++i) PK[i] = P[r1 + i];
    for (int k = 1; k <= d; ++k) {
        double* row = PK + k * w;
        const double* prev = row - w;
        for (int i = 0; i <= r - k; ++i) {
            const double du = U[r1 + i + p + 1] - U[r1 + i + k];
            if (U[r1 + i + p + 1] == U[r1 + i + k]) {
                info = DIVISION_BY_ZERO;
                return;
            }
            row[i] = (p - k + 1) * (prev[i + 1] - prev[i]) / du;
        }
    }
}

int CurveDerivCptsAlg2Check(int n, int p, const double* U, int d) {
    if (const int st = CheckCurve(n, p, U)) return st;
    if (d > p || d < 0) return -5;
    return OK;
}

void CurveDerivCptsAlg2(int n, int& p, const double* U, const double* P, int d, int& nk,
                        double* UK, double* PK, int& info) {
    info = CurveDerivCptsAlg2Check(n, p, U, d);
    if (info) return;
    for (int i = 0; i <= n; ++i) PK[i] = P[i];
    for (int k = 1; k <= d; ++k) {
        for (int j = 0; j <= n - k; ++j) {
            if (U[j + p + 1] == U[j + k]) {
                info = DIVISION_BY_ZERO;
                return;
            }
            PK[j] = (PK[j + 1] - PK[j]) * (p - k + 1) / (U[j + p + 1] - U[j + k]);
        }
    }
    const int m = n + p + 1;
    for (int i = 0; i <= m - 2 * d; ++i) UK[i] = U[i + d];
    p -= d;
    nk = n - d;
}

int CurveAntiDerivCptsCheck(int n, int p, const double* U, int d, int nk) {
    if (const int st = CheckCurve(n, p, U)) return st;
    if (d < 0) return -5;
    if (static_cast<long long>(nk) < static_cast<long long>(n) + d) return -6;
    return OK;
}

void CurveAntiDerivCpts(int n, int& p, const double* U, const double* P, int d, int& nk,
                        double* UK, double* PK, int& info) {
    info = CurveAntiDerivCptsCheck(n, p, U, d, nk);
    if (info) return;
    nk = n + d;
    const int m = n + p + 1;
    for (int j = 0; j < d; ++j) {
        PK[j] = 0.0;
        UK[j] = U[0];
    }
    for (int i = d; i <= nk; ++i) {
        PK[i] = P[i - d];
        UK[i] = U[i - d];
    }
    for (int j = nk + 1; j <= nk + p + d + 1; ++j) UK[j] = U[m];
    // Integrate once per order: the curve of degree p + k has the control
    // points PK[d-k..nk]; the zero in PK[d-k-1] starts the next order.
    for (int k = 0; k < d; ++k) {
        if (cancel_point(3 * static_cast<std::size_t>(nk))) { info = CANCELLED; return; }
        for (int i = d - k; i <= nk; ++i) PK[i] = (UK[i + k + p + 1] - UK[i]) * PK[i];
        for (int l = d - k + 1; l <= nk; ++l) PK[l] = PK[l] + PK[l - 1];
        for (int l = d - k; l <= nk; ++l) PK[l] = PK[l] / (k + p + 1);
    }
    p += d;
}

}  // namespace cardo
