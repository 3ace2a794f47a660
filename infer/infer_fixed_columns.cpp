#include "infer_fixed_columns.h"

#include <algorithm>
#include <string_view>

#include "infer_encoding.h"
#include "mvb/charset.h"

namespace textjob::infer {
namespace {

/// Lines at the head of a file looked at for a rule, and most head lines skipped without one.
constexpr size_t kRuleLines = 10;
constexpr size_t kMostHeadLines = 6;
constexpr size_t kFewestForHeadLines = 8;

bool isBlank(int code) {
    return code == ' ' || code == '\t';
}
bool isDigitCode(int code) {
    return code >= '0' && code <= '9';
}
/// Of a number, or of a time of day ("17:08:23" is one value, not text and then 23).
bool isNumberCode(int code) {
    return isDigitCode(code) || code == '.' || code == ',' || code == '-' || code == '+' ||
           code == ':';
}

/// A line of dashes or equals signs in runs, such as sits under a header.
bool isRule(const PlacedLine& line) {
    size_t marks = 0;
    for (const Placed& c : line.chars) {
        if (c.code == '-' || c.code == '=') {
            ++marks;
        } else if (!isBlank(c.code) && c.code != '+' && c.code != '|') {
            return false;
        }
    }
    return marks >= 3;
}

/// The runs of marks of a rule, as the byte positions where each begins and ends.
std::vector<std::pair<size_t, size_t>> ruleRuns(const PlacedLine& rule) {
    std::vector<std::pair<size_t, size_t>> runs;
    bool inRun = false;
    for (const Placed& c : rule.chars) {
        const bool mark = c.code == '-' || c.code == '=';
        if (mark && !inRun) runs.emplace_back(c.filePos, c.filePos);
        if (mark) runs.back().second = c.filePos + 1;
        inRun = mark;
    }
    return runs;
}

/// Column starts from a rule: the start of each run of marks, or earlier where a value of the
/// lines from `from` on reaches into the blanks before its run without a blank between (a
/// number aligned to the right that is wider than its run, its sign before it, say). A value
/// that fills the blanks up to the run before is not looked at: whose it is cannot be told.
std::vector<size_t> ruleStarts(const std::vector<PlacedLine>& lines, size_t from,
                               const PlacedLine& rule) {
    const std::vector<std::pair<size_t, size_t>> runs = ruleRuns(rule);
    std::vector<size_t> starts;
    for (const auto& run : runs)
        starts.push_back(run.first);
    if (starts.empty()) return starts;
    starts[0] = 0;
    for (size_t i = from; i < lines.size(); ++i) {
        const std::vector<Placed>& chars = lines[i].chars;
        size_t k = 1;
        for (size_t j = 0; j < chars.size() && k < runs.size(); ++j) {
            while (k < runs.size() && runs[k].first < chars[j].filePos)
                ++k;
            if (k == runs.size() || chars[j].filePos != runs[k].first) continue;
            size_t first = j;
            while (first > 0 && !isBlank(chars[first - 1].code) &&
                   chars[first - 1].filePos >= runs[k - 1].second)
                --first;
            const bool reachesRunBefore = first > 0 && !isBlank(chars[first - 1].code);
            if (!isBlank(chars[j].code) && !reachesRunBefore)
                starts[k] = std::min(starts[k], chars[first].filePos);
            ++k;
        }
    }
    return starts;
}

/// For each byte position, whether some line from `from` on has a non-blank character there.
std::vector<bool> textPositions(const std::vector<PlacedLine>& lines, size_t from) {
    std::vector<bool> text;
    for (size_t i = from; i < lines.size(); ++i) {
        const PlacedLine& line = lines[i];
        if (line.width > text.size()) text.resize(line.width, false);
        for (size_t k = 0; k < line.chars.size(); ++k) {
            if (isBlank(line.chars[k].code)) continue;
            const size_t end = k + 1 < line.chars.size() ? line.chars[k + 1].filePos : line.width;
            for (size_t b = line.chars[k].filePos; b < end; ++b)
                text[b] = true;
        }
    }
    return text;
}

/// The characters of `line` in the byte range [from, to).
std::pair<size_t, size_t> charsIn(const PlacedLine& line, size_t from, size_t to) {
    const auto byFile = [](const Placed& c, size_t pos) { return c.filePos < pos; };
    const auto a = std::lower_bound(line.chars.begin(), line.chars.end(), from, byFile);
    const auto z = std::lower_bound(line.chars.begin(), line.chars.end(), to, byFile);
    return {static_cast<size_t>(a - line.chars.begin()),
            static_cast<size_t>(z - line.chars.begin())};
}

/// Within [from, to): where right-aligned numbers begin after left-aligned text, at the start
/// of the widest number, when every line of `lines` (from `first` on) holds text and then a
/// number ending at one place, or nothing; 0 when they do not.
size_t numbersAfterText(const std::vector<PlacedLine>& lines, size_t first, size_t from,
                        size_t to) {
    size_t numbersEnd = 0;
    size_t widest = to;
    size_t textEnd = from;
    bool someText = false;
    bool someLine = false;
    for (size_t i = first; i < lines.size(); ++i) {
        const PlacedLine& line = lines[i];
        auto [a, z] = charsIn(line, from, to);
        while (z > a && isBlank(line.chars[z - 1].code))
            --z;
        if (z == a) continue;
        const size_t end = z < line.chars.size() ? line.chars[z].filePos : line.width;
        size_t n = z;
        bool digit = false;
        while (n > a && isNumberCode(line.chars[n - 1].code)) {
            digit = digit || isDigitCode(line.chars[n - 1].code);
            --n;
        }
        if (!digit || (someLine && end != numbersEnd)) return 0;
        someLine = true;
        numbersEnd = end;
        widest = std::min(widest, line.chars[n].filePos);
        size_t t = n;
        while (t > a && isBlank(line.chars[t - 1].code))
            --t;
        if (t > a) {
            someText = true;
            textEnd = std::max(textEnd, line.chars[t - 1].filePos + 1);
        }
    }
    return someText && textEnd <= widest && widest > from ? widest : 0;
}

/// The character of `line` at byte position `at`; -1 past its end.
int codeAt(const PlacedLine& line, size_t at) {
    const size_t k = charsIn(line, at, at + 1).first;
    return k < line.chars.size() && line.chars[k].filePos == at ? line.chars[k].code : -1;
}

/// Whether the characters of `line` from `at` on have the shape of `shape`, in which 9 stands
/// for a digit and any other character for itself.
bool shapedAs(const PlacedLine& line, size_t at, std::string_view shape) {
    for (size_t i = 0; i < shape.size(); ++i) {
        const int code = codeAt(line, at + i);
        if (shape[i] == '9' ? !isDigitCode(code) : code != shape[i]) return false;
    }
    return true;
}

/// Whether the blank before `start` only parts a date from its time of day on every line from
/// `first` on that has text there ("2024-02-29 13:00"): one value, not two columns.
bool partsDateFromTime(const std::vector<PlacedLine>& lines, size_t first, size_t start) {
    constexpr std::string_view kDate = "9999-99-99";
    if (start < kDate.size() + 1) return false;
    bool some = false;
    for (size_t i = first; i < lines.size(); ++i) {
        const PlacedLine& line = lines[i];
        if (line.width <= start || isBlank(codeAt(line, start))) continue;
        if (!shapedAs(line, start - kDate.size() - 1, kDate) || !shapedAs(line, start, "99:99"))
            return false;
        some = true;
    }
    return some;
}

/// Column starts from the lines from `from` on: the first text after positions blank on every
/// line (but the blank in a date and time), and right-aligned numbers after text.
std::vector<size_t> blankStarts(const std::vector<PlacedLine>& lines, size_t from) {
    const std::vector<bool> text = textPositions(lines, from);
    std::vector<size_t> starts;
    for (size_t b = 0; b < text.size(); ++b) {
        if (text[b] && (b == 0 || !text[b - 1]) &&
            (b < 2 || !text[b - 2] || !partsDateFromTime(lines, from + 1, b))) {
            starts.push_back(b);
        }
    }
    if (starts.empty()) return starts;
    starts[0] = 0;
    // The first line may be a header whose names do not sit like the values under them.
    std::vector<size_t> split;
    for (size_t k = 0; k < starts.size(); ++k) {
        split.push_back(starts[k]);
        const size_t to = k + 1 < starts.size() ? starts[k + 1] : text.size();
        const size_t at = numbersAfterText(lines, from + 1, starts[k], to);
        if (at == 0 || partsDateFromTime(lines, from + 1, at)) continue;
        // Not through a header name: the first line has a blank there or before it, or a
        // number begins there too.
        const PlacedLine& head = lines[from];
        const size_t a = charsIn(head, at, at + 1).first;
        const bool clear =
            a >= head.chars.size() || isBlank(head.chars[a].code) ||
            (a > 0 && isBlank(head.chars[a - 1].code)) ||
            (a > 0 && isDigitCode(head.chars[a].code) && !isNumberCode(head.chars[a - 1].code));
        if (clear) split.push_back(at);
    }
    return split;
}

}  // namespace

void place(std::string_view line, int encoding, PlacedLine& out) {
    out.chars.clear();
    size_t filePos = 0;
    for (size_t at = 0; at < line.size();) {
        int length = 0;
        const int code = np_uchar_toint(line.data() + at, &length);
        if (length <= 0) length = 1;
        out.chars.push_back(Placed{code, filePos, at});
        filePos += static_cast<size_t>(fileBytesOf(code, encoding));
        at += static_cast<size_t>(length);
    }
    out.width = filePos;
}

FixedColumns findFixedColumns(const std::vector<PlacedLine>& lines) {
    FixedColumns found;
    for (size_t i = 0; i < lines.size() && i < kRuleLines; ++i) {
        if (!isRule(lines[i]) || i + 1 >= lines.size()) continue;
        found.starts = ruleStarts(lines, i + 1, lines[i]);
        found.headLines = i + 1;
        found.headerAboveRule = i > 0 && !lines[i - 1].chars.empty();
        found.why = "the rule on line " + std::to_string(i + 1) + " marks them";
        return found;
    }
    // Head lines (a title, say) that put text on the blank before a column of the lines below
    // would hide that column: such lines at the head, and blank ones among them, are skipped.
    // The lines below a few at the head tell where the blanks are. A value longer than every
    // one below it may run into the blanks after its column, but not onto the next column's
    // blank: that line is data. Too few lines below tell nothing: a value may leave a blank by
    // chance.
    const size_t below =
        lines.size() < kFewestForHeadLines ? 0 : std::min(kMostHeadLines, lines.size() / 2);
    const std::vector<bool> body = textPositions(lines, below);
    size_t firstText = 0;
    while (firstText < body.size() && !body[firstText])
        ++firstText;
    const auto breaksBlanks = [&](const PlacedLine& line) {
        for (const Placed& c : line.chars) {
            const size_t at = c.filePos;
            if (!isBlank(c.code) && at > firstText && at + 1 < body.size() && !body[at] &&
                body[at + 1])
                return true;
        }
        return false;
    };
    const auto isBlankLine = [](const PlacedLine& line) {
        return std::all_of(line.chars.begin(), line.chars.end(),
                           [](const Placed& c) { return isBlank(c.code); });
    };
    size_t head = 0;
    for (size_t i = 0; i < below; ++i) {
        if (breaksBlanks(lines[i])) {
            head = i + 1;
        } else if (!isBlankLine(lines[i])) {
            break;
        }
    }
    found.starts = blankStarts(lines, head);
    found.headLines = head;
    found.why = "blank on every line between them, or right-aligned numbers after text";
    return found;
}

}  // namespace textjob::infer
