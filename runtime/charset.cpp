#include "mvb/charset.h"

#include <cstdint>
#include <cstring>

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

namespace {

constexpr uint64_t kHighBits = 0x8080808080808080ull;

inline uint64_t load64(const unsigned char* p) noexcept {
    uint64_t word;
    std::memcpy(&word, p, sizeof word);
    return word;
}

}  // namespace

bool mvbIsValidUtf8(const char* bytes, long byteCount) noexcept {
    if (byteCount <= 0) {
        return byteCount == 0 || bytes != nullptr;
    }
    const auto* p = reinterpret_cast<const unsigned char*>(bytes);
    const unsigned char* const end = p + byteCount;
    while (p < end) {
        // Text is mostly ASCII: skip 32 bytes at a time, then 8, while no high bit is set.
        while (end - p >= 32 &&
               ((load64(p) | load64(p + 8) | load64(p + 16) | load64(p + 24)) & kHighBits) == 0) {
            p += 32;
        }
        while (end - p >= 8 && (load64(p) & kHighBits) == 0) {
            p += 8;
        }
        if (p == end) {
            break;
        }
        if (*p < 0x80u) {
            ++p;
            continue;
        }
        int code = 0;
        const int n = mvb::utf8::decode(p, static_cast<size_t>(end - p), &code);
        if (n == 0) {
            return false;
        }
        p += n;
    }
    return true;
}
