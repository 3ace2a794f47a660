#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>

#include "command_line.h"
#include "convert_command.h"
#include "exit_status.h"
#include "infer_command.h"
#include "interrupt.h"
#include "mvb/txtfile.h"
#include "part_option.h"
#include "run_command.h"

namespace {

using textjob::CommandLine;

/// Whether what the command makes (a listing, a schema, a job) goes to standard output: every
/// command but those that run a job, which check their own files, and infer given a job file.
bool productOnStandardOutput(const CommandLine& line) {
    switch (line.command) {
        case CommandLine::Command::Run:
        case CommandLine::Command::Convert:
            return false;
        case CommandLine::Command::Infer:
            return line.inferJobPath.empty();
        default:
            return true;
    }
}

/// `status`, or a failure when what the command made did not reach standard output (a full
/// disk, a closed pipe, a stream closed before the program started), said on standard error.
int checkedStandardOutput(int status) {
    const bool flushed = std::fflush(stdout) == 0 && std::ferror(stdout) == 0;
    const int error = errno;
    // A command that failed made nothing that a closed stream could have lost.
    const bool lost = status == textjob::kExitOk && mvbStandardStreamClosedAtStart(STDOUT_FILENO);
    if (flushed && !lost) return status;
    if (!flushed && error == EPIPE) {
        // A reader that quit early (`| head`) took what it wanted: no message, as a program
        // that a broken pipe ends gives none, but no success either.
    } else if (flushed) {
        std::fprintf(stderr,
                     "error: cannot write to standard output: it was closed when the program "
                     "started\n");
    } else {
        std::fprintf(stderr, "error: cannot write to standard output: %s\n",
                     error != 0 ? std::strerror(error) : "the write failed");
    }
    return status == textjob::kExitOk ? textjob::kExitStepFailed : status;
}

int runAsked(const CommandLine& line) {
    switch (line.command) {
        case CommandLine::Command::Steps:
            return textjob::stepsCommand(line);
        case CommandLine::Command::Describe:
            return textjob::describeCommand(line);
        case CommandLine::Command::Infer:
            return textjob::inferCommand(line);
        case CommandLine::Command::Parts:
            return textjob::partsCommand(line);
        case CommandLine::Command::Convert:
            return textjob::convertCommand(line);
        case CommandLine::Command::Schema:
            return textjob::schemaCommand(line);
        case CommandLine::Command::Completion:
            return textjob::completionCommand(line);
        case CommandLine::Command::Manual:
            return textjob::manualCommand(line);
        case CommandLine::Command::Run:
            break;
    }
    return textjob::runCommand(line);
}

int runProgram(int argc, char** argv) {
    int exitStatus = 0;
    const auto line = textjob::parseCommandLine(argc, argv, exitStatus);
    // Help and the version went to standard output.
    if (!line)
        return exitStatus == textjob::kExitOk ? checkedStandardOutput(exitStatus) : exitStatus;
    const int status = runAsked(*line);
    return productOnStandardOutput(*line) ? checkedStandardOutput(status) : status;
}

}  // namespace

int main(int argc, char** argv) {
    textjob::installSignalHandlers();
    // The commands report what they expect; anything else (memory running out, say) still ends
    // the program with a message and a failure status rather than an abort.
    try {
        return runProgram(argc, argv);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "error: textjob could not go on: %s\n", e.what());
    } catch (...) {
        std::fprintf(stderr, "error: textjob could not go on: an unexpected failure\n");
    }
    return textjob::kExitStepFailed;
}
