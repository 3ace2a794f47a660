#include <algorithm>
#include <vector>

#include "infer_columns.h"
#include "infer_encoding.h"
#include "infer_records.h"
#include "infer_steps.h"
#include "mvb/charset.h"

namespace textjob::infer {
namespace {

bool isBlank(int code) {
    return code == ' ' || code == '\t';
}
bool isDigitCode(int code) {
    return code >= '0' && code <= '9';
}

/// One character of a line: where it starts in bytes of the file and in the UTF-8 text.
struct Placed {
    int code = 0;
    size_t filePos = 0;
    size_t textPos = 0;
};

/// The characters of `line` with their places; `width` gets the line's width in file bytes.
void place(std::string_view line, int encoding, std::vector<Placed>& out, size_t& width) {
    out.clear();
    size_t filePos = 0;
    for (size_t at = 0; at < line.size();) {
        int length = 0;
        const int code = np_uchar_toint(line.data() + at, &length);
        if (length <= 0) length = 1;
        out.push_back(Placed{code, filePos, at});
        filePos += static_cast<size_t>(fileBytesOf(code, encoding));
        at += static_cast<size_t>(length);
    }
    width = filePos;
}

/// What every line says about each byte position of the file.
struct Positions {
    std::vector<bool> text;          ///< some line has a non-blank character here
    std::vector<bool> textToDigits;  ///< on every line after the first, text before, a digit here
    size_t width = 0;                ///< the widest line
    uint64_t lines = 0;
};

void addLine(const std::vector<Placed>& chars, size_t width, bool first, Positions& p) {
    if (width > p.width) {
        p.text.resize(width, false);
        // A position no earlier line reached cannot hold on every line.
        p.textToDigits.resize(width, p.lines <= 1);
        p.width = width;
    }
    std::vector<bool> here(p.width, false);
    for (size_t i = 0; i < chars.size(); ++i) {
        const size_t end = i + 1 < chars.size() ? chars[i + 1].filePos : width;
        if (!isBlank(chars[i].code)) {
            for (size_t b = chars[i].filePos; b < end; ++b)
                p.text[b] = true;
        }
        if (i > 0 && isDigitCode(chars[i].code) && !isBlank(chars[i - 1].code) &&
            !isDigitCode(chars[i - 1].code))
            here[chars[i].filePos] = true;
    }
    if (!first) {
        for (size_t b = 0; b < p.width; ++b)
            p.textToDigits[b] = p.textToDigits[b] && here[b];
    }
    ++p.lines;
}

/// Field starts: the first text after a run of blank positions, and changes from text to
/// digits that hold on every line.
std::vector<size_t> fieldStarts(const Positions& p) {
    std::vector<size_t> starts;
    for (size_t b = 0; b < p.width; ++b) {
        const bool afterBlank = p.text[b] && (b == 0 || !p.text[b - 1]);
        const bool atDigits =
            p.text[b] && b > 0 && p.text[b - 1] && p.lines > 1 && p.textToDigits[b];
        if (afterBlank || atDigits) starts.push_back(b);
    }
    return starts;
}

/// The field's text in `line` as the fixed-width source reads it: trailing blanks removed.
std::string_view fieldText(std::string_view line, const std::vector<Placed>& chars,
                           size_t lineWidth, size_t from, size_t to) {
    if (from >= lineWidth) return {};
    const auto byFile = [](const Placed& c, size_t pos) { return c.filePos < pos; };
    const auto begin = std::lower_bound(chars.begin(), chars.end(), from, byFile);
    const auto end = std::lower_bound(chars.begin(), chars.end(), to, byFile);
    const size_t a = begin == chars.end() ? line.size() : begin->textPos;
    const size_t z = end == chars.end() ? line.size() : end->textPos;
    std::string_view text = line.substr(a, z - a);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

std::string_view withoutLeadingBlanks(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    return text;
}

}  // namespace

void inferFixedWidth(const InferOptions& options, FileLayout& layout) {
    const int encoding = layout.encoding.number;
    {
        const Sample sample = readSample(layout.readPath, layout.encoding, sampleLimit(options),
                                         static_cast<size_t>(-1));
        for (const SampleLine& line : sample.lines)
            countLineEnd(line, layout.lineEnds);
        layout.lineEndsWhole = sample.whole;
        layout.lineEndsBytes = sample.text.size();
    }
    std::vector<Placed> chars;
    Positions positions;
    {
        RecordReader reader(layout.readPath, layout.encoding, options.sampleBytes);
        std::string_view line;
        size_t width = 0;
        while (reader.nextLine(line)) {
            place(line, encoding, chars, width);
            addLine(chars, width, positions.lines == 0, positions);
        }
    }
    if (positions.lines == 0) throw InferError("the file holds no line of text");
    const std::vector<size_t> starts = fieldStarts(positions);
    if (starts.empty()) throw InferError("every line is blank: there are no columns to find");

    // Values: the first line apart, for the header decision.
    std::vector<ColumnStats> stats(starts.size());
    std::vector<std::string> first;
    uint64_t rows = 0;
    bool stoppedEarly = false;
    {
        RecordReader reader(layout.readPath, layout.encoding, options.sampleBytes);
        std::string_view line;
        size_t width = 0;
        while (reader.nextLine(line)) {
            place(line, encoding, chars, width);
            for (size_t f = 0; f < starts.size(); ++f) {
                const size_t to = f + 1 < starts.size() ? starts[f + 1] : positions.width;
                const std::string_view text = fieldText(line, chars, width, starts[f], to);
                if (rows == 0) {
                    first.emplace_back(text);
                } else if (stats[f].observeLength(text)) {
                    stats[f].observeTypes(withoutLeadingBlanks(text));
                }
            }
            ++rows;
        }
        stoppedEarly = reader.stoppedEarly();
    }
    const HeaderDecision header = decideHeader(first, stats, rows - 1);
    if (!header.header) {
        for (size_t f = 0; f < starts.size(); ++f) {
            if (stats[f].observeLength(first[f]))
                stats[f].observeTypes(withoutLeadingBlanks(first[f]));
        }
    }

    layout.header = header.header;
    layout.skipRows = header.header ? 1 : 0;
    layout.rows = header.header ? rows - 1 : rows;
    layout.recordWidth = static_cast<int>(positions.width);
    layout.wholeFile = !stoppedEarly;
    layout.reasons.push_back("layout     " + std::to_string(starts.size()) + " columns" +
                             " (blank on every line between them, or text turning into digits "
                             "on every line); records are lines of up to " +
                             std::to_string(positions.width) + " bytes");
    layout.reasons.push_back(std::string("header     ") + (header.header ? "line 1" : "none") +
                             " (" + header.why + ")");
    if (header.unsure)
        layout.notes.push_back(header.header ? "the first line was taken as the header; if it "
                                               "is data, set SKIPROWS to 0"
                                             : "the first line was taken as data; if it is a "
                                               "header, set SKIPROWS to 1");
    std::vector<std::string> headings = header.header ? first : std::vector<std::string>{};
    headings.resize(starts.size());
    for (std::string& h : headings)
        h = trimBlanks(h);
    const std::vector<std::string> names = uniqueNames(headings);
    for (size_t f = 0; f < starts.size(); ++f) {
        ColumnLayout column;
        column.name = names[f];
        column.heading = header.header ? headings[f] : names[f];
        const ColumnType type = stats[f].decide(options.types);
        column.type = type.name;
        column.outputWidth = type.outputWidth;
        column.longestChars = stats[f].longestChars();
        column.maxLength = 0;
        column.startPos = static_cast<int>(starts[f]) + 1;
        const size_t to = f + 1 < starts.size() ? starts[f + 1] : positions.width;
        column.length = static_cast<int>(to - starts[f]);
        column.values = stats[f].values();
        column.empty = stats[f].empty();
        if (!type.note.empty()) layout.notes.push_back("column " + column.name + ": " + type.note);
        layout.columns.push_back(std::move(column));
    }
}

}  // namespace textjob::infer
