#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "step/plugin.h"
#include "texthost/job.h"
#include "texthost/run.h"

namespace texthost {

/// A job's chain of steps, set up and driven by the host: one source, then destinations, each
/// fed by the one before it. runJob() is built on it; tests use it to drive a chain row by row
/// and to look at the steps between calls.
///
/// While a Pipeline exists the process's working directory is the job's baseDirectory (when
/// not empty), so that relative paths in the job resolve against the job file's folder; the
/// destructor restores the previous one. Only one Pipeline should exist at a time.
class Pipeline {
  public:
    /// Creates every step (loading the plug-in if a step type needs it), calls initialize and
    /// binds the job's properties to the steps' declarations. Throws JobError naming the problem:
    /// unknown step type (listing the valid ones), a plug-in that cannot be loaded, a first step
    /// that is not a source or a later one that is not a destination, an unknown property or
    /// column (listing the valid ones), a table given as a single value or the reverse.
    Pipeline(const JobDefinition& job, const RunOptions& options = {});
    /// Finishes started steps that were not finished, releases every step and the factory,
    /// unloads the plug-in and restores the working directory.
    ~Pipeline();
    Pipeline(const Pipeline&) = delete;
    Pipeline& operator=(const Pipeline&) = delete;

    /// prepare(2) for each step in chain order, then start() for each. False as soon as one
    /// fails (prepare without bit 0 of its result, or start false); the reason is in messages().
    /// Steps that started before the failure are finished by finish() or the destructor.
    bool prepareAndStart();
    /// One processRow of the last step, which pulls from the steps before it through
    /// readInputRow: 0 a row went through; 1 end of data; any other value a failure. Once the
    /// chain ended or failed, answers that code again without calling a step.
    int pull();
    /// True when the chain was built to run in more than one thread: RunOptions::threads is
    /// not 1, there are two steps or more and (when threads is 0) the process may use more
    /// than one core. The steps are spread over as many threads as those cores (or as threads
    /// asks), at most one per step, neighbouring steps sharing a thread when there are more
    /// steps; the first step of each thread's share then reads its input rows from a list of
    /// its own. pull() still works.
    bool threaded() const;
    /// Runs the started chain to its end, its failure or a stop. Threaded (see threaded()),
    /// each thread runs the processRow loop of the last step of its share, and rows go from a
    /// share to the next in batches through bounded queues, in order; an end, a failure or a
    /// stop passes down the chain, and a step whose next step ended is not called again. Otherwise
    /// pull() is called until it answers non-zero. After a stop request the steps stop themselves
    /// at their next progress point; a loop whose step does not ask stops on its own a second
    /// later. Answers what the last step's processRow answered last (1 end of data, other a
    /// failure), as pull() would; `stopped` tells that a stop request ended it. Progress goes
    /// to RunOptions::onProgress from the calling thread when threaded.
    int run(bool& stopped);
    /// Nothing will read the last step's output rows (outputItems() of it): the host may hand
    /// that step its input row as its output row, so that a destination passes each row on
    /// without copying its values. Called before prepareAndStart().
    void leaveLastOutputUnread();
    /// finish() of every started step, in chain order, once.
    void finish();

    int stepCount() const;
    /// The step object (owned by the pipeline; valid until it is destroyed).
    StepPluginStep* step(int index) const;
    const std::string& stepName(int index) const;
    const std::string& stepType(int index) const;
    /// The step's output field list, which is also its output row buffer and the next step's
    /// input items; null before the step declared one.
    const StepOutputItems* outputItems(int index) const;
    /// The names the step gave to addUsedField since its last clearUsedFields.
    const std::vector<std::string>& usedFields(int index) const;
    /// getStatus of every step that started.
    std::vector<StepStatus> status() const;

    /// The part of a job split into parts that this run is (RunOptions::part, 0-based) and the
    /// number of parts; 0 parts for a run of the whole job.
    int part() const;
    int partCount() const;
    /// True when the steps whose input had ended were told to stop: the data had all been read
    /// when the stop (or a value lost in a strict run) stopped them.
    bool stoppedAsDataEnded() const;

    /// Rows pull() passed through (answers 0).
    uint64_t rowsPulled() const;
    /// Rows the first step (the source) handed on in this run.
    uint64_t rowsRead() const;
    /// Errors, warnings and summaries so far, in order.
    const std::vector<RunMessage>& messages() const;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace texthost
