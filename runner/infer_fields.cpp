#include "infer_fields.h"

#include <cstring>

#include "mvb/charset.h"
#include "mvb/parse.h"

namespace textjob::infer {
namespace {

/// A delimiter or quote as its UTF-8 bytes.
struct Token {
    char bytes[5] = {};
    int size = 0;

    explicit Token(int code) {
        if (code > 0) size = np_uchar_intcopy(code, bytes, 4);
    }
    bool at(const char* p, const char* end) const {
        if (size == 1) return p < end && *p == bytes[0];
        return size > 0 && end - p >= size && std::memcmp(p, bytes, static_cast<size_t>(size)) == 0;
    }
    /// The first place of the token in [p, end), or end.
    const char* find(const char* p, const char* end) const {
        if (size == 0 || p >= end) return end;
        if (size == 1) {
            const void* hit = std::memchr(p, bytes[0], static_cast<size_t>(end - p));
            return hit == nullptr ? end : static_cast<const char*>(hit);
        }
        while (p < end) {
            const void* hit = std::memchr(p, bytes[0], static_cast<size_t>(end - p));
            if (hit == nullptr) return end;
            p = static_cast<const char*>(hit);
            if (at(p, end)) return p;
            ++p;
        }
        return end;
    }
};

}  // namespace

std::string_view utf8Of(int code, char (&buffer)[5]) {
    std::memset(buffer, 0, sizeof buffer);
    const int size = code > 0 ? np_uchar_intcopy(code, buffer, 4) : 0;
    return {buffer, static_cast<size_t>(size)};
}

void scanFields(std::string_view text, const Dialect& dialect, bool continuing, FieldScan& scan) {
    const Token delimiter(dialect.delimiter);
    const Token quote(dialect.quote);
    const auto isBlank = [&](char c) {
        return c == ' ' || (c == '\t' && dialect.delimiter != '\t');
    };
    const char* p = text.data();
    const char* const end = p + text.size();
    enum class State { Start, Quoted, AfterQuote } state = State::Start;
    bool followsDelimiter = false;
    if (continuing) {
        state = State::Quoted;
    } else {
        ++scan.fields;
    }
    for (;;) {
        if (state == State::Start) {
            const char* q = p;
            if (!dialect.keepBlanks) {
                while (q < end && isBlank(*q) && !delimiter.at(q, end))
                    ++q;
            }
            if (quote.at(q, end)) {
                ++scan.quoted;
                if (q != p) ++scan.blanksBeforeQuote;
                p = q + quote.size;
                state = State::Quoted;
                continue;
            }
            const char* next = delimiter.find(p, end);
            if (next > p) {
                if (isBlank(*p) || isBlank(next[-1])) ++scan.edgeBlanks;
                if (followsDelimiter) {
                    ++scan.afterDelimiter;
                    if (*p == ' ' && (next - p == 1 || !isBlank(p[1]))) ++scan.oneBlankLead;
                }
            }
            if (next == end) break;
            p = next + delimiter.size;
            ++scan.fields;
            followsDelimiter = true;
        } else if (state == State::Quoted) {
            const char* close = quote.find(p, end);
            if (close == end) {
                scan.openQuote = true;
                return;
            }
            p = close + quote.size;
            if (quote.at(p, end)) {
                p += quote.size;  // a doubled quote is one quote
            } else {
                state = State::AfterQuote;
            }
        } else {
            const char* next = delimiter.find(p, end);
            if (next == end) break;
            p = next + delimiter.size;
            ++scan.fields;
            followsDelimiter = true;
            state = State::Start;
        }
    }
    scan.openQuote = false;
}

bool leavesQuoteOpen(std::string_view text, const Dialect& dialect, bool continuing) {
    return mvs_record_continues(text.data(), static_cast<int>(text.size()), continuing,
                                dialect.delimiter, dialect.quote,
                                dialect.keepBlanks ? MVS_PARSE_KEEP_BLANKS : 0u);
}

}  // namespace textjob::infer
