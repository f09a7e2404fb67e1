"""Module frame of pyvelt.arcus: exports, C entry table, status codes, argument handling."""
import ctypes
import textwrap

import numpy as np
import pytest

import pyvelt
from pyvelt import arcus

from cabi import darr, entry, signature

ALL = (
    "validknots eqspaced averaging averaging2 averaging3 averagcpts findspan findspanmult bfunpev "
    "bfuncev bfunspev dbfunspev splpev splcev dsplpev dsplcev dsplcpts dsplcpts2 asplcpts splkins "
    "splkref splkrem splksrem splkrem_notol getbndrem degelevc gcsplint gdsplint gadsplint cdsplint "
    "splcjoin splcsli knotuniondim splcsum kevalappr gcsplapp gdsplapp knotsdegelev bezpev bezcev "
    "bezpev2 bezcev2 getbezmat"
).split()

ENTRIES = (
    "validknots eqspaced averaging averaging2 averaging3 distintknots kevalappr gcsplint gdsplint "
    "cdsplint gcsplapp gdsplapp gadsplint averagcpts findspan findspanmult bfunpev bfuncev bfunspev "
    "dbfunspev splpev splcev dsplpev dsplcev dsplcpts splkins splkrem splksrem splkrem_notol "
    "getbndrem degelevc asplcpts dsplcpts2 splkref splcjoin splcsli knotuniondim splcsum "
    "knotsdegelev bezpev bezcev bezpev2 bezcev2 getbmtxelement getbezmat"
).split()

U3 = np.array([0, 0, 0, 0, 0.5, 1, 1, 1, 1.0])


def test_version():
    assert isinstance(pyvelt.__version__, str) and pyvelt.__version__.count(".") == 2


def test_all_lists_the_functions_in_order():
    assert arcus.__all__ == ALL
    assert arcus.NP is np
    for name in ("distintknots", "getbmtxelement", "_check_info"):
        assert name not in arcus.__all__
    assert not hasattr(arcus, "distintknots") and not hasattr(arcus, "getbmtxelement")


def test_module_doc_table():
    doc = arcus.__doc__
    assert doc.startswith("In this module there are some wrapper for cardo C-library functions.")
    lines = doc.splitlines()
    head = next(i for i, ln in enumerate(lines) if ln.startswith("All functions"))
    assert "Wrapper for" in lines[head]
    assert lines[head + 1].split() == ["-------------", "-------------------------"]
    rows = [ln.split() for ln in lines[head + 2:] if ln.strip()]
    assert len(rows) == 44
    assert rows[0] == ["validknots", "ValidKnotVector"]
    assert ["bfuncev", "-"] in rows and ["cdsplint", "SolveTridiagonal"] in rows
    assert rows[-2:] == [["getbmtxelement", "GetBezierMatrixElement"], ["getbezmat", "GetBezierMatrix"]]


def test_c_entry_table_order_and_signatures():
    assert list(arcus.__pyx_capi__) == ENTRIES
    assert signature("findspan") == "int (int, double, darray)"
    assert signature("findspanmult") == "ipair (int, double, darray)"
    assert signature("dsplcev") == "void (darray, darray, darray, int, int, int, darray2d)"
    assert signature("distintknots") == "int (darray, int)"


@pytest.mark.parametrize(
    "info, exc, msg",
    [
        (-1, ValueError, "the algorithm failed with 'info' value: -1"),
        (-12, ValueError, "the algorithm failed with 'info' value: -12"),
        (1, MemoryError, "memory allocation failed"),
        (2, ZeroDivisionError, "float division by zero"),
        (3, NotImplementedError, ""),
        (4, Exception, "exceeded max iterations"),
        (5, IndexError, "out of range"),
        (6, Exception, "error"),
    ],
)
def test_check_info_raises(info, exc, msg):
    with pytest.raises(exc) as ei:
        arcus._check_info(info)
    assert type(ei.value) is exc
    assert str(ei.value) == msg
    if info == 3:
        assert ei.value.args == ()


@pytest.mark.parametrize("info", [0, 7, 8, 10, 1000])
def test_check_info_success_values(info):
    assert arcus._check_info(info=info) is None


@pytest.mark.parametrize(
    "call, msg",
    [
        (lambda: arcus.findspan(3, 0.3), "findspan() takes exactly 3 positional arguments (2 given)"),
        (lambda: arcus.findspan(3, 0.3, U3, 1), "findspan() takes exactly 3 positional arguments (4 given)"),
        (lambda: arcus.findspan(), "findspan() takes exactly 3 positional arguments (0 given)"),
        (lambda: arcus.findspan(3, 0.3, U3, q=1), "findspan() got an unexpected keyword argument 'q'"),
        (lambda: arcus.findspan(3, 0.3, U=U3, p=3), "findspan() got multiple values for keyword argument 'p'"),
        (lambda: arcus.findspan(3, U=U3), "findspan() takes exactly 3 positional arguments (1 given)"),
        (lambda: arcus._check_info(), "_check_info() takes exactly 1 positional argument (0 given)"),
    ],
)
def test_argument_count_messages(call, msg):
    with pytest.raises(TypeError) as ei:
        call()
    assert str(ei.value) == msg


def test_keyword_calls():
    assert arcus.findspan(U=U3, u=0.3, p=3) == arcus.findspan(3, 0.3, U3) == 3
    assert arcus.findspanmult(3, u=0.5, U=U3) == (4, 1)
    P = np.arange(5.0)
    assert arcus.splpev(p=3, P=P, U=U3, u=0.25) == arcus.splpev(0.25, U3, P, 3)


@pytest.mark.parametrize(
    "p, expected",
    [(3.9, 3), (np.int64(3), 3), (True, 1)],
)
def test_int_conversion(p, expected):
    # floats truncate toward zero, anything with __int__ is accepted
    assert arcus.findspan(p, 0.5, np.array([0, 0, 0, 0, 1, 1, 1, 1.0]) if expected == 3 else
                          np.array([0, 0, 1, 1.0])) == expected


@pytest.mark.parametrize("bad, exc", [(2**31, OverflowError), (-(2**31) - 1, OverflowError),
                                      ("3", TypeError), (None, TypeError)])
def test_int_conversion_errors(bad, exc):
    with pytest.raises(exc):
        arcus.findspan(bad, 0.5, U3)


@pytest.mark.parametrize("bad", ["0.5", None, [0.5]])
def test_double_conversion_errors(bad):
    with pytest.raises(TypeError):
        arcus.findspan(3, bad, U3)


class WithFloat:
    def __float__(self):
        return 0.3


def test_double_conversion_accepts_float_protocol():
    assert arcus.findspan(3, WithFloat(), U3) == 3
    assert arcus.findspan(3, 1, U3) == 4


def _readonly():
    a = U3.copy()
    a.flags.writeable = False
    return a


@pytest.mark.parametrize(
    "bad, exc, text",
    [
        (U3.astype(np.float32), ValueError, "dtype"),
        (U3.astype(np.int64), ValueError, "dtype"),
        (U3.astype(">f8" if np.little_endian else "<f8"), ValueError, "dtype"),
        (_readonly(), ValueError, "read-only"),
        (U3.reshape(3, 3), ValueError, "dimensions"),
        (np.repeat(U3, 2)[::2], ValueError, "contiguous"),
        (list(U3), TypeError, "buffer interface"),
        (None, TypeError, "None"),
        (bytearray(72), ValueError, "dtype"),
    ],
)
def test_bad_double_arrays(bad, exc, text):
    with pytest.raises(exc) as ei:
        arcus.findspan(3, 0.3, bad)
    assert text in str(ei.value) and "'U'" in str(ei.value)


class _Sub(np.ndarray):
    pass


def _unaligned(b):
    raw = np.zeros(len(b) * 8 + 1, dtype=np.uint8)
    a = raw[1:].view(np.float64)
    a[:] = b
    return a


@pytest.mark.parametrize(
    "make", [lambda a: a, lambda a: a.view(_Sub), memoryview],
    ids=["ndarray", "subclass", "memoryview"],
)
def test_every_kind_of_double_array_is_accepted_alike(make):
    C = np.array([0.1, 0.6, 0.9])
    ref = C.copy()
    arcus.splcev(ref, U3, np.arange(5.0), 3)
    out = make(C)
    arcus.splcev(out, make(U3.copy()), make(np.arange(5.0)), 3)
    assert np.array_equal(np.asarray(out), ref)


def test_misaligned_arrays_are_refused():
    C = np.array([0.1, 0.6, 0.9])
    for args in ((_unaligned(C), U3, np.arange(5.0)), (C, _unaligned(U3), np.arange(5.0))):
        with pytest.raises(ValueError, match="not aligned"):
            arcus.splcev(*args, 3)
    assert C.tolist() == [0.1, 0.6, 0.9]


def test_arrays_are_shared_not_copied():
    C = np.linspace(0.0, 1.0, 7)
    arcus.splcev(C, U3, np.ones(5), 3)
    assert np.allclose(C, 1.0)
    # a contiguous slice of a bigger array is a view of it
    big = np.linspace(0.0, 1.0, 10)
    arcus.splcev(big[2:5], U3, np.ones(5), 3)
    assert np.allclose(big[2:5], 1.0) and big[1] == pytest.approx(1 / 9)


def test_c_entry_raises_through_pending_exception():
    findspan = entry("findspan")
    assert findspan(3, 0.3, darr(U3)) == 3
    with pytest.raises(ValueError, match="'info' value: -3"):
        findspan(3, 0.3, darr(np.array([0, 1, 0, 1.0])))


def test_second_initialisation_is_refused(run_python):
    code = textwrap.dedent(
        """
        import ctypes, pyvelt.arcus as a
        lib = ctypes.PyDLL(a.__file__)
        lib.PyInit_arcus.restype = ctypes.py_object
        try:
            lib.PyInit_arcus()
        except RuntimeError as e:
            print(e)
        """
    )
    out = run_python(code, check=True)
    assert out.stdout.strip() == (
        "Module 'arcus' has already been imported. Re-initialisation is not supported."
    )


def test_functions_have_numpy_docstrings():
    for name in ALL:
        if not hasattr(arcus, name):
            continue
        doc = getattr(arcus, name).__doc__
        for section in ("Parameters", "Returns", "Notes", "References"):
            assert section in doc, (name, section)
