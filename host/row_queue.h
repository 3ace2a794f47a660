#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "step/host.h"

namespace texthost {

/// Rows one step handed on, on their way to the next step, each value laid flat one after the
/// other (see MvbDatavar::pack). The producing step fills its own output row as it does
/// without threads, and the row is packed into a batch (see BatchFiller); the consuming step's
/// input row is its own too, unpacked from here. A row of ten fields crosses between the two cores
/// as a few cache lines of its values, not as the value objects, whose lines both threads would
/// otherwise pass back and forth at every row; and neither side writes where the other one reads.
///
/// `endCode` is 0 while more batches follow; otherwise it is what the step's processRow
/// answered after these rows (1 end of data, other a failure), and the batch is the last one.
///
/// Each batch takes cache lines of its own: the consumer reads the count of the batch it reads
/// at every row while the producer writes the one it fills, most often the next one made.
class alignas(64) RowBatch {
  public:
    /// The storage of a batch starts on a cache line's boundary.
    static constexpr size_t kLineBytes = 64;

    /// Rows in the batch.
    int rows() const noexcept { return rows_; }
    /// Bytes of packed rows in the batch.
    size_t bytes() const noexcept { return used_; }
    /// The first packed row. The storage can be read for MvbDatavar::kUnpackReadAhead bytes
    /// past the last one.
    const unsigned char* begin() const noexcept { return data(); }

    /// Empties the batch. Storage past `keepBytes`, more than twice what the batch held, is let
    /// go: one row of long texts leaves no lasting trace.
    void clear(size_t keepBytes) noexcept;
    /// Room for `bytes` more bytes of packed rows after those in the batch, counted in from
    /// now on: the caller writes them before the batch is handed on.
    unsigned char* extend(size_t bytes);
    /// Counts `rows` more rows, packed through extend().
    void addRows(int rows) noexcept { rows_ += rows; }

    int endCode = 0;
    /// The producing step's getProgress when the batch was handed on.
    bool expectedKnown = false;
    uint64_t expected = 0;

  private:
    struct alignas(kLineBytes) Line {
        unsigned char bytes[kLineBytes];
    };
    unsigned char* data() const noexcept { return reinterpret_cast<unsigned char*>(lines_.get()); }
    void grow(size_t atLeast);

    std::unique_ptr<Line[]> lines_;
    size_t capacity_ = 0;
    size_t used_ = 0;
    int rows_ = 0;
};

/// A bounded queue of row batches from one step's thread to the next one's, in order. A fixed
/// set of batches goes round between the two sides, so the memory it holds is bounded, and a
/// batch keeps its storage from one trip to the next.
class RowQueue {
  public:
    /// Batches of rows of `width` values: a batch is handed on when it holds `batchBytes` bytes
    /// or `batchRows` rows, whichever comes first.
    RowQueue(size_t width, size_t batchBytes, int batchRows, int batchCount);
    RowQueue(const RowQueue&) = delete;
    RowQueue& operator=(const RowQueue&) = delete;

    size_t width() const noexcept { return width_; }
    /// Marks of the fields that the next step reads (one per field, 1 for read); null when it
    /// may read all of them.
    const unsigned char* carried() const noexcept {
        return carried_.empty() ? nullptr : carried_.data();
    }
    /// Only the fields marked in `carried` (one mark per field) are handed on with their values.
    void carryOnly(std::vector<unsigned char> carried) { carried_ = std::move(carried); }
    /// True when a batch of `rows` rows in `bytes` bytes is full enough to hand on.
    bool full(int rows, size_t bytes) const noexcept {
        return rows >= batchRows_ || bytes >= batchBytes_;
    }

    // The producing side.
    /// An empty batch to fill; waits while every batch is in use. Null once the consumer has
    /// left or the queue was aborted: nothing more is wanted.
    RowBatch* acquire();
    /// Hands a filled batch on; never waits.
    void publish(RowBatch* batch);

    // The consuming side.
    /// The next batch, in the order published; waits until there is one. Null when aborted.
    RowBatch* next();
    /// Gives a batch that was read back for filling.
    void recycle(RowBatch* batch);
    /// The consumer takes nothing more: a waiting or later acquire() answers null.
    void leave();

    /// Both sides stop waiting: acquire() and next() answer null from now on.
    void abort();

  private:
    /// A side that waits for batches is woken when this many are there for it, not at each
    /// one, so that the two threads take turns in runs of batches rather than batch by batch.
    size_t wakeAt() const noexcept { return batches_.size() / 2; }
    /// True while the batches handed on and not yet given back hold more bytes than the queue
    /// allows: the producer then waits for them even with batches free, so that rows of long
    /// texts do not fill every batch at once.
    bool heldTooMuch() const noexcept { return heldCount_ != 0 && heldBytes_ > heldBytesCap_; }

    const size_t width_;
    std::vector<unsigned char> carried_;
    const size_t batchBytes_;
    const int batchRows_;
    // The two sides' waits and the lists they share, on cache lines of their own.
    alignas(64) std::mutex mutex_;
    std::condition_variable freed_;
    std::condition_variable filled_;
    std::vector<RowBatch*> free_;
    /// Published batches, oldest first, in a ring as large as the set of batches.
    std::vector<RowBatch*> ring_;
    size_t head_ = 0;
    size_t filledCount_ = 0;
    /// Batches published and not yet recycled, and their bytes; at most heldBytesCap_ of them
    /// (but a batch) before the producer waits.
    size_t heldCount_ = 0;
    size_t heldBytes_ = 0;
    size_t heldBytesCap_ = 0;
    bool left_ = false;
    bool aborted_ = false;
    alignas(64) std::vector<std::unique_ptr<RowBatch>> batches_;
};

}  // namespace texthost
