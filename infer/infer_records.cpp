#include "infer_records.h"

#include <algorithm>
#include <string>
#include <string_view>

#include "mvb/parse.h"
#include "mvb/string.h"
#include "mvb/txtfile.h"
#include "mvb/types.h"

namespace textjob::infer {
namespace {

MvbTxtFile* openText(const std::string& path, const EncodingChoice& encoding) {
    MvbString error;
    const uint32_t flags = (encoding.byteOrderMark ? MVB_FLAG_READ_BOM : 0u) |
                           (encoding.nulsAsBlanks ? MVB_FLAG_REPLACE_NULS : 0u);
    MvbTxtFile* file = mvbTxtFileOpen(path.c_str(), MVB_OPEN_READ, encoding.number, flags, error);
    if (file == nullptr) throw InferError(std::string(error.view()));
    return file;
}

std::string lastError(MvbTxtFile* file) {
    MvbString error;
    file->getLastError(error);
    return std::string(error.view());
}

/// Splits `text` into lines at LF, CR LF and CR; a line end cut off by the end of the text
/// (a CR that may be the first half of a CR LF) ends nothing.
void splitLines(const std::string& text, bool whole, size_t maxLines,
                std::vector<SampleLine>& lines) {
    size_t at = 0;
    while (at < text.size() && lines.size() < maxLines) {
        const size_t stop = text.find_first_of("\r\n", at);
        if (stop == std::string::npos) {
            if (whole) lines.push_back(SampleLine{at, text.size() - at, LineEnd::None});
            return;
        }
        SampleLine line{at, stop - at, LineEnd::Lf};
        if (text[stop] == '\r') {
            if (stop + 1 == text.size() && !whole) return;
            line.end =
                stop + 1 < text.size() && text[stop + 1] == '\n' ? LineEnd::CrLf : LineEnd::Cr;
        }
        lines.push_back(line);
        at = stop + (line.end == LineEnd::CrLf ? 2 : 1);
    }
}

}  // namespace

Sample readSample(const std::string& path, const EncodingChoice& encoding, uint64_t byteLimit,
                  size_t maxLines) {
    MvbTxtFile* file = openText(path, encoding);
    Sample sample;
    constexpr int kChunk = 1 << 16;
    // The limit ends the sample once it holds two whole lines at least (a header and a row),
    // however long they are, up to the longest record a run reads (a longer one fails below).
    size_t lineFeeds = 0;
    size_t returns = 0;
    size_t lineStart = 0;  ///< where the last line begun in the sample's text begins
    try {
        for (;;) {
            if (byteLimit != 0 && file->getPosition() >= byteLimit &&
                std::max(lineFeeds, returns) >= 2) {
                break;
            }
            MvbTextSpan span;
            const int got = file->readWhole(kChunk, &span);
            if (got < 0) throw InferError(lastError(file));
            if (got == 0) {
                sample.whole = true;
                break;
            }
            sample.text.append(span.text, static_cast<size_t>(span.bytes));
            lineFeeds += static_cast<size_t>(std::count(span.text, span.text + span.bytes, '\n'));
            returns += static_cast<size_t>(std::count(span.text, span.text + span.bytes, '\r'));
            // A line longer than a run reads at once fails here as the run would: holding
            // more of it would take memory without bound (a small .gz may hold gigabytes).
            const std::string_view chunk(span.text, static_cast<size_t>(span.bytes));
            if (const size_t last = chunk.find_last_of("\r\n"); last != std::string_view::npos)
                lineStart = sample.text.size() - chunk.size() + last + 1;
            if (sample.text.size() - lineStart > kMvbLongestRecordBytes) {
                throw InferError("line " + std::to_string(std::max(lineFeeds, returns) + 1) +
                                 " is longer than " + std::to_string(kMvbLongestRecordBytes) +
                                 " bytes, the most that is read at once");
            }
            // Enough lines already: the rest of the file is not looked at.
            if (lineFeeds > maxLines) break;
        }
    } catch (...) {
        file->close();
        throw;
    }
    file->close();
    splitLines(sample.text, sample.whole, maxLines, sample.lines);
    if (sample.lines.size() == maxLines) sample.whole = false;
    if (!sample.lines.empty() && !sample.whole) {
        const SampleLine& last = sample.lines.back();
        sample.text.resize(last.begin + last.length + (last.end == LineEnd::CrLf ? 2 : 1));
    }
    return sample;
}

void countLineEnd(const SampleLine& line, LineEndCounts& counts) {
    switch (line.end) {
        case LineEnd::Lf:
            ++counts.lf;
            break;
        case LineEnd::CrLf:
            ++counts.crlf;
            break;
        case LineEnd::Cr:
            ++counts.cr;
            break;
        case LineEnd::None:
            break;
    }
}

RecordReader::RecordReader(const std::string& path, const EncodingChoice& encoding,
                           uint64_t byteLimit)
    : file_(openText(path, encoding)), byteLimit_(byteLimit) {}

RecordReader::~RecordReader() {
    if (file_ != nullptr) file_->close();
}

void RecordReader::fail() {
    throw InferError(lastError(file_));
}

bool RecordReader::atLimit() {
    if (ended_) return true;
    // As the sample does, the limit leaves two lines at least to read, however long they are
    // (or, compressed, however many bytes of the file the first of them took).
    if (byteLimit_ == 0 || file_->getPosition() < byteLimit_ || read_ < 2) return false;
    ended_ = true;
    MvbTextSpan rest;
    bool present = false;
    // Only say "stopped early" when something is left to read.
    if (file_->readLine(-1, &rest, &present) >= 0 && present) stoppedEarly_ = true;
    return true;
}

bool RecordReader::nextLine(std::string_view& line) {
    if (atLimit()) return false;
    MvbTextSpan span;
    bool present = false;
    const int bytes = file_->readLine(-1, &span, &present);
    if (bytes < 0) fail();
    if (!present) {
        ended_ = true;
        return false;
    }
    ++read_;
    line = std::string_view(span.text, static_cast<size_t>(bytes));
    return true;
}

namespace {

MvbRecordQuoting quotingOf(const Dialect& dialect) {
    MvbRecordQuoting quoting;
    quoting.delimiterCode = dialect.delimiter;
    quoting.quoteCode = dialect.quote;
    quoting.parseFlags = dialect.keepBlanks ? MVS_PARSE_KEEP_BLANKS : 0u;
    return quoting;
}

}  // namespace

uint64_t RecordReader::position() const {
    return file_->getPosition();
}

void RecordReader::readRange(uint64_t begin, uint64_t end) {
    if (!file_->readRange(begin, end)) fail();
}

uint64_t RecordReader::recordStartAfter(uint64_t offset, const Dialect* dialect) {
    MvbRecordQuoting quoting;
    if (dialect != nullptr) quoting = quotingOf(*dialect);
    uint64_t start = 0;
    const int found =
        file_->findRecordStart(offset, dialect != nullptr ? &quoting : nullptr, &start);
    if (found < 0) fail();
    return found == 1 ? start : 0;
}

bool RecordReader::nextRecord(const Dialect& dialect, std::string_view& record) {
    if (atLimit()) return false;
    const MvbRecordQuoting quoting = quotingOf(dialect);
    MvbTextSpan span;
    bool present = false;
    const int bytes = file_->readRecord(quoting, &span, &present);
    if (bytes < 0) fail();
    if (!present) {
        ended_ = true;
        return false;
    }
    ++read_;
    record = std::string_view(span.text, static_cast<size_t>(bytes));
    return true;
}

}  // namespace textjob::infer
