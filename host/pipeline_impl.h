#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "host_steps.h"
#include "step_context.h"
#include "texthost/pipeline.h"
#include "texthost/plugin_library.h"
#include "working_directory.h"

namespace texthost {

struct Pipeline::Impl {
    explicit Impl(const JobDefinition& job, const RunOptions& runOptions)
        : options(pluginsFromHere(runOptions)), workingDirectory(job.baseDirectory) {
        shared.runMode = options.runMode;
        shared.part = options.part;
        shared.partCount = options.partCount;
        shared.strict = options.strict;
        if (options.onMessage) shared.log.setListener(options.onMessage);
    }

    /// The options with their plug-in paths made absolute before the run moves to the job's
    /// folder (the default path when they name none).
    static RunOptions pluginsFromHere(RunOptions options);
    std::function<StepPluginStep*()> resolve(const JobStep& step);
    void build(const JobDefinition& job);
    /// Adds a host message for a failure the step did not report itself.
    void explain(StepContext& step, size_t errorsBefore, const std::string& what);

    // Releases the steps in chain order, before the plug-in that made them is unloaded.
    ~Impl() {
        for (auto& step : steps)
            step.reset();
    }

    RunOptions options;
    ScopedWorkingDirectory workingDirectory;
    RunShared shared;
    std::vector<HostStepType> builtins = builtinStepTypes();
    // Declared before the steps, so that every step is released before the library unloads.
    std::unique_ptr<PluginSet> plugin;
    std::vector<std::unique_ptr<StepContext>> steps;
    /// The index of the first step of each thread's share (see threadShares): each but the
    /// source reads its input through a list of its own. {0} runs the chain in one thread.
    std::vector<size_t> shareFirsts{0};
    /// The chain runs in more than one thread (Pipeline::run).
    bool threaded() const { return shareFirsts.size() > 1; }
    bool running = false;
    std::optional<int> endCode;
    /// Errors logged before this run's steps were prepared.
    size_t errorsBefore = 0;
    uint64_t rows = 0;
};

}  // namespace texthost
