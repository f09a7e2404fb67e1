"""Control points of derivatives and antiderivatives, against scipy.interpolate.BSpline."""
import numpy as np
import pytest
from scipy.interpolate import BSpline

from pyvelt import arcus
from cabi import darr, darr2, entry, signature
from conftest import clamped, info_msg


CASES = [
    (3, clamped(3, [0.3, 0.5, 0.7])),
    (3, clamped(3, [0.25, 0.5, 0.5, 0.9])),
    (4, clamped(4, [0.2, 0.2, 0.2, 0.6], a=-1.0, b=2.0)),
    (1, clamped(1, [0.1, 0.4])),
    (2, clamped(2, [])),
]
IDS = ["cubic", "cubic-double", "quartic-triple", "linear", "bezier"]


def curve(p, U, seed=1):
    return np.random.default_rng(seed).normal(size=len(U) - p - 1)


def scipy_deriv(U, P, p, d):
    """Control points of the d-th derivative, or None where scipy finds a
    repeated interior knot that makes the derivative undefined."""
    s = BSpline(U, P, p)
    if d == 0:
        return s.c
    try:
        with np.errstate(divide="raise", invalid="raise"):
            return s.derivative(d).c
    except ValueError:
        return None


# ---------------------------------------------------------------- dsplcpts2

@pytest.mark.parametrize("p, U", CASES, ids=IDS)
def test_dsplcpts2_matches_scipy_derivative(p, U):
    P = curve(p, U)
    n = len(P) - 1
    for d in range(p + 1):
        UK = np.full(len(U) - 2 * d, np.nan)
        PK = np.full(len(P), np.nan)
        ref = scipy_deriv(U, P, p, d)
        if ref is None:
            with pytest.raises(ZeroDivisionError):
                arcus.dsplcpts2(U, P, p, d, UK, PK)
            continue
        assert arcus.dsplcpts2(U, P, p, d, UK, PK) == n - d
        np.testing.assert_array_equal(UK, U[d:len(U) - d])
        np.testing.assert_allclose(PK[:n - d + 1], ref[:n - d + 1], rtol=1e-12, atol=1e-9)


def test_dsplcpts2_example_and_keywords():
    U = clamped(3, [])
    UK, PK = np.empty(6), np.empty(4)
    assert arcus.dsplcpts2(PK=PK, UK=UK, d=1, p=3, P=np.array([0, 0, 1, 1.0]), U=U) == 2
    np.testing.assert_array_equal(PK[:3], [0, 3, 0])
    np.testing.assert_array_equal(UK, [0, 0, 0, 1, 1, 1])


def test_dsplcpts2_zero_difference_keeps_partial_results():
    # d = p meets the double knot 0.5: info 2 after the first order was formed
    U = clamped(2, [0.5, 0.5])
    P = np.array([0, 1, 3, 6, 10.0])
    UK, PK = np.full(4, 7.0), np.full(5, 7.0)
    with pytest.raises(ZeroDivisionError, match="float division by zero"):
        arcus.dsplcpts2(U, P, 2, 2, UK, PK)
    first = BSpline(U, P, 2).derivative(1).c[:4]
    assert PK[0] == pytest.approx((first[1] - first[0]) / 0.5)   # order 2, before the failure
    np.testing.assert_allclose(PK[1:4], first[1:4])    # order 1 still there past it
    assert PK[4] == 10.0
    np.testing.assert_array_equal(UK, 7.0)              # UK is formed only at the end


@pytest.mark.parametrize(
    "p, d, U, code",
    [
        (-1, 0, clamped(3, []), -2),
        (3, 0, clamped(3, [])[:-1], -1),          # n = 2 < p with this P (see below)
        (3, 1, np.array([0, 0, 0, 0.1, 1, 1, 1, 1]), -3),
        (3, 4, clamped(3, []), -5),
        (3, -1, clamped(3, []), -5),
    ],
)
def test_dsplcpts2_codes_leave_outputs(p, d, U, code):
    P = np.ones(3) if code == -1 else np.ones(4)
    UK, PK = np.full(8, 5.0), np.full(4, 5.0)
    with pytest.raises(ValueError, match=info_msg(code)):
        arcus.dsplcpts2(U, P, p, d, UK, PK)
    assert (UK == 5).all() and (PK == 5).all()


@pytest.mark.parametrize("UKlen, PKlen, bad", [(5, 4, "UK"), (6, 3, "PK")])
def test_dsplcpts2_short_outputs(UKlen, PKlen, bad):
    UK, PK = np.full(UKlen, 5.0), np.full(PKlen, 5.0)
    with pytest.raises(ValueError, match="'%s' needs at least" % bad):
        arcus.dsplcpts2(clamped(3, []), np.ones(4), 3, 1, UK, PK)
    assert (UK == 5).all() and (PK == 5).all()


def test_dsplcpts2_short_knot_vector():
    with pytest.raises(ValueError, match="'U' needs at least 9"):
        arcus.dsplcpts2(clamped(3, []), np.ones(5), 3, 1, np.empty(9), np.empty(5))


# ---------------------------------------------------------------- dsplcpts

@pytest.mark.parametrize("p, U", CASES[:3], ids=IDS[:3])
@pytest.mark.parametrize("r1, r2", [(0, None), (1, None), (2, 4)])
def test_dsplcpts_matches_scipy_derivatives(p, U, r1, r2):
    P = curve(p, U, seed=3)
    n = len(P) - 1
    r2 = n if r2 is None else r2
    d = max(k for k in range(p + 1) if scipy_deriv(U, P, p, k) is not None)
    PK = np.full((d + 1, n + 1), np.nan)
    arcus.dsplcpts(U, P, p, d, r1, r2, PK)
    for k in range(d + 1):
        ref = scipy_deriv(U, P, p, k)
        width = r2 - r1 - k + 1
        if width <= 0:
            assert np.isnan(PK[k]).all()
            continue
        np.testing.assert_allclose(PK[k, :width], ref[r1:r1 + width], rtol=1e-12, atol=1e-9)
        assert np.isnan(PK[k, width:]).all()    # right of the range: not written


def test_dsplcpts_r1_equal_r2_fills_one_entry():
    PK = np.full((3, 4), np.nan)
    arcus.dsplcpts(clamped(2, [0.5]), np.array([1, 2, 3, 4.0]), 2, 2, 2, 2, PK)
    assert PK[0, 0] == 3.0
    assert np.isnan(PK.ravel()[1:]).all()


def test_dsplcpts_double_knot_in_range_is_zero_division():
    U = clamped(2, [0.5, 0.5])
    PK = np.full((3, 5), np.nan)
    with pytest.raises(ZeroDivisionError):
        arcus.dsplcpts(U, np.arange(5.0), 2, 2, 0, 4, PK)
    np.testing.assert_array_equal(PK[0], np.arange(5.0))   # rows written before stay


@pytest.mark.parametrize(
    "d, r1, r2, code",
    [(4, 0, 3, -5), (-1, 0, 3, -5), (1, -1, 3, -6), (1, 4, 4, -6), (1, 2, 1, -7), (1, 0, 4, -7)],
)
def test_dsplcpts_codes(d, r1, r2, code):
    PK = np.full((5, 4), 5.0)
    with pytest.raises(ValueError, match=info_msg(code)):
        arcus.dsplcpts(clamped(3, []), np.ones(4), 3, d, r1, r2, PK)
    assert (PK == 5).all()


@pytest.mark.parametrize("shape", [(1, 4), (2, 3), (2, 5)])
def test_dsplcpts_pk_shape_checked(shape):
    PK = np.full(shape, 5.0)
    with pytest.raises(ValueError, match="'PK' needs a shape"):
        arcus.dsplcpts(clamped(3, []), np.ones(4), 3, 1, 0, 3, PK)
    assert (PK == 5).all()


# ---------------------------------------------------------------- asplcpts

@pytest.mark.parametrize("p, U", CASES, ids=IDS)
@pytest.mark.parametrize("d", [0, 1, 3])
def test_asplcpts_matches_scipy_antiderivative(p, U, d):
    P = curve(p, U, seed=5)
    n = len(P) - 1
    UK, PK = np.full(len(U) + 2 * d, np.nan), np.full(len(P) + d + 2, np.nan)
    arcus.asplcpts(U, P, p, d, UK, PK)
    ref = BSpline(U, P, p).antiderivative(d) if d else BSpline(U, P, p)
    np.testing.assert_allclose(UK, ref.t, rtol=0, atol=0)
    np.testing.assert_allclose(PK[:n + d + 1], ref.c[:n + d + 1], rtol=1e-12, atol=1e-14)
    assert np.isnan(PK[n + d + 1:]).all()


def test_asplcpts_constant_gives_line():
    UK, PK = np.empty(4), np.empty(2)
    arcus.asplcpts(np.array([0, 1.0]), np.array([1.0]), 0, 1, UK, PK)
    np.testing.assert_array_equal(PK, [0, 1])
    np.testing.assert_array_equal(UK, [0, 0, 1, 1])


@pytest.mark.parametrize("p, U", CASES, ids=IDS)
def test_antiderivative_then_derivative_round_trip(p, U):
    P = curve(p, U, seed=7)
    d = 2
    UA, PA = np.empty(len(U) + 2 * d), np.empty(len(P) + d)
    arcus.asplcpts(U, P, p, d, UA, PA)
    UD, PD = np.empty(len(U)), np.empty(len(PA))
    assert arcus.dsplcpts2(UA, PA, p + d, d, UD, PD) == len(P) - 1
    np.testing.assert_allclose(PD[:len(P)], P, rtol=1e-9, atol=1e-12)
    np.testing.assert_array_equal(UD, U)


@pytest.mark.parametrize(
    "p, d, PKlen, code",
    [(-1, 1, 6, -2), (5, 1, 6, -1), (3, -1, 6, -5), (3, 2, 5, -6), (3, 2**31 - 1, 6, -6)],
)
def test_asplcpts_codes(p, d, PKlen, code):
    UK, PK = np.full(12, 5.0), np.full(PKlen, 5.0)
    with pytest.raises(ValueError, match=info_msg(code)):
        arcus.asplcpts(clamped(3, []), np.ones(4), p, d, UK, PK)
    assert (UK == 5).all() and (PK == 5).all()


def test_asplcpts_short_uk():
    UK, PK = np.full(11, 5.0), np.full(6, 5.0)
    with pytest.raises(ValueError, match="'UK' needs at least 12 elements, got 11"):
        arcus.asplcpts(clamped(3, []), np.ones(4), 3, 2, UK, PK)
    assert (UK == 5).all() and (PK == 5).all()


# ---------------------------------------------------------------- C entries

def test_c_entries():
    assert signature("dsplcpts2") == "int (darray, darray, int, int, darray, darray)"
    assert signature("asplcpts") == "void (darray, darray, int, int, darray, darray)"
    assert signature("dsplcpts") == "void (darray, darray, int, int, int, int, darray2d)"
    U, P = clamped(3, []), np.array([0, 0, 1, 1.0])
    UK, PK = np.empty(6), np.empty(4)
    assert entry("dsplcpts2")(darr(U), darr(P), 3, 1, darr(UK), darr(PK)) == 2
    np.testing.assert_array_equal(PK[:3], [0, 3, 0])
    with pytest.raises(ValueError, match=info_msg(-5)):
        entry("asplcpts")(darr(U), darr(P), 3, -1, darr(UK), darr(PK))
    T = np.full((2, 4), np.nan)
    entry("dsplcpts")(darr(U), darr(P), 3, 1, 0, 3, darr2(T))
    np.testing.assert_array_equal(T[1, :3], [0, 3, 0])
