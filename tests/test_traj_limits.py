"""Trajectory1d limits: extrema, violations, timescale, roughness.

Oracles are scipy's BSpline (dense sampling, bounded scalar minimisation,
root brackets) and numpy polynomials; never pyvelt itself.
"""
import numpy as np
import pytest
from numpy.polynomial import Polynomial
from scipy.interpolate import BSpline
from scipy.optimize import brentq, minimize_scalar

import pyvelt
from pyvelt.ductus import Trajectory1d


def pair(U, P, p, order=0):
    return pyvelt.trajectory(U, P, p, order=order), BSpline(np.asarray(U, float), np.asarray(P, float), p)


def random_spline(p, ncpts, seed, repeat=None):
    rng = np.random.default_rng(seed)
    inner = np.sort(rng.uniform(0.0, 3.0, ncpts - p - 1))
    if repeat:  # raise the multiplicity of one interior knot
        inner = np.sort(np.r_[inner[: len(inner) - repeat + 1], [inner[0]] * (repeat - 1)])
    U = np.r_[[0.0] * (p + 1), inner, [3.0] * (p + 1)]
    return pair(U, rng.normal(size=len(U) - p - 1), p)


def dense(s, nu, n=20001):
    """Sampled values of derivative nu, both sides of every knot included."""
    a, b = s.t[0], s.t[-1]
    k = np.unique(s.t)
    x = np.r_[np.linspace(a, b, n), np.nextafter(k, -np.inf), np.nextafter(k, np.inf)]
    x = np.unique(np.clip(x, a, b))
    return x, s(x, nu)


def polished(s, nu, x, y, sign):
    """The sampled extremum polished by bounded minimisation around the best sample."""
    i = np.argmax(sign * y)
    lo, hi = x[max(i - 1, 0)], x[min(i + 1, len(x) - 1)]
    r = minimize_scalar(lambda t: -sign * s(t, nu), bounds=(lo, hi), method="bounded",
                        options={"xatol": 1e-13})
    return max(sign * y[i], -r.fun) * sign


# ---------------------------------------------------------------- extrema


@pytest.mark.parametrize("p,ncpts,seed,repeat", [(1, 9, 1, None), (2, 10, 2, None), (3, 12, 3, None),
                                                 (5, 15, 4, None), (3, 12, 5, 2), (4, 14, 6, 3)])
def test_extrema_against_dense_sampling(p, ncpts, seed, repeat):
    t, s = random_spline(p, ncpts, seed, repeat)
    for nu in range(p + 1):
        ymin, xmin, ymax, xmax = t.extrema(nu)
        x, y = dense(s, nu)
        tol = 1e-11 * max(1.0, np.abs(y).max())
        # Never beaten by a sample, and found to within sampling error.
        assert y.min() >= ymin - tol and y.max() <= ymax + tol
        assert abs(polished(s, nu, x, y, -1) - ymin) <= 10 * tol
        assert abs(polished(s, nu, x, y, 1) - ymax) <= 10 * tol
        assert t.start <= xmin <= t.stop and t.start <= xmax <= t.stop
        # The times: the value there, or a one-sided limit at a knot.
        for xe, ye in ((xmin, ymin), (xmax, ymax)):
            near = s(np.clip([xe - 1e-9, xe, xe + 1e-9], 0.0, 3.0), nu)
            assert np.min(np.abs(near - ye)) <= 1e-6 * max(1.0, abs(ye))


def test_extrema_of_polynomials_in_closed_form():
    # A cubic and a quintic written as splines on [0, 2] with interior knots:
    # interpolation of degree p reproduces a polynomial of degree p.
    for poly, p in ((Polynomial.fromroots([0.3, 1.1, 1.7]), 3),
                    (Polynomial.fromroots([0.1, 0.5, 0.9, 1.4, 1.9]) * 3.0, 5)):
        x = np.linspace(0.0, 2.0, 9)
        t = pyvelt.interpolate(x, poly(x), p=p)
        for nu in range(p):
            d = poly.deriv(nu)
            cand = np.r_[0.0, 2.0, [r.real for r in d.deriv().roots()
                                    if abs(r.imag) < 1e-12 and 0.0 <= r.real <= 2.0]]
            vals = d(cand)
            ymin, xmin, ymax, xmax = t.extrema(nu)
            scale = np.abs(vals).max()
            assert ymin == pytest.approx(vals.min(), abs=1e-12 * scale)
            assert ymax == pytest.approx(vals.max(), abs=1e-12 * scale)
            assert xmin == pytest.approx(cand[np.argmin(vals)], abs=1e-7)
            assert xmax == pytest.approx(cand[np.argmax(vals)], abs=1e-7)


def test_extrema_of_an_interpolated_sine():
    x = np.linspace(0.0, 2.0 * np.pi, 40)
    t = pyvelt.interpolate(x, np.sin(x), p=5)
    ymin, xmin, ymax, xmax = t.extrema()
    assert ymax == pytest.approx(1.0, abs=1e-7) and xmax == pytest.approx(np.pi / 2, abs=1e-4)
    assert ymin == pytest.approx(-1.0, abs=1e-7) and xmin == pytest.approx(1.5 * np.pi, abs=1e-4)
    vmin, _, vmax, xv = t.extrema(1)
    assert vmax == pytest.approx(1.0, abs=1e-5) and vmin == pytest.approx(-1.0, abs=1e-5)


def test_extrema_degenerate_cases():
    # Degree 0: the control points; derivatives vanish.
    t, _ = pair([0, 1, 2, 3], [1.0, -2.0, 0.5], 0)
    assert t.extrema() == (-2.0, 1.0, 1.0, 0.0)
    assert t.extrema(1) == (0.0, 0.0, 0.0, 0.0)
    # Degree 1: extrema at control points; the velocity jumps at the knot and
    # the time of a one-sided extremum is the knot.
    t, _ = pair([0, 0, 1, 3, 3], [0.0, 2.0, 1.0], 1)
    assert t.extrema() == (0.0, 0.0, 2.0, 1.0)
    assert t.extrema(1) == (-0.5, 1.0, 2.0, 0.0)
    # Constant spans: the earliest time wins.
    t, _ = pair([0, 0, 0, 1, 2, 3, 3, 3], [1.0, 1.0, 1.0, 1.0, 0.0], 2)
    assert t.extrema() == (0.0, 3.0, 1.0, 0.0)
    assert t.extrema(1)[2:] == (0.0, 0.0)
    c, _ = pair([0, 0, 0, 0, 1, 1, 1, 1], [2.5] * 4, 3)
    assert c.extrema() == (2.5, 0.0, 2.5, 0.0) and c.extrema(2) == (0.0, 0.0, 0.0, 0.0)
    # Repeated interior knots (C0 at 1): the jump of the velocity counts.
    t, s = pair([0, 0, 0, 0, 1, 1, 1, 2, 2, 2, 2], [0.0, 1.0, 3.0, 2.0, 0.0, 1.0, 0.0], 3)
    assert t.extrema(1)[0] == pytest.approx(-6.0) and t.extrema(1)[1] == 1.0
    # Above the degree: zeros at start.
    assert t.extrema(4) == t.extrema(nu=10**30) == (0.0, 0.0, 0.0, 0.0)


# ---------------------------------------------------------------- violations


def first_crossing(f, a, b, limit, n=200001):
    x = np.linspace(a, b, n)
    over = np.abs(f(x)) > limit
    i = np.argmax(over)
    if i == 0:
        return a
    g = lambda u: abs(f(u)) - limit
    return brentq(g, x[i - 1], x[i], xtol=1e-14)


def test_violations_against_sampling():
    x = np.linspace(0.0, 2.0, 9)
    t = pyvelt.interpolate(x, np.sin(3 * x) ** 2, p=5, slopes=(0.0, 0.0))
    s = BSpline(t.get_knotvector_asarray().copy(), t.get_cpts_asarray().copy(), t.p)
    peaks = [max(abs(v) for v in t.extrema(k)[::2]) for k in (1, 2, 3)]
    lims = [0.7 * pk for pk in peaks]
    got = t.violations(*lims)
    assert [g[0] for g in got] == ["velocity", "acceleration", "jerk"]
    for (name, time, peak, limit), k, pk, lim in zip(got, (1, 2, 3), peaks, lims):
        f = s.derivative(k)
        assert (peak, limit) == (pk, lim)
        assert peak == pytest.approx(np.abs(f(np.linspace(0, 2, 20001))).max(), rel=1e-6)
        assert time == pytest.approx(first_crossing(f, 0.0, 2.0, lim), abs=1e-9)
        assert abs(f(time)) >= lim * (1 - 1e-12)
    # By keyword, only some limits, and limits that hold.
    assert t.violations(jmax=lims[2], vmax=2 * peaks[0]) == [got[2]]
    assert t.violations(vmax=peaks[0] * 1.001, amax=peaks[1] * 1.001, jmax=peaks[2] * 1.001) == []


def test_violations_follow_the_order():
    x = np.linspace(0.0, 1.0, 7)
    v = pyvelt.interpolate(x, np.cos(2 * x), p=3, order=1)  # a velocity
    (name, time, peak, limit), = v.violations(0.9)
    assert name == "velocity" and time == 0.0 and peak == pytest.approx(1.0, abs=1e-4)
    assert [r[0] for r in v.violations(amax=0.1)] == ["acceleration"]
    # Degree 0 velocity with a jump: the first excess is the knot.
    w = pyvelt.trajectory([0, 1, 2], [0.5, -2.0], 0, order=1)
    assert w.violations(vmax=1.0) == [("velocity", 1.0, 2.0, 1.0)]
    assert w.violations(amax=1.0) == []


# ---------------------------------------------------------------- timescale


@pytest.mark.parametrize("limits", [dict(vmax=0.8), dict(amax=3.0), dict(jmax=50.0),
                                    dict(vmax=0.8, amax=3.0, jmax=50.0), dict(vmax=10.0, amax=0.5)])
def test_timescale_identity(limits):
    x = np.array([0.0, 0.4, 1.0, 1.5, 2.0])
    t = pyvelt.interpolate(x, [0.0, 0.3, 1.2, 1.0, 0.5], p=5, slopes=(0.0, 0.0))
    k = {"vmax": 1, "amax": 2, "jmax": 3}
    peaks = {n: max(abs(v) for v in t.extrema(k[n])[::2]) for n in limits}
    s = t.timescale(**limits)
    assert s == pytest.approx(max((peaks[n] / lim) ** (1 / k[n]) for n, lim in limits.items()),
                              rel=1e-14)
    u = t.copy()
    u.hscale(s)
    assert u.start == t.start and u.stop == pytest.approx(t.start + s * (t.stop - t.start))
    ratios = [max(abs(v) for v in u.extrema(k[n])[::2]) / lim for n, lim in limits.items()]
    assert max(ratios) == pytest.approx(1.0, abs=1e-12)       # one limit is reached
    assert all(r <= 1.0 + 1e-12 for r in ratios)               # and all hold
    assert all(peak <= lim * (1 + 1e-12) for _, _, peak, lim in u.violations(**limits))


# ---------------------------------------------------------------- roughness


def test_roughness_closed_forms():
    poly = Polynomial.fromroots([0.2, 0.9, 1.3, 1.8])
    x = np.linspace(0.0, 2.0, 8)
    t = pyvelt.interpolate(x, poly(x), p=4)
    for nu in range(6):
        exact = (poly.deriv(nu) ** 2).integ()
        want = exact(2.0) - exact(0.0)
        assert t.roughness(nu) == pytest.approx(want, rel=1e-12, abs=1e-12)
    assert t.roughness() == t.roughness(2) == t.roughness(nu=2)
    # Piecewise: degree 0 and repeated knots, against scipy's exact integral.
    for U, P, p in (([0, 1, 2, 3.5], [1.0, -2.0, 0.5], 0),
                    ([0, 0, 0, 0, 1, 1, 2.5, 3, 3, 3, 3], [0, 1, 3, 2, 0, 1, 0.5], 3)):
        t, s = pair(U, P, p)
        gx, gw = np.polynomial.legendre.leggauss(20)   # exact far beyond degree 2p
        for nu in range(p + 2):
            want = 0.0 if nu > p else sum(
                0.5 * (b - a) * np.sum(gw * s(0.5 * (a + b) + 0.5 * (b - a) * gx, nu) ** 2)
                for a, b in zip(U[:-1], U[1:]) if b > a)
            assert t.roughness(nu) == pytest.approx(want, rel=1e-12, abs=1e-13)


def test_roughness_of_a_sine():
    x = np.linspace(0.0, np.pi, 60)
    t = pyvelt.interpolate(x, np.sin(x), p=5)
    assert t.roughness(0) == pytest.approx(np.pi / 2, rel=1e-8)
    assert t.roughness(2) == pytest.approx(np.pi / 2, rel=1e-4)


# ---------------------------------------------------------------- bad arguments


def test_bad_arguments():
    x = np.linspace(0.0, 1.0, 6)
    t = pyvelt.interpolate(x, x ** 2, p=3)
    for bad in (-1, 1.5, "a", None, True, [1]):
        for meth in (t.extrema, t.roughness):
            with pytest.raises(ValueError, match="'nu' must be a non-negative integer"):
                meth(bad)
            with pytest.raises(ValueError, match="'nu'"):
                meth(nu=bad)
    for meth in (t.violations, t.timescale):
        for name in ("vmax", "amax", "jmax"):
            for bad in (0, -1.0, float("nan"), float("inf"), -float("inf"), "1", True, 1j):
                with pytest.raises(ValueError, match=f"'{name}' must be a positive finite"):
                    meth(**{name: bad})
        with pytest.raises(ValueError, match="at least one"):
            meth()
        with pytest.raises(ValueError, match="at least one"):
            meth(None, None, None)
    acc = pyvelt.interpolate(x, x ** 2, p=3, order=2)
    with pytest.raises(ValueError, match="'vmax' limits the velocity"):
        acc.violations(vmax=1.0)
    with pytest.raises(ValueError, match="order 0"):
        acc.timescale(jmax=1.0)
    with pytest.raises(ValueError, match="order 0"):
        pyvelt.interpolate(x, x, p=3, order=1).timescale(vmax=1.0)
    with pytest.raises(ValueError, match="zero everywhere"):
        pyvelt.trajectory([0, 0, 0, 1, 1, 1], [0, 0.5, 1], 2).timescale(jmax=1.0)  # no jerk
    empty = Trajectory1d()
    for call in (empty.extrema, empty.roughness, lambda: empty.violations(1.0),
                 lambda: empty.timescale(amax=1.0)):
        with pytest.raises(ValueError, match="empty"):
            call()
    # Arrays changed through a view into something that is not a spline.
    w = t.copy()
    w.get_knotvector_asarray()[5] = np.nan
    with pytest.raises(ValueError, match="knot vector"):
        w.extrema()
    w = t.copy()
    w.get_cpts_asarray()[1] = np.inf
    with pytest.raises(ValueError, match="control points"):
        w.roughness()
    # Derivatives beyond the range of floats.
    huge = pyvelt.trajectory([0, 0, 0, 0, 1, 2, 2, 2, 2], [1e308, -1e308, 1e308, -1e308, 1e308], 3)
    assert huge.extrema()[2] == 1e308
    for call in (lambda: huge.extrema(1), lambda: huge.roughness(), lambda: huge.violations(1.0),
                 lambda: huge.timescale(jmax=1.0)):
        with pytest.raises(OverflowError, match="overflows"):
            call()


def test_signatures_match_the_stubs():
    import ast
    import inspect
    import pathlib

    stub = pathlib.Path(pyvelt.__file__).with_name("ductus.pyi").read_text()
    cls = next(n for n in ast.parse(stub).body if getattr(n, "name", "") == "Trajectory1d")
    defs = {f.name: f for f in cls.body if isinstance(f, ast.FunctionDef)}
    for name in ("extrema", "violations", "timescale", "roughness"):
        sig = inspect.signature(getattr(Trajectory1d, name))
        args = defs[name].args
        want = [(a.arg, ast.literal_eval(d)) for a, d in zip(args.args[1:], args.defaults)]
        assert [(p.name, p.default) for p in list(sig.parameters.values())[1:]] == want


# ---------------------------------------------------------------- short spans, offsets, stretching
# The oracle: scipy's piecewise polynomial of the derivative spline, one numpy polynomial per
# span (local variable), its critical points by numpy's roots.


def span_polys(U, P, p, nu):
    from scipy.interpolate import PPoly

    pp = PPoly.from_spline(BSpline(np.asarray(U, float), np.asarray(P, float), p).derivative(nu))
    return [(pp.x[i + 1] - pp.x[i], pp.c[:, i]) for i in range(len(pp.x) - 1) if pp.x[i + 1] > pp.x[i]]


def oracle_extrema(U, P, p, nu):
    lo, hi = np.inf, -np.inf
    for h, c in span_polys(U, P, p, nu):
        ts = [0.0, h]
        if len(c) > 2:
            r = np.roots(np.polyder(c))
            ts += [x.real for x in r if abs(x.imag) <= 1e-7 * h and 0.0 < x.real < h]
        v = np.polyval(c, np.array(ts))
        lo, hi = min(lo, v.min()), max(hi, v.max())
    return lo, hi


def oracle_roughness(U, P, p, nu):
    return sum(np.polyval(np.polyint(np.polymul(c, c)), h) for h, c in span_polys(U, P, p, nu))


SHORT_SPAN = (np.r_[[0.0] * 6, 0.5, 0.5 + 1e-9, [1.0] * 6], np.array([3.0, -1, 4, -1, -5, 4, 2, -3]))


@pytest.mark.parametrize("nu", range(6))
def test_short_span_extrema_and_roughness(nu):
    U, P = SHORT_SPAN
    t = pyvelt.trajectory(U, P, 5)
    lo, hi = oracle_extrema(U, P, 5, nu)
    scale = max(abs(lo), abs(hi))
    ymin, _, ymax, _ = t.extrema(nu)
    assert abs(ymin - lo) <= 1e-14 * scale and abs(ymax - hi) <= 1e-14 * scale
    if nu < 5:
        assert t.roughness(nu) == pytest.approx(oracle_roughness(U, P, 5, nu), rel=1e-13)
    if nu == 2:
        assert t.timescale(amax=1.0) == pytest.approx(np.sqrt(scale), rel=1e-13)


@pytest.mark.parametrize("seed, offset, nu", [(7, 0.0, 4), (7, 0.0, 3), (3, 1e6, 1)])
def test_many_close_knots_and_offset_values(seed, offset, nu):
    rng = np.random.default_rng(seed)
    U = np.r_[[0.0] * 6, np.sort(rng.uniform(0, 1, 1000)), [1.0] * 6]
    P = rng.standard_normal(len(U) - 6) + offset
    lo, hi = oracle_extrema(U, P, 5, nu)
    ymin, _, ymax, _ = pyvelt.trajectory(U, P, 5).extrema(nu)
    scale = max(abs(lo), abs(hi))
    assert abs(ymin - lo) <= 1e-14 * scale and abs(ymax - hi) <= 1e-14 * scale


def test_hscale_and_adapt_keep_knots_equal_and_ordered():
    rng = np.random.default_rng(11)
    bad = 0
    for _ in range(300):
        a = rng.uniform(-1e4, 1e4)
        U = np.r_[[a] * 4, a + np.sort(rng.uniform(0, 5, 3)), [a + 5] * 4]
        t = pyvelt.trajectory(U, rng.normal(size=7), 3)
        k = rng.uniform(0.01, 100)
        u = t.copy()
        t.hscale(k)
        u.adapt(rng.uniform(-1e4, 1e4), rng.uniform(1e4, 2e4))
        for v in (t, u):
            K = v.get_knotvector_asarray()
            bad += bool(np.any(np.diff(K) < 0) or len(set(K[:4])) > 1 or len(set(K[-4:])) > 1)
            v.extrema(1)  # accepted
    assert bad == 0


def test_limits_accept_knots_an_ulp_apart_as_evaluation_does():
    U = np.r_[[1000.0] * 4, 1000.5, [1001.0] * 4]
    U[1:4] = np.nextafter(1000.0, 0)  # as rounding leaves them
    P = np.array([0.0, 1.0, -1.0, 2.0, 0.5])
    t = pyvelt.trajectory(U, P, 3)
    t(1000.25)
    ref = np.maximum.accumulate(U)
    lo, hi = oracle_extrema(ref, P, 3, 1)
    ymin, _, ymax, _ = t.extrema(1)
    assert ymin == pytest.approx(lo, rel=1e-13) and ymax == pytest.approx(hi, rel=1e-13)


@pytest.mark.parametrize("start", [0.0, -3.3, 1000.0, 1.7e9])
def test_timescale_certifies_its_stretch(start):
    rng = np.random.default_rng(int(abs(start)) % 97)
    limits = dict(vmax=1.0, amax=2.0, jmax=5.0)
    for _ in range(15):
        p, ni, span = int(rng.integers(3, 7)), int(rng.integers(0, 6)), rng.uniform(0.1, 10)
        U = np.r_[[start] * (p + 1), np.sort(start + span * rng.uniform(0, 1, ni)), [start + span] * (p + 1)]
        P = rng.standard_normal(len(U) - p - 1)
        t = pyvelt.trajectory(U, P, p)
        t.hscale(t.timescale(**limits))
        assert t.violations(**limits) == []
        K = t.get_knotvector_asarray()
        ratio = max(max(map(abs, oracle_extrema(K, P, p, nu))) / limits[key]
                    for nu, key in ((1, "vmax"), (2, "amax"), (3, "jmax")))
        assert ratio <= 1.0 + 1e-12
        if start != 1.7e9:  # there the stretched knots move by steps of 2.4e-7
            assert ratio >= 1.0 - 1e-12


def test_roughness_that_overflows_raises():
    t = pyvelt.trajectory([0, 0, 0, 0, 1, 1, 1, 1], [0.0, 1e160, -1e160, 0.0], 3)
    for nu in (0, 2):
        with pytest.raises(OverflowError):
            t.roughness(nu)
    # large values whose integral is finite are no overflow
    t = pyvelt.trajectory([0, 0, 0, 0, 1e-300, 1e-300, 1e-300, 1e-300], [0.0, 1e150, -1e150, 0.0], 3)
    assert t.roughness(0) == pytest.approx(1e300 * 1e-300 * 3 / 70, rel=1e-13)
