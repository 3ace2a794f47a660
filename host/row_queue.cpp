#include "row_queue.h"

namespace texthost {

RowQueue::RowQueue(int width, int batchRows, int batchCount)
    : width_(width < 0 ? 0 : width), batchRows_(batchRows < 1 ? 1 : batchRows) {
    const size_t count = batchCount < 2 ? 2 : static_cast<size_t>(batchCount);
    batches_.reserve(count);
    free_.reserve(count);
    ring_.resize(count);
    for (size_t i = 0; i < count; ++i) {
        auto batch = std::make_unique<RowBatch>();
        batch->values.resize(static_cast<size_t>(width_) * static_cast<size_t>(batchRows_));
        free_.push_back(batch.get());
        batches_.push_back(std::move(batch));
    }
}

RowBatch* RowQueue::acquire() {
    std::unique_lock<std::mutex> hold(mutex_);
    freed_.wait(hold, [this] { return !free_.empty() || left_ || aborted_; });
    if (left_ || aborted_) return nullptr;
    RowBatch* batch = free_.back();
    free_.pop_back();
    batch->rows = 0;
    batch->endCode = 0;
    return batch;
}

void RowQueue::publish(RowBatch* batch) {
    {
        const std::lock_guard<std::mutex> hold(mutex_);
        ring_[(head_ + filledCount_) % ring_.size()] = batch;
        ++filledCount_;
    }
    filled_.notify_one();
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

namespace {

// Values keep their string storage from trip to trip so that rows cost no allocation; but a
// slot keeps the largest text it ever held, and over a file with some long texts every slot
// would come to hold one. A batch given back with more than this parked in its slots lets go of
// all but the small pieces.
constexpr size_t kParkedBytesPerBatch = size_t{2} << 20;
constexpr size_t kSmallStorageBytes = 256;

void trimParkedStorage(RowBatch& batch) noexcept {
    size_t parked = 0;
    for (const MvbDatavar& value : batch.values)
        parked += value.storageBytes();
    if (parked <= kParkedBytesPerBatch) [[likely]]
        return;
    for (MvbDatavar& value : batch.values) {
        if (value.storageBytes() > kSmallStorageBytes) value.releaseStorage();
    }
}

}  // namespace

void RowQueue::recycle(RowBatch* batch) {
    // The consumer owns the batch until it is back in the free list.
    trimParkedStorage(*batch);
    {
        const std::lock_guard<std::mutex> hold(mutex_);
        free_.push_back(batch);
    }
    freed_.notify_one();
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
