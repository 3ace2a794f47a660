#pragma once

// The encoding numbers that files are opened with, and what the text file needs to know about
// each. Private to the runtime library.

#include <cstddef>
#include <string_view>

#include "mvb/charset.h"

namespace mvb::txt {

/// One encoding number and how its bytes are laid out.
struct EncodingInfo {
    int number;            ///< the encoding number as the caller gives it
    const char* name;      ///< the converter's name, also shown in messages
    int minBytes;          ///< smallest byte size of one character
    int maxBytes;          ///< largest byte size of one character
    int unitBytes;         ///< size of the code unit that holds LF or CR (1, 2 or 4)
    bool bigEndian;        ///< byte order of multi-byte code units
    std::string_view bom;  ///< the byte-order mark; empty for encodings without one

    /// True for UTF-8, which is held inside the process as it is in the file.
    bool isUtf8() const noexcept { return mvbIsUtf8Encoding(number); }
};

/// The encoding with that number; null for a number not in the table (-1 included).
const EncodingInfo* findEncoding(int number) noexcept;

/// UTF-8 under its own number (mvbEncodingUtf8), the encoding that detection falls back to.
const EncodingInfo& utf8Encoding() noexcept;

/// The encoding whose byte-order mark starts `bytes` (`size` bytes available), or null.
/// `preferred`'s own mark wins when several match (UTF-16LE and UTF-32LE share their start).
const EncodingInfo* encodingFromBom(const char* bytes, size_t size,
                                    const EncodingInfo* preferred) noexcept;

/// The encoding that the first bytes of a file without a mark show by their NULs: UTF-32 or
/// UTF-16 text of characters below U+0100 (or U+10000 for UTF-32) in either byte order, such
/// as "a\0b\0"; UTF-8 otherwise. Only the first four bytes are looked at.
const EncodingInfo* encodingFromNulPattern(const char* bytes, size_t size) noexcept;

}  // namespace mvb::txt
