"""Trajectory1d domain transforms, calculus and knot operations, against
scipy.interpolate (BSpline.derivative / antiderivative, insert)."""
import numpy as np
import pytest
from scipy.interpolate import insert

from pyvelt import ductus
from trajhelp import SHAPES, arrays, fails_unchanged, grid, make, sample, spline, state

T = ductus.Trajectory1d


def same_values(t, s, tol=1e-11):
    np.testing.assert_allclose(t(grid(t)), s(grid(t)), rtol=tol, atol=tol)


def test_transforms_move_the_domain_and_keep_the_shape():
    t = sample()
    s, P, x, view = spline(t), arrays(t)[1], np.linspace(0.0, 2.0, 9), t.get_knotvector_asarray()
    for step, dom, image in [
        (lambda: t.rshift(1.5), (1.5, 3.5), lambda u: u + 1.5),
        (lambda: t.ashift(-1), (-1.0, 1.0), lambda u: u - 1.0),
        (lambda: t.hscale(2), (-1.0, 3.0), lambda u: 2 * u - 1.0),
        (lambda: t.adapt(10, 11), (10.0, 11.0), lambda u: 10 + u / 2),
        (lambda: t.adapt(stop=-2.0, start=-5.5), (-5.5, -2.0), lambda u: -5.5 + 1.75 * u),
    ]:
        assert step() is None
        assert (t.start, t.stop) == pytest.approx(dom, abs=1e-14) and view[0] == t.start
        np.testing.assert_allclose(t(image(x)), s(x), rtol=1e-12, atol=1e-12)
        assert arrays(t)[1].tolist() == P.tolist() and np.all(np.diff(view) >= 0)


@pytest.mark.parametrize("call, exc, msg", [
    (lambda t: t.hscale(0.0), ValueError, "'k'"),
    (lambda t: t.hscale(float("nan")), ValueError, "'k'"),
    (lambda t: t.hscale(float("inf")), ValueError, "'k'"),
    (lambda t: t.adapt(1, 1), ValueError, r"^'stop' must be strictly greater than 'start'$"),
    (lambda t: t.adapt(0, float("inf")), ValueError, "finite"),
    (lambda t: make([1.0] * 4, [1, 2], 1).adapt(0, 1), ZeroDivisionError, "^float division by zero$"),
    (lambda t: t.derivative(-1), ValueError, r"^'nu' must be greater than or equal to zero: -1$"),
    (lambda t: t.antiderivative(-3), ValueError, r"^'nu' must be greater than or equal to zero: -3$"),
    (lambda t: t.antiderivative(), ValueError, r"^negative 'order' not allowed$"),
    (lambda t: t.derivative(4), ValueError, None),
    (lambda t: t.degelev(-1), ValueError, r"^'nu' must be non-negative number$"),
    (lambda t: t.degelev(2**31 - 1), ValueError, None),
    (lambda t: sample(order=2**32 - 1).derivative(), OverflowError, None),
    (lambda t: sample(order=2**32 - 1).antiderivative(2**31 - 1), ValueError, None),
    (lambda t: t.knotins(2.5, 1), ValueError, r"^'u' out of domain: 2\.5$"),
    (lambda t: t.knotins(0.5, -1), ValueError, r"^'r' must be non-negative number$"),
    (lambda t: t.knotins(0.5, 4), ValueError, r"^'r' must be less than or equal to 'p'$"),
    (lambda t: t.knotref(np.array([0.5, 0.5])), ValueError, r"^'X' must be increasing$"),
    (lambda t: t.knotref(np.array([])), ValueError, None),
    (lambda t: t.knotrem(0.3, -1), ValueError, r"^'r' must be non-negative number$"),
    (lambda t: t.knotrem(-0.25, 1), ValueError, r"^'u' out of domain: -0\.25$"),
    (lambda t: t.knotrem_notol(2.5, 1), ValueError, r"^'u' out of domain: 2\.5$"),
])
def test_messages(call, exc, msg):
    fails_unchanged(call, exc, msg, sample())


@pytest.mark.parametrize("shape", SHAPES)
def test_calculus_matches_bspline(shape):
    t = sample(*shape, order=2)
    s, keep = spline(t), state(t)
    assert t.derivative(0) == t.copy() and t.antiderivative(0) == t.copy()
    for nu in range(1, t.p + 1):
        try:
            with np.errstate(divide="raise", invalid="raise"):
                ref = s.derivative(nu)
        except (FloatingPointError, ValueError):
            # A knot repeated more than p - nu + 1 times: a zero divisor, named with its knot.
            knots = arrays(t)[0][t.p + 1:t.n + 1]
            u = float(max(knots, key=lambda k: (np.count_nonzero(knots == k), -k)))
            mult = np.count_nonzero(knots == u)
            assert mult > t.p - nu + 1
            with pytest.raises(ZeroDivisionError, match=(
                    rf"^derivative {nu} of a trajectory of degree {t.p} needs every interior knot "
                    rf"repeated at most p - nu \+ 1 = {t.p - nu + 1} times, but the knot {u!r} is "
                    rf"repeated {mult} times$")):
                t.derivative(nu)
            continue
        d = t.derivative(nu)
        assert (type(d), d.p, d.n, d.order) == (T, t.p - nu, t.n - nu, 2 + nu)
        same_values(d, ref, 1e-10)
    for nu in (1, 2):
        a = t.antiderivative(nu)
        assert (type(a), a.p, a.n, a.order) == (T, t.p + nu, t.n + nu, 2 - nu)
        same_values(a, s.antiderivative(nu))
        assert a.peval(t.start) == 0.0 and a.derivative(nu) == t
        e = t.degelev(nu)
        distinct = len(set(arrays(t)[0][t.p + 1:t.n + 1]))
        assert (e.p, e.n, e.order) == (t.p + nu, t.n + nu * (distinct + 1), 2)
        same_values(e, s)
    assert state(t) == keep


@pytest.mark.parametrize("shape", SHAPES)
def test_knot_insertion_matches_scipy(shape):
    t = sample(*shape, order=1)
    s, keep, (a, b) = spline(t), state(t), (t.start, t.stop)
    for r in range(1, t.p + 1):
        k, ref = t.knotins(u=a + 0.55 * (b - a), r=r), insert(a + 0.55 * (b - a), s, m=r)
        assert (k.p, k.n, k.order) == (t.p, t.n + r, 1)
        np.testing.assert_allclose(arrays(k)[0], ref.t, rtol=1e-15)
        np.testing.assert_allclose(arrays(k)[1], ref.c[:k.n + 1], rtol=1e-12, atol=1e-12)
    X = a + (b - a) * np.array([0.1, 0.45, 0.8])
    k = t.knotref(X)
    for x in X:
        s = insert(x, s)
    assert (k.p, k.n, k.order) == (t.p, t.n + 3, 1)
    np.testing.assert_allclose(arrays(k)[0], s.t, rtol=1e-15)
    np.testing.assert_allclose(arrays(k)[1], s.c[:k.n + 1], rtol=1e-12, atol=1e-12)
    assert state(t) == keep


def test_knot_removal():
    q = make([0, 0, 0, 1, 1, 1], [0, 1, 0], 2)
    k = q.knotins(0.5, 1)
    assert arrays(k)[0].tolist() == [0, 0, 0, 0.5, 1, 1, 1] and k.n == 3
    np.testing.assert_allclose(arrays(k)[1], [0, 0.5, 0.5, 0], atol=1e-15)
    assert k.knotrem(0.5, 1) == q
    t = sample(3, (0.7,), order=1)
    s, refined = spline(t), t.knotref(np.array([0.5, 1.2]))
    r = refined.knotrem(0.5, 1)
    assert (r.p, r.n, r.order) == (3, t.n + 1, 1)
    same_values(r, s)
    assert refined.knotsrem() == t
    kept = t.knotrem(0.7, 1, tol=1e-6)
    assert kept == t and kept is not t
    gone = t.knotrem_notol(u=0.7, r=1)
    assert (gone.n, gone.order) == (t.n - 1, 1) and 0.7 not in arrays(gone)[0]
    # The default tolerance is 1e-13: a change of 1e-11 is too much for it.
    U, P = arrays(refined)
    P[5] += 1e-11
    bumped = make(U, P, 3, 1)
    assert bumped.knotrem(1.2, 1).n == bumped.n and bumped.knotsrem().n == bumped.n - 1
    assert bumped.knotrem(1.2, 1, 1e-9).n == bumped.n - 1 and bumped.knotsrem(tol=1e-9).n == t.n




@pytest.mark.parametrize("method", ["rshift", "ashift"])
@pytest.mark.parametrize("x", [np.inf, -np.inf, np.nan])
def test_shift_by_a_value_that_is_not_finite(method, x):
    fails_unchanged(lambda t: getattr(t, method)(x), ValueError, "'x' must be a finite number",
                    sample())


# Transforms whose knots would overflow, or merge within the knot tolerance
# (where basis functions become NaN or the spans run together), are refused
# and change nothing.
@pytest.mark.parametrize("steps, exc", [
    ([("adapt", -1e308, 1e308)], OverflowError),
    ([("hscale", 1e300), ("hscale", 1e300)], OverflowError),
    ([("hscale", 5e299), ("ashift", 1e308), ("hscale", 1e10)], OverflowError),
    ([("hscale", 5e299), ("rshift", 1e308), ("rshift", 1e308)], OverflowError),
    ([("rshift", 1.7e308)], ValueError),  # 1.7e308 + 2 == 1.7e308
    ([("ashift", 1e12)], ValueError),
    ([("hscale", 1e-320)], ValueError),
    ([("hscale", 1e-300)], ValueError),
    ([("adapt", 5.0, 5.0 + 1e-13)], ValueError),
])
def test_transforms_that_would_spoil_the_knots(steps, exc):
    t = sample()
    *before, (name, *args) = steps
    for step, *a in before:
        getattr(t, step)(*a)
    fails_unchanged(lambda t: getattr(t, name)(*args), exc, "knots", t)


def test_small_and_far_domains_that_stay_sound():
    s, x = spline(sample()), np.linspace(0, 2, 41)
    for step, image in [(lambda t: t.hscale(1e-10), lambda u: u * 1e-10),
                        (lambda t: t.ashift(1e6), lambda u: u + 1e6)]:
        t = sample()
        step(t)
        np.testing.assert_allclose(t(image(x)), s(x), rtol=1e-7, atol=1e-7)
