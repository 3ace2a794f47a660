#include "infer_layout.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "infer_encoding.h"
#include "infer_steps.h"
#include "mvb/charset.h"

namespace textjob::infer {
namespace {

/// The head of the file that chooses the encoding and counts line ends.
constexpr size_t kHeadBytes = 64u * 1024u;

/// True when the whole file is valid UTF-8 (a read failure counts as valid: it is not an
/// encoding question, and reading again reports it).
bool fileIsUtf8(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return true;
    std::vector<char> buffer(1u << 20);
    size_t carried = 0;  // bytes of a sequence cut by the end of the last read
    bool valid = true;
    for (;;) {
        const ssize_t n = ::read(fd, buffer.data() + carried, buffer.size() - carried);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            valid = mvbIsValidUtf8(buffer.data(), static_cast<long>(carried));
            break;
        }
        const size_t size = carried + static_cast<size_t>(n);
        // Keep back the bytes of a sequence the read may have cut.
        size_t end = size;
        for (size_t back = 1; back <= 3 && back <= size; ++back) {
            const auto c = static_cast<unsigned char>(buffer[size - back]);
            if ((c & 0xC0u) == 0x80u) continue;
            const size_t need = c >= 0xF0u ? 4 : c >= 0xE0u ? 3 : c >= 0xC0u ? 2 : 1;
            if (need > back) end = size - back;
            break;
        }
        if (!mvbIsValidUtf8(buffer.data(), static_cast<long>(end))) {
            valid = false;
            break;
        }
        carried = size - end;
        std::copy(buffer.begin() + static_cast<long>(end), buffer.begin() + static_cast<long>(size),
                  buffer.begin());
    }
    ::close(fd);
    return valid;
}

std::string lineEndReason(const LineEndCounts& counts, bool wholeHead) {
    std::vector<std::string> kinds;
    if (counts.crlf > 0) kinds.push_back(std::to_string(counts.crlf) + " CR LF");
    if (counts.lf > 0) kinds.push_back(std::to_string(counts.lf) + " LF");
    if (counts.cr > 0) kinds.push_back(std::to_string(counts.cr) + " CR");
    const std::string where = wholeHead ? "" : " in the first 64 KB";
    if (kinds.empty()) return "line ends  none (one line)";
    if (kinds.size() == 1) {
        const char* kind = counts.crlf > 0 ? "CR LF" : counts.lf > 0 ? "LF" : "CR";
        return std::string("line ends  ") + kind + " (" + kinds[0] + where + ")";
    }
    std::string text = "line ends  mixed (";
    for (size_t i = 0; i < kinds.size(); ++i)
        text += (i > 0 ? ", " : "") + kinds[i];
    return text + where + "; each reads as a line end)";
}

}  // namespace

FileLayout inferLayout(const std::string& path, const InferOptions& options) {
    uint64_t fileBytes = 0;
    const std::string head = readHead(path, kHeadBytes, fileBytes);
    const bool wholeHead = head.size() == fileBytes;
    EncodingChoice encoding = chooseEncoding(head, wholeHead);
    for (;;) {
        FileLayout layout;
        layout.path = path;
        layout.fileBytes = fileBytes;
        layout.fixedWidth = options.fixedWidth;
        layout.encoding = encoding;
        layout.lineEnds = countLineEnds(head, encoding);
        layout.reasons.push_back("encoding   " + encoding.name + " (" + encoding.how + ")");
        layout.reasons.push_back(lineEndReason(layout.lineEnds, wholeHead));
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
            if (encoding.number == kUtf8 && !encoding.byteOrderMark && !fileIsUtf8(path)) {
                encoding.number = kWindows1252;
                encoding.name = "windows-1252";
                encoding.how =
                    "UTF-8 at the head, but not further on: read as windows-1252 "
                    "(unsure)";
                continue;
            }
            if (encoding.number == kWindows1252) {
                encoding.number = kLatin1;
                encoding.name = "ISO-8859-1";
                encoding.how =
                    "not valid UTF-8, and bytes windows-1252 leaves undefined: read "
                    "as ISO-8859-1 (unsure)";
                continue;
            }
            throw;
        }
        if (!layout.wholeFile) {
            layout.notes.push_back("only the first " + std::to_string(options.sampleBytes) +
                                   " bytes were read: types and lengths come from part of the "
                                   "file");
        }
        if (encoding.number == kWindows1252 || encoding.number == kLatin1)
            layout.notes.push_back("encoding " + encoding.name +
                                   " is a guess: check accented letters in the output");
        return layout;
    }
}

}  // namespace textjob::infer
