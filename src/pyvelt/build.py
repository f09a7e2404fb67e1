"""Building trajectories: from arrays, by interpolation and by least squares.

Each function fits or copies the B-spline with `pyvelt.arcus` and returns a
`pyvelt.ductus.Trajectory1d` that owns its arrays.
"""
from typing import Optional, Sequence

import numpy as np
import numpy.typing as npt

from pyvelt import arcus
from pyvelt.ductus import Trajectory1d

__all__ = ["trajectory", "interpolate", "approximate"]


def _f64(a: npt.ArrayLike, name: str) -> npt.NDArray[np.float64]:
    a = np.ascontiguousarray(a, dtype=np.float64)
    if a.ndim != 1:
        raise ValueError(f"'{name}' must be one-dimensional")
    return a


def trajectory(U: npt.ArrayLike, P: npt.ArrayLike, p: int, order: int = 0) -> Trajectory1d:
    """A trajectory from its knot vector, control points and degree.

    Parameters
    ----------
    U : array_like
        Clamped, non-decreasing knot vector of len(P) + p + 1 knots.
    P : array_like
        Control points.
    p : int
        Degree.
    order : int, optional
        Order of derivation the trajectory stands for (0 displacement,
        1 velocity, 2 acceleration, 3 jerk, ...).

    Returns
    -------
    Trajectory1d
        A new trajectory holding copies of U and P.

    Notes
    -----
    ValueError when the lengths of U and P do not fit the degree, or when U is
    not a valid clamped knot vector.

    References
    ----------
    L. Piegl, W. Tiller, The NURBS Book, 2nd ed., Springer, 1997, ch. 2.
    """
    U, P = _f64(U, "U"), _f64(P, "P")
    p = int(p)
    if p < 0 or len(P) < p + 1 or len(U) != len(P) + p + 1:
        raise ValueError(f"a degree-{p} B-spline with {len(P)} control points needs "
                         f"{len(P) + p + 1} knots and at least {p + 1} control points, "
                         f"got {len(U)} knots")
    if arcus.validknots(p, U):
        raise ValueError("'U' is not a valid knot vector for this degree")
    t = Trajectory1d()
    t._dset_data(U.tobytes(), P.tobytes(), p, len(P) - 1, order, True)
    return t


def interpolate(x: npt.ArrayLike, y: npt.ArrayLike, p: int = 3,
                slopes: Optional[Sequence[float]] = None, order: int = 0) -> Trajectory1d:
    """The trajectory of degree p through the points (x[i], y[i]).

    Parameters
    ----------
    x : array_like
        Strictly increasing times.
    y : array_like
        Values at those times.
    p : int, optional
        Degree (default 3).
    slopes : tuple of two floats, optional
        First derivatives at x[0] and x[-1]; None leaves them free.
    order : int, optional
        Order of derivation of the result (default 0, a displacement).

    Returns
    -------
    Trajectory1d

    Notes
    -----
    Knots by averaging the times (`arcus.averaging`, or `arcus.averaging2`
    with end slopes); the control points solve the collocation system
    (`arcus.gcsplint` or `arcus.gdsplint`).

    References
    ----------
    L. Piegl, W. Tiller, The NURBS Book, 2nd ed., Springer, 1997, sec. 9.2.
    """
    x, y = _f64(x, "x"), _f64(y, "y")
    if slopes is None:
        U = np.empty(len(x) + p + 1)
        P = np.empty(len(x))
        arcus.averaging(x, p, U)
        arcus.gcsplint(x, y, p, U, P)
    else:
        U = np.empty(len(x) + p + 3)
        P = np.empty(len(x) + 2)
        arcus.averaging2(x, p, U)
        arcus.gdsplint(x, y, p, U, P, dy=(float(slopes[0]), float(slopes[1])))
    return trajectory(U, P, p, order)


def approximate(x: npt.ArrayLike, y: npt.ArrayLike, ncpts: int, p: int = 3,
                order: int = 0) -> Trajectory1d:
    """The least-squares trajectory of degree p with `ncpts` control points.

    Parameters
    ----------
    x : array_like
        Increasing times, more than `ncpts` of them.
    y : array_like
        Values at those times.
    ncpts : int
        Number of control points, p + 1 <= ncpts < len(x).
    p : int, optional
        Degree (default 3).
    order : int, optional
        Order of derivation of the result (default 0).

    Returns
    -------
    Trajectory1d
        Passes through the first and the last point.

    Notes
    -----
    Knots from `arcus.kevalappr`, control points from `arcus.gcsplapp`.

    References
    ----------
    L. Piegl, W. Tiller, The NURBS Book, 2nd ed., Springer, 1997, sec. 9.4.
    """
    x, y = _f64(x, "x"), _f64(y, "y")
    ncpts = int(ncpts)
    if ncpts < p + 1 or ncpts >= len(x):
        raise ValueError(f"'ncpts' must be in [{p + 1}, {len(x) - 1}], got {ncpts}")
    U = np.empty(ncpts + p + 1)
    P = np.empty(ncpts)
    arcus.kevalappr(x, p, U)
    arcus.gcsplapp(x, y, p, U, P)
    return trajectory(U, P, p, order)
