#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "row_queue.h"
#include "step/host.h"

namespace texthost {

class StepContext;

/// A step's input when each step of the chain may run in a thread of its own: the step reads
/// its input rows from a list of its own, never from the upstream step's output row, which the
/// upstream thread keeps writing.
///
/// While the chain runs in threads, rows come from a RowQueue, each unpacked into the list in
/// turn (this side writes nothing in the batch); otherwise each row is pulled from the upstream
/// step and copied in. As the StepNode the step sees
/// for its upstream, it answers getExpectedRows from the batch last taken, never by calling into
/// the upstream step from this thread. It keeps to cache lines of its own, which no object of
/// the upstream thread shares.
class alignas(64) QueuedInput final : public StepNode {
  public:
    explicit QueuedInput(StepContext& upstream) : upstream_(upstream) {}
    QueuedInput(const QueuedInput&) = delete;
    QueuedInput& operator=(const QueuedInput&) = delete;

    /// The input list: the upstream output list's fields (kept in step with it while no thread
    /// runs), holding the current input row's values. Null while the upstream step declared
    /// none.
    StepOutputItems* items();
    /// readInputRow: 0 the next row is in items(); 1 end of data; other a failure. Once it
    /// answered non-zero it answers the same again.
    int readRow();

    /// Rows come from `queue` (taken by this step's thread) until endThreads(); the expected
    /// total starts as the upstream step answers it now.
    void beginThreads(RowQueue* queue);
    /// This step takes no more rows: the upstream thread stops handing them on.
    void leave();
    void endThreads();
    /// A new run: the end code of the last one is forgotten.
    void reset();

    // StepNode: the upstream step, as this step sees it.
    MvbString getTypeId() override;
    bool getExpectedRows(uint64_t* rows) override;

  private:
    /// A text longer than this leaves its storage in the list only until the next row.
    static constexpr size_t kKeptTextBytes = size_t{64} << 10;

    void syncFields();
    /// The batch's next row into the list.
    void unpackRow();

    StepContext& upstream_;
    std::vector<StepOutputItem> storage_;
    StepOutputItems list_;
    bool haveList_ = false;
    uint64_t generation_ = 0;
    RowQueue* queue_ = nullptr;
    RowBatch* batch_ = nullptr;
    int next_ = 0;
    const unsigned char* at_ = nullptr;
    bool longText_ = false;
    int endCode_ = 0;
    bool expectedKnown_ = false;
    uint64_t expected_ = 0;
};

}  // namespace texthost
