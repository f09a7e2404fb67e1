"""Trajectory1d evaluation against scipy.interpolate.BSpline: values, the call
operator's argument paths, the checks."""

import numpy as np
import pytest

from pyvelt import ductus
from trajhelp import SHAPES, arrays, fails_unchanged, grid, make, sample, spline, state

T = ductus.Trajectory1d


@pytest.mark.parametrize("shape", SHAPES)
def test_values_match_bspline(shape):
    t = sample(*shape)
    # Enough points for the derivative-spline path of dceval as well.
    s, keep, x = spline(t), state(t), grid(t, 101)
    close = lambda a, b: np.testing.assert_allclose(a, b, rtol=1e-11, atol=1e-11)  # noqa: E731
    close([t.peval(v) for v in x], s(x))
    xp = x.copy()
    assert t.ceval(xp) is None
    close(xp, s(x))
    for nu in range(t.p + 2):
        ref = s(x, nu) if nu <= t.p else 0 * x
        close([t.dpeval(v, nu=nu) for v in x], ref)
        xp = x.copy()
        assert t.dceval(xp=xp, nu=nu) is None
        close(xp, ref)
        close(t(x, nu=nu), ref)
    assert t.dpeval(x[3]) == t.dpeval(x[3], 1) and t.dpeval(x[3], 0) == t.peval(x[3])
    U = arrays(t)[0]
    close(t.get_xcpts(), [U[i + 1:i + t.p + 1].mean() for i in range(t.n + 1)])
    assert state(t) == keep


def test_call_paths():
    t = sample()
    s, pts = spline(t), [1.5, 0.5, 1.0, 0.0, 2.0]
    lst, arr, ro = list(pts), np.array(pts), np.array(pts)
    ro.flags.writeable = False
    for x in (lst, arr, tuple(pts), ro, np.repeat(pts, 2)[::2], np.array([str(v) for v in pts])):
        r = t(x)
        assert type(r) is np.ndarray and r.dtype == np.float64
        np.testing.assert_allclose(r, s(pts), rtol=1e-13, atol=1e-13)
    np.testing.assert_allclose(t(arr, nu=2), s(pts, 2), rtol=1e-12)
    assert lst == pts and arr.tolist() == pts
    inc = np.array([0.0, 0.5])
    assert t(inc) is not inc and inc.tolist() == [0.0, 0.5]
    v = t.peval(0.7)
    assert t(0.7) == t(np.float64(0.7)) == t(x=0.7, nu=0) == t.__call__(0.7) == v
    assert t(1) == t(np.int64(1)) == t(True) == t.peval(1.0)
    assert t(0.7, nu=2) == t(np.float64(0.7), 2) == t.dpeval(0.7, 2)
    assert type(t(np.float32(0.5))) is float and t(0.5, nu=t.p + 1) == 0.0
    r = t(np.array(0.7))
    assert r.shape == (1,) and r[0] == v
    assert make([0, 0, 0, 1, 2, 2, 2], [1, 2, 3, 4], 2).get_xcpts().tolist() == [0, 0.5, 1.5, 2]


@pytest.mark.parametrize("call, exc, msg", [
    (lambda t: t.peval(2.0000001), ValueError, r"^'x' out of domain: 2\.0000001$"),
    (lambda t: t.dpeval(-1e-300, 1), ValueError, r"^'x' out of domain: -1e-300$"),
    (lambda t: t.dpeval(0.5, -1), ValueError, r"^'nu' must be non-negative number$"),
    (lambda t: t.ceval(np.array([0.5, 0.5, 1.0])), ValueError, r"^'xp' must be increasing$"),
    (lambda t: t.ceval(np.array([])), ValueError, r"^zero size arrays are not allowed$"),
    (lambda t: t.ceval(np.array([-0.1, 1.0])), ValueError, r"^domain error$"),
    (lambda t: t.dceval(np.array([0.5, 2.1])), ValueError, r"^domain error$"),
    (lambda t: t.dceval(np.array([0.5]), -1), ValueError, r"^'nu' must be non-negative number$"),
    (lambda t: t(np.array([[0.5, 1.0]])), ValueError, r"^'x' must be one-dimensional$"),
    (lambda t: t([1.0, 0.5, 1.0]), ValueError, r"^'xp' must be increasing$"),
    (lambda t: t([0.5, 3.0]), ValueError, r"^domain error$"),
    (lambda t: t(0.5, nu=-1), ValueError, r"^'nu' must be non-negative number$"),
    (lambda t: t([0.5], nu=-1), ValueError, r"^'nu' must be non-negative number$"),
    (lambda t: t({}), TypeError, None),
    (lambda t: t.ceval([0.5]), TypeError, None),
    (lambda t: t.ceval(np.array([0.5, 1.0], np.float32)), ValueError, None),
    (lambda t: t.ceval(np.linspace(0.1, 1, 6)[::2]), ValueError, None),
])
def test_messages(call, exc, msg):
    fails_unchanged(call, exc, msg, sample())


@pytest.mark.parametrize("call", [
    lambda t: t.peval(0.0), lambda t: t.dceval(np.array([0.0])), lambda t: t([0.0]),
    lambda t: t.get_xcpts(), lambda t: t.hscale(2.0), lambda t: t.adapt(0.0, 1.0),
    lambda t: t.antiderivative(0), lambda t: t.degelev(), lambda t: t.knotref(np.array([0.5])),
    lambda t: t.knotsrem(), lambda t: t + 1, lambda t: -t, lambda t: t == t,
    lambda t: t.setValueAm((0.0, 1.0, 0)), lambda t: sample() + t,
])
def test_empty_trajectory(call):
    with pytest.raises(ValueError, match="empty"):
        call(T())


def test_call_operator_uses_redefinitions():
    calls = []

    class Probe(T):
        def peval(self, x):
            return calls.append(("peval", x)) or 42.0

        def dpeval(self, x, nu=1):
            return calls.append(("dpeval", x, nu)) or -1.0

        def ceval(self, xp):
            calls.append(("ceval", len(xp)))
            xp[:] = np.arange(len(xp))

        def dceval(self, xp, nu=1):
            calls.append(("dceval", len(xp), nu))
            xp[:] = -np.arange(len(xp))

    t = sample(cls=Probe)
    assert t(0.5) == t(np.float64(0.25)) == t(1) == 42.0 and t(0.5, nu=2) == -1.0
    # The redefinitions get the sorted points; the results come back in the
    # caller's order.
    assert t([1.0, 0.5, 0.75]).tolist() == [2.0, 0.0, 1.0]
    assert t([0.5, 1.0], nu=3).tolist() == [0.0, -1.0]
    assert calls == [("peval", 0.5), ("peval", 0.25), ("peval", 1.0), ("dpeval", 0.5, 2),
                     ("ceval", 3), ("dceval", 2, 3)]
    assert T.peval(t, 0.5) == pytest.approx(spline(t)(0.5), abs=1e-14)


def test_high_derivatives_of_a_high_degree():
    # The factor p (p-1) ... of the derivatives exceeds a C int from p = 13.
    t, x = sample(p=17, interior=(0.4,), a=0.0, b=1.0, seed=3), np.array([0.3, 0.7])
    for nu in (11, 17):
        np.testing.assert_allclose(t(x, nu=nu), spline(t)(x, nu), rtol=1e-6)
        np.testing.assert_allclose([t.dpeval(v, nu) for v in x], spline(t)(x, nu), rtol=1e-6)


def reference_call(t, x, nu=0):
    """The call operator written out with numpy: sort, evaluate, restore the order."""
    a = np.ascontiguousarray(np.array(x, copy=True, ndmin=1).ravel(), dtype=np.float64)
    idx = np.argsort(a)
    s = a[idx].copy()
    if nu:
        t.dceval(s, nu)
    else:
        t.ceval(s)
    return s[np.argsort(idx)]


@pytest.mark.parametrize("seed", range(6))
def test_unsorted_inputs_match_sorting(seed):
    rng = np.random.default_rng(seed)
    t = sample(p=3, interior=tuple(np.sort(rng.uniform(0, 2, 40))))
    n = rng.integers(2, 3000)
    x = rng.uniform(0, 2, n)
    kind = seed % 3
    if kind == 1:
        x[rng.integers(0, n, 5)] = np.nan          # NaN pass the checks
        x[0] = 1e-300
    elif kind == 2:
        x = np.concatenate([rng.uniform(0, 2, n // 2), np.full(n // 2, 0.5)])  # clustered
        x[-1] = 1.25
        x = x[np.unique(x, return_index=True)[1]]
        rng.shuffle(x)
    for nu in (0, 1):
        got, want = t(x, nu=nu), reference_call(t, x, nu)
        assert got.tobytes() == want.tobytes()
    for bad in (np.r_[x, x[:1]], np.r_[x, 2.5], np.r_[x, -0.0, 0.0]):
        rng.shuffle(bad)
        outcome = []
        for call in (t, reference_call):
            try:
                outcome.append(call(t, bad).tobytes() if call is reference_call else call(bad).tobytes())
            except ValueError as e:
                outcome.append(str(e))
        assert outcome[0] == outcome[1]
