"""Trajectory1d data model: construction, properties, copies, pickling, the
array views and their storage, text forms, and memory that stays flat."""
import copy
import gc
import os
import pickle
import tracemalloc

import numpy as np
import pytest
from scipy.interpolate import BSpline

import pyvelt
from pyvelt.ductus import Point1d, Trajectory1d
from conftest import traj as make

U3 = np.array([0, 0, 0, 0, 0.5, 1.2, 2, 2, 2, 2.0])
P3 = np.array([0.0, 1.0, 3.0, -1.0, 2.0, 0.5])


def traj(U=U3, P=P3, p=3, order=0, owner=True):
    return make(U, P, p, order, owner)


def test_empty_object():
    for t in (Trajectory1d(), Trajectory1d(1, 2, key=3), Trajectory1d.__new__(Trajectory1d)):
        assert (t.p, t.n, t.order, t.start, t.stop) == (0, 0, 0, None, None)
        assert t._sget_knotvector() is None and t._sget_cpts() is None
        assert t.get_knotvector_asarray() is None and t.get_cpts_asarray() is None
        assert str(t) == "Trajectory1d(start = None, stop = None, p = 0, n = 0, order = 0)"


@pytest.mark.parametrize("call", [
    lambda t: t.copy(), lambda t: t.peval(0.5), lambda t: t(0.5), lambda t: t.get_xcpts(),
    lambda t: t.derivative(), lambda t: t.knotsrem(), lambda t: t == t, lambda t: t + 1,
    lambda t: t.rshift(1.0), lambda t: -t, lambda t: t._addPyVELTObject(None, "a"),
])
def test_empty_object_refuses_array_methods(call):
    with pytest.raises(ValueError, match="empty"):
        call(Trajectory1d())


def test_fields_and_properties():
    t = traj(order=2)
    assert (t.p, t.n, t.order, t.start, t.stop) == (3, 5, 2, 0.0, 2.0)
    assert len(t._sget_knotvector()) == 80 and len(t._sget_cpts()) == 48
    assert t._sget_knotvector() == U3.tobytes()
    for name in ("p", "n", "order", "start", "stop"):
        with pytest.raises(AttributeError):
            setattr(t, name, 2)
    assert str(t) == "Trajectory1d(start = 0.0, stop = 2.0, p = 3, n = 5, order = 2)"
    assert repr(t) == "{'start': 0.0, 'stop': 2.0, 'p': 3, 'n': 5, 'order': 2}"
    with pytest.raises(TypeError):
        hash(t)


def test_dset_data_errors():
    t = traj()
    with pytest.raises(TypeError, match=r"Argument 'knots' has incorrect type \(expected bytes, got str\)"):
        t._dset_data("x", P3.tobytes(), 3, 5, 0, True)
    with pytest.raises(ValueError, match="'knots' must hold 80 bytes"):
        t._dset_data(U3[:-1].tobytes(), P3.tobytes(), 3, 5, 0, True)
    with pytest.raises(ValueError, match="'cpts' must hold 48 bytes"):
        t._dset_data(U3.tobytes(), P3.tobytes() + b"x", 3, 5, 0, True)
    with pytest.raises(ValueError):
        t._dset_data(b"", b"", -3, -1, 0, True)
    with pytest.raises(OverflowError, match="can't convert negative value to unsigned int"):
        t._dset_data(U3.tobytes(), P3.tobytes(), 3, 5, -1, True)
    assert t == traj()  # unchanged by every refused call
    with pytest.raises(TypeError, match="^expected bytes, NoneType found$"):
        t._dset_data(U3.tobytes(), None, 3, 5, 7, False)
    # Fields set, knots filled, no control points: the object refuses array work.
    assert (t.order, t.get_cpts_asarray()) == (7, None)
    assert t.get_knotvector_asarray().tolist() == U3.tolist()
    with pytest.raises(ValueError, match="empty"):
        t.peval(0.5)
    with pytest.raises(TypeError, match="expected bytes, NoneType found"):
        pickle.loads(pickle.dumps(Trajectory1d()))


@pytest.mark.parametrize("owner", [True, False])
def test_pickle_round_trip(owner):
    t = traj(order=1, owner=owner)
    for proto in range(2, pickle.HIGHEST_PROTOCOL + 1):
        r = pickle.loads(pickle.dumps(t, proto))
        assert type(r) is Trajectory1d and r == t
        assert r.__getstate__() == (U3.tobytes(), P3.tobytes(), 3, 5, 1, owner)


def test_copies_are_independent():
    t = traj(owner=False)
    for c in (t.copy(), copy.copy(t), copy.deepcopy(t)):
        assert c.__getstate__()[5] is True  # a copy owns its arrays
        assert c.get_cpts_asarray().tolist() == P3.tolist()
        c.get_cpts_asarray()[0] = 99.0
        assert t.get_cpts_asarray()[0] == 0.0
    t.get_cpts_asarray()[1] = 5.0
    assert t.peval(0.25) == pytest.approx(BSpline(U3, np.r_[0, 5.0, P3[2:]], 3)(0.25), rel=1e-14)


def test_views_keep_their_storage():
    t = traj()
    k, c = t.get_knotvector_asarray(), t.get_cpts_asarray()
    assert k.flags.c_contiguous and k.flags.writeable and k.dtype == np.float64
    k[4] = 0.7
    assert t.get_knotvector_asarray()[4] == 0.7
    t._dset_data(U3.tobytes(), (P3 * 2).tobytes(), 3, 5, 0, True)
    assert c.tolist() == P3.tolist()  # the old storage, no longer the trajectory's
    c[0] = 42.0
    assert t.get_cpts_asarray()[0] == 0.0
    del t
    gc.collect()
    assert k.sum() == pytest.approx(U3.sum() + 0.2) and c[0] == 42.0
    # The trajectory that adopted foreign storage does not free it.
    t = traj(owner=False)
    k = t.get_knotvector_asarray()
    del t
    assert k[-1] == 2.0


class Recorder(Trajectory1d):
    """A subclass whose redefinitions the C-level table must reach."""

    def copy(self):
        c = Trajectory1d.copy(self)
        c.rshift(100.0)
        return c

    def _sget_cpts(self):
        return (np.asarray(P3) + 1).tobytes()


def test_subclass_redefinitions():
    r = Recorder()
    r._dset_data(U3.tobytes(), P3.tobytes(), 3, 5, 0, True)
    assert copy.copy(r).start == 100.0 and copy.deepcopy(r).start == 100.0
    assert (r + 1.0).start == 100.0  # the operators copy through the attribute
    assert pickle.loads(pickle.dumps(r)).get_cpts_asarray().tolist() == (P3 + 1).tolist()
    assert type(r.derivative()) is Trajectory1d  # new objects are plain trajectories

    class Bad(Trajectory1d):
        def copy(self):
            return Point1d(0, 0, 0)

    b = Bad()
    b._dset_data(U3.tobytes(), P3.tobytes(), 3, 5, 0, True)
    with pytest.raises(TypeError, match="Cannot convert pyvelt.ductus.Point1d to pyvelt.ductus.Trajectory1d"):
        copy.copy(b)


def numeric_work(t, x):
    pyvelt.interpolate(x, np.sin(x), 3, slopes=(0.0, 1.0))
    pyvelt.approximate(x, np.cos(x), 12)
    a = t.copy()
    a += 1.0
    b = (a + t).derivative().antiderivative().degelev()
    b.knotins(0.3, 1).knotrem(0.3, 1).knotsrem()
    t(x), t(x[::-1], nu=1), t(0.5), t.dceval(x.copy(), 2), t.get_xcpts()
    pickle.loads(pickle.dumps(a))
    a.get_cpts_asarray(), a.get_knotvector_asarray()
    a.setValueTr((0.5, 2.0, 0))
    a.setValueAm(Point1d(0.5, 1.0, 1))
    for bad in (lambda: t.peval(5.0), lambda: t.knotins(0.3, 9), lambda: t + Point1d(0, 0, 0),
                lambda: t.derivative(9), lambda: t(np.array([1.0, 1.0]))):
        try:
            bad()
        except Exception:
            pass


def xml_work(t, f):
    t.savexml(f, "a")
    Trajectory1d.loadxml(f, "a")
    Point1d(1, 2, 0).savexml(f, "p")
    Point1d.loadxml(f, "p").copy()
    try:
        Trajectory1d.loadxml(f, "missing")
    except ValueError:
        pass


@pytest.mark.parametrize("kind, warm, runs, limit", [("numeric", 100, 200, 4096),
                                                     ("xml", 20, 100, 8192)])
@pytest.mark.skipif("PYVELT_SANITIZER" in os.environ,
                    reason="allocations under the sanitizer's malloc are not comparable")
def test_memory_stays_flat(tmp_path, kind, warm, runs, limit):
    """The main operations, repeated, leave no Python memory behind."""
    t = traj()
    x = np.linspace(0, 2, 50)
    f = str(tmp_path / "d")
    work = (lambda: numeric_work(t, x)) if kind == "numeric" else (lambda: xml_work(t, f))
    tracemalloc.start()
    for _ in range(warm):
        work()
    gc.collect()
    base = tracemalloc.get_traced_memory()[0]
    for _ in range(runs):
        work()
    gc.collect()
    grown = tracemalloc.get_traced_memory()[0] - base
    tracemalloc.stop()
    assert grown < limit, grown


def test_instance_attributes_reach_the_table():
    # The C-level table calls what `t.name(...)` would call: an attribute of
    # the instance of a subclass too.
    t = make(U3, P3, 3, cls=type("Sub", (Trajectory1d,), {}))
    other = traj()
    t.copy = lambda: other
    t.peval = lambda x: -x
    assert copy.copy(t) is other and t(0.25) == -0.25
    del t.copy, t.peval
    assert copy.copy(t).n == 5 and t(0.25) == BSpline(U3, P3, 3)(0.25)
