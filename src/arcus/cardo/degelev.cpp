// Degree elevation of a B-spline (The NURBS Book A5.9 for a scalar spline).
#include "cardo.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <new>

namespace cardo {

namespace {

// Work array released on every exit path; a request of 0 elements still
// yields a valid (unused) allocation.
class Buffer {
public:
    explicit Buffer(std::size_t count) : p_(new (std::nothrow) double[count > 0 ? count : 1]) {}
    ~Buffer() { delete[] p_; }
    Buffer(const Buffer&) = delete;
    Buffer& operator=(const Buffer&) = delete;
    double* get() const { return p_; }
    double& operator[](std::size_t i) const { return p_[i]; }
private:
    double* p_;
};

// End of the run of knots that starts at index b (exact comparison). The end
// knots U[n+1..m] form one run even where they differ within the knot
// tolerance: a clamped vector always ends in one full run.
int run_end(int n, int m, const double* U, int b) {
    while (b < m && (b > n || U[b] == U[b + 1])) ++b;
    return b;
}

// Highest degree whose binomial coefficients all fit the kernel's 32-bit int
// (C(34, 17) does not).
constexpr int MAX_INT_BINOMIAL = 33;

// log C(a, b) for 0 <= b <= a.
double log_binomial(int a, int b) {
    return std::lgamma(a + 1.0) - std::lgamma(b + 1.0) - std::lgamma(a - b + 1.0);
}

}  // namespace

int DegreeElevateCheck(int n, int p, const double* U, int t) {
    if (p < 0) return -2;
    if (n < p) return -1;
    if (ValidKnotVector(n, p, U)) return -3;
    // A knot value repeated more than p + 1 times makes a segment of zero
    // length next to it: the Bezier pieces are not defined there.
    const int m = n + p + 1;
    int run = 1;
    for (int i = 1; i <= m; ++i) {
        run = U[i] == U[i - 1] ? run + 1 : 1;
        if (run > p + 1) return -3;
    }
    if (t <= 0) return -5;
    return 0;
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
    const int ph = p + t, ph2 = ph / 2;
    const std::size_t w = static_cast<std::size_t>(p) + 1;
    Buffer bezalfs((static_cast<std::size_t>(ph) + 1) * w);
    Buffer bpts(w), ebpts(static_cast<std::size_t>(ph) + 1);
    Buffer Nextbpts(p > 1 ? p - 1 : 0), alfs(p > 1 ? p - 1 : 0);
    if (!bezalfs.get() || !bpts.get() || !ebpts.get() || !Nextbpts.get() || !alfs.get()) {
        info = 1;
        return;
    }
    auto bz = [&](int i, int j) -> double& { return bezalfs[static_cast<std::size_t>(i) * w + j]; };

    // Coefficients of the elevation of one Bezier segment.
    bz(0, 0) = 1.0;
    bz(ph, p) = 1.0;
    for (int i = 1; i <= ph2; ++i) {
        const int mpi = std::min(p, i);
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

    int mh = ph, kind = ph + 1, r = -1, a = p, b = p + 1, cind = 1;
    double ua = U[0];
    Q[0] = P[0];
    for (int i = 0; i <= ph; ++i) Uh[i] = ua;
    for (int i = 0; i <= p; ++i) bpts[i] = P[i];

    // Every pass handles one Bezier segment; the last ends at the end knots
    // (b = m), which also holds for p = 0, where that run starts at m.
    for (;;) {
        const int i0 = b;
        b = run_end(n, m, U, b);
        const int mul = b - i0 + 1;
        mh = mh + mul + t;
        const double ub = U[b];
        const int oldr = r;
        r = p - mul;
        // A segment after a knot of full multiplicity (oldr = -1) shares no
        // control point with the one before: it starts at its first point.
        int lbz;
        if (oldr > 0)
            lbz = (oldr + 2) / 2;
        else if (oldr < 0 && a != p)
            lbz = 0;
        else
            lbz = 1;
        const int rbz = r > 0 ? ph - (r + 1) / 2 : ph;

        if (r > 0) {  // insert ub r times
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
        for (int i = lbz; i <= ph; ++i) {  // elevate the segment
            ebpts[i] = 0.0;
            const int mpi = std::min(p, i);
            for (int j = std::max(0, i - t); j <= mpi; ++j) ebpts[i] = ebpts[i] + bz(i, j) * bpts[j];
        }
        if (oldr > 1) {  // remove ua oldr - 1 times
            int first = kind - 2, last = kind;
            const double den = ub - ua;
            const double bet = (ub - Uh[kind - 1]) / den;
            for (int tr = 1; tr < oldr; ++tr) {
                int i = first, j = last, kj = j - kind + 1;
                while (j - i > tr) {
                    if (i < cind) {
                        const double alf = (ub - Uh[i]) / (ua - Uh[i]);
                        Q[i] = alf * Q[i] + (1.0 - alf) * Q[i - 1];
                    }
                    if (j >= lbz) {
                        const double gam =
                            j - tr <= kind - ph + oldr ? (ub - Uh[j - tr]) / den : bet;
                        ebpts[kj] = gam * ebpts[kj] + (1.0 - gam) * ebpts[kj + 1];
                    }
                    ++i;
                    --j;
                    --kj;
                }
                --first;
                ++last;
            }
        }
        if (a != p) {
            for (int i = 0; i < ph - oldr; ++i) Uh[kind++] = ua;
        }
        for (int j = lbz; j <= rbz; ++j) Q[cind++] = ebpts[j];
        if (b < m) {
            for (int j = 0; j < r; ++j) bpts[j] = Nextbpts[j];
            // r < 0 after a knot of full multiplicity: the next segment's
            // points are P[b-p..b].
            for (int j = std::max(r, 0); j <= p; ++j) bpts[j] = P[b - p + j];
            a = b;
            b = b + 1;
            ua = ub;
        } else {
            for (int i = 0; i <= ph; ++i) Uh[kind + i] = ub;
            break;
        }
    }
    nh = mh - ph - 1;
}

}  // namespace cardo
