#pragma once

// Writing side of a text file: buffered output, encoding from UTF-8, line ends, byte-order
// mark and padded fields. Private to the runtime library.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "encoding_table.h"
#include "txtfile_codec.h"
#include "txtfile_gzip_output.h"
#include "txtfile_internal.h"
#include "txtfile_writeback.h"

namespace mvb::txt {

/// Writes UTF-8 text to one open file descriptor (which it owns) in the file's encoding.
///
/// The first failure of the file system is kept: that call and every later one returns false
/// and error() gives the system's reason with the file name. Text that cannot be written in
/// the encoding fails only its own call.
class TextWriter {
  public:
    /// `fd` -1 makes a writer for a probe open, which refuses to write.
    TextWriter(int fd, std::string path, const EncodingInfo& encoding, uint32_t flags,
               const FileTuning& tuning, uint64_t startOffset);
    TextWriter(const TextWriter&) = delete;
    TextWriter& operator=(const TextWriter&) = delete;
    /// Closes the descriptor; buffered output that flush() did not write is lost.
    ~TextWriter();

    /// Makes every byte after this go to the file deflated as gzip; flush() ends a gzip member
    /// (an empty one when the file holds nothing yet, `emptyFile`, and nothing was written).
    /// Call before start(). False with error() set when the compressor cannot be had.
    [[nodiscard]] bool compressAsGzip(bool emptyFile);
    /// Prepares the converter, the line end and the blank; puts the byte-order mark first
    /// when `writeBom`. False with error() set when the system cannot convert.
    [[nodiscard]] bool start(bool writeBom);

    const EncodingInfo& encoding() const noexcept { return encoding_; }
    const std::string& error() const noexcept { return error_; }
    uint64_t position() const noexcept { return written_ + used_; }

    bool write(const char* text, size_t size);
    bool writeLineEnd();
    /// As write() for text the caller has found to be valid UTF-8: a UTF-8 file copies it
    /// unchecked. With `endLine` the line end follows.
    bool writeChecked(const char* text, size_t size, bool endLine);
    /// Room for `size` bytes at the end of the buffer of a UTF-8 file, emptying the buffer
    /// first when it has less; null when the file is not UTF-8 or not usable, `size` exceeds
    /// the buffer, or emptying it failed. commitChecked() takes the text put there up to `end`.
    char* reserveChecked(size_t size);
    bool commitChecked(const char* end, bool endLine);
    /// Writes `text` left-aligned in `width` bytes; `*cut` (when given) tells whether the text
    /// was longer and only its head was written.
    bool writePadded(const char* text, int byteLength, int width, bool* cut = nullptr);
    bool flush();

    /// The file is written as `temporary` and replaces `target` at commit().
    void replaceAtEnd(std::string target, std::string temporary);
    /// What was written so far ends with a whole record.
    void markRecordEnd() {
        recordEnd_ = written_ + used_;
        ++records_;
        // Until the buffer's bytes reach the file every record end is usually kept: only the
        // mark that finds the marks full goes out of line.
        if (++sinceKept_ >= keepEvery_) {
            sinceKept_ = 0;
            if (marks_.size() < kMostMarks) [[likely]] {
                marks_.push_back({recordEnd_, records_});
            } else {
                keepMarkThinning();
            }
        }
    }
    /// Flushes and, when replacing, puts the file in place. False with error() set.
    bool commit();
    /// Ends the file at its last whole record and, when replacing, keeps it as the target's
    /// name with ".partial" added (with `keep` and a record), set in `*keptAs`, or removes it.
    /// Returns the whole records the file holds. Later calls change nothing.
    uint64_t abandon(bool keep, std::string* keptAs);
    /// commit() or abandon() has run: close() leaves the file as they left it.
    bool settled() const noexcept { return settled_; }
    bool replacing() const noexcept { return !temporary_.empty(); }

  private:
    bool usable();
    bool encodeInto(const char* text, size_t size, ByteBuffer& out);
    bool appendEncoded(const char* text, size_t size);
    bool appendRaw(const char* bytes, size_t size);
    bool appendBlanks(size_t bytes);
    bool flushBuffer();
    /// The most record ends kept at once.
    static constexpr size_t kMostMarks = 4096;
    /// Keeps the latest record end when kMostMarks are kept: every other one goes first, and
    /// from then on only every other record end is kept.
    void keepMarkThinning();
    /// Writes `size` bytes straight to the file (through the compressor when there is one),
    /// past the buffer; the first failure is kept.
    bool writeAll(const char* bytes, size_t size);
    /// Writes `size` bytes to the descriptor, adding what got there to `*counted` unless it is
    /// null; the first failure is kept.
    bool writeFile(const char* bytes, size_t size, uint64_t* counted);
    bool encodingError(const char* text, size_t size, size_t at);
    bool refuse(std::string text);

    int fd_;
    std::string path_;
    std::string target_;     ///< the file replaced at commit(), when replacing
    std::string temporary_;  ///< the name written meanwhile; empty when writing in place
    bool regular_ = false;   ///< a regular file, which can be cut back to a record's end
    bool settled_ = false;
    /// The file offset after the last whole record, and the records up to there.
    uint64_t recordEnd_ = 0;
    uint64_t records_ = 0;
    /// The last record end known to have reached the file, and the records up to there.
    uint64_t flushedRecordEnd_ = 0;
    uint64_t flushedRecords_ = 0;
    /// Record ends since then (every keepEvery_-th, a bounded number), so that a write that
    /// stops partway still finds the last whole record it wrote.
    struct Mark {
        uint64_t end;
        uint64_t records;
    };
    std::vector<Mark> marks_;
    uint64_t keepEvery_ = 1;
    uint64_t sinceKept_ = 0;
    const EncodingInfo& encoding_;
    bool utf8_;
    Converter converter_;
    std::string lineEnd_;
    std::string blank_;
    std::unique_ptr<char[]> buffer_;
    size_t capacity_;
    size_t used_ = 0;
    uint64_t written_;            ///< file offset where the buffered bytes go
    const uint64_t startOffset_;  ///< the file's size when it was opened: this run's start
    bool failed_ = false;
    ByteBuffer scratch_;
    std::unique_ptr<GzipOutput> gzip_;  ///< set for a file written as gzip
    uint64_t syncStretch_;              ///< bytes between the syncs or write-outs of the file
    /// The syncs that make a file that replaces another durable while it is written, or for any
    /// other regular file the write-outs that keep it from filling the cache.
    EarlyWriteBack writeBack_;
    std::string error_;
};

}  // namespace mvb::txt
