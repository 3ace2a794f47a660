#pragma once

#include <cstdint>
#include <cstring>
#include <string_view>

#include "mvb/charset.h"
#include "mvb/datavar.h"

/// Scratch space for the text of a value that is not a string; 64 bytes hold every such text.
struct ValueTextBuffer {
    char bytes[64];
};

/// The text a destination writes for `value`, without allocating: a string's own bytes, nothing
/// for null (or for no value at all), and for the other kinds their text formatted into
/// `buffer`. The view stays valid while the value and the buffer are unchanged.
inline std::string_view destValueText(const MvbDatavar* value, ValueTextBuffer& buffer) noexcept {
    if (value == nullptr || value->isNull()) return {};
    if (value->getType() == mvbTypeString) return value->stringView();
    const int length = value->formatText(buffer.bytes, static_cast<int>(sizeof buffer.bytes));
    constexpr int kMost = static_cast<int>(sizeof buffer.bytes) - 1;
    return std::string_view(buffer.bytes,
                            length <= 0 ? 0 : static_cast<size_t>(length < kMost ? length : kMost));
}

/// Non-zero when one of the eight bytes of `word` lies outside ASCII.
inline uint64_t wordHasHighByte(uint64_t word) noexcept {
    return word & 0x8080808080808080ull;
}

/// True when `text` is valid UTF-8. ASCII, the common case, is told eight bytes at a time; the
/// rest goes to the full check.
inline bool isUtf8Text(std::string_view text) noexcept {
    uint64_t high = 0;
    size_t i = 0;
    for (; i + 8 <= text.size(); i += 8) {
        uint64_t word;
        std::memcpy(&word, text.data() + i, sizeof word);
        high |= wordHasHighByte(word);
    }
    for (; i < text.size(); ++i)
        high |= static_cast<unsigned char>(text[i]) & 0x80u;
    return high == 0 || mvbIsValidUtf8(text.data(), static_cast<long>(text.size()));
}
