"""The ``python -m pyvelt`` command, run as a user runs it: in a subprocess,
in a fresh folder."""
import csv
import io
import os
import pathlib
import subprocess
import sys

import numpy as np
import pytest

import pyvelt
from pyvelt.ductus import Point1d, Trajectory1d

# Every command runs in a fresh interpreter.
pytestmark = pytest.mark.slow

# The package as this test run imports it (installed or a development build),
# ahead of whatever the run was given.
PYTHONPATH = os.pathsep.join(
    [str(pathlib.Path(pyvelt.__file__).parent.parent)]
    + [p for p in os.environ.get("PYTHONPATH", "").split(os.pathsep) if p])

# Runs the command with matplotlib unimportable.
NO_MATPLOTLIB = ("import runpy, sys; sys.modules['matplotlib'] = None; "
                 "runpy.run_module('pyvelt', run_name='__main__')")

WAYPOINTS = "t,value\n0,0\n0.5,0.4\n1.0,1.2\n1.5,1.0\n2.0,0.5\n"


def have_matplotlib():
    try:
        import matplotlib  # noqa: F401
    except ImportError:
        return False
    return True


def pyvelt_cmd(cwd, *args, matplotlib=True):
    head = ["-m", "pyvelt"] if matplotlib else ["-c", NO_MATPLOTLIB]
    return subprocess.run([sys.executable, *head, *args], cwd=cwd, capture_output=True,
                          text=True, env=dict(os.environ, PYTHONPATH=PYTHONPATH))


def ok(out):
    assert out.returncode == 0 and out.stderr == "", out.stderr
    return out.stdout


def failed(out, code=1):
    # One line on stderr, no traceback, nothing on stdout.
    assert out.returncode == code, (out.stdout, out.stderr)
    assert len(out.stderr.splitlines()) == 1 and "Traceback" not in out.stderr, out.stderr
    assert out.stdout == ""
    return out.stderr


def read_csv(text):
    rows = list(csv.reader(io.StringIO(text)))
    return rows[0], np.array(rows[1:], dtype=float)


@pytest.mark.parametrize("args", [[], ["demo", "--no-plot", "-o", "sub.xml"]],
                         ids=["bare", "options"])
def test_demo_in_an_empty_folder(tmp_path, args):
    out = ok(pyvelt_cmd(tmp_path, *args))
    doc = tmp_path / ("demo.pyvelt" if not args else "sub.xml")
    assert f"saved position, velocity, acceleration, jerk to {doc}; loaded back equal" in out
    assert "domain: [0.0, 3.0] s" in out
    # The saved trajectories are the position and its derivatives, and the
    # printed peaks are theirs.
    x = Trajectory1d.loadxml(str(doc), "position")
    assert x(np.array([0.0, 1.2, 3.0])) == pytest.approx([0.0, 1.3, 0.0], abs=1e-12)
    # From rest to rest: no velocity and no acceleration at either end.
    ends = [x(t, nu=nu) for nu in (1, 2) for t in (0.0, 3.0)]
    assert ends == pytest.approx([0.0] * 4, abs=1e-10)
    assert ("velocity at the ends: 0.0000 and 0.0000 rad/s; "
            "acceleration at the ends: 0.0000 and 0.0000 rad/s^2") in out
    ts = np.linspace(0.0, 3.0, 3001)
    for k, name in enumerate(["velocity", "acceleration", "jerk"], 1):
        assert Trajectory1d.loadxml(str(doc), name) == x.derivative(k)
        assert f"peak |{name}|: {np.max(np.abs(x(ts, nu=k))):.4f}" in out
    plotted = have_matplotlib() and not args
    assert (tmp_path / "demo.png").exists() == plotted
    assert sorted(p.name for p in tmp_path.iterdir()) == sorted(
        [doc.name] + (["demo.png"] if plotted else []))
    if not args:
        assert ("plot of position, velocity and acceleration" in out) == plotted
        assert ("matplotlib is not installed" in out) != plotted


@pytest.mark.parametrize("sub, option", [(None, "COMMAND"), ("demo", "--no-plot"),
                                         ("fit", "--lsq"), ("show", "--id"),
                                         ("sample", "--nu"), ("plot", "OUT.png")])
def test_help(tmp_path, sub, option):
    out = ok(pyvelt_cmd(tmp_path, *([sub] if sub else []), "--help"))
    assert out.startswith(f"usage: python -m pyvelt {sub or ''}".rstrip())
    assert option in out and "--help" in out
    assert list(tmp_path.iterdir()) == []


def test_fit_show_sample(tmp_path):
    (tmp_path / "way.csv").write_text(WAYPOINTS)
    t = np.array([0.0, 0.5, 1.0, 1.5, 2.0])
    y = np.array([0.0, 0.4, 1.2, 1.0, 0.5])

    out = ok(pyvelt_cmd(tmp_path, "fit", "way.csv", "--slopes", "0", "0.5", "--id", "pos"))
    assert "saved as 'pos' to way.pyvelt" in out
    want = pyvelt.interpolate(t, y, p=3, slopes=(0.0, 0.5))
    assert Trajectory1d.loadxml(str(tmp_path / "way"), "pos") == want
    ok(pyvelt_cmd(tmp_path, "fit", "way.csv", "--lsq", "4", "-p", "2", "--order", "1",
                  "-o", "way", "--id", "lsq"))
    lsq = Trajectory1d.loadxml(str(tmp_path / "way"), "lsq")
    assert lsq == pyvelt.approximate(t, y, 4, p=2, order=1)
    Point1d(0.5, 1.0, 0).savexml(str(tmp_path / "way"), "mark")

    out = ok(pyvelt_cmd(tmp_path, "show", "way.pyvelt")).splitlines()
    assert out[0] == "way.pyvelt: 3 objects"
    assert [line.split()[:2] for line in out[1:]] == [
        ["Trajectory1d", "pos"], ["Trajectory1d", "lsq"], ["Point1d", "mark"]]
    assert "degree 2, 4 control points, order 1, domain [0.0, 2.0]" in out[2]
    out = ok(pyvelt_cmd(tmp_path, "show", "way", "--id", "lsq"))
    assert ["domain: [0.0, 2.0]", "degree: 2", "order: 1 (velocity)", "knots: 7 (3 distinct)",
            "control points: 4"] == out.splitlines()[1:]

    header, data = read_csv(ok(pyvelt_cmd(tmp_path, "sample", "way.pyvelt", "--id", "pos",
                                          "--n", "9", "--nu", "1")))
    assert header == ["t", "derivative1"]
    assert data[:, 0].tolist() == np.linspace(0.0, 2.0, 9).tolist()
    assert data[:, 1].tolist() == want(data[:, 0], nu=1).tolist()      # shortest round trip
    assert data[[0, -1], 1].tolist() == pytest.approx([0.0, 0.5], abs=1e-12)
    header, data = read_csv(ok(pyvelt_cmd(tmp_path, "sample", "way", "--id", "pos",
                                          "--start", "0.5", "--stop", "1.5", "--n", "3")))
    assert header == ["t", "value"] and data.tolist() == [[0.5, 0.4], [1.0, 1.2], [1.5, 1.0]]


DAMAGED = """<PyVELTObjectList>
<Trajectory1d ID="nan" p="1" n="1" owner="True" order="0"><cpts>0 x</cpts><knots>0 0 1 1</knots></Trajectory1d>
<Trajectory1d ID="down" p="1" n="1" owner="True" order="0"><cpts>0 1</cpts><knots>1 1 0 0</knots></Trajectory1d>
</PyVELTObjectList>
"""


BIG = "0,1e308\n1,-1e308\n2,1e308\n3,-1e308\n"


@pytest.mark.parametrize("args, message, code", [
    (["fit", "missing.csv"], "no such file: missing.csv", 1),
    (["fit", "text.csv"], "text.csv, line 3: 'x' is not a finite number", 1),
    (["fit", "cols.csv"], "cols.csv, line 2: expected 2 columns (t,value), got 3", 1),
    (["fit", "back.csv"], "back.csv, line 3: times must increase (0.5 after 1.0)", 1),
    (["fit", "way.csv", "-p", "5"], "too few for degree 5", 1),
    (["fit", "typo.csv"], "typo.csv, line 1: '0.5x' is not a finite number", 1),
    (["fit", "nan.csv"], "nan.csv, line 3: 'nan' is not a finite number", 1),
    (["fit", "big.csv"], "control points that are not finite", 1),
    (["fit", "ragged.csv"], "ragged.csv, line 3: expected 3 columns (t,q1,q2), got 2", 1),
    (["fit", "way.csv", "--rest", "--knots", "data"], "'data' cannot place knots for p = 3", 1),
    (["fit", "way.csv", "--accels", "0", "0"], "'accels' must be given together with", 1),
    (["fit", "way.csv", "--rest", "--accels", "1", "1"], "not allowed with argument --rest", 2),
    (["fit", "way.csv", "--lsq", "4", "--knots", "data"], "not allowed with argument --lsq", 2),
    (["plot", "doc", "--id", "pos", "-o", "x.jpg"], "cannot tell the image format of x.jpg", 1),
    (["sample", "doc", "--id", "steep", "--nu", "1"],
     "the velocity at t = 0.0 is not a finite number (inf)", 1),
    (["fit", "way.csv", "--lsq", "5"], "'ncpts' must be in [4, 4], got 5", 1),
    (["show", "missing.pyvelt"], "no such file: missing.pyvelt", 1),
    (["show", "text.csv"], "text.csv is not well-formed XML", 1),
    (["show", "other.xml"], "other.xml is not a pyvelt document (root element 'a')", 1),
    (["show", "doc.pyvelt", "--id", "zz"],
     "no trajectory with ID 'zz' in doc.pyvelt (trajectories: 'pos', 'steep')", 1),
    (["sample", "doc", "--id", "pos", "--stop", "2.5"],
     "--stop 2.5 is outside the domain [0.0, 2.0]", 1),
    (["sample", "bad.pyvelt", "--id", "nan"], "trajectory 'nan' in bad.pyvelt is damaged", 1),
    (["show", "bad.pyvelt", "--id", "down"],
     "trajectory 'down' in bad.pyvelt is damaged: its knots are not a valid knot vector", 1),
    (["sample", "doc", "--id", "pos", "--n", "1"], "argument --n: 1 is below 2", 2),
    (["fit", "way.csv", "--lsq", "4", "--slopes", "0", "0"], "not allowed with", 2),
    (["draw"], "invalid choice: 'draw'", 2),
])
def test_bad_input(tmp_path, args, message, code):
    files = {"way.csv": WAYPOINTS, "text.csv": "t,value\n0,0\n1,x\n",
             "cols.csv": "0,0\n1,1,1\n", "back.csv": "0,0\n1,1\n0.5,2\n",
             "other.xml": "<a/>", "bad.pyvelt": DAMAGED, "big.csv": BIG,
             "typo.csv": "0.5x,0\n1,1\n2,0\n3,1\n", "nan.csv": "t,v\n0,0\n1,nan\n2,0\n",
             "ragged.csv": "t,a,b\n0,0,0\n1,1\n"}
    for name, text in files.items():
        (tmp_path / name).write_text(text)
    pyvelt.interpolate([0.0, 1.0, 1.5, 2.0], [0.0, 1.0, 0.5, 0.0]).savexml(
        str(tmp_path / "doc"), "pos")
    pyvelt.trajectory([0, 0, 1, 1], [-1e308, 1e308], 1).savexml(str(tmp_path / "doc"), "steep")
    before = {p.name: p.read_bytes() for p in tmp_path.iterdir()}
    err = failed(pyvelt_cmd(tmp_path, *args), code)
    assert err.startswith(f"python -m pyvelt {args[0]}: error: ") or code == 2
    assert message in err
    assert {p.name: p.read_bytes() for p in tmp_path.iterdir()} == before


@pytest.mark.skipif(not have_matplotlib(), reason="matplotlib is not installed")
def test_plot(tmp_path):
    pyvelt.interpolate([0.0, 1.0, 1.5, 2.0], [0.0, 1.0, 0.5, 0.0]).savexml(
        str(tmp_path / "doc"), "pos")
    out = ok(pyvelt_cmd(tmp_path, "plot", "doc.pyvelt", "--id", "pos", "--nu", "0", "1", "2"))
    assert out == f"plot of position, velocity, acceleration: {tmp_path / 'pos.png'}\n"
    ok(pyvelt_cmd(tmp_path, "plot", "doc.pyvelt", "--id", "pos", "-o", "x.png"))
    for name in ("pos.png", "x.png"):
        assert (tmp_path / name).read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"
    err = failed(pyvelt_cmd(tmp_path, "plot", "doc.pyvelt", "--id", "pos", "-o", "no/x.png"))
    assert "cannot write no/x.png" in err


def test_without_matplotlib(tmp_path):
    pyvelt.interpolate([0.0, 1.0, 1.5, 2.0], [0.0, 1.0, 0.5, 0.0]).savexml(
        str(tmp_path / "doc"), "pos")
    err = failed(pyvelt_cmd(tmp_path, "plot", "doc.pyvelt", "--id", "pos", matplotlib=False))
    assert err == ("python -m pyvelt plot: error: plotting needs matplotlib: "
                   "pip install 'pyvelt[plot]'\n")
    out = ok(pyvelt_cmd(tmp_path, "demo", matplotlib=False))
    assert "no plot: matplotlib is not installed (pip install 'pyvelt[plot]')" in out
    assert sorted(p.name for p in tmp_path.iterdir()) == ["demo.pyvelt", "doc.pyvelt"]


@pytest.mark.parametrize("text", ["\ufeff0,0\n0.5,0.4\n1.0,1.2\n1.5,1.0\n2.0,0.5\n",
                                  "\ufefft,value\n0,0\n0.5,0.4\n1.0,1.2\n1.5,1.0\n2.0,0.5\n"],
                         ids=["bom", "bom-header"])
def test_fit_keeps_every_waypoint(tmp_path, text):
    # A spreadsheet's byte-order mark is no header: the first waypoint stays.
    (tmp_path / "way.csv").write_text(text, encoding="utf-8")
    out = ok(pyvelt_cmd(tmp_path, "fit", "way.csv", "-p", "1"))
    assert out.startswith("fitted 5 waypoints (interpolation): degree 1, 5 control points")
    t = Trajectory1d.loadxml(str(tmp_path / "way.pyvelt"), "trajectory")
    assert t.get_cpts_asarray().tolist() == [0.0, 0.4, 1.2, 1.0, 0.5]


@pytest.mark.parametrize("header, ids", [("t,shoulder,elbow\n", ["shoulder", "elbow"]),
                                         ("", ["q_1", "q_2"])], ids=["header", "none"])
def test_fit_several_joints_from_rest_to_rest(tmp_path, header, ids):
    t = np.array([0.0, 0.3, 1.0, 1.2, 2.0, 2.5])
    q = np.column_stack([np.sin(t), np.cos(2 * t)])
    rows = "".join(f"{a!r},{b!r},{c!r}\n" for a, (b, c) in zip(t.tolist(), q.tolist()))
    (tmp_path / "arm.csv").write_text(header + rows)
    out = ok(pyvelt_cmd(tmp_path, "fit", "arm.csv", "--rest", "-p", "5", "--id", "q"))
    assert f"saved as '{ids[0]}', '{ids[1]}' to arm.pyvelt" in out
    for j, ID in enumerate(ids):
        traj = Trajectory1d.loadxml(str(tmp_path / "arm.pyvelt"), ID)
        assert traj(t) == pytest.approx(q[:, j], abs=1e-12)
        ends = [traj(x, nu=nu) for nu in (1, 2) for x in (0.0, 2.5)]
        assert ends == pytest.approx([0.0] * 4, abs=1e-9)
    out = ok(pyvelt_cmd(tmp_path, "fit", "arm.csv", "--knots", "data", "--slopes", "1", "-2",
                        "-o", "data", "--id", "q"))
    traj = Trajectory1d.loadxml(str(tmp_path / "data.pyvelt"), ids[1])
    assert traj.get_knotvector_asarray().tolist() == [0.0] * 4 + t[1:-1].tolist() + [2.5] * 4
    assert [traj(0.0, nu=1), traj(2.5, nu=1)] == pytest.approx([1.0, -2.0], abs=1e-10)


def test_sample_reports_a_failed_write(tmp_path):
    if not os.path.exists("/dev/full"):
        pytest.skip("no /dev/full")
    pyvelt.interpolate([0.0, 1.0, 1.5, 2.0], [0.0, 1.0, 0.5, 0.0]).savexml(
        str(tmp_path / "doc"), "pos")
    for n in ("5", "200000"):      # one write at exit, and many chunks
        with open("/dev/full", "w") as full:
            out = subprocess.run([sys.executable, "-m", "pyvelt", "sample", "doc.pyvelt",
                                  "--id", "pos", "--n", n], cwd=tmp_path, stdout=full,
                                 stderr=subprocess.PIPE, text=True,
                                 env=dict(os.environ, PYTHONPATH=PYTHONPATH))
        assert out.returncode == 1
        assert out.stderr == ("python -m pyvelt sample: error: cannot write the samples: "
                              "No space left on device\n")


def test_sample_in_chunks_is_linspace(tmp_path):
    # More rows than one chunk: the same times as np.linspace, the last exact.
    from pyvelt import cli
    t = pyvelt.interpolate([0.0, 0.7, 1.5, 2.1], [0.0, 1.0, 0.5, 0.0])
    t.savexml(str(tmp_path / "doc"), "pos")
    n = cli.SAMPLE_CHUNK + 3
    header, data = read_csv(ok(pyvelt_cmd(tmp_path, "sample", "doc.pyvelt", "--id", "pos",
                                          "--n", str(n))))
    assert header == ["t", "value"]
    assert data[:, 0].tolist() == np.linspace(0.0, 2.1, n).tolist()
    assert data[:, 1].tolist() == t(data[:, 0]).tolist()


@pytest.mark.skipif(not have_matplotlib(), reason="matplotlib is not installed")
@pytest.mark.parametrize("name, magic", [("p.svg", b"<?xml"), ("p.PDF", b"%PDF"),
                                         ("p.png", b"\x89PNG")])
def test_plot_format_from_the_extension(tmp_path, name, magic):
    pyvelt.interpolate([0.0, 1.0, 1.5, 2.0], [0.0, 1.0, 0.5, 0.0]).savexml(
        str(tmp_path / "doc"), "pos")
    ok(pyvelt_cmd(tmp_path, "plot", "doc.pyvelt", "--id", "pos", "-o", name))
    assert (tmp_path / name).read_bytes().startswith(magic)


def test_axis_labels_name_quantity_and_unit():
    from pyvelt.cli import axis_label
    assert [axis_label(k) for k in range(5)] == [
        "position", "velocity (per s)", "acceleration (per s^2)", "jerk (per s^3)",
        "derivative 4 (per s^4)"]
