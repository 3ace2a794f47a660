#pragma once

#include <cstdint>
#include <string_view>

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

    /// The record just written (a row's when `row`, else a header's or a page head's) is
    /// whole: a file that fails or is abandoned later ends after it.
    void endRecord(bool row) {
        file_->markRecordEnd();
        ++(row ? rows_ : otherRecords_);
    }

    /// The file replaces its target when it is committed (else it is written in place).
    bool replacesAtEnd() const noexcept { return file_ != nullptr && file_->replacesAtEnd(); }
    /// True while no record was written to the file since it was opened.
    bool beforeFirstRecord() const noexcept { return rows_ + otherRecords_ == 0; }
    /// True when `text`, what the file's first record begins with, starts with U+FEFF at the
    /// file's very top (no byte-order mark or earlier text before it): read back, that
    /// character is taken for a byte-order mark and dropped.
    bool markAtTop(std::string_view text) const noexcept {
        return text.starts_with(kUtf8Mark) && file_->getPosition() == 0;
    }
    static constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";
    /// What markAtTop() means, and what keeps the character: a warning's parts.
    static constexpr const char* kMarkAtTopWhat = "U+FEFF at the start of the file";
    static constexpr const char* kMarkAtTopOutcome =
        "a reader takes it for a byte-order mark and drops it (set BYTE_ORDER_MARK, so that a "
        "mark comes before it)";

    /// Reports the file's last error text; returns false so callers can `return fail(...)`.
    /// A failure while writing row `row` (counted from 1) names the row, so that a character
    /// the encoding lacks can be found in a large file.
    bool fail(StepHost* host, uint64_t row = 0) const;

    /// Writes out what is buffered. False after reporting the file's error text.
    bool flush(StepHost* host) const { return file_->flush() || fail(host); }
    /// Writes out what is buffered, puts a file that replaces another in its place, and closes
    /// it. False after reporting the file's error text; the file then stays open for abandon().
    bool commit(StepHost* host);

    /// Ends a file whose writing did not reach its end of data at its last whole record and
    /// closes it; a file that was to replace another leaves that one as it was and is kept,
    /// with `keep`, as `<file>.partial` (named in `*keptAs`, empty when nothing was kept).
    /// Returns the whole rows the file holds from this run.
    /// `*error` (when given) receives the file's error text when a write failed, this last
    /// one of what was buffered included; empty when none did.
    uint64_t abandon(bool keep, MvbString* keptAs, MvbString* error = nullptr) noexcept;

    /// Closes the file as abandon() does, keeping what it holds.
    void discard() noexcept;

  private:
    MvbTxtFile* file_ = nullptr;
    /// Records of this open that are not rows (a header line, a page head), and rows.
    uint64_t otherRecords_ = 0;
    uint64_t rows_ = 0;
};
