#pragma once

// The fields of a delimited record as the delimited source reads them: split by the runtime's
// own splitter, with where each field stood in the record, so that detection can weigh quotes
// and blanks without a reading of its own.

#include <cstddef>
#include <string_view>
#include <vector>

#include "mvb/parse.h"

namespace textjob::infer {

/// How the fields of a line are separated.
struct Dialect {
    int delimiter = ',';      ///< code point
    int quote = '"';          ///< code point; 0 for none
    bool keepBlanks = false;  ///< blanks and tabs around values are kept
};

/// Where one field stood in its record (byte offsets).
struct FieldSpan {
    size_t begin = 0;    ///< just after the delimiter before it (0 for the first field)
    size_t valueAt = 0;  ///< its value's first byte: after leading blanks and an opening quote
    size_t end = 0;      ///< the delimiter after it, or the record's end
    bool quoted = false;
    bool cleanClose = false;  ///< quoted, and the quote closes right before `end` (blanks apart)
};

/// Splits records with the runtime's splitter, as the delimited source does. Memory is kept
/// from record to record.
class RecordSplitter {
  public:
    /// Splits `record`; the fields stay valid until the next call. Returns the field count.
    int split(std::string_view record, const Dialect& dialect);
    int count() const { return static_cast<int>(views_.size()); }
    std::string_view field(int i) const { return views_[static_cast<size_t>(i)]; }
    const FieldSpan& span(int i) const { return spans_[static_cast<size_t>(i)]; }
    /// Whether a quoted field of the last split closes with text after it, or not at all: in
    /// a record joined from several lines, the work of a stray quote rather than of a value
    /// that holds line breaks.
    bool closesBadly() const {
        for (const FieldSpan& s : spans_) {
            if (s.quoted && !s.cleanClose) return true;
        }
        return false;
    }

  private:
    /// Makes the splitter ready for `dialect` when the last record had another one.
    void prepare(const Dialect& dialect);
    void placeFields(std::string_view record, const Dialect& dialect);

    // The dialect the splitter is ready for: the runtime's plan, and the delimiter and the
    // quote as UTF-8 (the quote empty when there is none).
    bool prepared_ = false;
    Dialect dialect_;
    MvsSplitPlan plan_{};
    char delimiterBytes_[5] = {};
    char quoteBytes_[5] = {};
    std::string_view delimiter_;
    std::string_view quote_;

    std::vector<char> scratch_;
    std::vector<char*> fields_ = std::vector<char*>(64);
    std::vector<int> lengths_ = std::vector<int>(64);
    std::vector<std::string_view> views_;  ///< the fields of the last split
    std::vector<FieldSpan> spans_;
};

/// True when `text` would leave a quoted value open at its end (the record continues on the
/// next line), as the runtime's record reader decides it.
bool leavesQuoteOpen(std::string_view text, const Dialect& dialect, bool continuing);

/// The UTF-8 bytes of a code point, as a string.
std::string_view utf8Of(int code, char (&buffer)[5]);

/// Whether `c` is a blank the splitter trims around values read with `dialect`.
inline bool isTrimmedBlank(char c, const Dialect& dialect) {
    return (c == ' ' && dialect.delimiter != ' ') || (c == '\t' && dialect.delimiter != '\t');
}

}  // namespace textjob::infer
