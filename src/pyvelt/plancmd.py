"""The ``plan`` subcommand of ``python -m pyvelt``: plans a motion through the
waypoints of a CSV file and saves one trajectory per joint."""
import argparse
import math
import os
from typing import Any, List, Optional, Tuple

import numpy as np

from pyvelt.cmdio import CommandError, csv_rows, need_finite

__all__ = ["register", "run_plan", "load_rows"]


def load_rows(path: str) -> Tuple[np.ndarray, List[str]]:
    """Rows of joint positions from a CSV file, one column per joint.

    Parameters
    ----------
    path : str
        The file. Blank lines and lines starting with '#' are skipped; a first
        row with no number in it is a header naming the joints.

    Returns
    -------
    (ndarray, list of str)
        The positions, shape (k, J), and the joint names (from the header,
        else ``joint_1``, ``joint_2``, ...).

    Notes
    -----
    CommandError names the line of a row that does not hold J finite numbers.
    """
    rows: List[List[float]] = []
    names: Optional[List[str]] = None
    width = None
    for lineno, cells, numbers in csv_rows(path):
        # A first row is a header only when none of its cells is a number: a
        # typo in the first waypoint is an error, not a header.
        if width is None and all(n is None for n in numbers):
            names = cells
            width = len(cells)
            continue
        if width is None:
            width = len(cells)
        if len(cells) != width:
            raise CommandError(f"{path}, line {lineno}: expected {width} column"
                               f"{'s' if width != 1 else ''}, got {len(cells)}")
        need_finite(path, lineno, cells, numbers)
        rows.append([float(n) for n in numbers if n is not None])
    if not rows:
        raise CommandError(f"{path}: no waypoints (expected rows of joint positions)")
    assert width is not None
    if names is None or len(set(names)) != len(names) or "" in names:
        names = [f"joint_{i + 1}" for i in range(width)]
    return np.array(rows), names


def _limit_list(text: str) -> List[float]:
    out = []
    for cell in text.split(","):
        try:
            value = float(cell)
        except ValueError:
            raise argparse.ArgumentTypeError(f"'{cell}' is not a number") from None
        if not math.isfinite(value) or value <= 0:
            raise argparse.ArgumentTypeError(f"'{cell}' is not a positive finite number")
        out.append(value)
    return out


_limit_list.__name__ = "limit"


def _limit(values: Optional[List[float]], name: str, J: int) -> Any:

    if values is None:
        return None
    if len(values) == 1:
        return values[0]
    if len(values) != J:
        raise CommandError(f"--{name}: give one number or {J} (one per joint), "
                           f"got {len(values)}")
    return values


def run_plan(args: argparse.Namespace) -> int:
    """Runs ``plan``: plans, saves and prints the timing.

    Parameters
    ----------
    args : argparse.Namespace
        The parsed arguments.

    Returns
    -------
    int
        0.
    """
    from pyvelt.plan import plan

    W, names = load_rows(args.waypoints)
    J = W.shape[1]
    lims = {k: _limit(getattr(args, k), k, J) for k in ("vmax", "amax", "jmax")}
    m = plan(W, lims["vmax"], lims["amax"], lims["jmax"])
    out = args.output
    if out is None:
        out = os.path.splitext(os.path.basename(args.waypoints))[0] + ".pyvelt"
    for name, q in zip(names, m.joints):
        q.savexml(out, name)
    if not os.path.splitext(out)[1]:
        out += ".pyvelt"
    print(f"planned {len(W)} waypoints, {J} joint{'s' if J != 1 else ''}: "
          f"duration {m.duration:.6g}")
    print("waypoint times: " + ", ".join(f"{t:.6g}" for t in m.times))
    for j, (name, q) in enumerate(zip(names, m.joints)):
        parts = []
        for key, nu, label in (("vmax", 1, "velocity"), ("amax", 2, "acceleration"),
                               ("jmax", 3, "jerk")):
            lim = lims[key]
            if lim is None:
                continue
            lim_j = lim if isinstance(lim, float) else lim[j]
            lo, _, hi, _ = q.extrema(nu)
            parts.append(f"{label} {max(abs(lo), abs(hi)) / lim_j:.4f}")
        print(f"{name}: peak/limit " + ", ".join(parts))
    print(f"saved {', '.join(repr(n) for n in names)} to {out}")
    return 0


def register(sub: Any) -> None:
    """Adds the ``plan`` subparser to the subcommands `sub`.

    Parameters
    ----------
    sub : argparse._SubParsersAction
        The subparsers of the command.

    Returns
    -------
    None
    """
    p = sub.add_parser("plan", help="plan the shortest motion through waypoints under limits",
                       description="Plans the shortest motion through the waypoints of a CSV "
                                   "file (rows of joint positions, one column per joint, no "
                                   "time column; a header row names the joints) that meets "
                                   "the velocity, acceleration and jerk limits, at rest at "
                                   "both ends. Saves one trajectory per joint and prints the "
                                   "duration, the waypoint times and each joint's "
                                   "peak-to-limit ratios.")
    p.add_argument("waypoints", metavar="WAYPOINTS.csv", help="rows of joint positions")
    for name, what in (("vmax", "velocity"), ("amax", "acceleration"), ("jmax", "jerk")):
        p.add_argument(f"--{name}", type=_limit_list, required=name != "jmax",
                       metavar=name[0].upper(),
                       help=f"{what} limit: one number, or a comma list with one per joint"
                            + ("" if name != "jmax" else " (default: none)"))
    p.add_argument("-o", "--output", help="document to write (default: WAYPOINTS.pyvelt "
                                          "in the current folder)")
    p.set_defaults(func=run_plan)
