#pragma once

#include <cstddef>
#include <memory>

#include "row_queue.h"
#include "step/host.h"

namespace texthost {

/// The producing thread's side of a batch: packs rows into a small area of its own, which stays
/// in this core's cache, and moves them into the batch a few kilobytes at a time with streaming
/// stores. A batch goes round between the two threads, so its lines were last read by the
/// consumer's core: ordinary stores would each fetch a line back from that core first, and
/// every later load of the producer that waits for earlier stores (a load from a line just
/// copied, say) would wait for those fetches too. Streaming stores write whole lines without
/// fetching them; the consumer then reads the batch from memory, in order, which prefetching
/// hides. A row wider than the area goes through it a part at a time; a value larger than the
/// area (a long text) is packed into a larger area of the producer's own and moved the same
/// way, and only a value larger than a few batches is packed into the batch directly, into
/// storage the batch has just grown for it.
class BatchFiller {
  public:
    BatchFiller() = default;
    BatchFiller(const BatchFiller&) = delete;
    BatchFiller& operator=(const BatchFiller&) = delete;

    /// Fills `batch` (an empty one) from now on.
    void start(RowBatch* batch) noexcept;
    /// Packs the values of the `width` items of `row` after the rows before it (see
    /// MvbDatavar::pack); with `carried` given, only the items it marks, the others as nulls.
    void append(const StepOutputItem* row, size_t width, const unsigned char* carried);
    /// Rows and bytes packed since start().
    int rows() const noexcept { return rows_; }
    size_t bytes() const noexcept { return batch_->bytes() + staged_; }
    /// Moves what is left into the batch and orders every store to it before what follows, so
    /// that the batch can be handed on.
    void finish();

  private:
    /// Moves the staged bytes into the batch: all of them, or with `all` false only as many as
    /// end the batch on a cache line's boundary, so that no line is written in two parts.
    void moveStaged(bool all);

    /// Moves a value of `size` packed bytes, more than the stage holds (a long text), into the
    /// batch after what the stage holds.
    void packLarge(const MvbDatavar& value, size_t size);
    /// Where a value of `size` bytes (more than the stage holds) is packed before it moves:
    /// `large_`, grown to hold it unless it is larger than kLargeValueBytes; null for such a
    /// one, which is packed into the batch directly.
    unsigned char* largeArea(size_t size);

    static constexpr size_t kStageBytes = 4096;
    /// The largest value packed through large_; a larger one is packed into the batch.
    static constexpr size_t kLargeValueBytes = size_t{256} << 10;
    std::unique_ptr<unsigned char[]> large_;
    size_t largeCapacity_ = 0;
    RowBatch* batch_ = nullptr;
    size_t staged_ = 0;
    int rows_ = 0;
    /// Room for a row packed last into the stage to write over the end (see packWithin()).
    alignas(64) unsigned char stage_[kStageBytes + MvbDatavar::kPackWithinOverrun];
};

}  // namespace texthost
