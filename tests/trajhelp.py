"""Building Trajectory1d objects for the tests, and their scipy counterparts."""
import numpy as np
from scipy.interpolate import BSpline

from pyvelt import ductus


def clamped(p, interior, a=0.0, b=1.0):
    return np.r_[[a] * (p + 1), interior, [b] * (p + 1)].astype(float)


def make(U, P, p, order=0, owner=True, cls=ductus.Trajectory1d):
    U, P = np.asarray(U, float), np.asarray(P, float)
    t = cls()
    t._dset_data(U.tobytes(), P.tobytes(), p, len(P) - 1, order, owner)
    return t


def sample(p=3, interior=(0.3, 0.6, 0.6), a=0.0, b=2.0, order=0, seed=1, cls=ductus.Trajectory1d):
    """A trajectory with random control points of magnitude about 1."""
    U = clamped(p, interior, a, b)
    P = np.random.default_rng(seed).normal(size=len(U) - p - 1)
    return make(U, P, p, order, cls=cls)


def arrays(t):
    """Copies of the knot vector and the control points."""
    return t.get_knotvector_asarray().copy(), t.get_cpts_asarray().copy()


def spline(t):
    """The same curve as a scipy BSpline (on copies of the arrays)."""
    U, P = arrays(t)
    return BSpline(U, P, t.p)


def grid(t, k=41):
    return np.linspace(t.start, t.stop, k)


# Trajectories of a few shapes: degree, interior knots (one repeated), domain.
SHAPES = [
    (3, (0.3, 0.6, 0.6), -1.0, 2.0),
    (2, (), 0.0, 1.0),
    (1, (0.25, 0.5), 0.0, 4.0),
    (4, (0.2, 0.2, 0.7), 1.0, 3.0),
]
SHAPE_IDS = ["cubic", "bezier2", "linear", "quartic"]


def scaled(interior, a, b):
    return tuple(a + (b - a) * u for u in interior)


def shaped(shape, order=0, seed=1, cls=ductus.Trajectory1d):
    p, interior, a, b = shape
    return sample(p, scaled(interior, a, b), a, b, order, seed, cls)
