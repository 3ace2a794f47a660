#include "command_line.h"

#include <CLI/CLI.hpp>

#include "exit_status.h"

namespace textjob {

std::optional<CommandLine> parseCommandLine(int argc, char** argv, int& exitStatus) {
    CommandLine line;
    CLI::App app{"textjob: runs jobs of text file steps"};
    app.require_subcommand(1);
    app.fallthrough();  // --plugin may also follow the subcommand
    app.add_option("--plugin", line.pluginPath,
                   "Plug-in library (default: $TEXT_PLUGIN_PATH, else ../lib/libtext.so)");

    CLI::App* run = app.add_subcommand("run", "Run a job file");
    run->add_option("job", line.jobPath, "Job file (JSON)")->required();
    run->add_flag("-n,--dry-run", line.dryRun, "Pass the rows through but write no files");
    run->add_flag("-q,--quiet", line.quiet, "Print errors and warnings only");

    CLI::App* steps = app.add_subcommand("steps", "List the step types that jobs can use");

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        const int status = app.exit(e);
        exitStatus = status == 0 ? kExitOk : kExitBadJob;
        return std::nullopt;
    }
    line.command = steps->parsed() ? CommandLine::Command::Steps : CommandLine::Command::Run;
    return line;
}

}  // namespace textjob
