"""Random calls of every method of the trajectory types: whatever the
arguments, a call succeeds or raises one of the documented exceptions, and
the objects stay usable.

The number of examples is bounded for the test suite; PYVELT_FUZZ_EXAMPLES
raises it for a longer run (see the README).
"""
import os
import pickle
import shutil
import tempfile

import numpy as np
import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st
from lxml import etree

from pyvelt.ductus import CorruptedFileError, Point1d, PyVELTObject, Trajectory1d
from conftest import traj

EXAMPLES = int(os.environ.get("PYVELT_FUZZ_EXAMPLES", "300"))
SETTINGS = settings(max_examples=EXAMPLES, deadline=None, derandomize=not os.environ.get(
    "PYVELT_FUZZ_EXAMPLES"), suppress_health_check=list(HealthCheck))

ALLOWED = (ValueError, TypeError, OverflowError, ZeroDivisionError, NotImplementedError,
           IndexError, AttributeError, MemoryError, AssertionError, OSError, KeyError,
           CorruptedFileError, etree.LxmlError)


# Trajectories: valid ones, and ones whose knots are not a valid clamped vector.
@st.composite
def trajectories(draw):
    p = draw(st.integers(0, 4))
    n = draw(st.integers(p, p + 4))
    inner = sorted(draw(st.lists(st.floats(0.05, 0.95), min_size=n - p, max_size=n - p)))
    U = [0.0] * (p + 1) + inner + [1.0] * (p + 1)
    kind = draw(st.sampled_from(["valid", "valid", "reversed", "nan", "flat", "huge"]))
    if kind == "reversed":
        U = U[::-1]
    elif kind == "nan":
        U[draw(st.integers(0, len(U) - 1))] = np.nan
    elif kind == "flat":
        U = [0.5] * len(U)
    elif kind == "huge":
        U = [u * 1e308 for u in U]
    P = draw(st.lists(st.floats(allow_nan=True, allow_infinity=True, width=64), min_size=n + 1,
                      max_size=n + 1))
    order = draw(st.sampled_from([0, 1, 2, 3, 2**32 - 1]))
    return traj(U, P, p, order, draw(st.booleans()))


def arrays(draw):
    kind = draw(st.sampled_from(["inc", "rand", "empty", "int", "2d", "strided", "readonly",
                                 "f32", "list"]))
    xs = np.sort(np.array(draw(st.lists(st.floats(-0.5, 1.5), min_size=1, max_size=8))))
    if kind == "inc":
        return np.unique(xs)
    if kind == "rand":
        return np.array(draw(st.lists(st.floats(allow_nan=True), min_size=1, max_size=8)))
    if kind == "empty":
        return np.empty(0)
    if kind == "int":
        return xs.astype(np.int64)
    if kind == "2d":
        return np.zeros((2, 3))
    if kind == "strided":
        return np.linspace(0, 1, 10)[::2]
    if kind == "readonly":
        a = np.unique(xs)
        a.setflags(write=False)
        return a
    if kind == "f32":
        return xs.astype(np.float32)
    return list(xs)


NAMES = st.text(alphabet="abcXYZ019_.-' \"", max_size=8)


@st.composite
def values(draw):
    kind = draw(st.sampled_from(["float", "int", "bigint", "none", "str", "tuple", "point",
                                 "traj", "array", "bytes", "name"]))
    if kind == "float":
        return draw(st.floats(allow_nan=True, allow_infinity=True))
    if kind == "int":
        return draw(st.integers(-3, 6))
    if kind == "bigint":
        return draw(st.sampled_from([2**31 - 1, 2**31, -2**31 - 1, 2**32, 2**64, -2**64]))
    if kind == "none":
        return None
    if kind == "str":
        return draw(st.sampled_from(["x", "", "1.5"]))
    if kind == "tuple":
        return tuple(draw(st.lists(st.one_of(st.floats(0, 1), st.integers(-1, 3)), max_size=4)))
    if kind == "point":
        return Point1d(draw(st.floats(allow_nan=True)), draw(st.floats(allow_nan=True)),
                       draw(st.integers(0, 4)))
    if kind == "traj":
        return draw(trajectories())
    if kind == "array":
        return arrays(draw)
    if kind == "bytes":
        return draw(st.binary(max_size=40))
    return draw(NAMES)


TRAJ_METHODS = ["peval", "ceval", "dpeval", "dceval", "__call__", "get_xcpts", "rshift", "ashift",
                "hscale", "adapt", "derivative", "antiderivative", "degelev", "knotins",
                "knotref", "knotrem", "knotsrem", "knotrem_notol", "c_splcsum", "c_splcmul",
                "setValueTr", "setValueAm", "copy", "__copy__", "__deepcopy__", "_getAttrib",
                "_sget_knotvector", "_sget_cpts", "_dset_data", "__getstate__", "__setstate__",
                "get_knotvector_asarray", "get_cpts_asarray", "savexml", "loadxml",
                "_addPyVELTObject", "_updatePyVELTObject", "__add__", "__radd__", "__sub__",
                "__rsub__", "__mul__", "__rmul__", "__truediv__", "__rtruediv__", "__iadd__",
                "__isub__", "__imul__", "__itruediv__", "__neg__", "__eq__", "__ne__", "__lt__",
                "__repr__", "__str__"]
POINT_METHODS = ["from_tuple", "copy", "__copy__", "__deepcopy__", "_getAttrib", "savexml",
                 "loadxml", "_addPyVELTObject", "_updatePyVELTObject", "__eq__", "__ne__",
                 "__reduce__", "__init__", "__repr__", "__str__"]
BASE_METHODS = ["savexml", "loadxml", "_getAttrib", "_addPyVELTObject", "_updatePyVELTObject",
                "__reduce__"]

WORKDIR = tempfile.mkdtemp(prefix="pyvelt-fuzz-")


def teardown_module():
    shutil.rmtree(WORKDIR, ignore_errors=True)


def call(obj, name, args, kwargs):
    here = os.getcwd()
    os.chdir(WORKDIR)  # documents go to a private folder
    try:
        return getattr(obj, name)(*args, **kwargs)
    except ALLOWED:
        return None
    finally:
        os.chdir(here)


def still_usable(t):
    k, c = t.get_knotvector_asarray(), t.get_cpts_asarray()
    if k is not None and c is not None:
        assert len(k) == t.p + t.n + 2 and len(c) == t.n + 1
        str(t), t._getAttrib(), pickle.loads(pickle.dumps(t))


@SETTINGS
@given(t=trajectories(), name=st.sampled_from(TRAJ_METHODS),
       args=st.lists(values(), max_size=4),
       kw=st.dictionaries(st.sampled_from(["x", "nu", "u", "r", "tol", "p", "xp", "X", "k",
                                           "start", "stop", "other", "fname", "ID"]),
                          values(), max_size=2))
def test_trajectory_methods(t, name, args, kw):
    view = t.get_cpts_asarray()
    call(t, name, args, kw)
    still_usable(t)
    for a in list(args) + list(kw.values()):
        if isinstance(a, Trajectory1d):
            still_usable(a)
    if view is not None:
        float(view[0]) if len(view) else None  # the old view is still readable


class Wrong(Trajectory1d):
    """Redefinitions that return the wrong type or raise."""

    def copy(self):
        return 1.5

    def peval(self, x):
        raise RuntimeError("from a redefinition")

    def ceval(self, xp):
        return "ignored"

    def dpeval(self, x, nu=1):
        return "not a number"

    def antiderivative(self, nu=1):
        return None

    def _getAttrib(self):
        return ["not", "a", "dict"]


@SETTINGS
@given(name=st.sampled_from(TRAJ_METHODS), args=st.lists(values(), max_size=3))
def test_wrong_redefinitions(name, args):
    w = Wrong()
    w._dset_data(np.array([0, 0, 1, 1.0]).tobytes(), np.array([0, 1.0]).tobytes(), 1, 1, 1, True)
    try:
        call(w, name, args, {})
    except RuntimeError as e:
        assert str(e) == "from a redefinition"
    still_usable(w)


@SETTINGS
@given(name=st.sampled_from(POINT_METHODS), args=st.lists(values(), max_size=4),
       base=st.booleans())
def test_point_and_base_methods(name, args, base):
    if base and name in BASE_METHODS:
        obj = PyVELTObject()
    else:
        obj = Point1d(0.5, 1.0, 2)
    call(obj, name, args, {})
    if isinstance(obj, Point1d):
        str(obj), obj.copy()


@pytest.mark.parametrize("body", [
    "",
    "not xml at all",
    "<PyVELTObjectList><Trajectory1d ID='t' p='3' n='1000000000' order='0'>"
    "<cpts>1 2</cpts><knots>0 1</knots></Trajectory1d></PyVELTObjectList>",
    "<?xml version='1.0'?><!DOCTYPE l [<!ENTITY a 'aaaaaaaaaa'><!ENTITY b '&a;&a;&a;&a;&a;&a;"
    "&a;&a;&a;&a;'><!ENTITY c '&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;'><!ENTITY d '&c;&c;&c;&c;&c;&c;"
    "&c;&c;&c;&c;'><!ENTITY e '&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;'><!ENTITY f '&e;&e;&e;&e;&e;&e;"
    "&e;&e;&e;&e;'><!ENTITY g '&f;&f;&f;&f;&f;&f;&f;&f;&f;&f;'>]>"
    "<PyVELTObjectList><Point1d ID='p' t='&g;' val='1' order='0'/>"
    "<Trajectory1d ID='t' p='0' n='0' order='0'><cpts>&g;</cpts><knots>0 1</knots>"
    "</Trajectory1d></PyVELTObjectList>",
    "<PyVELTObjectList><Trajectory1d ID='t' p='1' n='1' order='0'><cpts>0 1</cpts>"
    "<knots>0 0 1" + " 1" * 100000 + "</knots></Trajectory1d></PyVELTObjectList>",
])
def test_hostile_documents(tmp_path, body):
    f = tmp_path / "d.pyvelt"
    f.write_text(body)
    for loader, ID in ((Point1d.loadxml, "p"), (Trajectory1d.loadxml, "t")):
        try:
            loader(str(f), ID)
        except ALLOWED:
            pass
    try:
        Point1d(1, 1, 0).savexml(str(f), "new")
    except ALLOWED:
        assert f.read_text() == body  # a refused save leaves the file as it was


class Reentrant(Trajectory1d):
    """Properties and redefinitions that give the object other arrays, or
    none, in the middle of a method, as the schedule says."""

    schedule = ()

    def _act(self):
        if not self.schedule:
            return
        what, self.schedule = self.schedule[0], self.schedule[1:]
        if what == "drop":
            try:
                self._dset_data(None, None, 2, 5, 0, True)
            except TypeError:
                pass
        elif what == "grow":
            self._dset_data(np.r_[[0.0] * 3, np.linspace(0.1, 0.9, 9), [1.0] * 3].tobytes(),
                            np.arange(12.0).tobytes(), 2, 11, 0, True)
        elif what == "shrink":
            self._dset_data(np.r_[0.0, 1.0].tobytes(), np.r_[4.0].tobytes(), 0, 0, 0, True)

    @property
    def start(self):
        self._act()
        return Trajectory1d.start.__get__(self)

    @property
    def stop(self):
        self._act()
        return Trajectory1d.stop.__get__(self)

    def _getAttrib(self):
        self._act()
        return Trajectory1d._getAttrib(self)

    def copy(self):
        self._act()
        return Trajectory1d.copy(self)

    def antiderivative(self, nu=1):
        self._act()
        return Trajectory1d.antiderivative(self, nu)


@SETTINGS
@given(name=st.sampled_from(TRAJ_METHODS), args=st.lists(values(), max_size=3),
       schedule=st.lists(st.sampled_from(["drop", "grow", "shrink", "none"]), max_size=4),
       alias=st.sampled_from([None, "cpts", "knots", "inner"]))
def test_reentrant_subclasses_and_aliased_arrays(name, args, schedule, alias):
    r = Reentrant()
    r._dset_data(np.r_[[0.0] * 4, 0.3, 0.6, [1.0] * 4].tobytes(),
                 np.r_[0.0, 0.1, 0.3, 0.5, 0.8, 1.0].tobytes(), 3, 5, 0, True)
    if alias:
        k, c = r.get_knotvector_asarray(), r.get_cpts_asarray()
        args = [{"cpts": c, "knots": k, "inner": k[4:-4]}[alias]] + list(args)
    r.schedule = tuple(schedule)
    with np.errstate(all="ignore"):  # NumPy's own warnings for arrays as operands
        call(r, name, args, {})
    r.schedule = ()
    if r.get_knotvector_asarray() is not None:
        still_usable(r)
