"""Exact extrema against dense sampling, measured in one run.

For a quintic trajectory through random waypoints, prints per derivative
order the time of `Trajectory1d.extrema` and of sampling the derivative at
evenly spaced times (`t(x, nu)` followed by min and max), and the error of the
sampled extrema: how far the sampled range falls short of the exact one.

    python bench/limits.py [--points N] [--cpts N] [--repeat R]
"""
import argparse
import time

import numpy as np

import pyvelt


def best(fn, repeat):
    times = []
    for _ in range(repeat):
        t0 = time.perf_counter()
        r = fn()
        times.append(time.perf_counter() - t0)
    return min(times), r


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--points", type=int, default=100_000)
    ap.add_argument("--cpts", type=int, default=200)
    ap.add_argument("--repeat", type=int, default=5)
    args = ap.parse_args()

    rng = np.random.default_rng(0)
    x = np.linspace(0.0, 10.0, args.cpts)
    y = np.cumsum(rng.normal(size=args.cpts))
    t = pyvelt.interpolate(x, y, p=5, slopes=(0.0, 0.0))
    xs = np.linspace(t.start, t.stop, args.points)

    print(f"quintic, {t.n + 1} control points; sampling at {args.points} evenly spaced times; "
          f"best of {args.repeat}")
    print(f"{'nu':>2}  {'extrema [ms]':>12}  {'sampling [ms]':>13}  {'sampling error (rel.)':>21}")
    for nu in range(4):
        te, (ymin, _, ymax, _) = best(lambda: t.extrema(nu), args.repeat)

        def sample():
            v = t(xs, nu)
            return v.min(), v.max()

        ts, (smin, smax) = best(sample, args.repeat)
        err = max(smin - ymin, ymax - smax) / (ymax - ymin)
        print(f"{nu:>2}  {te * 1e3:>12.3f}  {ts * 1e3:>13.3f}  {err:>21.2e}")


if __name__ == "__main__":
    main()
