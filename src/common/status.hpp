// The kernel's status values as Python exceptions: the one mapping that both
// modules use for the statuses they share (cardo/status.h).
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace pv {

// Raises the exception of a kernel status and returns false; returns true,
// raising nothing, for OK and for the statuses of 7 and above other than
// CANCELLED (cardo::Failed):
//   negative          ValueError "the algorithm failed with 'info' value: {info}"
//   NO_MEMORY         MemoryError "memory allocation failed"
//   DIVISION_BY_ZERO  ZeroDivisionError "float division by zero"
//   NOT_IMPLEMENTED   NotImplementedError, without arguments
//   ITERATION_LIMIT   Exception "exceeded max iterations"
//   OUT_OF_RANGE      IndexError "out of range"
//   OTHER             Exception "error"
//   CANCELLED         the exception the interruption raised already, else
//                     KeyboardInterrupt "long work was interrupted"
bool check_status(int info);

}  // namespace pv
