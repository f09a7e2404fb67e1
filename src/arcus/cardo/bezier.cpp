// Bezier segments on [0, 1]: Bernstein polynomials, point evaluation
// (The NURBS Book A1.3, A1.4, A1.5) and the Bezier matrix.
#include "cardo.h"
#include "scratch.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>

namespace cardo {

namespace {

bool outside_unit(double u) { return u < 0.0 || u > 1.0; }

// Bernstein sum with B as work storage (n + 1 doubles).
double bernstein_sum(const double* P, int n, double u, double* B) {
    AllBernstein(n, u, B);
    double C = 0.0;
    for (int k = 0; k <= n; ++k) C = B[k] * P[k] + C;
    return C;
}

// de Casteljau with Q as work storage (n + 1 doubles).
double casteljau(const double* P, int n, double u, double* Q) {
    for (int i = 0; i <= n; ++i) Q[i] = P[i];
    for (int k = 1; k <= n; ++k) {
        for (int i = 0; i <= n - k; ++i) Q[i] = (1.0 - u) * Q[i] + u * Q[i + 1];
    }
    return Q[0];
}

// The evaluation of every parameter of C[0..nc]; all are checked first.
template <double (*Eval)(const double*, int, double, double*)>
void eval_all(const double* P, int n, double* C, int nc, int& info) {
    info = OK;
    if (n < 0) { info = -2; return; }
    for (int i = 0; i <= nc; ++i) {
        if (outside_unit(C[i])) { info = -3; return; }
    }
    if (nc < 0) return;
    Scratch<double> work(static_cast<std::size_t>(n) + 1);
    if (!work.ok()) { info = NO_MEMORY; return; }
    for (int i = 0; i <= nc; ++i) C[i] = Eval(P, n, C[i], work.data());
}

template <double (*Eval)(const double*, int, double, double*)>
void eval_one(const double* P, int n, double u, double& C, int& info) {
    info = OK;
    if (n < 0) { info = -2; return; }
    if (outside_unit(u)) { info = -3; return; }
    Scratch<double> work(static_cast<std::size_t>(n) + 1);
    if (!work.ok()) { info = NO_MEMORY; return; }
    C = Eval(P, n, u, work.data());
}

}  // namespace

// C(a, b) as a double; row a fits a 32-bit int up to MAX_INT_BINOMIAL and a
// 64-bit one up to twice that.
double Binomial(int a, int b) {
    if (a <= MAX_INT_BINOMIAL) return BinomialCoeff(a, b);
    b = std::min(b, a - b);
    if (a <= 2 * MAX_INT_BINOMIAL) {
        std::uint64_t row[MAX_INT_BINOMIAL + 1] = {1};  // b <= MAX_INT_BINOMIAL
        for (int i = 1; i <= a; ++i) {
            for (int j = std::min(i, b); j >= 1; --j) row[j] += row[j - 1];
        }
        return static_cast<double>(row[b]);
    }
    return std::exp(std::lgamma(a + 1.0) - std::lgamma(b + 1.0) - std::lgamma(a - b + 1.0));
}


void AllBernstein(int n, double u, double* B) {
    B[0] = 1.0;
    for (int j = 1; j <= n; ++j) {
        double saved = 0.0;
        for (int k = 0; k < j; ++k) {
            const double temp = B[k];
            B[k] = saved + (1.0 - u) * temp;
            saved = u * temp;
        }
        B[j] = saved;
    }
}

void PointOnBezierCurve(const double* P, int n, double u, double& C, int& info) {
    eval_one<bernstein_sum>(P, n, u, C, info);
}

void deCasteljau1(const double* P, int n, double u, double& C, int& info) {
    eval_one<casteljau>(P, n, u, C, info);
}

void BezierCurveEval(const double* P, int n, double* C, int nc, int& info) {
    eval_all<bernstein_sum>(P, n, C, nc, info);
}

void BezierCurveEval2(const double* P, int n, double* C, int nc, int& info) {
    eval_all<casteljau>(P, n, C, nc, info);
}

double GetBezierMatrixElement(int p, int i, int j, double& out) {
    if (p < 0 || i < 0 || j < 0) {
        out = 0.0;
        return out;
    }
    const double sign = std::pow(-1.0, static_cast<double>(i - j));
    if (i > p || j > i) {
        // Bin(p, i) = 0 or Bin(i, j) = 0: no coefficient row to build.
        out = sign * 0.0;
        return out;
    }
    // The product of the two binomials in double precision: equal to the
    // integer product wherever that one fits.
    out = sign * (Binomial(p, i) * Binomial(i, j));
    return out;
}

void GetBezierMatrix(int p, double* M) {
    const std::size_t w = static_cast<std::size_t>(p) + 1;
    for (int i = 0; i <= p; ++i) {
        for (int j = 0; j <= i; ++j) GetBezierMatrixElement(p, i, j, M[i * w + j]);
    }
}

}  // namespace cardo
