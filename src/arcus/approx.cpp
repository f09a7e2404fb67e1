// Least-squares approximation: a B-spline with fewer control points than
// data points, through the first and last point (and, in gdsplapp, with the
// end slopes fixed), from the normal equations of the free control points.
//
// On a clamped, finite, non-decreasing knot vector (the usual case) each data
// point has at most p + 1 non-zero basis functions, found by the span search
// and BasisFuns; the normal matrix then has p diagonals on each side and is
// formed and solved in band storage (LAPACK dgbsv), in O(data points * p^2)
// time and O(control points * p) memory. Any other knot vector takes the
// dense formulation (every basis value by OneBasisFun, BLAS dgemm, LAPACK
// dgesv), which also defines the results of the band one up to rounding.
#include "arcus/arcus.hpp"
#include "arcus/cardo/cardo.h"
#include "arcus/lapack.hpp"

#include <algorithm>
#include <cstddef>

namespace arcus {

namespace {

// The four checks shared by both approximations, in their order.
bool lsq_asserts(const DArr& xp, const DArr& fp, int p, Py_ssize_t n, Py_ssize_t mm) {
    return assert_check(fp.len == xp.len, "xp and fp must have same dimension") &&
           assert_check(p > 0, "p must be greater than or equal to 1") &&
           assert_check(n >= p, "n must be greater than or equal to p") &&
           assert_check(n < mm,
                 "the number of points to be approximated must be greater than the number of "
                 "control points");
}

// What the computation itself relies on, checked also under python -O:
// a degree, `least_n` + 1 control points, three data points (so that the
// inner points exist) and consistent array lengths.
bool lsq_sound(const char* fname, const DArr& xp, const DArr& fp, int p, const DArr& U,
               const DArr& P, Py_ssize_t least_n) {
    const Py_ssize_t n = P.len - 1;
    if (p < 1) return pv::fail(PyExc_ValueError, "%s(): 'p' must be >= 1, got %d", fname, p);
    if (n < least_n) {
        return pv::fail(PyExc_ValueError, "%s(): at least %zd control points are needed, got %zd",
                        fname, least_n + 1, P.len);
    }
    if (!pv::need_len(fname, "xp", xp.len, 3) || !pv::need_len(fname, "fp", fp.len, xp.len) ||
        !pv::need_len(fname, "U", U.len, n + p + 2)) {
        return false;
    }
    if (U.len != n + p + 2) {
        return pv::fail(PyExc_ValueError,
                        "%s(): array 'U' must have exactly %zd elements (len(P) + p + 1), got %zd",
                        fname, n + p + 2, U.len);
    }
    return true;
}

// Clamped (p + 1 equal knots at each end), finite and non-decreasing: the
// knot vectors on which the span search and BasisFuns give every non-zero
// basis value that OneBasisFun gives, at every parameter of [U[0], U[m]].
bool band_knots(int p, int m, const double* U) {
    if (!cardo::KnotsSorted(m, U)) return false;
    return U[p] == U[0] && U[m - p] == U[m] && U[0] < U[m];
}

// The fixed control points: index and value (at most four).
struct Fixed {
    int count = 0;
    int idx[4];
    double val[4];
    void add(int i, double v) {
        idx[count] = i;
        val[count] = v;
        ++count;
    }
    void write(double* P) const {
        for (int q = 0; q < count; ++q) P[idx[q]] = val[q];
    }
};

// The normal equations of the free control points first .. first + nfree - 1
// in band storage: NtN with p diagonals on each side in LAPACK general band
// layout (kl = ku = p, ldab = 3p + 1, the first p rows left for the
// factorisation), the right-hand side Nt R written into B.
struct BandNormal {
    int p, nfree, ldab;
    Work<double> ab, work;  // work: left, right, N (p + 1 each)
    Work<int> ipiv;
    BandNormal(int p_, int nfree_)
        : p(p_),
          nfree(nfree_),
          ldab(3 * p_ + 1),
          ab(Py_ssize_t(3 * p_ + 1) * (nfree_ > 0 ? nfree_ : 1)),
          work(3 * (Py_ssize_t(p_) + 1)),
          ipiv(nfree_) {}
    bool ok() const { return ab.ok() && work.ok() && ipiv.ok(); }

    // Forms the system from the inner data points and solves it in place in
    // B; the LAPACK status. B[0 .. nfree - 1] is the right-hand side.
    int run(int n, const double* U, const double* x, const double* f, int K, int first,
            const Fixed& fx, double* B) {
        const int m = n + p + 1, w = p + 1, kd = p;
        double* left = work.data();
        double* right = left + w;
        double* N = right + w;
        double* a = ab.data();
        std::fill(a, a + Py_ssize_t(ldab) * nfree, 0.0);
        std::fill(B, B + nfree, 0.0);
        const double lo = U[0], hi_ = U[m], tol = cardo::scale_tol(lo, hi_);
        int span = p;
        for (int k = 1; k <= K; ++k) {
            const double u = x[k];
            // Outside the knot domain (beyond the tolerance) every basis value
            // is zero: the point adds nothing.
            if (!(u >= lo - tol && u <= hi_ + tol)) continue;
            span = cardo::FindSpanNext(n, p, u, U, span);
            cardo::BasisFuns(span, u, p, U, left, right, N);
            const int c0 = span - p;  // index of the control point of N[0]
            double r = f[k];
            for (int q = 0; q < fx.count; ++q) {
                const int j = fx.idx[q] - c0;
                if (j >= 0 && j <= p) r = r - fx.val[q] * N[j];
            }
            // Free functions of this point: N[jlo .. jhi].
            const int jlo = std::max(0, first - c0);
            const int jhi = std::min(p, first + nfree - 1 - c0);
            for (int j = jlo; j <= jhi; ++j) {
                const int col = c0 + j - first;
                B[col] += r * N[j];
                // Upper triangle: rows col - (j - i) for i <= j.
                double* colp = a + Py_ssize_t(col) * ldab + 2 * kd;
                const double Nj = N[j];
                for (int i = jlo; i <= j; ++i) colp[i - j] += N[i] * Nj;
            }
        }
        // The lower triangle mirrors the upper one.
        for (int col = 0; col < nfree; ++col) {
            const int rmax = std::min(nfree - 1, col + kd);
            for (int row = col + 1; row <= rmax; ++row) {
                a[Py_ssize_t(col) * ldab + 2 * kd + row - col] =
                    a[Py_ssize_t(row) * ldab + 2 * kd + col - row];
            }
        }
        if (nfree == 0) return 0;  // every control point is fixed
        int nn = nfree, kl = kd, ku = kd, nrhs = 1, ld = ldab, ldb = nfree, info = 0;
        lapack::dgbsv(&nn, &kl, &ku, &nrhs, a, &ld, ipiv.data(), B, &ldb, &info);
        return info;
    }
};

// The dense normal equations: Nm holds N(first + c, p) at the inner data
// parameters, column by column (K rows); R the residuals. Fills
// P[first .. first + nfree - 1] with Nm^T R, solves Nm^T Nm x = Nm^T R with
// NtN as work and returns the LAPACK status.
struct Normal {
    int K;      // inner data points
    int nfree;  // free control points
    Work<double> basis, R, Nm, NtN;
    Work<int> ipiv;
    Normal(int p, int K_, int nfree_)
        : K(K_),
          nfree(nfree_),
          basis(Py_ssize_t(p) + 1),
          R(K_),
          Nm(Py_ssize_t(K_) * nfree_),
          NtN(Py_ssize_t(nfree_) * nfree_),
          ipiv(nfree_) {}
    bool ok() const { return basis.ok() && R.ok() && Nm.ok() && NtN.ok() && ipiv.ok(); }

    void fill_matrix(int p, int m, const double* U, const double* xp, int first) {
        for (int c = 0; c < nfree; ++c) {
            double* col = Nm.data() + Py_ssize_t(c) * K;
            for (int k = 1; k <= K; ++k) {
                cardo::OneBasisFun(p, m, U, first + c, xp[k], basis.data(), col[k - 1]);
            }
        }
    }
    double basis_at(int p, int m, const double* U, int i, double u) const {
        double v = 0.0;
        cardo::OneBasisFun(p, m, U, i, u, basis.data(), v);
        return v;
    }
    void residuals(int p, int m, const double* U, const double* x, const double* f,
                   const Fixed& fx) {
        for (int k = 1; k <= K; ++k) {
            double r = f[k];
            for (int q = 0; q < fx.count; ++q) r = r - fx.val[q] * basis_at(p, m, U, fx.idx[q], x[k]);
            R[k - 1] = r;
        }
    }
    void fill_rhs(double* B) const {
        for (int c = 0; c < nfree; ++c) {
            const double* col = Nm.data() + Py_ssize_t(c) * K;
            double s = 0.0;
            for (int k = 0; k < K; ++k) s += R[k] * col[k];
            B[c] = s;
        }
    }
    int solve(double* B) {
        if (nfree == 0) return 0;  // every control point is fixed
        char ta = 't', tb = 'n';
        int M = nfree, Nn = nfree, KK = K, lda = K, ldb = K, ldc = nfree;
        double alpha = 1.0, beta = 0.0;
        lapack::dgemm(&ta, &tb, &M, &Nn, &KK, &alpha, Nm.data(), &lda, Nm.data(), &ldb, &beta,
                      NtN.data(), &ldc);
        int n = nfree, nrhs = 1, ld = nfree, info = 0;
        lapack::dgesv(&n, &nrhs, NtN.data(), &ld, ipiv.data(), B, &ld, &info);
        return info;
    }
};

// Writes the fixed control points of fx into P and fits the free ones,
// first .. n - first, with the interpreter lock released; raises and returns
// false on failure.
bool fit_free(int p, int n, DArr xp, DArr fp, DArr U, DArr P, int first, const Fixed& fx) {
    const int m = hi(U), mi = hi(xp), K = mi - 1, nfree = n + 1 - 2 * first;
    const double* x = xp.data;
    const double* f = fp.data;
    int info = 0;
    if (band_knots(p, m, U.data)) {
        BandNormal ne(p, nfree);
        if (!ne.ok()) return false;
        pv::NoGil nogil;
        fx.write(P.data);
        info = ne.run(n, U.data, x, f, K, first, fx, P.data + first);
    } else {
        Normal ne(p, K, nfree);
        if (!ne.ok()) return false;
        pv::NoGil nogil;
        fx.write(P.data);
        ne.residuals(p, m, U.data, x, f, fx);
        ne.fill_matrix(p, m, U.data, x, first);
        ne.fill_rhs(P.data + first);
        info = ne.solve(P.data + first);
    }
    return lapack_check(info);
}

}  // namespace

void gcsplapp(DArr xp, DArr fp, int p, DArr U, DArr P) {
    static const char F[] = "gcsplapp";
    const Py_ssize_t n = P.len - 1, mm = xp.len - 1;
    if (!lsq_asserts(xp, fp, p, n, mm) || !lsq_sound(F, xp, fp, p, U, P, 1)) return;
    const int nn = static_cast<int>(n), mi = static_cast<int>(mm);
    Fixed fx;
    fx.add(0, fp.data[0]);
    fx.add(nn, fp.data[mi]);
    fit_free(p, nn, xp, fp, U, P, 1, fx);
}

void gdsplapp(DArr xp, DArr fp, int p, DArr U, DArr P, const OptDy* opt) {
    static const char F[] = "gdsplapp";
    const Py_ssize_t n = P.len - 1, mm = xp.len - 1;
    if (!lsq_asserts(xp, fp, p, n, mm) || !assert_check(n >= 3, "n must be greater than or equal to 3") ||
        !lsq_sound(F, xp, fp, p, U, P, 3)) {
        return;
    }
    double dy[2];
    opt_dy(opt, dy);
    const int nn = static_cast<int>(n), mi = static_cast<int>(mm);
    const double* x = xp.data;
    const double* f = fp.data;
    const double* u = U.data;
    Fixed fx;
    fx.add(0, f[0]);
    fx.add(1, (u[p + 1] - x[0]) * dy[0] / p + f[0]);
    fx.add(nn - 1, f[mi] - (x[mi] - u[nn]) * dy[1] / p);
    fx.add(nn, f[mi]);
    fit_free(p, nn, xp, fp, U, P, 2, fx);
}

}  // namespace arcus

namespace {

#define NURBS_BOOK "L. Piegl, W. Tiller, The NURBS Book, 2nd ed., Springer, 1997"

const char* const gcsplapp_args[] = {"gcsplapp", "xp", "fp", "p", "U", "P", nullptr};
const char gcsplapp_doc[] =
    "gcsplapp(xp, fp, p, U, P)\n--\n\n"
    "Least squares curve approximation.\n\n"
    "B-spline of degree p with n + 1 = len(P) control points that passes through\n"
    "the first and the last data point and approximates the others in the\n"
    "least-squares sense.\n\n"
    "Parameters\n----------\n"
    "xp : ndarray of float64\n    Parameters of the data points, increasing.\n"
    "fp : ndarray of float64\n    Ordinates of the data points, len(xp) values.\n"
    "p : int\n    Degree, p >= 1.\n"
    "U : ndarray of float64\n"
    "    Clamped knot vector of len(P) + p + 1 knots whose ends are xp[0] and xp[-1]\n"
    "    (e.g. from `kevalappr`).\n"
    "P : ndarray of float64\n    Output; its length fixes the number of control points,\n"
    "    fewer than the data points.\n\n"
    "Returns\n-------\nNone\n\n"
    "Notes\n-----\n"
    "P[0] = fp[0] and P[n] = fp[-1]; the n - 1 inner control points solve the\n"
    "normal equations (N^T N) P = N^T R. On a clamped knot vector they are formed\n"
    "in band storage from the p + 1 non-zero basis values of each data point and\n"
    "solved with 'dgbsv' (memory O(n p)); other knot vectors take the dense form\n"
    "('dgemm', 'dgesv').\n"
    "AssertionError \"xp and fp must have same dimension\", \"p must be greater than\n"
    "or equal to 1\", \"n must be greater than or equal to p\", \"the number of points\n"
    "to be approximated must be greater than the number of control points\" (not\n"
    "checked under python -O). ValueError for a U of other than len(P) + p + 1\n"
    "knots (and, under -O, for p < 1, fewer than 2 control points or 3 data\n"
    "points). Exception \"'dgesv' LAPACK function failed with 'info' value: ...\"\n"
    "when the normal matrix is singular, e.g. when a free control point has no\n"
    "data parameter in its support.\n"
    "The numeric work runs with the interpreter lock released.\n\n"
    "References\n----------\n" NURBS_BOOK ", sec. 9.4.1, pp. 410-413.\n";

const char* const gdsplapp_args[] = {"gdsplapp", "xp", "fp", "p", "U", "P", "dy", nullptr};
const char gdsplapp_doc[] =
    "gdsplapp(xp, fp, p, U, P, dy=(0.0, 0.0))\n--\n\n"
    "Least squares curve approximation with fixed endpoint derivatives.\n\n"
    "B-spline of degree p with n + 1 = len(P) control points that passes through\n"
    "the first and the last data point with the given end slopes and\n"
    "approximates the others in the least-squares sense.\n\n"
    "Parameters\n----------\n"
    "xp : ndarray of float64\n    Parameters of the data points, increasing.\n"
    "fp : ndarray of float64\n    Ordinates of the data points, len(xp) values.\n"
    "p : int\n    Degree, p >= 1.\n"
    "U : ndarray of float64\n"
    "    Clamped knot vector of len(P) + p + 1 knots whose ends are xp[0] and xp[-1]\n"
    "    (e.g. from `kevalappr`).\n"
    "P : ndarray of float64\n    Output; at least four control points, fewer than the\n"
    "    data points.\n"
    "dy : tuple of two floats, optional\n"
    "    Slope at the first and at the last data point; default (0.0, 0.0).\n\n"
    "Returns\n-------\nNone\n\n"
    "Notes\n-----\n"
    "P[0], P[1], P[n-1], P[n] are fixed by the end values and slopes; the n - 3\n"
    "inner control points solve the normal equations, in band storage as in\n"
    "`gcsplapp`.\n"
    "AssertionError with the messages of `gcsplapp` and \"n must be greater than or\n"
    "equal to 3\" (not checked under python -O). ValueError for a U of other than\n"
    "len(P) + p + 1 knots (and, under -O, for p < 1, fewer than 4 control points\n"
    "or 3 data points). Exception \"'dgesv' LAPACK function failed with 'info'\n"
    "value: ...\" when the normal matrix is singular.\n"
    "The numeric work runs with the interpreter lock released.\n\n"
    "References\n----------\n" NURBS_BOOK ", sec. 9.4.1, pp. 410-413.\n";

const PyMethodDef METHODS[] = {
    ARCUS_METHOD(gcsplapp), ARCUS_METHOD(gdsplapp), ARCUS_METHODS_END,
};

const pv::CEntry ENTRIES[] = {
    ARCUS_ENTRY(gcsplapp), ARCUS_ENTRY(gdsplapp), ARCUS_ENTRIES_END,
};

}  // namespace

const arcus::Family arcus::family_approx = {METHODS, ENTRIES};
