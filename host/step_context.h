#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "property_store.h"
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
    /// the first step).
    void attach(StepPluginStep* step, StepContext* upstream);

    // Life-cycle calls, each behind a wall that turns anything thrown into a logged failure.
    bool initialize(int* inputCount, int* outputCount);
    int prepare(int flags);
    bool start();
    void finish();
    /// processRow of this step: 0 a row is in the output row; 1 end of data; other a failure.
    /// Once the step answered non-zero it answers the same again without calling the step. A
    /// failure the step did not report gets a host message.
    int pullRow();
    StepStatus status();

    StepPluginStep* step() const { return step_; }
    const std::string& name() const { return name_; }
    const std::string& typeId() const { return typeId_; }
    PropertyStore& properties() { return properties_; }
    bool started() const { return started_; }
    /// Rows this step handed on since its last start.
    uint64_t rowCount() const { return rows_; }
    /// Null until the step declared its output fields.
    const StepOutputItems* outputItems() const { return hasOutput_ ? &output_ : nullptr; }
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
    StepOutputItems* getOutputRow() override { return &output_; }
    void clearUsedFields() override { usedFields_.clear(); }
    void addUsedField(const MvbString& name, int flags) override;
    int getRunMode() override { return shared_.runMode; }
    bool shouldContinue() override;

    // StepLog
    void logMessage(int level, const MvbString& text) override;

    // StepFlow
    StepNode* getInputNode(int port, int link, int flags) override;

    // StepNode: this step, as the next step sees it.
    MvbString getTypeId() override;
    bool getExpectedRows(uint64_t* rows) override;

  private:
    std::string name_;
    std::string typeId_;
    RunShared& shared_;
    StepPluginStep* step_ = nullptr;
    StepContext* upstream_ = nullptr;
    PropertyStore properties_;
    std::vector<StepOutputItem> outputStorage_;
    StepOutputItems output_;
    bool hasOutput_ = false;
    bool started_ = false;
    uint64_t rows_ = 0;
    std::optional<int> endCode_;
    std::vector<std::string> usedFields_;
};

}  // namespace texthost
