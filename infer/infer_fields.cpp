#include "infer_fields.h"

#include <algorithm>
#include <cstring>

#include "infer_layout.h"
#include "mvb/charset.h"
#include "mvb/parse.h"

namespace textjob::infer {

std::string_view utf8Of(int code, char (&buffer)[5]) {
    std::memset(buffer, 0, sizeof buffer);
    const int size = code > 0 ? np_uchar_intcopy(code, buffer, 4) : 0;
    return {buffer, static_cast<size_t>(size)};
}

void RecordSplitter::prepare(const Dialect& dialect) {
    if (prepared_ && dialect.delimiter == dialect_.delimiter && dialect.quote == dialect_.quote &&
        dialect.keepBlanks == dialect_.keepBlanks)
        return;
    prepared_ = true;
    dialect_ = dialect;
    mvs_split_prepare(dialect.delimiter, dialect.quote,
                      dialect.keepBlanks ? MVS_PARSE_KEEP_BLANKS : 0u, &plan_);
    delimiter_ = utf8Of(dialect.delimiter == 0 ? ',' : dialect.delimiter, delimiterBytes_);
    quote_ = utf8Of(dialect.quote, quoteBytes_);
}

int RecordSplitter::split(std::string_view record, const Dialect& dialect) {
    prepare(dialect);
    if (scratch_.size() < record.size() + 16) scratch_.resize(record.size() + 16);
    for (;;) {
        // Split in a copy: the record keeps its bytes, so that where a field stood can be read
        // there, and each field's pointer is its place in the record.
        if (!record.empty()) std::memcpy(scratch_.data(), record.data(), record.size());
        const int capacity = static_cast<int>(fields_.size());
        const int found =
            mvs_split_planned(&plan_, scratch_.data(), static_cast<int>(record.size()),
                              fields_.data(), lengths_.data(), capacity, 0u, nullptr);
        // Past the most columns detection describes the rest of a record is left unsplit: the
        // caller refuses the file on the count, and a line of a hundred million delimiters
        // takes no memory per field.
        if (found < capacity || record.empty() || static_cast<size_t>(capacity) > kMostColumns) {
            views_.resize(static_cast<size_t>(found));
            for (size_t i = 0; i < views_.size(); ++i)
                views_[i] = {fields_[i], static_cast<size_t>(lengths_[i])};
            placeFields(record, dialect);
            return found;
        }
        // The record may have more: split it again.
        fields_.resize(std::min(fields_.size() * 2, kMostColumns + 1));
        lengths_.resize(fields_.size());
    }
}

void RecordSplitter::placeFields(std::string_view record, const Dialect& dialect) {
    const std::string_view delimiter = delimiter_;
    const std::string_view quote = quote_;
    const size_t n = views_.size();
    spans_.resize(n);
    const auto quoteEndsAt = [&](size_t at) {
        if (quote.size() == 1) return at >= 1 && record[at - 1] == quote[0];
        return !quote.empty() && at >= quote.size() &&
               record.compare(at - quote.size(), quote.size(), quote) == 0;
    };
    // A quote that is also the delimiter quotes nothing.
    const bool quoting = !quote.empty() && quote != delimiter;
    for (size_t i = 0; i < n; ++i) {
        FieldSpan& span = spans_[i];
        span.valueAt = static_cast<size_t>(views_[i].data() - scratch_.data());
        span.quoted = quoting && quoteEndsAt(span.valueAt);
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
