#include <charconv>
#include <cstdint>

#include "value_text.h"

namespace mvb::text {

int formatReal(double value, char* out) noexcept {
    // The shortest text that reads back as the value, positional unless the exponent form is
    // shorter (24 bytes are enough for any double).
    const auto result = std::to_chars(out, out + 32, value);
    return static_cast<int>(result.ptr - out);
}

int formatInt64(int64_t value, char* out) noexcept {
    const auto result = std::to_chars(out, out + 21, value);
    return static_cast<int>(result.ptr - out);
}

}  // namespace mvb::text
