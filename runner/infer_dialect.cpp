#include "infer_dialect.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <map>

namespace textjob::infer {
namespace {

/// Records the dialect is scored on; more add time and seldom change the answer.
constexpr size_t kScoredLines = 2000;

/// The usual delimiters, in the order that breaks a tie.
constexpr int kUsualDelimiters[] = {',', '\t', ';', '|'};
/// Other characters that may separate fields. Characters common inside values (. - / : + _
/// brackets, letters, digits, blanks) are left out: a column of dates would otherwise "split"
/// at its dashes.
constexpr std::string_view kOtherDelimiters = "!#$%&*<=>?@^`~";

struct Score {
    Dialect dialect;
    int columns = 0;
    double share = 0;  ///< records with `columns` fields, of all records
    FieldScan scan;
    std::vector<SampleRecord> records;
    bool multiline = false;
};

Score scoreDialect(const std::vector<std::string>& lines, const Dialect& dialect) {
    Score score;
    score.dialect = dialect;
    const size_t count = std::min(lines.size(), kScoredLines);
    for (size_t i = 0; i < count;) {
        SampleRecord record;
        record.firstLine = static_cast<int>(i);
        FieldScan scan;
        scanFields(lines[i], dialect, false, scan);
        ++i;
        while (scan.openQuote && i < lines.size()) {
            scanFields(lines[i], dialect, true, scan);
            ++i;
            ++record.lines;
        }
        if (record.lines > 1) score.multiline = true;
        record.fields = scan.fields;
        score.scan.fields += scan.fields;
        score.scan.quoted += scan.quoted;
        score.scan.blanksBeforeQuote += scan.blanksBeforeQuote;
        score.scan.edgeBlanks += scan.edgeBlanks;
        score.scan.afterDelimiter += scan.afterDelimiter;
        score.scan.oneBlankLead += scan.oneBlankLead;
        score.records.push_back(record);
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

std::string percent(double share) {
    char text[16];
    std::snprintf(text, sizeof text, "%.0f%%", share * 100);
    return text;
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
    return "'" + std::string(utf8Of(code, buffer)) + "'";
}

DialectGuess detectDialect(const std::vector<std::string>& lines) {
    std::array<size_t, 128> seen{};
    for (size_t i = 0; i < std::min(lines.size(), kScoredLines); ++i) {
        for (unsigned char c : lines[i]) {
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

    // For each delimiter the quote that reads it best; the usual delimiters win ties.
    Score best;
    std::map<int, std::array<Score, 3>> byDelimiter;
    for (int delimiter : candidates) {
        std::array<Score, 3>& scores = byDelimiter[delimiter];
        const int quotes[3] = {'"', '\'', 0};
        for (int q = 0; q < 3; ++q) {
            scores[q] = scoreDialect(lines, Dialect{delimiter, quotes[q], false});
            if (rank(scores[q]) > rank(best) + 1e-9) best = scores[q];
        }
    }

    DialectGuess guess;
    if (rank(best) == 0) {
        // One column: a delimiter that never occurs, so that no value is split.
        int unused = '\t';
        if (seen['\t'] > 0) unused = seen['|'] == 0 ? '|' : 0x1F;
        guess.dialect = Dialect{unused, '"', false};
        Score single = scoreDialect(lines, guess.dialect);
        if (single.scan.quoted == 0) guess.dialect.quote = 0;
        best = scoreDialect(lines, guess.dialect);
        guess.reasons.push_back("delimiter  " + describeCharacter(unused) +
                                " (no character splits the lines into the same number of "
                                "fields: one column)");
        guess.notes.push_back("one column found; if the file has more, set DELIMITER by hand");
    } else {
        const std::array<Score, 3>& scores = byDelimiter[best.dialect.delimiter];
        const Score& dq = scores[0];
        const Score& sq = scores[1];
        const Score& none = scores[2];
        const auto fits = [&](const Score& s) { return rank(s) >= rank(none) - 1e-9; };
        int quote = '"';
        std::string why;
        if (dq.scan.quoted > 0 && fits(dq)) {
            why = std::to_string(dq.scan.quoted) + " quoted values";
        } else if (sq.scan.quoted > 0 && rank(sq) > rank(none) + 1e-9) {
            quote = '\'';
            why = std::to_string(sq.scan.quoted) + " quoted values";
        } else if (dq.scan.quoted == 0) {
            why = "no quoted value seen; a value in quotes would read as one";
        } else {
            quote = 0;
            why = "quotes at the start of values do not pair up";
            guess.notes.push_back(
                "'\"' begins values but does not enclose them: QUOTE left "
                "empty, so quotes are read as text");
        }
        best = quote == '"' ? dq : quote == '\'' ? sq : none;
        guess.dialect = best.dialect;
        guess.reasons.push_back("delimiter  " + describeCharacter(best.dialect.delimiter) + " (" +
                                std::to_string(best.columns) + " fields on " + percent(best.share) +
                                " of " + std::to_string(best.records.size()) +
                                " records looked at)");
        guess.reasons.push_back("quote      " + describeCharacter(quote) + " (" + why + ")");
        if (best.share < 0.999)
            guess.notes.push_back("not every record has " + std::to_string(best.columns) +
                                  " fields (" + percent(1 - best.share) + " differ)");
    }
    guess.columns = std::max(1, best.columns);
    guess.records = best.records;

    // Head lines: records above the first one with the usual field count that have at most
    // half as many fields (titles, notes, blank lines). A header with one name more or less
    // than the rows have fields stays the header.
    size_t head = 0;
    while (head < guess.records.size() && guess.records[head].fields != guess.columns &&
           guess.records[head].fields * 2 <= guess.columns)
        ++head;
    if (head * 2 < guess.records.size()) {
        for (size_t i = 0; i < head; ++i)
            guess.headLines += guess.records[i].lines;
        guess.records.erase(guess.records.begin(), guess.records.begin() + static_cast<long>(head));
    }
    for (const SampleRecord& r : guess.records) {
        if (r.lines > 1) guess.newlinesInValues = true;
    }

    // Blanks at the edges of unquoted values: kept, unless they are layout.
    const FieldScan& s = best.scan;
    if (s.edgeBlanks == 0) {
        guess.reasons.push_back(
            "blanks     dropped around values (no value has blanks at its "
            "edges)");
    } else if (s.blanksBeforeQuote > 0) {
        guess.blanksAreLayout = true;
        guess.reasons.push_back(
            "blanks     dropped around values (blanks stand before quotes: "
            "layout)");
        guess.notes.push_back(std::to_string(s.edgeBlanks) + " values lose blanks at their edges");
    } else if (s.afterDelimiter > 0 && s.oneBlankLead * 10 >= s.afterDelimiter * 9) {
        guess.blanksAreLayout = true;
        guess.reasons.push_back(
            "blanks     dropped around values (one blank follows every "
            "delimiter: layout)");
    } else {
        guess.dialect.keepBlanks = true;
        guess.reasons.push_back("blanks     kept (" + std::to_string(s.edgeBlanks) +
                                " values have blanks at their edges)");
    }
    return guess;
}

}  // namespace textjob::infer
