#pragma once

// A scan of delimited text that follows the splitter's rules (a quote opens a value only at the
// start of a field; inside, a doubled quote is one quote and the delimiter is text), without
// copying anything. It tells where a record ends when a quoted value holds a line break, and
// counts what dialect detection weighs: fields, quoted values, blanks around values.

#include <string_view>

namespace textjob::infer {

/// How the fields of a line are separated.
struct Dialect {
    int delimiter = ',';      ///< code point
    int quote = '"';          ///< code point; 0 for none
    bool keepBlanks = false;  ///< blanks and tabs around values are kept
};

/// What scanning one record found. Counts add up over the pieces of a record and over records.
struct FieldScan {
    int fields = 0;             ///< fields begun
    int quoted = 0;             ///< fields that begin with the quote
    int blanksBeforeQuote = 0;  ///< quoted fields with blanks before their quote
    int edgeBlanks = 0;         ///< unquoted values with a blank or tab at either edge
    int afterDelimiter = 0;     ///< non-empty unquoted values that follow a delimiter
    int oneBlankLead = 0;       ///< of those, the ones that begin with exactly one blank
    bool openQuote = false;     ///< the text ended inside a quoted value
};

/// Scans `text` (one line of a record). `continuing`: the line continues a quoted value that
/// the line before left open. Adds to `scan` and sets its openQuote.
void scanFields(std::string_view text, const Dialect& dialect, bool continuing, FieldScan& scan);

/// True when `text` would leave a quoted value open at its end (the record continues on the
/// next line), as the runtime's record reader decides it.
bool leavesQuoteOpen(std::string_view text, const Dialect& dialect, bool continuing);

/// The UTF-8 bytes of a code point, as a string.
std::string_view utf8Of(int code, char (&buffer)[5]);

}  // namespace textjob::infer
