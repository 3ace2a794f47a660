#pragma once

#include <cstdint>
#include <string_view>

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
};

/// DEST_DELIMTEXT: passes every row on and, in a run that writes, writes the FIELDS as one
/// delimited line per row. Non-numeric, non-null values are enclosed in the qualifier, with a
/// qualifier inside them doubled so that the file reads back to the same values.
///
/// `start` only proves that the file can be opened; the file is created (or opened to append)
/// at the first row, so a run without rows leaves no file behind.
class DTS_TxtDelimDest final : public TextDestination {
  public:
    DTS_TxtDelimDest() noexcept;

  private:
    bool startStep() override;
    int produceRow() override;
    void finishStep() override;
    /// Opens the file for writing (with `probe`, only proves it can be) and writes the header
    /// line when asked for. False after reporting the failure.
    bool openFile(bool probe);
    /// Appends `text` to the line being built, enclosed in the qualifier with each qualifier
    /// inside it doubled. Returns false when `text` may not be valid UTF-8 (it holds a byte
    /// outside ASCII and was not checked further); true when it is known to be.
    bool appendQualified(std::string_view text);

    DelimDestSettings settings_;
    uint32_t openFlags_ = 0;
    /// The delimiter and the qualifier are valid UTF-8, so a line built of them and of checked
    /// values goes to the file without being checked again.
    bool separatorsChecked_ = false;
    /// The qualifier is one byte that no formatted date or boolean holds, so such a value is
    /// formatted straight into the line between two qualifiers.
    bool qualifierFitsFormatted_ = false;
    /// The line being written, reused from row to row.
    LineBuffer line_;
};
