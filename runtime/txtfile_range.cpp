// Reading a byte range of a text file: finding where a record starts near a byte offset, and
// reading from one record start to another, so that several readers can share one file.

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

#include "mvb/parse.h"
#include "txtfile_reader.h"

namespace mvb::txt {
namespace {

constexpr unsigned kLf = 0x0Au;
constexpr unsigned kCr = 0x0Du;
constexpr size_t kScanBytes = size_t{64} << 10;
/// The piece a skim for a quote reads at a time.
constexpr size_t kSkimBytes = size_t{1} << 20;

/// One reading of where records start from a line on: that the line begins a record, or that
/// it goes on inside a quoted value of a record begun before it.
struct Hypothesis {
    bool inside = false;
    bool alive = true;
    uint64_t insideSince = 0;          ///< where the record it is inside began (or the scan)
    uint64_t firstStart = UINT64_MAX;  ///< the first record start it saw
};

}  // namespace

size_t TextReader::roomBefore(const char* into, size_t room) const noexcept {
    if (scanning_) {
        room = std::min(room, kScanBytes);
    }
    if (limit_ == UINT64_MAX) {
        return room;
    }
    const uint64_t at = bufferOffset_ + static_cast<uint64_t>(into - buffer_.get());
    return at >= limit_ ? 0 : static_cast<size_t>(std::min<uint64_t>(room, limit_ - at));
}

bool TextReader::restartAt(uint64_t offset) {
    if (savedAt_ != kFailed) {
        buffer_[savedAt_] = savedByte_;
        savedAt_ = kFailed;
    }
    if (::lseek(fd_, static_cast<off_t>(offset), SEEK_SET) < 0) {
        systemError(errno);
        return false;
    }
    bufferOffset_ = offset;
    pos_ = end_ = validEnd_ = 0;
    lineEnd_ = 0;
    lineEndFound_ = false;
    eof_ = false;
    pendingCr_ = false;
    pendingCut_ = 0;
    sawCr_ = false;
    lastCr_ = 0;
    noLfFrom_ = noLfTo_ = 0;
    linesDone_ = 0;
    out_.clear();
    if (!utf8_) {
        converter_.reset();
    }
    return true;
}

bool TextReader::lineStartAfter(uint64_t offset, uint64_t* start) {
    // Units count from the data start; the unit before the first one that may start a line
    // tells whether a line ended just before it.
    const uint64_t units = (offset - dataStart_ + unit_ - 1) / unit_;
    uint64_t at = dataStart_ + (units - 1) * unit_;
    const auto bytes = std::make_unique_for_overwrite<unsigned char[]>(kScanBytes);
    bool afterCr = false;
    while (at < size_) {
        const ssize_t got = ::pread(fd_, bytes.get(), kScanBytes, static_cast<off_t>(at));
        if (got < 0) {
            if (errno == EINTR) continue;
            systemError(errno);
            return false;
        }
        const size_t whole = static_cast<size_t>(got) / unit_ * unit_;
        if (whole == 0) break;
        for (size_t i = 0; i < whole; i += unit_) {
            const unsigned unit = unitValue(bytes.get() + i, unit_, encoding_->bigEndian);
            if (afterCr) {
                *start = at + i + (unit == kLf ? unit_ : 0);
                return true;
            }
            if (unit == kLf) {
                *start = at + i + unit_;
                return true;
            }
            afterCr = unit == kCr;
        }
        at += whole;
    }
    *start = size_;
    return true;
}

bool TextReader::lineHoldingAfter(uint64_t offset, char byte, uint64_t limit, uint64_t* start) {
    const auto bytes = std::make_unique_for_overwrite<char[]>(kSkimBytes);
    uint64_t lineBegin = offset;
    // Small pieces first: in a file of many quoted values the next one is near.
    size_t piece = size_t{4} << 10;
    for (uint64_t at = offset; at < limit; piece = std::min(2 * piece, kSkimBytes)) {
        const auto want = static_cast<size_t>(std::min<uint64_t>(piece, limit - at));
        const ssize_t got = ::pread(fd_, bytes.get(), want, static_cast<off_t>(at));
        if (got < 0) {
            if (errno == EINTR) continue;
            systemError(errno);
            return false;
        }
        if (got == 0) break;
        const auto size = static_cast<size_t>(got);
        const void* found = std::memchr(bytes.get(), static_cast<unsigned char>(byte), size);
        const size_t before =
            found != nullptr ? static_cast<size_t>(static_cast<const char*>(found) - bytes.get())
                             : size;
        // The last line end before the byte (or in the piece) begins the line that holds it.
        for (const char end : {'\n', '\r'}) {
            if (const void* last = ::memrchr(bytes.get(), end, before)) {
                const uint64_t after =
                    at + static_cast<uint64_t>(static_cast<const char*>(last) - bytes.get()) + 1;
                lineBegin = std::max(lineBegin, after);
            }
        }
        if (found != nullptr) {
            *start = lineBegin;
            return true;
        }
        at += size;
    }
    *start = limit;
    return true;
}

int TextReader::findRecordStart(uint64_t offset, const MvbRecordQuoting* quoting, uint64_t* start) {
    if (failed_) {
        return -1;
    }
    if (!movable_) {
        return 0;
    }
    // Offsets here are the file's own, whatever range an earlier readRange() set.
    limit_ = UINT64_MAX;
    rangeBegin_ = 0;
    if (offset <= dataStart_ || offset >= size_) {
        *start = offset <= dataStart_ ? dataStart_ : size_;
        return 1;
    }
    uint64_t first = 0;
    if (!lineStartAfter(offset, &first)) {
        return -1;
    }
    if (quoting == nullptr || quoting->quoteCode == 0 || first >= size_) {
        *start = first;
        return 1;
    }
    // The line at `first` either begins a record or goes on inside a quoted value. Both
    // readings are followed line by line with the rule that reads records; a line start where
    // both are outside quotes begins a record whichever holds. A reading dies when it stays
    // inside quotes longer than the longest record that can be read, or to the end of the
    // file, since reading the whole file would then fail; the other one then decides.
    if (!restartAt(first)) {
        return -1;
    }
    // Each part may look for every part's start: read no more than the lines it takes.
    scanning_ = true;
    struct Scanning {
        bool& flag;
        ~Scanning() { flag = false; }
    } scanning{scanning_};
    Hypothesis readings[2];
    readings[0].firstStart = first;
    readings[1].inside = true;
    readings[1].insideSince = first;
    const uint64_t longest = tuning_.maxRecordBytes;
    // Lines without the quote change neither reading: the one outside stays outside and the
    // one inside stays inside. In UTF-8 text such lines are skimmed as raw bytes, so that a
    // file with few quoted values is not read line by line to its end (or to the longest
    // record) for every part's start; a damaged byte there is left to the part that reads it.
    const bool skims =
        utf8_ && quoting->quoteCode < 0x80 && (quoting->parseFlags & MVS_PARSE_UNESCAPE) == 0;
    uint64_t lineStart = first;
    for (;;) {
        if (skims && readings[0].alive && !readings[0].inside &&
            readings[0].firstStart != UINT64_MAX && readings[1].alive && readings[1].inside) {
            uint64_t next = 0;
            if (!lineHoldingAfter(lineStart, static_cast<char>(quoting->quoteCode), size_, &next)) {
                return -1;
            }
            if (next > lineStart) {
                if (next >= size_) {
                    // The end of the file: the reading inside quotes cannot be the file's.
                    *start = readings[0].firstStart;
                    return 1;
                }
                if (next - readings[1].insideSince > longest) readings[1].alive = false;
                if (!restartAt(next)) return -1;
                lineStart = next;
                continue;
            }
        }
        if (readings[0].alive && readings[1].alive && !readings[0].inside && !readings[1].inside) {
            *start = lineStart;
            return 1;
        }
        for (const Hypothesis& h : readings) {
            const Hypothesis& other = &h == &readings[0] ? readings[1] : readings[0];
            if (h.alive && !other.alive && h.firstStart != UINT64_MAX) {
                *start = h.firstStart;
                return 1;
            }
        }
        if ((!readings[0].alive && !readings[1].alive) || lineStart - first > 2 * longest) {
            return 0;
        }
        MvbTextSpan line;
        bool present = false;
        const int bytes = readLine(&line, &present);
        if (bytes < 0) {
            return -1;
        }
        if (bytes == 0 && !present) {
            // The end of the file: a reading still inside quotes cannot be the file's.
            for (Hypothesis& h : readings) {
                if (h.inside) h.alive = false;
            }
            if (!readings[0].alive && !readings[1].alive) return 0;
            *start = readings[0].alive ? readings[0].firstStart : readings[1].firstStart;
            if (*start == UINT64_MAX) *start = size_;
            return 1;
        }
        const uint64_t lineBegin = lineStart;
        lineStart = bufferOffset_ + pos_;
        for (Hypothesis& h : readings) {
            if (!h.alive) continue;
            const bool wasInside = h.inside;
            h.inside = mvs_record_continues(line.text, bytes, h.inside, quoting->delimiterCode,
                                            quoting->quoteCode, quoting->parseFlags);
            if (!h.inside && h.firstStart == UINT64_MAX) h.firstStart = lineStart;
            if (h.inside && !wasInside) h.insideSince = lineBegin;
            if (h.inside && lineStart - h.insideSince > longest) h.alive = false;
        }
    }
}

bool TextReader::readRange(uint64_t begin, uint64_t end) {
    if (failed_) {
        return false;
    }
    if (!movable_) {
        fail("cannot read a part of file \"" + path_ +
             "\": only a regular file that is not compressed can be read from a byte position");
        return false;
    }
    const uint64_t from = std::max(begin, dataStart_);
    if (!restartAt(from)) {
        return false;
    }
    rangeBegin_ = from;
    limit_ = std::max(end, from);
    return true;
}

}  // namespace mvb::txt
