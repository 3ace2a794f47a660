#pragma once

// Reads a text file for detection through the runtime's text file: decoded UTF-8 lines, and
// records that run on over line breaks inside quoted values.

#include <cstdint>
#include <string>
#include <string_view>

#include "infer_fields.h"
#include "infer_layout.h"

class MvbTxtFile;

namespace textjob::infer {

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
    /// The next record: a line, joined with the lines after it while a quoted value is open.
    /// `lines` receives how many lines it took. False at the end.
    bool nextRecord(const Dialect& dialect, std::string_view& record, int& lines);

    /// The line end put between the lines of a record (the reader drops line ends; the
    /// source keeps them as they stand in the file, so the longest a file has is used).
    void setLineBreak(std::string_view lineBreak) { lineBreak_ = lineBreak; }
    /// Lines read so far.
    uint64_t linesRead() const { return lines_; }
    /// True when the byte limit stopped reading before the end of the file.
    bool stoppedEarly() const { return stoppedEarly_; }
    /// True when the last record ended inside a quoted value at the end of the file.
    bool quoteOpenAtEnd() const { return quoteOpenAtEnd_; }

  private:
    MvbTxtFile* file_ = nullptr;
    uint64_t byteLimit_ = 0;
    uint64_t lines_ = 0;
    bool stoppedEarly_ = false;
    bool ended_ = false;
    bool quoteOpenAtEnd_ = false;
    std::string_view lineBreak_ = "\n";
    std::string joined_;  ///< a record of several lines; its capacity is reused
};

}  // namespace textjob::infer
