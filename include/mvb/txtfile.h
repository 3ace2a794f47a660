#pragma once

#include <cstddef>
#include <cstdint>

#include "mvb/export.h"
#include "mvb/string.h"
#include "mvb/types.h"

/// What abandon() adds to the name of a file replaced at the end for the whole records that a
/// run which did not finish keeps beside it.
inline constexpr const char* MVB_KEPT_RECORDS_SUFFIX = ".partial";

/// Decoded UTF-8 text handed out by an MvbTxtFile read. It points into the file's own buffer,
/// is NUL-terminated after `bytes` bytes (NULs read from the file may appear inside), and stays
/// valid until the next operation on the same file.
struct MvbTextSpan {
    const char* text = "";
    int bytes = 0;
};

/// How a delimited record's fields are quoted, for MvbTxtFile::readRecord(); the same codes
/// and flags as mvs_parse_text_ex2.
struct MvbRecordQuoting {
    int delimiterCode = 0;
    int quoteCode = 0;
    unsigned parseFlags = 0;
};

/// The longest line or record, in bytes of the file, that a file opened for reading holds; a
/// longer one fails to read.
inline constexpr size_t kMvbLongestRecordBytes = size_t{256} << 20;

/// An open text file with an encoding, a line-end convention, a byte size and a byte position.
///
/// Everything handed in and out is UTF-8; the file decodes its encoding on read and encodes on
/// write. Counts given to read(), readInLine(), skip() and skipRecords() and the counts they
/// return are bytes of the file's encoding, so fixed positions stay where a record layout puts
/// them. Created by mvbTxtFileOpen() or MvbDirectoryListing::openCurrent(); destroyed by close().
class MVB_API MvbTxtFile {
  public:
    /// The encoding number the file is read or written with (after detection).
    virtual int getEncoding() const = 0;
    /// The text of the last failure: what failed, the file's name, and for decoding errors the
    /// line number and byte offset.
    virtual void getLastError(MvbString& text) const = 0;

    /// Reads `count` bytes of the file. Returns the bytes read (fewer at the end of the file,
    /// 0 at its end), negative on failure. Line ends are data here.
    virtual int read(int count, MvbTextSpan* text) = 0;
    /// As read(), but stops at the end of the current line: the line end is consumed, not
    /// returned, and sets `*lineEnded`. Returns the bytes of text read (without the line end).
    virtual int readInLine(int count, MvbTextSpan* text, bool* lineEnded) = 0;
    /// Reads the next line (`count` is -1). Returns the UTF-8 byte length of the line, without
    /// its line end, and sets `*present`. At the end of the file it returns 0 with `*present`
    /// false; an empty line gives 0 with `*present` true. Negative on failure.
    virtual int readLine(int count, MvbTextSpan* line, bool* present) = 0;
    /// Skips `count` records of `width` bytes. False on failure.
    virtual bool skipRecords(int width, int count) = 0;
    /// Closes the file and destroys this object. Buffered output is written first; a caller
    /// that must know whether it reached the file calls flush() before.
    virtual void close() = 0;
    /// The file's size in bytes; 0 when it cannot be told.
    virtual uint64_t getSize() const = 0;
    /// Skips `count` bytes, or with -1 the rest of the line and its line end. With `lineEnded`
    /// given it stops at the end of the line, consumes the line end and sets the flag. Returns
    /// the bytes skipped (without a line end), 0 at the end of the file, negative on failure.
    /// With -1 the line end counts too, so that skipping an empty line gives more than 0.
    virtual int skip(int count, bool* lineEnded) = 0;
    /// The byte position that reading or writing has reached.
    virtual uint64_t getPosition() const = 0;

    /// Writes buffered output to the file. False on failure (the reason in getLastError).
    virtual bool flush() = 0;
    /// Writes `text` (`byteLength` bytes of UTF-8) left-aligned in a field of `width` bytes of
    /// the file's encoding, padded with blanks; a longer text is cut after its last whole
    /// character that fits. False on failure.
    virtual bool writePadded(const char* text, int byteLength, int width) = 0;
    virtual bool writeString(const MvbString& text) = 0;
    virtual bool writeChars(const char* bytes, int byteCount) = 0;
    virtual bool writeText(const char* text) = 0;
    /// Writes the text and then the file's line end.
    virtual bool writeLine(const char* text) = 0;
    /// As writePadded(); `*cut` tells whether the text was longer than the field, so that only
    /// its head was written. The cut comes before the text is encoded: a character past it
    /// never fails the write, even one the encoding lacks.
    virtual bool writePaddedField(const char* text, int byteLength, int width, bool* cut) = 0;

    /// Reads the next record: the next line and, for as long as a line ends inside a quoted
    /// field (mvs_record_continues), the lines after it, with the line ends between them kept
    /// as they stand in the file (LF, CR LF or CR). Returns as readLine() does. A quoted field
    /// still open at the end of the file fails, with a text that names the file and the line
    /// where the record starts; so does a record longer than the longest line read at once.
    virtual int readRecord(const MvbRecordQuoting& quoting, MvbTextSpan* record, bool* present) = 0;
    /// Writes `byteCount` bytes of text that the caller has already found to be valid UTF-8,
    /// then the file's line end when `endLine` is set. A UTF-8 file takes the bytes as they
    /// stand, without checking them again; any other encoding converts them as writeChars()
    /// does. For text of unknown origin use writeChars(). False on failure.
    virtual bool writeCheckedText(const char* bytes, int byteCount, bool endLine) = 0;
    /// Room for at least `byteCount` bytes of text, straight in a UTF-8 file's write buffer, so
    /// that a caller can build a line where it is written instead of copying it there: the
    /// caller puts text it has found to be valid UTF-8 there and ends with commitCheckedText(),
    /// or leaves the room unused (nothing of it is written). Any other call on the file may
    /// reuse the room. Null when the file is not UTF-8, is not open for writing, has failed,
    /// `byteCount` is larger than its buffer, or emptying the buffer to make room failed.
    virtual char* reserveCheckedText(int byteCount) = 0;
    /// Writes the text put in the room that reserveCheckedText() gave, up to `end`, then the
    /// file's line end when `endLine` is set. False on failure.
    virtual bool commitCheckedText(const char* end, bool endLine) = 0;

    /// Marks the end of a whole record: what was written so far ends where a record ends. A
    /// file whose writing fails or is abandoned ends at its last mark, never inside a record.
    virtual void markRecordEnd() = 0;
    /// Ends a file written to its end: writes out what is buffered and, for a file opened with
    /// MVB_FLAG_REPLACE_AT_END, makes it durable and puts it in place of the file named at the
    /// open (with that file's permissions). False on failure, the reason in getLastError();
    /// abandon() is then still possible.
    virtual bool commit() = 0;
    /// Ends a file whose writing did not reach its end: the file ends at its last record mark
    /// (buffered whole records are written out first, the rest is dropped). A file opened with
    /// MVB_FLAG_REPLACE_AT_END leaves the file named at the open as it was: with `keep` and at
    /// least one whole record, its records are kept beside it under that name with ".partial"
    /// added, which `keptAs` receives; else it is removed and `keptAs` is empty. Returns the
    /// number of whole records (marks) the file holds from this open.
    virtual uint64_t abandon(bool keep, MvbString& keptAs) = 0;
    /// Finds a byte position at or after `offset` where a record begins, so that readers of
    /// parts of one file agree where each part starts: the first line start at or after
    /// `offset` (the data start, after a byte-order mark, for an offset before it; the size
    /// for one past the last line start). With `quoting` (records whose quoted values may hold
    /// line ends, as readRecord() reads them) the line there may go on inside a quoted value
    /// of the record before it: both readings are followed until a line start where both
    /// are outside quotes, or until one of them cannot be right (it stays inside quotes
    /// to the end of the file or past the longest record that can be read). Returns 1 with
    /// `*start` set, 0 when no record start can be told (the file cannot be read from a byte
    /// position: standard input, gzip data; or the readings never settle), negative on
    /// failure. Leaves the reading position anywhere: readRange() sets it.
    virtual int findRecordStart(uint64_t offset, const MvbRecordQuoting* quoting,
                                uint64_t* start) = 0;
    /// Reads on from byte `begin` (a record start) and ends the file's data at byte `end`:
    /// reading stops there as at the end of the file; getSize() and getPosition() then count
    /// within the range. False when the file cannot be read from a byte position or moving
    /// fails (the reason in getLastError).
    virtual bool readRange(uint64_t begin, uint64_t end) = 0;
    /// A shortcut for a line of fixed fields: reads the whole next line, its fields, the rest
    /// and its line end, as skip() and readInLine() field by field and a last skip(-1) would,
    /// when the file can hand out every field from what it holds. Field i is `widths[i]` (more
    /// than 0) bytes from byte `starts[i]` of the line, each field at or after the end of the
    /// one before. `texts[i]` gets the field's text: empty for a field the line ends before,
    /// else at least a byte. The texts point into the file's buffer, are not NUL-terminated and
    /// stay valid until the next operation; each can be read for mvb::TextBytes::kPaddedReadBytes
    /// from its start, whatever its length (see MvbDatavar::assignKnownUtf8Padded()). Returns
    /// false, having read nothing and with `texts` unspecified, where it cannot (the file is not
    /// UTF-8, the line is not wholly read yet or is the last, a field's edge would cut a character,
    /// the layout is none such); the caller then reads the fields one by one.
    virtual bool readLineFields(int count, const int* starts, const int* widths,
                                MvbTextSpan* texts) = 0;
    /// As read(), for a reader of the text in pieces: where `count` bytes would end inside a
    /// character, the piece ends before it and the next one begins with it, so that no
    /// character is cut into replacement characters (read() cuts it, as fields of a fixed
    /// width must). A count smaller than the next character reads as read() does.
    virtual int readWhole(int count, MvbTextSpan* text) = 0;
    /// How many replacement characters (U+FFFD) reads have handed out so far for parts of
    /// characters that their counts cut: read() and readInLine() give each part of such a
    /// character, on either side of the count's end, as one. A reader of fixed fields tells by
    /// it which fields lost a character.
    virtual uint64_t getCutCharacters() const = 0;
    /// True for a file written to a temporary file of its own that takes the target's place at
    /// commit(); false for one written in place (appended to, a device, a pipe, IN_PLACE), or
    /// read.
    virtual bool replacesAtEnd() const = 0;

  protected:
    virtual ~MvbTxtFile();
};

/// Opens `path` in `mode` (MVB_OPEN_*) with the encoding number `encoding` (-1: detect when
/// reading, UTF-8 when writing) and MVB_FLAG_* `flags`. A file opened to write with
/// MVB_FLAG_REPLACE_AT_END and not committed is abandoned (and kept) by close(). Returns the file,
/// or null with `errorText` saying what failed and naming the path.
///
/// The path "-" is standard input when reading and standard output otherwise. A standard
/// descriptor that is close-on-exec was not inherited from the program's starter: the program
/// found it closed and opened a stand-in on it for its messages, so it is refused for data.
MVB_API MvbTxtFile* mvbTxtFileOpen(const char* path, int mode, int encoding, uint32_t flags,
                                   MvbString& errorText);

/// The file that writing `path` writes: `path` with its symbolic links followed, as the system
/// follows them (the file a link names, made or not yet); `path` itself when it is no link or
/// leads to no regular file (a device or a pipe, written in place).
MVB_API MvbString mvbLinkTarget(const char* path);

/// The temporary files that runs replacing `path` at their end left beside it when they were
/// killed outright (those whose process no longer runs), one name a line; empty when none.
MVB_API MvbString mvbLeftoverTemporaries(const char* path);

/// True when the standard descriptor `fd` (0, 1 or 2) was closed when the program started: the
/// program opened a stand-in on it for its messages, close-on-exec as no inherited descriptor
/// is. Such a stream is refused for data ("-").
MVB_API bool mvbStandardStreamClosedAtStart(int fd) noexcept;

/// Ends the waits of every open text file for data that has not come: a read from a pipe, a
/// terminal or a socket that has nothing to give, or the opening of a named pipe that no
/// program writes to yet, fails within a tenth of a second with a text that says the run was
/// stopped. Data already there is still read. Safe to call from a signal handler.
MVB_API void mvbTxtFileStopWaits() noexcept;
/// Lets the files wait for data again, for a new run.
MVB_API void mvbTxtFileResumeWaits() noexcept;
/// True once mvbTxtFileStopWaits() was called (and until mvbTxtFileResumeWaits()): a reader of
/// data that never has to wait (a device) asks it to know of the stop.
MVB_API bool mvbTxtFileWaitsStopped() noexcept;
/// read() of the descriptor `fd` that waits for data as the text files do: a wait on a pipe or
/// a terminal that has nothing to give ends within a tenth of a second of
/// mvbTxtFileStopWaits(), with -1 and errno ECANCELED. Otherwise what read() answers, an
/// interrupted read tried again.
MVB_API long mvbReadWaiting(int fd, void* buffer, size_t size) noexcept;
