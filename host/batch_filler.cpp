#include "batch_filler.h"

#include <cstdint>
#include <cstring>
#include <type_traits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace texthost {
namespace {

constexpr size_t kLineBytes = RowBatch::kLineBytes;

/// memcpy() whose stores bypass the caches where the processor has them.
void streamCopy(unsigned char* to, const unsigned char* from, size_t size) noexcept {
#if defined(__SSE2__)
    // Streaming stores take 16-byte aligned addresses: the bytes before the first one are
    // copied as usual.
    size_t head = (16 - (reinterpret_cast<uintptr_t>(to) & 15)) & 15;
    if (head > size) head = size;
    std::memcpy(to, from, head);
    to += head;
    from += head;
    size -= head;
    for (; size >= 16; size -= 16, to += 16, from += 16) {
        _mm_stream_si128(reinterpret_cast<__m128i*>(to),
                         _mm_loadu_si128(reinterpret_cast<const __m128i*>(from)));
    }
#endif
    std::memcpy(to, from, size);
}

/// Orders the streaming stores before the stores that follow.
void streamFence() noexcept {
#if defined(__SSE2__)
    _mm_sfence();
#endif
}

}  // namespace

void BatchFiller::start(RowBatch* batch) noexcept {
    batch_ = batch;
    staged_ = 0;
    rows_ = 0;
}

void BatchFiller::append(const StepOutputItem* row, size_t width, const unsigned char* carried) {
    static const MvbDatavar kNull;
    // A field that no later step reads crosses as a null.
    const auto valueAt = [&](size_t k) noexcept -> const MvbDatavar& {
        return carried == nullptr || carried[k] != 0 ? row[k].value : kNull;
    };
    constexpr size_t kFixed = MvbDatavar::packedFixedBytes();
    ++rows_;
    size_t k = 0;
    // Most rows go straight into what is left of the stage: when it holds every value's fixed
    // part, only the strings' texts are counted against the room beyond.
    if (const size_t fixed = width * kFixed; fixed <= kStageBytes - staged_) [[likely]] {
        unsigned char* at = stage_ + staged_;
        size_t spare = kStageBytes - staged_ - fixed;
        const auto packFitting = [&](auto marked) noexcept {
            for (; k < width; ++k) {
                // Without marks every field crosses: there is no mark to look at per value.
                const MvbDatavar& value = marked ? valueAt(k) : row[k].value;
                unsigned char* const next = value.packWithin(at, &spare);
                if (next == nullptr) break;
                at = next;
            }
        };
        if (carried == nullptr) {
            packFitting(std::false_type{});
        } else {
            packFitting(std::true_type{});
        }
        staged_ = static_cast<size_t>(at - stage_);
        if (k == width) [[likely]]
            return;
    }
    // The rest of a row that did not fit, or that is too wide to try, goes value by value: a
    // row need not lie in one piece of the stage, only in order in the batch.
    for (; k < width; ++k) {
        const MvbDatavar& value = valueAt(k);
        const size_t room = kStageBytes - staged_;
        if (room >= kFixed) {
            size_t spare = room - kFixed;
            if (unsigned char* const next = value.packWithin(stage_ + staged_, &spare)) {
                staged_ = static_cast<size_t>(next - stage_);
                continue;
            }
        }
        // The value goes in once its size is known, after what the stage holds has moved on.
        const size_t size = value.packedSize();
        if (size > kStageBytes - kLineBytes) {
            packLarge(value, size);
            continue;
        }
        if (room < size) moveStaged(false);
        value.pack(stage_ + staged_);
        staged_ += size;
    }
}

void BatchFiller::packLarge(const MvbDatavar& value, size_t size) {
    moveStaged(true);
    if (unsigned char* const large = largeArea(size)) {
        value.pack(large);
        streamCopy(batch_->extend(size), large, size);
    } else {
        value.pack(batch_->extend(size));
    }
}

unsigned char* BatchFiller::largeArea(size_t size) {
    if (size > kLargeValueBytes) return nullptr;
    if (largeCapacity_ < size) {
        large_.reset();  // the old area goes before the larger one is taken
        largeCapacity_ = 0;
        large_.reset(new unsigned char[size]);
        largeCapacity_ = size;
    }
    return large_.get();
}

void BatchFiller::moveStaged(bool all) {
    size_t size = staged_;
    if (!all) {
        // The stage is nearly full (a value of at most kStageBytes - kLineBytes did not fit), so
        // what ends on a line's boundary is most of it. The batch's storage starts on one.
        size -= (batch_->bytes() + size) % kLineBytes;
    }
    if (size == 0) return;
    streamCopy(batch_->extend(size), stage_, size);
    staged_ -= size;
    std::memmove(stage_, stage_ + size, staged_);
}

void BatchFiller::finish() {
    moveStaged(true);
    batch_->addRows(rows_);
    rows_ = 0;
    streamFence();
}

}  // namespace texthost
