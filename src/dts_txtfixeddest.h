#pragma once

#include <cstdint>
#include <memory>

#include "dest_core.h"
#include "dest_line_buffer.h"
#include "dest_settings.h"

/// DEST_FIXEDTEXT's settings, read from its properties at start of a run that writes.
struct FixedDestSettings : DestFileSettings {
    MvbString lineEnd;  ///< LINE_END: CRLF or LF; anything else writes none
};

/// DEST_FIXEDTEXT: passes every row on and, in a run that writes, writes the FIELDS of each row
/// as one record, each field padded to its WIDTH, followed by the line end that LINE_END names
/// (or by nothing).
///
/// `start` only proves that the file can be opened; the file is created (or opened to append)
/// at the first row, so a run without rows leaves no file behind.
class DTS_TxtFixedDest final : public TextDestination {
  public:
    DTS_TxtFixedDest() noexcept;

  private:
    bool startStep() override;
    int produceRow() override;
    void finishStep() override;
    /// Reads each FIELDS row's WIDTH; false after reporting the first that is unusable.
    bool readWidths();
    bool openFile(bool probe);
    bool writeRecordAtOnce(const StepOutputItems* items);
    bool writeRecordByFields(const StepOutputItems* items);

    FixedDestSettings settings_;
    uint32_t openFlags_ = 0;
    /// The WIDTH of each FIELDS row, each 0 or more; read by start.
    std::unique_ptr<int[]> fieldWidths_;
    bool writeLineEnd_ = false;
    /// The open file is UTF-8, so a WIDTH counts UTF-8 bytes and a record is padded here and
    /// handed to the file in one write.
    bool utf8File_ = false;
    /// The record being assembled; reused from row to row.
    LineBuffer line_;
};
