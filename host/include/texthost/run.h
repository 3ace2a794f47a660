#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "step/plugin.h"
#include "texthost/job.h"

namespace texthost {

/// A message a step or the host produced during a run, in the order they came.
struct RunMessage {
    enum class Kind { Error, Warning, Info };
    Kind kind = Kind::Error;
    std::string step;  ///< the step's name; empty for the host's own messages
    /// reportInfo pieces of one entry are joined into one text: as they are where one side has
    /// a blank at the seam ("Input file: " "a.csv") or the second begins with punctuation,
    /// else with ", " ("a.csv" "3 rows read").
    std::string text;
};

/// A step type that the host offers besides the plug-in's catalogue.
struct HostStepType {
    std::string typeId;
    std::string description;
    /// Creates one step object; the host drives it like a plug-in step and release() deletes it.
    std::function<StepPluginStep*()> create;
};

/// One step's answer to getStatus.
struct StepStatus {
    std::string step;  ///< the step's name
    int percent = 0;
    std::string text;
    bool ok = false;          ///< what getStatus returned
    uint64_t rows = 0;        ///< rows the step has handed on in this run, counted by the host
    uint64_t total = 0;       ///< getProgress: the step's expected or estimated total of rows
    bool totalKnown = false;  ///< what getProgress returned
    /// False when the step was inside a call (waiting for data, say) through the whole last
    /// interval, so that it could not be asked: `rows` is counted now, the rest is of the
    /// last time it was asked.
    bool current = true;
};

struct RunOptions {
    int runMode = 1;  ///< getRunMode: 1 writes files; 0 is a dry run (rows flow and are counted)
    /// Plug-in library path; empty means the default: the environment variable
    /// TEXT_PLUGIN_PATH, else ../lib/libtext.so from the running executable's folder. The
    /// plug-in is loaded only when a job names a step type that the host does not offer itself.
    std::string pluginPath;
    /// Step types added for this run (tests); they take precedence over every other type.
    std::vector<HostStepType> extraSteps;
    /// Called about every `progressIntervalMs` while rows flow, with the status of each step
    /// (possibly while a step is inside processRow, pulling its input).
    /// The host looks at the clock only once per 1024 rows handed on, so that a row costs
    /// a counter increment and nothing more.
    std::function<void(const std::vector<StepStatus>&)> onProgress;
    int progressIntervalMs = 200;
    /// The most threads a job of two steps or more runs in, rows going from thread to thread
    /// in batches: each step in a thread of its own while there are threads enough, otherwise
    /// neighbouring steps share one. 1 runs every step in the calling thread; 0 (the default)
    /// takes as many as the cores the process may use (mvbUsableCores()).
    int threads = 0;
    /// Called with every error and warning as it happens (also the ones that end up in the
    /// report); summaries arrive only in the report, once their pieces are complete.
    std::function<void(const RunMessage&)> onMessage;
    /// Runs part `part` (0-based) of a job split into `partCount` parts (getPart); partCount
    /// 0 runs the whole job.
    int part = 0;
    int partCount = 0;
    /// Stops the run at the first value a step did not keep as read (a warning
    /// isValueLoss() recognises), before a destination puts its file in place: every step
    /// answers shouldContinue() false from then on.
    bool strict = false;
};

/// Whether a step's warning says that a value was not kept as read: the "Text Plugin 810:" to
/// "Text Plugin 820:" messages (a text its field's type cannot read, a cut, text dropped, a
/// value written so that the file cannot give it back, a quote that never closed on its line)
/// and their summaries.
bool isValueLoss(std::string_view text) noexcept;

struct RunReport {
    bool ok = false;        ///< every step succeeded and the data reached its end
    bool stopped = false;   ///< the run was stopped by requestStop() (an interrupt)
    bool badJob = false;    ///< the job or the plug-in could not be set up; nothing ran
    uint64_t rows = 0;      ///< rows the last step handled
    uint64_t rowsRead = 0;  ///< rows the first step (the source) handed on
    std::vector<RunMessage> messages;

    std::vector<std::string> errors() const;    ///< error texts, in order
    std::vector<std::string> warnings() const;  ///< warning texts, in order
    std::vector<std::string> infos() const;     ///< summary texts, in order
    /// True when a step said that it did not keep some value as it was (read as null, cut, or
    /// text dropped after a NUL): a warning or summary of the plug-in's messages 810-821,
    /// recognised by their "Text Plugin 8NN:" lead. The summaries come whatever the warning
    /// cap let through, so no such value goes unseen.
    bool valuesLost() const;
};

/// Sets up the job's steps (see Pipeline), runs it to the end of the data or the first
/// failure, finishes every started step and releases everything. A bad job is reported in the
/// result (badJob, one error message), never thrown. The working directory is the job's
/// baseDirectory during the run and is restored afterwards.
RunReport runJob(const JobDefinition& job, const RunOptions& options = {});

/// Every step type a job can name with these options: the extra ones, the host's own and the
/// plug-in's catalogue, in that order. Throws JobError when the plug-in cannot be loaded.
std::vector<HostStepType> listStepTypes(const RunOptions& options = {});

/// Stops every running job at one row: the first step of the chain is told to stop at its next
/// progress point (its shouldContinue() answers false; the later steps are told to go on, and
/// end as their input ends), so that every step after it handles the same rows, the first step's
/// last row included. A file waiting for data from a pipe stops waiting (mvbTxtFileStopWaits).
/// Lock-free and async-signal-safe: meant to be called from a SIGINT handler. The request is
/// process-wide and stays until clearStopRequest().
void requestStop() noexcept;
/// Clears an earlier requestStop().
void clearStopRequest() noexcept;
/// True after requestStop() until clearStopRequest().
bool stopRequested() noexcept;

}  // namespace texthost
