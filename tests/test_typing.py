"""Type information: text signatures of the extension types, and the stubs as
a type checker sees them in the examples."""
import inspect
import os
import pathlib
import subprocess
import sys
import textwrap

import pytest

from pyvelt.ductus import Point1d, PyVELTObject, Trajectory1d

ROOT = pathlib.Path(__file__).resolve().parent.parent

INSTANCES = {PyVELTObject: PyVELTObject, Point1d: lambda: Point1d(0.0, 1.0, 0),
             Trajectory1d: Trajectory1d}


def signature_faults(cls, names):
    """What is wrong with the text signatures of the methods `names` of `cls`."""
    obj = INSTANCES[cls]()
    faults = []
    for name in names:
        attr = vars(cls)[name]
        try:
            if isinstance(attr, staticmethod):
                inspect.signature(getattr(cls, name))
                continue
            unbound = list(inspect.signature(attr).parameters.values())
            bound = inspect.signature(getattr(obj, name)).parameters
        except ValueError as e:
            faults.append(f"{name}: {e}")
            continue
        if unbound[0].name != "self" or unbound[0].kind is not inspect.Parameter.POSITIONAL_ONLY:
            faults.append(f"{name}: 'self' not marked: {attr.__text_signature__}")
        elif "self" in bound:
            faults.append(f"{name}: the bound method still takes 'self'")
    return faults


def methods(cls):
    # Python-callable methods from the type's method table (slot wrappers
    # such as __add__ get their signatures from the interpreter).
    return [n for n, a in vars(cls).items()
            if isinstance(a, staticmethod) or type(a).__name__ == "method_descriptor"]


@pytest.mark.parametrize("cls", [PyVELTObject, Point1d, Trajectory1d], ids=lambda c: c.__name__)
def test_text_signatures(cls):
    names = methods(cls)
    assert len(names) >= 6
    assert signature_faults(cls, names) == []


def test_signatures_name_the_parameters():
    x = Trajectory1d()
    assert list(inspect.signature(x.copy).parameters) == []
    assert list(inspect.signature(x.__deepcopy__).parameters) == ["memo"]
    assert list(inspect.signature(Point1d.from_tuple).parameters) == ["pnt"]
    assert list(inspect.signature(Trajectory1d.loadxml).parameters) == ["fname", "ID"]
    assert list(inspect.signature(Point1d(0.0, 0.0, 0).savexml).parameters) == ["fname", "ID"]


# Wrong uses that the stubs must reject, one per marked line.
MISUSE = """\
import pyvelt
from pyvelt.ductus import Point1d, Trajectory1d

x = pyvelt.interpolate([0.0, 1.0, 2.0, 3.0], [0.0, 1.0, 0.0, 1.0])
x.peval("0.5")  # E
n: str = x(0.5)  # E
x.knotins(0.5)  # E
Point1d(0.0, 1.0)  # E
y = x * x  # E
v: Trajectory1d = x.derivative(2) + 1.0
w: float = v.start + x(0.5, nu=1) + Trajectory1d.loadxml("f", "a").p
"""


@pytest.mark.slow
def test_examples_type_check(tmp_path):
    pytest.importorskip("mypy")
    bad = tmp_path / "misuse.py"
    bad.write_text(MISUSE)
    examples = sorted(str(p) for p in (ROOT / "examples").glob("*.py"))
    env = {"MYPYPATH": str(ROOT / "src"), "PATH": "", "HOME": str(tmp_path)}
    out = subprocess.run(
        [sys.executable, "-m", "mypy", "--check-untyped-defs", "--no-error-summary",
         "--cache-dir", str(ROOT / "build" / "mypy-cache"), *examples, bad.name],
        capture_output=True, text=True, env=env, cwd=tmp_path)
    errors = [line for line in out.stdout.splitlines() if ": error:" in line]
    wanted = [i for i, line in enumerate(MISUSE.splitlines(), 1) if line.endswith("# E")]
    assert all(line.startswith(bad.name + ":") for line in errors), textwrap.indent(out.stdout, "  ")
    assert sorted({int(line.split(":")[1]) for line in errors}) == wanted, out.stdout


@pytest.mark.slow
def test_stubs_match_the_modules(tmp_path):
    """Every function, method and signature of the stubs is the modules' own."""
    pytest.importorskip("mypy.stubtest")
    import pyvelt
    here = str(pathlib.Path(pyvelt.__file__).resolve().parent.parent)  # the package under test
    env = dict(os.environ, PYTHONPATH=os.pathsep.join([here, os.environ.get("PYTHONPATH", "")]))
    out = subprocess.run(
        [sys.executable, "-m", "mypy.stubtest", "pyvelt.arcus", "pyvelt.ductus",
         "--allowlist", str(ROOT / "tests" / "stubtest-allowlist.txt"), "--ignore-unused-allowlist"],
        capture_output=True, text=True, cwd=tmp_path, env=env)
    assert out.returncode == 0, out.stdout + out.stderr


# Required arguments of the methods whose signature lines show defaults.
REQUIRED = {"__call__": (0.5,), "dpeval": (0.5,), "dceval": ("xp",), "derivative": (),
            "antiderivative": (), "degelev": (), "knotrem": (0.5, 1), "knotsrem": (),
            "extrema": (), "roughness": (), "violations": (), "timescale": ()}


@pytest.mark.parametrize("name", sorted(REQUIRED))
def test_signature_defaults_are_the_defaults(name):
    # Passing each default shown gives what leaving the argument out gives.
    import numpy as np
    from conftest import traj

    # (the knot 0.5 goes with a tolerance of 1e-11, not with one of 1e-13)
    t = traj([0, 0, 0, 0, 0.5, 1, 1, 1, 1], [0.0, 1.0, 0.5 + 3e-12, 1.0, 3.0], 3,
             order=int(name == "antiderivative"))
    params = list(inspect.signature(getattr(Trajectory1d, name)).parameters.values())[1:]
    given = {"vmax": 50.0} if name in ("violations", "timescale") else {}
    shown = {p.name: p.default for p in params if p.default is not p.empty and p.name not in given}
    assert shown

    def run(**kw):
        args = [np.array([0.1, 0.6]) if a == "xp" else a for a in REQUIRED[name]]
        r = getattr(t, name)(*args, **given, **kw)
        return repr(args[0] if r is None else r)

    for k, v in shown.items():
        assert run(**{k: v}) == run()
    assert sorted(n for n, a in vars(Trajectory1d).items()
                  if type(a).__name__ == "method_descriptor" and "=" in (a.__text_signature__ or "")
                  ) == sorted(REQUIRED)
