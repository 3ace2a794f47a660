#pragma once

#include <functional>
#include <optional>
#include <string>

#include "command_line.h"

namespace textjob {

/// One part of a job split into parts: `index` (0-based) of `count`.
struct JobPart {
    int index = 0;
    int count = 0;
};

/// Looks up an environment variable; null when it is not set.
using EnvironmentLookup = std::function<const char*(const char*)>;

/// The part that a run is asked to be: --part K/N, else (for `run`) TEXTJOB_PART=K/N; "auto" takes
/// it from a Slurm job array (SLURM_ARRAY_TASK_ID less SLURM_ARRAY_TASK_MIN, of
/// SLURM_ARRAY_TASK_COUNT) or a Kubernetes indexed job (JOB_COMPLETION_INDEX of --parts N);
/// --parts N may repeat the count that Slurm gives, or stand for it where it is not set. Nothing
/// when no part is asked for. A malformed or impossible part (K not below N, N below 1) throws
/// std::invalid_argument with a text that says what is wrong.
std::optional<JobPart> resolveJobPart(const CommandLine& line, const EnvironmentLookup& getenv);

/// Splits a job into `line.partCount` parts and prints what each part reads: for each source,
/// a pattern's files as they are dealt to the parts, or one file's byte ranges; and the files
/// that each destination writes. Reads file listings and sizes, never the data. Returns the
/// exit status.
int partsCommand(const CommandLine& line);

}  // namespace textjob
