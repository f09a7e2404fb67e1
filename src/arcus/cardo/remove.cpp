// Knot removal (The NURBS Book A5.8 for a scalar spline) and its error bound.
#include "cardo.h"
#include "scratch.h"

#include <cmath>
#include <cstddef>
#include <limits>

namespace cardo {

namespace {

// Knot k of a knot vector whose knots after index r still stand `shift`
// places further up (not yet moved down by the removals made so far).
struct Knots {
    const double* U;
    int r;
    int shift;
    double operator[](int k) const { return k > r ? U[k + shift] : U[k]; }
};

// The trial loop of A5.8: tries to remove u (last copy at r, s copies) up to
// num times, each within TOL, and writes back the control points of every
// accepted removal. Reads P[r-p-num .. r-s+num] and the knots up to index
// r-s+num+p; returns the number t of removals accepted.
int removal_trials(int p, const Knots& K, double* P, double u, int r, int s, int num, double TOL,
                   double* temp) {
    const int ord = p + 1;
    int first = r - p, last = r - s, t = 0;
    while (t < num) {
        const int off = first - 1;
        temp[0] = P[off];
        temp[last + 1 - off] = P[last + 1];
        int i = first, j = last, ii = 1, jj = last - off;
        while (j - i > t) {
            const double ai = (u - K[i]) / (K[i + ord + t] - K[i]);
            const double aj = (u - K[j - t]) / (K[j + ord] - K[j - t]);
            temp[ii] = (P[i] - (1.0 - ai) * temp[ii - 1]) / ai;
            temp[jj] = (P[j] - aj * temp[jj + 1]) / (1.0 - aj);
            ++i;
            ++ii;
            --j;
            --jj;
        }
        double dev;
        if (j - i < t) {
            dev = std::fabs(temp[ii - 1] - temp[jj + 1]);
        } else {
            const double ai = (u - K[i]) / (K[i + ord + t] - K[i]);
            dev = std::fabs(P[i] - (ai * temp[ii + t + 1] + (1.0 - ai) * temp[ii - 1]));
        }
        // A deviation that is not finite (NaN, or infinite after a division by
        // zero next to a knot of more than p + 1 copies, e.g. an interior copy
        // of an end knot) is never accepted, not even with TOL = +infinity:
        // the new control points would not be finite.
        if (!(std::isfinite(dev) && dev <= TOL)) break;
        i = first;
        j = last;
        while (j - i > t) {
            P[i] = temp[i - off];
            P[j] = temp[j - off];
            ++i;
            --j;
        }
        ++t;
        --first;
        ++last;
    }
    return t;
}

// Closes the gap that t removals of the knot (r, s) leave among the control
// points P[0..h]; returns the index after the last control point written.
int close_gap(int p, double* P, int r, int s, int t, int h) {
    const int fout = (2 * r - s - p) / 2;
    int i = fout, j = fout;
    for (int k = 1; k <= t - 1; ++k) {
        if (k % 2 == 1)
            ++i;
        else
            --j;
    }
    for (int k = i + 1; k <= h; ++k) P[j++] = P[k];
    return j;
}

}  // namespace

void RemoveCurveKnot(int n, int p, double* U, double* P, double u, int r, int s, int num,
                     double TOL, int& t, int& info) {
    t = 0;
    info = CheckCurve(n, p, U);
    if (info) return;
    const int m = n + p + 1;
    if (u < U[0] || u > U[m]) { info = -5; return; }
    // The copies U[r-s+1..r] must be interior knots (indices p+1..n): the
    // first copy of the start knot, for one, would need a control point
    // before P[0].
    if (s <= 0 || s > p + 1 || r - s < p || r > n) { info = -7; return; }
    if (num <= 0 || num > s) { info = -8; return; }
    if (TOL < 0) { info = -9; return; }
    Scratch<double> temp(2 * (static_cast<std::size_t>(p) + 1));  // removal_trials' work
    if (!temp.ok()) { info = NO_MEMORY; return; }

    t = removal_trials(p, Knots{U, r, 0}, P, u, r, s, num, TOL, temp.data());
    if (t == 0) return;
    for (int k = r + 1; k <= m; ++k) U[k - t] = U[k];
    close_gap(p, P, r, s, t, n);
}

void RemoveCurveKnotWithoutTol(int n, int p, double* U, double* P, double u, int r, int s,
                               int num, int& t, int& info) {
    RemoveCurveKnot(n, p, U, P, u, r, s, num, std::numeric_limits<double>::infinity(), t, info);
}

void RemoveCurveKnots(int n, int p, double* U, double* P, double TOL, int& nrem, int& info) {
    nrem = 0;
    info = CheckCurve(n, p, U);
    if (info) return;
    if (TOL < 0 || std::isnan(TOL)) { info = -5; return; }
    Scratch<double> temp(2 * (static_cast<std::size_t>(p) + 1));  // removal_trials' work
    if (!temp.ok()) { info = NO_MEMORY; return; }
    if (n < p + 1) return;  // no interior knot
    const int m = n + p + 1;

    // The sweep visits the runs of equal interior knots (indices p+1..n of the
    // input) in increasing order. At the start of a run (u, r, s): its knots
    // stand at their compacted indices r-s+1..r, the later knots `nrem`
    // places further up; P[0..h] stand at their final places, the control
    // points from index src on have not been moved yet.
    double u = U[p + 1];
    int r = p + 1;
    while (r + 1 <= n && keq(U[r + 1], u)) ++r;
    int s = r - p;
    int h = r, src = r + 1;
    for (;;) {
        // A run of more than p + 1 copies (a knot of zero-width basis
        // functions) is left as it is.
        int t = 0;
        if (s <= p + 1) t = removal_trials(p, Knots{U, r, nrem}, P, u, r, s, s, TOL, temp.data());
        int dst = t >= 1 ? close_gap(p, P, r, s, t, h) : h + 1;

        const int ks = r + nrem + 1;  // index in U of the next knot not yet moved
        nrem += t;
        if (ks > n) {
            // That was the last interior knot: move the end knots down.
            for (int k = n + 1; k <= m; ++k) U[k - nrem] = U[k];
            return;
        }
        // The next run, copied down as it is scanned.
        const double un = U[ks];
        int q = 0;
        do {
            U[ks + q - nrem] = U[ks + q];
            ++q;
        } while (ks + q <= n && keq(U[ks + q], un));
        for (int k = 0; k < q; ++k) P[dst + k] = P[src + k];
        src += q;
        dst += q;
        h = dst - 1;
        u = un;
        s = q;
        r = ks + q - 1 - nrem;
    }
}

int GetRemovalBndCurveCheck(int n, int p, int r, int s) {
    if (const int st = CheckCurveSizes(n, p)) return st;
    if (s > p + 1 || r - p - 1 < 0 || r - s + 1 > n) return -7;
    return OK;
}

void GetRemovalBndCurve(int /*n*/, int p, const double* U, const double* P, double u, int r, int s,
                        double* temp, double& Br) {
    const int first = r - p, last = r - s, off = first - 1;
    temp[0] = P[off];
    temp[last + 1 - off] = P[last + 1];
    int i = first, j = last, ii = 1, jj = last - off;
    while (j - i > 0) {
        const double ai = (u - U[i]) / (U[i + p + 1] - U[i]);
        const double aj = (u - U[j]) / (U[j + p + 1] - U[j]);
        temp[ii] = (P[i] - (1.0 - ai) * temp[ii - 1]) / ai;
        temp[jj] = (P[j] - aj * temp[jj + 1]) / (1.0 - aj);
        ++i;
        ++ii;
        --j;
        --jj;
    }
    if (j - i < 0) {
        Br = std::fabs(temp[ii - 1] - temp[jj + 1]);
    } else {
        const double ai = (u - U[i]) / (U[i + p + 1] - U[i]);
        Br = std::fabs(P[i] - (ai * temp[ii + 1] + (1.0 - ai) * temp[ii - 1]));
    }
}

}  // namespace cardo
