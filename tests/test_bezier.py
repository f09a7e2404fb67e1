"""Bezier utilities: bezpev, bezpev2, bezcev, bezcev2, getbezmat, getbmtxelement."""
import ctypes

import numpy as np
import pytest
from scipy.special import comb

from pyvelt import arcus

INFO = "the algorithm failed with 'info' value: "
U_GRID = np.r_[0.0, np.linspace(0, 1, 37)[1:-1], 1e-300, 1 - 1e-16, 1.0]


def bernstein_sum(u, P):
    n = len(P) - 1
    k = np.arange(n + 1)
    return float(np.sum(comb(n, k) * u ** k * (1 - u) ** (n - k) * P))


CTRL = {
    "const": np.array([2.5]),
    "line": np.array([-1.0, 3.0]),
    "cubic": np.array([1.0, -2.0, 4.0, 0.5]),
    "deg7": np.random.default_rng(1).uniform(-3, 3, 8),
}


@pytest.mark.parametrize("name", CTRL)
@pytest.mark.parametrize("fn", [arcus.bezpev, arcus.bezpev2])
def test_point_against_bernstein_sum(fn, name):
    P = CTRL[name]
    for u in U_GRID:
        assert fn(u, P) == pytest.approx(bernstein_sum(u, P), abs=1e-13)
    assert fn(0.0, P) == P[0] and fn(1.0, P) == pytest.approx(P[-1], abs=1e-15)
    assert fn(P=P, u=-0.0) == P[0]


@pytest.mark.parametrize("fn", [arcus.bezpev, arcus.bezpev2])
@pytest.mark.parametrize("u,P,code", [
    (1.0000001, CTRL["cubic"], -3),
    (-1e-300, CTRL["cubic"], -3),
    (0.5, np.empty(0), -2),
])
def test_point_codes(fn, u, P, code):
    with pytest.raises(ValueError) as e:
        fn(u, P)
    assert str(e.value) == INFO + str(code)


@pytest.mark.parametrize("fn", [arcus.bezcev, arcus.bezcev2])
@pytest.mark.parametrize("name", CTRL)
def test_array_evaluation(fn, name):
    P = CTRL[name]
    C = U_GRID.copy()
    assert fn(C, P) is None
    np.testing.assert_allclose(C, [bernstein_sum(u, P) for u in U_GRID], rtol=0, atol=1e-13)


@pytest.mark.parametrize("fn", [arcus.bezcev, arcus.bezcev2])
def test_array_codes_leave_c_unchanged(fn):
    P = CTRL["cubic"]
    C = np.array([0.1, 0.5, 1.5])
    with pytest.raises(ValueError) as e:
        fn(C=C, P=P)
    assert str(e.value) == INFO + "-3"
    assert list(C) == [0.1, 0.5, 1.5]
    with pytest.raises(ValueError) as e:
        fn(C, np.empty(0))
    assert str(e.value) == INFO + "-2"
    fn(np.empty(0), P)  # nothing to evaluate


@pytest.mark.parametrize("fn", [arcus.bezcev, arcus.bezcev2])
def test_array_sharing_memory_with_control_points(fn):
    P = np.array([0.0, 0.25, 1.0])
    expected = [bernstein_sum(u, P.copy()) for u in P]
    fn(P, P)
    np.testing.assert_allclose(P, expected, atol=1e-15)


def test_matrix_against_binomials():
    for p in range(0, 9):
        M = np.full((p + 1) ** 2, 123.0)
        arcus.getbezmat(p, M)
        M = M.reshape(p + 1, p + 1)
        for i in range(p + 1):
            for j in range(p + 1):
                want = (-1) ** (i - j) * comb(p, i, exact=True) * comb(i, j, exact=True)
                assert M[i, j] == (want if j <= i else 123.0)


@pytest.mark.parametrize("p,rtol", [(34, 0), (47, 2.3e-16), (66, 2.3e-16), (80, 1e-12)])
def test_matrix_beyond_int_binomials(p, rtol):
    # From degree 34 on C(p, i) overflows a 32-bit int.
    M = np.full((p + 1) ** 2, 123.0)
    arcus.getbezmat(p, M)
    M = M.reshape(p + 1, p + 1)
    want = np.array([[float((-1) ** (i - j) * comb(p, i, exact=True) * comb(i, j, exact=True))
                      if j <= i else 123.0 for j in range(p + 1)] for i in range(p + 1)])
    np.testing.assert_allclose(M, want, rtol=rtol, atol=0)


def test_matrix_gives_power_basis():
    P = CTRL["deg7"]
    p = len(P) - 1
    M = np.zeros((p + 1) ** 2)
    arcus.getbezmat(p, M)
    a = M.reshape(p + 1, p + 1) @ P  # coefficients of 1, u, u^2, ...
    for u in U_GRID:
        assert np.polyval(a[::-1], u) == pytest.approx(arcus.bezpev(u, P), abs=1e-11)


def test_matrix_checks():
    with pytest.raises(ValueError, match=r"getbezmat\(\): array 'M' needs at least 16 elements, got 15"):
        arcus.getbezmat(3, np.zeros(15))
    with pytest.raises(ValueError, match="'p' must be >= 0"):
        arcus.getbezmat(-1, np.zeros(4))


def test_element_is_c_entry_only():
    assert not hasattr(arcus, "getbmtxelement") and "getbmtxelement" not in arcus.__all__
    api = ctypes.pythonapi
    api.PyCapsule_GetPointer.restype = ctypes.c_void_p
    api.PyCapsule_GetPointer.argtypes = [ctypes.py_object, ctypes.c_char_p]
    ptr = api.PyCapsule_GetPointer(arcus.__pyx_capi__["getbmtxelement"], b"double (int, int, int)")
    fn = ctypes.CFUNCTYPE(ctypes.c_double, ctypes.c_int, ctypes.c_int, ctypes.c_int)(ptr)
    assert fn(3, 2, 1) == -6.0
    assert fn(4, 4, 0) == 1.0 and fn(4, 3, 1) == 12.0 and fn(4, 3, 0) == -4.0
    assert fn(3, 1, 2) == 0.0 and fn(3, -1, 0) == 0.0
    # Past the triangle the element is 0 at once, however far.
    assert fn(3, 10**7, 1) == 0.0 and fn(3, 2, 10**7) == 0.0
    assert fn(40, 21, 8) == float(-comb(40, 21, exact=True) * comb(21, 8, exact=True))
