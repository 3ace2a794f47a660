#pragma once

// Where the columns of fixed-width text begin, from the characters of its first lines: a rule
// of dashes under the header, else blanks at the same place on every line, and the start of
// right-aligned numbers after left-aligned text.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace textjob::infer {

/// One character of a line: where it starts in bytes of the file and in the UTF-8 text.
struct Placed {
    int code = 0;
    size_t filePos = 0;
    size_t textPos = 0;
};

/// A line with its characters placed; `width` is its width in bytes of the file.
struct PlacedLine {
    std::vector<Placed> chars;
    size_t width = 0;
};

/// Places the characters of `line` read in the encoding numbered `encoding`.
void place(std::string_view line, int encoding, PlacedLine& out);

struct FixedColumns {
    std::vector<size_t> starts;    ///< byte positions where columns begin, ascending, from 0
    size_t headLines = 0;          ///< lines above the body (titles, a rule, the header above it)
    bool headerAboveRule = false;  ///< the line above a rule names the columns
    std::string why;               ///< how the columns were found, in a few words
    /// The lines below the head are of one length in characters but not in bytes (UTF-8
    /// letters beyond ASCII in a report lined up by characters): as positions are bytes, values
    /// after such a character are cut in the wrong places.
    bool alignedByCharacters = false;
};

/// The columns of `lines` (the head of a file).
FixedColumns findFixedColumns(const std::vector<PlacedLine>& lines);

}  // namespace textjob::infer
