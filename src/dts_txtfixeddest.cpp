#include "dts_txtfixeddest.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "dest_value_text.h"
#include "mvb/charset.h"
#include "mvb/types.h"
#include "step_catalogue.h"
#include "step_guard.h"

namespace {

constexpr const char* kSourceFile = "src/dts_txtfixeddest";

enum Property : int {
    kFileName = 0,
    kFields = 1,
    kLineEnd = 2,
    kByteOrderMark = 3,
    kEncoding = 4,
    kAppend = 5,
};

}  // namespace

StepPluginStep* createTxtFixedDest() {
    return new DTS_TxtFixedDest();
}

bool DTS_TxtFixedDest::initialize(StepHost* host, int* inputCount, int* outputCount) {
    return guardStep(host, false, [&] {
        core_.initialize(host);
        if (inputCount != nullptr) *inputCount = 1;
        if (outputCount != nullptr) *outputCount = 1;
        file_.discard();
        fieldWidths_.reset();
        encoding_ = -1;
        openFlags_ = 0;
        writeLineEnd_ = false;

        PropertySchema* schema = host->getPropertySchema();
        schema->declareProperty(MvbString("FILENAME", true), mvbTypeString);
        declareDestFieldsTable(schema, "WIDTH", mvbTypeInteger);
        schema->declareProperty(MvbString("LINE_END", true), mvbTypeString);
        schema->declareProperty(MvbString("BYTE_ORDER_MARK", true), mvbTypeBoolean);
        schema->setDefault(kByteOrderMark, MvbDatavar(false));
        schema->declareProperty(MvbString("ENCODING", true), mvbTypeInteger);
        schema->setDefault(kEncoding, MvbDatavar(-1));
        schema->declareProperty(MvbString("APPEND", true), mvbTypeBoolean);
        schema->setDefault(kAppend, MvbDatavar(false));
        return true;
    });
}

void DTS_TxtFixedDest::release() {
    file_.discard();
    delete this;
}

int DTS_TxtFixedDest::prepare(int flags) {
    return guardStep(core_.host(), 0, [&] { return core_.bindFields(flags, kSourceFile); });
}

bool DTS_TxtFixedDest::start() {
    return guardStep(core_.host(), false, [&] { return startRun(); });
}

bool DTS_TxtFixedDest::startRun() {
    StepHost* host = core_.host();
    PropertyValues* props = host->getPropertyValues();
    core_.beginRun();
    writeFailed_ = false;
    warnings_.begin(host, kSourceFile, core_.fieldCount());
    if (host->getInputItems(0, true) == nullptr) {
        reportDestMessage(host, kSourceFile, __LINE__, 315);
        return false;
    }
    file_.discard();
    append_ = props->getValue(kAppend, true).asBool(nullptr);
    // A run that writes nothing reads no other setting and opens nothing.
    if (!core_.writes()) return true;

    host->getOutputRow();
    PropertyTable* table = props->getTable(kFields);
    const int fieldCount = core_.fieldCount();
    fieldWidths_ = std::make_unique<int[]>(fieldCount);
    for (int i = 0; i < fieldCount; ++i) {
        bool error = false;
        const int width = table->getCell(1, i, true).asInt(&error);
        if (error) {
            const MvbString name = table->getCell(0, i, true).asString();
            reportDestMessage(host, kSourceFile, __LINE__, 721, name.view());
            return false;
        }
        if (width < 0) {
            reportDestMessage(host, kSourceFile, __LINE__, 732);
            return false;
        }
        fieldWidths_[i] = width;
    }

    fileName_ = props->getValue(kFileName, true).asString();
    if (fileName_.empty()) {
        reportDestMessage(host, kSourceFile, __LINE__, 304);
        return false;
    }

    writeLineEnd_ = false;
    openFlags_ = 0;
    encoding_ = -1;
    bool error = false;
    if (props->getValue(kByteOrderMark, true).asBool(&error) && !error) {
        openFlags_ |= MVB_FLAG_WRITE_BOM;
    }
    const MvbDatavar encoding = props->getValue(kEncoding, true);
    if (!encoding.isNull()) encoding_ = encoding.asInt(nullptr);
    MvbString lineEnd = props->getValue(kLineEnd, true).asString();
    lineEnd.trim(true, true);
    if (lineEnd.compare("CRLF", true) == 0) {
        openFlags_ |= MVB_FLAG_EOL_CRLF;
        writeLineEnd_ = true;
    } else if (lineEnd.compare("LF", true) == 0) {
        openFlags_ |= MVB_FLAG_EOL_LF;
        writeLineEnd_ = true;
    }
    return openFile(true);
}

bool DTS_TxtFixedDest::openFile(bool probe) {
    const int mode = append_ ? MVB_OPEN_APPEND : MVB_OPEN_CREATE;
    if (!file_.open(core_.host(), fileName_, mode, encoding_, openFlags_, probe)) return false;
    if (!probe) {
        const int encoding = file_.get()->getEncoding();
        utf8File_ = encoding == 0 || encoding == 65001;
    }
    return true;
}

bool DTS_TxtFixedDest::writeRecordAtOnce(const StepOutputItems* items) {
    line_.clear();
    ValueTextBuffer buffer;
    const int fieldCount = core_.fieldCount();
    bool anyCut = false;
    for (int i = 0; i < fieldCount; ++i) {
        // A FIELDS row that names no input field is written as blanks at its width.
        const std::string_view text = destValueText(core_.fieldValue(items, i), buffer);
        const auto width = static_cast<size_t>(fieldWidths_[i]);
        size_t keep = text.size();
        if (keep > width) {
            // The file rejects a text that is not UTF-8 even where the cut drops the bad bytes;
            // the field-by-field write then reports it as the file words it.
            if (!mvbIsValidUtf8(text.data(), static_cast<long>(text.size()))) return false;
            keep = width;
            while (keep > 0 && (static_cast<unsigned char>(text[keep]) & 0xC0u) == 0x80u)
                --keep;
            anyCut = true;
        }
        char* at = line_.reserve(width);
        at = putBytes(at, text.substr(0, keep));
        if (width > keep) std::memset(at, ' ', width - keep);
        line_.commit(at + (width - keep));
    }
    const char* record = line_.size() != 0 ? line_.data() : "";
    if (!file_.get()->writeChars(record, static_cast<int>(line_.size()))) return false;
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

bool DTS_TxtFixedDest::writeRecordByFields(const StepOutputItems* items) {
    MvbTxtFile* file = file_.get();
    ValueTextBuffer buffer;
    const int fieldCount = core_.fieldCount();
    for (int i = 0; i < fieldCount; ++i) {
        const std::string_view text = destValueText(core_.fieldValue(items, i), buffer);
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

int DTS_TxtFixedDest::processRow(int) {
    return guardStep(core_.host(), 2, [&] { return takeAndWriteRow(); });
}

int DTS_TxtFixedDest::takeAndWriteRow() {
    StepHost* host = core_.host();
    StepOutputItems* items = nullptr;
    const int status = core_.takeRow(&items);
    if (status == 1) return file_.endOfData(host, &writeFailed_);
    if (status != 0) return status;

    if (core_.writes()) {
        if (!file_.isOpen() && !openFile(false)) {
            writeFailed_ = true;
            return 2;
        }
        // A record that cannot be written at once (a text that is not UTF-8, a failed write)
        // is written again field by field, which writes what it can and names the failure.
        // A failed write leaves nothing of its text in the file.
        const bool written = (utf8File_ && writeRecordAtOnce(items)) || writeRecordByFields(items);
        if (!written) {
            writeFailed_ = true;
            file_.fail(host);
            return 2;
        }
        if (writeLineEnd_ && !file_.get()->writeLine("")) {
            writeFailed_ = true;
            file_.fail(host);
            return 2;
        }
    }
    return core_.progressPoint(kSourceFile);
}

void DTS_TxtFixedDest::finish() {
    guardStep(core_.host(), 0, [&] {
        char text[512];
        std::snprintf(text, sizeof text, "Wrote %" PRIu64 " rows to text file", core_.rowCount());
        file_.finishRun(core_.host(), core_.writes(), &writeFailed_, text, fileName_);
        warnings_.reportSummary(true);
        return 0;
    });
}

bool DTS_TxtFixedDest::getStatus(int* percent, MvbString* text) {
    return guardStep(core_.host(), false, [&] { return core_.status(percent, text); });
}

bool DTS_TxtFixedDest::getProgress(uint64_t* total) {
    return guardStep(core_.host(), false, [&] { return core_.progress(total); });
}
