#include "dts_txtdelimsrc.h"

#include <bit>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <new>

#include "mvb/charset.h"
#include "mvb/parse.h"
#include "mvb/types.h"
#include "source_properties.h"
#include "step_catalogue.h"
#include "step_guard.h"

namespace {

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

constexpr SourceColumnDeclaration kFieldColumns[] = {
    {"NAME", mvbTypeString},
    {"TYPE", mvbTypeString},
    {"MAX_LENGTH", mvbTypeInteger},
};

constexpr SourcePropertyDeclaration kProperties[kPropertyCount] = {
    {"FILENAME", mvbTypeString},
    {"FIELDS", 0, SourceDefault::None, kFieldColumns, 3},
    {"DELIMITER", mvbTypeString},
    {"QUOTE", mvbTypeString},
    {"SKIPROWS", mvbTypeInteger},
    {"PRESERVE_WHITESPACE", mvbTypeBoolean, SourceDefault::False},
    {"MAX_OUTPUT_ROWS", mvbTypeInteger},
    {"UNESCAPE_BACKSLASH", mvbTypeBoolean, SourceDefault::False},
    {"BYTE_ORDER_MARK", mvbTypeBoolean, SourceDefault::False},
    {"ENCODING", mvbTypeInteger, SourceDefault::MinusOne},
    {"FILENAME_FIELD", mvbTypeString},
    {"REPLACE_NULLS", mvbTypeBoolean},
    {"NEWLINES_IN_VALUES", mvbTypeBoolean, SourceDefault::False},
};

constexpr int kInitialScratchCapacity = 1024;
/// Bytes past the line's NUL that the scratch line always has, so that a field's length can be
/// found a word at a time without reading outside the buffer. The buffer starts zeroed, so
/// that those loads never see bytes nothing wrote.
constexpr size_t kScratchPadding = 8;
/// Missing-field warnings of one run; the last one is replaced by "Max warning count reached".
constexpr int kMaxWarnings = 1000;
constexpr uint64_t kStopCheckInterval = 1000;

/// Byte length of a NUL-terminated field inside the scratch line. Fields are short, so a word
/// at a time inline beats a call to strlen; the buffer's padding keeps every load inside it.
size_t fieldLength(const char* text) {
    static_assert(std::endian::native == std::endian::little);
    constexpr uint64_t kOnes = 0x0101010101010101ull;
    constexpr uint64_t kHighs = 0x8080808080808080ull;
    for (size_t at = 0;; at += 8) {
        uint64_t word;
        std::memcpy(&word, text + at, sizeof word);
        // The lowest flagged byte is the first NUL; bytes after it may be flagged wrongly,
        // which does not matter.
        const uint64_t zeros = (word - kOnes) & ~word & kHighs;
        if (zeros != 0) return at + static_cast<size_t>(std::countr_zero(zeros)) / 8;
    }
}

bool isUnicodeScalar(unsigned code) {
    return code <= 0x10FFFF && (code < 0xD800 || code > 0xDFFF);
}

}  // namespace

StepPluginStep* createTxtDelimSrc() {
    return new DTS_TxtDelimSrc();
}

bool DTS_TxtDelimSrc::initialize(StepHost* host, int* inputCount, int* outputCount) {
    return guardStep(host, false, [&] {
        host_ = host;
        *inputCount = 0;
        *outputCount = 1;
        declareSourceProperties(host_, kProperties, kPropertyCount);
        return true;
    });
}

void DTS_TxtDelimSrc::release() {
    guardStep(host_, false, [&] {
        files_.close();
        return true;
    });
    delete this;
}

int DTS_TxtDelimSrc::prepare(int flags) {
    return guardStep(host_, 0, [&] { return prepareFields(flags); });
}

bool DTS_TxtDelimSrc::start() {
    return guardStep(host_, false, [&] { return startRun(); });
}

int DTS_TxtDelimSrc::processRow(int) {
    return guardStep(host_, 2, [&] { return produceRow(); });
}

void DTS_TxtDelimSrc::finish() {
    guardStep(host_, false, [&] {
        finishRun();
        return true;
    });
}

bool DTS_TxtDelimSrc::getStatus(int* percent, MvbString* text) {
    return guardStep(host_, false, [&] {
        if (done_) {
            *percent = 100;
            text->assign("Complete");
            return true;
        }
        *percent = formatSourceByteStatus(files_.file(), rowCount_, text);
        return true;
    });
}

bool DTS_TxtDelimSrc::getProgress(uint64_t* total) {
    return guardStep(host_, false, [&] {
        if (totalRows_ != kUnknownRows) {
            *total = totalRows_;
            return true;
        }
        return estimateSourceRows(files_.file(), rowCount_, total);
    });
}

int DTS_TxtDelimSrc::prepareFields(int flags) {
    const bool validating = (flags & 2) != 0;
    typeFormats_.reset();
    PropertyValues* values = host_->getPropertyValues();
    SourceCharSizes sizes;
    if (validating) sizes = probeSourceCharSizes(values, kFileName, kByteOrderMark, kEncoding);
    const int bytesPerChar = sizes.maximum == -1 ? kUnknownCharSize : sizes.maximum;

    const MvbString fileNameField = values->getValue(kFileNameField, true).asString();
    PropertyTable* table = values->getTable(kFields);
    fieldCount_ = table->getRowCount();
    if (fieldCount_ < 0) fieldCount_ = 0;
    StepOutputItems* items = createSourceOutput(host_, fieldCount_, fileNameField);
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
        item.length = table->getCell(2, i, true).asInt(&unreadable);
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

bool DTS_TxtDelimSrc::startRun() {
    files_.close();
    rowCount_ = 0;
    totalRows_ = kUnknownRows;
    warningCount_ = 0;
    done_ = false;
    host_->getOutputRow();

    fieldPointers_.reset(new (std::nothrow) char*[fieldCount_ > 0 ? fieldCount_ : 1]);
    if (fieldPointers_ == nullptr) {
        fail(29, "(Field array)");
        return false;
    }
    scratchCapacity_ = 0;
    scratchLine_.reset(new (std::nothrow) char[kInitialScratchCapacity + 1 + kScratchPadding]());
    if (scratchLine_ == nullptr) {
        fail(29, "(Scratch line)");
        return false;
    }
    scratchCapacity_ = kInitialScratchCapacity;

    PropertyValues* values = host_->getPropertyValues();
    bool unreadable = false;
    skipRows_ = values->getValue(kSkipRows, true).asInt(&unreadable);
    if (unreadable) {
        fail(723);
        return false;
    }
    maxOutputRows_ = values->getValue(kMaxOutputRows, true).asInt(&unreadable);
    if (unreadable) {
        fail(270);
        return false;
    }
    const bool preserveWhitespace = values->getValue(kPreserveWhitespace, true).asBool(&unreadable);
    if (unreadable) {
        fail(724);
        return false;
    }
    const bool unescapeBackslash = values->getValue(kUnescapeBackslash, true).asBool(&unreadable);
    if (unreadable) {
        fail(725);
        return false;
    }
    newlinesInValues_ = values->getValue(kNewlinesInValues, true).asBool(&unreadable);
    if (unreadable) {
        fail(830);
        return false;
    }
    parseFlags_ = (preserveWhitespace ? MVS_PARSE_KEEP_BLANKS : 0u) |
                  (unescapeBackslash ? MVS_PARSE_UNESCAPE : 0u);

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

    if (!decodeDelimiter(values->getValue(kDelimiter, true).asString())) {
        fail(57, "delimiter");
        return false;
    }
    const MvbString quote = values->getValue(kQuote, true).asString();
    int byteLength = 0;
    quoteCode_ = quote.empty() ? 0 : np_uchar_toint(quote.asCstr(), &byteLength);
    quoting_ = MvbRecordQuoting{delimiterCode_, quoteCode_, parseFlags_};

    rowsToSkip_ = skipRows_;
    return true;
}

bool DTS_TxtDelimSrc::decodeDelimiter(const MvbString& delimiter) {
    delimiterCode_ = 0;
    if (delimiter.empty()) return true;
    // Only a lower-case "0x" introduces a character code; "0X09" is the character '0'.
    if (delimiter.mid(0, 2).compare("0x", false) == 0) {
        const MvbString digits = delimiter.mid(2, -1);
        unsigned code = 0;
        if (std::sscanf(digits.asCstr(), "%x", &code) != 1 || !isUnicodeScalar(code)) {
            return false;
        }
        delimiterCode_ = static_cast<int>(code);
        return true;
    }
    int byteLength = 0;
    delimiterCode_ = np_uchar_toint(delimiter.asCstr(), &byteLength);
    return true;
}

int DTS_TxtDelimSrc::produceRow() {
    if (done_) return 1;
    if (maxOutputRows_ != 0 &&
        rowCount_ == static_cast<uint64_t>(static_cast<int64_t>(maxOutputRows_))) {
        totalRows_ = rowCount_;
        files_.closeFile();
        done_ = true;
        return 1;
    }
    MvbTxtFile* file = files_.file();
    // No file is open after a failed start or after the next file of a listing failed to
    // open; both were reported, and there is nothing more to read.
    if (file == nullptr) return 1;
    StepOutputItems* row = host_->getOutputRow();

    MvbTextSpan line;
    int lineBytes = 0;
    for (;;) {
        bool present = false;
        // Skipped head lines are physical lines, even where a quote would join them.
        lineBytes = newlinesInValues_ && rowsToSkip_ == 0
                        ? file->readRecord(quoting_, &line, &present)
                        : file->readLine(-1, &line, &present);
        if (lineBytes < 0) [[unlikely]] {
            reportFileError(file);
            return 2;
        }
        if (lineBytes == 0 && !present) {
            MvbString errorText;
            switch (files_.advance(errorText)) {
                case FileSetStep::Ready:
                    file = files_.file();
                    rowsToSkip_ = skipRows_;
                    continue;
                case FileSetStep::Finished:
                    totalRows_ = rowCount_;
                    done_ = true;
                    return 1;
                case FileSetStep::Failed:
                    host_->reportError(errorText);
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
    std::memcpy(scratch, line.text, static_cast<size_t>(lineBytes));
    scratch[lineBytes] = '\0';
    char** fields = fieldPointers_.get();
    const int found = mvs_parse_text_ex2(scratch, fields, fieldCount_, scratch, lineBytes,
                                         delimiterCode_, quoteCode_, parseFlags_);
    if (found < fieldCount_) [[unlikely]] {
        warnMissingFields();
    }

    StepOutputItem* items = row->items;
    for (int i = 0; i < fieldCount_; ++i) {
        const char* text = i < found ? fields[i] : nullptr;
        if (text == nullptr) {
            items[i].value.setNull();
            continue;
        }
        converter_.convert(items[i], typeFormats_[i], std::string_view(text, fieldLength(text)));
    }
    if (fileNameFieldIndex_ != -1) items[fileNameFieldIndex_].value.assign(files_.currentName());

    ++rowCount_;
    if (rowCount_ % kStopCheckInterval == 0 && !host_->shouldContinue()) {
        fail(421);
        return 2;
    }
    return 0;
}

bool DTS_TxtDelimSrc::growScratchLine(int lineBytes) {
    const int capacity = lineBytes + kInitialScratchCapacity;
    // The old buffer stays in place when the larger one cannot be had, so that the step never
    // holds a capacity it does not have.
    std::unique_ptr<char[]> grown(
        new (std::nothrow) char[static_cast<size_t>(capacity) + 1 + kScratchPadding]());
    if (grown == nullptr) return false;
    scratchLine_ = std::move(grown);
    scratchCapacity_ = capacity;
    return true;
}

void DTS_TxtDelimSrc::warnMissingFields() {
    if (warningCount_ >= kMaxWarnings) return;
    ++warningCount_;
    if (warningCount_ == kMaxWarnings) {
        host_->getLog()->logMessage(1, MvbString("Max warning count reached", true));
        return;
    }
    char text[96];
    std::snprintf(text, sizeof text, "Delimited text: Missing field(s) on row %" PRIu64,
                  rowCount_ + 1);
    host_->getLog()->logMessage(1, MvbString(text, false));
}

void DTS_TxtDelimSrc::reportFileError(const MvbTxtFile* file) {
    MvbString errorText;
    file->getLastError(errorText);
    host_->reportError(errorText);
}

void DTS_TxtDelimSrc::finishRun() {
    files_.close();
    done_ = true;
    host_->reportInfo(MvbString("Input file: ", true), true);
    host_->reportInfo(host_->getPropertyValues()->getValue(kFileName, true).asString(), false);
    char text[64];
    std::snprintf(text, sizeof text, "%" PRIu64 " rows read", rowCount_);
    host_->reportInfo(MvbString(text, false), false);
}
