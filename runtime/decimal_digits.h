#pragma once

// Decimal digits of integers eight at a time, for writing numbers and dates as text. Private to
// the runtime library.

#include <bit>
#include <cstdint>
#include <cstring>

namespace mvb::text {

/// The eight decimal digits of `n` (below 10^8, with leading zeros) as ASCII, the first digit in
/// the lowest byte, found without a division per digit: `n` is split into two halves of four
/// digits, each half into two pairs and each pair into two digits, all lanes at once, every
/// division by 10^4, 100 or 10 done as a multiplication that is exact over its lane's range.
inline uint64_t eightDigits(uint32_t n) noexcept {
    const uint64_t halves = (n / 10000u) | (uint64_t{n % 10000u} << 32);
    const uint64_t hundreds = ((halves * 10486u) >> 20) & 0x0000007F0000007Full;
    const uint64_t pairs = hundreds | ((halves - hundreds * 100u) << 16);
    const uint64_t tens = ((pairs * 103u) >> 10) & 0x000F000F000F000Full;
    const uint64_t digits = tens | ((pairs - tens * 10u) << 8);
    return digits + 0x3030303030303030ull;
}

/// The four decimal digits of `n` (below 10^4, with leading zeros) as eightDigits() finds
/// eight: two pairs, each split into two digits.
inline uint32_t fourDigits(uint32_t n) noexcept {
    const uint32_t pairs = (n / 100u) | ((n % 100u) << 16);
    const uint32_t tens = ((pairs * 103u) >> 10) & 0x000F000Fu;
    return (tens | ((pairs - tens * 10u) << 8)) + 0x30303030u;
}

/// How many of the eight digits of `word` (as eightDigits() gives them) lead with '0'; eight
/// when all do.
inline int leadingZeroDigits(uint64_t word) noexcept {
    const uint64_t digits = word ^ 0x3030303030303030ull;
    return digits == 0 ? 8 : std::countr_zero(digits) / 8;
}

/// How many of the eight digits of `word` (as eightDigits() gives them) end it as '0'; eight
/// when all do.
inline int trailingZeroDigits(uint64_t word) noexcept {
    // The last digit is the highest byte; a digit that is not '0' has a bit set.
    return std::countl_zero(word ^ 0x3030303030303030ull) / 8;
}

/// Stores the eight bytes of `word`, the lowest first.
inline void putWord(char* at, uint64_t word) noexcept {
    std::memcpy(at, &word, sizeof word);
}

}  // namespace mvb::text
