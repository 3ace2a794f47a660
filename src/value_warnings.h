#pragma once

#include <cstdint>
#include <memory>
#include <source_location>
#include <string>
#include <string_view>

#include "mvb/string.h"
#include "source_fields.h"
#include "step/host.h"

/// The row warnings of one step's run under one cap, and per field the counts of values that
/// the step could not keep as they were: texts the field's type cannot read (set to null),
/// texts cut at the field's limit, texts dropped after a NUL character, texts kept after a
/// closing quote, and values written so that the file cannot give them back; per run the
/// rows whose extra fields were dropped.
///
/// The first 999 warnings of a run are logged, the 1000th is "Max warning count reached" and
/// later ones are only counted. Each value warning and the summary are catalogue messages
/// 810-821, so that whoever reads the log can tell a run that lost values by their numbers.
/// Nothing here runs for a value that was read whole: the row path only calls in when a value
/// was changed.
class ValueWarnings {
  public:
    /// Begins a run of the step whose source file is `sourceFile` ("src/dts_txtdelimsrc") with
    /// `fieldCount` fields: no warning logged yet, every count 0.
    void begin(StepHost* host, const char* sourceFile, int fieldCount);

    /// Logs `text` as a warning while the run's cap allows.
    void warn(const MvbString& text);
    /// True once the cap is reached: warn() logs nothing more.
    bool capped() const noexcept { return logged_ >= kMaxWarnings; }

    /// Row `row` (1-based), field `field` named `name`: `text` is not a value of type `type`
    /// (with `dateFormat` for dates) and became null.
    void unreadable(uint64_t row, int field, std::string_view name, int type, int dateFormat,
                    std::string_view text,
                    std::source_location where = std::source_location::current());
    /// `text` was longer than the field's limit `limit` (the property `limitName` gives it:
    /// MAX_LENGTH or WIDTH) and was cut.
    void cut(uint64_t row, int field, std::string_view name, const char* limitName, int limit,
             std::string_view text, std::source_location where = std::source_location::current());
    /// The value of source field `field` (the output item `item`, with `dateFormat` for dates)
    /// was not read whole from `text`, as `outcome` (Unreadable or Cut at MAX_LENGTH) says.
    void notRead(uint64_t row, int field, const StepOutputItem& item, int dateFormat,
                 std::string_view text, FieldOutcome outcome,
                 std::source_location where = std::source_location::current());
    /// `text` has more digits than a real holds and was read as `readAs`, the nearest real.
    void rounded(uint64_t row, int field, std::string_view name, std::string_view text,
                 std::string_view readAs,
                 std::source_location where = std::source_location::current());
    /// `dropped` followed a NUL character inside the field and is not part of the value.
    void droppedAfterNul(uint64_t row, int field, std::string_view name, std::string_view dropped,
                         std::source_location where = std::source_location::current());
    /// `trailing` followed the closing quote of the field's quoted text and was kept as part
    /// of the value, which the file did not mean as one.
    void afterQuote(uint64_t row, int field, std::string_view name, std::string_view trailing,
                    std::source_location where = std::source_location::current());
    /// The field's opening quote never closed on its line: the value ran to the line's end,
    /// the delimiters in it taken for text (a quote the file did not mean, or a value whose
    /// line breaks are read without NEWLINES_IN_VALUES).
    void openQuote(uint64_t row, int field, std::string_view name,
                   std::source_location where = std::source_location::current());
    /// The field's edge in a fixed-width record cut a character of the file, and `text`, the
    /// value as read, holds a replacement character for the part of it inside the field.
    void cutCharacter(uint64_t row, int field, std::string_view name, std::string_view text,
                      std::source_location where = std::source_location::current());
    /// The row held `found` fields where FIELDS has `expected`; the extra ones, the first of
    /// which that holds more than blanks is `dropped`, are not part of the row.
    void extraFields(uint64_t row, int found, int expected, std::string_view dropped,
                     std::source_location where = std::source_location::current());
    /// A destination wrote `text` in a way that the written file cannot give back as one
    /// value: it holds `what` ("the delimiter", "a line break"), and `outcome` says what was
    /// written.
    void broken(uint64_t row, int field, std::string_view name, std::string_view text,
                const char* what, const char* outcome,
                std::source_location where = std::source_location::current());

    /// True when some value of this run was not kept as read.
    bool anyLost() const noexcept { return lost_; }
    /// When anyLost(): hands the host one summary entry with the counts of every field that has
    /// any, as message 814 (`destination` false) or 815 (true).
    void reportSummary(bool destination,
                       std::source_location where = std::source_location::current());

    static constexpr int kMaxWarnings = 1000;

  private:
    struct FieldCounts {
        uint64_t unreadable = 0;
        uint64_t cut = 0;
        uint64_t dropped = 0;
        uint64_t afterQuote = 0;
        uint64_t openQuote = 0;
        uint64_t cutCharacter = 0;
        uint64_t broken = 0;
        uint64_t rounded = 0;
        const char* brokenOutcome = "";
        int type = 0;
        int dateFormat = 0;
        const char* limitName = "";
        int limit = 0;
        std::string name;  ///< set at the field's first count
    };
    FieldCounts* counted(int field, std::string_view name);
    void warnMessage(int number, int line, std::string_view row, std::string_view name,
                     std::string_view text, std::string_view extra);

    StepHost* host_ = nullptr;
    const char* sourceFile_ = "";
    int fieldCount_ = 0;
    int logged_ = 0;
    bool lost_ = false;
    uint64_t extraRows_ = 0;  ///< rows with more fields than FIELDS
    std::unique_ptr<FieldCounts[]> fields_;
};

/// The type name a value warning uses for field type `type` with date format `dateFormat`:
/// boolean, integer, real, string, date, date_mdy, date_dmy or date_ymd.
const char* fieldTypeName(int type, int dateFormat) noexcept;

/// `text` as a warning quotes it: at most 40 characters (then "…"), with a NUL (or the mark
/// kNulMark that stands for one) shown as \0 and other control characters as \t, \n, \r or ?.
std::string shortenedText(std::string_view text);
