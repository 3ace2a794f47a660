#include "infer_layout.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "infer_encoding.h"
#include "infer_steps.h"
#include "mvb/string.h"
#include "mvb/txtfile.h"
#include "mvb/types.h"

namespace textjob::infer {
namespace {

/// The head of the file that chooses the encoding.
constexpr size_t kHeadBytes = 64u * 1024u;

/// A copy of standard input in a temporary file, read through /proc/self/fd: detection reads
/// its input more than once. The file has no name from the start, so that nothing is left
/// behind however the program ends. Standard input is read as the sources read a pipe: a stop
/// ends a wait for data that does not come.
class StandardInputCopy {
  public:
    StandardInputCopy() {
        // Standard input closed at start has a stand-in that would read as an empty file.
        if (mvbStandardStreamClosedAtStart(STDIN_FILENO)) {
            throw InferError(
                "cannot read standard input: it was closed when the program started; name a "
                "file, or start the program with standard input open");
        }
        const char* folder = std::getenv("TMPDIR");
        std::string name = std::string(folder != nullptr && *folder != '\0' ? folder : "/tmp") +
                           "/textjob-infer-XXXXXX";
        fd_ = ::mkstemp(name.data());
        if (fd_ < 0)
            throw InferError("cannot make a temporary copy of standard input in " + name + ": " +
                             std::strerror(errno));
        ::unlink(name.c_str());
        path_ = "/proc/self/fd/" + std::to_string(fd_);
        std::vector<char> buffer(1u << 16);
        for (;;) {
            // A device never waits for its data, so the stop is looked for at each piece too.
            const long got = mvbTxtFileWaitsStopped()
                                 ? (errno = ECANCELED, -1L)
                                 : mvbReadWaiting(STDIN_FILENO, buffer.data(), buffer.size());
            if (got == 0) break;
            if (got < 0 || !writeAll(fd_, buffer.data(), static_cast<size_t>(got))) {
                const int error = errno;
                ::close(fd_);
                if (error == ECANCELED) throw InferError("stopped before the end of the data");
                throw InferError(std::string("cannot copy standard input to ") + name + ": " +
                                 std::strerror(error));
            }
        }
    }
    ~StandardInputCopy() { ::close(fd_); }
    StandardInputCopy(const StandardInputCopy&) = delete;
    StandardInputCopy& operator=(const StandardInputCopy&) = delete;

    const std::string& path() const { return path_; }

  private:
    static bool writeAll(int fd, const char* bytes, size_t size) {
        while (size > 0) {
            const ssize_t put = ::write(fd, bytes, size);
            if (put < 0 && errno == EINTR) continue;
            if (put <= 0) {
                if (put == 0) errno = ENOSPC;
                return false;
            }
            bytes += put;
            size -= static_cast<size_t>(put);
        }
        return true;
    }

    int fd_ = -1;
    std::string path_;
};

/// True when the whole file reads as UTF-8 through the runtime's decoder (a failure to read
/// counts as valid: it is not an encoding question, and reading again reports it).
bool fileIsUtf8(const std::string& path) {
    MvbString error;
    MvbTxtFile* file = mvbTxtFileOpen(path.c_str(), MVB_OPEN_READ, kUtf8, 0, error);
    if (file == nullptr) return true;
    int got = 0;
    do {
        MvbTextSpan span;
        got = file->readWhole(1 << 20, &span);
    } while (got > 0);
    file->close();
    return got == 0;
}

std::string lineEndReason(const FileLayout& layout) {
    const LineEndCounts& counts = layout.lineEnds;
    std::vector<std::string> kinds;
    if (counts.crlf > 0) kinds.push_back(std::to_string(counts.crlf) + " CR LF");
    if (counts.lf > 0) kinds.push_back(std::to_string(counts.lf) + " LF");
    if (counts.cr > 0) kinds.push_back(std::to_string(counts.cr) + " CR");
    const std::string where =
        layout.lineEndsWhole
            ? ""
            : " in the first " + std::to_string(layout.lineEndsBytes / 1024) + " KB";
    if (kinds.empty()) return "line ends  none (one line)";
    const std::string outside = layout.newlinesInValues ? ", outside quoted values" : "";
    if (kinds.size() == 1) {
        const char* kind = counts.crlf > 0 ? "CR LF" : counts.lf > 0 ? "LF" : "CR";
        return std::string("line ends  ") + kind + " (" + kinds[0] + where + outside + ")";
    }
    std::string text = "line ends  mixed (";
    for (size_t i = 0; i < kinds.size(); ++i)
        text += (i > 0 ? ", " : "") + kinds[i];
    return text + where + outside + "; each reads as a line end)";
}

/// Why the encoding was chosen, once the whole file has been read in it without a fault.
std::string encodingReason(const EncodingChoice& encoding, bool readWhole) {
    std::string how = encoding.how;
    const std::string head = "in the first " + std::to_string(kHeadBytes / 1024) + " KB";
    const size_t at = how.find(head);
    if (readWhole && encoding.number == kUtf8 && at != std::string::npos)
        how.replace(at, head.size(), "in the whole file");
    return "encoding   " + encoding.name + " (" + how + ")";
}

/// The runtime's text for bytes the file's encoding has no character for, with advice for the
/// command that asked in place of that for a job's step; other texts as they stand.
std::string withEncodingAdvice(const std::string& text, const EncodingChoice& encoding, bool given,
                               const InferOptions& options) {
    if (!text.starts_with("invalid or incomplete ")) return text;
    std::string said = text.substr(0, text.find(": the file is not UTF-8; set ENCODING"));
    const std::string advice = giveEncoding(
        options.encodingOption, {}, encoding.number == kUtf8 ? "such as 1252 or latin1" : "");
    if (given) return said + ": the file is not " + encoding.name + " throughout; " + advice;
    return said + ": its start says " + encoding.name + " (" + encoding.how +
           ") but the bytes there are not; fix them, or " + advice;
}

}  // namespace

FileLayout inferLayout(const std::string& path, const InferOptions& options) {
    std::unique_ptr<StandardInputCopy> input;
    if (path == "-" && options.inputCopy.empty()) input = std::make_unique<StandardInputCopy>();
    const std::string& readPath = input != nullptr ? input->path()
                                  : path == "-"    ? options.inputCopy
                                                   : path;
    uint64_t fileBytes = 0;
    const std::string head = readHead(readPath, kHeadBytes, fileBytes);
    const bool wholeHead = head.size() < kHeadBytes;
    const bool given = !options.encoding.empty();
    EncodingChoice encoding = given ? givenEncoding(options.encoding, head)
                                    : chooseEncoding(head, wholeHead, options.encodingOption);
    for (;;) {
        FileLayout layout;
        layout.path = path;
        layout.readPath = readPath;
        layout.fileBytes = fileBytes;
        layout.fixedWidth = options.fixedWidth;
        layout.encoding = encoding;
        try {
            if (options.fixedWidth) {
                inferFixedWidth(options, layout);
            } else {
                inferDelimited(options, layout);
            }
        } catch (const InferError& e) {
            // A file that looked like UTF-8 at its head may not be further on; one that is not
            // windows-1252 either (bytes that encoding leaves undefined) reads as ISO-8859-1,
            // which has a character for every byte.
            if (given) throw InferError(withEncodingAdvice(e.what(), encoding, given, options));
            if (encoding.number == kUtf8 && !encoding.byteOrderMark && !fileIsUtf8(readPath)) {
                encoding.number = kWindows1252;
                encoding.name = "windows-1252";
                encoding.how =
                    "UTF-8 at the head, but not further on: read as windows-1252 "
                    "(unsure)";
                encoding.note = mostlyUtf8FileNote(readPath, options.encodingOption);
                continue;
            }
            if (encoding.number == kWindows1252) {
                encoding.number = kLatin1;
                encoding.name = "ISO-8859-1";
                encoding.how =
                    "not valid UTF-8, and bytes windows-1252 leaves undefined: read "
                    "as ISO-8859-1 (unsure)";
                encoding.note.clear();
                continue;
            }
            throw InferError(withEncodingAdvice(e.what(), encoding, given, options));
        }
        const std::vector<std::string> first = {encodingReason(encoding, layout.wholeFile),
                                                lineEndReason(layout)};
        layout.reasons.insert(layout.reasons.begin(), first.begin(), first.end());
        if (!layout.wholeFile) {
            layout.notes.push_back("only the first " + std::to_string(options.sampleBytes) +
                                   " bytes were read: types and lengths come from part of the "
                                   "file");
        }
        if (!encoding.note.empty()) {
            layout.notes.push_back(encoding.note);
        } else if (!given && (encoding.number == kWindows1252 || encoding.number == kLatin1)) {
            layout.notes.push_back("encoding " + encoding.name +
                                   " is a guess: check accented letters in the output, or " +
                                   giveEncoding(options.encodingOption));
        }
        return layout;
    }
}

}  // namespace textjob::infer
