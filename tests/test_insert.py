"""Knot insertion and refinement, against scipy.interpolate.insert and evaluation."""
import numpy as np
import pytest
from collections import Counter

from hypothesis import assume, given, settings, strategies as st
from scipy.interpolate import BSpline, insert

from pyvelt import arcus
from cabi import darr, entry, signature
from conftest import clamped, info_msg


def curve(p, U, seed=2):
    return np.random.default_rng(seed).normal(size=len(U) - p - 1)


def same_curve(U, P, p, Ub, Q, k=201):
    x = np.linspace(U[0], U[-1], k)
    np.testing.assert_allclose(BSpline(Ub, Q, p)(x), BSpline(U, P, p)(x), rtol=1e-11, atol=1e-11)


# ---------------------------------------------------------------- splkins

INS = [
    # p, U, u, r
    (3, clamped(3, [0.3, 0.5, 0.7]), 0.4, 1),
    (3, clamped(3, [0.3, 0.5, 0.7]), 0.4, 3),
    (3, clamped(3, [0.3, 0.5, 0.7]), 0.5, 2),           # existing knot, s = 1
    (3, clamped(3, [0.3, 0.5, 0.5, 0.7]), 0.5, 1),      # s = 2 = p - 1: one insertion
    (2, clamped(2, [-1.0, 2.0], a=-3.0, b=4.0), 3.999, 2),
    (4, clamped(4, [0.2]), 1e-3, 4),                    # first span
    (1, clamped(1, [0.25, 0.5]), 0.75, 1),
]


@pytest.mark.parametrize("p, U, u, r", INS)
def test_splkins_matches_scipy_insert(p, U, u, r):
    P = curve(p, U)
    UQ, Q = np.full(len(U) + r, np.nan), np.full(len(P) + r, np.nan)
    arcus.splkins(U, P, p, u, r, UQ, Q)
    t, c, _ = insert(u, (U, np.r_[P, np.zeros(p + 1)], p), r)
    np.testing.assert_array_equal(UQ, t)
    np.testing.assert_allclose(Q, c[:len(P) + r], rtol=1e-13, atol=1e-14)
    same_curve(U, P, p, UQ, Q)


def test_splkins_example_and_keywords():
    UQ, Q = np.empty(7), np.empty(4)
    arcus.splkins(Q=Q, UQ=UQ, r=1, u=0.5, p=2, P=np.array([0, 1, 0.0]), UP=clamped(2, []))
    np.testing.assert_array_equal(UQ, [0, 0, 0, 0.5, 1, 1, 1])
    np.testing.assert_array_equal(Q, [0, 0.5, 0.5, 0])


@pytest.mark.parametrize(
    "U, u, r, code",
    [
        (clamped(3, [0.5, 0.5, 0.5]), 0.5, 1, -8),     # s = p: no insertion possible
        (clamped(3, [0.5, 0.5]), 0.5, 2, -8),          # s = p - 1: only one
        (clamped(3, [0.5]), 0.5, 0, -8),
        (clamped(3, [0.5]), 0.0, 1, -7),               # U[0] has multiplicity p + 1
        (clamped(3, [0.5]), 1.0, 1, -7),               # and so has U[m]
        (clamped(3, [0.5]), 1.0 - 4e-16, 1, -7),       # U[m] within the knot tolerance
        (clamped(3, [0.5]), 1.0 + 1e-12, 1, -5),       # outside, although within tolerance
        (clamped(3, [0.5]), -0.5, 1, -5),
        (clamped(3, [0.5]), 7.0, 1, -5),
        (clamped(3, [0.5]), np.nan, 1, -5),
        (np.array([0, 0, 0, 0, 0.6, 0.5, 1, 1, 1, 1.0]), 0.3, 1, -3),
    ],
)
def test_splkins_codes_leave_outputs(U, u, r, code):
    P = np.ones(len(U) - 4)
    UQ, Q = np.full(len(U) + 3, 5.0), np.full(len(P) + 3, 5.0)
    with pytest.raises(ValueError, match=info_msg(code)):
        arcus.splkins(U, P, 3, u, r, UQ, Q)
    assert (UQ == 5).all() and (Q == 5).all()


@pytest.mark.parametrize("p, Plen, code", [(-1, 4, -2), (4, 3, -1)])
def test_splkins_degree_codes(p, Plen, code):
    with pytest.raises(ValueError, match=info_msg(code)):
        arcus.splkins(clamped(3, []), np.ones(Plen), p, 0.5, 1, np.empty(20), np.empty(20))


def test_splkins_right_end_insertion_used_to_give_nan():
    # without the right-end multiplicity the result evaluated to NaN at its end
    U, P = clamped(2, [0.5]), np.array([1, 2, 3, 4.0])
    with pytest.raises(ValueError, match=info_msg(-7)):
        arcus.splkins(U, P, 2, 1.0, 2, np.empty(9), np.empty(6))


@pytest.mark.parametrize("UQlen, Qlen, bad", [(10, 7, "UQ"), (11, 6, "Q")])
def test_splkins_short_outputs(UQlen, Qlen, bad):
    UQ, Q = np.full(UQlen, 5.0), np.full(Qlen, 5.0)
    with pytest.raises(ValueError, match="'%s' needs at least" % bad):
        arcus.splkins(clamped(3, [0.5]), np.ones(5), 3, 0.25, 2, UQ, Q)
    assert (UQ == 5).all() and (Q == 5).all()


def test_splkins_short_knot_vector():
    with pytest.raises(ValueError, match="'UP' needs at least 10"):
        arcus.splkins(clamped(3, []), np.ones(6), 3, 0.5, 1, np.empty(20), np.empty(20))


# ---------------------------------------------------------------- splkref

REF = [
    (3, clamped(3, [0.3, 0.5, 0.7]), [0.1, 0.4, 0.4, 0.9]),
    (3, clamped(3, [0.3, 0.5, 0.7]), [0.5, 0.5]),
    (2, clamped(2, [-1.0, 2.0], a=-3.0, b=4.0), [-2.9, 0.0, 3.99]),
    (4, clamped(4, []), [0.5]),
    (1, clamped(1, [0.5]), [0.25, 0.5, 0.75]),
    (0, np.array([0, 0.5, 1.0]), [0.25, 0.75]),
    (5, clamped(5, [0.2, 0.4, 0.4]), [0.1, 0.2, 0.3, 0.3, 0.45, 0.6, 0.8, 0.999]),
]


@pytest.mark.parametrize("p, U, X", REF)
def test_splkref_keeps_the_curve(p, U, X):
    P, X = curve(p, U), np.array(X)
    Ubar, Q = np.full(len(U) + len(X), np.nan), np.full(len(P) + len(X), np.nan)
    arcus.splkref(U, P, p, X, Ubar, Q)
    np.testing.assert_array_equal(Ubar, np.sort(np.r_[U, X]))
    same_curve(U, P, p, Ubar, Q)


def test_splkref_equals_repeated_insertion():
    U, P = clamped(2, []), np.array([0, 1, 0.0])
    Ubar, Q = np.empty(8), np.empty(5)
    arcus.splkref(Q=Q, Ubar=Ubar, X=np.array([0.5, 0.5]), p=2, P=P, U=U)
    UQ, Q2 = np.empty(8), np.empty(5)
    arcus.splkins(U, P, 2, 0.5, 2, UQ, Q2)
    np.testing.assert_array_equal(Ubar, UQ)
    np.testing.assert_allclose(Q, Q2, rtol=1e-15, atol=1e-15)


@settings(max_examples=60, deadline=None)
@given(
    p=st.integers(1, 5),
    interior=st.lists(st.floats(0.01, 0.99), max_size=6),
    X=st.lists(st.floats(0.001, 0.999), min_size=1, max_size=8),
)
def test_splkref_random_refinements(p, interior, X):
    # interior multiplicities up to p: the curve stays continuous
    assume(max(Counter(interior + X).values()) <= p)
    U = clamped(p, sorted(interior))
    X = np.sort(X)
    P = curve(p, U, seed=len(X))
    Ubar, Q = np.empty(len(U) + len(X)), np.empty(len(P) + len(X))
    arcus.splkref(U, P, p, X, Ubar, Q)
    np.testing.assert_array_equal(Ubar, np.sort(np.r_[U, X]))
    x = np.linspace(0, 1, 101)
    np.testing.assert_allclose(BSpline(Ubar, Q, p)(x), BSpline(U, P, p)(x), rtol=1e-9, atol=1e-9)


@pytest.mark.parametrize(
    "X, code",
    [([0.0, 0.5], -5), ([0.5, 1.0], -5), ([-1.0], -5), ([np.nan], -5), ([0.5, np.nan], -5), ([], -6)],
)
def test_splkref_codes_leave_outputs(X, code):
    Ubar, Q = np.full(12, 5.0), np.full(8, 5.0)
    with pytest.raises(ValueError, match=info_msg(code)):
        arcus.splkref(clamped(3, [0.5]), np.ones(5), 3, np.array(X, dtype=float), Ubar, Q)
    assert (Ubar == 5).all() and (Q == 5).all()


@pytest.mark.parametrize("p", [3, 6])
def test_splkref_new_knot_among_end_knots_out_of_order(p):
    # end knots equal within the tolerance but not exactly: a new knot between
    # them would land outside Ubar and Q; it counts as outside the domain
    U = np.r_[[0.0] * (p + 1), 0.5, 1 - 4e-10, [1 - 1e-10] * (p - 1), 1.0]
    assert not arcus.validknots(p, U)
    Ubar, Q = np.full(len(U) + 1 + 4, 5.0), np.full(len(U) - p + 4, 5.0)
    with pytest.raises(ValueError, match=info_msg(-5)):
        arcus.splkref(U, np.ones(len(U) - p - 1), p, np.array([1 - 3e-10]), Ubar, Q)
    assert (Ubar == 5).all() and (Q == 5).all()


def test_splkref_unordered_x_stays_inside_the_arrays():
    U, P = clamped(3, [0.3, 0.5, 0.7]), np.ones(7)
    for X in ([0.9, 0.1], [0.6, 0.2, 0.95], [0.1, 0.95, 0.5, 0.05]):
        X = np.array(X)
        Ubar = np.full(len(U) + len(X) + 3, 5.0)
        Q = np.full(len(P) + len(X) + 3, 5.0)
        arcus.splkref(U, P, 3, X, Ubar, Q)
        assert (Ubar[-3:] == 5).all() and (Q[-3:] == 5).all()


@pytest.mark.parametrize("Ublen, Qlen, bad", [(10, 7, "Ubar"), (11, 6, "Q")])
def test_splkref_short_outputs(Ublen, Qlen, bad):
    Ubar, Q = np.full(Ublen, 5.0), np.full(Qlen, 5.0)
    with pytest.raises(ValueError, match="'%s' needs at least" % bad):
        arcus.splkref(clamped(3, [0.5]), np.ones(5), 3, np.array([0.2, 0.7]), Ubar, Q)
    assert (Ubar == 5).all() and (Q == 5).all()


# ---------------------------------------------------------------- C entries

def test_c_entries():
    assert signature("splkins") == "void (darray, darray, int, double, int, darray, darray)"
    assert signature("splkref") == "void (darray, darray, int, darray, darray, darray)"
    U, P = clamped(2, []), np.array([0, 1, 0.0])
    UQ, Q = np.empty(7), np.empty(4)
    assert entry("splkins")(darr(U), darr(P), 2, 0.5, 1, darr(UQ), darr(Q)) is None
    np.testing.assert_array_equal(Q, [0, 0.5, 0.5, 0])
    with pytest.raises(ValueError, match=info_msg(-6)):
        entry("splkref")(darr(U), darr(P), 2, darr(np.empty(0)), darr(UQ), darr(Q))
