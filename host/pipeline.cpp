#include "texthost/pipeline.h"

#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>

#include "field_name_check.h"
#include "mvb/cores.h"
#include "pipeline_impl.h"
#include "texthost/closest_name.h"
#include "texthost/file_roles.h"
#include "thread_shares.h"

namespace texthost {

RunOptions Pipeline::Impl::pluginsFromHere(RunOptions options) {
    options.pluginPath =
        pluginPathsFromHere(options.pluginPath.empty() ? defaultPluginPath() : options.pluginPath);
    return options;
}

std::function<StepPluginStep*()> Pipeline::Impl::resolve(const JobStep& step) {
    for (const HostStepType& type : options.extraSteps) {
        if (type.typeId == step.type) return type.create;
    }
    for (const HostStepType& type : builtins) {
        if (type.typeId == step.type) return type.create;
    }
    if (!plugin) {
        try {
            plugin = std::make_unique<PluginSet>(options.pluginPath);
        } catch (const JobError& e) {
            // Every plug-in is loaded for the first step that needs one, whichever failed.
            throw JobError(std::string(e.what()) + " (the plug-ins were loaded for step \"" +
                           step.name + "\" of type " + step.type + ")");
        }
    }
    if (const PluginStepType* type = plugin->find(step.type)) {
        StepCreateFunction create = type->create;
        return [create] { return create != nullptr ? create() : nullptr; };
    }
    std::vector<std::string> valid;
    for (const HostStepType& type : options.extraSteps)
        valid.push_back(type.typeId);
    for (const HostStepType& type : builtins)
        valid.push_back(type.typeId);
    for (const PluginStepType& type : plugin->stepTypes())
        valid.push_back(type.typeId);
    throw JobError("Unknown step type " + step.type + " for step \"" + step.name + "\"" +
                   suggestionTail(step.type, valid, "types"));
}

void Pipeline::Impl::build(const JobDefinition& job) {
    if (job.steps.empty()) throw JobError("The job has no steps");
    // Threads up to the cores this process may use (or the count asked for), never more than
    // there are steps.
    const size_t threads =
        options.threads > 0 ? static_cast<size_t>(options.threads) : mvbUsableCores();
    shareFirsts = threadShares(job.steps.size(), threads);
    for (size_t i = 0; i < job.steps.size(); ++i) {
        const JobStep& jobStep = job.steps[i];
        std::function<StepPluginStep*()> create = resolve(jobStep);
        StepContext* upstream = steps.empty() ? nullptr : steps.back().get();
        auto& context =
            steps.emplace_back(std::make_unique<StepContext>(jobStep.name, jobStep.type, shared));
        // A step of a plug-in is named with the library that offers it.
        const std::string library = plugin ? plugin->libraryOf(jobStep.type) : std::string();
        const std::string label = stepLabel(jobStep, StepWord::Capital) +
                                  (library.empty() ? "" : " of the plug-in " + library);
        StepPluginStep* created = nullptr;
        try {
            created = create();
        } catch (const std::exception& e) {
            throw JobError(label + " could not be created: " + e.what());
        }
        if (created == nullptr) throw JobError(label + " could not be created");
        // A step that begins a thread's share reads its input through a list of its own.
        context->attach(created, upstream, std::ranges::find(shareFirsts, i) != shareFirsts.end());
        int inputCount = -1;
        int outputCount = -1;
        if (!context->initialize(&inputCount, &outputCount)) {
            throw JobError(label + " failed to initialize");
        }
        // Counts a step cannot mean: it is named rather than run on a guess.
        if (inputCount < 0 || outputCount < 0 || outputCount > 1) {
            throw JobError(label + " declares " + std::to_string(inputCount) + " inputs and " +
                           std::to_string(outputCount) +
                           " outputs; a step has no input or one, and one output or none");
        }
        if (outputCount == 0 && i + 1 < job.steps.size()) {
            throw JobError(stepLabel(jobStep, StepWord::Capital) +
                           " has no output, so no step can follow it: make it the last one");
        }
        if (i == 0 && inputCount != 0) {
            throw JobError(stepLabel(jobStep, StepWord::Capital) +
                           " cannot begin a job: it reads rows from another step. The first "
                           "step must be a source, a step that reads a file; put one before it");
        }
        if (i > 0 && inputCount == 0) {
            throw JobError(stepLabel(jobStep, StepWord::Capital) +
                           " is a source: only the first step of a job can be a source");
        }
        if (inputCount > 1) {
            throw JobError(stepLabel(jobStep, StepWord::Capital) + " needs " +
                           std::to_string(inputCount) + " inputs; a job feeds each step one");
        }
        context->properties().bind(jobStep);
    }
}

void Pipeline::Impl::explain(StepContext& step, size_t errorsBefore, const std::string& what) {
    if (shared.log.errorCount() == errorsBefore) shared.log.error(step.name(), what);
}

Pipeline::Pipeline(const JobDefinition& job, const RunOptions& options)
    : impl_(std::make_unique<Impl>(job, options)) {
    impl_->build(job);
    if (impl_->options.onProgress) {
        using Clock = std::chrono::steady_clock;
        const auto interval = std::chrono::milliseconds(impl_->options.progressIntervalMs);
        impl_->shared.onRows = [this, interval, next = Clock::now() + interval]() mutable {
            if (Clock::now() < next) return;
            impl_->options.onProgress(status());
            next = Clock::now() + interval;
        };
    }
}

Pipeline::~Pipeline() {
    finish();
}

bool Pipeline::prepareAndStart() {
    Impl& d = *impl_;
    if (d.running || d.endCode) finish();
    d.endCode.reset();
    d.rows = 0;
    d.shared.valueLost = false;
    d.shared.endDecision = 0;
    d.errorsBefore = d.shared.log.errorCount();
    for (auto& step : d.steps) {
        const size_t errorsBefore = d.shared.log.errorCount();
        const int result = step->prepare(2);
        if ((result & 1) == 0) {
            d.explain(*step, errorsBefore,
                      "the step could not bind its fields (prepare answered " +
                          std::to_string(result) + ")");
            d.endCode = 2;
            return false;
        }
        const std::string shared =
            sharedOutputName(step->outputItems(), step->name(), step->typeId());
        if (!shared.empty()) throw JobError(shared);
        // The next step reads this one's fields: without any it would only say that nothing
        // feeds it.
        if (step->outputItems() == nullptr && step != d.steps.back()) {
            d.shared.log.error(step->name(),
                               "the step declared no output fields, so the step "
                               "after it has no input to read");
            d.endCode = 2;
            return false;
        }
    }
    d.running = true;
    for (auto& step : d.steps) {
        const size_t errorsBefore = d.shared.log.errorCount();
        if (!step->start()) {
            d.explain(*step, errorsBefore, "the step could not start");
            d.endCode = 2;
            return false;
        }
    }
    return true;
}

int Pipeline::pull() {
    Impl& d = *impl_;
    if (d.endCode) return *d.endCode;
    if (!d.running) {
        d.shared.log.error("", "rows were pulled before the steps started");
        d.endCode = 2;
        return 2;
    }
    const int code = d.steps.back()->pullRow();
    if (code == 0) {
        ++d.rows;
    } else {
        d.endCode = code;
    }
    return code;
}

void Pipeline::leaveLastOutputUnread() {
    if (!impl_->steps.empty()) impl_->steps.back()->leaveOutputUnread();
}

void Pipeline::finish() {
    Impl& d = *impl_;
    // A step that ended its data before its input did (the first rows only, say) leaves the
    // steps before it short of their end: one that writes a file keeps it out of place, and
    // the run says so and fails rather than end well without that file.
    // Whether each step writes a file, asked of it once.
    std::vector<bool> writes;
    for (auto& step : d.steps)
        writes.push_back(!fileRolesOf(step->step()).written().empty());
    if (d.endCode == 1) {
        for (size_t i = 0; i + 1 < d.steps.size(); ++i) {
            StepContext& step = *d.steps[i];
            if (!step.started() || step.reachedEnd() || !writes[i]) continue;
            d.shared.log.error(step.name(),
                               "the step did not reach the end of its data, as a step after it "
                               "ended the data first: its files were kept out of place");
        }
    }
    // A source that never asked which part of the job it runs read all of its data in this
    // part: the parts joined would hold it as many times as there are parts.
    if (d.endCode == 1 && d.shared.partCount > 0 && !d.steps.empty() &&
        d.steps.front()->started() && !d.steps.front()->askedForPart()) {
        d.shared.log.error(d.steps.front()->name(),
                           "the step cannot run in parts: it never asked which part of its data "
                           "to read, so every part would hold all of it");
    }
    // A value lost in a strict run fails it, even where the step that lost it was the last
    // to end and no step was left to stop.
    d.shared.endedWell = d.endCode == 1 && d.shared.log.errorCount() == d.errorsBefore &&
                         d.shared.endDecision.load() != 2 &&
                         !(d.shared.strict && d.shared.valueLost.load());
    d.shared.errorsAtFinish = d.shared.log.errorCount();
    // The steps that write no file finish first: one of them that fails in its finish then
    // keeps every file out of place, wherever it stands in the chain.
    for (const bool writer : {false, true}) {
        for (size_t i = 0; i < d.steps.size(); ++i) {
            if (writes[i] == writer) d.steps[i]->finish();
        }
    }
    d.running = false;
}

int Pipeline::stepCount() const {
    return static_cast<int>(impl_->steps.size());
}
StepPluginStep* Pipeline::step(int index) const {
    return impl_->steps.at(index)->step();
}
const std::string& Pipeline::stepName(int index) const {
    return impl_->steps.at(index)->name();
}
const std::string& Pipeline::stepType(int index) const {
    return impl_->steps.at(index)->typeId();
}
const StepOutputItems* Pipeline::outputItems(int index) const {
    return impl_->steps.at(index)->outputItems();
}
const std::vector<std::string>& Pipeline::usedFields(int index) const {
    return impl_->steps.at(index)->usedFields();
}

std::vector<StepStatus> Pipeline::status() const {
    std::vector<StepStatus> all;
    for (auto& step : impl_->steps) {
        if (step->started()) all.push_back(step->status());
    }
    return all;
}

int Pipeline::part() const {
    return impl_->shared.part;
}
int Pipeline::partCount() const {
    return impl_->shared.partCount;
}

bool Pipeline::stoppedAsDataEnded() const {
    return impl_->shared.endDecision.load() == 2;
}

uint64_t Pipeline::rowsPulled() const {
    return impl_->rows;
}
uint64_t Pipeline::rowsRead() const {
    return impl_->steps.empty() ? 0 : impl_->steps.front()->rowCount();
}
const std::vector<RunMessage>& Pipeline::messages() const {
    return impl_->shared.log.messages();
}

}  // namespace texthost
