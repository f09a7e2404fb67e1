"""pyvelt's and scipy's largest errors against 50-digit references (mpmath).

Every problem is posed once on the unit time axis and again with its times
shifted by 1e3, 1e5 and 1.7e9 (epoch seconds). Both libraries get the same
double inputs; the reference evaluates those doubles exactly, with mpmath at
50 significant digits. Each cell shows the largest error of pyvelt and of
scipy: of the control points, relative to the largest one, for
interpolation and least squares; of the values (of order 1) for
evaluation, extrema, and for insertion and elevation the distance of the
new curve from the old one:

- evaluation: a cubic with 40 random knots, at random points and at points
  within 1e-7 and 2 ulps of the knots (t(x) against BSpline);
- interpolation: cubic, times clustered 1e-7 apart (8 ulps at 1.7e9) and
  spread out, knots by
  averaging (pyvelt's `interpolate`), scipy's make_interp_spline on the
  same knots;
- least squares: 200 points, 30 control points, pyvelt with its end
  points fixed, scipy's make_lsq_spline without (each against the
  reference of its own problem);
- knot insertion: a knot 1e-8 and 3e-7 beside an existing one (knotins
  against scipy's insert);
- degree elevation: degree 7 on knots 1e-6 and 1e-3 from the start, raised
  by 2 (scipy has no elevation: its column interpolates the curve at the
  Greville points of the elevated knots, "nan" where two of them coincide);
- extrema: the largest and smallest value of the cubic (scipy: the roots
  of the derivative's piecewise polynomial).

    python bench/accuracy.py [--quick]

--quick uses fewer points (the test suite runs it).
"""
import argparse

import mpmath as mp
import numpy as np
from scipy.interpolate import (BSpline, PPoly, insert, make_interp_spline,
                               make_lsq_spline)

from pyvelt import arcus
from pyvelt.build import approximate, interpolate, trajectory

mp.mp.dps = 50
SHIFTS = [0.0, 1e3, 1e5, 1.7e9]


# ---------------------------------------------------------------- references

def mpf(a):
    return [mp.mpf(float(v)) for v in np.ravel(a)]


def mp_span(U, p, x):
    n = len(U) - p - 2
    if x >= U[n + 1]:
        return n
    i = p
    while i < n and x >= U[i + 1]:
        i += 1
    return i


def mp_eval(U, P, p, x, nu=0):
    """de Boor's algorithm in mpmath; U, P lists of mpf, x an mpf."""
    for _ in range(nu):  # control points of the derivative
        P = [p * (P[i + 1] - P[i]) / (U[i + p + 1] - U[i + 1]) for i in range(len(P) - 1)]
        U, p = U[1:-1], p - 1
    if p < 0:
        return mp.mpf(0)
    k = mp_span(U, p, x)
    d = [P[j + k - p] for j in range(p + 1)]
    for r in range(1, p + 1):
        for j in range(p, r - 1, -1):
            a = (x - U[j + k - p]) / (U[j + 1 + k - r] - U[j + k - p])
            d[j] = (1 - a) * d[j - 1] + a * d[j]
    return d[p]


def collocation(U, p, x, ncp):
    A = mp.zeros(len(x), ncp)
    for r, xv in enumerate(x):
        for j in range(ncp):
            e = [mp.mpf(0)] * ncp
            e[j] = mp.mpf(1)
            A[r, j] = mp_eval(U, e, p, xv)
    return A


def err(a, b, rel=False):
    """Largest |a - b|; relative to the largest |b| with rel."""
    e = max(abs(mp.mpf(float(x)) - y) for x, y in zip(np.ravel(a), b))
    return float(e / max(abs(y) for y in b)) if rel else float(e)


# ---------------------------------------------------------------- problems

def cubic(shift, rng, nk=40):
    U = np.r_[[0.0] * 4, np.sort(rng.uniform(0, 1, nk)), [1.0] * 4] + shift
    P = rng.normal(size=len(U) - 4)
    return U, P


def evaluation(shift, rng, npts):
    U, P = cubic(shift, rng)
    inner = U[4:-4]
    x = np.r_[rng.uniform(0, 1, npts) + shift, inner - 1e-7, inner + 1e-7,
              inner - 2 * np.spacing(inner), inner + 2 * np.spacing(inner)]
    x = np.clip(x, U[0], U[-1])
    t = trajectory(U, P, 3)
    Um, Pm = mpf(U), mpf(P)
    ref = [mp_eval(Um, Pm, 3, mp.mpf(v)) for v in x]
    return err([t(v) for v in x], ref), err(BSpline(U, P, 3)(x), ref)


def interpolation(shift, rng, npts):
    h = max(1e-7, 8 * np.spacing(shift))  # times that stay distinct after the shift
    u = np.r_[0, h, 2 * h, 3 * h, np.sort(rng.uniform(0.01, 0.99, npts)), 1.0]
    x = u + shift
    y = np.sin(5 * u)
    t = interpolate(x, y)
    U = t.get_knotvector_asarray().copy()
    Um = mpf(U)
    A = collocation(Um, 3, mpf(x), len(x))
    ref = mp.lu_solve(A, mp.matrix(mpf(y)))
    ours = t.get_cpts_asarray()
    theirs = make_interp_spline(x, y, k=3, t=U).c
    return err(ours, ref, True), err(theirs, ref, True)


def least_squares(shift, rng, npts):
    u = np.sort(np.r_[0.0, rng.uniform(0, 1, npts - 2), 1.0])
    x, y = u + shift, np.sin(6 * u) + 0.01 * rng.normal(size=npts)
    ncp = min(30, npts // 4)
    t = approximate(x, y, ncp)
    U = t.get_knotvector_asarray().copy()
    Um, xm, ym = mpf(U), mpf(x), mpf(y)
    A = collocation(Um, 3, xm, ncp)
    # pyvelt's problem: end control points at the end values
    B = mp.matrix(A.rows, ncp - 2)
    rhs = mp.matrix(A.rows, 1)
    for r in range(A.rows):
        rhs[r] = ym[r] - A[r, 0] * ym[0] - A[r, ncp - 1] * ym[-1]
        for j in range(ncp - 2):
            B[r, j] = A[r, j + 1]
    inner = mp.lu_solve(B.T * B, B.T * rhs)
    ref = [ym[0]] + [inner[j] for j in range(ncp - 2)] + [ym[-1]]
    free = mp.lu_solve(A.T * A, A.T * mp.matrix(ym))
    theirs = make_lsq_spline(x, y, U, k=3).c
    return err(t.get_cpts_asarray(), ref, True), err(theirs, [free[j] for j in range(ncp)], True)


def boehm(U, P, p, u):
    """Control points after inserting u once (mpmath)."""
    k = mp_span(U, p, u)
    Q = []
    for i in range(len(P) + 1):
        if i <= k - p:
            Q.append(P[i])
        elif i > k:
            Q.append(P[i - 1])
        else:
            a = (u - U[i]) / (U[i + p] - U[i])
            Q.append(a * P[i] + (1 - a) * P[i - 1])
    return Q


def insertion(shift, rng, npts):
    U = np.r_[[0.0] * 4, 0.3, 0.5, 0.7, [1.0] * 4] + shift
    P = rng.normal(size=len(U) - 4)
    t = trajectory(U, P, 3)
    x = np.r_[np.linspace(0, 1, npts) + shift, U[4:-4]]
    xm = [mp.mpf(v) for v in x]
    Um, Pm = mpf(U), mpf(P)
    ref = [mp_eval(Um, Pm, 3, v) for v in xm]

    def moved(Uq, Q):  # how far the curve on the new knots is from the old one
        Uq, Q = mpf(Uq), mpf(Q)
        return float(max(abs(mp_eval(Uq, Q, 3, v) - r) for v, r in zip(xm, ref)))

    e1 = e2 = 0.0
    for off in (1e-8, 3e-7, -3e-7):
        u = U[5] + off
        q = t.knotins(u, 1)
        e1 = max(e1, moved(q.get_knotvector_asarray(), q.get_cpts_asarray()))
        tq, cq, _ = insert(u, (U, P, 3))
        e2 = max(e2, moved(tq, cq[:len(P) + 1]))
    return e1, e2


def elevation(shift, rng, npts):
    p, te = 7, 2
    U = np.r_[[0.0] * (p + 1), 1e-6, 1e-3, [1.0] * (p + 1)] + shift
    P = rng.normal(size=len(U) - p - 1)
    s = len(np.unique(U[p + 1:-p - 1]))
    Uh, Q = np.empty(len(U) + te * (s + 2)), np.empty(len(P) + te * (s + 1))
    arcus.degelevc(U, P, p, te, Uh, Q)
    ph = p + te
    g = np.clip(np.convolve(Uh[1:-1], np.ones(ph) / ph, "valid"), U[0], U[-1])
    try:
        theirs = make_interp_spline(g, BSpline(U, P, p)(g), k=ph, t=Uh).c
    except ValueError:  # Greville points that coincide in double
        theirs = None
    x = np.r_[np.linspace(0, 1, npts) + shift, U[p + 1:-p - 1]]
    Um, Pm, Uhm = mpf(U), mpf(P), mpf(Uh)
    xm = [mp.mpf(v) for v in x]
    ref = [mp_eval(Um, Pm, p, v) for v in xm]
    e = []
    for c in (Q, theirs):
        if c is None:
            e.append(float("nan"))
            continue
        cm = mpf(c)
        e.append(float(max(abs(mp_eval(Uhm, cm, ph, v) - r) for v, r in zip(xm, ref))))
    return tuple(e)


def extrema(shift, rng, npts):
    U, P = cubic(shift, rng, nk=12)
    Um, Pm = mpf(U), mpf(P)
    b = BSpline(U, P, 3)
    pp = PPoly.from_spline(b.derivative())
    cand = np.r_[U[0], U[-1], pp.roots(extrapolate=False)]
    cand = cand[(cand >= U[0]) & (cand <= U[-1])]
    vals = b(cand)
    theirs = (vals.min(), vals.max())
    # reference: the zeros of the derivative refined in 50 digits
    refs = [mp_eval(Um, Pm, 3, mp.mpf(U[0])), mp_eval(Um, Pm, 3, mp.mpf(U[-1]))]
    for c in cand[2:]:
        try:
            z = mp.findroot(lambda v: mp_eval(Um, Pm, 3, v, 1), mp.mpf(c))
        except (ValueError, ZeroDivisionError):
            z = mp.mpf(c)
        if Um[0] <= z <= Um[-1]:
            refs.append(mp_eval(Um, Pm, 3, z))
    ref = (min(refs), max(refs))
    ymin, _, ymax, _ = trajectory(U, P, 3).extrema()
    return err([ymin, ymax], ref), err(theirs, ref)


CASES = [("evaluation", evaluation), ("interpolation", interpolation),
         ("least squares", least_squares), ("knot insertion", insertion),
         ("degree elevation", elevation), ("extrema", extrema)]


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--quick", action="store_true", help="fewer points, a few seconds")
    args = ap.parse_args()
    npts = 40 if args.quick else 200
    heads = ["unit axis" if s == 0 else f"+{s:g}" for s in SHIFTS]
    print("largest error against a 50-digit reference: pyvelt / scipy")
    print("| case | " + " | ".join(heads) + " |")
    print("|---|" + "---|" * len(SHIFTS))
    for name, f in CASES:
        cells = []
        for s in SHIFTS:
            a, b = f(s, np.random.default_rng(7), npts)
            cells.append(f"{a:.1e} / {b:.1e}")
        print(f"| {name} | " + " | ".join(cells) + " |", flush=True)


if __name__ == "__main__":
    main()
