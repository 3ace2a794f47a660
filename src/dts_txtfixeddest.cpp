#include "dts_txtfixeddest.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "dest_value_text.h"
#include "mvb/charset.h"
#include "mvb/types.h"
#include "step_catalogue.h"
#include "step_properties.h"

namespace {

using Settings = FixedDestSettings;
using Kind = PropertyKind;

enum Property : int {
    kFileName,
    kFields,
    kLineEnd,
    kByteOrderMark,
    kEncoding,
    kAppend,
    kInPlace,
    kCount
};

constexpr PropertyColumn kFieldColumns[] = {
    {"FIELDNAME", mvbTypeString},
    {"WIDTH", mvbTypeInteger},
};

constexpr PropertyRow<Settings> kProperties[kCount] = {
    kDestFileNameRow<Settings>,
    {.name = "FIELDS",
     .kind = Kind::Table,
     .description = "the input fields to write (FIELDNAME), each padded with blanks to WIDTH "
                    "bytes of the file's encoding",
     .columns = kFieldColumns},
    {.name = "LINE_END",
     .kind = Kind::Text,
     .text = &Settings::lineEnd,
     .description = "CRLF or LF after each record; anything else writes no line end"},
    kDestByteOrderMarkRow<Settings>,
    kDestEncodingRow<Settings>,
    kDestAppendRow<Settings>,
    kDestInPlaceRow<Settings>,
};

}  // namespace

StepPluginStep* createTxtFixedDest() {
    return new DTS_TxtFixedDest();
}

DTS_TxtFixedDest::DTS_TxtFixedDest() noexcept
    : TextDestination("src/dts_txtfixeddest", kStepPropertyTable<Settings, kProperties>) {}

bool DTS_TxtFixedDest::startStep() {
    if (!beginRun()) return false;
    settings_ = Settings{};
    // A run that writes nothing reads no other setting and opens nothing.
    if (!core_.writes()) return true;
    host()->getOutputRow();
    if (!readWidths()) return false;
    if (!readSettings<Settings>(messages(), kProperties, {}, settings_, [] { return true; })) {
        return false;
    }
    settings_.fileName = destFileName(host(), settings_.fileName);
    openFlags_ = (settings_.byteOrderMark && writesTopOfOutput(host()) ? MVB_FLAG_WRITE_BOM : 0u) |
                 replaceFlag(settings_.append, settings_.inPlace);
    MvbString lineEnd = settings_.lineEnd;
    lineEnd.trim(true, true);
    writeLineEnd_ = false;
    if (lineEnd.compare("CRLF", true) == 0) {
        openFlags_ |= MVB_FLAG_EOL_CRLF | MVB_FLAG_APPEND_LINES;
        writeLineEnd_ = true;
    } else if (lineEnd.compare("LF", true) == 0) {
        openFlags_ |= MVB_FLAG_EOL_LF | MVB_FLAG_APPEND_LINES;
        writeLineEnd_ = true;
    } else if (!lineEnd.empty()) {
        // Any other text writes records without line ends, as they are in a file of records;
        // "CR", or a number as the delimited destination's END_OF_LINE takes, seldom means it.
        messages().warn(StepMessageId(831), std::string_view("LINE_END"), settings_.lineEnd.view(),
                        std::string_view("CRLF or LF"),
                        std::string_view("no line end: the records follow one another"));
    }
    return openFile(true);
}

bool DTS_TxtFixedDest::readWidths() {
    PropertyTable* table = host()->getPropertyValues()->getTable(kFields);
    const int fieldCount = core_.fieldCount();
    fieldWidths_ = std::make_unique<int[]>(fieldCount);
    recordWidth_ = 0;
    for (int i = 0; i < fieldCount; ++i) {
        bool error = false;
        const int width = readWholeCell(table->getCell(1, i, true), &error);
        if (error) {
            fail(721, table->getCell(0, i, true).asString().view());
            return false;
        }
        if (width < 0) {
            fail(732);
            return false;
        }
        fieldWidths_[i] = width;
        recordWidth_ += static_cast<size_t>(width);
    }
    return true;
}

bool DTS_TxtFixedDest::openFile(bool probe) {
    const int mode = settings_.append ? MVB_OPEN_APPEND : MVB_OPEN_CREATE;
    if (!file_.open(host(), settings_.fileName, mode, settings_.encoding, openFlags_, probe)) {
        return false;
    }
    if (!probe) {
        const int encoding = file_.get()->getEncoding();
        utf8File_ = mvbIsUtf8Encoding(encoding);
    }
    return true;
}

namespace {

/// Bytes a field of a record written at once may write past its width: its formatted text, the
/// first bytes of its string, or the run of blanks after its text (the next field, or the room
/// past the record, takes them).
constexpr size_t kFieldOverrun =
    std::max({static_cast<size_t>(MvbDatavar::kScalarTextRoom), kPaddedCopyBytes, size_t{32}});

/// The text of a null, or of a FIELDS row that names no input field: nothing, in storage that
/// can be read as a padded text.
constexpr char kNoText[kPaddedCopyBytes] = {};

/// Blanks at `at` for `count` bytes: the usual few as 32 bytes at once, whatever their count,
/// which may write up to 32 bytes past them.
inline void putBlanksOver(char* at, size_t count) noexcept {
    std::memset(at, ' ', 32);
    if (count > 32) [[unlikely]]
        putBlanks(at + 32, count - 32);
}

/// How many of the first `width` bytes of `text` (longer than that) a field keeps: no character
/// is split.
inline size_t keptBytes(const char* text, size_t width) noexcept {
    size_t keep = width;
    while (keep > 0 && (static_cast<unsigned char>(text[keep]) & 0xC0u) == 0x80u)
        --keep;
    return keep;
}

}  // namespace

bool DTS_TxtFixedDest::writeRecordAtOnce(const StepOutputItems* items) {
    // A record refused half-built leaves the file's room unused.
    file_.startLine(line_);
    const int fieldCount = core_.fieldCount();
    bool anyCut = false;
    // The record's room at once, with room past its end for what its last field writes beyond:
    // each field writes its text and blanks with stores of fixed size (no branch on a length
    // that varies from value to value), and the fields after it write over what lies past it.
    char* at = line_.reserve(recordWidth_ + kFieldOverrun);
    for (int i = 0; i < fieldCount; ++i) {
        // A FIELDS row that names no input field is written as blanks at its width.
        const MvbDatavar* value = core_.fieldValue(items, i);
        const auto width = static_cast<size_t>(fieldWidths_[i]);
        const bool present = value != nullptr && !value->isNull();
        size_t keep = 0;
        if (present && value->getType() != mvbTypeString) {
            // Formatted straight into the record.
            keep = static_cast<size_t>(value->formatScalar(at));
            if (keep > width) [[unlikely]] {
                keep = keptBytes(at, width);
                anyCut = true;
            }
        } else {
            // A string's storage can be read past its text's end (see copyFindingPadded()).
            const std::string_view text =
                present ? value->stringView() : std::string_view(kNoText, 0);
            // Strings are the only values whose bytes come from outside this step, so only they
            // are checked (unless they were proven UTF-8 when they were read), and the record
            // goes to the file unchecked. The file rejects a text that is not UTF-8 even where
            // the cut drops the bad bytes; the field-by-field write then reports it as the file
            // words it.
            if (present && !value->isKnownUtf8() && !isUtf8Text(text)) return false;
            keep = text.size();
            if (keep > width) [[unlikely]] {
                keep = keptBytes(text.data(), width);
                anyCut = true;
            }
            uint64_t high = 0;
            if (copyFindingPadded(at, text.substr(0, keep), &high, '\r', '\n') != 0 &&
                writeLineEnd_) [[unlikely]] {
                blankLineBreaks(at, keep, i, items);
            }
        }
        putBlanksOver(at + keep, width - keep);
        at += width;
    }
    line_.commit(at);
    if (!file_.writeCheckedLine(line_, writeLineEnd_)) return false;
    if (anyCut) [[unlikely]] {
        warnCutFields(items);
    }
    return true;
}

void DTS_TxtFixedDest::warnCutFields(const StepOutputItems* items) {
    ValueTextBuffer buffer;
    for (int i = 0; i < core_.fieldCount(); ++i) {
        const std::string_view text = destValueText(core_.fieldValue(items, i), buffer);
        if (text.size() > static_cast<size_t>(fieldWidths_[i])) warnCut(items, i, text);
    }
}

void DTS_TxtFixedDest::warnCut(const StepOutputItems* items, int field, std::string_view text) {
    const StepOutputItem* item = core_.fieldItem(items, field);
    warnings_.cut(core_.rowCount(), field, item != nullptr ? item->name.view() : std::string_view(),
                  "WIDTH", fieldWidths_[field], text);
}

void DTS_TxtFixedDest::blankLineBreaks(char* text, size_t size, int field,
                                       const StepOutputItems* items) {
    bool any = false;
    for (size_t i = 0; i < size; ++i) {
        if (text[i] == '\r' || text[i] == '\n') {
            text[i] = ' ';
            any = true;
        }
    }
    if (!any) return;
    ValueTextBuffer buffer;
    const StepOutputItem* item = core_.fieldItem(items, field);
    warnings_.broken(core_.rowCount(), field,
                     item != nullptr ? item->name.view() : std::string_view(),
                     destValueText(core_.fieldValue(items, field), buffer), "a line break",
                     "each CR and LF was written as a blank, so that the record stays one line");
}

bool DTS_TxtFixedDest::writeRecordByFields(const StepOutputItems* items) {
    MvbTxtFile* file = file_.get();
    ValueTextBuffer buffer;
    const int fieldCount = core_.fieldCount();
    for (int i = 0; i < fieldCount; ++i) {
        std::string_view text = destValueText(core_.fieldValue(items, i), buffer);
        if (writeLineEnd_ && mvb::scan::holdsLineBreak(text)) [[unlikely]] {
            blanked_.assign(text);
            blankLineBreaks(blanked_.data(), blanked_.size(), i, items);
            text = blanked_;
        }
        bool cut = false;
        if (!file->writePaddedField(text.empty() ? "" : text.data(), static_cast<int>(text.size()),
                                    fieldWidths_[i], &cut)) {
            return false;
        }
        if (cut) [[unlikely]] {
            warnCut(items, i, text);
        }
    }
    return true;
}

bool DTS_TxtFixedDest::writeRow(const StepOutputItems* items) {
    // A field narrower than the character's three bytes drops it whole.
    if (file_.beforeFirstRecord() && core_.fieldCount() != 0 && fieldWidths_[0] >= 3) [[unlikely]] {
        ValueTextBuffer buffer;
        const std::string_view text = destValueText(core_.fieldValue(items, 0), buffer);
        if (file_.markAtTop(text)) {
            const StepOutputItem* item = core_.fieldItem(items, 0);
            warnings_.broken(core_.rowCount(), 0,
                             item != nullptr ? item->name.view() : std::string_view(), text,
                             DestFile::kMarkAtTopWhat, DestFile::kMarkAtTopOutcome);
        }
    }
    if (utf8File_ && writeRecordAtOnce(items)) return true;
    // A failed write leaves nothing of its text in the file.
    if (!writeRecordByFields(items) || (writeLineEnd_ && !file_.get()->writeLine(""))) {
        return file_.fail(core_.host(), core_.rowCount());
    }
    return true;
}

void DTS_TxtFixedDest::describeRun(char* text, size_t size) const {
    std::snprintf(text, size, "Wrote %" PRIu64 " rows to text file", core_.rowCount());
}
