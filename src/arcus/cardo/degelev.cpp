// Degree elevation of a B-spline: the Bezier decomposition and elevation of
// The NURBS Book A5.9 for a scalar spline, with the surplus knots removed by
// steps that stay stable on uneven spans.
#include "cardo.h"
#include "scratch.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace cardo {

namespace {

// End of the run of knots that starts at index b (exact comparison). The end
// knots U[n+1..m] form one run even where they differ within the knot
// tolerance: a clamped vector always ends in one full run.
int run_end(int n, int m, const double* U, int b) {
    while (b < m && (b > n || U[b] == U[b + 1])) ++b;
    return b;
}

// log C(a, b) for 0 <= b <= a.
double log_binomial(int a, int b) {
    return std::lgamma(a + 1.0) - std::lgamma(b + 1.0) - std::lgamma(a - b + 1.0);
}

// Removes one copy of the last knot u = K[nk - 1] (s copies at the end of
// K[0..nk-1]) from the degree-q spline with control points Q[0..nq-1], whose
// knots continue with the value `next` beyond K. The curve is assumed to stay
// the same (the removal is exact), so of the equations of the reverse
// insertion, Q'[i] = a[i] Q[i] + (1 - a[i]) Q[i-1] with
// a[i] = (u - K[i]) / (next - K[i]), one is redundant: the points are solved
// from the left while a[i] >= 1/2 and from the right where a[i] < 1/2, so
// no step divides by less than 1/2 and uneven spans do not magnify rounding.
void remove_last_knot(int q, double* K, int& nk, double* Q, int& nq, double next) {
    const int r = nk - 1;
    const double u = K[r];
    int s = 1;
    while (s < r + 1 && K[r - s] == u) ++s;
    const int L = r - q, R = r - s;
    auto alpha = [&](int i) { return (u - K[i]) / (next - K[i]); };
    int c = L;
    while (c < R && alpha(c) >= 0.5) ++c;
    for (int i = L; i < c; ++i) {
        const double al = alpha(i);
        Q[i] = (Q[i] - (1.0 - al) * Q[i - 1]) / al;
    }
    double cur = Q[R + 1];
    for (int i = R; i > c; --i) {
        const double al = alpha(i);
        const double prev = (Q[i] - al * cur) / (1.0 - al);
        Q[i] = cur;
        cur = prev;
    }
    Q[c] = cur;
    for (int i = R + 1; i + 1 < nq; ++i) Q[i] = Q[i + 1];
    --nq;
    --nk;
}

// The (ph + 1) x (p + 1) table bz (row-major) of the elevation of one Bezier
// segment of degree p by t: bz(i, j) = C(p, j) C(t, i - j) / C(ph, i). Only
// the entries with max(0, i - t) <= j <= min(p, i) are set. False when
// cancelled.
bool elevation_coefficients(int p, int t, double* bezalfs) {
    const int ph = p + t, ph2 = ph / 2;
    const std::size_t w = static_cast<std::size_t>(p) + 1;
    auto bz = [&](int i, int j) -> double& { return bezalfs[static_cast<std::size_t>(i) * w + j]; };
    bz(0, 0) = 1.0;
    bz(ph, p) = 1.0;
    for (int i = 1; i <= ph2; ++i) {
        const int mpi = std::min(p, i);
        if (cancel_point(w)) return false;
        if (ph <= MAX_INT_BINOMIAL) {
            const double inv = 1.0 / BinomialCoeff(ph, i);
            for (int j = std::max(0, i - t); j <= mpi; ++j) {
                bz(i, j) = inv * BinomialCoeff(p, j) * BinomialCoeff(t, i - j);
            }
        } else {
            // Beyond it the int coefficients overflow (and the doubles soon
            // would): the quotient C(p, j) C(t, i - j) / C(ph, i), at most 1,
            // is formed from logarithms.
            const double lden = log_binomial(ph, i);
            for (int j = std::max(0, i - t); j <= mpi; ++j) {
                bz(i, j) = std::exp(log_binomial(p, j) + log_binomial(t, i - j) - lden);
            }
        }
    }
    for (int i = ph2 + 1; i <= ph - 1; ++i) {
        const int mpi = std::min(p, i);
        for (int j = std::max(0, i - t); j <= mpi; ++j) bz(i, j) = bz(ph - i, p - j);
    }
    return true;
}

// The Bezier segments of the spline: one more than the runs of interior knots.
long long segment_count(int n, int p, const double* U) {
    const int m = n + p + 1;
    long long nseg = 1;
    for (int b = p + 1; b <= n; ++b) {
        b = run_end(n, m, U, b);
        if (b <= n) ++nseg;
    }
    return nseg;
}

// Cuts the segment [ua, ub] (knots U[a] = ua, U[b] = ub of multiplicity mul)
// out of the spline by inserting ub r = p - mul times into its points
// bpts[0..p]; the points that start the next segment go to Nextbpts[0..r-1].
// alfs holds r doubles of work.
void insert_segment_end(int p, const double* U, int a, double ua, double ub, int mul,
                        double* bpts, double* Nextbpts, double* alfs) {
    const int r = p - mul;
    const double numer = ub - ua;
    for (int k = p; k > mul; --k) alfs[k - mul - 1] = numer / (U[a + k] - ua);
    for (int j = 1; j <= r; ++j) {
        const int save = r - j, s = mul + j;
        for (int k = p; k >= s; --k) {
            bpts[k] = alfs[k - s] * bpts[k] + (1.0 - alfs[k - s]) * bpts[k - 1];
        }
        Nextbpts[save] = bpts[p];
    }
}

// Points first..ph of the degree-ph elevation (ph = p + t) of the Bezier
// segment bpts[0..p], by the table of elevation_coefficients, into
// Q[0..ph-first]; returns their count.
int elevate_segment(int p, int t, const double* bezalfs, const double* bpts, int first, double* Q) {
    const int ph = p + t;
    const std::size_t w = static_cast<std::size_t>(p) + 1;
    int count = 0;
    for (int i = first; i <= ph; ++i) {
        const double* bz = bezalfs + static_cast<std::size_t>(i) * w;
        double e = 0.0;
        const int mpi = std::min(p, i);
        for (int j = std::max(0, i - t); j <= mpi; ++j) e = e + bz[j] * bpts[j];
        Q[count++] = e;
    }
    return count;
}

}  // namespace

int DegreeElevateCheck(int n, int p, const double* U, int t) {
    if (const int st = CheckCurve(n, p, U)) return st;
    // A knot value repeated more than p + 1 times makes a segment of zero
    // length next to it: the Bezier pieces are not defined there.
    const int m = n + p + 1;
    int run = 1;
    for (int i = 1; i <= m; ++i) {
        run = U[i] == U[i - 1] ? run + 1 : 1;
        if (run > p + 1) return -3;
    }
    if (t <= 0) return -5;
    return OK;
}

void DegreeElevateSizes(int n, int p, const double* U, int t, long long& nh, long long& mh) {
    const int m = n + p + 1;
    const long long ph = static_cast<long long>(p) + t;
    mh = ph;
    for (int b = p + 1; b <= m; ++b) {
        const int i = b;
        b = run_end(n, m, U, b);
        mh += static_cast<long long>(b - i + 1) + t;
    }
    nh = mh - ph - 1;
}

void DegreeElevateCurve(int n, int p, const double* U, const double* P, int t, double* Uh,
                        int& nh, double* Q, int& info) {
    info = DegreeElevateCheck(n, p, U, t);
    if (info) return;
    const int m = n + p + 1;
    const int ph = p + t;
    const std::size_t w = static_cast<std::size_t>(p) + 1;
    Scratch<double> bezalfs((static_cast<std::size_t>(ph) + 1) * w);
    Scratch<double> bpts(w);
    Scratch<double> Nextbpts(p > 1 ? p - 1 : 0), alfs(p > 1 ? p - 1 : 0);
    if (!bezalfs.ok() || !bpts.ok() || !Nextbpts.ok() || !alfs.ok()) {
        info = NO_MEMORY;
        return;
    }
    if (!elevation_coefficients(p, t, bezalfs.data())) { info = CANCELLED; return; }

    const long long nseg = segment_count(n, p, U);
    // Bezier points of the elevated segments (ph + 1 each, a segment's first
    // point is the last of the one before unless a full-multiplicity knot
    // separates them), then the spline they form with every interior knot
    // ph times (ph + 1 times at a break); its knots.
    const std::size_t cap = static_cast<std::size_t>(nseg) * (ph + 1);
    Scratch<double> Qw(cap), Kw(cap + ph + 1);
    if (!Qw.ok() || !Kw.ok()) {
        info = NO_MEMORY;
        return;
    }
    int nq = 0, nk = 0, mh = ph;
    double ua = U[0];
    for (int i = 0; i <= ph; ++i) Kw[nk++] = ua;
    for (int i = 0; i <= p; ++i) bpts[i] = P[i];

    // Every pass takes one Bezier segment [ua, ub] out of the spline by knot
    // insertion (convex combinations), elevates it (convex combinations too)
    // and appends it; the knot ua between it and the segment before then
    // goes back to its multiplicity plus t by stable removals.
    int a = p, b = p + 1, r = -1, prev_mul = 0;
    for (;;) {
        if (cancel_point(static_cast<std::size_t>(ph) * w * 2)) { info = CANCELLED; return; }
        const int i0 = b;
        b = run_end(n, m, U, b);
        const int mul = b - i0 + 1;
        mh = mh + mul + t;
        const double ub = U[b];
        r = p - mul;
        if (r > 0) {
            insert_segment_end(p, U, a, ua, ub, mul, bpts.data(), Nextbpts.data(), alfs.data());
        }
        // Elevate the segment; after a knot below full multiplicity its first
        // point is the previous segment's last one.
        const bool joined = a != p && prev_mul <= p;
        nq += elevate_segment(p, t, bezalfs.data(), bpts.data(), joined ? 1 : 0, Qw.data() + nq);
        if (a != p) {
            // ua now has ph copies (ph + 1 at a break) and should keep
            // prev_mul + t of them.
            for (int k = ph - prev_mul - t; k > 0; --k) {
                remove_last_knot(ph, Kw.data(), nk, Qw.data(), nq, ub);
            }
        }
        if (b < m) {
            for (int j = 0; j < r; ++j) bpts[j] = Nextbpts[j];
            // r < 0 after a knot of full multiplicity: the next segment's
            // points are P[b-p..b].
            for (int j = std::max(r, 0); j <= p; ++j) bpts[j] = P[b - p + j];
            const int copies = mul <= p ? ph : ph + 1;
            for (int k = 0; k < copies; ++k) Kw[nk++] = ub;
            a = b;
            b = b + 1;
            ua = ub;
            prev_mul = mul;
        } else {
            break;
        }
    }
    // The knots: U[0] and U[m] ph + 1 times, each interior run of the same
    // value its multiplicity plus t times.
    for (int i = 0; i < nk; ++i) Uh[i] = Kw[i];
    for (int i = 0; i <= ph; ++i) Uh[nk + i] = U[m];
    for (int i = 0; i < nq; ++i) Q[i] = Qw[i];
    nh = mh - ph - 1;
}

}  // namespace cardo
