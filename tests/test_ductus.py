"""The trajectory module as a whole: names, exceptions, the base type, the C
entry table and the binding of the spline library's entries at import."""
import pickle

import pytest

from pyvelt import ductus
from pyvelt.ductus import (ConvergenceError, CorruptedFileError, Point1d, PyVELTObject,
                           Trajectory1d)


def test_namespace():
    ns = {}
    exec("from pyvelt.ductus import *", ns)
    assert sorted(k for k in ns if k != "__builtins__") == sorted(ductus.__all__)
    assert ductus.__all__ == ["ConvergenceError", "CorruptedFileError", "PyVELTObject",
                              "Trajectory1d", "Point1d"]
    assert ductus.np is __import__("numpy")
    assert ductus.__doc__ == ("\nIn this module there are the data structures necessary for the "
                              "working of the\nlibrary.\n\n")
    for private in ("os", "etree", "lxml", "pyvelt"):
        assert not hasattr(ductus, private)


@pytest.mark.parametrize("exc, doc", [
    (ConvergenceError, "\n    An error when a macro-instruction loop fails.\n    \n    "),
    (CorruptedFileError, "\n    An error when an uploaded file is corrupted.\n    "),
])
def test_exceptions(exc, doc):
    assert exc.__bases__ == (Exception,)
    assert exc.__module__ == "pyvelt.ductus"
    assert exc.__doc__ == doc


def test_hierarchy():
    assert PyVELTObject.__bases__ == (object,)
    assert Point1d.__bases__ == (PyVELTObject,) and Trajectory1d.__bases__ == (PyVELTObject,)
    assert PyVELTObject.__doc__ == "\n    An abstract class for python_velt type.\n    \n    "
    assert Trajectory1d.__doc__.startswith("One-dimensional trajectory extension type.")
    assert Point1d.__doc__.startswith("Simple class for storing a point in joint space.")
    for cls in (PyVELTObject, Point1d, Trajectory1d):
        type("Sub", (cls,), {})  # subclassable
    o = PyVELTObject()
    assert hash(o) == hash(o) and o == o and o != PyVELTObject()


def test_abstract_methods(tmp_path):
    o = PyVELTObject()
    calls = [lambda: o._getAttrib(), lambda: o._addPyVELTObject(None, "a"),
             lambda: o._updatePyVELTObject(None, None, "a"),
             lambda: PyVELTObject.loadxml("f", "a"),
             lambda: o.savexml(str(tmp_path / "f"), "a")]
    for call in calls:
        with pytest.raises(NotImplementedError, match="^abstract method$"):
            call()
    assert list(tmp_path.iterdir()) == []


@pytest.mark.parametrize("args, name, got", [
    ((1, "a"), "fname", "int"),
    (("f", b"a"), "ID", "bytes"),
    (("f", type("S", (str,), {})("a")), "ID", "S"),
])
def test_argument_types(args, name, got):
    msg = f"Argument '{name}' has incorrect type (expected str, got {got})"
    with pytest.raises(TypeError, match=msg.replace("(", r"\(").replace(")", r"\)")):
        Point1d(0, 0, 0).savexml(*args)


class Persistable(PyVELTObject):
    """A Python persistable class whose redefinitions the save flow calls."""

    def _getAttrib(self):
        return {"x": str(self.x)}

    def _addPyVELTObject(self, root, ID):
        from lxml import etree
        etree.SubElement(root, "Persistable", ID=ID, **self._getAttrib())

    def _updatePyVELTObject(self, tree, node, ID):
        node.set("x", str(self.x))


def test_python_redefinitions_reach_the_save_flow(tmp_path):
    o = Persistable()
    o.x = 1
    o.savexml(str(tmp_path / "doc"), "a")
    o.x = 2
    o.savexml(str(tmp_path / "doc"), "a")
    text = (tmp_path / "doc.pyvelt").read_text()
    assert text.count("<Persistable") == 1 and 'x="2"' in text


def test_base_pickling():
    o = Persistable()
    o.x = [1, 2]
    r = pickle.loads(pickle.dumps(o))
    assert type(r) is Persistable and r.x == [1, 2]
    assert type(pickle.loads(pickle.dumps(PyVELTObject()))) is PyVELTObject
    fn, (cls, checksum, state) = o.__reduce__()
    with pytest.raises(pickle.PickleError, match="Incompatible checksums"):
        fn(cls, checksum + 1, state)


def test_make_point_entry():
    import ctypes

    class CPoint(ctypes.Structure):
        _fields_ = [("t", ctypes.c_double), ("val", ctypes.c_double), ("order", ctypes.c_uint)]

    cap = ductus.__pyx_capi__["make_point"]
    assert list(ductus.__pyx_capi__) == ["make_point"]
    get_name = ctypes.pythonapi.PyCapsule_GetName
    get_name.restype, get_name.argtypes = ctypes.c_char_p, [ctypes.py_object]
    name = get_name(cap)
    assert name == b"struct c_point1d (double, double, unsigned int)"
    get_ptr = ctypes.pythonapi.PyCapsule_GetPointer
    get_ptr.restype, get_ptr.argtypes = ctypes.c_void_p, [ctypes.py_object, ctypes.c_char_p]
    fn = ctypes.CFUNCTYPE(CPoint, ctypes.c_double, ctypes.c_double, ctypes.c_uint)(
        get_ptr(cap, name))
    p = fn(0.5, -2.0, 7)
    assert (p.t, p.val, p.order) == (0.5, -2.0, 7)


@pytest.mark.parametrize("change, exc, text", [
    ("del capi['splcsum']", "ImportError",
     "pyvelt.arcus does not export expected C function splcsum"),
    ("capi['splpev'] = capi['splcev']", "TypeError",
     "C function pyvelt.arcus.splpev has wrong signature (expected double (double, darray, "
     "darray, int), got void (darray, darray, darray, int))"),
])
def test_binding_failures(change, exc, text, run_python):
    out = run_python(f"""
        import pyvelt.arcus as a
        capi = a.__pyx_capi__
        {change}
        try:
            import pyvelt.ductus
        except Exception as e:
            print(type(e).__name__, e)
        """)
    assert out.stdout.strip() == f"{exc} {text}", out.stderr


def test_second_initialisation_refused(run_python):
    out = run_python("""
        import ctypes, pyvelt.ductus as d
        lib = ctypes.PyDLL(d.__file__)
        lib.PyInit_ductus.restype = ctypes.py_object
        try:
            lib.PyInit_ductus()
        except RuntimeError as e:
            print(e)
        """)
    assert out.stdout.strip() == ("Module 'ductus' has already been imported. "
                                  "Re-initialisation is not supported.")
