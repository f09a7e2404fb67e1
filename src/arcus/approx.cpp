// Least-squares approximation: a B-spline with fewer control points than
// data points, through the first and last point (and, in gdsplapp, with the
// end slopes fixed), from the normal equations (BLAS dgemm, LAPACK dgesv).
#include "arcus/arcus.hpp"
#include "arcus/cardo/cardo.h"
#include "arcus/lapack.hpp"

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

// The normal equations of the free control points: Nm holds N(first + c, p)
// at the inner data parameters, column by column (K rows); R the residuals.
// Fills P[first .. first + nfree - 1] with Nm^T R, solves Nm^T Nm x = Nm^T R
// with NtN as work and returns the LAPACK status.
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

}  // namespace

void gcsplapp(DArr xp, DArr fp, int p, DArr U, DArr P) {
    static const char F[] = "gcsplapp";
    const Py_ssize_t n = P.len - 1, mm = xp.len - 1;
    if (!lsq_asserts(xp, fp, p, n, mm) || !lsq_sound(F, xp, fp, p, U, P, 1)) return;
    const int nn = static_cast<int>(n), m = hi(U), mi = static_cast<int>(mm);
    Normal ne(p, mi - 1, nn - 1);
    if (!ne.ok()) return;
    int info = 0;
    {
        pv::NoGil nogil;
        const double* x = xp.data;
        const double* f = fp.data;
        const double Q0 = f[0], Qm = f[mi];
        for (int k = 1; k < mi; ++k) {
            ne.R[k - 1] = f[k] - Q0 * ne.basis_at(p, m, U.data, 0, x[k]) -
                          Qm * ne.basis_at(p, m, U.data, nn, x[k]);
        }
        ne.fill_matrix(p, m, U.data, x, 1);
        ne.fill_rhs(P.data + 1);
        P.data[0] = Q0;
        P.data[nn] = Qm;
        info = ne.solve(P.data + 1);
    }
    lapack_check(info);
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
    const int nn = static_cast<int>(n), m = hi(U), mi = static_cast<int>(mm);
    Normal ne(p, mi - 1, nn - 3);
    if (!ne.ok()) return;
    int info = 0;
    {
        pv::NoGil nogil;
        const double* x = xp.data;
        const double* f = fp.data;
        const double* u = U.data;
        double* c = P.data;
        c[0] = f[0];
        c[nn] = f[mi];
        c[1] = (u[p + 1] - x[0]) * dy[0] / p + f[0];
        c[nn - 1] = f[mi] - (x[mi] - u[nn]) * dy[1] / p;
        for (int k = 1; k < mi; ++k) {
            ne.R[k - 1] = f[k] - c[0] * ne.basis_at(p, m, u, 0, x[k]) -
                          c[1] * ne.basis_at(p, m, u, 1, x[k]) -
                          c[nn - 1] * ne.basis_at(p, m, u, nn - 1, x[k]) -
                          c[nn] * ne.basis_at(p, m, u, nn, x[k]);
        }
        ne.fill_matrix(p, m, u, x, 2);
        ne.fill_rhs(c + 2);
        info = ne.solve(c + 2);
    }
    lapack_check(info);
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
    "normal equations (N^T N) P = N^T R, formed with 'dgemm' and solved with\n"
    "'dgesv'.\n"
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
    "inner control points solve the normal equations, formed with 'dgemm' and\n"
    "solved with 'dgesv'.\n"
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
