"""Least-squares approximation (gcsplapp, gdsplapp) against numpy.linalg.lstsq and scipy."""
import textwrap

import numpy as np
import pytest
from scipy.interpolate import BSpline, make_lsq_spline

from pyvelt import arcus

import cabi


def noisy(mm=40, seed=1):
    rng = np.random.default_rng(seed)
    xp = np.sort(rng.uniform(0.0, 5.0, mm))
    xp[0], xp[-1] = 0.0, 5.0
    return xp, np.sin(xp) + 0.1 * rng.normal(size=mm)


def lsq_knots(xp, p, ncp):
    U = np.empty(ncp + p + 1)
    arcus.kevalappr(xp, p, U)
    return U


def check_lstsq(xp, fp, U, p, P, fixed):
    """The control points not in `fixed` solve the least-squares problem of the inner data."""
    A = BSpline.design_matrix(xp, U, p).toarray()[1:-1]
    free = [i for i in range(len(P)) if i not in fixed]
    ref = np.linalg.lstsq(A[:, free], fp[1:-1] - A[:, fixed] @ P[fixed], rcond=None)[0]
    assert P[free] == pytest.approx(ref, abs=1e-10)


@pytest.mark.parametrize("p, ncp", [(1, 6), (1, 2), (2, 3), (3, 12), (5, 15)])
def test_gcsplapp_matches_constrained_lstsq(p, ncp):
    xp, fp = noisy()
    U = lsq_knots(xp, p, ncp)
    P = np.empty(ncp)
    arcus.gcsplapp(xp, fp, p, U, P)
    assert (P[0], P[-1]) == (fp[0], fp[-1])
    assert arcus.splpev(xp[-1], U, P, p) == pytest.approx(fp[-1], abs=1e-15)
    check_lstsq(xp, fp, U, p, P, [0, ncp - 1])


def test_gcsplapp_reproduces_a_spline_on_the_same_knots():
    xp = np.linspace(0.0, 2.0, 30)
    U = lsq_knots(xp, 3, 9)
    C = np.random.default_rng(3).normal(size=9)
    fp = BSpline(U, C, 3)(xp)
    P = np.empty(9)
    arcus.gcsplapp(xp, fp, 3, U, P)
    assert P == pytest.approx(C, abs=1e-11)
    assert P == pytest.approx(make_lsq_spline(xp, fp, U, 3).c, abs=1e-11)


@pytest.mark.parametrize("p, ncp, dy", [(2, 6, (0.5, -1.0)), (3, 10, (2.0, 0.3)), (3, 5, None), (3, 4, (1.0, 1.0))])
def test_gdsplapp_matches_constrained_lstsq_with_end_slopes(p, ncp, dy):
    xp, fp = noisy()
    U = lsq_knots(xp, p, ncp)
    P = np.empty(ncp)
    if dy is None:
        arcus.gdsplapp(xp, fp, p, U, P)
        dy = (0.0, 0.0)
        assert P[1] == P[0] and P[-2] == P[-1]
    else:
        arcus.gdsplapp(P=P, U=U, p=p, fp=fp, xp=xp, dy=dy)
    assert (P[0], P[-1]) == (fp[0], fp[-1])
    d = BSpline(U, P, p).derivative()
    assert [d(xp[0]), d(xp[-1])] == pytest.approx(list(dy), abs=1e-12)
    check_lstsq(xp, fp, U, p, P, [0, 1, ncp - 2, ncp - 1])


def dense_normal_oracle(xp, fp, U, p, P, fixed):
    """Normal equations of the free control points from every single basis value N(i, p)(xp[k])."""
    inner = xp[1:-1]
    A = np.array([[arcus.bfunpev(u, i, U, p) for i in range(len(P))] for u in inner])
    free = [i for i in range(len(P)) if i not in fixed]
    R = fp[1:-1] - A[:, fixed] @ P[fixed]
    Af = A[:, free]
    return np.linalg.solve(Af.T @ Af, Af.T @ R), free


SAMPLE = np.r_[0.0, 0.0, 0.1, 0.25, 0.25, 0.4, 0.5, 0.5, 0.55, 0.7, 0.9, 1.0, 1.0, 1.0]


@pytest.mark.parametrize("func", ["gcsplapp", "gdsplapp"])
@pytest.mark.parametrize(
    "p, U",
    [
        # data on the knots, a double interior knot, repeated end abscissae
        (3, np.r_[[0.0] * 4, 0.25, 0.5, 0.5, 0.7, [1.0] * 4]),
        (1, np.r_[0.0, 0.0, 0.1, 0.25, 0.5, 0.55, 0.7, 1.0, 1.0]),
        (4, np.r_[[0.0] * 5, 0.3, 0.6, [1.0] * 5]),
        # clamped only within the knot tolerance
        (2, np.r_[0.0, 1e-14, 0.0, 0.3, 0.5, 0.8, 1.0, 1.0 - 1e-14, 1.0]),
    ],
)
def test_fit_equals_the_dense_normal_equations(func, p, U):
    xp = SAMPLE * 4.0 - 1.0
    U = U * 4.0 - 1.0
    fp = np.cos(3 * xp) + xp
    P = np.empty(len(U) - p - 1)
    if func == "gdsplapp":
        arcus.gdsplapp(xp, fp, p, U, P, (1.5, -0.5))
        fixed = [0, 1, len(P) - 2, len(P) - 1]
    else:
        arcus.gcsplapp(xp, fp, p, U, P)
        fixed = [0, len(P) - 1]
    ref, free = dense_normal_oracle(xp, fp, U, p, P, fixed)
    assert np.allclose(P[free], ref, rtol=1e-10, atol=1e-10 * np.abs(ref).max())


@pytest.mark.parametrize("name", ["gcsplapp", "gdsplapp"])
def test_c_entries_and_docstrings(name):
    xp, fp = noisy()
    U = lsq_knots(xp, 3, 8)
    P1, P2 = np.empty(8), np.empty(8)
    args = (cabi.darr(xp), cabi.darr(fp), 3, cabi.darr(U), cabi.darr(P2))
    if name == "gdsplapp":
        arcus.gdsplapp(xp, fp, 3, U, P1, (0.25, 0.5))
        cabi.entry(name)(*args, cabi.OptDy(1, (0.25, 0.5)))
    else:
        arcus.gcsplapp(xp, fp, 3, U, P1)
        cabi.entry(name)(*args)
    assert np.array_equal(P1, P2)
    opening = {"gcsplapp": "Least squares curve approximation.\n",
               "gdsplapp": "Least squares curve approximation with fixed endpoint derivatives.\n"}[name]
    doc = getattr(arcus, name).__doc__
    assert doc.startswith(opening)
    assert all(f"\n{s}\n" in doc for s in ("Parameters", "Returns", "Notes", "References"))


X6, F6 = np.linspace(0, 1, 6), np.arange(6.0)
MORE = "the number of points to be approximated must be greater than the number of control points"


@pytest.mark.parametrize(
    "func, fp, p, nU, ncp, msg",
    [
        ("gcsplapp", F6[:5], 0, 8, 9, "xp and fp must have same dimension"),
        ("gcsplapp", F6, 0, 6, 5, "p must be greater than or equal to 1"),
        ("gcsplapp", F6, 3, 7, 3, "n must be greater than or equal to p"),
        ("gcsplapp", F6, 3, 10, 6, MORE),
        ("gdsplapp", F6, 3, 10, 6, MORE),
        ("gdsplapp", F6, 2, 6, 3, "n must be greater than or equal to 3"),
        ("gdsplapp", F6, 1, 4, 2, "n must be greater than or equal to 3"),
    ],
)
def test_assertions_raise_before_anything_is_written(func, fp, p, nU, ncp, msg):
    P = np.full(ncp, 7.0)
    with pytest.raises(AssertionError) as e:
        getattr(arcus, func)(X6, fp, p, np.zeros(nU), P)
    assert str(e.value) == msg
    assert np.all(P == 7.0)


@pytest.mark.parametrize("func", ["gcsplapp", "gdsplapp"])
def test_failures(func):
    xp, fp = noisy()
    P = np.full(6, 7.0)
    for delta in (-1, 1):
        with pytest.raises(ValueError, match=rf"^{func}\(\): array 'U'"):
            getattr(arcus, func)(xp, fp, 3, np.linspace(0, 5, 10 + delta), P)
    assert np.all(P == 7.0)
    # no data parameter inside the support of the middle control points: singular normal matrix
    xp = np.r_[np.linspace(0, 0.2, 10), np.linspace(0.8, 1.0, 10)]
    U = np.r_[[0.0] * 4, 0.4, 0.45, 0.5, 0.55, 0.6, [1.0] * 4]
    P = np.empty(9)
    with pytest.raises(Exception, match=r"^'dgesv' LAPACK function failed with 'info' value: \d+$") as e:
        getattr(arcus, func)(xp, np.sin(xp), 3, U, P)
    assert type(e.value) is Exception
    assert P[0] == np.sin(0.0) and P[-1] == np.sin(1.0)


def test_under_optimisation_inconsistent_calls_fail_cleanly(run_python):
    code = textwrap.dedent(
        """
        import numpy as np
        from pyvelt import arcus
        x = np.linspace(0, 1, 6)
        U = np.array([0.0] * 4 + [0.5] + [1.0] * 4)
        for call in (
            lambda: arcus.gcsplapp(x, x[:5], 3, U, np.empty(5)),      # fp short
            lambda: arcus.gcsplapp(x[:2], x[:2], 3, U, np.empty(5)),  # too few data points
            lambda: arcus.gcsplapp(x, x, 0, U[:7], np.empty(5)),      # p = 0
            lambda: arcus.gdsplapp(x, x, 2, U[:6], np.empty(3)),      # n < 3
            lambda: arcus.gcsplapp(x, x, 3, U, np.empty(1)),          # a single control point
        ):
            try:
                call()
            except ValueError:
                print("ValueError")
        P = np.empty(6)
        arcus.gcsplapp(x, x, 1, np.array([0, 0, .2, .4, .6, .8, 1, 1]), P)   # n = mm is computed
        print(np.allclose(P, x))
        """
    )
    out = run_python(code, "-O", "-W", "ignore", check=True)
    assert out.stdout.split() == ["ValueError"] * 5 + ["True"]


def test_large_fit_does_not_block_other_threads(lock_probe):
    # the fit is banded: it needs many points to run long enough to be measured
    xp = np.linspace(0.0, 1.0, 1_000_000)
    fp, U, P = np.sin(7 * xp), lsq_knots(xp, 3, 600), np.empty(600)

    def fits():
        for _ in range(5):
            arcus.gcsplapp(xp, fp, 3, U, P)

    probe = lock_probe(fits, switch_interval=0.001)
    dt = probe.duration
    if dt < 0.1:
        pytest.skip("the fit ran too fast to measure")
    # holding the lock, the other thread would only run in the 1 ms slices between the calls
    assert probe.spins > 0.25 * probe.rate * dt


def mp_lstsq(A, b, bw, dps=60):
    """Least-squares solution of A x = b (A with bandwidth bw) from the normal equations in
    `dps`-digit arithmetic: cond(A)**2 stays far below 10**dps."""
    import mpmath

    with mpmath.workdps(dps):
        n = A.shape[1]
        rows = [(np.flatnonzero(r), r) for r in A]
        G = [dict() for _ in range(n)]
        h = [mpmath.mpf(0)] * n
        for (nz, r), bk in zip(rows, b):
            for i in nz:
                h[i] += mpmath.mpf(r[i]) * mpmath.mpf(bk)
                for j in nz:
                    if j >= i:
                        G[i][j] = G[i].get(j, mpmath.mpf(0)) + mpmath.mpf(r[i]) * mpmath.mpf(r[j])
        # banded Cholesky G = L L^T (upper rows stored), then two substitutions
        for i in range(n):
            for k in range(max(0, i - bw), i):
                if i in G[k]:
                    f = G[k][i] / G[k][k]
                    for j in range(i, min(n, k + bw + 1)):
                        if j in G[k]:
                            G[i][j] = G[i].get(j, mpmath.mpf(0)) - f * G[k][j]
                    h[i] -= f * h[k]
        x = [mpmath.mpf(0)] * n
        for i in reversed(range(n)):
            s = h[i] - sum(G[i][j] * x[j] for j in G[i] if j > i)
            x[i] = s / G[i][i]
        return np.array([float(v) for v in x])


@pytest.mark.parametrize("func", ["gcsplapp", "gdsplapp"])
@pytest.mark.parametrize("p", [5, 7])
def test_ill_conditioned_fit_keeps_its_digits(func, p):
    # 200 points, 150 control points: cond of the problem about 7e8 (p = 5) and 7e12 (p = 7);
    # the normal equations square it and lost every digit at p = 7
    rng = np.random.default_rng(0)
    xp = np.sort(rng.uniform(0.0, 1.0, 200))
    xp[0], xp[-1] = 0.0, 1.0
    fp = np.sin(6 * xp) + 0.1 * rng.standard_normal(200)
    U = lsq_knots(xp, p, 150)
    P = np.empty(150)
    if func == "gdsplapp":
        arcus.gdsplapp(xp, fp, p, U, P, (1.0, -2.0))
        fixed = [0, 1, 148, 149]
    else:
        arcus.gcsplapp(xp, fp, p, U, P)
        fixed = [0, 149]
    A = BSpline.design_matrix(xp, U, p).toarray()[1:-1]
    free = [i for i in range(150) if i not in fixed]
    ref = mp_lstsq(A[:, free], fp[1:-1] - A[:, fixed] @ P[fixed], p)
    assert np.abs(P[free] - ref).max() <= 1e-11 * np.abs(ref).max()


@pytest.mark.parametrize("func", ["gcsplapp", "gdsplapp"])
def test_numerically_rank_deficient_fit_is_refused(func):
    # the only data point in the support of the middle control points lies 1e-9 past a knot,
    # where their basis values are below 1e-25: the system has no meaningful solution
    xp = np.r_[np.linspace(0, 0.2, 10), 0.4 + 1e-9, np.linspace(0.8, 1.0, 10)]
    U = np.r_[[0.0] * 4, 0.4, 0.45, 0.5, 0.55, 0.6, [1.0] * 4]
    A = BSpline.design_matrix(xp, U, 3).toarray()
    assert np.linalg.matrix_rank(A[1:-1, 2:-2]) < 5
    with pytest.raises(Exception, match=r"^'dgesv' LAPACK function failed with 'info' value: \d+$"):
        getattr(arcus, func)(xp, np.sin(xp), 3, U, np.empty(9))


def test_inner_points_in_any_order():
    xp, fp = noisy(60, seed=3)
    order = np.r_[0, 1 + np.random.default_rng(0).permutation(58), 59]
    U = lsq_knots(xp, 3, 12)
    P = np.empty(12)
    arcus.gcsplapp(xp[order], fp[order], 3, U, P)
    check_lstsq(xp, fp, U, 3, P, [0, 11])
