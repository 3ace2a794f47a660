#include <algorithm>
#include <bit>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <limits>

#include "decimal_digits.h"
#include "value_text.h"

namespace mvb::text {

namespace {

// Powers of ten up to 10^21, each exact as a double.
constexpr double kPowers[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10,
                              1e11, 1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21};

// Reals from 10^-6 up to, not including, 10^21 are written in plain decimal notation; the rest
// with an exponent.
constexpr double kPlainFrom = 1e-6;
constexpr double kPlainBelow = 1e21;
// 2^53: every integer below it is a double.
constexpr double kExactIntegersBelow = 9007199254740992.0;

// "00" to "99", for writing two digits per division.
constexpr char kDigitPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

// Writes the `count` lowest decimal digits of `m` so that the last one lands just before `end`
// and returns where the first one went; `m` loses those digits.
inline char* putDigitsBackwards(char* end, uint64_t* m, int count) noexcept {
    for (; count >= 2; count -= 2) {
        const auto pair = static_cast<size_t>(*m % 100u) * 2;
        *m /= 100u;
        end -= 2;
        std::memcpy(end, kDigitPairs + pair, 2);
    }
    if (count != 0) {
        *--end = static_cast<char>('0' + *m % 10u);
        *m /= 10u;
    }
    return end;
}

// Writes the first `digits` (at most eight) of the eight decimal digits in `word` (as
// eightDigits() gives them) as a decimal with its last `k` (at most eight) after the point: "0."
// and zeros first when there are no more digits than decimals. Each part goes as one word of
// eight bytes, whatever its length, and the next part overwrites what lies past it: up to 17
// bytes are stored. The parts are taken from the word by shifts, not read back from memory as
// bytes stored a moment before (a load across two stores waits for both to be done).
inline void putEightDigits(char* at, uint64_t word, int digits, int k) noexcept {
    if (digits > k) {
        const int whole = digits - k;
        putWord(at, word);
        at[whole] = '.';  // past the text when there are no decimals
        // With eight whole digits there are no decimals: what follows the point is not text.
        putWord(at + whole + 1, whole < 8 ? word >> (8 * whole) : 0);
        return;
    }
    std::memcpy(at, "0.00000000", 10);
    putWord(at + 2 + (k - digits), word);
}

// The length of a value's text of `digits` significant digits, `k` of them decimals, after a
// '-' when `sign` is 1: the integer part (at least "0"), then a point and k decimals.
inline int fewDigitsLength(int sign, int digits, int k) noexcept {
    const int intDigits = digits > k ? digits - k : 1;
    return sign + intDigits + (k > 0 ? 1 + k : 0);
}

// The nearest integer m to `magnitude` * 10^places, for a power of ten that makes it a number
// of `count` digits, 10^(count-1) <= m < 10^count, with `decade` floor(log10(magnitude)) or one
// less; `places` is raised to that power. Returns 0 where the rounding of the product lands m
// outside those digits.
inline uint64_t scaledDigits(double magnitude, int decade, int count, int* places) noexcept {
    *places = count - 1 - decade;
    double scaled = magnitude * kPowers[*places];
    if (scaled >= kPowers[count]) scaled = magnitude * kPowers[--*places];
    // A tie never reads back as the value, so rounding half up finds the nearest integer.
    const auto m = static_cast<uint64_t>(scaled + 0.5);
    const auto low = static_cast<uint64_t>(kPowers[count - 1]);
    return m - low < static_cast<uint64_t>(kPowers[count]) - low ? m : 0;
}

// The text of a value of 15 significant digits or fewer, the common case, found without the
// general shortest-digit search. With K decimals chosen so that value * 10^K lies in
// [10^(n-1), 10^n) for n digits, the integer m nearest to that product is found exactly
// whatever the rounding of the product, and no other decimal of n digits and K places reads back
// as the value (n is at most 15). When m / 10^K reads back as the value, the shortest digits are
// those of m without its trailing zeros (a shorter decimal that reads back would, scaled to K
// places, be another such m). Eight digits are tried first: they are enough for most values
// (money, measures, counts), and take half the work of fifteen. Returns 0 where the general path
// must decide: zero, signs of zero, values below 10^-6 (written with an exponent) or from 10^15
// on, and more digits.
int formatFewDigits(double value, char* out) noexcept {
    const double magnitude = value < 0 ? -value : value;
    if (!(magnitude >= kPlainFrom && magnitude < 1e15)) return 0;
    // With 2^e <= magnitude < 2^(e+1), floor(log10(magnitude)) is floor(e * log10(2)) or one
    // more; e * 1233 / 4096 rounds down to the former for every such e.
    uint64_t bits;
    std::memcpy(&bits, &magnitude, sizeof bits);
    const int binaryExponent = static_cast<int>((bits >> 52) & 0x7FF) - 1023;
    const int decade = (binaryExponent * 1233) >> 12;
    const int sign = value < 0 ? 1 : 0;
    int places = 0;
    if (magnitude < 1e8) [[likely]] {
        const uint64_t m = scaledDigits(magnitude, decade, 8, &places);
        if (m != 0 && static_cast<double>(m) / kPowers[places] == magnitude) [[likely]] {
            // The zeros that end the eight digits, among the decimals, go.
            const uint64_t word = eightDigits(static_cast<uint32_t>(m));
            const int zeros = std::min(trailingZeroDigits(word), places);
            const int k = places - zeros;
            if (k <= 8) [[likely]] {
                putEightDigits(out + sign, word, 8 - zeros, k);
                if (sign != 0) *out = '-';
                return fewDigitsLength(sign, 8 - zeros, k);
            }
        }
    }
    uint64_t m = scaledDigits(magnitude, decade, 15, &places);
    if (m == 0 || static_cast<double>(m) / kPowers[places] != magnitude) return 0;
    // The fifteen digits of m as text, and how many of them end it as zeros: the zeros among
    // the decimals go. Counted in the text rather than by dividing m in turn, which would be
    // a chain of steps, or a branch on a count that varies from value to value.
    const uint64_t head = eightDigits(static_cast<uint32_t>(m / 100000000u));
    const uint64_t tail = eightDigits(static_cast<uint32_t>(m % 100000000u));
    const int tailZeros = trailingZeroDigits(tail);
    const int zeros = std::min(tailZeros + (tailZeros >> 3) * trailingZeroDigits(head), places);
    const int k = places - zeros;
    const int digits = 15 - zeros;  // m had 15 digits
    // A value of eight digits or fewer with at most eight decimals took the first try: here
    // there are more digits (zeros are dropped only among the decimals, of which a value from
    // 10^8 on has at most six) or more decimals.
    const int length = fewDigitsLength(sign, digits, k);
    const int intDigits = digits > k ? digits - k : 1;
    m /= static_cast<uint64_t>(kPowers[zeros]);  // the zeros that go (an exact double)
    char* at = putDigitsBackwards(out + length, &m, k);
    if (k > 0) *--at = '.';
    at = putDigitsBackwards(at, &m, intDigits);
    if (sign != 0) *--at = '-';
    return length;
}

}  // namespace

int formatRealGeneral(double value, char* out) noexcept {
    const double magnitude = value < 0 ? -value : value;
    if (!(magnitude >= kPlainFrom && magnitude < kPlainBelow)) {
        // Zero keeps its sign ("-0"), so that it reads back as itself; NaN and the infinities
        // are written as the standard formatting writes them.
        const auto format = magnitude == 0 || !(magnitude <= std::numeric_limits<double>::max())
                                ? std::chars_format::general
                                : std::chars_format::scientific;
        return static_cast<int>(std::to_chars(out, out + 32, value, format).ptr - out);
    }
    // Below 2^53 the standard formatting's shortest text, where it has no exponent, is this
    // text: the integer part is exact and the fewest decimals are the fewest digits.
    if (magnitude < kExactIntegersBelow) {
        const char* const end = std::to_chars(out, out + 32, value).ptr;
        if (end - out < 4 || end[-4] != 'e') return static_cast<int>(end - out);
    }
    // The shortest digits and the exponent, as "d.ddde+XX" (the exponent lies within -6 and
    // 20, so it has two digits), laid out again in plain decimal notation.
    char text[32];
    const char* const end =
        std::to_chars(text, text + sizeof text, magnitude, std::chars_format::scientific).ptr;
    const char* const mark = end - 4;
    const int exponent = (mark[1] == '-' ? -1 : 1) * ((mark[2] - '0') * 10 + (mark[3] - '0'));
    const char* digits = text;
    if (mark != text + 1) {
        text[1] = text[0];  // close up the point after the first digit
        ++digits;
    }
    const auto count = static_cast<size_t>(mark - digits);
    const int intDigits = exponent + 1;  // at or below zero: zeros come after the point
    char* w = out;
    if (value < 0) *w++ = '-';
    if (intDigits <= 0) {
        const auto zeros = static_cast<size_t>(-intDigits);
        std::memcpy(w, "0.", 2);
        std::memset(w + 2, '0', zeros);
        w += 2 + zeros;
        std::memcpy(w, digits, count);
        w += count;
    } else if (static_cast<size_t>(intDigits) >= count) {
        std::memcpy(w, digits, count);
        std::memset(w + count, '0', static_cast<size_t>(intDigits) - count);
        w += intDigits;
    } else {
        const auto whole = static_cast<size_t>(intDigits);
        std::memcpy(w, digits, whole);
        w[whole] = '.';
        std::memcpy(w + whole + 1, digits + whole, count - whole);
        w += count + 1;
    }
    return static_cast<int>(w - out);
}

int formatReal(double value, char* out) noexcept {
    const int few = formatFewDigits(value, out);
    if (few != 0) return few;
    return formatRealGeneral(value, out);
}

int formatInt64(int64_t value, char* out) noexcept {
    uint64_t rest = value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
    char* at = out;
    if (value < 0) *at++ = '-';
    // Groups of eight digits from the last; the first group loses its leading zeros (a zero
    // keeps its one digit). Each group is stored whole and the next overwrites what follows.
    if (rest < 10000u) {
        // Four digits are found sooner than eight: small counts and amounts are common.
        const uint32_t word = fourDigits(static_cast<uint32_t>(rest));
        const int lead = rest == 0 ? 3 : std::countr_zero(word ^ 0x30303030u) / 8;
        const uint32_t digits = word >> (8 * lead);
        std::memcpy(at, &digits, sizeof digits);
        return static_cast<int>(at - out) + 4 - lead;
    }
    if (rest < 100000000u) {
        const uint64_t word = eightDigits(static_cast<uint32_t>(rest));
        const int lead = leadingZeroDigits(word);
        putWord(at, word >> (8 * lead));
        return static_cast<int>(at - out) + 8 - lead;
    }
    uint64_t head = rest / 100000000u;
    const uint64_t last = eightDigits(static_cast<uint32_t>(rest % 100000000u));
    uint64_t middle = 0;
    int groups = 1;
    if (head >= 100000000u) {
        middle = eightDigits(static_cast<uint32_t>(head % 100000000u));
        head /= 100000000u;  // at most 1844
        groups = 2;
    }
    const uint64_t first = eightDigits(static_cast<uint32_t>(head));
    const int lead = leadingZeroDigits(first);
    putWord(at, first >> (8 * lead));
    at += 8 - lead;
    if (groups == 2) {
        putWord(at, middle);
        at += 8;
    }
    putWord(at, last);
    return static_cast<int>(at - out) + 8;
}

}  // namespace mvb::text
