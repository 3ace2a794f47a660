#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

// Byte scans a word (eight bytes) at a time, for the short texts of the row path: a field, its
// padding. Inline, since a call costs more than most of the texts they scan; bench/byte_scan
// measures each against the plain loop and the standard call.

static_assert(std::endian::native == std::endian::little, "the scans read words little-endian");

/// Bytes that must be readable past the NUL of a text given to mvbPaddedStringLength.
inline constexpr size_t kMvbScanPadding = 8;

namespace mvb::scan {

inline constexpr uint64_t kOnes = 0x0101010101010101ull;
inline constexpr uint64_t kHighs = 0x8080808080808080ull;
inline constexpr uint64_t kLows = 0x7F7F7F7F7F7F7F7Full;

inline uint64_t load(const char* at) noexcept {
    uint64_t word;
    std::memcpy(&word, at, sizeof word);
    return word;
}

/// The high bit of each byte of `word` that is zero. Bytes after the first zero byte may be
/// flagged wrongly (borrows), so only the lowest flag is exact.
inline uint64_t zeroBytes(uint64_t word) noexcept {
    return (word - kOnes) & ~word & kHighs;
}

/// The high bit of each byte of `word` that is not zero, exactly (no carries between bytes).
inline uint64_t nonZeroBytes(uint64_t word) noexcept {
    return (((word & kLows) + kLows) | word) & kHighs;
}

}  // namespace mvb::scan

/// Byte length of the NUL-terminated `text`, which must have kMvbScanPadding readable bytes
/// past its NUL (a buffer whose spare bytes were zeroed, so no load sees unwritten bytes).
/// Most fields are short: two words are looked at inline before strlen takes the rest.
inline size_t mvbPaddedStringLength(const char* text) noexcept {
    for (size_t at = 0; at < 16; at += 8) {
        const uint64_t zeros = mvb::scan::zeroBytes(mvb::scan::load(text + at));
        if (zeros != 0) return at + static_cast<size_t>(std::countr_zero(zeros)) / 8;
    }
    return 16 + std::strlen(text + 16);
}

/// Byte length of `text` (`bytes` long) without its trailing blanks and tabs. Padding is mostly
/// blanks: eight bytes are looked at at a time while eight remain, and the last byte that is no
/// blank is found in the word without a loop.
inline size_t mvbTrimmedBlankLength(const char* text, size_t bytes) noexcept {
    using namespace mvb::scan;
    constexpr uint64_t kBlanks = kOnes * ' ';
    constexpr uint64_t kTabs = kOnes * '\t';
    while (bytes >= 8) {
        const uint64_t word = load(text + bytes - 8);
        const uint64_t kept = nonZeroBytes(word ^ kBlanks) & nonZeroBytes(word ^ kTabs);
        if (kept != 0) return bytes - static_cast<size_t>(std::countl_zero(kept)) / 8;
        bytes -= 8;
    }
    while (bytes > 0 && (text[bytes - 1] == ' ' || text[bytes - 1] == '\t'))
        --bytes;
    return bytes;
}

/// The first `c` in [p, end), or end. Most fields are short: two words are looked at inline
/// before the library's memchr is called for the rest.
inline char* mvbFindByte(char* p, char* end, char c) noexcept {
    using namespace mvb::scan;
    const uint64_t pattern = kOnes * static_cast<unsigned char>(c);
    for (int i = 0; i < 2 && end - p >= 8; ++i) {
        const uint64_t hit = zeroBytes(load(p) ^ pattern);
        if (hit != 0) return p + (std::countr_zero(hit) >> 3);
        p += 8;
    }
    if (end - p < 8) {
        while (p < end && *p != c)
            ++p;
        return p;
    }
    void* found = std::memchr(p, static_cast<unsigned char>(c), static_cast<size_t>(end - p));
    return found != nullptr ? static_cast<char*>(found) : end;
}
