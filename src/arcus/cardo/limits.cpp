// cardo: extrema, first exceedance of a limit, the time scale that meets
// limits, and roughness integrals of the derivatives of a spline, from the
// Bezier pieces of the derivative (see limits.h).
#include "arcus/cardo/limits.h"
#include "arcus/cardo/cardo.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <new>
#include <vector>

namespace cardo {
namespace {

constexpr double EPS = std::numeric_limits<double>::epsilon();
// Subdivision depth and number of sub-intervals examined per piece: beyond
// them an interval is as narrow as the rounding of its end points.
constexpr int MAX_DEPTH = 64;
constexpr int BUDGET = 1 << 14;

// ---------------------------------------------------------------- Bezier pieces

// The nu-th derivative of a spline as polynomial pieces: on [a[k], b[k]]
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
// doubles of work. False when the work was stopped on request.
bool span_bezier(const double* U, const double* P, int p, int i, double* out, double* d) {
    const double a = U[i], b = U[i + 1];
    for (int j = 0; j <= p; ++j) {
        if (cancel_point(static_cast<std::size_t>(p) * p)) return false;
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
bool tidy_knots(const double* U, std::size_t len, std::vector<double>& out) {
    out.resize(len);
    for (std::size_t i = 0; i < len; ++i) {
        const double u = U[i];
        if (!std::isfinite(u)) return false;
        if (i == 0 || u >= out[i - 1]) {
            out[i] = u;
        } else {
            if (!keq(u, out[i - 1])) return false;
            out[i] = out[i - 1];
        }
    }
    return true;
}

// The pieces of derivative nu of the spline of degree p with the knots
// U[0 .. n + p + 1] and control points P[0 .. n], after checking that the
// arrays describe a spline: 0 <= p <= n, finite knots that do not decrease
// beyond the knot tolerance, finite control points and a domain of positive
// length. Returns the status (OK, a LIM_ code or CANCELLED).
//
// The derivative spline comes first (The NURBS Book eq. 3.8, applied nu
// times): its control points are differences of control points over knot
// intervals of q + 1 spans, which stay well conditioned next to short spans
// and do not see an offset of the values. Only then is each span of positive
// length turned into the Bernstein coefficients of its polynomial.
int spline_pieces(int n, int p, const double* Uraw, const double* P, long long nu, Pieces& pc) {
    if (p < 0 || n < p) return LIM_NOT_SPLINE;
    const std::size_t mlen = static_cast<std::size_t>(n) + p + 2;
    std::vector<double> Uv;
    if (!tidy_knots(Uraw, mlen, Uv)) return LIM_BAD_KNOTS;
    const double* U = Uv.data();
    for (int i = 0; i <= n; ++i) {
        if (!std::isfinite(P[i])) return LIM_BAD_CPTS;
    }
    if (!(U[n + 1] > U[p])) return LIM_ZERO_DOMAIN;
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
    if (nu > p) return OK;  // zero everywhere
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
        if (!std::isfinite(Q[j])) return LIM_DERIV_OVERFLOW;
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
        if (!span_bezier(Ud, Q.data(), q, s, c, work.data())) return CANCELLED;
        double e = 0.0;
        for (int j = s - q; j <= s; ++j) e = std::max(e, E[j]);
        pc.err[k++] = e + 2.0 * static_cast<double>(w) * EPS * largest_abs(Q.data() + (s - q), q);
        for (std::size_t j = 0; j < w; ++j) {
            if (!std::isfinite(c[j])) return LIM_DERIV_OVERFLOW;
        }
    }
    pc.q = q;
    return OK;
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
// Steps of refine per root. Newton converges in a few steps where it is
// kept, and the bisection it falls back to reaches the rounding of a root
// away from zero within about 60; the cap ends the search near zero, where a
// relative width of 2 eps would take up to a thousand halvings of a bracket
// already far below any value of interest.
constexpr int REFINE_STEPS = 200;

double refine(const double* f, int q, double lo, double hi, double target, std::vector<double>& w) {
    const bool lo_neg = bez_eval(f, q, lo, w) - target < 0.0;
    double x = 0.5 * (lo + hi), dx_old = hi - lo;
    for (int it = 0; it < REFINE_STEPS; ++it) {
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
        if (cancel_point(static_cast<std::size_t>(r) * (r + 1))) return;
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
        if (cancel_point(static_cast<std::size_t>(q) * (q + 1))) return -1.0;
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


// The time-scale steps: each one grows the scale by the largest excess of
// the peaks over the limits on the stretched knots and by 2^it ulps, so the
// scale leaves the range of floats long before this many steps.
constexpr int MAX_SCALE_STEPS = 100;

// Largest absolute value of derivative nu, and the earliest time at which it
// is reached; the pieces in `pc`.
int peak_of(int n, int p, const double* U, const double* P, long long nu, Pieces& pc,
            double& peak, double& at) {
    const int st = spline_pieces(n, p, U, P, nu, pc);
    if (st != OK) return st;
    const Ext e = extrema_of(pc);
    if (cancelled()) return CANCELLED;
    peak = std::max(std::fabs(e.ymin), std::fabs(e.ymax));
    at = std::fabs(e.ymax) >= std::fabs(e.ymin) ? e.xmax : e.xmin;
    return OK;
}

// The stretch that brings a peak of derivative k down by the factor r.
double stretch(double r, int k) { return k == 1 ? r : (k == 2 ? std::sqrt(r) : std::cbrt(r)); }

}  // namespace

void DerivativeExtrema(int n, int p, const double* U, const double* P, long long nu,
                       double& ymin, double& xmin, double& ymax, double& xmax, int& info) {
    try {
        Pieces pc;
        info = spline_pieces(n, p, U, P, nu, pc);
        if (info != OK) return;
        const Ext e = extrema_of(pc);
        if (cancelled()) {
            info = CANCELLED;
            return;
        }
        ymin = e.ymin;
        xmin = e.xmin;
        ymax = e.ymax;
        xmax = e.xmax;
    } catch (const std::bad_alloc&) {
        info = NO_MEMORY;
    }
}

void FirstExceedance(int n, int p, const double* U, const double* P, long long nu, double L,
                     double& peak, double& t, int& info) {
    t = std::numeric_limits<double>::quiet_NaN();
    try {
        Pieces pc;
        double at = 0.0;
        peak = 0.0;
        info = peak_of(n, p, U, P, nu, pc, peak, at);
        if (info != OK || !(peak > L)) return;
        const double x = first_excess(pc, L, at);
        if (cancelled()) {
            info = CANCELLED;
            return;
        }
        t = x;
    } catch (const std::bad_alloc&) {
        info = NO_MEMORY;
    }
}

void TimeScale(int n, int p, const double* U, const double* P, int nl, const int* k,
               const double* lim, double& s, int& which, int& info) {
    which = -1;
    info = OK;
    try {
        double sc = 0.0;
        for (int i = 0; i <= nl; ++i) {
            Pieces pc;
            double peak = 0.0, at = 0.0;
            info = peak_of(n, p, U, P, k[i], pc, peak, at);
            if (info != OK) {
                if (info == LIM_DERIV_OVERFLOW) which = i;
                return;
            }
            sc = std::max(sc, stretch(peak / lim[i], k[i]));
        }
        if (!std::isfinite(sc)) {
            info = LIM_SCALE_OVERFLOW;
            return;
        }
        if (!(sc > 0.0)) {
            info = LIM_ALL_ZERO;
            return;
        }
        // The peaks of the stretched spline differ from peak / s**k by the
        // rounding of the stretched knots: check them on exactly those knots,
        // and grow s by the excess and a few ulps until every limit holds.
        const std::size_t len = static_cast<std::size_t>(n) + p + 2;
        std::vector<double> Us(len);
        for (int it = 0; it < MAX_SCALE_STEPS; ++it) {
            Us[0] = U[0];
            for (std::size_t i = 1; i < len; ++i) {
                Us[i] = ScaledKnot(U[0], U[i], sc);
                if (!std::isfinite(Us[i])) {
                    info = LIM_SCALE_OVERFLOW;
                    return;
                }
            }
            double grow = 1.0;
            bool holds = true;
            for (int i = 0; i <= nl; ++i) {
                Pieces pc;
                info = spline_pieces(n, p, Us.data(), P, k[i], pc);
                if (info != OK) {
                    if (info == LIM_DERIV_OVERFLOW) which = i;
                    return;
                }
                const Ext e = extrema_of(pc);
                if (cancelled()) {
                    info = CANCELLED;
                    return;
                }
                const double peak = std::max(std::fabs(e.ymin), std::fabs(e.ymax));
                if (peak > lim[i]) {
                    holds = false;
                    grow = std::max(grow, stretch(peak / lim[i], k[i]));
                }
            }
            if (holds) {
                s = sc;
                return;
            }
            // Doubling nudges: knots far from zero move only by their own ulps.
            sc = sc * grow * (1.0 + std::ldexp(EPS, it));
            if (!std::isfinite(sc)) break;
        }
    } catch (const std::bad_alloc&) {
        info = NO_MEMORY;
        return;
    }
    info = LIM_NO_SCALE;
}

void Roughness(int n, int p, const double* U, const double* P, long long nu, double& r,
               int& info) {
    r = 0.0;
    try {
        Pieces pc;
        info = spline_pieces(n, p, U, P, nu, pc);
        if (info != OK || pc.q < 0) return;
        // m points integrate degree 2m - 1 >= 2q exactly. The pieces are
        // scaled by their largest coefficient so that the squares overflow
        // only when the integral does.
        const int m = pc.q + 1;
        double big = 0.0;
        for (std::size_t k = 0; k < pc.count(); ++k) big = std::max(big, largest_abs(pc.coefs(k), pc.q));
        if (big == 0.0) return;
        const std::size_t mm = static_cast<std::size_t>(m);
        std::vector<double> x(mm), wt(mm), w, c(mm);
        GaussLegendre(m, x.data(), wt.data(), info);
        if (info != OK) return;
        double sum = 0.0, comp = 0.0;  // Neumaier summation over the pieces
        for (std::size_t k = 0; k < pc.count(); ++k) {
            for (int j = 0; j < m; ++j) c[j] = pc.coefs(k)[j] / big;
            double piece = 0.0;
            for (int i = 0; i < m; ++i) {
                if (cancel_point(mm * mm)) {
                    info = CANCELLED;
                    return;
                }
                const double g = bez_eval(c.data(), pc.q, 0.5 * (1.0 + x[i]), w);
                piece += wt[i] * g * g;
            }
            const double v = 0.5 * (pc.b[k] - pc.a[k]) * piece;
            const double t = sum + v;
            comp += std::fabs(sum) >= std::fabs(v) ? (sum - t) + v : (v - t) + sum;
            sum = t;
        }
        const double v = (sum + comp) * big * big;
        if (!std::isfinite(v)) {
            info = LIM_INTEGRAL_OVERFLOW;
            return;
        }
        r = v;
    } catch (const std::bad_alloc&) {
        info = NO_MEMORY;
    }
}

namespace {

// Newton steps allowed per node of GaussLegendre. From the starting values
// below Newton converges quadratically in a few steps for every order; the
// cap only ends the loop should rounding keep it from settling.
constexpr int LEGENDRE_NEWTON_STEPS = 100;

// P_m(z) by the three-term recurrence, with P_m'(z) in dp.
double legendre(int m, double z, double& dp) {
    double p1 = 1.0, p2 = 0.0;
    for (int j = 1; j <= m; ++j) {
        const double p3 = p2;
        p2 = p1;
        p1 = ((2.0 * j - 1.0) * z * p2 - (j - 1.0) * p3) / j;
    }
    dp = m * (z * p1 - p2) / (z * z - 1.0);
    return p1;
}

}  // namespace

// Newton on the Legendre polynomial from Chebyshev-like starting values.
void GaussLegendre(int m, double* x, double* w, int& info) {
    if (m < 1) {
        info = -1;
        return;
    }
    info = OK;
    std::fill(x, x + m, 0.0);
    std::fill(w, w + m, 0.0);
    const double pi = 3.14159265358979323846;
    for (int i = 0; i < (m + 1) / 2; ++i) {
        if (cancel_point(8 * static_cast<std::size_t>(m))) {
            info = CANCELLED;
            return;
        }
        double z = std::cos(pi * (i + 0.75) / (m + 0.5)), dp = 1.0;
        for (int it = 0; it < LEGENDRE_NEWTON_STEPS; ++it) {
            const double p1 = legendre(m, z, dp);
            const double z1 = z;
            z = z1 - p1 / dp;
            if (std::fabs(z - z1) <= 4.0 * EPS) {
                legendre(m, z, dp);  // the derivative at the converged node
                break;
            }
        }
        x[i] = -z;
        x[m - 1 - i] = z;
        w[i] = w[m - 1 - i] = 2.0 / ((1.0 - z * z) * dp * dp);
    }
    if (m % 2 == 1) x[m / 2] = 0.0;
}

}  // namespace cardo
