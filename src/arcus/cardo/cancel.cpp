#include "arcus/cardo/cancel.h"

namespace cardo {

namespace {

// Units of work between two questions to the poll function: about a
// millisecond of arithmetic, so a request to stop is answered quickly and
// asking costs nothing measurable.
constexpr std::size_t POLL_EVERY = std::size_t(1) << 20;

CancelPoll poll_fn = nullptr;

// The state of the calling thread, in one object: every scope is entered on
// the fast path of short calls, and each thread-local object costs a lookup
// in a shared library. Outside any scope it is all zero (the outermost scope
// clears it on leaving), so entering needs no reset.
struct State {
    int depth;
    bool stopped;
    std::size_t done;
};
thread_local State state = {0, false, 0};

}  // namespace

void SetCancelPoll(CancelPoll poll) { poll_fn = poll; }

CancelScope::CancelScope() noexcept { ++state.depth; }

CancelScope::~CancelScope() {
    State& s = state;
    if (--s.depth == 0) {
        s.stopped = false;
        s.done = 0;
    }
}

bool cancel_point(std::size_t work) noexcept {
    State& s = state;
    if (s.stopped) return true;
    if (s.depth == 0 || !poll_fn) return false;
    s.done += work;
    if (s.done < POLL_EVERY) return false;
    s.done = 0;
    s.stopped = poll_fn();
    return s.stopped;
}

bool cancelled() noexcept { return state.stopped; }

}  // namespace cardo
