// Kernel status values turned into Python exceptions.
#include "common/status.hpp"

#include "common/pyhelp.hpp"

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
        return PyErr_Occurred() ? false : fail(PyExc_KeyboardInterrupt, "long work was interrupted");
    }
    if (!cardo::Failed(info)) return true;
    if (info < 0) return fail(PyExc_ValueError, "the algorithm failed with 'info' value: %d", info);
    if (info == cardo::NO_MEMORY) return fail_memory();
    for (const StatusError& e : STATUS_ERRORS) {
        if (e.status == info) return fail(*e.type, e.message ? "%s" : nullptr, e.message);
    }
    return fail(PyExc_SystemError, "unexpected kernel status %d", info);
}

}  // namespace pv
