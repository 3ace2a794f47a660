#include "infer_dialect.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <map>

namespace textjob::infer {
namespace {

/// Lines the dialect is scored on; more add time and seldom change the answer.
constexpr size_t kScoredLines = 2000;

/// The usual delimiters, in the order that breaks a tie.
constexpr int kUsualDelimiters[] = {',', '\t', ';', '|'};
/// Other characters that may separate fields. Characters common inside values (. - / : + _
/// brackets, letters, digits, blanks) are left out: a column of dates would otherwise "split"
/// at its dashes.
constexpr std::string_view kOtherDelimiters = "!#$%&*<=>?@^`~";
/// Those of them that values often hold once (a percent, a price, an address, a number sign).
constexpr std::string_view kValueSymbols = "!#$%&*<=>?@";
/// Quotes besides these two are weighed only when they stand at both edges of fields often.
constexpr int kUsualQuotes[] = {'"', '\''};
/// How many other quote characters are weighed per delimiter, the most frequent first.
constexpr size_t kOtherQuotes = 2;

struct Score {
    Dialect dialect;
    int columns = 0;
    double share = 0;  ///< records with `columns` fields, of all records
    uint64_t quoted = 0;
    uint64_t quotedWithText = 0;  ///< quoted values that are not empty
    uint64_t badClose = 0;        ///< quoted values with text after the closing quote
    uint64_t edgeBlanks = 0;      ///< unquoted values with a blank or tab at either edge
    uint64_t blanksBeforeQuote = 0;
    uint64_t afterDelimiter = 0;  ///< non-empty unquoted values that follow a delimiter
    uint64_t oneBlankLead = 0;    ///< of those, the ones that begin with exactly one blank
    uint64_t pastLayout = 0;      ///< unquoted values with edge blanks besides such a one
    std::vector<SampleRecord> records;
    /// Lines whose quote opens a value that closes on no later line, or with text after it:
    /// a stray quote, not a value with line breaks. Each is read as a record alone, as the
    /// source reads lines without NEWLINES_IN_VALUES, and its open value is not weighed.
    uint64_t strayQuotes = 0;
    int firstStrayLine = -1;  ///< 0-based line of the first of them
};

void weighFields(const RecordSplitter& splitter, std::string_view record, const Dialect& dialect,
                 Score& score, SampleRecord& sampled, bool strayQuote = false) {
    for (int i = 0; i < splitter.count(); ++i) {
        const FieldSpan& span = splitter.span(i);
        if (!splitter.field(i).empty()) ++sampled.filled;
        // The value a stray quote opens runs to the line's end: no quoted value, no fault of
        // one (it is counted as the stray quote it is).
        if (strayQuote && span.quoted && !span.cleanClose && span.end == record.size()) continue;
        if (span.quoted) {
            ++score.quoted;
            if (!splitter.field(i).empty()) ++score.quotedWithText;
            if (!span.cleanClose) ++score.badClose;
            if (span.valueAt > span.begin + 1) ++score.blanksBeforeQuote;
            continue;
        }
        if (span.end <= span.begin) continue;
        const bool leads = isTrimmedBlank(record[span.begin], dialect);
        const bool trails = isTrimmedBlank(record[span.end - 1], dialect);
        if (leads || trails) ++score.edgeBlanks;
        bool oneLead = false;
        if (i > 0) {
            ++score.afterDelimiter;
            oneLead =
                record[span.begin] == ' ' &&
                (span.end - span.begin == 1 || !isTrimmedBlank(record[span.begin + 1], dialect));
            if (oneLead) ++score.oneBlankLead;
        }
        if ((leads && !oneLead) || (trails && span.end - span.begin > 1)) ++score.pastLayout;
    }
}

/// Reads the sample's records with `dialect`, as the record reader joins lines.
Score scoreDialect(const Sample& sample, const Dialect& dialect) {
    Score score;
    score.dialect = dialect;
    RecordSplitter splitter;
    const size_t count = sample.lines.size();
    for (size_t i = 0; i < count && i < kScoredLines;) {
        SampleRecord record;
        record.firstLine = static_cast<int>(i);
        bool open = leavesQuoteOpen(sample.line(i), dialect, false);
        size_t last = i;
        while (open && last + 1 < count) {
            ++last;
            open = leavesQuoteOpen(sample.line(last), dialect, true);
        }
        // The sample ends inside a quoted value: past the sample the value may close, so the
        // cut record is not counted.
        if (open && !sample.whole) break;
        std::string_view text = sample.span(i, last);
        record.fields = splitter.split(text, dialect);
        // A value that closes on no line, or whose closing quote on a later line has text
        // after it (the quote that opens the next line's value, say), was opened by a stray
        // quote: its line is a record alone, as without NEWLINES_IN_VALUES.
        const bool stray = open || (last > i && splitter.closesBadly());
        if (stray) {
            last = i;
            text = sample.line(i);
            record.fields = splitter.split(text, dialect);
            if (score.strayQuotes++ == 0) score.firstStrayLine = static_cast<int>(i);
        }
        record.lines = static_cast<int>(last - i + 1);
        weighFields(splitter, text, dialect, score, record, stray);
        score.records.push_back(record);
        i = last + 1;
    }
    std::map<int, size_t> counts;
    for (const SampleRecord& r : score.records)
        ++counts[r.fields];
    size_t best = 0;
    for (const auto& [fields, n] : counts) {
        if (n > best || (n == best && fields > score.columns)) {
            best = n;
            score.columns = fields;
        }
    }
    score.share = score.records.empty() ? 0 : double(best) / double(score.records.size());
    return score;
}

/// Better when more records agree on a field count of at least 2.
double rank(const Score& s) {
    return s.columns >= 2 ? s.share : 0;
}

/// A quote that encloses whole values: some values begin with it, nearly all of them close it
/// right before the delimiter, most hold text, and it reads the records as well as no quote.
/// A value of two `"` alone is the empty value as every writer of CSV gives it (one that
/// quotes only what needs it, a line of one empty value): `"` need not enclose text.
/// Another quote than `"` must also do something, or be the file's habit: a value it encloses
/// holds the delimiter or a line break (the records split otherwise without it), or it
/// encloses values on one record in ten at least. A lone `'Hello'` is text that happens to be
/// in apostrophes, which reading it as quoted would drop.
bool encloses(const Score& quoted, const Score& none) {
    const bool holdsText =
        quoted.quotedWithText * 2 >= quoted.quoted || quoted.dialect.quote == '"';
    if (quoted.quoted == 0 || quoted.badClose * 20 > quoted.quoted || !holdsText ||
        rank(quoted) < rank(none) - 1e-9) {
        return false;
    }
    if (quoted.dialect.quote == '"') return true;
    // A character that is no usual quote and joins lines into one record is far likelier text
    // at the edges of two values ("_" here and "y_" on the next line) than a quote.
    const bool usual = quoted.dialect.quote == '\'';
    if (!usual && quoted.records.size() != none.records.size()) return false;
    bool splitsOtherwise = quoted.records.size() != none.records.size();
    for (size_t i = 0; !splitsOtherwise && i < quoted.records.size(); ++i)
        splitsOtherwise = quoted.records[i].fields != none.records[i].fields;
    return splitsOtherwise || (quoted.quoted >= 2 && quoted.quoted * 10 >= quoted.records.size());
}

bool isPunctuation(int c) {
    return (c >= '!' && c <= '/') || (c >= ':' && c <= '@') || (c >= '[' && c <= '`') ||
           (c >= '{' && c <= '~');
}

/// Punctuation that stands at the start of a field and at the end of one, often: characters
/// that may quote values split by `delimiter`.
std::vector<int> otherQuotes(const Sample& sample, int delimiter) {
    std::array<size_t, 128> opens{};
    std::array<size_t, 128> closes{};
    const size_t count = std::min(sample.lines.size(), kScoredLines);
    for (size_t i = 0; i < count; ++i) {
        const std::string_view line = sample.line(i);
        for (size_t at = 0; at < line.size(); ++at) {
            const auto c = static_cast<unsigned char>(line[at]);
            if (c >= 128 || !isPunctuation(c) || c == delimiter) continue;
            if (at == 0 || static_cast<unsigned char>(line[at - 1]) == delimiter) ++opens[c];
            if (at + 1 == line.size() || static_cast<unsigned char>(line[at + 1]) == delimiter)
                ++closes[c];
        }
    }
    std::vector<std::pair<size_t, int>> seen;
    for (int c = 0; c < 128; ++c) {
        const size_t pairs = std::min(opens[c], closes[c]);
        if (pairs >= 2 && c != '"' && c != '\'') seen.emplace_back(pairs, c);
    }
    std::sort(seen.begin(), seen.end(), [](const auto& a, const auto& b) { return a > b; });
    std::vector<int> quotes;
    for (size_t i = 0; i < seen.size() && i < kOtherQuotes; ++i)
        quotes.push_back(seen[i].second);
    return quotes;
}

struct DelimiterChoice {
    Score score;         ///< read with the quote chosen
    std::string why;     ///< why that quote
    std::string unsure;  ///< a note when the quote was a close call
    bool rejectedQuote = false;
};

/// The quote that reads values split by `delimiter` best: `"` when it encloses values, else
/// the quote enclosing the most values, else none (`"` when no value begins with one).
DelimiterChoice chooseQuote(const Sample& sample, int delimiter) {
    const Score none = scoreDialect(sample, Dialect{delimiter, 0, false});
    std::vector<int> quotes(std::begin(kUsualQuotes), std::end(kUsualQuotes));
    for (int q : otherQuotes(sample, delimiter))
        quotes.push_back(q);
    std::vector<Score> fitting;
    const Score* doubleQuote = nullptr;
    Score first;
    for (int q : quotes) {
        Score score = scoreDialect(sample, Dialect{delimiter, q, false});
        if (q == '"') first = score;
        if (encloses(score, none)) fitting.push_back(std::move(score));
    }
    for (const Score& s : fitting) {
        if (s.dialect.quote == '"') doubleQuote = &s;
    }
    DelimiterChoice choice;
    if (doubleQuote != nullptr || !fitting.empty()) {
        const Score* best = doubleQuote;
        if (best == nullptr) {
            best = &fitting[0];
            for (const Score& s : fitting) {
                if (s.quoted > best->quoted) best = &s;
            }
        }
        choice.score = *best;
        choice.why = std::to_string(best->quoted) + " quoted values";
        for (const Score& s : fitting) {
            if (&s != best && s.quoted * 10 >= best->quoted) {
                choice.unsure = describeCharacter(s.dialect.quote) + " also encloses " +
                                std::to_string(s.quoted) + " values; QUOTE " +
                                describeCharacter(best->dialect.quote) + " was taken";
            }
        }
        if (best->badClose > 0)
            choice.unsure = std::to_string(best->badClose) + " values go on after their closing " +
                            describeCharacter(best->dialect.quote) + " (read as text)";
        return choice;
    }
    if (first.quoted == 0) {
        // No value is enclosed in quotes: `"` stays, so that a quoted value reads as one,
        // unless it only opens values that close nowhere, which it would run to their lines'
        // ends.
        const bool neverCloses = first.strayQuotes > 0;
        choice.score = neverCloses ? none : first;
        if (neverCloses) {
            choice.rejectedQuote = true;
            choice.why = "a '\"' opens a value that never closes";
        } else {
            choice.score.dialect.quote = '"';
            choice.why = "no quoted value seen; a value in quotes would read as one";
        }
        return choice;
    }
    choice.score = none;
    choice.rejectedQuote = true;
    choice.why = "quotes at the start of values do not enclose them";
    return choice;
}

std::string percent(double share) {
    char text[16];
    std::snprintf(text, sizeof text, "%.0f%%", share * 100);
    return text;
}

std::vector<int> delimiterCandidates(const Sample& sample) {
    std::array<size_t, 128> seen{};
    for (size_t i = 0; i < std::min(sample.lines.size(), kScoredLines); ++i) {
        for (unsigned char c : sample.line(i)) {
            if (c < 128) ++seen[c];
        }
    }
    std::vector<int> candidates;
    for (int c : kUsualDelimiters) {
        if (seen[c] > 0) candidates.push_back(c);
    }
    for (char c : kOtherDelimiters) {
        if (seen[static_cast<unsigned char>(c)] > 0) candidates.push_back(c);
    }
    for (int c = 1; c < 0x20; ++c) {
        if (c != '\t' && c != '\n' && c != '\r' && seen[c] > 0) candidates.push_back(c);
    }
    return candidates;
}

/// One column: a delimiter that never occurs, so that no value is split.
int unusedDelimiter(const Sample& sample) {
    bool tab = false;
    bool pipe = false;
    for (size_t i = 0; i < sample.lines.size(); ++i) {
        const std::string_view line = sample.line(i);
        tab = tab || line.find('\t') != std::string_view::npos;
        pipe = pipe || line.find('|') != std::string_view::npos;
    }
    if (!tab) return '\t';
    return pipe ? 0x1F : '|';
}

/// Records above the body: fewer or more fields than the body has (titles, notes, blank
/// lines), or one value at most where the body has several. A record just above the body with
/// one field more or less is its header (a header with a trailing delimiter, say).
size_t headRecords(const std::vector<SampleRecord>& records, int columns) {
    size_t head = 0;
    const auto isHead = [&](size_t i) {
        const SampleRecord& r = records[i];
        if (r.fields != columns) {
            const bool nextIsBody = i + 1 < records.size() && records[i + 1].fields == columns;
            return !(nextIsBody && r.fields * 2 > columns && std::abs(r.fields - columns) <= 1);
        }
        return columns >= 3 && r.filled <= 1;
    };
    while (head < records.size() && isHead(head))
        ++head;
    return head < records.size() ? head : 0;
}

void decideBlanks(const Score& s, DialectGuess& guess) {
    if (s.edgeBlanks == 0) {
        guess.reasons.push_back(
            "blanks     dropped around values (no value has blanks at its edges)");
    } else if (s.blanksBeforeQuote > 0) {
        guess.blanksAreLayout = true;
        guess.reasons.push_back(
            "blanks     dropped around values (blanks stand before quotes: layout)");
        guess.notes.push_back(std::to_string(s.edgeBlanks) + " values lose blanks at their edges");
    } else if (s.afterDelimiter > 0 && s.oneBlankLead * 10 >= s.afterDelimiter * 9) {
        guess.blanksAreLayout = true;
        guess.reasons.push_back(
            "blanks     dropped around values (one blank follows every delimiter: layout)");
        if (s.pastLayout > 0) {
            guess.notes.push_back(std::to_string(s.pastLayout) +
                                  " values lose blanks besides the one after the delimiter "
                                  "(PRESERVE_WHITESPACE true keeps every blank, that one too)");
        }
    } else {
        guess.dialect.keepBlanks = true;
        guess.reasons.push_back("blanks     kept (" + std::to_string(s.edgeBlanks) +
                                " values have blanks at their edges)");
    }
}

}  // namespace

std::string describeCharacter(int code) {
    if (code == 0) return "none";
    if (code == '\t') return "TAB";
    if (code < 0x20 || code == 0x7F) {
        char text[16];
        std::snprintf(text, sizeof text, "U+%04X", code);
        return text;
    }
    char buffer[5];
    // Built piece by piece: GCC 12 warns wrongly (-Wrestrict) on a literal + std::string here.
    std::string text(1, '\'');
    text.append(utf8Of(code, buffer)).push_back('\'');
    return text;
}

/// The delimiter that a first line "sep=X" names, as programs write above a table for
/// spreadsheets to read it; 0 when the first line is no such line.
int namedDelimiter(const Sample& sample) {
    constexpr std::string_view kLead = "sep=";
    if (sample.lines.size() < 2) return 0;
    std::string_view line = sample.line(0);
    // Some writers quote the line as a value: "sep=;".
    if (line.size() > 2 && line.front() == '"' && line.back() == '"')
        line = line.substr(1, line.size() - 2);
    if (line.size() <= kLead.size() || line.substr(0, kLead.size()) != kLead) return 0;
    int length = 0;
    const int code = np_uchar_toint(line.data() + kLead.size(), &length);
    return kLead.size() + static_cast<size_t>(length) == line.size() && code > 0 ? code : 0;
}

DialectGuess detectDialect(const Sample& sample, int givenDelimiter) {
    // Of delimiters that split the same records alike, the one that splits them into more
    // fields: a tab-delimited file whose every line holds one comma in a value ("Smith, Ann")
    // splits alike at commas too, into two fields.
    const int named = namedDelimiter(sample);
    DelimiterChoice best;
    if (givenDelimiter != 0) {
        // Taken as given, however its fields line up; a first line naming a delimiter is
        // still no part of the table.
        best = chooseQuote(sample, givenDelimiter);
    }
    int rival = 0;  // a delimiter that splits the records as well as the best, into fewer fields
    const std::vector<int> candidates = givenDelimiter != 0 ? std::vector<int>{}
                                        : named != 0        ? std::vector<int>{named}
                                                            : delimiterCandidates(sample);
    for (int delimiter : candidates) {
        DelimiterChoice choice = chooseQuote(sample, delimiter);
        // A symbol that values often hold splits a table only where it makes three fields or
        // more: once on a line it is far likelier part of a value ("12%", "$5", "Order #12",
        // "ann@example.com"), which splitting there would tear apart.
        if (named == 0 && delimiter > 0x20 &&
            kValueSymbols.find(static_cast<char>(delimiter)) != std::string_view::npos &&
            choice.score.columns < 3) {
            continue;
        }
        const double gain = rank(choice.score) - rank(best.score);
        const bool tie = gain > -1e-9 && gain <= 1e-9 && rank(choice.score) > 0 &&
                         choice.score.records.size() == best.score.records.size();
        const bool finer = tie && choice.score.columns > best.score.columns;
        if (tie) rival = finer ? best.score.dialect.delimiter : delimiter;
        if (gain > 1e-9 && !tie) rival = 0;
        if (gain > 1e-9 || finer) best = std::move(choice);
    }

    DialectGuess guess;
    Score score;
    if (rank(best.score) == 0 && givenDelimiter == 0) {
        const int unused = unusedDelimiter(sample);
        // Each line one value as it stands, unless `"` encloses whole lines without fault.
        Score single = scoreDialect(sample, Dialect{unused, '"', false});
        if (single.quoted == 0 || single.badClose > 0 ||
            !encloses(single, scoreDialect(sample, Dialect{unused, 0, false})))
            single = scoreDialect(sample, Dialect{unused, 0, false});
        score = std::move(single);
        guess.reasons.push_back("delimiter  " + describeCharacter(unused) +
                                " (no character splits the lines into the same number of "
                                "fields: one column)");
        guess.notes.push_back("one column found; if the file has more, set DELIMITER by hand");
    } else {
        score = std::move(best.score);
        if (rival != 0) {
            guess.notes.push_back(
                describeCharacter(score.dialect.delimiter) + " and " + describeCharacter(rival) +
                " split every record looked at alike; " +
                describeCharacter(score.dialect.delimiter) +
                " gives more fields, so it was taken: if the values hold it, give the "
                "delimiter " +
                describeCharacter(rival) + " (infer --delimiter, convert --input-delimiter)");
        }
        const std::string namedBy =
            givenDelimiter != 0 ? std::string("given; ")
            : named != 0 ? "named on line 1, \"" + std::string(sample.line(0)) + "\", skipped; "
                         : std::string();
        guess.reasons.push_back("delimiter  " + describeCharacter(score.dialect.delimiter) + " (" +
                                namedBy + std::to_string(score.columns) + " fields on " +
                                percent(score.share) + " of " +
                                std::to_string(score.records.size()) + " records looked at)");
        guess.reasons.push_back("quote      " + describeCharacter(score.dialect.quote) + " (" +
                                best.why + ")");
        if (best.rejectedQuote)
            guess.notes.push_back(
                "'\"' begins values but does not enclose them: QUOTE left "
                "empty, so quotes are read as text");
        if (!best.unsure.empty()) guess.notes.push_back("quote: " + best.unsure);
        if (score.dialect.quote != 0 && score.strayQuotes > 0) {
            guess.notes.push_back("quote: the " + describeCharacter(score.dialect.quote) +
                                  " that opens a value on line " +
                                  std::to_string(score.firstStrayLine + 1) +
                                  " closes it neither on that line nor cleanly on a later one (" +
                                  std::to_string(score.strayQuotes) +
                                  (score.strayQuotes == 1 ? " such line" : " such lines") +
                                  "): " + std::string(kStrayLineAlone));
        }
    }
    guess.dialect = score.dialect;
    guess.strayQuotes = score.dialect.quote != 0 ? score.strayQuotes : 0;
    guess.columns = std::max(1, score.columns);
    guess.records = score.records;
    for (const SampleRecord& r : guess.records) {
        countLineEnd(sample.lines[static_cast<size_t>(r.firstLine + r.lines - 1)], guess.lineEnds);
        if (r.lines > 1) guess.newlinesInValues = true;
    }
    // The line that names the delimiter is no part of the table.
    const bool namingLine = named != 0 && rank(score) > 0;
    const size_t head =
        std::max<size_t>(headRecords(guess.records, guess.columns), namingLine ? 1 : 0);
    size_t usual = 0;
    for (size_t i = head; i < guess.records.size(); ++i)
        usual += guess.records[i].fields == guess.columns ? 1 : 0;
    const size_t body = guess.records.size() - head;
    // Records after the table's last one of its field count (blank lines, a total, a note
    // below it) do not make the table ragged.
    size_t tail = 0;
    while (tail < body && guess.records[guess.records.size() - 1 - tail].fields != guess.columns)
        ++tail;
    // Blank lines inside the table (between groups of rows, before a total) are layout, not
    // rows of another field count.
    size_t blank = 0;
    for (size_t i = head; i + tail < guess.records.size(); ++i) {
        const SampleRecord& r = guess.records[i];
        blank += r.fields != guess.columns && r.filled == 0 ? 1 : 0;
    }
    // Lines are skipped only above a body that keeps to one field count: in a ragged file a
    // short line at the head is as likely data as a title.
    const size_t skipped = usual * 10 >= (body - tail - blank) * 9 ? head : namingLine ? 1 : 0;
    guess.headRecords = skipped;
    for (size_t i = 0; i < skipped; ++i)
        guess.headLines += guess.records[i].lines;
    if (guess.columns > 1 && usual < body)
        guess.notes.push_back("not every record below the head lines has " +
                              std::to_string(guess.columns) + " fields (" +
                              std::to_string(body - usual) + " of " + std::to_string(body) +
                              " differ)");
    decideBlanks(score, guess);
    return guess;
}

}  // namespace textjob::infer
