// Basis functions and curve evaluation.
#include "cardo.h"
#include "scratch.h"

#include <algorithm>
#include <cstddef>

namespace cardo {

namespace {

// Doubles of a curve routine's work storage kept on the stack: the
// derivative routines need w (du + 1) + w^2 + 4 w (w = p + 1), which fits for
// every derivative up to degree 9, so the usual degrees never allocate.
constexpr std::size_t CURVE_STACK = 256;
using Work = Scratch<double, CURVE_STACK>;

// Curve evaluation for a fixed degree P (1 to 5), used by CurvePoint and
// CurveEval alike so that both give the same bits. BasisFuns divides by
// right[r+1] + left[j-r], that is U[span+r+1] - U[span+1-j+r] up to rounding:
// these reciprocals depend on the span only and are formed when the span
// changes, so on sorted parameters a point costs products and sums alone.
// Work arrays live on the stack.
template <int P>
struct SpanEval {
    double inv[P + 1][P + 1] = {};
    int span = -1;

    void set_span(int s, const double* U) {
        span = s;
        for (int j = 1; j <= P; ++j) {
            for (int q = 0; q < j; ++q) inv[j][q] = 1.0 / (U[s + q + 1] - U[s + 1 - j + q]);
        }
    }
    double value(double u, const double* U, const double* Pc) const {
        double left[P + 1], right[P + 1], N[P + 1];
        BasisTriangle(span, u, std::integral_constant<int, P>{}, U, left, right, N,
                      [this](int j, int q, double Nq, double, double) { return Nq * inv[j][q]; });
        const double* Pj = Pc + (span - P);
        double c = 0.0;
        for (int j = 0; j <= P; ++j) c = Pj[j] * N[j] + c;
        return c;
    }
};

// Derivatives of orders 0..k (k <= P) of the P + 1 basis functions of a
// span, for a fixed degree P: DersBasisFuns with the divisions by the knot
// differences of its lower triangle turned into products by reciprocals that
// are formed once per span. Used by CurveDerivsAlg1 and CurveDerivsEval
// alike, so that both give the same bits.
template <int P>
struct SpanDers {
    static constexpr int W = P + 1;
    double inv[W][W] = {};
    int span = -1;

    void set_span(int s, const double* U) {
        span = s;
        // ndu[j][r] (r < j) is right[r+1] + left[j-r] = U[s+r+1] - U[s+1-j+r].
        for (int j = 1; j <= P; ++j) {
            for (int r = 0; r < j; ++r) inv[j][r] = 1.0 / (U[s + r + 1] - U[s + 1 - j + r]);
        }
    }
    // ders: (k + 1) rows of W; k a std::integral_constant (k <= P).
    template <typename K>
    void ders(double u, K k, const double* U, double* out) const {
        double ndu[W * W], a[2 * W], left[W], right[W];
        DersTriangle(span, u, std::integral_constant<int, P>{}, k, U, ndu, a, left, right, out,
                     [this](double x, int row, int col) { return x * inv[row][col]; });
    }
    // sum over j of nders[row][j] * P[span - P + j], accumulated from 0.
    double sum(const double* row, const double* Pc) const {
        const double* Pj = Pc + (span - P);
        double c = 0.0;
        for (int j = 0; j <= P; ++j) c += row[j] * Pj[j];
        return c;
    }
};

template <int P, int K = 0>
void curve_derivs_point(int n, const double* U, const double* Pc, double u, int du, double* CK) {
    if constexpr (K < P) {
        if (du > K) {
            curve_derivs_point<P, K + 1>(n, U, Pc, u, du, CK);
            return;
        }
    }
    SpanDers<P> e;
    double nders[(P + 1) * (P + 1)];
    e.set_span(FindSpan(n, P, u, U), U);
    e.ders(u, std::integral_constant<int, K>{}, U, nders);
    for (int k = 0; k <= K; ++k) CK[k] = e.sum(nders + k * (P + 1), Pc);
}

template <int P, typename K>
void curve_derivs_eval_k(int n, const double* U, const double* Pc, int r1, int r2, int rC,
                         const double* C, double* CK, bool sorted, K du) {
    SpanDers<P> e;
    double nders[(P + 1) * (P + 1)];
    const std::size_t cols = static_cast<std::size_t>(rC) + 1;
    int s = P;
    for (int i = 0; i <= rC; ++i) {
        const double u = C[i];
        s = sorted ? FindSpanNext(n, P, u, U, s) : FindSpan(n, P, u, U);
        if (s != e.span) e.set_span(s, U);
        e.ders(u, du, U, nders);
        for (int k = 0; k <= r2 - r1; ++k) {
            CK[k * cols + i] = k + r1 <= P ? e.sum(nders + (k + r1) * (P + 1), Pc) : 0.0;
        }
    }
}

// The highest order du = min(r2, P) as a compile-time constant too, so that
// every loop of the derivative triangle has fixed bounds.
template <int P, int K = 0>
void curve_derivs_eval(int n, const double* U, const double* Pc, int r1, int r2, int rC,
                       const double* C, double* CK, bool sorted) {
    if constexpr (K < P) {
        if (std::min(r2, P) > K) {
            curve_derivs_eval<P, K + 1>(n, U, Pc, r1, r2, rC, C, CK, sorted);
            return;
        }
    }
    curve_derivs_eval_k<P>(n, U, Pc, r1, r2, rC, C, CK, sorted, std::integral_constant<int, K>{});
}


template <int P>
double curve_point(int n, const double* U, const double* Pc, double u) {
    SpanEval<P> e;
    e.set_span(FindSpan(n, P, u, U), U);
    return e.value(u, U, Pc);
}

// `sorted`: the knots are finite and non-decreasing (KnotsSorted), so the
// search may start from the previous span.
template <int P>
void curve_eval(int n, const double* U, const double* Pc, double* C, int r, bool sorted) {
    SpanEval<P> e;
    int s = P;
    for (int i = 0; i <= r; ++i) {
        const double u = C[i];
        s = sorted ? FindSpanNext(n, P, u, U, s) : FindSpan(n, P, u, U);
        if (s != e.span) e.set_span(s, U);
        C[i] = e.value(u, U, Pc);
    }
}

}  // namespace

void BasisFuns(int span, double u, int p, const double* U, double* left, double* right, double* N) {
    BasisTriangle(span, u, p, U, left, right, N, BasisQuotient{});
}

void OneBasisFun(int p, int m, const double* U, int i, double u, double* N, double& Nip) {
    const double tol = scale_tol(U[0], U[m]);
    if ((i == 0 && std::fabs(u - U[0]) <= tol) || (i == m - p - 1 && std::fabs(u - U[m]) <= tol)) {
        Nip = 1.0;
        return;
    }
    // Both ends of the local support use the tolerant assignment of FindSpan:
    // u belongs to [U[k] - tol, U[k+1] - tol), so the degree-0 functions
    // partition unity also just below a knot.
    if (u < U[i] - tol || u > U[i + p + 1] - tol) {
        Nip = 0.0;
        return;
    }
    for (int j = 0; j <= p; ++j) {
        const bool in = !(u < U[i + j] - tol) && u < U[i + j + 1] - tol;
        N[j] = in ? 1.0 : 0.0;
    }
    for (int k = 1; k <= p; ++k) {
        double saved = near_zero(N[0]) ? 0.0 : ((u - U[i]) * N[0]) / (U[i + k] - U[i]);
        for (int j = 0; j <= p - k; ++j) {
            const double Uleft = U[i + j + 1];
            const double Uright = U[i + j + k + 1];
            if (near_zero(N[j + 1])) {
                N[j] = saved;
                saved = 0.0;
            } else {
                const double temp = N[j + 1] / (Uright - Uleft);
                N[j] = saved + (Uright - u) * temp;
                saved = (u - Uleft) * temp;
            }
        }
    }
    Nip = N[0];
}

void DersBasisFuns(int span, double u, int p, int k, const double* U, double* ndu, double* a,
                   double* left, double* right, double* ders) {
    DersTriangle(span, u, p, k, U, ndu, a, left, right, ders,
                 [ndu, p](double x, int row, int col) { return x / ndu[row * (p + 1) + col]; });
}

void CurvePoint(int n, int p, const double* U, const double* P, double u, double& C, int& info) {
    info = CheckCurve(n, p, U);
    if (info) return;
    const int m = n + p + 1;
    if (u < U[0] || u > U[m]) { info = -5; return; }
    switch (p) {
    case 1: C = curve_point<1>(n, U, P, u); return;
    case 2: C = curve_point<2>(n, U, P, u); return;
    case 3: C = curve_point<3>(n, U, P, u); return;
    case 4: C = curve_point<4>(n, U, P, u); return;
    case 5: C = curve_point<5>(n, U, P, u); return;
    default: break;
    }
    Work work(3 * static_cast<std::size_t>(p + 1));
    if (!work.ok()) { info = NO_MEMORY; return; }
    double* N = work.data();
    double* left = N + (p + 1);
    double* right = left + (p + 1);
    const int span = FindSpan(n, p, u, U);
    BasisFuns(span, u, p, U, left, right, N);
    if (cancelled()) { info = CANCELLED; return; }
    double c = 0.0;
    for (int j = 0; j <= p; ++j) c = P[span - p + j] * N[j] + c;
    C = c;
}

void CurveEval(int n, int p, const double* U, const double* P, double* C, int r, int& info) {
    info = CheckCurve(n, p, U);
    if (info) return;
    const int m = n + p + 1;
    if (r < 0) { info = -6; return; }
    if (C[0] < U[0] || C[r] > U[m]) { info = -5; return; }
    // The search from the previous span agrees with FindSpan on sorted knots
    // only; a vector that merely passes the tolerant check is searched afresh.
    const bool sorted = KnotsSorted(m, U);
    switch (p) {
    case 1: curve_eval<1>(n, U, P, C, r, sorted); return;
    case 2: curve_eval<2>(n, U, P, C, r, sorted); return;
    case 3: curve_eval<3>(n, U, P, C, r, sorted); return;
    case 4: curve_eval<4>(n, U, P, C, r, sorted); return;
    case 5: curve_eval<5>(n, U, P, C, r, sorted); return;
    default: break;
    }
    Work work(3 * static_cast<std::size_t>(p + 1));
    if (!work.ok()) { info = NO_MEMORY; return; }
    double* N = work.data();
    double* left = N + (p + 1);
    double* right = left + (p + 1);
    int span = p;
    for (int i = 0; i <= r; ++i) {
        const double u = C[i];
        span = sorted ? FindSpanFrom(n, p, u, U, span) : FindSpan(n, p, u, U);
        BasisFuns(span, u, p, U, left, right, N);
        if (cancelled()) { info = CANCELLED; return; }
        double c = 0.0;
        for (int j = 0; j <= p; ++j) c = P[span - p + j] * N[j] + c;
        C[i] = c;
    }
}

void CurveDerivsAlg1(int n, int p, const double* U, const double* P, double u, int d, double* CK,
                     int& info) {
    info = CheckCurve(n, p, U);
    if (info) return;
    const int m = n + p + 1;
    if (u < U[0] || u > U[m]) { info = -5; return; }
    if (d < 0) { info = -6; return; }
    const int du = std::min(d, p);
    if (p >= 1 && p <= 5) {
        for (int k = p + 1; k <= d; ++k) CK[k] = 0.0;
        switch (p) {
        case 1: curve_derivs_point<1>(n, U, P, u, du, CK); break;
        case 2: curve_derivs_point<2>(n, U, P, u, du, CK); break;
        case 3: curve_derivs_point<3>(n, U, P, u, du, CK); break;
        case 4: curve_derivs_point<4>(n, U, P, u, du, CK); break;
        default: curve_derivs_point<5>(n, U, P, u, du, CK); break;
        }
        return;
    }
    const std::size_t w = static_cast<std::size_t>(p + 1);
    Work work(w * (du + 1) + 2 * w + w * w + 2 * w);
    if (!work.ok()) { info = NO_MEMORY; return; }
    double* nders = work.data();
    double* left = nders + w * (du + 1);
    double* right = left + w;
    double* ndu = right + w;
    double* a = ndu + w * w;
    for (int k = p + 1; k <= d; ++k) CK[k] = 0.0;
    const int span = FindSpan(n, p, u, U);
    DersBasisFuns(span, u, p, du, U, ndu, a, left, right, nders);
    if (cancelled()) { info = CANCELLED; return; }
    for (int k = 0; k <= du; ++k) {
        double c = 0.0;
        for (int j = 0; j <= p; ++j) c += nders[k * w + j] * P[span - p + j];
        CK[k] = c;
    }
}

void CurveDerivsEval(int n, int p, const double* U, const double* P, int r1, int r2, int rC,
                     const double* C, int nr, double* CK, int& info) {
    info = CheckCurve(n, p, U);
    if (info) return;
    const int m = n + p + 1;
    if (r1 < 0) { info = -5; return; }
    if (r2 < r1) { info = -6; return; }
    if (rC < 0) { info = -7; return; }
    if (C[0] < U[0] || C[rC] > U[m]) { info = -8; return; }
    if (nr != r2 - r1) { info = -9; return; }
    const bool sorted = KnotsSorted(m, U);
    switch (p) {
    case 1: curve_derivs_eval<1>(n, U, P, r1, r2, rC, C, CK, sorted); return;
    case 2: curve_derivs_eval<2>(n, U, P, r1, r2, rC, C, CK, sorted); return;
    case 3: curve_derivs_eval<3>(n, U, P, r1, r2, rC, C, CK, sorted); return;
    case 4: curve_derivs_eval<4>(n, U, P, r1, r2, rC, C, CK, sorted); return;
    case 5: curve_derivs_eval<5>(n, U, P, r1, r2, rC, C, CK, sorted); return;
    default: break;
    }
    const int du = std::min(r2, p);
    const std::size_t w = static_cast<std::size_t>(p + 1);
    Work work(w * (du + 1) + 2 * w + w * w + 2 * w);
    if (!work.ok()) { info = NO_MEMORY; return; }
    double* nders = work.data();
    double* left = nders + w * (du + 1);
    double* right = left + w;
    double* ndu = right + w;
    double* a = ndu + w * w;
    const std::size_t cols = static_cast<std::size_t>(rC) + 1;
    int span = p;
    for (int i = 0; i <= rC; ++i) {
        const double u = C[i];
        span = sorted ? FindSpanFrom(n, p, u, U, span) : FindSpan(n, p, u, U);
        DersBasisFuns(span, u, p, du, U, ndu, a, left, right, nders);
        if (cancelled()) { info = CANCELLED; return; }
        for (int k = 0; k <= r2 - r1; ++k) {
            double c = 0.0;
            if (k + r1 <= p) {
                const double* row = nders + (k + r1) * w;
                for (int j = 0; j <= p; ++j) c += row[j] * P[span - p + j];
            }
            CK[k * cols + i] = c;
        }
    }
}

}  // namespace cardo
