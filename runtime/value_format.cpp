#include <charconv>
#include <cstdint>

#include "value_text.h"

namespace mvb::text {

namespace {

// Powers of ten up to 10^15, each exact as a double.
constexpr double kPowers[] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                              1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};

int digitCount(uint64_t n) noexcept {
    int count = 1;
    while (n >= 10) {
        n /= 10;
        ++count;
    }
    return count;
}

// The text of a value with few digits, the common case, found without the general shortest-
// digit search: the smallest count k of decimals for which m / 10^k, with m the integer
// nearest to value * 10^k, reads back as the value. With m below 10^15 the nearest integer
// is found exactly whatever the rounding of the product, and no other decimal of k places
// reads back as the value, so these are the shortest digits there are. Returns 0 where the
// general path must decide: zero, signs of zero, large or tiny values, many digits, and where
// the exponent form would be shorter than the positional one.
int formatFewDigits(double value, char* out) noexcept {
    const double magnitude = value < 0 ? -value : value;
    if (!(magnitude >= 1e-6 && magnitude < 1e15)) return 0;
    for (int k = 0; k < 16; ++k) {
        const double scaled = magnitude * kPowers[k];
        if (scaled >= 1e15) return 0;
        const double nearest = __builtin_nearbyint(scaled);
        if (nearest / kPowers[k] != magnitude) continue;
        auto m = static_cast<uint64_t>(nearest);
        const int digits = digitCount(m);
        const int sign = value < 0 ? 1 : 0;
        // Positional: the integer part (at least "0"), then a point and k decimals.
        const int intDigits = digits > k ? digits - k : 1;
        const int positional = sign + intDigits + (k > 0 ? 1 + k : 0);
        // The exponent form: the digits without trailing zeros, a point after the first of
        // several, "e", a sign and at least two exponent digits.
        int significant = digits;
        for (uint64_t rest = m; rest % 10 == 0; rest /= 10)
            --significant;
        const int exponent = digits - 1 - k;
        const int absExponent = exponent < 0 ? -exponent : exponent;
        const int scientific =
            sign + significant + (significant > 1 ? 1 : 0) + 2 + (absExponent >= 100 ? 3 : 2);
        if (scientific < positional) return 0;
        char* at = out + positional;
        for (int i = 0; i < k; ++i) {
            *--at = static_cast<char>('0' + m % 10);
            m /= 10;
        }
        if (k > 0) *--at = '.';
        do {
            *--at = static_cast<char>('0' + m % 10);
            m /= 10;
        } while (m != 0);
        if (sign != 0) *--at = '-';
        return positional;
    }
    return 0;
}

}  // namespace

int formatReal(double value, char* out) noexcept {
    // The shortest text that reads back as the value, positional unless the exponent form is
    // shorter (24 bytes are enough for any double).
    const int few = formatFewDigits(value, out);
    if (few != 0) return few;
    const auto result = std::to_chars(out, out + 32, value);
    return static_cast<int>(result.ptr - out);
}

int formatInt64(int64_t value, char* out) noexcept {
    const auto result = std::to_chars(out, out + 21, value);
    return static_cast<int>(result.ptr - out);
}

}  // namespace mvb::text
