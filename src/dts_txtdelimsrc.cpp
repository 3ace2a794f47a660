#include "dts_txtdelimsrc.h"

#include <algorithm>
#include <cinttypes>
#include <climits>
#include <cstdio>
#include <cstring>
#include <new>

#include "mvb/byte_scan.h"
#include "mvb/parse.h"
#include "mvb/types.h"
#include "source_part.h"
#include "step_catalogue.h"
#include "step_properties.h"

namespace {

using Settings = DelimSourceSettings;
using Kind = PropertyKind;

enum Property {
    kFileName,
    kFields,
    kDelimiter,
    kQuote,
    kSkipRows,
    kPreserveWhitespace,
    kMaxOutputRows,
    kUnescapeBackslash,
    kByteOrderMark,
    kEncoding,
    kFileNameField,
    kReplaceNulls,
    kNewlinesInValues,
    kPropertyCount
};
static_assert(kFileName == 0, "the run summary reads FILENAME at index 0");

constexpr PropertyColumn kFieldColumns[] = {
    {"NAME", mvbTypeString},
    {"TYPE", mvbTypeString},
    {"MAX_LENGTH", mvbTypeInteger},
};

constexpr PropertyRow<Settings> kProperties[kPropertyCount] = {
    kSourceFileNameRow<Settings>,
    {.name = "FIELDS",
     .kind = Kind::Table,
     .description = "one row per output field: NAME, TYPE and MAX_LENGTH in characters",
     .columns = kFieldColumns},
    {.name = "DELIMITER",
     .kind = Kind::Delimiter,
     .message = 57,
     .number = &Settings::delimiterCode,
     .description = "the field delimiter: its first character, or 0x and a hexadecimal code"},
    {.name = "QUOTE",
     .kind = Kind::Character,
     .number = &Settings::quoteCode,
     .description = "the character that encloses a field holding delimiters: its first character"},
    {.name = "SKIPROWS",
     .kind = Kind::Integer,
     .message = 723,
     .number = &Settings::skipRows,
     .description = "head lines skipped in every file (a header line too); negative skips all"},
    {.name = "PRESERVE_WHITESPACE",
     .kind = Kind::Boolean,
     .message = 724,
     .declaresDefault = true,
     .flag = &Settings::preserveWhitespace,
     .description = "keep the blanks around unquoted values"},
    {.name = "MAX_OUTPUT_ROWS",
     .kind = Kind::Integer,
     .message = 270,
     .number = &Settings::maxOutputRows,
     .description = "stop after this many rows; 0 or negative reads every row"},
    {.name = "UNESCAPE_BACKSLASH",
     .kind = Kind::Boolean,
     .message = 725,
     .declaresDefault = true,
     .flag = &Settings::unescapeBackslash,
     .description = "read backslash escapes (\\n, \\t, \\\\, ...) in values"},
    kSourceByteOrderMarkRow<Settings>,
    kSourceEncodingRow<Settings>,
    kSourceFileNameFieldRow<Settings>,
    kSourceReplaceNullsRow<Settings>,
    {.name = "NEWLINES_IN_VALUES",
     .kind = Kind::Boolean,
     .message = 830,
     .declaresDefault = true,
     .flag = &Settings::newlinesInValues,
     .description = "a quoted value may hold line ends: a record goes on to the closing quote"},
};

/// The order in which start reads and checks the settings; the files are opened in between.
constexpr int kStartOrder[] = {kSkipRows,          kMaxOutputRows,    kPreserveWhitespace,
                               kUnescapeBackslash, kNewlinesInValues, kFileName,
                               kByteOrderMark,     kReplaceNulls,     kEncoding,
                               kStepChecks,        kDelimiter,        kQuote};

constexpr int kInitialScratchCapacity = 1024;
/// Bytes of the scratch line's storage past its capacity and NUL: a field's text can be read
/// as a block of mvb::TextBytes::kPaddedReadBytes from its start, wherever it lies.
constexpr size_t kScratchReadAhead = mvb::TextBytes::kPaddedReadBytes;
constexpr uint64_t kStopCheckInterval = 1000;

}  // namespace

StepPluginStep* createTxtDelimSrc() {
    return new DTS_TxtDelimSrc();
}

DTS_TxtDelimSrc::DTS_TxtDelimSrc() noexcept
    : TextSource("src/dts_txtdelimsrc", kStepPropertyTable<Settings, kProperties>) {}

bool DTS_TxtDelimSrc::statusOf(int* percent, MvbString* text) {
    if (done_) {
        *percent = 100;
        text->assign("Complete");
        return true;
    }
    *percent = formatSourceByteStatus(files_.file(), rowCount_, text);
    return true;
}

bool DTS_TxtDelimSrc::progressOf(uint64_t* total) {
    if (totalRows_ != kUnknownRows) {
        *total = totalRows_;
        return true;
    }
    return estimateSourceRows(files_.file(), rowCount_, total);
}

int DTS_TxtDelimSrc::prepareStep(int flags) {
    const bool validating = (flags & 2) != 0;
    typeFormats_.reset();
    PropertyValues* values = host()->getPropertyValues();
    SourceCharSizes sizes;
    if (validating) sizes = probeSourceCharSizes(values, kFileName, kByteOrderMark, kEncoding);
    const int bytesPerChar = sizes.maximum == -1 ? kUnknownCharSize : sizes.maximum;

    const MvbString fileNameField = values->getValue(kFileNameField, true).asString();
    PropertyTable* table = values->getTable(kFields);
    fieldCount_ = table->getRowCount();
    if (fieldCount_ < 0) fieldCount_ = 0;
    StepOutputItems* items = createSourceOutput(host(), fieldCount_, fileNameField);
    if (fieldCount_ != 0) typeFormats_.reset(new int[fieldCount_]());

    for (int i = 0; i < fieldCount_; ++i) {
        StepOutputItem& item = items->items[i];
        item.name = table->getCell(0, i, true).asString();
        item.type =
            mvbTypeFromString(table->getCell(1, i, true).asString().asCstr(), &typeFormats_[i]);
        if (item.type == mvbTypeNull && validating) {
            fail(268, item.name.view());
            return 0;
        }
        bool unreadable = false;
        item.length = readWholeCell(table->getCell(2, i, true), &unreadable);
        item.byteSize = saturatedProduct(item.length, bytesPerChar);
        if (unreadable && validating) {
            fail(721, item.name.view());
            return 0;
        }
        if (item.length < 1 && item.type == mvbTypeString) {
            fail(722, item.name.view());
            return 0;
        }
    }
    fileNameFieldIndex_ = declareFileNameField(items, fieldCount_, fileNameField);
    return (flags & 1) != 0 ? 3 : 7;
}

bool DTS_TxtDelimSrc::startStep() {
    files_.close();
    rowCount_ = 0;
    totalRows_ = kUnknownRows;
    warnings_.begin(host(), messages().sourceFile(), fieldCount_);
    done_ = false;
    host()->getOutputRow();

    // One pointer more than FIELDS: a line that holds more fields is told from one that holds
    // exactly as many.
    const auto fields = static_cast<size_t>(fieldCount_) + 1;
    if (!fieldPointers_.allocate(fields) || !fieldLengths_.allocate(fields)) {
        fail(29, "(Field array)");
        return false;
    }
    scratchCapacity_ = 0;
    if (!scratchLine_.allocate(kInitialScratchCapacity + 1 + kScratchReadAhead)) {
        fail(29, "(Scratch line)");
        return false;
    }
    scratchCapacity_ = kInitialScratchCapacity;

    settings_ = Settings{};
    if (!readSettings<Settings>(messages(), kProperties, kStartOrder, settings_,
                                [&] { return openSourceFiles(files_, settings_, messages()); })) {
        return false;
    }
    parseFlags_ = (settings_.preserveWhitespace ? MVS_PARSE_KEEP_BLANKS : 0u) |
                  (settings_.unescapeBackslash ? MVS_PARSE_UNESCAPE : 0u);
    quoting_ = MvbRecordQuoting{settings_.delimiterCode, settings_.quoteCode, parseFlags_};
    mvs_split_prepare(settings_.delimiterCode, settings_.quoteCode, parseFlags_, &splitPlan_);
    delimiter_ = characterText(settings_.delimiterCode);
    // A quote that is also the delimiter quotes nothing.
    quote_ = settings_.quoteCode != 0 && settings_.quoteCode != settings_.delimiterCode
                 ? characterText(settings_.quoteCode)
                 : std::string();
    if (settings_.quoteCode != 0 && quote_.empty()) {
        host()->getLog()->logMessage(
            1, MvbString("QUOTE \"" + delimiter_ +
                         "\" is also the DELIMITER: it encloses nothing, and every one splits "
                         "the line"));
    }
    quoteLead_ = quote_.empty() ? '\0' : quote_[0];
    const RecordLayout layout{settings_.newlinesInValues ? &quoting_ : nullptr, 0,
                              settings_.skipRows, settings_.maxOutputRows};
    PartReading part;
    if (!readSourcePart(files_, layout, host(), &part)) return false;
    rowsToSkip_ = part.skipsHead ? settings_.skipRows : 0;
    return true;
}

int DTS_TxtDelimSrc::produceRow() {
    if (done_) return 1;
    if (settings_.maxOutputRows != 0 &&
        rowCount_ == static_cast<uint64_t>(static_cast<int64_t>(settings_.maxOutputRows))) {
        totalRows_ = rowCount_;
        files_.closeFile();
        done_ = true;
        return 1;
    }
    MvbTxtFile* file = files_.file();
    // No file is open after a failed start or after the next file of a listing failed to
    // open; both were reported, and there is nothing more to read.
    if (file == nullptr) return 1;
    StepOutputItems* row = host()->getOutputRow();

    MvbTextSpan line;
    int lineBytes = 0;
    for (;;) {
        bool present = false;
        // Skipped head lines are physical lines, even where a quote would join them.
        lineBytes = settings_.newlinesInValues && rowsToSkip_ == 0
                        ? file->readRecord(quoting_, &line, &present)
                        : file->readLine(-1, &line, &present);
        if (lineBytes < 0) [[unlikely]] {
            reportFileError();
            return 2;
        }
        if (lineBytes == 0 && !present) {
            MvbString errorText;
            switch (files_.advance(errorText)) {
                case FileSetStep::Ready:
                    file = files_.file();
                    rowsToSkip_ = settings_.skipRows;
                    continue;
                case FileSetStep::Finished:
                    totalRows_ = rowCount_;
                    done_ = true;
                    return 1;
                case FileSetStep::Failed:
                    host()->reportError(errorText);
                    return 2;
            }
        }
        if (rowsToSkip_ == 0) break;
        // A negative SKIPROWS never counts down to 0: every line of every file is skipped.
        if (rowsToSkip_ > 0) --rowsToSkip_;
    }

    if (lineBytes > scratchCapacity_) [[unlikely]] {
        if (!growScratchLine(lineBytes)) {
            fail(29, "(Scratch line)");
            return 2;
        }
    }
    char* scratch = scratchLine_.get();
    // One pass copies the line and tells whether it holds a NUL or the quote's first byte: a
    // line without that byte has no quoted field to split or to check after its quote.
    const unsigned holds = mvb::scan::copyFinding(scratch, line.text,
                                                  static_cast<size_t>(lineBytes), '\0', quoteLead_);
    scratch[lineBytes] = '\0';
    // A NUL ends its field's value; marked, it no longer ends the field's text, so that what
    // follows it inside the field can be told from the next field.
    const bool hasNul = (holds & 1u) != 0;
    const bool hasQuote = !quote_.empty() && (holds & 2u) != 0;
    if (hasNul) [[unlikely]] {
        std::replace(scratch, scratch + lineBytes, '\0', kNulMark);
    }
    char** fields = fieldPointers_.get();
    int* lengths = fieldLengths_.get();
    bool textAfterQuote = false;
    int found = mvs_split_planned(&splitPlan_, scratch, lineBytes, fields, lengths, fieldCount_ + 1,
                                  hasQuote ? 0u : MVS_PARSE_NO_QUOTE_BYTE, &textAfterQuote);
    if (found < fieldCount_) [[unlikely]] {
        warnMissingFields();
    } else if (found > fieldCount_) [[unlikely]] {
        found = fieldCount_;
        if (fieldCount_ != 0) checkExtraFields(line.text, lineBytes, hasQuote);
    }
    if (textAfterQuote) [[unlikely]] {
        checkAfterQuotes(scratch, std::string_view(line.text, static_cast<size_t>(lineBytes)),
                         found);
    }

    StepOutputItem* items = row->items;
    // Held here: the values' stores could, as far as the compiler knows, change the members.
    const int fieldCount = fieldCount_;
    const int present = found < fieldCount ? found : fieldCount;
    if (hasNul) [[unlikely]] {
        for (int i = 0; i < present; ++i)
            convertField(items[i], i, valueBeforeNul(items[i], i, fieldText(i)));
    } else {
        const int* const formats = typeFormats_.get();
        for (int i = 0; i < present; ++i) {
            // Every field lies in the scratch line, which can be read past its end.
            const FieldOutcome outcome = converter_.convert<true>(
                items[i], formats[i], {fields[i], static_cast<size_t>(lengths[i])});
            // The text is found again for the warning, so that the loop keeps nothing across
            // the conversion.
            if (outcome != FieldOutcome::Read) [[unlikely]] {
                warnNotRead(items[i], i, fieldText(i), outcome);
            }
        }
    }
    for (int i = present; i < fieldCount; ++i)
        items[i].value.setNull();
    if (fileNameFieldIndex_ != -1) {
        if (files_.takeMendedName()) [[unlikely]]
            warnOfMendedName(host(), files_.currentName());
        items[fileNameFieldIndex_].value.assign(files_.currentName());
    }

    ++rowCount_;
    if (rowCount_ % kStopCheckInterval == 0 && !host()->shouldContinue()) {
        fail(421);
        return 2;
    }
    return 0;
}

bool DTS_TxtDelimSrc::growScratchLine(int lineBytes) {
    const int capacity = lineBytes + kInitialScratchCapacity;
    // The old buffer stays in place when the larger one cannot be had, so that the step never
    // holds a capacity it does not have.
    if (!scratchLine_.allocate(static_cast<size_t>(capacity) + 1 + kScratchReadAhead)) {
        return false;
    }
    scratchCapacity_ = capacity;
    return true;
}

void DTS_TxtDelimSrc::warnMissingFields() {
    if (warnings_.capped()) return;
    char text[96];
    std::snprintf(text, sizeof text, "Delimited text: Missing field(s) on row %" PRIu64,
                  rowCount_ + 1);
    warnings_.warn(MvbString(text, false));
}

namespace {

bool isBlankText(std::string_view text) noexcept {
    return text.find_first_not_of(" \t") == std::string_view::npos;
}

/// The offset of the first `c` at or after `from` in `line`, or the line's size.
size_t findInLine(std::string_view line, size_t from, char c) noexcept {
    if (from >= line.size()) return line.size();
    const char* end = line.data() + line.size();
    return static_cast<size_t>(mvb::scan::findByte(line.data() + from, end, c) - line.data());
}

/// The text after the closing quote of the quoted field whose text starts at `from` in `line`
/// (just after its opening quote), up to the next delimiter, without blanks around it; empty
/// when there is none or the quote is never closed (`*closes` false). Quotes are read as the
/// splitter reads them: a doubled quote is one quote, and with `escapes` a backslash takes the
/// byte after it.
std::string_view textAfterClosingQuote(std::string_view line, size_t from, std::string_view quote,
                                       std::string_view delimiter, bool escapes, bool* closes) {
    *closes = false;
    // Quotes and delimiters are mostly one byte: those are found and compared as bytes.
    const auto quoteAt = [&](size_t at) {
        return quote.size() == 1 ? at < line.size() && line[at] == quote[0]
                                 : line.compare(at, quote.size(), quote) == 0;
    };
    size_t at = from;
    for (;;) {
        if (escapes) {
            // A backslash takes the byte after it: the bytes are looked at one by one.
            while (at < line.size() && line[at] != quote[0] && line[at] != '\\')
                ++at;
            if (at >= line.size()) return {};
            if (line[at] == '\\') {
                at += 2;
                continue;
            }
            if (!quoteAt(at)) {
                ++at;
                continue;
            }
        } else {
            at = quote.size() == 1 ? findInLine(line, at, quote[0]) : line.find(quote, at);
            if (at >= line.size()) return {};
        }
        at += quote.size();
        if (!quoteAt(at)) break;
        at += quote.size();
    }
    *closes = true;
    size_t end =
        delimiter.size() == 1 ? findInLine(line, at, delimiter[0]) : line.find(delimiter, at);
    if (end == std::string_view::npos) end = line.size();
    std::string_view after = line.substr(at, end - at);
    const size_t first = after.find_first_not_of(" \t");
    if (first == std::string_view::npos) return {};
    after.remove_prefix(first);
    return after.substr(0, after.find_last_not_of(" \t") + 1);
}

}  // namespace

void DTS_TxtDelimSrc::checkExtraFields(const char* line, int lineBytes, bool hasQuote) {
    const std::string_view text(line, static_cast<size_t>(lineBytes));
    if (!hasQuote && !settings_.unescapeBackslash && delimiter_.size() == 1) {
        // Nothing to unquote or unescape: the fields are what lies between the delimiters, and
        // are counted and looked at where they stand, however many a line holds (one of 200 MB
        // of commas would take gigabytes of field pointers).
        const char delimiter = delimiter_[0];
        const int found = static_cast<int>(
            std::min<size_t>(std::count(text.begin(), text.end(), delimiter) + 1, INT_MAX));
        size_t at = 0;
        for (int i = 0; i < fieldCount_; ++i)
            at = text.find(delimiter, at) + 1;
        while (at <= text.size()) {
            const size_t end = std::min(text.find(delimiter, at), text.size());
            std::string_view field = text.substr(at, end - at);
            if (!isBlankText(field)) {
                // As the split gives it: without the blanks around it, unless they are kept.
                if (!settings_.preserveWhitespace) {
                    const size_t first = field.find_first_not_of(" \t");
                    field = field.substr(first, field.find_last_not_of(" \t") - first + 1);
                }
                warnings_.extraFields(rowCount_ + 1, found, fieldCount_, field);
                return;
            }
            at = end + 1;
        }
        return;
    }
    // Rare: the line is split again, whole, to see every extra field.
    extraLine_.assign(line, static_cast<size_t>(lineBytes));
    std::replace(extraLine_.begin(), extraLine_.end(), '\0', kNulMark);
    // A field for each delimiter's first byte, and one more: not a pointer for every byte of
    // a long line (one of 200 MB held 1.6 GB of them).
    const size_t most =
        delimiter_.empty() ? static_cast<size_t>(lineBytes)
                           : static_cast<size_t>(std::count(line, line + lineBytes, delimiter_[0]));
    extraFields_.resize(most + 2);
    const int found = mvs_parse_text_ex2(
        extraLine_.data(), extraFields_.data(), static_cast<int>(extraFields_.size()),
        extraLine_.data(), lineBytes, settings_.delimiterCode, settings_.quoteCode, parseFlags_);
    for (int i = fieldCount_; i < found; ++i) {
        const std::string_view text(extraFields_[i]);
        if (isBlankText(text)) continue;
        warnings_.extraFields(rowCount_ + 1, found, fieldCount_, text);
        return;
    }
}

void DTS_TxtDelimSrc::checkAfterQuotes(const char* scratch, std::string_view line, int found) {
    const std::string_view quote = quote_;
    char* const* fields = fieldPointers_.get();
    for (int i = 0; i < found; ++i) {
        // A quoted field's text starts where it started in the line, just after its opening
        // quote, which the split leaves in place.
        const auto start = static_cast<size_t>(fields[i] - scratch);
        if (start < quote.size() || scratch[start - 1] != quote.back()) continue;
        if (quote.size() > 1 && line.compare(start - quote.size(), quote.size(), quote) != 0)
            continue;
        bool closes = false;
        const std::string_view after = textAfterClosingQuote(line, start, quote, delimiter_,
                                                             settings_.unescapeBackslash, &closes);
        if (!after.empty() || !closes) [[unlikely]] {
            StepOutputItems* row = host()->getOutputRow();
            if (closes) {
                warnings_.afterQuote(rowCount_ + 1, i, row->items[i].name.view(), after);
            } else {
                warnings_.openQuote(rowCount_ + 1, i, row->items[i].name.view());
            }
        }
    }
}

void DTS_TxtDelimSrc::convertField(StepOutputItem& item, int field, std::string_view text) {
    const FieldOutcome outcome = converter_.convert(item, typeFormats_[field], text);
    if (outcome != FieldOutcome::Read) warnNotRead(item, field, text, outcome);
}

void DTS_TxtDelimSrc::warnNotRead(const StepOutputItem& item, int field, std::string_view text,
                                  FieldOutcome outcome) {
    warnings_.notRead(rowCount_ + 1, field, item, typeFormats_[field], text, outcome);
}

std::string_view DTS_TxtDelimSrc::valueBeforeNul(const StepOutputItem& item, int field,
                                                 std::string_view text) {
    const size_t at = text.find(kNulMark);
    if (at == std::string_view::npos) return text;
    std::string_view dropped;
    const std::string_view value = cutAtNul(text, at, kNulMark, &dropped);
    if (!dropped.empty())
        warnings_.droppedAfterNul(rowCount_ + 1, field, item.name.view(), dropped);
    return value;
}

void DTS_TxtDelimSrc::finishStep() {
    TextSource::finishStep();
    done_ = true;
}
