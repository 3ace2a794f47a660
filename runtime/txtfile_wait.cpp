#include "txtfile_wait.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

#include "mvb/txtfile.h"

namespace mvb::txt {
namespace {

// A stop comes from a signal, which is process-wide; the handler can reach nothing but a flag
// such as this one, and every file of the process waits on it.
std::atomic<bool> gWaitsStopped{false};
static_assert(std::atomic<bool>::is_always_lock_free, "the flag must be signal-safe");

// How often a wait looks at the flag: a stop ends a wait within this time.
constexpr int kWaitSliceMs = 100;

/// Polls `fd` for `events` until one of them comes; false when the waits were stopped first.
/// What is there already is taken even after a stop: the step then reaches its own stop point.
bool waitFor(int fd, short events) noexcept {
    pollfd watched{fd, events, 0};
    int timeout = 0;
    for (;;) {
        const int ready = ::poll(&watched, 1, timeout);
        if (ready > 0 || (ready < 0 && errno != EINTR)) return true;
        if (gWaitsStopped.load(std::memory_order_relaxed)) {
            errno = ECANCELED;
            return false;
        }
        timeout = kWaitSliceMs;
    }
}

}  // namespace

bool waitForData(int fd) noexcept {
    return waitFor(fd, POLLIN);
}

int openPipeForReading(const char* path) noexcept {
    // Without a writer a pipe opened so reports nothing until one writes or has come and gone,
    // which is when a blocking open would have returned and its first read would be answered.
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return -1;
    const int flags = ::fcntl(fd, F_GETFL);
    if (!waitFor(fd, POLLIN) || flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        const int error = errno;
        ::close(fd);
        errno = error;
        return -1;
    }
    return fd;
}

int openPipeForWriting(const char* path) noexcept {
    // Without a reader the open fails at once (ENXIO) rather than waiting: it is tried again a
    // slice later, until a program opens the pipe to read or the waits are stopped.
    for (;;) {
        const int fd = ::open(path, O_WRONLY | O_CLOEXEC | O_NONBLOCK);
        if (fd >= 0) {
            const int flags = ::fcntl(fd, F_GETFL);
            if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
                const int error = errno;
                ::close(fd);
                errno = error;
                return -1;
            }
            return fd;
        }
        if (errno != ENXIO && errno != EINTR) return -1;
        if (gWaitsStopped.load(std::memory_order_relaxed)) {
            errno = ECANCELED;
            return -1;
        }
        ::poll(nullptr, 0, kWaitSliceMs);
    }
}

const char* stoppedWaitReason() noexcept {
    return "the run was stopped while the file waited for data";
}

}  // namespace mvb::txt

void mvbTxtFileStopWaits() noexcept {
    mvb::txt::gWaitsStopped.store(true, std::memory_order_relaxed);
}

bool mvbTxtFileWaitsStopped() noexcept {
    return mvb::txt::gWaitsStopped.load(std::memory_order_relaxed);
}

void mvbTxtFileResumeWaits() noexcept {
    mvb::txt::gWaitsStopped.store(false, std::memory_order_relaxed);
}

long mvbReadWaiting(int fd, void* buffer, size_t size) noexcept {
    for (;;) {
        if (!mvb::txt::waitForData(fd)) return -1;
        const ssize_t got = ::read(fd, buffer, size);
        if (got >= 0 || errno != EINTR) return static_cast<long>(got);
    }
}
