#include <algorithm>
#include <vector>

#include "infer_columns.h"
#include "infer_dialect.h"
#include "infer_fixed_columns.h"
#include "infer_records.h"
#include "infer_side_by_side.h"
#include "infer_steps.h"
#include "mvb/byte_scan.h"

namespace textjob::infer {
namespace {

/// The head of the file that decides the dialect and the header.
constexpr size_t kSampleLines = 2000;
constexpr size_t kSampleBytes = 1u << 20;

/// What a pass over every record found.
struct Pass {
    std::vector<std::string> headings;  ///< the header line's values, byte for byte
    std::vector<ColumnStats> columns;
    uint64_t rows = 0;
    uint64_t shortRows = 0;
    uint64_t longRows = 0;
    uint64_t lostBlanks = 0;  ///< unquoted values whose edge blanks the splitter drops
    uint64_t firstLostBlankRecord = 0;
    bool multiline = false;
    uint64_t firstMultilineRow = 0;  ///< the first row whose quoted value spans lines
    uint64_t strayQuotes = 0;        ///< lines joined by a stray quote, each read alone
    uint64_t firstStrayRow = 0;      ///< the row of the first of them
    bool stoppedEarly = false;
};

/// Counts values that lose blanks at their edges when blanks are not kept.
uint64_t lostBlanksIn(const RecordSplitter& splitter, std::string_view record,
                      const Dialect& dialect) {
    uint64_t lost = 0;
    for (int i = 0; i < splitter.count(); ++i) {
        const FieldSpan& span = splitter.span(i);
        if (span.quoted || span.end <= span.begin) continue;
        if (isTrimmedBlank(record[span.begin], dialect) ||
            isTrimmedBlank(record[span.end - 1], dialect))
            ++lost;
    }
    return lost;
}

/// Reads the records as a job of `dialect` reads them: with `joinLines` (NEWLINES_IN_VALUES) a
/// quoted value goes on over line ends, else each line is a row. Lines joined by a quote are
/// still found with `joinLines` false, as values with line breaks past the sample (`multiline`)
/// unless a stray quote joined them, when each is taken alone.
Pass readAll(const FileLayout& layout, const Dialect& dialect, bool joinLines, int headLines,
             bool header, int columns, uint64_t byteLimit, const PartOfFile& part = {},
             bool linesOnly = false) {
    Pass pass;
    refuseColumnsPastLimit(static_cast<size_t>(columns));
    pass.columns.resize(static_cast<size_t>(columns));
    const auto keepLosses = [&] {
        if (part.later) {
            for (ColumnStats& column : pass.columns)
                column.keepLosses();
        }
    };
    keepLosses();
    RecordReader reader(layout.readPath, layout.encoding, byteLimit);
    if (part.end != 0) reader.readRange(part.begin, part.end);
    std::string_view line;
    for (int i = 0; i < headLines; ++i) {
        if (!reader.nextLine(line)) break;
    }
    RecordSplitter splitter;
    std::string_view record;
    // With `linesOnly` every line is a record, quotes or not (a quote that never closes).
    const auto next = [&] {
        return linesOnly ? reader.nextLine(record) : reader.nextRecord(dialect, record);
    };
    if (header && next()) {
        const int found = splitter.split(record, dialect);
        for (int i = 0; i < found; ++i)
            pass.headings.emplace_back(splitter.field(i));
        if (mvb::scan::holdsLineBreak(record)) pass.multiline = true;
    }
    const bool checkBlanks = !dialect.keepBlanks;
    const auto take = [&](std::string_view record, int found) {
        if (found > columns) {
            ++pass.longRows;
            if (static_cast<size_t>(found) > pass.columns.size()) {
                refuseColumnsPastLimit(static_cast<size_t>(found));
                pass.columns.resize(static_cast<size_t>(found));
                keepLosses();
            }
        } else if (found < columns) {
            ++pass.shortRows;
        }
        bool lineBreak = false;
        for (int i = 0; i < found; ++i) {
            const std::string_view value = splitter.field(i);
            pass.columns[static_cast<size_t>(i)].observe(value);
            lineBreak = lineBreak || (splitter.span(i).quoted && mvb::scan::holdsLineBreak(value));
        }
        if (lineBreak && !pass.multiline) pass.firstMultilineRow = pass.rows + 1;
        if (lineBreak) pass.multiline = true;
        if (checkBlanks) {
            const uint64_t lost = lostBlanksIn(splitter, record, dialect);
            if (lost > 0 && pass.lostBlanks == 0) pass.firstLostBlankRecord = pass.rows + 1;
            pass.lostBlanks += lost;
        }
        ++pass.rows;
    };
    while (next()) {
        const int found = splitter.split(record, dialect);
        if (!joinLines && mvb::scan::holdsLineBreak(record) && splitter.closesBadly()) {
            // A stray quote joined these lines: each is a row, as the job reads them.
            if (pass.strayQuotes++ == 0) pass.firstStrayRow = pass.rows + 1;
            for (std::string_view rest = record; !rest.empty();) {
                const std::string_view line = rest.substr(0, rest.find_first_of("\r\n"));
                rest.remove_prefix(line.size());
                if (rest.starts_with("\r\n")) {
                    rest.remove_prefix(2);
                } else if (!rest.empty()) {
                    rest.remove_prefix(1);
                }
                take(line, splitter.split(line, dialect));
            }
            continue;
        }
        take(record, found);
    }
    pass.stoppedEarly = reader.stoppedEarly();
    return pass;
}

/// Adds what a pass over the records right after those of `pass` found.
void append(Pass& pass, const Pass& later) {
    if (later.columns.size() > pass.columns.size()) pass.columns.resize(later.columns.size());
    for (size_t i = 0; i < later.columns.size(); ++i)
        pass.columns[i].append(later.columns[i]);
    if (pass.lostBlanks == 0 && later.lostBlanks > 0)
        pass.firstLostBlankRecord = pass.rows + later.firstLostBlankRecord;
    if (!pass.multiline && later.multiline)
        pass.firstMultilineRow = pass.rows + later.firstMultilineRow;
    if (pass.strayQuotes == 0 && later.strayQuotes > 0)
        pass.firstStrayRow = pass.rows + later.firstStrayRow;
    pass.strayQuotes += later.strayQuotes;
    pass.rows += later.rows;
    pass.shortRows += later.shortRows;
    pass.longRows += later.longRows;
    pass.lostBlanks += later.lostBlanks;
    pass.multiline = pass.multiline || later.multiline;
}

/// readAll() over the whole file, in two parts read side by side where the file is large and
/// can be read from its middle: the records from the first that starts after the middle byte
/// on a thread of their own, appended to those before. A fault in the second part sends the
/// file through one pass, which reports it at its place in the whole file.
Pass readAllInParts(const FileLayout& layout, const Dialect& dialect, bool joinLines, int headLines,
                    bool header, int columns, uint64_t byteLimit, uint64_t partsFromBytes) {
    if (byteLimit != 0 || !worthTwoParts(layout.fileBytes, partsFromBytes))
        return readAll(layout, dialect, joinLines, headLines, header, columns, byteLimit);
    uint64_t middle = 0;
    {
        // The second part starts past the head lines and the header.
        RecordReader probe(layout.readPath, layout.encoding, 0);
        std::string_view text;
        for (int i = 0; i < headLines && probe.nextLine(text); ++i) {
        }
        if (header) probe.nextRecord(dialect, text);
        middle = probe.recordStartAfter(std::max(layout.fileBytes / 2, probe.position()), &dialect);
    }
    if (middle == 0 || middle >= layout.fileBytes)
        return readAll(layout, dialect, joinLines, headLines, header, columns, byteLimit);
    Pass first;
    Pass second;
    if (!readSideBySide(
            [&] {
                first = readAll(layout, dialect, joinLines, headLines, header, columns, 0,
                                {0, middle, false});
            },
            [&] {
                second = readAll(layout, dialect, joinLines, 0, false, columns, 0,
                                 {middle, layout.fileBytes, true});
            }))
        return readAll(layout, dialect, joinLines, headLines, header, columns, byteLimit);
    append(first, second);
    return first;
}

/// Where the body begins: at the first line when the file has no header (it is data, as is
/// anything above a table that would otherwise be taken for head lines), at `headerLine` (from
/// 1) when given, else after the head records.
size_t bodyStart(const DialectGuess& guess, const InferOptions& options, int& headLines) {
    if (options.noHeader) {
        headLines = 0;
        return 0;
    }
    if (options.headerLine <= 0) {
        headLines = guess.headLines;
        return guess.headRecords;
    }
    for (size_t k = 0; k < guess.records.size(); ++k) {
        if (guess.records[k].firstLine == options.headerLine - 1) {
            headLines = options.headerLine - 1;
            return k;
        }
    }
    throw InferError("--header " + std::to_string(options.headerLine) +
                     ": no record begins on that line of the first " +
                     std::to_string(guess.records.size()) + " records");
}

HeaderDecision chooseHeader(const Sample& sample, const DialectGuess& guess, size_t body,
                            const InferOptions& options, std::vector<std::string>& first) {
    RecordSplitter splitter;
    std::vector<ColumnStats> rest(static_cast<size_t>(guess.columns));
    for (size_t k = body; k < guess.records.size(); ++k) {
        const SampleRecord& r = guess.records[k];
        const std::string_view text = sample.span(static_cast<size_t>(r.firstLine),
                                                  static_cast<size_t>(r.firstLine + r.lines - 1));
        const int found = splitter.split(text, guess.dialect);
        for (int i = 0; i < found; ++i) {
            if (k == body) {
                first.emplace_back(splitter.field(i));
            } else if (static_cast<size_t>(i) < rest.size()) {
                rest[static_cast<size_t>(i)].observe(splitter.field(i));
            }
        }
    }
    const uint64_t restRows = guess.records.size() > body ? guess.records.size() - body - 1 : 0;
    HeaderDecision header;
    if (options.noHeader) {
        header.why = "--no-header";
    } else if (options.headerLine > 0) {
        header.header = true;
        header.why = "--header " + std::to_string(options.headerLine);
    } else {
        header = decideHeader(first, rest, restRows);
    }
    return header;
}

std::string unsureHeaderNote(const HeaderDecision& header, int headLines) {
    const std::string line = std::to_string(headLines + 1);
    if (header.header)
        return "line " + line +
               " was taken as the header; if it is data, use --no-header; "
               "if the header is another line, --header N";
    return "line " + line + " was taken as data; if it is the header, use --header " + line;
}

/// For a file read as one column: how many columns its lines line up in (1 when they do not).
size_t alignedColumns(const Sample& sample, int encoding) {
    std::vector<PlacedLine> lines(sample.lines.size());
    for (size_t i = 0; i < sample.lines.size(); ++i)
        place(sample.line(i), encoding, lines[i]);
    return std::max<size_t>(1, findFixedColumns(lines).starts.size());
}

}  // namespace

uint64_t sampleLimit(const InferOptions& options) {
    return options.sampleBytes == 0 ? kSampleBytes
                                    : std::min<uint64_t>(options.sampleBytes, kSampleBytes);
}

void inferDelimited(const InferOptions& options, FileLayout& layout) {
    const Sample sample =
        readSample(layout.readPath, layout.encoding, sampleLimit(options), kSampleLines);
    if (sample.lines.empty()) throw InferError("the file holds no line of text");
    DialectGuess guess = detectDialect(sample, options.delimiter);
    if (guess.columns == 1 && sample.lines.size() > 1) {
        const size_t aligned = alignedColumns(sample, layout.encoding.number);
        if (aligned > 1)
            guess.notes.push_back("the lines line up in " + std::to_string(aligned) +
                                  " columns: the file may be fixed-width (try --fixed)");
    }
    layout.lineEnds = guess.lineEnds;
    layout.lineEndsWhole = sample.whole;
    layout.lineEndsBytes = sample.text.size();

    int headLines = 0;
    const size_t body = bodyStart(guess, options, headLines);
    std::vector<std::string> first;
    const HeaderDecision header = chooseHeader(sample, guess, body, options, first);

    // A quote that opens a value and closes nowhere after it (past the lines the dialect was
    // chosen from) is stray: the job reads each line alone, as the run must, rather than fail
    // at the end of the file.
    bool strayAtEnd = false;
    const auto readPass = [&]() -> Pass {
        if (!strayAtEnd) {
            try {
                return readAllInParts(layout, guess.dialect, guess.newlinesInValues, headLines,
                                      header.header, guess.columns, options.sampleBytes,
                                      options.partsFromBytes);
            } catch (const InferError& e) {
                const std::string_view why = e.what();
                if (why.find("ends inside a quoted value") == why.npos) throw;
                strayAtEnd = true;
                const bool splits = guess.newlinesInValues;
                guess.newlinesInValues = false;
                layout.notes.push_back(
                    "quote: a " + describeCharacter(guess.dialect.quote) +
                    " opens a value that never closes before the end of the file: "
                    "NEWLINES_IN_VALUES false, each line read as a row (that value running to "
                    "its line's end)" +
                    (splits ? std::string("; the values that hold line breaks are split at them "
                                          "too: fix that quote to keep them whole")
                            : std::string()));
            }
        }
        return readAll(layout, guess.dialect, false, headLines, header.header, guess.columns,
                       options.sampleBytes, {}, true);
    };
    Pass pass = readPass();
    if (pass.lostBlanks > 0 && !guess.blanksAreLayout) {
        // Blanks that matter appear past the head of the file: read again, keeping them.
        const uint64_t at = pass.firstLostBlankRecord;
        guess.dialect.keepBlanks = true;
        for (std::string& reason : guess.reasons) {
            if (reason.rfind("blanks", 0) == 0)
                reason = "blanks     kept (values have blanks at their edges, first in row " +
                         std::to_string(at) + ")";
        }
        pass = readPass();
    }

    layout.delimiter = guess.dialect.delimiter;
    layout.quote = guess.dialect.quote;
    layout.preserveWhitespace = guess.dialect.keepBlanks;
    layout.newlinesInValues = guess.newlinesInValues || pass.multiline;
    if (!guess.newlinesInValues && pass.multiline && pass.firstMultilineRow > 0) {
        // Seen only past the lines the dialect was chosen from: one stray quote looks the same.
        layout.notes.push_back(
            "a quoted value spans lines first in row " + std::to_string(pass.firstMultilineRow) +
            ", far into the file: if its quote is stray, the rows from there join into one; set "
            "NEWLINES_IN_VALUES false to read each line as a row");
    }
    if (pass.strayQuotes > 0 && guess.strayQuotes == 0) {
        // Past the lines the dialect was chosen from (those have a note of their own).
        layout.notes.push_back("quote: the " + describeCharacter(guess.dialect.quote) +
                               " that opens a value in row " + std::to_string(pass.firstStrayRow) +
                               " closes it neither on that line nor cleanly on a later one (" +
                               std::to_string(pass.strayQuotes) +
                               (pass.strayQuotes == 1 ? " such row" : " such rows") +
                               "): " + std::string(kStrayLineAlone));
    }
    if (layout.newlinesInValues) {
        // The run joins lines inside quotes: a stray quote's value runs on over the next lines.
        for (std::vector<std::string>* notes : {&layout.notes, &guess.notes}) {
            for (std::string& note : *notes) {
                if (note.ends_with(kStrayLineAlone))
                    note.replace(note.size() - kStrayLineAlone.size(), kStrayLineAlone.size(),
                                 kStrayLineJoined);
            }
        }
    }
    layout.header = header.header;
    layout.headLines = headLines;
    const int headerLines =
        header.header && body < guess.records.size() ? guess.records[body].lines : 0;
    layout.skipRows = headLines + headerLines;
    layout.rows = pass.rows;
    layout.wholeFile = !pass.stoppedEarly;
    layout.reasons.insert(layout.reasons.end(), guess.reasons.begin(), guess.reasons.end());
    layout.notes.insert(layout.notes.end(), guess.notes.begin(), guess.notes.end());
    layout.reasons.push_back(std::string("newlines   ") +
                             (layout.newlinesInValues
                                  ? "inside quoted values: NEWLINES_IN_VALUES true"
                                  : "none inside values"));
    std::string headerReason =
        header.header ? "line " + std::to_string(headLines + 1) : std::string("none");
    headerReason += " (" + header.why + ")";
    if (headLines > 0)
        headerReason += ", " + std::to_string(headLines) + " head line(s) above skipped";
    layout.reasons.push_back("header     " + headerReason);
    if (header.unsure) layout.notes.push_back(unsureHeaderNote(header, headLines));
    if (pass.shortRows > 0)
        layout.notes.push_back(
            std::to_string(pass.shortRows) +
            " rows have fewer fields than most (their missing fields read as null)");
    if (pass.longRows > 0)
        layout.notes.push_back(std::to_string(pass.longRows) +
                               " rows have more fields than most: columns added for them");

    const size_t count = std::max(pass.columns.size(), pass.headings.size());
    pass.columns.resize(count);
    std::vector<std::string> headings = pass.headings;
    headings.resize(count);
    const std::vector<std::string> names = uniqueNames(headings);
    for (size_t i = 0; i < count; ++i) {
        ColumnLayout column = observedColumn(names[i], header.header ? headings[i] : names[i],
                                             pass.columns[i], options.types, layout.notes);
        column.maxLength = column.type == "string" ? maxLengthWithHeadroom(column.longestChars) : 0;
        layout.columns.push_back(std::move(column));
    }
}

}  // namespace textjob::infer
