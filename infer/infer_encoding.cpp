#include "infer_encoding.h"

#include <sys/stat.h>

#include <algorithm>

#include "mvb/charset.h"
#include "mvb/string.h"
#include "mvb/txtfile.h"
#include "mvb/types.h"

namespace textjob::infer {
namespace {

/// How many bytes the NUL pattern test looks at.
constexpr size_t kPatternBytes = 4096;
/// Below this many UTF-16 code units a NUL pattern must hold for half of them.
constexpr size_t kFewUnits = 64;

bool startsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

EncodingChoice choice(int number, const char* name, bool mark, std::string how) {
    EncodingChoice chosen;
    chosen.number = number;
    chosen.name = name;
    chosen.byteOrderMark = mark;
    chosen.how = std::move(how);
    return chosen;
}

/// UTF-16 or UTF-32 text of mostly Latin characters has a NUL in fixed places of each code
/// unit; 0 when no such pattern holds.
int encodingFromNulPattern(std::string_view head) {
    const size_t size = std::min(head.size(), kPatternBytes) & ~size_t{3};
    if (size < 4) return 0;
    size_t zeros[4] = {};
    for (size_t i = 0; i < size; ++i) {
        if (head[i] == '\0') ++zeros[i % 4];
    }
    const size_t units32 = size / 4;
    const auto most = [&](size_t n) { return n * 10 >= units32 * 9; };
    const auto few = [&](size_t n) { return n * 10 <= units32; };
    if (most(zeros[2]) && most(zeros[3]) && few(zeros[0])) return kUtf32Le;
    if (most(zeros[0]) && most(zeros[1]) && few(zeros[3])) return kUtf32Be;
    const size_t even = zeros[0] + zeros[2];
    const size_t odd = zeros[1] + zeros[3];
    const size_t units16 = size / 2;
    // A tenth of the units is enough where there are many (text of other scripts has few
    // NULs); of a few dozen, half must show it, so that one NUL in a short line of UTF-8 does
    // not make it UTF-16.
    const auto enough = [&](size_t n) {
        return units16 < kFewUnits ? n * 2 >= units16 : n * 10 >= units16;
    };
    if (enough(odd) && odd >= 4 * even) return kUtf16Le;
    if (enough(even) && even >= 4 * odd) return kUtf16Be;
    return 0;
}

/// A UTF-16 code unit that text holds: a printable character, a tab or a line end (the
/// surrogates of a pair are looked at by the caller).
bool textUnit(unsigned unit) {
    if (unit == '\t' || unit == '\n' || unit == '\r') return true;
    return unit >= 0x20u && !(unit >= 0x7Fu && unit <= 0x9Fu) &&
           !(unit >= 0xDC00u && unit <= 0xF8FFu) && !(unit >= 0xFDD0u && unit <= 0xFDEFu) &&
           unit < 0xFFFEu;
}

/// The head read as UTF-16 in one byte order, when few of its characters are Latin (so that
/// the NUL pattern does not hold): units of text, units of none, LF units and all LF bytes.
struct WideUnits {
    size_t text = 0;
    size_t other = 0;
    size_t lineFeeds = 0;
    size_t lfBytes = 0;

    /// Every unit is text, and most bytes 0A are its line ends: UTF-16 beyond doubt.
    bool sure() const { return other == 0 && text >= 8 && lineFeeds * 2 > lfBytes; }
    /// Nearly every unit is text, with line ends.
    bool likely() const { return other * 20 <= text && lineFeeds * 2 > lfBytes; }
};

WideUnits wideUnits(std::string_view head, bool wholeFile, bool bigEndian) {
    WideUnits found;
    const size_t size = std::min(head.size(), kPatternBytes);
    const auto unitAt = [&](size_t at) {
        const auto first = static_cast<unsigned char>(head[at]);
        const auto second = static_cast<unsigned char>(head[at + 1]);
        return bigEndian ? (first << 8u) | second : (second << 8u) | first;
    };
    found.lfBytes = static_cast<size_t>(std::count(head.begin(), head.begin() + size, '\n'));
    size_t at = 0;
    for (; at + 2 <= size; at += 2) {
        const unsigned unit = unitAt(at);
        if (unit >= 0xD800u && unit <= 0xDBFFu) {
            if (at + 4 > size) break;  // the read may have cut the pair
            const unsigned low = unitAt(at + 2);
            if (low >= 0xDC00u && low <= 0xDFFFu) {
                found.text += 2;
                at += 2;
                continue;
            }
        }
        if (unit == '\n') ++found.lineFeeds;
        ++(textUnit(unit) ? found.text : found.other);
    }
    if (at < size && wholeFile && size == head.size()) ++found.other;  // half a unit at the end
    return found;
}

/// UTF-16 text without a mark whose characters are mostly not Latin: the encoding when sure,
/// else 0, with `likely` the one it may be (0 for none).
int encodingFromWideUnits(std::string_view head, bool wholeFile, int& likely) {
    const WideUnits le = wideUnits(head, wholeFile, false);
    const WideUnits be = wideUnits(head, wholeFile, true);
    likely = le.likely() == be.likely() ? 0 : le.likely() ? kUtf16Le : kUtf16Be;
    if (le.sure() != be.sure()) return le.sure() ? kUtf16Le : kUtf16Be;
    return 0;
}

/// Of text read as bytes: its UTF-8 characters of more than one byte and its bytes of none.
struct Utf8Mix {
    uint64_t wide = 0;     ///< characters of two to four bytes
    uint64_t invalid = 0;  ///< bytes of no UTF-8 character
    uint64_t first = 0;    ///< the offset of the first of those
    uint64_t line = 0;     ///< its line, from 1
    uint64_t lineEnds = 0;
    uint64_t offset = 0;  ///< of the text looked at next
};

/// The length of the UTF-8 character of more than one byte at `at`, or 0 for none.
size_t wideUtf8At(std::string_view text, size_t at) {
    const auto byte = [&](size_t i) {
        return i < text.size() ? static_cast<unsigned char>(text[i]) : 0u;
    };
    const unsigned lead = byte(at);
    const size_t length = lead >= 0xC2u && lead <= 0xDFu   ? 2
                          : lead >= 0xE0u && lead <= 0xEFu ? 3
                          : lead >= 0xF0u && lead <= 0xF4u ? 4
                                                           : 0;
    if (length == 0) return 0;
    // The second byte's range excludes overlong forms, surrogates and code points past
    // U+10FFFF.
    const unsigned second = byte(at + 1);
    const unsigned low = lead == 0xE0u ? 0xA0u : lead == 0xF0u ? 0x90u : 0x80u;
    const unsigned high = lead == 0xEDu ? 0x9Fu : lead == 0xF4u ? 0x8Fu : 0xBFu;
    if (second < low || second > high) return 0;
    for (size_t i = 2; i < length; ++i) {
        if ((byte(at + i) & 0xC0u) != 0x80u) return 0;
    }
    return length;
}

/// Adds the bytes of `text` to `mix`, but for a character or a CR LF that its end may cut
/// when more follows (`last` false); returns the bytes added.
size_t addUtf8Mix(std::string_view text, bool last, Utf8Mix& mix) {
    const size_t stop = last ? text.size() : text.size() < 4 ? 0 : text.size() - 4;
    size_t at = 0;
    while (at < text.size() && (at < stop || last)) {
        const auto c = static_cast<unsigned char>(text[at]);
        if (c < 0x80u) {
            if (c == '\n' || (c == '\r' && (at + 1 == text.size() || text[at + 1] != '\n')))
                ++mix.lineEnds;
            ++at;
        } else if (const size_t length = wideUtf8At(text, at); length > 0) {
            ++mix.wide;
            at += length;
        } else {
            if (mix.invalid++ == 0) {
                mix.first = mix.offset + at;
                mix.line = mix.lineEnds + 1;
            }
            ++at;
        }
    }
    mix.offset += at;
    return at;
}

/// The file is UTF-8 but for a few bytes: the note that says so, and what reading it as
/// windows-1252 does; empty for text of another encoding, which holds few valid sequences of
/// UTF-8 of more than a byte (fewer than bytes of none).
std::string mostlyUtf8Note(const Utf8Mix& mix, const std::string& encodingOption) {
    if (mix.wide == 0 || mix.invalid == 0 || mix.invalid > mix.wide) return {};
    const bool one = mix.invalid == 1;
    return "the file is UTF-8 but for " + std::to_string(mix.invalid) + (one ? " byte" : " bytes") +
           " (the first at line " + std::to_string(mix.line) + ", byte offset " +
           std::to_string(mix.first) + "): read as windows-1252, " +
           (mix.wide == 1 ? std::string("its one UTF-8 character of more than a byte turns into "
                                        "two to four characters")
                          : "each of its " + std::to_string(mix.wide) +
                                " UTF-8 characters of more than a byte turns into two to four "
                                "characters") +
           "; fix " + (one ? "that byte" : "those bytes") + ", or " + giveEncoding(encodingOption);
}

/// Counts NUL bytes and other control characters. Separators 0x1C to 0x1F are not counted:
/// some files use them as delimiters.
void countControls(std::string_view head, size_t& nuls, size_t& controls, size_t& firstNul) {
    nuls = 0;
    controls = 0;
    firstNul = std::string_view::npos;
    for (size_t i = 0; i < head.size(); ++i) {
        const auto c = static_cast<unsigned char>(head[i]);
        if (c == 0) {
            if (nuls++ == 0) firstNul = i;
        } else if (c < 0x20 && c != '\t' && c != '\n' && c != '\r' && c != '\f' && c != '\v' &&
                   !(c >= 0x1C && c <= 0x1F)) {
            ++controls;
        }
    }
}

/// The head without a UTF-8 sequence that the end of the read cut short.
std::string_view withoutCutSequence(std::string_view head) {
    const size_t end = head.size();
    for (size_t back = 1; back <= 4 && back <= end; ++back) {
        const auto c = static_cast<unsigned char>(head[end - back]);
        if ((c & 0xC0u) == 0x80u) continue;
        const size_t need = c >= 0xF0u ? 4 : c >= 0xE0u ? 3 : c >= 0xC0u ? 2 : 1;
        return need > back ? head.substr(0, end - back) : head;
    }
    return head;
}

bool allAscii(std::string_view text) {
    for (char c : text) {
        if (static_cast<unsigned char>(c) >= 0x80u) return false;
    }
    return true;
}

std::string sizeText(size_t bytes, bool wholeFile) {
    if (wholeFile) return "the whole file";
    return "the first " + std::to_string(bytes / 1024) + " KB";
}

/// Appends the bytes of the file that `span`, read as ISO-8859-1, holds: each of its
/// characters is one byte of the file.
void appendFileBytes(const MvbTextSpan& span, std::string& bytes) {
    for (int i = 0; i < span.bytes; ++i) {
        const auto c = static_cast<unsigned char>(span.text[i]);
        if (c < 0x80u || i + 1 == span.bytes) {
            bytes += static_cast<char>(c);
        } else {
            bytes += static_cast<char>(((c & 0x03u) << 6) |
                                       (static_cast<unsigned char>(span.text[++i]) & 0x3Fu));
        }
    }
}

}  // namespace

std::string readHead(const std::string& path, size_t limit, uint64_t& fileBytes) {
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) {
        // Detection reads the file more than once: a pipe or a terminal cannot give it again.
        throw InferError("\"" + path + "\" is not a regular file (" +
                         (S_ISDIR(info.st_mode)    ? "a folder"
                          : S_ISSOCK(info.st_mode) ? "a socket"
                                                   : "a pipe or a device") +
                         "): infer reads a file more than once; give it as - to read it from "
                         "standard input");
    }
    // Through the runtime's text file, which inflates gzip data as a job's source does; read
    // as ISO-8859-1, each byte is one character, so the bytes come back as they stand.
    MvbString error;
    MvbTxtFile* file = mvbTxtFileOpen(path.c_str(), MVB_OPEN_READ, kLatin1, 0, error);
    if (file == nullptr) throw InferError(std::string(error.view()));
    fileBytes = file->getSize();
    std::string head;
    head.reserve(limit);
    while (head.size() < limit) {
        MvbTextSpan span;
        const int got =
            file->read(static_cast<int>(std::min<size_t>(limit - head.size(), 1 << 16)), &span);
        if (got < 0) {
            file->getLastError(error);
            file->close();
            throw InferError(std::string(error.view()));
        }
        if (got == 0) break;
        appendFileBytes(span, head);
    }
    file->close();
    return head;
}

std::string mostlyUtf8FileNote(const std::string& path, const std::string& encodingOption) {
    MvbString error;
    MvbTxtFile* file = mvbTxtFileOpen(path.c_str(), MVB_OPEN_READ, kLatin1, 0, error);
    if (file == nullptr) return {};
    Utf8Mix mix;
    std::string bytes;
    for (;;) {
        MvbTextSpan span;
        const int got = file->read(1 << 16, &span);
        if (got < 0) break;
        appendFileBytes(span, bytes);
        bytes.erase(0, addUtf8Mix(bytes, got == 0, mix));
        if (got == 0) break;
    }
    file->close();
    return mostlyUtf8Note(mix, encodingOption);
}

namespace {

void refuseEmpty(std::string_view head) {
    if (head.empty()) throw InferError("the file is empty: there is nothing to detect");
}

/// An encoding's byte-order mark.
struct Mark {
    int number;
    const char* name;
    std::string_view bytes;
    const char* how;
};
// UTF-32LE's mark begins with UTF-16LE's: it is looked for first.
constexpr Mark kMarks[] = {
    {kUtf8, "UTF-8", "\xEF\xBB\xBF", "byte-order mark EF BB BF"},
    {kUtf32Le, "UTF-32LE", std::string_view("\xFF\xFE\0\0", 4), "byte-order mark FF FE 00 00"},
    {kUtf32Be, "UTF-32BE", std::string_view("\0\0\xFE\xFF", 4), "byte-order mark 00 00 FE FF"},
    {kUtf16Le, "UTF-16LE", "\xFF\xFE", "byte-order mark FF FE"},
    {kUtf16Be, "UTF-16BE", "\xFE\xFF", "byte-order mark FE FF"},
};

/// The mark the file begins with; null for none.
const Mark* markOf(std::string_view head) {
    for (const Mark& mark : kMarks) {
        if (startsWith(head, mark.bytes)) return &mark;
    }
    return nullptr;
}

}  // namespace

std::string giveEncoding(const std::string& option, const std::string& name,
                         const std::string& examples) {
    if (!name.empty()) {
        if (!option.empty()) return "give " + option + " " + name;
        return "give the encoding " + name + " (infer --encoding " + name +
               ", convert --input-encoding " + name + ")";
    }
    const std::string what = "give the file's encoding";
    if (option.empty()) {
        return what + (examples.empty() ? "" : ", " + examples) +
               " (infer --encoding, convert --input-encoding)";
    }
    return what + (examples.empty() ? "" : " (" + examples + ")") + " with " + option;
}

EncodingChoice chooseEncoding(std::string_view head, bool wholeFile,
                              const std::string& encodingOption) {
    refuseEmpty(head);
    if (const Mark* mark = markOf(head)) return choice(mark->number, mark->name, true, mark->how);
    switch (encodingFromNulPattern(head)) {
        case kUtf32Le:
            return choice(kUtf32Le, "UTF-32LE", false, "NUL bytes in places of UTF-32LE, no mark");
        case kUtf32Be:
            return choice(kUtf32Be, "UTF-32BE", false, "NUL bytes in places of UTF-32BE, no mark");
        case kUtf16Le:
            return choice(kUtf16Le, "UTF-16LE", false, "NUL bytes in places of UTF-16LE, no mark");
        case kUtf16Be:
            return choice(kUtf16Be, "UTF-16BE", false, "NUL bytes in places of UTF-16BE, no mark");
        default:
            break;
    }
    int likelyWide = 0;
    switch (encodingFromWideUnits(head, wholeFile, likelyWide)) {
        case kUtf16Le:
            return choice(kUtf16Le, "UTF-16LE", false,
                          "every unit a character of UTF-16LE, line ends 0A 00, no mark");
        case kUtf16Be:
            return choice(kUtf16Be, "UTF-16BE", false,
                          "every unit a character of UTF-16BE, line ends 00 0A, no mark");
        default:
            break;
    }
    // Text of two bytes a character that is not all characters still says what it may be.
    const std::string notText =
        likelyWide == 0
            ? ": infer reads delimited and fixed-width text files"
            : "; it may be " + std::string(likelyWide == kUtf16Le ? "UTF-16LE" : "UTF-16BE") +
                  " text without a byte-order mark: if so, " +
                  giveEncoding(encodingOption, likelyWide == kUtf16Le ? "UTF-16LE" : "UTF-16BE");
    size_t nuls = 0;
    size_t controls = 0;
    size_t firstNul = 0;
    // The end-of-file byte that old exports put after the text is no sign of a binary file.
    const bool endMark = wholeFile && !head.empty() && head.back() == '\x1A';
    countControls(endMark ? head.substr(0, head.size() - 1) : head, nuls, controls, firstNul);
    if (controls * 20 > head.size()) {
        throw InferError("the file is not text (" + std::to_string(controls) +
                         " control characters in its first " + std::to_string(head.size()) +
                         " bytes)" + notText);
    }
    const std::string_view checked = wholeFile ? head : withoutCutSequence(head);
    const std::string seen = sizeText(head.size(), wholeFile);
    const bool utf8 = mvbIsValidUtf8(checked.data(), static_cast<long>(checked.size()));
    if (nuls > 0) {
        // NUL bytes in UTF-8 text are padding (fixed-width exports have them); elsewhere they
        // mark data that is not text.
        if (!utf8) {
            throw InferError("the file is not text (a NUL byte at offset " +
                             std::to_string(firstNul) + " and bytes that are not UTF-8)" + notText);
        }
        EncodingChoice chosen =
            choice(kUtf8, "UTF-8", false,
                   "every byte sequence valid in " + seen + ", no mark; " + std::to_string(nuls) +
                       " NUL bytes, read as blanks (REPLACE_NULLS)");
        chosen.nulsAsBlanks = true;
        return chosen;
    }
    if (utf8) {
        if (allAscii(checked))
            return choice(kUtf8, "UTF-8", false, "only ASCII bytes in " + seen + ", no mark");
        return choice(kUtf8, "UTF-8", false, "every byte sequence valid in " + seen + ", no mark");
    }
    Utf8Mix mix;
    addUtf8Mix(checked, true, mix);
    if (std::string note = mostlyUtf8Note(mix, encodingOption); !note.empty()) {
        EncodingChoice chosen = choice(kWindows1252, "windows-1252", false,
                                       "UTF-8 but for " + std::to_string(mix.invalid) +
                                           (mix.invalid == 1 ? " byte in " : " bytes in ") + seen +
                                           ", no mark; unsure");
        chosen.note = std::move(note);
        return chosen;
    }
    return choice(kWindows1252, "windows-1252", false,
                  "not valid UTF-8 in " + seen + ", no mark; unsure");
}

EncodingChoice givenEncoding(const std::string& text, std::string_view head) {
    refuseEmpty(head);
    int number = 0;
    if (!mvbEncodingFromName(text.c_str(), &number)) {
        throw InferError("the encoding \"" + text + "\" is not one known here; the nearest: " +
                         std::string(mvbClosestEncodingNames(text.c_str()).view()));
    }
    const Mark* found = markOf(head);
    const bool mark = found != nullptr && (found->number == number ||
                                           (found->number == kUtf8 && mvbIsUtf8Encoding(number)));
    return choice(number, text.c_str(), mark,
                  mark ? "as given, with its byte-order mark" : "as given");
}

int fileBytesOf(int code, int encoding) noexcept {
    switch (encoding) {
        case kUtf8:
            return code < 0x80 ? 1 : code < 0x800 ? 2 : code < 0x10000 ? 3 : 4;
        case kUtf16Le:
        case kUtf16Be:
            return code < 0x10000 ? 2 : 4;
        case kUtf32Le:
        case kUtf32Be:
            return 4;
        default:
            return 1;
    }
}

}  // namespace textjob::infer
