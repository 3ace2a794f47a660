#include "dts_txtfixedsrc.h"

#include <algorithm>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "mvb/byte_scan.h"
#include "mvb/parse.h"
#include "mvb/types.h"
#include "source_part.h"
#include "source_progress.h"
#include "step_catalogue.h"
#include "step_properties.h"

namespace {

using Settings = FixedSourceSettings;
using Kind = PropertyKind;

enum Property {
    kFileName,
    kFields,
    kRecordWidth,
    kSkipRows,
    kMaxOutputRows,
    kCrlfTerminate,
    kByteOrderMark,
    kEncoding,
    kFileNameField,
    kReplaceNulls,
    kPropertyCount
};
static_assert(kFileName == 0, "the run summary reads FILENAME at index 0");

enum FieldColumn { kNameColumn, kTypeColumn, kStartPosColumn, kLengthColumn };

constexpr PropertyColumn kFieldColumns[] = {
    {"NAME", mvbTypeString},
    {"TYPE", mvbTypeString},
    {"START_POS", mvbTypeInteger},
    {"LENGTH", mvbTypeInteger},
};

constexpr PropertyRow<Settings> kProperties[kPropertyCount] = {
    kSourceFileNameRow<Settings>,
    {.name = "FIELDS",
     .kind = Kind::Table,
     .description = "one row per output field: NAME, TYPE, START_POS (from 1) and LENGTH in bytes",
     .columns = kFieldColumns},
    {.name = "RECORDWIDTH",
     .kind = Kind::Integer,
     .message = 735,
     .required = true,
     .number = &Settings::recordWidth,
     .description = "bytes of one record; must be given, and reach past the last field"},
    {.name = "SKIPROWS",
     .kind = Kind::Integer,
     .message = 723,
     .number = &Settings::skipRows,
     .description = "head records (lines with CRLF_TERMINATE) skipped in every file"},
    {.name = "MAX_OUTPUT_ROWS",
     .kind = Kind::Integer,
     .message = 739,
     .number = &Settings::maxOutputRows,
     .description = "stop after this many rows; 0 reads every row"},
    {.name = "CRLF_TERMINATE",
     .kind = Kind::Boolean,
     .message = 736,
     .flag = &Settings::lineMode,
     .description = "each line is one record, whatever its length"},
    kSourceByteOrderMarkRow<Settings>,
    kSourceEncodingRow<Settings>,
    kSourceFileNameFieldRow<Settings>,
    kSourceReplaceNullsRow<Settings>,
};

/// The order in which start reads and checks the settings.
constexpr int kStartOrder[] = {kRecordWidth,   kCrlfTerminate, kStepChecks,
                               kSkipRows,      kMaxOutputRows, kFileName,
                               kByteOrderMark, kReplaceNulls,  kEncoding};

int saturate(int64_t value) {
    return static_cast<int>(std::clamp<int64_t>(value, INT32_MIN, INT32_MAX));
}

}  // namespace

StepPluginStep* createTxtFixedSrc() {
    return new DTS_TxtFixedSrc();
}

DTS_TxtFixedSrc::DTS_TxtFixedSrc() noexcept
    : TextSource("src/dts_txtfixedsrc", kStepPropertyTable<Settings, kProperties>) {}

bool DTS_TxtFixedSrc::statusOf(int* percent, MvbString* text) {
    if (expectedRows_ != -1) {
        *percent = formatSourceRowStatus(rowCount_, static_cast<uint64_t>(expectedRows_), text);
    } else {
        *percent = formatSourceByteStatus(files_.file(), rowCount_, text);
    }
    return *percent <= 100;
}

bool DTS_TxtFixedSrc::progressOf(uint64_t* total) {
    if (expectedRows_ != -1) {
        *total = static_cast<uint64_t>(expectedRows_);
        return true;
    }
    return estimateSourceRows(files_.file(), rowCount_, total);
}

int DTS_TxtFixedSrc::prepareStep(int flags) {
    const bool validating = (flags & 2) != 0;
    recordExtent_ = 0;
    typeFormats_.reset();
    startOffsets_.reset();
    fieldLengths_.reset();
    fieldTexts_.reset();
    PropertyValues* values = host()->getPropertyValues();
    SourceCharSizes sizes;
    if (validating) sizes = probeSourceCharSizes(values, kFileName, kByteOrderMark, kEncoding);

    const MvbString fileNameField = values->getValue(kFileNameField, true).asString();
    PropertyTable* table = values->getTable(kFields);
    fieldCount_ = std::max(table->getRowCount(), 0);
    StepOutputItems* items = createSourceOutput(host(), fieldCount_, fileNameField);
    if (fieldCount_ != 0) {
        typeFormats_.reset(new int[fieldCount_]());
        startOffsets_.reset(new int[fieldCount_]());
        fieldLengths_.reset(new int[fieldCount_]());
        fieldTexts_.reset(new MvbTextSpan[fieldCount_]());
    }

    // Records of a width that is no whole number of the encoding's units start at another
    // place in a unit from one record to the next, and so does each field's first byte (read
    // leniently here: start checks both settings).
    bool ignored = false;
    const int recordWidth = values->getValue(kRecordWidth, true).asInt(&ignored);
    const bool lineMode = values->getValue(kCrlfTerminate, true).asBool(&ignored);
    const int64_t unit = sizes.minimum > 0 ? sizes.minimum : 1;
    const bool recordsShift = !lineMode && recordWidth % unit != 0;

    for (int i = 0; i < fieldCount_; ++i) {
        StepOutputItem& item = items->items[i];
        item.name = table->getCell(kNameColumn, i, true).asString();
        item.type = mvbTypeFromString(table->getCell(kTypeColumn, i, true).asString().asCstr(),
                                      &typeFormats_[i]);
        if (item.type == mvbTypeNull && validating) {
            fail(268, item.name.view());
            return 0;
        }
        bool unreadable = false;
        const int startPos = readWholeCell(table->getCell(kStartPosColumn, i, true), &unreadable);
        startOffsets_[i] = saturate(int64_t{startPos} - 1);
        if ((unreadable || startOffsets_[i] < 0) && validating) {
            fail(734);
            return 0;
        }
        unreadable = false;
        const int length = readWholeCell(table->getCell(kLengthColumn, i, true), &unreadable);
        fieldLengths_[i] = length;
        if ((unreadable || length < 1) && validating) {
            fail(721, item.name.view());
            return 0;
        }
        if (item.type == mvbTypeString) {
            // A field whose bytes cut a character holds a replacement for each part of it, so
            // it counts every unit that its bytes touch.
            const int64_t lead = recordsShift ? unit - 1 : startOffsets_[i] % unit;
            item.length = saturate((lead + length + unit - 1) / unit);
            item.byteSize =
                saturatedProduct(length, sizes.maximum > 0 ? sizes.maximum : kUnknownCharSize);
        } else {
            item.length = 0;
            item.byteSize = 0;
        }
        recordExtent_ = std::max(recordExtent_, int64_t{startOffsets_[i]} + length);
    }
    fileNameFieldIndex_ = declareFileNameField(items, fieldCount_, fileNameField);
    return (flags & 1) != 0 ? 3 : 7;
}

bool DTS_TxtFixedSrc::startStep() {
    files_.close();
    rowCount_ = 0;
    expectedRows_ = -1;
    rowsToSkip_ = 0;
    warnings_.begin(host(), messages().sourceFile(), fieldCount_);
    host()->getOutputRow();

    settings_ = Settings{};
    if (!readSettings<Settings>(messages(), kProperties, kStartOrder, settings_,
                                [&] { return checkRecordLayout(); })) {
        return false;
    }
    if (!openSourceFiles(files_, settings_, messages())) return false;
    const RecordLayout layout{nullptr, settings_.lineMode ? 0 : settings_.recordWidth,
                              settings_.skipRows, settings_.maxOutputRows};
    PartReading part;
    if (!readSourcePart(files_, layout, host(), &part)) return false;
    // A part of a job may have been dealt no file, or none of its one file.
    if (files_.file() == nullptr) return true;

    if (!settings_.lineMode && !part.ranged) {
        // Records of the first file after its head records; never negative, since more head
        // records than the file holds leave none.
        const int64_t records =
            static_cast<int64_t>(files_.file()->getSize()) / settings_.recordWidth;
        expectedRows_ = std::max<int64_t>(records - settings_.skipRows, 0);
    }
    return !part.skipsHead || skipHeadRecords();
}

bool DTS_TxtFixedSrc::checkRecordLayout() {
    if (settings_.recordWidth == 0) {
        fail(737);
        return false;
    }
    if (settings_.recordWidth < recordExtent_) {
        fail(738);
        return false;
    }
    return checkFieldOrder();
}

bool DTS_TxtFixedSrc::checkFieldOrder() {
    // The file is read forwards only: a field that starts before the end of the one before it
    // (or before the record) cannot be reached, and asking the file to skip backwards would
    // read the wrong bytes or, with a distance of -1, drop the rest of the line.
    int reached = 0;
    for (int i = 0; i < fieldCount_; ++i) {
        if (startOffsets_[i] < reached) {
            const MvbString name = host()
                                       ->getPropertyValues()
                                       ->getTable(kFields)
                                       ->getCell(kNameColumn, i, true)
                                       .asString();
            fail(800, name.view(), std::to_string(int64_t{startOffsets_[i]} + 1));
            return false;
        }
        reached = saturate(int64_t{startOffsets_[i]} + fieldLengths_[i]);
    }
    return true;
}

bool DTS_TxtFixedSrc::skipHeadRecords() {
    rowsToSkip_ = 0;
    if (settings_.skipRows == 0) return true;
    // A negative SKIPROWS skips every record of every file, as it skips every line.
    if (settings_.lineMode || settings_.skipRows < 0) {
        rowsToSkip_ = settings_.skipRows;
        return true;
    }
    if (files_.file()->skipRecords(settings_.recordWidth, settings_.skipRows)) return true;
    reportFileError();
    return false;
}

int DTS_TxtFixedSrc::produceRow() {
    const uint64_t reportInterval = expectedRows_ == -1
                                        ? kUnknownTotalReportInterval
                                        : static_cast<uint64_t>(expectedRows_) / 100;
    if (settings_.maxOutputRows != 0 &&
        rowCount_ == static_cast<uint64_t>(static_cast<int64_t>(settings_.maxOutputRows))) {
        expectedRows_ = static_cast<int64_t>(rowCount_);
        return 1;
    }
    // No file is open once the last one has ended, or after a reported failure.
    if (files_.file() == nullptr) return 1;
    StepOutputItem* items = host()->getOutputRow()->items;

    for (;;) {
        MvbTxtFile* file = files_.file();
        const Record record =
            settings_.lineMode ? readLineRecord(items, file) : readBlockRecord(items, file);
        if (record == Record::Produced) break;
        if (record == Record::Failed) {
            reportFileError();
            return 2;
        }
        const int next = openNextFile();
        if (next != 0) return next;
    }

    if (fileNameFieldIndex_ != -1) {
        if (files_.takeMendedName()) [[unlikely]]
            warnOfMendedName(host(), files_.currentName());
        items[fileNameFieldIndex_].value.assign(files_.currentName());
    }
    ++rowCount_;
    if (reportInterval != 0 && rowCount_ % reportInterval == 0 && !host()->shouldContinue()) {
        fail(421);
        return 2;
    }
    return 0;
}

DTS_TxtFixedSrc::Record DTS_TxtFixedSrc::readLineRecord(StepOutputItem* items, MvbTxtFile* file) {
    bool lineEnded = false;
    while (rowsToSkip_ != 0) {
        lineEnded = false;
        const int skipped = file->skip(-1, &lineEnded);
        if (skipped < 0) return Record::Failed;
        // An empty head line is a line too; only nothing at all is the end of the file.
        if (skipped == 0 && !lineEnded) return Record::EndOfFile;
        // A negative SKIPROWS never counts down to 0: every line of every file is skipped.
        if (rowsToSkip_ > 0) --rowsToSkip_;
    }

    // Most lines are read whole, their fields taken from the file's buffer at once.
    if (fieldCount_ != 0 && file->readLineFields(fieldCount_, startOffsets_.get(),
                                                 fieldLengths_.get(), fieldTexts_.get())) {
        for (int i = 0; i < fieldCount_; ++i) {
            if (fieldTexts_[i].bytes == 0) {
                items[i].value.setNull();
            } else {
                assignField<true>(items[i], i, fieldTexts_[i]);
            }
        }
        return Record::Produced;
    }

    lineEnded = false;
    int position = 0;
    for (int i = 0; i < fieldCount_; ++i) {
        StepOutputItem& item = items[i];
        if (lineEnded) {
            item.value.setNull();
            continue;
        }
        const int offset = startOffsets_[i];
        if (offset != position) {
            const int skipped = file->skip(offset - position, &lineEnded);
            if (skipped < 0) return Record::Failed;
            position += skipped;
            if (lineEnded) {
                item.value.setNull();
                continue;
            }
        }
        MvbTextSpan text;
        const uint64_t cutBefore = file->getCutCharacters();
        const int got = file->readInLine(fieldLengths_[i], &text, &lineEnded);
        if (got < 0) return Record::Failed;
        warnIfCut(file, cutBefore, i, item, text);
        position += got;
        if (got == 0) {
            // Only a line with nothing at all is the end of the file: a last line without a
            // line end that ends before the first field is a row, as it is with one.
            if (!lineEnded && position == 0) return Record::EndOfFile;
            lineEnded = true;
            item.value.setNull();
            continue;
        }
        assignField(item, i, text);
    }
    if (!lineEnded) {
        const int skipped = file->skip(-1, &lineEnded);
        if (skipped < 0) return Record::Failed;
        // Without fields nothing else can tell that the file has ended.
        if (fieldCount_ == 0 && skipped == 0 && !lineEnded) return Record::EndOfFile;
    }
    return Record::Produced;
}

DTS_TxtFixedSrc::Record DTS_TxtFixedSrc::readBlockRecord(StepOutputItem* items, MvbTxtFile* file) {
    if (rowsToSkip_ < 0) return Record::EndOfFile;
    bool ended = false;
    int position = 0;
    for (int i = 0; i < fieldCount_; ++i) {
        StepOutputItem& item = items[i];
        if (ended) {
            item.value.setNull();
            continue;
        }
        const int offset = startOffsets_[i];
        if (offset != position) {
            const int skipped = file->skip(offset - position, nullptr);
            if (skipped < 0) return Record::Failed;
            position += skipped;
        }
        MvbTextSpan text;
        const uint64_t cutBefore = file->getCutCharacters();
        const int got = file->read(fieldLengths_[i], &text);
        if (got < 0) return Record::Failed;
        warnIfCut(file, cutBefore, i, item, text);
        position += got;
        if (got == 0) {
            // Only nothing at all is the end of the file: a short last record that ends
            // before the first field is a row of nulls, as a short line is.
            if (i == 0 && position == 0) return Record::EndOfFile;
            ended = true;
            item.value.setNull();
            continue;
        }
        assignField(item, i, text);
    }
    if (position < settings_.recordWidth) {
        // The rest of a short record at the end of the file is simply not there.
        const int skipped = file->skip(settings_.recordWidth - position, nullptr);
        // Without fields nothing else can tell that the file has ended.
        if (fieldCount_ == 0 && skipped <= 0) {
            return skipped < 0 ? Record::Failed : Record::EndOfFile;
        }
    }
    return Record::Produced;
}

void DTS_TxtFixedSrc::warnIfCut(const MvbTxtFile* file, uint64_t cutBefore, int field,
                                const StepOutputItem& item, const MvbTextSpan& text) {
    if (file->getCutCharacters() == cutBefore) [[likely]] {
        return;
    }
    const auto bytes = static_cast<size_t>(text.bytes);
    warnings_.cutCharacter(rowCount_ + 1, field, item.name.view(),
                           {text.text, mvbTrimmedBlankLength(text.text, bytes)});
}

template <bool ReadAhead>
void DTS_TxtFixedSrc::assignField(StepOutputItem& item, int field, const MvbTextSpan& text) {
    std::string_view value(text.text,
                           mvbTrimmedBlankLength(text.text, static_cast<size_t>(text.bytes)));
    // A NUL ends the value. A string takes it in and a date would end there; any other type
    // fails to read a text that holds one, so only then is it looked for.
    if ((item.type == mvbTypeString || item.type == mvbTypeDate) &&
        holdsNul(value.data(), value.size())) [[unlikely]] {
        value = valueBeforeNul(item, field, value);
    }
    if (value.empty()) {
        item.value.setNull();
        return;
    }
    // A value cut before a NUL lies within the text, so it can be read as far as the text.
    FieldOutcome outcome = converter_.convert<ReadAhead>(item, typeFormats_[field], value);
    if (outcome == FieldOutcome::Read) [[likely]] {
        return;
    }
    if (outcome == FieldOutcome::Unreadable && holdsNul(value.data(), value.size())) {
        value = valueBeforeNul(item, field, value);
        if (value.empty()) {
            item.value.setNull();
            return;
        }
        outcome = converter_.convert(item, typeFormats_[field], value);
        if (outcome == FieldOutcome::Read) return;
    }
    warnings_.notRead(rowCount_ + 1, field, item, typeFormats_[field], value, outcome);
}

std::string_view DTS_TxtFixedSrc::valueBeforeNul(const StepOutputItem& item, int field,
                                                 std::string_view text) {
    std::string_view dropped;
    const std::string_view value = cutAtNul(text, text.find('\0'), '\0', &dropped);
    if (!dropped.empty())
        warnings_.droppedAfterNul(rowCount_ + 1, field, item.name.view(), dropped);
    return value.substr(0, mvbTrimmedBlankLength(value.data(), value.size()));
}

int DTS_TxtFixedSrc::openNextFile() {
    MvbString errorText;
    switch (files_.advance(errorText)) {
        case FileSetStep::Ready:
            break;
        case FileSetStep::Finished:
            expectedRows_ = static_cast<int64_t>(rowCount_);
            return 1;
        case FileSetStep::Failed:
            host()->reportError(errorText);
            return 2;
    }
    return skipHeadRecords() ? 0 : 2;
}
