#pragma once

// The delimiter, the quote, blanks around values, quoted line breaks and head lines, decided
// from the first lines of a file.

#include <string>
#include <vector>

#include "infer_fields.h"

namespace textjob::infer {

/// One record of the sample: its fields as counted with the chosen dialect.
struct SampleRecord {
    int firstLine = 0;  ///< index of its first line in the sample
    int lines = 1;
    int fields = 0;
};

struct DialectGuess {
    Dialect dialect;
    int columns = 1;                ///< the field count most records have
    bool newlinesInValues = false;  ///< a quoted value in the sample holds a line break
    /// True when blanks at the edges of values were judged to be layout (a blank after every
    /// delimiter, or blanks before quotes): they are dropped on purpose.
    bool blanksAreLayout = false;
    int headLines = 0;  ///< lines above the first record with the usual field count
    std::vector<SampleRecord> records;
    std::vector<std::string> reasons;
    std::vector<std::string> notes;
};

/// Decides the dialect from `lines`, the first lines of the file.
DialectGuess detectDialect(const std::vector<std::string>& lines);

/// Printable text of a delimiter or quote: ',' or TAB or U+001F.
std::string describeCharacter(int code);

}  // namespace textjob::infer
