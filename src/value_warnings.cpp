#include "value_warnings.h"

#include <algorithm>
#include <charconv>

#include "mvb/message.h"
#include "mvb/parse.h"
#include "mvb/types.h"

namespace {

constexpr size_t kShownCharacters = 40;

std::string_view numberText(uint64_t value, char (&buffer)[24]) {
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string_view(buffer, static_cast<size_t>(result.ptr - buffer));
}

/// "1 value" or "N values".
void appendCount(std::string& out, uint64_t count, std::string_view one, std::string_view many) {
    char digits[24];
    out.append(numberText(count, digits));
    out.push_back(' ');
    out.append(count == 1 ? one : many);
}

}  // namespace

const char* fieldTypeName(int type, int dateFormat) noexcept {
    const char* name = mvbTypeName(type, dateFormat);
    return name != nullptr ? name : "unknown type";
}

std::string shortenedText(std::string_view text) {
    std::string out;
    size_t characters = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        const bool continuation = (byte & 0xC0u) == 0x80u;
        if (!continuation && characters++ == kShownCharacters) {
            out.append("\xE2\x80\xA6");  // …
            break;
        }
        switch (byte) {
            case 0:
            case 0xFF:  // the delimited source's mark of a NUL; never part of valid UTF-8
                out.append("\\0");
                break;
            case '\t':
                out.append("\\t");
                break;
            case '\n':
                out.append("\\n");
                break;
            case '\r':
                out.append("\\r");
                break;
            default:
                out.push_back(byte < 0x20 ? '?' : static_cast<char>(byte));
        }
    }
    return out;
}

void ValueWarnings::begin(StepHost* host, const char* sourceFile, int fieldCount) {
    host_ = host;
    sourceFile_ = sourceFile;
    logged_ = 0;
    lost_ = false;
    extraRows_ = 0;
    fieldCount_ = fieldCount > 0 ? fieldCount : 0;
    fields_.reset(fieldCount_ > 0 ? new FieldCounts[fieldCount_] : nullptr);
}

void ValueWarnings::warn(const MvbString& text) {
    if (logged_ >= kMaxWarnings) return;
    ++logged_;
    if (logged_ == kMaxWarnings) {
        host_->getLog()->logMessage(1, MvbString("Max warning count reached", true));
        return;
    }
    host_->getLog()->logMessage(1, text);
}

ValueWarnings::FieldCounts* ValueWarnings::counted(int field, std::string_view name) {
    lost_ = true;
    if (field < 0 || field >= fieldCount_) return nullptr;
    FieldCounts& counts = fields_[field];
    if (counts.name.empty()) counts.name.assign(name);
    return &counts;
}

void ValueWarnings::warnMessage(int number, int line, std::string_view row, std::string_view name,
                                std::string_view text, std::string_view extra) {
    if (capped()) return;
    const std::string shown = shortenedText(text);
    warn(mvb_get_message(sourceFile_, line, "Text Plugin", number, row, name, shown, extra));
}

void ValueWarnings::unreadable(uint64_t row, int field, std::string_view name, int type,
                               int dateFormat, std::string_view text, std::source_location where) {
    if (FieldCounts* counts = counted(field, name)) {
        ++counts->unreadable;
        counts->type = type;
        counts->dateFormat = dateFormat;
    }
    char digits[24];
    warnMessage(810, static_cast<int>(where.line()), numberText(row, digits), name, text,
                fieldTypeName(type, dateFormat));
}

void ValueWarnings::cut(uint64_t row, int field, std::string_view name, const char* limitName,
                        int limit, std::string_view text, std::source_location where) {
    if (FieldCounts* counts = counted(field, name)) {
        ++counts->cut;
        counts->limitName = limitName;
        counts->limit = limit;
    }
    char digits[24];
    char limitDigits[24];
    const auto limitText = std::to_chars(limitDigits, limitDigits + sizeof limitDigits, limit);
    const std::string_view limitView(limitDigits, static_cast<size_t>(limitText.ptr - limitDigits));
    const bool width = std::string_view(limitName) == "WIDTH";
    warnMessage(width ? 813 : 811, static_cast<int>(where.line()), numberText(row, digits), name,
                text, limitView);
}

void ValueWarnings::notRead(uint64_t row, int field, const StepOutputItem& item, int dateFormat,
                            std::string_view text, FieldOutcome outcome,
                            std::source_location where) {
    if (outcome == FieldOutcome::Cut) {
        cut(row, field, item.name.view(), "MAX_LENGTH", item.length, text, where);
    } else if (outcome == FieldOutcome::Unreadable) {
        unreadable(row, field, item.name.view(), item.type, dateFormat, text, where);
    } else if (outcome == FieldOutcome::Rounded) {
        char readAs[MvbDatavar::kScalarTextRoom];
        const int length = item.value.formatScalar(readAs);
        rounded(row, field, item.name.view(), text,
                std::string_view(readAs, static_cast<size_t>(std::max(length, 0))), where);
    }
}

void ValueWarnings::rounded(uint64_t row, int field, std::string_view name, std::string_view text,
                            std::string_view readAs, std::source_location where) {
    if (FieldCounts* counts = counted(field, name)) ++counts->rounded;
    char digits[24];
    warnMessage(819, static_cast<int>(where.line()), numberText(row, digits), name, text, readAs);
}

void ValueWarnings::droppedAfterNul(uint64_t row, int field, std::string_view name,
                                    std::string_view dropped, std::source_location where) {
    if (FieldCounts* counts = counted(field, name)) ++counts->dropped;
    char digits[24];
    warnMessage(812, static_cast<int>(where.line()), numberText(row, digits), name, dropped, {});
}

void ValueWarnings::afterQuote(uint64_t row, int field, std::string_view name,
                               std::string_view trailing, std::source_location where) {
    if (FieldCounts* counts = counted(field, name)) ++counts->afterQuote;
    char digits[24];
    warnMessage(818, static_cast<int>(where.line()), numberText(row, digits), name, trailing, {});
}

void ValueWarnings::openQuote(uint64_t row, int field, std::string_view name,
                              std::source_location where) {
    if (FieldCounts* counts = counted(field, name)) ++counts->openQuote;
    if (capped()) return;
    char digits[24];
    warn(mvb_get_message(sourceFile_, static_cast<int>(where.line()), "Text Plugin", 820,
                         numberText(row, digits), name));
}

void ValueWarnings::cutCharacter(uint64_t row, int field, std::string_view name,
                                 std::string_view text, std::source_location where) {
    if (FieldCounts* counts = counted(field, name)) ++counts->cutCharacter;
    char digits[24];
    warnMessage(821, static_cast<int>(where.line()), numberText(row, digits), name, text, {});
}

void ValueWarnings::extraFields(uint64_t row, int found, int expected, std::string_view dropped,
                                std::source_location where) {
    lost_ = true;
    ++extraRows_;
    if (capped()) return;
    char digits[24];
    char foundDigits[24];
    char expectedDigits[24];
    const std::string shown = shortenedText(dropped);
    warn(mvb_get_message(sourceFile_, static_cast<int>(where.line()), "Text Plugin", 817,
                         numberText(row, digits),
                         numberText(static_cast<uint64_t>(found), foundDigits),
                         numberText(static_cast<uint64_t>(expected), expectedDigits), shown));
}

void ValueWarnings::broken(uint64_t row, int field, std::string_view name, std::string_view text,
                           const char* what, const char* outcome, std::source_location where) {
    if (FieldCounts* counts = counted(field, name)) {
        ++counts->broken;
        counts->brokenOutcome = outcome;
    }
    if (capped()) return;
    char digits[24];
    const std::string shown = shortenedText(text);
    warn(mvb_get_message(sourceFile_, static_cast<int>(where.line()), "Text Plugin", 816,
                         numberText(row, digits), name, shown, std::string_view(what),
                         std::string_view(outcome)));
}

void ValueWarnings::reportSummary(bool destination, std::source_location where) {
    if (!lost_) return;
    std::string list;
    if (extraRows_ != 0) {
        appendCount(list, extraRows_, "row", "rows");
        list.append(" with more fields than FIELDS, the extra fields dropped");
    }
    std::string part;  // one field's clauses
    // A clause of the field's part: "N values" (or the noun given) after a comma, for the
    // caller to end.
    const auto clause = [&part](uint64_t count, std::string_view one,
                                std::string_view many) -> std::string& {
        if (!part.empty()) part.append(", ");
        appendCount(part, count, one, many);
        return part;
    };
    for (int i = 0; i < fieldCount_; ++i) {
        const FieldCounts& counts = fields_[i];
        part.clear();
        if (counts.unreadable != 0) {
            clause(counts.unreadable, "value", "values")
                .append(" unreadable as ")
                .append(fieldTypeName(counts.type, counts.dateFormat))
                .append(" and set to null");
        }
        if (counts.cut != 0) {
            clause(counts.cut, destination ? "value" : "string", destination ? "values" : "strings")
                .append(" cut at ")
                .append(counts.limitName)
                .push_back(' ');
            char digits[24];
            const auto end = std::to_chars(digits, digits + sizeof digits, counts.limit);
            part.append(digits, end.ptr);
        }
        if (counts.rounded != 0)
            clause(counts.rounded, "real", "reals")
                .append(" of more digits than a real holds, rounded");
        if (counts.dropped != 0)
            clause(counts.dropped, "text", "texts").append(" after a NUL character dropped");
        if (counts.afterQuote != 0)
            clause(counts.afterQuote, "text", "texts")
                .append(" after a closing quote kept in the value");
        if (counts.openQuote != 0)
            clause(counts.openQuote, "value", "values")
                .append(" whose quote did not close on its line");
        if (counts.cutCharacter != 0)
            clause(counts.cutCharacter, "value", "values")
                .append(" with a character cut by the field's edge");
        if (counts.broken != 0) {
            clause(counts.broken, "value", "values")
                .append(" that the file cannot give back: ")
                .append(counts.brokenOutcome);
        }
        if (part.empty()) continue;
        if (!list.empty()) list.append("; ");
        list.append("field \"").append(counts.name).append("\": ").append(part);
    }
    host_->reportInfo(mvb_get_message(sourceFile_, static_cast<int>(where.line()), "Text Plugin",
                                      destination ? 815 : 814, list),
                      true);
}
