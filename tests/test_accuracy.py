"""Results that do not depend on where the time axis starts, and degree
elevation on uneven knots; checked against scipy, mpmath and fractions."""
import subprocess
import sys
from fractions import Fraction
from pathlib import Path

import numpy as np
import pytest
from scipy.interpolate import BSpline, insert, make_interp_spline

from pyvelt import arcus
from pyvelt.build import interpolate, trajectory

SHIFTS = [1e3, 1e5, 1.7e9]


def arrays(t):
    return t.get_knotvector_asarray().copy(), t.get_cpts_asarray().copy()


def hat(shift):
    return trajectory([shift, shift, shift + 1, shift + 2, shift + 2], [0.0, 1.0, 0.0], 1)


@pytest.mark.parametrize("shift", [1e3, 1e5])
def test_hat_just_below_its_peak(shift):
    t = hat(shift)
    x = shift + 1 - 5e-7
    want = float(Fraction(x) - Fraction(shift))  # exact: the rising side
    xp = np.array([shift + 0.5, x])
    for got in [t(x), t.peval(x), arcus.splpev(x, *arrays(t), 1)]:
        assert got == pytest.approx(want, abs=1e-15)
    for got in [t(x, 1), t.dpeval(x, 1)]:
        assert got == 1.0
    c = xp.copy()
    t.ceval(c)
    assert c[1] == pytest.approx(want, abs=1e-15)
    d = xp.copy()
    t.dceval(d, 1)
    assert d[1] == 1.0


@pytest.mark.parametrize("shift", SHIFTS)
def test_interpolant_on_a_shifted_axis_matches_scipy(shift):
    u = np.arange(11.0)
    t = interpolate(u + shift, np.sin(u))
    U, P = arrays(t)
    b = BSpline(U, P, 3)
    # points between the knots and 1e-11 * shift beside each knot: far more
    # than the rounding of the times, yet within 1e-9 |t|
    knots = U[4:-4]
    x = np.sort(np.r_[np.linspace(U[0], U[-1], 37)[1:-1], knots - 1e-11 * shift,
                      knots + 1e-11 * shift])
    for nu in range(4):
        got = np.array([t(v, nu) for v in x])
        np.testing.assert_allclose(got, b(x, nu), rtol=0, atol=1e-9 * 10 ** nu)
    c = x.copy()
    t.dceval(c, 3)
    np.testing.assert_allclose(c, b(x, 3), atol=1e-6)


def test_sum_with_knots_closer_than_the_old_tolerance():
    a = trajectory([1000, 1000, 1000 + 1e-7, 1000 + 5e-7, 1001, 1001], [0, 1, 2, 3], 1)
    b = trajectory([1000, 1000, 1000 + 3e-7, 1001, 1001], [0, 1, 1], 1)
    s = a + b
    U, P = arrays(s)
    assert (np.diff(U) >= 0).all()
    x = 1000 + np.array([5e-8, 2e-7, 4e-7, 1e-6, 0.5, 1.0])
    want = BSpline(*arrays(a), 1)(x) + BSpline(*arrays(b), 1)(x)
    np.testing.assert_allclose(BSpline(U, P, 1)(x), want, atol=1e-12)
    assert s.extrema()[2] == pytest.approx(4.0)
    # knots 1e-7 apart, same count: not the sum on a's knots
    c = trajectory([1000, 1000, 1000 + 0.5, 1001, 1001], [0, 1, 0], 1)
    d = trajectory([1000, 1000, 1000 + 0.5 + 1e-7, 1001, 1001], [0, 1, 0], 1)
    x = 1000.5 + np.array([-1e-7, 5e-8, 2e-7])
    want = BSpline(*arrays(c), 1)(x) + BSpline(*arrays(d), 1)(x)
    cd = c + d
    np.testing.assert_allclose([cd(v) for v in x], want, atol=1e-12)


@pytest.mark.parametrize("shift", [0.0] + SHIFTS[:2])
@pytest.mark.parametrize("offset", [3e-7, -3e-7])
def test_knotins_next_to_a_knot_matches_scipy(shift, offset):
    U = np.r_[[shift] * 4, shift + 0.5, [shift + 1] * 4]
    P = np.array([0.0, 2.0, -1.0, 3.0, 1.0])
    t = trajectory(U, P, 3)
    u = shift + 0.5 + offset
    got = t.knotins(u, 1)
    ref = insert(u, (U, P, 3))
    x = np.linspace(shift, shift + 1, 41)
    np.testing.assert_allclose(got.get_cpts_asarray(), ref[1][:6], atol=1e-12)
    np.testing.assert_allclose(BSpline(*arrays(got), 3)(x), BSpline(U, P, 3)(x), atol=1e-12)


@pytest.mark.parametrize("shift", [0.0] + SHIFTS[:2])
def test_interpolate_clustered_shifted_times(shift):
    x = np.array([0, 1e-7, 2e-7, 3e-7, 1, 2, 3]) + shift
    y = np.array([0.0, 1.0, -1.0, 2.0, 0.5, 0.0, 1.0])
    t = interpolate(x, y)
    U, P = arrays(t)
    ref = make_interp_spline(x, y, k=3, t=U)  # scipy's solve on the same knots
    np.testing.assert_allclose(P, ref.c, rtol=1e-6, atol=1e-6 * np.abs(ref.c).max())


def constrained_lsq(x, y, U, p):
    """Least squares with the first and last control point fixed to the end
    values, solved by numpy's lstsq on scipy's design matrix."""
    A = BSpline.design_matrix(x, U, p).toarray()
    n = A.shape[1]
    c = np.zeros(n)
    c[0], c[-1] = y[0], y[-1]
    r = y - A @ c
    c[1:-1] = np.linalg.lstsq(A[:, 1:-1], r, rcond=None)[0]
    return c


@pytest.mark.parametrize("shift", [0.0] + SHIFTS[:2])
def test_least_squares_with_data_beside_the_knots(shift):
    p, knots = 1, np.arange(1.0, 10.0)
    d = 3e-10 * max(shift, 1e3)  # beside the knots, within 1e-9 |t|
    u = np.sort(np.r_[np.linspace(0, 10, 101), knots - d, knots + d])
    x, y = u + shift, np.cos(np.pi * u)
    y[np.isin(u, knots - d)] = 5.0  # large residuals there
    U = np.r_[[0.0] * (p + 1), knots, [10.0] * (p + 1)] + shift
    P = np.empty(len(U) - p - 1)
    arcus.gcsplapp(x, y, p, U, P)
    np.testing.assert_allclose(P, constrained_lsq(x, y, U, p), atol=1e-10)


def elevate(U, P, p, t):
    s = len(np.unique(U[p + 1:len(U) - p - 1]))
    Uh, Q = np.empty(len(U) + t * (s + 2)), np.empty(len(P) + t * (s + 1))
    arcus.degelevc(U, P, p, t, Uh, Q)
    return Uh, Q


@pytest.mark.parametrize("p, inner", [
    (7, [1e-6, 1e-3]),
    (3, [0.5, 0.5 + 1e-9, 0.5 + 2e-9]),
    (5, [0.1, 0.1 + 1e-7, 0.3, 0.3, 0.9]),
    (4, list(np.sort(np.random.default_rng(3).uniform(0, 1, 30) ** 8))),
])
@pytest.mark.parametrize("t", [1, 2])
def test_degree_elevation_on_uneven_knots(p, inner, t):
    U = np.r_[[0.0] * (p + 1), inner, [1.0] * (p + 1)]
    P = np.random.default_rng(p).normal(size=len(U) - p - 1)
    Uh, Q = elevate(U, P, p, t)
    ph = p + t
    x = np.r_[np.linspace(0, 1, 401), inner]
    np.testing.assert_allclose(BSpline(Uh, Q, ph)(x), BSpline(U, P, p)(x), rtol=0, atol=1e-13)
    # the control points of the interpolant at the Greville points of Uh
    g = np.clip(np.convolve(Uh[1:-1], np.ones(ph) / ph, "valid"), 0.0, 1.0)
    ref = make_interp_spline(g, BSpline(U, P, p)(g), k=ph, t=Uh).c
    np.testing.assert_allclose(Q, ref, rtol=0, atol=1e-8 * max(1, np.abs(ref).max()))


@pytest.mark.slow
def test_accuracy_script_quick():
    script = Path(__file__).resolve().parent.parent / "bench" / "accuracy.py"
    r = subprocess.run([sys.executable, str(script), "--quick"], capture_output=True, text=True,
                       timeout=300)
    assert r.returncode == 0, r.stderr
    assert "evaluation" in r.stdout and "degree elevation" in r.stdout
