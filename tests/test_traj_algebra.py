"""Trajectory1d arithmetic, equality and value constraints, checked pointwise
against scipy.interpolate.BSpline."""
import collections

import numpy as np
import pytest

from pyvelt import ductus
from trajhelp import arrays, clamped, grid, make, sample, spline

T = ductus.Trajectory1d
P1 = ductus.Point1d


def pair(order=0, cls=T):
    a = sample(3, (0.3, 0.6, 0.6), 0.0, 2.0, order, seed=1, cls=cls)
    b = sample(3, (0.6, 1.1), 0.0, 2.0, order, seed=2, cls=cls)
    return a, b


def snapshot(*ts):
    return [(t.p, t.n, t.order) + tuple(x.tobytes() for x in arrays(t)) for t in ts]


def values(t, x):
    return spline(t)(x)


# ---------------------------------------------------------------- sums and numbers

def test_sum_and_difference_of_trajectories():
    a, b = pair(order=1)
    keep = snapshot(a, b)
    x = np.linspace(0, 2, 33)
    ya, yb = values(a, x), values(b, x)
    s = a + b
    assert type(s) is T and (s.p, s.order) == (3, 1)
    # The union of the knot vectors, each knot with its larger multiplicity.
    U = arrays(s)[0]
    np.testing.assert_array_equal(U, clamped(3, [0.3, 0.6, 0.6, 1.1], 0.0, 2.0))
    assert s.n == len(U) - 5
    np.testing.assert_allclose(s(x), ya + yb, rtol=1e-12, atol=1e-12)
    np.testing.assert_allclose(a.c_splcsum(b)(x), ya + yb, rtol=1e-12, atol=1e-12)
    d = a - b
    np.testing.assert_allclose(d(x), ya - yb, rtol=1e-12, atol=1e-12)
    np.testing.assert_allclose((b - a)(x), yb - ya, rtol=1e-12, atol=1e-12)
    assert snapshot(a, b) == keep


def test_sum_on_knot_vectors_equal_within_tolerance():
    a = sample(3, (0.3, 0.6), 0.0, 2.0, seed=1)
    U, P = arrays(a)
    U[4] += 1e-12
    b = make(U, np.random.default_rng(5).normal(size=len(P)), 3)
    s = a + b
    assert (s.p, s.n) == (a.p, a.n)
    np.testing.assert_array_equal(arrays(s)[0], arrays(a)[0])
    np.testing.assert_array_equal(arrays(s)[1], arrays(a)[1] + arrays(b)[1])


def test_numbers():
    a, _ = pair()
    keep = snapshot(a)
    x = grid(a, 17)
    y = values(a, x)
    cases = [
        (a + 1.5, y + 1.5), (1.5 + a, y + 1.5), (a + 2, y + 2), (a + np.float64(0.5), y + 0.5),
        (a - 2.0, y - 2.0), (2.0 - a, 2.0 - y), (a * 3, 3 * y), (3 * a, 3 * y),
        (a * -0.5, -0.5 * y), (a / 4, y / 4), (a / 0.5, 2 * y),
    ]
    for r, want in cases:
        assert type(r) is T and r is not a
        assert (r.p, r.n, r.order) == (a.p, a.n, a.order)
        np.testing.assert_array_equal(arrays(r)[0], arrays(a)[0])
        np.testing.assert_allclose(r(x), want, rtol=1e-12, atol=1e-12)
        # A new object that owns its arrays.
        assert r == r.copy()
    assert snapshot(a) == keep


@pytest.mark.parametrize("call, exc, msg", [
    (lambda a, b: a * b, NotImplementedError, None),
    (lambda a, b: a.c_splcmul(b), NotImplementedError, None),
    (lambda a, b: a / b, NotImplementedError, None),
    (lambda a, b: 3 / a, TypeError, None),
    (lambda a, b: a / 0, ZeroDivisionError, None),
    (lambda a, b: a + "x", TypeError, None),
    (lambda a, b: "x" + a, TypeError, None),
    (lambda a, b: a - None, TypeError, None),
    (lambda a, b: [1.0] - a, TypeError, None),
    (lambda a, b: a * [2.0], TypeError, None),
    (lambda a, b: a.c_splcsum(None), TypeError, None),
    (lambda a, b: a.c_splcmul(None), TypeError, None),
    (lambda a, b: a.c_splcsum(1.0), TypeError, None),
    (lambda a, b: a + sample(2, (0.5,), 0.0, 2.0), ValueError,
     r"^the input traiectories must have the same order$"),
    (lambda a, b: a + sample(3, (0.5,), 0.0, 1.0), ValueError,
     r"^the input traiectories must have the same extremes of domain$"),
    (lambda a, b: a - sample(3, (0.5,), 0.5, 2.0), ValueError,
     r"^the input traiectories must have the same extremes of domain$"),
    (lambda a, b: a + sample(3, (0.5,), 0.0, 2.0, order=1), ValueError,
     r"^the trajectories must have the same 'order'$"),
    (lambda a, b: a + T(), ValueError, None),
    (lambda a, b: T() + a, ValueError, None),
])
def test_operator_failures(call, exc, msg):
    a, b = pair()
    keep = snapshot(a, b)
    with pytest.raises(exc, match=msg):
        call(a, b)
    assert snapshot(a, b) == keep


def test_in_place_forms_and_negation():
    a, b = pair()
    x = grid(a, 9)
    y = values(a, x)
    view = a.get_cpts_asarray()
    U = arrays(a)[0]
    r = a
    r += 1
    assert r is a
    r -= 0.25
    r *= -2
    r /= 4
    assert r is a
    np.testing.assert_allclose(a(x), (y + 0.75) * -0.5, rtol=1e-12, atol=1e-12)
    np.testing.assert_allclose(view, arrays(a)[1])
    np.testing.assert_array_equal(arrays(a)[0], U)
    cpts = arrays(a)[1]
    n = -a
    assert n is a
    np.testing.assert_array_equal(arrays(a)[1], -cpts)
    keep = snapshot(a, b)
    for op in ("+=", "-=", "*=", "/="):
        with pytest.raises(TypeError):
            exec("a %s b" % op, {}, {"a": a, "b": b})
        with pytest.raises(TypeError):
            exec("a %s 'x'" % op, {}, {"a": a})
    with pytest.raises(ZeroDivisionError):
        a /= 0
    assert snapshot(a, b) == keep
    for op in (lambda: T().__iadd__(1.0), lambda: -T()):
        with pytest.raises(ValueError):
            op()


# ---------------------------------------------------------------- equality

def test_equality():
    a, b = pair()
    assert a == a and a == a.copy() and not (a != a.copy())
    assert a != b and not (a == b)
    U, P = arrays(a)
    assert make(U, P + 1e-12, 3) == a
    assert make(U, P + 1e-6, 3) != a
    assert make(U * (1 + 1e-10), P, 3) == a
    assert make(U, P, 3, order=1) != a
    assert a != 1.0 and not (a == None) and a != "a"  # noqa: E711
    nan = P.copy()
    nan[0] = np.nan
    assert make(U, nan, 3) != make(U, nan, 3)
    # The ownership flag takes part: a non-owning trajectory is never equal
    # to an owning one.
    loose = make(U, P, 3, owner=False)
    assert loose != a and a != loose and loose == make(U, P, 3, owner=False)
    assert loose.copy() == a
    with pytest.raises(TypeError):
        a < a
    with pytest.raises(TypeError):
        hash(a)
    with pytest.raises(ValueError):
        T() == T()


def test_equality_with_subclass_instances():
    class Sub(T):
        pass

    a, _ = pair()
    s = make(*arrays(a), 3, cls=Sub)
    # An instance of a subclass is an instance of T, not the other way round.
    assert T.__eq__(a, s) is True
    assert s != a and a != s


# ---------------------------------------------------------------- value constraints

def test_set_value_by_shift_and_by_scale():
    a, _ = pair()
    for arg in (P1(0.5, 2.0, 0), (0.5, 2.0, 0)):
        t = a.copy()
        assert t.setValueTr(arg) is None
        assert t.peval(0.5) == pytest.approx(2.0, abs=1e-14)
        np.testing.assert_allclose(arrays(t)[1] - arrays(a)[1], 2.0 - a.peval(0.5))
        t = a.copy()
        assert t.setValueAm(p=arg) is None
        assert t.peval(0.5) == pytest.approx(2.0, abs=1e-14)
        np.testing.assert_allclose(arrays(t)[1], arrays(a)[1] * (2.0 / a.peval(0.5)))
    # Derivatives: the shift moves the curve by the difference of the
    # derivative; the scale makes the derivative take the value.
    t = a.copy()
    t.setValueTr((1.0, 3.0, 2))
    np.testing.assert_allclose(arrays(t)[1] - arrays(a)[1], 3.0 - a.dpeval(1.0, 2))
    t = a.copy()
    t.setValueAm(P1(1.0, 3.0, 1))
    assert t.dpeval(1.0) == pytest.approx(3.0, abs=1e-13)


def test_set_value_on_a_velocity():
    v = sample(3, (0.5,), 0.0, 2.0, order=1, seed=3)
    keep = snapshot(v)
    with pytest.raises(ValueError, match=r"^this method cannot be used to set a constraint on "
                                         r"the n-th antiderivative$"):
        v.setValueTr((1.0, 2.0, 0))
    assert snapshot(v) == keep
    anti = spline(v).antiderivative()
    v.setValueAm((1.5, 2.0, 0))
    np.testing.assert_allclose(arrays(v)[1], np.frombuffer(keep[0][4]) * (2.0 / anti(1.5)))
    assert v.antiderivative().peval(1.5) == pytest.approx(2.0, abs=1e-13)


@pytest.mark.parametrize("call, exc, msg", [
    (lambda t: t.setValueAm((0.0, 1.0, 1)), ZeroDivisionError, r"^float division by zero$"),
    (lambda t: t.setValueAm((0.5, 1.0, 5)), ZeroDivisionError, r"^float division by zero$"),
    (lambda t: t.setValueTr((2.5, 1.0, 1)), ValueError, r"^'x' out of domain: 2\.5$"),
    (lambda t: t.setValueAm((2.5, 1.0, 0)), ValueError, r"^'x' out of domain: 2\.5$"),
    (lambda t: t.setValueAm((-1.0, 1.0, 0)), ValueError, r"^'x' out of domain: -1\.0$"),
    (lambda t: t.setValueTr([0.5, 2.0, 1]), TypeError, None),
    (lambda t: t.setValueAm(collections.namedtuple("Pt", "t val order")(0.5, 2.0, 1)),
     TypeError, None),
    (lambda t: t.setValueTr(None), TypeError, None),
    (lambda t: t.setValueAm(None), TypeError, None),
    (lambda t: t.setValueTr((0.5, 2.0)), (IndexError, TypeError, ValueError), None),
    (lambda t: t.setValueTr(("a", 2.0, 1)), TypeError, None),
    (lambda t: t.setValueAm((0.5, 2.0, -1)), OverflowError, None),
    (lambda t: make([0, 0, 2, 2], [0.0, 1.0], 1, order=2**31).setValueAm((0.5, 2.0, 0)),
     OverflowError, None),
    (lambda t: make([0, 0, 2, 2], [0.0, 1.0], 1, order=2**32 - 1).setValueAm((0.5, 2.0, 0)),
     OverflowError, None),
])
def test_set_value_failures(call, exc, msg):
    t = make([0, 0, 2, 2], [0.0, 1.0], 1, order=1)
    keep = snapshot(t)
    with pytest.raises(exc, match=msg):
        call(t)
    assert snapshot(t) == keep


# ---------------------------------------------------------------- redefinitions

def test_redefinitions_reached_through_the_operation_table():
    calls = []

    class Sub(T):
        def dpeval(self, x, nu=1):
            calls.append(("dpeval", x, nu))
            return 1.0

        def copy(self):
            calls.append(("copy",))
            return T.copy(self)

        def c_splcsum(self, other):
            calls.append(("c_splcsum",))
            return T.c_splcsum(self, other)

    a, b = pair(cls=Sub)
    base = T.copy(a)
    a.setValueTr((0.5, 3.0, 1))
    np.testing.assert_allclose(arrays(a)[1], arrays(base)[1] + 2.0)
    a.setValueAm(P1(0.5, 4.0, 0))
    np.testing.assert_allclose(arrays(a)[1], (arrays(base)[1] + 2.0) * 4.0)
    del calls[:]
    r = a + 1.0
    assert type(r) is T
    r = 2.0 * a
    r = a + b
    r = a - b
    assert calls == [("copy",), ("copy",), ("c_splcsum",), ("copy",), ("c_splcsum",)]


@pytest.mark.parametrize("bad", ["not a trajectory", None, 1.0])
def test_redefinition_of_the_wrong_type(bad):
    class Sub(T):
        def antiderivative(self, nu=1):
            return bad

        def copy(self):
            return bad

    t = sample(3, (0.5,), 0.0, 2.0, order=1, cls=Sub)
    keep = snapshot(t)
    with pytest.raises(TypeError):
        t.setValueAm((1.0, 2.0, 0))
    for op in (lambda: t + 1.0, lambda: 1.0 - t, lambda: t * 2, lambda: t / 2, lambda: T.copy(t) - t):
        with pytest.raises(TypeError, match="copy"):
            op()
    assert snapshot(t) == keep


# ---------------------------------------------------------------- memory

def test_repeated_operations_keep_memory_flat():
    import gc
    import sys
    import tracemalloc

    a, b = pair(order=1)
    x = np.linspace(0.0, 2.0, 20)
    xs = x[::-1].copy()
    pt = P1(0.5, 1.0, 1)

    def fails(f):
        try:
            f()
        except Exception:
            pass

    def ops():
        c = a.copy()
        c.peval(0.5), c.dpeval(0.5, 2), c.ceval(x.copy()), c.dceval(x.copy(), 2), c(0.5), c(xs)
        c(list(xs), nu=1), c(np.array(0.5)), c.get_xcpts()
        c.rshift(0.1), c.ashift(0.0), c.hscale(2.0), c.adapt(0.0, 2.0)
        c.derivative(), c.antiderivative(), c.degelev(), c.knotins(0.5, 1)
        c.knotref(np.array([0.5, 1.5])), c.knotrem(0.6, 1), c.knotsrem(), c.knotrem_notol(0.6, 1)
        a + b, a - b, a + 1, 1 - a, a * 2, a / 2, a == b, a != c
        c += 1
        c /= 2
        c.setValueTr(pt), c.setValueAm((0.5, 1.0, 0))
        for f in (lambda: a.peval(5), lambda: a([0.5, 0.5]), lambda: a.knotins(0.5, 9),
                  lambda: a * b, lambda: 3 / a, lambda: a.setValueTr(None),
                  lambda: a.setValueAm((0.0, 1.0, 1)), lambda: a.derivative(-1)):
            fails(f)

    def traced(rounds):
        for _ in range(rounds):
            ops()
        gc.collect()
        return tracemalloc.get_traced_memory()[0]

    for _ in range(50):
        ops()
    refs = [sys.getrefcount(o) for o in (a, b, pt, x)]
    tracemalloc.start()
    try:
        # The first rounds under tracing fill the interpreter's caches; the
        # growth of the later ones is a leak.
        for _ in range(4):
            settled = traced(100)
        grown = traced(300) - settled
    finally:
        tracemalloc.stop()
    # A leak of 24 bytes (one float) per round would be 7200 bytes.
    assert grown < 5000
    assert [sys.getrefcount(o) for o in (a, b, pt, x)] == refs
