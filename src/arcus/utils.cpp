// Kernel status values turned into Python exceptions.
#include "arcus/arcus.hpp"
#include "arcus/cardo/cancel.h"

namespace arcus {

bool check_info(int info) {
    // Work stopped on request: the poll that asked for it raised already
    // (KeyboardInterrupt, or the exception of a signal handler).
    if (info == cardo::CANCELLED) {
        return PyErr_Occurred() ? false : pv::fail(PyExc_KeyboardInterrupt, "long work was interrupted");
    }
    if (info == 0 || info >= 7) return true;
    if (info < 0) {
        PyErr_Format(PyExc_ValueError, "the algorithm failed with 'info' value: %d", info);
        return false;
    }
    switch (info) {
    case 1: PyErr_SetString(PyExc_MemoryError, "memory allocation failed"); break;
    case 2: PyErr_SetString(PyExc_ZeroDivisionError, "float division by zero"); break;
    case 3: PyErr_SetNone(PyExc_NotImplementedError); break;
    case 4: PyErr_SetString(PyExc_Exception, "exceeded max iterations"); break;
    case 5: PyErr_SetString(PyExc_IndexError, "out of range"); break;
    default: PyErr_SetString(PyExc_Exception, "error"); break;
    }
    return false;
}

bool lapack_check(int info) {
    if (info == 0) return true;
    return pv::fail(PyExc_Exception, "'dgesv' LAPACK function failed with 'info' value: %d", info);
}

bool knots_cover(const char* fname, const char* argname, DArr U, int n, int p) {
    if (p < 0 || n < p) return true;
    return pv::need_len(fname, argname, U.len, static_cast<Py_ssize_t>(n) + p + 2);
}

}  // namespace arcus
