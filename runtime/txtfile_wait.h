#pragma once

// Waits of the text files on data that has not come yet, which a stop of the run ends.
// Private to the runtime library.

namespace mvb::txt {

/// Waits until `fd` (a pipe, a terminal, a socket) has data to read or its writer has gone,
/// so that the read that follows does not block. False, with errno ECANCELED, when the waits
/// were stopped (mvbTxtFileStopWaits) before data came; true for any other outcome, which the
/// read then reports.
bool waitForData(int fd) noexcept;

/// Opens the named pipe `path` for reading, waiting as open() does until a program writes to
/// it, but ending the wait when the waits are stopped (-1 with errno ECANCELED). The
/// descriptor returned blocks on reads as a plain open's would.
int openPipeForReading(const char* path) noexcept;

/// Opens the named pipe `path` for writing, waiting as open() does until a program reads it,
/// but ending the wait when the waits are stopped (-1 with errno ECANCELED). The descriptor
/// returned blocks on writes as a plain open's would.
int openPipeForWriting(const char* path) noexcept;

/// The failure text of a read whose wait was stopped.
const char* stoppedWaitReason() noexcept;

}  // namespace mvb::txt
