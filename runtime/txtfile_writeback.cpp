#include "txtfile_writeback.h"

#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace mvb::txt {

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
    }
    wake_.notify_one();
}

void EarlyWriteBack::run() noexcept {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return pending_ || stopping_; });
        // A sync asked for is done even when finish() waits for it: the final sync would
        // otherwise do the same work, and this way finish() knows how it went.
        if (!pending_) return;
        pending_ = false;
        lock.unlock();
        const int result = ::fdatasync(fd_);
        const int error = result == 0 ? 0 : errno;
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

int EarlyWriteBack::finish() noexcept {
    next_ = std::numeric_limits<uint64_t>::max();
    if (thread_.joinable()) {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            stopping_ = true;
        }
        wake_.notify_one();
        thread_.join();
    }
    return error_;
}

}  // namespace mvb::txt
