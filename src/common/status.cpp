// Kernel status values turned into Python exceptions.
#include "common/status.hpp"

#include "arcus/cardo/status.h"

namespace pv {

namespace {

// The exception of a positive status that every caller reports alike.
struct StatusError {
    int status;
    PyObject* const* type;
    const char* message;  // null: the class is raised without arguments
};

const StatusError STATUS_ERRORS[] = {
    {cardo::NO_MEMORY, &PyExc_MemoryError, "memory allocation failed"},
    {cardo::DIVISION_BY_ZERO, &PyExc_ZeroDivisionError, "float division by zero"},
    {cardo::NOT_IMPLEMENTED, &PyExc_NotImplementedError, nullptr},
    {cardo::ITERATION_LIMIT, &PyExc_Exception, "exceeded max iterations"},
    {cardo::OUT_OF_RANGE, &PyExc_IndexError, "out of range"},
    {cardo::OTHER, &PyExc_Exception, "error"},
};

}  // namespace

bool check_status(int info) {
    if (info == cardo::CANCELLED) {
        // Work stopped on request: the poll that asked for it raised already
        // (KeyboardInterrupt, or the exception of a signal handler).
        if (!PyErr_Occurred()) PyErr_SetString(PyExc_KeyboardInterrupt, "long work was interrupted");
        return false;
    }
    if (!cardo::Failed(info)) return true;
    if (info < 0) {
        PyErr_Format(PyExc_ValueError, "the algorithm failed with 'info' value: %d", info);
        return false;
    }
    for (const StatusError& e : STATUS_ERRORS) {
        if (e.status != info) continue;
        if (e.message)
            PyErr_SetString(*e.type, e.message);
        else
            PyErr_SetNone(*e.type);
        return false;
    }
    PyErr_Format(PyExc_SystemError, "unexpected kernel status %d", info);
    return false;
}

}  // namespace pv
