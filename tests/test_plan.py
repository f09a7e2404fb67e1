"""pyvelt.plan: the limits hold everywhere, the waypoints are passed, the ends
are at rest; the one-joint time against the closed-form minimum; bad input;
the plan command."""
import math
import os
import pathlib
import subprocess
import sys

import numpy as np
import pytest
from scipy.interpolate import BSpline

import pyvelt

FIXED = {
    "A5": [0, 0.3, 1.2, 1.0, 0.5],
    "B5": [0, 0.1, 0.8, 1.5, 1.6],
    "C6": [0, 0.05, 1.5, 1.55, 0.2, 0],
    "D7": [0, 0.8, 0.2, 1.0, -0.4, 0.5, 0],
    "E8": [0, 0.2, 0.9, 1.0, 0.4, 0.45, 1.3, 1.2],
}


def spline(q):
    return BSpline(q.get_knotvector_asarray().copy(), q.get_cpts_asarray().copy(), q.p)


def assert_motion(m, W, vmax, amax, jmax=None, qmin=None, qmax=None):
    W = np.asarray(W, float).reshape(len(W), -1)
    J = W.shape[1]
    lim = [np.broadcast_to(np.asarray(x, float), (J,)) if x is not None else None
           for x in (vmax, amax, jmax)]
    assert m.times[0] == 0.0 and m.duration == m.times[-1] and np.all(np.diff(m.times) >= 0)
    ts = np.linspace(0.0, m.duration, 20_001)
    for j, q in enumerate(m.joints):
        assert q.order == 0 and q.start == 0.0 and q.stop == m.duration
        assert np.array_equal(q.get_knotvector_asarray(), m.joints[0].get_knotvector_asarray())
        kw = {k: float(x[j]) for k, x in zip(("vmax", "amax", "jmax"), lim) if x is not None}
        assert q.violations(**kw) == []
        f = spline(q)
        for nu, x in enumerate(lim, 1):
            if x is not None:   # sampled by scipy: the same limits, rounding aside
                assert np.max(np.abs(f(ts, nu))) <= x[j] * (1 + 1e-9)
        # at rest: three equal control points at each end
        P = q.get_cpts_asarray()
        assert P[0] == P[1] == P[2] == W[0, j] and P[-1] == P[-2] == P[-3] == W[-1, j]
        pos = f(ts)     # within the position limits, rounding aside
        tol = 1e-12 * max(1.0, np.max(np.abs(W)))
        if qmin is not None:
            assert pos.min() >= np.broadcast_to(qmin, (J,))[j] - tol
        if qmax is not None:
            assert pos.max() <= np.broadcast_to(qmax, (J,))[j] + tol
    # each waypoint at its time, by scipy's evaluation
    got = np.column_stack([spline(q)(m.times) for q in m.joints])
    assert np.max(np.abs(got - W)) <= 1e-12 * max(1.0, np.max(np.abs(W)))


def minimum_time(w, v, a):
    # stop where the direction reverses; bang-bang with cruising in between
    d = np.diff(np.asarray(w, float))
    d = d[d != 0]
    runs, cur = [], 0.0
    for x in d:
        if cur and np.sign(x) != np.sign(cur):
            runs.append(abs(cur))
            cur = 0.0
        cur += x
    runs.append(abs(cur))
    return sum(D / v + v / a if D * a > v * v else 2 * math.sqrt(D / a) for D in runs)


@pytest.mark.parametrize("name", FIXED)
@pytest.mark.parametrize("scale,jmax", [(1.0, 60.0), (4.0, 60.0), (1.0, 15.0), (1.0, None)])
def test_one_joint_fixed(name, scale, jmax):
    w = np.array(FIXED[name]) * scale
    m = pyvelt.plan(w, 1.5, 6.0, jmax)
    assert_motion(m, w, 1.5, 6.0, jmax)
    ref = minimum_time(w, 1.5, 6.0)
    if jmax is None:
        assert ref <= m.duration <= 1.02 * ref
    else:
        assert m.duration >= ref


@pytest.mark.parametrize("seed", range(4))
def test_one_joint_random(seed):
    rng = np.random.default_rng(seed)
    w = np.cumsum(rng.normal(scale=10.0 ** rng.uniform(-3, 1), size=int(rng.integers(2, 9))))
    w[int(rng.integers(0, len(w)))] += 0.0   # keep the shape; duplicates come next
    if len(w) > 3:
        w[2] = w[1]
    v, a, j = rng.uniform(0.5, 3.0), rng.uniform(1.0, 10.0), rng.uniform(10.0, 100.0)
    for jm in (None, j):
        m = pyvelt.plan(w, v, a, jm)
        assert_motion(m, w, v, a, jm)
        assert m.duration <= 1.02 * minimum_time(w, v, a) if jm is None else True


@pytest.mark.parametrize("w", [
    # a reversal by 1e-7: a run far shorter than the others
    [0.0, 1.4736829639309053, 3.017125646316993, 3.0171255463169926, 3.720787478975647,
     1.3948782297836841, 0.13403978090699042],
    # millimetre moves with a reversal by 3e-6
    [0.0, -0.00144593488267292, -0.00263846701902309, -0.0026352923902004,
     -0.00284758617263294, -0.00327374409007904, -0.00289573226868839, -0.00240195407343038],
])
def test_one_joint_tiny_runs(w):
    m = pyvelt.plan(w, 1.5, 6.0)
    assert_motion(m, w, 1.5, 6.0)
    assert m.duration <= 1.02 * minimum_time(w, 1.5, 6.0)


def test_one_joint_without_jerk_limit_is_the_closed_form():
    # one move, long enough to cruise: 1/1.5 + 1.5/6 s, within 2 %
    m = pyvelt.plan([0.0, 1.0], 1.5, 6.0)
    assert 1 / 1.5 + 1.5 / 6 <= m.duration <= 1.02 * (1 / 1.5 + 1.5 / 6)
    # the acceleration is continuous: no step at any knot
    q = m.joints[0]
    for x in np.unique(q.get_knotvector_asarray())[1:-1]:
        left, right = q(np.array([x - 1e-9, x + 1e-9]), 2)
        assert abs(left - right) < 1e-3 * 6.0


@pytest.mark.parametrize("seed,J", [(0, 2), (1, 3), (2, 5)])
def test_several_joints_random(seed, J):
    rng = np.random.default_rng(seed)
    W = np.cumsum(rng.normal(size=(int(rng.integers(3, 6)), J)), axis=0)
    v, a, j = rng.uniform(0.5, 2.5, J), rng.uniform(2.0, 10.0, J), rng.uniform(20, 80, J)
    for jm in (None, j):
        m = pyvelt.plan(W, v, a, jm)
        assert_motion(m, W, v, a, jm)
        assert m(m.times).shape == (len(W), J) and m(0.5, nu=1).shape == (1, J)


def test_position_limits_and_equal_waypoints():
    # the second joint waits at its limit while the first moves
    W = np.array([[0.0, 0.0], [1.0, 1.0], [1.2, 1.0], [0.0, 0.0], [0.0, 0.0]])
    m = pyvelt.plan(W, 2.0, 8.0, 80.0, qmin=[-0.01, 0.0], qmax=1.0 + np.array([0.2, 0.0]))
    assert_motion(m, W, 2.0, 8.0, 80.0, qmin=[-0.01, 0.0], qmax=[1.2, 1.0])
    assert m.times[3] == m.times[4]


def test_near_duplicate_waypoints_keep_position_limits():
    # 1e-7 apart in every joint: a segment far shorter than the others
    W = np.array([[-257.102927, -835.250455, -426.417539, -930.02563],
                  [-257.102927, -835.250455, -426.417539, -930.02563],
                  [258.706613, 756.393851, -789.174534, -2384.592967],
                  [231.272499, 1408.490899, -2049.859578, -2813.772481],
                  [-1551.808244, 199.085045, -3777.149186, -3034.255047]])
    W[1] += 1e-7
    v, a = [0.2748, 2.623, 2.3844, 4.5941], [31.647, 25.949, 25.095, 12.752]
    j = [100, 350, 100, 190]
    qmin, qmax = W.min(0) - 30, W.max(0) + 30
    m = pyvelt.plan(W, v, a, j, qmin=qmin, qmax=qmax)
    assert_motion(m, W, v, a, j, qmin=qmin, qmax=qmax)


@pytest.mark.parametrize("args,kw,name", [
    (([0.0], 1, 1), {}, "waypoints"),
    (([0.0, np.nan], 1, 1), {}, "waypoints"),
    ((np.zeros((2, 2, 2)), 1, 1), {}, "waypoints"),
    (([0.0, 1.0], 0.0, 1), {}, "vmax"),
    (([0.0, 1.0], 1, math.inf), {}, "amax"),
    (([0.0, 1.0], 1, 1, -1.0), {}, "jmax"),
    (([[0, 0], [1, 1]], [1, 1, 1], 1), {}, "vmax"),
    (([0.0, 1.0], 1, 1), {"qmax": 0.5}, "qmax"),
    (([0.0, 1.0], 1, 1), {"qmin": [0.0, 0.0]}, "qmin"),
    (([1.0, 1.0], 1, 1), {}, "waypoints"),
])
def test_bad_input(args, kw, name):
    with pytest.raises(ValueError, match=f"'{name}'"):
        pyvelt.plan(*args, **kw)


@pytest.mark.slow
def test_command(tmp_path, capsys, monkeypatch):
    pkg = pathlib.Path(pyvelt.__file__).parent.parent
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(
        [str(pkg)] + [p for p in [os.environ.get("PYTHONPATH")] if p]))
    (tmp_path / "w.csv").write_text("shoulder,elbow\n0,0\n0.5,1.0\n1.2,0.4\n0.3,0.9\n")

    def run(*args):
        return subprocess.run([sys.executable, "-m", "pyvelt", *args], cwd=tmp_path,
                              capture_output=True, text=True, env=env)

    out = run("plan", "w.csv", "--vmax", "1.5,2", "--amax", "6", "--jmax", "60", "-o", "m")
    assert out.returncode == 0, out.stderr
    from pyvelt.ductus import Trajectory1d

    qs = [Trajectory1d.loadxml(str(tmp_path / "m.pyvelt"), n) for n in ("shoulder", "elbow")]
    m = pyvelt.plan([[0, 0], [0.5, 1.0], [1.2, 0.4], [0.3, 0.9]], [1.5, 2], 6, 60)
    assert qs == m.joints
    assert f"duration {m.duration:.6g}" in out.stdout
    assert "elbow: peak/limit velocity" in out.stdout and "jerk 1.0000" in out.stdout

    # usage and input errors: one line on stderr (in-process)
    from pyvelt.cli import main

    monkeypatch.chdir(tmp_path)
    assert main(["plan", "w.csv", "--vmax", "1,2,3", "--amax", "6"]) == 1
    err = capsys.readouterr().err
    assert "--vmax" in err and len(err.splitlines()) == 1
    with pytest.raises(SystemExit) as e:
        main(["plan", "w.csv", "--vmax", "0", "--amax", "6"])
    assert e.value.code == 2

BENCH = pathlib.Path(__file__).resolve().parent.parent / "bench" / "plan.py"


@pytest.mark.slow
@pytest.mark.skipif(not BENCH.exists(), reason="bench/plan.py is not in this tree")
def test_bench_quick():
    import json

    pkg = pathlib.Path(pyvelt.__file__).parent.parent
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(
        [str(pkg)] + [p for p in [os.environ.get("PYTHONPATH")] if p]))
    # without the peers: the suite checks the planner, not them
    out = subprocess.run([sys.executable, str(BENCH), "--quick", "--no-peers"], capture_output=True,
                         text=True, env=env, timeout=300)
    assert out.returncode == 0, out.stderr
    summary = json.loads(out.stdout.strip().splitlines()[-1])
    assert summary["failures"] == []
    assert summary["violations_exact"] == 0 and summary["violations_sampled"] == 0
    assert summary["worst_waypoint_miss"] <= 1e-12
    assert summary["single_nojerk_vs_closed_form"]["worst"] <= 1.02


def test_module_and_function_share_the_name():
    # after `import pyvelt.plan` the package attribute may be the module:
    # calling it still plans
    import importlib

    module = importlib.import_module("pyvelt.plan")
    assert module([0.0, 1.0], 1.5, 6.0).duration == pyvelt.plan([0.0, 1.0], 1.5, 6.0).duration
    assert module.Motion is pyvelt.Motion


def test_command_keeps_a_first_waypoint_with_a_typo(tmp_path, capsys):
    """A first row with one number in it is a waypoint (here a bad one), not a
    header: the command names the line instead of dropping the waypoint."""
    from pyvelt.cli import main

    f = tmp_path / "w.csv"
    f.write_text("0.0,1x\n0.5,0.2\n1.0,0.4\n")
    assert main(["plan", str(f), "--vmax", "1", "--amax", "2", "-o", str(tmp_path / "m")]) == 1
    assert "line 1: '1x' is not a finite number" in capsys.readouterr().err
