// Records of delimited text whose quoted fields may hold line ends: the reader's readRecord().

#include <string>

#include "mvb/parse.h"
#include "txtfile_reader.h"

namespace mvb::txt {
namespace {

constexpr unsigned kCr = 0x0Du;
constexpr unsigned kLf = 0x0Au;

}  // namespace

bool TextReader::keepLineEnd(size_t at, bool keep, size_t* next) {
    size_t length = unit_;
    if (unitAt(at) == kCr) {
        if (end_ - at < 2 * unit_ && !eof_) {
            // Read on to see whether an LF follows; the fill keeps the record from pos_ on.
            const size_t offset = at - pos_;
            if (!fill(end_ - pos_ + unit_)) {
                return false;
            }
            at = pos_ + offset;
        }
        if (end_ - at >= 2 * unit_ && unitAt(at + unit_) == kLf) {
            length += unit_;
        }
        if (keep) {
            out_.append(length > unit_ ? "\r\n" : "\r", length / unit_);
        }
    } else if (keep) {
        out_.append("\n", 1);
    }
    ++linesDone_;
    *next = at + length;
    return true;
}

int TextReader::unclosedQuote() {
    return fail("file \"" + path_ +
                "\" ends inside a quoted value: the record that starts at line " +
                std::to_string(recordLine_) +
                " has an opening quote that is never closed (or set NEWLINES_IN_VALUES false to "
                "read quotes within a line only)");
}

int TextReader::readRecord(const MvbRecordQuoting& quoting, MvbTextSpan* record, bool* present) {
    if (!beginTextRead(record, present)) [[unlikely]] {
        return -1;
    }
    // UTF-8 records that need no decoding are handed out of the buffer, line ends and all: the
    // record stays in the buffer from pos_ on while later lines are read behind it.
    const bool inPlace = utf8_ && out_.size() == 0;
    recordLine_ = linesDone_ + 1;
    struct RecordEnd {
        uint64_t& line;
        ~RecordEnd() { line = 0; }
    } recordEnd{recordLine_};

    size_t scan = 0;      // where the current physical line starts, from pos_
    size_t searched = 0;  // how far from pos_ no line end was found
    bool inside = false;
    for (;;) {
        size_t lineEnd = 0;
        for (;;) {
            lineEnd = findLineEnd(pos_ + std::max(scan, searched), end_);
            if (lineEnd < end_ || eof_) {
                break;
            }
            searched = end_ - pos_ - (bufferOffset_ + end_) % unit_;
            if (!fill(end_ - pos_ + unit_)) {
                return -1;
            }
        }
        const size_t from = pos_ + scan;
        if (lineEnd == end_ && from == end_) {
            if (inside) {
                return unclosedQuote();
            }
            if (scan == 0 && out_.size() == 0) {
                return 0;  // the end of the file
            }
        }
        const char* text = buffer_.get() + from;
        size_t length = lineEnd - from;
        if (utf8_) {
            if (lineEnd > validEnd_) [[unlikely]] {
                return decodeError(validEnd_);
            }
            if (!inPlace) {
                const size_t before = out_.size();
                out_.append(text, length);
                text = out_.data() + before;
            }
        } else {
            const size_t before = out_.size();
            if (decode(from, lineEnd, CutMode::Strict, true) == kFailed) {
                return -1;
            }
            text = out_.data() + before;
            length = out_.size() - before;
        }
        inside = mvs_record_continues(text, static_cast<int>(length), inside, quoting.delimiterCode,
                                      quoting.quoteCode, quoting.parseFlags);
        if (!inside || lineEnd == end_) {
            if (inside) {
                return unclosedQuote();
            }
            const size_t start = pos_;
            if (lineEnd < end_) {
                consumeLineEnd(lineEnd);
            } else {
                pos_ = lineEnd;
                ++linesDone_;
            }
            lineEnd_ = pos_;
            lineEndFound_ = false;
            *present = true;
            if (inPlace) {
                buffer_[lineEnd] = '\0';
                record->text = buffer_.get() + start;
                record->bytes = static_cast<int>(lineEnd - start);
            } else {
                record->bytes = static_cast<int>(out_.size());
                record->text = out_.terminated();
            }
            return record->bytes;
        }
        size_t next = 0;
        if (!keepLineEnd(lineEnd, !inPlace, &next)) {
            return -1;
        }
        scan = next - pos_;
    }
}

}  // namespace mvb::txt
