// UTF-16 (either byte order) to and from UTF-8.

#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "mvb/byte_scan.h"
#include "txtfile_codec.h"
#include "txtfile_direct_codec.h"
#include "utf8_internal.h"

namespace mvb::txt {
namespace {

/// The bytes of four UTF-16 code units below 0x80 in the given byte order, as a mask of the
/// bits that must be zero in the eight bytes read as one word.
template <bool kBigEndian>
uint64_t asciiUnitsMask() noexcept {
    unsigned char bytes[8];
    for (int k = 0; k < 8; k += 2) {
        bytes[k + (kBigEndian ? 0 : 1)] = 0xFF;  // the high byte
        bytes[k + (kBigEndian ? 1 : 0)] = 0x80;  // the low byte's top bit
    }
    uint64_t mask;
    std::memcpy(&mask, bytes, sizeof mask);
    return mask;
}

template <bool kBigEndian>
class Utf16Decoder final : public DirectCodec {
  public:
    ConvertResult convertInto(const char* input, size_t size, char* out, size_t room,
                              size_t* written) const noexcept override {
        const auto* in = reinterpret_cast<const unsigned char*>(input);
        const uint64_t asciiMask = asciiUnitsMask<kBigEndian>();
        constexpr size_t kLow = kBigEndian ? 1 : 0;
        size_t at = 0;
        size_t used = 0;
        bool full = false;
        ConvertResult result;
        while (size - at >= 2) {
            // Runs of ASCII: the units' low bytes are the text.
#if defined(__SSE2__)
            while (size - at >= 16 && room - used >= 8) {
                __m128i units = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + at));
                if (kBigEndian) {
                    units = _mm_or_si128(_mm_srli_epi16(units, 8), _mm_slli_epi16(units, 8));
                }
                const __m128i high = _mm_and_si128(units, _mm_set1_epi16(~0x7F));
                if (_mm_movemask_epi8(_mm_cmpeq_epi16(high, _mm_setzero_si128())) != 0xFFFF) {
                    break;
                }
                _mm_storel_epi64(reinterpret_cast<__m128i*>(out + used),
                                 _mm_packus_epi16(units, units));
                at += 16;
                used += 8;
            }
#endif
            while (size - at >= 8 && room - used >= 4 &&
                   (mvb::scan::load(input + at) & asciiMask) == 0) {
                for (size_t k = 0; k < 4; ++k) {
                    out[used + k] = static_cast<char>(in[at + 2 * k + kLow]);
                }
                at += 8;
                used += 4;
            }
            if (size - at < 2) {
                break;
            }
            uint32_t code = unitAt(in + at);
            size_t unitBytes = 2;
            if ((code & 0xF800u) == 0xD800u) {
                // A surrogate: a high one and the low one after it make one code point.
                if (code >= 0xDC00u) {
                    result.status = ConvertResult::Invalid;
                    break;
                }
                if (size - at < 4) {
                    result.status = ConvertResult::Incomplete;
                    break;
                }
                const uint32_t low = unitAt(in + at + 2);
                if ((low & 0xFC00u) != 0xDC00u) {
                    result.status = ConvertResult::Invalid;
                    break;
                }
                code = 0x10000u + ((code - 0xD800u) << 10) + (low - 0xDC00u);
                unitBytes = 4;
            }
            char bytes[4];
            const auto length = static_cast<size_t>(utf8::encode(static_cast<int>(code), bytes));
            if (room - used < length) {
                full = true;
                break;
            }
            std::memcpy(out + used, bytes, length);
            used += length;
            at += unitBytes;
        }
        if (result.status == ConvertResult::Done && !full && size - at == 1) {
            result.status = ConvertResult::Incomplete;  // half a unit at the end
        }
        result.consumed = at;
        *written = used;
        return result;
    }

  private:
    static uint32_t unitAt(const unsigned char* at) noexcept {
        return kBigEndian ? (uint32_t{at[0]} << 8) | at[1] : (uint32_t{at[1]} << 8) | at[0];
    }
};

template <bool kBigEndian>
class Utf16Encoder final : public DirectCodec {
  public:
    ConvertResult convertInto(const char* input, size_t size, char* out, size_t room,
                              size_t* written) const noexcept override {
        const auto* in = reinterpret_cast<const unsigned char*>(input);
        size_t at = 0;
        size_t used = 0;
        ConvertResult result;
        while (at < size) {
            // Runs of ASCII, each byte widened to a unit.
#if defined(__SSE2__)
            while (size - at >= 16 && room - used >= 32) {
                const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + at));
                if (_mm_movemask_epi8(bytes) != 0) {
                    break;
                }
                const __m128i zero = _mm_setzero_si128();
                auto* to = reinterpret_cast<__m128i*>(out + used);
                _mm_storeu_si128(to, kBigEndian ? _mm_unpacklo_epi8(zero, bytes)
                                                : _mm_unpacklo_epi8(bytes, zero));
                _mm_storeu_si128(to + 1, kBigEndian ? _mm_unpackhi_epi8(zero, bytes)
                                                    : _mm_unpackhi_epi8(bytes, zero));
                at += 16;
                used += 32;
            }
#endif
            while (size - at >= 8 && room - used >= 16 &&
                   (mvb::scan::load(input + at) & mvb::scan::kHighs) == 0) {
                for (size_t k = 0; k < 8; ++k) {
                    putUnit(out + used + 2 * k, in[at + k]);
                }
                at += 8;
                used += 16;
            }
            if (at == size) {
                break;
            }
            int code = 0;
            const int length = decodeUtf8(in + at, size - at, &code, &result);
            if (length == 0) {
                break;
            }
            const auto c = static_cast<uint32_t>(code);
            if (c < 0x10000u) {
                if (room - used < 2) {
                    break;
                }
                putUnit(out + used, c);
                used += 2;
            } else {
                if (room - used < 4) {
                    break;
                }
                putUnit(out + used, 0xD800u + ((c - 0x10000u) >> 10));
                putUnit(out + used + 2, 0xDC00u + (c & 0x3FFu));
                used += 4;
            }
            at += static_cast<size_t>(length);
        }
        result.consumed = at;
        *written = used;
        return result;
    }

  private:
    static void putUnit(char* at, uint32_t unit) noexcept {
        at[kBigEndian ? 1 : 0] = static_cast<char>(unit & 0xFFu);
        at[kBigEndian ? 0 : 1] = static_cast<char>(unit >> 8);
    }
};

}  // namespace

std::unique_ptr<DirectCodec> makeUtf16Codec(bool bigEndian, bool decoding) {
    if (decoding) {
        if (bigEndian) return std::make_unique<Utf16Decoder<true>>();
        return std::make_unique<Utf16Decoder<false>>();
    }
    if (bigEndian) return std::make_unique<Utf16Encoder<true>>();
    return std::make_unique<Utf16Encoder<false>>();
}

}  // namespace mvb::txt
