// The curve sum (knot-vector union, merge and refinements), split and join.
#include "cardo.h"

#include <cstring>

namespace cardo {

int KnotUnionDim(int m1, const double* U1, int m2, const double* U2, int p) {
    int mk = m1;
    int i = p + 1;  // into U2
    int k = p + 1;  // into U1
    while (i <= m2 - p - 1) {
        if (k > m1) return -1;
        if (U2[i] < U1[k]) {
            ++mk;
            ++i;
        } else if (U2[i] == U1[k]) {
            ++i;
            ++k;
        } else {
            ++k;
        }
    }
    return mk;
}

bool MergeKnots(int m1, const double* U1, int m2, const double* U2, int p, int count, double* X1,
                int nx1, double* X2, int nx2) {
    int i = p + 1, k = p + 1, a = 0, b = 0;
    for (int t = 0; t < count; ++t) {
        if (i > m1 || k > m2) return false;
        if (U1[i] < U2[k]) {
            if (b >= nx2) return false;
            X2[b++] = U1[i++];
        } else if (U1[i] > U2[k]) {
            if (a >= nx1) return false;
            X1[a++] = U2[k++];
        } else if (U1[i] == U2[k]) {
            ++i;
            ++k;
        } else {
            return false;  // NaN knots
        }
    }
    return a == nx1 && b == nx2;
}

bool CurveSumRefined(int m1, const double* U1, const double* P1, int m2, const double* U2,
                     const double* P2, int p, int mk, double* UK, double* PK, double* X1,
                     double* X2, double* Q2, int& info) {
    info = OK;
    const int nk = mk - p - 1, n1 = m1 - p - 1, n2 = m2 - p - 1;
    const int nx1 = mk - m1, nx2 = mk - m2;
    if (!MergeKnots(m1, U1, m2, U2, p, nk - p, X1, nx1, X2, nx2)) return false;
    for (int j = 0; j <= p; ++j) {
        UK[j] = U1[0];
        UK[mk - p + j] = U1[m1];
    }
    // The sum goes on after a status the callers do not report (OK, or one
    // of 7 and above other than CANCELLED).
    int info1 = OK, info2 = OK;
    if (m1 < mk) {
        RefineKnotVectCurve(n1, p, U1, P1, X1, nx1 - 1, UK, PK, info1);
    } else {
        std::memmove(PK, P1, sizeof(double) * (n1 + 1));
    }
    if (!Failed(info1)) {
        if (m2 < mk) {
            RefineKnotVectCurve(n2, p, U2, P2, X2, nx2 - 1, UK, Q2, info2);
        } else {
            std::memcpy(Q2, P2, sizeof(double) * (n2 + 1));
        }
        if (!Failed(info2)) {
            for (int j = 0; j <= nk; ++j) PK[j] = PK[j] + Q2[j];
        }
    }
    info = Failed(info1) ? info1 : info2;
    return true;
}

void CurveSumSameKnots(int m, const double* U, int n, const double* P1, const double* P2,
                       double* UK, double* PK) {
    std::memmove(UK, U, sizeof(double) * (std::size_t(m) + 1));
    for (int i = 0; i <= n; ++i) PK[i] = P1[i] + P2[i];
}

void CurveJoin(std::ptrdiff_t ml, const double* Ul, std::ptrdiff_t nl, const double* Pl,
               const double* Ur, std::ptrdiff_t nr, const double* Pr, int p, double* UK,
               double* PK) {
    const double shift = Ul[ml] - Ur[0];
    for (std::ptrdiff_t i = 0; i <= ml; ++i) UK[i] = Ul[i];
    for (std::ptrdiff_t i = 0; i <= nr; ++i) UK[ml + 1 + i] = shift + Ur[p + 1 + i];
    for (std::ptrdiff_t i = 0; i <= nl; ++i) PK[i] = Pl[i];
    for (std::ptrdiff_t i = 0; i <= nr; ++i) PK[nl + 1 + i] = Pr[i];
}

void CurveSplit(int n, int p, const double* U, const double* P, double u, int span, int s,
                double* UK, double* PK, int& nl, int& nr, int& info) {
    info = OK;
    const int m = n + p + 1;
    const int r = p - s;  // insertions up to multiplicity p
    if (r == 0) {
        std::memmove(UK, U, sizeof(double) * (m + 1));
        std::memmove(PK, P, sizeof(double) * (n + 1));
    } else {
        int nq = 0;
        CurveKnotIns(n, p, U, P, u, span, s, r, nq, UK, PK, info);
        if (Failed(info)) return;
    }
    nl = span - s;
    nr = n + r - nl;
    // The last copy of u and the knots after it move up one place, so that
    // u ends the left vector and starts the right one with p + 1 copies; the
    // split point PK[nl] is doubled the same way.
    for (int i = m + r; i >= nl + p; --i) UK[i + 1] = UK[i];
    for (int i = n + r; i >= nl; --i) PK[i + 1] = PK[i];
    // With p = 0 no copy of u exists (u is no knot here): the place the
    // shift opened gets u itself, not a second copy of the knot below it.
    if (p == 0) UK[nl + 1] = u;
}

}  // namespace cardo
