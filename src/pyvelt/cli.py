"""The ``python -m pyvelt`` command.

Subcommands: ``demo`` (the default), ``fit``, ``show``, ``sample`` and
``plot``. Every failure caused by the input (a missing or malformed file, an
unknown ID, a time outside the domain, matplotlib missing for a plot) ends
with one line on stderr and exit code 1; usage errors exit with code 2.
"""
import argparse
import math
import os
import sys
from typing import Any, Callable, List, NoReturn, Optional, Sequence, Tuple

import numpy as np

import pyvelt
from pyvelt import arcus
from pyvelt.build import KNOTS
from pyvelt.cmdio import CommandError, csv_rows, need_finite

__all__ = ["main", "load_waypoints", "read_waypoints", "save_plot"]

PROG = "python -m pyvelt"

# The demo: a joint (times in s, positions in rad) from rest to rest: zero
# velocity and acceleration at both ends.
DEMO_TIMES = (0.0, 0.5, 1.2, 2.0, 2.6, 3.0)
DEMO_POSITIONS = (0.0, 0.4, 1.3, 1.1, 0.3, 0.0)
DEMO_DEGREE = 5

QUANTITIES = ("position", "velocity", "acceleration", "jerk")
IMAGE_FORMATS = ("png", "svg", "pdf")
# Rows of `sample` formatted and written at a time.
SAMPLE_CHUNK = 65536
PLOT_HINT = "pip install 'pyvelt[plot]'"


class _Parser(argparse.ArgumentParser):
    # argparse prints the usage and the message; one line is enough here.
    def error(self, message: str) -> NoReturn:
        self.exit(2, f"{self.prog}: error: {message} (see --help)\n")


def quantity(order: int) -> str:
    """The name of the order of derivation `order` (0 position, 1 velocity, ...).

    Parameters
    ----------
    order : int
        Order of derivation.

    Returns
    -------
    str
    """
    return QUANTITIES[order] if order < len(QUANTITIES) else f"derivative {order}"


def axis_label(order: int) -> str:
    """The axis label of the order of derivation `order`, with its unit.

    Parameters
    ----------
    order : int
        Order of derivation (0 position, 1 velocity, ...).

    Returns
    -------
    str
        The quantity and its unit relative to the position's unit: "position",
        "velocity (per s)", "acceleration (per s^2)", ...
    """
    if order == 0:
        return quantity(0)
    return f"{quantity(order)} (per s{'' if order == 1 else f'^{order}'})"


def image_format(out: str) -> str:
    """The image format that the name `out` asks for.

    Parameters
    ----------
    out : str
        A file name ending in .png, .svg or .pdf (any case).

    Returns
    -------
    str
        "png", "svg" or "pdf".

    Notes
    -----
    CommandError for any other extension.
    """
    ext = os.path.splitext(out)[1].lower().lstrip(".")
    if ext not in IMAGE_FORMATS:
        raise CommandError(f"cannot tell the image format of {out}: use a name ending in "
                           f"{', '.join('.' + f for f in IMAGE_FORMATS)}")
    return ext


# ----------------------------------------------------------------- input files

def load_waypoints(path: str) -> Tuple[np.ndarray, np.ndarray]:
    """Times and values from a CSV file with the columns t, value[, value ...].

    Parameters
    ----------
    path : str
        The file (UTF-8, with or without a byte-order mark). Blank lines and
        lines starting with '#' are skipped; a first row none of whose cells
        is a number is taken as a header.

    Returns
    -------
    (ndarray, ndarray)
        Strictly increasing times and the values at them, as float64 arrays:
        one-dimensional for one value column, of shape (rows, columns) for
        several.

    Notes
    -----
    CommandError names the line of any row that does not hold finite
    numbers in as many columns as the first row, and of a time that does
    not increase.
    """
    times, values, _ = read_waypoints(path)
    return times, (values[:, 0] if values.shape[1] == 1 else values)


def read_waypoints(path: str) -> Tuple[np.ndarray, np.ndarray, Optional[List[str]]]:
    """Times, values and column names from a CSV file t, value[, value ...].

    Parameters
    ----------
    path : str
        The file, as for `load_waypoints`.

    Returns
    -------
    (ndarray, ndarray, list of str or None)
        The times, the values as an array of shape (rows, value columns), and
        the names of the value columns from the header (None without one).

    Notes
    -----
    CommandError as for `load_waypoints`.
    """
    times: List[float] = []
    rows: List[List[float]] = []
    header: Optional[List[str]] = None
    width = 0
    for lineno, cells, numbers in csv_rows(path):
        first = width == 0
        if first:
            width = len(cells)
            if width < 2:
                raise CommandError(f"{path}, line {lineno}: expected at least 2 columns "
                                   f"(t,value), got {width}")
            if all(num is None for num in numbers):
                header = cells      # a header such as "t,value"
                continue
        if len(cells) != width:
            raise CommandError(f"{path}, line {lineno}: expected {width} columns "
                               f"({_columns(width)}), got {len(cells)}")
        need_finite(path, lineno, cells, numbers)
        t = float(numbers[0])  # type: ignore[arg-type]
        if times and t <= times[-1]:
            raise CommandError(f"{path}, line {lineno}: times must increase "
                               f"({t!r} after {times[-1]!r})")
        times.append(t)
        rows.append([float(v) for v in numbers[1:]])  # type: ignore[arg-type]
    if not times:
        raise CommandError(f"{path}: no waypoints (expected rows {_columns(width or 2)})")
    names = header[1:] if header is not None else None
    return np.array(times), np.array(rows).reshape(len(times), width - 1), names


def _columns(width: int) -> str:
    return "t,value" if width == 2 else "t," + ",".join(f"q{j}" for j in range(1, width))


def document_path(path: str) -> str:
    """The existing document file meant by `path`.

    Parameters
    ----------
    path : str
        A file name; as when saving, '.pyvelt' is tried when it has no
        extension.

    Returns
    -------
    str
    """
    if os.path.isfile(path):
        return path
    if not os.path.splitext(path)[1] and os.path.isfile(path + ".pyvelt"):
        return path + ".pyvelt"
    raise CommandError(f"no such file: {path}")


def read_document(path: str) -> Any:
    """The root element of a pyvelt document.

    Parameters
    ----------
    path : str
        An existing file.

    Returns
    -------
    lxml.etree._Element
        The root element, PyVELTObjectList.

    Notes
    -----
    The parser resolves no entities and never reaches the network.
    CommandError for a file that is not well-formed XML or has another root.
    """
    from lxml import etree

    parser = etree.XMLParser(resolve_entities=False, no_network=True)
    try:
        root = etree.parse(path, parser).getroot()
    except etree.XMLSyntaxError as e:
        raise CommandError(f"{path} is not well-formed XML: {e}") from None
    except OSError as e:
        raise CommandError(f"cannot read {path}: {e}") from None
    if root.tag != "PyVELTObjectList":
        raise CommandError(f"{path} is not a pyvelt document (root element '{root.tag}')")
    return root


def _objects(root: Any) -> List[Any]:
    return [el for el in root if isinstance(el.tag, str)]


def load_trajectory(path: str, ID: str) -> Any:
    """The trajectory saved under `ID` in the document `path`.

    Parameters
    ----------
    path : str
        The document, as accepted by `document_path`.
    ID : str
        The trajectory's ID.

    Returns
    -------
    Trajectory1d

    Notes
    -----
    CommandError for an unknown ID (the message lists the IDs there are) and
    for an element that does not describe a trajectory, or one whose knots
    are not a valid knot vector.
    """
    from pyvelt.ductus import Trajectory1d

    path = document_path(path)
    root = read_document(path)
    ids = [el.get("ID") for el in _objects(root) if el.tag == "Trajectory1d"]
    if ID not in ids:
        known = ", ".join(f"'{i}'" for i in ids) or "none"
        raise CommandError(f"no trajectory with ID '{ID}' in {path} (trajectories: {known})")
    try:
        t = Trajectory1d.loadxml(path, ID)
    except (ValueError, TypeError, IndexError, AttributeError, OverflowError) as e:
        raise CommandError(f"trajectory '{ID}' in {path} is damaged: {e}") from None
    # Loading does not check the knots; every evaluation would refuse them.
    if arcus.validknots(t.p, t.get_knotvector_asarray()):
        raise CommandError(f"trajectory '{ID}' in {path} is damaged: its knots are not a "
                           f"valid knot vector of degree {t.p}")
    return t


# ---------------------------------------------------------------- the plot

def have_matplotlib() -> bool:
    """Whether matplotlib can be imported.

    Returns
    -------
    bool
    """
    try:
        import matplotlib  # noqa: F401
    except ImportError:
        return False
    return True


def save_plot(traj: Any, nus: Sequence[int], out: str,
              marks: Optional[Tuple[np.ndarray, np.ndarray]] = None, title: str = "") -> None:
    """Draws derivatives of a trajectory, one panel each, into an image file.

    Parameters
    ----------
    traj : Trajectory1d
        The trajectory.
    nus : sequence of int
        The orders of derivative to draw (0 the trajectory itself).
    out : str
        The image file; its extension (.png, .svg or .pdf) gives the format.
    marks : (ndarray, ndarray), optional
        Points (times, values) marked on the first panel, e.g. waypoints.
    title : str, optional
        Title of the figure.

    Returns
    -------
    None

    Notes
    -----
    Uses matplotlib's own canvases, never a window. The panels are labelled
    with the quantity and its unit per second to the power of the order.
    CommandError when matplotlib is not installed or the extension is none of
    the three.
    """
    fmt = image_format(out)
    try:
        from matplotlib.figure import Figure
    except ImportError:
        raise CommandError(f"plotting needs matplotlib: {PLOT_HINT}") from None
    ts = np.linspace(traj.start, traj.stop, 1001)
    size = (7.0, 2.0 + 1.6 * len(nus))
    try:
        fig = Figure(figsize=size, layout="constrained")
    except TypeError:   # matplotlib before the layout argument
        fig = Figure(figsize=size, constrained_layout=True)
    axes = fig.subplots(len(nus), 1, sharex=True, squeeze=False)[:, 0]
    for ax, nu in zip(axes, nus):
        ax.plot(ts, traj(ts, nu=nu), lw=1.5)
        ax.set_ylabel(axis_label(traj.order + nu))
        ax.grid(True, alpha=0.3)
    if marks is not None:
        axes[0].plot(marks[0], marks[1], "o", ms=4)
    axes[-1].set_xlabel("t (s)")
    if title:
        fig.suptitle(title)
    try:
        fig.savefig(out, format=fmt, dpi=100)
    except OSError as e:
        raise CommandError(f"cannot write {out}: {e}") from None


# ---------------------------------------------------------------- subcommands

def run_demo(args: argparse.Namespace) -> int:
    from pyvelt.ductus import Trajectory1d

    times, pos = np.array(DEMO_TIMES), np.array(DEMO_POSITIONS)
    x = pyvelt.interpolate(times, pos, p=DEMO_DEGREE, slopes=(0.0, 0.0), accels=(0.0, 0.0))
    trajs = {"position": x, "velocity": x.derivative(1),
             "acceleration": x.derivative(2), "jerk": x.derivative(3)}
    print(f"pyvelt {pyvelt.__version__} demo: a joint through {len(times)} waypoints, "
          f"degree {x.p}, from rest to rest")
    print(f"domain: [{x.start}, {x.stop}] s")
    print(f"velocity at the ends: {_zero(x(x.start, nu=1)):.4f} and {_zero(x(x.stop, nu=1)):.4f} "
          f"rad/s; acceleration at the ends: {_zero(x(x.start, nu=2)):.4f} and "
          f"{_zero(x(x.stop, nu=2)):.4f} rad/s^2")
    units = {"velocity": "rad/s", "acceleration": "rad/s^2", "jerk": "rad/s^3"}
    for name, unit in units.items():
        # The exact extrema over the whole domain, not only at sampled times.
        ymin, tmin, ymax, tmax = trajs[name].extrema()
        peak, at = (ymax, tmax) if abs(ymax) >= abs(ymin) else (ymin, tmin)
        print(f"peak |{name}|: {abs(peak):.4f} {unit} at t = {at:.3f} s")

    out = os.path.abspath(args.output)
    for ID, traj in trajs.items():
        traj.savexml(out, ID)
    if not os.path.splitext(out)[1]:
        out += ".pyvelt"
    equal = all(Trajectory1d.loadxml(out, ID) == traj for ID, traj in trajs.items())
    if not equal:
        raise CommandError(f"the trajectories loaded back from {out} differ from those saved")
    print(f"saved {', '.join(trajs)} to {out}; loaded back equal")

    if args.no_plot:
        pass
    elif have_matplotlib():
        png = os.path.splitext(out)[0] + ".png"
        save_plot(x, (0, 1, 2), png, marks=(times, pos), title="pyvelt demo")
        print(f"plot of position, velocity and acceleration: {png}")
    else:
        print(f"no plot: matplotlib is not installed ({PLOT_HINT})")
    name = os.path.relpath(out)
    print(f"next: {PROG} show {name} --id position; {PROG} sample {name} --id position --nu 1")
    return 0


def _zero(v: float) -> float:
    # Rounding leaves a few 1e-16 at a point of rest: print them as 0.
    return 0.0 if abs(v) < 5e-12 else v


def run_fit(args: argparse.Namespace) -> int:
    times, values, names = read_waypoints(args.waypoints)
    J = values.shape[1]
    if J == 1:
        ids = [args.id]
    elif names is not None:
        ids = names
        if "" in ids or len(set(ids)) != len(ids):
            raise CommandError(f"{args.waypoints}: the header must name every value column, "
                               f"each differently (got {', '.join(map(repr, ids))})")
    else:
        ids = [f"{args.id}_{j}" for j in range(1, J + 1)]
    slopes, accels = args.slopes, args.accels
    if args.rest:
        slopes, accels = (0.0, 0.0), (0.0, 0.0)
    if args.lsq is not None:
        trajs = pyvelt.approximate(times, values, args.lsq, p=args.degree, order=args.order)
        how = f"least squares, {args.lsq} control points"
    else:
        trajs = pyvelt.interpolate(times, values, p=args.degree, slopes=slopes,
                                   accels=accels, knots=args.knots or "average",
                                   order=args.order)
        how = "interpolation" + (", from rest to rest" if args.rest else
                                 " with end slopes and accelerations" if accels else
                                 " with end slopes" if slopes else "")
        if args.knots == "data":
            how += ", knots at the waypoints"
    out = args.output
    if out is None:
        out = os.path.splitext(os.path.basename(args.waypoints))[0] + ".pyvelt"
    for ID, traj in zip(ids, trajs):
        traj.savexml(out, ID)
    if not os.path.splitext(out)[1]:
        out += ".pyvelt"
    traj = trajs[0]
    dev = max(float(np.max(np.abs(t(times) - values[:, j]))) for j, t in enumerate(trajs))
    what = "" if J == 1 else f", {J} trajectories"
    print(f"fitted {len(times)} waypoints ({how}{what}): degree {traj.p}, {traj.n + 1} control "
          f"points, domain [{traj.start}, {traj.stop}], largest deviation {dev:.3g}")
    print(f"saved as {', '.join(repr(i) for i in ids)} to {out}")
    return 0


def _describe(el: Any) -> str:
    a = el.attrib
    if el.tag == "Trajectory1d":
        return (f"degree {a.get('p', '?')}, {_count(a.get('n'), 1)} control points, "
                f"order {a.get('order', '?')}, domain [{a.get('start', '?')}, "
                f"{a.get('stop', '?')}]")
    if el.tag == "Point1d":
        return f"t {a.get('t', '?')}, value {a.get('val', '?')}, order {a.get('order', '?')}"
    return ""


def _count(text: Optional[str], plus: int) -> str:
    try:
        return str(int(text or "") + plus)
    except ValueError:
        return "?"


def run_show(args: argparse.Namespace) -> int:
    path = document_path(args.file)
    if args.id is not None:
        t = load_trajectory(path, args.id)
        print(f"Trajectory1d '{args.id}' in {path}")
        print(f"domain: [{t.start}, {t.stop}]")
        print(f"degree: {t.p}")
        print(f"order: {t.order} ({quantity(t.order)})")
        print(f"knots: {t.n + t.p + 2} ({len(np.unique(t.get_knotvector_asarray()))} distinct)")
        print(f"control points: {t.n + 1}")
        return 0
    objs = _objects(read_document(path))
    print(f"{path}: {len(objs)} object{'s' if len(objs) != 1 else ''}")
    for el in objs:
        print(f"  {el.tag:<12} {el.get('ID')!s:<16} {_describe(el)}".rstrip())
    return 0


def run_sample(args: argparse.Namespace) -> int:
    t = load_trajectory(args.file, args.id)
    start = t.start if args.start is None else args.start
    stop = t.stop if args.stop is None else args.stop
    for name, v in (("start", start), ("stop", stop)):
        if not t.start <= v <= t.stop:
            raise CommandError(f"--{name} {v!r} is outside the domain [{t.start}, {t.stop}]")
    if not start < stop:
        raise CommandError(f"empty interval: --start {start!r} must be below --stop {stop!r}")
    n = args.n
    step = (stop - start) / (n - 1)
    try:
        # The header goes out with the first chunk: nothing is written when
        # that one fails.
        head = "t,value\n" if args.nu == 0 else f"t,derivative{args.nu}\n"
        # In chunks: the whole output of a large N need not fit in memory.
        for i0 in range(0, n, SAMPLE_CHUNK):
            # The times of np.linspace(start, stop, n), a chunk at a time.
            ts = np.arange(i0, min(i0 + SAMPLE_CHUNK, n)) * step + start
            if i0 + len(ts) == n:
                ts[-1] = stop
            vals = t(ts, nu=args.nu)
            bad = np.flatnonzero(~np.isfinite(vals))
            if len(bad):
                raise CommandError(f"the {quantity(t.order + args.nu)} at t = "
                                   f"{float(ts[bad[0]])!r} is not a finite number "
                                   f"({float(vals[bad[0]])!r})")
            sys.stdout.write(head + "".join([f"{a!r},{b!r}\n"
                                             for a, b in zip(ts.tolist(), vals.tolist())]))
            head = ""
        sys.stdout.flush()
    except BrokenPipeError:
        raise
    except (OSError, CommandError) as e:
        _drop_stdout()
        if isinstance(e, CommandError):
            raise
        raise CommandError(f"cannot write the samples: {e.strerror or e}") from None
    return 0


def _drop_stdout() -> None:
    # What is still buffered would fail again at exit: send it nowhere.
    os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())


def run_plot(args: argparse.Namespace) -> int:
    out = args.output or f"{args.id}.png"
    image_format(out)
    if not have_matplotlib():
        raise CommandError(f"plotting needs matplotlib: {PLOT_HINT}")
    t = load_trajectory(args.file, args.id)
    nus = args.nu if args.nu else [0]
    save_plot(t, nus, out, title=f"{args.id} ({os.path.basename(args.file)})")
    print(f"plot of {', '.join(quantity(t.order + k) for k in nus)}: {os.path.abspath(out)}")
    return 0


# ---------------------------------------------------------------- arguments

def _natural(minimum: int) -> Callable[[str], int]:
    def parse(text: str) -> int:
        try:
            value = int(text)
        except ValueError:
            raise argparse.ArgumentTypeError(f"'{text}' is not an integer") from None
        if value < minimum:
            raise argparse.ArgumentTypeError(f"{value} is below {minimum}")
        return value
    parse.__name__ = "integer"
    return parse


def _finite(text: str) -> float:
    try:
        value = float(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"'{text}' is not a number") from None
    if not math.isfinite(value):
        raise argparse.ArgumentTypeError(f"'{text}' is not finite")
    return value


def build_parser() -> argparse.ArgumentParser:
    """The argument parser of the command.

    Returns
    -------
    argparse.ArgumentParser
    """
    parser = _Parser(
        prog=PROG,
        description="One-dimensional B-spline trajectories: fit waypoints, inspect and "
                    "sample documents, plot. Without a subcommand, runs the demo.")
    parser.add_argument("--version", action="version", version=f"pyvelt {pyvelt.__version__}")
    sub = parser.add_subparsers(dest="command", metavar="COMMAND")

    p = sub.add_parser("demo", help="fit built-in joint waypoints, save, load and plot",
                       description="Fits a quintic from rest to rest (zero velocity and "
                                   "acceleration at both ends) through built-in joint "
                                   "waypoints, prints the end velocities and accelerations "
                                   "and the peak velocity, acceleration and jerk, saves the four "
                                   "trajectories to a document in the current folder, loads "
                                   "them back and checks they are equal, and draws a PNG plot "
                                   "when matplotlib is installed.")
    p.add_argument("-o", "--output", default="demo.pyvelt",
                   help="document to write (default: %(default)s; the plot goes beside it)")
    p.add_argument("--no-plot", action="store_true", help="do not draw the plot")
    p.set_defaults(func=run_demo)

    p = sub.add_parser("fit", help="fit trajectories to waypoints from a CSV file",
                       description="Fits a trajectory to the waypoints of a CSV file with the "
                                   "columns t,value and saves it into a document; a file "
                                   "with several value columns t,q1,q2,... gives one "
                                   "trajectory per column, saved under the column's name in "
                                   "the header (a first row without numbers), else under "
                                   "ID_1, ID_2, ... (ID as given by --id). Interpolates by "
                                   "default; --lsq fits by least squares.")
    p.add_argument("waypoints", metavar="WAYPOINTS.csv",
                   help="rows t,value (or t,q1,q2,...) with increasing t")
    p.add_argument("-p", "--degree", type=_natural(1), default=3,
                   help="degree of the B-spline (default: %(default)s)")
    g = p.add_mutually_exclusive_group()
    g.add_argument("--slopes", type=_finite, nargs=2, metavar=("START", "END"),
                   help="first derivatives at the first and the last waypoint")
    g.add_argument("--rest", action="store_true",
                   help="start and stop at rest: same as --slopes 0 0 --accels 0 0")
    g.add_argument("--lsq", type=_natural(2), metavar="NCPTS",
                   help="least squares with NCPTS control points (fewer than the waypoints)")
    p.add_argument("--accels", type=_finite, nargs=2, metavar=("START", "END"),
                   help="second derivatives at the first and the last waypoint (with --slopes)")
    p.add_argument("--knots", choices=KNOTS,
                   help="knots by averaging the times, or at the waypoint times "
                        "(default: average)")
    p.add_argument("--order", type=_natural(0), default=0,
                   help="order of derivation the values stand for (default: %(default)s)")
    p.add_argument("-o", "--output", help="document to write (default: WAYPOINTS.pyvelt "
                                          "in the current folder)")
    p.add_argument("--id", default="trajectory", help="ID to save under (default: %(default)s)")
    p.set_defaults(func=run_fit)

    p = sub.add_parser("show", help="list the objects of a document, or describe one trajectory",
                       description="Lists the objects of a document; with --id, prints one "
                                   "trajectory's domain, degree, order and knot count.")
    p.add_argument("file", metavar="FILE", help="a .pyvelt document")
    p.add_argument("--id", help="the ID of a trajectory")
    p.set_defaults(func=run_show)

    p = sub.add_parser("sample", help="print a trajectory or a derivative at evenly spaced times",
                       description="Prints t and the K-th derivative of a trajectory at N "
                                   "evenly spaced times of its domain as CSV.")
    p.add_argument("file", metavar="FILE", help="a .pyvelt document")
    p.add_argument("--id", required=True, help="the ID of the trajectory")
    p.add_argument("--n", type=_natural(2), default=11, metavar="N",
                   help="number of times (default: %(default)s)")
    p.add_argument("--nu", type=_natural(0), default=0, metavar="K",
                   help="order of the derivative (default: %(default)s, the trajectory)")
    p.add_argument("--start", type=_finite, help="first time (default: start of the domain)")
    p.add_argument("--stop", type=_finite, help="last time (default: end of the domain)")
    p.set_defaults(func=run_sample)

    p = sub.add_parser("plot", help="draw a trajectory and derivatives into an image "
                                    "(matplotlib)",
                       description="Draws a trajectory and the derivatives asked for, one "
                                   "panel each, into a PNG, SVG or PDF file, as the name's "
                                   f"extension says. Needs matplotlib ({PLOT_HINT}).")
    p.add_argument("file", metavar="FILE", help="a .pyvelt document")
    p.add_argument("--id", required=True, help="the ID of the trajectory")
    p.add_argument("--nu", type=_natural(0), nargs="+", metavar="K",
                   help="orders of derivative to draw (default: 0, the trajectory)")
    p.add_argument("-o", "--output", metavar="OUT.png",
                   help="image file, .png, .svg or .pdf (default: ID.png)")
    p.set_defaults(func=run_plot)

    from pyvelt import plancmd
    plancmd.register(sub)
    return parser


def main(argv: Optional[Sequence[str]] = None) -> int:
    """Runs the command.

    Parameters
    ----------
    argv : sequence of str, optional
        The arguments (default: sys.argv[1:]).

    Returns
    -------
    int
        The exit code: 0 success, 1 a failure reported on stderr, 2 a usage
        error.
    """
    parser = build_parser()
    args = parser.parse_args(argv)
    if args.command is None:
        args = parser.parse_args(["demo"])
    if args.command == "fit":
        for option, given, other in (("--accels", args.accels, "--rest"),
                                     ("--accels", args.accels, "--lsq"),
                                     ("--knots", args.knots, "--lsq")):
            if given is not None and getattr(args, other[2:]) not in (None, False):
                parser.error(f"argument {option}: not allowed with argument {other}")
    try:
        return int(args.func(args))
    except CommandError as e:
        return _fail(args.command, str(e))
    except KeyboardInterrupt:
        return _fail(args.command, "interrupted", 130)
    except BrokenPipeError:
        # The reader went away (e.g. `| head`): no more output, and none
        # at exit either.
        os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())
        return 1
    except Exception as e:  # the library's own errors: one line, no traceback
        return _fail(args.command, _message(e))


def _message(e: BaseException) -> str:
    text = str(e).strip().splitlines()
    name = type(e).__name__
    if not text:
        return name
    return text[0] if isinstance(e, (ValueError, OSError)) else f"{name}: {text[0]}"


def _fail(command: str, message: str, code: int = 1) -> int:
    print(f"{PROG} {command}: error: {message}", file=sys.stderr)
    return code
