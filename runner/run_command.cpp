#include "run_command.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "convert_job.h"
#include "exit_status.h"
#include "interrupt.h"
#include "part_option.h"
#include "progress_line.h"
#include "texthost/describe.h"
#include "texthost/run.h"

namespace textjob {
namespace {

/// True when a source (`typePrefix` SOURCE_) or destination (DEST_) names its standard stream as
/// its FILENAME: "-", or the system's own name of standard input or output.
bool usesStandardStream(const texthost::JobDefinition& job, std::string_view typePrefix) {
    const int descriptor = typePrefix == "SOURCE_" ? 0 : 1;
    const std::string names[] = {"-", descriptor == 0 ? "/dev/stdin" : "/dev/stdout",
                                 "/dev/fd/" + std::to_string(descriptor),
                                 "/proc/self/fd/" + std::to_string(descriptor)};
    for (const texthost::JobStep& step : job.steps) {
        if (step.type.rfind(typePrefix, 0) != 0) continue;
        for (const texthost::JobProperty& property : step.properties) {
            if (property.name != "FILENAME" || property.isTable) continue;
            const MvbString name = property.value.asString();
            for (const std::string& standard : names) {
                if (name.view() == standard) return true;
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

/// The name of a destination whose file is the job file `jobPath` itself; empty when none is.
std::string stepWritingTheJob(const texthost::JobDefinition& job, const std::string& jobPath) {
    if (jobPath == "-") return {};
    for (const texthost::JobStep& step : job.steps) {
        if (!step.type.starts_with("DEST_")) continue;
        for (const texthost::JobProperty& property : step.properties) {
            if (property.name != "FILENAME" || property.isTable) continue;
            const std::string file(property.value.asString().view());
            if (file.empty() || file == "-") continue;
            const std::string path = file.front() == '/' || job.baseDirectory.empty()
                                         ? file
                                         : job.baseDirectory + "/" + file;
            if (sameFile(path, jobPath)) return step.name;
        }
    }
    return {};
}

/// Warns of each key at the top of the job that the run does not read.
void warnOfIgnoredKeys(const texthost::JobDefinition& job) {
    for (const std::string& key : job.ignoredKeys) {
        std::fprintf(stderr,
                     "warning: the job's key \"%s\" is not read: a job holds \"steps\" (the run's "
                     "options, such as --strict or --threads, go on the command line)\n",
                     key.c_str());
    }
}

/// Warns once of each name that several steps share.
void warnOfSharedNames(const texthost::JobDefinition& job) {
    std::set<std::string> seen;
    std::set<std::string> told;
    for (const texthost::JobStep& step : job.steps) {
        if (seen.insert(step.name).second || !told.insert(step.name).second) continue;
        std::fprintf(stderr,
                     "warning: several steps are named \"%s\", so their messages and summary "
                     "lines cannot be told apart (nor can --set name one): give each a \"name\" "
                     "of its own\n",
                     step.name.c_str());
    }
}

/// Warns of each destination that reads rows but has no FIELDS rows: it passes them on and
/// writes nothing, which is seldom what a job means.
void warnOfEmptyDestinations(const texthost::JobDefinition& job) {
    for (size_t i = 1; i < job.steps.size(); ++i) {
        const texthost::JobStep& step = job.steps[i];
        if (step.type.rfind("DEST_", 0) != 0) continue;
        bool hasRows = false;
        for (const texthost::JobProperty& property : step.properties)
            hasRows = hasRows || (property.name == "FIELDS" && !property.table.rows.empty());
        if (hasRows) continue;
        std::fprintf(stderr,
                     "warning: %s: FIELDS has no rows, so the step writes nothing; list the "
                     "fields to write (textjob describe %s shows the columns)\n",
                     step.name.c_str(), step.type.c_str());
    }
}

/// The override as the step should get it: a DELIMITER of \t or tab is a tab character.
texthost::PropertyOverride overrideFrom(const std::string& text) {
    texthost::PropertyOverride o = texthost::parseOverride(text);
    if (o.property == "DELIMITER" && o.value.getType() == mvbTypeString)
        o.value.assign(delimiterArgument(std::string(o.value.asString().view())));
    return o;
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

std::optional<texthost::JobDefinition> readJobFile(const std::string& path) {
    try {
        return texthost::parseJobFile(path);
    } catch (const texthost::JobError& e) {
        std::fprintf(stderr, "error: %s\n", e.what());
        return std::nullopt;
    }
}

int runCommand(const CommandLine& line) {
    std::optional<texthost::JobDefinition> read = readJobFile(line.jobPath);
    // A stop while the job was read from standard input ends the program as a stopped run.
    if (!read) return texthost::stopRequested() ? stoppedExitStatus() : kExitBadJob;
    return runParsedJob(*read, line);
}

int runParsedJob(texthost::JobDefinition& job, const CommandLine& line) {
    texthost::RunOptions options;
    options.runMode = line.dryRun ? 0 : 1;
    options.pluginPath = line.pluginPath;
    options.threads = line.threads;
    options.strict = line.strict;
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
    try {
        std::vector<texthost::PropertyOverride> overrides;
        for (const std::string& text : line.overrides)
            overrides.push_back(overrideFrom(text));
        texthost::applyOverrides(job, overrides, options);
        if (line.inPlace) writeInPlace(job);
    } catch (const texthost::JobError& e) {
        std::fprintf(stderr, "error: %s\n", e.what());
        return kExitBadJob;
    }
    // Asked of the job as it runs, --set included.
    if (line.jobPath == "-" && usesStandardStream(job, "SOURCE_")) {
        std::fprintf(stderr,
                     "error: the job came from standard input, so its source cannot read its data "
                     "there too: give the source a FILENAME, or save the job to a file\n");
        return kExitBadJob;
    }
    if (const std::string writer = stepWritingTheJob(job, line.jobPath); !writer.empty()) {
        std::fprintf(stderr,
                     "error: %s: its FILENAME is the job file %s, which the run would replace "
                     "with data: write another file\n",
                     writer.c_str(), line.jobPath.c_str());
        return kExitBadJob;
    }
    warnOfIgnoredKeys(job);
    warnOfEmptyDestinations(job);

    // With the data on standard output, the run's own texts go to standard error.
    FILE* const infoStream = usesStandardStream(job, "DEST_") ? stderr : stdout;
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
    // Said once the job is known to run: a job refused says one thing only, what is wrong.
    if (!report.badJob) warnOfSharedNames(job);
    display.clear();
    if (!line.quiet && !report.badJob) {
        if (part) {
            std::fprintf(infoStream, "Part %d/%d of %s\n", part->index, part->count,
                         line.jobPath.c_str());
        }
        for (const texthost::RunMessage& message : report.messages) {
            if (message.kind == texthost::RunMessage::Kind::Info) printMessage(message, infoStream);
        }
        if (line.dryRun) {
            std::fprintf(infoStream, "Dry run: %llu rows read, no files written\n",
                         static_cast<unsigned long long>(report.rowsRead));
        }
        std::fprintf(infoStream, "%s\n", elapsedLine(display.seconds(), report.rowsRead).c_str());
    }
    std::fflush(infoStream);
    if (report.badJob) return kExitBadJob;
    if (report.stopped) return stoppedExitStatus();
    if (line.strict && report.valuesLost()) {
        std::fprintf(stderr,
                     "error: --strict: a value was not kept as read (see the warnings), "
                     "so the run stopped there and failed: %s\n",
                     line.dryRun ? "a dry run, no file was written"
                                 : "each file a destination replaces was left as it was, the "
                                   "rows written kept beside it as <file>.partial (a file "
                                   "appended to or written in place holds only those rows)");
        return kExitStepFailed;
    }
    return report.ok ? kExitOk : kExitStepFailed;
}

}  // namespace textjob
