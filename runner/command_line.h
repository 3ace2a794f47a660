#pragma once

#include <optional>
#include <string>

namespace textjob {

/// What the user asked for on the command line.
struct CommandLine {
    enum class Command { Run, Steps };
    Command command = Command::Run;
    std::string jobPath;     ///< run: the job file
    std::string pluginPath;  ///< empty: the host's default
    bool dryRun = false;     ///< run the rows through without writing files
    bool quiet = false;      ///< no summary and no progress line
};

/// Parses the arguments. On --help or a usage error it prints what CLI11 prints and returns
/// the exit status to end with in `exitStatus`, and nothing.
std::optional<CommandLine> parseCommandLine(int argc, char** argv, int& exitStatus);

}  // namespace textjob
