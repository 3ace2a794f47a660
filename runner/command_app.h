#pragma once

// The command line's grammar as a CLI::App, shared by the parser, the error hints, the shell
// completion scripts and the manual page, so that all four always agree. Private to textjob.

#include <CLI/CLI.hpp>
#include <string>
#include <vector>

#include "command_line.h"

namespace textjob {

/// Declares every subcommand and option on `app`, storing what is parsed into `line`.
void declareCommandLine(CLI::App& app, CommandLine& line);

/// The subcommands a user can name (hidden ones left out), in declaration order.
std::vector<const CLI::App*> visibleSubcommands(const CLI::App& app);

/// The long option names ("--dry-run") of `command`, and of the program when `command` is a
/// subcommand, for hints and completion.
std::vector<std::string> longOptionNames(const CLI::App& command);

/// The end of a usage error: "; did you mean run?" for the first argument that names no
/// subcommand or option but is close to one; empty when no argument is.
std::string usageHint(const CLI::App& app, int argc, const char* const* argv);

}  // namespace textjob
