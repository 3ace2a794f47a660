#include "command_line.h"
#include "infer_command.h"
#include "interrupt.h"
#include "run_command.h"

int main(int argc, char** argv) {
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
        case textjob::CommandLine::Command::Run:
            break;
    }
    textjob::installInterruptHandler();
    return textjob::runCommand(*line);
}
