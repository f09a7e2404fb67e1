"""Building trajectories: from arrays, by interpolation and by least squares.

Each function fits or copies the B-spline with `pyvelt.arcus` and returns a
`pyvelt.ductus.Trajectory1d` that owns its arrays.
"""
import math
import operator
from typing import Any, List, Optional, Sequence, Tuple, Union, overload

import numpy as np
import numpy.typing as npt
from scipy.linalg import lapack  # type: ignore[import-untyped]

from pyvelt import arcus
from pyvelt.ductus import Trajectory1d

__all__ = ["trajectory", "interpolate", "approximate"]


def _f64(a: npt.ArrayLike, name: str) -> npt.NDArray[np.float64]:
    a = np.ascontiguousarray(a, dtype=np.float64)
    if a.ndim != 1:
        raise ValueError(f"'{name}' must be one-dimensional")
    return a


def _integer(value: object, name: str, least: Optional[int] = None) -> int:
    """An integer argument: an int or an object with __index__ (a NumPy integer).

    The rule of every function of this package beyond `pyvelt.arcus` and the
    methods of `Trajectory1d` and `Point1d` that mirror it (which convert with
    __int__): bools, floats and anything else are refused with ValueError
    naming the argument, as is a value below `least` when one is given.
    """
    need = f"'{name}' must be an integer" + ("" if least is None else f" >= {least}")
    if isinstance(value, (bool, np.bool_)):
        raise ValueError(f"{need}, got {value!r}")
    try:
        q = operator.index(value)  # type: ignore[arg-type]
    except TypeError:
        raise ValueError(f"{need}, got {value!r}") from None
    if least is not None and q < least:
        raise ValueError(f"{need}, got {q}")
    return q


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
    ValueError when p or order is not an integer, when the lengths of U and P
    do not fit the degree, or when U is not a valid clamped knot vector.

    References
    ----------
    L. Piegl, W. Tiller, The NURBS Book, 2nd ed., Springer, 1997, ch. 2.
    """
    U, P = _f64(U, "U"), _f64(P, "P")
    p, order = _integer(p, "p"), _integer(order, "order")
    if p < 0 or len(P) < p + 1 or len(U) != len(P) + p + 1:
        raise ValueError(f"a degree-{p} B-spline with {len(P)} control points needs "
                         f"{len(P) + p + 1} knots and at least {p + 1} control points, "
                         f"got {len(U)} knots")
    if arcus.validknots(p, U):
        raise ValueError("'U' is not a valid knot vector for this degree")
    t = Trajectory1d()
    t._dset_data(U.tobytes(), P.tobytes(), p, len(P) - 1, order, True)
    return t


KNOTS = ("average", "data")

# What knots="data" can place: (degree, end conditions per end).
_DATA_RULE = ("p = 1, p = 2 and every odd p without end conditions, p = 3 with 'slopes', "
              "p = 5 with 'slopes' and 'accels'")


def _points(x: npt.ArrayLike, y: npt.ArrayLike) -> Tuple[np.ndarray, np.ndarray, bool]:
    """x as a finite, strictly increasing vector; y as a (len(x), J) array."""
    try:
        x = np.array(x, dtype=np.float64)
    except (TypeError, ValueError) as e:
        raise ValueError(f"'x' must be an array of numbers: {e}") from None
    try:
        y = np.array(y, dtype=np.float64)
    except (TypeError, ValueError) as e:
        raise ValueError(f"'y' must be an array of numbers: {e}") from None
    if x.ndim != 1:
        raise ValueError(f"'x' must be one-dimensional, got {x.ndim} dimensions")
    if y.ndim not in (1, 2):
        raise ValueError(f"'y' must have one dimension (one joint) or two (a column per "
                         f"joint), got {y.ndim}")
    if y.shape[0] != len(x):
        raise ValueError(f"'x' and 'y' must have the same length, got {len(x)} and "
                         f"{y.shape[0]}")
    if y.ndim == 2 and y.shape[1] == 0:
        raise ValueError("'y' has no columns")
    for name, a in (("x", x), ("y", y)):
        bad = np.flatnonzero(~np.isfinite(a.reshape(len(a), -1)).all(axis=1))
        if len(bad):
            raise ValueError(f"'{name}' must be finite: row {bad[0]} holds "
                             f"{a[bad[0]].tolist()!r}")
    down = np.flatnonzero(np.diff(x) <= 0.0)
    if len(down):
        i = int(down[0]) + 1
        raise ValueError(f"'x' must be strictly increasing: x[{i}] = {float(x[i])!r} follows "
                         f"x[{i - 1}] = {float(x[i - 1])!r}")
    one = y.ndim == 1
    return x, np.ascontiguousarray(y.reshape(len(x), -1)), one


def _pair(v: Optional[Sequence[float]], name: str) -> Optional[Tuple[float, float]]:
    if v is None:
        return None
    try:
        a, b = v
        pair = (float(a), float(b))
    except (TypeError, ValueError):
        raise ValueError(f"'{name}' must be a pair of numbers (start, end), got {v!r}") from None
    if not all(math.isfinite(c) for c in pair):
        raise ValueError(f"'{name}' must be a pair of finite numbers, got {pair!r}")
    return pair


def _knots(x: np.ndarray, p: int, k: int, knots: str) -> np.ndarray:
    """The knot vector for k derivative conditions at each end."""
    n = len(x) - 1
    if p == 1 or (knots == "average" and k == 0):
        U = np.empty(n + p + 2)
        arcus.averaging(x, p, U)
    elif knots == "average" and k == 1:
        U = np.empty(n + p + 4)
        arcus.averaging2(x, p, U)
    elif knots == "average":
        U = np.empty(n + 2 * k + p + 2)
        arcus.averaging3(x, p, k, k, U)
    elif k == 0 and p == 2:       # the midpoints between waypoints, none at the ends
        U = np.r_[[x[0]] * 3, ((x[1:] + x[:-1]) / 2.0)[1:-1], [x[-1]] * 3]
    elif k == 0:                  # not-a-knot: no knot at the waypoints next to the ends
        m = (p - 1) // 2
        U = np.r_[[x[0]] * (p + 1), x[m + 1:n - m], [x[-1]] * (p + 1)]
    else:                         # a knot at every inner waypoint
        U = np.r_[[x[0]] * (p + 1), x[1:-1], [x[-1]] * (p + 1)]
    return np.ascontiguousarray(U, dtype=np.float64)


def _solve(x: np.ndarray, Y: np.ndarray, p: int, U: np.ndarray,
           ends: Sequence[Tuple[float, float]]) -> np.ndarray:
    """Control points (one column per column of Y) of the interpolant on U.

    Rows as in `arcus.gcsplint`, `arcus.gdsplint` and `arcus.gadsplint`:
    the end values, k = len(ends) derivatives at each end, the inner points.
    Without end conditions each column goes through `arcus.gcsplint` (band
    elimination without pivoting where the matrix is totally positive);
    otherwise, and where gcsplint refuses the system (a band wider than
    p - 1 diagonals, a singular matrix), the band matrix is factorised once
    (LAPACK dgbsv) for all columns.
    """
    n, k, J = len(x) - 1, len(ends), Y.shape[1]
    if k == 0:
        P = np.empty((n + 1, J))
        col = np.empty(n + 1)
        try:
            for j in range(J):
                arcus.gcsplint(x, np.ascontiguousarray(Y[:, j]), p, U, col)
                P[:, j] = col
            return P
        except Exception as e:
            # its ValueError (band) and LAPACK Exception: solved, or reported, below
            if type(e) not in (ValueError, Exception):
                raise
    nP = n + 2 * k
    size = nP + 1
    rows: List[int] = [0, nP]
    cols: List[int] = [0, nP]
    vals: List[float] = [1.0, 1.0]
    B = np.zeros((size, J))
    B[0], B[nP] = Y[0], Y[n]
    if k == 1:                    # end slopes as differences of control points
        rows += [1, 1, nP - 1, nP - 1]
        cols += [0, 1, nP - 1, nP]
        vals += [-1.0, 1.0, -1.0, 1.0]
        B[1] = ends[0][0] * (U[p + 1] - x[0]) / p
        B[nP - 1] = ends[0][1] * (x[n] - U[len(U) - p - 2]) / p
    elif k > 1:
        ders = np.empty((k + 1, p + 1))
        arcus.dbfunspev(float(x[0]), p, U, p, k, ders)
        for r in range(1, k + 1):
            rows += [r] * (r + 1)
            cols += list(range(r + 1))
            vals += ders[r, :r + 1].tolist()
            B[r] = ends[r - 1][0]
        arcus.dbfunspev(float(x[n]), nP, U, p, k, ders)
        for r in range(1, k + 1):
            rows += [nP - r] * (r + 1)
            cols += [nP - j for j in range(r + 1)]
            vals += [ders[r, p - j] for j in range(r + 1)]
            B[nP - r] = ends[r - 1][1]
    N = np.empty(p + 1)
    for i in range(1, n):
        xi = float(x[i])
        span = arcus.findspan(p, xi, U)
        arcus.bfunspev(xi, span, U, p, N)
        rows += [i + k] * (p + 1)
        cols += range(span - p, span + 1)
        vals += N.tolist()
        B[i + k] = Y[i]
    ri, ci = np.array(rows), np.array(cols)
    kl = max(p - 1, int(np.max(ri - ci)))
    ku = max(p - 1, int(np.max(ci - ri)))
    # LAPACK band storage; the first kl rows are room for the factorisation.
    ab = np.zeros((2 * kl + ku + 1, size), order="F")
    ab[kl + ku + ri - ci, ci] = vals
    _, _, P, info = lapack.dgbsv(kl, ku, ab, np.asfortranarray(B), overwrite_ab=True,
                                 overwrite_b=True)
    if info != 0:
        raise ValueError(f"'x': the waypoint times give a singular collocation system "
                         f"(band solver info {info})")
    return np.asarray(P).reshape(size, J)


def _finished(U: np.ndarray, P: np.ndarray, p: int, order: int,
              one: bool) -> Union[Trajectory1d, List[Trajectory1d]]:
    bad = np.flatnonzero(~np.isfinite(P).all(axis=0))
    if len(bad):
        where = "" if one else f" of column {bad[0]}"
        raise ValueError(f"'y': the fit{where} has control points that are not finite "
                         f"(values or times too large?)")
    trajs = [trajectory(U, P[:, j], p, order) for j in range(P.shape[1])]
    return trajs[0] if one else trajs


# One-dimensional values give one trajectory, a column per joint a list; an
# array's dimensions are not known to a type checker.
@overload
def interpolate(x: npt.ArrayLike, y: Sequence[Sequence[float]], p: int = ...,
                slopes: Optional[Sequence[float]] = ..., *,
                accels: Optional[Sequence[float]] = ..., knots: str = ...,
                order: int = ...) -> List[Trajectory1d]: ...
@overload
def interpolate(x: npt.ArrayLike, y: Sequence[float], p: int = ...,
                slopes: Optional[Sequence[float]] = ..., *,
                accels: Optional[Sequence[float]] = ..., knots: str = ...,
                order: int = ...) -> Trajectory1d: ...
@overload
def interpolate(x: npt.ArrayLike, y: npt.ArrayLike, p: int = ...,
                slopes: Optional[Sequence[float]] = ..., *,
                accels: Optional[Sequence[float]] = ..., knots: str = ...,
                order: int = ...) -> Any: ...


def interpolate(x: npt.ArrayLike, y: npt.ArrayLike, p: int = 3,
                slopes: Optional[Sequence[float]] = None, *,
                accels: Optional[Sequence[float]] = None, knots: str = "average",
                order: int = 0) -> Union[Trajectory1d, List[Trajectory1d]]:
    """The trajectory of degree p through the points (x[i], y[i]).

    Parameters
    ----------
    x : array_like
        Strictly increasing, finite times.
    y : array_like
        Finite values at those times: one-dimensional for one trajectory, or
        of shape (len(x), J) for J trajectories (one per column, e.g. the
        joints of a robot) that share one knot vector.
    p : int, optional
        Degree, 1 or more (default 3). p = 1 is the polyline through the
        points.
    slopes : pair of float, optional
        First derivatives at x[0] and x[-1]; None leaves them free. Needs
        p >= 2.
    accels : pair of float, optional
        Second derivatives at x[0] and x[-1], only together with `slopes`;
        needs p >= 3. ``slopes=(0, 0), accels=(0, 0)`` starts and stops at
        rest.
    knots : {"average", "data"}, optional
        "average" (the default) places the knots by averaging the times;
        "data" puts them at the waypoint times, the way
        `scipy.interpolate.make_interp_spline` does for the same degree and
        end conditions. "data" is possible for p = 1, p = 2 and every odd p
        without end conditions (not-a-knot), for p = 3 with `slopes` and for
        p = 5 with `slopes` and `accels`.
    order : int, optional
        Order of derivation of the result (default 0, a displacement).

    Returns
    -------
    Trajectory1d or list of Trajectory1d
        One trajectory for a one-dimensional `y`, else a list of them in the
        order of the columns.

    Notes
    -----
    With averaged knots, `arcus.averaging`, `arcus.averaging2` (with end
    slopes) or `arcus.averaging3` (with slopes and accelerations) place the
    knots. The control points solve the collocation system of
    `arcus.gcsplint`, `arcus.gdsplint` and `arcus.gadsplint` (the same rows):
    without end conditions each column is solved by `arcus.gcsplint` itself,
    with them the system is factorised once for all columns of `y`. Knots at
    the waypoints do not overshoot between unevenly spaced waypoints the way
    averaged knots can.

    ValueError, naming the argument, for: p not an integer or below 1;
    `slopes` or `accels` not pairs of finite numbers, or `accels` without
    `slopes`; an unknown `knots` or a combination it cannot place; x not
    strictly increasing; lengths of x and y that differ; too few points for
    the degree and the end conditions; values that are not finite; and a fit
    whose control points come out not finite.

    References
    ----------
    L. Piegl, W. Tiller, The NURBS Book, 2nd ed., Springer, 1997, sec. 9.2.
    L. Piegl, W. Tiller, Curve Interpolation with Arbitrary End Derivatives,
    Engineering with Computers 16, 2000.
    """
    p = _integer(p, "p", 1)
    s, a = _pair(slopes, "slopes"), _pair(accels, "accels")
    if knots not in KNOTS:
        raise ValueError(f"'knots' must be 'average' or 'data', got {knots!r}")
    if a is not None and s is None:
        raise ValueError("'accels' must be given together with 'slopes'")
    ends = [c for c in (s, a) if c is not None]
    k = len(ends)
    if k >= p:
        name = "accels" if k == 2 else "slopes"
        raise ValueError(f"'{name}' needs p >= {k + 1}: a degree-{p} fit takes end "
                         f"derivatives below order {p} only, got p = {p}")
    if knots == "data" and not ((k == 0 and (p <= 2 or p % 2)) or p == 2 * k + 1):
        given = ("no end conditions", "'slopes'", "'slopes' and 'accels'")[k]
        raise ValueError(f"'knots': 'data' cannot place knots for p = {p} with {given}; "
                         f"it can for {_DATA_RULE}")
    x, Y, one = _points(x, y)
    need = p + 1 if k == 0 else max(2, p + 1 - 2 * k)
    if len(x) < need:
        given = ("", " with end slopes", " with end slopes and accelerations")[k]
        raise ValueError(f"'x': {len(x)} points are too few for degree {p}{given} "
                         f"(at least {need} needed)")
    U = _knots(x, p, k, knots)
    P = Y.copy() if p == 1 else _solve(x, Y, p, U, ends)
    return _finished(U, P, p, order, one)


@overload
def approximate(x: npt.ArrayLike, y: Sequence[Sequence[float]], ncpts: int, p: int = ...,
                order: int = ...) -> List[Trajectory1d]: ...
@overload
def approximate(x: npt.ArrayLike, y: Sequence[float], ncpts: int, p: int = ...,
                order: int = ...) -> Trajectory1d: ...
@overload
def approximate(x: npt.ArrayLike, y: npt.ArrayLike, ncpts: int, p: int = ...,
                order: int = ...) -> Any: ...


def approximate(x: npt.ArrayLike, y: npt.ArrayLike, ncpts: int, p: int = 3,
                order: int = 0) -> Union[Trajectory1d, List[Trajectory1d]]:
    """The least-squares trajectory of degree p with `ncpts` control points.

    Parameters
    ----------
    x : array_like
        Strictly increasing, finite times, more than `ncpts` of them.
    y : array_like
        Finite values at those times: one-dimensional, or of shape
        (len(x), J) for J trajectories on one knot vector (one per column).
    ncpts : int
        Number of control points, p + 1 <= ncpts < len(x).
    p : int, optional
        Degree, 1 or more (default 3).
    order : int, optional
        Order of derivation of the result (default 0).

    Returns
    -------
    Trajectory1d or list of Trajectory1d
        Passes through the first and the last point. A list, in the order of
        the columns, for a two-dimensional `y`.

    Notes
    -----
    Knots from `arcus.kevalappr`, control points from `arcus.gcsplapp`, once
    per column. ValueError, naming the argument, for a p or `ncpts` out of
    range, x not strictly increasing, lengths that differ, values that are
    not finite, and a fit whose control points come out not finite.

    References
    ----------
    L. Piegl, W. Tiller, The NURBS Book, 2nd ed., Springer, 1997, sec. 9.4.
    """
    p = _integer(p, "p", 1)
    x, Y, one = _points(x, y)
    ncpts = _integer(ncpts, "ncpts")
    if ncpts < p + 1 or ncpts >= len(x):
        raise ValueError(f"'ncpts' must be in [{p + 1}, {len(x) - 1}], got {ncpts}")
    U = np.empty(ncpts + p + 1)
    arcus.kevalappr(x, p, U)
    P = np.empty((ncpts, Y.shape[1]))
    for j in range(Y.shape[1]):
        col = np.empty(ncpts)
        arcus.gcsplapp(x, np.ascontiguousarray(Y[:, j]), p, U, col)
        P[:, j] = col
    return _finished(U, P, p, order, one)
