#include "queued_input.h"

#include <algorithm>
#include <utility>

#include "step_context.h"

namespace texthost {

void QueuedInput::syncFields() {
    const StepOutputItems* upstream = upstream_.outputItems();
    if (upstream == nullptr) {
        haveList_ = false;
        return;
    }
    if (haveList_ && generation_ == upstream_.outputGeneration()) return;
    const size_t count = upstream->count < 0 ? 0 : static_cast<size_t>(upstream->count);
    if (storage_.size() != count) storage_ = std::vector<StepOutputItem>(count);
    for (size_t k = 0; k < count; ++k) {
        const StepOutputItem& from = upstream->items[k];
        StepOutputItem& to = storage_[k];
        to.name = from.name;
        to.type = from.type;
        to.byteSize = from.byteSize;
        to.length = from.length;
    }
    list_.count = static_cast<int>(count);
    list_.items = storage_.data();
    generation_ = upstream_.outputGeneration();
    haveList_ = true;
}

StepOutputItems* QueuedInput::items() {
    if (queue_ == nullptr) syncFields();
    return haveList_ ? &list_ : nullptr;
}

int QueuedInput::readRow() {
    if (endCode_ != 0) return endCode_;
    if (queue_ == nullptr) {
        const int code = upstream_.pullRow();
        if (code != 0) {
            endCode_ = code;
            return code;
        }
        syncFields();
        const StepOutputItems* upstream = upstream_.outputItems();
        if (haveList_ && upstream != nullptr) {
            for (size_t k = 0; k < storage_.size(); ++k)
                storage_[k].value = upstream->items[k].value;
        }
        return 0;
    }
    for (;;) {
        if (batch_ != nullptr) {
            if (next_ < batch_->rows()) [[likely]] {
                unpackRow();
                ++next_;
                return 0;
            }
            if (batch_->endCode != 0) {
                endCode_ = batch_->endCode;
                return endCode_;
            }
            queue_->recycle(std::exchange(batch_, nullptr));
        }
        batch_ = queue_->next();
        if (batch_ == nullptr) {
            // The queue was aborted: the host ends the run.
            endCode_ = 2;
            return endCode_;
        }
        next_ = 0;
        at_ = batch_->begin();
        expectedKnown_ = batch_->expectedKnown;
        expected_ = batch_->expected;
    }
}

void QueuedInput::unpackRow() {
    // A value that held a long text in the last row lets its storage go before it is filled
    // again, so that the row does not keep the longest text of the run.
    if (longText_) [[unlikely]] {
        for (StepOutputItem& item : storage_) {
            if (item.value.storageBytes() > kKeptTextBytes) item.value.releaseStorage();
        }
        longText_ = false;
    }
    // The read position stays in a register: stores into the values could, as far as the
    // compiler knows, change a member.
    const unsigned char* at = at_;
    size_t textBytes = 0;
    for (StepOutputItem& item : storage_) {
        at = item.value.unpack(at);
        textBytes = std::max(textBytes, item.value.stringView().size());
    }
    at_ = at;
    longText_ = textBytes > kKeptTextBytes;
}

void QueuedInput::beginThreads(RowQueue* queue) {
    syncFields();
    queue_ = queue;
    batch_ = nullptr;
    next_ = 0;
    expected_ = 0;
    expectedKnown_ = upstream_.getExpectedRows(&expected_);
}

void QueuedInput::leave() {
    if (queue_ != nullptr) queue_->leave();
}

void QueuedInput::endThreads() {
    queue_ = nullptr;
    batch_ = nullptr;
    at_ = nullptr;
}

void QueuedInput::reset() {
    endCode_ = 0;
}

MvbString QueuedInput::getTypeId() {
    return MvbString(upstream_.typeId());
}

bool QueuedInput::getExpectedRows(uint64_t* rows) {
    if (queue_ == nullptr) return upstream_.getExpectedRows(rows);
    if (expectedKnown_ && rows != nullptr) *rows = expected_;
    return expectedKnown_;
}

}  // namespace texthost
