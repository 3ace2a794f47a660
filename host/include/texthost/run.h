#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "step/plugin.h"
#include "texthost/job.h"

namespace texthost {

/// A message a step or the host produced during a run, in the order they came.
struct RunMessage {
    enum class Kind { Error, Warning, Info };
    Kind kind;
    std::string step;  ///< the step's name; empty for the host's own messages
    std::string text;  ///< reportInfo pieces of one entry are joined into one text
};

struct RunOptions {
    int runMode = 1;  ///< 1 writes files; 0 is a dry run (rows flow and are counted)
    /// Plug-in library path; empty means the default (TEXT_PLUGIN_PATH, else beside the host).
    std::string pluginPath;
    /// Called from the driver at most every `progressIntervalMs` with each step's status.
    std::function<void()> onProgress;
};

struct RunReport {
    bool ok = false;       ///< every step succeeded
    bool stopped = false;  ///< the run was stopped by an interrupt
    uint64_t rows = 0;     ///< rows the last step handled
    std::vector<RunMessage> messages;
    /// Errors only, in order (handy for tests).
    std::vector<std::string> errors() const;
    std::vector<std::string> warnings() const;
    std::vector<std::string> infos() const;
};

/// Validates a job against the loaded plug-in and runs it to the end.
RunReport runJob(const JobDefinition& job, const RunOptions& options = {});

/// Asks every running job's shouldContinue() to answer false (safe from a signal handler).
void requestStop() noexcept;
/// Clears an earlier requestStop().
void clearStopRequest() noexcept;

}  // namespace texthost
