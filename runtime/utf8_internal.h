#pragma once

// UTF-8 helpers shared by the runtime's string, value, character-set and parsing code.
// Private to the runtime library.

#include <cstddef>
#include <string_view>

#include "mvb/export.h"

namespace mvb::utf8 {

/// True for a byte that continues a multi-byte sequence (10xxxxxx).
constexpr bool isContinuation(unsigned char byte) noexcept {
    return (byte & 0xC0u) == 0x80u;
}

/// Number of characters (bytes that do not continue a sequence) in `text`.
inline size_t countChars(std::string_view text) noexcept {
    size_t count = 0;
    for (unsigned char byte : text) {
        count += !isContinuation(byte);
    }
    return count;
}

/// Byte offset at which character `chars` begins (the size when the text has fewer).
/// A character is a starting byte with the continuation bytes that follow it.
inline size_t charsToBytes(std::string_view text, size_t chars) noexcept {
    size_t pos = 0;
    const size_t size = text.size();
    while (pos < size && chars > 0) {
        ++pos;
        while (pos < size && isContinuation(static_cast<unsigned char>(text[pos]))) {
            ++pos;
        }
        --chars;
    }
    return pos;
}

/// Largest byte count not above `limit` that does not end inside a character.
inline size_t cutAtBoundary(std::string_view text, size_t limit) noexcept {
    if (limit >= text.size()) {
        return text.size();
    }
    while (limit > 0 && isContinuation(static_cast<unsigned char>(text[limit]))) {
        --limit;
    }
    return limit;
}

/// Writes the UTF-8 bytes of a Unicode scalar value into `out` (room for 4) and returns the
/// count; 0 for negative codes, surrogates and codes past U+10FFFF.
inline int encode(int code, char* out) noexcept {
    const auto c = static_cast<unsigned>(code);
    if (code < 0 || c > 0x10FFFFu || (c >= 0xD800u && c <= 0xDFFFu)) {
        return 0;
    }
    if (c < 0x80u) {
        out[0] = static_cast<char>(c);
        return 1;
    }
    if (c < 0x800u) {
        out[0] = static_cast<char>(0xC0u | (c >> 6));
        out[1] = static_cast<char>(0x80u | (c & 0x3Fu));
        return 2;
    }
    if (c < 0x10000u) {
        out[0] = static_cast<char>(0xE0u | (c >> 12));
        out[1] = static_cast<char>(0x80u | ((c >> 6) & 0x3Fu));
        out[2] = static_cast<char>(0x80u | (c & 0x3Fu));
        return 3;
    }
    out[0] = static_cast<char>(0xF0u | (c >> 18));
    out[1] = static_cast<char>(0x80u | ((c >> 12) & 0x3Fu));
    out[2] = static_cast<char>(0x80u | ((c >> 6) & 0x3Fu));
    out[3] = static_cast<char>(0x80u | (c & 0x3Fu));
    return 4;
}

/// Length of the valid UTF-8 sequence at `p` (at most `avail` bytes readable), with its code
/// point in `*code`; 0 when the bytes there do not form one (overlong, surrogate, past
/// U+10FFFF, truncated or a stray continuation byte).
inline int decode(const unsigned char* p, size_t avail, int* code) noexcept {
    const unsigned b0 = p[0];
    if (b0 < 0x80u) {
        *code = static_cast<int>(b0);
        return 1;
    }
    if (b0 < 0xC2u) {
        return 0;
    }
    if (b0 < 0xE0u) {
        if (avail < 2 || !isContinuation(p[1])) {
            return 0;
        }
        *code = static_cast<int>(((b0 & 0x1Fu) << 6) | (p[1] & 0x3Fu));
        return 2;
    }
    if (b0 < 0xF0u) {
        if (avail < 3 || !isContinuation(p[1]) || !isContinuation(p[2])) {
            return 0;
        }
        const unsigned c = ((b0 & 0x0Fu) << 12) | ((p[1] & 0x3Fu) << 6) | (p[2] & 0x3Fu);
        if (c < 0x800u || (c >= 0xD800u && c <= 0xDFFFu)) {
            return 0;
        }
        *code = static_cast<int>(c);
        return 3;
    }
    if (b0 < 0xF5u) {
        if (avail < 4 || !isContinuation(p[1]) || !isContinuation(p[2]) || !isContinuation(p[3])) {
            return 0;
        }
        const unsigned c =
            ((b0 & 0x07u) << 18) | ((p[1] & 0x3Fu) << 12) | ((p[2] & 0x3Fu) << 6) | (p[3] & 0x3Fu);
        if (c < 0x10000u || c > 0x10FFFFu) {
            return 0;
        }
        *code = static_cast<int>(c);
        return 4;
    }
    return 0;
}

/// True for the blanks that trimming removes: space and tab.
constexpr bool isBlank(char c) noexcept {
    return c == ' ' || c == '\t';
}

/// `text` without leading and trailing blanks.
inline std::string_view trimBlanks(std::string_view text) noexcept {
    size_t begin = 0;
    size_t end = text.size();
    while (begin < end && isBlank(text[begin])) {
        ++begin;
    }
    while (end > begin && isBlank(text[end - 1])) {
        --end;
    }
    return text.substr(begin, end - begin);
}

/// Length of the longest prefix of `bytes` made of whole, valid UTF-8 characters (no overlong
/// forms, surrogates or values past U+10FFFF), checked in blocks of the widest size that
/// validPrefixInBlocks() can use on this processor.
size_t validPrefix(const char* bytes, size_t size) noexcept;
/// validPrefix() with blocks of at most `blockBytes` bytes: 32 or 16 where the processor has
/// the instructions for them, or 0 for a character at a time (ASCII runs still 16 bytes at a
/// time). Every width gives the same answer; tests hold them to it.
MVB_API size_t validPrefixInBlocks(const char* bytes, size_t size, int blockBytes) noexcept;

}  // namespace mvb::utf8
