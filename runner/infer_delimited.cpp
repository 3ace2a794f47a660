#include <algorithm>
#include <cstring>
#include <vector>

#include "infer_columns.h"
#include "infer_dialect.h"
#include "infer_records.h"
#include "infer_steps.h"
#include "mvb/parse.h"

namespace textjob::infer {
namespace {

/// The head of the file that decides the dialect and the header.
constexpr size_t kSampleLines = 2000;
constexpr size_t kSampleBytes = 1u << 20;

/// Splits records with the runtime's splitter, as the delimited source does.
class Splitter {
  public:
    /// Splits `record`; the fields stay valid until the next call.
    int split(std::string_view record, const Dialect& dialect) {
        const unsigned flags = dialect.keepBlanks ? MVS_PARSE_KEEP_BLANKS : 0u;
        if (scratch_.size() < record.size() + 16) scratch_.resize(record.size() + 16);
        for (;;) {
            std::memcpy(scratch_.data(), record.data(), record.size());
            scratch_[record.size()] = '\0';
            const int capacity = static_cast<int>(fields_.size());
            const int found = mvs_parse_text_ex2(scratch_.data(), fields_.data(), capacity,
                                                 scratch_.data(), static_cast<int>(record.size()),
                                                 dialect.delimiter, dialect.quote, flags);
            if (found < capacity) {
                views_.resize(static_cast<size_t>(found));
                for (int i = 0; i < found; ++i)
                    views_[static_cast<size_t>(i)] = fields_[static_cast<size_t>(i)];
                return found;
            }
            fields_.resize(fields_.size() * 2);  // the record may have more: split it again
        }
    }
    std::string_view field(int i) const { return views_[static_cast<size_t>(i)]; }
    /// Where field `i` starts in the record.
    size_t offset(int i) const {
        return static_cast<size_t>(fields_[static_cast<size_t>(i)] - scratch_.data());
    }

  private:
    std::vector<char> scratch_;
    std::vector<char*> fields_ = std::vector<char*>(64);
    std::vector<std::string_view> views_;  ///< the fields of the last split, measured once
};

/// What a pass over every record found.
struct Pass {
    std::vector<std::string> headings;  ///< the header line's values
    std::vector<ColumnStats> columns;
    uint64_t rows = 0;
    uint64_t shortRows = 0;
    uint64_t longRows = 0;
    uint64_t lostBlanks = 0;  ///< unquoted values whose edge blanks the splitter drops
    uint64_t firstLostBlankLine = 0;
    bool multiline = false;
    bool quoteOpenAtEnd = false;
    bool stoppedEarly = false;
};

/// Counts values that lose blanks at their edges when blanks are not kept: the splitter leaves
/// each field where it was in the record, so the bytes around it tell.
uint64_t lostBlanksIn(const Splitter& splitter, int found, std::string_view record,
                      const Dialect& dialect) {
    const auto isBlank = [&](char c) {
        return c == ' ' || (c == '\t' && dialect.delimiter != '\t');
    };
    char quoteBytes[5];
    const std::string_view quote = utf8Of(dialect.quote, quoteBytes);
    uint64_t lost = 0;
    for (int i = 0; i < found; ++i) {
        const size_t at = splitter.offset(i);
        if (at > 0 && !quote.empty() && record[at - 1] == quote.back()) continue;  // quoted
        const size_t end = at + splitter.field(i).size();
        if ((at > 0 && isBlank(record[at - 1])) || (end < record.size() && isBlank(record[end])))
            ++lost;
    }
    return lost;
}

Pass readAll(const FileLayout& layout, const Dialect& dialect, int headLines, bool header,
             int columns, uint64_t byteLimit) {
    Pass pass;
    pass.columns.resize(static_cast<size_t>(columns));
    RecordReader reader(layout.path, layout.encoding, byteLimit);
    reader.setLineBreak(layout.lineEnds.crlf > 0 ? "\r\n" : "\n");
    std::string_view line;
    for (int i = 0; i < headLines; ++i) {
        if (!reader.nextLine(line)) break;
    }
    Splitter splitter;
    std::string_view record;
    int lines = 0;
    if (header && reader.nextRecord(dialect, record, lines)) {
        const int found = splitter.split(record, dialect);
        for (int i = 0; i < found; ++i)
            pass.headings.emplace_back(splitter.field(i));
        if (lines > 1) pass.multiline = true;
    }
    const bool checkBlanks = !dialect.keepBlanks;
    while (reader.nextRecord(dialect, record, lines)) {
        if (lines > 1) pass.multiline = true;
        const int found = splitter.split(record, dialect);
        if (found > columns) {
            ++pass.longRows;
            if (static_cast<size_t>(found) > pass.columns.size())
                pass.columns.resize(static_cast<size_t>(found));
        } else if (found < columns) {
            ++pass.shortRows;
        }
        for (int i = 0; i < found; ++i)
            pass.columns[static_cast<size_t>(i)].observe(splitter.field(i));
        if (checkBlanks) {
            const uint64_t lost = lostBlanksIn(splitter, found, record, dialect);
            if (lost > 0 && pass.lostBlanks == 0) pass.firstLostBlankLine = reader.linesRead();
            pass.lostBlanks += lost;
        }
        ++pass.rows;
    }
    pass.quoteOpenAtEnd = reader.quoteOpenAtEnd();
    pass.stoppedEarly = reader.stoppedEarly();
    return pass;
}

std::string joinLines(const std::vector<std::string>& lines, const SampleRecord& record) {
    std::string text = lines[static_cast<size_t>(record.firstLine)];
    for (int i = 1; i < record.lines; ++i) {
        text += '\n';
        text += lines[static_cast<size_t>(record.firstLine + i)];
    }
    return text;
}

}  // namespace

uint64_t sampleLimit(const InferOptions& options) {
    return options.sampleBytes == 0 ? kSampleBytes
                                    : std::min<uint64_t>(options.sampleBytes, kSampleBytes);
}

void inferDelimited(const InferOptions& options, FileLayout& layout) {
    std::vector<std::string> sample;
    {
        RecordReader reader(layout.path, layout.encoding, sampleLimit(options));
        std::string_view line;
        while (sample.size() < kSampleLines && reader.nextLine(line))
            sample.emplace_back(line);
    }
    if (sample.empty()) throw InferError("the file holds no line of text");
    DialectGuess guess = detectDialect(sample);

    // The header, judged against the types of the records after it in the sample.
    Splitter splitter;
    std::vector<std::string> first;
    std::vector<ColumnStats> rest(static_cast<size_t>(guess.columns));
    for (size_t k = 0; k < guess.records.size(); ++k) {
        const std::string text = joinLines(sample, guess.records[k]);
        const int found = splitter.split(text, guess.dialect);
        for (int i = 0; i < found; ++i) {
            if (k == 0) {
                first.emplace_back(splitter.field(i));
            } else if (static_cast<size_t>(i) < rest.size()) {
                rest[static_cast<size_t>(i)].observe(splitter.field(i));
            }
        }
    }
    const uint64_t restRows = guess.records.empty() ? 0 : guess.records.size() - 1;
    const HeaderDecision header = decideHeader(first, rest, restRows);
    const int headerLines = header.header && !guess.records.empty() ? guess.records[0].lines : 0;

    Pass pass = readAll(layout, guess.dialect, guess.headLines, header.header, guess.columns,
                        options.sampleBytes);
    if (pass.lostBlanks > 0 && !guess.blanksAreLayout) {
        // Blanks that matter appear past the head of the file: read again, keeping them.
        const uint64_t line = pass.firstLostBlankLine;
        guess.dialect.keepBlanks = true;
        for (std::string& reason : guess.reasons) {
            if (reason.rfind("blanks", 0) == 0)
                reason = "blanks     kept (values have blanks at their edges, first on line " +
                         std::to_string(line) + ")";
        }
        pass = readAll(layout, guess.dialect, guess.headLines, header.header, guess.columns,
                       options.sampleBytes);
    }

    layout.delimiter = guess.dialect.delimiter;
    layout.quote = guess.dialect.quote;
    layout.preserveWhitespace = guess.dialect.keepBlanks;
    layout.newlinesInValues = guess.newlinesInValues || pass.multiline;
    layout.header = header.header;
    layout.headLines = guess.headLines;
    layout.skipRows = guess.headLines + headerLines;
    layout.rows = pass.rows;
    layout.wholeFile = !pass.stoppedEarly;
    layout.reasons.insert(layout.reasons.end(), guess.reasons.begin(), guess.reasons.end());
    layout.notes.insert(layout.notes.end(), guess.notes.begin(), guess.notes.end());
    layout.reasons.push_back(std::string("newlines   ") +
                             (layout.newlinesInValues
                                  ? "inside quoted values: NEWLINES_IN_VALUES true"
                                  : "none inside values"));
    std::string headerReason =
        header.header ? "line " + std::to_string(guess.headLines + 1) : std::string("none");
    headerReason += " (" + header.why + ")";
    if (guess.headLines > 0)
        headerReason += ", " + std::to_string(guess.headLines) + " head line(s) above skipped";
    layout.reasons.push_back("header     " + headerReason);
    if (header.unsure)
        layout.notes.push_back(header.header ? "the first line was taken as the header; if it is "
                                               "data, set SKIPROWS to " +
                                                   std::to_string(guess.headLines)
                                             : "the first line was taken as data; if it is a "
                                               "header, set SKIPROWS to " +
                                                   std::to_string(guess.headLines + 1));
    if (pass.shortRows > 0)
        layout.notes.push_back(std::to_string(pass.shortRows) +
                               " rows have fewer fields than the columns (read as null)");
    if (pass.longRows > 0)
        layout.notes.push_back(std::to_string(pass.longRows) +
                               " rows have more fields than most: columns added for them");
    if (pass.quoteOpenAtEnd)
        layout.notes.push_back("a quoted value is still open at the end of the file");

    const size_t count = std::max(pass.columns.size(), pass.headings.size());
    pass.columns.resize(count);
    std::vector<std::string> headings = pass.headings;
    headings.resize(count);
    const std::vector<std::string> names = uniqueNames(headings);
    for (size_t i = 0; i < count; ++i) {
        ColumnLayout column;
        column.name = names[i];
        column.heading = header.header ? headings[i] : names[i];
        const ColumnType type = pass.columns[i].decide(options.allText);
        column.type = type.name;
        column.outputWidth = type.outputWidth;
        column.longestChars = pass.columns[i].longestChars();
        column.maxLength = type.name == "string" ? maxLengthWithHeadroom(column.longestChars) : 0;
        column.values = pass.columns[i].values();
        column.empty = pass.columns[i].empty();
        if (!type.note.empty()) layout.notes.push_back("column " + column.name + ": " + type.note);
        layout.columns.push_back(std::move(column));
    }
}

}  // namespace textjob::infer
