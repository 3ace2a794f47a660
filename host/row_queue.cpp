#include "row_queue.h"

#include <algorithm>
#include <cstring>

namespace texthost {

void RowBatch::clear(size_t keepBytes) noexcept {
    // Storage that rows as large as the last ones fill again is kept.
    if (capacity_ > std::max(keepBytes, 2 * used_)) {
        lines_.reset();
        capacity_ = 0;
    }
    used_ = 0;
    rows_ = 0;
    endCode = 0;
}

void RowBatch::grow(size_t atLeast) {
    const size_t wanted = std::max({atLeast, capacity_ * 2, size_t{4096}});
    const size_t lines = (wanted + kLineBytes - 1) / kLineBytes;
    // A line more than the capacity, never written: unpacking reads a little past the last row.
    static_assert(kLineBytes >= MvbDatavar::kUnpackReadAhead);
    std::unique_ptr<Line[]> grown(new Line[lines + 1]);
    if (used_ != 0) std::memcpy(grown.get(), lines_.get(), used_);
    lines_ = std::move(grown);
    capacity_ = lines * kLineBytes;
}

unsigned char* RowBatch::extend(size_t bytes) {
    if (capacity_ - used_ < bytes) [[unlikely]]
        grow(used_ + bytes);
    unsigned char* const at = data() + used_;
    used_ += bytes;
    return at;
}

RowQueue::RowQueue(size_t width, size_t batchBytes, int batchRows, int batchCount)
    : width_(width), batchBytes_(batchBytes), batchRows_(batchRows < 1 ? 1 : batchRows) {
    const size_t count = batchCount < 2 ? 2 : static_cast<size_t>(batchCount);
    // Twice what the batches hold when each is as full as asked: only rows longer than a
    // batch reach it.
    heldBytesCap_ = 2 * count * batchBytes;
    batches_.reserve(count);
    free_.reserve(count);
    ring_.resize(count);
    for (size_t i = 0; i < count; ++i) {
        batches_.push_back(std::make_unique<RowBatch>());
        free_.push_back(batches_.back().get());
    }
}

RowBatch* RowQueue::acquire() {
    RowBatch* batch = nullptr;
    {
        std::unique_lock<std::mutex> hold(mutex_);
        freed_.wait(hold,
                    [this] { return (!free_.empty() && !heldTooMuch()) || left_ || aborted_; });
        if (left_ || aborted_) return nullptr;
        batch = free_.back();
        free_.pop_back();
    }
    // The producer owns the batch from here until it publishes it. A batch a long row made
    // large gives its storage back, so that a queue holds a few batches' worth of ordinary rows
    // whatever passed through it.
    batch->clear(4 * batchBytes_);
    return batch;
}

void RowQueue::publish(RowBatch* batch) {
    bool wake = false;
    {
        const std::lock_guard<std::mutex> hold(mutex_);
        ring_[(head_ + filledCount_) % ring_.size()] = batch;
        ++filledCount_;
        ++heldCount_;
        heldBytes_ += batch->bytes();
        // The last batch wakes the consumer whatever comes before it. The producer cannot
        // wait for a free batch with fewer than wakeAt() filled ones: every batch is either
        // free or filled when both sides wait, so one of them is woken. Nor can it wait for
        // the bytes held without this wake.
        wake = filledCount_ == wakeAt() || batch->endCode != 0 || heldTooMuch();
    }
    if (wake) filled_.notify_one();
}

RowBatch* RowQueue::next() {
    std::unique_lock<std::mutex> hold(mutex_);
    filled_.wait(hold, [this] { return filledCount_ != 0 || aborted_; });
    if (aborted_) return nullptr;
    RowBatch* batch = ring_[head_];
    head_ = (head_ + 1) % ring_.size();
    --filledCount_;
    return batch;
}

void RowQueue::recycle(RowBatch* batch) {
    bool wake = false;
    {
        const std::lock_guard<std::mutex> hold(mutex_);
        const bool heldTooMuchBefore = heldTooMuch();
        free_.push_back(batch);
        --heldCount_;
        heldBytes_ -= batch->bytes();
        wake = free_.size() == wakeAt() || (heldTooMuchBefore && !heldTooMuch());
    }
    if (wake) freed_.notify_one();
}

void RowQueue::leave() {
    {
        const std::lock_guard<std::mutex> hold(mutex_);
        left_ = true;
    }
    freed_.notify_all();
}

void RowQueue::abort() {
    {
        const std::lock_guard<std::mutex> hold(mutex_);
        aborted_ = true;
    }
    freed_.notify_all();
    filled_.notify_all();
}

}  // namespace texthost
