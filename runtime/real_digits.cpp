// Whether a real read from a text keeps the text's digits: a double holds about 17 significant
// decimal digits, and a text of more may read as a value whose digits differ. Below the
// smallest normal double (about 2.2e-308) it holds fewer, down to one at 5e-324.

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "mvb/datavar.h"
#include "utf8_internal.h"

namespace mvb::text {

namespace {

/// The significant digits of a decimal number's text, without leading or trailing zeros, and
/// the power of ten of its first one (0.0123 has "123" and -2). False for any other text.
struct SignificantDigits {
    char digits[48] = {};
    size_t count = 0;   ///< digits beyond the room are counted, not kept
    int64_t power = 0;  ///< the first digit stands for d × 10^power
};

bool significantDigits(std::string_view text, SignificantDigits* out) noexcept {
    text = utf8::trimBlanks(text);
    size_t i = 0;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) ++i;
    int64_t beforePoint = 0;  // digits before the point, from the first significant one
    int64_t zerosAfterPoint = 0;
    bool point = false;
    bool any = false;
    size_t trailingZeros = 0;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '.' && !point) {
            point = true;
            continue;
        }
        if (c < '0' || c > '9') break;
        any = true;
        if (out->count == 0 && c == '0') {
            if (point) ++zerosAfterPoint;
            continue;
        }
        if (!point) ++beforePoint;
        if (out->count < sizeof out->digits) out->digits[out->count] = c;
        ++out->count;
        trailingZeros = c == '0' ? trailingZeros + 1 : 0;
    }
    int64_t exponent = 0;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        const auto [end, ec] =
            std::from_chars(text.data() + i + 1 + (i + 1 < text.size() && text[i + 1] == '+'),
                            text.data() + text.size(), exponent);
        if (ec != std::errc()) return false;
        i = static_cast<size_t>(end - text.data());
    }
    if (!any || i != text.size()) return false;
    out->count -= trailingZeros;
    out->power = exponent + (out->count == 0    ? 0
                             : beforePoint != 0 ? beforePoint - 1
                                                : -zerosAfterPoint - 1);
    return true;
}

}  // namespace

bool realKeepsDigits(std::string_view text, double value) noexcept {
    constexpr size_t kAlwaysKept = 15;  // a decimal of 15 digits reads back as itself...
    SignificantDigits given;
    if (!significantDigits(text, &given)) return true;
    // ... where the double is normal: a subnormal one keeps fewer digits.
    if (given.count <= kAlwaysKept && std::fpclassify(value) != FP_SUBNORMAL) return true;
    if (given.count > sizeof given.digits) return false;  // more than any real's shortest form
    char shortest[48];
    const auto written =
        std::to_chars(shortest, shortest + sizeof shortest, value, std::chars_format::scientific);
    SignificantDigits kept;
    if (written.ec != std::errc() ||
        !significantDigits(std::string_view(shortest, static_cast<size_t>(written.ptr - shortest)),
                           &kept)) {
        return true;
    }
    return kept.count == given.count && kept.power == given.power &&
           std::memcmp(kept.digits, given.digits, given.count) == 0;
}

}  // namespace mvb::text
