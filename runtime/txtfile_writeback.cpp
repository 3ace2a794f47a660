#include "txtfile_writeback.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace mvb::txt {
namespace {

/// The cache drops whole pages: ranges end on a page's boundary.
constexpr uint64_t kPageBytes = 4096;

uint64_t pageFloor(uint64_t offset) noexcept {
    return offset & ~(kPageBytes - 1);
}

/// True when `error` says that the file cannot be written out ahead or synced at all (a pipe,
/// a file system without the call), which is no failure of the file.
bool notApplicable(int error) noexcept {
    return error == EINVAL || error == ESPIPE || error == ENOSYS || error == EOPNOTSUPP;
}

}  // namespace

void EarlyWriteBack::request() noexcept {
    next_ = end_ + stretch_;
    if (!thread_.joinable()) {
        try {
            thread_ = std::thread([this] { run(); });
        } catch (const std::system_error&) {
            next_ = std::numeric_limits<uint64_t>::max();  // the final sync does it all
            return;
        }
    }
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        pending_ = true;
        asked_ = end_;
    }
    wake_.notify_one();
}

void EarlyWriteBack::run() noexcept {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return pending_ || stopping_; });
        // A sync asked for is done even when finish() waits for it: the final sync would
        // otherwise do the same work, and this way finish() knows how it went. Writing out
        // ahead only saves the cache, so finish() stops it.
        if (!pending_ || (!durable_ && stopping_)) return;
        pending_ = false;
        // The last stretch stays as it is: the writer adds to its last page.
        const uint64_t keep = asked_ > stretch_ ? pageFloor(asked_ - stretch_) : 0;
        lock.unlock();
        int error = 0;
        if (durable_) {
            error = ::fdatasync(fd_) == 0 ? 0 : errno;
            if (error == 0) drop(keep);
        } else if (!writeOut(keep)) {
            lock.lock();
            return;
        }
        lock.lock();
        if (error == EINTR) continue;
        // A file that cannot be synced (EINVAL) is no failure: its final sync says the same.
        if (error == EINVAL) return;
        if (error != 0) {
            error_ = error;
            return;
        }
    }
}

bool EarlyWriteBack::writeOut(uint64_t to) noexcept {
    constexpr unsigned kFlags =
        SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE | SYNC_FILE_RANGE_WAIT_AFTER;
    while (done_ < to && !stop_.load(std::memory_order_relaxed)) {
        const uint64_t size = to - done_ < stretch_ ? to - done_ : stretch_;
        const auto from = static_cast<off_t>(done_);
        if (::sync_file_range(fd_, from, static_cast<off_t>(size), kFlags) != 0) {
            const int error = errno;
            if (error == EINTR) continue;
            if (!notApplicable(error)) {
                const std::lock_guard<std::mutex> lock(mutex_);
                error_ = error;
            }
            return false;
        }
        drop(done_ + size);
    }
    return true;
}

void EarlyWriteBack::drop(uint64_t to) noexcept {
    if (to <= done_) return;
    // Only advice: where the system does not take it, the pages stay, as without it.
    (void)::posix_fadvise(fd_, static_cast<off_t>(done_), static_cast<off_t>(to - done_),
                          POSIX_FADV_DONTNEED);
    done_ = to;
}

int EarlyWriteBack::finish() noexcept {
    next_ = std::numeric_limits<uint64_t>::max();
    if (thread_.joinable()) {
        stop_.store(true, std::memory_order_relaxed);
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            stopping_ = true;
        }
        wake_.notify_one();
        thread_.join();
    }
    const std::lock_guard<std::mutex> lock(mutex_);
    return error_;
}

}  // namespace mvb::txt
