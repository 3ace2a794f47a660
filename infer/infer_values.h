#pragma once

// Per-column statistics: which types read every value of a column without loss, and how long
// its values are. Memory stays the same however many rows come; values are never kept.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "mvb/datavar.h"

namespace textjob::infer {

/// Types a column may still have, as bits.
enum TypeBits : unsigned {
    kBoolean = 1u,
    kInteger = 2u,
    kReal = 4u,
    kDateIso = 8u,
    kDateMdy = 16u,
    kDateDmy = 32u,
    kDateYmd = 64u,
    kAnyDate = kDateIso | kDateMdy | kDateDmy | kDateYmd,
    kAnyType = kBoolean | kInteger | kReal | kAnyDate,
};

/// How columns get their types.
enum class TypeMode {
    /// A type only when every value, read as it and written back as a destination writes it,
    /// gives the same text.
    Lossless,
    /// A type when every value reads as it without loss of the value (3.280 as 3.28).
    Loose,
    /// Every column a string.
    Text,
};

/// The type a column gets, with the width of its values as written.
struct ColumnType {
    std::string name = "string";  ///< a runtime type name
    int outputWidth = 1;          ///< bytes of the longest value as a destination writes it
    std::string note;             ///< why a likely type was not taken; empty when nothing to say
};

/// A date and time as a date format read it. (No initial values: an array of them per value
/// read is only filled where a format reads the value.)
struct DateRead {
    int year, month, day, hour, minute, second;
};

/// The types among `candidates` that read `text` as the source reads it and give back the
/// same value: no lost leading zero, sign, digit or blank.
unsigned typesReading(std::string_view text, unsigned candidates);

class ColumnStats {
  public:
    /// Adds one value as the splitter gave it.
    void observe(std::string_view text) {
        if (observeLength(text)) observeTypes(text);
    }
    /// Counts the value and its length; false for an empty one.
    bool observeLength(std::string_view text);
    /// Keeps the types that read this non-empty value.
    void observeTypes(std::string_view text);

    /// The type that reads every value seen in `mode` (string when none does).
    ColumnType decide(TypeMode mode) const;
    /// Types that read every non-empty value seen so far.
    unsigned candidates() const { return candidates_; }

    /// For the values of a part of the file read on its own (not the first part): keeps every
    /// value that loses a type, so that append() can tell which of them the whole file loses.
    void keepLosses() { keepLosses_ = true; }
    /// Adds the values of `later`, read from the part of the file right after this one's (with
    /// keepLosses()), as if they had been observed here one after another.
    void append(const ColumnStats& later);

    uint64_t values() const { return values_; }
    uint64_t empty() const { return empty_; }
    int longestChars() const { return static_cast<int>(maxChars_); }
    int longestBytes() const { return static_cast<int>(maxBytes_); }

  private:
    /// Keeps the types among `exact_` whose writing gives `text` back: `plainWhole` when it is
    /// a whole number that a real reads exactly, `dates` what each date format read from it
    /// (by the format's number) for the date types among `exact_`.
    void observeWriting(std::string_view text, bool plainWhole, const DateRead* dates);
    /// The type `candidates` give, with `width` for the values' widest text.
    ColumnType typeOf(unsigned candidates, int width) const;

    /// A value that some types read but would write otherwise, and those types.
    struct Loss {
        unsigned types;
        std::string text;
    };

    unsigned candidates_ = kAnyType;
    unsigned exact_ = kAnyType;  ///< of the candidates, those that write every value back
    std::string lostText_;       ///< the first value a candidate would write otherwise
    std::string lostWritten_;    ///< how it would be written
    /// The first value no type read that read every value before it (some did), and the type
    /// those values had: why a column of typed values is a string.
    std::string unreadText_;
    std::string unreadAs_;
    /// The first value that the sources read as a number but that no number type keeps as it
    /// stands (`007`, `+1.5`, `.5`), and the text it would be written as.
    std::string numberLikeText_;
    std::string numberLikeWritten_;
    uint64_t typedValues_ = 0;  ///< values read while some type still read every one
    /// With keepLosses_: every value that some types read before it did not, with those types
    /// and the values before it in this part (at most one per type: the types only go).
    struct Narrowing {
        unsigned types;
        uint64_t before;
        std::string text;
    };
    std::vector<Narrowing> narrowings_;
    std::vector<Loss> losses_;  ///< with keepLosses_: every value that lost types, in order
    bool keepLosses_ = false;
    uint64_t values_ = 0;
    uint64_t empty_ = 0;
    size_t maxBytes_ = 0;
    size_t maxChars_ = 0;
    int realWidth_ = 0;      ///< longest real as written
    bool dateTime_ = false;  ///< some date has a time of day
};

/// `text` read as the type `bit` (one of TypeBits) as a source reads it, then written as a
/// destination writes it; empty when it does not read as that type.
std::string writtenAs(std::string_view text, unsigned bit);

/// MAX_LENGTH for a string column whose longest value has `longest` characters: room for
/// values somewhat longer than any seen.
int maxLengthWithHeadroom(int longest);

}  // namespace textjob::infer
