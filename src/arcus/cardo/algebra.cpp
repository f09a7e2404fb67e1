// Knot-vector union of the curve sum.
#include "cardo.h"

namespace cardo {

int KnotUnionDim(int m1, const double* U1, int m2, const double* U2, int p) {
    int mk = m1;
    int i = p + 1;  // into U2
    int k = p + 1;  // into U1
    while (i <= m2 - p - 1) {
        if (k > m1) return -1;
        if (U2[i] < U1[k]) {
            ++mk;
            ++i;
        } else if (U2[i] == U1[k]) {
            ++i;
            ++k;
        } else {
            ++k;
        }
    }
    return mk;
}

bool MergeKnots(int m1, const double* U1, int m2, const double* U2, int p, int count, double* X1,
                int nx1, double* X2, int nx2) {
    int i = p + 1, k = p + 1, a = 0, b = 0;
    for (int t = 0; t < count; ++t) {
        if (i > m1 || k > m2) return false;
        if (U1[i] < U2[k]) {
            if (b >= nx2) return false;
            X2[b++] = U1[i++];
        } else if (U1[i] > U2[k]) {
            if (a >= nx1) return false;
            X1[a++] = U2[k++];
        } else if (U1[i] == U2[k]) {
            ++i;
            ++k;
        } else {
            return false;  // NaN knots
        }
    }
    return a == nx1 && b == nx2;
}

}  // namespace cardo
