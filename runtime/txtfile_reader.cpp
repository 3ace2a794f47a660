#include "txtfile_reader.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <string>

#include "mvb/byte_scan.h"
#include "mvb/text_bytes.h"
#include "mvb/types.h"
#include "txtfile_wait.h"

namespace mvb::txt {
namespace {

// Bytes kept after the usable buffer: a NUL fits after the last line, and a field's text that
// readLineFields() hands out can be read as one block of TextBytes::kPaddedReadBytes.
constexpr size_t kSlack = 8 + TextBytes::kPaddedReadBytes;

constexpr unsigned kLf = 0x0Au;
constexpr unsigned kCr = 0x0Du;

bool isContinuation(char byte) noexcept {
    return (static_cast<unsigned char>(byte) & 0xC0u) == 0x80u;
}

void replaceNuls(char* bytes, size_t size) noexcept {
    char* end = bytes + size;
    while (auto* nul =
               static_cast<char*>(std::memchr(bytes, '\0', static_cast<size_t>(end - bytes)))) {
        *nul = ' ';
        bytes = nul + 1;
    }
}

/// Goes through the fields of a line of `lineBytes` bytes laid out by `starts` and `widths`
/// (see readLineFields()): a field past the line's end is empty in `texts`, and `take`(start,
/// end, text) makes each other one of the bytes [start, end) of the line. False when `take` is,
/// or when the layout is not one to read a line by at once (a negative start, no width, a field
/// that starts before the one before it ends).
template <typename Take>
bool eachFieldOfLine(int count, const int* starts, const int* widths, size_t lineBytes,
                     MvbTextSpan* texts, Take take) {
    size_t reached = 0;  // where the field before ended, in the line
    for (int i = 0; i < count; ++i) {
        if (starts[i] < 0 || widths[i] <= 0 || static_cast<size_t>(starts[i]) < reached) {
            return false;
        }
        const auto start = static_cast<size_t>(starts[i]);
        reached = start + static_cast<size_t>(widths[i]);
        if (start >= lineBytes) {
            texts[i] = MvbTextSpan{};
        } else if (!take(start, std::min(reached, lineBytes), &texts[i])) {
            return false;
        }
    }
    return true;
}

/// True when the first code units of `bytes` (up to 64 bytes, at least `fewest` units) have the
/// NULs of text in `wide`, a UTF-16 or UTF-32 encoding: no unit is NUL (records padded with
/// NULs have such units) or beyond U+10FFFF, and at least half of them are characters from
/// U+0001 to U+00FF (digits, delimiters, line ends, Latin letters), whose other bytes are NULs.
/// Text of other characters alone has too few NULs to be told by them.
bool wideTextOfLowCharacters(const char* bytes, size_t size, const EncodingInfo& wide,
                             size_t fewest) noexcept {
    const auto unit = static_cast<size_t>(wide.unitBytes);
    const size_t end = std::min<size_t>(size, 64) / unit * unit;
    size_t lowUnits = 0;
    for (size_t at = 0; at < end; at += unit) {
        uint32_t value = 0;
        for (size_t i = 0; i < unit; ++i) {
            const auto byte =
                static_cast<unsigned char>(bytes[at + (wide.bigEndian ? i : unit - 1 - i)]);
            value = value << 8 | byte;
        }
        if (value == 0 || value > 0x10FFFF) return false;
        lowUnits += value <= 0xFF ? 1 : 0;
    }
    return end >= fewest * unit && 2 * lowUnits * unit >= end;
}

}  // namespace

TextReader::TextReader(int fd, std::string path, uint32_t flags, const FileTuning& tuning)
    : fd_(fd),
      path_(std::move(path)),
      tuning_(tuning),
      replaceNuls_((flags & MVB_FLAG_REPLACE_NULS) != 0),
      honourBom_((flags & MVB_FLAG_READ_BOM) != 0) {
    tuning_.bufferBytes = std::max<size_t>(tuning_.bufferBytes, 4);
    tuning_.maxRecordBytes = std::max(tuning_.maxRecordBytes, tuning_.bufferBytes);
}

TextReader::~TextReader() {
    gzip_.reset();  // its thread may be reading the file
    ::close(fd_);
}

bool TextReader::start(const EncodingInfo* configured) {
    struct stat info {};
    if (fstat(fd_, &info) == 0 && S_ISREG(info.st_mode)) {
        size_ = static_cast<uint64_t>(info.st_size);
    } else {
        mayWait_ = true;
    }
    capacity_ = tuning_.bufferBytes;
    buffer_ = std::make_unique_for_overwrite<char[]>(capacity_ + kSlack);
    if (!fill(4)) {
        return false;
    }
    if (startsGzip(buffer_.get(), end_)) {
        // What was read is the head of the compressed data; the text is what it inflates to.
        gzip_ = std::make_unique<GzipInput>(path_, tuning_.bufferBytes, mayWait_);
        if (!gzip_->start(buffer_.get(), end_)) {
            fail(gzip_->error());
            return false;
        }
        end_ = 0;
        eof_ = false;
        if (!fill(4)) {
            return false;
        }
    }
    const EncodingInfo* chosen = configured != nullptr ? configured : &utf8Encoding();
    const EncodingInfo* marked = encodingFromBom(buffer_.get(), end_, configured);
    if (honourBom_ && marked != nullptr) {
        chosen = marked;
        pos_ = marked->bom.size();
    } else if (honourBom_ && configured == nullptr) {
        // The NULs of wide text, over as many characters as were read (NULs that are data, as
        // REPLACE_NULLS says they are, or that pad records, are no such text).
        const EncodingInfo* looks = encodingFromNulPattern(buffer_.get(), end_);
        if (!looks->isUtf8() && !replaceNuls_ &&
            wideTextOfLowCharacters(buffer_.get(), end_, *looks, 1)) {
            chosen = looks;
        }
    } else if (chosen->isUtf8() && marked != nullptr) {
        // A UTF-8 mark is never text of a UTF-8 file; another mark means the wrong encoding.
        if (!marked->isUtf8()) {
            fail("file \"" + path_ + "\" starts with a " + marked->name +
                 " byte-order mark but is read as UTF-8: set BYTE_ORDER_MARK true or ENCODING " +
                 std::to_string(marked->number));
            return false;
        }
        pos_ = marked->bom.size();
    } else if (!chosen->isUtf8() && chosen->unitBytes > 1 && marked != nullptr &&
               marked->number != chosen->number) {
        // Another encoding's mark, read in units of two or four bytes, is no text: the file is
        // of that encoding, or of the other byte order.
        fail("file \"" + path_ + "\" starts with a " + marked->name +
             " byte-order mark but is read as " + chosen->name +
             ": set BYTE_ORDER_MARK true or ENCODING " + std::to_string(marked->number));
        return false;
    } else if (configured == nullptr && marked == nullptr && !replaceNuls_) {
        // Read as UTF-8 for want of an encoding, text of two or four bytes a character would
        // give rows of NULs and fragments: say what it looks like and how to read it.
        const EncodingInfo* looks = encodingFromNulPattern(buffer_.get(), end_);
        if (!looks->isUtf8() && wideTextOfLowCharacters(buffer_.get(), end_, *looks, 2)) {
            fail("file \"" + path_ + "\" starts with the NUL bytes of " + looks->name +
                 " text without a byte-order mark, but is read as UTF-8: set ENCODING " +
                 std::to_string(looks->number) + " (or BYTE_ORDER_MARK true, which finds it)");
            return false;
        }
    }
    encoding_ = chosen;
    utf8_ = chosen->isUtf8();
    singleByte_ = !utf8_ && chosen->maxBytes == 1;
    unit_ = static_cast<size_t>(chosen->unitBytes);
    if (!utf8_ && !converter_.open("UTF-8", chosen->name)) {
        fail("cannot read file \"" + path_ + "\": this system cannot convert from encoding " +
             std::to_string(chosen->number) + " (" + chosen->name + ")");
        return false;
    }
    validEnd_ = pos_;
    dataStart_ = pos_;
    movable_ = !gzip_ && size_ != 0 && path_ != "-";
    acceptNewBytes(pos_);
    return true;
}

int TextReader::fail(std::string text) {
    error_ = std::move(text);
    failed_ = true;
    return -1;
}

int TextReader::systemError(int error) {
    return fail("cannot read file \"" + path_ + "\": " + systemReason(error));
}

int TextReader::decodeError(size_t at) {
    if (uncountedFrom_ != kFailed && uncountedFrom_ < at) {
        countDataLines(uncountedFrom_, at);
    }
    // A byte that is not UTF-8 almost always means a file in another encoding: say how to
    // read it as that one.
    const char* hint = encoding_->isUtf8()
                           ? ": the file is not UTF-8; set ENCODING to its encoding (such as "
                             "1252 or latin1), or let textjob infer find it"
                           : "";
    // A part of the file counts its lines from where its reading starts.
    const std::string from = rangeBegin_ == 0
                                 ? std::string()
                                 : " counted from byte offset " + std::to_string(rangeBegin_) +
                                       " (where this part's reading starts)";
    return fail("invalid or incomplete " + std::string(encoding_->name) +
                " byte sequence in file \"" + path_ + "\" at line " +
                std::to_string(linesDone_ + 1) + from + ", byte offset " +
                std::to_string(bufferOffset_ + at) + hint);
}

void TextReader::shiftData(size_t shift) noexcept {
    bufferOffset_ += shift;
    pos_ -= shift;
    end_ -= shift;
    validEnd_ = validEnd_ > shift ? validEnd_ - shift : 0;
    if (lineEnd_ < shift) {
        lineEnd_ = 0;
        lineEndFound_ = false;
    } else {
        lineEnd_ -= shift;
    }
}

void TextReader::compact() noexcept {
    std::memmove(buffer_.get(), buffer_.get() + pos_, end_ - pos_);
    shiftData(pos_);
}

bool TextReader::grow(size_t want) {
    const size_t limit = tuning_.maxRecordBytes;
    if (want > limit || capacity_ >= limit) {
        const std::string what =
            recordLine_ != 0 ? "the record that starts at line " + std::to_string(recordLine_)
                             : "line " + std::to_string(linesDone_ + 1);
        fail(what + " of file \"" + path_ + "\" is longer than " + std::to_string(limit) +
             " bytes, the most that is read at once");
        return false;
    }
    const size_t capacity = std::min(limit, std::max(capacity_ * 2, want));
    auto bigger = std::make_unique_for_overwrite<char[]>(capacity + kSlack);
    std::memcpy(bigger.get(), buffer_.get() + pos_, end_ - pos_);
    buffer_ = std::move(bigger);
    capacity_ = capacity;
    shiftData(pos_);
    return true;
}

bool TextReader::fill(size_t want) {
    while (end_ - pos_ < want && !eof_) {
        if (end_ == capacity_) [[unlikely]] {
            if (pos_ > 0) {
                compact();
            } else if (!grow(want)) {
                return false;
            }
        }
        const long got = readBytes(buffer_.get() + end_, capacity_ - end_);
        if (got < 0) [[unlikely]] {
            return false;
        }
        if (got == 0) {
            eof_ = true;
            break;
        }
        const size_t from = end_;
        end_ += static_cast<size_t>(got);
        acceptNewBytes(from);
    }
    return true;
}

long TextReader::readBytes(char* into, size_t room) {
    if (gzip_) {
        const long got = gzip_->read(fd_, into, room);
        if (got < 0) {
            fail(gzip_->error());
        }
        return got;
    }
    room = roomBefore(into, room);
    if (room == 0) {
        return 0;
    }
    if (mayWait_ && !waitForData(fd_)) [[unlikely]] {
        fail("cannot read file \"" + path_ + "\": " + stoppedWaitReason());
        return -1;
    }
    for (;;) {
        const ssize_t got = ::read(fd_, into, room);
        if (got >= 0 || errno != EINTR) {
            if (got < 0) {
                systemError(errno);
            } else if (got == 0 && !mayWait_ && size_ != 0 && !longAsRead(into)) {
                return -1;
            }
            return got;
        }
    }
}

bool TextReader::longAsRead(const char* end) {
    // A regular file that ends before what was read from it, or before the size it had when
    // it was opened, was cut while it was read (a log emptied by its writer, a copy cut short
    // ahead of the reader): the rows from there would be cut, made up or missing. A file that
    // grew is read to its new end. (Files of the system, such as those under /proc, say 0
    // bytes from the start: they are not checked.)
    struct stat info {};
    const uint64_t read = bufferOffset_ + static_cast<uint64_t>(end - buffer_.get());
    const uint64_t now = ::fstat(fd_, &info) == 0 ? static_cast<uint64_t>(info.st_size) : read;
    if (now >= read && read >= size_) {
        return true;
    }
    fail("file \"" + path_ + "\" was cut shorter while it was read: it holds " +
         std::to_string(now) + " bytes (" + std::to_string(size_) + " when it was opened), of " +
         "which " + std::to_string(read) + " were read; read it again once it is complete");
    return false;
}

void TextReader::acceptNewBytes(size_t from) noexcept {
    if (encoding_ == nullptr) {
        return;  // start() takes the first bytes once the encoding is known
    }
    char* base = buffer_.get();
    if (unit_ == 1) {
        if (const void* cr = memrchr(base + from, '\r', end_ - from)) {
            sawCr_ = true;
            lastCr_ = bufferOffset_ + static_cast<size_t>(static_cast<const char*>(cr) - base);
        }
    }
    if (utf8_) {
        if (replaceNuls_) {
            replaceNuls(base + from, end_ - from);
        }
        validEnd_ += validPrefix(base + validEnd_, end_ - validEnd_);
    }
}

unsigned unitValue(const unsigned char* p, size_t unit, bool bigEndian) noexcept {
    switch (unit) {
        case 1:
            return p[0];
        case 2:
            return bigEndian ? (p[0] << 8u) | p[1] : p[0] | (p[1] << 8u);
        default:
            return bigEndian ? (unsigned{p[0]} << 24u) | (p[1] << 16u) | (p[2] << 8u) | p[3]
                             : p[0] | (p[1] << 8u) | (p[2] << 16u) | (unsigned{p[3]} << 24u);
    }
}

unsigned TextReader::unitAt(size_t at) const noexcept {
    return unitValue(reinterpret_cast<const unsigned char*>(buffer_.get() + at), unit_,
                     encoding_->bigEndian);
}

size_t TextReader::findLineEnd(size_t from, size_t to) const noexcept {
    const char* base = buffer_.get();
    if (unit_ == 1) [[likely]] {
        const uint64_t first = bufferOffset_ + from;
        const bool known = first >= noLfFrom_ && first < noLfTo_;
        const size_t scanFrom = known ? std::min<size_t>(to, noLfTo_ - bufferOffset_) : from;
        size_t end =
            static_cast<size_t>(mvb::scan::findByte(base + scanFrom, base + to, '\n') - base);
        if (known) {
            noLfTo_ = bufferOffset_ + end;
        } else {
            noLfFrom_ = first;
            noLfTo_ = bufferOffset_ + end;
        }
        // Most files hold no CR at all: look for one only where one was read.
        if (sawCr_ && lastCr_ >= bufferOffset_ + from) {
            if (const void* cr = std::memchr(base + from, '\r', end - from)) {
                end = static_cast<size_t>(static_cast<const char*>(cr) - base);
            }
        }
        return end;
    }
    // Code units sit at multiples of their size from the start of the file.
    size_t at = from;
    if (const size_t misalign = (bufferOffset_ + at) % unit_; misalign != 0) {
        at += unit_ - misalign;
    }
    // A unit that ends a line holds the byte of LF or CR, so sixteen bytes (whole units)
    // without either are passed over at once; only where one of them is are the units looked at.
    constexpr size_t kChunk = 16;
    if (at >= to) {
        return to;
    }
    for (;;) {
        while (to - at >= kChunk &&
               (mvb::scan::chunkMask(base + at, static_cast<char>(kLf)) |
                mvb::scan::chunkMask(base + at, static_cast<char>(kCr))) == 0) {
            at += kChunk;
        }
        for (const size_t stop = std::min(to, at + kChunk); at + unit_ <= stop; at += unit_) {
            const unsigned unit = unitAt(at);
            if (unit == kLf || unit == kCr) {
                return at;
            }
        }
        if (at + unit_ > to) {
            return to;
        }
    }
}

inline size_t TextReader::currentLineEnd() noexcept {
    if (lineEndFound_ && lineEnd_ >= pos_) [[likely]] {
        return lineEnd_;
    }
    return findCurrentLineEnd();
}

size_t TextReader::findCurrentLineEnd() noexcept {
    if (lineEnd_ < pos_) {
        lineEnd_ = pos_;
        lineEndFound_ = false;
    }
    if (lineEndFound_) {
        return lineEnd_;
    }
    const size_t found = findLineEnd(lineEnd_, end_);
    if (found < end_) {
        lineEnd_ = found;
        lineEndFound_ = true;
        return found;
    }
    // Resume after the last whole unit scanned once more data has been read.
    lineEnd_ = std::max(pos_, end_ - (bufferOffset_ + end_) % unit_);
    return end_;
}

size_t TextReader::consumeLineEnd(size_t at) noexcept {
    const bool cr = unitAt(at) == kCr;
    pos_ = at + unit_;
    if (cr) {
        if (end_ - pos_ >= unit_) {
            if (unitAt(pos_) == kLf) {
                pos_ += unit_;
            }
        } else if (!eof_) {
            pendingCr_ = true;  // an LF at the start of the next read still belongs here
        }
    }
    ++linesDone_;
    return pos_ - at;
}

void TextReader::countDataLines(size_t from, size_t to) noexcept {
    if (unit_ == 1) {
        const char* base = buffer_.get();
        for (const char* at = base + from;
             (at = static_cast<const char*>(
                  std::memchr(at, '\n', static_cast<size_t>(base + to - at)))) != nullptr;
             ++at) {
            ++linesDone_;
        }
        if (!sawCr_) {
            return;
        }
        for (const char* at = base + from;
             (at = static_cast<const char*>(
                  std::memchr(at, '\r', static_cast<size_t>(base + to - at)))) != nullptr;
             ++at) {
            if (at + 1 >= base + end_ || at[1] != '\n') {
                ++linesDone_;
            }
        }
        return;
    }
    for (size_t at = from; at + unit_ <= to; at += unit_) {
        const unsigned unit = unitAt(at);
        if (unit == kLf || (unit == kCr && (at + 2 * unit_ > end_ || unitAt(at + unit_) != kLf))) {
            ++linesDone_;
        }
    }
}

bool TextReader::beginOperation() {
    if (savedAt_ != kFailed) {
        buffer_[savedAt_] = savedByte_;
        savedAt_ = kFailed;
    }
    if (failed_ || pendingCr_) [[unlikely]] {
        return settleBeforeOperation();
    }
    return true;
}

bool TextReader::settleBeforeOperation() {
    if (failed_) {
        return false;
    }
    pendingCr_ = false;
    if (!fill(unit_)) {
        return false;
    }
    if (end_ - pos_ >= unit_ && unitAt(pos_) == kLf) {
        pos_ += unit_;
    }
    return true;
}

inline void TextReader::terminateInPlace(size_t at) noexcept {
    savedAt_ = at;
    savedByte_ = buffer_[at];
    buffer_[at] = '\0';
}

bool TextReader::charLengthAt(size_t at, size_t* length) {
    char sink[16];
    for (size_t bytes = 1; bytes <= static_cast<size_t>(encoding_->maxBytes); ++bytes) {
        if (at + bytes > end_) {
            return false;
        }
        converter_.reset();
        size_t written = 0;
        const ConvertResult result =
            converter_.convertInto(buffer_.get() + at, bytes, sink, sizeof sink, &written);
        if (result.status == ConvertResult::Invalid) {
            return false;
        }
        if (result.status == ConvertResult::Done && result.consumed == bytes) {
            *length = bytes;
            return true;
        }
    }
    return false;
}

size_t TextReader::decodeUtf8(size_t from, size_t to, CutMode mode, bool keep) {
    size_t whole = to;  // end of the whole characters in [from, to)
    size_t checked = to;
    if (mode == CutMode::Cut && to > from) {
        size_t lead = to - 1;
        while (lead > from && to - lead < 4 && isContinuation(buffer_[lead])) {
            --lead;
        }
        const size_t length =
            static_cast<size_t>(utf8SequenceLength(static_cast<unsigned char>(buffer_[lead])));
        if (lead + length > to) {
            whole = lead;
            checked = lead + length;
        }
    } else if (mode == CutMode::Partial && to > validEnd_ && !eof_ && end_ - validEnd_ < 4) {
        return validEnd_;  // an incomplete character at the end of the data read so far
    }
    if (checked > validEnd_) {
        decodeError(validEnd_);
        return kFailed;
    }
    if (whole < to) {
        pendingCut_ = checked - to;
    }
    if (keep && (out_.size() > 0 || whole < to)) {
        out_.append(buffer_.get() + from, whole - from);
        if (whole < to) {
            out_.append(kReplacementChar, 3);
            ++cutCharacters_;
        }
    }
    return to;
}

size_t TextReader::decode(size_t from, size_t to, CutMode mode, bool keep) {
    if (utf8_) {
        return decodeUtf8(from, to, mode, keep);
    }
    ByteBuffer& target = keep ? out_ : scratch_;
    if (!keep) {
        scratch_.clear();
    }
    const size_t before = target.size();
    const ConvertResult result = converter_.convert(buffer_.get() + from, to - from, target);
    const size_t stop = from + result.consumed;
    if (result.status == ConvertResult::Invalid) {
        decodeError(stop);
        return kFailed;
    }
    if (result.status == ConvertResult::Incomplete) {
        if (mode == CutMode::Partial && !eof_) {
            return stop;
        }
        size_t length = 0;
        if (mode != CutMode::Cut || !charLengthAt(stop, &length)) {
            decodeError(stop);
            return kFailed;
        }
        pendingCut_ = stop + length - to;
        if (keep) {
            target.append(kReplacementChar, 3);
            ++cutCharacters_;
        }
    }
    if (keep && replaceNuls_) {
        replaceNuls(target.data() + before, target.size() - before);
    }
    return to;
}

bool TextReader::takePendingCut(size_t limit, bool keep, size_t* taken) {
    const size_t want = std::min(pendingCut_, limit);
    if (!fill(want)) {
        return false;
    }
    const size_t bytes = std::min(want, end_ - pos_);
    pos_ += bytes;
    pendingCut_ -= bytes;
    *taken = bytes;
    if (keep) {
        out_.append(kReplacementChar, 3);
        ++cutCharacters_;
    }
    return true;
}

long TextReader::take(long count, bool stopAtLineEnd, bool keep, bool* lineEnded,
                      size_t* lineEndBytes, MvbTextSpan* text) {
    *lineEnded = false;
    *lineEndBytes = 0;
    if (!beginOperation()) {
        return -1;
    }
    out_.clear();
    size_t remaining = count < 0 ? SIZE_MAX : static_cast<size_t>(count);
    long taken = 0;
    if (pendingCut_ > 0 && remaining > 0) [[unlikely]] {
        size_t bytes = 0;
        if (!takePendingCut(remaining, keep, &bytes)) {
            return -1;
        }
        taken += static_cast<long>(bytes);
        remaining -= remaining == SIZE_MAX ? 0 : bytes;
    }
    size_t textStart = pos_;  // settled after the fill, which may move the data
    size_t textEnd = pos_;
    const size_t lookahead = static_cast<size_t>(encoding_->maxBytes) - 1;
    // Skipped text goes by in pieces; text handed out must sit in the buffer whole.
    const size_t piece = std::max<size_t>(capacity_ / 2, 64);
    while (remaining > 0) {
        if (!fill((keep ? remaining : std::min(remaining, piece)) + lookahead)) {
            return -1;
        }
        if (keep) {
            textStart = textEnd = pos_;
        }
        const size_t available = end_ - pos_;
        if (available == 0) {
            break;
        }
        const bool countEnds = remaining <= available;
        size_t to = pos_ + (countEnds ? remaining : available);
        bool atLineEnd = false;
        if (stopAtLineEnd) {
            const size_t lineEnd = currentLineEnd();
            if (lineEnd < to) {
                to = lineEnd;
                atLineEnd = true;
            }
        }
        const CutMode mode = atLineEnd   ? CutMode::Strict
                             : countEnds ? CutMode::Cut
                             : eof_      ? CutMode::Strict
                                         : CutMode::Partial;
        // Line ends in the text are counted once it is decoded; a failure in it counts those
        // before the fault itself.
        uncountedFrom_ = stopAtLineEnd ? kFailed : pos_;
        const size_t done = decode(pos_, to, mode, keep);
        uncountedFrom_ = kFailed;
        if (done == kFailed) {
            return -1;
        }
        if (!stopAtLineEnd) {
            countDataLines(pos_, done);
        }
        taken += static_cast<long>(done - pos_);
        if (remaining != SIZE_MAX) {
            remaining -= done - pos_;
        }
        pos_ = textEnd = done;
        if (atLineEnd) {
            *lineEndBytes = consumeLineEnd(done);
            *lineEnded = true;
            break;
        }
        if (keep && !countEnds) {
            break;  // the end of the file
        }
    }
    if (text != nullptr) {
        if (utf8_ && out_.size() == 0) {
            terminateInPlace(textEnd);
            text->text = buffer_.get() + textStart;
            text->bytes = static_cast<int>(textEnd - textStart);
        } else {
            text->bytes = static_cast<int>(out_.size());
            text->text = out_.terminated();
        }
    }
    return taken;
}

bool TextReader::beginTextRead(MvbTextSpan* text, bool* present) {
    *present = false;
    text->text = "";
    text->bytes = 0;
    if (!beginOperation()) {
        return false;
    }
    out_.clear();
    if (pendingCut_ > 0) [[unlikely]] {
        size_t bytes = 0;
        return takePendingCut(pendingCut_, true, &bytes);
    }
    return true;
}

int TextReader::readLine(MvbTextSpan* line, bool* present) {
    if (!beginTextRead(line, present)) [[unlikely]] {
        return -1;
    }
    size_t lineEnd = 0;
    for (;;) {
        lineEnd = currentLineEnd();
        if (lineEnd < end_ || eof_) [[likely]] {
            break;
        }
        if (!fill(end_ - pos_ + unit_)) {
            return -1;
        }
    }
    const size_t from = pos_;
    if (lineEnd == from && lineEnd == end_ && out_.size() == 0) {
        return 0;  // the end of the file
    }
    if (utf8_) [[likely]] {
        if (lineEnd > validEnd_) [[unlikely]] {
            return decodeError(validEnd_);
        }
    } else if (decode(from, lineEnd, CutMode::Strict, true) == kFailed) {
        return -1;
    }
    if (lineEnd < end_) {
        consumeLineEnd(lineEnd);
    } else {
        pos_ = lineEnd;
        ++linesDone_;
    }
    *present = true;
    if (utf8_ && out_.size() == 0) [[likely]] {
        // The line end was consumed, or the slack after the data holds the NUL.
        buffer_[lineEnd] = '\0';
        line->text = buffer_.get() + from;
        line->bytes = static_cast<int>(lineEnd - from);
        return line->bytes;
    }
    if (utf8_) {
        out_.append(buffer_.get() + from, lineEnd - from);
    }
    line->bytes = static_cast<int>(out_.size());
    line->text = out_.terminated();
    return line->bytes;
}

inline bool TextReader::lineEndInBuffer(size_t lineEnd) const noexcept {
    // UTF-8 text before it must be valid (text in another encoding is checked as it is
    // decoded), and the unit after it read, so that a CR LF is consumed whole.
    return lineEnd < end_ && (!utf8_ || lineEnd <= validEnd_) && (end_ - lineEnd > 1 || eof_);
}

inline bool TextReader::takeBuffered(size_t count, bool stopAtLineEnd, size_t* taken,
                                     bool* lineEnded, MvbTextSpan* text) noexcept {
    // UTF-8 passes through: text that was read and validated needs no decoding, as long as the
    // count does not cut a character (validEnd_ always ends on a whole one).
    if (!utf8_ || pendingCut_ != 0) {
        return false;
    }
    const size_t from = pos_;
    size_t to = from + count;
    if (stopAtLineEnd) {
        const size_t lineEnd = currentLineEnd();
        if (lineEnd < to) {
            if (!lineEndInBuffer(lineEnd)) {
                return false;
            }
            consumeLineEnd(lineEnd);
            *lineEnded = true;
            to = lineEnd;
        }
    }
    if (!*lineEnded) {
        // A read that ends where the data read so far ends leaves the line count to take(),
        // which first reads on to see whether a CR there is followed by an LF.
        if (to > validEnd_ || (to < validEnd_ && isContinuation(buffer_[to])) ||
            (!stopAtLineEnd && to == end_)) {
            return false;
        }
        if (!stopAtLineEnd) {
            countDataLines(from, to);
        }
        pos_ = to;
    }
    *taken = to - from;
    if (text != nullptr) {
        terminateInPlace(to);
        text->text = buffer_.get() + from;
        text->bytes = static_cast<int>(to - from);
    }
    return true;
}

inline bool TextReader::skipLineBuffered(size_t* taken, bool* lineEnded) noexcept {
    if (!utf8_ || pendingCut_ != 0) {
        return false;
    }
    const size_t lineEnd = currentLineEnd();
    if (!lineEndInBuffer(lineEnd)) {
        return false;
    }
    *taken = lineEnd - pos_;
    *taken += consumeLineEnd(lineEnd);
    *lineEnded = true;
    return true;
}

// Each operation first tries its fast path over UTF-8 text in the buffer; the general path
// (decoding, refills, failures) stays out of line, so that the fast one needs no stack frame.

int TextReader::read(int count, MvbTextSpan* text) {
    bool lineEnded = false;
    size_t taken = 0;
    if (count >= 0 && beginOperation() &&
        takeBuffered(static_cast<size_t>(count), false, &taken, &lineEnded, text)) [[likely]] {
        return static_cast<int>(taken);
    }
    return readGeneral(count, text);
}

int TextReader::readWhole(int count, MvbTextSpan* text) {
    // The bytes the count covers, and a character more, are held first, to see whether the
    // count ends inside one; a failure is left to read() to report.
    if (count > 0 && !singleByte_ && pendingCut_ == 0 && beginOperation() &&
        fill(static_cast<size_t>(count) + static_cast<size_t>(encoding_->maxBytes))) {
        const size_t limit = pos_ + static_cast<size_t>(count);
        if (limit < end_) {
            const size_t whole = wholeCharactersEnd(limit);
            if (whole > pos_) count = static_cast<int>(whole - pos_);
        }
    }
    return read(count, text);
}

size_t TextReader::wholeCharactersEnd(size_t limit) {
    if (utf8_) {
        // A character has at most three bytes after its first.
        size_t start = limit;
        while (start > pos_ && limit - start < 3 && isContinuation(buffer_[start]))
            --start;
        return isContinuation(buffer_[start]) ? limit : start;
    }
    scratch_.clear();
    const ConvertResult result = converter_.convert(buffer_.get() + pos_, limit - pos_, scratch_);
    return result.status == ConvertResult::Incomplete ? pos_ + result.consumed : limit;
}

int TextReader::readInLine(int count, MvbTextSpan* text, bool* lineEnded) {
    bool ended = false;
    size_t taken = 0;
    if (count >= 0 && beginOperation() &&
        takeBuffered(static_cast<size_t>(count), true, &taken, &ended, text)) [[likely]] {
        if (lineEnded != nullptr) {
            *lineEnded = ended;
        }
        return static_cast<int>(taken);
    }
    return readInLineGeneral(count, text, lineEnded);
}

bool TextReader::readLineFields(int count, const int* starts, const int* widths,
                                MvbTextSpan* texts) {
    if (!(utf8_ || singleByte_) || pendingCut_ != 0 || count <= 0 || !beginOperation()) {
        return false;
    }
    const size_t lineStart = pos_;
    const size_t lineEnd = currentLineEnd();
    if (!lineEndInBuffer(lineEnd)) {
        return false;
    }
    if (!utf8_) {
        return decodeLineFields(count, starts, widths, texts, lineEnd);
    }
    const char* const line = buffer_.get() + lineStart;
    const size_t lineBytes = lineEnd - lineStart;
    if (!eachFieldOfLine(count, starts, widths, lineBytes, texts,
                         [&](size_t start, size_t end, MvbTextSpan* text) {
                             // Where a skip or a read would stop inside a character, the byte
                             // count cuts it: that is for readInLine() to do.
                             if (isContinuation(line[start]) ||
                                 (end < lineBytes && isContinuation(line[end]))) {
                                 return false;
                             }
                             text->text = line + start;
                             text->bytes = static_cast<int>(end - start);
                             return true;
                         })) {
        return false;
    }
    consumeLineEnd(lineEnd);
    return true;
}

bool TextReader::decodeLineFields(int count, const int* starts, const int* widths,
                                  MvbTextSpan* texts, size_t lineEnd) {
    // A byte is a character, so the fields are the bytes at their places, each decoded on its
    // own as a read of it would. The bytes between and after them are decoded too (and let
    // go), so that a byte of no character there fails the line as skipping it would; any
    // failure leaves the line to the reads one by one, which report it.
    const char* const base = buffer_.get() + pos_;
    const size_t lineBytes = lineEnd - pos_;
    out_.clear();
    scratch_.clear();
    // Room for all of it at once (a byte is at most three in UTF-8): the fields' texts do not
    // move while they are made, and the last can be read as a block as the others can.
    out_.reserveMore(Converter::roomFor(lineBytes) + TextBytes::kPaddedReadBytes);
    const auto decodes = [&](size_t from, size_t to, ByteBuffer& into) {
        const size_t before = into.size();
        if (converter_.convert(base + from, to - from, into).status != ConvertResult::Done) {
            return false;
        }
        if (replaceNuls_) {
            replaceNuls(into.data() + before, into.size() - before);
        }
        return true;
    };
    size_t decoded = 0;  // the bytes decoded so far
    if (!eachFieldOfLine(count, starts, widths, lineBytes, texts,
                         [&](size_t start, size_t end, MvbTextSpan* text) {
                             const size_t before = out_.size();
                             if ((start > decoded && !decodes(decoded, start, scratch_)) ||
                                 !decodes(start, end, out_)) {
                                 return false;
                             }
                             decoded = end;
                             text->text = out_.data() + before;
                             text->bytes = static_cast<int>(out_.size() - before);
                             return true;
                         })) {
        return false;
    }
    if (decoded < lineBytes && !decodes(decoded, lineBytes, scratch_)) {
        return false;
    }
    consumeLineEnd(lineEnd);
    return true;
}

int TextReader::skip(int count, bool* lineEnded) {
    bool ended = false;
    size_t taken = 0;
    if (count >= -1 && beginOperation()) [[likely]] {
        const bool done = count == -1 ? skipLineBuffered(&taken, &ended)
                                      : takeBuffered(static_cast<size_t>(count),
                                                     lineEnded != nullptr, &taken, &ended, nullptr);
        if (done) [[likely]] {
            if (lineEnded != nullptr) {
                *lineEnded = ended;
            }
            return static_cast<int>(taken);
        }
    }
    return skipGeneral(count, lineEnded);
}

int TextReader::readGeneral(int count, MvbTextSpan* text) {
    text->text = "";
    text->bytes = 0;
    if (count < 0) {
        return fail("cannot read " + std::to_string(count) + " bytes from file \"" + path_ + "\"");
    }
    bool lineEnded = false;
    size_t lineEndBytes = 0;
    return static_cast<int>(take(count, false, true, &lineEnded, &lineEndBytes, text));
}

int TextReader::readInLineGeneral(int count, MvbTextSpan* text, bool* lineEnded) {
    text->text = "";
    text->bytes = 0;
    if (count < 0) {
        return fail("cannot read " + std::to_string(count) + " bytes from file \"" + path_ + "\"");
    }
    bool ended = false;
    size_t lineEndBytes = 0;
    const long taken = take(count, true, true, &ended, &lineEndBytes, text);
    if (lineEnded != nullptr) {
        *lineEnded = ended;
    }
    return static_cast<int>(taken);
}

int TextReader::skipGeneral(int count, bool* lineEnded) {
    if (count < -1) {
        return fail("cannot skip " + std::to_string(count) + " bytes in file \"" + path_ +
                    "\": skips only go forward");
    }
    bool ended = false;
    size_t lineEndBytes = 0;
    long taken = 0;
    if (count == -1) {
        // The rest of the line with its line end: an empty line still counts as skipped.
        taken = take(-1, true, false, &ended, &lineEndBytes, nullptr);
        if (taken >= 0) {
            taken += static_cast<long>(lineEndBytes);
        }
    } else {
        taken = take(count, lineEnded != nullptr, false, &ended, &lineEndBytes, nullptr);
    }
    if (lineEnded != nullptr) {
        *lineEnded = ended;
    }
    return static_cast<int>(std::min<long>(taken, INT_MAX));
}

bool TextReader::skipRecords(int width, int count) {
    if (width < 0 || count < 0) {
        fail("cannot skip " + std::to_string(count) + " records of " + std::to_string(width) +
             " bytes in file \"" + path_ + "\"");
        return false;
    }
    uint64_t remaining = static_cast<uint64_t>(width) * static_cast<uint64_t>(count);
    while (remaining > 0) {
        bool ended = false;
        size_t lineEndBytes = 0;
        const long piece = static_cast<long>(std::min<uint64_t>(remaining, INT_MAX));
        const long taken = take(piece, false, false, &ended, &lineEndBytes, nullptr);
        if (taken < 0) {
            return false;
        }
        if (taken == 0) {
            break;  // the file ended first
        }
        remaining -= static_cast<uint64_t>(taken);
    }
    return true;
}

}  // namespace mvb::txt
