"""Knot removal: splkrem, splkrem_notol, splksrem, getbndrem."""
import ctypes

import numpy as np
import pytest
from scipy.interpolate import BSpline, insert

from pyvelt import arcus

INFO = "the algorithm failed with 'info' value: "
# The quadratic [0,0,0,1,1,1], P = [0,1,0] with 0.5 inserted once.
UQ, Q = [0, 0, 0, 0.5, 1, 1, 1], [0, 0.5, 0.5, 0]


def arrays():
    return np.array(UQ, float), np.array(Q, float)


def same_curve(U0, P0, U1, P1, p):
    x = np.linspace(U0[0], U0[-1], 201)
    np.testing.assert_allclose(BSpline(U1, P1, p)(x), BSpline(U0, P0, p)(x), rtol=0, atol=1e-9)


def with_inserted(U, P, p, knots):
    """The same curve with more knots (scipy's knot insertion; its FITPACK
    form pads the coefficients to len(t))."""
    t, c = U, np.r_[P, np.zeros(p + 1)]
    for u in knots:
        t, c, _ = insert(u, (t, c, p))
    return t.copy(), c[:len(t) - p - 1].copy()


def random_spline(seed, p):
    rng = np.random.default_rng(seed)
    inner = np.sort(rng.choice(np.arange(1, 20), 4, replace=False)) / 20
    U = np.r_[[0.0] * (p + 1), inner, [1.0] * (p + 1)]
    return U, rng.uniform(-1, 1, len(U) - p - 1)


def test_inverse_of_insertion():
    U, P = arrays()
    assert arcus.getbndrem(U, P, 2, 0.5) == pytest.approx(0.0, abs=1e-15)
    assert arcus.splkrem(U, P, 2, 0.5, 1) == 1
    np.testing.assert_allclose(U[:6], [0, 0, 0, 1, 1, 1])
    np.testing.assert_allclose(P[:3], [0, 1, 0], atol=1e-15)
    assert U[6] == 1 and P[3] == 0  # stale tails


@pytest.mark.parametrize("p,copies,num,removed", [
    (2, 2, 2, 2), (3, 3, 3, 3), (3, 2, 1, 1), (1, 1, 1, 1), (0, 1, 1, 1),
    (3, 3, 4, 3),  # a genuine knot plus three copies: its last copy stays
])
def test_removal_restores_curve(p, copies, num, removed):
    U0, P0 = random_spline(3, p)
    u = 0.55 if num == removed else U0[p + 2]
    U, P = with_inserted(U0, P0, p, [u] * copies)
    assert arcus.splkrem(U, P, p, u, num, 1e-9) == removed
    same_curve(U0, P0, U[:len(U) - removed], P[:len(P) - removed], p)


def test_tolerance_below_bound():
    U0, P0 = random_spline(11, 3)
    U, P = U0.copy(), P0.copy()
    bound = arcus.getbndrem(U, P, 3, U0[5])
    assert bound > 1e-6
    assert arcus.splkrem(U, P, 3, U0[5], 1, bound / 2) == 0
    assert np.array_equal(U, U0) and np.array_equal(P, P0)
    assert arcus.splkrem(U.copy(), P.copy(), 3, U0[5], 1, bound * (1 + 1e-12)) == 1
    assert arcus.splkrem_notol(U, P, 3, U0[5], 1) == 1


@pytest.mark.parametrize("seed,p", [(1, 0), (1, 1), (2, 2), (3, 3), (4, 4), (5, 3)])
def test_sweep_removes_exactly_the_inserted_knots(seed, p):
    # Inserted copies of genuine knots and new knots; the genuine ones stay.
    U0, P0 = random_spline(seed, p)
    extra = list(np.random.default_rng(seed).choice(U0[p + 1:-p - 1], 3)) + [0.33, 0.33, 0.81]
    if p == 0:  # a second copy would make a piece of zero width
        extra = [0.33, 0.81]
    U, P = with_inserted(U0, P0, p, extra)
    nrem = arcus.splksrem(U, P, p, 1e-9)
    assert nrem == len(extra)
    np.testing.assert_allclose(U[:len(U) - nrem], U0, atol=1e-14)
    same_curve(U0, P0, U[:len(U) - nrem], P[:len(P) - nrem], p)


@pytest.mark.parametrize("U,P,p", [
    ([0, 0, 0, 1, 1, 1], [1, 2, 0], 2),                          # no interior knot
    ([0, 0, 0.25, 0.5, 0.5, 0.5, 1, 1], [0, 1.5, 2, 5, 3, 4], 1),  # knot p + 2 times
])
def test_sweep_nothing_to_remove(U, P, p):
    U, P = np.array(U, float), np.array(P, float)
    U0 = U.copy()
    assert arcus.splksrem(U=U, P=P, p=p, tol=1e-9) == 0 and np.array_equal(U, U0)


@pytest.mark.parametrize("p", [2, 3, 4])
@pytest.mark.parametrize("extra_at", ["start", "end"])
@pytest.mark.parametrize("tol", [float("inf"), 1e-9])
def test_sweep_keeps_an_interior_copy_of_an_end_knot(p, extra_at, tol):
    # p + 2 copies of an end value (p >= 2): removing the extra copy divides
    # by zero, which no tolerance accepts; the two inserted knots go.
    U0 = np.r_[[0.0] * (p + 1 + (extra_at == "start")), [1.0] * (p + 1 + (extra_at == "end"))]
    P0 = np.random.default_rng(p).uniform(-1, 1, len(U0) - p - 1)
    U, P = with_inserted(U0, P0, p, [0.3, 0.6])
    nrem = arcus.splksrem(U, P, p, tol)
    assert nrem == 2
    assert np.array_equal(U[:len(U) - 2], U0) and np.isfinite(P).all()
    x = np.linspace(0, 0.999, 101)  # the right end of such a vector is degenerate
    np.testing.assert_allclose(BSpline(U[:-2], P[:-2], p)(x), BSpline(U0, P0, p)(x), atol=1e-12)


@pytest.mark.parametrize("p", [2, 3, 4])
def test_notol_keeps_an_interior_copy_of_the_end_knot(p):
    U = np.r_[[0.0] * (p + 1), 0.4, [1.0] * (p + 2)]
    P = np.random.default_rng(p).uniform(-1, 1, len(U) - p - 1)
    U0, P0 = U.copy(), P.copy()
    assert arcus.splkrem_notol(U, P, p, 1.0, 1) == 0
    assert np.array_equal(U, U0) and np.array_equal(P, P0)


def raises_code(code, fn, U, P, *args):
    U0, P0 = U.copy(), P.copy()
    with pytest.raises(ValueError) as e:
        fn(U, P, *args)
    assert str(e.value) == INFO + str(code)
    assert np.array_equal(U, U0) and np.array_equal(P, P0, equal_nan=True)


BAD_U = np.array([0, 0, 0.1, 0.5, 1, 1, 1.0])


@pytest.mark.parametrize("fn,args,code", [
    (arcus.splkrem, (2, 0.5, 2), -8),        # num above the multiplicity
    (arcus.splkrem, (2, 0.5, 0), -8),
    (arcus.splkrem_notol, (2, 0.5, 2), -8),
    (arcus.splkrem, (2, 0.3, 1), -7),        # not a knot
    (arcus.splkrem, (2, 0.0, 1), -7),        # start knot
    (arcus.splkrem, (2, 1.0, 1), -7),        # end knot
    (arcus.splkrem_notol, (2, 0.0, 1), -7),
    (arcus.splkrem, (2, 1.5, 1), -5),        # outside the domain
    (arcus.splkrem, (-1, 0.5, 1), -2),
    (arcus.splkrem, (4, 0.5, 1), -1),        # n = 3 < p = 4
    (arcus.splkrem, (2, 0.5, 1, -1e-3), -9),
    (arcus.splksrem, (2, -1e-3), -5),
    (arcus.splksrem, (2, float("nan")), -5),
    (arcus.getbndrem, (-1, 0.5), -2),
    (arcus.getbndrem, (4, 0.5), -1),
    # Reads before P[0] or after P[n]: start and end knots, first and last span.
    (arcus.getbndrem, (2, 0.0), -7),
    (arcus.getbndrem, (2, 1.0), -7),
    (arcus.getbndrem, (2, 0.2), -7),
    (arcus.getbndrem, (2, 0.9), -7),
])
def test_codes(fn, args, code):
    raises_code(code, fn, *arrays(), *args)


@pytest.mark.parametrize("fn", [arcus.splkrem, arcus.splksrem])
def test_invalid_knot_vector(fn):
    raises_code(-3, fn, BAD_U.copy(), np.array(Q), 2, *((0.5, 1) if fn is arcus.splkrem else ()))


@pytest.mark.parametrize("fn,extra", [(arcus.splkrem, (0.5, 1)), (arcus.splkrem_notol, (0.5, 1)),
                                      (arcus.splksrem, ()), (arcus.getbndrem, (0.5,))])
def test_short_knot_vector_rejected(fn, extra):
    with pytest.raises(ValueError, match=r"array 'U' needs at least 7 elements, got 6"):
        fn(np.array(UQ[:6], float), np.array(Q), 2, *extra)


def test_getbndrem_between_knots():
    # Not a knot, inside an interior span: a meaningless value, nothing changed.
    U0, P0 = random_spline(5, 1)
    U, P = U0.copy(), P0.copy()
    assert np.isfinite(arcus.getbndrem(U, P, 1, 0.5 * (U0[2] + U0[3])))
    assert np.array_equal(U, U0) and np.array_equal(P, P0)


class DArr(ctypes.Structure):
    _fields_ = [("data", ctypes.c_void_p), ("len", ctypes.c_ssize_t)]


class OptTol(ctypes.Structure):
    _fields_ = [("n", ctypes.c_int), ("tol", ctypes.c_double)]


def test_c_entry_optional_tol():
    api = ctypes.pythonapi
    api.PyCapsule_GetPointer.restype = ctypes.c_void_p
    api.PyCapsule_GetPointer.argtypes = [ctypes.py_object, ctypes.c_char_p]
    sig = b"int (darray, darray, int, double, int, struct opt_tol *)"
    fn = ctypes.PYFUNCTYPE(ctypes.c_int, DArr, DArr, ctypes.c_int, ctypes.c_double, ctypes.c_int,
                           ctypes.POINTER(OptTol))(
        api.PyCapsule_GetPointer(arcus.__pyx_capi__["splkrem"], sig))

    def call(U, P, n, tol):
        return fn(DArr(U.ctypes.data, len(U)), DArr(P.ctypes.data, len(P)), 2, 0.5, 1,
                  ctypes.byref(OptTol(n, tol)))

    U, P = arrays()
    P[1] += 1e-12  # bound about 1e-12: inside the default 1e-11 only
    assert call(U, P, 1, 1e-13) == 0 and arcus.splkrem(U, P, 2, 0.5, 1, 1e-13) == 0
    assert call(U.copy(), P.copy(), 0, 0.0) == 1 and arcus.splkrem(P=P, U=U, num=1, u=0.5, p=2) == 1
    with pytest.raises(ValueError, match="-9"):
        call(*arrays(), 1, -1.0)
