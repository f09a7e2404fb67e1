"""Degree elevation: degelevc."""
import textwrap

import numpy as np
import pytest
from scipy.interpolate import BSpline

from pyvelt import arcus

INFO = "the algorithm failed with 'info' value: "


def elevate(U, P, p, t):
    """Uh and Q of the documented lengths, as views into larger buffers whose
    tails must survive the call."""
    s = len(np.unique(U[p + 1:len(U) - p - 1]))  # distinct interior knots
    bu = np.full(len(U) + t * (s + 2) + 4, np.nan)
    bq = np.full(len(P) + t * (s + 1) + 4, np.nan)
    bu[-4:] = bq[-4:] = 777.0
    Uh, Q = bu[:-4], bq[:-4]
    arcus.degelevc(U, P, p, t, Uh, Q)
    assert (bu[-4:] == 777).all() and (bq[-4:] == 777).all()
    assert not np.isnan(Uh).any() and not np.isnan(Q).any()
    return Uh, Q


def same_curve(U, P, p, Uh, Q, ph):
    x = np.r_[np.linspace(U[0], U[-1], 301)[:-1], U[p + 1:len(U) - p - 1]]
    np.testing.assert_allclose(BSpline(Uh, Q, ph)(x), BSpline(U, P, p)(x), rtol=0, atol=1e-10)


@pytest.mark.parametrize("U,P,p,t,Uh,Q", [
    ([0, 0, 1, 1], [0, 1], 1, 1, [0, 0, 0, 1, 1, 1], [0, 0.5, 1]),
    ([0, 0.5, 0.75, 1], [2, -1, 4], 0, 2, [0] * 3 + [0.5] * 3 + [0.75] * 3 + [1] * 3,
     [2, 2, 2, -1, -1, -1, 4, 4, 4]),
    ([0, 1], [5], 0, 1, [0, 0, 1, 1], [5, 5]),
])
def test_exact_results(U, P, p, t, Uh, Q):
    Uh_, Q_ = elevate(np.array(U, float), np.array(P, float), p, t)
    assert list(Uh_) == Uh
    np.testing.assert_allclose(Q_, Q, rtol=0, atol=1e-15)


def test_cubic_one_knot_by_two():
    U = np.array([0, 0, 0, 0, 0.4, 1, 1, 1, 1.0])
    P = np.array([1.0, -1, 2, 0, 3])
    Uh, Q = elevate(U, P, 3, 2)
    assert len(Q) == 9 and len(Uh) == 15
    same_curve(U, P, 3, Uh, Q, 5)


@pytest.mark.parametrize("p,t,U", [
    (3, 1, [0, 0, 0, 0, 0.3, 0.3, 0.3, 0.7, 1, 1, 1, 1]),        # multiplicity p (r = 0)
    (2, 2, [0, 0, 0, 0.5, 0.5, 0.5, 1, 1, 1]),                    # p + 1: a jump
    (1, 3, [0, 0, 0.2, 0.2, 0.6, 1, 1]),                          # p + 1 at degree 1
    (4, 1, [0, 0, 0, 0, 0, 0.1, 0.2, 0.2, 0.5, 0.5, 0.5, 0.9, 1, 1, 1, 1, 1]),
    (2, 1, [-3, -3, -3, -1, 2, 2, 5, 5, 5]),
    (2, 1, [0, 0, 0, 0.5, 0.5 + 1e-14, 1, 1, 1]),  # one knot within tolerance, two here
])
def test_multiplicities(p, t, U):
    U = np.array(U, float)
    P = np.random.default_rng(len(U) + p).uniform(-2, 2, len(U) - p - 1)
    Uh, Q = elevate(U, P, p, t)
    same_curve(U, P, p, Uh, Q, p + t)
    # Every distinct knot gains t copies.
    vals, counts = np.unique(U, return_counts=True)
    vh, ch = np.unique(Uh, return_counts=True)
    assert np.array_equal(vals, vh) and np.array_equal(counts + t, ch)


@pytest.mark.parametrize("seed", range(6))
def test_random_splines(seed):
    rng = np.random.default_rng(seed)
    p, t = int(rng.integers(1, 5)), int(rng.integers(1, 4))
    knots = np.sort(rng.uniform(0, 10, int(rng.integers(0, 5))))
    U = np.r_[[0.0] * (p + 1), np.repeat(knots, rng.integers(1, p + 1, len(knots))), [10.0] * (p + 1)]
    P = rng.uniform(-5, 5, len(U) - p - 1)
    same_curve(U, P, p, *elevate(U, P, p, t), p + t)


@pytest.mark.parametrize("p,t", [(3, 31), (1, 33), (2, 40), (4, 96)])
def test_degrees_beyond_int_binomials(p, t):
    # From degree 34 on the binomial coefficients overflow a 32-bit int.
    U = np.r_[[0.0] * (p + 1), 0.25, 0.6, 0.6, [1.0] * (p + 1)]
    P = np.random.default_rng(p + t).uniform(-2, 2, len(U) - p - 1)
    same_curve(U, P, p, *elevate(U, P, p, t), p + t)


def test_end_knots_equal_within_tolerance_only():
    # The last knots differ by rounding: still one end run.
    U = np.array([0, 0, 0, 0.5, 1 - 1e-15, 1 - 1e-15, 1.0])
    P = np.array([0.0, 1, -1, 2])
    same_curve(U, P, 2, *elevate(U, P, 2, 1), 3)


GOOD_U = [0, 0, 0, 0.5, 1, 1, 1]


@pytest.mark.parametrize("U,p,t,code", [
    (GOOD_U, -1, 1, -2),
    (GOOD_U, 5, 1, -1),
    (GOOD_U, 2, 0, -5),
    ([0, 0, 0, 0.5, 0.4, 1, 1, 1], 2, 1, -3),           # decreasing
    ([0, 0, 0, 0.5, 0.5, 0.5, 0.5, 1, 1, 1], 2, 1, -3),  # interior knot p + 2 times
    ([0, 0, 0, 0, 1, 1, 1], 2, 1, -3),                  # start knot p + 2 times
    ([0, 0, 0, 1, 1, 1, 1], 2, 1, -3),                  # end knot p + 2 times
])
def test_codes(U, p, t, code):
    U = np.array(U, float)
    P = np.linspace(0, 1, len(U) - 3)
    Uh, Q = np.full(10, 7.0), np.full(6, 7.0)
    with pytest.raises(ValueError) as e:
        arcus.degelevc(U, P, p, t, Uh, Q)
    assert str(e.value) == INFO + str(code)
    assert (Uh == 7).all() and (Q == 7).all()


@pytest.mark.parametrize("du,dq", [(-1, 0), (0, -1), (-1, 2), (3, -1)])
def test_short_outputs_refused_before_writing(du, dq):
    U = np.array(GOOD_U, float)
    Uh, Q = np.full(10 + du, 7.0), np.full(6 + dq, 7.0)
    with pytest.raises(AssertionError) as e:
        arcus.degelevc(U=U, P=np.array([0.0, 1, -1, 2]), p=2, t=1, Uh=Uh, Q=Q)
    assert str(e.value) == ""
    assert (Uh == 7).all() and (Q == 7).all()
    with pytest.raises(ValueError, match="array 'U' needs at least 7 elements, got 6"):
        arcus.degelevc(U[:6].copy(), np.zeros(4), 2, 1, Uh, Q)


@pytest.mark.parametrize("du,dq", [(1, 0), (0, 1), (3, 2)])
def test_longer_outputs_get_the_result_then_assertion(du, dq):
    U, P = np.array(GOOD_U, float), np.array([0.0, 1, -1, 2])
    Uh, Q = np.full(10 + du, 7.0), np.full(6 + dq, 7.0)
    with pytest.raises(AssertionError) as e:
        arcus.degelevc(U, P, 2, 1, Uh, Q)
    assert str(e.value) == ""
    assert list(Uh[:10]) == [0, 0, 0, 0, 0.5, 0.5, 1, 1, 1, 1]
    same_curve(U, P, 2, Uh[:10], Q[:6], 3)
    assert (Uh[10:] == 7).all() and (Q[6:] == 7).all()


def test_assertions_off(run_python):
    code = textwrap.dedent("""
        import numpy as np
        from pyvelt import arcus
        U = np.array([0, 0, 0, 0.5, 1, 1, 1.0]); P = np.array([0.0, 1, -1, 2])
        Uh, Q = np.full(12, 7.0), np.full(8, 7.0)
        arcus.degelevc(U, P, 2, 1, Uh, Q)
        assert list(Uh[:10]) == [0, 0, 0, 0, 0.5, 0.5, 1, 1, 1, 1] and (Uh[10:] == 7).all()
        assert (Q[6:] == 7).all() and Q[0] == 0 and Q[5] == 2
        for nu, nq in ((9, 6), (10, 5)):
            try:
                arcus.degelevc(U, P, 2, 1, np.empty(nu), np.empty(nq))
            except ValueError as e:
                print(e)
    """)
    out = run_python(code, "-O", timeout=60)
    assert out.returncode == 0, out.stderr
    assert out.stdout.splitlines() == [
        "degelevc(): array 'Uh' needs at least 10 elements, got 9",
        "degelevc(): array 'Q' needs at least 6 elements, got 5",
    ]
