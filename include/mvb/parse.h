#pragma once

#include <cstddef>

#include "mvb/export.h"

/// Flags of mvs_parse_text_ex2 and mvs_split_text.
enum : unsigned {
    MVS_PARSE_KEEP_BLANKS = 1,  ///< keep blanks and tabs around fields
    MVS_PARSE_UNESCAPE = 2,     ///< resolve backslash escapes
    /// mvs_split_text only: the caller has seen that no byte of the line equals the quote's
    /// first byte, so the split does not look for one.
    MVS_PARSE_NO_QUOTE_BYTE = 4,
};

/// Splits `line` (`lineBytes` bytes of UTF-8) into fields separated by the delimiter code point
/// (0: comma) with the quote code point (0: no quoting). Fields are rewritten, NUL-terminated,
/// into `output`, which may be `line` itself (the split then happens in place; it needs
/// `lineBytes` + 1 bytes); `fields[i]` points to field i. Returns the number of fields stored,
/// never more than `capacity`; the parser writes nothing past the capacity or past the line.
MVB_API int mvs_parse_text_ex2(char* line, char** fields, int capacity, char* output, int lineBytes,
                               int delimiterCode, int quoteCode, unsigned flags) noexcept;

/// mvs_parse_text_ex2 in place (`line` needs `lineBytes` + 1 bytes), with each field's byte
/// length in `lengths[i]` as well when `lengths` is not null (room for `capacity`): the caller
/// need not measure the NUL-terminated fields again. A field's bytes may themselves hold NULs
/// then. `*textAfterQuote` (when not null) tells whether the closing quote of a quoted field is
/// followed by anything but the delimiter or the end of the line (blanks included), or whether
/// a quoted field's quote never closes, so that a caller that looks at quotes again need not
/// look in most lines. Returns the number of fields stored.
MVB_API int mvs_split_text(char* line, int lineBytes, char** fields, int* lengths, int capacity,
                           int delimiterCode, int quoteCode, unsigned flags,
                           bool* textAfterQuote) noexcept;

/// The delimiter, quote and flags of mvs_split_text() made ready once for the many lines of a
/// file (mvs_split_prepare()), so that a line's split starts at once. Only the library reads
/// its fields.
struct MvsSplitPlan {
    char delimiter[4];
    char quote[4];
    unsigned char delimiterBytes;
    unsigned char quoteBytes;  ///< 0 when nothing is quoted
    char blank1;               ///< the two bytes trimmed around fields
    char blank2;
    unsigned flags;
};

/// Makes `*plan` split as mvs_split_text() does with these codes and flags.
MVB_API void mvs_split_prepare(int delimiterCode, int quoteCode, unsigned flags,
                               MvsSplitPlan* plan) noexcept;

/// mvs_split_text() with the settings of `plan`; `lineFlags` may hold MVS_PARSE_NO_QUOTE_BYTE
/// for this line.
MVB_API int mvs_split_planned(const MvsSplitPlan* plan, char* line, int lineBytes, char** fields,
                              int* lengths, int capacity, unsigned lineFlags,
                              bool* textAfterQuote) noexcept;

/// Parses a date in format 0 (ISO 8601 or YYYYMMDD), 1 (month/day/year), 2 (day/month/year)
/// or 3 (year/month/day), with an optional time. Returns 0 and the parts on success; non-zero
/// for text that is not a valid calendar date and time.
MVB_API int mvs_string_to_date(const char* text, int* year, int* month, int* day, int* hour,
                               int* minute, int* second, int format) noexcept;

/// mvs_string_to_date for the `bytes` bytes at `text`, which need no NUL after them. A NUL
/// among them is a byte like any other (no date holds one).
MVB_API int mvs_text_to_date(const char* text, size_t bytes, int* year, int* month, int* day,
                             int* hour, int* minute, int* second, int format) noexcept;

/// The mvbType code of a field type name (case-insensitive), 0 for a name it does not know;
/// `*format` receives the date format number for mvs_string_to_date (0 for other types).
MVB_API int mvbTypeFromString(const char* typeName, int* format) noexcept;
/// The name a FIELDS TYPE column writes for type code `type` with date format `format`
/// ("date_mdy" for 5 with format 1; a date of another format is "date"); null for a code that
/// names no field type.
MVB_API const char* mvbTypeName(int type, int format) noexcept;

/// Whether a record goes on after `line` (`lineBytes` bytes of UTF-8, one physical line without
/// its line end) because the line ends inside a quoted field, read as mvs_parse_text_ex2 reads
/// fields with the same delimiter, quote and flags. `insideQuotes` tells that the line
/// continues a quoted field of the lines before it. With a quote code of 0 a record never goes
/// on. A backslash that ends a quoted line under MVS_PARSE_UNESCAPE escapes the line end, which
/// then belongs to the value as well.
MVB_API bool mvs_record_continues(const char* line, int lineBytes, bool insideQuotes,
                                  int delimiterCode, int quoteCode, unsigned flags) noexcept;
