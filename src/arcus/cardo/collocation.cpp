// Global interpolation: the collocation systems of the global methods,
// assembled row by row and solved in band form (kl = ku = p - 1).
//
// Plain collocation (every row but the first and the last holds the p + 1
// basis functions of its span at one abscissa) at abscissae that satisfy the
// Schoenberg-Whitney conditions gives a totally positive, non-singular
// matrix: Gaussian elimination without pivoting is then stable, its factors
// are non-negative and need no room beyond the band itself (C. de Boor,
// A. Pinkus, Backward error analysis for totally positive linear systems,
// Numer. Math. 27, 1977). GlobalCurveInterp eliminates each row as soon as
// it is assembled and keeps only the p entries of each row of the upper
// factor. Where the conditions do not hold, or a pivot is not positive and
// finite, the band is assembled in LAPACK storage and solved by the band
// solver the caller passes (dgbsv, with partial pivoting), as it is for the
// systems with rows of end derivatives, which are not totally positive.
#include "cardo.h"
#include "scratch.h"

#include <climits>
#include <cmath>
#include <cstddef>
#include <type_traits>

namespace cardo {

namespace {

// BasisFuns for a degree known at run time, with its work arrays; for a
// fixed degree the work stays on the stack (the same values).
inline void basis(int span, double u, int p, const double* U, double* left, double* right,
                  double* N) {
    BasisFuns(span, u, p, U, left, right, N);
}
template <int Q>
inline void basis(int span, double u, std::integral_constant<int, Q>, const double* U, double*,
                  double*, double* N) {
    BasisFunsFixed<Q>(span, u, U, N);
}

// The span of u on knots for which KnotsSorted holds, exactly as FindSpan
// finds it, when u follows an abscissa of the span `hint`: u in that span,
// or in the next one by the tolerant rule of the span search (within the
// tolerance below its first knot, as abscissae at the knots often are), else
// FindSpanNext. tol = span_tol(n, p, U).
inline int next_span(int n, int p, double u, const double* U, int hint, double tol) {
    if (u >= U[hint] && u < U[hint + 1] - tol) return hint;
    // A u above the tolerant lower end of span hint + 1 (hint + 1 > p) and
    // below that of the next is in that span alone.
    if (hint < n && u > U[hint + 1] - tol && u < U[hint + 2] - tol) return hint + 1;
    return FindSpanNext(n, p, u, U, hint);
}

// ------------------------------------------------------------ LAPACK band storage

// A square matrix in LAPACK general band storage with kl = ku = p - 1. An
// entry that falls outside the band is not stored; a non-zero one there is
// recorded (the knot vector does not fit the data) and stops the filling.
struct Band {
    double* ab;
    int ldab;
    int kl;
    int ku;
    int bad_row = -1;
    int bad_col = -1;

    bool put(int i, int j, double v) {
        const int d = i - j;
        if (d > kl || -d > ku) {
            if (v == 0.0) return true;
            if (bad_row < 0) {
                bad_row = i;
                bad_col = j;
            }
            return false;
        }
        ab[(kl + ku + d) + static_cast<std::size_t>(j) * ldab] = v;
        return true;
    }
    bool ok() const { return bad_row < 0; }
};

// The zeroed band matrix of a system of size N and degree p, its pivots,
// and the work of BasisFuns and of the span search of consecutive rows
// (which starts from the previous span where that gives exactly FindSpan's
// result: sorted knots).
class BandSystem {
public:
    BandSystem(int N, int p)
        : N_(N),
          p_(p),
          ldab_(3 * static_cast<std::size_t>(p) - 2),
          ab_(ldab_ <= INT_MAX ? ldab_ * N : 0),
          ipiv_(N > 0 ? static_cast<std::size_t>(N) : 0),
          work_(3 * (static_cast<std::size_t>(p) + 1)),
          band{ab_.data(), static_cast<int>(ldab_ <= INT_MAX ? ldab_ : 0), p - 1, p - 1} {}
    BandSystem(const BandSystem&) = delete;
    BandSystem& operator=(const BandSystem&) = delete;

    bool ok() const { return ldab_ <= INT_MAX && ab_.ok() && ipiv_.ok() && work_.ok(); }
    void start(int nP, const double* U) {
        for (std::size_t i = 0, m = ldab_ * N_; i < m; ++i) ab_.data()[i] = 0.0;
        sorted_ = KnotsSorted(nP + p_ + 1, U);
        span_ = p_;
    }
    // Collocation row `row` at the abscissa u: the p + 1 basis functions of its span.
    bool put_basis_row(int row, int nP, double u, const double* U) {
        span_ = sorted_ ? FindSpanNext(nP, p_, u, U, span_) : FindSpan(nP, p_, u, U);
        double* N = right() + p_ + 1;
        switch (p_) {
        case 2: BasisFunsFixed<2>(span_, u, U, N); break;
        case 3: BasisFunsFixed<3>(span_, u, U, N); break;
        case 4: BasisFunsFixed<4>(span_, u, U, N); break;
        case 5: BasisFunsFixed<5>(span_, u, U, N); break;
        default: BasisFuns(span_, u, p_, U, left(), right(), N); break;
        }
        const int c0 = span_ - p_;
        if (row - c0 <= band.kl && span_ - row <= band.ku) {
            // The whole row lies in the band: column c0 + j is at row kl + ku + row - c0 - j.
            double* a = band.ab + (band.kl + band.ku + row - c0) + static_cast<std::size_t>(c0) * ldab_;
            for (int j = 0; j <= p_; ++j) a[static_cast<std::size_t>(j) * (ldab_ - 1)] = N[j];
            return true;
        }
        for (int j = 0; j <= p_; ++j) {
            if (!band.put(row, c0 + j, N[j])) return false;
        }
        return true;
    }
    double* left() const { return work_.data(); }
    double* right() const { return work_.data() + p_ + 1; }
    // Solves the system in place in B: OK, or the status of a misfit or of the solver.
    int solve(double* B, BandSolver dgbsv, CollocationFailure& fail) {
        if (!band.ok()) {
            fail.row = band.bad_row;
            fail.col = band.bad_col;
            return BAND_MISFIT;
        }
        int n = N_, kl = band.kl, ku = band.ku, nrhs = 1, ldab = band.ldab, ldb = N_, info = 0;
        dgbsv(&n, &kl, &ku, &nrhs, band.ab, &ldab, ipiv_.data(), B, &ldb, &info);
        if (info == 0) return OK;
        fail.solver = info;
        return SOLVER_FAILED;
    }

private:
    int N_;
    int p_;
    std::size_t ldab_;
    Scratch<double> ab_;
    Scratch<int> ipiv_;
    Scratch<double> work_;
    bool sorted_ = false;
    int span_ = 0;

public:
    Band band;
};

// gcsplint's system through the band solver: rows 0 and n the unit rows,
// rows 1 .. n - 1 the basis functions at x[1 .. n - 1].
int plain_by_solver(int n, const double* x, const double* f, int p, const double* U, double* P,
                    BandSolver dgbsv, CollocationFailure& fail) {
    BandSystem sys(n + 1, p);
    if (!sys.ok()) return NO_MEMORY;
    sys.start(n, U);
    Band& b = sys.band;
    b.put(0, 0, 1.0);
    b.put(n, n, 1.0);
    for (int i = 1; i < n; ++i) {
        if (!sys.put_basis_row(i, n, x[i], U)) break;
    }
    if (b.ok()) {
        for (int i = 0; i <= n; ++i) P[i] = f[i];
    }
    return sys.solve(P, dgbsv, fail);
}

// ------------------------------------------------------------ elimination without pivoting

// Result of plain_by_elimination when the system is to go to the band solver.
constexpr int USE_SOLVER = -1;

// gcsplint's system by elimination without pivoting, each row as soon as it
// is assembled. R holds (n + 1) * (p + 1) doubles: row i of the upper
// factor, the reciprocal of its pivot at R[i * (p + 1)], its entries of the
// columns i + 1 .. i + p - 1 after it, then the reduced right-hand side. P is
// written only by the back substitution at the end. `work` holds 5 p + 2
// doubles. Returns OK (P solved), BAND_MISFIT (fail says where: the first
// row and column that the band solver's assembly reports) or USE_SOLVER: an
// interior abscissa x[i] not strictly inside the support (U[i], U[i+p+1])
// of its basis function, beyond the rounding tolerance of the knots, or not
// after x[i-1] (the Schoenberg-Whitney conditions at increasing abscissae,
// under which the matrix is totally positive and non-singular), or a pivot
// that is not positive and finite.
template <typename Deg>
int plain_by_elimination(int n, const double* x, const double* f, Deg p, const double* U,
                         double* P, double* R, double* work, CollocationFailure& fail) {
    const int kl = p - 1, ku = p - 1;
    double* left = work;
    double* right = left + (p + 1);
    double* N = right + (p + 1);
    double* a = N + (p + 1);  // row i over the columns i - kl .. i + ku
    const double tol = span_tol(n, p, U);

    const int w = p + 1;  // row length of R
    R[0] = 1.0;
    for (int s = 1; s <= ku; ++s) R[s] = 0.0;
    R[p] = f[0];
    int span = p;
    for (int i = 1; i < n; ++i) {
        const double u = x[i];
        if (!(u > U[i] + tol && u < U[i + p + 1] - tol && (i == 1 || u > x[i - 1]))) {
            return USE_SOLVER;
        }
        span = next_span(n, p, u, U, span, tol);
        basis(span, u, p, U, left, right, N);
        const int c0 = span - p, lo = i - kl;
        for (int t = 0; t <= kl + ku; ++t) a[t] = 0.0;
        for (int j = 0; j <= p; ++j) {
            const int col = c0 + j;
            if (col < lo || col > i + ku) {
                if (N[j] == 0.0) continue;
                fail.row = i;
                fail.col = col;
                return BAND_MISFIT;
            }
            a[col - lo] = N[j];
        }
        // The entries left of c0 are zero: rows c0 .. i - 1 of the factor
        // reduce the row.
        double rhs = f[i];
        for (int k = c0 > lo ? c0 : lo; k < i; ++k) {
            const double* Rk = R + static_cast<std::size_t>(k) * w;
            double* ak = a + (k - lo);
            const double m = ak[0] * Rk[0];
            for (int s = 1; s <= ku; ++s) ak[s] -= m * Rk[s];
            rhs -= m * Rk[p];
        }
        const double pivot = a[kl];
        if (!(pivot > 0.0 && std::isfinite(pivot))) return USE_SOLVER;
        double* Ri = R + static_cast<std::size_t>(i) * w;
        Ri[0] = 1.0 / pivot;
        for (int s = 1; s <= ku; ++s) Ri[s] = a[kl + s];
        Ri[p] = rhs;
    }
    // Back substitution (row n is the unit row; entries of columns beyond n
    // are zero), the farthest column first: P[i + 1] enters last, which
    // shortens the chain from one row to the next.
    P[n] = f[n];
    for (int i = n - 1; i >= 0; --i) {
        const double* Ri = R + static_cast<std::size_t>(i) * w;
        double s = Ri[p];
        if (n - i >= ku) {
            for (int t = ku; t >= 1; --t) s -= Ri[t] * P[i + t];
        } else {
            for (int t = n - i; t >= 1; --t) s -= Ri[t] * P[i + t];
        }
        P[i] = s * Ri[0];
    }
    return OK;
}

int plain_by_elimination(int n, const double* x, const double* f, int p, const double* U,
                         double* P, CollocationFailure& fail) {
    Scratch<double> R((static_cast<std::size_t>(n) + 1) * (static_cast<std::size_t>(p) + 1));
    Scratch<double> work(5 * static_cast<std::size_t>(p) + 2);
    if (!R.ok() || !work.ok()) return NO_MEMORY;
    double* r = R.data();
    double* w = work.data();
    switch (p) {
    case 2: return plain_by_elimination(n, x, f, std::integral_constant<int, 2>{}, U, P, r, w, fail);
    case 3: return plain_by_elimination(n, x, f, std::integral_constant<int, 3>{}, U, P, r, w, fail);
    case 4: return plain_by_elimination(n, x, f, std::integral_constant<int, 4>{}, U, P, r, w, fail);
    case 5: return plain_by_elimination(n, x, f, std::integral_constant<int, 5>{}, U, P, r, w, fail);
    default: return plain_by_elimination(n, x, f, p, U, P, r, w, fail);
    }
}

}  // namespace

void GlobalCurveInterp(int n, const double* x, const double* f, int p, const double* U, double* P,
                       BandSolver dgbsv, CollocationFailure& fail, int& info) {
    fail = CollocationFailure{};
    if (n < 1 || n < p) {
        info = -1;
        return;
    }
    if (p < 1) {
        info = -4;
        return;
    }
    info = KnotsSorted(n + p + 1, U) ? plain_by_elimination(n, x, f, p, U, P, fail) : USE_SOLVER;
    if (info == USE_SOLVER) info = plain_by_solver(n, x, f, p, U, P, dgbsv, fail);
}

void GlobalCurveInterpSlopes(int n, const double* x, const double* f, int p, double d0, double dn,
                             const double* U, double* P, BandSolver dgbsv,
                             CollocationFailure& fail, int& info) {
    fail = CollocationFailure{};
    if (n < 1 || n + 1 < p - 1) {
        info = -1;
        return;
    }
    if (p < 2) {
        info = -4;
        return;
    }
    const int nP = n + 2;
    BandSystem sys(nP + 1, p);
    if (!sys.ok()) {
        info = NO_MEMORY;
        return;
    }
    sys.start(nP, U);
    Band& b = sys.band;
    b.put(0, 0, 1.0);
    b.put(1, 0, -1.0);
    b.put(1, 1, 1.0);
    for (int i = 1; i < n && b.ok(); ++i) sys.put_basis_row(i + 1, nP, x[i], U);
    b.put(n + 1, n + 1, -1.0);
    b.put(n + 1, n + 2, 1.0);
    b.put(n + 2, n + 2, 1.0);
    if (b.ok()) {
        P[0] = f[0];
        P[1] = d0 * (U[p + 1] - x[0]) / p;
        for (int i = 1; i < n; ++i) P[i + 1] = f[i];
        P[n + 1] = dn * (x[n] - U[nP]) / p;
        P[n + 2] = f[n];
    }
    info = sys.solve(P, dgbsv, fail);
}

void GlobalCurveInterpEndDerivs(int n, const double* x, const double* f, int p, int k,
                                const double* Ds, int l, const double* De, const double* U,
                                double* P, BandSolver dgbsv, CollocationFailure& fail, int& info) {
    fail = CollocationFailure{};
    info = OK;
    if (p < 2) info = -4;
    else if (k < 0 || k >= p) info = -5;
    else if (l < 0 || l >= p) info = -7;
    else if (n < 1 || n + k + l < p) info = -1;
    if (info) return;
    // Without end derivatives the system is that of GlobalCurveInterp.
    if (k == 0 && l == 0) {
        GlobalCurveInterp(n, x, f, p, U, P, dgbsv, fail, info);
        return;
    }
    const int nP = n + k + l, w = p + 1;
    BandSystem sys(nP + 1, p);
    // DersBasisFuns: ndu (p+1)^2, a 2(p+1), and the table of derivatives.
    Scratch<double> dw(static_cast<std::size_t>(w) * w + 2 * static_cast<std::size_t>(w) +
               (static_cast<std::size_t>(k > l ? k : l) + 1) * w);
    if (!sys.ok() || !dw.ok()) {
        info = NO_MEMORY;
        return;
    }
    double* ndu = dw.data();
    double* a = ndu + static_cast<std::size_t>(w) * w;
    double* ders = a + 2 * w;
    sys.start(nP, U);
    Band& b = sys.band;
    b.put(0, 0, 1.0);
    b.put(nP, nP, 1.0);
    if (k > 0) {
        DersBasisFuns(p, x[0], p, k, U, ndu, a, sys.left(), sys.right(), ders);
        for (int r = 1; r <= k; ++r) {
            for (int j = 0; j <= r; ++j) b.put(r, j, ders[r * w + j]);
        }
    }
    for (int i = 1; i < n && b.ok(); ++i) sys.put_basis_row(i + k, nP, x[i], U);
    if (l > 0 && b.ok()) {
        DersBasisFuns(nP, x[n], p, l, U, ndu, a, sys.left(), sys.right(), ders);
        for (int r = 1; r <= l; ++r) {
            for (int j = 0; j <= r; ++j) b.put(nP - r, nP - j, ders[r * w + p - j]);
        }
    }
    if (b.ok()) {
        P[0] = f[0];
        for (int r = 0; r < k; ++r) P[1 + r] = Ds[r];
        for (int i = 1; i < n; ++i) P[k + i] = f[i];
        for (int r = 1; r <= l; ++r) P[nP - r] = De[r - 1];
        P[nP] = f[n];
    }
    info = sys.solve(P, dgbsv, fail);
}

}  // namespace cardo
