#pragma once

#include "command_line.h"

namespace textjob {

/// Runs the job the command line names: errors and warnings to standard error as they happen,
/// the summary to standard output at the end, a live progress line on standard error when it
/// is a terminal (not with --quiet). Returns the exit status (exit_status.h).
int runCommand(const CommandLine& line);

/// Lists every step type a job can name, with its role, input and output counts and
/// description, on standard output. Returns the exit status.
int stepsCommand(const CommandLine& line);

/// Prints the properties of one step type as the step declares them: index, name, type,
/// default and a table's columns. Returns the exit status.
int describeCommand(const CommandLine& line);

}  // namespace textjob
