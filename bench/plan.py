"""`pyvelt.plan` against references and peers, in one run.

One joint: without a jerk limit against the exact minimum time (stop only
where the direction reverses, bang-bang acceleration with cruising between),
in closed form here; with a jerk limit against ruckig's rest-to-rest motions
between the reversals. Several joints: against toppra on a cubic spline
through the same waypoints (default output and ParametrizeConstAccel), its
duration stretched until its peaks sampled at 200,001 times meet the
limits; ruckig at rest at every waypoint; and for every case pyvelt's own
`interpolate` (chord-length times, zero end slopes) + `timescale`.

Every planned motion is checked by the exact extrema (`violations`) and by
sampling its derivatives at 200,001 times with scipy's BSpline.

    pip install 'pyvelt[bench]'     # toppra, ruckig
    python bench/plan.py [--quick] [--json]

The last line printed is a JSON summary.
"""
import argparse
import json
import math
import os
import statistics
import time

import numpy as np
from scipy.interpolate import BSpline

import pyvelt

FIXED = {
    "A5": [0, 0.3, 1.2, 1.0, 0.5],
    "B5": [0, 0.1, 0.8, 1.5, 1.6],
    "C6": [0, 0.05, 1.5, 1.55, 0.2, 0],
    "D7": [0, 0.8, 0.2, 1.0, -0.4, 0.5, 0],
    "E8": [0, 0.2, 0.9, 1.0, 0.4, 0.45, 1.3, 1.2],
}
# (name, waypoint factor, vmax, amax, jmax)
REGIMES = [("base", 1.0, 1.5, 6.0, 60.0), ("long", 4.0, 1.5, 6.0, 60.0),
           ("jmax15", 1.0, 1.5, 6.0, 15.0)]


def peers():
    have = {}
    for name in ("toppra", "ruckig"):
        try:
            __import__(name)
            have[name] = True
        except ImportError:
            have[name] = False
    return have


# ------------------------------------------------------------------ references

def runs(w):
    """(start, end) indices of the monotone runs between reversals."""
    stops, last = [0], 0.0
    for i, s in enumerate(np.sign(np.diff(w))):
        if s != 0 and last != 0 and s != last:
            stops.append(i)
        if s != 0:
            last = s
    stops.append(len(w) - 1)
    return list(zip(stops[:-1], stops[1:]))


def bangbang(D, v, a):
    """Minimum rest-to-rest time over D with |velocity| <= v, |acceleration| <= a."""
    return D / v + v / a if D * a > v * v else 2.0 * math.sqrt(D / a)


def reference_nojerk(w, v, a):
    return sum(bangbang(abs(w[j] - w[i]), v, a) for i, j in runs(w))


def reference_ruckig(w, v, a, j):
    from ruckig import InputParameter, Result, Ruckig, Trajectory

    total = 0.0
    for i0, i1 in runs(w):
        if w[i1] == w[i0]:
            continue
        otg, inp, tr = Ruckig(1), InputParameter(1), Trajectory(1)
        inp.current_position, inp.target_position = [w[i0]], [w[i1]]
        inp.max_velocity, inp.max_acceleration, inp.max_jerk = [v], [a], [j]
        if otg.calculate(inp, tr) not in (Result.Working, Result.Finished):
            raise RuntimeError("ruckig failed")
        total += tr.duration
    return total


def ruckig_stops(W, v, a):
    """Several joints with ruckig, at rest at every waypoint (no jerk limit)."""
    from ruckig import InputParameter, Result, Ruckig, Trajectory

    J = W.shape[1]
    total = 0.0
    for i in range(len(W) - 1):
        if np.all(W[i] == W[i + 1]):
            continue
        otg, inp, tr = Ruckig(J), InputParameter(J), Trajectory(J)
        inp.current_position, inp.target_position = list(W[i]), list(W[i + 1])
        inp.max_velocity, inp.max_acceleration = list(v), list(a)
        inp.max_jerk = [math.inf] * J
        if otg.calculate(inp, tr) not in (Result.Working, Result.Finished):
            raise RuntimeError("ruckig failed")
        total += tr.duration
    return total


def toppra_corrected(W, v, a, parametrizer, samples):
    """toppra's duration on a spline through W, stretched to meet the limits
    at `samples` sampled times; and its planning time."""
    import toppra
    import toppra.algorithm as algo
    import toppra.constraint as constraint

    t0 = time.process_time()
    chord = np.concatenate(([0.0], np.cumsum(np.linalg.norm(np.diff(W, axis=0), axis=1))))
    keep = np.concatenate(([True], np.diff(chord) > 0))
    ss = chord[keep] / chord[-1]
    path = toppra.SplineInterpolator(ss, W[keep], bc_type="clamped")
    cons = [constraint.JointVelocityConstraint(np.column_stack((-v, v))),
            constraint.JointAccelerationConstraint(np.column_stack((-a, a)))]
    inst = algo.TOPPRA(cons, path, parametrizer=parametrizer)
    traj = inst.compute_trajectory(0, 0)
    dt = time.process_time() - t0
    if traj is None:
        return None, dt
    T = traj.duration
    ts = np.linspace(0, T, samples)
    pv = np.max(np.abs(traj(ts, 1)), axis=0)
    pa = np.max(np.abs(traj(ts, 2)), axis=0)
    s = max(1.0, float(np.max(pv / v)), float(np.max(np.sqrt(pa / a))))
    return T * s, dt


def interp_timescale(W, v, a, j):
    """pyvelt.interpolate through W at chord-length times, zero end slopes,
    then the uniform time scale that meets the limits."""
    chord = np.concatenate(([0.0], np.cumsum(np.linalg.norm(np.diff(W, axis=0), axis=1))))
    keep = np.concatenate(([True], np.diff(chord) > 1e-12 * max(chord[-1], 1e-300)))
    x, Wk = chord[keep], W[keep]
    if len(x) < 2:
        return math.nan
    s = 0.0
    for jj in range(W.shape[1]):
        if np.ptp(Wk[:, jj]) == 0:
            continue
        q = pyvelt.interpolate(x, Wk[:, jj], p=3, slopes=(0.0, 0.0))
        lim = {"vmax": float(v[jj]), "amax": float(a[jj])}
        if j is not None:
            lim["jmax"] = float(j[jj])
        s = max(s, q.timescale(**lim) * (q.stop - q.start))
    return s


# ------------------------------------------------------------------ checks

def check(m, W, v, a, j, samples):
    """Number of violations by the exact extrema and by sampling, and the
    largest waypoint miss relative to the scale."""
    exact = sampled = 0
    ts = np.linspace(0.0, m.duration, samples)
    for jj, q in enumerate(m.joints):
        lim = {"vmax": float(v[jj]), "amax": float(a[jj])}
        if j is not None:
            lim["jmax"] = float(j[jj])
        exact += len(q.violations(**lim))
        f = BSpline(q.get_knotvector_asarray().copy(), q.get_cpts_asarray().copy(), q.p)
        for nu, key in ((1, "vmax"), (2, "amax"), (3, "jmax")):
            if key in lim:
                peak = float(np.max(np.abs(f(ts, nu))))
                sampled += peak > lim[key] * (1 + 1e-9)
    scale = float(np.max(np.abs(W)))
    miss = float(np.max(np.abs(m(m.times) - W))) / scale
    return exact, sampled, miss


# ------------------------------------------------------------------ cases

def random_single(rng, n):
    out = []
    for i in range(n):
        k = int(rng.integers(5, 9))
        kind = ("tiny", "large", "monotone", "zigzag", "neardup")[i % 5]
        if kind == "tiny":
            w = np.cumsum(rng.normal(scale=1e-3, size=k))
        elif kind == "large":
            w = np.cumsum(rng.normal(scale=5.0, size=k))
        elif kind == "monotone":
            w = np.cumsum(rng.uniform(0.0, 1.0, size=k))
        elif kind == "zigzag":
            w = np.cumsum(rng.uniform(0.1, 1.0, size=k) * (-1.0) ** np.arange(k))
        else:
            w = np.cumsum(rng.normal(size=k))
            i0 = int(rng.integers(1, k - 1))
            w[i0] = w[i0 - 1] + rng.choice([0.0, 1e-9, -1e-7, 1e-5])
        w -= w[0]
        regime = REGIMES[int(rng.integers(0, 3))]
        out.append((f"R{i}-{kind}", w, regime))
    return out


def random_multi(rng, n):
    out = []
    for i in range(n):
        J = int(rng.integers(2, 8))
        k = int(rng.integers(3, 8))
        W = np.cumsum(rng.normal(size=(k, J)), axis=0)
        v = rng.uniform(0.5, 2.5, J)
        a = rng.uniform(2.0, 10.0, J)
        out.append((f"M{i}-J{J}", W, v, a))
    return out


def timed(fn, *args, **kw):
    t0 = time.process_time()
    r = fn(*args, **kw)
    return r, time.process_time() - t0


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--quick", action="store_true", help="a handful of cases")
    ap.add_argument("--samples", type=int, default=200_001)
    ap.add_argument("--no-peers", action="store_true", help="leave out toppra and ruckig")
    ap.add_argument("--singles", type=int, default=500, help="random one-joint sets")
    ap.add_argument("--multis", type=int, default=200, help="random multi-joint sets")
    args = ap.parse_args()
    samples = 2_001 if args.quick else args.samples
    have = {"toppra": False, "ruckig": False} if args.no_peers else peers()
    rng = np.random.default_rng(21)
    singles = [(f"{name}-{r[0]}", np.array(w) * r[1], r) for name, w in FIXED.items()
               for r in REGIMES]
    singles += random_single(rng, 5 if args.quick else args.singles)
    multis = random_multi(np.random.default_rng(2121), 3 if args.quick else args.multis)
    if args.quick:
        singles = singles[:3] + singles[-5:]

    failures, violating, exact_v, sampled_v, worst_miss = [], [], 0, 0, 0.0
    ratio_nj, ratio_j, vs_interp = [], [], []
    for name, w, (_, _, v, a, j) in singles:
        W = w[:, None]
        vv, aa, jj = np.array([v]), np.array([a]), np.array([j])
        for jm in (None, jj):
            try:
                m = pyvelt.plan(w, v, a, None if jm is None else j)
            except Exception as e:  # counted, reported
                failures.append(f"{name}: {type(e).__name__}: {e}")
                continue
            ex, sa, miss = check(m, W, vv, aa, jm, samples)
            if ex or sa:
                violating.append(f"{name}{'' if jm is None else ' jmax'}: exact {ex}, sampled {sa}")
            exact_v, sampled_v, worst_miss = exact_v + ex, sampled_v + sa, max(worst_miss, miss)
            if jm is None:
                ratio_nj.append(m.duration / reference_nojerk(w, v, a))
            elif have["ruckig"]:
                ratio_j.append(m.duration / reference_ruckig(w, v, a, j))
            its = interp_timescale(W, vv, aa, jm)
            if math.isfinite(its):
                vs_interp.append(m.duration / its)

    mt = {"ours": [], "toppra": [], "toppra_ca": []}
    r_top, r_ca, r_ruck = [], [], []
    for name, W, v, a in multis:
        try:
            m, dt = timed(pyvelt.plan, W, v, a)
        except Exception as e:
            failures.append(f"{name}: {type(e).__name__}: {e}")
            continue
        mt["ours"].append(dt)
        ex, sa, miss = check(m, W, v, a, None, samples)
        if ex or sa:
            violating.append(f"{name}: exact {ex}, sampled {sa}")
        exact_v, sampled_v, worst_miss = exact_v + ex, sampled_v + sa, max(worst_miss, miss)
        vs_interp.append(m.duration / interp_timescale(W, v, a, None))
        if have["toppra"]:
            for key, par, out in (("toppra", "ParametrizeSpline", r_top),
                                  ("toppra_ca", "ParametrizeConstAccel", r_ca)):
                T, dt = toppra_corrected(W, v, a, par, samples)
                mt[key].append(dt)
                out.append(m.duration / T if T else math.nan)
        if have["ruckig"]:
            r_ruck.append(m.duration / ruckig_stops(W, v, a))

    def stats(xs):
        xs = [x for x in xs if math.isfinite(x)]
        if not xs:
            return None
        return {"n": len(xs), "mean": statistics.fmean(xs), "worst": max(xs),
                "best": min(xs)}

    summary = {
        "cases": {"single": len(singles), "multi": len(multis)},
        "peers": have,
        "samples": samples,
        "failures": failures,
        "violations_exact": exact_v,
        "violations_sampled": sampled_v,
        "violating": violating,
        "worst_waypoint_miss": worst_miss,
        "single_nojerk_vs_closed_form": stats(ratio_nj),
        "single_jerk_vs_ruckig": stats(ratio_j),
        "multi_vs_toppra": stats(r_top),
        "multi_vs_toppra_constaccel": stats(r_ca),
        "multi_shorter_than_toppra": (sum(r < 1 for r in r_top) / len(r_top)) if r_top else None,
        "multi_shorter_than_toppra_constaccel":
            (sum(r < 1 for r in r_ca) / len(r_ca)) if r_ca else None,
        "multi_vs_ruckig_stops": stats(r_ruck),
        "multi_not_shorter_than_ruckig_stops": sum(r >= 1 for r in r_ruck),
        "vs_interpolate_timescale": stats(vs_interp),
        "median_ms": {k: (1e3 * statistics.median(x) if x else None) for k, x in mt.items()},
        "machine": {"nproc": os.cpu_count()},
    }
    print(f"pyvelt.plan: {len(singles)} single-joint sets (each without and with jerk limit), "
          f"{len(multis)} multi-joint sets; peers: "
          + ", ".join(f"{k} {'yes' if x else 'missing'}" for k, x in have.items()))
    print(f"failures {len(failures)}; violations: exact {exact_v}, sampled at {samples} times "
          f"{sampled_v}; worst waypoint miss {worst_miss:.2e} of the scale")
    for key, label in (("single_nojerk_vs_closed_form", "one joint, no jerk limit / closed form"),
                       ("single_jerk_vs_ruckig", "one joint, jerk limit / ruckig"),
                       ("multi_vs_toppra", "several joints / toppra (corrected)"),
                       ("multi_vs_toppra_constaccel", "several joints / toppra ConstAccel (corr.)"),
                       ("multi_vs_ruckig_stops", "several joints / ruckig stopping at waypoints"),
                       ("vs_interpolate_timescale", "all / interpolate + timescale")):
        s = summary[key]
        if s:
            print(f"{label:<48} mean {s['mean']:.4f}  worst {s['worst']:.4f}  best {s['best']:.4f}"
                  f"  (n={s['n']})")
    for key in ("multi_shorter_than_toppra", "multi_shorter_than_toppra_constaccel"):
        if summary[key] is not None:
            print(f"{key}: {100 * summary[key]:.1f} %")
    if r_ruck:
        print(f"not shorter than ruckig stopping at every waypoint: "
              f"{summary['multi_not_shorter_than_ruckig_stops']} of {len(r_ruck)}")
    print("median planning time, several joints: " + ", ".join(
        f"{k} {x:.1f} ms" for k, x in summary["median_ms"].items() if x is not None))
    for f in failures[:10]:
        print("FAILED", f)
    for f in violating[:10]:
        print("VIOLATION", f)
    print(json.dumps(summary))


if __name__ == "__main__":
    main()
