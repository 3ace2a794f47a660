#include "dts_txthtmldest.h"

#include <sys/stat.h>

#include <cerrno>
#include <charconv>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "dest_value_text.h"
#include "html_style_sheet.h"
#include "mvb/html.h"
#include "mvb/path.h"
#include "mvb/types.h"
#include "step_catalogue.h"

namespace {

using Settings = HtmlDestSettings;
using Kind = PropertyKind;

enum Property : int { kFileName, kFields, kTitle, kStyle, kInPlace, kPropertyCount };

constexpr PropertyRow<Settings> kProperties[kPropertyCount] = {
    {.name = "FILENAME",
     .kind = Kind::Text,
     .message = 304,
     .required = true,
     .text = &Settings::fileName,
     .description = "the report file; the style sheet is written beside it",
     .fileRole = kStepFileWritten},
    {.name = "FIELDS",
     .kind = Kind::Table,
     .description = "the input fields shown (FIELDNAME) and their column headings (OUTPUTNAME)",
     .columns = kDestNamedFieldColumns},
    {.name = "TITLE",
     .kind = Kind::Text,
     .text = &Settings::title,
     .description = "the page title and heading"},
    {.name = "STYLE",
     .kind = Kind::Text,
     .text = &Settings::style,
     .description = "empty: the classic page and its style sheet file; modern: one file with "
                    "its sheet inside, numbers right-aligned, rows shaded in turn, headings "
                    "kept in view, the row count under the title"},
    kDestInPlaceRow<Settings>,
};

/// Titles of the profiler layout's sections, in the order the sections come.
constexpr const char* kSectionTitles[4] = {"Record Count and Null Values", "Numerical Analysis",
                                           "Min/Max", "Percentiles"};

/// Appends the decimal text of `value`.
void appendInt(LineBuffer& out, int value) {
    char digits[16];
    const auto result = std::to_chars(digits, digits + sizeof digits, value);
    out.append(std::string_view(digits, static_cast<size_t>(result.ptr - digits)));
}

/// Today's local date as month/day/year without leading zeros.
std::string todayText() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[48];
    std::snprintf(text, sizeof text, "%d/%d/%d", local.tm_mon + 1, local.tm_mday,
                  local.tm_year + 1900);
    return text;
}

/// True when the report `path` is (or will be) a file of a folder, beside which the style sheet
/// goes; false for standard output, a device or a pipe, where a sheet beside it would land in
/// /dev or the working folder.
bool reportIsAFile(const MvbString& path) {
    if (path.view() == "-") return false;
    struct stat info {};
    return ::stat(path.asCstr(), &info) != 0 ? errno == ENOENT : S_ISREG(info.st_mode);
}

}  // namespace

StepPluginStep* createTxtHtmlDest() {
    return new DTS_TxtHtmlDest();
}

DTS_TxtHtmlDest::DTS_TxtHtmlDest() noexcept
    : TextDestination("src/dts_txthtmldest",
                      kStepPropertyTable<Settings, kProperties, kHtmlStyleSheetFiles>) {}

bool DTS_TxtHtmlDest::readsAProfile() {
    StepFlow* flow = host()->getFlow();
    StepNode* node = flow != nullptr ? flow->getInputNode(0, 0, 0) : nullptr;
    return node != nullptr && node->getTypeId().compare("PROFILER", true) == 0;
}

int DTS_TxtHtmlDest::prepareStep(int flags) {
    const int result = TextDestination::prepareStep(flags);
    // The sections break where the statistic is empty: the host must hand it on even when no
    // FIELDS row shows it.
    const StepOutputItems* items = host()->getInputItems(0, (flags & 1) == 0);
    if (items != nullptr && items->count > 0 && readsAProfile())
        host()->addUsedField(items->items[0].name, 0);
    return result;
}

bool DTS_TxtHtmlDest::startStep() {
    sectionIndex_ = 0;
    sectionBreaks_ = 0;
    host()->getOutputRow();
    if (host()->getPart(nullptr, nullptr)) {
        host()->reportError(
            MvbString("an HTML report is one page and cannot be written in parts (--part): run the "
                      "report as a job of its own over the joined output of the parts",
                      true));
        return false;
    }
    if (!beginRun()) return false;
    settings_ = Settings{};
    if (!readSettings<Settings>(messages(), kProperties, {}, settings_, [] { return true; })) {
        return false;
    }
    modern_ = settings_.style.compare("modern", true) == 0;
    if (!modern_ && !settings_.style.empty()) {
        messages().report(840, settings_.style.view());
        return false;
    }
    // A dry run fails where the run would: at a folder where the style sheet goes.
    if (!core_.writes()) return modern_ || !reportIsAFile(settings_.fileName) || styleSheetFits();
    const uint32_t flags = replaceFlag(false, settings_.inPlace);
    if (!modern_ && !reportIsAFile(settings_.fileName)) {
        host()->getLog()->logMessage(
            1, MvbString("The report " + std::string(settings_.fileName.view()) +
                         " is no file of a folder, so no style sheet is written beside it: the "
                         "page shows unstyled (STYLE modern holds its sheet inside)"));
    } else if (!modern_ && !writeStyleSheet(flags)) {
        return false;
    }
    if (!file_.open(host(), settings_.fileName, MVB_OPEN_CREATE, 0, flags, false)) {
        sheet_.abandon(false, nullptr);
        return false;
    }

    PropertyTable* table = host()->getPropertyValues()->getTable(kFields);
    headings_.clear();
    const int fieldCount = core_.fieldCount();
    headings_.reserve(static_cast<size_t>(fieldCount));
    for (int i = 0; i < fieldCount; ++i)
        headings_.push_back(table->getCell(1, i, true).asString());

    profilerLayout_ = readsAProfile();
    if (!writeHead(settings_.title)) return false;
    file_.endRecord(false);
    return true;
}

MvbString DTS_TxtHtmlDest::styleSheetPath() const {
    const MvbString directory = mvbParsePath(settings_.fileName.asCstr(), nullptr);
    return mvbConcatPath(directory.asCstr(), kHtmlStyleSheetName);
}

bool DTS_TxtHtmlDest::styleSheetFits() {
    const MvbString path = styleSheetPath();
    struct stat info {};
    if (::stat(path.asCstr(), &info) != 0 || !S_ISDIR(info.st_mode)) return true;
    host()->reportError(MvbString("cannot write file \"" + std::string(path.view()) +
                                  "\": it is a folder, not a file"));
    return false;
}

bool DTS_TxtHtmlDest::writeStyleSheet(uint32_t flags) {
    StepHost* host = core_.host();
    const MvbString path = styleSheetPath();
    if (!sheet_.open(host, path, MVB_OPEN_CREATE, 0, flags, false)) return false;
    if (!sheet_.get()->writeChars(kHtmlStyleSheet.data(),
                                  static_cast<int>(kHtmlStyleSheet.size()))) {
        sheet_.fail(host);
        sheet_.abandon(false, nullptr);
        return false;
    }
    // Written in place, the sheet is complete now; else it takes its place with the report.
    sheet_.endRecord(true);
    return (flags & MVB_FLAG_REPLACE_AT_END) != 0 || sheet_.commit(host);
}

bool DTS_TxtHtmlDest::writeHead(const MvbString& title) {
    // The markup is kept exactly as stored reports and style sheets expect it, the doubled
    // percent sign and the missing body tag included.
    out_.clear();
    out_.append(
        R"(<html><head><meta http-equiv="Content-Type" content="text/html; charset=utf-8"><title>)");
    out_.append(title.view());
    if (modern_) {
        appendInlineStyle();
        if (!emitLine("</head>")) return false;
    } else {
        if (!emitLine("</title></head>")) return false;
        if (!emitLine(R"(<LINK href="marovind.css" type=text/css rel=stylesheet>)")) return false;
    }
    if (!emitLine(R"(<TABLE cellSpacing=1 cellPadding=1 width="100%%" border=0>)")) return false;
    if (!emitLine("<TR>")) return false;
    out_.append("<TD class=pagetitle>");
    out_.append(title.view());
    out_.append("</TD><TD>Date: ");
    out_.append(todayText());
    if (!emitLine("</TD></TR></TABLE>")) return false;
    if (!emitLine("<p>")) return false;

    if (profilerLayout_) {
        // Each section writes its own column headings when it opens.
        return emitLine("<p><br><strong>Analysis:<br></strong>") &&
               emitLine(R"(<A href="#Lbl0">Record Count and Null Values<br></a>)") &&
               emitLine(R"(<A href="#Lbl1">Numerical Analysis</a>)") &&
               emitLine(R"(<br><A href="#Lbl2">Min/Max</a>)") &&
               emitLine(R"(<br><A href="#Lbl3">Percentiles</a>)") &&
               emitLine(R"(<table border="1" cellpadding="1" cellspacing="0">)") &&
               emitLine("<tbody>");
    }
    if (!emitLine(R"(<table border="1" cellpadding="1" cellspacing="0">)")) return false;
    if (!emitLine("<TBODY>")) return false;
    appendHeadings();
    return emit(false);
}

void DTS_TxtHtmlDest::appendInlineStyle() {
    out_.append("</title>\n<style>\n");
    out_.append(kHtmlModernStyle);
    const StepOutputItems* items = host()->getInputItems(0, true);
    for (int i = 0; i < core_.fieldCount(); ++i) {
        const StepOutputItem* item = core_.fieldItem(items, i);
        if (item == nullptr) continue;
        // A profile's figures are texts: all its columns but the statistic's name are figures.
        const bool figures = profilerLayout_
                                 ? item != &items->items[0]
                                 : item->type == mvbTypeInteger || item->type == mvbTypeReal;
        if (!figures) continue;
        out_.append("td:nth-child(");
        appendInt(out_, i + 1);
        out_.append(") { text-align: right; font-variant-numeric: tabular-nums; }\n");
    }
    out_.append("</style>");
}

void DTS_TxtHtmlDest::appendTail() {
    out_.clear();
    if (modern_) {
        char count[64];
        const uint64_t rows = core_.rowCount() - sectionBreaks_;
        std::snprintf(count, sizeof count, "%" PRIu64 " row%s", rows, rows == 1 ? "" : "s");
        out_.append("</TBODY></TABLE>\n<p class=\"rowcount\">");
        out_.append(count);
        out_.append("</p></BODY></HTML>");
        return;
    }
    out_.append("</TBODY></TABLE></BODY></HTML>");
}

void DTS_TxtHtmlDest::appendHeadings() {
    // Headings, like the title, are the job's own markup and are not escaped.
    out_.append(R"(<TR class="rowon">)");
    if (!emit(true)) return;
    for (const MvbString& heading : headings_) {
        out_.append("<TH><B>");
        out_.append(heading.view());
        out_.append("</B></TH>");
    }
    out_.append("</TR>");
    emit(true);
}

bool DTS_TxtHtmlDest::emit(bool endLine, bool checked) {
    MvbTxtFile* file = file_.get();
    bool ok = true;
    if (checked) {
        ok = file_.writeCheckedLine(out_, endLine);
    } else {
        // The file checks the markup as it writes it, which may reuse the room it lent.
        out_.leaveRoom();
        ok = out_.size() == 0 || file->writeChars(out_.data(), static_cast<int>(out_.size()));
        if (ok && endLine) ok = file->writeLine("");
    }
    out_.clear();
    if (!ok && !writeFailed_) {
        writeFailed_ = true;
        file_.fail(core_.host());
    }
    return ok;
}

bool DTS_TxtHtmlDest::appendSectionStart(const StepOutputItems* items) {
    if (sectionIndex_ != 0) {
        // The profile's rows between its sections have no statistic: its first field, whichever
        // FIELDS row shows it (or none). Another field's empty cell is data of its own.
        const MvbDatavar* statistic = items->count > 0 ? &items->items[0].value : nullptr;
        const bool empty = statistic != nullptr &&
                           (statistic->isNull() || (statistic->getType() == mvbTypeString &&
                                                    statistic->stringView().empty()));
        if (!empty) return false;
    }
    bool spacer = false;
    if (sectionIndex_ != 0) {
        out_.append(R"(<tr CLASS="ROWOFF"><td colspan=")");
        appendInt(out_, core_.fieldCount());
        out_.append(R"(">&nbsp;</td></tr>)");
        if (!emit(true)) return true;
        spacer = true;
    }
    if (sectionIndex_ < 4) {
        out_.append(R"(<tr CLASS="ROWON"><td class="subtitle" colspan=")");
        appendInt(out_, core_.fieldCount());
        out_.append(R"("><a name="Lbl)");
        appendInt(out_, sectionIndex_);
        out_.append(R"(">)");
        out_.append(kSectionTitles[sectionIndex_]);
        out_.append(R"(</a> | <A href="#Top">Back</a> </td></tr>)");
        ++sectionIndex_;
    }
    appendHeadings();
    return spacer;
}

namespace {

using mvb::html::entityFor;

// Three tests find the five bytes: '&' (0x26) and '\'' (0x27) differ only in the lowest bit, and
// '<' (0x3C) and '>' (0x3E) only in the second; with that bit cleared in every byte each pair
// is one byte to look for.
[[gnu::always_inline]] inline uint64_t wordNeedsEntity(uint64_t word) noexcept {
    constexpr uint64_t kNotLowest = 0xFEFEFEFEFEFEFEFEull;
    constexpr uint64_t kNotSecond = 0xFDFDFDFDFDFDFDFDull;
    return mvb::scan::wordHasByte(word, '"') | mvb::scan::wordHasByte(word & kNotLowest, '&') |
           mvb::scan::wordHasByte(word & kNotSecond, '<');
}

/// The markup around a cell's text.
constexpr std::string_view kCellStart = "<td>";
constexpr std::string_view kCellEnd = "</td>";
/// The room a cell of `bytes` bytes of text may take: an entity is at most six bytes, and a
/// short text is copied as one chunk of kPaddedCopyBytes.
constexpr size_t cellRoom(size_t bytes) noexcept {
    return bytes * 6 + kCellStart.size() + kCellEnd.size() + kPaddedCopyBytes;
}

/// Writes `text` at `at`, which has cellRoom() bytes, as a cell, each byte that markup would
/// take for its own written as an entity; returns the end. `*ascii` is set when the text is
/// ASCII; false says it may not be valid UTF-8. The text can be read for kPaddedCopyBytes from
/// its start (see copyFindingPadded()).
inline char* putEscapedCell(char* at, std::string_view text, bool* ascii) noexcept {
    at = putBytes(at, kCellStart);
    // The usual cell, a short text that needs no entity: one chunk, looked at and copied without
    // a branch on its length.
    if (text.size() <= kPaddedCopyBytes) [[likely]] {
        uint64_t high = 0;
        if (copyFindingPadded(at, text, &high, '"', '&', '\'', '<', '>') == 0) [[likely]] {
            *ascii = high == 0;
            return putBytes(at + text.size(), kCellEnd);
        }
    }
    // Each byte is looked at once: eight at a time, copied as they are while none needs an
    // entity, else one by one.
    const size_t size = text.size();
    const char* from = text.data();
    uint64_t high = 0;
    size_t i = 0;
    while (i < size) {
        size_t end = size;
        // The last bytes that fill no whole word: one word that ends with the text (its bytes
        // before `i` went out as they are and are written again the same), or a short text
        // whole. Byte by byte only when one of them needs an entity.
        if (i + 8 > size) {
            const uint64_t word = mvb::scan::lastBytesWord(from, size);
            if (wordNeedsEntity(word) == 0) {
                high |= wordHasHighByte(word);
                if (size >= 8) {
                    std::memcpy(at - (i - (size - 8)), &word, sizeof word);
                } else {
                    mvb::copyShortBytes(at, from, size);
                }
                at += size - i;
                break;
            }
        }
        if (i + 8 <= size) {
            const uint64_t word = mvb::scan::load(from + i);
            high |= wordHasHighByte(word);
            if (wordNeedsEntity(word) == 0) [[likely]] {
                std::memcpy(at, &word, sizeof word);
                at += 8;
                i += 8;
                continue;
            }
            end = i + 8;
        }
        for (; i < end; ++i) {
            high |= static_cast<unsigned char>(from[i]) & 0x80u;
            const char* entity = entityFor(from[i]);
            if (entity == nullptr) [[likely]] {
                *at++ = from[i];
            } else {
                at = putBytes(at, entity);
            }
        }
    }
    *ascii = high == 0;
    return putBytes(at, kCellEnd);
}

}  // namespace

bool DTS_TxtHtmlDest::writeEnd() {
    out_.clear();
    appendTail();
    // The style sheet's bytes go out with the report's, so that a full disk fails the run now.
    return emit(false) && (!sheet_.isOpen() || sheet_.flush(core_.host()));
}

bool DTS_TxtHtmlDest::commitOthers() {
    // The style sheet takes its place with the report, just before it; one written in place
    // was complete at the start.
    return !sheet_.isOpen() || sheet_.commit(core_.host());
}

bool DTS_TxtHtmlDest::writeRow(const StepOutputItems* items) {
    out_.clear();
    const bool leftOut = profilerLayout_ && appendSectionStart(items);
    if (writeFailed_) return false;
    if (leftOut) {
        ++sectionBreaks_;
        return true;
    }
    // The markup is this step's own and other kinds' texts are formatted here; a line whose
    // strings prove to be UTF-8 (or were proven so when they were read) is not checked again by
    // the file. A section break may carry text from outside, so a row behind one is checked as
    // before.
    bool checked = out_.size() == 0;
    // Such a row is built where the file writes it.
    if (checked) file_.startLine(out_);
    // The row is built through a write position and the end of the room it has, both kept
    // here: each cell first makes sure of room for the most it can take.
    constexpr std::string_view kRowStart = R"(<TR class="rowon">)";
    constexpr std::string_view kRowEnd = "</tr>";
    constexpr std::string_view kEmptyCell = "<td>&nbsp;</td>";
    char* at = out_.reserve(kRowStart.size());
    char* limit = out_.limit();
    at = putBytes(at, kRowStart);
    const DestinationCore::RowFields fields = core_.rowFields(items);
    const int fieldCount = core_.fieldCount();
    for (int i = 0; i < fieldCount; ++i) {
        // A FIELDS row that names no input field is an empty cell, as is a null.
        const StepOutputItem* item = fields[i];
        const MvbDatavar* value = item != nullptr ? &item->value : nullptr;
        const int type = value != nullptr ? value->getType() : mvbTypeNull;
        if (type != mvbTypeNull && type != mvbTypeString) {
            // Only a string's text can hold markup: the other kinds' texts are digits, signs,
            // points, dashes, colons, blanks and letters, formatted straight into the cell.
            at = out_.roomAt(at, MvbDatavar::kScalarTextRoom + kEmptyCell.size(), limit);
            at = putBytes(at, kCellStart);
            const int length = value->formatScalar(at);
            at = length > 0 ? at + length : putBytes(at, "&nbsp;");
            at = putBytes(at, kCellEnd);
            continue;
        }
        const std::string_view text = type == mvbTypeString ? value->stringView() : "";
        if (text.empty()) {
            at = out_.roomAt(at, kEmptyCell.size(), limit);
            at = putBytes(at, kEmptyCell);
            continue;
        }
        at = out_.roomAt(at, cellRoom(text.size()), limit);
        bool ascii = false;
        at = putEscapedCell(at, text, &ascii);
        if (!ascii && checked && !value->isKnownUtf8()) checked = isUtf8Text(text);
    }
    at = out_.roomAt(at, kRowEnd.size(), limit);
    out_.commit(putBytes(at, kRowEnd));
    return emit(true, checked);
}

void DTS_TxtHtmlDest::describeRun(char* text, size_t size) const {
    std::snprintf(text, size, "Wrote %" PRIu64 " rows to HTML file ", core_.rowCount());
}
