#pragma once

// Conversions between UTF-8 and the encodings in which every character is one code point of a
// fixed size: the single-byte code pages and UTF-16. They are done here, a run of ASCII a
// word at a time, rather than through the C library's converter, which takes each piece of
// text through a chain of calls and a pass into 32-bit code points and back. Each gives
// exactly what that converter gives, and fails where it fails, at the same byte, with one
// exception: read in code pages 1255 and 1258, every byte stays a character of its own, where
// that converter joins a letter and the accents after it into one (writing them is left to it).
// Private to the runtime library.

#include <cstddef>
#include <memory>

#include "txtfile_codec.h"

namespace mvb::txt {

/// One direction of a conversion (see Converter::convertInto for what it does). There is no
/// shift state: every call stands on its own.
class DirectCodec {
  public:
    virtual ~DirectCodec() = default;
    virtual ConvertResult convertInto(const char* input, size_t size, char* out, size_t room,
                                      size_t* written) const noexcept = 0;
};

/// The conversion from `from` to `to` when one of them is UTF-8 and the other a single-byte
/// code page or UTF-16 (encoding names as the encoding table spells them); null for any other
/// pair, or when the system's converter does not know the code page.
std::unique_ptr<DirectCodec> makeDirectCodec(const char* to, const char* from);

/// A single-byte code page `name` to UTF-8 (`decoding`) or from it, made from the system's
/// tables; null when it is not one of those that a table serves.
std::unique_ptr<DirectCodec> makeSingleByteCodec(const char* name, bool decoding);
/// UTF-16 in the given byte order to UTF-8 (`decoding`) or from it.
std::unique_ptr<DirectCodec> makeUtf16Codec(bool bigEndian, bool decoding);

/// Why the UTF-8 text at `at` (`avail` bytes, the first of which starts no valid sequence)
/// cannot be converted, as the system's converter says it: Incomplete when the text ends
/// inside what its lead byte and the continuation bytes after it begin, Invalid otherwise.
ConvertResult::Status utf8Fault(const unsigned char* at, size_t avail) noexcept;

/// The length of the UTF-8 sequence at `at` (`avail` bytes readable), with its code point in
/// `*code`; 0 when there is none there, with `result->status` saying why.
inline int decodeUtf8(const unsigned char* at, size_t avail, int* code,
                      ConvertResult* result) noexcept {
    const int length = utf8::decode(at, avail, code);
    if (length == 0) {
        result->status = utf8Fault(at, avail);
    }
    return length;
}

}  // namespace mvb::txt
