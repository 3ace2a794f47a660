#include "infer_values.h"

#include <algorithm>
#include <cstring>
#include <iterator>

#include "mvb/date.h"
#include "mvb/parse.h"
#include "mvb/types.h"

namespace textjob::infer {
namespace {

/// Longest text the sources still try as a date.
constexpr size_t kMaxDateText = 127;
/// Decimal texts of up to this many significant digits read back from a double unchanged.
constexpr int kExactDigits = 15;
/// The most significant digits a real's text may have: a double's shortest text has at most
/// 17 (as programs that write reals at full precision give them), and more say more than a
/// double holds. Whether such a text comes back unchanged is found by writing it.
constexpr int kMostRealDigits = 17;

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

/// A whole number without sign, leading zero or blanks; digits in `digits`.
bool integerShape(std::string_view text, int& digits) {
    size_t i = 0;
    if (!text.empty() && text[0] == '-') i = 1;
    if (i == text.size()) return false;
    if (text[i] == '0' && (text.size() - i > 1 || i == 1)) return false;  // 007, -0
    for (size_t j = i; j < text.size(); ++j) {
        if (!isDigit(text[j])) return false;
    }
    digits = static_cast<int>(text.size() - i);
    return true;
}

/// A decimal number: -?(0|[1-9][0-9]*)(.[0-9]+)?([eE][+-]?[0-9]+)? with no more significant
/// digits than a double holds.
bool realShape(std::string_view text, bool& exponent) {
    size_t i = 0;
    const size_t n = text.size();
    if (i < n && text[i] == '-') ++i;
    if (i == n || !isDigit(text[i])) return false;
    if (text[i] == '0' && i + 1 < n && isDigit(text[i + 1])) return false;
    int significant = 0;
    bool leading = true;
    const auto digit = [&](char c) {
        if (c != '0') leading = false;
        if (!leading) ++significant;
    };
    while (i < n && isDigit(text[i]))
        digit(text[i++]);
    if (i < n && text[i] == '.') {
        ++i;
        if (i == n || !isDigit(text[i])) return false;
        while (i < n && isDigit(text[i]))
            digit(text[i++]);
    }
    if (i < n && (text[i] == 'e' || text[i] == 'E')) {
        exponent = true;
        ++i;
        if (i < n && (text[i] == '+' || text[i] == '-')) ++i;
        if (i == n || !isDigit(text[i])) return false;
        while (i < n && isDigit(text[i]))
            ++i;
    }
    return i == n && significant <= kMostRealDigits;
}

bool isBooleanWord(std::string_view text) {
    // The words true, false, yes, no, t, f, y and n in any case, each told by its length.
    if (text.empty() || text.size() > 5) return false;
    char lower[5] = {};
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        lower[i] = (c >= 'A' && c <= 'Z') ? static_cast<char>(c + ('a' - 'A')) : c;
    }
    switch (text.size()) {
        case 1:
            return lower[0] == 't' || lower[0] == 'f' || lower[0] == 'y' || lower[0] == 'n';
        case 2:
            return std::memcmp(lower, "no", 2) == 0;
        case 3:
            return std::memcmp(lower, "yes", 3) == 0;
        case 4:
            return std::memcmp(lower, "true", 4) == 0;
        default:
            return std::memcmp(lower, "false", 5) == 0;
    }
}

struct DateFormat {
    unsigned bit;
    int format;
};
constexpr DateFormat kDateFormats[] = {{kDateIso, 0}, {kDateMdy, 1}, {kDateDmy, 2}, {kDateYmd, 3}};

/// The date bits among `candidates` whose format reads `text`; `hasTime` when one gives a time
/// of day other than midnight. With `read` given, the date each format read is kept there (at
/// the format's number) for the bits it returns.
unsigned datesReading(std::string_view text, unsigned candidates, bool& hasTime,
                      DateRead* read = nullptr) {
    if (text.size() < 6 || text.size() > kMaxDateText || !isDigit(text[0])) return 0;
    unsigned reading = 0;
    for (const DateFormat& f : kDateFormats) {
        if ((candidates & f.bit) == 0) continue;
        DateRead d{};
        if (mvs_text_to_date(text.data(), text.size(), &d.year, &d.month, &d.day, &d.hour,
                             &d.minute, &d.second, f.format) == 0) {
            reading |= f.bit;
            if (d.hour != 0 || d.minute != 0 || d.second != 0) hasTime = true;
            if (read != nullptr) read[f.format] = d;
        }
    }
    return reading;
}

/// The number bits among `candidates` that read `text`; `exponent` when it has one, and
/// `plainWhole` when it is a whole number of few enough digits that a real reads it exactly
/// (and so writes it back as it stands).
unsigned numbersReading(std::string_view text, unsigned candidates, bool& exponent,
                        bool& plainWhole) {
    plainWhole = false;
    if ((candidates & (kInteger | kReal)) == 0) return 0;
    unsigned reading = 0;
    int digits = 0;
    if (integerShape(text, digits)) {
        // Up to 18 digits always fit 64 bits; a 19-digit one is asked of the runtime.
        bool fits = digits <= 18;
        if (!fits && digits == 19) {
            MvbDatavar value;
            value.assign(text);
            fits = value.setType(mvbTypeInteger);
        }
        if (fits) reading |= kInteger;
        plainWhole = digits <= kExactDigits;
        if (plainWhole) reading |= kReal;
    } else if (realShape(text, exponent)) {
        // A real keeps its text's digits when they are the shortest of the double it reads as
        // (0.10000000000000001 is not, nor 7e-324: the source reads them as 0.1 and 5e-324
        // and says they were rounded).
        double value = 0;
        // A short one without an exponent is never so near 0 (read whole, it keeps its digits).
        if ((text.size() <= kExactDigits && !exponent) ||
            (mvb::text::parseReal(text, &value) && mvb::text::realKeepsDigits(text, value))) {
            reading |= kReal;
        }
    }
    return reading & candidates;
}

size_t countChars(std::string_view text) {
    size_t count = 0;
    for (unsigned char c : text)
        count += (c & 0xC0u) != 0x80u;
    return count;
}

/// The type code and date format a type bit stands for.
struct TypeOfBit {
    unsigned bit;
    int type;
    int dateFormat;
};
constexpr TypeOfBit kTypeOfBit[] = {
    {kBoolean, mvbTypeBoolean, 0}, {kInteger, mvbTypeInteger, 0}, {kReal, mvbTypeReal, 0},
    {kDateIso, mvbTypeDate, 0},    {kDateMdy, mvbTypeDate, 1},    {kDateDmy, mvbTypeDate, 2},
    {kDateYmd, mvbTypeDate, 3},
};

/// The bit among `bits` a column would be typed with first.
unsigned firstBit(unsigned bits) {
    for (const TypeOfBit& t : kTypeOfBit) {
        if ((bits & t.bit) != 0) return t.bit;
    }
    return 0;
}

}  // namespace

namespace {

/// Room for any value other than a string as a destination writes it.
using WrittenText = char[MvbDatavar::kScalarTextRoom];

/// Writes `text` read as the type `kind` stands for, as a source reads it, into `out` as a
/// destination writes it; returns its length, or -1 when `text` does not read as that type.
/// `read`, when given, is the date that the kind's format read from `text` already.
int writeAs(std::string_view text, const TypeOfBit& kind, WrittenText& out,
            const DateRead* read = nullptr) {
    if (text.empty()) return -1;
    MvbDatavar value;
    if (kind.type == mvbTypeDate) {
        // As the sources read a date: the date parser, then the date as a value.
        DateRead d{};
        if (read != nullptr) {
            d = *read;
        } else if (text.size() > kMaxDateText ||
                   mvs_text_to_date(text.data(), text.size(), &d.year, &d.month, &d.day, &d.hour,
                                    &d.minute, &d.second, kind.dateFormat) != 0) {
            return -1;
        }
        MvbDate date;
        date.assign(d.year, d.month, d.day, d.hour, d.minute, d.second, 0);
        value.assign(date);
    } else if (!value.assignConverted(text, kind.type)) {
        return -1;
    }
    return value.formatText(out, sizeof out);
}

const TypeOfBit* kindOf(unsigned bit) {
    for (const TypeOfBit& t : kTypeOfBit) {
        if (t.bit == bit) return &t;
    }
    return nullptr;
}

}  // namespace

std::string writtenAs(std::string_view text, unsigned bit) {
    const TypeOfBit* kind = kindOf(bit);
    WrittenText written;
    const int length = kind != nullptr ? writeAs(text, *kind, written) : -1;
    return length < 0 ? std::string() : std::string(written, static_cast<size_t>(length));
}

unsigned typesReading(std::string_view text, unsigned candidates) {
    bool exponent = false;
    bool plainWhole = false;
    unsigned reading = numbersReading(text, candidates, exponent, plainWhole);
    if ((candidates & kBoolean) != 0 && isBooleanWord(text)) reading |= kBoolean;
    if ((candidates & kAnyDate) != 0) {
        bool hasTime = false;
        reading |= datesReading(text, candidates, hasTime);
    }
    return reading;
}

bool ColumnStats::observeLength(std::string_view text) {
    if (text.empty()) {
        ++empty_;
        return false;
    }
    ++values_;
    if (text.size() > maxBytes_) maxBytes_ = text.size();
    // A value has no more characters than bytes: count them only when that could matter.
    if (text.size() > maxChars_) maxChars_ = std::max(maxChars_, countChars(text));
    return true;
}

void ColumnStats::observeTypes(std::string_view text) {
    if (candidates_ == 0) return;

    unsigned reading = 0;
    bool plainWhole = false;
    if ((candidates_ & (kInteger | kReal)) != 0) {
        bool exponent = false;
        reading |= numbersReading(text, candidates_, exponent, plainWhole);
        if ((reading & (kInteger | kReal)) == 0 && numberLikeText_.empty()) {
            // Read as a number it would come back otherwise: why the column stays a string.
            numberLikeWritten_ = writtenAs(text, kInteger);
            if (numberLikeWritten_.empty()) numberLikeWritten_ = writtenAs(text, kReal);
            if (!numberLikeWritten_.empty() && numberLikeWritten_ != text) numberLikeText_ = text;
        }
        if ((reading & kReal) != 0 && (reading & kInteger) == 0 &&
            (text.size() > static_cast<size_t>(realWidth_) || exponent)) {
            // A real is written in its shortest form. Without an exponent that is never longer
            // than its text (the same digits, at most), so only a text longer than the longest
            // so far is formatted; with one it may be longer (1e5 is written 1e+05).
            MvbDatavar value;
            value.assign(text);
            if (value.setType(mvbTypeReal)) {
                char written[64];
                realWidth_ = std::max(realWidth_, value.formatText(written, sizeof written));
            } else {
                reading &= ~kReal;
            }
        } else if ((reading & kReal) != 0 && (reading & kInteger) != 0) {
            realWidth_ = std::max(realWidth_, static_cast<int>(text.size()));
        }
    }
    if ((candidates_ & kBoolean) != 0 && isBooleanWord(text)) reading |= kBoolean;
    DateRead dates[std::size(kDateFormats)];  // filled for the formats that read the text
    if ((candidates_ & kAnyDate) != 0) {
        reading |= datesReading(text, candidates_, dateTime_, dates);
    }
    if (keepLosses_ && (candidates_ & ~reading) != 0)
        narrowings_.push_back({candidates_ & ~reading, values_ - 1, std::string(text)});
    if ((candidates_ & reading) == 0 && typedValues_ != 0 && unreadText_.empty()) {
        unreadText_ = text;
        unreadAs_ = typeOf(candidates_, 1).name;
    }
    candidates_ &= reading;
    if (candidates_ != 0) ++typedValues_;
    exact_ &= candidates_;
    if (exact_ != 0) observeWriting(text, plainWhole, dates);
}

void ColumnStats::observeWriting(std::string_view text, bool plainWhole, const DateRead* dates) {
    unsigned kept = 0;
    for (const TypeOfBit& t : kTypeOfBit) {
        if ((exact_ & t.bit) == 0) continue;
        // A whole number without leading zero is written as it stands, as an integer and, with
        // few enough digits, as a real. A date is written from what its format read.
        bool same = t.bit == kInteger || (t.bit == kReal && plainWhole);
        if (!same) {
            WrittenText written;
            const int length =
                writeAs(text, t, written, t.type == mvbTypeDate ? &dates[t.dateFormat] : nullptr);
            same = length >= 0 && static_cast<size_t>(length) == text.size();
            // Compared here: the texts are short, and the library's compare is a call.
            for (size_t i = 0; same && i < text.size(); ++i)
                same = written[i] == text[i];
        }
        if (same) kept |= t.bit;
    }
    if (kept != exact_ && lostText_.empty()) {
        lostText_ = text;
        lostWritten_ = writtenAs(text, firstBit(exact_ & ~kept));
    }
    if (kept != exact_ && keepLosses_) losses_.push_back({exact_ & ~kept, std::string(text)});
    exact_ = kept;
}

void ColumnStats::append(const ColumnStats& later) {
    // The first value of `later` to lose a type that this part kept is the first the whole
    // file loses; the types that `later` lost before it, this part had lost already.
    for (const Loss& loss : later.losses_) {
        const unsigned lost = loss.types & exact_;
        if (!lostText_.empty() || lost == 0) continue;
        lostText_ = loss.text;
        lostWritten_ = writtenAs(loss.text, firstBit(lost));
    }
    // Read one after another, the later values narrow this part's types where they narrowed
    // their own, and the first to leave none is why the column is a string.
    if (candidates_ != 0) {
        unsigned types = candidates_;
        uint64_t typed = later.values_;
        for (const Narrowing& n : later.narrowings_) {
            if ((types & ~n.types) != 0) {
                types &= ~n.types;
                continue;
            }
            typed = n.before;
            if (typedValues_ + n.before != 0) {
                unreadText_ = n.text;
                unreadAs_ = typeOf(types, 1).name;
            }
            break;
        }
        typedValues_ += typed;
    }
    if (numberLikeText_.empty() && (candidates_ & (kInteger | kReal)) != 0) {
        numberLikeText_ = later.numberLikeText_;
        numberLikeWritten_ = later.numberLikeWritten_;
    }
    candidates_ &= later.candidates_;
    exact_ &= later.exact_;
    values_ += later.values_;
    empty_ += later.empty_;
    maxBytes_ = std::max(maxBytes_, later.maxBytes_);
    maxChars_ = std::max(maxChars_, later.maxChars_);
    realWidth_ = std::max(realWidth_, later.realWidth_);
    dateTime_ = dateTime_ || later.dateTime_;
}

ColumnType ColumnStats::decide(TypeMode mode) const {
    ColumnType type;
    type.outputWidth = std::max<int>(1, static_cast<int>(maxBytes_));
    if (mode == TypeMode::Text || values_ == 0) return type;
    if (candidates_ == 0) {
        // A value that reads as a number but would be written otherwise (+5) is told so, not
        // as a value that reads as none.
        const bool writtenOtherwise = !numberLikeText_.empty() && numberLikeText_ == unreadText_;
        if (!unreadText_.empty() && unreadAs_ != type.name && !writtenOtherwise) {
            type.note = "kept as " + type.name + ": the values before " + unreadText_ +
                        " read as " + unreadAs_ + "s, but it does not";
        } else if (!numberLikeText_.empty()) {
            type.note = "kept as " + type.name + ": " + numberLikeText_ + " would be written " +
                        numberLikeWritten_ + " as a number";
        }
        return type;
    }
    if (mode == TypeMode::Lossless) {
        ColumnType exact = exact_ == 0 ? type : typeOf(exact_, type.outputWidth);
        const ColumnType loose = typeOf(candidates_, type.outputWidth);
        if (exact.name != loose.name && !lostText_.empty()) {
            // Written as the loose type writes it: the text lost a type the loose one may
            // not be (a date read in both orders while the column reads day first).
            std::string written = writtenAs(lostText_, firstBit(candidates_));
            if (written.empty()) written = lostWritten_;
            exact.note = "kept as " + exact.name + ": " + lostText_ + " would be written " +
                         (written.empty() ? std::string("otherwise") : written) +
                         " (--types loose reads it as " + loose.name + ")";
        }
        // Every value is written back as it stands.
        exact.outputWidth = type.outputWidth;
        return exact;
    }
    return typeOf(candidates_, type.outputWidth);
}

ColumnType ColumnStats::typeOf(unsigned candidates, int width) const {
    ColumnType type;
    type.outputWidth = width;
    if ((candidates & kBoolean) != 0) {
        type.name = "boolean";
        type.outputWidth = 5;  // false
        return type;
    }
    if ((candidates & kInteger) != 0) {
        type.name = "integer";
        return type;
    }
    if ((candidates & kReal) != 0) {
        type.name = "real";
        type.outputWidth = std::max(1, realWidth_);
        return type;
    }
    const int dateWidth = dateTime_ ? 19 : 10;
    if ((candidates & kDateIso) != 0) {
        type.name = "date";
        type.outputWidth = dateWidth;
        return type;
    }
    const unsigned orders = candidates & (kDateMdy | kDateDmy | kDateYmd);
    if (orders == kDateMdy || orders == kDateDmy || orders == kDateYmd) {
        type.name = orders == kDateMdy ? "date_mdy" : orders == kDateDmy ? "date_dmy" : "date_ymd";
        type.outputWidth = dateWidth;
        return type;
    }
    type.note =
        "dates read both as month/day/year and as day/month/year: kept as string "
        "(TYPE date_mdy or date_dmy reads them as dates)";
    return type;
}

int maxLengthWithHeadroom(int longest) {
    const int64_t withRoom = static_cast<int64_t>(longest) + std::max(8, longest / 4);
    return static_cast<int>(std::min<int64_t>(withRoom, 1 << 30));
}

}  // namespace textjob::infer
