#pragma once

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "mvb/byte_scan.h"

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
/// null or neither an encoding number nor an encoding's name. Both sizes stay -1 when the file
/// cannot be opened.
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

/// True when `bytes` bytes of `text` hold a NUL. Fields are short: a few overlapping words
/// inline, without reading outside the text and without a branch per word.
inline bool holdsNul(const char* text, size_t bytes) noexcept {
    using mvb::scan::load;
    using mvb::scan::zeroBytes;
    if (bytes >= 8) {
        uint64_t found = 0;
        for (size_t at = 0; at + 8 < bytes; at += 8)
            found |= zeroBytes(load(text + at));
        return (found | zeroBytes(load(text + bytes - 8))) != 0;
    }
    if (bytes >= 4) {
        // Two overlapping halves, each widened to a word whose high bytes are not zero.
        uint32_t head;
        uint32_t tail;
        std::memcpy(&head, text, sizeof head);
        std::memcpy(&tail, text + bytes - 4, sizeof tail);
        constexpr uint64_t kHighFill = 0xFFFFFFFF00000000ull;
        return (zeroBytes(head | kHighFill) | zeroBytes(tail | kHighFill)) != 0;
    }
    for (size_t at = 0; at < bytes; ++at)
        if (text[at] == '\0') return true;
    return false;
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
    Rounded,     ///< a real of more digits than a real holds: the value is the nearest one
};

/// Sets a field's value from its text by the field's type code. The rules are those of the
/// delimited source: an empty text gives an empty string for a string field and null for
/// every other type. A string is cut to the field's length and byte size; booleans, integers
/// and reals convert as MvbDatavar::setType does (null when the text is not one); a date parses
/// with the field's date format (null when it does not). An unknown type (0) is null.
/// The outcome tells a null that the text could not give, and a cut string, from a value read
/// whole; an empty text, and any text for an unknown type, count as read. A text holding a NUL
/// is no date (the parser would read only the part before it): callers cut such texts first.
///
/// Every text handed in must be valid UTF-8, and a string value says so
/// (MvbDatavar::isKnownUtf8()), which spares the writers a second check. The sources' texts
/// are: the file hands out valid UTF-8 only (a character cut by a fixed width becomes a
/// replacement character), and what the sources do to a text (splitting it at whole
/// characters, dropping quotes, backslashes and blanks, cutting it before a NUL or at a
/// character) keeps it so.
///
/// Converting allocates nothing once a field's value has held its longest string.
class SourceFieldConverter {
  public:
    /// Inline: the sources call it for every field, and most of its cases are a call or two.
    /// With `ReadAhead` true, the text can be read for mvb::TextBytes::kPaddedReadBytes from
    /// its start whatever its length (see MvbDatavar::assignKnownUtf8Padded()).
    template <bool ReadAhead = false>
    FieldOutcome convert(StepOutputItem& item, int dateFormat, std::string_view text) {
        // A test for each kind in turn rather than a jump through a table: a row's kinds come
        // field by field in the same order, and the processor foresees a run of tests better
        // than one jump with many targets.
        const int type = item.type;
        if (type == mvbTypeString) {
            if constexpr (ReadAhead) {
                item.value.assignKnownUtf8Padded(text);
            } else {
                item.value.assignKnownUtf8(text);
            }
            // A text of no more bytes than the length has no more characters either.
            if (text.size() <= static_cast<size_t>(std::max(item.length, 0))) [[likely]] {
                return FieldOutcome::Read;
            }
            return cutString(item, text.size());
        }
        // The number kinds (boolean, integer, real) are neighbours.
        static_assert(mvbTypeInteger == mvbTypeBoolean + 1 && mvbTypeReal == mvbTypeBoolean + 2);
        if (static_cast<unsigned>(type - mvbTypeBoolean) <= mvbTypeReal - mvbTypeBoolean) {
            return convertNumber<ReadAhead>(item.value, type, text);
        }
        if (type == mvbTypeDate) {
            if (text.empty()) {
                item.value.setNull();
                return FieldOutcome::Read;
            }
            return convertDate(item.value, dateFormat, text);
        }
        if (type == mvbTypeNull) item.value.setNull();
        return FieldOutcome::Read;
    }

  private:
    /// The number of kind `type` read straight from the text, or null when the text is not one.
    template <bool ReadAhead>
    [[gnu::always_inline]] static FieldOutcome convertNumber(MvbDatavar& value, int type,
                                                             std::string_view text) noexcept {
        if (text.empty()) {
            value.setNull();
            return FieldOutcome::Read;
        }
        const bool converted =
            ReadAhead ? value.assignConvertedPadded(text, type) : value.assignConverted(text, type);
        if (!converted) [[unlikely]] {
            return FieldOutcome::Unreadable;
        }
        // Only a text of more than 15 digits can hold more than a real keeps, or one that
        // reads as a subnormal real (below 2.2e-308, which keeps fewer).
        if (type == mvbTypeReal) {
            const double real = value.realHeld();
            if ((text.size() > 15 || (real != 0 && std::fabs(real) < DBL_MIN)) &&
                !mvb::text::realKeepsDigits(text, real)) [[unlikely]] {
                return FieldOutcome::Rounded;
            }
        }
        return FieldOutcome::Read;
    }
    /// A date value from its text; null (Unreadable) when the text is no date in `dateFormat`.
    static FieldOutcome convertDate(MvbDatavar& value, int dateFormat, std::string_view text);
    /// Cuts the string just assigned (`textBytes` long) to the field's length.
    static FieldOutcome cutString(StepOutputItem& item, size_t textBytes) noexcept;
};
