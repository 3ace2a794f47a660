#pragma once

// Reading side of a text file: buffered reads, decoding to UTF-8, line ends and byte counts.
// Private to the runtime library.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "encoding_table.h"
#include "mvb/txtfile.h"
#include "txtfile_codec.h"
#include "txtfile_gzip.h"
#include "txtfile_internal.h"

namespace mvb::txt {

/// The code unit of `unit` bytes (1, 2 or 4) at `p`, in the given byte order.
unsigned unitValue(const unsigned char* p, size_t unit, bool bigEndian) noexcept;

/// Reads one open file descriptor (which it owns) as text of one encoding.
///
/// Raw bytes sit in one buffer that is refilled in large reads and reused; UTF-8 files are
/// validated as they arrive and handed out from that buffer in place, other encodings are
/// converted into a second reused buffer. Every failure is kept: later calls fail the same way.
class TextReader {
  public:
    TextReader(int fd, std::string path, uint32_t flags, const FileTuning& tuning);
    TextReader(const TextReader&) = delete;
    TextReader& operator=(const TextReader&) = delete;
    ~TextReader();

    /// Reads the head of the file and settles the encoding: `configured`, or UTF-8 when null,
    /// unless a byte-order mark decides (open flag 0x800000), which is then skipped.
    /// False with error() set when reading fails or the converter is missing.
    [[nodiscard]] bool start(const EncodingInfo* configured);

    const EncodingInfo& encoding() const noexcept { return *encoding_; }
    const std::string& error() const noexcept { return error_; }
    /// The file's size; after readRange(), the range's.
    uint64_t size() const noexcept { return limit_ == UINT64_MAX ? size_ : limit_ - rangeBegin_; }
    /// The byte position reached (after readRange(), from the range's start); in a gzip file,
    /// the compressed bytes read so far, which is what the size counts too.
    uint64_t position() const noexcept {
        return gzip_ ? gzip_->compressedRead() : bufferOffset_ + pos_ - rangeBegin_;
    }

    int readLine(MvbTextSpan* line, bool* present);
    /// MvbTxtFile::readRecord(); in txtfile_record.cpp.
    int readRecord(const MvbRecordQuoting& quoting, MvbTextSpan* record, bool* present);
    int read(int count, MvbTextSpan* text);
    int readWhole(int count, MvbTextSpan* text);
    /// MvbTxtFile::getCutCharacters().
    uint64_t cutCharacters() const noexcept { return cutCharacters_; }
    int readInLine(int count, MvbTextSpan* text, bool* lineEnded);
    bool readLineFields(int count, const int* starts, const int* widths, MvbTextSpan* texts);
    int skip(int count, bool* lineEnded);
    bool skipRecords(int width, int count);

    /// MvbTxtFile::findRecordStart() and readRange(); in txtfile_range.cpp.
    int findRecordStart(uint64_t offset, const MvbRecordQuoting* quoting, uint64_t* start);
    bool readRange(uint64_t begin, uint64_t end);

  private:
    /// How an incomplete character at the end of a range is taken.
    enum class CutMode {
        Strict,   ///< it is an error (a line end or the end of the file follows)
        Cut,      ///< a byte count cut it: U+FFFD, and its rest is skipped later
        Partial,  ///< more of the file follows: leave it for the next range
    };
    static constexpr size_t kFailed = static_cast<size_t>(-1);

    [[nodiscard]] bool beginOperation();
    [[nodiscard]] bool settleBeforeOperation();
    [[nodiscard]] bool fill(size_t want);
    /// The end of the whole characters of the data from pos_ up to `limit` (inside the data
    /// held): `limit`, or the start of a character that it cuts.
    size_t wholeCharactersEnd(size_t limit);
    /// Reads the next bytes of the file, inflated when it is gzip data: as read(2), but a
    /// failure is already recorded.
    [[nodiscard]] long readBytes(char* into, size_t room);
    [[nodiscard]] bool grow(size_t want);
    void compact() noexcept;
    void acceptNewBytes(size_t from) noexcept;
    [[nodiscard]] bool takePendingCut(size_t limit, bool keep, size_t* taken);
    /// What readLine and readRecord do first: no text handed out yet, the operation begun and
    /// the rest of a character an earlier byte count cut taken. False on failure.
    [[nodiscard]] bool beginTextRead(MvbTextSpan* text, bool* present);

    unsigned unitAt(size_t at) const noexcept;
    size_t findLineEnd(size_t from, size_t to) const noexcept;
    /// The first line-end unit at or after pos_ in the data read, or end_ when none has been
    /// read yet; scans only bytes that no earlier call has scanned.
    size_t currentLineEnd() noexcept;
    size_t findCurrentLineEnd() noexcept;
    /// Moves the offsets after the first `shift` bytes left the buffer.
    void shiftData(size_t shift) noexcept;
    size_t consumeLineEnd(size_t at) noexcept;
    void countDataLines(size_t from, size_t to) noexcept;

    /// readLineFields() over a single-byte encoding: the line's fields decoded into out_.
    bool decodeLineFields(int count, const int* starts, const int* widths, MvbTextSpan* texts,
                          size_t lineEnd);
    size_t decode(size_t from, size_t to, CutMode mode, bool keep);
    size_t decodeUtf8(size_t from, size_t to, CutMode mode, bool keep);
    bool charLengthAt(size_t at, size_t* length);
    void terminateInPlace(size_t at) noexcept;

    long take(long count, bool stopAtLineEnd, bool keep, bool* lineEnded, size_t* lineEndBytes,
              MvbTextSpan* text);
    /// The fast paths of take() and of skipping the rest of a line, for UTF-8 text that
    /// is already in the buffer; false (with nothing changed) when take() must do the work.
    bool lineEndInBuffer(size_t lineEnd) const noexcept;
    bool takeBuffered(size_t count, bool stopAtLineEnd, size_t* taken, bool* lineEnded,
                      MvbTextSpan* text) noexcept;
    bool skipLineBuffered(size_t* taken, bool* lineEnded) noexcept;
    /// read(), readInLine() and skip() for every case (decoding, refills, failures).
    [[gnu::noinline]] int readGeneral(int count, MvbTextSpan* text);
    [[gnu::noinline]] int readInLineGeneral(int count, MvbTextSpan* text, bool* lineEnded);
    [[gnu::noinline]] int skipGeneral(int count, bool* lineEnded);

    /// Moves past the line end at `at` (appending it to out_ as UTF-8 when `keep`); false when
    /// reading on to see whether a CR is followed by an LF fails.
    [[nodiscard]] bool keepLineEnd(size_t at, bool keep, size_t* next);
    int unclosedQuote();

    /// Drops what was read and goes on reading at byte `offset`, a line start.
    [[nodiscard]] bool restartAt(uint64_t offset);
    /// The first line start at or after `offset` (past the data start), found in the raw
    /// bytes; the file's size when none follows. False on a failed read.
    [[nodiscard]] bool lineStartAfter(uint64_t offset, uint64_t* start);
    /// The start of the first line at or after `offset` (a line start) that holds the byte
    /// `byte`, found in the raw bytes of UTF-8 text, before `limit`; `limit` when none does.
    /// False on a failed read.
    [[nodiscard]] bool lineHoldingAfter(uint64_t offset, char byte, uint64_t limit,
                                        uint64_t* start);
    /// What readBytes may take of `room`: no byte at or past `limit_`, and while scanning for
    /// a record start, a small piece.
    size_t roomBefore(const char* into, size_t room) const noexcept;
    /// At the end of a regular file's data, read up to `end` in the buffer: true when the file
    /// is still as long as what was read from it, else false after failing (it was cut while
    /// it was read).
    bool longAsRead(const char* end);

    int fail(std::string text);
    int decodeError(size_t at);
    int systemError(int error);

    int fd_;
    std::string path_;
    FileTuning tuning_;
    bool replaceNuls_;
    bool honourBom_;
    const EncodingInfo* encoding_ = nullptr;
    bool utf8_ = true;
    /// Each character of the file is one byte, in an encoding other than UTF-8.
    bool singleByte_ = false;
    size_t unit_ = 1;
    Converter converter_;
    std::unique_ptr<GzipInput> gzip_;  ///< set when the file holds gzip data

    std::unique_ptr<char[]> buffer_;
    size_t capacity_ = 0;  ///< usable bytes; a few more follow for a terminating NUL
    size_t pos_ = 0;       ///< first byte not yet consumed
    size_t end_ = 0;       ///< end of the bytes read
    size_t validEnd_ = 0;  ///< UTF-8: end of the checked prefix of whole, valid characters
    /// Where the current line ends, found once per line: with lineEndFound_ the first line-end
    /// unit at or after pos_; without it, no line end lies in [pos_, lineEnd_). Stale (and
    /// found again) once pos_ has passed it.
    size_t lineEnd_ = 0;
    bool lineEndFound_ = false;
    uint64_t bufferOffset_ = 0;  ///< file offset of buffer_[0]
    uint64_t size_ = 0;
    uint64_t dataStart_ = 0;       ///< the first byte after a byte-order mark
    uint64_t limit_ = UINT64_MAX;  ///< reading ends here as at the end of the file
    uint64_t rangeBegin_ = 0;      ///< where the range that readRange() set begins
    bool scanning_ = false;        ///< findRecordStart() reads small pieces, only what it needs
    bool movable_ = false;         ///< a regular file read as it stands: reading may move
    bool eof_ = false;
    bool failed_ = false;
    /// Not a plain file: a read may wait for data, a wait that a stop of the run ends.
    bool mayWait_ = false;

    bool pendingCr_ = false;      ///< a line ended with CR at the end of the data read so far
    size_t pendingCut_ = 0;       ///< bytes of a character cut by a count, still to be skipped
    uint64_t cutCharacters_ = 0;  ///< replacement characters handed out for parts of cut ones
    bool sawCr_ = false;
    uint64_t lastCr_ = 0;  ///< file offset of the last CR read (single-byte units)
    /// File offsets [noLfFrom_, noLfTo_) hold no LF (single-byte units): the lines of a file of
    /// CR line ends are not each searched for one to the end of the data read.
    mutable uint64_t noLfFrom_ = 0;
    mutable uint64_t noLfTo_ = 0;
    uint64_t linesDone_ = 0;   ///< line ends consumed, for the line number in messages
    uint64_t recordLine_ = 0;  ///< while a record is read: the line it starts on (1-based)
    /// While take() decodes text whose line ends are not yet counted: where that text starts.
    size_t uncountedFrom_ = kFailed;

    size_t savedAt_ = kFailed;  ///< where a NUL stands in for a byte of the file
    char savedByte_ = 0;

    ByteBuffer out_;      ///< converted text handed out
    ByteBuffer scratch_;  ///< converted text that is skipped
    std::string error_;
};

}  // namespace mvb::txt
