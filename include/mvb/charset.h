#pragma once

#include "mvb/export.h"

/// Smallest byte size of one character in the encoding `encoding` (an encoding number of
/// mvbTxtFileOpen). Unknown numbers answer 1.
MVB_API int np_uchar_chsize_min(int encoding) noexcept;
/// Largest byte size of one character in the encoding. Unknown numbers answer 4.
MVB_API int np_uchar_xcsize_max(int encoding) noexcept;

/// The code point of the first UTF-8 character of `text` and its byte length (at least 1 for
/// every byte but a terminating NUL, whose length is 0). A byte that does not start a valid
/// sequence is taken alone, as its own value.
MVB_API int np_uchar_toint(const char* text, int* byteLength) noexcept;

/// Writes the UTF-8 bytes of `code` into `buffer` (at most `size` bytes, 4 for any code point)
/// and returns how many were written; 0 for a code that is not a Unicode scalar value. The
/// caller zeroes a buffer of size + 1 bytes, so the result is NUL-terminated.
MVB_API int np_uchar_intcopy(int code, char* buffer, int size) noexcept;

/// True when `bytes` is valid UTF-8 (no overlong forms, surrogates or values past U+10FFFF).
MVB_API bool mvbIsValidUtf8(const char* bytes, long byteCount) noexcept;

class MvbString;

/// The encoding number that an ENCODING value given as text stands for: a decimal number
/// ("1252", "-1"; any integer is taken as it is) or an encoding name or common alias in any case
/// ("UTF-8", "utf8", "UTF-16LE", "windows-1252", "latin1", "Shift_JIS", "GB18030", ...). Case,
/// hyphens, underscores, dots and blanks do not count. True with `*number` set; false, with
/// `*number` untouched, for a text that is neither.
MVB_API bool mvbEncodingFromName(const char* text, int* number) noexcept;

/// True when `number` is an encoding number the text files take: -1 (detect when reading,
/// UTF-8 when writing) or one of the encodings the runtime knows.
MVB_API bool mvbIsKnownEncoding(int number) noexcept;

/// Up to three known encoding names nearest to `text`, joined by ", ", for the message that
/// refuses an unknown name.
MVB_API MvbString mvbClosestEncodingNames(const char* text);

/// The encoding numbers (ENCODING properties, mvbTxtFileOpen) that code refers to by name; the
/// runtime's encoding table holds every number it knows.
enum MvbEncodingNumber : int {
    mvbEncodingDetect = -1,  ///< read: detect; write: UTF-8
    mvbEncodingDefault = 0,  ///< UTF-8
    mvbEncodingUtf16Le = 1200,
    mvbEncodingUtf16Be = 1201,
    mvbEncodingUtf32Le = 12000,
    mvbEncodingUtf32Be = 12001,
    mvbEncodingAscii = 20127,
    mvbEncodingLatin1 = 28591,
    mvbEncodingUtf8 = 65001,
};

/// True for the numbers that stand for UTF-8: the default (0) and its own (65001).
inline constexpr bool mvbIsUtf8Encoding(int number) noexcept {
    return number == mvbEncodingDefault || number == mvbEncodingUtf8;
}
