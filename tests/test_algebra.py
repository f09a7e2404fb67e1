"""Curve algebra: union of knot vectors, sum, join and split, checked by evaluation."""
import textwrap
from collections import Counter

import numpy as np
import pytest
from scipy.interpolate import BSpline

from pyvelt import arcus
from cabi import darr, entry, signature
from conftest import clamped, info_msg

EXTREMES = "same extremes of the knot vector is required"


def curve(p, U, seed=4):
    return np.random.default_rng(seed).normal(size=len(U) - p - 1)


def union(p, U1, U2):
    """Union knot vector: interior knots with the larger multiplicity."""
    c1, c2 = Counter(U1[p + 1:len(U1) - p - 1]), Counter(U2[p + 1:len(U2) - p - 1])
    inner = sorted((c1 | c2).elements())
    return clamped(p, inner, U1[0], U1[-1])


# ---------------------------------------------------------------- knotuniondim

PAIRS = [
    (3, clamped(3, [0.3, 0.5]), clamped(3, [0.3, 0.5])),
    (3, clamped(3, [0.5]), clamped(3, [0.5, 0.5])),
    (3, clamped(3, [0.2, 0.5, 0.5]), clamped(3, [0.5, 0.7, 0.7, 0.7])),
    (2, clamped(2, [], -1.0, 2.0), clamped(2, [0.0, 1.0, 1.5], -1.0, 2.0)),
    (1, clamped(1, [0.1, 0.2, 0.9]), clamped(1, [])),
    (0, np.array([0, 0.5, 1.0]), np.array([0, 0.25, 0.5, 0.75, 1.0])),
]


@pytest.mark.parametrize("p, U1, U2", PAIRS)
def test_knotuniondim_is_the_union_size(p, U1, U2):
    mk = len(union(p, U1, U2)) - 1
    assert arcus.knotuniondim(U1, U2, p) == (mk, mk - p - 1)
    assert arcus.knotuniondim(p=p, U2=U1, U1=U2) == (mk, mk - p - 1)


def test_knotuniondim_examples():
    U = clamped(3, [0.3, 0.5])
    assert arcus.knotuniondim(U, U.copy(), 3) == (9, 5)
    assert arcus.knotuniondim(clamped(3, [0.5]), clamped(3, [0.5, 0.5]), 3) == (9, 5)


@pytest.mark.parametrize("U2", [clamped(3, [0.5], a=0.1), clamped(3, [0.5], b=2.0)])
def test_knotuniondim_extremes(U2):
    with pytest.raises(AssertionError, match="^%s$" % EXTREMES):
        arcus.knotuniondim(clamped(3, [0.5]), U2, 3)


@pytest.mark.parametrize(
    "U1, U2, p, text",
    [
        (np.empty(0), clamped(3, []), 3, "'U1' needs at least 1"),
        (clamped(3, []), np.empty(0), 3, "'U2' needs at least 1"),
        (clamped(3, []), clamped(3, []), -1, "'p' must be >= 0"),
        (np.array([0, 0, 1, 1.0]), clamped(3, [0.5]), 3, "'U1' needs at least 8"),
        # U2 interior knots equal to the end: they would run past U1
        (clamped(1, []), np.array([0, 0, 1, 1, 1, 1, 1.0]), 1, "same ends"),
    ],
)
def test_knotuniondim_rejects_unfit_vectors(U1, U2, p, text):
    with pytest.raises(ValueError, match=text):
        arcus.knotuniondim(U1, U2, p)


# ---------------------------------------------------------------- splcsum

@pytest.mark.parametrize("p, U1, U2", PAIRS)
def test_splcsum_is_the_pointwise_sum(p, U1, U2):
    P1, P2 = curve(p, U1, 1), curve(p, U2, 2)
    mk, nk = arcus.knotuniondim(U1, U2, p)
    UK, PK = np.full(mk + 1, np.nan), np.full(nk + 1, np.nan)
    arcus.splcsum(U1, P1, U2, P2, p, mk, UK, nk, PK)
    np.testing.assert_array_equal(UK, union(p, U1, U2))
    x = np.linspace(U1[0], U1[-1], 301)
    ref = BSpline(U1, P1, p)(x) + BSpline(U2, P2, p)(x)
    np.testing.assert_allclose(BSpline(UK, PK, p)(x), ref, rtol=1e-11, atol=1e-11)


def test_splcsum_tolerance_equal_vectors_take_the_direct_path():
    p = 3
    U1 = clamped(p, [0.3, 0.5])
    U2 = U1.copy()
    U2[4] += 2 * np.spacing(U2[4])  # equal after rounding
    P1, P2 = curve(p, U1, 1), curve(p, U2, 2)
    mk, nk = len(U1) - 1, len(P1) - 1
    UK, PK = np.empty(mk + 1), np.empty(nk + 1)
    arcus.splcsum(U1=U1, P1=P1, U2=U2, P2=P2, p=p, mk=mk, UK=UK, nk=nk, PK=PK)
    np.testing.assert_array_equal(UK, U1)
    np.testing.assert_array_equal(PK, P1 + P2)
    # knotuniondim compares exactly and counts the knot twice: the direct path
    # would read past both control-point arrays with those sizes
    mk2, nk2 = arcus.knotuniondim(U1, U2, p)
    assert mk2 == mk + 1
    UK, PK = np.full(mk2 + 1, 5.0), np.full(nk2 + 1, 5.0)
    with pytest.raises(ValueError, match="mk must be len"):
        arcus.splcsum(U1, P1, U2, P2, p, mk2, UK, nk2, PK)
    with pytest.raises(ValueError, match="nk must be len"):
        arcus.splcsum(U1, P1, U2, P2, p, mk, UK, nk2, PK)
    with pytest.raises(ValueError, match="'P2' needs at least 6"):
        arcus.splcsum(U1, P1, U2, P2[:5], p, mk, UK, nk, PK)
    assert (UK == 5).all() and (PK == 5).all()


@pytest.mark.parametrize("U2", [clamped(3, [0.5], a=0.1), clamped(3, [0.5], b=2.0)])
def test_splcsum_extremes_checked_before_writing(U2):
    UK, PK = np.full(10, 5.0), np.full(6, 5.0)
    with pytest.raises(AssertionError, match="^%s$" % EXTREMES):
        arcus.splcsum(clamped(3, [0.2]), np.ones(5), U2, np.ones(5), 3, 9, UK, 5, PK)
    assert (UK == 5).all() and (PK == 5).all()


@pytest.mark.parametrize(
    "mk, nk, UKlen, PKlen, P1len, text",
    [
        (10, 6, 11, 7, 5, "mk must be the highest index of the union"),
        (8, 4, 11, 7, 5, "mk must be the highest index of the union"),
        (9, 6, 11, 7, 5, "nk must be mk - p - 1 = 5"),
        (9, 5, 9, 6, 5, "'UK' needs at least 10"),
        (9, 5, 10, 5, 5, "'PK' needs at least 6"),
        (9, 5, 10, 6, 4, "'U1' must have len\\(P1\\) \\+ p \\+ 1 = 8 knots"),
    ],
)
def test_splcsum_sizes_checked_before_writing(mk, nk, UKlen, PKlen, P1len, text):
    U1, U2 = clamped(3, [0.2]), clamped(3, [0.7])
    UK, PK = np.full(UKlen, 5.0), np.full(PKlen, 5.0)
    with pytest.raises(ValueError, match=text):
        arcus.splcsum(U1, np.ones(P1len), U2, np.ones(5), 3, mk, UK, nk, PK)
    assert (UK == 5).all() and (PK == 5).all()


@pytest.mark.parametrize(
    "U1, U2",
    [
        (np.array([0, 0, 0.6, 0.4, 1, 1.0]), clamped(1, [0.5])),   # first curve's U invalid
        (clamped(1, [0.5]), np.array([0, 0, 0.6, 0.4, 1, 1.0])),   # second curve's U invalid
    ],
)
def test_splcsum_refinement_failure_is_raised(U1, U2):
    P1, P2 = np.ones(len(U1) - 2), np.ones(len(U2) - 2)
    mk, nk = arcus.knotuniondim(U1, U2, 1)
    UK, PK = np.full(mk + 1, 5.0), np.full(nk + 1, 5.0)
    with pytest.raises(ValueError, match=info_msg(-3)):
        arcus.splcsum(U1, P1, U2, P2, 1, mk, UK, nk, PK)
    # the end knots are set before the refinements
    np.testing.assert_array_equal(UK[[0, 1, -2, -1]], [0, 0, 1, 1])


def test_splcsum_refines_without_the_lock(lock_probe):
    # the refinement of the second curve (4e5 new knots, degree 40) dominates
    p, N = 40, 400_000
    U1 = clamped(p, np.linspace(0, 1, N + 2)[1:-1])
    U2 = clamped(p, [0.5 + 1e-7])
    P1, P2 = curve(p, U1, 1), curve(p, U2, 2)
    mk, nk = arcus.knotuniondim(U1, U2, p)
    UK, PK = np.full(mk + 1, 1.0), np.full(nk + 1, 1.0)
    ratios = []
    for _ in range(3):   # a loaded machine may stall the other thread at times
        probe = lock_probe(lambda: arcus.splcsum(U1, P1, U2, P2, p, mk, UK, nk, PK))
        dt, stall = probe.duration, probe.longest_stall
        if dt < 0.02:
            pytest.skip("the sum ran too fast to measure")
        ratios.append(stall / dt)
        if stall < 0.5 * dt:
            break
    else:
        pytest.fail("another thread was stalled for most of each call: %s" % ratios)
    x = np.linspace(0, 1, 1001)
    ref = BSpline(U1, P1, p)(x) + BSpline(U2, P2, p)(x)
    np.testing.assert_allclose(BSpline(UK, PK, p)(x), ref, rtol=1e-9, atol=1e-9)


# ---------------------------------------------------------------- splcjoin

def test_splcjoin_shifts_the_right_curve():
    p = 2
    Ul, Ur = clamped(p, [0.4]), clamped(p, [0.5, 1.5], 0.0, 2.0)
    Pl, Pr = curve(p, Ul, 1), curve(p, Ur, 2)
    UK, PK = np.empty(p + len(Pl) + len(Pr) + 1), np.empty(len(Pl) + len(Pr))
    arcus.splcjoin(PK=PK, UK=UK, p=p, Pr=Pr, Ur=Ur, Pl=Pl, Ul=Ul)
    np.testing.assert_array_equal(UK, [0, 0, 0, 0.4, 1, 1, 1, 1.5, 2.5, 3, 3, 3])
    np.testing.assert_array_equal(PK, np.r_[Pl, Pr])
    s = BSpline(UK, PK, p)
    x = np.linspace(0, 1, 50, endpoint=False)
    np.testing.assert_allclose(s(x), BSpline(Ul, Pl, p)(x), rtol=1e-13, atol=1e-13)
    x = np.linspace(1, 3, 50)
    np.testing.assert_allclose(s(x), BSpline(Ur, Pr, p)(x - 1), rtol=1e-13, atol=1e-13)


@pytest.mark.parametrize(
    "lens",
    [
        (7, 4, 6, 3, 13, 7),  # len(Ul) - 1 != p + len(Pl)
        (6, 4, 7, 3, 13, 7),  # len(Ur) != p + len(Pr) + 1
        (6, 4, 6, 3, 13, 8),  # len(PK) != len(Pl) + len(Pr)
        (6, 4, 6, 3, 14, 7),  # len(UK) != p + len(PK) + 1
    ],
)
def test_splcjoin_assertions_without_message(lens):
    Ul, Pl, Ur, Pr, UK, PK = (np.full(k, 5.0) for k in lens)
    with pytest.raises(AssertionError) as e:
        arcus.splcjoin(Ul, Pl, Ur, Pr, 2, UK, PK)
    assert str(e.value) == ""
    assert (UK == 5).all() and (PK == 5).all()


def test_splcjoin_negative_degree():
    # consistent lengths for p = -2, which would read Ur[-1]
    UK, PK = np.full(3, 5.0), np.full(4, 5.0)
    with pytest.raises(ValueError, match="'p' must be >= 0"):
        arcus.splcjoin(np.ones(2), np.ones(3), np.ones(0), np.ones(1), -2, UK, PK)
    assert (UK == 5).all() and (PK == 5).all()


# ---------------------------------------------------------------- splcsli

SPLITS = [
    (3, clamped(3, [0.3, 0.5, 0.5, 0.7, 0.7, 0.7]), 0.4),   # not a knot: r = p
    (3, clamped(3, [0.3, 0.5, 0.5, 0.7, 0.7, 0.7]), 0.3),   # s = 1
    (3, clamped(3, [0.3, 0.5, 0.5, 0.7, 0.7, 0.7]), 0.7),   # s = p: no insertion
    (3, clamped(3, [0.3, 0.5, 0.5, 0.5, 0.5]), 0.5),        # s = p + 1: pieces already there
    (2, clamped(2, [-1.0, 2.0], -3.0, 4.0), 3.5),
    (1, clamped(1, [0.5]), 0.5),
    (4, clamped(4, []), 1e-6),
    (0, np.array([0, 0.5, 1.0]), 0.25),                     # degree 0: no copy of u to double
    (0, np.array([0, 0.5, 1.0]), 0.5),
]


@pytest.mark.parametrize("p, U, u", SPLITS)
def test_splcsli_pieces_reproduce_the_curve(p, U, u):
    P = curve(p, U, 3)
    UK, PK = np.full(len(U) + p + 1, np.nan), np.full(len(P) + p + 1, np.nan)
    nl, nr = arcus.splcsli(U, P, p, u, UK, PK)
    Ul, Ur = UK[:nl + p + 2], UK[nl + 1:nl + nr + p + 3]
    Pl, Pr = PK[:nl + 1], PK[nl + 1:nl + nr + 2]
    assert (Ul[-p - 1:] == u).all() and (Ur[:p + 1] == u).all()
    assert Ul[0] == U[0] and Ur[-1] == U[-1]
    s = BSpline(U, P, p)
    x = np.linspace(U[0], u, 60, endpoint=False)
    np.testing.assert_allclose(BSpline(Ul, Pl, p)(x), s(x), rtol=1e-10, atol=1e-10)
    # the split point ends the left piece (the left limit where u has multiplicity p + 1)
    assert BSpline(Ul, Pl, p)(u, extrapolate=False) == pytest.approx(Pl[-1], abs=1e-12)
    assert Pl[-1] == pytest.approx(s(u - 1e-9), abs=1e-7)
    x = np.linspace(u, U[-1], 60)
    np.testing.assert_allclose(BSpline(Ur, Pr, p)(x), s(x), rtol=1e-10, atol=1e-10)


def test_splcsli_existing_knot_of_multiplicity_p_is_not_inserted():
    p, U = 2, clamped(2, [0.5, 0.5])
    P = np.array([1, 2, 3, 4, 5.0])
    UK, PK = np.empty(len(U) + 1), np.empty(len(P) + 1)
    assert arcus.splcsli(U, P, p, 0.5, UK, PK) == (2, 2)
    np.testing.assert_array_equal(UK, [0, 0, 0, 0.5, 0.5, 0.5, 1, 1, 1])
    np.testing.assert_array_equal(PK, [1, 2, 3, 3, 4, 5])


@pytest.mark.parametrize("u", [0.0, 1.0, -1.0, 2.0, np.nan])
def test_splcsli_at_or_outside_the_ends(u):
    UK, PK = np.full(12, 5.0), np.full(8, 5.0)
    with pytest.raises(AssertionError) as e:
        arcus.splcsli(clamped(3, [0.5]), np.ones(5), 3, u, UK, PK)
    assert str(e.value) == ""
    assert (UK == 5).all() and (PK == 5).all()


@pytest.mark.parametrize("u", [1e-14, 1 - 1e-12])
def test_splcsli_within_tolerance_of_an_end(u):
    # at the left end the search counts p + 1 knots and would return nl = -1
    UK, PK = np.full(12, 5.0), np.full(8, 5.0)
    with pytest.raises(ValueError, match="strictly inside the domain"):
        arcus.splcsli(clamped(3, [0.5]), np.ones(5), 3, u, UK, PK)
    assert (UK == 5).all() and (PK == 5).all()


def test_splcsli_length_assertion():
    with pytest.raises(AssertionError):
        arcus.splcsli(clamped(3, [0.5]), np.ones(4), 3, 0.5, np.empty(12), np.empty(8))


@pytest.mark.parametrize("UKlen, PKlen, bad", [(12, 9, "UK"), (13, 8, "PK")])
def test_splcsli_short_outputs(UKlen, PKlen, bad):
    # 0.25 is no knot: r = p = 3 insertions
    UK, PK = np.full(UKlen, 5.0), np.full(PKlen, 5.0)
    with pytest.raises(ValueError, match="'%s' needs at least" % bad):
        arcus.splcsli(clamped(3, [0.5]), np.ones(5), 3, 0.25, UK, PK)
    assert (UK == 5).all() and (PK == 5).all()


def test_splcsli_kernel_codes():
    U = np.array([0, 0, 0, 0, 0.6, 0.5, 1, 1, 1, 1.0])
    with pytest.raises(ValueError, match=info_msg(-3)):
        arcus.splcsli(U, np.ones(6), 3, 0.3, np.empty(20), np.empty(20))


# ---------------------------------------------------------------- optimisation, C entries

def test_checks_under_optimisation(run_python):
    code = textwrap.dedent(
        """
        import numpy as np
        from pyvelt import arcus
        U = np.array([0, 0, 0, 0, 0.5, 1, 1, 1, 1.0])
        V = np.array([0, 0, 0, 0, 0.5, 2, 2, 2, 2.0])
        # inconsistent lengths but nothing outside the arrays: no check
        print(arcus.splcjoin(U, np.ones(4), U, np.ones(5), 3, np.empty(14), np.empty(9)))
        for call in (
            lambda: arcus.splcjoin(U, np.ones(5), U, np.ones(5), 3, np.empty(12), np.empty(9)),
            lambda: arcus.splcjoin(U, np.ones(5), U[:6], np.ones(5), 3, np.empty(13), np.empty(10)),
            lambda: arcus.splcsli(U, np.ones(5), 3, 0.0, np.empty(13), np.empty(9)),
            lambda: arcus.splcsli(U, np.ones(5), 3, 2.0, np.empty(13), np.empty(9)),
            lambda: arcus.splcsli(U, np.ones(6), 3, 0.3, np.empty(13), np.empty(9)),
            lambda: arcus.splcsum(U, np.ones(5), V, np.ones(5), 3, 9, np.empty(10), 5, np.empty(6)),
        ):
            try:
                call()
            except ValueError:
                print("ok")
        print(arcus.knotuniondim(U, V, 3))
        """
    )
    out = run_python(code, "-O", check=True)
    assert out.stdout.split("\n")[:-2] == ["None"] + ["ok"] * 6
    assert out.stdout.split("\n")[-2] == "(8, 4)"   # no assertion: the count runs


def test_c_entries():
    assert signature("knotuniondim") == "PyObject * (darray, darray, int)"
    assert signature("splcsli") == "PyObject * (darray, darray, int, double, darray, darray)"
    assert signature("splcsum") == (
        "void (darray, darray, darray, darray, int, int, darray, int, darray)")
    assert signature("splcjoin") == "void (darray, darray, darray, darray, int, darray, darray)"
    U1, U2 = clamped(3, [0.5]), clamped(3, [0.5, 0.5])
    assert entry("knotuniondim")(darr(U1), darr(U2), 3) == (9, 5)
    with pytest.raises(AssertionError, match=EXTREMES):
        entry("knotuniondim")(darr(U1), darr(clamped(3, [], b=2.0)), 3)
    UK, PK = np.empty(13), np.empty(9)
    assert entry("splcsli")(darr(U1), darr(np.ones(5)), 3, 0.25, darr(UK), darr(PK)) == (3, 4)
