#pragma once

#include <cstdint>

#include "dest_line_buffer.h"
#include "mvb/string.h"
#include "mvb/txtfile.h"
#include "step/host.h"

/// The file a destination writes for its FILENAME `path`: `path` itself, or in a run of one
/// part of a job the part's own file (see mvbPartFileName), so that parts never write into
/// each other's files.
MvbString destFileName(StepHost* host, const MvbString& path);

/// True unless the run is a part of a job other than the first: only the first part writes
/// what goes once at the top of the output (a header line), so that the parts' files joined in
/// order hold what one run of the whole job writes.
bool writesTopOfOutput(StepHost* host);

/// True in a run of one part of a job: every part then writes its file, even one without rows
/// (the first part's holds the header), so that each part's file is there to be joined.
bool runsInParts(StepHost* host);

/// The one output file a destination owns. Failures are reported through the host with the
/// text file's own error text (which names the file), as the open and write operations give it.
class DestFile {
  public:
    DestFile() = default;
    DestFile(const DestFile&) = delete;
    DestFile& operator=(const DestFile&) = delete;
    ~DestFile() { discard(); }

    /// Opens `path` for writing (MVB_OPEN_APPEND or MVB_OPEN_CREATE). With `probe` the open
    /// only proves that it would succeed and the file is closed again at once. False after
    /// reporting the open's error text.
    bool open(StepHost* host, const MvbString& path, int mode, int encoding, uint32_t flags,
              bool probe);

    bool isOpen() const noexcept { return file_ != nullptr; }
    MvbTxtFile* get() const noexcept { return file_; }

    /// Starts the next line of the open file in room its write buffer lends (a UTF-8 file),
    /// so that the line is built where it is written; else in the line's own storage.
    void startLine(LineBuffer& line) const {
        char* room = file_->reserveCheckedText(static_cast<int>(kLineRoomBytes));
        if (room != nullptr) {
            line.clearInto(room, kLineRoomBytes);
        } else {
            line.clear();
        }
    }
    /// Writes a line of text known to be UTF-8, then the file's line end when `endLine`: where
    /// it stands when it was built in the file's room, else copied. False on failure (the
    /// caller reports it).
    bool writeCheckedLine(LineBuffer& line, bool endLine) const {
        if (line.inRoom()) return file_->commitCheckedText(line.data() + line.size(), endLine);
        return file_->writeCheckedText(line.size() != 0 ? line.data() : "",
                                       static_cast<int>(line.size()), endLine);
    }

    /// Reports the file's last error text; returns false so callers can `return fail(...)`.
    bool fail(StepHost* host) const;

    /// Writes out what is buffered and closes the file. False after reporting the file's error
    /// text when the data did not reach the file; the file is closed either way.
    bool flushAndClose(StepHost* host);

    /// Closes the file without asking whether its buffered output reached it: for runs that
    /// already failed or were stopped.
    void discard() noexcept;

    /// The end of a run's data: the buffered data must reach the file before the run may say
    /// it was written. Returns 1 (end of data), or 2 after reporting a failed flush, which also
    /// sets `*failed`.
    int endOfData(StepHost* host, bool* failed);

    /// Ends a run. When the run wrote and nothing failed (`*failed` false), the buffered data is
    /// written out and `summary`, then `fileName`, are reported as the two pieces of one summary
    /// entry. Otherwise the file is closed without a word: a failure was reported when it
    /// happened, and a run that did not write has nothing to say. A failing flush is reported
    /// and sets `*failed`.
    void finishRun(StepHost* host, bool wrote, bool* failed, const char* summary,
                   const MvbString& fileName);

  private:
    MvbTxtFile* file_ = nullptr;
};
