// Linear least squares with a banded matrix by Givens rotations.
//
// The rows of the matrix arrive one at a time and are rotated into an upper
// triangular factor R kept in band storage, together with Q^T b; nothing of
// the matrix itself is stored. A row whose non-zero entries lie in the
// columns col .. col + w - 1 meets at most the rows col .. of R, each holding
// w entries, so that m rows cost O(m w^2) when they arrive in order of their
// first column (as the rows of a B-spline fit do for increasing data
// parameters), and the memory is nc * (w + 1) doubles. The condition number
// of R is that of the matrix, not its square as with the normal equations.
//
// Layout: row i of R holds R[i][i .. i + w - 1] at R[i * w .. i * w + w - 1];
// entries of columns nc and beyond are zero. A row of R whose diagonal is
// zero has not been reached by any matrix row yet.
//
// References: G. H. Golub, C. F. Van Loan, Matrix Computations, 4th ed.,
// Johns Hopkins, 2013, sec. 5.1.8-5.1.9 and 5.3; C. L. Lawson, R. J. Hanson,
// Solving Least Squares Problems, SIAM, 1995, ch. 27 (sequential processing
// of banded problems).
#include "cardo.h"

#include <cmath>
#include <limits>

namespace cardo {

void BandLsqInit(int nc, int w, double* R, double* z) {
    if (nc <= 0 || w <= 0) return;
    const long long size = static_cast<long long>(nc) * w;
    for (long long i = 0; i < size; ++i) R[i] = 0.0;
    for (int i = 0; i < nc; ++i) z[i] = 0.0;
}

void BandLsqAddRow(int nc, int w, double* R, double* z, int col, double* row, double rhs,
                   int& info) {
    info = 0;
    if (nc < 0) { info = -1; return; }
    if (w < 1) { info = -2; return; }
    if (col < 0 || col >= nc) { info = -5; return; }
    // Entries past the last column do not exist.
    for (int j = nc - col; j < w; ++j) row[j] = 0.0;
    for (int i = col; i < nc; ++i) {
        bool any = false;
        for (int j = 0; j < w; ++j) any = any || row[j] != 0.0;
        if (!any) return;  // rotated away: only the residual keeps rhs
        double* Ri = R + static_cast<long long>(i) * w;
        const double x = row[0];
        if (x != 0.0) {
            if (Ri[0] == 0.0) {
                // First row to reach column i: it becomes row i of R.
                for (int j = 0; j < w; ++j) Ri[j] = row[j];
                z[i] = rhs;
                return;
            }
            const double a = Ri[0];
            double r = std::sqrt(a * a + x * x);
            if (!(r > 0.0) || !std::isfinite(r)) r = std::hypot(a, x);
            const double c = a / r, s = x / r;
            Ri[0] = r;
            for (int j = 1; j < w; ++j) {
                const double t = Ri[j], v = row[j];
                Ri[j] = c * t + s * v;
                row[j - 1] = c * v - s * t;
            }
            const double zi = z[i];
            z[i] = c * zi + s * rhs;
            rhs = c * rhs - s * zi;
        } else {
            for (int j = 1; j < w; ++j) row[j - 1] = row[j];
        }
        row[w - 1] = 0.0;
    }
}

void BandLsqSolve(int nc, int w, const double* R, double* z, double rtol, int& col, int& info) {
    info = 0;
    col = -1;
    if (nc < 0) { info = -1; return; }
    if (w < 1) { info = -2; return; }
    if (!(rtol >= 0.0)) { info = -5; return; }
    // Rank test: a diagonal entry of R at most rtol times the largest one.
    // Since |R[i][i]| >= smallest singular value and max |R[j][j]| <= largest,
    // a system refused here has a condition number of at least 1 / rtol.
    double big = 0.0;
    for (int i = 0; i < nc; ++i) big = std::fmax(big, std::fabs(R[static_cast<long long>(i) * w]));
    const double tiny = rtol * big;
    for (int i = 0; i < nc; ++i) {
        const double d = std::fabs(R[static_cast<long long>(i) * w]);
        if (!(d > tiny) || d == 0.0) {
            col = i;
            info = 2;
            return;
        }
    }
    for (int i = nc - 1; i >= 0; --i) {
        const double* Ri = R + static_cast<long long>(i) * w;
        double s = z[i];
        const int jmax = (nc - i < w) ? nc - i : w;
        for (int j = 1; j < jmax; ++j) s -= Ri[j] * z[i + j];
        z[i] = s / Ri[0];
    }
}

}  // namespace cardo
