#pragma once

namespace textjob {

/// The program's exit statuses, which scripts may test.
///
/// | status | meaning | what to do |
/// |---|---|---|
/// | 0 | the job ran to the end of its data (or steps / describe / --help / --version) | |
/// | 1 | a step failed while the job ran: a file that cannot be read or written, a bad value in a
/// property, data that does not convert | read the step's message on standard error and fix the
/// file or the property | | 2 | nothing ran: a bad command line, a job file that is missing or
/// invalid (unknown step type, property or column, a first step that is not a source), a plug-in
/// that cannot be loaded | fix the command or the job file as the message says | | 130 | stopped by
/// Ctrl-C (128 + SIGINT; 143 for SIGTERM, 129 for SIGHUP: see stoppedExitStatus()); the files
/// written hold only the rows read before | run the job again |
inline constexpr int kExitOk = 0;
inline constexpr int kExitStepFailed = 1;
inline constexpr int kExitBadJob = 2;
inline constexpr int kExitInterrupted = 130;

}  // namespace textjob
