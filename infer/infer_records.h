#pragma once

// Reads a text file for detection through the runtime's text file: the decoded head of the file
// with its line ends, and lines and records as the sources read them (the runtime's record
// reader joins the lines of a quoted value that holds line breaks).

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "infer_fields.h"
#include "infer_layout.h"

class MvbTxtFile;

namespace textjob::infer {

enum class LineEnd : uint8_t { None, Lf, CrLf, Cr };

/// One line of a sample: where it stands in the sample's text and how it ends.
struct SampleLine {
    size_t begin = 0;
    size_t length = 0;  ///< without its line end
    LineEnd end = LineEnd::None;
};

/// The head of a file decoded to UTF-8, cut after its last whole line.
struct Sample {
    std::string text;
    std::vector<SampleLine> lines;
    bool whole = false;  ///< the sample holds all of the file

    std::string_view line(size_t i) const {
        return {text.data() + lines[i].begin, lines[i].length};
    }
    /// The text from the start of line `first` to the end of line `last` (line ends between).
    std::string_view span(size_t first, size_t last) const {
        return {text.data() + lines[first].begin,
                lines[last].begin + lines[last].length - lines[first].begin};
    }
};

/// Reads about `byteLimit` bytes from the start of the file, and no more than `maxLines` lines.
/// Throws InferError when the file cannot be read.
Sample readSample(const std::string& path, const EncodingChoice& encoding, uint64_t byteLimit,
                  size_t maxLines);

/// Adds the line end of `line` to the counts.
void countLineEnd(const SampleLine& line, LineEndCounts& counts);

class RecordReader {
  public:
    /// Opens `path` in `encoding`. Reading stops at the first line end after `byteLimit`
    /// bytes (0: no limit). Throws InferError when the file cannot be opened.
    RecordReader(const std::string& path, const EncodingChoice& encoding, uint64_t byteLimit);
    ~RecordReader();
    RecordReader(const RecordReader&) = delete;
    RecordReader& operator=(const RecordReader&) = delete;

    /// The next line without its line end; false at the end (or the byte limit). The text
    /// stays valid until the next call. Throws InferError when reading fails.
    bool nextLine(std::string_view& line);
    /// The next record as the delimited source reads it: a line, with the lines after it
    /// while a quoted value is open, their line ends kept as they stand. False at the end.
    /// Throws InferError when reading fails or a quoted value never closes.
    bool nextRecord(const Dialect& dialect, std::string_view& record);

    /// Reads only the records that start from byte `begin` (a record start, or 0 for the start
    /// of the data) up to byte `end` (another, or the file's size). Throws InferError.
    void readRange(uint64_t begin, uint64_t end);
    /// The first byte at or after `offset` where a record of `dialect` starts (with none, a
    /// line), as a job split into parts finds it; 0 when none can be told (a compressed file,
    /// or quotes that never settle). Throws InferError when the file cannot be read.
    uint64_t recordStartAfter(uint64_t offset, const Dialect* dialect);

    /// The byte position reached.
    uint64_t position() const;

    /// Lines or records read so far.
    uint64_t read() const { return read_; }
    /// True when the byte limit stopped reading before the end of the file.
    bool stoppedEarly() const { return stoppedEarly_; }

  private:
    bool atLimit();
    [[noreturn]] void fail();

    MvbTxtFile* file_ = nullptr;
    uint64_t byteLimit_ = 0;
    uint64_t read_ = 0;
    bool stoppedEarly_ = false;
    bool ended_ = false;
};

}  // namespace textjob::infer
