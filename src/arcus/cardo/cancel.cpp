#include "arcus/cardo/cancel.h"

namespace cardo {

namespace {

// Units of work between two questions to the poll function: about a
// millisecond of arithmetic, so a request to stop is answered quickly and
// asking costs nothing measurable.
constexpr std::size_t POLL_EVERY = std::size_t(1) << 20;

CancelPoll poll_fn = nullptr;
thread_local int depth = 0;
thread_local bool stopped = false;
thread_local std::size_t done = 0;

}  // namespace

void SetCancelPoll(CancelPoll poll) { poll_fn = poll; }

CancelScope::CancelScope() noexcept {
    if (depth++ == 0) {
        stopped = false;
        done = 0;
    }
}

CancelScope::~CancelScope() {
    if (--depth == 0) stopped = false;
}

bool cancel_point(std::size_t work) noexcept {
    if (stopped) return true;
    if (depth == 0 || !poll_fn) return false;
    done += work;
    if (done < POLL_EVERY) return false;
    done = 0;
    stopped = poll_fn();
    return stopped;
}

bool cancelled() noexcept { return stopped; }

}  // namespace cardo
