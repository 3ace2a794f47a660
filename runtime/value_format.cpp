#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "value_text.h"

namespace mvb::text {

namespace {

constexpr double kPow10[] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                             1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};

int decimalDigits(uint64_t value) noexcept {
    int digits = 1;
    while (value >= 10) {
        value /= 10;
        ++digits;
    }
    return digits;
}

/// Writes the digits of `value` (`digits` of them) ending just before `end`.
void putDigits(char* end, uint64_t value, int digits) noexcept {
    for (int i = 0; i < digits; ++i) {
        *--end = static_cast<char>('0' + value % 10);
        value /= 10;
    }
}

/// The shortest text of a real that has at most 15 significant digits and reads best in
/// positional form (most data written by people or rounded by programs), found with one
/// multiplication and one exact division instead of the general shortest-digits search.
/// Returns 0 when `value` needs the general search or reads shorter with an exponent.
///
/// Why it is exact: with x = round(|value| * 10^k) below 10^15, a double's spacing is under a
/// quarter of 10^-k, so at most one decimal of k fraction digits reads back as the value, and
/// x / 10^k (both exact doubles, one rounding) is that reading. When it matches, every shorter
/// decimal that reads back is x with trailing zeros removed, so removing them gives the
/// shortest form.
int formatShortPositional(double value, char* out) noexcept {
    const double magnitude = std::fabs(value);
    if (!(magnitude >= 1e-3 && magnitude < 1e15)) return 0;
    int integerDigits = 0;
    while (integerDigits < 15 && magnitude >= kPow10[integerDigits])
        ++integerDigits;
    int fraction = 15 - integerDigits;
    const double scaled = magnitude * kPow10[fraction];
    auto x = static_cast<uint64_t>(std::llround(scaled));
    if (static_cast<double>(x) / kPow10[fraction] != magnitude) return 0;
    while (fraction > 0 && x % 10 == 0) {
        x /= 10;
        --fraction;
    }
    const int digits = decimalDigits(x);
    int significant = digits;
    if (fraction == 0) {
        for (uint64_t rest = x; rest % 10 == 0; rest /= 10)
            --significant;
    }
    // The exponent form: d[.ddd]e±XX (the exponent is below 100 here).
    const int exponentLength = significant + (significant > 1 ? 1 : 0) + 4;
    const int positionalLength =
        fraction == 0 ? digits : (digits > fraction ? digits + 1 : fraction + 2);
    if (positionalLength > exponentLength) return 0;

    char* at = out;
    if (value < 0) *at++ = '-';
    if (fraction == 0) {
        putDigits(at + digits, x, digits);
        return static_cast<int>(at + digits - out);
    }
    if (digits > fraction) {
        const int whole = digits - fraction;
        putDigits(at + digits + 1, x, fraction);
        at[whole] = '.';
        putDigits(at + whole, x / static_cast<uint64_t>(kPow10[fraction]), whole);
        return static_cast<int>(at + digits + 1 - out);
    }
    at[0] = '0';
    at[1] = '.';
    std::memset(at + 2, '0', static_cast<size_t>(fraction - digits));
    putDigits(at + 2 + fraction, x, digits);
    return static_cast<int>(at + 2 + fraction - out);
}

}  // namespace

int formatReal(double value, char* out) noexcept {
    const int length = formatShortPositional(value, out);
    if (length != 0) return length;
    const auto result = std::to_chars(out, out + 32, value);
    return static_cast<int>(result.ptr - out);
}

int formatInt64(int64_t value, char* out) noexcept {
    const auto result = std::to_chars(out, out + 21, value);
    return static_cast<int>(result.ptr - out);
}

}  // namespace mvb::text
