#include "value_text.h"

#include <charconv>
#include <cstdint>
#include <cstring>
#include <iterator>

#include "mvb/byte_scan.h"
#include "utf8_internal.h"

namespace mvb::text {

namespace {

// from_chars takes no '+' sign; a single leading '+' is allowed here, as people write it.
std::string_view dropPlus(std::string_view text) noexcept {
    if (text.size() > 1 && text[0] == '+' && text[1] != '-' && text[1] != '+') {
        text.remove_prefix(1);
    }
    return text;
}

}  // namespace

namespace {

/// The bytes of a word of at most eight letters, little-endian, as one number.
constexpr uint64_t wordBits(std::string_view word) noexcept {
    uint64_t bits = 0;
    for (size_t i = 0; i < word.size(); ++i) {
        bits |= static_cast<uint64_t>(static_cast<unsigned char>(word[i])) << (8 * i);
    }
    return bits;
}

/// `bits` (the bytes of a text) with the ASCII capitals made small, all eight bytes at once.
constexpr uint64_t foldCapitals(uint64_t bits) noexcept {
    using mvb::scan::kHighs;
    using mvb::scan::kOnes;
    const uint64_t low7 = bits & ~kHighs;
    const uint64_t fromA = (low7 + kOnes * (0x80 - 'A')) & kHighs;
    const uint64_t pastZ = (low7 + kOnes * (0x80 - 'Z' - 1)) & kHighs;
    const uint64_t capitals = fromA & ~pastZ & ~bits;
    return bits | (capitals >> 2);
}

/// The bytes of a text of 1 to 8 bytes as one number, read in place: two loads that may
/// overlap (a byte read twice lands on the same place), with no copy through memory.
inline uint64_t shortTextBits(std::string_view text) noexcept {
    const char* p = text.data();
    const size_t size = text.size();
    const auto byte = [p](size_t at) noexcept {
        return static_cast<uint64_t>(static_cast<unsigned char>(p[at])) << (8 * at);
    };
    if (size < 4) {
        return byte(0) | byte(size / 2) | byte(size - 1);
    }
    uint32_t head = 0;
    uint32_t tail = 0;
    std::memcpy(&head, p, sizeof head);
    std::memcpy(&tail, p + size - 4, sizeof tail);
    return head | (static_cast<uint64_t>(tail) << (8 * (size - 4)));
}

/// Matches no text: a text's bytes past its length are zero.
constexpr uint64_t kNoWord = ~uint64_t{0};

}  // namespace

bool parseBool(std::string_view text, bool* value) noexcept {
    // The words as most data holds them, true and false in small letters, are compared whole,
    // and without a branch on which one it is: data mixes them without a pattern.
    if (text.size() == 4 || text.size() == 5) {
        uint32_t head = 0;
        std::memcpy(&head, text.data(), sizeof head);
        const auto bit = [](bool b) noexcept { return static_cast<unsigned>(b); };
        const unsigned truth =
            bit(text.size() == 4) & bit(head == static_cast<uint32_t>(wordBits("true")));
        const unsigned falsehood = bit(text.size() == 5) &
                                   bit(head == static_cast<uint32_t>(wordBits("fals"))) &
                                   bit(text.back() == 'e');
        const unsigned word = 2u * truth + falsehood;  // 2 for true, 1 for false, 0 for neither
        if (word != 0) [[likely]] {
            *value = word == 2;
            return true;
        }
    }
    text = utf8::trimBlanks(text);
    // The true and the false word of each length, compared as numbers with the text's letters
    // made small: a word of any case is found without a branch per word.
    static constexpr uint64_t kTruths[] = {kNoWord,         wordBits("y"),    kNoWord,
                                           wordBits("yes"), wordBits("true"), kNoWord};
    static constexpr uint64_t kFalsehoods[] = {kNoWord, wordBits("n"), wordBits("no"),
                                               kNoWord, kNoWord,       wordBits("false")};
    if (text.empty() || text.size() >= std::size(kTruths)) {
        return false;
    }
    const uint64_t bits = foldCapitals(shortTextBits(text));
    bool truth = bits == kTruths[text.size()];
    bool falsehood = bits == kFalsehoods[text.size()];
    if (text.size() == 1) {
        truth |= bits == wordBits("t") || bits == wordBits("1");
        falsehood |= bits == wordBits("f") || bits == wordBits("0");
    }
    if (!truth && !falsehood) {
        return false;
    }
    *value = truth;
    return true;
}

namespace {

/// Most reals in data are plain: an optional minus sign, up to 15 digits and a decimal point with
/// digits on both sides. parseReal reads a plain text itself or says that it is not one;
/// anything else goes to std::from_chars, which knows every form and every limit.
constexpr size_t kPlainRealDigits = 15;  // below 10^15 < 2^53: an exact double

/// Reads the digits in [p, end) until a non-digit; gives where it stopped.
inline const char* addDigits(const char* p, const char* end, uint64_t* result) noexcept {
    uint64_t n = *result;
    for (; p < end; ++p) {
        const auto digit = static_cast<unsigned>(*p - '0');
        if (digit > 9) {
            break;
        }
        n = n * 10 + digit;
    }
    *result = n;
    return p;
}

bool parseRealFully(std::string_view text, double* value) noexcept {
    text = dropPlus(utf8::trimBlanks(text));
    if (text.empty()) {
        return false;
    }
    double result = 0;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, result, std::chars_format::general);
    if (ec != std::errc() || ptr != end) {
        return false;
    }
    *value = result;
    return true;
}

}  // namespace

namespace {

// m / 10^k with both exact doubles is one correctly rounded division: the same double as the
// full parse gives.
constexpr double kPowers[kPlainRealDigits + 1] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                                  1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};

/// The value of the eight decimal digits (bytes '0' to '9') of `bits`, the first (most
/// significant) in the lowest byte: three multiplications instead of a chain of eight. (The
/// way back, a number's digits as bytes, is eightDigits() of decimal_digits.h.)
inline uint64_t eightDigitsValue(uint64_t bits) noexcept {
    bits -= 0x3030303030303030ull;
    bits = (bits * 10 + (bits >> 8)) & 0x00FF00FF00FF00FFull;
    bits = (bits * 100 + (bits >> 16)) & 0x0000FFFF0000FFFFull;
    return (bits * 10000 + (bits >> 32)) & 0xFFFFFFFFull;
}

/// The high bit of each byte of `bits` that is a decimal digit, exactly (no borrows between
/// bytes: each byte's test keeps within the byte).
inline uint64_t digitBytes(uint64_t bits) noexcept {
    using mvb::scan::kHighs;
    using mvb::scan::kOnes;
    const uint64_t fromZero = ((bits | kHighs) - kOnes * '0') & kHighs;            // >= '0'
    const uint64_t pastNine = ((bits & ~kHighs) + kOnes * (0x7F - '9')) & kHighs;  // > '9'
    return fromZero & ~pastNine & ~bits & kHighs;
}

/// The text of a short number apart from its minus sign: its 1 to 8 bytes as one word (the
/// first in the lowest byte) and their count.
struct ShortNumber {
    uint64_t bits = 0;
    size_t size = 0;
    bool negative = false;
};

/// `text` as a ShortNumber; false when it is empty or longer than 8 bytes after its sign.
inline bool shortNumber(std::string_view text, ShortNumber* number) noexcept {
    const bool negative = !text.empty() && text[0] == '-';
    text.remove_prefix(negative ? 1 : 0);
    if (text.empty() || text.size() > 8) {
        return false;
    }
    *number = {shortTextBits(text), text.size(), negative};
    return true;
}

/// The bytes of a word that a text of `size` (1 to 8) bytes takes.
inline uint64_t textBytesOfWord(size_t size) noexcept {
    return size == 8 ? ~uint64_t{0} : (uint64_t{1} << (8 * size)) - 1;
}

/// The value of the `count` (1 to 8) decimal digits in the low bytes of `bits`, the first in
/// the lowest byte: leading zeros fill the word, and the digits move up to its high bytes.
inline uint64_t digitsValue(uint64_t bits, size_t count) noexcept {
    const size_t pad = 8 * (8 - count);
    return eightDigitsValue(pad == 0 ? bits
                                     : (bits << pad) | (0x3030303030303030ull >> (64 - pad)));
}

/// parseInt64's shortcut for the shortest plain integers: after an optional minus sign one to
/// eight digits, read as one word without a loop. (A loop over the digits ends at a count that
/// changes from value to value, a branch that the processor often guesses wrong.) False for
/// any other text.
inline bool parseShortPlainInt(std::string_view text, int64_t* value) noexcept {
    ShortNumber number;
    if (!shortNumber(text, &number) ||
        (~digitBytes(number.bits) & mvb::scan::kHighs & textBytesOfWord(number.size)) != 0) {
        return false;
    }
    const auto result = static_cast<int64_t>(digitsValue(number.bits, number.size));
    *value = number.negative ? -result : result;
    return true;
}

/// parseReal's shortcut for the shortest plain reals: after an optional minus sign at most
/// eight bytes, all digits but at most one point with digits on both sides. Their digits are
/// read as one word, without a loop. False for any other text. `*asWritten` tells whether the
/// text is the one formatReal() writes for the value read: no zero leads its digits (but the
/// one before the point of a value below 1, or the whole of a zero) and none ends a fraction.
/// Such a text has at most 15 significant digits (here 8), and the value read from one keeps
/// them: written back to 15 digits it gives the text's digits again, so no other text of that
/// many digits or fewer reads as the same value, and the text is the shortest one that does.
inline bool parseShortPlainReal(std::string_view text, double* value, bool* asWritten) noexcept {
    ShortNumber number;
    if (!shortNumber(text, &number)) {
        return false;
    }
    const auto [bits, size, negative] = number;
    const uint64_t used = textBytesOfWord(size);
    using mvb::scan::kHighs;
    const uint64_t points = ~mvb::scan::nonZeroBytes(bits ^ (mvb::scan::kOnes * '.')) & kHighs;
    // A point: the one byte that is no digit, neither first nor last.
    const uint64_t notDigits = ~digitBytes(bits) & kHighs & used;
    uint64_t digits = bits;
    size_t count = size;
    size_t fraction = 0;
    if (notDigits != 0) {
        const auto at = static_cast<size_t>(std::countr_zero(notDigits)) / 8;
        if ((notDigits & (notDigits - 1)) != 0 || (points & notDigits) == 0 || at == 0 ||
            at == size - 1) {
            return false;
        }
        const uint64_t low = (uint64_t{1} << (8 * at)) - 1;
        digits = (bits & low) | ((bits >> 8) & ~low);
        count = size - 1;
        fraction = size - 1 - at;
    }
    const double result = static_cast<double>(digitsValue(digits, count)) / kPowers[fraction];
    *value = negative ? -result : result;
    // The first byte, the last one (the word's bytes past the text are zero) and whether the
    // one after the first is the point.
    const auto first = static_cast<char>(bits & 0xFF);
    const auto last = static_cast<char>((bits >> (8 * (size - 1))) & 0xFF);
    const bool pointSecond = fraction != 0 && fraction == size - 2;
    *asWritten = (first != '0' || size == 1 || pointSecond) && (fraction == 0 || last != '0');
    return true;
}

/// parseReal() past its shortcut: longer plain reals, then the full parse.
[[gnu::noinline]] bool parseLongerReal(std::string_view text, double* value) noexcept {
    const char* p = text.data();
    const char* const end = p + text.size();
    const bool negative = p < end && *p == '-';
    p += negative;
    uint64_t mantissa = 0;
    const char* const whole = p;
    p = addDigits(p, end, &mantissa);
    const char* const point = p;
    size_t fraction = 0;
    if (p != whole && p < end && *p == '.') {
        p = addDigits(p + 1, end, &mantissa);
        fraction = static_cast<size_t>(p - point) - 1;
    }
    const auto digits = static_cast<size_t>(point - whole) + fraction;
    if (p == end && point != whole && (fraction > 0 || point == end) && digits <= kPlainRealDigits)
        [[likely]] {
        const double result = static_cast<double>(mantissa) / kPowers[fraction];
        *value = negative ? -result : result;
        return true;
    }
    return parseRealFully(text, value);
}

}  // namespace

bool parseInt64(std::string_view text, int64_t* value) noexcept {
    if (parseShortPlainInt(text, value)) [[likely]] {
        return true;
    }
    // Longer plain integers: an optional minus sign and at most 18 digits, which cannot
    // overflow. Anything else (blanks, a plus sign, more digits) takes from_chars.
    constexpr size_t kPlainDigits = 18;
    const char* p = text.data();
    const char* const end = p + text.size();
    const bool negative = p < end && *p == '-';
    p += negative;
    uint64_t magnitude = 0;
    const char* const digits = p;
    p = addDigits(p, end, &magnitude);
    const auto count = static_cast<size_t>(p - digits);
    if (p == end && count != 0 && count <= kPlainDigits) [[likely]] {
        const auto result = static_cast<int64_t>(magnitude);
        *value = negative ? -result : result;
        return true;
    }
    text = dropPlus(utf8::trimBlanks(text));
    int64_t result = 0;
    const char* const last = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), last, result, 10);
    if (ec != std::errc() || ptr != last) {
        return false;
    }
    *value = result;
    return true;
}

bool parseReal(std::string_view text, double* value) noexcept {
    bool asWritten = false;
    if (parseShortPlainReal(text, value, &asWritten)) [[likely]] {
        return true;
    }
    return parseLongerReal(text, value);
}

bool parseRealAsWritten(std::string_view text, double* value, bool* asWritten) noexcept {
    if (parseShortPlainReal(text, value, asWritten)) [[likely]] {
        return true;
    }
    *asWritten = false;
    return parseLongerReal(text, value);
}

}  // namespace mvb::text
