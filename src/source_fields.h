#pragma once

#include <bit>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "mvb/datavar.h"
#include "mvb/string.h"
#include "step/host.h"

/// Capacity in characters and bytes of the FILENAME_FIELD output field.
inline constexpr int kFileNameFieldLength = 256;
inline constexpr int kFileNameFieldByteSize = 1024;
/// Bytes per character assumed when the input's encoding could not be probed.
inline constexpr int kUnknownCharSize = 4;

/// Character sizes of a source's input encoding; -1 while unknown.
struct SourceCharSizes {
    int minimum = -1;
    int maximum = -1;
};

/// Probes the encoding of the FILENAME at `fileNameIndex` as the validating pass of prepare
/// does: BYTE_ORDER_MARK reads as false when it is not a boolean, ENCODING as -1 when it is
/// null or not an integer. Both sizes stay -1 when the file cannot be opened.
SourceCharSizes probeSourceCharSizes(PropertyValues* values, int fileNameIndex,
                                     int byteOrderMarkIndex, int encodingIndex);

/// `count` × `perUnit`, saturated to the int range (a byte size never wraps around).
int saturatedProduct(int count, int perUnit) noexcept;

/// Asks the host for a source's output field list: `fieldCount` fields, plus the FILENAME_FIELD
/// field when `fileNameField` is not empty.
StepOutputItems* createSourceOutput(StepHost* host, int fieldCount, const MvbString& fileNameField);

/// Describes the FILENAME_FIELD field at `index` of `items` and returns that index; -1 (and
/// nothing described) when `fileNameField` is empty.
int declareFileNameField(StepOutputItems* items, int index, const MvbString& fileNameField);

/// Byte the delimited source puts in place of each NUL of a line before splitting it, so that
/// a field's text keeps its length past a NUL. Valid UTF-8 never holds it.
inline constexpr char kNulMark = '\xFF';

/// Position of the first NUL among `bytes` bytes of `text`, or `bytes` when there is none.
/// Fields are short: eight bytes at a time inline, never past the last byte.
inline size_t firstNul(const char* text, size_t bytes) noexcept {
    static_assert(std::endian::native == std::endian::little);
    constexpr uint64_t kOnes = 0x0101010101010101ull;
    constexpr uint64_t kHighs = 0x8080808080808080ull;
    size_t at = 0;
    for (; at + 8 <= bytes; at += 8) {
        uint64_t word;
        std::memcpy(&word, text + at, sizeof word);
        // The lowest flagged byte is the first NUL; bytes after it may be flagged wrongly.
        const uint64_t zeros = (word - kOnes) & ~word & kHighs;
        if (zeros != 0) return at + static_cast<size_t>(std::countr_zero(zeros)) / 8;
    }
    if (at == bytes) return bytes;
    if (bytes >= 8) {
        // The last word overlaps the ones before, which held no NUL.
        uint64_t word;
        std::memcpy(&word, text + bytes - 8, sizeof word);
        const uint64_t zeros = (word - kOnes) & ~word & kHighs;
        return zeros == 0 ? bytes : bytes - 8 + static_cast<size_t>(std::countr_zero(zeros)) / 8;
    }
    while (at < bytes && text[at] != '\0')
        ++at;
    return at;
}

/// Cuts `field` at its first `nul` byte (a NUL, or kNulMark in a marked line), found at
/// `nulAt`: the value is the part before it. `*dropped` receives the text after it without the
/// NULs that follow at once and without trailing NULs, blanks and tabs (padding); it is empty
/// when the field holds nothing else after the NUL.
std::string_view cutAtNul(std::string_view field, size_t nulAt, char nul,
                          std::string_view* dropped) noexcept;

/// What converting a field's text gave.
enum class FieldOutcome {
    Read,        ///< the value holds the text as its type reads it
    Unreadable,  ///< the type cannot read the text: the value is null
    Cut,         ///< a string longer than the field's length: the value holds its head
};

/// Sets a field's value from its text by the field's type code. The rules are those of the
/// delimited source: an empty text gives an empty string for a string field and null for
/// every other type. A string is cut to the field's length and byte size; booleans, integers
/// and reals convert as MvbDatavar::setType does (null when the text is not one); a date parses
/// with the field's date format (null when it does not). An unknown type (0) is null.
/// The outcome tells a null that the text could not give, and a cut string, from a value read
/// whole; an empty text, and any text for an unknown type, count as read.
///
/// Converting allocates nothing once a field's value has held its longest string.
class SourceFieldConverter {
  public:
    FieldOutcome convert(StepOutputItem& item, int dateFormat, std::string_view text);
};
