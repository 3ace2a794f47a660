#include "run_command.h"

#include <unistd.h>

#include <cstdio>
#include <string>

#include "exit_status.h"
#include "texthost/run.h"

namespace textjob {
namespace {

void printMessage(const texthost::RunMessage& message) {
    using Kind = texthost::RunMessage::Kind;
    const std::string where = message.step.empty() ? "" : message.step + ": ";
    switch (message.kind) {
        case Kind::Error:
            std::fprintf(stderr, "error: %s%s\n", where.c_str(), message.text.c_str());
            break;
        case Kind::Warning:
            std::fprintf(stderr, "warning: %s%s\n", where.c_str(), message.text.c_str());
            break;
        case Kind::Info:
            std::fprintf(stdout, "%s%s\n", where.c_str(), message.text.c_str());
            break;
    }
}

/// Rewrites one line of standard error with every step's status.
void showProgress(const std::vector<texthost::StepStatus>& status) {
    std::string line;
    for (const texthost::StepStatus& s : status) {
        if (s.text.empty()) continue;
        if (!line.empty()) line += " | ";
        line += s.step + ": " + s.text;
    }
    std::fprintf(stderr, "\r\033[K%s", line.c_str());
    std::fflush(stderr);
}

}  // namespace

int runCommand(const CommandLine& line) {
    texthost::JobDefinition job;
    try {
        job = texthost::parseJobFile(line.jobPath);
    } catch (const texthost::JobError& e) {
        std::fprintf(stderr, "error: %s\n", e.what());
        return kExitBadJob;
    }
    texthost::RunOptions options;
    options.runMode = line.dryRun ? 0 : 1;
    options.pluginPath = line.pluginPath;
    const bool progress = !line.quiet && isatty(STDERR_FILENO) != 0;
    if (progress) options.onProgress = showProgress;

    const texthost::RunReport report = texthost::runJob(job, options);
    if (progress) std::fprintf(stderr, "\r\033[K");
    for (const texthost::RunMessage& message : report.messages) {
        if (line.quiet && message.kind == texthost::RunMessage::Kind::Info) continue;
        printMessage(message);
    }
    std::fflush(stdout);
    if (report.badJob) return kExitBadJob;
    if (report.stopped) return kExitInterrupted;
    return report.ok ? kExitOk : kExitStepFailed;
}

int stepsCommand(const CommandLine& line) {
    texthost::RunOptions options;
    options.pluginPath = line.pluginPath;
    try {
        for (const texthost::HostStepType& type : texthost::listStepTypes(options)) {
            std::printf("%-20s %s\n", type.typeId.c_str(), type.description.c_str());
        }
    } catch (const texthost::JobError& e) {
        std::fprintf(stderr, "error: %s\n", e.what());
        return kExitBadJob;
    }
    return kExitOk;
}

}  // namespace textjob
