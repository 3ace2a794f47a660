#include "txtfile_writer.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "mvb/text_bytes.h"
#include "mvb/txtfile.h"
#include "mvb/types.h"
#include "txtfile_replace.h"
#include "utf8_internal.h"

namespace mvb::txt {
namespace {

const char* lineEndFor(uint32_t flags) noexcept {
    if ((flags & MVB_FLAG_EOL_CRLF) != 0) return "\r\n";
    if ((flags & MVB_FLAG_EOL_CR) != 0) return "\r";
    return "\n";  // LF, the native line end, and no line-end flag at all
}

}  // namespace

TextWriter::TextWriter(int fd, std::string path, const EncodingInfo& encoding, uint32_t flags,
                       const FileTuning& tuning, uint64_t startOffset)
    : fd_(fd),
      path_(std::move(path)),
      encoding_(encoding),
      utf8_(encoding.isUtf8()),
      lineEnd_(lineEndFor(flags)),
      blank_(" "),
      capacity_(std::max<size_t>(tuning.bufferBytes, 64)),
      written_(startOffset),
      startOffset_(startOffset),
      syncStretch_(tuning.syncStretchBytes) {
    struct stat info {};
    regular_ = fd_ >= 0 && ::fstat(fd_, &info) == 0 && S_ISREG(info.st_mode);
    recordEnd_ = startOffset;
    flushedRecordEnd_ = startOffset;
    // A large file is written out as it grows, so that it does not fill the cache (see
    // EarlyWriteBack); one that replaces another is synced instead (replaceAtEnd()).
    if (regular_) writeBack_.enable(fd_, syncStretch_, false, startOffset);
}

TextWriter::~TextWriter() {
    writeBack_.finish();  // its syncs use the descriptor
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

void TextWriter::replaceAtEnd(std::string target, std::string temporary) {
    target_ = std::move(target);
    temporary_ = std::move(temporary);
    // The file is made durable before it takes the target's place: most of it while the rest
    // is written, rather than all of it while the run waits at the end.
    if (fd_ >= 0) writeBack_.enable(fd_, syncStretch_);
}

bool TextWriter::commit() {
    if (settled_) {
        return true;
    }
    if (!flush()) {
        return false;
    }
    if (replacing() && fd_ >= 0) {
        std::string reason;
        if (!putInPlace(fd_, temporary_, target_, writeBack_.finish(), &reason)) {
            failed_ = true;
            error_ = std::move(reason);
            return false;
        }
    } else if (const int error = writeBack_.finish(); error != 0) {
        // Bytes written out ahead that did not reach the disk: the file is not whole.
        failed_ = true;
        error_ = "cannot write file \"" + path_ + "\": " + systemReason(error);
        return false;
    }
    settled_ = true;
    return true;
}

uint64_t TextWriter::abandon(bool keep, std::string* keptAs) {
    keptAs->clear();
    if (settled_ || fd_ < 0) {
        return 0;
    }
    settled_ = true;
    const int syncError = writeBack_.finish();
    // The whole records still buffered go out; the start of a record after them does not.
    if (!failed_ && recordEnd_ > written_ && recordEnd_ - written_ <= used_) {
        writeAll(buffer_.get(), static_cast<size_t>(recordEnd_ - written_));
    }
    used_ = 0;
    uint64_t end = flushedRecordEnd_;
    uint64_t records = flushedRecords_;
    if (recordEnd_ <= written_) {
        end = recordEnd_;
        records = records_;
    } else {
        // A write stopped partway: the last record end it got past.
        for (const Mark& mark : marks_) {
            if (mark.end > written_) {
                break;
            }
            end = mark.end;
            records = mark.records;
        }
    }
    if (gzip_ && failed_) {
        // A write of compressed bytes failed: the member can be neither ended nor cut at a
        // record end, and one cut short reads as a corrupt file. None of its rows are kept; a
        // file written in place is cut back to where this run began, so that what it held
        // before still reads.
        if (regular_ && !replacing()) {
            static_cast<void>(::ftruncate(fd_, static_cast<off_t>(startOffset_)));
            // A file this run began holds an empty member, so that it still reads as
            // compressed (as an empty one), not as a corrupt one.
            if (startOffset_ == 0) {
                static_cast<void>(
                    ::pwrite(fd_, kEmptyGzipMember.data(), kEmptyGzipMember.size(), 0));
            }
        } else if (replacing()) {
            ::unlink(temporary_.c_str());
        }
        error_ +=
            " (the compressed rows written could not be kept: a member cut short cannot "
            "be read)";
        return 0;
    }
    if (gzip_) {
        // Compressed bytes cannot be cut at a record end, so the member is ended where the
        // compressor stands: after the whole records, unless a record longer than the buffer
        // failed after its start had gone to the compressor.
        if (!gzip_->finish()) {
            failed_ = true;
        }
    } else if (regular_ && written_ > end && ::ftruncate(fd_, static_cast<off_t>(end)) == 0) {
        written_ = end;
    }
    if (!replacing()) {
        return records;
    }
    if (keep && records > 0) {
        std::string reason;
        const std::string partial = target_ + MVB_KEPT_RECORDS_SUFFIX;
        if (putInPlace(fd_, temporary_, partial, syncError, &reason)) {
            *keptAs = partial;
            return records;
        }
        // The records stay where they are rather than be lost, unless the temporary file is
        // gone too (its folder was removed): then nothing was kept, and the reason is told.
        struct stat info {};
        if (::fstat(fd_, &info) == 0 && info.st_nlink == 0) {
            if (!failed_) {
                failed_ = true;
                error_ = "the rows written could not be kept: " + reason;
            }
            return 0;
        }
        *keptAs = temporary_;
        return records;
    }
    ::unlink(temporary_.c_str());
    return 0;
}

bool TextWriter::start(bool writeBom) {
    if (!utf8_) {
        if (!converter_.open(encoding_.name, "UTF-8")) {
            return refuse("cannot write file \"" + path_ +
                          "\": this system cannot convert to encoding " +
                          std::to_string(encoding_.number) + " (" + encoding_.name + ")");
        }
        ByteBuffer encoded;
        if (!encodeInto(lineEnd_.data(), lineEnd_.size(), encoded)) {
            return false;
        }
        lineEnd_.assign(encoded.data(), encoded.size());
        encoded.clear();
        if (!encodeInto(" ", 1, encoded)) {
            return false;
        }
        blank_.assign(encoded.data(), encoded.size());
    }
    if (fd_ >= 0) {
        buffer_ = std::make_unique_for_overwrite<char[]>(capacity_);
    }
    if (writeBom && !appendRaw(encoding_.bom.data(), encoding_.bom.size())) {
        return false;
    }
    // A byte-order mark belongs to the file, not to a record: no record is cut by keeping it.
    recordEnd_ = written_ + used_;
    return true;
}

bool TextWriter::refuse(std::string text) {
    error_ = std::move(text);
    return false;
}

bool TextWriter::usable() {
    if (failed_) [[unlikely]] {
        return false;  // the first failure's text stays
    }
    if (fd_ < 0) [[unlikely]] {
        return refuse("cannot write file \"" + path_ +
                      "\": it was opened only to check that it can be written");
    }
    return true;
}

bool TextWriter::compressAsGzip(bool emptyFile) {
    gzip_ = std::make_unique<GzipOutput>(
        path_, [this](const char* bytes, size_t size) { return writeFile(bytes, size, nullptr); },
        emptyFile);
    if (gzip_->start()) return true;
    return refuse(gzip_->error());
}

bool TextWriter::writeAll(const char* bytes, size_t size) {
    if (!gzip_) {
        // Counted as it reaches the file, so that a write stopped partway still tells which
        // records got there whole.
        if (!writeFile(bytes, size, &written_)) return false;
    } else if (gzip_->write(bytes, size)) {
        written_ += size;
    } else {
        failed_ = true;
        if (error_.empty()) error_ = gzip_->error();
        return false;
    }
    if (recordEnd_ <= written_) {
        flushedRecordEnd_ = recordEnd_;
        flushedRecords_ = records_;
        marks_.clear();
        keepEvery_ = 1;
        sinceKept_ = 0;
    }
    return true;
}

bool TextWriter::writeFile(const char* bytes, size_t size, uint64_t* counted) {
    while (size > 0) {
        const ssize_t count = ::write(fd_, bytes, size);
        if (count < 0) {
            if (errno == EINTR) {
                continue;
            }
            failed_ = true;
            error_ = "cannot write file \"" + path_ + "\": " + systemReason(errno);
            return false;
        }
        bytes += count;
        size -= static_cast<size_t>(count);
        if (counted != nullptr) {
            *counted += static_cast<uint64_t>(count);
        }
        writeBack_.wrote(static_cast<uint64_t>(count));
    }
    return true;
}

void TextWriter::keepMarkThinning() {
    for (size_t i = 0; i < kMostMarks / 2; ++i) {
        marks_[i] = marks_[2 * i + 1];
    }
    marks_.resize(kMostMarks / 2);
    keepEvery_ *= 2;
    marks_.push_back({recordEnd_, records_});
}

bool TextWriter::flushBuffer() {
    if (!writeAll(buffer_.get(), used_)) {
        return false;
    }
    used_ = 0;
    return true;
}

bool TextWriter::flush() {
    if (fd_ < 0) {
        return true;  // a probe holds nothing to write
    }
    if (failed_ || !flushBuffer()) return false;
    if (gzip_ && !gzip_->finish()) {
        failed_ = true;
        if (error_.empty()) error_ = gzip_->error();
        return false;
    }
    return true;
}

bool TextWriter::appendRaw(const char* bytes, size_t size) {
    if (size <= capacity_ - used_) [[likely]] {
        std::memcpy(buffer_.get() + used_, bytes, size);
        used_ += size;
        return true;
    }
    if (!flushBuffer()) {
        return false;
    }
    if (size <= capacity_) {
        std::memcpy(buffer_.get(), bytes, size);
        used_ = size;
        return true;
    }
    return writeAll(bytes, size);
}

bool TextWriter::appendBlanks(size_t bytes) {
    // Blanks are filled into the output buffer a buffer's room at a time, never one by one.
    const size_t unit = blank_.size();
    size_t count = bytes / unit;
    while (count > 0) {
        if (capacity_ - used_ < unit && !flushBuffer()) [[unlikely]] {
            return false;
        }
        const size_t fit = std::min(count, (capacity_ - used_) / unit);
        char* at = buffer_.get() + used_;
        if (unit == 1) {
            std::memset(at, blank_[0], fit);
        } else {
            for (size_t i = 0; i < fit; ++i) {
                std::memcpy(at + i * unit, blank_.data(), unit);
            }
        }
        used_ += fit * unit;
        count -= fit;
    }
    return true;
}

bool TextWriter::encodingError(const char* text, size_t size, size_t at) {
    int code = 0;
    if (at < size && mvb::utf8::decode(reinterpret_cast<const unsigned char*>(text + at), size - at,
                                       &code) > 0) {
        char hex[16];
        std::snprintf(hex, sizeof hex, "U+%04X", static_cast<unsigned>(code));
        return refuse("cannot write character " + std::string(hex) + " to file \"" + path_ +
                      "\": encoding " + std::to_string(encoding_.number) + " (" + encoding_.name +
                      ") has no such character");
    }
    return refuse("cannot write to file \"" + path_ + "\": the text is not valid UTF-8 (byte " +
                  std::to_string(at) + " of the text)");
}

bool TextWriter::encodeInto(const char* text, size_t size, ByteBuffer& out) {
    if (utf8_) {
        const size_t valid = validPrefix(text, size);
        if (valid < size) {
            return encodingError(text, size, valid);
        }
        out.append(text, size);
        return true;
    }
    const ConvertResult result = converter_.convert(text, size, out);
    if (result.status != ConvertResult::Done) {
        return encodingError(text, size, result.consumed);
    }
    return true;
}

bool TextWriter::appendEncoded(const char* text, size_t size) {
    if (utf8_) {
        const size_t valid = validPrefix(text, size);
        if (valid < size) {
            return encodingError(text, size, valid);
        }
        return appendRaw(text, size);
    }
    // Short texts are converted straight into the output buffer; on a failure nothing of
    // the text stays there.
    const size_t mark = used_;
    const uint64_t writtenBefore = written_;
    converter_.reset();
    size_t done = 0;
    while (done < size) {
        size_t produced = 0;
        const ConvertResult result = converter_.convertInto(
            text + done, size - done, buffer_.get() + used_, capacity_ - used_, &produced);
        used_ += produced;
        done += result.consumed;
        if (result.status != ConvertResult::Done) {
            if (written_ == writtenBefore) {
                used_ = mark;
            }
            return encodingError(text, size, done);
        }
        if (done < size && !flushBuffer()) {
            return false;
        }
    }
    if (capacity_ - used_ < 16 && !flushBuffer()) {
        return false;
    }
    used_ += converter_.finish(buffer_.get() + used_, capacity_ - used_);
    return true;
}

bool TextWriter::write(const char* text, size_t size) {
    return usable() && appendEncoded(text, size);
}

bool TextWriter::writeLineEnd() {
    return usable() && appendRaw(lineEnd_.data(), lineEnd_.size());
}

char* TextWriter::reserveChecked(size_t size) {
    if (!utf8_ || failed_ || fd_ < 0 || size > capacity_) {
        return nullptr;
    }
    if (capacity_ - used_ < size && !flushBuffer()) {
        return nullptr;
    }
    return buffer_.get() + used_;
}

bool TextWriter::commitChecked(const char* end, bool endLine) {
    if ((failed_ || fd_ < 0) && !usable()) [[unlikely]] {
        return false;
    }
    const char* room = buffer_.get() + used_;
    if (end < room || end > buffer_.get() + capacity_) [[unlikely]] {
        return refuse("cannot write to file \"" + path_ + "\": the text given is not in its room");
    }
    used_ += static_cast<size_t>(end - room);
    if (!endLine) {
        return true;
    }
    // A line end of a byte or two, as most are, is stored without a call.
    const size_t size = lineEnd_.size();
    if (size <= 16 && size <= capacity_ - used_) [[likely]] {
        mvb::copyTextBytes(buffer_.get() + used_, lineEnd_.data(), size);
        used_ += size;
        return true;
    }
    return appendRaw(lineEnd_.data(), size);
}

bool TextWriter::writeChecked(const char* text, size_t size, bool endLine) {
    if (!usable()) {
        return false;
    }
    if (!(utf8_ ? appendRaw(text, size) : appendEncoded(text, size))) {
        return false;
    }
    return !endLine || appendRaw(lineEnd_.data(), lineEnd_.size());
}

bool TextWriter::writePadded(const char* text, int byteLength, int width, bool* cut) {
    if (cut != nullptr) {
        *cut = false;
    }
    if (!usable()) {
        return false;
    }
    const size_t unit = static_cast<size_t>(encoding_.minBytes);
    if (width < 0 || static_cast<size_t>(width) % unit != 0) {
        return refuse("cannot write a field of " + std::to_string(width) + " bytes to file \"" +
                      path_ + "\": the width must be a whole number of characters of encoding " +
                      std::to_string(encoding_.number) + " (" + std::to_string(unit) +
                      " bytes each)");
    }
    const size_t length = byteLength < 0 ? std::strlen(text) : static_cast<size_t>(byteLength);
    const auto room = static_cast<size_t>(width);
    // The whole text is checked, the part cut off too, exactly as an unpadded write would: a
    // text that is not UTF-8 is refused, never written in part.
    const size_t valid = validPrefix(text, length);
    if (valid < length) {
        return encodingError(text, length, valid);
    }
    if (utf8_) {
        const size_t keep = mvb::utf8::cutAtBoundary(std::string_view(text, length), room);
        if (cut != nullptr) {
            *cut = keep < length;
        }
        return appendRaw(text, keep) && appendBlanks(room - keep);
    }
    scratch_.clear();
    const ConvertResult whole = converter_.convert(text, length, scratch_);
    if (whole.status != ConvertResult::Done || scratch_.size() > room) {
        // Cut before the first character that does not fit, before converting what is kept: a
        // character past the cut is never written, so it does not matter whether the encoding
        // has it. A character the encoding lacks where a character would still fit fails.
        size_t keep = 0;
        size_t used = 0;
        converter_.reset();
        while (keep < length && room - used >= unit) {
            const size_t next =
                keep +
                static_cast<size_t>(utf8SequenceLength(static_cast<unsigned char>(text[keep])));
            char sink[32];
            size_t produced = 0;
            const ConvertResult one =
                converter_.convertInto(text + keep, next - keep, sink, sizeof sink, &produced);
            if (one.status != ConvertResult::Done) {
                return encodingError(text, length, keep);
            }
            if (used + produced > room) {
                break;
            }
            used += produced;
            keep = next;
        }
        if (cut != nullptr) {
            *cut = keep < length;
        }
        scratch_.clear();
        if (!encodeInto(text, keep, scratch_)) {
            return false;
        }
    }
    return appendRaw(scratch_.data(), scratch_.size()) && appendBlanks(room - scratch_.size());
}

}  // namespace mvb::txt
