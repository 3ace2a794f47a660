#pragma once

#include "command_line.h"

namespace textjob {

/// `textjob convert IN OUT`: detects IN as infer does (its report on standard error unless
/// --quiet), then writes OUT in one run, as OUT's name or --to says, with the columns picked,
/// ordered and renamed as asked. Returns the exit status.
int convertCommand(const CommandLine& line);

}  // namespace textjob
