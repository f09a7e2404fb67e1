// cardo: cooperative cancellation of long work.
//
// Long loops of the kernel call cancel_point() with a measure of the work
// done since the last call (about one unit per floating-point operation).
// Inside a CancelScope, each 2^20 units or so the poll function installed
// by the program is asked whether to stop; once it says so, cancel_point()
// and cancelled() return true for the rest of the scope and the routine
// returns with the status CANCELLED (status.h), its outputs unspecified.
// Outside any scope, and with no poll function, work is never stopped. The
// kernel itself knows nothing of what the poll function looks at.
#pragma once

#include "arcus/cardo/status.h"

#include <cstddef>

namespace cardo {

// Asked from the thread doing the work; true: stop.
using CancelPoll = bool (*)();
// Installs the poll function (once, before any work starts).
void SetCancelPoll(CancelPoll poll);

// The extent of one call that may be stopped (nested scopes count as one).
class CancelScope {
public:
    CancelScope() noexcept;
    ~CancelScope();
    CancelScope(const CancelScope&) = delete;
    CancelScope& operator=(const CancelScope&) = delete;
};

// Counts `work` units; true when the work is to stop.
bool cancel_point(std::size_t work = 1) noexcept;
// True when the work of the current scope is to stop.
bool cancelled() noexcept;

}  // namespace cardo
