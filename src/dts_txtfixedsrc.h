#pragma once

#include <cstdint>
#include <memory>

#include "mvb/string.h"
#include "mvb/txtfile.h"
#include "source_settings.h"
#include "text_source.h"

/// SOURCE_FIXEDTEXT's settings, read from its properties at start.
struct FixedSourceSettings : SourceFileSettings {
    int recordWidth = 0;    ///< RECORDWIDTH: bytes of one record (must be given)
    int skipRows = 0;       ///< SKIPROWS: head records skipped in every file
    int maxOutputRows = 0;  ///< MAX_OUTPUT_ROWS: stop after this many rows; 0 no limit
    bool lineMode = false;  ///< CRLF_TERMINATE: each line is a record
};

/// SOURCE_FIXEDTEXT, "Text file source (fixed width)": reads one file, or every file a pattern
/// matches, and produces one row per record, cut into fields at fixed positions and converted
/// to the types of the FIELDS table. A record is a block of RECORDWIDTH bytes, or one line when
/// CRLF_TERMINATE is true. Positions and lengths count bytes of the file's encoding.
class DTS_TxtFixedSrc final : public TextSource {
  public:
    DTS_TxtFixedSrc() noexcept;

  private:
    /// Declares the output fields from FIELDS (and FILENAME_FIELD) and works out the record
    /// extent. With bit 1 of `flags` the input's encoding is probed for the string fields'
    /// sizes, and unknown types and bad positions or lengths are errors. 3 or 7; 0 after an error.
    int prepareStep(int flags) override;
    /// Reads and checks the settings, opens the first file and skips its head records.
    bool startStep() override;
    /// 0: a row is in the output buffer; 1: no more rows; 2: failure or stop, reported.
    int produceRow() override;
    /// Against a known total "Read <rows> of <total> rows"; else the bytes read of the current
    /// file. False when the rows read have passed the expected total.
    bool statusOf(int* percent, MvbString* text) override;
    /// The expected total (record mode, or once the data has ended); else an estimate from the
    /// current file's position (false with 0 before anything was read or without an open file).
    bool progressOf(uint64_t* total) override;

    /// What reading one record found.
    enum class Record { Produced, EndOfFile, Failed };

    /// The checks of RECORDWIDTH against the fields; false after reporting the first problem.
    [[nodiscard]] bool checkRecordLayout();
    [[nodiscard]] bool checkFieldOrder();
    [[nodiscard]] bool skipHeadRecords();
    Record readLineRecord(StepOutputItem* items, MvbTxtFile* file);
    Record readBlockRecord(StepOutputItem* items, MvbTxtFile* file);
    /// Moves to the next file of the listing: 0 when one is open, 1 at the end of data, 2 after
    /// a reported failure.
    int openNextFile();
    /// Sets a field's value from its text; with `ReadAhead`, the text can be read for
    /// mvb::TextBytes::kPaddedReadBytes from its start (a text MvbTxtFile::readLineFields() gave).
    template <bool ReadAhead = false>
    void assignField(StepOutputItem& item, int field, const MvbTextSpan& text);
    /// Warns (821) when the read of field `field` that gave `text` cut a character: `file`
    /// counts more of them than `cutBefore`, its count before the read.
    void warnIfCut(const MvbTxtFile* file, uint64_t cutBefore, int field,
                   const StepOutputItem& item, const MvbTextSpan& text);
    /// The part of a field's text before its first NUL, without trailing blanks; warns when
    /// text follows the NUL.
    std::string_view valueBeforeNul(const StepOutputItem& item, int field, std::string_view text);

    FixedSourceSettings settings_;
    std::unique_ptr<int[]> startOffsets_;        ///< START_POS - 1 of each field
    std::unique_ptr<int[]> fieldLengths_;        ///< LENGTH of each field
    std::unique_ptr<MvbTextSpan[]> fieldTexts_;  ///< a line's fields, read at once
    int64_t expectedRows_ = -1;                  ///< -1 while unknown
    /// The largest start offset + length over the fields, unsaturated: a field that ends past
    /// the largest RECORDWIDTH must not seem to end at it.
    int64_t recordExtent_ = 0;
    int rowsToSkip_ = 0;  ///< head lines still to skip in the current file (line mode)
};
