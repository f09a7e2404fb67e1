"""Knot vectors, knot placement, span search and the degree-elevation knot vector."""
import numpy as np
import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

from pyvelt import arcus

from cabi import darr, entry
from conftest import clamped


# ---------------------------------------------------------------- validknots

@pytest.mark.parametrize(
    "p, U, invalid",
    [
        (3, [0, 0, 0, 0, 1, 1, 1, 1], False),
        (3, [0, 1e-14, 0, 0, 1, 1, 1, 1], False),          # within the absolute tolerance
        (3, [0, 0, 0, 0, 0.6, 0.4, 1, 1, 1, 1], True),     # decreasing interior pair
        (3, [0, 0, 0, 0.1, 1, 1, 1, 1], True),              # start not clamped
        (2, [0, 0, 0, 0.5, 1, 1, 0.9], True),               # end not clamped
        (0, [0, 0.5, 0.2, 1], True),                        # p = 0 only checks monotonicity
        (0, [0, 0.5, 0.5, 1], False),
        (3, [0, 0, 0, 0, 1, 1, 1], True),                   # shorter than 2(p+1)
        (5, [], True),
        (-1, [0, 1], True),
        # equal infinities are not equal within the tolerance (their difference is NaN)
        (3, [-np.inf] * 4 + [1] * 4, True),
        (2, [0] * 3 + [0.5] + [np.inf] * 3, True),
        (0, [0, np.inf, np.inf], False),                    # p = 0: only monotonicity
    ],
)
def test_validknots(p, U, invalid):
    assert arcus.validknots(p, np.array(U, dtype=float)) is invalid


@pytest.mark.parametrize("bad", ["decrease", "tiny-decrease", "nan"])
def test_validknots_finds_a_bad_pair_at_every_position(bad):
    # the scan runs in blocks: every position of every block and of the tail
    for size in (9, 24, 41):
        base = clamped(2, np.linspace(0.0, 1.0, size)[1:-1])
        for i in range(3, len(base) - 3):
            U = base.copy()
            if bad == "nan":
                U[i] = np.nan
            elif bad == "decrease":
                U[i] = U[i - 1] - 0.01
            else:
                U[i] = U[i - 1] - 1e-14     # within the tolerance: still valid
            # a NaN knot is never below its neighbour beyond the tolerance
            assert arcus.validknots(2, U) is (bad == "decrease"), (size, i)
        assert arcus.validknots(2, base) is False


def test_validknots_entry_returns_c_int():
    f = entry("validknots")
    assert f(3, darr(clamped(3, []))) == 0
    assert f(3, darr(np.array([0, 1, 0, 0, 1, 1, 1, 1.0]))) == 1


# ---------------------------------------------------------------- knot placement

def test_eqspaced():
    xp = np.array([2.0, 9.0, 9.5, 3.0, 4.0, 8.0])     # only the ends are read
    U = np.full(len(xp) + 3 + 1, -1.0)
    arcus.eqspaced(xp, 3, U)
    np.testing.assert_allclose(U, [2, 2, 2, 2, 4, 6, 8, 8, 8, 8])


def test_eqspaced_n_equals_p_writes_only_the_ends():
    U = np.full(8, -1.0)
    arcus.eqspaced(np.array([0.0, 0.2, 0.7, 1.0]), 3, U)
    assert U.tolist() == [0, 0, 0, 0, 1, 1, 1, 1]


@pytest.mark.parametrize(
    "func, xp, p, extra, expected",
    [
        # fewer parameters than p + 1: the two end groups overlap and the end group is written last
        ("eqspaced", [0.0, 1.0], 3, (), [0, 0, 1, 1, 1, 1]),
        ("averaging", [2.0, 5.0, 7.0], 3, (), [2, 2, 2, 7, 7, 7, 7]),
        ("averaging2", [1.0, 3.0], 5, (), [1, 1, 1, 1, 3, 3, 3, 3, 3, 3]),
        ("averaging3", [1.0, 3.0], 3, (0, 0), [1, 1, 3, 3, 3, 3]),
        ("kevalappr", [0.0, 0.25, 0.5, 0.75, 1.0], 3, (), [0, 0, 1, 1, 1, 1]),
    ],
)
def test_placement_with_overlapping_end_groups(func, xp, p, extra, expected):
    U = np.full(len(expected), -1.0)
    getattr(arcus, func)(np.array(xp), p, *extra, U)
    assert U.tolist() == expected


def test_averaging_matches_scipy_interpolation_knots():
    # scipy's make_interp_spline places the knots of an odd degree by the same averaging rule
    from scipy.interpolate import make_interp_spline

    xp = np.sort(np.random.default_rng(1).uniform(0, 3, 9))
    xp[0], xp[-1] = 0.0, 3.0
    for p in (2, 3, 5):
        U = np.empty(len(xp) + p + 1)
        arcus.averaging(xp, p, U)
        expected = [0] * (p + 1) + [xp[j:j + p].mean() for j in range(1, len(xp) - p)] + [3] * (p + 1)
        np.testing.assert_allclose(U, expected, rtol=1e-15)
        if p == 3:
            # interpolating with these knots reproduces the data
            s = make_interp_spline(xp, np.sin(xp), k=p, t=U)
            np.testing.assert_allclose(s(xp), np.sin(xp), atol=1e-12)


def test_averaging2_and_averaging3():
    xp = np.array([0.0, 1.0, 3.0, 4.0, 6.0])
    p, n = 3, 4
    U = np.empty(n + p + 4)
    arcus.averaging2(xp, p, U)
    inner = [xp[i:i + p].mean() for i in range(0, n - p + 2)]
    np.testing.assert_allclose(U, [0] * 4 + inner + [6] * 4)

    k, l = 2, 1
    U3 = np.empty(n + k + l + p + 2)
    arcus.averaging3(xp, p, k, l, U3)
    means = []
    for i in range(1 - k, n + l - p + 1):
        lo, hi = max(0, i), min(n, i + p - 1)
        means.append(xp[lo:hi + 1].mean())
    assert len(means) == n + k + l - p
    np.testing.assert_allclose(U3, [0] * 4 + means + [6] * 4)


def test_kevalappr():
    xp = np.linspace(0.0, 1.0, 11)
    p, n = 3, 6
    U = np.empty(n + p + 2)
    arcus.kevalappr(xp, p, U)
    d = (len(xp)) / (n - p + 1)
    inner = []
    for j in range(1, n - p + 1):
        i = int(j * d)
        a = j * d - i
        inner.append(a * xp[i] + (1 - a) * xp[i - 1])
    np.testing.assert_allclose(U, [0] * 4 + inner + [1] * 4)
    assert arcus.validknots(p, U) is False


@pytest.mark.parametrize(
    "call, text",
    [
        (lambda: arcus.eqspaced(np.linspace(0, 1, 5), 3, np.empty(8)), "'U' needs at least 9"),
        (lambda: arcus.averaging(np.linspace(0, 1, 5), 3, np.empty(3)), "'U' needs at least 9"),
        (lambda: arcus.averaging2(np.linspace(0, 1, 5), 3, np.empty(10)), "'U' needs at least 11"),
        (lambda: arcus.averaging3(np.linspace(0, 1, 5), 3, 1, 1, np.empty(10)), "'U' needs at least 11"),
        (lambda: arcus.averaging3(np.linspace(0, 1, 5), 3, -1, 1, np.empty(10)), "'k' must be >= 0"),
        (lambda: arcus.eqspaced(np.empty(0), 3, np.empty(8)), "'xp' needs at least 1"),
        (lambda: arcus.eqspaced(np.linspace(0, 1, 5), -2, np.empty(8)), "'p' must be >= 0"),
        (lambda: arcus.kevalappr(np.linspace(0, 1, 3), 2, np.empty(12)), "more than the 3 data points"),
        (lambda: arcus.kevalappr(np.linspace(0, 1, 3), 5, np.empty(4)), "'U' needs at least 6"),
        (lambda: arcus.knotsdegelev(clamped(2, []), 2, np.empty(3)), "'Uh' needs at least 4"),
    ],
)
def test_placement_rejects_short_or_bad_arrays(call, text):
    with pytest.raises(ValueError, match=text):
        call()


# ---------------------------------------------------------------- averagcpts

def test_averagcpts_greville():
    U = np.array([0, 0, 0, 1, 2, 2, 2.0])
    C = np.empty(4)
    arcus.averagcpts(U, 2, C)
    assert C.tolist() == [0, 0.5, 1.5, 2]
    from scipy.interpolate import BSpline

    U = clamped(3, [0.2, 0.5, 0.5, 0.9])
    C = np.empty(len(U) - 4)
    arcus.averagcpts(U, 3, C)
    # the spline with control points C is the identity u -> u
    s = BSpline(U, C, 3)
    x = np.linspace(0, 1, 13)
    np.testing.assert_allclose(s(x), x, atol=1e-14)


@pytest.mark.parametrize(
    "U, p, nC, info",
    [
        (clamped(2, [0.5]), -1, 4, -2),
        (clamped(2, [0.5]), 3, 2, -1),
        (np.array([0, 0, 0.5, 0.4, 1, 1.0]), 2, 3, -3),
    ],
)
def test_averagcpts_codes_leave_C_unchanged(U, p, nC, info):
    C = np.full(nC, 7.0)
    with pytest.raises(ValueError, match=f"'info' value: {info}$"):
        arcus.averagcpts(U, p, C)
    assert (C == 7.0).all()


def test_averagcpts_short_knot_vector():
    with pytest.raises(ValueError, match="'U' needs at least 8"):
        arcus.averagcpts(np.zeros(5), 2, np.empty(5))


# ---------------------------------------------------------------- span search

def test_findspan_codes():
    U = clamped(3, [0.5])
    with pytest.raises(ValueError) as ei:
        arcus.findspan(-1, 0.5, U)
    assert str(ei.value) == "the algorithm failed with 'info' value: -1"
    with pytest.raises(ValueError) as ei:
        arcus.findspan(3, 0.5, np.array([0, 0, 0, 0.1, 0.5, 1, 1, 1, 1]))
    assert str(ei.value) == "the algorithm failed with 'info' value: -3"
    with pytest.raises(ValueError, match="-1$"):
        arcus.findspanmult(-2, 0.5, U)


def test_findspan_ends_and_repeated_knots():
    p = 3
    U = clamped(p, [0.5, 0.5, 0.75])   # U[4] = U[5] = 0.5
    n = len(U) - p - 2
    assert arcus.findspan(p, 1.0, U) == n
    assert arcus.findspan(p, 0.5, U) == 5
    assert arcus.findspan(p, 0.0, U) == p
    assert arcus.findspanmult(p, 1.0, U) == (n, 0)
    assert arcus.findspanmult(p, 0.5, U) == (5, 2)
    assert arcus.findspanmult(p, 0.0, U) == (p, p + 1)
    # within the knot tolerance (rounding of the vector's scale) below a knot:
    # the span that starts at the knot; beyond it the span the point lies in
    assert arcus.findspan(p, 0.5 - 4 * np.spacing(0.5), U) == 5
    assert arcus.findspan(p, 0.5 - 1e-12, U) == 3
    assert arcus.findspan(p, 0.5 - 1e-6, U) == 3


@pytest.mark.parametrize("u", [-5.0, -1e-3, 1.001, 1e300, -np.inf, np.inf, np.nan])
def test_findspan_outside_domain_terminates(u):
    p = 3
    U = clamped(p, [0.2, 0.4, 0.6, 0.8])
    n = len(U) - p - 2
    s = arcus.findspan(p, u, U)
    assert p <= s <= n
    if not np.isnan(u):
        assert s == (p if u < 0 else n)


@settings(max_examples=60, deadline=None)
@given(
    p=st.integers(0, 5),
    knots=st.lists(st.integers(1, 9), min_size=0, max_size=12),
    frac=st.floats(0, 1),
)
def test_findspan_matches_searchsorted(p, knots, frac):
    """The span holds u: U[s] <= u < U[s+1], with the right end in the last span."""
    U = clamped(p, np.sort(np.array(knots, dtype=float)) / 10.0)
    n = len(U) - p - 2
    if n < p:
        return
    u = frac
    s = arcus.findspan(p, u, U)
    if u == 1.0:
        assert s == n
    else:
        assert s == np.searchsorted(U, u, side="right") - 1


# ---------------------------------------------------------------- degree elevation knots

def test_knotsdegelev_example():
    U = np.array([0, 0, 0, 0.5, 1, 1, 1.0])
    Uh = np.empty(10)
    arcus.knotsdegelev(U, 2, Uh)
    assert Uh.tolist() == [0, 0, 0, 0, 0.5, 0.5, 1, 1, 1, 1]


def test_knotsdegelev_with_multiple_interior_knots():
    p = 3
    U = clamped(p, [0.25, 0.5, 0.5, 0.8])
    s = 3
    Uh = np.empty(len(U) + s + 2)
    arcus.knotsdegelev(U, p, Uh)
    assert Uh.tolist() == [0] * 5 + [0.25, 0.25, 0.5, 0.5, 0.5, 0.8, 0.8] + [1] * 5


@pytest.mark.parametrize(
    "p, interior",
    [(0, []), (0, [0.3]), (0, [0.2, 0.45, 0.7]), (1, [0.5]), (2, [0.1, 0.1, 0.6]), (4, [0.5] * 4)],
)
def test_knotsdegelev_adds_one_copy_of_every_knot(p, interior):
    U = clamped(p, interior)
    vals, counts = np.unique(U, return_counts=True)
    Uh = np.full(len(U) + len(vals), np.nan)      # len(U) + s + 2
    arcus.knotsdegelev(U, p, Uh)
    np.testing.assert_array_equal(Uh, np.repeat(vals, counts + 1))


def test_knotsdegelev_wrong_length_never_reads_past_U():
    U = clamped(2, [0.5])
    Uh = np.full(40, -1.0)
    arcus.knotsdegelev(U, 2, Uh)      # far too long: a wrong vector, but no crash
    assert Uh[0] == 0 and Uh[-1] == 1


def test_distintknots_entry():
    f = entry("distintknots")
    assert f(darr(np.array([0, 0, 0, 0.5, 0.5, 1, 1, 1.0])), 2) == 1
    assert f(darr(clamped(3, [])), 3) == 0
    assert f(darr(clamped(3, [0.1, 0.2, 0.2, 0.7])), 3) == 3
    assert f(darr(np.zeros(3)), 3) == 0
    with pytest.raises(ValueError):
        f(darr(clamped(3, [])), -1)
