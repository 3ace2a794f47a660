#pragma once

#include "command_line.h"

namespace textjob {

/// Runs the job the command line names: errors and warnings to standard error, the summary to
/// standard output, a live progress line on standard error when it is a terminal. Returns the
/// exit status.
int runCommand(const CommandLine& line);

/// Lists the step types of the host and the plug-in on standard output. Returns the exit status.
int stepsCommand(const CommandLine& line);

}  // namespace textjob
