#include <cstdio>
#include <exception>

#include "command_line.h"
#include "convert_command.h"
#include "exit_status.h"
#include "infer_command.h"
#include "interrupt.h"
#include "part_option.h"
#include "run_command.h"

namespace {

int runProgram(int argc, char** argv) {
    int exitStatus = 0;
    const auto line = textjob::parseCommandLine(argc, argv, exitStatus);
    if (!line) return exitStatus;
    switch (line->command) {
        case textjob::CommandLine::Command::Steps:
            return textjob::stepsCommand(*line);
        case textjob::CommandLine::Command::Describe:
            return textjob::describeCommand(*line);
        case textjob::CommandLine::Command::Infer:
            return textjob::inferCommand(*line);
        case textjob::CommandLine::Command::Parts:
            return textjob::partsCommand(*line);
        case textjob::CommandLine::Command::Convert:
            return textjob::convertCommand(*line);
        case textjob::CommandLine::Command::Schema:
            return textjob::schemaCommand(*line);
        case textjob::CommandLine::Command::Completion:
            return textjob::completionCommand(*line);
        case textjob::CommandLine::Command::Manual:
            return textjob::manualCommand(*line);
        case textjob::CommandLine::Command::Run:
            break;
    }
    return textjob::runCommand(*line);
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
