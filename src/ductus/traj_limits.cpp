// Trajectory1d limits: the extrema of a derivative over the whole domain,
// checks of velocity, acceleration and jerk limits, the uniform time stretch
// that just meets such limits, and roughness integrals.
//
// Everything works on the Bezier pieces of a derivative, computed here from
// the object's own arrays: the control points of the derivative spline come
// first (differences over knot intervals), then every knot span of positive
// length becomes the Bernstein coefficients of its polynomial (blossoming),
// and the convex-hull property bounds a piece on any sub-interval. Roots are
// isolated by subdivision of the pieces and refined by safeguarded Newton
// steps.
#include "ductus/ductus.hpp"
#include "arcus/cardo/cardo.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <new>
#include <vector>

namespace ductus {
namespace {

// Order of a derivative asked for: a non-negative integer, D when absent.
template <int D>
struct NuArg {
    long long v;
};
// A limit: a positive finite number, or None / absent.
struct LimitArg {
    bool given;
    double v;
};

}  // namespace
}  // namespace ductus

namespace pv {

template <int D>
struct Arg<ductus::NuArg<D>> {
    long long v = D;
    static constexpr bool optional = true;
    bool load(PyObject* o, const char*, const char* a) {
        if (!o) return true;
        if (PyBool_Check(o) || !PyIndex_Check(o)) {
            return fail(PyExc_ValueError, "'%s' must be a non-negative integer, got %R", a, o);
        }
        // Saturates: an order far above any degree gives the same results.
        const Py_ssize_t n = PyNumber_AsSsize_t(o, nullptr);
        if (n == -1 && PyErr_Occurred()) return false;
        if (n < 0) return fail(PyExc_ValueError, "'%s' must be a non-negative integer, got %R", a, o);
        v = static_cast<long long>(n);
        return true;
    }
    ductus::NuArg<D> get() const { return ductus::NuArg<D>{v}; }
};

template <>
struct Arg<ductus::LimitArg> {
    bool given = false;
    double v = 0.0;
    static constexpr bool optional = true;
    bool load(PyObject* o, const char*, const char* a) {
        if (!o || o == Py_None) return true;
        double x = -1.0;
        if (!PyBool_Check(o) && (PyFloat_Check(o) || PyLong_Check(o) || PyNumber_Check(o))) {
            x = PyFloat_AsDouble(o);
            if (x == -1.0 && PyErr_Occurred()) PyErr_Clear();
        }
        if (!(x > 0.0) || !std::isfinite(x)) {
            return fail(PyExc_ValueError, "'%s' must be a positive finite number or None, got %R",
                        a, o);
        }
        given = true;
        v = x;
        return true;
    }
    ductus::LimitArg get() const { return ductus::LimitArg{given, v}; }
};

}  // namespace pv

namespace ductus {
namespace {

constexpr double EPS = std::numeric_limits<double>::epsilon();
// Subdivision depth and number of sub-intervals examined per piece: beyond
// them an interval is as narrow as the rounding of its end points.
constexpr int MAX_DEPTH = 64;
constexpr int BUDGET = 1 << 14;

// ---------------------------------------------------------------- Bezier pieces

// The nu-th derivative of a trajectory as polynomial pieces: on [a[k], b[k]]
// it is sum_j c[k][j] B_j^q((x - a[k]) / (b[k] - a[k])) with Bernstein
// polynomials B_j^q. q = -1: the derivative is zero everywhere (nu > p).
struct Pieces {
    int q = -1;
    double start = 0.0;
    std::vector<double> a, b, c;
    std::vector<double> err;  // bound of the rounding error of each piece's coefficients
    std::size_t count() const { return a.size(); }
    const double* coefs(std::size_t k) const { return c.data() + k * static_cast<std::size_t>(q + 1); }
};

// Largest absolute value of c[0..q].
double largest_abs(const double* c, int q) {
    double s = 0.0;
    for (int j = 0; j <= q; ++j) s = std::max(s, std::fabs(c[j]));
    return s;
}

// Bernstein coefficients of span i (U[i] < U[i+1]) of a degree-p spline: the
// blossom of its polynomial at (a, ..., a, b, ..., b), p - j times a and j
// times b, by de Boor's algorithm with one argument per level. The arguments
// lie in the span, so every step is a convex combination. `d` holds p + 1
// doubles of work. False when the work was interrupted (the exception is set).
bool span_bezier(const double* U, const double* P, int p, int i, double* out, double* d) {
    const double a = U[i], b = U[i + 1];
    for (int j = 0; j <= p; ++j) {
        if (cardo::cancel_point(static_cast<std::size_t>(p) * p)) return false;
        for (int k = 0; k <= p; ++k) d[k] = P[i - p + k];
        for (int r = 1; r <= p; ++r) {
            const double t = r <= p - j ? a : b;
            for (int k = p; k >= r; --k) {
                const int g = i - p + k;
                const double alpha = (t - U[g]) / (U[g + p + 1 - r] - U[g]);
                d[k] = (1.0 - alpha) * d[k - 1] + alpha * d[k];
            }
        }
        out[j] = d[p];
    }
    return true;
}

// The knots U[0 .. m] with every decrease within the knot tolerance (an
// ulp or so, as rounding leaves it; evaluation accepts them too) made a tie:
// U[i] = max(U[i - 1], U[i]). False when some knot is not finite or
// decreases beyond the tolerance.
bool tidy_knots(const double* U, Py_ssize_t len, std::vector<double>& out) {
    out.resize(static_cast<std::size_t>(len));
    for (Py_ssize_t i = 0; i < len; ++i) {
        const double u = U[i];
        if (!std::isfinite(u)) return false;
        if (i == 0 || u >= out[i - 1]) {
            out[i] = u;
        } else {
            if (!cardo::keq(u, out[i - 1])) return false;
            out[i] = out[i - 1];
        }
    }
    return true;
}

// The pieces of derivative nu of the spline of degree p with the knots
// U[0 .. n + p + 1] and control points P[0 .. n], after checking that the
// arrays describe a spline: 0 <= p <= n, finite knots that do not decrease
// beyond the knot tolerance, finite control points and a domain of positive
// length.
//
// The derivative spline comes first (The NURBS Book eq. 3.8, applied nu
// times): its control points are differences of control points over knot
// intervals of q + 1 spans, which stay well conditioned next to short spans
// and do not see an offset of the values. Only then is each span of positive
// length turned into the Bernstein coefficients of its polynomial.
bool spline_pieces(int p, int n, const double* Uraw, const double* P, long long nu, Pieces& pc) {
    if (p < 0 || n < p) {
        return pv::fail(PyExc_ValueError, "the trajectory is not a spline: p = %d, n = %d", p, n);
    }
    const Py_ssize_t mlen = Py_ssize_t(n) + p + 2;
    std::vector<double> Uv;
    if (!tidy_knots(Uraw, mlen, Uv)) {
        return pv::fail(PyExc_ValueError, "the knot vector must hold finite, non-decreasing values");
    }
    const double* U = Uv.data();
    for (int i = 0; i <= n; ++i) {
        if (!std::isfinite(P[i])) {
            return pv::fail(PyExc_ValueError, "the control points must be finite");
        }
    }
    if (!(U[n + 1] > U[p])) {
        return pv::fail(PyExc_ValueError, "the domain of the trajectory has zero length");
    }
    pc.start = U[p];
    std::size_t spans = 0;
    for (int i = p; i <= n; ++i) spans += U[i + 1] > U[i];
    pc.a.reserve(spans);
    pc.b.reserve(spans);
    for (int i = p; i <= n; ++i) {
        if (U[i + 1] > U[i]) {
            pc.a.push_back(U[i]);
            pc.b.push_back(U[i + 1]);
        }
    }
    if (nu > p) return true;  // zero everywhere
    const int d = static_cast<int>(nu), q = p - d;
    // Control points of derivative k (k = 1 .. d) on the knots U[k .. m - k],
    // and a bound of their rounding errors.
    std::vector<double> Q(P, P + n + 1), E(static_cast<std::size_t>(n) + 1, 0.0);
    for (int k = 1; k <= d; ++k) {
        const int deg = p - k + 1;
        for (int j = 0; j <= n - k; ++j) {
            const double h = U[j + p + 1] - U[j + k];
            if (!(h > 0.0)) {
                // The basis function of this coefficient is zero everywhere.
                Q[j] = 0.0;
                E[j] = 0.0;
                continue;
            }
            const double v = deg * (Q[j + 1] - Q[j]) / h;
            // (a bound beyond the range of floats stays the largest float)
            E[j] = std::min(deg * (E[j + 1] + E[j]) / h + 4.0 * EPS * std::fabs(v),
                            std::numeric_limits<double>::max());
            Q[j] = v;
        }
    }
    for (int j = 0; j <= n - d; ++j) {
        if (!std::isfinite(Q[j])) {
            return pv::fail(PyExc_OverflowError,
                            "derivative %lld of the trajectory overflows the range of floats", nu);
        }
    }
    const std::size_t w = static_cast<std::size_t>(q) + 1;
    pc.c.resize(spans * w);
    pc.err.resize(spans);
    std::vector<double> work(w);
    const double* Ud = U + d;  // knots of the derivative, degree q
    std::size_t k = 0;
    for (int i = p; i <= n; ++i) {
        if (!(U[i + 1] > U[i])) continue;
        const int s = i - d;  // the same span among the derivative's knots
        double* c = pc.c.data() + w * k;
        if (!span_bezier(Ud, Q.data(), q, s, c, work.data())) return false;
        double e = 0.0;
        for (int j = s - q; j <= s; ++j) e = std::max(e, E[j]);
        pc.err[k++] = e + 2.0 * static_cast<double>(w) * EPS * largest_abs(Q.data() + (s - q), q);
        for (std::size_t j = 0; j < w; ++j) {
            if (!std::isfinite(c[j])) {
                return pv::fail(PyExc_OverflowError,
                                "derivative %lld of the trajectory overflows the range of floats",
                                nu);
            }
        }
    }
    pc.q = q;
    return true;
}

bool make_pieces(TrajObj* self, long long nu, Pieces& pc) {
    Data d;
    if (!d.take(self)) return false;
    if (d.p < 0 || d.n < d.p) {
        return pv::fail(PyExc_ValueError, "the trajectory is not a spline: p = %d, n = %d", d.p,
                        d.n);
    }
    return spline_pieces(d.p, d.n, d.U.data, d.P.data, nu, pc);
}

// Value of a Bernstein polynomial (degree q >= 0) at s in [0, 1] (de
// Casteljau), and its derivative with respect to s in `ds` when asked.
double bez_eval(const double* c, int q, double s, std::vector<double>& w, double* ds = nullptr) {
    w.assign(c, c + q + 1);
    const double t = 1.0 - s;
    for (int r = q; r >= 1; --r) {
        if (r == 1 && ds) *ds = q * (w[1] - w[0]);
        for (int j = 0; j < r; ++j) w[j] = t * w[j] + s * w[j + 1];
    }
    if (q == 0 && ds) *ds = 0.0;
    return w[0];
}

// Splits the coefficients of [s0, s1] at the middle (de Casteljau at 1/2).
void bez_split(const double* c, int q, double* left, double* right) {
    right[q] = c[q];
    std::vector<double> w(c, c + q + 1);
    left[0] = w[0];
    for (int r = 1; r <= q; ++r) {
        for (int j = 0; j + r <= q; ++j) w[j] = 0.5 * (w[j] + w[j + 1]);
        left[r] = w[0];
        right[q - r] = w[q - r];
    }
}

// Root of f(s) - target in [lo, hi] for a Bernstein polynomial f whose values
// minus target have opposite signs at lo and hi (flo the sign side at lo):
// Newton steps kept inside the shrinking bracket, bisection otherwise.
// Returns the final bracket end on the side of hi (where f - target has the
// sign it has at hi), or the exact root.
double refine(const double* f, int q, double lo, double hi, double target, std::vector<double>& w) {
    const bool lo_neg = bez_eval(f, q, lo, w) - target < 0.0;
    double x = 0.5 * (lo + hi), dx_old = hi - lo;
    for (int it = 0; it < 200; ++it) {
        double d = 0.0;
        const double fx = bez_eval(f, q, x, w, &d) - target;
        if (fx == 0.0) return x;
        if ((fx < 0.0) == lo_neg) lo = x;
        else hi = x;
        if (hi - lo <= 2.0 * EPS * std::max(std::fabs(lo), std::fabs(hi))) break;
        double xn = d != 0.0 ? x - fx / d : lo - 1.0;
        // Bisection when Newton leaves the bracket or does not halve the step.
        if (!(xn > lo && xn < hi) || std::fabs(xn - x) > 0.5 * dx_old) xn = 0.5 * (lo + hi);
        dx_old = std::fabs(xn - x);
        if (xn == x) break;
        x = xn;
    }
    return hi;
}

// Isolation of the zeros of the derivative e (degree r >= 0) of a piece whose
// values are of size `scale`, by subdivision of [0, 1]. Collects the points
// at which the piece may take its extrema: the ends of every interval of the
// subdivision and the refined zeros inside. Coefficients below the rounding
// noise of e count as zero, and an interval on which the piece changes by
// less than its rounding is not split further.
struct Critical {
    const double* e0;
    int r;
    double noise;   // rounding noise of the coefficients of e
    double flat;    // change of the piece below its rounding
    int budget;
    std::vector<double>* out;
    std::vector<double> w;

    void run(const double* e, double s0, double s1, int depth) {
        if (cardo::cancel_point(static_cast<std::size_t>(r) * (r + 1))) return;
        out->push_back(s0);
        out->push_back(s1);
        bool pos = false, neg = false;
        double big = 0.0;
        for (int j = 0; j <= r; ++j) {
            pos = pos || e[j] > noise;
            neg = neg || e[j] < -noise;
            big = std::max(big, std::fabs(e[j]));
        }
        // Monotone (to rounding) or flat: the ends hold the extrema.
        if (!pos || !neg || big * (s1 - s0) <= flat) return;
        int changes = 0, last = 0;
        for (int j = 0; j <= r; ++j) {
            const int sg = e[j] > noise ? 1 : (e[j] < -noise ? -1 : 0);
            if (sg && last && sg != last) ++changes;
            if (sg) last = sg;
        }
        const bool ends = (e[0] > noise && e[r] < -noise) || (e[0] < -noise && e[r] > noise);
        if (changes == 1 && ends) {
            out->push_back(refine(e0, r, s0, s1, 0.0, w));
            return;
        }
        if (depth >= MAX_DEPTH || --budget <= 0 || !(s0 < 0.5 * (s0 + s1) && 0.5 * (s0 + s1) < s1)) {
            out->push_back(0.5 * (s0 + s1));
            return;
        }
        std::vector<double> left(r + 1), right(r + 1);
        bez_split(e, r, left.data(), right.data());
        const double m = 0.5 * (s0 + s1);
        run(left.data(), s0, m, depth + 1);
        run(right.data(), m, s1, depth + 1);
    }
};

// Points of [0, 1] (sorted) at which piece c (degree q, coefficients known
// to within err) may take its extrema.
void critical_points(const double* c, int q, double err, std::vector<double>& pts) {
    pts.clear();
    pts.push_back(0.0);
    pts.push_back(1.0);
    if (q < 2) return;
    std::vector<double> e(q);
    for (int j = 0; j < q; ++j) e[j] = q * (c[j + 1] - c[j]);
    const double scale = largest_abs(c, q);
    Critical cr{e.data(), q - 1, 2.0 * q * err + 4.0 * q * EPS * scale, 2.0 * err + 2.0 * EPS * scale,
                BUDGET, &pts, {}};
    cr.run(e.data(), 0.0, 1.0, 0);
    std::sort(pts.begin(), pts.end());
    pts.erase(std::unique(pts.begin(), pts.end()), pts.end());
}

struct Ext {
    double ymin, xmin, ymax, xmax;
};

double time_of(const Pieces& pc, std::size_t k, double s) {
    if (s <= 0.0) return pc.a[k];
    if (s >= 1.0) return pc.b[k];
    return std::min(pc.b[k], pc.a[k] + s * (pc.b[k] - pc.a[k]));
}

// Extrema of the pieces; ties go to the earliest time.
Ext extrema_of(const Pieces& pc) {
    if (pc.q < 0) return Ext{0.0, pc.start, 0.0, pc.start};
    Ext r{pc.coefs(0)[0], pc.a[0], pc.coefs(0)[0], pc.a[0]};
    std::vector<double> pts, w;
    for (std::size_t k = 0; k < pc.count(); ++k) {
        const double* c = pc.coefs(k);
        critical_points(c, pc.q, pc.err[k], pts);
        for (double s : pts) {
            const double y = s == 0.0 ? c[0] : (s == 1.0 ? c[pc.q] : bez_eval(c, pc.q, s, w));
            if (y < r.ymin) { r.ymin = y; r.xmin = time_of(pc, k, s); }
            if (y > r.ymax) { r.ymax = y; r.xmax = time_of(pc, k, s); }
        }
    }
    return r;
}

// First point of [s0, s1] at which |f| exceeds L (the start of the first
// excursion), searched left to right; -1 when the hull shows none. c holds
// the coefficients of f on [s0, s1], f0 those on the whole piece.
struct Excess {
    const double* f0;
    int q;
    double L;
    double noise;  // rounding error of the coefficients
    int budget;
    std::vector<double> w;

    double run(const double* c, double s0, double s1, int depth) {
        if (cardo::cancel_point(static_cast<std::size_t>(q) * (q + 1))) return -1.0;
        double lo = c[0], hi = c[0];
        bool monotone_up = true, monotone_down = true;
        for (int j = 1; j <= q; ++j) {
            lo = std::min(lo, c[j]);
            hi = std::max(hi, c[j]);
            monotone_up = monotone_up && c[j] >= c[j - 1] - noise;
            monotone_down = monotone_down && c[j] <= c[j - 1] + noise;
        }
        if (hi <= L && lo >= -L) return -1.0;
        if (std::fabs(c[0]) > L) return s0;
        if (monotone_up || monotone_down) {
            // From |f(s0)| <= L, one crossing of L or -L, if any.
            if (std::fabs(c[q]) <= L) return -1.0;
            return refine(f0, q, s0, s1, c[q] > L ? L : -L, w);
        }
        const double m = 0.5 * (s0 + s1);
        if (depth >= MAX_DEPTH || --budget <= 0 || !(s0 < m && m < s1)) {
            return std::fabs(c[q]) > L ? s1 : -1.0;
        }
        std::vector<double> left(q + 1), right(q + 1);
        bez_split(c, q, left.data(), right.data());
        const double t = run(left.data(), s0, m, depth + 1);
        return t >= 0.0 ? t : run(right.data(), m, s1, depth + 1);
    }
};

// First time at which |f| exceeds L; `fallback` when rounding hides it.
double first_excess(const Pieces& pc, double L, double fallback) {
    for (std::size_t k = 0; k < pc.count(); ++k) {
        Excess ex{pc.coefs(k), pc.q, L, 2.0 * pc.err[k], BUDGET, {}};
        const double s = ex.run(pc.coefs(k), 0.0, 1.0, 0);
        if (s >= 0.0) return time_of(pc, k, s);
    }
    return fallback;
}

// ---------------------------------------------------------------- limits

struct LimitSpec {
    const char* arg;
    const char* name;
    int k;  // order of the time derivative limited
    LimitArg lim;
};

// Checks the limits: at least one given, each on a derivative of the
// trajectory (k - order >= 0).
bool check_limits(TrajObj* self, const LimitSpec* ls, int count) {
    bool any = false;
    for (int i = 0; i < count; ++i) any = any || ls[i].lim.given;
    if (!any) return pv::fail(PyExc_ValueError, "give at least one of 'vmax', 'amax' and 'jmax'");
    for (int i = 0; i < count; ++i) {
        if (ls[i].lim.given && static_cast<long long>(ls[i].k) < static_cast<long long>(self->order)) {
            return pv::fail(PyExc_ValueError,
                            "'%s' limits the %s, derivative %d - order = %lld of this trajectory "
                            "of order %u; only derivatives of order 0 and higher can be limited",
                            ls[i].arg, ls[i].name, ls[i].k,
                            static_cast<long long>(ls[i].k) - self->order, self->order);
        }
    }
    return true;
}

// Largest absolute value of derivative k - order, and where it is reached.
bool peak_of(TrajObj* self, int k, Pieces& pc, double& peak, double& at) {
    if (!make_pieces(self, static_cast<long long>(k) - self->order, pc)) return false;
    const Ext e = extrema_of(pc);
    peak = std::max(std::fabs(e.ymin), std::fabs(e.ymax));
    at = std::fabs(e.ymax) >= std::fabs(e.ymin) ? e.xmax : e.xmin;
    return !cardo::cancelled();  // interrupted: the poll raised
}

// ---------------------------------------------------------------- Gauss-Legendre

// Nodes in (-1, 1) and weights of the m-point Gauss-Legendre rule (Newton on
// the Legendre polynomial from Chebyshev-like starting values).
void gauss_legendre(int m, std::vector<double>& x, std::vector<double>& w) {
    x.assign(m, 0.0);
    w.assign(m, 0.0);
    const double pi = 3.14159265358979323846;
    for (int i = 0; i < (m + 1) / 2; ++i) {
        if (cardo::cancel_point(8 * static_cast<std::size_t>(m))) return;
        double z = std::cos(pi * (i + 0.75) / (m + 0.5)), dp = 1.0;
        for (int it = 0; it < 100; ++it) {
            double p1 = 1.0, p2 = 0.0;
            for (int j = 1; j <= m; ++j) {
                const double p3 = p2;
                p2 = p1;
                p1 = ((2.0 * j - 1.0) * z * p2 - (j - 1.0) * p3) / j;
            }
            dp = m * (z * p1 - p2) / (z * z - 1.0);
            const double z1 = z;
            z = z1 - p1 / dp;
            if (std::fabs(z - z1) <= 4.0 * EPS) {
                // One more derivative at the converged node.
                p1 = 1.0; p2 = 0.0;
                for (int j = 1; j <= m; ++j) {
                    const double p3 = p2;
                    p2 = p1;
                    p1 = ((2.0 * j - 1.0) * z * p2 - (j - 1.0) * p3) / j;
                }
                dp = m * (z * p1 - p2) / (z * z - 1.0);
                break;
            }
        }
        x[i] = -z;
        x[m - 1 - i] = z;
        w[i] = w[m - 1 - i] = 2.0 / ((1.0 - z * z) * dp * dp);
    }
    if (m % 2 == 1) x[m / 2] = 0.0;
}

// ---------------------------------------------------------------- methods

PyObject* no_memory() {
    pv::fail_memory();
    return nullptr;
}

PyObject* extrema(TrajObj* self, NuArg<0> nu) {
    try {
        Pieces pc;
        if (!make_pieces(self, nu.v, pc)) return nullptr;
        const Ext e = extrema_of(pc);
        if (cardo::cancelled()) return nullptr;  // interrupted: the poll raised
        return Py_BuildValue("(dddd)", e.ymin, e.xmin, e.ymax, e.xmax);
    } catch (const std::bad_alloc&) {
        return no_memory();
    }
}

PyObject* violations(TrajObj* self, LimitArg vmax, LimitArg amax, LimitArg jmax) {
    const LimitSpec ls[3] = {{"vmax", "velocity", 1, vmax},
                             {"amax", "acceleration", 2, amax},
                             {"jmax", "jerk", 3, jmax}};
    if (!need_data(self) || !check_limits(self, ls, 3)) return nullptr;
    pv::Ref list(PyList_New(0));
    if (!list) return nullptr;
    try {
        for (const LimitSpec& l : ls) {
            if (!l.lim.given) continue;
            Pieces pc;
            double peak = 0.0, at = 0.0;
            if (!peak_of(self, l.k, pc, peak, at)) return nullptr;
            if (!(peak > l.lim.v)) continue;
            const double t = first_excess(pc, l.lim.v, at);
            if (cardo::cancelled()) return nullptr;
            pv::Ref item(Py_BuildValue("(sddd)", l.name, t, peak, l.lim.v));
            if (!item || PyList_Append(list.get(), item.get()) < 0) return nullptr;
        }
    } catch (const std::bad_alloc&) {
        return no_memory();
    }
    return list.release();
}

double timescale(TrajObj* self, LimitArg vmax, LimitArg amax, LimitArg jmax) {
    const LimitSpec ls[3] = {{"vmax", "velocity", 1, vmax},
                             {"amax", "acceleration", 2, amax},
                             {"jmax", "jerk", 3, jmax}};
    Data d;
    if (!d.take(self) || !check_limits(self, ls, 3)) return 0.0;
    if (self->order != 0) {
        pv::fail(PyExc_ValueError,
                 "timescale() needs a displacement trajectory (order 0), got order %u: "
                 "stretching time does not scale the values of a derivative trajectory",
                 self->order);
        return 0.0;
    }
    double s = 0.0;
    try {
        for (const LimitSpec& l : ls) {
            if (!l.lim.given) continue;
            Pieces pc;
            double peak = 0.0, at = 0.0;
            if (!peak_of(self, l.k, pc, peak, at)) return 0.0;
            const double r = peak / l.lim.v;
            s = std::max(s, l.k == 1 ? r : (l.k == 2 ? std::sqrt(r) : std::cbrt(r)));
        }
    } catch (const std::bad_alloc&) {
        no_memory();
        return 0.0;
    }
    if (!std::isfinite(s)) {
        pv::fail(PyExc_OverflowError, "the time scale overflows the range of floats");
        return 0.0;
    }
    if (!(s > 0.0)) {
        pv::fail(PyExc_ValueError,
                 "the limited derivatives are zero everywhere: every time scale meets the limits");
        return 0.0;
    }
    // The peaks of the stretched trajectory differ from peak / s**k by the
    // rounding of the stretched knots: check them on exactly the knots that
    // hscale(s) gives, and grow s by the excess and a few ulps until every
    // limit holds.
    try {
        const DArr U = d.U;
        std::vector<double> Us(static_cast<std::size_t>(U.len));
        for (int it = 0; it < 100; ++it) {
            Us[0] = U.data[0];
            for (Py_ssize_t i = 1; i < U.len; ++i) {
                Us[i] = scaled_knot(U.data[0], U.data[i], s);
                if (!std::isfinite(Us[i])) {
                    pv::fail(PyExc_OverflowError, "the time scale overflows the range of floats");
                    return 0.0;
                }
            }
            double grow = 1.0;
            bool holds = true;
            for (const LimitSpec& l : ls) {
                if (!l.lim.given) continue;
                Pieces pc;
                if (!spline_pieces(d.p, d.n, Us.data(), d.P.data, l.k, pc)) return 0.0;
                const Ext e = extrema_of(pc);
                if (cardo::cancelled()) return 0.0;
                const double peak = std::max(std::fabs(e.ymin), std::fabs(e.ymax));
                if (peak > l.lim.v) {
                    holds = false;
                    const double r = peak / l.lim.v;
                    grow = std::max(grow, l.k == 1 ? r : (l.k == 2 ? std::sqrt(r) : std::cbrt(r)));
                }
            }
            if (holds) return s;
            // Doubling nudges: knots far from zero move only by their own ulps.
            s = s * grow * (1.0 + std::ldexp(EPS, it));
            if (!std::isfinite(s)) break;
        }
    } catch (const std::bad_alloc&) {
        no_memory();
        return 0.0;
    }
    pv::fail(PyExc_OverflowError, "no time scale within the range of floats meets the limits");
    return 0.0;
}

double roughness(TrajObj* self, NuArg<2> nu) {
    try {
        Pieces pc;
        if (!make_pieces(self, nu.v, pc)) return 0.0;
        if (pc.q < 0) return 0.0;
        // m points integrate degree 2m - 1 >= 2q exactly. The pieces are
        // scaled by their largest coefficient so that the squares overflow
        // only when the integral does.
        const int m = pc.q + 1;
        double big = 0.0;
        for (std::size_t k = 0; k < pc.count(); ++k) big = std::max(big, largest_abs(pc.coefs(k), pc.q));
        if (big == 0.0) return 0.0;
        std::vector<double> x, wt, w, c(static_cast<std::size_t>(m));
        gauss_legendre(m, x, wt);
        if (cardo::cancelled()) return 0.0;
        double sum = 0.0, comp = 0.0;  // Neumaier summation over the pieces
        for (std::size_t k = 0; k < pc.count(); ++k) {
            for (int j = 0; j < m; ++j) c[j] = pc.coefs(k)[j] / big;
            double piece = 0.0;
            for (int i = 0; i < m; ++i) {
                if (cardo::cancel_point(static_cast<std::size_t>(m) * m)) return 0.0;
                const double g = bez_eval(c.data(), pc.q, 0.5 * (1.0 + x[i]), w);
                piece += wt[i] * g * g;
            }
            const double v = 0.5 * (pc.b[k] - pc.a[k]) * piece;
            const double t = sum + v;
            comp += std::fabs(sum) >= std::fabs(v) ? (sum - t) + v : (v - t) + sum;
            sum = t;
        }
        const double r = (sum + comp) * big * big;
        if (!std::isfinite(r)) {
            pv::fail(PyExc_OverflowError,
                     "the roughness integral of derivative %lld overflows the range of floats", nu.v);
            return 0.0;
        }
        return r;
    } catch (const std::bad_alloc&) {
        no_memory();
        return 0.0;
    }
}

// ---------------------------------------------------------------- tables

const char* const extrema_args[] = {"extrema", "nu", nullptr};
const char* const violations_args[] = {"violations", "vmax", "amax", "jmax", nullptr};
const char* const timescale_args[] = {"timescale", "vmax", "amax", "jmax", nullptr};
const char* const roughness_args[] = {"roughness", "nu", nullptr};

using ExtremaM = pv::Method<extrema, extrema_args>;
using ViolationsM = pv::Method<violations, violations_args>;
using TimescaleM = pv::Method<timescale, timescale_args>;
using RoughnessM = pv::Method<roughness, roughness_args>;

#define ORDERS \
    "The trajectory's order says what it stands for (0 displacement, 1 velocity,\n" \
    "2 acceleration, 3 jerk): the velocity is derivative 1 - order, the\n" \
    "acceleration 2 - order and the jerk 3 - order.\n"
#define LIMIT_PARAMS \
    "Parameters\n----------\n" \
    "vmax : float or None, optional\n    Limit of the absolute velocity.\n" \
    "amax : float or None, optional\n    Limit of the absolute acceleration.\n" \
    "jmax : float or None, optional\n    Limit of the absolute jerk.\n\n"
#define LIMIT_ERRORS \
    "ValueError for a limit that is not a positive finite number or None, when\n" \
    "no limit is given, for a limit on a derivative of negative order (a\n" \
    "velocity limit on an acceleration trajectory), and for a trajectory\n" \
    "without arrays; OverflowError when a derivative exceeds the range of\n" \
    "floats."
#define PIECES_REFS \
    "L. Ramshaw, Blossoms are polar forms, Computer Aided Geometric Design 6\n" \
    "(1989) 323-358.\n" \
    "J. M. Lane, R. F. Riesenfeld, Bounds on a polynomial, BIT 21 (1981) 112-117.\n"

const char extrema_doc[] =
    "extrema($self, nu=0)\n--\n\n"
    "Smallest and largest value of a derivative over the whole domain.\n\n"
    "Parameters\n----------\nnu : int, optional\n"
    "    Order of the derivative (default 0: the values themselves).\n\n"
    "Returns\n-------\ntuple of four floats\n"
    "    (ymin, xmin, ymax, xmax): the smallest and the largest value of the\n"
    "    nu-th derivative on [start, stop] and a time at which each occurs\n"
    "    (the earliest one when several do).\n\n"
    "Notes\n-----\n"
    "Exact to rounding, not sampled: the control points of derivative nu are\n"
    "formed first (differences over knot intervals, so that short spans and an\n"
    "offset of the values cost no accuracy), then every knot span is converted\n"
    "to its Bezier form, the zeros of derivative nu + 1 on it are isolated by\n"
    "subdivision (the convex hull of the Bernstein coefficients bounds the\n"
    "polynomial) and refined by safeguarded Newton steps; the extrema are\n"
    "taken over these zeros and the ends of the spans. A derivative that is\n"
    "constant on a span has its extremum at the start of the span. Where the\n"
    "derivative jumps at a knot (nu >= p - multiplicity + 1), both one-sided\n"
    "limits count, and the time is the knot. Derivatives above the degree are\n"
    "zero: nu > p gives (0.0, start, 0.0, start).\n\n"
    "ValueError for nu that is not a non-negative integer, and for a\n"
    "trajectory without arrays; OverflowError when the derivative exceeds\n"
    "the range of floats.\n\n"
    "References\n----------\n" PIECES_REFS;
const char violations_doc[] =
    "violations($self, vmax=None, amax=None, jmax=None)\n--\n\n"
    "The velocity, acceleration and jerk limits that the trajectory exceeds.\n\n"
    LIMIT_PARAMS
    "Returns\n-------\nlist of tuples\n"
    "    One (name, time, peak, limit) per exceeded limit, in the order\n"
    "    \"velocity\", \"acceleration\", \"jerk\": the first time at which the\n"
    "    absolute value exceeds the limit, the largest absolute value over the\n"
    "    domain and the limit. An empty list: every given limit holds\n"
    "    everywhere on [start, stop], not only at sampled times.\n\n"
    "Notes\n-----\n" ORDERS
    "The peaks come from extrema(); the first excess is found by subdivision\n"
    "of the Bezier pieces in time order and refined to full precision.\n"
    "A peak that exceeds the limit by rounding only (a few units in the last\n"
    "place) is still reported.\n\n" LIMIT_ERRORS "\n\n"
    "References\n----------\n" PIECES_REFS;
const char timescale_doc[] =
    "timescale($self, vmax=None, amax=None, jmax=None)\n--\n\n"
    "The uniform time stretch that just meets velocity, acceleration and jerk\nlimits.\n\n"
    LIMIT_PARAMS
    "Returns\n-------\nfloat\n"
    "    The factor s > 0: stretching the domain by s (hscale(s)) scales the\n"
    "    k-th time derivative by s**-k, so s = max over the given limits of\n"
    "    (peak / limit)**(1 / k). s < 1: the motion can be made faster.\n\n"
    "Notes\n-----\n"
    "s is checked on the knots that hscale(s) leaves: after hscale(s) every\n"
    "peak, as extrema() finds it, is at most its limit, so violations() with\n"
    "the same limits is empty; s is raised by the few ulps that the rounding of\n"
    "the stretched knots needs, so at least one peak equals its limit to about\n"
    "1e-13 relative (knots far from zero, e.g. 1.7e9, round more coarsely).\n"
    "Only a displacement trajectory\n"
    "(order 0) can be scaled so: ValueError for any other order, since\n"
    "stretching the domain of a velocity or acceleration trajectory does not\n"
    "scale its values. ValueError also when every limited derivative is zero\n"
    "everywhere (no smallest stretch exists).\n" LIMIT_ERRORS "\n\n"
    "References\n----------\n"
    "J. M. Hollerbach, Dynamic scaling of manipulator trajectories, Journal of\n"
    "Dynamic Systems, Measurement, and Control 106 (1984) 102-106.\n";
const char roughness_doc[] =
    "roughness($self, nu=2)\n--\n\n"
    "Integral over the domain of the square of a derivative.\n\n"
    "Parameters\n----------\nnu : int, optional\n"
    "    Order of the derivative (default 2: the bending energy of a\n"
    "    displacement).\n\n"
    "Returns\n-------\nfloat\n"
    "    The integral of (d^nu y / dx^nu)**2 over [start, stop].\n\n"
    "Notes\n-----\n"
    "Exact to rounding: Gauss-Legendre quadrature with p - nu + 1 points per\n"
    "knot span integrates the squared piece of degree 2 (p - nu) exactly.\n"
    "nu > p gives 0.0. ValueError for nu that is not a non-negative integer,\n"
    "and for a trajectory without arrays; OverflowError when the derivative or\n"
    "the integral exceeds the range of floats.\n\n"
    "References\n----------\n"
    "M. Abramowitz, I. A. Stegun, Handbook of Mathematical Functions, Dover,\n"
    "1965, sec. 25.4.\n";

}  // namespace

PyMethodDef traj_limits_methods[] = {
    ExtremaM::def(extrema_doc),
    ViolationsM::def(violations_doc),
    TimescaleM::def(timescale_doc),
    RoughnessM::def(roughness_doc),
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace ductus
