"""Points within the knot tolerance of a repeated knot: the span search must
never pick an empty span (it would divide zero by zero)."""
import numpy as np
import pytest
from scipy.interpolate import BSpline

from pyvelt import arcus


@pytest.mark.parametrize("knot", [1.0, 0.5, 3.0, 0.1, 1e-5])
@pytest.mark.parametrize("mult", [2, 3])
def test_points_at_the_tolerance_edge_of_a_repeated_knot(knot, mult):
    p = 3
    U = np.r_[[0.0] * 4, [knot] * mult, [4.0] * 4]
    P = np.cos(np.arange(len(U) - p - 1.0))
    b = BSpline(U, P, p)
    tol = max(1e-9 * knot, 1e-13)
    for u in (knot - tol, np.nextafter(knot - tol, 0), np.nextafter(knot - tol, 9), knot):
        span = arcus.findspan(p, u, U)
        assert U[span] < U[span + 1], (u, span)
        v = arcus.splpev(u, U, P, p)
        assert v == pytest.approx(b(u), abs=1e-6)
        C = np.array([u])
        arcus.splcev(C, U, P, p)
        CK = np.empty(2)
        arcus.dsplpev(u, U, P, p, 1, CK)
        assert np.isfinite(C[0]) and np.isfinite(CK).all()
