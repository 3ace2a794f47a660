#pragma once

#include "command_line.h"

namespace textjob {

/// `textjob infer FILE`: detects the file's layout, writes a job for it (to -o JOB, else to
/// standard output) and explains the decisions on standard error. Returns the exit status.
int inferCommand(const CommandLine& line);

}  // namespace textjob
