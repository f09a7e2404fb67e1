// cardo: extrema, limit checks, time scale and roughness of the derivatives
// of a spline.
//
// Each routine works on the Bezier pieces of a derivative: the control
// points of the derivative spline come first (differences over knot
// intervals), then every knot span of positive length becomes the Bernstein
// coefficients of its polynomial (blossoming), and the convex-hull property
// bounds a piece on any sub-interval. Roots are isolated by subdivision of
// the pieces and refined by safeguarded Newton steps.
//
// The spline: degree p, knots U[0 .. n + p + 1], control points P[0 .. n].
// Knots that decrease by no more than the knot tolerance (keq, an ulp or so
// as rounding leaves it) count as ties. Every routine first checks the
// spline, in this order, and reports the first fault through `info`:
//   LIM_NOT_SPLINE   p < 0 or n < p
//   LIM_BAD_KNOTS    a knot that is not finite or decreases beyond the tolerance
//   LIM_BAD_CPTS     a control point that is not finite
//   LIM_ZERO_DOMAIN  U[n + 1] <= U[p]
// and then, besides OK: LIM_DERIV_OVERFLOW when the derivative's coefficients
// leave the range of floats, NO_MEMORY when memory runs out, CANCELLED when
// the work was stopped on request. On a nonzero info the outputs hold nothing
// useful.
#pragma once

#include "arcus/cardo/cancel.h"

#include <cstddef>

namespace cardo {

// Status codes of the routines below besides OK, NO_MEMORY and CANCELLED:
// faults of their own, the routine-specific codes -5 and below of status.h
// (they do not name argument positions).
constexpr int LIM_NOT_SPLINE = -5;
constexpr int LIM_BAD_KNOTS = -6;
constexpr int LIM_BAD_CPTS = -7;
constexpr int LIM_ZERO_DOMAIN = -8;
// The coefficients of the derivative are beyond the range of floats.
constexpr int LIM_DERIV_OVERFLOW = -9;
// Roughness: the integral is beyond the range of floats.
constexpr int LIM_INTEGRAL_OVERFLOW = -10;
// TimeScale: the scale, or a knot stretched by it, is beyond the range of floats.
constexpr int LIM_SCALE_OVERFLOW = -11;
// TimeScale: every limited derivative is zero everywhere (no smallest scale).
constexpr int LIM_ALL_ZERO = -12;
// TimeScale: no scale within the range of floats meets the limits.
constexpr int LIM_NO_SCALE = -13;

// Knot u after stretching the time axis by k about the first knot u0.
// Rounding is monotone in u, so equal knots stay equal and the order holds.
inline double ScaledKnot(double u0, double u, double k) { return u0 + k * (u - u0); }

// Smallest and largest value of derivative nu >= 0 over [U[p], U[n + 1]]
// and the earliest time at which each occurs. Where the derivative jumps at
// a knot both one-sided limits count. nu > p: (0, U[p], 0, U[p]).
void DerivativeExtrema(int n, int p, const double* U, const double* P, long long nu,
                       double& ymin, double& xmin, double& ymax, double& xmax, int& info);

// Largest absolute value `peak` of derivative nu >= 0 over the domain; when
// it exceeds L > 0, `t` is the first time at which the absolute value
// exceeds L (the start of the first excursion; the time of the peak when
// rounding hides the crossing), otherwise t is NaN.
void FirstExceedance(int n, int p, const double* U, const double* P, long long nu, double L,
                     double& peak, double& t, int& info);

// The smallest uniform stretch s > 0 of the time axis about U[0] after which
// the absolute value of derivative k[i] (1 .. 3) is at most lim[i] > 0, for
// i = 0 .. nl: s = max over i of (peak_i / lim[i])**(1 / k[i]),
// then checked on exactly the stretched knots U[0] + s (U[j] - U[0]) and
// grown by the excess and a few ulps until every limit holds there. On
// LIM_DERIV_OVERFLOW, `which` is the index i of the derivative concerned.
void TimeScale(int n, int p, const double* U, const double* P, int nl, const int* k,
               const double* lim, double& s, int& which, int& info);

// Integral over the domain of the square of derivative nu >= 0 (0 for
// nu > p), exact to rounding by Gauss-Legendre quadrature on each span.
void Roughness(int n, int p, const double* U, const double* P, long long nu, double& r,
               int& info);

// Nodes x[0 .. m-1] in (-1, 1), increasing, and weights w[0 .. m-1] of the
// m-point Gauss-Legendre rule, m >= 1. info: -1 m < 1, CANCELLED.
void GaussLegendre(int m, double* x, double* w, int& info);

}  // namespace cardo
