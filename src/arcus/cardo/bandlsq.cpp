// Linear least squares with a banded matrix by orthogonal transformations.
//
// The rows of the matrix arrive one at a time (BandLsqAddRow, a Givens
// rotation per column) or in blocks of rows that start in the same column
// (BandLsqAddBlock, a Householder reflection per column for the whole block)
// and are reduced into an upper triangular factor R kept in band storage,
// together with Q^T b; nothing of the matrix itself is stored. A row whose
// non-zero entries lie in the columns col .. col + w - 1 meets the rows col ..
// col + w - 1 of R, each holding w entries, so that m rows cost O(m w^2) when
// they arrive in order of their first column (as the rows of a B-spline fit
// do for increasing data parameters; rows in another order may fill in and
// meet later rows of R as well), and the memory is nc * (w + 1) doubles. The
// condition number of R is that of the matrix, not its square as with the
// normal equations.
//
// Layout: row i of R holds R[i][i .. i + w - 1] at R[i * w .. i * w + w - 1];
// entries of columns nc and beyond are zero. A row of R whose diagonal is
// zero has not been reached by any matrix row yet.
//
// References: G. H. Golub, C. F. Van Loan, Matrix Computations, 4th ed.,
// Johns Hopkins, 2013, sec. 5.1.2-5.1.9 and 5.3; C. L. Lawson, R. J. Hanson,
// Solving Least Squares Problems, SIAM, 1995, ch. 27 (sequential processing
// of banded problems).
#include "cardo.h"

#include <cmath>
#include <limits>

namespace cardo {

namespace {

// sum of a[r] * b[r], r < n, in four interleaved partial sums.
inline double dot(const double* a, const double* b, int n) {
    double s0 = 0.0, s1 = 0.0, s2 = 0.0, s3 = 0.0;
    int r = 0;
    for (; r + 4 <= n; r += 4) {
        s0 += a[r] * b[r];
        s1 += a[r + 1] * b[r + 1];
        s2 += a[r + 2] * b[r + 2];
        s3 += a[r + 3] * b[r + 3];
    }
    for (; r < n; ++r) s0 += a[r] * b[r];
    return (s0 + s1) + (s2 + s3);
}

}  // namespace

void BandLsqInit(int nc, int w, double* R, double* z) {
    if (nc <= 0 || w <= 0) return;
    const long long size = static_cast<long long>(nc) * w;
    for (long long i = 0; i < size; ++i) R[i] = 0.0;
    for (int i = 0; i < nc; ++i) z[i] = 0.0;
}

void BandLsqAddRow(int nc, int w, double* R, double* z, int col, double* row, double rhs,
                   int& info) {
    info = OK;
    if (nc < 0) { info = -1; return; }
    if (w < 1) { info = -2; return; }
    if (col < 0 || col >= nc) { info = -5; return; }
    // Entries past the last column do not exist.
    for (int j = nc - col; j < w; ++j) row[j] = 0.0;
    // last: index of the last entry of row that may be non-zero.
    int last = w - 1;
    while (last >= 0 && row[last] == 0.0) --last;
    for (int i = col; i < nc; ++i) {
        if (last < 0) return;  // rotated away: only the residual keeps rhs
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
            const double inv = 1.0 / r, c = a * inv, s = x * inv;
            Ri[0] = r;
            for (int j = 1; j < w; ++j) {
                const double t = Ri[j], v = row[j];
                Ri[j] = c * t + s * v;
                row[j - 1] = c * v - s * t;
            }
            const double zi = z[i];
            z[i] = c * zi + s * rhs;
            rhs = c * rhs - s * zi;
            // Row i of R may reach the last column of the band: so may the row.
            last = w - 2;
            while (last >= 0 && row[last] == 0.0) --last;
        } else {
            for (int j = 1; j < w; ++j) row[j - 1] = row[j];
            --last;
        }
        row[w - 1] = 0.0;
    }
}

void BandLsqAddBlock(int nc, int w, double* R, double* z, int col, int nr, int ld, double* A,
                     double* b, double* row, int& info) {
    info = OK;
    if (nc < 0) { info = -1; return; }
    if (w < 1) { info = -2; return; }
    if (col < 0 || col >= nc) { info = -5; return; }
    if (nr < 0) { info = -6; return; }
    if (ld < nr) { info = -7; return; }
    if (nr == 0) return;
    const int wide = 2 * w - 1;  // columns col .. col + 2w - 2 of the block
    const int cols = (nc - col < wide) ? nc - col : wide;
    for (int t = 0; t < wide; ++t) {
        double* At = A + static_cast<long long>(t) * ld;
        if (t >= w || t >= cols) {
            for (int r = 0; r < nr; ++r) At[r] = 0.0;
        }
    }
    // Fill-in right of the first w columns needs a non-zero entry there in
    // the rows col .. of R (none when the rows arrive in order of their first
    // column).
    const int jend = (w < cols) ? w : cols;
    bool fill = false;
    for (int j = 0; j < jend && !fill; ++j) {
        const double* Ri = R + static_cast<long long>(col + j) * w;
        for (int t = w; t < cols && t < j + w; ++t) fill = fill || Ri[t - j] != 0.0;
    }
    // One Householder reflection per column col + j, between row col + j of
    // R and the block's rows (whose entries left of that column are zero by
    // then); it zeroes the block's column and may fill its columns up to
    // col + j + w - 1.
    for (int j = 0; j < jend; ++j) {
        double* Ri = R + static_cast<long long>(col + j) * w;
        double* v = A + static_cast<long long>(j) * ld;
        // ||(alpha, v)||, by the plain sum of squares unless it under- or
        // overflows.
        const double ss = dot(v, v, nr);
        const double alpha = Ri[0];
        double nrm = std::sqrt(ss + alpha * alpha);
        if (!(nrm >= 1e-150 && nrm <= 1e150)) {
            double big = 0.0;
            for (int r = 0; r < nr; ++r) big = big > std::fabs(v[r]) ? big : std::fabs(v[r]);
            if (big == 0.0) continue;  // nothing to eliminate in this column
            double sc = 0.0;
            for (int r = 0; r < nr; ++r) sc += (v[r] / big) * (v[r] / big);
            nrm = std::hypot(alpha, big * std::sqrt(sc));
        } else if (ss == 0.0) {
            continue;  // nothing to eliminate in this column
        }
        const double beta = alpha >= 0.0 ? -nrm : nrm;
        const double tau = (beta - alpha) / beta;
        const double inv = 1.0 / (alpha - beta);
        for (int r = 0; r < nr; ++r) v[r] *= inv;
        Ri[0] = beta;
        const int tend = (j + w < cols) ? j + w : cols;
        for (int t = j + 1; t < tend; ++t) {
            double* At = A + static_cast<long long>(t) * ld;
            const double sum = tau * (Ri[t - j] + dot(v, At, nr));
            Ri[t - j] -= sum;
            for (int r = 0; r < nr; ++r) At[r] -= sum * v[r];
        }
        const double sum = tau * (z[col + j] + dot(v, b, nr));
        z[col + j] -= sum;
        for (int r = 0; r < nr; ++r) b[r] -= sum * v[r];
    }
    // What the reflections filled in right of the first w columns (nothing
    // when the rows arrive in order of their first column) goes on row by row.
    if (!fill) return;
    for (int r = 0; r < nr; ++r) {
        bool any = false;
        for (int t = w; t < cols; ++t) {
            row[t - w] = A[static_cast<long long>(t) * ld + r];
            any = any || row[t - w] != 0.0;
        }
        if (!any) continue;
        for (int t = cols - w; t < w; ++t) row[t] = 0.0;
        BandLsqAddRow(nc, w, R, z, col + w, row, b[r], info);
        if (info) return;
    }
}

void BandLsqSolve(int nc, int w, const double* R, double* z, double rtol, int& col, int& info) {
    info = OK;
    col = -1;
    if (nc < 0) { info = -1; return; }
    if (w < 1) { info = -2; return; }
    if (!(rtol >= 0.0)) { info = -5; return; }
    // Rank test: a diagonal entry of R at most rtol times the largest one.
    // Since |R[i][i]| >= smallest singular value and max |R[j][j]| <= largest,
    // a system refused here has a condition number of at least 1 / rtol.
    double big = 0.0;
    for (int i = 0; i < nc; ++i) {
        const double d = std::fabs(R[static_cast<long long>(i) * w]);
        big = big > d ? big : d;
    }
    const double tiny = rtol * big;
    for (int i = 0; i < nc; ++i) {
        const double d = std::fabs(R[static_cast<long long>(i) * w]);
        if (!(d > tiny) || d == 0.0) {
            col = i;
            info = DIVISION_BY_ZERO;
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
