#include "dts_txtfixedsrc.h"

#include <algorithm>
#include <bit>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "mvb/parse.h"
#include "mvb/types.h"
#include "source_progress.h"
#include "source_properties.h"
#include "step_catalogue.h"
#include "step_guard.h"

namespace {

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

enum FieldColumn { kNameColumn, kTypeColumn, kStartPosColumn, kLengthColumn };

constexpr SourceColumnDeclaration kFieldColumns[] = {
    {"NAME", mvbTypeString},
    {"TYPE", mvbTypeString},
    {"START_POS", mvbTypeInteger},
    {"LENGTH", mvbTypeInteger},
};

constexpr SourcePropertyDeclaration kProperties[kPropertyCount] = {
    {"FILENAME", mvbTypeString},
    {"FIELDS", 0, SourceDefault::None, kFieldColumns, 4},
    {"RECORDWIDTH", mvbTypeInteger},
    {"SKIPROWS", mvbTypeInteger},
    {"MAX_OUTPUT_ROWS", mvbTypeInteger},
    {"CRLF_TERMINATE", mvbTypeBoolean},
    {"BYTE_ORDER_MARK", mvbTypeBoolean, SourceDefault::False},
    {"ENCODING", mvbTypeInteger, SourceDefault::MinusOne},
    {"FILENAME_FIELD", mvbTypeString},
    {"REPLACE_NULLS", mvbTypeBoolean},
};

int saturate(int64_t value) {
    return static_cast<int>(std::clamp<int64_t>(value, INT32_MIN, INT32_MAX));
}

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

/// Byte length of `text` without its trailing blanks and tabs. Padding is mostly blanks: eight
/// bytes at a time are looked at while eight remain, and the last byte that is no blank is
/// found in the word without a loop.
[[gnu::always_inline]] inline size_t trimmedLength(const char* text, size_t bytes) {
    static_assert(std::endian::native == std::endian::little);
    constexpr uint64_t kLows = 0x7F7F7F7F7F7F7F7Full;
    constexpr uint64_t kHighs = 0x8080808080808080ull;
    constexpr uint64_t kBlanks = 0x2020202020202020ull;
    constexpr uint64_t kTabs = 0x0909090909090909ull;
    // The high bit of each byte that is not zero, exactly (no carries between bytes).
    const auto nonZero = [](uint64_t v) { return (((v & kLows) + kLows) | v) & kHighs; };
    while (bytes >= 8) {
        uint64_t word;
        std::memcpy(&word, text + bytes - 8, sizeof word);
        const uint64_t kept = nonZero(word ^ kBlanks) & nonZero(word ^ kTabs);
        if (kept != 0) return bytes - static_cast<size_t>(std::countl_zero(kept)) / 8;
        bytes -= 8;
    }
    while (bytes > 0 && isBlank(text[bytes - 1]))
        --bytes;
    return bytes;
}

}  // namespace

StepPluginStep* createTxtFixedSrc() {
    return new DTS_TxtFixedSrc();
}

bool DTS_TxtFixedSrc::initialize(StepHost* host, int* inputCount, int* outputCount) {
    return guardStep(host, false, [&] {
        host_ = host;
        *inputCount = 0;
        *outputCount = 1;
        declareSourceProperties(host_, kProperties, kPropertyCount);
        return true;
    });
}

void DTS_TxtFixedSrc::release() {
    guardStep(host_, false, [&] {
        files_.close();
        return true;
    });
    delete this;
}

int DTS_TxtFixedSrc::prepare(int flags) {
    return guardStep(host_, 0, [&] { return prepareFields(flags); });
}

bool DTS_TxtFixedSrc::start() {
    return guardStep(host_, false, [&] { return startRun(); });
}

int DTS_TxtFixedSrc::processRow(int) {
    return guardStep(host_, 2, [&] { return produceRow(); });
}

void DTS_TxtFixedSrc::finish() {
    guardStep(host_, false, [&] {
        finishRun();
        return true;
    });
}

bool DTS_TxtFixedSrc::getStatus(int* percent, MvbString* text) {
    return guardStep(host_, false, [&] {
        if (expectedRows_ != -1) {
            *percent = formatSourceRowStatus(rowCount_, static_cast<uint64_t>(expectedRows_), text);
        } else {
            *percent = formatSourceByteStatus(files_.file(), rowCount_, text);
        }
        return *percent <= 100;
    });
}

bool DTS_TxtFixedSrc::getProgress(uint64_t* total) {
    return guardStep(host_, false, [&] {
        if (expectedRows_ != -1) {
            *total = static_cast<uint64_t>(expectedRows_);
            return true;
        }
        return estimateSourceRows(files_.file(), rowCount_, total);
    });
}

int DTS_TxtFixedSrc::prepareFields(int flags) {
    const bool validating = (flags & 2) != 0;
    recordExtent_ = 0;
    typeFormats_.reset();
    startOffsets_.reset();
    fieldLengths_.reset();
    PropertyValues* values = host_->getPropertyValues();
    SourceCharSizes sizes;
    if (validating) sizes = probeSourceCharSizes(values, kFileName, kByteOrderMark, kEncoding);

    const MvbString fileNameField = values->getValue(kFileNameField, true).asString();
    PropertyTable* table = values->getTable(kFields);
    fieldCount_ = std::max(table->getRowCount(), 0);
    StepOutputItems* items = createSourceOutput(host_, fieldCount_, fileNameField);
    if (fieldCount_ != 0) {
        typeFormats_.reset(new int[fieldCount_]());
        startOffsets_.reset(new int[fieldCount_]());
        fieldLengths_.reset(new int[fieldCount_]());
    }

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
        const int startPos = table->getCell(kStartPosColumn, i, true).asInt(&unreadable);
        startOffsets_[i] = saturate(int64_t{startPos} - 1);
        if ((unreadable || startOffsets_[i] < 0) && validating) {
            fail(734);
            return 0;
        }
        unreadable = false;
        const int length = table->getCell(kLengthColumn, i, true).asInt(&unreadable);
        fieldLengths_[i] = length;
        if ((unreadable || length < 1) && validating) {
            fail(721, item.name.view());
            return 0;
        }
        if (item.type == mvbTypeString) {
            item.length = sizes.minimum > 0 ? length / sizes.minimum : length;
            item.byteSize =
                saturatedProduct(length, sizes.maximum > 0 ? sizes.maximum : kUnknownCharSize);
        } else {
            item.length = 0;
            item.byteSize = 0;
        }
        recordExtent_ = std::max(recordExtent_, saturate(int64_t{startOffsets_[i]} + length));
    }
    fileNameFieldIndex_ = declareFileNameField(items, fieldCount_, fileNameField);
    return (flags & 1) != 0 ? 3 : 7;
}

bool DTS_TxtFixedSrc::startRun() {
    files_.close();
    rowCount_ = 0;
    expectedRows_ = -1;
    rowsToSkip_ = 0;
    warnings_.begin(host_, "src/dts_txtfixedsrc", fieldCount_);
    host_->getOutputRow();

    PropertyValues* values = host_->getPropertyValues();
    bool unreadable = false;
    recordWidth_ = values->getValue(kRecordWidth, true).asInt(&unreadable);
    if (unreadable) {
        fail(735);
        return false;
    }
    lineMode_ = values->getValue(kCrlfTerminate, true).asBool(&unreadable);
    if (unreadable) {
        fail(736);
        return false;
    }
    if (recordWidth_ == 0) {
        fail(737);
        return false;
    }
    if (recordWidth_ < recordExtent_) {
        fail(738);
        return false;
    }
    if (!checkFieldOrder()) return false;
    skipRows_ = values->getValue(kSkipRows, true).asInt(&unreadable);
    if (unreadable) {
        fail(723);
        return false;
    }
    maxOutputRows_ = values->getValue(kMaxOutputRows, true).asInt(&unreadable);
    if (unreadable) {
        fail(739);
        return false;
    }
    const MvbString fileName = values->getValue(kFileName, true).asString();
    if (fileName.empty()) {
        fail(726);
        return false;
    }
    MvbString errorText;
    switch (files_.select(fileName.asCstr(), errorText)) {
        case FileSetStep::Ready:
            break;
        case FileSetStep::Finished:
            fail(97, fileName.view());
            return false;
        case FileSetStep::Failed:
            host_->reportError(errorText);
            return false;
    }
    const SourceOpenSettings settings =
        readSourceOpenSettings(values, kByteOrderMark, kReplaceNulls, kEncoding);
    if (!files_.openSelected(settings, errorText)) {
        host_->reportError(errorText);
        return false;
    }

    if (!lineMode_) {
        // Records of the first file after its head records; never negative, since more head
        // records than the file holds leave none.
        const int64_t records = static_cast<int64_t>(files_.file()->getSize()) / recordWidth_;
        expectedRows_ = std::max<int64_t>(records - skipRows_, 0);
    }
    return skipHeadRecords();
}

bool DTS_TxtFixedSrc::checkFieldOrder() {
    // The file is read forwards only: a field that starts before the end of the one before it
    // (or before the record) cannot be reached, and asking the file to skip backwards would
    // read the wrong bytes or, with a distance of -1, drop the rest of the line.
    int reached = 0;
    for (int i = 0; i < fieldCount_; ++i) {
        if (startOffsets_[i] < reached) {
            const MvbString name = host_->getPropertyValues()
                                       ->getTable(kFields)
                                       ->getCell(kNameColumn, i, true)
                                       .asString();
            const std::string text =
                "Text Plugin: field " + std::string(name.view()) + " starts at START_POS " +
                std::to_string(int64_t{startOffsets_[i]} + 1) +
                ", inside the record part that the fields before it cover: list FIELDS in "
                "record order, without overlaps. (src/dts_txtfixedsrc)";
            host_->reportError(MvbString(text));
            return false;
        }
        reached = saturate(int64_t{startOffsets_[i]} + fieldLengths_[i]);
    }
    return true;
}

bool DTS_TxtFixedSrc::skipHeadRecords() {
    rowsToSkip_ = 0;
    if (skipRows_ == 0) return true;
    if (lineMode_) {
        rowsToSkip_ = skipRows_;
        return true;
    }
    if (files_.file()->skipRecords(recordWidth_, skipRows_)) return true;
    reportFileError();
    return false;
}

int DTS_TxtFixedSrc::produceRow() {
    const uint64_t reportInterval = expectedRows_ == -1
                                        ? kUnknownTotalReportInterval
                                        : static_cast<uint64_t>(expectedRows_) / 100;
    if (maxOutputRows_ != 0 &&
        rowCount_ == static_cast<uint64_t>(static_cast<int64_t>(maxOutputRows_))) {
        expectedRows_ = static_cast<int64_t>(rowCount_);
        return 1;
    }
    // No file is open once the last one has ended, or after a reported failure.
    if (files_.file() == nullptr) return 1;
    StepOutputItem* items = host_->getOutputRow()->items;

    for (;;) {
        MvbTxtFile* file = files_.file();
        const Record record =
            lineMode_ ? readLineRecord(items, file) : readBlockRecord(items, file);
        if (record == Record::Produced) break;
        if (record == Record::Failed) {
            reportFileError();
            return 2;
        }
        const int next = openNextFile();
        if (next != 0) return next;
    }

    if (fileNameFieldIndex_ != -1) items[fileNameFieldIndex_].value.assign(files_.currentName());
    ++rowCount_;
    if (reportInterval != 0 && rowCount_ % reportInterval == 0 && !host_->shouldContinue()) {
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
        const int got = file->readInLine(fieldLengths_[i], &text, &lineEnded);
        if (got < 0) return Record::Failed;
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
        const int got = file->read(fieldLengths_[i], &text);
        if (got < 0) return Record::Failed;
        position += got;
        if (got == 0) {
            if (i == 0) return Record::EndOfFile;
            ended = true;
            item.value.setNull();
            continue;
        }
        assignField(item, i, text);
    }
    if (position < recordWidth_) {
        // The rest of a short record at the end of the file is simply not there.
        const int skipped = file->skip(recordWidth_ - position, nullptr);
        // Without fields nothing else can tell that the file has ended.
        if (fieldCount_ == 0 && skipped <= 0) {
            return skipped < 0 ? Record::Failed : Record::EndOfFile;
        }
    }
    return Record::Produced;
}

void DTS_TxtFixedSrc::assignField(StepOutputItem& item, int field, const MvbTextSpan& text) {
    std::string_view value(text.text, trimmedLength(text.text, static_cast<size_t>(text.bytes)));
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
    FieldOutcome outcome = converter_.convert(item, typeFormats_[field], value);
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
    return value.substr(0, trimmedLength(value.data(), value.size()));
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
            host_->reportError(errorText);
            return 2;
    }
    return skipHeadRecords() ? 0 : 2;
}

void DTS_TxtFixedSrc::reportFileError() {
    MvbString errorText;
    if (files_.file() != nullptr) files_.file()->getLastError(errorText);
    host_->reportError(errorText);
}

void DTS_TxtFixedSrc::finishRun() {
    files_.close();
    host_->reportInfo(MvbString("Input file: ", true), true);
    host_->reportInfo(host_->getPropertyValues()->getValue(kFileName, true).asString(), false);
    char text[64];
    std::snprintf(text, sizeof text, "%" PRIu64 " rows read", rowCount_);
    host_->reportInfo(MvbString(text, false), false);
    warnings_.reportSummary(false);
}
