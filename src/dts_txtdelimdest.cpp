#include "dts_txtdelimdest.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "dest_value_text.h"
#include "mvb/charset.h"
#include "mvb/types.h"
#include "step_catalogue.h"

namespace {

using Settings = DelimDestSettings;
using Kind = PropertyKind;

/// Writes a built line and its line end. An empty line hands no bytes to the file: a buffer
/// that never held one has no storage to point at.
bool writeBuiltLine(MvbTxtFile* file, const LineBuffer& line) {
    if (line.size() != 0 && !file->writeChars(line.data(), static_cast<int>(line.size())))
        return false;
    return file->writeLine("");
}

enum Property : int {
    kFileName,
    kFields,
    kDelimiter,
    kQualifier,
    kIncludeHeader,
    kPreserveWhitespace,
    kMaxOutputRows,
    kUnescapeBackslash,
    kByteOrderMark,
    kEncoding,
    kAppend,
    kEndOfLine,
    kQuoteWhenNeeded,
    kInPlace,
    kPropertyCount
};

constexpr PropertyRow<Settings> kProperties[kPropertyCount] = {
    kDestFileNameRow<Settings>,
    {.name = "FIELDS",
     .kind = Kind::Table,
     .description = "the input fields to write (FIELDNAME), in column order, with their header "
                    "names (OUTPUTNAME)",
     .columns = kDestNamedFieldColumns},
    {.name = "DELIMITER",
     .kind = Kind::Delimiter,
     .message = 57,
     .text = &Settings::delimiter,
     .description = "text between fields (any length), or 0x and a hexadecimal character code"},
    {.name = "QUALIFIER",
     .kind = Kind::Text,
     .text = &Settings::qualifier,
     .description = "written around each non-null value that is not an integer or real and "
                    "around each header name; doubled inside a value"},
    {.name = "INCLUDE_HEADER",
     .kind = Kind::Boolean,
     .message = 729,
     .flag = &Settings::includeHeader,
     .description = "write a header line of OUTPUTNAMEs"},
    {.name = "PRESERVE_WHITESPACE",
     .kind = Kind::Boolean,
     .declaresDefault = true,
     .flag = &Settings::preserveWhitespace,
     .description = "accepted for jobs; no effect"},
    {.name = "MAX_OUTPUT_ROWS",
     .kind = Kind::Integer,
     .number = &Settings::maxOutputRows,
     .description = "accepted for jobs; no effect"},
    {.name = "UNESCAPE_BACKSLASH",
     .kind = Kind::Boolean,
     .declaresDefault = true,
     .flag = &Settings::unescapeBackslash,
     .description = "accepted for jobs; no effect"},
    kDestByteOrderMarkRow<Settings>,
    kDestEncodingRow<Settings>,
    kDestAppendRow<Settings>,
    {.name = "END_OF_LINE",
     .kind = Kind::Integer,
     .declaresDefault = true,
     .number = &Settings::endOfLine,
     .description = "line end: 1 CR, 2 LF, 3 CRLF, 4 the platform's; anything else LF"},
    {.name = "QUOTE_WHEN_NEEDED",
     .kind = Kind::Boolean,
     .declaresDefault = true,
     .flag = &Settings::quoteWhenNeeded,
     .description = "enclose a value (or header name) in the qualifier, \" when QUALIFIER is "
                    "empty, only when it holds the delimiter, the qualifier, CR or LF or starts "
                    "or ends with a blank"},
    kDestInPlaceRow<Settings>,
};

/// The characters of formatted numbers, dates and booleans.
constexpr std::string_view kFormattedBytes = "0123456789-+: .eEinfatrulsINFATRULS";

bool isBlankByte(char c) noexcept {
    return c == ' ' || c == '\t';
}

/// The open flag selected by an END_OF_LINE value; 0 for none.
uint32_t lineEndFlag(int endOfLine) noexcept {
    switch (endOfLine) {
        case 1:
            return MVB_FLAG_EOL_CR;
        case 2:
            return MVB_FLAG_EOL_LF;
        case 3:
            return MVB_FLAG_EOL_CRLF;
        case 4:
            return MVB_FLAG_EOL_NATIVE;
        default:
            return 0;
    }
}

}  // namespace

StepPluginStep* createTxtDelimDest() {
    return new DTS_TxtDelimDest();
}

DTS_TxtDelimDest::DTS_TxtDelimDest() noexcept
    : TextDestination("src/dts_txtdelimdest", kStepPropertyTable<Settings, kProperties>) {}

bool DTS_TxtDelimDest::startStep() {
    host()->getOutputRow();
    if (!beginRun()) return false;
    settings_ = Settings{};
    // A run that writes nothing never reads the file's settings or touches a file.
    if (!core_.writes()) return true;
    if (!readSettings<Settings>(messages(), kProperties, {}, settings_, [] { return true; })) {
        return false;
    }
    settings_.fileName = destFileName(host(), settings_.fileName);
    // A byte-order mark, like the header, goes only at the top of the whole output.
    openFlags_ = lineEndFlag(settings_.endOfLine) |
                 (settings_.byteOrderMark && writesTopOfOutput(host()) ? MVB_FLAG_WRITE_BOM : 0u) |
                 replaceFlag(settings_.append, settings_.inPlace);
    return openFile(true);
}

bool DTS_TxtDelimDest::openFile(bool probe) {
    StepHost* host = core_.host();
    const int mode = settings_.append ? MVB_OPEN_APPEND : MVB_OPEN_CREATE;
    if (!file_.open(host, settings_.fileName, mode, settings_.encoding, openFlags_, probe)) {
        return false;
    }
    qualifier_ = settings_.qualifier.view();
    if (qualifier_.empty() && settings_.quoteWhenNeeded) qualifier_ = "\"";
    separatorsChecked_ = isUtf8Text(settings_.delimiter.view()) && isUtf8Text(qualifier_);
    // Formatted dates and booleans are made of digits, signs, colons, blanks and the letters of
    // "true" and "false"; numbers add points, exponents and the letters of inf and nan.
    qualifierFitsFormatted_ =
        qualifier_.size() == 1 && kFormattedBytes.find(qualifier_[0]) == std::string_view::npos;
    const std::string_view delimiter = settings_.delimiter.view();
    delimiterFitsFormatted_ =
        !delimiter.empty() && kFormattedBytes.find(delimiter[0]) != std::string_view::npos;
    if (probe || !settings_.includeHeader || !writesTopOfOutput(host)) return true;

    // The header is written at the top of every run, an appending one too (of a job split into
    // parts, by its first part only); every name is enclosed in the qualifier whatever its field's
    // type (with QUOTE_WHEN_NEEDED, a name that needs it).
    PropertyTable* table = host->getPropertyValues()->getTable(kFields);
    const int rows = table->getRowCount();
    line_.clear();
    for (int i = 0; i < rows; ++i) {
        const MvbString name = table->getCell(1, i, true).asString();
        if (settings_.quoteWhenNeeded) {
            appendQuotedWhenNeeded(name.view());
        } else if (qualifier_.empty()) {
            line_.append(name.view());
        } else {
            appendQualified(name.view());
        }
        if (i + 1 < rows) line_.append(delimiter);
    }
    MvbTxtFile* file = file_.get();
    if (!writeBuiltLine(file, line_)) return file_.fail(host);
    file_.endRecord(false);
    return true;
}

bool DTS_TxtDelimDest::appendQualified(std::string_view text) {
    const std::string_view qualifier = qualifier_;
    if (qualifier.size() == 1) [[likely]] {
        // One pass copies the text and looks for the qualifier in it; only a text that holds
        // one is written again below, with the qualifier doubled.
        const char mark = qualifier[0];
        const size_t size = text.size();
        char* at = line_.reserve(size + 2);
        *at++ = mark;
        uint64_t high = 0;
        if (copyFindingBytes(at, text, &high, mark) == 0) [[likely]] {
            at[size] = mark;
            line_.commit(at + size + 1);
            return high == 0;
        }
    } else if (text.find(qualifier) == std::string_view::npos) {
        char* at = line_.reserve(text.size() + 2 * qualifier.size());
        at = putBytes(at, qualifier);
        at = putBytes(at, text);
        line_.commit(putBytes(at, qualifier));
        return false;
    }
    line_.append(qualifier);
    size_t from = 0;
    for (size_t at; (at = text.find(qualifier, from)) != std::string_view::npos;) {
        const size_t after = at + qualifier.size();
        line_.append(text.substr(from, after - from));
        line_.append(qualifier);
        from = after;
    }
    line_.append(text.substr(from));
    line_.append(qualifier);
    return false;
}

bool DTS_TxtDelimDest::appendQuotedWhenNeeded(std::string_view text) {
    const size_t size = text.size();
    const std::string_view delimiter = settings_.delimiter.view();
    char* at = line_.reserve(size);
    uint64_t high = 0;
    // The first byte of the delimiter and of the qualifier stand for them: a text that holds
    // one of them is looked at again, which tells whether it holds the whole.
    const uint64_t found =
        copyFindingBytes(at, text, &high, delimiter[0], qualifier_[0], '\r', '\n');
    const bool needed = (size != 0 && (isBlankByte(text[0]) || isBlankByte(text[size - 1]))) ||
                        (found != 0 && (text.find(delimiter) != std::string_view::npos ||
                                        text.find(qualifier_) != std::string_view::npos ||
                                        text.find_first_of("\r\n") != std::string_view::npos));
    if (!needed) [[likely]] {
        line_.commit(at + size);
        return high == 0;
    }
    line_.commit(at);
    return appendQualified(text);
}

bool DTS_TxtDelimDest::appendUnqualified(std::string_view text, int field,
                                         const StepOutputItem& item) {
    const size_t size = text.size();
    char* at = line_.reserve(size);
    uint64_t high = 0;
    const uint64_t found =
        copyFindingBytes(at, text, &high, settings_.delimiter.view()[0], '\r', '\n');
    line_.commit(at + size);
    if (found != 0) [[unlikely]] {
        checkUnqualified(text, field, item);
    }
    return high == 0;
}

void DTS_TxtDelimDest::checkUnqualified(std::string_view text, int field,
                                        const StepOutputItem& item) {
    const char* what = text.find_first_of("\r\n") != std::string_view::npos ? "a line break"
                       : text.find(settings_.delimiter.view()) != std::string_view::npos
                           ? "the delimiter"
                           : nullptr;
    if (what == nullptr) return;
    warnings_.broken(core_.rowCount(), field, item.name.view(), text, what,
                     "written without a qualifier, it does not read back as one value (set "
                     "QUALIFIER or QUOTE_WHEN_NEEDED)");
}

bool DTS_TxtDelimDest::writeRow(const StepOutputItems* items) {
    file_.startLine(line_);
    ValueTextBuffer buffer;
    const int last = core_.fieldCount() - 1;
    const bool haveQualifier = !qualifier_.empty();
    const bool whenNeeded = settings_.quoteWhenNeeded;
    // Strings are the only values whose bytes come from outside this step; the text of every
    // other kind is formatted here. A line whose strings all prove to be UTF-8 while they are
    // copied, or were proven so when they were read, is not checked again by the file.
    bool checked = separatorsChecked_;
    const std::string_view delimiter = settings_.delimiter.view();
    const bool oneByteDelimiter = delimiter.size() == 1;
    for (int i = 0; i <= last; ++i) {
        // A FIELDS row that names no input field is an empty field.
        const StepOutputItem* item = core_.fieldItem(items, i);
        if (item != nullptr) {
            const MvbDatavar& value = item->value;
            const bool isString = value.getType() == mvbTypeString;
            const bool qualify = haveQualifier && !whenNeeded && item->type != mvbTypeInteger &&
                                 item->type != mvbTypeReal && !value.isNull();
            if (!qualify && !isString && !whenNeeded) {
                // Formatted straight into the line, the delimiter after it, through one
                // reservation: no text of these kinds is longer than the scratch buffer, and
                // the terminating NUL is overwritten or lands past the line's end.
                char* at = line_.reserve(sizeof buffer.bytes + delimiter.size());
                const int length =
                    value.isNull() ? 0
                                   : value.formatText(at, static_cast<int>(sizeof buffer.bytes));
                if (delimiterFitsFormatted_ && length > 0) [[unlikely]] {
                    checkUnqualified(std::string_view(at, static_cast<size_t>(length)), i, *item);
                }
                if (length > 0) at += length;
                if (i != last) {
                    if (oneByteDelimiter) {
                        *at++ = delimiter[0];
                    } else {
                        at = putBytes(at, delimiter);
                    }
                }
                line_.commit(at);
                continue;
            } else if (qualify && !isString && qualifierFitsFormatted_) {
                // A date or a boolean: formatted straight into the line between the
                // qualifiers, as its text cannot hold one.
                const char mark = qualifier_[0];
                char* at = line_.reserve(sizeof buffer.bytes + 2 + delimiter.size());
                *at++ = mark;
                const int length = value.formatText(at, static_cast<int>(sizeof buffer.bytes));
                if (length > 0) at += length;
                *at++ = mark;
                line_.commit(at);
            } else if (!value.isNull()) {
                const std::string_view text = destValueText(&value, buffer);
                bool ascii = false;
                if (whenNeeded) {
                    ascii = appendQuotedWhenNeeded(text);
                } else if (qualify) {
                    ascii = appendQualified(text);
                } else {
                    ascii = appendUnqualified(text, i, *item);
                }
                if (!ascii && isString && checked && !value.isKnownUtf8())
                    checked = isUtf8Text(text);
            }
        }
        if (i == last) break;
        if (oneByteDelimiter) {
            char* at = line_.reserve(1);
            *at = delimiter[0];
            line_.commit(at + 1);
        } else {
            line_.append(delimiter);
        }
    }
    bool written = false;
    if (checked) {
        written = file_.writeCheckedLine(line_, true);
    } else {
        // The file checks the line as it writes it, which may reuse its room.
        line_.leaveRoom();
        written = writeBuiltLine(file_.get(), line_);
    }
    return written || file_.fail(core_.host());
}

void DTS_TxtDelimDest::describeRun(char* text, size_t size) const {
    std::snprintf(text, size, "%s %" PRIu64 " rows to text file ",
                  settings_.append ? "Appended" : "Wrote", core_.rowCount());
}
