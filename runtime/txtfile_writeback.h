#pragma once

// Writing a large file to disk while it is being written. Private to the runtime library.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <limits>
#include <mutex>
#include <thread>

#include "mvb/export.h"

namespace mvb::txt {

/// Writes a file that is being written to disk a stretch of several MB at a time, on a thread of
/// its own, and then lets the system drop those pages from its cache. Writing never waits for
/// it on the way.
///
/// Two modes. A file that is to be made durable (one that replaces another) is synced at each
/// stretch, so that the sync at the end finds only the last stretch left instead of the whole
/// file. Any other regular file is only written out, a stretch at a time, so that what it
/// wrote can leave the cache: the file's pages in the cache stay a few stretches however large
/// the file grows, and the pages the system takes for each new stretch are those the last ones
/// gave back, which it has at hand. (Without this, a large file fills the cache with pages taken
/// afresh from free memory, which costs several times the copy itself where the system runs
/// under a hypervisor that takes free memory back; and it pushes other files out of the cache.)
///
/// The last stretch written stays in the cache, as the writer may still add to its last page.
///
/// A file of less than one stretch (two, when only written out) never starts the thread.
/// Where no thread can be had, or the file can be neither synced nor written out ahead, it
/// stops trying: the final sync, or the system's own write-back, does it all, as without it.
class MVB_API EarlyWriteBack {
  public:
    EarlyWriteBack() = default;
    EarlyWriteBack(const EarlyWriteBack&) = delete;
    EarlyWriteBack& operator=(const EarlyWriteBack&) = delete;
    ~EarlyWriteBack() { finish(); }

    /// From now on the file open as `fd`, whose bytes so far end at file offset `start`, is
    /// synced (`durable`) or written out each time `stretch` more bytes (at least one) reached
    /// it; `fd` stays open until finish().
    void enable(int fd, uint64_t stretch, bool durable = true, uint64_t start = 0) noexcept {
        fd_ = fd;
        durable_ = durable;
        stretch_ = stretch > 0 ? stretch : 1;
        end_ = start;
        done_ = start;
        next_ = end_ + (durable ? stretch_ : 2 * stretch_);
    }
    /// `count` more bytes reached the file.
    void wrote(uint64_t count) noexcept {
        end_ += count;
        if (end_ >= next_) [[unlikely]] {
            request();
        }
    }
    /// Ends the syncing, waiting for a sync that is asked for or under way (for a file only
    /// written out, for the stretch under way). Returns the error number of a sync or a write
    /// that failed (0 when none did): a failure that the file's next sync may no longer report,
    /// so the file cannot be called durable, nor, when it was written out, whole. Later calls
    /// return the same.
    int finish() noexcept;

  private:
    /// Asks the thread (started at the first stretch) for a sync of what is written.
    void request() noexcept;
    void run() noexcept;
    /// Writes out [done_, to) a stretch at a time, unless finish() was called; false when the
    /// file cannot be written out ahead (error_ set where that is a failure).
    bool writeOut(uint64_t to) noexcept;
    /// Lets the cache drop the file's pages in [done_, to), which are on disk, and moves done_.
    void drop(uint64_t to) noexcept;

    int fd_ = -1;
    bool durable_ = true;
    uint64_t stretch_ = 0;
    uint64_t end_ = 0;  ///< the file offset after the bytes written so far
    /// The offset at which the next sync is asked for; never while not enabled.
    uint64_t next_ = std::numeric_limits<uint64_t>::max();
    /// The offset up to which the thread has synced or written out the file and dropped it from
    /// the cache; the thread's own.
    uint64_t done_ = 0;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool pending_ = false;   ///< a sync was asked for and has not begun
    uint64_t asked_ = 0;     ///< the file's end when it was asked for
    bool stopping_ = false;  ///< finish() was called
    /// finish() was called: read by the thread between the stretches it writes out.
    std::atomic<bool> stop_{false};
    int error_ = 0;  ///< the error of the first sync or write that failed
    std::thread thread_;
};

}  // namespace mvb::txt
