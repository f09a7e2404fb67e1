"""pyvelt against scipy.interpolate on the same problems, in one process.

For every case the script first checks that both libraries give the same
numbers (largest difference relative to the largest value below 1e-9; a case
that fails reports "mismatch" instead of a ratio), then times each side
(one warm-up call, then the median of --repeat measurements) and prints both
times and the ratio scipy time / pyvelt time (above 1: pyvelt is faster).
The peak memory of the least-squares fit is measured in child processes.
The last line of the output is a JSON summary of everything printed.

    python bench/compare.py [--quick] [--repeat R]

--quick runs small sizes in a few seconds (used by the test suite, whose
run does not judge the times).
"""
import argparse
import json
import os
import platform
import statistics
import subprocess
import sys
import time

import numpy as np
import scipy
from scipy.interpolate import BSpline, insert, make_interp_spline, make_lsq_spline

import pyvelt
from pyvelt import arcus

P_DEG = 3
RTOL = 1e-9


class Skip(Exception):
    """A case that cannot run in this build (the reason is printed)."""


# ---------------------------------------------------------------- problems

def clamped_knots(ncp, p=P_DEG, lo=0.0, hi=1.0, seed=0):
    """Clamped knot vector with ncp - p - 1 random interior knots."""
    rng = np.random.default_rng(seed)
    inner = np.sort(rng.uniform(lo, hi, ncp - p - 1))
    return np.r_[[lo] * (p + 1), inner, [hi] * (p + 1)]


def spline(ncp, seed=0):
    U = clamped_knots(ncp, seed=seed)
    P = np.random.default_rng(seed + 1).normal(size=ncp)
    return U, P


def trajectory(U, P, p=P_DEG):
    """A Trajectory1d over U and P, or Skip when this build has none."""
    try:
        from pyvelt import ductus
    except ImportError:
        raise Skip("needs Trajectory1d") from None
    if not hasattr(ductus, "Trajectory1d"):
        raise Skip("needs Trajectory1d")
    t = ductus.Trajectory1d()
    # the pickle-state setter: raw knots, raw control points, p, n, order, ownership
    t._dset_data(U.tobytes(), P.tobytes(), p, len(P) - 1, 0, True)
    return t


class Problem:
    """One case: the two callables to time and the two results to compare.

    `ours` and `theirs` run the work; `ours_result` / `theirs_result` return
    the numbers to compare (they may run the work once more). `points` is the
    number of evaluation points for a per-point time, or None.
    """

    def __init__(self, ours, theirs, ours_result, theirs_result, points=None, reference=None):
        self.ours, self.theirs = ours, theirs
        self.ours_result, self.theirs_result = ours_result, theirs_result
        self.points = points
        # (label, callable): a part of scipy's work, timed beside both sides
        self.reference = reference


def case_splcev(size):
    npts, ncp = size["eval_points"], size["eval_cpts"]
    U, P = spline(ncp)
    x = np.linspace(0.0, 1.0, npts)
    b = BSpline(U, P, P_DEG)
    C = np.empty_like(x)

    def ours():
        C[:] = x  # splcev evaluates in place: the copy is part of its cost
        arcus.splcev(C, U, P, P_DEG)
        return C

    return Problem(ours, lambda: b(x), ours, lambda: b(x), points=npts)


def case_gcsplint(size):
    npts = size["interp_points"]
    x = np.linspace(0.0, 10.0, npts)
    y = np.sin(x) + 0.1 * np.cos(7 * x)
    U = np.empty(npts + P_DEG + 1)
    arcus.averaging(x, P_DEG, U)
    Pout = np.empty(npts)

    def ours():
        arcus.gcsplint(x, y, P_DEG, U, Pout)
        return Pout

    def theirs():
        return make_interp_spline(x, y, k=P_DEG, t=U).c

    # scipy solves the band system (kl = ku = p - 1) with LAPACK dgbsv; its
    # time alone (here with the copies of its inputs) shows scipy's share of
    # the solve. gcsplint eliminates without pivoting as it builds the rows
    # (the matrix is totally positive), without dgbsv.
    from scipy.linalg import lapack
    kl = P_DEG - 1
    D = BSpline.design_matrix(x, U, P_DEG).tocoo()
    keep = D.data != 0.0
    ab = np.zeros((3 * kl + 1, npts), order="F")
    ab[2 * kl + D.row[keep] - D.col[keep], D.col[keep]] = D.data[keep]
    work_ab, work_b = np.empty_like(ab, order="F"), np.empty_like(y)

    def solve_only():
        work_ab[...] = ab
        work_b[...] = y
        lapack.dgbsv(kl, kl, work_ab, work_b, overwrite_ab=1, overwrite_b=1)

    return Problem(ours, theirs, ours, theirs, reference=("scipy's band solve alone (dgbsv)", solve_only))


def lsq_problem(npts, ncp, exact):
    x = np.linspace(0.0, 10.0, npts)
    U = np.empty(ncp + P_DEG + 1)
    arcus.kevalappr(x, P_DEG, U)
    if exact:
        # gcsplapp keeps the end control points at the end data values, while
        # make_lsq_spline fits every control point: on data that a spline over
        # the same knots reproduces, both problems have the same solution.
        y = BSpline(U, np.sin(np.linspace(0.0, 10.0, ncp)), P_DEG)(x)
    else:
        y = np.sin(x) + 0.1 * np.cos(7 * x)
    return x, y, U


def case_gcsplapp(size):
    npts, ncp = size["lsq_points"], size["lsq_cpts"]
    x, y, U = lsq_problem(npts, ncp, exact=True)
    Pout = np.empty(ncp)

    def ours():
        arcus.gcsplapp(x, y, P_DEG, U, Pout)
        return Pout

    def theirs():
        return make_lsq_spline(x, y, U, k=P_DEG).c

    return Problem(ours, theirs, ours, theirs)


def case_splkins(size):
    ncp = size["kins_cpts"]
    U, P = spline(ncp)
    u = 0.5 * (U[ncp // 2] + U[ncp // 2 + 1])  # inside a span, not a knot yet
    nU, nP = len(U) + 1, ncp + 1

    def ours():
        # outputs allocated per call, as scipy allocates its results
        UQ, Q = np.empty(nU), np.empty(nP)
        arcus.splkins(U, P, P_DEG, u, 1, UQ, Q)
        return UQ, Q

    def theirs():
        return insert(u, (U, P, P_DEG))

    def ours_result():
        UQ, Q = ours()
        return np.r_[UQ, Q]

    def theirs_result():
        t, c, _ = theirs()
        return np.r_[t, c[:nP]]

    return Problem(ours, theirs, ours_result, theirs_result)


# Trajectory1d (pyvelt.ductus) against BSpline; skipped while the build has no Trajectory1d.

def case_scalar(ncp):
    def build(size):
        U, P = spline(ncp)
        t, b = trajectory(U, P), BSpline(U, P, P_DEG)
        return Problem(lambda: t(0.25), lambda: b(0.25), lambda: t(0.25), lambda: b(0.25))
    return build


def case_traj_array(nu=0, shuffled=False):
    def build(size):
        npts, ncp = size["eval_points"], size["eval_cpts"]
        U, P = spline(ncp)
        x = np.linspace(0.0, 1.0, npts)
        if shuffled:
            x = np.random.default_rng(2).permutation(x)
        t, b = trajectory(U, P), BSpline(U, P, P_DEG)
        if nu:
            return Problem(lambda: t(x, nu=nu), lambda: b(x, nu=nu), lambda: t(x, nu=nu),
                           lambda: b(x, nu=nu), points=npts)
        return Problem(lambda: t(x), lambda: b(x), lambda: t(x), lambda: b(x), points=npts)
    return build


# key, description, builder; the order of the report.
CASES = [
    ("scalar20", "scalar call t(0.25), 20 control points", case_scalar(20)),
    ("scalar1000", "scalar call t(0.25), 1000 control points", case_scalar(1000)),
    ("splcev", "splcev, {eval_points:.0e} increasing points, {eval_cpts} cpts", case_splcev),
    ("traj_sorted", "t(x), {eval_points:.0e} increasing points", case_traj_array()),
    ("traj_deriv", "t(x, nu=1), {eval_points:.0e} increasing points", case_traj_array(nu=1)),
    ("traj_unsorted", "t(x), {eval_points:.0e} points in random order", case_traj_array(shuffled=True)),
    ("gcsplint", "gcsplint, {interp_points:.0e} points", case_gcsplint),
    ("gcsplapp", "gcsplapp, {lsq_points:.0e} points, {lsq_cpts} cpts", case_gcsplapp),
    ("splkins", "splkins, one knot into {kins_cpts} cpts", case_splkins),
]

FULL = dict(eval_points=1_000_000, eval_cpts=1000, interp_points=100_000, lsq_points=100_000,
            lsq_cpts=1000, kins_cpts=1000)
QUICK = dict(eval_points=10_000, eval_cpts=50, interp_points=2000, lsq_points=2000, lsq_cpts=50,
             kins_cpts=100)


# ---------------------------------------------------------------- measurement

def rel_diff(a, b):
    a = np.asarray(a, dtype=float).ravel()
    b = np.asarray(b, dtype=float).ravel()
    if a.shape != b.shape:
        return float("inf")
    scale = max(float(np.max(np.abs(b))) if b.size else 0.0, 1e-300)
    return float(np.max(np.abs(a - b))) / scale if a.size else 0.0


def median_times(fns, repeat, min_time):
    """Median time of one call of each of `fns` over `repeat` measurements;
    each measurement runs enough calls to last about `min_time` seconds.
    The measurements of the functions alternate, so that a burst of load
    from other processes falls on both sides alike."""
    numbers = []
    for fn in fns:
        fn()  # warm-up
        t0 = time.perf_counter()
        fn()
        once = max(time.perf_counter() - t0, 1e-9)
        numbers.append(max(1, int(min_time / once)))
    times = [[] for _ in fns]
    for _ in range(repeat):
        for fn, number, ts in zip(fns, numbers, times):
            t0 = time.perf_counter()
            for _ in range(number):
                fn()
            ts.append((time.perf_counter() - t0) / number)
    return [statistics.median(ts) for ts in times]


def fmt_time(s):
    for unit, f in (("s", 1.0), ("ms", 1e3), ("us", 1e6), ("ns", 1e9)):
        if s * f >= 1.0 or unit == "ns":
            return f"{s * f:7.2f} {unit:2s}"


def cpu_ghz():
    try:
        with open("/proc/cpuinfo") as f:
            for line in f:
                if line.startswith("cpu MHz"):
                    return float(line.split(":")[1]) / 1000.0
    except OSError:
        pass
    return None


def cpu_model():
    try:
        with open("/proc/cpuinfo") as f:
            for line in f:
                if line.startswith("model name"):
                    return line.split(":", 1)[1].strip()
    except OSError:
        pass
    return platform.processor() or platform.machine()


def flops_per_point(p):
    """Floating-point operations of one point of a sorted evaluation.

    Span search from the previous span: one exact comparison and one tolerant
    one (two absolute values, a maximum, a product, a maximum with the
    absolute tolerance, a subtraction, a comparison): 8. BasisFuns: 2p
    differences u - U[.] and U[.] - u; each of its p(p+1)/2 inner steps one
    product by the reciprocal of a knot difference (the same for every point
    of a span, so formed once per span), two products and a sum: 4 each.
    The sum over the p + 1 control points: 2(p + 1).
    """
    return 8 + 2 * p + 4 * p * (p + 1) // 2 + 2 * (p + 1)


def lower_bound_ns(p):
    """Time per point of the floating-point work alone, at an assumed rate of
    4 scalar operations per cycle (two adders and two multipliers, as on
    current x86-64 cores; no fused multiply-adds: the build forbids
    contraction) at the clock that /proc/cpuinfo reports (2.5 GHz when
    unknown). Loads, stores and the dependency chains of BasisFuns are not
    counted, so the bound is optimistic."""
    ghz = cpu_ghz() or 2.5
    return flops_per_point(p) / (4.0 * ghz)


# ---------------------------------------------------------------- peak memory of the fit

def peak_rss_kib():
    """High-water mark of the resident size of this process (KiB).

    On Linux VmHWM of /proc/self/status: unlike ru_maxrss it does not carry
    the peak of the process that started us (a vfork parent's is inherited
    at exec), and /proc/self/clear_refs can reset it."""
    try:
        with open("/proc/self/status") as f:
            for line in f:
                if line.startswith("VmHWM:"):
                    return int(line.split()[1])
    except OSError:
        pass
    import resource
    return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss


def reset_peak_rss():
    """Sets the high-water mark to the present resident size, where the
    system allows it (Linux); the temporaries of building the data then do
    not hide the fit's own peak."""
    try:
        with open("/proc/self/clear_refs", "w") as f:
            f.write("5")
    except OSError:
        pass


def memory_child(side, npts, ncp):
    """Runs in a child process: the peak resident size (KiB) after the fit
    of `side` ("pyvelt", "scipy"), or after building the data only ("none")."""
    x, y, U = lsq_problem(npts, ncp, exact=False)
    P = np.empty(ncp)
    reset_peak_rss()
    if side == "pyvelt":
        arcus.gcsplapp(x, y, P_DEG, U, P)
    elif side == "scipy":
        make_lsq_spline(x, y, U, k=P_DEG)
    print(peak_rss_kib())


def peak_memory_mib(npts, ncp, runs):
    """Peak memory that the fit adds to a fresh process which has imported
    the same modules and built the same data: the child's maximum resident
    size minus that of a child that stops before the fit (median of `runs`)."""
    def run(side):
        cmd = [sys.executable, os.path.abspath(__file__), "--memory-child", side,
               str(npts), str(ncp)]
        out = subprocess.run(cmd, capture_output=True, text=True, check=True)
        return int(out.stdout.split()[-1])

    res = {}
    base = statistics.median(run("none") for _ in range(runs))
    for side in ("pyvelt", "scipy"):
        res[side] = max(0.0, (statistics.median(run(side) for _ in range(runs)) - base) / 1024.0)
    return res


# ---------------------------------------------------------------- report

def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--quick", action="store_true", help="small sizes, a few seconds")
    ap.add_argument("--repeat", type=int, default=15, help="measurements per side (at least 5)")
    ap.add_argument("--memory-child", nargs=3, metavar=("SIDE", "POINTS", "CPTS"),
                    help=argparse.SUPPRESS)
    args = ap.parse_args()
    if args.memory_child:
        side, npts, ncp = args.memory_child
        memory_child(side, int(npts), int(ncp))
        return 0
    # quick: the smoke test of the suite, where the times are not judged
    repeat = 5 if args.quick else max(5, args.repeat)
    size = QUICK if args.quick else FULL
    min_time = 0.002 if args.quick else 0.02

    machine = {
        "nproc": os.cpu_count(),
        "cpu": cpu_model(),
        "python": platform.python_version(),
        "numpy": np.__version__,
        "scipy": scipy.__version__,
        "pyvelt": getattr(pyvelt, "__version__", "?"),
    }
    print(f"pyvelt {machine['pyvelt']} against scipy {machine['scipy']} (numpy {machine['numpy']}, "
          f"Python {machine['python']}), {machine['nproc']} x {machine['cpu']}")
    print(f"cubic, clamped; median of {repeat} after a warm-up; ratio = scipy time / pyvelt time")
    summary = {"machine": machine, "quick": bool(args.quick), "repeat": repeat, "cases": {}}
    for key, title, build in CASES:
        label = title.format(**size)
        entry = {"title": label}
        summary["cases"][key] = entry
        try:
            prob = build(size)
        except Skip as e:
            entry["status"] = "skipped"
            entry["reason"] = str(e)
            print(f"{label:48s} skipped: {e}")
            continue
        diff = rel_diff(prob.ours_result(), prob.theirs_result())
        entry["rel_diff"] = diff
        if not diff < RTOL:
            entry["status"] = "mismatch"
            print(f"{label:48s} mismatch: relative difference {diff:.3g} (limit {RTOL:g})")
            continue
        fns = [prob.ours, prob.theirs] + ([prob.reference[1]] if prob.reference else [])
        ours, theirs, *ref = median_times(fns, repeat, min_time)
        entry.update(status="ok", pyvelt_s=ours, scipy_s=theirs, ratio=theirs / ours)
        line = (f"{label:48s} pyvelt {fmt_time(ours)}  scipy {fmt_time(theirs)}  "
                f"ratio {theirs / ours:6.2f}")
        if prob.points:
            entry["pyvelt_ns_per_point"] = ours / prob.points * 1e9
            entry["scipy_ns_per_point"] = theirs / prob.points * 1e9
            line += f"  ({entry['pyvelt_ns_per_point']:.1f} vs {entry['scipy_ns_per_point']:.1f} ns/pt)"
        print(line)
        if prob.reference:
            entry["reference"] = {"title": prob.reference[0], "seconds": ref[0],
                                  "share_of_scipy": ref[0] / theirs}
            print(f"{'':48s} {prob.reference[0]}: {fmt_time(ref[0]).strip()}, "
                  f"{100 * ref[0] / theirs:.0f} % of scipy's time")
        if key == "splcev":
            bound = lower_bound_ns(P_DEG)
            entry["lower_bound_ns_per_point"] = bound
            print(f"{'':48s} lower bound {bound:.1f} ns/pt ({flops_per_point(P_DEG)} flops per "
                  f"point at 4 per cycle, {cpu_ghz() or 2.5:.2f} GHz)")
    mem = peak_memory_mib(size["lsq_points"], size["lsq_cpts"], 1 if args.quick else 3)
    summary["lsq_peak_mib"] = mem
    print(f"{'peak memory of the least-squares fit':48s} pyvelt {mem['pyvelt']:7.1f} MiB  "
          f"scipy {mem['scipy']:7.1f} MiB")
    print(json.dumps(summary, sort_keys=True))
    return 0


if __name__ == "__main__":
    sys.exit(main())
