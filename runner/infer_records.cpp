#include "infer_records.h"

#include "mvb/string.h"
#include "mvb/txtfile.h"
#include "mvb/types.h"

namespace textjob::infer {
namespace {

/// A quoted value may hold many lines, but one that has not closed after this many bytes is
/// a quote that never closes: detection stops rather than hold the rest of the file.
constexpr size_t kMaxRecordBytes = 64u << 20;

}  // namespace

RecordReader::RecordReader(const std::string& path, const EncodingChoice& encoding,
                           uint64_t byteLimit)
    : byteLimit_(byteLimit) {
    MvbString error;
    const uint32_t flags = (encoding.byteOrderMark ? MVB_FLAG_READ_BOM : 0u) |
                           (encoding.nulsAsBlanks ? MVB_FLAG_REPLACE_NULS : 0u);
    file_ = mvbTxtFileOpen(path.c_str(), MVB_OPEN_READ, encoding.number, flags, error);
    if (file_ == nullptr) throw InferError(std::string(error.view()));
}

RecordReader::~RecordReader() {
    if (file_ != nullptr) file_->close();
}

bool RecordReader::nextLine(std::string_view& line) {
    if (ended_) return false;
    if (byteLimit_ != 0 && file_->getPosition() >= byteLimit_) {
        ended_ = true;
        MvbTextSpan rest;
        bool present = false;
        // Only say "stopped early" when something is left to read.
        if (file_->readLine(-1, &rest, &present) >= 0 && present) stoppedEarly_ = true;
        return false;
    }
    MvbTextSpan span;
    bool present = false;
    const int bytes = file_->readLine(-1, &span, &present);
    if (bytes < 0) {
        MvbString error;
        file_->getLastError(error);
        throw InferError(std::string(error.view()));
    }
    if (!present) {
        ended_ = true;
        return false;
    }
    ++lines_;
    line = std::string_view(span.text, static_cast<size_t>(bytes));
    return true;
}

bool RecordReader::nextRecord(const Dialect& dialect, std::string_view& record, int& lines) {
    std::string_view line;
    if (!nextLine(line)) return false;
    lines = 1;
    if (!leavesQuoteOpen(line, dialect, false)) {
        record = line;
        return true;
    }
    joined_.assign(line);
    for (;;) {
        if (!nextLine(line)) {
            quoteOpenAtEnd_ = !stoppedEarly_;
            break;
        }
        ++lines;
        joined_ += lineBreak_;
        joined_ += line;
        if (!leavesQuoteOpen(line, dialect, true)) break;
        if (joined_.size() > kMaxRecordBytes) {
            throw InferError("a quoted value that begins " + std::to_string(lines - 1) +
                             " lines before line " + std::to_string(lines_) +
                             " does not close within 64 MiB: the quote character is not a "
                             "quote here (set QUOTE by hand)");
        }
    }
    record = joined_;
    return true;
}

}  // namespace textjob::infer
