#include "infer_columns.h"

#include <set>
#include <unordered_map>
#include <utility>

namespace textjob::infer {
namespace {

std::string lowerCase(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + ('a' - 'A'));
    }
    return text;
}

}  // namespace

std::string trimBlanks(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return {};
    const size_t last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

namespace {

/// Years a header of a table by year names: 1500 to 2199.
bool yearLike(const std::string& text) {
    if (text.size() != 4) return false;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
    }
    const int year = std::stoi(text);
    return year >= 1500 && year < 2200;
}

/// Whether the first line's values are all there and all different (an empty one at the end,
/// after a trailing delimiter, apart).
bool distinctAndFilled(std::vector<std::string> first) {
    while (!first.empty() && trimBlanks(first.back()).empty())
        first.pop_back();
    std::set<std::string> seen;
    for (const std::string& value : first) {
        if (trimBlanks(value).empty() || !seen.insert(lowerCase(trimBlanks(value))).second)
            return false;
    }
    return true;
}

}  // namespace

HeaderDecision decideHeader(const std::vector<std::string>& first,
                            const std::vector<ColumnStats>& rest, uint64_t restRows) {
    HeaderDecision decision;
    int notOfType = 0;
    int ofType = 0;
    int years = 0;
    for (size_t c = 0; c < first.size() && c < rest.size(); ++c) {
        if (first[c].empty()) continue;
        const std::string type = rest[c].decide(TypeMode::Loose).name;
        // A year over a column of reals or of nothing names the column: tables by year.
        if (yearLike(first[c]) && (type == "real" || (restRows > 0 && rest[c].values() == 0))) {
            ++notOfType;
            ++years;
            continue;
        }
        if (type == "string") continue;
        if (typesReading(first[c], rest[c].candidates()) == 0) {
            ++notOfType;
        } else {
            ++ofType;
        }
    }
    const bool distinct = distinctAndFilled(first);
    if (notOfType + ofType > 0) {
        decision.header = notOfType > ofType;
        decision.why = std::to_string(notOfType) + " of " + std::to_string(notOfType + ofType) +
                       " typed columns have a first value not of their type";
        if (years > 0) decision.why += " (" + std::to_string(years) + " years over numbers)";
        // Names that look like data (years over columns of integers) split the vote.
        decision.unsure = (notOfType > 0 && ofType > 0) || (decision.header && !distinct);
        return decision;
    }
    // Every column is text: a first line that holds a number or a date is data. Booleans do
    // not count: y, n, t and f are also names.
    for (const std::string& value : first) {
        if (!value.empty() && typesReading(value, kInteger | kReal | kAnyDate) != 0) {
            decision.why = "the first line holds a number or a date (\"" + value + "\")";
            decision.unsure = restRows > 0;
            return decision;
        }
    }
    decision.header = true;
    decision.unsure = true;
    decision.why = restRows == 0 ? "one line of text only" : "every column is text";
    return decision;
}

void refuseColumnsPastLimit(size_t columns) {
    if (columns <= kMostColumns) return;
    // Past the limit a record is not split further, so the count is not told.
    throw InferError("the file has more columns than the " + std::to_string(kMostColumns) +
                     " detection describes: write the job for it by hand");
}

std::vector<std::string> uniqueNames(const std::vector<std::string>& headings) {
    std::vector<std::string> names(headings.size());
    std::set<std::string> taken;
    // Names from the header first, so that a generated name never takes one the header has.
    for (size_t i = 0; i < headings.size(); ++i) {
        const std::string name = trimBlanks(headings[i]);
        if (!name.empty() && taken.insert(lowerCase(name)).second) names[i] = name;
    }
    // The next number to try after each repeated name, so that many columns of one name
    // (a header of 100,000 "x") are numbered in one pass rather than each from 2 again.
    std::unordered_map<std::string, int> nextNumber;
    for (size_t i = 0; i < headings.size(); ++i) {
        if (!names[i].empty()) continue;
        std::string base = trimBlanks(headings[i]);
        const bool repeated = !base.empty();
        if (!repeated) base = "column_" + std::to_string(i + 1);
        int& n = nextNumber.try_emplace(lowerCase(base), 2).first->second;
        std::string name = base;
        while (!taken.insert(lowerCase(name)).second)
            name = base + "_" + std::to_string(n++);
        names[i] = name;
    }
    return names;
}

ColumnLayout observedColumn(std::string name, std::string heading, const ColumnStats& stats,
                            TypeMode types, std::vector<std::string>& notes) {
    ColumnLayout column;
    column.name = std::move(name);
    column.heading = std::move(heading);
    const ColumnType type = stats.decide(types);
    column.type = type.name;
    column.outputWidth = type.outputWidth;
    column.longestChars = stats.longestChars();
    column.values = stats.values();
    column.empty = stats.empty();
    if (!type.note.empty())
        notes.push_back(std::string(kColumnNoteStart) + column.name + ": " + type.note);
    return column;
}

}  // namespace textjob::infer
