#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "mvb/byte_scan.h"
#include "mvb/parse.h"
#include "utf8_internal.h"

// The splitter works in place (a separate output first receives a copy of the line). Each field
// stays where it is in the line: its pointer is its first byte after any leading blanks and
// opening quote, and a NUL replaces the byte after its last one (a delimiter, a closing quote,
// a trailing blank, or the end of the line, hence lineBytes + 1 bytes). Bytes move left, within
// their own field, only behind a doubled quote, an escape or a closing quote; a field's text is
// never longer than the bytes it was read from, so writing never overtakes reading.
//
// Settings are fixed per call, so each combination is its own instance of one template. The
// bytes that end a run of text (delimiters, quotes, backslashes) are found a word at a time or
// through byte masks of 64 bytes, never by a test per byte. Lines without quotes or escapes
// take a faster path that splits at every delimiter of the mask.

namespace {

/// A delimiter or quote character as its UTF-8 bytes.
struct Token {
    char bytes[4] = {};
    int size = 0;

    bool at(const char* p, const char* end) const noexcept {
        // The first byte decides almost always; compare the rest only when it matches.
        if (p >= end || *p != bytes[0]) {
            return false;
        }
        if (size == 1) {
            return true;
        }
        return end - p >= size && std::memcmp(p + 1, bytes + 1, static_cast<size_t>(size - 1)) == 0;
    }
};

struct Settings {
    Token delimiter;
    Token quote;
    char blank1 = ' ';  ///< the two blank bytes trimmed; the delimiter is never one of them
    char blank2 = '\t';
    /// The higher of the two blanks as a byte value: the space and the tab are at the bottom of
    /// the byte values, so that one compare with it tells most bytes from both blanks.
    unsigned char blankMost = ' ';

    bool isBlank(char c) const noexcept {
        return static_cast<unsigned char>(c) <= blankMost && (c == blank1 || c == blank2);
    }
};

/// The settings a plan made by mvs_split_prepare() holds.
Settings settingsOf(const MvsSplitPlan& plan) noexcept {
    Settings settings;
    std::memcpy(settings.delimiter.bytes, plan.delimiter, sizeof settings.delimiter.bytes);
    std::memcpy(settings.quote.bytes, plan.quote, sizeof settings.quote.bytes);
    settings.delimiter.size = plan.delimiterBytes;
    settings.quote.size = plan.quoteBytes;
    settings.blank1 = plan.blank1;
    settings.blank2 = plan.blank2;
    settings.blankMost =
        std::max(static_cast<unsigned char>(plan.blank1), static_cast<unsigned char>(plan.blank2));
    return settings;
}

inline uint64_t load64(const char* p) noexcept {
    return mvb::scan::load(p);
}

/// First occurrence of the whole token in [p, end), or end.
template <bool MultiByte>
inline char* findToken(char* p, char* end, const Token& token) noexcept {
    for (;;) {
        p = mvbFindByte(p, end, token.bytes[0]);
        if (!MultiByte || p == end || token.at(p, end)) {
            return p;
        }
        ++p;
    }
}

/// Where runs of text end in a line read with escapes: delimiters, quotes and backslashes, each
/// found through its block masks.
struct EscapeStops {
    mvb::scan::ByteFinder delimiters;
    mvb::scan::ByteFinder quotes;
    mvb::scan::ByteFinder backslashes;
};
/// Where runs of text end in a quoted line of at most kMaxBytes with a one-byte delimiter and no
/// escapes: the masks of its delimiters and quotes, all made up front from the line as read
/// (the split writes only behind the positions it asks about).
class QuoteStops {
  public:
    static constexpr size_t kMaxBlocks = 8;
    static constexpr size_t kMaxBytes = kMaxBlocks * mvb::scan::kBlockBytes;

    QuoteStops(const char* begin, const char* end, char delimiter, char quote) noexcept
        : size_(static_cast<size_t>(end - begin)) {
        for (size_t block = 0, base = 0; base < size_; ++block, base += mvb::scan::kBlockBytes) {
            const size_t count = size_ - base;
            delimiters_[block] =
                mvb::scan::blockMaskUpToAfter(begin + base, count, delimiter, base);
            quotes_[block] = mvb::scan::blockMaskUpToAfter(begin + base, count, quote, base);
        }
    }

    /// The offset of the first delimiter (or quote) at or after `from`, or the line's size.
    size_t nextDelimiter(size_t from) const noexcept { return next(delimiters_, from); }
    size_t nextQuote(size_t from) const noexcept { return next(quotes_, from); }

  private:
    size_t next(const uint64_t* masks, size_t from) const noexcept {
        if (from >= size_) {
            return size_;
        }
        size_t block = from / mvb::scan::kBlockBytes;
        uint64_t mask = masks[block] & (~uint64_t{0} << (from % mvb::scan::kBlockBytes));
        const size_t blocks = (size_ + mvb::scan::kBlockBytes - 1) / mvb::scan::kBlockBytes;
        while (mask == 0) {
            if (++block == blocks) {
                return size_;
            }
            mask = masks[block];
        }
        return block * mvb::scan::kBlockBytes + static_cast<size_t>(std::countr_zero(mask));
    }

    size_t size_;
    uint64_t delimiters_[kMaxBlocks];
    uint64_t quotes_[kMaxBlocks];
};
struct NoStops {};

inline void store64(char* p, uint64_t word) noexcept {
    std::memcpy(p, &word, sizeof word);
}

/// Moves `count` bytes from the read to the write position (the same buffer, w <= r, or
/// separate ones). Short moves, the usual field, stay inline: both words are loaded before
/// either is stored, so an overlap is harmless.
inline void copyBytes(char*& w, const char* r, size_t count) noexcept {
    if (w != r) {
        if (count >= 8 && count <= 16) {
            const uint64_t head = load64(r);
            const uint64_t tail = load64(r + count - 8);
            store64(w, head);
            store64(w + count - 8, tail);
        } else if (count < 8) {
            for (size_t i = 0; i < count; ++i) {
                w[i] = r[i];
            }
        } else {
            std::memmove(w, r, count);
        }
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
    Splitter(const Settings& settings, char* begin, char* end) noexcept
        : s_(settings), begin_(begin), end_(end), stops_(makeStops(settings, begin, end)) {}

    /// Splits the line; `*textAfterQuote` is set when a closing quote is followed by anything
    /// but the delimiter or the end of the line.
    int run(char** fields, int* lengths, int capacity, bool* textAfterQuote) noexcept {
        char* r = begin_;
        int count = 0;
        for (;;) {
            if constexpr (!KeepBlanks) {
                while (r < end_ && s_.isBlank(*r)) {
                    ++r;
                }
            }
            // A field stays where it is in the line; bytes move left only behind a doubled
            // quote, an escape or a closing quote, so most fields are never copied.
            bool isQuoted = false;
            if constexpr (Quoting) {
                if (s_.quote.at(r, end_)) {
                    r += s_.quote.size;
                    isQuoted = true;
                }
            }
            char* const fieldStart = r;
            char* w = r;
            char* protectedEnd = w;  // blanks before this position are never trimmed
            if (isQuoted) {
                r = quoted(r, w);
                protectedEnd = w;
                if ((r != end_ && !s_.delimiter.at(r, end_)) || open_) {
                    *textAfterQuote = true;
                }
            }
            r = unquoted(r, w, protectedEnd);
            if constexpr (!KeepBlanks) {
                while (w > protectedEnd && s_.isBlank(w[-1])) {
                    --w;
                }
            }
            *w = '\0';
            if (lengths != nullptr) {
                lengths[count] = static_cast<int>(w - fieldStart);
            }
            fields[count++] = fieldStart;
            if (r == end_ || count == capacity) {
                return count;
            }
            r += s_.delimiter.size;
        }
    }

  private:
    static auto makeStops(const Settings& s, char* begin, char* end) noexcept {
        if constexpr (Escapes) {
            return EscapeStops{{begin, end, s.delimiter.bytes[0]},
                               {begin, end, s.quote.bytes[0]},
                               {begin, end, '\\'}};
        } else {
            return NoStops{};
        }
    }

    /// With escapes, the first byte at or after `r` that `finder` looks for, or a backslash.
    char* escapeStop(mvb::scan::ByteFinder& finder, const char* r) noexcept {
        const auto from = static_cast<size_t>(r - begin_);
        return begin_ + std::min(finder.next(from), stops_.backslashes.next(from));
    }

    /// Resolves the escape whose backslash is at `r`; returns the read position after it.
    char* escape(char* r, char*& w, char*& protectedEnd) const noexcept {
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
    char* unquoted(char* r, char*& w, char*& protectedEnd) noexcept {
        if constexpr (!Escapes) {
            char* stop = findToken<MultiDelim>(r, end_, s_.delimiter);
            copyBytes(w, r, static_cast<size_t>(stop - r));
            return stop;
        } else {
            for (;;) {
                char* stop = escapeStop(stops_.delimiters, r);
                copyBytes(w, r, static_cast<size_t>(stop - r));
                r = stop;
                if (r == end_) {
                    return r;
                }
                if (*r == '\\') {
                    r = escape(r, w, protectedEnd);
                    continue;
                }
                if (!MultiDelim || s_.delimiter.at(r, end_)) {
                    return r;
                }
                *w++ = *r++;  // the lead byte of a longer delimiter, but not the delimiter
            }
        }
    }

    /// Copies a quoted field's content from just after its opening quote; returns the read
    /// position after the closing quote (or the end of the line when it is never closed).
    char* quoted(char* r, char*& w) noexcept {
        const Token& q = s_.quote;
        for (;;) {
            char* stop;
            if constexpr (Escapes) {
                stop = escapeStop(stops_.quotes, r);
            } else {
                stop = mvbFindByte(r, end_, q.bytes[0]);
            }
            copyBytes(w, r, static_cast<size_t>(stop - r));
            r = stop;
            if (r == end_) {
                open_ = true;  // never closed: the field runs to the end of the line
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
    char* const begin_;
    char* const end_;
    bool open_ = false;  ///< a quoted field's quote never closed
    [[no_unique_address]] std::conditional_t<Escapes, EscapeStops, NoStops> stops_;
};

/// Splits a line that holds no quote and needs no escapes, with a one-byte delimiter, in
/// place: the delimiters are found 64 bytes at a time, every field stays where it is (after
/// its leading blanks), and a NUL replaces the delimiter or the first trailing blank.
template <bool KeepBlanks>
[[gnu::always_inline]] inline int splitPlain(const Settings& s, char* line, const char* end,
                                             char** fields, int* lengths, int capacity) noexcept {
    const size_t size = static_cast<size_t>(end - line);
    int count = 0;
    char* fieldStart = line;
    // Each field ends at a delimiter (or at the end of the line); `finish` stores it.
    auto finish = [&](char* fieldEnd) noexcept {
        char* first = fieldStart;
        if constexpr (!KeepBlanks) {
            while (first < fieldEnd && s.isBlank(*first)) {
                ++first;
            }
            while (fieldEnd > first && s.isBlank(fieldEnd[-1])) {
                --fieldEnd;
            }
        }
        *fieldEnd = '\0';
        if (lengths != nullptr) {
            lengths[count] = static_cast<int>(fieldEnd - first);
        }
        fields[count++] = first;
    };
    size_t base = 0;
    while (base < size) {
        uint64_t mask =
            mvb::scan::blockMaskUpToAfter(line + base, size - base, s.delimiter.bytes[0], base);
        while (mask != 0) {
            char* delimiter = line + base + std::countr_zero(mask);
            mask &= mask - 1;
            finish(delimiter);
            if (count == capacity) {
                return count;
            }
            fieldStart = delimiter + 1;
        }
        base += mvb::scan::kBlockBytes;
    }
    finish(line + size);
    return count;
}

using SplitFn = int (*)(const Settings&, char*, char*, char**, int*, int, bool*);

template <bool MultiDelim, bool Quoting, bool Escapes, bool KeepBlanks>
int splitWith(const Settings& settings, char* line, char* end, char** fields, int* lengths,
              int capacity, bool* textAfterQuote) {
    return Splitter<MultiDelim, Quoting, Escapes, KeepBlanks>(settings, line, end)
        .run(fields, lengths, capacity, textAfterQuote);
}

/// Splits a quoted line of at most QuoteStops::kMaxBytes with a one-byte delimiter and quote
/// and no escapes, in place, as the Splitter does: an unquoted field ends at the next
/// delimiter of the mask and stays where it is, as in splitPlain; only a field that opens
/// with a quote is read up to its closing quote (a doubled quote is one quote, and what
/// follows moves left) and then on to the next delimiter after it.
template <bool KeepBlanks>
int splitQuoted(const Settings& s, char* line, char* end, char** fields, int* lengths, int capacity,
                bool* textAfterQuote) noexcept {
    const auto size = static_cast<size_t>(end - line);
    const char quote = s.quote.bytes[0];
    const QuoteStops stops(line, end, s.delimiter.bytes[0], quote);
    int count = 0;
    size_t r = 0;
    for (;;) {
        if constexpr (!KeepBlanks) {
            while (r < size && s.isBlank(line[r])) {
                ++r;
            }
        }
        const size_t start = r + (r < size && line[r] == quote ? 1 : 0);
        char* w = line + start;
        size_t delimiter = 0;
        if (start == r) {
            delimiter = stops.nextDelimiter(r);
            w = line + delimiter;
            if constexpr (!KeepBlanks) {
                while (w > line + start && s.isBlank(w[-1])) {
                    --w;
                }
            }
        } else {
            r = start;
            for (;;) {
                const size_t closing = stops.nextQuote(r);
                copyBytes(w, line + r, closing - r);
                r = closing;
                if (r == size) {
                    *textAfterQuote = true;  // never closed: the field runs to the line's end
                    break;
                }
                ++r;
                if (r == size || line[r] != quote) {
                    break;
                }
                *w++ = quote;  // a doubled quote is one quote
                ++r;
            }
            char* const protectedEnd = w;
            if (r != size && line[r] != s.delimiter.bytes[0]) {
                *textAfterQuote = true;
            }
            delimiter = stops.nextDelimiter(r);
            copyBytes(w, line + r, delimiter - r);
            if constexpr (!KeepBlanks) {
                while (w > protectedEnd && s.isBlank(w[-1])) {
                    --w;
                }
            }
        }
        *w = '\0';
        if (lengths != nullptr) {
            lengths[count] = static_cast<int>(w - (line + start));
        }
        fields[count++] = line + start;
        if (delimiter == size || count == capacity) {
            return count;
        }
        r = delimiter + 1;
    }
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
    // Everything is split in place; a separate output starts as a copy of the line.
    if (output != line && lineBytes > 0) {
        std::memcpy(output, line, static_cast<size_t>(lineBytes));
    }
    return mvs_split_text(output, lineBytes, fields, nullptr, capacity, delimiterCode, quoteCode,
                          flags & ~static_cast<unsigned>(MVS_PARSE_NO_QUOTE_BYTE), nullptr);
}

void mvs_split_prepare(int delimiterCode, int quoteCode, unsigned flags,
                       MvsSplitPlan* plan) noexcept {
    Token delimiter;
    delimiter.size = mvb::utf8::encode(delimiterCode, delimiter.bytes);
    const int code = delimiterCode == 0 || delimiter.size == 0 ? ',' : delimiterCode;
    if (code != delimiterCode) {
        delimiter.bytes[0] = ',';
        delimiter.size = 1;
    }
    Token quote;
    // A quote that is also the delimiter cannot open a field: quoting is then off.
    if (quoteCode != 0 && quoteCode != code) {
        quote.size = mvb::utf8::encode(quoteCode, quote.bytes);
    }
    std::memcpy(plan->delimiter, delimiter.bytes, sizeof plan->delimiter);
    std::memcpy(plan->quote, quote.bytes, sizeof plan->quote);
    plan->delimiterBytes = static_cast<unsigned char>(delimiter.size);
    plan->quoteBytes = static_cast<unsigned char>(quote.size);
    plan->blank1 = code == ' ' ? '\t' : ' ';
    plan->blank2 = code == '\t' ? ' ' : '\t';
    plan->flags = flags & ~static_cast<unsigned>(MVS_PARSE_NO_QUOTE_BYTE);
}

int mvs_split_planned(const MvsSplitPlan* plan, char* line, int lineBytes, char** fields,
                      int* lengths, int capacity, unsigned lineFlags,
                      bool* textAfterQuote) noexcept {
    if (textAfterQuote != nullptr) {
        *textAfterQuote = false;
    }
    if (plan == nullptr || line == nullptr || fields == nullptr || capacity <= 0 || lineBytes < 0) {
        return 0;
    }
    const bool escapes = (plan->flags & MVS_PARSE_UNESCAPE) != 0;
    const bool keepBlanks = (plan->flags & MVS_PARSE_KEEP_BLANKS) != 0;
    char* const end = line + lineBytes;
    if (plan->delimiterBytes == 1 && !escapes &&
        (plan->quoteBytes == 0 || (lineFlags & MVS_PARSE_NO_QUOTE_BYTE) != 0 ||
         std::memchr(line, static_cast<unsigned char>(plan->quote[0]),
                     static_cast<size_t>(lineBytes)) == nullptr)) [[likely]] {
        // The common line: nothing to unquote or unescape.
        const Settings settings = settingsOf(*plan);
        return keepBlanks ? splitPlain<true>(settings, line, end, fields, lengths, capacity)
                          : splitPlain<false>(settings, line, end, fields, lengths, capacity);
    }
    bool afterQuote = false;
    if (textAfterQuote == nullptr) {
        textAfterQuote = &afterQuote;
    }
    const Settings settings = settingsOf(*plan);
    const Token& d = settings.delimiter;
    const Token& q = settings.quote;
    const bool quoting = q.size > 0;
    if (d.size == 1 && q.size == 1 && !escapes &&
        static_cast<size_t>(lineBytes) <= QuoteStops::kMaxBytes) {
        // The usual quoted line: its stops found through masks made up front.
        return keepBlanks ? splitQuoted<true>(settings, line, end, fields, lengths, capacity,
                                              textAfterQuote)
                          : splitQuoted<false>(settings, line, end, fields, lengths, capacity,
                                               textAfterQuote);
    }
    SplitFn split;
    if (d.size > 1) {
        split = quoting ? pick<true, true>(escapes, keepBlanks)
                        : pick<true, false>(escapes, keepBlanks);
    } else {
        split = quoting ? pick<false, true>(escapes, keepBlanks)
                        : pick<false, false>(escapes, keepBlanks);
    }
    return split(settings, line, end, fields, lengths, capacity, textAfterQuote);
}

int mvs_split_text(char* line, int lineBytes, char** fields, int* lengths, int capacity,
                   int delimiterCode, int quoteCode, unsigned flags,
                   bool* textAfterQuote) noexcept {
    MvsSplitPlan plan;
    mvs_split_prepare(delimiterCode, quoteCode, flags, &plan);
    return mvs_split_planned(&plan, line, lineBytes, fields, lengths, capacity,
                             flags & static_cast<unsigned>(MVS_PARSE_NO_QUOTE_BYTE),
                             textAfterQuote);
}

namespace {

/// mvs_record_continues() for one-byte quote and delimiter without escapes, the usual case. Only
/// the quotes matter: they are found 64 bytes at a time. Outside quotes, a quote opens a field
/// when only blanks stand between it and the delimiter before it (or the line's start: a line
/// that continues a quoted field holds that field's closing quote before any later one).
bool endsInsideQuotes(const char* line, const char* end, bool quoted, char delimiter, char quote,
                      bool keepBlanks, char blank1, char blank2) noexcept {
    const size_t size = static_cast<size_t>(end - line);
    size_t consumed = 0;  // quotes before this position belong to a doubled quote already seen
    for (size_t base = 0; base < size; base += mvb::scan::kBlockBytes) {
        uint64_t mask = mvb::scan::blockMaskUpToAfter(line + base, size - base, quote, base);
        while (mask != 0) {
            const size_t at = base + static_cast<size_t>(std::countr_zero(mask));
            mask &= mask - 1;
            if (at < consumed) {
                continue;
            }
            if (quoted) {
                if (at + 1 < size && line[at + 1] == quote) {
                    consumed = at + 2;  // a doubled quote
                } else {
                    quoted = false;
                }
                continue;
            }
            size_t before = at;
            if (!keepBlanks) {
                while (before > 0 && (line[before - 1] == blank1 || line[before - 1] == blank2)) {
                    --before;
                }
            }
            quoted = before == 0 || line[before - 1] == delimiter;
        }
    }
    return quoted;
}

}  // namespace

bool mvs_record_continues(const char* line, int lineBytes, bool insideQuotes, int delimiterCode,
                          int quoteCode, unsigned flags) noexcept {
    if (line == nullptr || lineBytes <= 0 || quoteCode == 0) {
        return insideQuotes && quoteCode != 0;
    }
    // The delimiter, the quote and the blanks as the splitter takes them.
    MvsSplitPlan plan;
    mvs_split_prepare(delimiterCode, quoteCode, flags, &plan);
    if (plan.quoteBytes == 0) {
        return false;  // quoting is off
    }
    const Settings settings = settingsOf(plan);
    const Token& q = settings.quote;
    const Token& d = settings.delimiter;
    const char* p = line;
    const char* const end = line + lineBytes;
    // Most lines of a file with quoting hold no quote at all.
    if (!insideQuotes && std::memchr(p, static_cast<unsigned char>(q.bytes[0]),
                                     static_cast<size_t>(lineBytes)) == nullptr) {
        return false;
    }
    const bool escapes = (flags & MVS_PARSE_UNESCAPE) != 0;
    const bool keepBlanks = (flags & MVS_PARSE_KEEP_BLANKS) != 0;
    if (!keepBlanks && q.size == 1 && settings.isBlank(q.bytes[0])) {
        return false;  // a quote that is a blank is trimmed with the blanks: it never opens
    }
    if (q.size == 1 && d.size == 1 && !escapes) {
        return endsInsideQuotes(p, end, insideQuotes, d.bytes[0], q.bytes[0], keepBlanks,
                                settings.blank1, settings.blank2);
    }
    bool quoted = insideQuotes;
    for (;;) {
        if (!quoted) {
            // At the start of a field: a quote opens it only as its first character.
            if (!keepBlanks) {
                while (p < end && settings.isBlank(*p)) {
                    ++p;
                }
            }
            if (!q.at(p, end)) {
                // Unquoted text up to the delimiter; a quote in it is text.
                while (p < end && !d.at(p, end)) {
                    p += escapes && *p == '\\' ? 2 : 1;
                }
                if (p >= end) {
                    return false;
                }
                p += d.size;
                continue;
            }
            p += q.size;
        }
        // Inside a quoted field until a quote that is not doubled.
        quoted = false;
        for (;;) {
            if (p >= end) {
                return true;
            }
            if (escapes && *p == '\\') {
                if (end - p < 2) {
                    return true;
                }
                p += 2;
                continue;
            }
            if (!q.at(p, end)) {
                ++p;
                continue;
            }
            p += q.size;
            if (!q.at(p, end)) {
                break;
            }
            p += q.size;
        }
        // After the closing quote, the rest of the field is unquoted text.
        while (p < end && !d.at(p, end)) {
            p += escapes && *p == '\\' ? 2 : 1;
        }
        if (p >= end) {
            return false;
        }
        p += d.size;
    }
}
