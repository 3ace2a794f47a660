#include "row_queue.h"

namespace texthost {

RowQueue::RowQueue(const StepOutputItems* fields, int batchRows, int batchCount)
    : width_(fields != nullptr && fields->count > 0 ? static_cast<size_t>(fields->count) : 0),
      batchRows_(batchRows < 1 ? 1 : batchRows) {
    const size_t count = batchCount < 2 ? 2 : static_cast<size_t>(batchCount);
    batches_.reserve(count);
    free_.reserve(count);
    ring_.resize(count);
    for (size_t i = 0; i < count; ++i) {
        auto batch = std::make_unique<RowBatch>();
        batch->items.resize(width_ * static_cast<size_t>(batchRows_));
        for (size_t at = 0; at < batch->items.size(); ++at) {
            const StepOutputItem& from = fields->items[at % width_];
            StepOutputItem& to = batch->items[at];
            to.name = from.name;
            to.type = from.type;
            to.byteSize = from.byteSize;
            to.length = from.length;
        }
        free_.push_back(batch.get());
        batches_.push_back(std::move(batch));
    }
}

namespace {

// Values keep their string storage from trip to trip so that rows cost no allocation; but a
// slot keeps the largest text it ever held, and over a file with some long texts every slot
// would come to hold one. A batch taken for filling with more than this parked in its slots
// lets go of all but the small pieces. The producing side does this, on the lines it is about
// to fill anyway, and only for a batch that held a long text: a slot's storage grows to at most
// twice the longest text it held.
constexpr size_t kParkedBytesPerBatch = size_t{2} << 20;

/// True when storage of more than the small size is left in the batch's slots.
bool trimParkedStorage(RowBatch& batch) noexcept {
    size_t parked = 0;
    for (const StepOutputItem& item : batch.items)
        parked += item.value.storageBytes();
    if (parked <= kParkedBytesPerBatch) return true;
    for (StepOutputItem& item : batch.items) {
        if (item.value.storageBytes() > RowQueue::kSmallStorageBytes) item.value.releaseStorage();
    }
    return false;
}

}  // namespace

RowBatch* RowQueue::acquire() {
    RowBatch* batch = nullptr;
    {
        std::unique_lock<std::mutex> hold(mutex_);
        freed_.wait(hold, [this] { return !free_.empty() || left_ || aborted_; });
        if (left_ || aborted_) return nullptr;
        batch = free_.back();
        free_.pop_back();
    }
    // The producer owns the batch from here until it publishes it.
    if (batch->mayParkStorage) [[unlikely]]
        batch->mayParkStorage = trimParkedStorage(*batch);
    batch->rows = 0;
    batch->endCode = 0;
    return batch;
}

void RowQueue::publish(RowBatch* batch) {
    bool wake = false;
    {
        const std::lock_guard<std::mutex> hold(mutex_);
        ring_[(head_ + filledCount_) % ring_.size()] = batch;
        ++filledCount_;
        // The last batch wakes the consumer whatever comes before it. The producer cannot
        // wait for a free batch with fewer than wakeAt() filled ones: every batch is either
        // free or filled when both sides wait, so one of them is woken.
        wake = filledCount_ == wakeAt() || batch->endCode != 0;
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
        free_.push_back(batch);
        wake = free_.size() == wakeAt();
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
