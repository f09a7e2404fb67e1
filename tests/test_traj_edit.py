"""Trajectory1d domain transforms, calculus and knot operations, against
scipy.interpolate (BSpline.derivative / antiderivative, insert) and numpy."""
import numpy as np
import pytest
from scipy.interpolate import BSpline, insert

from pyvelt import ductus
from trajhelp import SHAPE_IDS, SHAPES, arrays, clamped, grid, make, sample, shaped, spline

T = ductus.Trajectory1d


def same_arrays(a, b):
    for x, y in zip(arrays(a), arrays(b)):
        np.testing.assert_array_equal(x, y)


def same_values(t, s, x=None, tol=1e-12):
    x = grid(t) if x is None else x
    np.testing.assert_allclose(t(x), s(x), rtol=tol, atol=tol)


def fresh(t):
    """A plain owning trajectory with t's fields and arrays."""
    return make(*arrays(t), t.p, t.order)


# ---------------------------------------------------------------- transforms

def test_transforms_move_the_domain_and_keep_the_shape():
    t = sample(a=0.0, b=2.0)
    s = spline(t)
    x = np.linspace(0.0, 2.0, 9)
    _, P = arrays(t)
    steps = [
        (lambda: t.rshift(1.5), (1.5, 3.5), lambda u: u + 1.5),
        (lambda: t.ashift(-1), (-1.0, 1.0), lambda u: u - 1.0),
        (lambda: t.hscale(2), (-1.0, 3.0), lambda u: 2 * u - 1.0),
        (lambda: t.adapt(10, 11), (10.0, 11.0), lambda u: 10 + u / 2),
        (lambda: t.adapt(stop=-2.0, start=-5.5), (-5.5, -2.0), lambda u: -5.5 + 1.75 * u),
    ]
    for step, dom, image in steps:
        assert step() is None
        assert (t.start, t.stop) == pytest.approx(dom, abs=1e-14)
        np.testing.assert_allclose(t(image(x)), s(x), rtol=1e-12, atol=1e-12)
        np.testing.assert_array_equal(arrays(t)[1], P)
        U = arrays(t)[0]
        assert np.all(np.diff(U) >= 0) and U[0] == t.start


def test_transform_views_see_the_change():
    t = sample(a=0.0, b=2.0)
    view = t.get_knotvector_asarray()
    U = view.copy()
    t.rshift(0.25)
    np.testing.assert_array_equal(view, U + 0.25)


@pytest.mark.parametrize("call, exc, msg", [
    (lambda t: t.hscale(0.0), ValueError, "'k'"),
    (lambda t: t.hscale(-1.0), ValueError, "'k'"),
    (lambda t: t.hscale(float("nan")), ValueError, "'k'"),
    (lambda t: t.hscale(float("inf")), ValueError, "'k'"),
    (lambda t: t.adapt(1, 1), ValueError, r"^'stop' must be strictly greater than 'start'$"),
    (lambda t: t.adapt(2, 1), ValueError, r"^'stop' must be strictly greater than 'start'$"),
    (lambda t: t.adapt(0, float("inf")), ValueError, "finite"),
    (lambda t: t.adapt(float("nan"), 1), ValueError, "finite"),
    (lambda t: t.adapt(0), TypeError, None),
    (lambda t: t.rshift("1"), TypeError, None),
])
def test_transform_messages(call, exc, msg):
    t = sample()
    before = fresh(t)
    with pytest.raises(exc, match=msg):
        call(t)
    same_arrays(t, before)


def test_adapt_zero_length_domain():
    t = make([1.0, 1.0, 1.0, 1.0], [1.0, 2.0], 1)
    with pytest.raises(ZeroDivisionError, match="^float division by zero$"):
        t.adapt(0.0, 1.0)
    np.testing.assert_array_equal(arrays(t)[0], [1.0] * 4)


# ---------------------------------------------------------------- calculus

@pytest.mark.parametrize("shape", SHAPES, ids=SHAPE_IDS)
def test_derivative_matches_bspline(shape):
    t = shaped(shape, order=1)
    before = fresh(t)
    s = spline(t)
    for nu in range(t.p + 1):
        try:
            with np.errstate(divide="raise", invalid="raise"):
                ref = s.derivative(nu) if nu else s
        except (FloatingPointError, ValueError):
            # A knot repeated more than p - nu times: a zero divisor.
            with pytest.raises(ZeroDivisionError, match="^float division by zero$"):
                t.derivative(nu)
            continue
        d = t.derivative(nu) if nu != 1 else t.derivative()
        assert type(d) is T
        assert (d.p, d.n, d.order) == (t.p - nu, t.n - nu, 1 + nu)
        assert len(arrays(d)[0]) == d.p + d.n + 2
        same_values(d, ref, tol=1e-10)
    assert t.derivative(0) == t.copy()
    with pytest.raises(ValueError):
        t.derivative(t.p + 1)
    same_arrays(t, before)


@pytest.mark.parametrize("shape", SHAPES, ids=SHAPE_IDS)
def test_antiderivative_matches_bspline(shape):
    t = shaped(shape, order=2)
    before = fresh(t)
    s = spline(t)
    for nu in (0, 1, 2):
        a = t.antiderivative(nu) if nu != 1 else t.antiderivative()
        assert type(a) is T
        assert (a.p, a.n, a.order) == (t.p + nu, t.n + nu, 2 - nu)
        assert (a.start, a.stop) == (t.start, t.stop)
        assert len(arrays(a)[0]) == a.p + a.n + 2
        same_values(a, s.antiderivative(nu) if nu else s, tol=1e-11)
        if nu:
            assert a.peval(t.start) == 0.0
        # The round trip gives t back.
        back = a.derivative(nu)
        assert back.order == t.order and back == t
    same_arrays(t, before)


def test_calculus_messages():
    t = sample(order=1)
    with pytest.raises(ValueError, match=r"^'nu' must be greater than or equal to zero: -1$"):
        t.derivative(-1)
    with pytest.raises(ValueError, match=r"^'nu' must be greater than or equal to zero: -3$"):
        t.antiderivative(nu=-3)
    with pytest.raises(ValueError, match=r"^negative 'order' not allowed$"):
        t.antiderivative(2)
    with pytest.raises(ValueError, match=r"^negative 'order' not allowed$"):
        sample(order=0).antiderivative()
    with pytest.raises(ValueError, match=r"^'nu' must be non-negative number$"):
        t.degelev(-1)
    top = sample(order=2**32 - 1)
    with pytest.raises(OverflowError):
        top.derivative()
    assert top.derivative(0).order == 2**32 - 1
    for huge in (t.degelev, top.antiderivative):
        with pytest.raises((ValueError, MemoryError)):
            huge(2**31 - 1)


@pytest.mark.parametrize("shape", SHAPES, ids=SHAPE_IDS)
def test_degelev_keeps_the_curve(shape):
    t = shaped(shape, order=3)
    before = fresh(t)
    s = spline(t)
    distinct = len(set(arrays(t)[0][t.p + 1:t.n + 1]))
    with pytest.raises(ValueError):
        t.degelev(0)
    for nu in (1, 2):
        e = t.degelev(nu) if nu != 1 else t.degelev()
        assert (e.p, e.n, e.order) == (t.p + nu, t.n + nu * (distinct + 1), 3)
        assert len(arrays(e)[0]) == e.p + e.n + 2
        same_values(e, s, tol=1e-11)
    same_arrays(t, before)


# ---------------------------------------------------------------- knot operations

def test_knotins_example_and_round_trip():
    t = make([0, 0, 0, 1, 1, 1], [0, 1, 0], 2, order=2)
    k = t.knotins(0.5, 1)
    assert (k.p, k.n, k.order) == (2, 3, 2)
    np.testing.assert_array_equal(arrays(k)[0], [0, 0, 0, 0.5, 1, 1, 1])
    np.testing.assert_allclose(arrays(k)[1], [0, 0.5, 0.5, 0], atol=1e-15)
    back = k.knotrem(0.5, 1)
    assert (back.p, back.n) == (2, 2)
    np.testing.assert_allclose(arrays(back)[1], [0, 1, 0], atol=1e-14)
    np.testing.assert_array_equal(arrays(back)[0], arrays(t)[0])


@pytest.mark.parametrize("shape", SHAPES, ids=SHAPE_IDS)
def test_knotins_and_knotref_match_scipy(shape):
    t = shaped(shape, order=1)
    before = fresh(t)
    s = spline(t)
    a, b = t.start, t.stop
    u = a + 0.55 * (b - a)
    for r in range(1, t.p + 1):
        k = t.knotins(u=u, r=r)
        assert (k.p, k.n, k.order) == (t.p, t.n + r, 1)
        ref = insert(u, s, m=r)
        np.testing.assert_allclose(arrays(k)[0], ref.t, rtol=1e-15)
        np.testing.assert_allclose(arrays(k)[1], ref.c[:k.n + 1], rtol=1e-12, atol=1e-12)
    X = a + (b - a) * np.array([0.1, 0.45, 0.8])
    k = t.knotref(X)
    assert (k.p, k.n, k.order) == (t.p, t.n + 3, 1)
    ref = s
    for x in X:
        ref = insert(x, ref)
    np.testing.assert_allclose(arrays(k)[0], ref.t, rtol=1e-15)
    np.testing.assert_allclose(arrays(k)[1], ref.c[:k.n + 1], rtol=1e-12, atol=1e-12)
    same_arrays(t, before)


def test_knot_removal():
    t = sample(p=3, interior=(0.7,), a=0.0, b=2.0, order=1)
    s = spline(t)
    refined = t.knotref(np.array([0.5, 1.2]))
    # Removable knots go; the rest stays.
    r = refined.knotrem(0.5, 1)
    assert (r.p, r.n, r.order) == (3, t.n + 1, 1)
    same_values(r, s)
    all_out = refined.knotsrem()
    assert all_out.n == t.n and all_out.order == 1
    np.testing.assert_allclose(arrays(all_out)[0], arrays(t)[0], atol=1e-14)
    same_values(all_out, s)
    # A knot of the curve itself cannot be removed within the tolerance...
    kept = t.knotrem(0.7, 1, tol=1e-6)
    same_arrays(kept, t)
    assert kept is not t and kept == t
    # ... but without the tolerance test it goes.
    gone = t.knotrem_notol(u=0.7, r=1)
    assert (gone.p, gone.n, gone.order) == (3, t.n - 1, 1)
    assert 0.7 not in arrays(gone)[0]
    # The default tolerance is 1e-13: a change of 1e-11 is too much for it.
    U, P = arrays(refined)
    P[5] += 1e-11
    bumped = make(U, P, 3, 1)
    assert bumped.knotrem(1.2, 1).n == bumped.n
    assert bumped.knotsrem().n == bumped.n - 1
    assert bumped.knotrem(1.2, 1, 1e-9).n == bumped.n - 1
    assert bumped.knotsrem(tol=1e-9).n == t.n
    same_values(refined, s)


@pytest.mark.parametrize("call, exc, msg", [
    (lambda t: t.knotins(1.5, 1), ValueError, r"^'u' out of domain: 1\.5$"),
    (lambda t: t.knotins(-0.25, 1), ValueError, r"^'u' out of domain: -0\.25$"),
    (lambda t: t.knotins(0.5, -1), ValueError, r"^'r' must be non-negative number$"),
    (lambda t: t.knotins(0.5, 3), ValueError, r"^'r' must be less than or equal to 'p'$"),
    (lambda t: t.knotins(0.0, 1), ValueError, None),
    (lambda t: t.knotref(np.array([0.5, 0.5])), ValueError, r"^'X' must be increasing$"),
    (lambda t: t.knotref(np.array([0.5, 0.25])), ValueError, r"^'X' must be increasing$"),
    (lambda t: t.knotref(np.array([])), ValueError, None),
    (lambda t: t.knotref(np.array([1.0])), ValueError, None),
    (lambda t: t.knotref([0.5]), TypeError, None),
    (lambda t: t.knotrem(0.5, -1), ValueError, r"^'r' must be non-negative number$"),
    (lambda t: t.knotrem(2.0, 1), ValueError, r"^'u' out of domain: 2\.0$"),
    (lambda t: t.knotrem_notol(2.0, 1), ValueError, r"^'u' out of domain: 2\.0$"),
    (lambda t: t.knotrem_notol(0.5, -1), ValueError, r"^'r' must be non-negative number$"),
    (lambda t: t.knotrem(0.5, 2), ValueError, None),
    (lambda t: t.knotrem(0.5), TypeError, None),
])
def test_knot_messages(call, exc, msg):
    t = make([0, 0, 0, 0.5, 1, 1, 1], [0, 1, 2, 0], 2)
    before = fresh(t)
    with pytest.raises(exc, match=msg):
        call(t)
    same_arrays(t, before)


@pytest.mark.parametrize("call", [
    lambda t: t.rshift(1.0), lambda t: t.ashift(1.0), lambda t: t.hscale(2.0),
    lambda t: t.adapt(0.0, 1.0), lambda t: t.derivative(), lambda t: t.antiderivative(0),
    lambda t: t.degelev(), lambda t: t.knotins(0.5, 1), lambda t: t.knotref(np.array([0.5])),
    lambda t: t.knotrem(0.5, 1), lambda t: t.knotsrem(), lambda t: t.knotrem_notol(0.5, 1),
])
def test_empty_trajectory(call):
    with pytest.raises(ValueError):
        call(T())


def test_subclass_results_are_plain_and_redefinitions_are_checked():
    class Sub(T):
        def derivative(self, nu=1):
            return "not a trajectory"

    t = sample(cls=Sub)
    for r in (t.antiderivative(0), t.degelev(), t.knotins(1.0, 1), t.knotsrem(), T.derivative(t)):
        assert type(r) is T
    assert t.derivative() == "not a trajectory"
