"""Trajectory1d evaluation: values against scipy.interpolate.BSpline, the call
operator's argument paths, the checks and their messages."""
import numpy as np
import pytest

from pyvelt import ductus
from trajhelp import SHAPE_IDS, SHAPES, arrays, clamped, grid, make, sample, shaped, spline

T = ductus.Trajectory1d


@pytest.mark.parametrize("shape", SHAPES, ids=SHAPE_IDS)
def test_values_match_bspline(shape):
    t = shaped(shape)
    s = spline(t)
    before = arrays(t)
    x = grid(t)
    for nu in range(t.p + 2):
        ref = s(x, nu) if nu <= t.p else np.zeros_like(x)
        np.testing.assert_allclose([t.dpeval(v, nu=nu) for v in x], ref, rtol=1e-12, atol=1e-12)
        xp = x.copy()
        assert t.dceval(xp=xp, nu=nu) is None
        np.testing.assert_allclose(xp, ref, rtol=1e-12, atol=1e-12)
        np.testing.assert_allclose(t(x, nu=nu), ref, rtol=1e-12, atol=1e-12)
    np.testing.assert_allclose([t.peval(v) for v in x], s(x), rtol=1e-13, atol=1e-13)
    xp = x.copy()
    assert t.ceval(xp) is None
    np.testing.assert_allclose(xp, s(x), rtol=1e-13, atol=1e-13)
    assert t.dpeval(x[3]) == t.dpeval(x[3], 1) and t.dpeval(x[3], 0) == t.peval(x[3])
    for got, want in zip(arrays(t), before):
        np.testing.assert_array_equal(got, want)


def test_call_restores_order_and_never_writes_input():
    t = sample()
    s = spline(t)
    pts = [1.5, 0.5, 1.0, 0.0, 2.0]
    lst = list(pts)
    arr = np.array(pts)
    for x in (lst, arr, tuple(pts)):
        r = t(x)
        assert isinstance(r, np.ndarray) and r.dtype == np.float64 and r.shape == (5,)
        np.testing.assert_allclose(r, s(pts), rtol=1e-13, atol=1e-13)
        np.testing.assert_allclose(t(x, nu=2), s(pts, 2), rtol=1e-12, atol=1e-12)
    assert lst == pts
    np.testing.assert_array_equal(arr, pts)
    inc = np.array([0.0, 0.5, 2.0])
    r = t(inc)
    assert r is not inc
    np.testing.assert_array_equal(inc, [0.0, 0.5, 2.0])
    # Other element types are converted to float64.
    np.testing.assert_allclose(t(np.array([2, 0, 1])), s([2.0, 0.0, 1.0]), rtol=1e-13)
    np.testing.assert_allclose(t(np.array([1.5, 0.5], np.float32)), s([1.5, 0.5]), rtol=1e-13)
    np.testing.assert_allclose(t(np.array(["1.5", "0.5"])), s([1.5, 0.5]), rtol=1e-13)
    # Read-only and strided arrays are read, never written.
    ro = np.array(pts)
    ro.flags.writeable = False
    np.testing.assert_allclose(t(ro), s(pts), rtol=1e-13, atol=1e-13)
    wide = np.repeat(pts, 2)
    np.testing.assert_allclose(t(wide[::2]), s(pts), rtol=1e-13, atol=1e-13)
    np.testing.assert_array_equal(wide, np.repeat(pts, 2))


def test_call_scalar_paths_agree():
    t = sample()
    x = 0.7
    v = t.peval(x)
    for arg in (x, np.float64(x), np.float32(0.75).item(), np.array(x)[()]):
        assert isinstance(t(arg), float)
    assert t(x) == t(np.float64(x)) == v
    assert t(1) == t(np.int64(1)) == t.peval(1.0)
    assert t(True) == t.peval(1.0)
    assert t(x, nu=2) == t(np.float64(x), 2) == t.dpeval(x, 2)
    assert t(x, 0) == t(x=x, nu=0) == t.__call__(x)
    # A zero-dimensional array takes the array path.
    r = t(np.array(x))
    assert isinstance(r, np.ndarray) and r.shape == (1,) and r[0] == v
    assert t(np.float64(x), nu=t.p + 1) == 0.0


def test_get_xcpts():
    t = make([0, 0, 0, 1, 2, 2, 2], [1, 2, 3, 4], 2)
    np.testing.assert_array_equal(t.get_xcpts(), [0, 0.5, 1.5, 2])
    t = sample()
    U, _ = arrays(t)
    want = [U[i + 1:i + t.p + 1].mean() for i in range(t.n + 1)]
    np.testing.assert_allclose(t.get_xcpts(), want, rtol=1e-15)


def _fresh():
    return np.array([0.5, 1.0])


@pytest.mark.parametrize("call, exc, msg", [
    (lambda t: t.peval(2.0000001), ValueError, r"^'x' out of domain: 2\.0000001$"),
    (lambda t: t.peval(-1e-300), ValueError, r"^'x' out of domain: -1e-300$"),
    (lambda t: t.dpeval(2.5, 1), ValueError, r"^'x' out of domain: 2\.5$"),
    (lambda t: t.dpeval(0.5, -1), ValueError, r"^'nu' must be non-negative number$"),
    (lambda t: t.dpeval(0.5, nu=-1), ValueError, r"^'nu' must be non-negative number$"),
    (lambda t: t.ceval(np.array([0.5, 0.5, 1.0])), ValueError, r"^'xp' must be increasing$"),
    (lambda t: t.ceval(np.array([])), ValueError, r"^zero size arrays are not allowed$"),
    (lambda t: t.ceval(np.array([-0.1, 1.0])), ValueError, r"^domain error$"),
    (lambda t: t.ceval(np.array([0.1, 2.1])), ValueError, r"^domain error$"),
    (lambda t: t.dceval(np.array([0.5, 0.4])), ValueError, r"^'xp' must be increasing$"),
    (lambda t: t.dceval(np.array([0.5]), -1), ValueError, r"^'nu' must be non-negative number$"),
    (lambda t: t.dceval(np.array([]), -1), ValueError, r"^zero size arrays are not allowed$"),
    (lambda t: t(np.array([[0.5, 1.0]])), ValueError, r"^'x' must be one-dimensional$"),
    (lambda t: t([0.5, 0.5]), ValueError, r"^'xp' must be increasing$"),
    (lambda t: t([1.0, 0.5, 1.0]), ValueError, r"^'xp' must be increasing$"),
    (lambda t: t([]), ValueError, r"^zero size arrays are not allowed$"),
    (lambda t: t([0.5, 3.0]), ValueError, r"^domain error$"),
    (lambda t: t(3.0), ValueError, r"^'x' out of domain: 3\.0$"),
    (lambda t: t(0.5, nu=-1), ValueError, r"^'nu' must be non-negative number$"),
    (lambda t: t([0.5], nu=-1), ValueError, r"^'nu' must be non-negative number$"),
    (lambda t: t({}), TypeError, None),
    (lambda t: t.peval("0.5"), TypeError, None),
    (lambda t: t.ceval([0.5]), TypeError, None),
    (lambda t: t.ceval(np.array([0.5, 1.0], np.float32)), ValueError, None),
    (lambda t: t.ceval(np.linspace(0.1, 1, 6)[::2]), ValueError, None),
])
def test_messages(call, exc, msg):
    t = sample(a=0.0, b=2.0)
    before = arrays(t)
    with pytest.raises(exc, match=msg):
        call(t)
    for got, want in zip(arrays(t), before):
        np.testing.assert_array_equal(got, want)


def test_refused_arrays_stay_unchanged():
    t = sample(a=0.0, b=2.0)
    for bad in (np.array([0.5, 0.5, 1.0]), np.array([-0.1, 1.0])):
        keep = bad.copy()
        for f in (t.ceval, t.dceval):
            with pytest.raises(ValueError):
                f(bad)
            np.testing.assert_array_equal(bad, keep)
    ro = _fresh()
    ro.flags.writeable = False
    with pytest.raises(ValueError):
        t.ceval(ro)
    np.testing.assert_array_equal(ro, _fresh())


def test_domain_ends_included():
    t = sample(a=0.0, b=2.0)
    s = spline(t)
    assert t.peval(0.0) == pytest.approx(s(0.0), abs=1e-14)
    assert t.peval(2.0) == pytest.approx(s(2.0), abs=1e-14)


@pytest.mark.parametrize("call", [
    lambda t: t.peval(0.0), lambda t: t.dpeval(0.0), lambda t: t.ceval(np.array([0.0])),
    lambda t: t.dceval(np.array([0.0])), lambda t: t(0.0), lambda t: t([0.0]),
    lambda t: t.get_xcpts(),
])
def test_empty_trajectory(call):
    with pytest.raises(ValueError):
        call(T())


class Probe(T):
    """Records which of its redefinitions the C code called."""

    def __init__(self, *a):
        self.calls = []

    def peval(self, x):
        self.calls.append(("peval", x))
        return 42.0

    def dpeval(self, x, nu=1):
        self.calls.append(("dpeval", x, nu))
        return -1.0

    def ceval(self, xp):
        self.calls.append(("ceval", len(xp)))
        xp[:] = np.arange(len(xp))

    def dceval(self, xp, nu=1):
        self.calls.append(("dceval", len(xp), nu))
        xp[:] = -np.arange(len(xp))


def test_call_operator_uses_redefinitions():
    t = sample(cls=Probe)
    assert t(0.5) == 42.0 and t(np.float64(0.25)) == 42.0 and t(1) == 42.0
    assert t(0.5, nu=2) == -1.0
    # The redefinitions see the sorted points; results come back in the
    # caller's order.
    np.testing.assert_array_equal(t([1.0, 0.5, 1.5]), [1.0, 0.0, 2.0])
    np.testing.assert_array_equal(t([0.5, 1.0], nu=3), [0.0, -1.0])
    assert t.calls == [("peval", 0.5), ("peval", 0.25), ("peval", 1.0), ("dpeval", 0.5, 2),
                       ("ceval", 3), ("dceval", 2, 3)]
    # Calls from Python go to the methods as usual.
    assert T.peval(t, 0.5) == spline(t)(0.5).item()


def test_subclass_domain_properties_bound_the_checks():
    class Narrow(T):
        @property
        def stop(self):
            return 1.0

    t = sample(a=0.0, b=2.0, cls=Narrow)
    with pytest.raises(ValueError, match="^'x' out of domain: 1.5$"):
        t.peval(1.5)
    with pytest.raises(ValueError, match="^domain error$"):
        t([0.5, 1.5])
    assert t(0.5) == pytest.approx(spline(t)(0.5), abs=1e-14)


@pytest.mark.xfail(strict=True, reason="the kernel's derivative basis functions multiply the "
                   "factor p (p-1) ... in a C int, which overflows for p >= 13")
def test_high_derivatives_of_a_high_degree():
    t = sample(p=17, interior=(0.4,), a=0.0, b=1.0, seed=3)
    s = spline(t)
    x = np.array([0.3, 0.7])
    for nu in (11, 15, 17):
        ref = s(x, nu)
        np.testing.assert_allclose([t.dpeval(v, nu) for v in x], ref, rtol=1e-6)
        np.testing.assert_allclose(t(x, nu=nu), ref, rtol=1e-6)
