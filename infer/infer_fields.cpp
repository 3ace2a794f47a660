#include "infer_fields.h"

#include <cstring>

#include "mvb/charset.h"
#include "mvb/parse.h"

namespace textjob::infer {

std::string_view utf8Of(int code, char (&buffer)[5]) {
    std::memset(buffer, 0, sizeof buffer);
    const int size = code > 0 ? np_uchar_intcopy(code, buffer, 4) : 0;
    return {buffer, static_cast<size_t>(size)};
}

int RecordSplitter::split(std::string_view record, const Dialect& dialect) {
    const unsigned flags = dialect.keepBlanks ? MVS_PARSE_KEEP_BLANKS : 0u;
    if (scratch_.size() < record.size() + 16) scratch_.resize(record.size() + 16);
    for (;;) {
        // A separate output: the record keeps its bytes, so that where a field stood can be
        // read there, and each field's pointer is its place in the record.
        const int capacity = static_cast<int>(fields_.size());
        const int found = mvs_parse_text_ex2(
            const_cast<char*>(record.data()), fields_.data(), capacity, scratch_.data(),
            static_cast<int>(record.size()), dialect.delimiter, dialect.quote, flags);
        if (found < capacity || record.empty()) {
            views_.resize(static_cast<size_t>(found));
            for (int i = 0; i < found; ++i)
                views_[static_cast<size_t>(i)] = fields_[static_cast<size_t>(i)];
            placeFields(record, dialect);
            return found;
        }
        fields_.resize(fields_.size() * 2);  // the record may have more: split it again
    }
}

void RecordSplitter::placeFields(std::string_view record, const Dialect& dialect) {
    char delimiterBytes[5];
    char quoteBytes[5];
    const std::string_view delimiter =
        utf8Of(dialect.delimiter == 0 ? ',' : dialect.delimiter, delimiterBytes);
    const std::string_view quote = utf8Of(dialect.quote, quoteBytes);
    const size_t n = views_.size();
    spans_.resize(n);
    const auto quoteEndsAt = [&](size_t at) {
        return !quote.empty() && at >= quote.size() &&
               record.compare(at - quote.size(), quote.size(), quote) == 0;
    };
    for (size_t i = 0; i < n; ++i) {
        FieldSpan& span = spans_[i];
        span.valueAt = static_cast<size_t>(views_[i].data() - scratch_.data());
        span.quoted = quote != delimiter && quoteEndsAt(span.valueAt);
    }
    for (size_t i = 0; i < n; ++i) {
        FieldSpan& span = spans_[i];
        if (i + 1 < n) {
            // Back from the next field's value over its quote and blanks to the delimiter.
            size_t at = spans_[i + 1].valueAt;
            if (spans_[i + 1].quoted) at -= quote.size();
            if (!dialect.keepBlanks) {
                while (at > 0 && isTrimmedBlank(record[at - 1], dialect))
                    --at;
            }
            span.end = at - delimiter.size();
            spans_[i + 1].begin = at;
        } else {
            span.end = record.size();
        }
        if (i == 0) span.begin = 0;
        span.cleanClose = false;
        if (span.quoted) {
            size_t close = span.end;
            if (!dialect.keepBlanks) {
                while (close > span.valueAt && isTrimmedBlank(record[close - 1], dialect))
                    --close;
            }
            // The quote closes right before the delimiter, and nothing between the quotes but
            // doubled quotes: then the value is that text with each pair made one.
            if (close >= span.valueAt + quote.size() && quoteEndsAt(close)) {
                const std::string_view inside =
                    record.substr(span.valueAt, close - quote.size() - span.valueAt);
                size_t quotes = 0;
                for (size_t at = inside.find(quote); at != std::string_view::npos;
                     at = inside.find(quote, at + quote.size()))
                    ++quotes;
                span.cleanClose = (inside.size() - views_[i].size()) * 2 == quotes * quote.size();
            }
        }
    }
}

bool leavesQuoteOpen(std::string_view text, const Dialect& dialect, bool continuing) {
    return mvs_record_continues(text.data(), static_cast<int>(text.size()), continuing,
                                dialect.delimiter, dialect.quote,
                                dialect.keepBlanks ? MVS_PARSE_KEEP_BLANKS : 0u);
}

}  // namespace textjob::infer
