#include "dts_txtdelimdest.h"

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "dest_value_text.h"
#include "mvb/charset.h"
#include "mvb/types.h"
#include "step_catalogue.h"
#include "step_guard.h"

namespace {

constexpr const char* kSourceFile = "src/dts_txtdelimdest";

/// Writes a built line and its line end. An empty line hands no bytes to the file: a buffer
/// that never held one has no storage to point at.
bool writeBuiltLine(MvbTxtFile* file, const LineBuffer& line) {
    if (line.size() != 0 && !file->writeChars(line.data(), static_cast<int>(line.size())))
        return false;
    return file->writeLine("");
}

enum Property : int {
    kFileName = 0,
    kFields = 1,
    kDelimiter = 2,
    kQualifier = 3,
    kIncludeHeader = 4,
    kPreserveWhitespace = 5,
    kMaxOutputRows = 6,
    kUnescapeBackslash = 7,
    kByteOrderMark = 8,
    kEncoding = 9,
    kAppend = 10,
    kEndOfLine = 11,
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

/// Decodes DELIMITER: empty means ",", "0x" followed by a hexadecimal code gives that character
/// (read as far as the digits go), anything else is the delimiter text itself. False when the
/// "0x" form gives no character.
bool decodeDelimiter(const MvbString& text, MvbString& delimiter) {
    if (text.empty()) {
        delimiter = ",";
        return true;
    }
    const std::string_view view = text.view();
    if (view.size() < 2 || view[0] != '0' || view[1] != 'x') {
        delimiter = text;
        return true;
    }
    const char* digits = text.asCstr() + 2;
    char* end = nullptr;
    errno = 0;
    const unsigned long code = std::strtoul(digits, &end, 16);
    if (end == digits || errno == ERANGE || code > 0x10FFFF) return false;
    char bytes[5] = {};
    // A code that gives no character (a NUL, a surrogate) would silently merge the fields.
    if (np_uchar_intcopy(static_cast<int>(code), bytes, 4) <= 0 || bytes[0] == '\0') return false;
    delimiter.assign(bytes);
    return true;
}

}  // namespace

StepPluginStep* createTxtDelimDest() {
    return new DTS_TxtDelimDest();
}

bool DTS_TxtDelimDest::initialize(StepHost* host, int* inputCount, int* outputCount) {
    return guardStep(host, false, [&] {
        core_.initialize(host);
        if (inputCount != nullptr) *inputCount = 1;
        if (outputCount != nullptr) *outputCount = 1;
        file_.discard();
        encoding_ = -1;
        openFlags_ = 0;

        PropertySchema* schema = host->getPropertySchema();
        const MvbDatavar no(false);
        schema->declareProperty(MvbString("FILENAME", true), mvbTypeString);
        declareDestFieldsTable(schema, "OUTPUTNAME", mvbTypeString);
        schema->declareProperty(MvbString("DELIMITER", true), mvbTypeString);
        schema->declareProperty(MvbString("QUALIFIER", true), mvbTypeString);
        schema->declareProperty(MvbString("INCLUDE_HEADER", true), mvbTypeBoolean);
        schema->declareProperty(MvbString("PRESERVE_WHITESPACE", true), mvbTypeBoolean);
        schema->setDefault(kPreserveWhitespace, no);
        schema->declareProperty(MvbString("MAX_OUTPUT_ROWS", true), mvbTypeInteger);
        schema->declareProperty(MvbString("UNESCAPE_BACKSLASH", true), mvbTypeBoolean);
        schema->setDefault(kUnescapeBackslash, no);
        schema->declareProperty(MvbString("BYTE_ORDER_MARK", true), mvbTypeBoolean);
        schema->setDefault(kByteOrderMark, no);
        schema->declareProperty(MvbString("ENCODING", true), mvbTypeInteger);
        schema->setDefault(kEncoding, MvbDatavar(-1));
        schema->declareProperty(MvbString("APPEND", true), mvbTypeBoolean);
        schema->setDefault(kAppend, no);
        schema->declareProperty(MvbString("END_OF_LINE", true), mvbTypeInteger);
        schema->setDefault(kEndOfLine, MvbDatavar(0));
        return true;
    });
}

void DTS_TxtDelimDest::release() {
    file_.discard();
    delete this;
}

int DTS_TxtDelimDest::prepare(int flags) {
    return guardStep(core_.host(), 0, [&] { return core_.bindFields(flags, kSourceFile); });
}

bool DTS_TxtDelimDest::start() {
    return guardStep(core_.host(), false, [&] { return startRun(); });
}

bool DTS_TxtDelimDest::startRun() {
    StepHost* host = core_.host();
    PropertyValues* props = host->getPropertyValues();
    host->getOutputRow();
    core_.beginRun();
    writeFailed_ = false;
    if (host->getInputItems(0, true) == nullptr) {
        reportDestMessage(host, kSourceFile, __LINE__, 315);
        return false;
    }
    append_ = props->getValue(kAppend, true).asBool(nullptr);
    file_.discard();
    // A run that writes nothing never reads the file's settings or touches a file.
    if (!core_.writes()) return true;

    fileName_ = props->getValue(kFileName, true).asString();
    if (fileName_.empty()) {
        reportDestMessage(host, kSourceFile, __LINE__, 304);
        return false;
    }
    if (!decodeDelimiter(props->getValue(kDelimiter, true).asString(), delimiter_)) {
        reportDestMessage(host, kSourceFile, __LINE__, 57, "delimiter");
        return false;
    }
    qualifier_ = props->getValue(kQualifier, true).asString();
    bool error = false;
    includeHeader_ = props->getValue(kIncludeHeader, true).asBool(&error);
    if (error) {
        reportDestMessage(host, kSourceFile, __LINE__, 729);
        return false;
    }

    encoding_ = -1;
    openFlags_ = 0;
    error = false;
    const int endOfLine = props->getValue(kEndOfLine, true).asInt(&error);
    if (!error) openFlags_ |= lineEndFlag(endOfLine);
    const MvbDatavar bom = props->getValue(kByteOrderMark, true);
    if (!bom.isNull()) {
        error = false;
        if (bom.asBool(&error) && !error) openFlags_ |= MVB_FLAG_WRITE_BOM;
    }
    const MvbDatavar encoding = props->getValue(kEncoding, true);
    if (!encoding.isNull()) encoding_ = encoding.asInt(nullptr);
    return openFile(true);
}

bool DTS_TxtDelimDest::openFile(bool probe) {
    StepHost* host = core_.host();
    const int mode = append_ ? MVB_OPEN_APPEND : MVB_OPEN_CREATE;
    if (!file_.open(host, fileName_, mode, encoding_, openFlags_, probe)) return false;
    if (probe || !includeHeader_) return true;

    // The header is written at the top of every run, an appending one too; every name is
    // enclosed in the qualifier whatever its field's type.
    PropertyTable* table = host->getPropertyValues()->getTable(kFields);
    const int rows = table->getRowCount();
    line_.clear();
    for (int i = 0; i < rows; ++i) {
        const MvbString name = table->getCell(1, i, true).asString();
        if (qualifier_.empty()) {
            line_.append(name.view());
        } else {
            appendQualified(name.view());
        }
        if (i + 1 < rows) line_.append(delimiter_.view());
    }
    MvbTxtFile* file = file_.get();
    if (!writeBuiltLine(file, line_)) return file_.fail(host);
    return true;
}

void DTS_TxtDelimDest::appendQualified(std::string_view text) {
    const std::string_view qualifier = qualifier_.view();
    const bool inside =
        !text.empty() &&
        (qualifier.size() == 1 ? std::memchr(text.data(), qualifier[0], text.size()) != nullptr
                               : text.find(qualifier) != std::string_view::npos);
    if (!inside) [[likely]] {
        char* at = line_.reserve(text.size() + 2 * qualifier.size());
        at = putBytes(at, qualifier);
        at = putBytes(at, text);
        line_.commit(putBytes(at, qualifier));
        return;
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
}

int DTS_TxtDelimDest::processRow(int) {
    return guardStep(core_.host(), 2, [&] { return takeAndWriteRow(); });
}

int DTS_TxtDelimDest::takeAndWriteRow() {
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
        line_.clear();
        ValueTextBuffer buffer;
        const int last = core_.fieldCount() - 1;
        const bool haveQualifier = !qualifier_.empty();
        for (int i = 0; i <= last; ++i) {
            // A FIELDS row that names no input field is an empty field.
            const StepOutputItem* item = core_.fieldItem(items, i);
            if (item != nullptr) {
                const std::string_view text = destValueText(&item->value, buffer);
                const bool qualify = haveQualifier && item->type != mvbTypeInteger &&
                                     item->type != mvbTypeReal && !item->value.isNull();
                if (qualify) {
                    appendQualified(text);
                } else {
                    line_.append(text);
                }
            }
            if (i != last) line_.append(delimiter_.view());
        }
        MvbTxtFile* file = file_.get();
        if (!writeBuiltLine(file, line_)) {
            writeFailed_ = true;
            file_.fail(host);
            return 2;
        }
    }
    return core_.progressPoint(kSourceFile);
}

void DTS_TxtDelimDest::finish() {
    guardStep(core_.host(), 0, [&] {
        char text[512];
        std::snprintf(text, sizeof text, "%s %" PRIu64 " rows to text file ",
                      append_ ? "Appended" : "Wrote", core_.rowCount());
        file_.finishRun(core_.host(), core_.writes(), &writeFailed_, text, fileName_);
        return 0;
    });
}

bool DTS_TxtDelimDest::getStatus(int* percent, MvbString* text) {
    return guardStep(core_.host(), false, [&] { return core_.status(percent, text); });
}

bool DTS_TxtDelimDest::getProgress(uint64_t* total) {
    return guardStep(core_.host(), false, [&] { return core_.progress(total); });
}
