#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "dest_core.h"
#include "dest_line_buffer.h"
#include "dest_settings.h"

/// DEST_DELIMTEXT's settings, read from its properties at start of a run that writes.
struct DelimDestSettings : DestFileSettings {
    MvbString delimiter{",", true};   ///< DELIMITER: the text between two fields
    MvbString qualifier;              ///< QUALIFIER: encloses non-numeric values; empty for none
    bool includeHeader = false;       ///< INCLUDE_HEADER: a first line of OUTPUTNAMEs
    bool preserveWhitespace = false;  ///< PRESERVE_WHITESPACE: accepted; writing keeps blanks
    int maxOutputRows = 0;            ///< MAX_OUTPUT_ROWS: accepted; every row is written
    bool unescapeBackslash = false;   ///< UNESCAPE_BACKSLASH: accepted; nothing is escaped
    int endOfLine = 0;                ///< END_OF_LINE: 1 CR, 2 LF, 3 CRLF, 4 native; else LF
    bool quoteWhenNeeded = false;     ///< QUOTE_WHEN_NEEDED: qualify only values that need it
};

/// DEST_DELIMTEXT: passes every row on and, in a run that writes, writes the FIELDS as one
/// delimited line per row. Non-numeric, non-null values are enclosed in the qualifier, with a
/// qualifier inside them doubled so that the file reads back to the same values. With
/// QUOTE_WHEN_NEEDED only a value that could not be read back otherwise is enclosed (in `"`
/// when there is no QUALIFIER). A value written unqualified that holds the delimiter or a line
/// break is counted and warned about: the file cannot give it back as one value.
///
/// `start` only proves that the file can be opened; the file is created (or opened to append)
/// at the first row, so a run without rows leaves no file behind.
class DTS_TxtDelimDest final : public TextDestination {
  public:
    DTS_TxtDelimDest() noexcept;

  private:
    bool startStep() override;
    bool openForRows() override { return openFile(false); }
    bool writeRow(const StepOutputItems* items) override;
    /// writeRow() for a delimiter of one byte or more and QUOTE_WHEN_NEEDED as given.
    template <bool OneByteDelimiter, bool WhenNeeded>
    bool writeRowAs(const StepOutputItems* items);
    void describeRun(char* text, size_t size) const override;
    const MvbString& fileName() const noexcept override { return settings_.fileName; }
    bool appends() const noexcept override { return settings_.append; }
    /// Opens the file for writing (with `probe`, only proves it can be) and writes the header
    /// line when asked for. False after reporting the failure.
    bool openFile(bool probe);
    /// Warns when `text`, written without a qualifier in field `field`, holds the delimiter,
    /// CR or LF, which a reader would take for the end of the value.
    void checkUnqualified(std::string_view text, int field, const StepOutputItem& item);
    /// What in `text`, written without a qualifier, keeps it from reading back as one value
    /// (a line break, the delimiter); null when nothing does.
    const char* breaksUnqualified(std::string_view text) const;
    /// Warns of a delimiter and qualifier with which the file cannot be read back as written:
    /// a delimiter that holds a line end, or one that shares bytes with the qualifier (as
    /// openFile() chose it).
    void warnOfUnreadableSettings();

    DelimDestSettings settings_;
    uint32_t openFlags_ = 0;
    /// The delimiter and the qualifier are valid UTF-8, so a line built of them and of checked
    /// values goes to the file without being checked again.
    bool separatorsChecked_ = false;
    /// The qualifier is one byte that no formatted date or boolean holds, so such a value is
    /// formatted straight into the line between two qualifiers.
    bool qualifierFitsFormatted_ = false;
    /// The delimiter starts with a byte that a formatted number, date or boolean may hold, or
    /// the qualifier does (a number, never enclosed, may then begin with it), so such a value
    /// written without a qualifier is looked at for them.
    bool separatorsFitFormatted_ = false;
    /// What encloses a value: QUALIFIER, or `"` when only QUOTE_WHEN_NEEDED asks for one.
    std::string_view qualifier_;
    /// For each FIELDS row, whether its values are enclosed in the qualifier whatever they hold
    /// (QUALIFIER is set, QUOTE_WHEN_NEEDED is not, and the input field is no number), worked
    /// out once for the input list `qualifiedFor_`.
    std::vector<unsigned char> qualified_;
    const StepOutputItems* qualifiedFor_ = nullptr;
    /// The line being written, reused from row to row.
    LineBuffer line_;
};
