#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "dest_core.h"
#include "dest_line_buffer.h"
#include "dest_settings.h"
#include "value_warnings.h"

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
    bool openForRows() override { return openFile(false); }
    /// A record that cannot be written at once (a text that is not UTF-8, a failed write) is
    /// written again field by field, which writes what it can and names the failure.
    bool writeRow(const StepOutputItems* items) override;
    void describeRun(char* text, size_t size) const override;
    const MvbString& fileName() const noexcept override { return settings_.fileName; }
    bool appends() const noexcept override { return settings_.append; }
    /// Reads each FIELDS row's WIDTH; false after reporting the first that is unusable.
    bool readWidths();
    bool openFile(bool probe);
    bool writeRecordAtOnce(const StepOutputItems* items);
    bool writeRecordByFields(const StepOutputItems* items);
    /// A record ends with a line end, so a CR or LF inside a value would end it early: each is
    /// written as a blank, and the value is counted and warned about.
    void blankLineBreaks(char* text, size_t size, int field, const StepOutputItems* items);
    /// Warns about each field of a record written at once that was cut at its WIDTH.
    void warnCutFields(const StepOutputItems* items);
    void warnCut(const StepOutputItems* items, int field, std::string_view text);

    FixedDestSettings settings_;
    uint32_t openFlags_ = 0;
    /// The WIDTH of each FIELDS row, each 0 or more; read by start.
    std::unique_ptr<int[]> fieldWidths_;
    /// The sum of the widths: the bytes of a record without its line end.
    size_t recordWidth_ = 0;
    bool writeLineEnd_ = false;
    /// The open file is UTF-8, so a WIDTH counts UTF-8 bytes and a record is padded here and
    /// handed to the file in one write.
    bool utf8File_ = false;
    /// The record being assembled; reused from row to row.
    LineBuffer line_;
    /// A value's text with its line breaks blanked, for the field-by-field write.
    std::string blanked_;
};
