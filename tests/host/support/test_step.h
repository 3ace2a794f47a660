#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "step/plugin.h"
#include "texthost/run.h"

namespace hosttest {

/// What the test steps did, in order: "<tag>:<event>" entries that the tests compare. Steps
/// running in threads of their own write to it under its lock.
struct Journal {
    std::mutex mutex;
    std::vector<std::string> events;
    /// Events that start with `prefix`.
    std::vector<std::string> with(const std::string& prefix) const;
};

/// Property indexes of the test steps, in declaration order.
enum TestProperty : int {
    kRows = 0,             ///< integer, default 3: rows a source produces
    kFailAt = 1,           ///< integer, default 0: processRow fails (reported) at this row
    kLabel = 2,            ///< string, no default
    kFields = 3,           ///< table FIELDNAME (string), WIDTH (integer): a source's output fields
    kFailStart = 4,        ///< boolean, default false: start reports an error and fails
    kWarning = 5,          ///< string: logged as a warning by start when not empty
    kSilentFail = 6,       ///< integer, default 0: processRow answers 2 at this row, unreported
    kReshapeAt = 7,        ///< integer, default 0: a source declares a one-field output at this row
    kPauseAt = 8,          ///< integer, default 0: a source waits 0.3 s before giving this row
    kFinishError = 9,      ///< boolean, default false: finish reports an error
    kNoOutput = 10,        ///< boolean, default false: prepare declares no output fields
    kProgressThrows = 11,  ///< boolean, default false: getStatus and getProgress throw
    kUsed = 12,            ///< string: the one input field a pass names as used, in prepare
    kReadInPrepare = 13,   ///< boolean, default false: a pass asks for an input row in prepare
};

/// A small step for driving the host: a source (no input) that produces ROWS rows whose
/// fields hold the row number, or a pass-through destination that copies its input row to its
/// output, noting "out of order at row N" when field 0 of its Nth input row is not N. Every
/// life-cycle call is written to the journal under `tag`. It asks shouldContinue
/// after every row.
class TestStep final : public StepPluginStep {
  public:
    TestStep(bool source, std::string tag, Journal* journal);

    bool initialize(StepHost* host, int* inputCount, int* outputCount) override;
    void release() override;
    int prepare(int flags) override;
    bool start() override;
    int processRow(int unused) override;
    void finish() override;
    bool getStatus(int* percent, MvbString* text) override;
    bool getProgress(uint64_t* total) override;
    void* queryExtension(int) override { return nullptr; }
    void notifyEvent(int, int) override {}

    StepHost* host() const { return host_; }
    uint64_t rowCount() const { return rows_; }
    /// The working directory when start() ran.
    const std::string& startDirectory() const { return startDirectory_; }

  private:
    void note(const std::string& event);
    int fail(const std::string& text);

    bool source_;
    std::string tag_;
    Journal* journal_;
    StepHost* host_ = nullptr;
    uint64_t rows_ = 0;
    int64_t rowLimit_ = 0;
    int64_t failAt_ = 0;
    int64_t silentFailAt_ = 0;
    int64_t reshapeAt_ = 0;
    int64_t pauseAt_ = 0;
    std::string startDirectory_;
};

/// The step types TEST_SOURCE (tag "src") and TEST_PASS (tags "pass1", "pass2", ... in creation
/// order), journaling into `journal`.
std::vector<texthost::HostStepType> testStepTypes(Journal& journal);

}  // namespace hosttest
