"""Evaluation speed against scipy.interpolate.BSpline, measured in one run.

Prints the time per point of pyvelt.arcus and of scipy for the same spline and
parameters, and their ratio (below 1: pyvelt is faster).

    python bench/bench_eval.py [--points N] [--cpts N] [--repeat R]
"""
import argparse
import time

import numpy as np
from scipy.interpolate import BSpline

from pyvelt import arcus


def best(fn, repeat):
    times = []
    for _ in range(repeat):
        t0 = time.perf_counter()
        fn()
        times.append(time.perf_counter() - t0)
    return min(times)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--points", type=int, default=1_000_000)
    ap.add_argument("--cpts", type=int, default=1000)
    ap.add_argument("--repeat", type=int, default=5)
    args = ap.parse_args()

    p = 3
    rng = np.random.default_rng(0)
    inner = np.sort(rng.uniform(0, 1, args.cpts - p - 1))
    U = np.r_[[0.0] * (p + 1), inner, [1.0] * (p + 1)]
    P = rng.normal(size=args.cpts)
    x = np.linspace(0.0, 1.0, args.points)
    s = BSpline(U, P, p)
    d1 = s.derivative(1)
    d2 = s.derivative(2)
    C = np.empty_like(x)
    CK = np.empty((3, len(x)))

    def ours_values():
        C[:] = x
        arcus.splcev(C, U, P, p)

    def ours_derivs():
        arcus.dsplcev(x, U, P, p, 0, 2, CK)

    rows = [
        ("values (splcev vs BSpline.__call__)", ours_values, lambda: s(x)),
        ("orders 0..2 (dsplcev vs three BSplines)", ours_derivs, lambda: (s(x), d1(x), d2(x))),
    ]
    n = len(x)
    print(f"cubic, {args.cpts} control points, {n} increasing parameters, best of {args.repeat}")
    for name, ours, theirs in rows:
        a = best(ours, args.repeat) / n * 1e9
        b = best(theirs, args.repeat) / n * 1e9
        print(f"{name:44s} pyvelt {a:7.2f} ns/pt  scipy {b:7.2f} ns/pt  ratio {a / b:5.2f}")

    k = 20000
    us = x[:: max(1, n // k)][:k].tolist()

    def ours_scalar():
        for u in us:
            arcus.splpev(u, U, P, p)

    def theirs_scalar():
        for u in us:
            s(u)

    a = best(ours_scalar, args.repeat) / len(us) * 1e9
    b = best(theirs_scalar, args.repeat) / len(us) * 1e9
    name = f"scalar calls, {args.cpts} control points"
    print(f"{name:44s} pyvelt {a:7.0f} ns/call scipy {b:7.0f} ns/call ratio {a / b:5.2f}")

    U8 = np.r_[[0.0] * 4, 0.3, 0.6, [1.0] * 4]
    P8 = rng.normal(size=6)
    s8 = BSpline(U8, P8, p)

    def ours_small():
        for u in us:
            arcus.splpev(u, U8, P8, p)

    def theirs_small():
        for u in us:
            s8(u)

    a = best(ours_small, args.repeat) / len(us) * 1e9
    b = best(theirs_small, args.repeat) / len(us) * 1e9
    name = "scalar calls, 6 control points"
    print(f"{name:44s} pyvelt {a:7.0f} ns/call scipy {b:7.0f} ns/call ratio {a / b:5.2f}")


if __name__ == "__main__":
    main()
