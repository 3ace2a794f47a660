#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "property_store.h"
#include "queued_input.h"
#include "run_log.h"
#include "step/plugin.h"

namespace texthost {

/// What every step of one run shares: the message log and the run's settings.
struct RunShared {
    RunLog log;
    int runMode = 1;
    /// Called about every 1024 rows that any step hands on; also from inside a step's
    /// processRow when that step pulls many rows per row of its own.
    std::function<void()> onRows;
    uint64_t rowsHandedOn = 0;
    /// The steps run in threads of their own: rows are not counted together, and progress
    /// is gathered by the driver instead of onRows.
    bool threaded = false;
    /// The part of a job split into parts that this run is (0-based); partCount 0 for a run
    /// of the whole job.
    int part = 0;
    int partCount = 0;
    /// RunOptions::strict, and whether a step has since said it lost a value (any thread).
    bool strict = false;
    std::atomic<bool> valueLost{false};
    /// Whether the steps whose input has ended go on and put their files in place (1) or stop
    /// (2), decided once, by the first of them to ask (0 until then): a stop that comes between
    /// two of them finds every file in place or none.
    std::atomic<int> endDecision{0};
    /// Set once every step has ended, before they finish: the run ended well (its data ended,
    /// nothing failed or was stopped). Asked in finish(), shouldContinue() answers it, so that
    /// the destinations put their files in place only then, all of them or none (and only
    /// while no step has reported an error from its own finish).
    bool endedWell = false;
    /// Errors logged when the steps began to finish: one that a step reports from its finish
    /// keeps the files of the steps that finish after it out of place.
    size_t errorsAtFinish = 0;
};

/// Errors logged for one step, counted, so that a failure can tell whether the step reported
/// one while other steps log from other threads.
struct CountedErrors {
    RunLog& log;
    uint64_t count = 0;
    void error(std::string_view step, std::string_view text) {
        ++count;
        log.error(step, text);
    }
};

/// The host's side of the contract for one step of a chain: the StepHost it hands to the step,
/// the objects that StepHost gives out, the step's properties and its output row buffer. As a
/// StepNode it stands for its own step, which the next step reaches through getFlow().
///
/// Owns the step object: the destructor releases it.
class StepContext final : public StepHost, public StepLog, public StepFlow, public StepNode {
  public:
    StepContext(std::string name, std::string typeId, RunShared& shared);
    ~StepContext();
    StepContext(const StepContext&) = delete;
    StepContext& operator=(const StepContext&) = delete;

    /// Takes ownership of `step` (may be null) and sets the step feeding this one (null for
    /// the first step). With `ownInput` the step reads its input rows from a list of its own
    /// (see QueuedInput), so that the chain can run in threads.
    void attach(StepPluginStep* step, StepContext* upstream, bool ownInput = false);

    // Life-cycle calls, each behind a wall that turns anything thrown into a logged failure.
    bool initialize(int* inputCount, int* outputCount);
    int prepare(int flags);
    bool start();
    void finish();
    /// processRow of this step: 0 a row is in the output row; 1 end of data; other a failure.
    /// Once the step answered non-zero it answers the same again without calling the step. A
    /// failure the step did not report gets a host message. A step that answers 2 because it
    /// was told to stop has filled the row it stopped at: that row is handed on (0) and the
    /// stop answered next.
    int pullRow();
    StepStatus status();

    StepPluginStep* step() const { return step_; }
    const std::string& name() const { return name_; }
    const std::string& typeId() const { return typeId_; }
    PropertyStore& properties() { return properties_; }
    bool started() const { return started_; }
    /// True once the step's processRow answered 1, the end of its data, in this run.
    bool reachedEnd() const { return endCode_ == 1; }
    /// The step has asked which part of the job it runs (getPart) since it was made.
    bool askedForPart() const { return askedPart_.load(std::memory_order_relaxed); }
    /// Rows this step handed on since its last start. Another thread may read it while the
    /// step's own thread counts (the progress line's count of a step inside a long call).
    uint64_t rowCount() const { return rows_.load(std::memory_order_relaxed); }
    /// Null until the step declared its output fields.
    const StepOutputItems* outputItems() const { return hasOutput_ ? &output_ : nullptr; }
    /// Changes each time the step declares a new output list.
    uint64_t outputGeneration() const { return outputGeneration_; }
    /// Nothing reads this step's output rows: once it started, a step whose output list is as
    /// long as its input list gets its input row as its output row, so that handing a row on
    /// unchanged moves nothing. Its own output list then holds no values.
    void leaveOutputUnread() { outputUnread_ = upstream_ != nullptr; }
    /// The step's own input list; null when it reads the upstream output row directly.
    QueuedInput* queuedInput() { return queued_.get(); }
    const std::vector<std::string>& usedFields() const { return usedFields_; }

    // StepHost
    StepLog* getLog() override { return this; }
    PropertyValues* getPropertyValues() override { return &properties_; }
    PropertySchema* getPropertySchema() override { return &properties_; }
    void reportError(const MvbString& message) override;
    void reportInfo(const MvbString& text, bool newEntry) override;
    StepFlow* getFlow() override { return this; }
    int readInputRow(int port) override;
    StepOutputItems* getInputItems(int port, bool current) override;
    StepOutputItems* createOutputItems(int count) override;
    StepOutputItems* getOutputRow() override;
    void clearUsedFields() override { usedFields_.clear(); }
    void addUsedField(const MvbString& name, int flags) override;
    int getRunMode() override { return shared_.runMode; }
    bool shouldContinue() override;
    bool getPart(int* index, int* count) override;

    // StepLog
    void logMessage(int level, const MvbString& text) override;

    // StepFlow
    StepNode* getInputNode(int port, int link, int flags) override;

    // StepNode: this step, as the next step sees it.
    MvbString getTypeId() override;
    bool getExpectedRows(uint64_t* rows) override;

  private:
    /// getStatus or getProgress of the step, through `ask`: once one of them threw (reported
    /// as an error), neither is asked again and both answer false, so that the failure is told
    /// once rather than at every progress point.
    template <class Ask>
    bool askProgress(Ask&& ask);

    std::string name_;
    std::string typeId_;
    RunShared& shared_;
    StepPluginStep* step_ = nullptr;
    StepContext* upstream_ = nullptr;
    PropertyStore properties_;
    std::vector<StepOutputItem> outputStorage_;
    StepOutputItems output_;
    uint64_t outputGeneration_ = 0;
    /// outputGeneration_ when the step started: rows must flow with the fields declared then.
    uint64_t startGeneration_ = 0;
    bool hasOutput_ = false;
    bool outputUnread_ = false;
    bool started_ = false;
    /// Inside the step's finish().
    bool finishing_ = false;
    // What pullRow writes at every row, on a cache line of its own. In a threaded run the next
    // step's thread reads this context at every row (started_, say): a line that one core
    // writes and another reads moves between them each time, which costs both a wait.
    /// Written by the step's thread only: the count is stored, not added atomically.
    alignas(64) std::atomic<uint64_t> rows_{0};
    std::optional<int> endCode_;
    /// shouldContinue answered false during the processRow under way.
    bool stopAnswered_ = false;
    /// The input ended during the processRow under way: a stop then came after the last row.
    bool inputEnded_ = false;
    // The members written at every row end here: what follows starts a cache line of its own.
    /// This step was stopped because a value was lost in a strict run.
    alignas(64) bool strictStop_ = false;
    bool inputFailed_ = false;
    std::vector<std::string> usedFields_;
    CountedErrors errors_{shared_.log};
    std::unique_ptr<QueuedInput> queued_;
    /// The step asked which part of the job it runs (getPart), from any thread.
    std::atomic<bool> askedPart_{false};
    /// The step threw from getStatus or getProgress (asked from more than one thread).
    std::atomic<bool> progressFailed_{false};
};

}  // namespace texthost
