#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "encoding_table.h"
#include "mvb/path.h"
#include "mvb/txtfile.h"
#include "mvb/types.h"
#include "txtfile_file.h"
#include "txtfile_gzip.h"
#include "txtfile_gzip_output.h"
#include "txtfile_internal.h"
#include "txtfile_replace.h"
#include "txtfile_wait.h"

namespace mvb::txt {
namespace {

bool isDirectory(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

/// The folder that holds `path` ("." for a bare name).
std::string folderOf(const char* path) {
    const MvbString folder = mvbParsePath(path, nullptr);
    return folder.empty() ? std::string(".") : std::string(folder.view());
}

/// The first leading part of `path` that exists but is not a folder; empty when none is.
std::string firstNonFolder(const std::string& path) {
    for (size_t slash = path.find('/', 1); slash != std::string::npos;
         slash = path.find('/', slash + 1)) {
        const std::string part = path.substr(0, slash);
        struct stat info {};
        if (stat(part.c_str(), &info) == 0 && !S_ISDIR(info.st_mode)) {
            return part;
        }
    }
    return {};
}

/// What an open of `path` that failed with `error` means, in the user's words.
std::string openFailure(const char* path, int error, bool writing) {
    // Built piece by piece: GCC 12 warns wrongly (-Wrestrict) on a literal + std::string here.
    std::string file(1, '"');
    file.append(path).push_back('"');
    const char* verb = writing ? "write" : "read";
    switch (error) {
        case ENOENT: {
            const std::string folder = folderOf(path);
            if (!isDirectory(folder)) {
                return std::string("cannot ") + verb + " file " + file + ": the folder \"" +
                       folder + "\" does not exist";
            }
            return std::string("cannot ") + verb + " file " + file + ": the file does not exist";
        }
        case ENOTDIR: {
            const std::string part = firstNonFolder(path);
            if (!part.empty()) {
                return std::string("cannot ") + verb + " file " + file + ": \"" + part +
                       "\" is a file, not a folder";
            }
            break;
        }
        case EISDIR:
            return std::string("cannot ") + verb + " file " + file + ": it is a folder, not a file";
        case ECANCELED:
            return std::string("cannot ") + verb + " file " + file + ": " +
                   (writing ? "the run was stopped while the pipe waited for a program to read it"
                            : stoppedWaitReason());
        case EACCES:
        case EPERM:
            return std::string("cannot ") + verb + " file " + file + ": no permission (" +
                   systemReason(error) + ")";
        case EROFS:
            return std::string("cannot ") + verb + " file " + file +
                   ": it is on a file system mounted read-only";
        default:
            break;
    }
    return std::string("cannot ") + verb + " file " + file + ": " + systemReason(error);
}

/// True for the name that stands for standard input or output.
bool isStandardStream(const char* path) {
    return path[0] == '-' && path[1] == '\0';
}

/// Why "-" cannot stand for standard input (0) or output (1) when that was closed at start.
std::string closedStreamFailure(int fd) {
    const bool writing = fd == STDOUT_FILENO;
    return std::string("cannot ") + (writing ? "write to standard output" : "read standard input") +
           " (\"-\"): it was closed when the program started, so there is no file " +
           (writing ? "to write the data to" : "to read") +
           "; name a file, or start the program "
           "with " +
           (writing ? "standard output" : "standard input") + " open";
}

/// A descriptor of its own for standard input or output, so that closing the file leaves the
/// process's stream open; -1 with `errorText` set when the stream was closed at start.
int duplicateStandard(int fd, MvbString& errorText) {
    if (mvbStandardStreamClosedAtStart(fd)) {
        errorText.assign(closedStreamFailure(fd));
        return -1;
    }
    const int copy = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
    if (copy < 0) errorText.assign(openFailure("-", errno, fd == STDOUT_FILENO));
    return copy;
}

/// The reader of the open descriptor `fd`, which it takes; null with `errorText` set when
/// `fd` is a folder or its start cannot be read.
MvbTxtFile* openReader(int fd, const char* path, const EncodingInfo* encoding, uint32_t flags,
                       const FileTuning& tuning, MvbString& errorText) {
    struct stat info {};
    if (fstat(fd, &info) == 0 && S_ISDIR(info.st_mode)) {
        ::close(fd);
        errorText.assign(openFailure(path, EISDIR, false));
        return nullptr;
    }
    auto reader = std::make_unique<TextReader>(fd, path, flags, tuning);
    if (!reader->start(encoding)) {
        errorText.assign(reader->error());
        return nullptr;
    }
    return new TextFile(path, std::move(reader));
}

/// Opens `path` for reading; a named pipe's wait for its writer ends when the run stops.
int openToRead(const char* path) {
    struct stat info {};
    if (::stat(path, &info) == 0 && S_ISFIFO(info.st_mode)) return openPipeForReading(path);
    return ::open(path, O_RDONLY | O_CLOEXEC);
}

MvbTxtFile* openForReading(const char* path, const EncodingInfo* encoding, uint32_t flags,
                           const FileTuning& tuning, MvbString& errorText) {
    if (isStandardStream(path)) {
        const int fd = duplicateStandard(STDIN_FILENO, errorText);
        return fd < 0 ? nullptr : openReader(fd, path, encoding, flags, tuning, errorText);
    }
    const int fd = openToRead(path);
    if (fd < 0) {
        errorText.assign(openFailure(path, errno, false));
        return nullptr;
    }
    return openReader(fd, path, encoding, flags, tuning, errorText);
}

/// Proves that `path` can be opened for writing without changing anything: an existing file
/// is opened without emptying it, a missing one is created and removed again.
bool probeWritable(const char* path, MvbString& errorText) {
    if (isStandardStream(path)) {
        if (mvbStandardStreamClosedAtStart(STDOUT_FILENO)) {
            errorText.assign(closedStreamFailure(STDOUT_FILENO));
            return false;
        }
        return true;
    }
    struct stat existing {};
    if (::stat(path, &existing) == 0 && S_ISFIFO(existing.st_mode)) {
        // Opening a pipe, even only to close it again, would hand its reader an end of data
        // (and fails while it has none): the permission is all there is to prove.
        if (::faccessat(AT_FDCWD, path, W_OK, AT_EACCESS) == 0) return true;
        errorText.assign(openFailure(path, errno, true));
        return false;
    }
    int fd = ::open(path, O_WRONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0 && errno == ENOENT) {
        fd = ::open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            ::unlink(path);
        }
    }
    if (fd < 0) {
        errorText.assign(openFailure(path, errno, true));
        return false;
    }
    ::close(fd);
    return true;
}

/// Refuses to append to a file whose byte-order mark says that it holds another encoding than
/// the one it would be written in: the two would be mixed in one file.
bool markFits(const char* path, int fd, const EncodingInfo& encoding, MvbString& errorText) {
    char head[4];
    ssize_t got = ::pread(fd, head, sizeof head, 0);
    if (got <= 0) {
        return true;
    }
    // A file written compressed takes another gzip member: its mark is in what it holds.
    if (hasGzipName(path) && !isStandardStream(path)) {
        if (!startsGzip(head, static_cast<size_t>(got))) {
            errorText.assign("cannot append to file \"" + std::string(path) +
                             "\": its name ends in .gz, but it does not hold gzip data; write "
                             "another file, or append to it under a name without .gz");
            return false;
        }
        got = static_cast<ssize_t>(inflatedHead(fd, head, sizeof head));
    }
    // No encoding is preferred: a UTF-32LE mark is also the start of a UTF-16LE one, and only
    // the longer mark tells the two apart.
    const EncodingInfo* marked = encodingFromBom(head, static_cast<size_t>(got), nullptr);
    if (marked == nullptr || marked == &encoding || (marked->isUtf8() && encoding.isUtf8())) {
        return true;
    }
    errorText.assign("cannot append to file \"" + std::string(path) + "\": it starts with a " +
                     marked->name + " byte-order mark, but would be written as " + encoding.name +
                     ": set ENCODING " + std::to_string(marked->number) +
                     " to add to it, or write another file");
    return false;
}

/// What a compressed file opened to append holds, inflated whole once: its bytes' count and
/// its last bytes (the latest at the end), or that its data is damaged or cut short.
struct InflatedText {
    bool whole = false;
    uint64_t size = 0;
    unsigned char last[4] = {};
};

/// The text of the file open as `fd` when it is a compressed regular file of some bytes.
std::optional<InflatedText> inflatedText(const char* path, int fd) {
    struct stat info {};
    if (!hasGzipName(path) || isStandardStream(path) || fstat(fd, &info) != 0 ||
        !S_ISREG(info.st_mode) || info.st_size == 0) {
        return std::nullopt;
    }
    InflatedText text;
    text.whole = inflatedTail(fd, text.last, sizeof text.last, &text.size);
    return text;
}

/// Refuses to append to a file that ends inside a code unit of the encoding it would be
/// written in: all that is added would be out of step with the units it holds. A compressed
/// file counts what it holds (`inflated`), and is refused when its data is damaged or cut
/// short: what is added after such data could not be read back.
bool unitsFit(const char* path, int fd, const EncodingInfo& encoding,
              const std::optional<InflatedText>& inflated, MvbString& errorText) {
    struct stat info {};
    const auto unit = static_cast<uint64_t>(encoding.unitBytes);
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) return true;
    auto size = static_cast<uint64_t>(info.st_size);
    if (inflated) {
        if (!inflated->whole) {
            errorText.assign("cannot append to file \"" + std::string(path) +
                             "\": its gzip data is damaged or cut short, so rows added after it "
                             "could not be read back; write another file");
            return false;
        }
        size = inflated->size;
    }
    if (size % unit == 0) return true;
    errorText.assign("cannot append to file \"" + std::string(path) + "\": it is " +
                     std::to_string(size) + (size == 1 ? " byte" : " bytes") +
                     " long, not a whole number of " + encoding.name + " code units (" +
                     std::to_string(unit) +
                     " bytes each), so what is added would not line up with what it holds: set "
                     "the ENCODING it was written in, or write another file");
    return false;
}

/// Refuses an append that would mix encodings or misalign the file's code units.
bool appendFits(const char* path, int fd, const EncodingInfo& encoding,
                const std::optional<InflatedText>& inflated, MvbString& errorText) {
    return markFits(path, fd, encoding, errorText) &&
           unitsFit(path, fd, encoding, inflated, errorText);
}

/// True when the `size` bytes of the file open as `fd` are no more than `encoding`'s
/// byte-order mark.
bool onlyMark(int fd, uint64_t size, const EncodingInfo& encoding) {
    char head[4];
    const size_t length = encoding.bom.size();
    return length > 0 && size == length &&
           ::pread(fd, head, length, 0) == static_cast<ssize_t>(length) &&
           std::string_view(head, length) == encoding.bom;
}

/// True when the file open as `fd`, of `size` bytes, does not end with a line end (LF or CR as
/// a code unit of `encoding`): text appended to it would continue its last line. A file of
/// only a byte-order mark has no line to end. Of a compressed file, the text it holds
/// (`inflated`).
bool endsInsideLine(int fd, uint64_t size, const EncodingInfo& encoding,
                    const std::optional<InflatedText>& inflated) {
    const auto unit = static_cast<size_t>(encoding.unitBytes);
    unsigned char last[4] = {};
    if (inflated) {
        char head[4];
        size = inflated->size;
        if (!inflated->whole || size < unit ||
            (size == encoding.bom.size() && inflatedHead(fd, head, size) == size &&
             std::string_view(head, size) == encoding.bom)) {
            return false;  // damaged, or nothing but a mark
        }
        std::memcpy(last, inflated->last + sizeof inflated->last - unit, unit);
    } else if (size < unit || onlyMark(fd, size, encoding) ||
               ::pread(fd, last, unit, static_cast<off_t>(size - unit)) !=
                   static_cast<ssize_t>(unit)) {
        return false;  // unreadable (a write-only file): left as it is
    }
    const size_t low = encoding.bigEndian ? unit - 1 : 0;
    for (size_t i = 0; i < unit; ++i) {
        if (i != low && last[i] != 0) {
            return true;
        }
    }
    return last[low] != '\n' && last[low] != '\r';
}

/// The writer of the open descriptor `fd`, which it takes; null with `errorText` set when
/// the file cannot take the text (an append of another encoding) or its start fails. With a
/// `temporary` name, `fd` is that file, which takes the place of `path` when committed (and is
/// removed when the start fails).
MvbTxtFile* startWriter(int fd, const char* path, int mode, const EncodingInfo& encoding,
                        uint32_t flags, const FileTuning& tuning, const std::string* temporary,
                        MvbString& errorText, const std::string& target = {}) {
    struct stat info {};
    uint64_t size = 0;
    bool atStart = mode == MVB_OPEN_CREATE;
    std::optional<InflatedText> inflated;  // of a compressed file appended to, inflated once
    if (fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
        size = static_cast<uint64_t>(info.st_size);
        atStart = size == 0;
        if (mode == MVB_OPEN_APPEND && size > 0) inflated = inflatedText(path, fd);
        if (mode == MVB_OPEN_APPEND && size > 0 &&
            !appendFits(path, fd, encoding, inflated, errorText)) {
            ::close(fd);
            return nullptr;
        }
    }
    // A byte-order mark only ever starts a file, never lands in the middle of one.
    const bool bom = (flags & MVB_FLAG_WRITE_BOM) != 0 && atStart && !encoding.bom.empty();
    auto writer = std::make_unique<TextWriter>(fd, path, encoding, flags, tuning, size);
    if (temporary != nullptr) {
        writer->replaceAtEnd(target.empty() ? std::string(path) : target, *temporary);
    }
    // A name ending in .gz is written compressed; appending to one adds a gzip member.
    const bool gzip = !isStandardStream(path) && hasGzipName(path);
    // Lines appended to a file whose last line has no line end begin on a line of their own.
    const bool endLastLine = mode == MVB_OPEN_APPEND && size > 0 &&
                             (flags & MVB_FLAG_APPEND_LINES) != 0 &&
                             endsInsideLine(fd, size, encoding, inflated);
    if ((gzip && !writer->compressAsGzip(atStart)) || !writer->start(bom) ||
        (endLastLine && !writer->writeLineEnd())) {
        if (temporary != nullptr) {
            ::unlink(temporary->c_str());
        }
        errorText.assign(writer->error());
        return nullptr;
    }
    return new TextFile(path, std::move(writer));
}

MvbTxtFile* openForWriting(const char* path, int mode, const EncodingInfo& encoding, uint32_t flags,
                           const FileTuning& tuning, MvbString& errorText) {
    // A link stays: the file it names is the one replaced.
    const std::string target = isStandardStream(path) ? std::string(path) : linkTarget(path);
    const bool replacing = replacesAtEnd(target.c_str(), mode, flags);
    if ((flags & MVB_FLAG_PROBE) != 0) {
        std::string reason;
        if (replacing && !probeReplacement(target.c_str(), &reason)) {
            errorText.assign(reason.empty() ? openFailure(target.c_str(), errno, true) : reason);
            return nullptr;
        }
        if (!replacing && !probeWritable(path, errorText)) {
            return nullptr;
        }
        if (mode == MVB_OPEN_APPEND && !isStandardStream(path)) {
            const int fd = ::open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
            const bool fits =
                fd < 0 || appendFits(path, fd, encoding, inflatedText(path, fd), errorText);
            if (fd >= 0) {
                ::close(fd);
            }
            if (!fits) {
                return nullptr;
            }
        }
        auto writer = std::make_unique<TextWriter>(-1, path, encoding, flags, tuning, 0);
        if (!writer->start(false)) {
            errorText.assign(writer->error());
            return nullptr;
        }
        return new TextFile(path, std::move(writer));
    }
    const int access = mode == MVB_OPEN_APPEND ? O_APPEND : O_TRUNC;
    // Appending reads the file's head for its mark, so it opens for reading too.
    const int direction = mode == MVB_OPEN_APPEND ? O_RDWR : O_WRONLY;
    if (isStandardStream(path)) {
        const int fd = duplicateStandard(STDOUT_FILENO, errorText);
        return fd < 0 ? nullptr
                      : startWriter(fd, path, mode, encoding, flags, tuning, nullptr, errorText);
    }
    if (replacing) {
        std::string temporary;
        std::string reason;
        const int fd = openReplacement(target.c_str(), &temporary, &reason);
        if (fd < 0) {
            errorText.assign(reason.empty() ? openFailure(target.c_str(), errno, true) : reason);
            return nullptr;
        }
        return startWriter(fd, path, mode, encoding, flags, tuning, &temporary, errorText, target);
    }
    struct stat existing {};
    if (::stat(path, &existing) == 0 && S_ISFIFO(existing.st_mode)) {
        // A named pipe takes the rows as they come, once a program reads it: the wait for one
        // ends with a stop of the run.
        const int fd = openPipeForWriting(path);
        if (fd < 0) {
            errorText.assign(openFailure(path, errno, true));
            return nullptr;
        }
        return startWriter(fd, path, mode, encoding, flags, tuning, nullptr, errorText);
    }
    int fd = ::open(path, direction | O_CREAT | O_CLOEXEC | access, 0666);
    if (fd < 0 && errno == EACCES && direction == O_RDWR) {
        fd = ::open(path, O_WRONLY | O_CREAT | O_CLOEXEC | access, 0666);  // write-only file
    }
    if (fd < 0) {
        errorText.assign(openFailure(path, errno, true));
        return nullptr;
    }
    return startWriter(fd, path, mode, encoding, flags, tuning, nullptr, errorText);
}

}  // namespace

MvbTxtFile* openTextFile(const char* path, int mode, int encoding, uint32_t flags,
                         MvbString& errorText, const FileTuning& tuning) {
    errorText.assign("");
    if (path == nullptr || *path == '\0') {
        errorText.assign("cannot open a file without a name");
        return nullptr;
    }
    if (mode != MVB_OPEN_APPEND && mode != MVB_OPEN_READ && mode != MVB_OPEN_CREATE) {
        errorText.assign("cannot open file \"" + std::string(path) + "\" in mode " +
                         std::to_string(mode) + " (0 append, 1 read, 2 create)");
        return nullptr;
    }
    const EncodingInfo* info = nullptr;
    if (encoding != -1) {
        info = findEncoding(encoding);
        if (info == nullptr) {
            errorText.assign("cannot open file \"" + std::string(path) + "\": encoding number " +
                             std::to_string(encoding) +
                             " is not known (for example 65001 UTF-8, 1200 UTF-16LE, 1252 "
                             "Windows-1252, -1 detect)");
            return nullptr;
        }
    }
    if (mode == MVB_OPEN_READ) {
        return openForReading(path, info, flags, tuning, errorText);
    }
    return openForWriting(path, mode, info != nullptr ? *info : utf8Encoding(), flags, tuning,
                          errorText);
}

}  // namespace mvb::txt

MvbTxtFile* mvbTxtFileOpen(const char* path, int mode, int encoding, uint32_t flags,
                           MvbString& errorText) {
    return mvb::txt::openTextFile(path, mode, encoding, flags, errorText, mvb::txt::FileTuning{});
}

bool mvbStandardStreamClosedAtStart(int fd) noexcept {
    // A descriptor inherited from the starter is never close-on-exec.
    const int flags = ::fcntl(fd, F_GETFD);
    return flags == -1 || (flags & FD_CLOEXEC) != 0;
}
