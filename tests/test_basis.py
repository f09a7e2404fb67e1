"""Basis functions and evaluation of splines and derivatives, against scipy.interpolate."""
import numpy as np
import pytest
from scipy.interpolate import BSpline, PPoly

from pyvelt import arcus
from conftest import clamped


# cubic and quintic, simple and repeated interior knots
CASES = [
    (3, clamped(3, [0.3, 0.5, 0.7])),
    (3, clamped(3, [0.25, 0.5, 0.5, 0.9])),
    (5, clamped(5, [0.2, 0.4, 0.6, 0.8])),
    (5, clamped(5, [0.3, 0.3, 0.3, 0.6]), ),
    (2, clamped(2, [-1.0, 2.0, 2.0], a=-3.0, b=4.0)),
]
IDS = ["cubic", "cubic-double", "quintic", "quintic-triple", "quadratic-wide"]


def spline(p, U, seed=0):
    P = np.random.default_rng(seed).normal(size=len(U) - p - 1)
    return P, BSpline(U, P, p)


def derivs(s, order):
    """Derivatives 0..order of a BSpline (through its piecewise polynomial,
    which also handles repeated interior knots)."""
    pp = PPoly.from_spline(s)
    return [pp] + [pp.derivative(k) for k in range(1, order + 1)]


def grid(U, k=97):
    return np.linspace(U[0], U[-1], k)


# ---------------------------------------------------------------- basis functions

@pytest.mark.parametrize("p, U", CASES, ids=IDS)
def test_bfunpev_and_bfuncev_match_basis_elements(p, U):
    m = len(U) - 1
    x = grid(U)[:-1]          # right end handled separately below
    for i in range(m - p):
        ref = BSpline.basis_element(U[i:i + p + 2], extrapolate=False)(x)
        ref = np.nan_to_num(ref)
        got = np.array([arcus.bfunpev(u, i, U, p) for u in x])
        np.testing.assert_allclose(got, ref, atol=1e-13)
        C = x.copy()
        arcus.bfuncev(C, i, U, p)
        np.testing.assert_array_equal(C, got)


@pytest.mark.parametrize("p, U", CASES, ids=IDS)
def test_bfunpev_ends(p, U):
    m = len(U) - 1
    n = m - p - 1
    assert arcus.bfunpev(U[0], 0, U, p) == 1.0
    assert arcus.bfunpev(U[m], n, U, p) == 1.0
    assert arcus.bfunpev(U[m], n - 1, U, p) == 0.0
    # outside the support [U[i], U[i+p+1])
    assert arcus.bfunpev(U[m], 0, U, p) == 0.0
    assert arcus.bfunpev(U[0] - 1.0, 1, U, p) == 0.0


@pytest.mark.parametrize("p", [0, 1, 2, 3])
@pytest.mark.parametrize("delta", [1e-12, 5e-11, 0.0])
def test_basis_functions_partition_unity_just_below_a_knot(p, delta):
    U = clamped(p, [0.5, 0.75])
    m = len(U) - 1
    for u in (0.5 - delta, 0.75 - delta):
        total = sum(arcus.bfunpev(u, i, U, p) for i in range(m - p))
        assert total == pytest.approx(1.0, abs=1e-12)
        vals = [arcus.bfunpev(u, i, U, p) for i in range(m - p)]
        assert min(vals) > -1e-9


@pytest.mark.parametrize("p, U", CASES, ids=IDS)
def test_bfunspev_matches_design_matrix(p, U):
    x = grid(U, 41)
    D = BSpline.design_matrix(x, U, p).toarray()
    N = np.empty(p + 1)
    for r, u in enumerate(x):
        s = arcus.findspan(p, u, U)
        arcus.bfunspev(u, s, U, p, N)
        np.testing.assert_allclose(N, D[r, s - p:s + 1], atol=1e-13)
        assert N.sum() == pytest.approx(1.0, abs=1e-14)


@pytest.mark.parametrize("p, U", CASES, ids=IDS)
def test_dbfunspev_matches_basis_derivatives(p, U):
    k = p + 2                 # rows above p must come out as 0
    nders = np.full((k + 1, p + 1), np.nan)
    n = len(U) - p - 2
    for u in grid(U, 23)[1:-1]:
        s = arcus.findspan(p, u, U)
        arcus.dbfunspev(u, s, U, p, k, nders)
        for j in range(p + 1):
            c = np.zeros(n + 1)
            c[s - p + j] = 1.0
            ds = derivs(BSpline(U, c, p), p)
            for r in range(p + 1):
                ref = ds[r](u)
                assert nders[r, j] == pytest.approx(ref, rel=1e-9, abs=1e-9)
        assert (nders[p + 1:] == 0).all()


def test_dbfunspev_huge_k_is_reported_exactly():
    U = clamped(3, [0.5])
    with pytest.raises(ValueError, match=r"shape \(2147483648, 4\), got \(3, 4\)$"):
        arcus.dbfunspev(0.5, 3, U, 3, 2**31 - 1, np.empty((3, 4)))


@pytest.mark.parametrize(
    "call, text",
    [
        (lambda U: arcus.bfunpev(0.5, 6, U, 3), "span 6 would read outside U"),
        (lambda U: arcus.bfunpev(0.5, -1, U, 3), "span -1"),
        (lambda U: arcus.bfuncev(np.array([0.5]), 9, U, 3), "span 9"),
        (lambda U: arcus.bfunspev(0.5, 1, U, 3, np.empty(4)), "span 1"),
        (lambda U: arcus.bfunspev(0.5, 9, U, 3, np.empty(4)), "span 9"),
        (lambda U: arcus.bfunspev(0.5, 3, U, 3, np.empty(3)), "'N' needs at least 4"),
        (lambda U: arcus.dbfunspev(0.5, 3, U, 3, 2, np.empty((2, 4))), "'nders' must have shape"),
        (lambda U: arcus.dbfunspev(0.5, 3, U, 3, 2, np.empty((3, 3))), "'nders' must have shape"),
        (lambda U: arcus.dbfunspev(0.5, 3, U, 3, -1, np.empty((3, 4))), "'k' must be >= 0"),
        (lambda U: arcus.bfunpev(0.5, 0, U, -1), "'p' must be >= 0"),
    ],
)
def test_basis_functions_reject_reads_outside_U(call, text):
    U = clamped(3, [0.5])     # m = 8: basis indices 0..4, spans up to 5
    with pytest.raises(ValueError, match=text):
        call(U)


def test_zero_length_span_gives_nan_not_an_error():
    U = clamped(2, [0.5, 0.5])
    N = np.empty(3)
    arcus.bfunspev(0.5, 3, U, 2, N)     # span 3 has zero length
    assert not np.isfinite(N).all()


# ---------------------------------------------------------------- curve evaluation

@pytest.mark.parametrize("p", [1, 2, 3, 4, 5, 6, 7])
@pytest.mark.parametrize("order", ["sorted", "shuffled", "knots-within-tolerance"])
def test_splcev_every_degree_and_order_matches_scipy_and_splpev(p, order):
    rng = np.random.default_rng(p)
    U = clamped(p, np.sort(rng.uniform(-2.0, 3.0, 12)), a=-2.0, b=3.0)
    U[p + 6] = U[p + 5]                 # a double knot
    P, s = spline(p, U)
    # the knots, and just below them within and beyond the knot tolerance
    near = np.r_[U, U * (1 - 3e-10) - 1e-14, U * (1 - 3e-9) - 3e-13]
    near = near[(near >= U[0]) & (near <= U[-1])]
    x = np.r_[U[0], np.sort(np.r_[rng.uniform(-2.0, 3.0, 400), near]), U[-1]]
    if order == "shuffled":
        x[1:-1] = rng.permutation(x[1:-1])
    elif order == "knots-within-tolerance":
        U[p + 4] = U[p + 3] - 1e-14    # decreasing by less than the tolerance: still valid
    C = x.copy()
    arcus.splcev(C, U, P, p)
    np.testing.assert_array_equal(C, [arcus.splpev(u, U, P, p) for u in x])
    away = np.abs(x[:, None] - U).min(axis=1) > 1e-8     # scipy has no knot tolerance
    np.testing.assert_allclose(C[away], s(x[away]), rtol=1e-12, atol=1e-12)


@pytest.mark.parametrize("p", [1, 2, 3, 4, 5, 6, 7])
@pytest.mark.parametrize("r1, r2", [(0, 0), (1, 1), (0, 2), (2, 8)])
def test_dsplcev_every_degree_matches_scipy_and_dsplpev(p, r1, r2):
    rng = np.random.default_rng(10 + p)
    U = clamped(p, np.sort(rng.uniform(0.0, 1.0, 10)))
    P, s = spline(p, U)
    x = np.r_[0.0, np.sort(rng.uniform(0.0, 1.0, 200)), U[p + 2], 1.0]
    x[5:50] = rng.permutation(x[5:50])
    CK = np.empty((r2 - r1 + 1, len(x)))
    arcus.dsplcev(x, U, P, p, r1, r2, CK)
    ref = np.array([s(x, nu=k) if k <= p else np.zeros_like(x) for k in range(r1, r2 + 1)])
    scale = np.abs(ref).max(axis=1, keepdims=True) + 1.0
    assert np.all(np.abs(CK - ref) <= 1e-11 * scale)
    one = np.empty(r2 + 1)
    for i in (0, 7, 60, len(x) - 2, len(x) - 1):
        arcus.dsplpev(x[i], U, P, p, r2, one)
        assert np.array_equal(CK[:, i], one[r1:])


@pytest.mark.parametrize("p, U", CASES, ids=IDS)
def test_splpev_and_splcev_match_scipy(p, U):
    P, s = spline(p, U)
    x = grid(U)
    ref = s(x)
    got = np.array([arcus.splpev(u, U, P, p) for u in x])
    np.testing.assert_allclose(got, ref, rtol=1e-13, atol=1e-13)
    C = x.copy()
    arcus.splcev(C, U, P, p)
    np.testing.assert_array_equal(C, got)
    assert arcus.splpev(U[0], U, P, p) == P[0]
    assert arcus.splpev(U[-1], U, P, p) == pytest.approx(P[-1], abs=1e-15)


@pytest.mark.parametrize("p, U", CASES, ids=IDS)
def test_splcev_any_order_of_parameters(p, U):
    P, s = spline(p, U, seed=3)
    rng = np.random.default_rng(4)
    x = rng.uniform(U[0], U[-1], 200)
    x = np.r_[U[0], x, U[p + 1:-p - 1], x[::-1], U[-1]]   # knots hit exactly, decreasing runs
    C = x.copy()
    arcus.splcev(C, U, P, p)
    np.testing.assert_allclose(C, s(x), rtol=1e-12, atol=1e-12)


def test_splcev_interior_parameters_outside_the_domain_extrapolate():
    p, U = CASES[0]
    P, s = spline(p, U)
    x = np.array([0.0, 1.5, -0.5, 0.3, 1.0])
    C = x.copy()
    arcus.splcev(C, U, P, p)
    np.testing.assert_allclose(C, s(x, extrapolate=True), rtol=1e-12)
    C = np.array([0.0, np.nan, 1.0])
    arcus.splcev(C, U, P, p)          # terminates; NaN in, NaN out
    assert np.isnan(C[1])


@pytest.mark.parametrize("p, U", CASES, ids=IDS)
def test_dsplpev_and_dsplcev_match_scipy_derivatives(p, U):
    P, s = spline(p, U, seed=7)
    x = grid(U, 31)
    d = p + 2
    refs = [f(x) for f in derivs(s, p)]
    CK = np.empty(d + 1)
    for i, u in enumerate(x):
        arcus.dsplpev(u, U, P, p, d, CK)
        for k in range(p + 1):
            assert CK[k] == pytest.approx(refs[k][i], rel=1e-9, abs=1e-9 * (1 + abs(refs[k]).max()))
        assert (CK[p + 1:] == 0).all()
    r1, r2 = 1, p + 1
    CK2 = np.full((r2 - r1 + 1, len(x)), np.nan)
    arcus.dsplcev(x, U, P, p, r1, r2, CK2)
    for k in range(r1, r2 + 1):
        ref = refs[k] if k <= p else np.zeros_like(x)
        np.testing.assert_allclose(CK2[k - r1], ref, rtol=1e-9, atol=1e-9 * (1 + abs(ref).max()))


@pytest.mark.parametrize("p", [90, 130])
def test_high_degree_evaluation_matches_scipy(p):
    # Degrees whose work arrays no longer fit the routines' stack storage.
    U = clamped(p, [0.3, 0.55, 0.55])
    P, s = spline(p, U, seed=p)
    x = grid(U, 41)
    refs = [s(x, nu=k) for k in range(3)]
    tol = [dict(rtol=1e-10, atol=1e-12 * abs(r).max()) for r in refs]
    np.testing.assert_allclose([arcus.splpev(u, U, P, p) for u in x], refs[0], **tol[0])
    C = x.copy()
    arcus.splcev(C, U, P, p)
    np.testing.assert_allclose(C, refs[0], **tol[0])
    CK = np.empty((len(x), 3))
    for i, u in enumerate(x):
        arcus.dsplpev(u, U, P, p, 2, CK[i])
    CK2 = np.empty((3, len(x)))
    arcus.dsplcev(x, U, P, p, 0, 2, CK2)
    for k in range(3):
        np.testing.assert_allclose(CK[:, k], refs[k], **tol[k])
        np.testing.assert_allclose(CK2[k], refs[k], **tol[k])


@pytest.mark.parametrize(
    "call, info",
    [
        (lambda U, P, out: arcus.splpev(0.5, U, P, -1), -2),
        (lambda U, P, out: arcus.splpev(0.5, U, P[:2], 3), -1),
        (lambda U, P, out: arcus.splpev(0.5, np.r_[U[:4], 2.0, U[5:]], P, 3), -3),
        (lambda U, P, out: arcus.splpev(1.0 + 1e-12, U, P, 3), -5),
        (lambda U, P, out: arcus.splpev(-1e-300, U, P, 3), -5),
        (lambda U, P, out: arcus.dsplpev(0.5, U, P, 3, -1, out), -6),
        (lambda U, P, out: arcus.dsplpev(2.0, U, P, 3, 1, out), -5),
    ],
)
def test_point_evaluation_codes(call, info):
    p, U = CASES[0]
    P, _ = spline(p, U)
    out = np.full(4, 9.0)
    with pytest.raises(ValueError) as ei:
        call(U, P, out)
    assert str(ei.value) == f"the algorithm failed with 'info' value: {info}"
    assert (out == 9.0).all()


@pytest.mark.parametrize(
    "C, info",
    [
        (np.array([0.0, 0.5, 1.0 + 1e-9]), -5),
        (np.array([-0.1, 0.5, 1.0]), -5),
        (np.empty(0), -6),
    ],
)
def test_splcev_codes_leave_C_unchanged(C, info):
    p, U = CASES[0]
    P, _ = spline(p, U)
    before = C.copy()
    with pytest.raises(ValueError, match=f"'info' value: {info}$"):
        arcus.splcev(C, U, P, p)
    np.testing.assert_array_equal(C, before)


@pytest.mark.parametrize(
    "r1, r2, C, rows, info",
    [
        (-1, 1, [0.5], 3, -5),
        (2, 1, [0.5], 1, -6),
        (0, 1, [], 2, -7),
        (0, 1, [0.5, 1.2], 2, -8),
        (1, 2, [0.2, 0.5], 3, -9),
    ],
)
def test_dsplcev_codes_leave_CK_unchanged(r1, r2, C, rows, info):
    p, U = CASES[0]
    P, _ = spline(p, U)
    C = np.array(C, dtype=float)
    CK = np.full((rows, max(len(C), 1)), 5.0)
    with pytest.raises(ValueError, match=f"'info' value: {info}$"):
        arcus.dsplcev(C, U, P, p, r1, r2, CK)
    assert (CK == 5.0).all()


@pytest.mark.parametrize(
    "call, text",
    [
        (lambda U, P: arcus.splpev(0.5, U[:-1], P, 3), "'U' needs at least 9"),
        (lambda U, P: arcus.splcev(np.array([0.5]), U[:5], P, 3), "'U' needs at least 9"),
        (lambda U, P: arcus.dsplpev(0.5, U, P, 3, 4, np.empty(4)), "'CK' needs at least 5"),
        (lambda U, P: arcus.dsplcev(np.array([0.1, 0.5]), U, P, 3, 0, 1, np.empty((2, 1))),
         "'CK' must have 2 columns"),
        (lambda U, P: arcus.dsplcev(np.array([0.1, 0.5]), U, P, 3, 0, 1, np.empty((2, 3))),
         "'CK' must have 2 columns"),
    ],
)
def test_evaluation_rejects_short_arrays(call, text):
    U = clamped(3, [0.5])
    P = np.arange(5.0)
    with pytest.raises(ValueError, match=text):
        call(U, P)


def test_longer_knot_vector_than_needed_is_checked_not_overrun():
    # n comes from P; a U with extra knots fails validation rather than being misread
    U = clamped(3, [0.5])
    with pytest.raises(ValueError, match="-3$"):
        arcus.splpev(0.5, np.r_[U, 1.0, 1.0], np.arange(4.0), 3)


from hypothesis import given, settings  # noqa: E402
from hypothesis import strategies as st  # noqa: E402

NEAR = [0.0, 1e-13, -1e-13, 2e-13, -2e-13, 1e-10, -1e-10, 1e-9, -1e-9, 1e-6, -1e-6]


@settings(max_examples=80, deadline=None)
@given(
    p=st.integers(0, 4),
    knots=st.lists(st.integers(1, 9), max_size=10),
    picks=st.lists(st.tuples(st.integers(0, 30), st.sampled_from(NEAR)), min_size=1, max_size=40),
)
def test_array_evaluation_finds_the_same_spans_as_point_evaluation(p, knots, picks):
    """The span search of splcev/dsplcev starts from the previous span; near
    knots (within and just beyond the tolerance) it must agree with FindSpan."""
    U = clamped(p, np.sort(np.array(knots, dtype=float)) / 10.0, a=0.0, b=1.0)
    n = len(U) - p - 2
    if n < p:
        return
    P = np.random.default_rng(len(knots)).normal(size=n + 1)
    x = np.array([min(max(U[k % len(U)] + off, 0.0), 1.0) for k, off in picks])
    x = np.r_[0.0, np.sort(x), x, 1.0]
    ref = np.array([arcus.splpev(u, U, P, p) for u in x])
    C = x.copy()
    arcus.splcev(C, U, P, p)
    np.testing.assert_array_equal(C, ref)
    CK = np.empty((1, len(x)))
    arcus.dsplcev(x, U, P, p, 0, 0, CK)
    one = np.empty(1)
    ref_d = []
    for u in x:
        arcus.dsplpev(u, U, P, p, 0, one)
        ref_d.append(one[0])
    np.testing.assert_array_equal(CK[0], ref_d)


# Knot vectors that pass the tolerant check without being sorted (a knot a
# little above the end value, a tiny decrease), or that hold an infinite knot:
# several spans can then hold u, and the array evaluations must still pick
# FindSpan's.
UNSORTED = [
    (0, [0, 0, 0.75, 1.0000000005, 1], 0.999999999),
    (1, [0, 0, 1.0000000005, 1, 1], 0.9999999995),
    (1, [0, 0, 0, 0.5, 1.000000001, 1, 1, 1], 0.9999999995),
    (3, [0, 0, 0, 0, 0.2, 0.6, 0.6000000006, 0.6, 1, 1, 1, 0.9999999995], 0.60000000066),
    (2, [0, 0, 0, 0.3000000003, 0.4, 0.5, 0.7, 0.6999999993, 1, 1, 1], 0.7),
    (3, [0, 0, 0, 5e-14, 0.4, 0.9, 0.8999999991000001, 1, 1, 1, 1], 0.89999999865),
    (1, [0, 0, 0.5, 0.5, np.inf, 1], 0.078),
]


@pytest.mark.parametrize("p, U, u", UNSORTED)
def test_array_evaluation_on_unsorted_knots_matches_point_evaluation(p, U, u):
    U = np.array(U, dtype=float)
    assert arcus.validknots(p, U) is False
    n = len(U) - p - 2
    P = (np.arange(n + 1.0) - 1.5) ** 2
    # u after every knot: the search for u starts from each span in turn
    x = np.r_[U[0], np.ravel([[k, u] for k in np.clip(U, U[0], U[-1])]), U[-1]]
    C = x.copy()
    arcus.splcev(C, U, P, p)
    np.testing.assert_array_equal(C, [arcus.splpev(v, U, P, p) for v in x])
    CK = np.empty((p + 1, len(x)))
    arcus.dsplcev(x, U, P, p, 0, p, CK)
    one = np.empty(p + 1)
    for i, v in enumerate(x):
        arcus.dsplpev(v, U, P, p, p, one)
        np.testing.assert_array_equal(CK[:, i], one)


@settings(max_examples=150, deadline=None)
@given(
    p=st.integers(0, 4),
    knots=st.lists(st.integers(1, 9), min_size=1, max_size=6),
    scale=st.sampled_from([1.0, 1e6]),
    shifts=st.lists(st.tuples(st.integers(0, 30), st.sampled_from([-1.0, -0.5, 0.5, 1.0])),
                    min_size=1, max_size=3),
    pick=st.tuples(st.integers(0, 30), st.sampled_from([0.0, 1e-10, -1e-10, 5e-10, -5e-10, 1e-9, -1e-9])),
)
def test_array_evaluation_on_knots_moved_within_the_tolerance(p, knots, scale, shifts, pick):
    U = clamped(p, np.sort(np.array(knots, dtype=float)) / 10.0, a=0.0, b=1.0) * scale
    for k, f in shifts:                      # move knots by up to the knot tolerance
        k %= len(U)
        U[k] += f * max(1e-9 * abs(U[k]), 1e-13)
    n = len(U) - p - 2
    if n < p or arcus.validknots(p, U):
        return
    P = (np.arange(n + 1.0) - 1.5) ** 2
    u = np.clip(U[pick[0] % len(U)] * (1 + pick[1]), U[0], U[-1])
    x = np.r_[U[0], np.ravel([[k, u] for k in np.clip(U, U[0], U[-1])]), U[-1]]
    C = x.copy()
    arcus.splcev(C, U, P, p)
    np.testing.assert_array_equal(C, [arcus.splpev(v, U, P, p) for v in x])
