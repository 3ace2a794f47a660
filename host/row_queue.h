#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "step/host.h"

namespace texthost {

/// Rows one step handed on, on their way to the next step: `rows` rows of the queue's width,
/// row after row, each item carrying the producing step's field description. The producing
/// step fills its rows in place (its output row is the batch's next row) and the consuming
/// step reads them in place (its input list is the batch's current row), so that no value is
/// moved or copied on the way and neither side writes where the other one reads.
///
/// `endCode` is 0 while more batches follow; otherwise it is what the step's processRow
/// answered after these rows (1 end of data, other a failure), and the batch is the last one.
struct RowBatch {
    std::vector<StepOutputItem> items;
    int rows = 0;
    int endCode = 0;
    /// The producing step's getProgress when the batch was handed on.
    bool expectedKnown = false;
    uint64_t expected = 0;
    /// A text long enough to leave more than a little storage in its slot was put in the batch
    /// since its slots last let go of theirs (see RowQueue::noteText).
    bool mayParkStorage = false;
};

/// A bounded queue of row batches from one step's thread to the next one's, in order. A fixed
/// set of batches goes round between the two sides, so the memory it holds is bounded, and
/// the values keep their string storage from one trip to the next.
class RowQueue {
  public:
    /// Batches of `batchRows` rows of the fields of `fields` (names, types and sizes).
    RowQueue(const StepOutputItems* fields, int batchRows, int batchCount);
    RowQueue(const RowQueue&) = delete;
    RowQueue& operator=(const RowQueue&) = delete;

    size_t width() const noexcept { return width_; }
    int batchRows() const noexcept { return batchRows_; }
    /// Row `index` of `batch`.
    StepOutputItem* row(RowBatch& batch, int index) const noexcept {
        return batch.items.data() + static_cast<size_t>(index) * width_;
    }

    // The producing side.
    /// An empty batch to fill; waits while every batch is in use. Null once the consumer has
    /// left or the queue was aborted: nothing more is wanted.
    RowBatch* acquire();
    /// Notes a text of `bytes` bytes put in `batch`: a long one may leave its storage parked.
    static void noteText(RowBatch& batch, size_t bytes) noexcept {
        batch.mayParkStorage |= bytes > kSmallStorageBytes / 2;
    }
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

    /// Storage of at most this many bytes a slot keeps whatever it held.
    static constexpr size_t kSmallStorageBytes = 256;

  private:
    /// A side that waits for batches is woken when this many are there for it, not at each
    /// one, so that the two threads take turns in runs of batches rather than batch by batch.
    size_t wakeAt() const noexcept { return batches_.size() / 2; }

    const size_t width_;
    const int batchRows_;
    // The two sides' waits and the lists they share, on cache lines of their own: the rows'
    // own lines are touched by one side at a time.
    alignas(64) std::mutex mutex_;
    std::condition_variable freed_;
    std::condition_variable filled_;
    std::vector<RowBatch*> free_;
    /// Published batches, oldest first, in a ring as large as the set of batches.
    std::vector<RowBatch*> ring_;
    size_t head_ = 0;
    size_t filledCount_ = 0;
    bool left_ = false;
    bool aborted_ = false;
    alignas(64) std::vector<std::unique_ptr<RowBatch>> batches_;
};

}  // namespace texthost
