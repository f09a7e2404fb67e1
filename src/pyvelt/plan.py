"""Planning motions through waypoints under velocity, acceleration and jerk limits.

`plan` chooses the times at which a motion passes its waypoints and returns a
`Motion`: one cubic `Trajectory1d` per joint on a shared knot vector, at rest
at both ends, whose exact extrema meet the limits given.

One joint: between two reversals of direction the motion is the fastest
rest-to-rest motion over the whole run (bang-bang jerk with cruising at the
velocity limit); a cubic B-spline with knots at its switching times is that
motion exactly, and the waypoints inside the run are passed on the way.

Several joints: the waypoint times come from the slowest joint on each
segment, the knots from its switching times and an even grid. For a fixed
knot vector the control points of velocity, acceleration and jerk are linear
in the control points and bound those derivatives everywhere, so each joint
is a linear program; a search over one time stretch finds the shortest
feasible motion. Both ways end with the exact extrema: the motion is
stretched or shrunk until its largest peak equals its limit.
"""
import math
import sys
import types
from typing import Any, List, Optional, Sequence, Tuple, Union

import numpy as np
import numpy.typing as npt

from pyvelt.build import _integer, trajectory
from pyvelt.ductus import Trajectory1d

__all__ = ["Motion", "plan"]

_Limit = Union[float, Sequence[float], npt.NDArray[np.float64]]

# Waypoints closer than this (relative to the motion's scale) are one waypoint.
_SAME = 1e-13
# Without a jerk limit, the acceleration ramps take this share of a run.
_RAMP = 1e-3
# No phase of a one-joint motion is shorter than this share of the motion.
_HMIN = 1e-4


class Motion:
    """A planned motion: the waypoint times and one trajectory per joint.

    Attributes
    ----------
    times : ndarray
        The times at which the waypoints are passed, the first 0.
    duration : float
        The time of the whole motion, `times[-1]`.
    joints : list of Trajectory1d
        One cubic displacement trajectory (order 0) per joint on [0, duration],
        all on one knot vector.
    """

    def __init__(self, times: npt.NDArray[np.float64], joints: List[Trajectory1d]) -> None:
        self.times = times
        self.joints = joints
        self.duration = float(times[-1])

    def __call__(self, t: npt.ArrayLike, nu: int = 0) -> npt.NDArray[np.float64]:
        """Derivative `nu` of every joint at the times `t`.

        Parameters
        ----------
        t : array_like
            Times in [0, duration].
        nu : int, optional
            Order of the derivative (default 0, the positions).

        Returns
        -------
        ndarray
            Shape (len(t), J): one column per joint.
        """
        nu = _integer(nu, "nu")
        t = np.atleast_1d(np.asarray(t, dtype=np.float64))
        if t.ndim != 1:
            raise ValueError("'t' must be a number or one-dimensional")
        out = np.empty((len(t), len(self.joints)))
        if len(t):
            # evaluation wants distinct times
            u, back = np.unique(t, return_inverse=True)
            for j, q in enumerate(self.joints):
                out[:, j] = np.atleast_1d(q(u.copy(), nu))[back]
        return out

    def __repr__(self) -> str:
        return (f"Motion({len(self.joints)} joint{'s' if len(self.joints) != 1 else ''}, "
                f"{len(self.times)} waypoints, duration {self.duration:.6g})")


# ---------------------------------------------------------------- arguments

def _limits(value: Optional[_Limit], name: str, J: int,
            optional: bool = False, positive: bool = True) -> Optional[np.ndarray]:
    if value is None:
        if optional:
            return None
        raise ValueError(f"'{name}' is required")
    try:
        a = np.array(value, dtype=np.float64)
    except (TypeError, ValueError):
        raise ValueError(f"'{name}' must be a number or {J} numbers") from None
    if a.ndim == 0:
        a = np.full(J, float(a))
    if a.shape != (J,):
        raise ValueError(f"'{name}' must be a number or {J} numbers (one per joint), "
                         f"got shape {a.shape}")
    if not np.all(np.isfinite(a)):
        raise ValueError(f"'{name}' must be finite")
    if positive and not np.all(a > 0):
        raise ValueError(f"'{name}' must be positive")
    return a


def _waypoints(waypoints: npt.ArrayLike) -> Tuple[np.ndarray, bool]:
    try:
        W = np.array(waypoints, dtype=np.float64)
    except (TypeError, ValueError):
        raise ValueError("'waypoints' must be an array of numbers of shape (k,) "
                         "or (k, J)") from None
    single = W.ndim == 1
    if single:
        W = W[:, None]
    if W.ndim != 2 or W.shape[1] < 1:
        raise ValueError(f"'waypoints' must have shape (k,) or (k, J), got {W.shape}")
    if W.shape[0] < 2:
        raise ValueError(f"'waypoints' needs at least 2 waypoints, got {W.shape[0]}")
    if not np.all(np.isfinite(W)):
        raise ValueError("'waypoints' must be finite (no NaN or infinity)")
    return W, single


# ---------------------------------------------------------------- one joint

def _bangbang(D: float, v: float, a: float) -> float:
    # the fastest rest-to-rest time over D without a jerk limit
    return D / v + v / a if D * a > v * v else 2.0 * math.sqrt(D / a)


def _rest_to_rest(D: float, v: float, a: float, j: float,
                  hmin: float) -> List[Tuple[float, float]]:
    """Phases (duration, jerk) of the fastest rest-to-rest move over D > 0.

    No phase is shorter than hmin: a shorter constant phase is left out (the
    peak then exceeds its limit by a hair, which the final check takes back),
    and a run whose jerk ramps would be shorter is stretched as a whole.
    """
    def accel(vp: float) -> Tuple[float, float]:
        # jerk ramp time and constant-acceleration time to reach vp from rest
        if vp * j >= a * a and vp / a - a / j >= hmin:
            return a / j, vp / a - a / j
        return math.sqrt(vp / j), 0.0

    tj, ta = accel(v)
    cruise = D / v - (2.0 * tj + ta)
    vp = v
    if cruise < hmin:
        cruise = 0.0
        # D = vp * (vp / a + a / j) with a constant-acceleration phase ...
        vp = a * (-a / j + math.sqrt((a / j) ** 2 + 4.0 * D / a)) / 2.0
        if vp * j < a * a or vp / a - a / j < hmin:
            vp = (D * D * j / 4.0) ** (1.0 / 3.0)   # ... else D = 2 vp sqrt(vp / j)
        tj, ta = accel(vp)
    phases = [(tj, j), (ta, 0.0), (tj, -j), (cruise, 0.0), (tj, -j), (ta, 0.0), (tj, j)]
    phases = [ph for ph in phases if ph[0] > 0.0]
    if tj < hmin:
        r = hmin / tj       # slower: jerk / r**3, acceleration / r**2, velocity / r
        phases = [(d * r, jj / r ** 3) for d, jj in phases]
    return phases


def _integrate(U: np.ndarray, P: np.ndarray, p: int, start: float) -> Tuple[np.ndarray, np.ndarray]:
    # the antiderivative of a clamped B-spline of degree p, starting at `start`
    Q = np.empty(len(P) + 1)
    Q[0] = start
    Q[1:] = start + np.cumsum(P * (U[p + 1:p + 1 + len(P)] - U[:len(P)]) / (p + 1))
    return np.concatenate(([U[0]], U, [U[-1]])), Q


def _run(t0: float, q0: float, q1: float, v: float, a: float, j: Optional[float],
         hmin: float) -> Tuple[np.ndarray, np.ndarray, List[float]]:
    """Cubic knots and control points of the fastest rest-to-rest move q0 -> q1
    starting at t0, and its switching times."""
    D = abs(q1 - q0)
    if j is None:
        # no jerk limit: ramps of a small share of the bang-bang time
        j = a / max(_RAMP * _bangbang(D, v, a), hmin)
    phases = _rest_to_rest(D, v, a, j, hmin)
    sign = 1.0 if q1 > q0 else -1.0
    X = t0 + np.concatenate(([0.0], np.cumsum([d for d, _ in phases])))
    U, P = X, np.array([sign * jj for _, jj in phases])
    U, P = _integrate(U, P, 0, 0.0)      # acceleration
    U, P = _integrate(U, P, 1, 0.0)      # velocity
    U, P = _integrate(U, P, 2, q0)       # position
    P[-3:] = q1
    return U, P, list(X)


def _single(w: np.ndarray, v: float, a: float, j: Optional[float]
            ) -> Tuple[np.ndarray, np.ndarray, np.ndarray, List[float]]:
    """One joint: knots, control points, waypoint times (unscaled), switch times."""
    # stops where the direction reverses (and at the ends)
    steps = np.sign(np.diff(w))
    stops = [0]
    last = 0.0
    for i, s in enumerate(steps):
        if s != 0 and last != 0 and s != last:
            stops.append(i)
        if s != 0:
            last = s
    stops.append(len(w) - 1)
    # no phase shorter than this share of the whole motion: control points
    # a rounding apart would set the derivatives on a shorter span
    hmin = _HMIN * sum(_bangbang(abs(w[r1] - w[r0]), v, a)
                       for r0, r1 in zip(stops[:-1], stops[1:]))
    Us: List[np.ndarray] = []
    Ps: List[np.ndarray] = []
    switches: List[float] = []
    times = np.zeros(len(w))
    t0 = 0.0
    for r0, r1 in zip(stops[:-1], stops[1:]):
        if w[r1] == w[r0]:
            times[r0:r1 + 1] = t0
            continue
        U, P, X = _run(t0, w[r0], w[r1], v, a, j, hmin)
        switches += X
        times[r0] = t0
        times[r1] = X[-1]
        _pass_inside(U, P, w, r0, r1, times)
        if Us:
            Us[-1] = Us[-1][:-1]
            U, P = U[4:], P[1:]
        Us.append(U)
        Ps.append(P)
        t0 = X[-1]
    return np.concatenate(Us), np.concatenate(Ps), times, switches


def _pass_inside(U: np.ndarray, P: np.ndarray, w: np.ndarray, r0: int, r1: int,
                 times: np.ndarray) -> None:
    # the times at which a monotone run passes its inner waypoints
    from scipy.interpolate import BSpline  # type: ignore[import-untyped]
    from scipy.optimize import brentq  # type: ignore[import-untyped]

    if r1 - r0 < 2:
        return
    f = BSpline(U, P, 3, extrapolate=False)
    up = w[r1] > w[r0]
    lo = U[0]
    for i in range(r0 + 1, r1):
        if w[i] == w[i - 1]:
            times[i] = times[i - 1]
            continue
        g = (lambda t, c=w[i]: float(f(t)) - c) if up else (lambda t, c=w[i]: c - float(f(t)))
        if g(lo) >= 0.0:
            times[i] = lo
            continue
        hi = U[-1]
        t = brentq(g, lo, hi, xtol=1e-300, rtol=4 * np.finfo(float).eps, maxiter=200)
        # the last representable time at or before the crossing
        times[i] = lo = t


# ---------------------------------------------------------------- several joints

def _derivative_matrices(U: np.ndarray, N: int) -> List[Any]:
    """Matrices giving the control points of derivatives 1, 2, 3 from P."""
    import scipy.sparse as sp  # type: ignore[import-untyped]

    mats = []
    M = sp.identity(N, format="csr")
    for k in (1, 2, 3):
        p = 4 - k          # degree before this derivative
        rows = N - k
        h = U[1 + k - 1 + p: 1 + k - 1 + p + rows] - U[k: k + rows]
        # V_i = p (P_{i+1} - P_i) / (U_{i+p+1} - U_{i+1}) on the trimmed knots
        c = p / h
        Dk = sp.diags([-c, c], [0, 1], shape=(rows, rows + 1), format="csr")
        M = Dk @ M
        mats.append(M)
    return mats


def _multi(W: np.ndarray, vmax: np.ndarray, amax: np.ndarray, jmax: Optional[np.ndarray],
           qmin: Optional[np.ndarray], qmax: Optional[np.ndarray],
           spans: int, tol: float = 2e-3) -> Tuple[np.ndarray, np.ndarray, np.ndarray]:
    """Several joints: knots, control points (N, J), waypoint times."""
    import scipy.sparse as sp  # type: ignore[import-untyped]
    from scipy.interpolate import BSpline  # type: ignore[import-untyped]
    from scipy.optimize import linprog  # type: ignore[import-untyped]
    try:
        from scipy.optimize import Bounds, LinearConstraint, milp
    except ImportError:
        milp = None

    k, J = W.shape
    # each joint alone: its fastest waypoint times; the slowest joint sets a segment
    dur = np.zeros((J, k - 1))
    sw: List[List[float]] = []
    for jj in range(J):
        if np.all(W[:, jj] == W[0, jj]):
            sw.append([])
            continue
        _, _, tj, sj = _single(W[:, jj], vmax[jj], amax[jj], None if jmax is None else jmax[jj])
        dur[jj] = np.diff(tj)
        sw.append(sj)
    boss = np.argmax(dur, axis=0)
    d = dur[boss, np.arange(k - 1)]
    T0 = float(d.sum())
    # a segment is never shorter than a small share of a grid span
    d = np.maximum(d, 1e-3 * T0 / spans)
    T0 = float(d.sum())
    times0 = np.concatenate(([0.0], np.cumsum(d)))
    # knots per segment: the waypoint times, the switching times of the
    # slowest joint, an even grid; none closer than a thousandth of a grid span
    knots = [times0]
    for i in range(k - 1):
        tj = np.concatenate(([0.0], np.cumsum(dur[boss[i]])))
        swi = np.array(sw[boss[i]])
        inside = swi[(swi > tj[i]) & (swi < tj[i + 1])]
        m = max(3, int(round(spans * d[i] / T0)))
        gap = 1e-3 * d[i] / m
        cand = list(np.linspace(0.0, d[i], m + 1)[1:-1])
        if dur[boss[i], i] > 0:
            cand = list((inside - tj[i]) * d[i] / dur[boss[i], i]) + cand
        kept: List[float] = []
        for c in cand:
            if gap <= c <= d[i] - gap and all(abs(c - o) > gap for o in kept):
                kept.append(c)
        knots.append(times0[i] + np.array(kept))
    x = np.unique(np.concatenate(knots))
    U = np.concatenate(([0.0] * 3, x, [x[-1]] * 3))
    N = len(U) - 4
    mats = _derivative_matrices(U, N)
    E = BSpline.design_matrix(times0[1:-1], U, 3).tocsr() if k > 2 else None

    # one linear program for all joints: minimise sum of lambda_j subject to
    # |D_k P_j| <= lambda_j * limit_k / s**k
    centre = W.mean(axis=0)
    R = np.max(np.abs(W - centre), axis=0)
    R[R == 0] = 1.0
    Wn = (W - centre) / R
    lims = [vmax, amax] + ([jmax] if jmax is not None else [])
    nd = len(lims)

    # Joint j at stretch s: minimise lambda subject to
    # |D_k P| * R_j / limit_k <= lambda * s**k, the positions scaled by R_j.
    # Rows are built once; only the lambda column changes with s.
    base = sp.vstack([sp.vstack([mats[kk], -mats[kk]]) for kk in range(nd)], format="csr")
    expo = np.concatenate([np.full(2 * mats[kk].shape[0], kk + 1.0) for kk in range(nd)])
    nrow = base.shape[0]
    c = np.zeros(N + 1)
    c[N] = 1.0

    # the lambda column last in every row: its entries are data[indptr[1:] - 1];
    # the waypoint rows follow
    rows = [base, E] if E is not None else [base]
    lamcol = np.concatenate((np.ones(nrow), np.zeros(len(Wn) - 2)))
    A = sp.hstack([sp.vstack(rows), sp.csr_matrix(lamcol[:, None])], format="csr")
    A.sort_indices()
    last = A.indptr[1:nrow + 1] - 1
    rowsof = np.repeat(np.arange(A.shape[0]), np.diff(A.indptr))
    data0 = A.data.copy()

    def program(jj: int, s: float) -> Tuple[float, np.ndarray]:
        rowscale = np.concatenate([np.full(2 * mats[kk].shape[0], R[jj] / lims[kk][jj])
                                   for kk in range(nd)] + [np.ones(len(Wn) - 2)])
        A.data[:] = data0 * rowscale[rowsof]
        A.data[last] = -(s ** expo)
        lb = np.full(N + 1, -np.inf)
        ub = np.full(N + 1, np.inf)
        if qmin is not None:
            lb[:N] = (qmin[jj] - centre[jj]) / R[jj]
        if qmax is not None:
            ub[:N] = (qmax[jj] - centre[jj]) / R[jj]
        lb[:3] = ub[:3] = Wn[0, jj]
        lb[N - 3:N] = ub[N - 3:N] = Wn[-1, jj]
        lb[N] = 0.0
        rlo = np.concatenate((np.full(nrow, -np.inf), Wn[1:-1, jj]))
        rhi = np.concatenate((np.zeros(nrow), Wn[1:-1, jj]))
        if milp is not None:
            res = milp(c, constraints=LinearConstraint(A, rlo, rhi), bounds=Bounds(lb, ub))
        else:   # scipy before 1.9
            res = linprog(c, A_ub=A[:nrow], b_ub=rhi[:nrow], A_eq=A[nrow:] if E is not None
                          else None, b_eq=rhi[nrow:] if E is not None else None,
                          bounds=np.column_stack((lb, ub)), method="highs")
        if res.status != 0 or res.x is None:
            raise RuntimeError(f"the linear program failed: {res.message}")
        return float(res.x[N]), res.x[:N]

    # The shortest stretch s of the base timing with every lambda <= 1. A
    # motion feasible at s stays feasible when stretched further (its peaks
    # shrink by r to r**3 for a stretch by r): so with lambda from one
    # program the shortest stretch lies in [s * lambda**(1/3), s * lambda]
    # when lambda > 1 and in [s * lambda, s * lambda**(1/3)] when lambda < 1,
    # and a joint feasible at s needs no new program at a larger stretch.
    moving = [jj for jj in range(J) if np.ptp(W[:, jj]) > 0]
    order = sorted(moving, key=lambda jj: -dur[jj].sum())
    known = {jj: math.inf for jj in moving}        # smallest feasible stretch so far
    sols: dict = {}
    # A cheap first try per joint: the spline through its waypoints with the
    # least squared acceleration; its peaks scale exactly with the stretch.
    dense = [m.toarray() for m in mats]
    free = np.ones(N, bool)
    free[:3] = free[-3:] = False
    Ed = E.toarray() if E is not None else np.zeros((0, N))
    Hf = dense[1][:, free]
    kkt = np.block([[Hf.T @ Hf, Ed[:, free].T],
                    [Ed[:, free], np.zeros((len(Ed), len(Ed)))]])
    for jj in moving:
        Pc = np.where(np.arange(N) < 3, Wn[0, jj], Wn[-1, jj])
        Pc[free] = 0.0
        rhs = np.concatenate((-Hf.T @ (dense[1] @ Pc), Wn[1:-1, jj] - Ed @ Pc))
        try:
            Pc[free] = np.linalg.solve(kkt, rhs)[:free.sum()]
        except np.linalg.LinAlgError:
            continue
        if ((qmin is not None and np.any(Pc * R[jj] + centre[jj] < qmin[jj]))
                or (qmax is not None and np.any(Pc * R[jj] + centre[jj] > qmax[jj]))):
            continue
        known[jj] = max(max(float(np.max(np.abs(dense[kk] @ Pc))) * R[jj] / lims[kk][jj],
                            1e-300) ** (1.0 / (kk + 1)) for kk in range(nd))
        sols[jj] = Pc
    lo, hi = 0.0, math.inf
    s, e = 1.0, 2.0
    prev: Optional[Tuple[float, float]] = None
    for _ in range(16):
        top = 0.0
        for jj in order:
            if s >= known[jj]:
                continue
            lam, Pn = program(jj, s)
            lam = max(lam, 1e-300)
            if lam <= 1.0 + 1e-9:     # the last stretch is left to the exact check
                lam = min(lam, 1.0)
                known[jj], sols[jj] = s, Pn
                lo = max(lo, s * lam)
            else:
                lo = max(lo, s * lam ** (1.0 / 3.0))
            top = max(top, lam)
            if lam > 1.0:
                # infeasible here: try this joint first next time
                order.remove(jj)
                order.insert(0, jj)
                break
        if top <= 1.0:
            hi = s
        if hi <= lo * (1.0 + tol):
            break
        top = max(top, 1e-300)
        if prev is not None and prev[0] != s and prev[1] != top:
            e = min(3.0, max(1.0, -math.log(top / prev[1]) / math.log(s / prev[0])))
        prev = (s, top)
        # aim just inside the feasible side
        guess = s * (top / (1.0 - tol / 4)) ** (1.0 / e)
        if hi < math.inf:
            guess = min(max(guess, lo * (1.0 + tol / 2)), hi / (1.0 + tol / 2))
        else:
            guess = min(max(guess, lo * (1.0 + tol / 2)), s * top)
        s = guess
    if hi == math.inf:
        raise RuntimeError("no feasible timing found")
    best = np.zeros((N, J))
    for jj in range(J):
        best[:, jj] = sols[jj] if jj in sols else Wn[0, jj]
    P = best * R + centre
    P[:3] = W[0]
    P[-3:] = W[-1]
    if E is not None:
        # waypoints to rounding: the least change of the control points that
        # passes them exactly (ends fixed)
        Ed = E.toarray()
        free = np.ones(N, bool)
        free[:3] = free[-3:] = False
        Ef = Ed[:, free]
        r = W[1:-1] - Ed @ P
        P[free] += Ef.T @ np.linalg.solve(Ef @ Ef.T, r)
    return U * hi, P, times0 * hi


# ---------------------------------------------------------------- the planner

def plan(waypoints: npt.ArrayLike, vmax: _Limit, amax: _Limit, jmax: Optional[_Limit] = None,
         *, qmin: Optional[_Limit] = None, qmax: Optional[_Limit] = None) -> Motion:
    """The shortest motion through waypoints that meets velocity, acceleration and jerk limits.

    Parameters
    ----------
    waypoints : array_like
        Positions, shape (k,) for one joint or (k, J) for J joints; k >= 2.
        Consecutive equal waypoints are allowed.
    vmax, amax : float or array_like
        Velocity and acceleration limits, one number for every joint or one
        per joint; positive and finite.
    jmax : float or array_like, optional
        Jerk limit (default None: the jerk is bounded but not limited).
    qmin, qmax : float or array_like, optional
        Position limits per joint; the waypoints must lie within them.

    Returns
    -------
    Motion
        `times` (first 0), `duration`, `joints` (one cubic `Trajectory1d` of
        order 0 per joint on one knot vector); ``motion(t, nu=0)`` evaluates.

    Notes
    -----
    Every joint starts and stops at rest (zero velocity and acceleration) and
    passes each waypoint at its time to within 1e-12 of the motion's scale;
    each joint's ``violations(vmax=..., amax=..., jmax=...)`` is empty for the
    limits given, by the exact extrema, and positions stay within qmin/qmax.
    The acceleration is continuous, so the jerk is bounded everywhere.

    One joint stops only where its direction reverses and moves between the
    stops in the fastest rest-to-rest way (bang-bang jerk, cruising at the
    velocity limit); without `jmax` its acceleration ramps take 0.1 % of a
    run. Several joints share the waypoint times: for a fixed knot vector
    the derivative control points are linear in the control points and
    bound the derivatives, so each timing is a linear program
    (`scipy.optimize.linprog`, HiGHS), and a search over a common stretch of
    the timing finds the shortest feasible one. The result is then stretched
    or shrunk until the largest exact peak meets its limit.

    ValueError, naming the argument, for fewer than 2 waypoints, values that
    are not finite, limits that are not positive and finite, shapes that do
    not match, waypoints outside qmin/qmax and waypoints that never move.

    References
    ----------
    L. Piegl, W. Tiller, The NURBS Book, 2nd ed., Springer, 1997, sec. 3.3
    (derivatives of B-splines). T. Kroeger, On-Line Trajectory Generation in
    Robotic Systems, Springer, 2010 (time-optimal jerk-limited motions).
    """
    W, single = _waypoints(waypoints)
    k, J = W.shape
    vmax_a = _limits(vmax, "vmax", J)
    amax_a = _limits(amax, "amax", J)
    jmax_a = _limits(jmax, "jmax", J, optional=True)
    qmin_a = _limits(qmin, "qmin", J, optional=True, positive=False)
    qmax_a = _limits(qmax, "qmax", J, optional=True, positive=False)
    assert vmax_a is not None and amax_a is not None
    if qmin_a is not None and np.any(W < qmin_a):
        raise ValueError("'qmin': a waypoint lies below the position limit")
    if qmax_a is not None and np.any(W > qmax_a):
        raise ValueError("'qmax': a waypoint lies above the position limit")
    scale = max(float(np.max(np.abs(W))), 1e-300)
    # one waypoint for a run of equal ones (the same time)
    same = np.concatenate(([False], np.all(np.abs(np.diff(W, axis=0)) <= _SAME * scale,
                                          axis=1)))
    keep = ~same
    index = np.cumsum(keep) - 1
    Wk = W[keep]
    if len(Wk) < 2:
        raise ValueError("'waypoints' are all equal: there is no motion to plan")
    if J == 1:
        U, P, tk, _ = _single(Wk[:, 0], vmax_a[0], amax_a[0],
                              None if jmax_a is None else jmax_a[0])
        P = P[:, None]
    else:
        U, P, tk = _multi(Wk, vmax_a, amax_a, jmax_a, qmin_a, qmax_a, spans=24)
    times = tk[index]
    joints, f = _certify(U, P, vmax_a, amax_a, jmax_a)
    for jj, q in enumerate(joints):
        # the control points bound the positions; checked once more exactly
        lo, _, hi, _ = q.extrema()
        if ((qmin_a is not None and lo < qmin_a[jj] - 1e-12 * scale)
                or (qmax_a is not None and hi > qmax_a[jj] + 1e-12 * scale)):
            raise RuntimeError("the planned motion leaves the position limits")
    return Motion(times * f, joints)


def _certify(U: np.ndarray, P: np.ndarray, vmax: np.ndarray, amax: np.ndarray,
             jmax: Optional[np.ndarray]) -> Tuple[List[Trajectory1d], float]:
    # stretch or shrink time until the largest exact peak meets its limit
    def lim(jj: int) -> dict:
        out = {"vmax": float(vmax[jj]), "amax": float(amax[jj])}
        if jmax is not None:
            out["jmax"] = float(jmax[jj])
        return out

    J = P.shape[1]
    joints = [trajectory(U, P[:, jj], 3) for jj in range(J)]
    moving = [jj for jj in range(J) if np.ptp(P[:, jj]) > 0]
    f = 1.0
    for margin in (1e-12, 1e-10, 1e-8, 1e-6, 1e-4, 1e-3):
        # the stretch that brings the largest exact peak to its limit, a
        # little more on each round where rounding still leaves one above
        s = max(joints[jj].timescale(**lim(jj)) for jj in moving)
        f *= (s if f == 1.0 else max(s, 1.0)) * (1.0 + margin)
        joints = [trajectory(U * f, P[:, jj], 3) for jj in range(J)]
        if not any(joints[jj].violations(**lim(jj)) for jj in moving):
            return joints, f
    raise RuntimeError("the planned motion could not be certified")


class _Module(types.ModuleType):
    # `import pyvelt.plan` makes the package attribute `plan` this module:
    # calling it then still plans.
    def __call__(self, *args, **kwargs):  # type: ignore[no-untyped-def]
        return plan(*args, **kwargs)


sys.modules[__name__].__class__ = _Module
