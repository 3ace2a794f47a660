#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

// Byte scans a word (eight bytes) at a time, for the short texts of the row path: a field, its
// padding. Inline, since a call costs more than most of the texts they scan; bench/byte_scan
// measures each against the plain loop and the standard call.

static_assert(std::endian::native == std::endian::little, "the scans read words little-endian");

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

/// One word of the last bytes of a text of `size` bytes (at least one), for the part of a scan
/// that fills no whole word: the text's last eight bytes (some of which a scan by whole words
/// looked at already), or for a shorter text its first and last four, or for one to three bytes
/// each byte in the places it may take. Every byte of the word is a byte of the text, so a test
/// for a byte finds it in the word exactly when the text (or that part of it) holds it.
inline uint64_t lastBytesWord(const char* text, size_t size) noexcept {
    if (size >= 8) return load(text + size - 8);
    if (size >= 4) {
        uint32_t head;
        uint32_t tail;
        std::memcpy(&head, text, sizeof head);
        std::memcpy(&tail, text + size - 4, sizeof tail);
        return head | (uint64_t{tail} << 32);
    }
    const auto first = static_cast<unsigned char>(text[0]);
    const auto middle = static_cast<unsigned char>(text[size / 2]);
    const auto last = static_cast<unsigned char>(text[size - 1]);
    uint64_t word = 0x0101010101010101ull * first;
    word = (word & 0x0000FFFFFFFFFFFFull) | (uint64_t{middle} << 48);
    return (word & 0x00FFFFFFFFFFFFFFull) | (uint64_t{last} << 56);
}

/// Non-zero when one of the eight bytes of `word` equals `byte`: such a byte is a zero byte of
/// word ^ byte-in-every-place (whether any byte is zero is told exactly).
inline uint64_t wordHasByte(uint64_t word, char byte) noexcept {
    return zeroBytes(word ^ (kOnes * static_cast<unsigned char>(byte)));
}

/// True when `text` holds a CR or an LF, looked for a word at a time. (A search for the first
/// byte of a set would call the library once for every byte of every value.)
inline bool holdsLineBreak(std::string_view text) noexcept {
    const char* bytes = text.data();
    const size_t size = text.size();
    if (size == 0) return false;
    uint64_t found = 0;
    for (size_t i = 0; i + 8 <= size; i += 8) {
        const uint64_t word = load(bytes + i);
        found |= wordHasByte(word, '\n') | wordHasByte(word, '\r');
    }
    const uint64_t last = lastBytesWord(bytes, size);
    return (found | wordHasByte(last, '\n') | wordHasByte(last, '\r')) != 0;
}

}  // namespace mvb::scan

/// Byte length of `text` (`bytes` long) without its trailing blanks and tabs. Padding is mostly
/// blanks: sixteen bytes are looked at at a time (eight without SSE2) while more than fifteen
/// remain, and what is left is looked at as at most two words that may overlap, so that the
/// usual short field takes one or two steps whatever its length, and the last byte that is no
/// blank is found in the step's mask without a loop.
inline size_t mvbTrimmedBlankLength(const char* text, size_t bytes) noexcept {
    using namespace mvb::scan;
    // The high bit of each byte of `word` that is neither a blank nor a tab.
    const auto keptBytes = [](uint64_t word) noexcept {
        return nonZeroBytes(word ^ (kOnes * ' ')) & nonZeroBytes(word ^ (kOnes * '\t'));
    };
    // Bytes of a word up to and with its last kept byte (`kept` not zero).
    const auto keptPrefix = [](uint64_t kept) noexcept {
        return 8 - static_cast<size_t>(std::countl_zero(kept)) / 8;
    };
#if defined(__SSE2__)
    const __m128i blanks = _mm_set1_epi8(' ');
    const __m128i tabs = _mm_set1_epi8('\t');
    while (bytes >= 16) {
        const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + bytes - 16));
        const auto padding = static_cast<unsigned>(_mm_movemask_epi8(
            _mm_or_si128(_mm_cmpeq_epi8(chunk, blanks), _mm_cmpeq_epi8(chunk, tabs))));
        const unsigned kept = ~padding & 0xFFFFu;
        if (kept != 0) return bytes - 16 + static_cast<size_t>(std::bit_width(kept));
        bytes -= 16;
    }
#else
    while (bytes >= 16) {
        const uint64_t kept = keptBytes(load(text + bytes - 8));
        if (kept != 0) return bytes - 8 + keptPrefix(kept);
        bytes -= 8;
    }
#endif
    if (bytes >= 8) {
        const uint64_t kept = keptBytes(load(text + bytes - 8));
        if (kept != 0) return bytes - 8 + keptPrefix(kept);
        // The first word reaches at most to where the last one starts, and what it shares
        // with that one is padding.
        const uint64_t first = keptBytes(load(text));
        return first != 0 ? keptPrefix(first) : 0;
    }
    if (bytes >= 4) {
        // The first four bytes in the low half, the last four in the high one: they overlap,
        // and where they do the low half's copy is padding when the high half's is.
        uint32_t head;
        uint32_t tail;
        std::memcpy(&head, text, sizeof head);
        std::memcpy(&tail, text + bytes - 4, sizeof tail);
        const uint64_t kept = keptBytes(head | (uint64_t{tail} << 32));
        if (kept == 0) return 0;
        const size_t end = keptPrefix(kept);
        return end > 4 ? bytes - 8 + end : end;
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

// Byte masks over blocks of 64 bytes, for the line splitter and the record reader: bit i of a
// mask tells whether byte i of the block is the byte looked for, so the bytes that matter in a
// line are found by counting zero bits rather than by a test per byte. With SSE2 (always there
// on x86-64) a chunk of 16 bytes is one compare; elsewhere two word-at-a-time compares do it.

namespace mvb::scan {

inline constexpr size_t kBlockBytes = 64;

/// The portable way: a word at a time, a matching byte's high bit gathered into one bit.
inline uint32_t chunkMaskWords(const char* chunk, char c) noexcept {
    const uint64_t pattern = kOnes * static_cast<unsigned char>(c);
    uint32_t mask = 0;
    for (size_t i = 0; i < 16; i += 8) {
        const uint64_t equal = ~nonZeroBytes(load(chunk + i) ^ pattern) & kHighs;
        // The high bits of bytes 0..7 (bits 7, 15, .., 63) multiplied into bits 56..63.
        mask |= static_cast<uint32_t>((equal * 0x0002040810204081ull) >> 56) << i;
    }
    return mask;
}

#if defined(__SSE2__)
inline uint32_t chunkMaskVector(const char* chunk, char c) noexcept {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(chunk));
    return static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, _mm_set1_epi8(c))));
}
#endif

/// Where `c` is in the 16 bytes at `chunk`, one bit per byte (the lowest bit is the first byte),
/// the way the build picks.
inline uint32_t chunkMask(const char* chunk, char c) noexcept {
#if defined(__SSE2__)
    return chunkMaskVector(chunk, c);
#else
    return chunkMaskWords(chunk, c);
#endif
}

/// chunkMask over a block of 64 bytes.
template <uint32_t (*Chunk)(const char*, char) = chunkMask>
inline uint64_t blockMask(const char* block, char c) noexcept {
    uint64_t mask = 0;
    for (size_t i = 0; i < kBlockBytes; i += 16)
        mask |= static_cast<uint64_t>(Chunk(block + i, c)) << i;
    return mask;
}

/// blockMask over the `count` bytes at `bytes`, which may end anywhere; no bit is set at or past
/// `count`. Whole chunks are read in place and a last part chunk as the 16 bytes that end with
/// the text; only a text shorter than a chunk is read from a copy.
template <uint32_t (*Chunk)(const char*, char) = chunkMask>
inline uint64_t blockMaskUpTo(const char* bytes, size_t count, char c) noexcept {
    if (count >= kBlockBytes) return blockMask<Chunk>(bytes, c);
    if (count < 16) {
        char copy[16] = {};
        std::memcpy(copy, bytes, count);
        return Chunk(copy, c) & ((uint32_t{1} << count) - 1);
    }
    uint64_t mask = 0;
    size_t i = 0;
    for (; i + 16 <= count; i += 16)
        mask |= static_cast<uint64_t>(Chunk(bytes + i, c)) << i;
    if (i < count) {
        // The chunk that ends with the text, its bits before `i` dropped.
        const uint32_t last = Chunk(bytes + count - 16, c) >> (16 - (count - i));
        mask |= static_cast<uint64_t>(last) << i;
    }
    return mask;
}

/// The first `c` in [p, end), or end, for texts of a line's length: the first 128 bytes are
/// looked at 16 at a time inline (a call to the library's memchr costs more than a short line
/// does), the rest by memchr. A last part chunk is the 16 bytes that end with the text.
inline const char* findByte(const char* p, const char* end, char c) noexcept {
    const auto size = static_cast<size_t>(end - p);
    if (size < 16) {
        for (; p < end; ++p)
            if (*p == c) return p;
        return end;
    }
    size_t at = 0;
    // Two chunks a step: where a line ends varies from line to line, and a test that finds it
    // one step sooner or later is a branch guessed wrong; with steps of 32 bytes lines of
    // nearly the same length mostly end in the same step.
    for (; at + 32 <= size && at < 128; at += 32) {
        const uint32_t hits = chunkMask(p + at, c) | (chunkMask(p + at + 16, c) << 16);
        if (hits != 0) return p + at + static_cast<size_t>(std::countr_zero(hits));
    }
    for (; at + 16 <= size && at < 128; at += 16) {
        const uint32_t hits = chunkMask(p + at, c);
        if (hits != 0) return p + at + static_cast<size_t>(std::countr_zero(hits));
    }
    if (at >= size) return end;
    if (size - at < 16) {
        const uint32_t hits = chunkMask(end - 16, c) >> (16 - (size - at));
        return hits != 0 ? p + at + static_cast<size_t>(std::countr_zero(hits)) : end;
    }
    const void* found = std::memchr(p + at, static_cast<unsigned char>(c), size - at);
    return found != nullptr ? static_cast<const char*>(found) : end;
}

/// Copies the `count` bytes at `from` to `to` (not overlapping) and tells which of two bytes
/// the text holds: bit 0 is set when it holds `a`, bit 1 when it holds `b`. One pass over the
/// text does both, a chunk of 16 bytes at a time; the last part chunk is the 16 bytes that end
/// with the text (copied again, the same bytes), so nothing outside either text is touched.
inline unsigned copyFinding(char* to, const char* from, size_t count, char a, char b) noexcept {
    if (count < 16) {
        unsigned found = 0;
        for (size_t i = 0; i < count; ++i) {
            to[i] = from[i];
            found |= (from[i] == a ? 1u : 0u) | (from[i] == b ? 2u : 0u);
        }
        return found;
    }
#if defined(__SSE2__)
    const __m128i va = _mm_set1_epi8(a);
    const __m128i vb = _mm_set1_epi8(b);
    __m128i hitsA = _mm_setzero_si128();
    __m128i hitsB = _mm_setzero_si128();
    const auto take = [&](size_t at) noexcept {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + at));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(to + at), bytes);
        hitsA = _mm_or_si128(hitsA, _mm_cmpeq_epi8(bytes, va));
        hitsB = _mm_or_si128(hitsB, _mm_cmpeq_epi8(bytes, vb));
    };
    size_t at = 0;
    for (; at + 16 <= count; at += 16)
        take(at);
    if (at < count) take(count - 16);
    return (_mm_movemask_epi8(hitsA) != 0 ? 1u : 0u) | (_mm_movemask_epi8(hitsB) != 0 ? 2u : 0u);
#else
    std::memcpy(to, from, count);
    return (std::memchr(from, static_cast<unsigned char>(a), count) != nullptr ? 1u : 0u) |
           (std::memchr(from, static_cast<unsigned char>(b), count) != nullptr ? 2u : 0u);
#endif
}

/// blockMaskUpTo for bytes that follow `before` readable bytes of the same text: a last part
/// chunk shorter than 16 bytes is then read as the 16 bytes that end with the text, in place,
/// rather than from a copy (a copy just written and read back at once stalls the load).
template <uint32_t (*Chunk)(const char*, char) = chunkMask>
inline uint64_t blockMaskUpToAfter(const char* bytes, size_t count, char c,
                                   size_t before) noexcept {
    if (count < 16 && before + count >= 16) return Chunk(bytes + count - 16, c) >> (16 - count);
    return blockMaskUpTo<Chunk>(bytes, count, c);
}

/// The positions of one byte in a text, found a block at a time and handed out in order: each
/// block's mask is made once however many of its positions are asked for.
class ByteFinder {
  public:
    ByteFinder(const char* begin, const char* end, char c) noexcept
        : begin_(begin), size_(static_cast<size_t>(end - begin)), c_(c) {}

    /// The offset of the first `c` at or after offset `from`, or the text's size when there is
    /// none. Asked in rising order, each block is looked at once.
    [[gnu::always_inline]] size_t next(size_t from) noexcept {
        const size_t offset = from - base_;
        if (offset < kBlockBytes) [[likely]] {
            const uint64_t ahead = mask_ & (~uint64_t{0} << offset);
            if (ahead != 0) return base_ + static_cast<size_t>(std::countr_zero(ahead));
        }
        return nextInLaterBlocks(from);
    }

  private:
    /// next() where the block of `from` is not loaded yet or holds no `c` from `from` on.
    [[gnu::noinline]] size_t nextInLaterBlocks(size_t from) noexcept {
        for (;;) {
            if (from >= size_) return size_;
            const size_t base = from - from % kBlockBytes;
            if (!loaded_ || base != base_) {
                base_ = base;
                loaded_ = true;
                mask_ = blockMaskUpToAfter(begin_ + base, size_ - base, c_, base);
            }
            const uint64_t ahead = mask_ & (~uint64_t{0} << (from - base));
            if (ahead != 0) return base + static_cast<size_t>(std::countr_zero(ahead));
            from = base + kBlockBytes;
        }
    }

    const char* begin_;
    size_t size_;
    char c_;
    bool loaded_ = false;
    size_t base_ = 0;
    uint64_t mask_ = 0;
};

}  // namespace mvb::scan
