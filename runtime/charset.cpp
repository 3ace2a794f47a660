#include "mvb/charset.h"

#include <cstdint>
#include <cstring>

#include <emmintrin.h>

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

size_t validPrefix(const char* bytes, size_t size) noexcept {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes);
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

}  // namespace mvb::utf8
