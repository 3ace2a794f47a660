#pragma once

#include <cstdint>
#include <cstring>
#include <string_view>

#include "dest_line_buffer.h"
#include "mvb/charset.h"
#include "mvb/datavar.h"

/// Scratch space for the text of a value that is not a string; 64 bytes hold every such text.
struct ValueTextBuffer {
    char bytes[MvbDatavar::kScalarTextRoom];
};

/// The text a destination writes for `value`, without allocating: a string's own bytes, nothing
/// for null (or for no value at all), and for the other kinds their text formatted into
/// `buffer`. The view stays valid while the value and the buffer are unchanged.
inline std::string_view destValueText(const MvbDatavar* value, ValueTextBuffer& buffer) noexcept {
    if (value == nullptr || value->isNull()) return {};
    if (value->getType() == mvbTypeString) return value->stringView();
    return std::string_view(buffer.bytes, static_cast<size_t>(value->formatScalar(buffer.bytes)));
}

/// Non-zero when one of the eight bytes of `word` lies outside ASCII.
inline uint64_t wordHasHighByte(uint64_t word) noexcept {
    return word & mvb::scan::kHighs;
}

/// True when `text` is valid UTF-8. ASCII, the common case, is told a word at a time: whole
/// words, then one word (or two half words for a short text) that ends with the text and may
/// look at some bytes again. The rest goes to the full check.
inline bool isUtf8Text(std::string_view text) noexcept {
    const char* bytes = text.data();
    const size_t size = text.size();
    uint64_t high = 0;
    for (size_t i = 0; i + 8 <= size; i += 8)
        high |= mvb::scan::load(bytes + i);
    if (size != 0) high |= mvb::scan::lastBytesWord(bytes, size);
    return wordHasHighByte(high) == 0 || mvbIsValidUtf8(bytes, static_cast<long>(size));
}
