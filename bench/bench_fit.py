"""Fitting speed against scipy.interpolate, measured in one run.

Interpolation (gcsplint vs make_interp_spline with the same knots) and
least-squares approximation (gcsplapp vs make_lsq_spline with the same knots);
ratio below 1: pyvelt is faster.

    python bench/bench_fit.py [--points N] [--repeat R]
"""
import argparse
import time

import numpy as np
from scipy.interpolate import make_interp_spline, make_lsq_spline

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
    ap.add_argument("--points", type=int, default=100_000)
    ap.add_argument("--lsq-points", type=int, default=5000)
    ap.add_argument("--lsq-cpts", type=int, default=200)
    ap.add_argument("--repeat", type=int, default=5)
    args = ap.parse_args()

    p = 3
    x = np.linspace(0.0, 10.0, args.points)
    y = np.sin(x) + 0.1 * np.cos(7 * x)

    U = np.empty(len(x) + p + 1)
    arcus.averaging(x, p, U)
    P = np.empty(len(x))
    arcus.gcsplint(x, y, p, U, P)
    ref = make_interp_spline(x, y, k=p, t=U)
    assert np.allclose(P, ref.c, atol=1e-8)

    # The approximation forms dense normal equations: moderate sizes.
    xa = np.linspace(0.0, 10.0, args.lsq_points)
    ya = np.sin(xa) + 0.1 * np.cos(7 * xa)
    ncp = args.lsq_cpts
    Ua = np.empty(ncp + p + 1)
    arcus.kevalappr(xa, p, Ua)
    Pa = np.empty(ncp)
    arcus.gcsplapp(xa, ya, p, Ua, Pa)

    rows = [
        (f"interpolation, {len(x)} points (gcsplint)",
         lambda: arcus.gcsplint(x, y, p, U, P),
         lambda: make_interp_spline(x, y, k=p, t=U)),
        (f"least squares, {len(xa)} points, {ncp} cpts (gcsplapp)",
         lambda: arcus.gcsplapp(xa, ya, p, Ua, Pa),
         lambda: make_lsq_spline(xa, ya, Ua, k=p)),
    ]
    print(f"cubic, best of {args.repeat}")
    for name, ours, theirs in rows:
        a = best(ours, args.repeat) * 1e3
        b = best(theirs, args.repeat) * 1e3
        print(f"{name:52s} pyvelt {a:8.2f} ms  scipy {b:8.2f} ms  ratio {a / b:5.2f}")


if __name__ == "__main__":
    main()
