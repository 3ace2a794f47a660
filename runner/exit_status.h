#pragma once

namespace textjob {

/// The program's exit statuses.
inline constexpr int kExitOk = 0;             ///< the job ran to the end of its data
inline constexpr int kExitStepFailed = 1;     ///< a step reported a failure
inline constexpr int kExitBadJob = 2;         ///< bad command line, job file or plug-in
inline constexpr int kExitInterrupted = 130;  ///< stopped by Ctrl-C (128 + SIGINT)

}  // namespace textjob
