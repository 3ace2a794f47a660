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
};

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
                 (settings_.byteOrderMark && writesTopOfOutput(host()) ? MVB_FLAG_WRITE_BOM : 0u);
    return openFile(true);
}

bool DTS_TxtDelimDest::openFile(bool probe) {
    StepHost* host = core_.host();
    const int mode = settings_.append ? MVB_OPEN_APPEND : MVB_OPEN_CREATE;
    if (!file_.open(host, settings_.fileName, mode, settings_.encoding, openFlags_, probe)) {
        return false;
    }
    separatorsChecked_ =
        isUtf8Text(settings_.delimiter.view()) && isUtf8Text(settings_.qualifier.view());
    // Formatted dates and booleans are made of digits, signs, colons, blanks and the letters of
    // "true" and "false".
    const std::string_view qualifier = settings_.qualifier.view();
    qualifierFitsFormatted_ =
        qualifier.size() == 1 &&
        std::string_view("0123456789-+: .truefalsTRUEFALS").find(qualifier[0]) ==
            std::string_view::npos;
    if (probe || !settings_.includeHeader || !writesTopOfOutput(host)) return true;

    // The header is written at the top of every run, an appending one too (of a job split
    // into parts, by its first part only); every name is enclosed in the qualifier whatever
    // its field's type.
    PropertyTable* table = host->getPropertyValues()->getTable(kFields);
    const int rows = table->getRowCount();
    line_.clear();
    for (int i = 0; i < rows; ++i) {
        const MvbString name = table->getCell(1, i, true).asString();
        if (settings_.qualifier.empty()) {
            line_.append(name.view());
        } else {
            appendQualified(name.view());
        }
        if (i + 1 < rows) line_.append(settings_.delimiter.view());
    }
    MvbTxtFile* file = file_.get();
    if (!writeBuiltLine(file, line_)) return file_.fail(host);
    return true;
}

bool DTS_TxtDelimDest::appendQualified(std::string_view text) {
    const std::string_view qualifier = settings_.qualifier.view();
    if (qualifier.size() == 1) [[likely]] {
        // One pass copies the text and looks for the qualifier in it; only a text that holds
        // one is written again below, with the qualifier doubled.
        const char mark = qualifier[0];
        const size_t size = text.size();
        char* at = line_.reserve(size + 2);
        *at++ = mark;
        uint64_t found = 0;
        uint64_t high = 0;
        size_t i = 0;
        for (; i + 8 <= size; i += 8) {
            const uint64_t word = mvb::scan::load(text.data() + i);
            std::memcpy(at + i, &word, sizeof word);
            found |= wordHasByte(word, mark);
            high |= wordHasHighByte(word);
        }
        // The last bytes: one word that ends with the text (it overlaps bytes already
        // copied, which are looked at and written again to no harm), or a short text whole.
        if (i < size) {
            const uint64_t word = lastBytesWord(text.data(), size);
            if (size >= 8) {
                std::memcpy(at + size - 8, &word, sizeof word);
            } else {
                copyShortText(at, text.data(), size);
            }
            found |= wordHasByte(word, mark);
            high |= wordHasHighByte(word);
        }
        if (found == 0) [[likely]] {
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

int DTS_TxtDelimDest::produceRow() {
    StepHost* host = core_.host();
    StepOutputItems* items = nullptr;
    const int status = core_.takeRow(&items);
    if (status == 1) {
        if (core_.writes() && !file_.isOpen() && runsInParts(host) && !openFile(false)) {
            writeFailed_ = true;
            return 2;
        }
        return file_.endOfData(host, &writeFailed_);
    }
    if (status != 0) return status;

    if (core_.writes()) {
        if (!file_.isOpen() && !openFile(false)) {
            writeFailed_ = true;
            return 2;
        }
        file_.startLine(line_);
        ValueTextBuffer buffer;
        const int last = core_.fieldCount() - 1;
        const bool haveQualifier = !settings_.qualifier.empty();
        // Strings are the only values whose bytes come from outside this step; the text of
        // every other kind is formatted here. A line whose strings all prove to be UTF-8 while
        // they are copied, or were proven so when they were read, is not checked again by the
        // file.
        bool checked = separatorsChecked_;
        const std::string_view delimiter = settings_.delimiter.view();
        const bool oneByteDelimiter = delimiter.size() == 1;
        for (int i = 0; i <= last; ++i) {
            // A FIELDS row that names no input field is an empty field.
            const StepOutputItem* item = core_.fieldItem(items, i);
            if (item != nullptr) {
                const MvbDatavar& value = item->value;
                const bool isString = value.getType() == mvbTypeString;
                const bool qualify = haveQualifier && item->type != mvbTypeInteger &&
                                     item->type != mvbTypeReal && !value.isNull();
                if (!qualify && !isString) {
                    // Formatted straight into the line, the delimiter after it, through one
                    // reservation: no text of these kinds is longer than the scratch buffer,
                    // and the terminating NUL is overwritten or lands past the line's end.
                    char* at = line_.reserve(sizeof buffer.bytes + delimiter.size());
                    const int length =
                        value.isNull()
                            ? 0
                            : value.formatText(at, static_cast<int>(sizeof buffer.bytes));
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
                } else if (!isString && qualifierFitsFormatted_) {
                    // A date or a boolean: formatted straight into the line between the
                    // qualifiers, as its text cannot hold one.
                    const char mark = settings_.qualifier.view()[0];
                    char* at = line_.reserve(sizeof buffer.bytes + 2 + delimiter.size());
                    *at++ = mark;
                    const int length = value.formatText(at, static_cast<int>(sizeof buffer.bytes));
                    if (length > 0) at += length;
                    *at++ = mark;
                    line_.commit(at);
                } else {
                    const std::string_view text = destValueText(&value, buffer);
                    if (qualify) {
                        if (!appendQualified(text) && isString && checked && !value.isKnownUtf8())
                            checked = isUtf8Text(text);
                    } else {
                        line_.append(text);
                        if (checked && !value.isKnownUtf8()) checked = isUtf8Text(text);
                    }
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
        if (!written) {
            writeFailed_ = true;
            file_.fail(host);
            return 2;
        }
    }
    return core_.progressPoint();
}

void DTS_TxtDelimDest::finishStep() {
    char text[512];
    std::snprintf(text, sizeof text, "%s %" PRIu64 " rows to text file ",
                  settings_.append ? "Appended" : "Wrote", core_.rowCount());
    file_.finishRun(host(), core_.writes(), &writeFailed_, text, settings_.fileName);
}
