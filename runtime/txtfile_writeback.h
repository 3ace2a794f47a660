#pragma once

// Making a file durable while it is being written. Private to the runtime library.

#include <condition_variable>
#include <cstdint>
#include <limits>
#include <mutex>
#include <thread>

#include "mvb/export.h"

namespace mvb::txt {

/// Syncs a file that is being written to disk a stretch of several MB at a time, on a thread of
/// its own, so that the sync that makes it durable at the end finds only the last stretch left
/// instead of the whole file, and writing never waits for a sync on the way.
///
/// A file of less than one stretch never starts the thread. Where no thread can be had, or the
/// file cannot be synced, it stops trying and the final sync does it all, as without it.
class MVB_API EarlyWriteBack {
  public:
    EarlyWriteBack() = default;
    EarlyWriteBack(const EarlyWriteBack&) = delete;
    EarlyWriteBack& operator=(const EarlyWriteBack&) = delete;
    ~EarlyWriteBack() { finish(); }

    /// From now on the file open as `fd` is synced each time `stretch` more bytes (at least
    /// one) reached it; `fd` stays open until finish().
    void enable(int fd, uint64_t stretch) noexcept {
        fd_ = fd;
        stretch_ = stretch > 0 ? stretch : 1;
        next_ = end_ + stretch_;
    }
    /// `count` more bytes reached the file.
    void wrote(uint64_t count) noexcept {
        end_ += count;
        if (end_ >= next_) [[unlikely]] {
            request();
        }
    }
    /// Ends the syncing, waiting for a sync that is asked for or under way. Returns the error
    /// number of a sync that failed (0 when none did): a failure that the file's next sync may no
    /// longer report, so the file cannot be called durable. Later calls return the same.
    int finish() noexcept;

  private:
    /// Asks the thread (started at the first stretch) for a sync of what is written.
    void request() noexcept;
    void run() noexcept;

    int fd_ = -1;
    uint64_t stretch_ = 0;
    uint64_t end_ = 0;  ///< bytes written to the file so far
    /// The count of bytes at which the next sync is asked for; never while not enabled.
    uint64_t next_ = std::numeric_limits<uint64_t>::max();
    std::mutex mutex_;
    std::condition_variable wake_;
    bool pending_ = false;   ///< a sync was asked for and has not begun
    bool stopping_ = false;  ///< finish() was called
    int error_ = 0;          ///< the error of the first sync that failed
    std::thread thread_;
};

}  // namespace mvb::txt
