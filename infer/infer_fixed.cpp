#include <algorithm>
#include <set>
#include <vector>

#include "infer_columns.h"
#include "infer_fixed_columns.h"
#include "infer_records.h"
#include "infer_side_by_side.h"
#include "infer_steps.h"
#include "mvb/charset.h"

namespace textjob::infer {
namespace {

/// Lines of the head of the file the columns are found in.
constexpr size_t kSampleLines = 2000;

/// The field's text in `line` as the fixed-width source reads it: trailing blanks removed.
std::string_view fieldText(std::string_view line, const PlacedLine& placed, size_t from,
                           size_t to) {
    if (from >= placed.width) return {};
    const auto byFile = [](const Placed& c, size_t pos) { return c.filePos < pos; };
    const auto begin = std::lower_bound(placed.chars.begin(), placed.chars.end(), from, byFile);
    const auto end = std::lower_bound(placed.chars.begin(), placed.chars.end(), to, byFile);
    const size_t a = begin == placed.chars.end() ? line.size() : begin->textPos;
    const size_t z = end == placed.chars.end() ? line.size() : end->textPos;
    std::string_view text = line.substr(a, z - a);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

/// Cuts lines into fields at positions in the file, as fieldText() does, the cheapest way the
/// encoding allows: by byte offset where those are the positions (every line of a UTF-8 file,
/// an ASCII line where ASCII takes a byte each), by counting characters in a file of a byte
/// per character, else by placing every character.
class LineCutter {
  public:
    explicit LineCutter(int encoding)
        : encoding_(encoding),
          utf8_(mvbIsUtf8Encoding(encoding)),
          asciiByte_(np_uchar_chsize_min(encoding) == 1),
          byteEach_(np_uchar_xcsize_max(encoding) == 1) {}

    /// Takes the next line; returns its width in bytes of the file.
    size_t take(std::string_view line) {
        line_ = line;
        if (utf8_ || (asciiByte_ && isAscii(line))) {
            mode_ = Mode::Offsets;
            return line.size();
        }
        if (byteEach_) {
            mode_ = Mode::Characters;
            starts_.clear();
            for (size_t at = 0; at < line.size(); ++at) {
                if (!isContinuation(line[at])) starts_.push_back(at);
            }
            return starts_.size();
        }
        mode_ = Mode::Placed;
        place(line, encoding_, placed_);
        return placed_.width;
    }

    /// The text of the field from position `from` up to `to` (not before it), trailing blanks
    /// removed.
    std::string_view field(size_t from, size_t to) const {
        if (mode_ == Mode::Placed) return fieldText(line_, placed_, from, to);
        const size_t a = offsetOf(from);
        std::string_view text = line_.substr(a, std::max(a, offsetOf(to)) - a);
        while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
            text.remove_suffix(1);
        return text;
    }

  private:
    enum class Mode { Offsets, Characters, Placed };

    static bool isContinuation(char c) { return (static_cast<unsigned char>(c) & 0xC0u) == 0x80u; }
    static bool isAscii(std::string_view line) {
        unsigned char high = 0;
        for (const char c : line)
            high |= static_cast<unsigned char>(c);
        return high < 0x80u;
    }
    /// The offset of the first character at or after position `at` (the line's size past it).
    size_t offsetOf(size_t at) const {
        if (mode_ == Mode::Characters) return at < starts_.size() ? starts_[at] : line_.size();
        while (at < line_.size() && isContinuation(line_[at]))
            ++at;
        return std::min(at, line_.size());
    }

    const int encoding_;
    const bool utf8_;
    const bool asciiByte_;
    const bool byteEach_;
    Mode mode_ = Mode::Offsets;
    std::string_view line_;
    std::vector<size_t> starts_;  ///< Characters: the offset of each character
    PlacedLine placed_;
};

std::string_view withoutLeadingBlanks(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    return text;
}

/// The columns found in the head of the file, with the line ends counted there.
FixedColumns columnsOfHead(const InferOptions& options, FileLayout& layout) {
    const Sample sample =
        readSample(layout.readPath, layout.encoding, sampleLimit(options), kSampleLines);
    std::vector<PlacedLine> lines(sample.lines.size());
    for (size_t i = 0; i < sample.lines.size(); ++i) {
        countLineEnd(sample.lines[i], layout.lineEnds);
        place(sample.line(i), layout.encoding.number, lines[i]);
    }
    layout.lineEndsWhole = sample.whole;
    layout.lineEndsBytes = sample.text.size();
    if (lines.empty()) throw InferError("the file holds no line of text");
    FixedColumns found = findFixedColumns(lines);
    if (found.starts.empty()) throw InferError("every line is blank: there are no columns to find");
    // Lines of one length in characters and of several in bytes line up by characters (the
    // first line below the head is left out: a header is often shorter than the values).
    std::set<size_t> characters;
    std::set<size_t> bytes;
    for (size_t i = found.headLines + 1; i < lines.size(); ++i) {
        if (lines[i].chars.empty()) continue;
        characters.insert(lines[i].chars.size());
        bytes.insert(lines[i].width);
    }
    found.alignedByCharacters = characters.size() == 1 && bytes.size() > 1;
    return found;
}

/// What a pass over every line found.
struct Pass {
    std::vector<std::string> first;  ///< the header line's texts, or the first row's
    std::vector<ColumnStats> stats;
    /// Per column, the values with blanks before them: a right-aligned column's padding,
    /// which the source keeps in a string.
    std::vector<uint64_t> padded;
    uint64_t rows = 0;
    size_t width = 0;  ///< the widest line, in bytes of the file
    bool stoppedEarly = false;
};

/// Reads every line after the first `skip` (of `part`); with `headerLine` (an index below
/// `skip`) the names come from that line, else the first line read is kept apart in `first`
/// (but in a later part).
Pass readAll(const InferOptions& options, const FileLayout& layout, const FixedColumns& columns,
             size_t skip, size_t headerLine, const PartOfFile& part = {}) {
    const bool firstIsHeader = headerLine < skip;
    Pass pass;
    const std::vector<size_t>& starts = columns.starts;
    refuseColumnsPastLimit(starts.size());
    pass.stats.resize(starts.size());
    pass.padded.resize(starts.size());
    if (part.later) {
        for (ColumnStats& column : pass.stats)
            column.keepLosses();
    }
    RecordReader reader(layout.readPath, layout.encoding, options.sampleBytes);
    if (part.end != 0) reader.readRange(part.begin, part.end);
    std::string_view line;
    LineCutter cutter(layout.encoding.number);
    const auto fieldEnd = [&](size_t f, size_t width) {
        return std::max(f + 1 < starts.size() ? starts[f + 1] : width, starts[f]);
    };
    for (size_t i = 0; i < skip && reader.nextLine(line); ++i) {
        if (i == headerLine) {
            // A header above the body (above a rule, say): its names at the columns found.
            const size_t width = cutter.take(line);
            for (size_t f = 0; f < starts.size(); ++f)
                pass.first.emplace_back(
                    withoutLeadingBlanks(cutter.field(starts[f], fieldEnd(f, width))));
        }
    }
    bool first = !firstIsHeader && !part.later;
    while (reader.nextLine(line)) {
        const size_t width = cutter.take(line);
        pass.width = std::max(pass.width, width);
        for (size_t f = 0; f < starts.size(); ++f) {
            const std::string_view text = cutter.field(starts[f], fieldEnd(f, width));
            if (first) {
                pass.first.emplace_back(withoutLeadingBlanks(text));
            } else if (pass.stats[f].observeLength(text)) {
                const std::string_view value = withoutLeadingBlanks(text);
                pass.padded[f] += value.size() != text.size();
                pass.stats[f].observeTypes(value);
            }
        }
        first = false;
        ++pass.rows;
    }
    pass.stoppedEarly = reader.stoppedEarly();
    return pass;
}

/// readAll() in two parts side by side where the file is large and can be read from its
/// middle, as the delimited detection does (see readAllInParts() there): the lines from the
/// first that starts after the middle byte, and after the head lines and the first row, on a
/// thread of their own.
Pass readAllInParts(const InferOptions& options, const FileLayout& layout,
                    const FixedColumns& columns, size_t skip, size_t headerLine) {
    if (options.sampleBytes != 0 || !worthTwoParts(layout.fileBytes, options.partsFromBytes))
        return readAll(options, layout, columns, skip, headerLine);
    uint64_t middle = 0;
    {
        RecordReader probe(layout.readPath, layout.encoding, 0);
        std::string_view line;
        for (size_t i = 0; i <= skip && probe.nextLine(line); ++i) {
        }
        middle = probe.recordStartAfter(std::max(layout.fileBytes / 2, probe.position()), nullptr);
    }
    if (middle == 0 || middle >= layout.fileBytes)
        return readAll(options, layout, columns, skip, headerLine);
    Pass first;
    Pass second;
    if (!readSideBySide(
            [&] {
                first = readAll(options, layout, columns, skip, headerLine, {0, middle, false});
            },
            [&] {
                second = readAll(options, layout, columns, 0, headerLine,
                                 {middle, layout.fileBytes, true});
            }))
        return readAll(options, layout, columns, skip, headerLine);
    for (size_t f = 0; f < first.stats.size(); ++f) {
        first.stats[f].append(second.stats[f]);
        first.padded[f] += second.padded[f];
    }
    first.rows += second.rows;
    first.width = std::max(first.width, second.width);
    return first;
}

}  // namespace

void inferFixedWidth(const InferOptions& options, FileLayout& layout) {
    FixedColumns columns = columnsOfHead(options, layout);
    // The header: above the rule, on the line asked for, or the first line of the body when its
    // values are not like those below.
    size_t skip = columns.headLines;
    bool headerAbove = columns.headerAboveRule && !options.noHeader;
    if (options.headerLine > 0) {
        skip = static_cast<size_t>(options.headerLine);
        headerAbove = true;
    }
    const size_t none = static_cast<size_t>(-1);
    const size_t headerLine = !headerAbove ? none : options.headerLine > 0 ? skip - 1 : skip - 2;
    Pass pass = readAllInParts(options, layout, columns, skip, headerLine);
    HeaderDecision header;
    if (headerAbove) {
        header.header = true;
        header.why = options.headerLine > 0 ? "--header " + std::to_string(options.headerLine)
                                            : "the line above the rule";
    } else if (options.noHeader) {
        header.why = "--no-header";
    } else if (pass.rows > 0) {
        header = decideHeader(pass.first, pass.stats, pass.rows - 1);
    }
    const bool headerInBody = header.header && !headerAbove;
    if (!header.header && pass.rows > 0) {
        for (size_t f = 0; f < pass.first.size(); ++f) {
            if (pass.stats[f].observeLength(pass.first[f]))
                pass.stats[f].observeTypes(withoutLeadingBlanks(pass.first[f]));
        }
    }
    const size_t width = std::max(pass.width, columns.starts.back() + 1);

    layout.header = header.header;
    layout.headLines = static_cast<int>(headerAbove ? headerLine : skip);
    layout.skipRows = static_cast<int>(skip) + (headerInBody ? 1 : 0);
    layout.rows = headerInBody ? pass.rows - 1 : pass.rows;
    layout.recordWidth = static_cast<int>(width);
    layout.wholeFile = !pass.stoppedEarly;
    layout.reasons.push_back("layout     " + std::to_string(columns.starts.size()) + " columns (" +
                             columns.why + "); records are lines of up to " +
                             std::to_string(width) + " bytes");
    std::string headerReason =
        header.header ? "line " + std::to_string(layout.headLines + 1) : std::string("none");
    headerReason += " (" + header.why + ")";
    if (layout.headLines > 0)
        headerReason += ", " + std::to_string(layout.headLines) + " head line(s) above skipped";
    layout.reasons.push_back("header     " + headerReason);
    if (header.unsure)
        layout.notes.push_back(header.header
                                   ? "line " + std::to_string(layout.headLines + 1) +
                                         " was taken as the header; if it is data, use --no-header"
                                   : "line " + std::to_string(layout.headLines + 1) +
                                         " was taken as data; if it is the header, use --header " +
                                         std::to_string(layout.headLines + 1));
    if (columns.alignedByCharacters && columns.starts.size() > 1) {
        layout.notes.push_back(
            "the lines are of one length in characters but not in bytes: they seem to line up "
            "by characters, while columns are at byte positions of the file, so values after a "
            "character of more than one byte are cut in the wrong places");
    }
    std::vector<std::string> headings = header.header ? pass.first : std::vector<std::string>{};
    headings.resize(columns.starts.size());
    for (std::string& h : headings)
        h = trimBlanks(h);
    const std::vector<std::string> names = uniqueNames(headings);
    for (size_t f = 0; f < columns.starts.size(); ++f) {
        ColumnLayout column = observedColumn(names[f], header.header ? headings[f] : names[f],
                                             pass.stats[f], options.types, layout.notes);
        column.startPos = static_cast<int>(columns.starts[f]) + 1;
        if (column.type == "string" && pass.padded[f] != 0) {
            const bool one = pass.padded[f] == 1;
            layout.notes.push_back(std::string(kColumnNoteStart) + column.name + ": " +
                                   std::to_string(pass.padded[f]) +
                                   (one ? " value keeps the blanks that pad it"
                                        : " values keep the blanks that pad them") +
                                   " on the left, as a string is read with its leading blanks");
        }
        const size_t to = f + 1 < columns.starts.size() ? columns.starts[f + 1] : width;
        column.length = static_cast<int>(to - columns.starts[f]);
        layout.columns.push_back(std::move(column));
    }
}

}  // namespace textjob::infer
