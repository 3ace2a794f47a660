#pragma once

#include <cassert>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "mvb/charset.h"
#include "mvb/date.h"
#include "mvb/export.h"
#include "mvb/string.h"
#include "mvb/text_bytes.h"
#include "mvb/types.h"

namespace mvb::text {

/// Reads true/false, yes/no, y/n, t/f, 1/0 in any case, blanks around allowed.
[[nodiscard]] MVB_API bool parseBool(std::string_view text, bool* value) noexcept;
/// Reads a whole decimal integer with an optional sign, blanks around allowed.
[[nodiscard]] MVB_API bool parseInt64(std::string_view text, int64_t* value) noexcept;
/// Reads a whole decimal real (fixed or exponent form, inf, nan) with an optional sign,
/// blanks around allowed. Out-of-range values fail.
[[nodiscard]] MVB_API bool parseReal(std::string_view text, double* value) noexcept;
/// parseReal() that also tells whether `text` is exactly what formatReal() writes for the
/// value read, so that the text can stand for it (`12.5`, `-0.03`; not `12.50`, `012.5`).
/// `*asWritten` false says nothing: only the short plain texts are told.
[[nodiscard]] MVB_API bool parseRealAsWritten(std::string_view text, double* value,
                                              bool* asWritten) noexcept;
/// True when `value`, read from `text` by parseReal, keeps every significant digit of the
/// text (its shortest digits are the text's, trailing zeros aside); false when the text has
/// more digits than a real holds, so that writing the value back gives other digits
/// (12345678901234567.89 reads as 12345678901234568). Any text of at most 15 significant
/// digits is kept; so is one that is not a plain or exponent number (inf, nan).
[[nodiscard]] MVB_API bool realKeepsDigits(std::string_view text, double value) noexcept;
/// Writes the shortest digits that read back as `value`, in plain decimal notation when
/// 1e-6 <= |value| < 1e21 (`2000000`, `0.0001`) and with an exponent otherwise (`1e-07`,
/// `1e+21`); zero keeps its sign (`-0`). `out` holds at least 32 bytes (25 are the most
/// written). Returns the byte count (no NUL).
MVB_API int formatReal(double value, char* out) noexcept;
/// Writes `value` in decimal; `out` holds at least 21 bytes. Returns the byte count (no NUL).
MVB_API int formatInt64(int64_t value, char* out) noexcept;

}  // namespace mvb::text

/// A typed, nullable value: null, boolean, 64-bit integer, double, UTF-8 string or date.
///
/// Values are assigned once per field per row on the hot path, so a value keeps its string
/// storage across assignments: short strings live inside the object, and a longer string
/// reuses the capacity that an earlier one left behind. Nothing here allocates once a field
/// has seen its longest value.
class MVB_API MvbDatavar {
  public:
    // Not defaulted: the union holds an MvbDate, whose default constructor is not trivial.
    MvbDatavar() noexcept {}
    MvbDatavar(const MvbDatavar& other) = default;
    MvbDatavar(MvbDatavar&& other) noexcept = default;
    explicit MvbDatavar(bool value) { assign(value); }
    explicit MvbDatavar(int value) { assign(value); }
    explicit MvbDatavar(int64_t value) { assign(value); }
    explicit MvbDatavar(double value) { assign(value); }
    explicit MvbDatavar(const char* text) { assign(text); }
    ~MvbDatavar();

    /// Copies type and value; string storage already held is reused. Inline: a destination
    /// copies every field of every row.
    MvbDatavar& operator=(const MvbDatavar& other) {
        switch (other.type_) {
            case mvbTypeString:
                text_ = other.text_;
                knownUtf8_ = other.knownUtf8_;
                break;
            case mvbTypeNull:
                break;
            case mvbTypeReal:
                real_ = other.real_;
                realText_ = other.realText_;
                if (realText_) text_ = other.text_;
                break;
            default:
                std::memcpy(static_cast<void*>(&date_), &other.date_, kScalarBytes);
                break;
        }
        type_ = other.type_;
        return *this;
    }
    MvbDatavar& operator=(MvbDatavar&& other) noexcept = default;

    void assign(bool value) noexcept;
    void assign(int value) noexcept { assign(static_cast<int64_t>(value)); }
    void assign(int64_t value) noexcept;
    void assign(double value) noexcept;
    void assign(const char* text);
    void assign(const char* bytes, size_t byteCount);
    void assign(std::string_view text) { assign(text.data(), text.size()); }
    void assign(const MvbString& text) { assign(text.view()); }
    void assign(const MvbDate& date) noexcept;
    /// Sets the value to the date and time that `text` holds in date format `format` (see
    /// mvs_text_to_date), read straight into the value. False, leaving the value null, when the
    /// text is no valid date and time in that format.
    bool assignDate(std::string_view text, int format) noexcept;
    /// Assigns a text that the caller has already proven to be valid UTF-8 (a line of a text
    /// file that the reader checked, say), so that writers need not check it again; see
    /// isKnownUtf8(). Bytes that are not UTF-8 must never come this way (debug builds check).
    /// Inline: a source assigns most of its fields this way, on every row. (The library still
    /// exports it, for plug-ins built when it was not inline.)
    MVB_API void assignKnownUtf8(std::string_view text) {
        assert(mvbIsValidUtf8(text.data(), static_cast<long>(text.size())));
        text_.assign(text.data(), text.size());
        type_ = mvbTypeString;
        knownUtf8_ = true;
    }

    /// assignKnownUtf8() from bytes that can be read for mvb::TextBytes::kPaddedReadBytes from
    /// the text's start, whatever its length: a short text is copied as one block.
    void assignKnownUtf8Padded(std::string_view text) {
        assert(mvbIsValidUtf8(text.data(), static_cast<long>(text.size())));
        text_.assignPadded(text.data(), text.size());
        type_ = mvbTypeString;
        knownUtf8_ = true;
    }

    /// The mvbType code of the held value; mvbTypeNull when null.
    int getType() const noexcept { return type_; }
    bool isNull() const noexcept { return type_ == mvbTypeNull; }
    void setNull() noexcept { type_ = mvbTypeNull; }

    /// Reads the value as a boolean. A null value reads as false without an error. Text reads
    /// true/false, yes/no, y/n, t/f, 1/0 in any case, blanks around allowed; an integer or
    /// real reads as true when not zero. Anything else sets `*error` (when given) and gives false.
    bool asBool(bool* error) const noexcept;
    /// Reads the value as a 32-bit integer. Null reads as 0 without an error; text must be a
    /// whole integer (blanks around allowed); a real must be integral; out of range is an error.
    int asInt(bool* error) const noexcept;
    /// As asInt, over the full 64-bit range.
    int64_t asInt64(bool* error) const noexcept;
    /// Reads the value as a double; null reads as 0.
    double asReal(bool* error) const noexcept;
    /// The real held, read inline (a source asks it of every real it reads); 0 for a value of
    /// another kind.
    double realHeld() const noexcept { return type_ == mvbTypeReal ? real_ : 0.0; }
    /// The held date; a default date when the value is not a date.
    MvbDate asDate() const noexcept { return type_ == mvbTypeDate ? date_ : MvbDate{}; }

    /// The value as text: empty for null, `true`/`false`, integers in decimal, reals in the
    /// shortest form that reads back the same (never locale-dependent), dates as MvbDate::format.
    MvbString asString() const;
    /// The same text without allocating: writes at most `capacity` - 1 bytes and a NUL into
    /// `buffer`, returns the number of bytes written without the NUL. For a string value this
    /// copies the string, cut at the capacity after its last whole character; 64 bytes always
    /// hold the text of every other kind.
    int formatText(char* buffer, int capacity) const noexcept;
    /// Bytes of room formatScalar() needs.
    static constexpr int kScalarTextRoom = 64;
    /// The text formatText() gives a value that is not a string, written at `out`, which has
    /// room for kScalarTextRoom bytes, with no NUL after it; returns its length. 0 for a null
    /// or a string, which callers take from stringView().
    /// Inline: a destination formats most of its fields this way on every row.
    int formatScalar(char* out) const noexcept {
        switch (type_) {
            case mvbTypeBoolean:
                std::memcpy(out, bool_ ? "true" : "false", 5);
                return bool_ ? 4 : 5;
            case mvbTypeInteger:
                return mvb::text::formatInt64(int_, out);
            case mvbTypeReal:
                if (realText_) {
                    // The text the real was read from, which is the one formatReal() writes.
                    std::memcpy(out, text_.data(), kRealTextBytes);
                    return static_cast<int>(text_.size());
                }
                return mvb::text::formatReal(real_, out);
            case mvbTypeDate:
                return date_.format(out, kScalarTextRoom);
            default:
                return 0;
        }
    }
    /// True when the value is a string that came through assignKnownUtf8() (or a copy or a
    /// cut of one): its bytes are valid UTF-8 without being looked at. False says nothing.
    bool isKnownUtf8() const noexcept { return type_ == mvbTypeString && knownUtf8_; }
    /// The held string's bytes; empty for any other kind.
    std::string_view stringView() const noexcept {
        return type_ == mvbTypeString ? std::string_view(text_) : std::string_view();
    }

    /// Bytes of string storage the value holds, whatever it holds now (a value keeps the
    /// storage of its longest string).
    size_t storageBytes() const noexcept { return text_.capacity(); }
    /// Makes the value null and gives back the string storage it holds.
    void releaseStorage() noexcept {
        text_.release();
        type_ = mvbTypeNull;
        knownUtf8_ = false;
    }

    /// Converts held text to boolean (1), integer (2) or real (3). Text that is not a whole
    /// value of that type (blanks around allowed) leaves the value null. A value that is not
    /// text is converted as asBool/asInt64/asReal read it. Returns false when the result is null.
    bool setType(int type);

    /// Sets the value to `text` converted to boolean (1), integer (2) or real (3), as assigning
    /// the text and then setType(type) would, without storing the text first. Returns false,
    /// leaving the value null, when the text is not a whole value of that type or the type is
    /// none of these. Inline, as a source converts most of its fields this way on every row
    /// (the library still exports it, for plug-ins built when it was not inline).
    MVB_API bool assignConverted(std::string_view text, int type) noexcept {
        return convertFrom<false>(text, type);
    }
    /// assignConverted() from bytes that can be read for mvb::TextBytes::kPaddedReadBytes from
    /// the text's start, whatever its length (see assignKnownUtf8Padded()).
    bool assignConvertedPadded(std::string_view text, int type) noexcept {
        return convertFrom<true>(text, type);
    }

    /// Cuts a string value to at most `length` characters, never splitting one. `byteSize`
    /// is the capacity of those characters in the file's encoding and removes nothing more.
    void truncate(int length, int byteSize) noexcept;

    /// The value's bytes: for a string its UTF-8 text with `*size` counting the terminating
    /// NUL; for other kinds the bytes of the held binary value; null (size 0) when null.
    const void* getRaw(int* size) const noexcept;

    /// A value laid flat in a stream of bytes, as pack() writes it and unpack() reads it, so that
    /// a row crosses to another thread as the few bytes of its values rather than as the value
    /// objects themselves. A packed value is a tag byte (the kind, a boolean's value, the UTF-8
    /// mark, a real's kept text), then nothing for null and booleans, the bytes of an integer,
    /// real or date (a fixed size: no loop on either side), for a real with its text that
    /// text's length in a byte and its bytes, or a string's length in 7-bit groups (low bits
    /// first) and its bytes. Nothing is aligned.
    /// Bytes pack() writes for this value.
    size_t packedSize() const noexcept {
        switch (type_) {
            case mvbTypeNull:
            case mvbTypeBoolean:
                return 1;
            case mvbTypeString:
                return 1 + packedGroups(text_.size()) + text_.size();
            case mvbTypeReal:
                return 1 + sizeof(double) + (realText_ ? 1 + text_.size() : 0);
            case mvbTypeDate:
                return 1 + sizeof(MvbDate);
            default:
                return 1 + sizeof(int64_t);
        }
    }
    /// The room pack() needs for any value but a string's text or a real's kept text: a row of
    /// `n` values fits in `n` times this and the bytes of those texts. (The text a value of
    /// another kind still keeps from an earlier string takes no room.)
    static constexpr size_t packedFixedBytes() noexcept { return kPackedBoundBytes; }
    /// Bytes past the room it counts that packWithin() may write over (and leave meaning
    /// nothing).
    static constexpr size_t kPackWithinOverrun = 16;
    /// pack() when the value's text fits in `*spare` more bytes than packedFixedBytes() at
    /// `out`, taking the text's bytes off `*spare`; null (nothing written) when it does not.
    /// Only a string's text or a real's kept text is counted: a row that starts with room for
    /// packedFixedBytes() per value needs no other check. A short text is copied as one block,
    /// which may write over kPackWithinOverrun bytes past that room.
    unsigned char* packWithin(unsigned char* out, size_t* spare) const noexcept {
        if (type_ == mvbTypeString) {
            const size_t size = text_.size();
            if (size > *spare) return nullptr;
            *spare -= size;
            if (size < mvb::TextBytes::kPaddedReadBytes) [[likely]] {
                // Its length takes one 7-bit group.
                static_assert(mvb::TextBytes::kPaddedReadBytes <= 0x80);
                static_assert(2 + mvb::TextBytes::kPaddedReadBytes <=
                              kPackedBoundBytes + kPackWithinOverrun);
                out[0] = packedStringTag();
                out[1] = static_cast<unsigned char>(size);
                text_.copyBlock(reinterpret_cast<char*>(out + 2));
                return out + 2 + size;
            }
        } else if (type_ == mvbTypeReal && realText_) {
            // The real, its text's length and the text, copied as one block.
            const size_t size = text_.size();
            if (size > *spare) return nullptr;
            *spare -= size;
            static_assert(2 + sizeof(double) <= kPackedBoundBytes);
            static_assert(2 + sizeof(double) + kRealTextBytes <=
                          kPackedBoundBytes + kPackWithinOverrun);
            out[0] = kRealWithText;
            std::memcpy(out + 1, &real_, sizeof(double));
            out[1 + sizeof(double)] = static_cast<unsigned char>(size);
            std::memcpy(out + 2 + sizeof(double), text_.data(), kRealTextBytes);
            return out + 2 + sizeof(double) + size;
        }
        return pack(out);
    }
    /// Writes the value at `out`, which has room for packedSize() bytes; returns the byte after.
    unsigned char* pack(unsigned char* out) const noexcept {
        const auto type = static_cast<unsigned char>(type_);
        switch (type_) {
            case mvbTypeNull:
                *out = type;
                return out + 1;
            case mvbTypeBoolean:
                *out = type | (bool_ ? kPackedTrue : 0);
                return out + 1;
            case mvbTypeString: {
                *out++ = packedStringTag();
                out = packGroups(out, text_.size());
                mvb::copyTextBytes(reinterpret_cast<char*>(out), text_.data(), text_.size());
                return out + text_.size();
            }
            case mvbTypeDate:
                *out = type;
                std::memcpy(out + 1, &date_, sizeof(MvbDate));
                return out + 1 + sizeof(MvbDate);
            case mvbTypeReal:
                *out = realText_ ? kRealWithText : type;
                std::memcpy(out + 1, &real_, sizeof(double));
                if (!realText_) return out + 1 + sizeof(double);
                out[1 + sizeof(double)] = static_cast<unsigned char>(text_.size());
                std::memcpy(out + 2 + sizeof(double), text_.data(), text_.size());
                return out + 2 + sizeof(double) + text_.size();
            default:
                *out = type;
                std::memcpy(out + 1, &int_, sizeof(int64_t));
                return out + 1 + sizeof(int64_t);
        }
    }
    /// Bytes past the end of the packed values that unpack() may read (but makes nothing of).
    static constexpr size_t kUnpackReadAhead = mvb::TextBytes::kPaddedReadBytes;
    /// Takes the value pack() wrote at `in`, keeping the string storage this value holds;
    /// returns the byte after it. The stream must be readable for kUnpackReadAhead bytes past
    /// its last value: a short text is taken as one block of that size.
    const unsigned char* unpack(const unsigned char* in) {
        const unsigned char tag = *in++;
        const int type = tag & kPackedKindMask;
        switch (type) {
            case mvbTypeNull:
                break;
            case mvbTypeBoolean:
                bool_ = (tag & kPackedTrue) != 0;
                break;
            case mvbTypeString: {
                uint64_t size = 0;
                in = unpackGroups(in, &size);
                text_.assignPadded(reinterpret_cast<const char*>(in), static_cast<size_t>(size));
                knownUtf8_ = (tag & kPackedKnownUtf8) != 0;
                in += size;
                break;
            }
            case mvbTypeDate:
                std::memcpy(static_cast<void*>(&date_), in, sizeof(MvbDate));
                in += sizeof(MvbDate);
                break;
            case mvbTypeReal:
                std::memcpy(&real_, in, sizeof(double));
                in += sizeof(double);
                realText_ = (tag & kPackedRealText) != 0;
                if (realText_) {
                    const size_t size = *in++;
                    text_.assignPadded(reinterpret_cast<const char*>(in), size);
                    in += size;
                }
                break;
            default:
                std::memcpy(&int_, in, sizeof(int64_t));
                in += sizeof(int64_t);
                break;
        }
        type_ = type;
        return in;
    }

  private:
    /// assignConverted(), the real's text copied as one block when `Padded`.
    template <bool Padded>
    bool convertFrom(std::string_view text, int type) noexcept {
        switch (type) {
            case mvbTypeBoolean:
                if (!mvb::text::parseBool(text, &bool_)) break;
                type_ = mvbTypeBoolean;
                return true;
            case mvbTypeInteger:
                if (!mvb::text::parseInt64(text, &int_)) break;
                type_ = mvbTypeInteger;
                return true;
            case mvbTypeReal:
                if (!mvb::text::parseRealAsWritten(text, &real_, &realText_)) break;
                // A text that formatReal() would write again is kept, and written instead.
                if (realText_) {
                    if constexpr (Padded) {
                        text_.assignPadded(text.data(), text.size());
                    } else {
                        text_.assign(text.data(), text.size());
                    }
                }
                type_ = mvbTypeReal;
                return true;
            default:
                break;
        }
        setNull();
        return false;
    }

    /// The bytes of the non-string kinds' storage (the union below), copied as one.
    static constexpr size_t kScalarBytes = sizeof(MvbDate) > sizeof(int64_t) ? sizeof(MvbDate)
                                                                             : sizeof(int64_t);
    /// The tag byte and the most any kind other than a string's bytes takes: a string's length
    /// in ten 7-bit groups (64 bits), a date, an integer or a real.
    static constexpr size_t kPackedBoundBytes = 1 + (kScalarBytes > 10 ? kScalarBytes : size_t{10});
    /// The tag byte of this value packed as a string: its kind and the UTF-8 mark.
    unsigned char packedStringTag() const noexcept {
        return static_cast<unsigned char>(type_ | (knownUtf8_ ? kPackedKnownUtf8 : 0));
    }
    /// Bytes packGroups() takes for `value`.
    static size_t packedGroups(uint64_t value) noexcept {
        size_t bytes = 1;
        for (value >>= 7; value != 0; value >>= 7)
            ++bytes;
        return bytes;
    }
    /// `value` in 7-bit groups, low bits first, the high bit of each byte but the last set.
    static unsigned char* packGroups(unsigned char* out, uint64_t value) noexcept {
        while (value >= 0x80) {
            *out++ = static_cast<unsigned char>(value | 0x80);
            value >>= 7;
        }
        *out++ = static_cast<unsigned char>(value);
        return out;
    }
    static const unsigned char* unpackGroups(const unsigned char* in, uint64_t* value) noexcept {
        uint64_t result = *in & 0x7Fu;
        for (int shift = 7; (*in++ & 0x80u) != 0; shift += 7)
            result |= static_cast<uint64_t>(*in & 0x7Fu) << shift;
        *value = result;
        return in;
    }

    // The tag byte of a packed value.
    static constexpr unsigned char kPackedKindMask = 0x0F;
    static constexpr unsigned char kPackedKnownUtf8 = 0x10;
    static constexpr unsigned char kPackedTrue = 0x20;
    /// A real followed by the length and bytes of the text it stands for (see realText_).
    static constexpr unsigned char kPackedRealText = 0x40;
    static constexpr unsigned char kRealWithText = mvbTypeReal | kPackedRealText;
    /// Bytes copied as one block for a real's text: the longest such text (a sign and eight
    /// bytes) fits, and a text's storage holds at least this many.
    static constexpr size_t kRealTextBytes = 16;
    static_assert(kRealTextBytes <= mvb::TextBytes::kPaddedReadBytes);

    int type_ = mvbTypeNull;
    /// The string was proven to be UTF-8 when it was assigned (see assignKnownUtf8()).
    bool knownUtf8_ = false;
    /// A real read from a text that formatReal() would write for it again: text_ holds that
    /// text, which stands for the value when it is written. Set wherever a real is assigned.
    bool realText_ = false;
    union {
        bool bool_;
        int64_t int_ = 0;
        double real_;
        MvbDate date_;
    };
    mvb::TextBytes text_;
};
