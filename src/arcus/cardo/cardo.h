// cardo: the numeric kernel of pyvelt.arcus.
//
// Plain routines over double arrays; no Python inside. Sizes are passed as
// highest indices (n, m), never as lengths. Routines that can fail report a
// status through their last argument `info` (status.h): 0 success (OK), -k
// the k-th argument is invalid (routine-specific codes -5 and below), and the
// named positive values: NO_MEMORY 1, DIVISION_BY_ZERO 2, NOT_IMPLEMENTED 3,
// ITERATION_LIMIT 4, OUT_OF_RANGE 5, OTHER 6, CANCELLED 10, BAND_MISFIT 11,
// SOLVER_FAILED 12. A routine's *Check companion returns the status of its
// argument checks without writing anything.
// Scalar inputs are passed by value, scalar outputs by reference.
#pragma once

#include "arcus/cardo/cancel.h"
#include "arcus/cardo/status.h"

#include <cmath>
#include <cstddef>
#include <type_traits>

namespace cardo {

// ------------------------------------------------------------ knot tolerance

constexpr double KNOT_RTOL = 1e-9;
constexpr double KNOT_ATOL = 1e-13;

// Tolerance for comparing the knots a and b.
inline double ktol(double a, double b) {
    // The larger magnitude with the NaN rule of fmax (a NaN operand yields the
    // other one), written out so that it stays inline instead of a libm call.
    const double fa = std::fabs(a), fb = std::fabs(b);
    const double big = (fa > fb || fb != fb) ? fa : fb;
    double t = KNOT_RTOL * big;
    return t > KNOT_ATOL ? t : KNOT_ATOL;
}
// a == b within the knot tolerance (NaN never compares equal).
inline bool keq(double a, double b) { return std::fabs(a - b) <= ktol(a, b); }

// The rounding tolerance of a knot vector: the span search, multiplicities,
// insertion, refinement and the sum take two knots, or a point and a knot,
// for the same when they differ by at most KNOT_ULPS units of rounding of the
// vector's scale, the larger magnitude of its domain ends lo and hi. It stands
// for the rounding of the knots themselves, so it moves with the time axis:
// shifting or scaling the axis changes results only by the rounding of the
// shifted times, and two knots farther apart than a few ulps are never the
// same. (ktol above, a relative tolerance of 1e-9, stays for validation,
// removal and tolerant equality.) NaN or infinite ends give 0: exact tests.
constexpr double KNOT_ULPS = 4.0;
inline double scale_tol(double lo, double hi) {
    const double fa = std::fabs(lo), fb = std::fabs(hi);
    const double t = KNOT_ULPS * 2.220446049250313e-16 * (fa > fb ? fa : fb);
    return t < 1.79e308 ? t : 0.0;  // also 0 for NaN
}
// scale_tol of the domain [U[p], U[n+1]] of a clamped vector.
inline double span_tol(int n, int p, const double* U) { return scale_tol(U[p], U[n + 1]); }
// The knot vectors U1[0..m] and U2[0..m] are the same within the rounding
// tolerance of U1 (NaN knots never are).
inline bool same_knots(int m, const double* U1, const double* U2) {
    const double tol = scale_tol(U1[0], U1[m]);
    for (int i = 0; i <= m; ++i) {
        if (!(std::fabs(U1[i] - U2[i]) <= tol)) return false;
    }
    return true;
}
// |x| <= 1e-13.
inline bool near_zero(double x) { return std::fabs(x) <= KNOT_ATOL; }

// ------------------------------------------------------------ knot vectors and spans

// 0 when U[0..n+p+1] is a valid clamped knot vector of degree p (p + 1 equal
// knots at each end, non-decreasing within the knot tolerance), else 1.
int ValidKnotVector(int n, int p, const double* U);
// Positions of a curve's n, p and U in a routine's arguments, for the
// statuses of CheckCurve (most routines begin with n, p, U).
struct CurveArgs {
    int n = 1;
    int p = 2;
    int U = 3;
};
// The checks that every routine on a curve of degree p with the knots
// U[0..n+p+1] makes first, in this order: p < 0, n < p, an invalid knot
// vector (ValidKnotVector). The status of the first that fails, the invalid
// argument at its position in `at` (-2, -1, -3 by default), OK when all pass.
int CheckCurve(int n, int p, const double* U, CurveArgs at = {});
// The first two of them (U is not read).
int CheckCurveSizes(int n, int p, CurveArgs at = {});
// The checks of a span search of degree p over the knots U[0..m] for a caller
// whose arguments are (p, u, U): -1 p < 0, -3 fewer than 2p + 2 knots or an
// invalid knot vector (n = m - p - 1 stands for the length of U), OK.
int FindSpanCheck(int m, int p, const double* U);
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
// The number of changes of value (exact comparisons) among the knots
// U[p..len-p-1] of a vector of len knots, that is the distinct interior knots
// of a clamped vector; 0 when it has no interior knot. p >= 0.
int DistinctKnots(std::ptrdiff_t len, int p, const double* U);
// Highest a for which every C(a, b) fits BinomialCoeff's 32-bit int
// (C(34, 17) does not).
constexpr int MAX_INT_BINOMIAL = 33;
// C(a, b) for 0 <= b <= a, as a double: BinomialCoeff up to MAX_INT_BINOMIAL,
// the exact value from a 64-bit row up to twice that, beyond from logarithms
// (infinite past the range of doubles).
double Binomial(int a, int b);

// True when the knots U[0..m] are finite and non-decreasing (no tolerance).
bool KnotsSorted(int m, const double* U);
// Span search that starts from a previous span `hint` (any value) and, on
// knots for which KnotsSorted holds, returns exactly what FindSpan returns
// (on other knots the two may pick different admissible spans).
int FindSpanFrom(int n, int p, double u, const double* U, int hint);
// The last index j in p..n with U[j] <= u (exact comparisons; p when there is
// none, or for a NaN u), by a bisection without branches on the data. On
// knots for which KnotsSorted holds, FindSpan's span is j or one of the next
// spans (the tolerance only moves u to a later span), so j is a hint for
// FindSpanFrom.
inline int FindSpanGuess(int n, int p, double u, const double* U) {
    const double* base = U + p;
    int len = n - p + 1;
    while (len > 1) {
        const int half = len / 2;
        base = base[half] <= u ? base + half : base;
        len -= half;
    }
    return static_cast<int>(base - U);
}
// The span of u on knots for which KnotsSorted holds, exactly as FindSpan
// finds it: u in the span `hint` or in the next one (checked inline, the
// common case of increasing parameters), else FindSpanFrom from the
// bisection's guess; hint in p..n.
inline int FindSpanNext(int n, int p, double u, const double* U, int hint) {
    if (u >= U[hint]) {
        const double tol = span_tol(n, p, U);
        if (u < U[hint + 1] - tol) return hint;
        if (hint < n && u >= U[hint + 1] && u < U[hint + 2] - tol) return hint + 1;
    }
    return FindSpanFrom(n, p, u, U, FindSpanGuess(n, p, u, U));
}

// ------------------------------------------------------------ basis functions and evaluation

void BasisFuns(int span, double u, int p, const double* U, double* left, double* right, double* N);
// The triangle of BasisFuns (The NURBS Book A2.2) for a degree `p` that is an
// int or a std::integral_constant (then the loops have fixed bounds).
// `temp(j, r, Nr, right_r1, left_jr)` gives the quotient of N[r] by the knot
// difference right[r+1] + left[j-r].
template <typename Deg, typename Temp>
inline void BasisTriangle(int span, double u, Deg p, const double* U, double* left, double* right,
                          double* N, Temp temp) {
    N[0] = 1.0;
    for (int j = 1; j <= p; ++j) {
        // A degree known only at run time may be huge: long work.
        if constexpr (std::is_same_v<Deg, int>) {
            if (cancel_point(static_cast<std::size_t>(j))) return;
        }
        left[j] = u - U[span + 1 - j];
        right[j] = U[span + j] - u;
        double saved = 0.0;
        for (int r = 0; r < j; ++r) {
            const double t = temp(j, r, N[r], right[r + 1], left[j - r]);
            N[r] = saved + right[r + 1] * t;
            saved = left[j - r] * t;
        }
        N[j] = saved;
    }
}
// The quotient of BasisFuns itself.
struct BasisQuotient {
    double operator()(int, int, double Nr, double right_r1, double left_jr) const {
        return Nr / (right_r1 + left_jr);
    }
};
// BasisFuns for a fixed degree P with its work arrays on the stack: the same
// operations in the same order, hence the same values.
template <int P>
inline void BasisFunsFixed(int span, double u, const double* U, double* N) {
    double left[P + 1], right[P + 1];
    BasisTriangle(span, u, std::integral_constant<int, P>{}, U, left, right, N, BasisQuotient{});
}
// DersBasisFuns (The NURBS Book A2.3) for a degree `p` that is an int or a
// std::integral_constant, and so for the highest order k; `div(x, row, col)` divides x by the knot
// difference ndu[row][col] (row > col) of the lower triangle.
template <typename Deg, typename Ord, typename Div>
inline void DersTriangle(int span, double u, Deg p, Ord k, const double* U, double* ndu, double* a,
                         double* left, double* right, double* ders, Div div) {
    const int w = p + 1;  // row length of ndu, a and ders
    // Derivatives above the degree vanish; they are not computed.
    const int kk = k < p ? k : static_cast<int>(p);
    for (int q = kk + 1; q <= k; ++q) {
        for (int j = 0; j <= p; ++j) ders[q * w + j] = 0.0;
    }
    ndu[0] = 1.0;
    for (int j = 1; j <= p; ++j) {
        if constexpr (std::is_same_v<Deg, int>) {
            if (cancel_point(static_cast<std::size_t>(j))) return;
        }
        left[j] = u - U[span + 1 - j];
        right[j] = U[span + j] - u;
        double saved = 0.0;
        for (int r = 0; r < j; ++r) {
            ndu[j * w + r] = right[r + 1] + left[j - r];
            const double temp = div(ndu[r * w + j - 1], j, r);
            ndu[r * w + j] = saved + right[r + 1] * temp;
            saved = left[j - r] * temp;
        }
        ndu[j * w + j] = saved;
    }
    for (int j = 0; j <= p; ++j) ders[j] = ndu[j * w + p];
    for (int r = 0; r <= p; ++r) {
        if constexpr (std::is_same_v<Deg, int>) {
            if (cancel_point(static_cast<std::size_t>(kk) * (kk + 1))) return;
        }
        int s1 = 0, s2 = 1;
        a[0] = 1.0;
        for (int q = 1; q <= kk; ++q) {
            double d = 0.0;
            const int rk = r - q, pk = p - q;
            if (r >= q) {
                a[s2 * w] = div(a[s1 * w], pk + 1, rk);
                d = a[s2 * w] * ndu[rk * w + pk];
            }
            const int j1 = rk >= -1 ? 1 : -rk;
            const int j2 = (r - 1 <= pk) ? q - 1 : p - r;
            for (int j = j1; j <= j2; ++j) {
                a[s2 * w + j] = div(a[s1 * w + j] - a[s1 * w + j - 1], pk + 1, rk + j);
                d += a[s2 * w + j] * ndu[(rk + j) * w + pk];
            }
            if (r <= pk) {
                a[s2 * w + q] = div(-a[s1 * w + q - 1], pk + 1, r);
                d += a[s2 * w + q] * ndu[r * w + pk];
            }
            ders[q * w + r] = d;
            const int t = s1;
            s1 = s2;
            s2 = t;
        }
    }
    // The factor p (p-1) ... (p-q+1) in double: exact as long as it fits in
    // 53 bits, and never an integer overflow for high degrees.
    double r = p;
    for (int q = 1; q <= kk; ++q) {
        for (int j = 0; j <= p; ++j) ders[q * w + j] *= r;
        r *= (p - q);
    }
}
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

// The argument checks of each routine below, in its order: the status the
// routine reports before writing anything, 0 when they pass.
int CurveDerivCptsAlg1Check(int n, int p, const double* U, int d, int r1, int r2);
// PK is row-major with rows of n + 1 elements; row k holds the k-th derivative.
void CurveDerivCptsAlg1(int n, int p, const double* U, const double* P, int d, int r1, int r2,
                        double* PK, int& info);
int CurveDerivCptsAlg2Check(int n, int p, const double* U, int d);
void CurveDerivCptsAlg2(int n, int& p, const double* U, const double* P, int d, int& nk,
                        double* UK, double* PK, int& info);
int CurveAntiDerivCptsCheck(int n, int p, const double* U, int d, int nk);
void CurveAntiDerivCpts(int n, int& p, const double* U, const double* P, int d, int& nk,
                        double* UK, double* PK, int& info);

// ------------------------------------------------------------ knot insertion and refinement

// The argument checks of each routine below, in its order (0 when they pass).
int CurveKnotInsCheck(int np, int p, const double* UP, double u, int k, int s, int r);
// The checks of CurveKnotInsCheck that follow the knot-vector test (-5 .. -8).
int CurveKnotInsCheckArgs(int np, int p, const double* UP, double u, int k, int s, int r);
// CurveKnotIns once its checks have passed; returns its info (OK, NO_MEMORY
// or DIVISION_BY_ZERO).
int CurveKnotInsChecked(int np, int p, const double* UP, const double* P, double u, int k, int s,
                        int r, int& nq, double* UQ, double* Q);
void CurveKnotIns(int np, int p, const double* UP, const double* P, double u, int k, int s, int r,
                  int& nq, double* UQ, double* Q, int& info);
int RefineKnotVectCurveCheck(int n, int p, const double* U, const double* X, int r);
void RefineKnotVectCurve(int n, int p, const double* U, const double* P, const double* X, int r,
                         double* Ubar, double* Q, int& info);

// ------------------------------------------------------------ knot removal

// Removal of the knot u (last copy at index r, s copies) up to num times, each
// removal within TOL; t = the number of removals made. U and P are compacted
// in place: the result occupies U[0..m-t] and P[0..n-t].
// info: -2 p < 0, -1 n < p, -3 invalid U, -5 u outside [U[0], U[m]], -7 u is not
// a removable interior knot (s <= 0, s > p + 1, or copies outside U[p+1..n],
// as those of the start knot), -8 num <= 0 or num > s, -9 TOL < 0, NO_MEMORY.
void RemoveCurveKnot(int n, int p, double* U, double* P, double u, int r, int s, int num,
                     double TOL, int& t, int& info);
// RemoveCurveKnot with TOL = +infinity: every removal is made unless its
// deviation is not finite (NaN, or infinite next to a knot of more than p + 1
// copies), which no tolerance accepts.
void RemoveCurveKnotWithoutTol(int n, int p, double* U, double* P, double u, int r, int s,
                               int num, int& t, int& info);
// Removes, knot value by knot value, every interior knot copy that can go
// within TOL; nrem = the total removed. info: -2, -1, -3 as above, -5 TOL < 0
// or NaN, NO_MEMORY.
void RemoveCurveKnots(int n, int p, double* U, double* P, double TOL, int& nrem, int& info);
// Error bound Br of one removal of u (r, s as above); temp holds at least
// max(2p + 1, p - s + 3) doubles. The removal reads only P[r-p-1 .. r-s+1]
// (n is not read), inside P[0..n] when GetRemovalBndCurveCheck passes.
// U is not checked.
void GetRemovalBndCurve(int n, int p, const double* U, const double* P, double u, int r, int s,
                        double* temp, double& Br);
// The checks that keep GetRemovalBndCurve inside P, with the codes of
// RemoveCurveKnot: -2 p < 0, -1 n < p, -7 a run (r, s) whose removal needs a
// control point outside P[0..n] (s > p + 1, r - p - 1 < 0 or r - s + 1 > n);
// OK when they pass.
int GetRemovalBndCurveCheck(int n, int p, int r, int s);

// ------------------------------------------------------------ degree elevation

// Checks of DegreeElevateCurve, without writing anything: OK, or the info code.
// Besides ValidKnotVector, a knot value repeated (exactly) more than p + 1 times
// is refused with -3: the segments of such a vector are not defined.
int DegreeElevateCheck(int n, int p, const double* U, int t);
// Highest indices nh (control points) and mh (knots) of the result of
// DegreeElevateCurve, for arguments that pass DegreeElevateCheck; 64-bit so
// that absurd t cannot overflow.
void DegreeElevateSizes(int n, int p, const double* U, int t, long long& nh, long long& mh);
// Raises the degree by t (The NURBS Book A5.9, stable knot removal). Uh and
// Q must hold mh + 1 and nh + 1 doubles (DegreeElevateSizes). info: -2 p < 0,
// -1 n < p, -3 invalid U, -5 t <= 0, NO_MEMORY, CANCELLED; on a nonzero info
// nothing is written.
void DegreeElevateCurve(int n, int p, const double* U, const double* P, int t, double* Uh,
                        int& nh, double* Q, int& info);

// ------------------------------------------------------------ Bezier utilities

// B[k] = Bernstein polynomial B(k, n)(u), k = 0..n.
void AllBernstein(int n, double u, double* B);
// Value C at u in [0, 1] of the Bezier segment P[0..n]: Bernstein sum, resp.
// de Casteljau. info: -2 n < 0, -3 u outside [0, 1], NO_MEMORY.
void PointOnBezierCurve(const double* P, int n, double u, double& C, int& info);
void deCasteljau1(const double* P, int n, double u, double& C, int& info);
// C[i] replaced by the value at u = C[i], i = 0..nc (PointOnBezierCurve, resp.
// deCasteljau1). Every parameter is checked first: on a nonzero info C is
// unchanged. info: -2 n < 0, -3 a parameter outside [0, 1], NO_MEMORY.
void BezierCurveEval(const double* P, int n, double* C, int nc, int& info);
void BezierCurveEval2(const double* P, int n, double* C, int nc, int& info);
// Element (i, j) of the degree-p Bezier matrix, (-1)^(i-j) Bin(p, i) Bin(i, j);
// 0 for negative arguments. Written to out and returned.
double GetBezierMatrixElement(int p, int i, int j, double& out);
// Lower triangle of the degree-p Bezier matrix, row-major in M[(p+1)^2].
void GetBezierMatrix(int p, double* M);

// ------------------------------------------------------------ interpolation

// Cubic C2 interpolation with end slopes (The NURBS Book A9.2): Q[0..n] the
// data ordinates, U the cubic knot vector of n + 7 knots whose interior knots
// are the interior abscissae, P[0], P[1], P[n+1], P[n+2] already set; fills
// P[2..n]. info: -1 n <= 2, -3 invalid U, NO_MEMORY, DIVISION_BY_ZERO for a
// zero pivot (coincident interior knots).
void SolveTridiagonal(int n, const double* Q, const double* U, double* P, int& info);
// Cubic C2 interpolation through (x[i], f[i]), i = 0..n, with the end slopes
// d0 and dn: U (n + 7 knots) gets x[0] four times, x[1..n-1] and x[n] four
// times; P (n + 3 control points) gets f[0] and f[n] at its ends and, next to
// them, the control points that give the slopes; SolveTridiagonal then fills
// P[2..n]. info: -1 n < 0 (no data point, nothing written: the status of
// CubicCurveInterpCheck), else that of SolveTridiagonal, which finds U and
// the four end control points written.
int CubicCurveInterpCheck(int n);
void CubicCurveInterp(int n, const double* x, const double* f, double d0, double dn, double* U,
                      double* P, int& info);

// Global interpolation through the points (x[i], f[i]), i = 0..n, on the
// caller's knot vector U (collocation.cpp). The kernel links no LAPACK: the
// caller passes the band solver, LAPACK's dgbsv in its reference calling
// convention (every argument by address).
using BandSolver = void (*)(int* n, int* kl, int* ku, int* nrhs, double* ab, int* ldab, int* ipiv,
                            double* b, int* ldb, int* info);
// Statuses of the global interpolation besides OK, NO_MEMORY and the
// negative ones: BAND_MISFIT, the knot vector does not fit the data (a
// non-zero entry of the collocation matrix outside its band of p - 1
// diagonals on each side), and SOLVER_FAILED, a failure of the band solver.
// Where a global interpolation failed: the row and column of the first
// entry outside the band (BAND_MISFIT), the solver's info (SOLVER_FAILED).
struct CollocationFailure {
    int row = -1;
    int col = -1;
    int solver = 0;
};
// Interpolation of degree p: rows 0 and n fix P[0] = f[0] and P[n] = f[n],
// row i the basis functions at x[i], i = 1..n-1; U holds n + p + 2 knots
// and the interior abscissae lie in [U[p], U[n+1]]. Solved without pivoting
// where the abscissae make the matrix totally positive, else (and after a
// pivot that is not positive and finite) by `dgbsv`. On BAND_MISFIT P is
// unchanged; on SOLVER_FAILED it holds what the solver left.
// info: -1 n < 1 or n < p, -4 p < 1, NO_MEMORY, BAND_MISFIT,
// SOLVER_FAILED.
void GlobalCurveInterp(int n, const double* x, const double* f, int p, const double* U, double* P,
                       BandSolver dgbsv, CollocationFailure& fail, int& info);
// The same with the first derivative d0 at x[0] and dn at x[n] (The NURBS
// Book 9.2.2): n + 3 control points, U of n + p + 4 knots, interior abscissae
// in [U[p], U[n+3]]; always by `dgbsv`. info: -1 n < 1 or n < p - 2,
// -4 p < 2, NO_MEMORY, BAND_MISFIT, SOLVER_FAILED as above.
void GlobalCurveInterpSlopes(int n, const double* x, const double* f, int p, double d0, double dn,
                             const double* U, double* P, BandSolver dgbsv,
                             CollocationFailure& fail, int& info);
// The same with the derivatives Ds[0..k-1] (first, second, ...) at x[0] and
// De[0..l-1] at x[n] (Piegl and Tiller 2000): n + k + l + 1 control points,
// U of n + k + l + p + 2 knots; by `dgbsv` unless k = l = 0 (then it is
// GlobalCurveInterp). info: -4 p < 2, -5 k outside 0..p-1, -7 l outside
// 0..p-1, -1 n < 1 or n + k + l < p, NO_MEMORY, BAND_MISFIT, SOLVER_FAILED as
// above.
void GlobalCurveInterpEndDerivs(int n, const double* x, const double* f, int p, int k,
                                const double* Ds, int l, const double* De, const double* U,
                                double* P, BandSolver dgbsv, CollocationFailure& fail, int& info);

// ------------------------------------------------------------ least-squares approximation

// Banded linear least squares by Givens rotations (bandlsq.cpp). R holds nc
// rows of w doubles: row i of the upper triangular factor from its diagonal
// on (columns i .. i + w - 1); z the nc doubles of Q^T b.
// Zeroes R[0 .. nc * w - 1] and z[0 .. nc - 1].
void BandLsqInit(int nc, int w, double* R, double* z);
// Rotates the matrix row whose entries of the columns col .. col + w - 1 are
// row[0 .. w - 1] (entries of columns nc and beyond count as zero), with its
// right-hand side rhs, into R and z. `row` is used as work. info: -1 nc < 0,
// -2 w < 1, -5 col outside 0 .. nc - 1.
void BandLsqAddRow(int nc, int w, double* R, double* z, int col, double* row, double rhs,
                   int& info);
// The same for the nr rows of a block whose entries of the columns col ..
// col + w - 1 are A[t * ld + r] (t = 0 .. w - 1, r = 0 .. nr - 1), with the
// right-hand sides b[0 .. nr - 1], by Householder reflections. A holds
// (2w - 1) * ld doubles and b and row (w doubles) are used as work.
// info: -1 nc < 0, -2 w < 1, -5 col outside 0 .. nc - 1, -6 nr < 0, -7 ld < nr.
void BandLsqAddBlock(int nc, int w, double* R, double* z, int col, int nr, int ld, double* A,
                     double* b, double* row, int& info);
// Solves R x = z by back substitution, x replacing z. A diagonal entry of R
// that is zero or at most rtol times the largest one makes the system rank
// deficient: info DIVISION_BY_ZERO, `col` the first such column, z
// unchanged. Otherwise info OK and col -1. info: -1 nc < 0, -2 w < 1, -5 rtol negative or NaN.
void BandLsqSolve(int nc, int w, const double* R, double* z, double rtol, int& col, int& info);

// ------------------------------------------------------------ least-squares fit of control points

// True when U[0..m] is clamped (p + 1 equal knots at each end), finite and
// non-decreasing: the knot vectors on which the span search and BasisFuns
// give every non-zero basis value that OneBasisFun gives, at every parameter
// of [U[0], U[m]], so that CurveLsqFit can use a band factor.
bool CurveLsqBanded(int p, int m, const double* U);
// The number of doubles of CurveLsqFit's work array.
std::ptrdiff_t CurveLsqWorkLen(int p, int nfree, bool banded);
// Fits the control points P[first..n-first] of the curve of degree p on
// U[0..n+p+1] to the inner data points (x[k], f[k]), k = 1 .. mi - 1, in the
// least-squares sense, the nfix control points P[fidx[q]] = fval[q] held
// fixed (and written first); `banded` from CurveLsqBanded, `work` of
// CurveLsqWorkLen(p, n + 1 - 2 first, banded) doubles. info in the convention
// of LAPACK's dgesv: 0, or the 1-based index of the first free control point
// whose diagonal entry of the factor is at most max(mi - 1, free points) * eps
// times the largest one (rank deficient); negative when the factorisation
// refused its arguments.
void CurveLsqFit(int n, int p, const double* U, int mi, const double* x, const double* f,
                 int first, int nfix, const int* fidx, const double* fval, bool banded,
                 double* work, double* P, int& info);

// ------------------------------------------------------------ curve algebra

// Highest index of the union of the clamped knot vectors U1[0..m1] and
// U2[0..m2] of degree p (exact comparisons); -1 when the interior knots of
// U2 run past the end of U1.
int KnotUnionDim(int m1, const double* U1, int m2, const double* U2, int p);
// Splits the `count` interior knots of the union: those of U2 missing from U1
// go to X1[0..nx1-1], those of U1 missing from U2 to X2[0..nx2-1]. False when
// the knots do not fill X1 and X2 exactly (or would overrun an array).
bool MergeKnots(int m1, const double* U1, int m2, const double* U2, int p, int count, double* X1,
                int nx1, double* X2, int nx2);
// The sum of the curves (U1[0..m1], P1) and (U2[0..m2], P2) of degree p on the
// union UK[0..mk] of their knot vectors (mk from KnotUnionDim, mk > m1 or
// mk > m2): the interior knots each curve lacks are merged into X1
// (mk - m1 doubles) and X2 (mk - m2), both curves are refined onto UK and
// their control points PK[0..mk-p-1] added (Q2, mk - p doubles, holds the
// second curve). False, with nothing refined, when the knots do not merge
// (MergeKnots). info: the status of the first refinement when it failed
// (or was cancelled), else that of the second.
bool CurveSumRefined(int m1, const double* U1, const double* P1, int m2, const double* U2,
                     const double* P2, int p, int mk, double* UK, double* PK, double* X1,
                     double* X2, double* Q2, int& info);
// The sum of two curves on the same knots U[0..m]: UK gets U (UK may be U)
// and PK[0..n] = P1 + P2.
void CurveSumSameKnots(int m, const double* U, int n, const double* P1, const double* P2,
                       double* UK, double* PK);
// The join of (Ul[0..ml], Pl[0..nl]) and (Ur, Pr[0..nr]) of degree p: UK gets
// Ul and then the knots Ur[p+1..p+1+nr] shifted so that Ur[0] falls on Ul[ml];
// PK gets Pl and then Pr. UK holds ml + nr + 2 doubles, PK nl + nr + 2.
void CurveJoin(std::ptrdiff_t ml, const double* Ul, std::ptrdiff_t nl, const double* Pl,
               const double* Ur, std::ptrdiff_t nr, const double* Pr, int p, double* UK,
               double* PK);
// The split at u of the curve (U[0..n+p+1], P[0..n]) of degree p, u strictly
// inside the domain, in the span `span` with s < p + 1 copies (FindSpanMult):
// u is inserted up to multiplicity p, and the last copy of u and the split
// control point doubled, so that UK holds the left knot vector followed by
// the right one and PK the left control points PK[0..nl] followed by the
// right ones PK[nl+1..nl+nr+1]. UK holds n + 2p - s + 3 doubles, PK
// n + p - s + 2. info: that of CurveKnotIns (nl and nr unset on a failure).
void CurveSplit(int n, int p, const double* U, const double* P, double u, int span, int s,
                double* UK, double* PK, int& nl, int& nr, int& info);

}  // namespace cardo
