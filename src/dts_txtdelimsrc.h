#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "line_array.h"
#include "mvb/parse.h"
#include "mvb/string.h"
#include "source_settings.h"
#include "text_source.h"

/// SOURCE_DELIMTEXT's settings, read from its properties at start.
struct DelimSourceSettings : SourceFileSettings {
    int delimiterCode = ',';          ///< DELIMITER: the character that ends a field
    int quoteCode = 0;                ///< QUOTE: the character that encloses a field; 0 for none
    int skipRows = 0;                 ///< SKIPROWS: head lines skipped in every file; < 0 all
    bool preserveWhitespace = false;  ///< PRESERVE_WHITESPACE: keep blanks around values
    int maxOutputRows = 0;            ///< MAX_OUTPUT_ROWS: stop after this many; <= 0 no limit
    bool unescapeBackslash = false;   ///< UNESCAPE_BACKSLASH: read backslash escapes
    bool newlinesInValues = false;  ///< NEWLINES_IN_VALUES: a record goes on over quoted line ends
};

/// SOURCE_DELIMTEXT, "Text file source (comma delimited)": reads one file, or every file a
/// pattern matches, and produces one row per line, split at a delimiter and converted to the
/// types of the FIELDS table. Head lines (SKIPROWS) are skipped in every file.
class DTS_TxtDelimSrc final : public TextSource {
  public:
    DTS_TxtDelimSrc() noexcept;

  private:
    /// Declares the output fields from FIELDS (and FILENAME_FIELD). With bit 1 of `flags` the
    /// input's encoding is probed for the fields' byte sizes and unknown types and unreadable
    /// lengths are errors. 3 (bit 0 set) or 7, 0 after a reported error.
    int prepareStep(int flags) override;
    /// Reads the settings, allocates the line buffers and opens the first file.
    bool startStep() override;
    /// 0: a row is in the output buffer; 1: no more rows; 2: failure or stop, reported.
    int produceRow() override;
    /// Closes the files, reports the run summary and marks the data as ended.
    void finishStep() override;
    /// "Complete" at 100 once the data has ended; else the bytes read of the current file.
    bool statusOf(int* percent, MvbString* text) override;
    /// The exact total once the data has ended; else an estimate from the current file's
    /// position (false with 0 before anything was read or without an open file).
    bool progressOf(uint64_t* total) override;

    /// Grows the scratch line to hold `lineBytes` and 1024 bytes more; false when out of memory.
    [[nodiscard]] bool growScratchLine(int lineBytes);
    void warnMissingFields();
    /// A line held more fields than FIELDS (`line`, `lineBytes` as read): counts and warns
    /// unless the extra fields hold only blanks.
    /// Warns of the first extra field of a line that holds more than FIELDS, with the line's
    /// count of fields. `hasQuote`: the line holds the quote's first byte.
    void checkExtraFields(const char* line, int lineBytes, bool hasQuote);
    /// Warns about each quoted field of the split line (`scratch`, split from `line` as read)
    /// that text follows after its closing quote.
    void checkAfterQuotes(const char* scratch, std::string_view line, int found);
    /// The text of field `field` of the split line.
    std::string_view fieldText(int field) const noexcept {
        return {fieldPointers_[field], static_cast<size_t>(fieldLengths_[field])};
    }
    /// Converts `text` into `item`'s value as field `field`, warning when it does not read.
    void convertField(StepOutputItem& item, int field, std::string_view text);
    /// Warns that `text` did not read whole as field `field` (`outcome`).
    [[gnu::cold]] void warnNotRead(const StepOutputItem& item, int field, std::string_view text,
                                   FieldOutcome outcome);
    /// The part of a field's text before its first NUL (marked); warns when text follows it.
    std::string_view valueBeforeNul(const StepOutputItem& item, int field, std::string_view text);

    DelimSourceSettings settings_;
    uint64_t totalRows_ = kUnknownRows;  ///< final row count, once the data has ended
    LineArray<char*> fieldPointers_;     ///< field starts inside the scratch line
    LineArray<int> fieldLengths_;        ///< field byte lengths, as the split gives them
    LineArray<char> scratchLine_;        ///< copy of the current line, split in place
    int scratchCapacity_ = 0;            ///< usable bytes of the scratch line (NUL aside)
    unsigned parseFlags_ = 0;
    MvsSplitPlan splitPlan_{};  ///< how a line splits: the delimiter, the quote, parseFlags_
    MvbRecordQuoting quoting_;  ///< how readRecord() finds the end of a record
    int rowsToSkip_ = 0;        ///< head lines still to skip in the current file
    bool done_ = false;         ///< the data has ended or finish() has run
    /// The quote as UTF-8 bytes; empty when fields are not quoted.
    std::string quote_;
    char quoteLead_ = '\0';  ///< the quote's first byte; NUL when fields are not quoted
    std::string delimiter_;  ///< the delimiter as UTF-8 bytes
    /// A line split again whole when it held more fields than FIELDS, and its fields.
    std::string extraLine_;
    std::vector<char*> extraFields_;
};
