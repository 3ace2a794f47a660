#include <bit>
#include <cstdint>
#include <cstring>

#include "mvb/parse.h"
#include "utf8_internal.h"

// The splitter reads the line once, front to back, and writes each field (unquoted, unescaped,
// trimmed) followed by a NUL. A field's output is never longer than the bytes it was read from
// and each NUL takes the place of a delimiter (or of the end of the line), so the write position
// never passes the read position: splitting in place is safe, and the output needs at most
// lineBytes + 1 bytes.
//
// Settings are fixed per call, so each combination is its own instance of one template and the
// per-byte loops test data only.

namespace {

/// A delimiter or quote character as its UTF-8 bytes.
struct Token {
    char bytes[4] = {};
    int size = 0;

    bool at(const char* p, const char* end) const noexcept {
        return end - p >= size && std::memcmp(p, bytes, static_cast<size_t>(size)) == 0;
    }
};

struct Settings {
    Token delimiter;
    Token quote;
    char blank1 = ' ';  ///< the two blank bytes trimmed; the delimiter is never one of them
    char blank2 = '\t';

    bool isBlank(char c) const noexcept { return c == blank1 || c == blank2; }
};

inline uint64_t load64(const char* p) noexcept {
    uint64_t word;
    std::memcpy(&word, p, sizeof word);
    return word;
}

/// First `c` in [p, end), or end.
inline const char* findByte(const char* p, const char* end, char c) noexcept {
    constexpr uint64_t kOnes = 0x0101010101010101ull;
    constexpr uint64_t kHigh = 0x8080808080808080ull;
    const uint64_t pattern = kOnes * static_cast<unsigned char>(c);
    // Most fields are short: look at two words inline before paying for a library call.
    for (int i = 0; i < 2 && end - p >= 8; ++i) {
        const uint64_t x = load64(p) ^ pattern;
        const uint64_t hit = (x - kOnes) & ~x & kHigh;
        if (hit != 0) {
            return p + (std::countr_zero(hit) >> 3);
        }
        p += 8;
    }
    if (end - p < 8) {
        while (p < end && *p != c) {
            ++p;
        }
        return p;
    }
    const void* found = std::memchr(p, static_cast<unsigned char>(c), static_cast<size_t>(end - p));
    return found != nullptr ? static_cast<const char*>(found) : end;
}

/// First occurrence of the whole token in [p, end), or end.
template <bool MultiByte>
inline const char* findToken(const char* p, const char* end, const Token& token) noexcept {
    if constexpr (!MultiByte) {
        return findByte(p, end, token.bytes[0]);
    } else {
        for (;;) {
            p = findByte(p, end, token.bytes[0]);
            if (p == end || token.at(p, end)) {
                return p;
            }
            ++p;
        }
    }
}

/// Moves `count` bytes from the read to the write position (they may be the same buffer).
inline void copyBytes(char*& w, const char* r, size_t count) noexcept {
    if (w != r) {
        std::memmove(w, r, count);
    }
    w += count;
}

inline char unescaped(char c) noexcept {
    switch (c) {
        case 'n':
            return '\n';
        case 'r':
            return '\r';
        case 't':
            return '\t';
        default:
            return c;
    }
}

template <bool MultiDelim, bool Quoting, bool Escapes, bool KeepBlanks>
class Splitter {
  public:
    Splitter(const Settings& settings, const char* end) noexcept : s_(settings), end_(end) {}

    int run(const char* r, char* w, char** fields, int capacity) noexcept {
        int count = 0;
        for (;;) {
            char* const fieldStart = w;
            char* protectedEnd = w;  // blanks before this output position are never trimmed
            if constexpr (!KeepBlanks) {
                while (r < end_ && s_.isBlank(*r)) {
                    ++r;
                }
            }
            if constexpr (Quoting) {
                if (s_.quote.at(r, end_)) {
                    r = quoted(r + s_.quote.size, w);
                    protectedEnd = w;
                }
            }
            r = unquoted(r, w, protectedEnd);
            if constexpr (!KeepBlanks) {
                while (w > protectedEnd && s_.isBlank(w[-1])) {
                    --w;
                }
            }
            *w++ = '\0';
            fields[count++] = fieldStart;
            if (r == end_ || count == capacity) {
                return count;
            }
            r += s_.delimiter.size;
        }
    }

  private:
    /// Resolves the escape whose backslash is at `r`; returns the read position after it.
    const char* escape(const char* r, char*& w, char*& protectedEnd) const noexcept {
        if (end_ - r < 2) {
            *w++ = '\\';  // a backslash ending the line stands for itself
            return r + 1;
        }
        *w++ = unescaped(r[1]);
        protectedEnd = w;
        return r + 2;
    }

    /// Copies the text of an unquoted field (or what follows a closing quote) up to the next
    /// delimiter or the end of the line; returns the read position there.
    const char* unquoted(const char* r, char*& w, char*& protectedEnd) const noexcept {
        if constexpr (!Escapes) {
            const char* stop = findToken<MultiDelim>(r, end_, s_.delimiter);
            copyBytes(w, r, static_cast<size_t>(stop - r));
            return stop;
        } else {
            const char delimiterLead = s_.delimiter.bytes[0];
            while (r < end_) {
                const char c = *r;
                if (c == '\\') {
                    r = escape(r, w, protectedEnd);
                    continue;
                }
                if (c == delimiterLead && (!MultiDelim || s_.delimiter.at(r, end_))) {
                    break;
                }
                *w++ = c;
                ++r;
            }
            return r;
        }
    }

    /// Copies a quoted field's content from just after its opening quote; returns the read
    /// position after the closing quote (or the end of the line when it is never closed).
    const char* quoted(const char* r, char*& w) const noexcept {
        const Token& q = s_.quote;
        for (;;) {
            const char* stop;
            if constexpr (Escapes) {
                stop = r;
                while (stop < end_ && *stop != q.bytes[0] && *stop != '\\') {
                    ++stop;
                }
            } else {
                stop = findByte(r, end_, q.bytes[0]);
            }
            copyBytes(w, r, static_cast<size_t>(stop - r));
            r = stop;
            if (r == end_) {
                return r;
            }
            if (Escapes && *r == '\\') {
                char* ignored = w;
                r = escape(r, w, ignored);
                continue;
            }
            if (!q.at(r, end_)) {  // the lead byte of a longer quote, but not the quote
                *w++ = *r++;
                continue;
            }
            r += q.size;
            if (!q.at(r, end_)) {
                return r;
            }
            copyBytes(w, r, static_cast<size_t>(q.size));  // a doubled quote is one quote
            r += q.size;
        }
    }

    const Settings& s_;
    const char* const end_;
};

using SplitFn = int (*)(const Settings&, const char*, const char*, char*, char**, int);

template <bool MultiDelim, bool Quoting, bool Escapes, bool KeepBlanks>
int splitWith(const Settings& settings, const char* line, const char* end, char* output,
              char** fields, int capacity) {
    return Splitter<MultiDelim, Quoting, Escapes, KeepBlanks>(settings, end)
        .run(line, output, fields, capacity);
}

template <bool MultiDelim, bool Quoting>
SplitFn pick(bool escapes, bool keepBlanks) noexcept {
    if (escapes) {
        return keepBlanks ? &splitWith<MultiDelim, Quoting, true, true>
                          : &splitWith<MultiDelim, Quoting, true, false>;
    }
    return keepBlanks ? &splitWith<MultiDelim, Quoting, false, true>
                      : &splitWith<MultiDelim, Quoting, false, false>;
}

}  // namespace

int mvs_parse_text_ex2(char* line, char** fields, int capacity, char* output, int lineBytes,
                       int delimiterCode, int quoteCode, unsigned flags) noexcept {
    if (line == nullptr || fields == nullptr || output == nullptr || capacity <= 0) {
        return 0;
    }
    if (lineBytes < 0) {
        lineBytes = static_cast<int>(std::strlen(line));
    }
    Settings settings;
    settings.delimiter.size = mvb::utf8::encode(delimiterCode, settings.delimiter.bytes);
    if (delimiterCode == 0 || settings.delimiter.size == 0) {
        settings.delimiter.bytes[0] = ',';
        settings.delimiter.size = 1;
    }
    if (quoteCode != 0) {
        settings.quote.size = mvb::utf8::encode(quoteCode, settings.quote.bytes);
    }
    const Token& d = settings.delimiter;
    const Token& q = settings.quote;
    // A quote that is also the delimiter cannot open a field: quoting is then off.
    const bool quoting = q.size > 0 && !(q.size == d.size && std::memcmp(q.bytes, d.bytes, 4) == 0);
    if (d.size == 1 && d.bytes[0] == ' ') {
        settings.blank1 = '\t';
    } else if (d.size == 1 && d.bytes[0] == '\t') {
        settings.blank2 = ' ';
    }
    const bool escapes = (flags & MVS_PARSE_UNESCAPE) != 0;
    const bool keepBlanks = (flags & MVS_PARSE_KEEP_BLANKS) != 0;
    SplitFn split;
    if (d.size > 1) {
        split = quoting ? pick<true, true>(escapes, keepBlanks)
                        : pick<true, false>(escapes, keepBlanks);
    } else {
        split = quoting ? pick<false, true>(escapes, keepBlanks)
                        : pick<false, false>(escapes, keepBlanks);
    }
    return split(settings, line, line + lineBytes, output, fields, capacity);
}
