"""Interpolation (gcsplint, gdsplint, gadsplint, cdsplint) against scipy.interpolate."""
import textwrap

import numpy as np
import pytest
from scipy.interpolate import BSpline, make_interp_spline

from pyvelt import arcus

import cabi

LAPACK_MSG = r"^'dgesv' LAPACK function failed with 'info' value: \d+$"


def data(npts=12, seed=0):
    rng = np.random.default_rng(seed)
    xp = np.sort(rng.uniform(0.0, 5.0, npts))
    xp[0], xp[-1] = 0.0, 5.0
    return xp, np.sin(xp) + 0.3 * xp


def knots(kind, xp, p, *kl):
    """Knot vector of the placement rule `kind` (averaging, averaging2, averaging3)."""
    U = np.empty(len(xp) + {"averaging": 0, "averaging2": 2, "averaging3": sum(kl)}[kind] + p + 1)
    getattr(arcus, kind)(xp, p, *kl, U)
    return U


def bc(Ds, De):
    return ([(i + 1, v) for i, v in enumerate(Ds)] or None, [(i + 1, v) for i, v in enumerate(De)] or None)


@pytest.mark.parametrize("p", [2, 3, 5])
def test_gcsplint_matches_scipy_and_the_dense_solve(p):
    xp, fp = data()
    U = knots("averaging", xp, p)
    P = np.empty(len(xp))
    arcus.gcsplint(xp, fp, p, U, P)
    assert P == pytest.approx(make_interp_spline(xp, fp, k=p, t=U).c, abs=1e-12)
    assert P == pytest.approx(np.linalg.solve(BSpline.design_matrix(xp, U, p).toarray(), fp), abs=1e-12)
    assert [arcus.splpev(x, U, P, p) for x in xp] == pytest.approx(fp, abs=1e-12)


@pytest.mark.parametrize("p, dy, npts", [(2, (1.0, -0.5), 12), (4, (-1.0, 0.0), 12), (3, None, 12), (3, (0.5, 1.5), 2)])
def test_gdsplint_matches_scipy_with_end_slopes(p, dy, npts):
    xp, fp = data(npts)
    U = knots("averaging2", xp, p)
    P = np.empty(npts + 2)
    if dy is None:
        arcus.gdsplint(xp, fp, p, U, P)
        dy = (0.0, 0.0)
    else:
        arcus.gdsplint(xp=xp, fp=fp, p=p, U=U, P=P, dy=dy)
    assert P == pytest.approx(make_interp_spline(xp, fp, k=p, t=U, bc_type=bc([dy[0]], [dy[1]])).c, abs=1e-12)
    d = BSpline(U, P, p).derivative()
    assert [d(xp[0]), d(xp[-1])] == pytest.approx(list(dy), abs=1e-12)


@pytest.mark.parametrize("p, k, l", [(2, 1, 1), (3, 2, 1), (4, 3, 0), (4, 0, 3), (5, 2, 4)])
def test_gadsplint_matches_scipy_with_arbitrary_end_derivatives(p, k, l):
    xp, fp = data()
    rng = np.random.default_rng(p * 10 + k)
    Ds, De = rng.normal(size=k), rng.normal(size=l)
    U = knots("averaging3", xp, p, k, l)
    P = np.empty(len(xp) + k + l)
    arcus.gadsplint(xp, fp, p, Ds, De, U, P)
    assert P == pytest.approx(make_interp_spline(xp, fp, k=p, t=U, bc_type=bc(Ds, De)).c, rel=1e-9, abs=1e-9)


def test_gadsplint_without_derivatives_is_gcsplint():
    xp, fp = data()
    U = knots("averaging3", xp, 3, 0, 0)
    P1, P2 = np.empty(len(xp)), np.empty(len(xp))
    arcus.gadsplint(xp, fp, 3, np.empty(0), np.empty(0), U, P1)
    arcus.gcsplint(xp, fp, 3, U, P2)
    assert np.array_equal(P1, P2)


def dense_collocation(xp, U, p):
    """gcsplint's matrix: unit first and last rows, basis functions at the inner abscissae."""
    A = BSpline.design_matrix(xp, U, p).toarray()
    A[0], A[-1] = np.eye(len(xp))[0], np.eye(len(xp))[-1]
    return A


@pytest.mark.parametrize("p", [2, 4, 6, 7])
def test_gcsplint_many_clustered_points_match_scipy(p):
    # degrees with and without a fixed-degree basis path; points clustered and spread out
    rng = np.random.default_rng(p)
    xp = np.r_[0.0, 1e-3 * np.arange(1, 6), np.sort(rng.uniform(0.01, 0.99, 300)), 1.0] + 1e3
    fp = np.cos(7 * xp)
    U = knots("averaging", xp, p)
    P = np.empty(len(xp))
    arcus.gcsplint(xp, fp, p, U, P)
    assert P == pytest.approx(make_interp_spline(xp, fp, k=p, t=U).c, rel=1e-9, abs=1e-9)


@pytest.mark.parametrize("p", [3, 4])
def test_gcsplint_inner_abscissae_out_of_order_are_solved_with_pivoting(p):
    # two inner points swapped: the rows are no longer totally positive, the
    # band still holds them
    xp, fp = data(16, seed=1)
    U = knots("averaging", xp, p)
    xp[[5, 6]], fp[[5, 6]] = xp[[6, 5]], fp[[6, 5]]
    P = np.empty(len(xp))
    arcus.gcsplint(xp, fp, p, U, P)
    assert P == pytest.approx(np.linalg.solve(dense_collocation(xp, U, p), fp), abs=1e-12)


def test_gcsplint_singular_matrix_reports_lapacks_own_info():
    from scipy.linalg import lapack

    xp, fp = np.array([0.0, 0.3, 0.5, 0.5, 0.8, 1.0]), np.arange(6.0)
    U, p = knots("averaging", xp, 2), 2
    A, kl = dense_collocation(xp, U, p), p - 1
    ab = np.zeros((3 * kl + 1, len(xp)), order="F")
    for i, j in zip(*np.nonzero(A)):
        ab[2 * kl + i - j, j] = A[i, j]
    info = lapack.dgbsv(kl, kl, ab, fp.copy())[-1]
    assert info > 0
    with pytest.raises(Exception, match=rf"^'dgesv' LAPACK function failed with 'info' value: {info}$"):
        arcus.gcsplint(xp, fp, p, U, np.empty(6))


@pytest.mark.parametrize("npts, dy", [(12, (1.0, 0.3)), (4, (-2.0, 0.5)), (5, None)])
def test_cdsplint_matches_scipy_cubic_with_end_slopes(npts, dy):
    xp, fp = data(npts, seed=3)
    U, P = np.empty(npts + 6), np.empty(npts + 2)
    if dy is None:
        arcus.cdsplint(xp, fp, U, P)
        dy = (0.0, 0.0)
    else:
        arcus.cdsplint(U=U, P=P, xp=xp, fp=fp, dy=dy)
    ref = make_interp_spline(xp, fp, k=3, bc_type=bc([dy[0]], [dy[1]]))
    assert np.array_equal(U, ref.t)
    assert P == pytest.approx(ref.c, abs=1e-12)


X4, F4, U8 = np.array([0.0, 1.0, 2.0, 3.0]), np.ones(4), np.array([0.0] * 4 + [3.0] * 4)
E0, E1 = np.empty(0), np.ones(1)


@pytest.mark.parametrize(
    "func, args, nP, msg",
    [
        ("gcsplint", (X4, F4[:3], 3, U8), 5, "xp and fp must have same dimension"),
        ("gcsplint", (X4, F4, 3, U8), 5, "P dimension must be: len(xp)"),
        ("gcsplint", (X4, F4, 1, U8), 4, "p must be greater than 1"),
        ("gdsplint", (X4, F4, 3, U8), 4, "P dimension must be: len(xp) + 2"),
        ("gdsplint", (X4, F4, 1, U8), 6, "p must be greater than 1"),
        ("gadsplint", (X4, F4[:3], 3, E1, E1, U8), 6, "xp and fp must have same dimension"),
        ("gadsplint", (X4, F4, 3, E1, E1, U8), 5, "P dimension must be: len(xp) + len(Ds) + len(De)"),
        ("gadsplint", (X4, F4, 1, E1, E0, U8), 5, "p must be greater than 1"),
        ("gadsplint", (X4, F4, 3, E0, np.ones(3), U8), 7, "the maximum constrained derivative must be less than 'p'"),
        ("cdsplint", (X4, F4[:3], np.full(11, 7.0)), 6, "xp and fp must have same dimension"),
        ("cdsplint", (X4, F4, np.full(11, 7.0)), 5, "P dimension must be: len(xp) + 2"),
    ],
)
def test_assertions_raise_before_anything_is_written(func, args, nP, msg):
    P = np.full(nP, 7.0)
    with pytest.raises(AssertionError) as e:
        getattr(arcus, func)(*args, P)
    assert str(e.value) == msg
    assert np.all(P == 7.0)
    if func == "cdsplint":
        assert np.all(args[-1] == 7.0)  # U is not written either


def test_cdsplint_three_points_fails_with_minus_one_after_writing_U():
    U, P = np.zeros(9), np.zeros(5)
    with pytest.raises(ValueError, match=r"^the algorithm failed with 'info' value: -1$"):
        arcus.cdsplint(np.array([0.0, 0.4, 1.0]), np.array([1.0, 2.0, 3.0]), U, P, (1.0, 1.0))
    assert list(U) == [0, 0, 0, 0, 0.4, 1, 1, 1, 1]
    assert (P[0], P[4]) == (1.0, 3.0) and P[1] == pytest.approx(1.0 + 0.4 / 3)


@pytest.mark.parametrize(
    "xp, exc, match",
    [
        ([0.0, 0.6, 0.4, 0.8, 1.0], ValueError, r"^the algorithm failed with 'info' value: -3$"),
        ([0.0, 0.5, 0.5, 0.8, 1.0], ZeroDivisionError, r"^float division by zero$"),  # not NaN
        ([], ValueError, r"^the algorithm failed with 'info' value: -1$"),
    ],
)
def test_cdsplint_kernel_failures(xp, exc, match):
    xp = np.array(xp)
    P = np.zeros(len(xp) + 2)
    with pytest.raises(exc, match=match):
        arcus.cdsplint(xp, np.arange(len(xp), dtype=float), np.zeros(len(xp) + 6), P)
    assert not np.isnan(P).any()


@pytest.mark.parametrize("func", ["gcsplint", "gdsplint", "gadsplint"])
def test_singular_collocation_matrix_raises_the_lapack_exception(func):
    xp, fp = np.array([0.0, 0.3, 0.5, 0.5, 0.8, 1.0]), np.arange(6.0)  # two equal rows
    args = {
        "gcsplint": (xp, fp, 2, knots("averaging", xp, 2), np.empty(6)),
        "gdsplint": (xp, fp, 2, knots("averaging2", xp, 2), np.empty(8)),
        "gadsplint": (xp, fp, 3, E1, E1, knots("averaging3", xp, 3, 1, 1), np.empty(8)),
    }[func]
    with pytest.raises(Exception, match=LAPACK_MSG) as e:
        getattr(arcus, func)(*args)
    assert type(e.value) is Exception


@pytest.mark.parametrize("delta", [-1, 1])
@pytest.mark.parametrize("func, head, extra", [("gcsplint", 3, 0), ("gdsplint", 3, 2), ("cdsplint", None, 2)])
def test_knot_vector_of_the_wrong_length_is_rejected(delta, func, head, extra):
    xp, fp = data()
    P = np.full(len(xp) + extra, 7.0)
    U = np.linspace(0, 5, len(xp) + extra + 4 + delta)
    args = (xp, fp, U, P) if head is None else (xp, fp, head, U, P)
    with pytest.raises(ValueError, match=rf"^{func}\(\): array 'U'"):
        getattr(arcus, func)(*args)
    assert np.all(P == 7.0)


def test_knot_vector_that_does_not_fit_the_data_is_rejected():
    # data crowded at the start, equally spaced knots: a row reaches beyond p - 1 diagonals
    xp = np.array([0, 0.05, 0.1, 0.15, 0.2, 0.9, 1.0])
    U = np.empty(11)
    arcus.eqspaced(xp, 3, U)
    P = np.full(7, 5.0)
    with pytest.raises(ValueError, match=r"^gcsplint\(\): the knot vector U does not fit the data"):
        arcus.gcsplint(xp, np.sin(xp), 3, U, P)
    assert np.all(P == 5.0)
    U = np.array([0, 0, 0, 0.5, 1, 1, 1.0])
    with pytest.raises(ValueError, match=r"xp\[2\] = 2.0 lies outside the knot domain \[0.0, 1.0\]"):
        arcus.gcsplint(np.array([0, 0.5, 2, 1.0]), F4, 2, U, np.empty(4))
    with pytest.raises(ValueError, match=r"xp\[1\] = nan lies outside"):
        arcus.gcsplint(np.array([0, np.nan, 0.5, 1.0]), F4, 2, U, np.empty(4))


@pytest.mark.parametrize(
    "call, match",
    [
        (lambda: arcus.gcsplint(X4, F4, 4, np.zeros(9), np.empty(4)), r"4 data points are too few for degree 4 \(at least 5"),
        (lambda: arcus.gdsplint(X4[:1], F4[:1], 2, np.zeros(6), np.empty(3)), r"1 data points are too few for degree 2"),
        (lambda: arcus.gadsplint(X4[:2], F4[:2], 5, E1, E1, np.zeros(10), np.empty(4)), r"too few for degree 5 \(at least 4"),
    ],
)
def test_too_few_points_for_the_degree_are_rejected(call, match):
    with pytest.raises(ValueError, match=match):
        call()


def test_c_entry_and_dy_argument():
    xp, fp = data()
    U = knots("averaging2", xp, 3)
    P1, P2 = np.empty(len(xp) + 2), np.empty(len(xp) + 2)
    arcus.gdsplint(P=P1, U=U, dy=(0.5, 0.5), p=3, fp=fp, xp=xp)
    entry = cabi.entry("gdsplint")
    entry(cabi.darr(xp), cabi.darr(fp), 3, cabi.darr(U), cabi.darr(P2), cabi.OptDy(1, (0.5, 0.5)))
    assert np.array_equal(P1, P2)
    entry(cabi.darr(xp), cabi.darr(fp), 3, cabi.darr(U), cabi.darr(P2), cabi.OptDy(0, (9.0, 9.0)))  # default
    arcus.gdsplint(xp, fp, 3, U, P1)
    assert np.array_equal(P1, P2)
    with pytest.raises(TypeError, match=r"^Expected a tuple of size 2, got list$"):
        arcus.gdsplint(xp, fp, 3, U, P1, [0.0, 0.0])


@pytest.mark.parametrize(
    "name, opening",
    [
        ("gcsplint", "Global Curve Spline Interpolation to point data\n"),
        ("gdsplint", "Global curve Interpolation with end Derivatives specified\n"),
        ("gadsplint", "Global cuve Iterpolation with Arbitrary End Derivatives\n"),
        ("cdsplint", "Wrapper for 'SolveTridiagonal' function of cardo C-library.\n"),
    ],
)
def test_docstrings(name, opening):
    doc = getattr(arcus, name).__doc__
    assert doc.startswith(opening)
    assert all(f"\n{s}\n" in doc for s in ("Parameters", "Returns", "Notes", "References"))


def test_under_optimisation_inconsistent_calls_fail_cleanly(run_python):
    code = textwrap.dedent(
        """
        import numpy as np
        from pyvelt import arcus
        x = np.array([0.0, 1.0, 2.0, 3.0])
        P = np.empty(4)
        arcus.gcsplint(x, x * 2, 1, np.array([0, 0, 1, 2, 3, 3.0]), P)   # p = 1 is computed
        print(P.tolist() == [0.0, 2.0, 4.0, 6.0])
        U = np.array([0.0] * 4 + [1.5] + [3.0] * 4)
        for call in (
            lambda: arcus.gcsplint(x, x[:3], 2, U[1:-1], P),          # fp short
            lambda: arcus.gcsplint(x, x, 2, U[1:-1], P[:3]),          # P short
            lambda: arcus.gdsplint(x, x, 1, U, np.empty(6)),          # p = 1: no room for the slopes
            lambda: arcus.gadsplint(x, x, 2, np.ones(3), np.empty(0), np.zeros(10), np.empty(7)),
            lambda: arcus.cdsplint(x, x, np.empty(10), np.empty(5)),  # P short
        ):
            try:
                call()
            except ValueError:
                print("ValueError")
        """
    )
    out = run_python(code, "-O", "-W", "ignore", check=True)
    assert out.stdout.split() == ["True"] + ["ValueError"] * 5
