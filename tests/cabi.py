"""Calling the C entries of pyvelt.arcus from tests, through ctypes.

The C entry table maps each name to a capsule named by the signature text;
this module decodes that text into ctypes types and returns a callable that
holds the interpreter lock (so a raised exception propagates as in Python).
"""
import ctypes

import numpy as np

from pyvelt import arcus


class DArr(ctypes.Structure):
    _fields_ = [("data", ctypes.c_void_p), ("len", ctypes.c_ssize_t)]


class DArr2(ctypes.Structure):
    _fields_ = [("data", ctypes.c_void_p), ("rows", ctypes.c_ssize_t), ("cols", ctypes.c_ssize_t)]


class OptDy(ctypes.Structure):
    _fields_ = [("n", ctypes.c_int), ("dy", ctypes.c_double * 2)]


class OptTol(ctypes.Structure):
    _fields_ = [("n", ctypes.c_int), ("tol", ctypes.c_double)]


class IPair(ctypes.Structure):
    _fields_ = [("first", ctypes.c_int), ("second", ctypes.c_int)]


_TYPES = {
    "void": None,
    "int": ctypes.c_int,
    "double": ctypes.c_double,
    "darray": DArr,
    "darray2d": DArr2,
    "struct opt_dy *": ctypes.POINTER(OptDy),
    "struct opt_tol *": ctypes.POINTER(OptTol),
    "ipair": IPair,
    "PyObject *": ctypes.py_object,
}

_get_name = ctypes.pythonapi.PyCapsule_GetName
_get_name.restype = ctypes.c_char_p
_get_name.argtypes = [ctypes.py_object]
_get_ptr = ctypes.pythonapi.PyCapsule_GetPointer
_get_ptr.restype = ctypes.c_void_p
_get_ptr.argtypes = [ctypes.py_object, ctypes.c_char_p]


def signature(name):
    """Signature text of the C entry `name`."""
    return _get_name(arcus.__pyx_capi__[name]).decode()


def entry(name):
    """ctypes callable for the C entry `name` (arrays as `darr(a)` / `darr2(a)`)."""
    sig = signature(name)
    ret, args = sig.split(" (", 1)
    params = [s.strip() for s in args[:-1].split(",")] if args[:-1] else []
    proto = ctypes.PYFUNCTYPE(_TYPES[ret], *[_TYPES[p] for p in params])
    return proto(_get_ptr(arcus.__pyx_capi__[name], sig.encode()))


def darr(a):
    assert a.dtype == np.float64 and a.ndim == 1 and a.flags.c_contiguous
    return DArr(a.ctypes.data, a.shape[0])


def darr2(a):
    assert a.dtype == np.float64 and a.ndim == 2 and a.flags.c_contiguous
    return DArr2(a.ctypes.data, a.shape[0], a.shape[1])
