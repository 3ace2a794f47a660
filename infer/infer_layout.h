#pragma once

// What `textjob infer` finds out about a text file: its encoding, its dialect, its columns and
// their types, with the reasons for each decision. Detection reads the file through the
// runtime's own text file, splitter and value parsers, so that the job it writes reads the
// file exactly as detection saw it.

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "infer_values.h"

namespace textjob::infer {

/// What `textjob infer` was asked to detect.
struct InferOptions {
    TypeMode types = TypeMode::Lossless;
    bool fixedWidth = false;   ///< fixed-width columns instead of delimited fields
    uint64_t sampleBytes = 0;  ///< read about this many bytes of the file; 0: all of it
    int headerLine = 0;        ///< the header is this line (from 1); 0: detect it
    bool noHeader = false;     ///< the file has no header line
    std::string encoding;      ///< the file's encoding, a name or number; empty: detect it
    int delimiter = 0;         ///< the file's delimiter, a character's code; 0: detect it
    /// The option of the command that asked which gives the file's encoding ("--encoding"),
    /// for advice; empty: advice names the option of each command.
    std::string encodingOption;
    /// A delimited file of at least this many bytes is read in two parts side by side (where
    /// it can be read from its middle); what is found is the same.
    uint64_t partsFromBytes = uint64_t{32} << 20;
    /// For a file named "-": a copy of standard input already made, read in its place (and
    /// standard input left alone); empty: standard input is copied here.
    std::string inputCopy;
};

/// The encoding chosen for the file.
struct EncodingChoice {
    int number = 65001;          ///< an ENCODING number
    std::string name = "UTF-8";  ///< its name, for people
    bool byteOrderMark = false;  ///< the file starts with this encoding's byte-order mark
    bool nulsAsBlanks = false;   ///< NUL bytes pad the text: read them as blanks (REPLACE_NULLS)
    std::string how;             ///< why this one, in a few words
    std::string note;            ///< what the user should know of the choice; empty: nothing
};

/// Line ends counted in the head of the file.
struct LineEndCounts {
    uint64_t lf = 0;
    uint64_t crlf = 0;
    uint64_t cr = 0;
};

/// One column as the source declares it.
struct ColumnLayout {
    std::string name;             ///< unique, non-empty field name
    std::string heading;          ///< the header line's text; the name without a header
    std::string type = "string";  ///< a runtime type name
    int maxLength = 0;            ///< MAX_LENGTH of a string, with headroom; 0 otherwise
    int longestChars = 0;         ///< the longest value seen, in characters
    int outputWidth = 1;          ///< bytes of the longest value as written (UTF-8)
    int startPos = 0;             ///< fixed width: 1-based start in bytes of the file
    int length = 0;               ///< fixed width: length in bytes of the file
    uint64_t values = 0;          ///< non-empty values seen
    uint64_t empty = 0;           ///< empty values seen
};

/// Everything detected, ready to be written as a job and explained.
struct FileLayout {
    std::string path;      ///< as the job names it; "-" for standard input
    std::string readPath;  ///< where detection reads it (a copy of standard input)
    EncodingChoice encoding;
    LineEndCounts lineEnds;      ///< line ends that end records, in the head of the file
    bool lineEndsWhole = false;  ///< the line ends were counted over the whole file
    uint64_t lineEndsBytes = 0;  ///< bytes of text the line ends were counted in
    bool fixedWidth = false;
    int delimiter = ',';            ///< code point
    int quote = '"';                ///< code point; 0 for none
    bool newlinesInValues = false;  ///< a quoted value holds a line break
    bool preserveWhitespace = false;
    bool header = false;
    int headLines = 0;    ///< lines above the header (or above the data without one)
    int skipRows = 0;     ///< head lines plus the header line
    int recordWidth = 0;  ///< fixed width: the longest line in bytes of the file
    uint64_t rows = 0;    ///< data rows read
    uint64_t fileBytes = 0;
    bool wholeFile = true;  ///< false when --sample-bytes stopped reading early
    std::vector<ColumnLayout> columns;
    /// One line per decision, "what: value (why)", in the order a person checks them.
    std::vector<std::string> reasons;
    /// Things detection was unsure of or that the job may get wrong.
    std::vector<std::string> notes;
};

/// A file that cannot be read or is not text; the text says which and why.
class InferError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

/// The most columns detection describes: each costs it about a kilobyte, and a job of more
/// fields is no longer one a person edits. Throws InferError past it.
inline constexpr size_t kMostColumns = 250000;
void refuseColumnsPastLimit(size_t columns);

/// Reads the file at `path` ("-": standard input, which is copied to a temporary file first)
/// and detects its layout. Throws InferError.
FileLayout inferLayout(const std::string& path, const InferOptions& options);

}  // namespace textjob::infer
