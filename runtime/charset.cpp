#include "mvb/charset.h"

#include <cstdint>
#include <cstring>

#include <emmintrin.h>
#include <immintrin.h>
#include <tmmintrin.h>

#include "utf8_internal.h"

int np_uchar_toint(const char* text, int* byteLength) noexcept {
    int length = 0;
    int code = 0;
    if (text != nullptr && *text != '\0') {
        const auto* p = reinterpret_cast<const unsigned char*>(text);
        // The text is NUL-terminated and a NUL never continues a sequence, so at most the
        // bytes up to the terminator are read.
        length = mvb::utf8::decode(p, 4, &code);
        if (length == 0) {
            code = p[0];
            length = 1;
        }
    }
    if (byteLength != nullptr) {
        *byteLength = length;
    }
    return code;
}

int np_uchar_intcopy(int code, char* buffer, int size) noexcept {
    char bytes[4];
    const int n = mvb::utf8::encode(code, bytes);
    if (n == 0 || buffer == nullptr || n > size) {
        return 0;
    }
    std::memcpy(buffer, bytes, static_cast<size_t>(n));
    return n;
}

bool mvbIsValidUtf8(const char* bytes, long byteCount) noexcept {
    if (byteCount <= 0) {
        return byteCount == 0 || bytes != nullptr;
    }
    const auto size = static_cast<size_t>(byteCount);
    return mvb::utf8::validPrefix(bytes, size) == size;
}

namespace mvb::utf8 {

namespace {

/// validPrefix a character at a time, with ASCII runs checked 16 bytes at a time.
size_t validPrefixByChars(const unsigned char* p, size_t size) noexcept {
    size_t pos = 0;
    while (pos < size) {
        if (p[pos] < 0x80u) {
            while (pos + 16 <= size) {
                const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + pos));
                const auto high = static_cast<unsigned>(_mm_movemask_epi8(chunk));
                if (high != 0) {
                    pos += static_cast<size_t>(__builtin_ctz(high));
                    break;
                }
                pos += 16;
            }
            while (pos < size && p[pos] < 0x80u) {
                ++pos;
            }
            continue;
        }
        int code = 0;
        const int length = decode(p + pos, size - pos, &code);
        if (length == 0) {
            return pos;
        }
        pos += static_cast<size_t>(length);
    }
    return size;
}

#if defined(__x86_64__) || defined(__i386__)

// Text with a few accented letters in every line breaks the ASCII runs every few dozen bytes,
// and each break costs a mispredicted branch. With byte shuffles, 16 bytes at a time are
// checked whole: three table lookups classify each byte by the high and low half of the byte
// before it and the high half of its own, and one AND of the three leaves a bit for each way a
// pair of bytes can be wrong (a lead byte without its continuation, a stray continuation, an
// overlong form, a surrogate, a code past U+10FFFF); the third and fourth bytes of a sequence
// are told by the bytes two and three before them.

// What a pair of bytes (the one before, this one) can get wrong, one bit each.
constexpr uint8_t kTooShort = 1u << 0;      // 11______ 0_______ or 11______ 11______
constexpr uint8_t kTooLong = 1u << 1;       // 0_______ 10______
constexpr uint8_t kOverlong3 = 1u << 2;     // 11100000 100_____
constexpr uint8_t kTooLarge = 1u << 3;      // 11110100 1001____ and above
constexpr uint8_t kSurrogate = 1u << 4;     // 11101101 101_____
constexpr uint8_t kOverlong2 = 1u << 5;     // 1100000_ 10______
constexpr uint8_t kTooLarge1000 = 1u << 6;  // 11110101 1000____ and above
constexpr uint8_t kOverlong4 = 1u << 6;     // 11110000 1000____
constexpr uint8_t kTwoConts = 1u << 7;      // 10______ 10______ (fine in a longer sequence)
constexpr uint8_t kCarry = kTooShort | kTooLong | kTwoConts;

// The three lookups of a block check, each by a nibble: the error bits that the high nibble of
// a byte's predecessor allows, those its low nibble allows, and those the byte's own high
// nibble allows. A pair is wrong where all three share a bit.
constexpr uint8_t kLarge = kCarry | kTooLarge | kTooLarge1000;
constexpr uint8_t kCont = kTooLong | kOverlong2 | kTwoConts;
alignas(16) constexpr uint8_t kByte1High[16] = {kTooLong,
                                                kTooLong,
                                                kTooLong,
                                                kTooLong,
                                                kTooLong,
                                                kTooLong,
                                                kTooLong,
                                                kTooLong,
                                                kTwoConts,
                                                kTwoConts,
                                                kTwoConts,
                                                kTwoConts,
                                                kTooShort | kOverlong2,
                                                kTooShort,
                                                kTooShort | kOverlong3 | kSurrogate,
                                                kTooShort | kTooLarge | kTooLarge1000 | kOverlong4};
alignas(16) constexpr uint8_t kByte1Low[16] = {kCarry | kOverlong3 | kOverlong2 | kOverlong4,
                                               kCarry | kOverlong2,
                                               kCarry,
                                               kCarry,
                                               kCarry | kTooLarge,
                                               kLarge,
                                               kLarge,
                                               kLarge,
                                               kLarge,
                                               kLarge,
                                               kLarge,
                                               kLarge,
                                               kLarge,
                                               kLarge | kSurrogate,
                                               kLarge,
                                               kLarge};
alignas(16) constexpr uint8_t kByte2High[16] = {kTooShort,
                                                kTooShort,
                                                kTooShort,
                                                kTooShort,
                                                kTooShort,
                                                kTooShort,
                                                kTooShort,
                                                kTooShort,
                                                kCont | kOverlong3 | kTooLarge1000 | kOverlong4,
                                                kCont | kOverlong3 | kTooLarge,
                                                kCont | kSurrogate | kTooLarge,
                                                kCont | kSurrogate | kTooLarge,
                                                kTooShort,
                                                kTooShort,
                                                kTooShort,
                                                kTooShort};

[[gnu::target("ssse3")]] inline __m128i table(const uint8_t (&bytes)[16]) noexcept {
    return _mm_load_si128(reinterpret_cast<const __m128i*>(bytes));
}

/// The errors of the 16 bytes `input` after the 16 bytes `previous`: zero when every pair and
/// every sequence that ends in `input` is sound (a sequence may still go on past it).
[[gnu::target("ssse3")]] inline __m128i blockErrors(__m128i input, __m128i previous) noexcept {
    const __m128i lowNibble = _mm_set1_epi8(0x0F);
    const __m128i prev1 = _mm_alignr_epi8(input, previous, 15);
    const __m128i byte1High =
        _mm_shuffle_epi8(table(kByte1High), _mm_and_si128(_mm_srli_epi16(prev1, 4), lowNibble));
    const __m128i byte1Low = _mm_shuffle_epi8(table(kByte1Low), _mm_and_si128(prev1, lowNibble));
    const __m128i byte2High =
        _mm_shuffle_epi8(table(kByte2High), _mm_and_si128(_mm_srli_epi16(input, 4), lowNibble));
    const __m128i special = _mm_and_si128(_mm_and_si128(byte1High, byte1Low), byte2High);
    // A byte two after a three- or four-byte lead, or three after a four-byte lead, must be a
    // continuation: exactly where two continuations in a row are no error.
    const __m128i prev2 = _mm_alignr_epi8(input, previous, 14);
    const __m128i prev3 = _mm_alignr_epi8(input, previous, 13);
    const __m128i third = _mm_subs_epu8(prev2, _mm_set1_epi8(static_cast<char>(0xE0 - 0x80)));
    const __m128i fourth = _mm_subs_epu8(prev3, _mm_set1_epi8(static_cast<char>(0xF0 - 0x80)));
    const __m128i must23 =
        _mm_and_si128(_mm_or_si128(third, fourth), _mm_set1_epi8(static_cast<char>(0x80)));
    return _mm_xor_si128(must23, special);
}

/// Where the checking goes on after blocks found every character before `pos` whole and valid
/// but one that a lead byte in the last three bytes starts: at that lead byte, or at `pos`.
size_t lastCharacterStart(const unsigned char* p, size_t pos) noexcept {
    for (size_t back = 1; back <= 3 && back <= pos; ++back) {
        const unsigned char byte = p[pos - back];
        if (!isContinuation(byte)) {
            return byte >= 0xC0u ? pos - back : pos;
        }
    }
    return pos;
}

/// Bytes checked block by block, after a try for 64 bytes of ASCII failed, before the next
/// try: text with a letter beyond ASCII in most lines then seldom tries, and text that is
/// ASCII for long stretches loses little.
constexpr int kUntriedBytes = 512;

/// validPrefix over whole blocks of 16 bytes while they are sound; the rest (the last part
/// block, or the block with an error, from the start of the character that crosses into it)
/// is left to the character loop, which finds exactly where the valid prefix ends.
[[gnu::target("ssse3")]] size_t validPrefixByBlocks(const unsigned char* p, size_t size) noexcept {
    size_t pos = 0;
    __m128i previous = _mm_setzero_si128();
    // A lead byte in the last three bytes of `previous` that wants more bytes than are left
    // there: ASCII after it is an error.
    const __m128i lastLeads =
        _mm_setr_epi8(-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, static_cast<char>(0xEF),
                      static_cast<char>(0xDF), static_cast<char>(0xBF));
    bool sound = true;
    // Groups of 64 bytes to check block by block before trying a group for ASCII again: in text
    // with a letter beyond ASCII every few dozen bytes the try fails as often as not, and each
    // failure is a mispredicted branch (see kUntriedBytes).
    int untried = 0;
    while (sound && pos + 16 <= size) {
        // Most text is ASCII for long stretches: 64 bytes without a high bit after a whole
        // character need no closer look.
        if (untried > 0) {
            --untried;
        } else if (pos + 64 <= size) {
            const auto* at = reinterpret_cast<const __m128i*>(p + pos);
            const __m128i last = _mm_loadu_si128(at + 3);
            const __m128i any =
                _mm_or_si128(_mm_or_si128(_mm_loadu_si128(at), _mm_loadu_si128(at + 1)),
                             _mm_or_si128(_mm_loadu_si128(at + 2), last));
            const __m128i unfinished = _mm_subs_epu8(previous, lastLeads);
            if (_mm_movemask_epi8(any) == 0 &&
                _mm_movemask_epi8(_mm_cmpeq_epi8(unfinished, _mm_setzero_si128())) == 0xFFFF) {
                previous = last;
                pos += 64;
                continue;
            }
            untried = kUntriedBytes / 64;
        }
        // Else the same 64 bytes (or what is left) block by block.
        for (int block = 0; block < 4 && pos + 16 <= size; ++block) {
            const __m128i input = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + pos));
            const __m128i errors = blockErrors(input, previous);
            if (_mm_movemask_epi8(_mm_cmpeq_epi8(errors, _mm_setzero_si128())) != 0xFFFF) {
                sound = false;
                break;
            }
            previous = input;
            pos += 16;
        }
    }
    const size_t start = lastCharacterStart(p, pos);
    return start + validPrefixByChars(p + start, size - start);
}

/// blockErrors() over 32 bytes: the same lookups in both 16-byte lanes, each lane's bytes
/// before it taken from the lane before (the low lane's from the high lane of `previous`).
[[gnu::target("avx2")]] inline __m256i blockErrors32(__m256i input, __m256i previous) noexcept {
    const __m256i lowNibble = _mm256_set1_epi8(0x0F);
    const __m256i carried = _mm256_permute2x128_si256(previous, input, 0x21);
    const __m256i prev1 = _mm256_alignr_epi8(input, carried, 15);
    const __m256i byte1High =
        _mm256_shuffle_epi8(_mm256_broadcastsi128_si256(table(kByte1High)),
                            _mm256_and_si256(_mm256_srli_epi16(prev1, 4), lowNibble));
    const __m256i byte1Low = _mm256_shuffle_epi8(_mm256_broadcastsi128_si256(table(kByte1Low)),
                                                 _mm256_and_si256(prev1, lowNibble));
    const __m256i byte2High =
        _mm256_shuffle_epi8(_mm256_broadcastsi128_si256(table(kByte2High)),
                            _mm256_and_si256(_mm256_srli_epi16(input, 4), lowNibble));
    const __m256i special = _mm256_and_si256(_mm256_and_si256(byte1High, byte1Low), byte2High);
    const __m256i prev2 = _mm256_alignr_epi8(input, carried, 14);
    const __m256i prev3 = _mm256_alignr_epi8(input, carried, 13);
    const __m256i third = _mm256_subs_epu8(prev2, _mm256_set1_epi8(static_cast<char>(0xE0 - 0x80)));
    const __m256i fourth =
        _mm256_subs_epu8(prev3, _mm256_set1_epi8(static_cast<char>(0xF0 - 0x80)));
    const __m256i must23 =
        _mm256_and_si256(_mm256_or_si256(third, fourth), _mm256_set1_epi8(static_cast<char>(0x80)));
    return _mm256_xor_si256(must23, special);
}

/// validPrefixByBlocks() 32 bytes at a time: whole blocks while they are sound, then from the
/// start of the last character on as that function goes on (the last part block, or the block
/// with an error).
[[gnu::target("avx2")]] size_t validPrefixByBlocks32(const unsigned char* p, size_t size) noexcept {
    size_t pos = 0;
    __m256i previous = _mm256_setzero_si256();
    const __m256i lastLeads =
        _mm256_setr_epi8(-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1,
                         -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, static_cast<char>(0xEF),
                         static_cast<char>(0xDF), static_cast<char>(0xBF));
    int untried = 0;  // as in validPrefixByBlocks, but blocks of 32 bytes not tried for ASCII
    while (pos + 32 <= size) {
        if (untried > 0) {
            --untried;
        } else if (pos + 64 <= size) {
            const auto* at = reinterpret_cast<const __m256i*>(p + pos);
            const __m256i last = _mm256_loadu_si256(at + 1);
            const __m256i any = _mm256_or_si256(_mm256_loadu_si256(at), last);
            const __m256i unfinished = _mm256_subs_epu8(previous, lastLeads);
            if (_mm256_movemask_epi8(any) == 0 && _mm256_testz_si256(unfinished, unfinished)) {
                previous = last;
                pos += 64;
                continue;
            }
            untried = kUntriedBytes / 32;
        }
        const __m256i input = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + pos));
        const __m256i errors = blockErrors32(input, previous);
        if (!_mm256_testz_si256(errors, errors)) {
            break;
        }
        previous = input;
        pos += 32;
    }
    const size_t start = lastCharacterStart(p, pos);
    const size_t rest = size - start;
    return start + (rest >= 64 ? validPrefixByBlocks(p + start, rest)
                               : validPrefixByChars(p + start, rest));
}

#endif

}  // namespace

size_t validPrefixInBlocks(const char* bytes, size_t size, int blockBytes) noexcept {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes);
#if defined(__x86_64__) || defined(__i386__)
    if (size >= 64 && blockBytes >= 32 && __builtin_cpu_supports("avx2")) {
        return validPrefixByBlocks32(p, size);
    }
    if (size >= 64 && blockBytes >= 16 && __builtin_cpu_supports("ssse3")) {
        return validPrefixByBlocks(p, size);
    }
#else
    (void)blockBytes;
#endif
    return validPrefixByChars(p, size);
}

size_t validPrefix(const char* bytes, size_t size) noexcept {
    return validPrefixInBlocks(bytes, size, 32);
}

}  // namespace mvb::utf8
