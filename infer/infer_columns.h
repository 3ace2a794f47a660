#pragma once

// The header line and the column names: whether the first record names the columns, and names
// made unique and non-empty.

#include <string>
#include <string_view>
#include <vector>

#include "infer_layout.h"
#include "infer_values.h"

namespace textjob::infer {

struct HeaderDecision {
    bool header = false;
    std::string why;
    bool unsure = false;  ///< nothing in the data decided it
};

/// Decides whether `first` (the first record's values) is a header line, from the statistics
/// of the records after it (`rest`, one per column; `restRows` records).
HeaderDecision decideHeader(const std::vector<std::string>& first,
                            const std::vector<ColumnStats>& rest, uint64_t restRows);

/// Field names from header texts: blanks trimmed, an empty one `column_N` (N from 1), a
/// repeated one (in any case) `name_2`, `name_3`, ….
std::vector<std::string> uniqueNames(const std::vector<std::string>& headings);

/// How a note on one column begins: "column NAME: …".
inline constexpr std::string_view kColumnNoteStart = "column ";

/// The column `name`, showing `heading`, as `stats` saw its values: its type under `types`,
/// its widths and counts. A note on why it did not get a likelier type goes to `notes`. The
/// caller adds what its kind of file needs (MAX_LENGTH, or the column's place in the line).
ColumnLayout observedColumn(std::string name, std::string heading, const ColumnStats& stats,
                            TypeMode types, std::vector<std::string>& notes);

/// The text without blanks and tabs at its edges.
std::string trimBlanks(const std::string& text);

}  // namespace textjob::infer
