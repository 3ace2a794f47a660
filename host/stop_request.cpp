#include <atomic>

#include "texthost/run.h"

namespace texthost {
namespace {

// The one piece of process-wide state of the host: an interrupt is process-wide too, and the
// signal handler that raises it can reach nothing else.
std::atomic<bool> gStopRequested{false};
static_assert(std::atomic<bool>::is_always_lock_free, "the stop flag must be signal-safe");

}  // namespace

void requestStop() noexcept {
    gStopRequested.store(true, std::memory_order_relaxed);
}
void clearStopRequest() noexcept {
    gStopRequested.store(false, std::memory_order_relaxed);
}
bool stopRequested() noexcept {
    return gStopRequested.load(std::memory_order_relaxed);
}

}  // namespace texthost
