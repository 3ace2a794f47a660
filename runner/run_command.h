#pragma once

#include <optional>
#include <string>

#include "command_line.h"
#include "texthost/job.h"

namespace textjob {

/// The job file at `path` ("-" standard input), or nothing once its error is on standard error.
std::optional<texthost::JobDefinition> readJobFile(const std::string& path);

/// Runs the job the command line names: errors and warnings to standard error as they happen,
/// the summary to standard output at the end, a live progress line on standard error when it
/// is a terminal (not with --quiet). Returns the exit status (exit_status.h).
int runCommand(const CommandLine& line);

/// Runs a job already read, as runCommand() does after reading the job file: the command
/// line's --set overrides first, then the run with its messages, progress and summary.
int runParsedJob(texthost::JobDefinition& job, const CommandLine& line);

/// Lists every step type a job can name, with its role, input and output counts and
/// description, on standard output. Returns the exit status.
int stepsCommand(const CommandLine& line);

/// Prints the properties of one step type as the step declares them: index, name, type,
/// default and a table's columns. Returns the exit status.
int describeCommand(const CommandLine& line);

/// Prints a JSON Schema of job files, made from every step type's declarations, on standard
/// output. Returns the exit status.
int schemaCommand(const CommandLine& line);

/// Prints the completion script for the shell the command line names. Returns the exit status.
int completionCommand(const CommandLine& line);

/// Prints the manual page, in roff, from the command line's own help texts.
int manualCommand(const CommandLine& line);

}  // namespace textjob
