"""The integer rule on both of its sides.

arcus's functions and the trajectory and point methods that mirror them
convert with __int__ (a float truncates); every method and function beyond
them takes only integers (ints, NumPy integers) and refuses floats and bools
with ValueError naming the argument.
"""
import numpy as np
import pytest

import pyvelt
from pyvelt import arcus
from pyvelt.ductus import Point1d

X = np.linspace(0.0, 2.0, 9)
T = pyvelt.interpolate(X, np.sin(X), p=5)
U = T.get_knotvector_asarray().copy()
P = T.get_cpts_asarray().copy()


@pytest.mark.parametrize("call", [
    lambda k: arcus.findspan(k, 0.7, U),
    lambda k: T.dpeval(0.7, k),
    lambda k: T(np.array([0.3, 0.7]), nu=k).tolist(),
    lambda k: T.derivative(k).get_cpts_asarray().tolist(),
    lambda k: T.degelev(k).get_cpts_asarray().tolist(),
    lambda k: T.knotins(0.7, k).get_cpts_asarray().tolist(),
    lambda k: Point1d(0.0, 0.0, k).order,
])
def test_arcus_and_its_mirrors_truncate_through_int(call):
    assert call(2.9) == call(2) == call(np.int64(2))
    assert call(True) == call(1)


def motion(nu):
    return pyvelt.plan([0.0, 1.0], 1.0, 1.0)(np.array([0.25]), nu)


@pytest.mark.parametrize("name, call, good", [
    ("nu", lambda k: T.extrema(k), 1),
    ("nu", lambda k: T.roughness(nu=k), 1),
    ("p", lambda k: pyvelt.trajectory(U, P, k), 5),
    ("order", lambda k: pyvelt.trajectory(U, P, 5, order=k), 1),
    ("order", lambda k: pyvelt.interpolate(X, np.sin(X), order=k), 1),
    ("p", lambda k: pyvelt.interpolate(X, np.sin(X), p=k), 3),
    ("ncpts", lambda k: pyvelt.approximate(X, np.sin(X), ncpts=k, p=2), 5),
    ("nu", motion, 1),
])
def test_beyond_arcus_only_integers(name, call, good):
    want, got = call(good), call(np.int64(good))
    if hasattr(want, "get_cpts_asarray"):
        want, got = want.get_cpts_asarray(), got.get_cpts_asarray()
    assert np.array_equal(got, want)
    for bad in (float(good), good + 0.5, True, np.bool_(True), str(good), None):
        with pytest.raises(ValueError, match=f"'{name}' must be an? (non-negative )?integer"):
            call(bad)
