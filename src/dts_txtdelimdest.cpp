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
     .kind = Kind::Marks,
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

/// `text` in double quotes for a message, as values are shown in warnings: its control
/// characters as escapes (a CR would move the terminal's cursor back over the message).
std::string quotedText(std::string_view text) {
    // Built by appending: GCC 12 at -O3 warns (-Wrestrict) of "\"" + a temporary string, wrongly.
    std::string quoted(1, '"');
    quoted += shortenedText(text);
    quoted += '"';
    return quoted;
}

/// True when `text` is the name of a delimiter character ("tab", "comma") or its escape written
/// out ("\t"), which a job may mean as the character.
bool namesACharacter(std::string_view text) noexcept {
    constexpr std::string_view kNames[] = {"tab",  "\\t",   "comma", "semicolon",
                                           "pipe", "space", "colon", "bar"};
    for (const std::string_view name : kNames) {
        if (text.size() == name.size() &&
            std::equal(text.begin(), text.end(), name.begin(), [](char a, char b) {
                return (a >= 'A' && a <= 'Z' ? static_cast<char>(a + 32) : a) == b;
            })) {
            return true;
        }
    }
    return false;
}

bool isBlankByte(char c) noexcept {
    return c == ' ' || c == '\t';
}

/// putQualified() for a text that holds the qualifier, or for a qualifier of several bytes.
[[gnu::noinline]] char* putQualifiedDoubling(char* at, std::string_view text,
                                             std::string_view qualifier) noexcept {
    at = putBytes(at, qualifier);
    size_t from = 0;
    for (size_t found; (found = text.find(qualifier, from)) != std::string_view::npos;) {
        const size_t after = found + qualifier.size();
        at = putBytes(at, text.substr(from, after - from));
        at = putBytes(at, qualifier);
        from = after;
    }
    at = putBytes(at, text.substr(from));
    return putBytes(at, qualifier);
}

/// copyFindingBytes(), or with Padded copyFindingPadded(): a value's text can be read past its
/// end, and the room for it has kPaddedCopyBytes more.
template <bool Padded, typename... Marks>
inline uint64_t copyFinding(char* to, std::string_view text, uint64_t* high,
                            Marks... marks) noexcept {
    if constexpr (Padded) {
        return copyFindingPadded(to, text, high, marks...);
    } else {
        return copyFindingBytes(to, text, high, marks...);
    }
}

/// Writes `text` at `at` enclosed in `qualifier` (not empty), with each qualifier inside it
/// doubled; returns the end. `at` has room for twice the text and two qualifiers: the text
/// holds at most one qualifier per qualifier's length of bytes. `*ascii` is set when the text
/// is known to be ASCII; false says nothing. Padded as copyFinding().
template <bool Padded = false>
inline char* putQualified(char* at, std::string_view text, std::string_view qualifier,
                          bool* ascii) noexcept {
    if (qualifier.size() == 1) [[likely]] {
        // One pass copies the text and looks for the qualifier in it; only a text that holds
        // one is written again, with the qualifier doubled.
        const char mark = qualifier[0];
        *at = mark;
        uint64_t high = 0;
        if (copyFinding<Padded>(at + 1, text, &high, mark) == 0) [[likely]] {
            at += 1 + text.size();
            *at = mark;
            *ascii = high == 0;
            return at + 1;
        }
    }
    *ascii = false;
    return putQualifiedDoubling(at, text, qualifier);
}

/// True when `text` with the delimiter after it would not read back as one value: it holds
/// the delimiter, or it ends with the first bytes of a delimiter that overlaps itself, which
/// then begins inside the value ("a|" before "||" reads as "a" and a field starting "|").
bool runsIntoDelimiter(std::string_view text, std::string_view delimiter) noexcept {
    if (text.find(delimiter) != std::string_view::npos) return true;
    for (size_t k = 1; k < delimiter.size() && k <= text.size(); ++k) {
        if (text.ends_with(delimiter.substr(0, k)) &&
            delimiter.substr(k) == delimiter.substr(0, delimiter.size() - k)) {
            return true;
        }
    }
    return false;
}

/// Writes `text` at `at` as it is, or as putQualified() does when it holds the delimiter, the
/// qualifier, CR or LF or starts or ends with a blank; the room and the result are as there.
template <bool Padded = false>
char* putQuotedWhenNeeded(char* at, std::string_view text, std::string_view delimiter,
                          std::string_view qualifier, bool* ascii) noexcept {
    const size_t size = text.size();
    uint64_t high = 0;
    // The first byte of the delimiter and of the qualifier stand for them: a text that holds
    // one of them is looked at again, which tells whether it holds the whole.
    const uint64_t found =
        copyFinding<Padded>(at, text, &high, delimiter[0], qualifier[0], '\r', '\n');
    const bool needed = (size != 0 && (isBlankByte(text[0]) || isBlankByte(text[size - 1]))) ||
                        (found != 0 && (runsIntoDelimiter(text, delimiter) ||
                                        text.find(qualifier) != std::string_view::npos ||
                                        mvb::scan::holdsLineBreak(text)));
    if (!needed) [[likely]] {
        *ascii = high == 0;
        return at + size;
    }
    return putQualified<Padded>(at, text, qualifier, ascii);
}

/// Writes `text` (a value's, readable past its end) at `at` (with kPaddedCopyBytes of room
/// more) as it is; returns the end. `*suspect` is set when it may hold the delimiter (whose
/// first byte is `delimiterLead`) or a line break; `*ascii` as putQualified().
inline char* putUnqualified(char* at, std::string_view text, char delimiterLead, bool* ascii,
                            bool* suspect) noexcept {
    uint64_t high = 0;
    *suspect = copyFindingPadded(at, text, &high, delimiterLead, '\r', '\n') != 0;
    *ascii = high == 0;
    return at + text.size();
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

/// A line of one field that came out empty (an empty value, or an empty header name) would be
/// a blank line, which many readers skip: with a qualifier it becomes an empty qualified value,
/// which reads back the same.
void qualifyLoneEmptyField(LineBuffer& line, int fields, std::string_view qualifier) {
    if (fields != 1 || line.size() != 0 || qualifier.empty()) [[likely]] {
        return;
    }
    line.append(qualifier);
    line.append(qualifier);
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
    openFlags_ = lineEndFlag(settings_.endOfLine) | MVB_FLAG_APPEND_LINES |
                 (settings_.byteOrderMark && writesTopOfOutput(host()) ? MVB_FLAG_WRITE_BOM : 0u) |
                 replaceFlag(settings_.append, settings_.inPlace);
    if (!openFile(true)) return false;
    warnOfUnreadableSettings();
    return true;
}

bool DTS_TxtDelimDest::openFile(bool probe) {
    StepHost* host = core_.host();
    const int mode = settings_.append ? MVB_OPEN_APPEND : MVB_OPEN_CREATE;
    if (!file_.open(host, settings_.fileName, mode, settings_.encoding, openFlags_, probe)) {
        return false;
    }
    qualifier_ = settings_.qualifier.view();
    if (qualifier_.empty() && settings_.quoteWhenNeeded) qualifier_ = "\"";
    qualifiedFor_ = nullptr;  // the fields' types are looked at again at the first row
    separatorsChecked_ = isUtf8Text(settings_.delimiter.view()) && isUtf8Text(qualifier_);
    // Formatted dates and booleans are made of digits, signs, colons, blanks and the letters of
    // "true" and "false"; numbers add points, exponents and the letters of inf and nan.
    qualifierFitsFormatted_ =
        qualifier_.size() == 1 && kFormattedBytes.find(qualifier_[0]) == std::string_view::npos;
    const std::string_view delimiter = settings_.delimiter.view();
    separatorsFitFormatted_ =
        (!delimiter.empty() && kFormattedBytes.find(delimiter[0]) != std::string_view::npos) ||
        (!qualifier_.empty() && kFormattedBytes.find(qualifier_[0]) != std::string_view::npos);
    if (probe || !settings_.includeHeader || !writesTopOfOutput(host)) return true;

    // The header is written at the top of every run, an appending one too (of a job split into
    // parts, by its first part only); every name is enclosed in the qualifier whatever its field's
    // type (with QUOTE_WHEN_NEEDED, a name that needs it).
    PropertyTable* table = host->getPropertyValues()->getTable(kFields);
    const int rows = table->getRowCount();
    line_.clear();
    for (int i = 0; i < rows; ++i) {
        const MvbString name = table->getCell(1, i, true).asString();
        if (qualifier_.empty()) {
            line_.append(name.view());
            if (const char* what = breaksUnqualified(name.view())) [[unlikely]] {
                host->getLog()->logMessage(
                    1, MvbString("Header name " + quotedText(name.view()) + " holds " + what +
                                 ": written without a qualifier, the header does not read back "
                                 "as one name a column (set QUALIFIER or QUOTE_WHEN_NEEDED)"));
            }
        } else {
            char* at = line_.reserve(2 * (name.view().size() + qualifier_.size()));
            bool ascii = false;
            at = settings_.quoteWhenNeeded
                     ? putQuotedWhenNeeded(at, name.view(), delimiter, qualifier_, &ascii)
                     : putQualified(at, name.view(), qualifier_, &ascii);
            line_.commit(at);
        }
        if (i + 1 < rows) line_.append(delimiter);
    }
    qualifyLoneEmptyField(line_, rows, qualifier_);
    if (file_.markAtTop({line_.data(), line_.size()})) [[unlikely]] {
        host->getLog()->logMessage(
            1, MvbString(std::string("Header line: ") + DestFile::kMarkAtTopWhat + ": " +
                         DestFile::kMarkAtTopOutcome));
    }
    MvbTxtFile* file = file_.get();
    if (!writeBuiltLine(file, line_)) return file_.fail(host);
    file_.endRecord(false);
    return true;
}

const char* DTS_TxtDelimDest::breaksUnqualified(std::string_view text) const {
    return mvb::scan::holdsLineBreak(text)                                   ? "a line break"
           : text.find(settings_.delimiter.view()) != std::string_view::npos ? "the delimiter"
           : runsIntoDelimiter(text, settings_.delimiter.view())
               ? "the delimiter's first bytes at its end"
               : nullptr;
}

void DTS_TxtDelimDest::warnOfUnreadableSettings() {
    const std::string_view delimiter = settings_.delimiter.view();
    const std::string_view qualifier = qualifier_;  // as openFile() chose it
    std::string why;
    if (mvb::scan::holdsLineBreak(delimiter)) {
        why = "DELIMITER " + quotedText(delimiter) +
              " holds a line end: each value reads back as a line of its own";
    } else if (mvb::scan::holdsLineBreak(qualifier)) {
        why = "QUALIFIER " + quotedText(qualifier) +
              " holds a line end: each value it encloses reads back as lines of their own";
    } else if (!qualifier.empty() && !delimiter.empty() &&
               (delimiter.find(qualifier[0]) != std::string_view::npos ||
                qualifier.find(delimiter[0]) != std::string_view::npos)) {
        why = "DELIMITER " + quotedText(delimiter) + " and QUALIFIER " + quotedText(qualifier) +
              " share characters: a reader may not tell a qualifier from a delimiter, and the "
              "file may not read back as written";
    } else if (namesACharacter(delimiter)) {
        why = "DELIMITER " + quotedText(delimiter) + " is written as those " +
              std::to_string(delimiter.size()) +
              " characters between the values; for the character it names, give the character "
              "itself or its code (\"0x09\" is a tab)";
    } else if (const int delimiterChars = settings_.delimiter.length(),
               qualifierChars = MvbString(std::string(qualifier_).c_str(), false).length();
               delimiterChars > 1 || qualifierChars > 1) {
        const bool longDelimiter = delimiterChars > 1;
        const std::string_view text = longDelimiter ? delimiter : qualifier;
        why = std::string(longDelimiter ? "DELIMITER " : "QUALIFIER ") + quotedText(text) + " is " +
              std::to_string(longDelimiter ? delimiterChars : qualifierChars) +
              " characters, written whole; a delimited source reads only the first character of "
              "its " +
              (longDelimiter ? "DELIMITER" : "QUOTE") +
              ", so the file does not read back here as written";
    }
    if (!why.empty()) host()->getLog()->logMessage(1, MvbString(why));
}

void DTS_TxtDelimDest::checkUnqualified(std::string_view text, int field,
                                        const StepOutputItem& item) {
    if (!qualifier_.empty() && text.starts_with(qualifier_)) {
        // A number is never enclosed: one that begins with the qualifier reads as enclosed.
        warnings_.broken(core_.rowCount(), field, item.name.view(), text,
                         "the qualifier at its start",
                         "a number is written without a qualifier, and a reader takes it for an "
                         "enclosed value (choose a QUALIFIER no number begins with)");
        return;
    }
    const char* what = breaksUnqualified(text);
    if (what == nullptr) return;
    // With a QUALIFIER, only numbers are written without it, and only QUOTE_WHEN_NEEDED
    // encloses one.
    warnings_.broken(core_.rowCount(), field, item.name.view(), text, what,
                     qualifier_.empty()
                         ? "written without a qualifier, it does not read back as one value "
                           "(set QUALIFIER or QUOTE_WHEN_NEEDED)"
                         : "a number is written without a qualifier, and it does not read back "
                           "as one value (set QUOTE_WHEN_NEEDED, or choose a DELIMITER no number "
                           "holds)");
}

bool DTS_TxtDelimDest::writeRow(const StepOutputItems* items) {
    // The usual settings, a one-byte delimiter and qualifiers as FIELDS says, are known to
    // the loop below, which then tests neither for each field.
    const bool oneByte = settings_.delimiter.view().size() == 1;
    if (settings_.quoteWhenNeeded) {
        return oneByte ? writeRowAs<true, true>(items) : writeRowAs<false, true>(items);
    }
    return oneByte ? writeRowAs<true, false>(items) : writeRowAs<false, false>(items);
}

template <bool OneByteDelimiter, bool WhenNeeded>
bool DTS_TxtDelimDest::writeRowAs(const StepOutputItems* items) {
    file_.startLine(line_);
    const int count = core_.fieldCount();
    const std::string_view delimiter = settings_.delimiter.view();
    const std::string_view qualifier = qualifier_;
    const bool haveQualifier = !qualifier.empty();
    constexpr bool whenNeeded = WhenNeeded;
    // The line is built through a write position and the end of the room it has, both kept
    // here: each field first makes sure of room for the most it can take (its delimiter, its
    // text twice over with two qualifiers, or a formatted text), then writes with plain stores.
    const size_t fieldRoom = delimiter.size() + 2 * qualifier.size();
    char* at = line_.reserve(0);
    char* limit = line_.limit();
    // Strings are the only values whose bytes come from outside this step; the text of every
    // other kind is formatted here. A line whose strings all prove to be UTF-8 while they are
    // copied, or were proven so when they were read, is not checked again by the file.
    bool checked = separatorsChecked_;
    const DestinationCore::RowFields fields = core_.rowFields(items);
    if (items != qualifiedFor_ || qualified_.size() != static_cast<size_t>(count)) [[unlikely]] {
        // Integers and reals are never enclosed, whatever the value holds.
        qualified_.assign(static_cast<size_t>(count), 0);
        for (int i = 0; i < count; ++i) {
            const StepOutputItem* item = fields[i];
            qualified_[static_cast<size_t>(i)] = haveQualifier && !whenNeeded && item != nullptr &&
                                                 item->type != mvbTypeInteger &&
                                                 item->type != mvbTypeReal;
        }
        qualifiedFor_ = items;
    }
    const unsigned char* const qualified = qualified_.data();
    // The delimiter before every field but the first, written once the field's room is sure.
    const auto putDelimiter = [&](char* to, int i) noexcept {
        if (i == 0) return to;
        if constexpr (OneByteDelimiter) {
            *to = delimiter[0];
            return to + 1;
        } else {
            return putBytes(to, delimiter);
        }
    };
    for (int i = 0; i < count; ++i) {
        // A FIELDS row that names no input field is an empty field, as is a null.
        const StepOutputItem* item = fields[i];
        const int type = item != nullptr ? item->value.getType() : mvbTypeNull;
        if (type == mvbTypeNull) {
            at = putDelimiter(line_.roomAt(at, delimiter.size(), limit), i);
            continue;
        }
        const MvbDatavar& value = item->value;
        const bool qualify = qualified[i] != 0;
        if (type != mvbTypeString && !whenNeeded && (!qualify || qualifierFitsFormatted_)) {
            at = putDelimiter(line_.roomAt(at, fieldRoom + MvbDatavar::kScalarTextRoom, limit), i);
            if (qualify) {
                // A date or a boolean between the qualifiers, as its text cannot hold one.
                *at = qualifier[0];
                at += 1 + value.formatScalar(at + 1);
                *at++ = qualifier[0];
            } else {
                const auto length = static_cast<size_t>(value.formatScalar(at));
                if (separatorsFitFormatted_) [[unlikely]] {
                    checkUnqualified(std::string_view(at, length), i, *item);
                }
                at += length;
            }
            continue;
        }
        ValueTextBuffer buffer;
        // A string's storage, and the buffer of another kind's text, can be read past the
        // text's end (see copyFindingPadded()).
        const std::string_view text = destValueText(&value, buffer);
        at = putDelimiter(line_.roomAt(at, fieldRoom + 2 * text.size() + kPaddedCopyBytes, limit),
                          i);
        bool ascii = false;
        if (whenNeeded) {
            at = putQuotedWhenNeeded<true>(at, text, delimiter, qualifier, &ascii);
        } else if (qualify) {
            at = putQualified<true>(at, text, qualifier, &ascii);
        } else {
            bool suspect = false;
            at = putUnqualified(at, text, delimiter[0], &ascii, &suspect);
            if (suspect) [[unlikely]] {
                checkUnqualified(text, i, *item);
            }
        }
        if (type == mvbTypeString && !value.isKnownUtf8()) [[unlikely]] {
            // A text from another step may hold what no text read from a file does.
            if (!ascii && checked) checked = isUtf8Text(text);
            if (text.find('\0') != std::string_view::npos) {
                warnings_.broken(core_.rowCount(), i, item->name.view(), text, "a NUL character",
                                 "a reader of the file takes the value to end there");
            }
        }
    }
    line_.commit(at);
    qualifyLoneEmptyField(line_, count, qualifier);
    if (file_.beforeFirstRecord() && count != 0 && fields[0] != nullptr &&
        file_.markAtTop({line_.data(), line_.size()})) [[unlikely]] {
        ValueTextBuffer buffer;
        warnings_.broken(core_.rowCount(), 0, fields[0]->name.view(),
                         destValueText(&fields[0]->value, buffer), DestFile::kMarkAtTopWhat,
                         DestFile::kMarkAtTopOutcome);
    }
    bool written = false;
    if (checked) {
        written = file_.writeCheckedLine(line_, true);
    } else {
        // The file checks the line as it writes it, which may reuse its room.
        line_.leaveRoom();
        written = writeBuiltLine(file_.get(), line_);
    }
    return written || file_.fail(core_.host(), core_.rowCount());
}

void DTS_TxtDelimDest::describeRun(char* text, size_t size) const {
    std::snprintf(text, size, "%s %" PRIu64 " rows to text file ",
                  settings_.append ? "Appended" : "Wrote", core_.rowCount());
}
