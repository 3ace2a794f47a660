#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "mvb/datavar.h"

namespace texthost {

/// Rows one step handed on, on their way to the next step: `rows` rows of `width` values each,
/// row after row. `endCode` is 0 while more batches follow; otherwise it is what the step's
/// processRow answered after these rows (1 end of data, other a failure), and the batch is the
/// last one.
struct RowBatch {
    std::vector<MvbDatavar> values;
    int rows = 0;
    int endCode = 0;
    /// The producing step's getProgress when the batch was handed on.
    bool expectedKnown = false;
    uint64_t expected = 0;
};

/// A bounded queue of row batches from one step's thread to the next one's, in order. A fixed
/// set of batches goes round between the two sides, so the memory it holds is bounded, and
/// the values keep their string storage from one trip to the next.
class RowQueue {
  public:
    RowQueue(int width, int batchRows, int batchCount);
    RowQueue(const RowQueue&) = delete;
    RowQueue& operator=(const RowQueue&) = delete;

    int width() const noexcept { return width_; }
    int batchRows() const noexcept { return batchRows_; }

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
    const int width_;
    const int batchRows_;
    std::mutex mutex_;
    std::condition_variable freed_;
    std::condition_variable filled_;
    std::vector<std::unique_ptr<RowBatch>> batches_;
    std::vector<RowBatch*> free_;
    /// Published batches, oldest first, in a ring as large as the set of batches.
    std::vector<RowBatch*> ring_;
    size_t head_ = 0;
    size_t filledCount_ = 0;
    bool left_ = false;
    bool aborted_ = false;
};

}  // namespace texthost
