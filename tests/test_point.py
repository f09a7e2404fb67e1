"""Point1d: construction, conversions, copies, comparison and text forms."""
import collections
import copy
import pickle

import pytest

from pyvelt.ductus import Point1d


def test_fields():
    p = Point1d(0.5, 1.0, 2)
    assert (p.t, p.val, p.order) == (0.5, 1.0, 2)
    assert Point1d(t=1, order=3, val=2).order == 3
    q = Point1d.__new__(Point1d)
    assert (q.t, q.val, q.order) == (0.0, 0.0, 0)
    assert Point1d(0, 0, 2.7).order == 2
    assert Point1d(0, 0, 4294967295).order == 4294967295


@pytest.mark.parametrize("args, exc, msg", [
    ((0.5, 1.0), TypeError, None),
    ((0, 0, 0, 0), TypeError, None),
    ((0, 0, -1), OverflowError, "can't convert negative value to unsigned int"),
    ((0, 0, 2**32), OverflowError, None),
    ((0, 0, "2"), TypeError, "an integer is required"),
    (("x", 0, 0), TypeError, None),
])
def test_constructor_errors(args, exc, msg):
    p = Point1d(1.0, 2.0, 3)
    with pytest.raises(exc) as e:
        p.__init__(*args)
    if msg:
        assert str(e.value) == msg
    assert (p.t, p.val, p.order) == (1.0, 2.0, 3)  # unchanged on error


def test_properties():
    p = Point1d(0, 0, 0)
    p.t, p.val, p.order = 1.5, float("inf"), 5.9
    assert (p.t, p.val, p.order) == (1.5, float("inf"), 5)
    with pytest.raises(OverflowError, match="can't convert negative value to unsigned int"):
        p.order = -1
    for name in ("t", "val", "order"):
        with pytest.raises(NotImplementedError, match="^__del__$"):
            delattr(p, name)


def test_from_tuple():
    assert Point1d.from_tuple((1.0, 2.0, 1)) == Point1d(1.0, 2.0, 1)
    assert Point1d.from_tuple(pnt=(1.0, 2.0, 1, "more")) == Point1d(1.0, 2.0, 1)
    NT = collections.namedtuple("NT", "t val order")
    for bad, name in (([1.0, 2.0, 1], "list"), (NT(1.0, 2.0, 1), "NT")):
        with pytest.raises(TypeError, match=rf"Argument 'pnt' has incorrect type \(expected tuple, "
                                            rf"got {name}\)"):
            Point1d.from_tuple(bad)
    with pytest.raises(TypeError, match="'NoneType' object is not subscriptable"):
        Point1d.from_tuple(None)
    with pytest.raises(IndexError):
        Point1d.from_tuple((1.0, 2.0))
    with pytest.raises(OverflowError):
        Point1d.from_tuple((1.0, 2.0, -1))

    class Sub(Point1d):
        pass

    assert type(Sub.from_tuple((1, 2, 3))) is Point1d


def test_equality_and_hash():
    assert Point1d(1, 2, 0) == Point1d(1, 2, 0)
    assert not Point1d(1, 2, 0) == (1, 2, 0)
    assert Point1d(1, 2, 0) != Point1d(1, 2, 1)
    nan = float("nan")
    assert Point1d(nan, 0, 0) != Point1d(nan, 0, 0)
    with pytest.raises(TypeError):
        Point1d(0, 0, 0) < Point1d(1, 0, 0)
    with pytest.raises(TypeError):
        hash(Point1d(0, 0, 0))


def test_copies_and_pickling():
    p = Point1d(0.1, 2.0, 1)
    for c in (p.copy(), copy.copy(p), copy.deepcopy(p)):
        assert c == p and c is not p and type(c) is Point1d
    for proto in range(pickle.HIGHEST_PROTOCOL + 1):
        with pytest.raises(TypeError, match="pickl"):
            pickle.dumps(p, proto)


class Shifted(Point1d):
    """Property and copy redefinitions are honoured by the built-in methods."""

    @property
    def t(self):
        return 10.0

    def copy(self):
        return "not a point"


def test_subclass_redefinitions():
    s = Shifted(1.0, 2.0, 3)
    assert str(s) == "Point1d(t = 10.0, val = 2.0, order = 3)"
    assert Point1d.copy(s).t == 10.0  # the built-in copy reads the property
    with pytest.raises(TypeError, match="Cannot convert str to pyvelt.ductus.Point1d"):
        copy.copy(s)  # __copy__ goes through the C-level copy, which calls the redefinition


@pytest.mark.parametrize("p, r, s", [
    (Point1d(0.5, 1.0, 2), "{'t': 0.5, 'val': 1.0, 'order': 2}", "Point1d(t = 0.5, val = 1.0, order = 2)"),
    (Point1d(1e-05, -0.0, 0), "{'t': 1e-05, 'val': -0.0, 'order': 0}",
     "Point1d(t = 1e-05, val = -0.0, order = 0)"),
])
def test_text_forms(p, r, s):
    assert repr(p) == r and str(p) == s
