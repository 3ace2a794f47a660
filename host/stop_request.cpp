#include <atomic>

#include "mvb/txtfile.h"
#include "texthost/run.h"

namespace texthost {
namespace {

// The one piece of process-wide state of the host: an interrupt is process-wide too, and the
// signal handler that raises it can reach nothing else.
std::atomic<bool> gStopRequested{false};
static_assert(std::atomic<bool>::is_always_lock_free, "the stop flag must be signal-safe");

}  // namespace

// A step that waits for data from a pipe never reaches the point where it would ask whether to
// go on: its files stop waiting too.
void requestStop() noexcept {
    gStopRequested.store(true, std::memory_order_relaxed);
    mvbTxtFileStopWaits();
}
void clearStopRequest() noexcept {
    gStopRequested.store(false, std::memory_order_relaxed);
    mvbTxtFileResumeWaits();
}
bool stopRequested() noexcept {
    return gStopRequested.load(std::memory_order_relaxed);
}

}  // namespace texthost
