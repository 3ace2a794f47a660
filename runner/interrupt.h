#pragma once

namespace textjob {

/// Sets up how the program meets signals, before anything is read or written:
/// - SIGINT (Ctrl-C), SIGTERM and SIGHUP ask the running job to stop (the steps finish and
///   close their files); a second one of them, half a second or more after the first, ends the
///   program at once (one sooner is the same stop delivered twice).
/// - SIGPIPE and SIGXFSZ are ignored, so a write to a pipe whose reader quit, or beyond the
///   file-size limit, fails with EPIPE or EFBIG and is reported as the failed write it is.
/// - A standard descriptor (0, 1, 2) that is closed is opened on /dev/null, so that no file the
///   job opens takes its number and receives the program's messages.
void installSignalHandlers();

/// The exit status of a run that a signal stopped: 128 plus the number of the first stop
/// signal (130 for Ctrl-C, 143 for SIGTERM, 129 for SIGHUP); 130 when none came.
int stoppedExitStatus();

}  // namespace textjob
