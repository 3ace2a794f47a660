#include "run_command.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

#include "exit_status.h"
#include "interrupt.h"
#include "part_option.h"
#include "progress_line.h"
#include "texthost/describe.h"
#include "texthost/run.h"

namespace textjob {
namespace {

/// True when a destination of the job writes its data to standard output (FILENAME "-"): the
/// run's own texts then go to standard error, so that the data stays clean.
bool writesStandardOutput(const texthost::JobDefinition& job) {
    for (const texthost::JobStep& step : job.steps) {
        if (step.type.rfind("DEST_", 0) != 0) continue;
        for (const texthost::JobProperty& property : step.properties) {
            if (property.name == "FILENAME" && !property.isTable &&
                property.value.asString().view() == "-") {
                return true;
            }
        }
    }
    return false;
}

/// Sets IN_PLACE true in every destination of the job, over what the job gives.
void writeInPlace(texthost::JobDefinition& job) {
    for (texthost::JobStep& step : job.steps) {
        if (step.type.rfind("DEST_", 0) != 0) continue;
        std::erase_if(step.properties, [](const texthost::JobProperty& property) {
            return property.name == "IN_PLACE";
        });
        texthost::JobProperty inPlace;
        inPlace.name = "IN_PLACE";
        inPlace.value = texthost::JobValue(true);
        step.properties.push_back(std::move(inPlace));
    }
}

void printMessage(const texthost::RunMessage& message, FILE* infoStream) {
    using Kind = texthost::RunMessage::Kind;
    const std::string where = message.step.empty() ? "" : message.step + ": ";
    switch (message.kind) {
        case Kind::Error:
            std::fprintf(stderr, "error: %s%s\n", where.c_str(), message.text.c_str());
            std::fflush(stderr);
            break;
        case Kind::Warning:
            std::fprintf(stderr, "warning: %s%s\n", where.c_str(), message.text.c_str());
            std::fflush(stderr);
            break;
        case Kind::Info:
            std::fprintf(infoStream, "%s%s\n", where.c_str(), message.text.c_str());
            break;
    }
}

}  // namespace

int runCommand(const CommandLine& line) {
    texthost::RunOptions options;
    options.runMode = line.dryRun ? 0 : 1;
    options.pluginPath = line.pluginPath;
    options.threads = line.threads;
    std::optional<JobPart> part;
    try {
        part = resolveJobPart(line, [](const char* name) { return std::getenv(name); });
    } catch (const std::invalid_argument& e) {
        std::fprintf(stderr, "error: %s\n", e.what());
        return kExitBadJob;
    }
    if (part) {
        options.part = part->index;
        options.partCount = part->count;
    }

    texthost::JobDefinition job;
    try {
        job = texthost::parseJobFile(line.jobPath);
        std::vector<texthost::PropertyOverride> overrides;
        for (const std::string& text : line.overrides)
            overrides.push_back(texthost::parseOverride(text));
        texthost::applyOverrides(job, overrides, options);
        if (line.inPlace) writeInPlace(job);
    } catch (const texthost::JobError& e) {
        std::fprintf(stderr, "error: %s\n", e.what());
        return kExitBadJob;
    }

    FILE* const infoStream = writesStandardOutput(job) ? stderr : stdout;
    ProgressDisplay display;
    if (!line.quiet && isatty(STDERR_FILENO) != 0) {
        options.onProgress = [&display](const std::vector<texthost::StepStatus>& status) {
            display.update(status);
        };
    }
    options.onMessage = [&display, infoStream](const texthost::RunMessage& message) {
        display.clear();
        printMessage(message, infoStream);
    };

    const texthost::RunReport report = texthost::runJob(job, options);
    display.clear();
    if (!line.quiet) {
        if (part && !report.badJob) {
            std::fprintf(infoStream, "Part %d/%d of %s\n", part->index, part->count,
                         line.jobPath.c_str());
        }
        for (const texthost::RunMessage& message : report.messages) {
            if (message.kind == texthost::RunMessage::Kind::Info) printMessage(message, infoStream);
        }
        if (line.dryRun && !report.badJob) {
            std::fprintf(infoStream, "Dry run: %llu rows read, no files written\n",
                         static_cast<unsigned long long>(report.rowsRead));
        }
    }
    std::fflush(infoStream);
    if (report.badJob) return kExitBadJob;
    if (report.stopped) return stoppedExitStatus();
    if (report.ok && line.strict && report.valuesLost()) {
        std::fprintf(stderr,
                     "error: --strict: some values were not kept as read (see the warnings and "
                     "the summary); the run counts as failed\n");
        return kExitStepFailed;
    }
    return report.ok ? kExitOk : kExitStepFailed;
}

}  // namespace textjob
