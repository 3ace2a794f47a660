#pragma once

// The delimiter, the quote, blanks around values, quoted line breaks and head lines, decided
// from the head of a file.

#include <string>
#include <string_view>
#include <vector>

#include "infer_fields.h"
#include "infer_records.h"

namespace textjob::infer {

/// One record of the sample as the chosen dialect reads it.
struct SampleRecord {
    int firstLine = 0;  ///< index of its first line in the sample
    int lines = 1;
    int fields = 0;
    int filled = 0;  ///< fields that are not empty
};

struct DialectGuess {
    Dialect dialect;
    int columns = 1;                ///< the field count most records have
    bool newlinesInValues = false;  ///< a quoted value in the sample holds a line break
    uint64_t strayQuotes = 0;       ///< sample lines whose quote closes on no later line cleanly
    /// True when blanks at the edges of values were judged to be layout (a blank after every
    /// delimiter, or blanks before quotes): they are dropped on purpose.
    bool blanksAreLayout = false;
    int headLines = 0;       ///< lines above the first record of the body (the header or data)
    size_t headRecords = 0;  ///< records above the body
    std::vector<SampleRecord> records;  ///< every record of the sample, head records first
    LineEndCounts lineEnds;             ///< line ends that end records (not those in values)
    std::vector<std::string> reasons;
    std::vector<std::string> notes;
};

/// What becomes of a line whose quote closes on no later line cleanly, as the notes say it:
/// read alone when values hold no line break, or with NEWLINES_IN_VALUES true, joined with the
/// lines after it up to the next quote.
inline constexpr std::string_view kStrayLineAlone =
    "such a line is read as a row alone, its value running to the line's end";
inline constexpr std::string_view kStrayLineJoined =
    "with NEWLINES_IN_VALUES true (other values hold line breaks) the run reads such a value on "
    "over the lines after it, up to the next quote: check the rows there, or fix the quote";

/// Decides the dialect from the head of the file.
DialectGuess detectDialect(const Sample& sample, int givenDelimiter = 0);

/// Printable text of a delimiter or quote: ',' or TAB or U+001F.
std::string describeCharacter(int code);

}  // namespace textjob::infer
