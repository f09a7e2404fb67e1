"""Trajectory1d arithmetic, equality and value constraints, checked pointwise
against scipy.interpolate.BSpline."""
import collections
import gc
import os
import sys
import tracemalloc

import numpy as np
import pytest

from pyvelt import ductus
from trajhelp import arrays, fails_unchanged, grid, make, sample, spline, state

T, Pt = ductus.Trajectory1d, ductus.Point1d


def pair(order=0, cls=T):
    return (sample(3, (0.3, 0.6, 0.6), order=order, seed=1, cls=cls),
            sample(3, (0.6, 1.1), order=order, seed=2, cls=cls))


def test_trajectories_and_numbers():
    a, b = pair(order=1)
    keep, x = state(a, b), grid(a)
    ya, yb = spline(a)(x), spline(b)(x)
    s = a + b
    # The union of the knot vectors, each knot with its larger multiplicity.
    assert arrays(s)[0].tolist() == [0] * 4 + [0.3, 0.6, 0.6, 1.1] + [2] * 4
    assert (type(s), s.p, s.n, s.order) == (T, 3, 7, 1)
    for r, want in [(s, ya + yb), (a.c_splcsum(b), ya + yb), (a - b, ya - yb), (b - a, yb - ya),
                    (a + 1.5, ya + 1.5), (2 + a, ya + 2), (a + np.float64(0.5), ya + 0.5),
                    (a - 2.0, ya - 2), (2.0 - a, 2 - ya), (a * 3, 3 * ya), (-0.5 * a, -0.5 * ya),
                    (a / 4, ya / 4)]:
        assert type(r) is T and r == r.copy()  # a new trajectory owning its arrays
        np.testing.assert_allclose(r(x), want, rtol=1e-12, atol=1e-12)
    assert state(a, b) == keep
    # Knot vectors equal within the knot tolerance: the plain sum on a's knots.
    U, P = arrays(a)
    U[5] += 4 * np.spacing(U[5])  # equal after rounding
    c = make(U, P[::-1], 3, order=1)
    assert state(a + c)[0][1:] == (a.n, 1, arrays(a)[0].tobytes(), (P + P[::-1]).tobytes())


@pytest.mark.parametrize("call, exc, msg", [
    (lambda a, b: a * b, NotImplementedError, None),
    (lambda a, b: a / b, NotImplementedError, None),
    (lambda a, b: 3 / a, TypeError, None),
    (lambda a, b: a / 0, ZeroDivisionError, None),
    (lambda a, b: a + "x", TypeError, None),
    (lambda a, b: [1.0] - a, TypeError, None),
    (lambda a, b: a.c_splcsum(None), TypeError, None),
    (lambda a, b: a + sample(2, (0.5,)), ValueError, "^the input traiectories must have the same order$"),
    (lambda a, b: a + sample(b=1.0), ValueError, "^the input traiectories must have the same extremes"),
    (lambda a, b: a - sample(a=0.5), ValueError, "^the input traiectories must have the same extremes"),
    (lambda a, b: a + sample(order=1), ValueError, "^the trajectories must have the same 'order'$"),
    (lambda a, b: a.__iadd__(b), TypeError, None),
    (lambda a, b: a.__isub__(b), TypeError, None),
    (lambda a, b: a.__imul__("x"), TypeError, None),
    (lambda a, b: a.__itruediv__(0), ZeroDivisionError, None),
    (lambda a, b: a < b, TypeError, None),
    (lambda a, b: hash(a), TypeError, None),
])
def test_operator_failures(call, exc, msg):
    fails_unchanged(call, exc, msg, *pair())


def test_in_place_forms_and_negation():
    a, _ = pair()
    r, U, y, view = a, arrays(a)[0], spline(a)(grid(a)), a.get_cpts_asarray()
    r += 1
    r -= 0.25
    r *= -2
    r /= 4
    assert r is a and arrays(a)[0].tolist() == U.tolist()
    np.testing.assert_allclose(a(grid(a)), (y + 0.75) * -0.5, rtol=1e-12, atol=1e-12)
    P = view.copy()
    assert -a is a and view.tolist() == (-P).tolist()


def test_equality():
    a, b = pair()
    U, P = arrays(a)
    assert a == a.copy() and not (a != a.copy()) and a != b and not (a == b)
    assert make(U, P + 1e-12, 3) == a and make(U * (1 + 1e-10), P, 3) == a
    assert make(U, P + 1e-6, 3) != a and make(U, P, 3, order=1) != a
    assert a != 1.0 and not (a == None) and a != "a"  # noqa: E711
    P[0] = np.nan
    assert make(U, P, 3) != make(U, P, 3)
    # A non-owning trajectory is never equal to an owning one.
    loose = make(*arrays(a), 3, owner=False)
    assert loose != a and a != loose and loose == make(*arrays(a), 3, owner=False)
    assert loose.copy() == a
    # A subclass instance is an instance of T, not the other way round.
    sub = make(*arrays(a), 3, cls=type("Sub", (T,), {}))
    assert T.__eq__(a, sub) is True and sub != a and a != sub


def test_value_constraints():
    a, _ = pair()
    for arg in (Pt(0.5, 2.0, 0), (0.5, 2.0, 0)):
        t = a.copy()
        assert t.setValueTr(arg) is None and t.peval(0.5) == pytest.approx(2.0, abs=1e-14)
        np.testing.assert_allclose(arrays(t)[1], arrays(a)[1] + 2.0 - a.peval(0.5))
        t = a.copy()
        assert t.setValueAm(p=arg) is None and t.peval(0.5) == pytest.approx(2.0, abs=1e-14)
    t = a.copy()
    t.setValueTr((1.0, 3.0, 2))
    np.testing.assert_allclose(arrays(t)[1], arrays(a)[1] + 3.0 - a.dpeval(1.0, 2))
    t.setValueAm(Pt(1.0, 3.0, 1))
    assert t.dpeval(1.0) == pytest.approx(3.0, abs=1e-13)
    # A velocity and a point of order 0: the antiderivative (0 at start).
    v = sample(3, (0.5,), order=1, seed=3)
    anti = spline(v).antiderivative()(1.5)
    P = arrays(v)[1]
    v.setValueAm((1.5, 2.0, 0))
    np.testing.assert_allclose(arrays(v)[1], P * (2.0 / anti))


@pytest.mark.parametrize("call, exc, msg", [
    (lambda t: t.setValueTr((1.0, 2.0, 0)), ValueError,
     "^this method cannot be used to set a constraint on the n-th antiderivative$"),
    (lambda t: t.setValueAm((0.0, 1.0, 1)), ZeroDivisionError, "^float division by zero$"),
    (lambda t: t.setValueTr((2.5, 1.0, 1)), ValueError, r"^'x' out of domain: 2\.5$"),
    (lambda t: t.setValueAm((-1.0, 1.0, 0)), ValueError, r"^'x' out of domain: -1\.0$"),
    # A NaN time is in no domain (it used to make every control point NaN).
    (lambda t: t.setValueTr(Pt(np.nan, 2.0, 1)), ValueError, r"^'x' out of domain: nan$"),
    (lambda t: t.setValueAm((np.nan, 2.0, 1)), ValueError, r"^'x' out of domain: nan$"),
    (lambda t: t.setValueAm((np.nan, 2.0, 0)), ValueError, r"^'x' out of domain: nan$"),
    (lambda t: t.setValueTr([0.5, 2.0, 1]), TypeError, None),
    (lambda t: t.setValueAm(collections.namedtuple("P", "t val order")(0.5, 2.0, 1)), TypeError, None),
    (lambda t: t.setValueTr(None), TypeError, None),
    (lambda t: t.setValueAm(None), TypeError, None),
    (lambda t: t.setValueTr((0.5, 2.0)), (IndexError, TypeError, ValueError), None),
    (lambda t: make([0, 0, 2, 2], [0, 1], 1, 2**31).setValueAm((0.5, 2.0, 0)), OverflowError, None),
    (lambda t: make([0, 0, 2, 2], [0, 1], 1, 2**32 - 1).setValueAm((0.5, 2.0, 0)), OverflowError, None),
])
def test_value_constraint_failures(call, exc, msg):
    fails_unchanged(call, exc, msg, make([0, 0, 2, 2], [0.0, 1.0], 1, order=1))


def test_redefinitions():
    calls = []

    class Sub(T):
        def dpeval(self, x, nu=1):
            return calls.append(("dpeval", x, nu)) or 1.0

        def copy(self):
            return calls.append("copy") or T.copy(self)

        def c_splcsum(self, other):
            return calls.append("c_splcsum") or T.c_splcsum(self, other)

    a, b = pair(cls=Sub)
    P = arrays(a)[1]
    a.setValueTr((0.5, 3.0, 1))
    a.setValueAm(Pt(0.5, 4.0, 0))
    np.testing.assert_allclose(arrays(a)[1], (P + 2.0) * 4.0)
    assert type(a + 1.0) is T and type(2.0 * a) is T and type(a + b) is T
    a - b
    assert calls == [("dpeval", 0.5, 1), ("dpeval", 0.5, 0), "copy", "copy", "c_splcsum",
                     "copy", "c_splcsum"]


@pytest.mark.parametrize("bad", ["not a trajectory", None, 1.0])
def test_redefinitions_of_the_wrong_type(bad):
    Sub = type("Sub", (T,), {"antiderivative": lambda self, nu=1: bad, "copy": lambda self: bad})
    t = sample(3, (0.5,), order=1, cls=Sub)
    keep = state(t)
    with pytest.raises(TypeError):
        t.setValueAm((1.0, 2.0, 0))
    for op in (lambda: t + 1.0, lambda: 1.0 - t, lambda: t * 2, lambda: t / 2, lambda: T.copy(t) - t):
        with pytest.raises(TypeError, match="copy"):
            op()
    assert state(t) == keep


@pytest.mark.skipif(os.environ.get("PYTHONMALLOC", "").startswith("malloc"),
                    reason="with the C allocator the interpreter's caches take thousands of "
                    "rounds to settle")
def test_repeated_operations_keep_memory_flat():
    a, b = pair(order=1)
    x, pt = np.linspace(2.0, 0.0, 20), Pt(0.5, 1.0, 1)
    bad = [lambda: a.peval(5), lambda: a([0.5, 0.5]), lambda: a.knotins(0.5, 9), lambda: a * b,
           lambda: 3 / a, lambda: a.setValueTr(None), lambda: a.setValueAm((0.0, 1.0, 1))]

    def rounds(k):
        for _ in range(k):
            c = a.copy()
            c.peval(0.5), c.dpeval(0.5, 2), c.dceval(x[::-1].copy(), 2), c(0.5), c(x), c(list(x), 1)
            c.hscale(2.0), c.adapt(0.0, 2.0), c.derivative(), c.antiderivative(), c.degelev()
            c.knotins(0.5, 1), c.knotref(x[9:10].copy()), c.knotrem(0.6, 1), c.knotsrem()
            a + b, a - b, 1 - a, a * 2, a / 2, a == b, a != c, c.setValueTr(pt), c.setValueAm(pt)
            for f in bad:
                try:
                    f()
                except Exception:
                    pass
        gc.collect()
        return tracemalloc.get_traced_memory()[0]

    rounds(50)
    refs = [sys.getrefcount(o) for o in (a, b, pt, x)]
    tracemalloc.start()
    try:
        last, growth = rounds(100), []
        for _ in range(8):
            now = rounds(100)
            growth.append(now - last)
            last = now
    finally:
        tracemalloc.stop()
    # The interpreter's caches settle after a few windows; a leak grows in
    # every one (a float per round: 2400 bytes).
    assert min(growth) < 1000, growth
    assert [sys.getrefcount(o) for o in (a, b, pt, x)] == refs


def test_operators_reach_the_methods_as_python_code_does():
    # c_splcmul redefined, c_splcsum's result handed back as it is, and the
    # instance attributes of a subclass's object taken as `a.copy()` would.
    sentinel = object()
    Sub = type("Sub", (T,), {"c_splcsum": lambda self, other: sentinel,
                             "c_splcmul": lambda self, other: ("product", other)})
    a, b = pair(cls=Sub)
    assert a + b is sentinel and a - b is sentinel
    assert a * b == ("product", b)
    a.copy = lambda: T.copy(b)
    assert state(a + 0.0) == state(b) != state(a)
    a.copy = lambda: "no copy"
    with pytest.raises(TypeError, match=r"Sub.copy\(\) returned str"):
        a + 1.0


def test_negation_that_is_no_trajectory_is_refused():
    # a - b negates a copy of b; a __neg__ of b's class that gives no trajectory
    # must not reach the sum as one.
    Odd = type("Odd", (T,), {"__neg__": lambda self: 5.0, "copy": lambda self: self})
    a, b = pair()[0], pair(cls=Odd)[1]
    with pytest.raises(TypeError, match="Argument 'other' has incorrect type"):
        a - b
