"""The builders pyvelt.interpolate and pyvelt.approximate: end conditions, knot
placement, every degree, several joints, against scipy.interpolate."""
import os
import pathlib
import textwrap

import numpy as np
import pytest
from scipy.interpolate import BSpline, make_interp_spline

import pyvelt
from pyvelt.ductus import Trajectory1d


def waypoints(npts=9, joints=None, seed=3):
    # Uneven times, as waypoints of a real motion come.
    rng = np.random.default_rng(seed)
    x = np.cumsum(rng.uniform(0.05, 1.5, npts))
    shape = (npts,) if joints is None else (npts, joints)
    return x, rng.normal(size=shape)


def as_list(t):
    return t if isinstance(t, list) else [t]


def same_spline(traj, t, c):
    # The knots and the control points of scipy's spline, to 1e-10 relative.
    assert isinstance(traj, Trajectory1d)
    np.testing.assert_allclose(traj.get_knotvector_asarray(), t, rtol=1e-10, atol=0)
    np.testing.assert_allclose(traj.get_cpts_asarray(), c, rtol=1e-10,
                               atol=1e-10 * np.max(np.abs(c)))


def bc(ends, joints):
    # scipy's boundary conditions for end derivatives ((s0, s1), (a0, a1), ...).
    col = (lambda v: v) if joints is None else (lambda v: np.full(joints, v))
    return ([(r, col(e[0])) for r, e in enumerate(ends, 1)],
            [(r, col(e[1])) for r, e in enumerate(ends, 1)])


DATA_CASES = [(1, ()), (2, ()), (3, ()), (5, ()), (7, ()),
              (3, ((0.5, -1.0),)), (5, ((0.5, -1.0), (2.0, -3.0))), (5, ((0.0, 0.0), (0.0, 0.0)))]


@pytest.mark.parametrize("joints", [None, 3])
@pytest.mark.parametrize("p, ends", DATA_CASES)
def test_knots_at_the_waypoints_match_scipy(p, ends, joints):
    x, y = waypoints(joints=joints)
    kw = dict(zip(("slopes", "accels"), ends))
    got = as_list(pyvelt.interpolate(x, y, p=p, knots="data", **kw))
    want = make_interp_spline(x, y, k=p, bc_type=bc(ends, joints) if ends else None)
    assert len(got) == (1 if joints is None else joints)
    for j, traj in enumerate(got):
        same_spline(traj, want.t, want.c if joints is None else want.c[:, j])


@pytest.mark.parametrize("joints", [None, 2])
@pytest.mark.parametrize("p, ends", [(1, ()), (2, ()), (2, ((1.0, -0.5),)), (3, ()),
                                     (3, ((0.0, 0.0), (0.0, 0.0))), (4, ((0.3, 0.2),)),
                                     (5, ((0.0, 0.0), (0.0, 0.0))), (5, ((1.0, 2.0), (-4.0, 3.0))),
                                     (7, ((0.0, 0.0), (0.0, 0.0)))])
def test_averaged_knots_meet_every_condition(p, ends, joints):
    x, y = waypoints(joints=joints)
    kw = dict(zip(("slopes", "accels"), ends))
    got = as_list(pyvelt.interpolate(x, y, p, **kw))
    U = got[0].get_knotvector_asarray()
    # scipy's collocation on the same knots and conditions is the oracle.
    want = make_interp_spline(x, y, k=p, t=U, bc_type=bc(ends, joints) if ends else None)
    ys = y.reshape(len(x), -1)
    for j, traj in enumerate(got):
        assert np.array_equal(traj.get_knotvector_asarray(), U)
        same_spline(traj, U, want.c if joints is None else want.c[:, j])
        # The conditions themselves, from the trajectory's own derivatives.
        np.testing.assert_allclose(traj(x), ys[:, j], rtol=0, atol=1e-12)
        for nu, (start, end) in enumerate(ends, 1):
            scale = max(1.0, np.max(np.abs(traj(x, nu=nu))))
            assert traj(x[0], nu=nu) == pytest.approx(start, abs=1e-10 * scale)
            assert traj(x[-1], nu=nu) == pytest.approx(end, abs=1e-10 * scale)


def test_rest_to_rest_knots_average_by_averaging3():
    # The knot placement with two conditions at each end, by its rule: each
    # inner knot is the mean of a window of p times, clipped at the ends.
    x, y = waypoints(6)
    p = 5
    traj = pyvelt.interpolate(x, y, p, slopes=(0, 0), accels=(0, 0))
    n = len(x) - 1
    inner = [np.mean(x[max(0, i):min(n, i + p - 1) + 1]) for i in range(1 - 2, n + 2 - p + 1)]
    want = np.r_[[x[0]] * (p + 1), inner, [x[-1]] * (p + 1)]
    np.testing.assert_allclose(traj.get_knotvector_asarray(), want, rtol=1e-15)


def test_one_joint_in_a_column_and_alone_agree():
    x, y = waypoints(12, joints=4)
    both = pyvelt.interpolate(x, y, 5, slopes=(0, 0), accels=(0, 0))
    for j in range(4):
        alone = pyvelt.interpolate(x, y[:, j], 5, slopes=(0, 0), accels=(0, 0))
        np.testing.assert_allclose(both[j].get_cpts_asarray(), alone.get_cpts_asarray(),
                                   rtol=1e-13, atol=1e-13)


@pytest.mark.parametrize("joints", [None, 3])
def test_approximate_with_columns_matches_scipy(joints):
    rng = np.random.default_rng(5)
    x = np.linspace(0.0, 4.0, 40)
    y = np.sin(x)[:, None] * np.arange(1, 4) + rng.normal(scale=0.01, size=(40, 3))
    y = y[:, 0] if joints is None else y
    got = as_list(pyvelt.approximate(x, y, 8, p=3))
    U = got[0].get_knotvector_asarray()
    A = BSpline.design_matrix(x, U, 3).toarray()
    for j, traj in enumerate(got):
        col = y if joints is None else y[:, j]
        # The ends are interpolated, the inner control points least squares
        # over the inner points.
        rest = col - A[:, 0] * col[0] - A[:, -1] * col[-1]
        inner = np.linalg.lstsq(A[1:-1, 1:-1], rest[1:-1], rcond=None)[0]
        np.testing.assert_allclose(traj.get_cpts_asarray(), np.r_[col[0], inner, col[-1]],
                                   rtol=1e-10, atol=1e-12)


BAD = [
    (dict(p=0), "'p' must be an integer >= 1"),
    (dict(p=2.5), "'p' must be an integer"),
    (dict(p=True), "'p' must be an integer"),
    (dict(slopes=(0.0,)), "'slopes' must be a pair"),
    (dict(slopes=(0.0, np.inf)), "'slopes' must be a pair of finite numbers"),
    (dict(slopes=(0, 0), accels=(np.nan, 0)), "'accels' must be a pair of finite numbers"),
    (dict(accels=(0, 0)), "'accels' must be given together with 'slopes'"),
    (dict(p=1, slopes=(0, 0)), "'slopes' needs p >= 2"),
    (dict(p=2, slopes=(0, 0), accels=(0, 0)), "'accels' needs p >= 3"),
    (dict(knots="uniform"), "'knots' must be 'average' or 'data'"),
    (dict(p=4, knots="data"), "'knots': 'data' cannot place knots for p = 4 with no end"),
    (dict(p=3, knots="data", slopes=(0, 0), accels=(0, 0)), "p = 5 with 'slopes' and 'accels'"),
    (dict(x=[0, 1, 1, 3, 4]), r"'x' must be strictly increasing: x\[2\] = 1.0"),
    (dict(x=[0, 1, 2, 3]), "'x' and 'y' must have the same length, got 4 and 5"),
    (dict(x=[[0, 1, 2, 3, 4]]), "'x' must be one-dimensional"),
    (dict(y=np.zeros((5, 2, 1))), "'y' must have one dimension"),
    (dict(p=5), "'x': 5 points are too few for degree 5"),
    (dict(x=[0, 1, 2, np.nan, 4]), "'x' must be finite: row 3"),
    (dict(y=[0, 1, np.nan, 1, 0]), "'y' must be finite: row 2"),
    (dict(y=[[0, 0], [1, 1], [2, np.inf], [1, 1], [0, 0]]), "'y' must be finite: row 2"),
    (dict(y=[0, 1e308, -1e308, 1e308, 0]), "'y': the fit has control points that are not finite"),
    (dict(y="abcde"), "'y' must be an array of numbers"),
]


@pytest.mark.parametrize("kw, message", BAD, ids=[m[:30] for _, m in BAD])
def test_bad_arguments(kw, message):
    args = dict(x=[0.0, 1.0, 2.0, 3.0, 4.0], y=[0.0, 1.0, 0.5, 1.0, 0.0])
    args.update(kw)
    with pytest.raises(ValueError, match=message):
        pyvelt.interpolate(**args)


@pytest.mark.parametrize("kw, message", [
    (dict(ncpts=6), r"'ncpts' must be in \[4, 5\], got 6"),
    (dict(p=0), "'p' must be an integer >= 1"),
    (dict(y=[0, 1, 2, np.nan, 1, 0]), "'y' must be finite"),
    (dict(x=[0, 1, 2, 2, 4, 5]), "'x' must be strictly increasing"),
])
def test_approximate_bad_arguments(kw, message):
    args = dict(x=[0.0, 1.0, 2.0, 3.0, 4.0, 5.0], y=[0.0, 1.0, 0.5, 1.0, 0.0, 1.0], ncpts=4)
    args.update(kw)
    with pytest.raises(ValueError, match=message):
        pyvelt.approximate(**args)


# The package as this test run imports it, for a subprocess.
ENV = dict(os.environ, PYTHONPATH=str(pathlib.Path(pyvelt.__file__).parent.parent))


def test_the_same_under_python_O(run_python):
    # No check may depend on assertions: p = 1 and p = 2 work, bad input is
    # ValueError, with and without -O.
    code = textwrap.dedent("""
        import numpy as np, pyvelt
        x = np.array([0.0, 0.4, 1.1, 2.0]); y = np.array([0.0, 1.0, -1.0, 0.5])
        for p in (1, 2):
            t = pyvelt.interpolate(x, y, p)
            assert np.allclose(t(x), y, atol=1e-12), p
        for kw in (dict(p=0), dict(p=2, slopes=(0, 0), accels=(0, 0)), dict(p=4)):
            try:
                pyvelt.interpolate(x, y, **kw)
            except ValueError:
                continue
            raise SystemExit(f"no ValueError for {kw}")
        print("ok")
    """)
    for flags in ([], ["-O"]):
        out = run_python(code, *flags, env=ENV)
        assert out.returncode == 0 and out.stdout == "ok\n", (flags, out.stderr)


def test_knots_at_the_waypoints_do_not_overshoot_uneven_times():
    # Monotone waypoints at uneven times: with the knots at the waypoints the
    # cubic travels much less beyond the waypoints than with averaged knots.
    x = np.array([0.0, 0.1, 0.2, 2.0, 2.1, 2.2, 4.0])
    y = np.array([0.0, 0.1, 0.3, 1.0, 1.1, 1.3, 3.3])
    ts = np.linspace(0.0, 4.0, 4001)
    travel = {k: np.sum(np.abs(np.diff(pyvelt.interpolate(x, y, 3, knots=k)(ts))))
              for k in ("average", "data")}
    assert travel["data"] < travel["average"]


@pytest.mark.parametrize("p", [2, 3, 5])
def test_default_results_are_unchanged(p):
    # The default (averaged knots, no or slope conditions) gives exactly what
    # the library's own interpolation gives.
    from pyvelt import arcus
    x, y = waypoints(10)
    U, P = np.empty(len(x) + p + 1), np.empty(len(x))
    arcus.averaging(x, p, U)
    arcus.gcsplint(x, y, p, U, P)
    assert np.array_equal(pyvelt.interpolate(x, y, p).get_cpts_asarray(), P)
    U, P = np.empty(len(x) + p + 3), np.empty(len(x) + 2)
    arcus.averaging2(x, p, U)
    arcus.gdsplint(x, y, p, U, P, dy=(0.3, -0.2))
    assert np.array_equal(pyvelt.interpolate(x, y, p, (0.3, -0.2)).get_cpts_asarray(), P)
