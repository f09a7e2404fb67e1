// cardo: the numeric kernel of pyvelt.arcus.
//
// Plain routines over double arrays; no Python inside. Sizes are passed as
// highest indices (n, m), never as lengths. Routines that can fail report a
// status through their last argument `info`:
//   0 success, -k the k-th argument is invalid (routine-specific codes -5 and
//   below), 1 allocation failure, 2 division by zero, 3 not implemented,
//   4 iteration limit, 5 out of range, 6 other.
// Scalar inputs are passed by value, scalar outputs by reference.
#pragma once

#include <cmath>

namespace cardo {

// ------------------------------------------------------------ knot tolerance

constexpr double KNOT_RTOL = 1e-9;
constexpr double KNOT_ATOL = 1e-13;

// Tolerance for comparing the knots a and b.
inline double ktol(double a, double b) {
    double t = KNOT_RTOL * std::fmax(std::fabs(a), std::fabs(b));
    return t > KNOT_ATOL ? t : KNOT_ATOL;
}
// a == b within the knot tolerance (NaN never compares equal).
inline bool keq(double a, double b) { return std::fabs(a - b) <= ktol(a, b); }
// |x| <= 1e-13.
inline bool near_zero(double x) { return std::fabs(x) <= KNOT_ATOL; }

// ------------------------------------------------------------ knot vectors and spans

int ValidKnotVector(int n, int p, const double* U);
void EquallySpaced(int n, const double* u, int p, double* U);
void AveragingAlg1(int n, const double* u, int p, double* U);
void AveragingAlg2(int n, const double* u, int p, double* U);
void AveragingAlg3(int n, const double* u, int p, int k, int l, double* U);
void KnotEvalL2Approx(int m, const double* u, int p, int n, double* U);
void AveragingCpts(int n, int p, const double* U, double* C, int& info);
int FindSpan(int n, int p, double u, const double* U);
void FindSpanMult(int n, int p, double u, const double* U, int& span, int& mult);
void IncreaseMultByOne(int m, int p, const double* U, int mh, double* Uh);
int BinomialCoeff(unsigned a, unsigned b);

// Span search that starts from a previous span `hint` (any value) and returns
// exactly what FindSpan returns.
int FindSpanFrom(int n, int p, double u, const double* U, int hint);

// ------------------------------------------------------------ basis functions and evaluation

void BasisFuns(int span, double u, int p, const double* U, double* left, double* right, double* N);
void OneBasisFun(int p, int m, const double* U, int i, double u, double* N, double& Nip);
void DersBasisFuns(int span, double u, int p, int k, const double* U, double* ndu, double* a,
                   double* left, double* right, double* ders);
void CurvePoint(int n, int p, const double* U, const double* P, double u, double& C, int& info);
void CurveEval(int n, int p, const double* U, const double* P, double* C, int r, int& info);
void CurveDerivsAlg1(int n, int p, const double* U, const double* P, double u, int d, double* CK,
                     int& info);
void CurveDerivsEval(int n, int p, const double* U, const double* P, int r1, int r2, int rC,
                     const double* C, int nr, double* CK, int& info);

// ------------------------------------------------------------ derivative and antiderivative control points

// ------------------------------------------------------------ knot insertion and refinement

// ------------------------------------------------------------ knot removal

// ------------------------------------------------------------ degree elevation

// ------------------------------------------------------------ Bezier utilities

// ------------------------------------------------------------ interpolation

// Cubic C2 interpolation with end slopes (The NURBS Book A9.2): Q[0..n] the
// data ordinates, U the cubic knot vector of n + 7 knots whose interior knots
// are the interior abscissae, P[0], P[1], P[n+1], P[n+2] already set; fills
// P[2..n]. info: -1 n <= 2, -3 invalid U, 1 allocation failure, 2 a zero
// pivot (coincident interior knots).
void SolveTridiagonal(int n, const double* Q, const double* U, double* P, int& info);

// ------------------------------------------------------------ least-squares approximation

// ------------------------------------------------------------ curve algebra

}  // namespace cardo
