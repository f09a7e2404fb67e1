"""Building Trajectory1d objects for the tests, and their scipy counterparts."""
import numpy as np
from scipy.interpolate import BSpline

from pyvelt import ductus
from conftest import traj as make  # noqa: F401  (the trajectory over given arrays)

# Degree, interior knots (some repeated), domain.
SHAPES = [(3, (0.3, 0.6, 0.6), 0.0, 2.0), (2, (), -1.0, 1.0), (4, (1.4, 1.4, 1.4, 2.4), 1.0, 3.0)]


def sample(p=3, interior=(0.3, 0.6, 0.6), a=0.0, b=2.0, order=0, seed=1, cls=ductus.Trajectory1d):
    """A clamped trajectory with random control points of magnitude about 1."""
    U = np.r_[[a] * (p + 1), interior, [b] * (p + 1)]
    return make(U, np.random.default_rng(seed).normal(size=len(U) - p - 1), p, order, cls=cls)


def arrays(t):
    """Copies of the knot vector and the control points."""
    return t.get_knotvector_asarray().copy(), t.get_cpts_asarray().copy()


def state(*ts):
    return [(t.p, t.n, t.order) + tuple(x.tobytes() for x in arrays(t)) for t in ts]


def spline(t):
    return BSpline(*arrays(t), t.p)


def grid(t, k=21):
    return np.linspace(t.start, t.stop, k)


def fails_unchanged(call, exc, msg, *ts):
    """call(*ts) raises exc with a message matching msg and changes no ts."""
    import pytest

    keep = state(*ts)
    with pytest.raises(exc, match=msg):
        call(*ts)
    assert state(*ts) == keep
