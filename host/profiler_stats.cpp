#include "profiler_stats.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <tuple>

namespace texthost::profiler {

namespace {

auto dateKey(const MvbDate& d) noexcept {
    return std::make_tuple(d.year(), d.month(), d.day(), d.hour(), d.minute(), d.second());
}

void putInteger(std::string& out, int64_t value) {
    char buffer[24];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    out.assign(buffer, result.ptr);
}

void putUnsigned(std::string& out, uint64_t value) {
    char buffer[24];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    out.assign(buffer, result.ptr);
}

void putInteger128(std::string& out, Int128 value) {
    char buffer[48];
    char* end = buffer + sizeof buffer;
    char* at = end;
    // Digits of the magnitude, taken negatively so that the most negative value needs no care.
    Int128 rest = value < 0 ? value : -value;
    do {
        *--at = static_cast<char>('0' - static_cast<int>(rest % 10));
        rest /= 10;
    } while (rest != 0);
    if (value < 0) *--at = '-';
    out.assign(at, end);
}

/// A real as every destination writes it.
void putReal(std::string& out, double value) {
    char buffer[64];
    const int length = MvbDatavar(value).formatText(buffer, static_cast<int>(sizeof buffer));
    out.assign(buffer, static_cast<size_t>(length));
}

/// A computed figure: rounded to 15 significant digits, so that the last-bit rounding of the
/// arithmetic does not show (a mean of 54.199 rather than 54.199000000000005), then written as
/// a real. Any decimal of 15 digits reads back as a double whose shortest digits are its own.
void putFigure(std::string& out, double value) {
    char buffer[32];
    const auto rounded =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 15);
    double figure = value;
    std::from_chars(buffer, rounded.ptr, figure);
    putReal(out, figure);
}

}  // namespace

FieldKind fieldKindOf(int typeCode) noexcept {
    switch (typeCode) {
        case mvbTypeBoolean:
            return FieldKind::Boolean;
        case mvbTypeInteger:
            return FieldKind::Integer;
        case mvbTypeReal:
            return FieldKind::Real;
        case mvbTypeDate:
            return FieldKind::Date;
        default:
            return FieldKind::Text;
    }
}

FieldProfile::FieldProfile(FieldKind kind, size_t exactLimit, uint64_t seed)
    : kind_(kind), percentiles_(exactLimit, seed) {}

void FieldProfile::add(const MvbDatavar& value) {
    const int type = value.getType();
    if (type == mvbTypeNull) {
        addNull();
        return;
    }
    bool error = false;
    switch (kind_) {
        case FieldKind::Boolean: {
            const bool b = value.asBool(&error);
            error ? addNull() : addBoolean(b);
            break;
        }
        case FieldKind::Integer: {
            const int64_t i = value.asInt64(&error);
            error ? addNull() : addInteger(i);
            break;
        }
        case FieldKind::Real: {
            const double r = value.asReal(&error);
            error ? addNull() : addReal(r);
            break;
        }
        case FieldKind::Date:
            type == mvbTypeDate ? addDate(value.asDate()) : addNull();
            break;
        case FieldKind::Text:
            if (type == mvbTypeString) {
                addText(value.stringView());
            } else {
                char buffer[64];  // holds the text of every value that is not a string
                const int length = value.formatText(buffer, sizeof buffer);
                addText(std::string_view(buffer, static_cast<size_t>(length)));
            }
            break;
    }
}

void FieldProfile::addBoolean(bool value) noexcept {
    ++records_;
    (value ? sawTrue_ : sawFalse_) = true;
}

void FieldProfile::addNumber(long double x) {
    const auto value = static_cast<double>(x);
    if (std::isinf(value)) {
        ++(value > 0 ? positiveInfinities_ : negativeInfinities_);
        return;
    }
    const uint64_t n = valueCount() - positiveInfinities_ - negativeInfinities_;
    // The deviations are taken from the first value: large values close together (timestamps
    // in nanoseconds) keep the digits that differ, which a real of their own size has lost.
    if (n == 1) shift_ = x;
    const long double shifted = x - shift_;
    const long double delta = shifted - mean_;
    mean_ += delta / static_cast<long double>(n);
    m2_ += delta * (shifted - mean_);

    if (kind_ == FieldKind::Real) {
        const long double t = sum_ + x;
        sumCompensation_ += std::fabs(sum_) >= std::fabs(x) ? (sum_ - t) + x : (x - t) + sum_;
        sum_ = t;
    }
}

double FieldProfile::withInfinities(double finite) const noexcept {
    if (positiveInfinities_ != 0 && negativeInfinities_ != 0) {
        return std::numeric_limits<double>::quiet_NaN();
    }
    if (positiveInfinities_ != 0) return std::numeric_limits<double>::infinity();
    if (negativeInfinities_ != 0) return -std::numeric_limits<double>::infinity();
    return finite;
}

void FieldProfile::addInteger(int64_t value) {
    const bool first = valueCount() == 0;
    ++records_;
    if (first || value < minInt_) minInt_ = value;
    if (first || value > maxInt_) maxInt_ = value;
    intSum_ += value;
    percentiles_.addInteger(value);
    addNumber(static_cast<long double>(value));  // exact where a long double has 64 bits
}

void FieldProfile::addReal(double value) {
    if (std::isnan(value)) {
        addNull();
        return;
    }
    const bool first = valueCount() == 0;
    ++records_;
    // Of two zeros the negative one is the smaller, whichever came first.
    if (first || value < minReal_ || (value == minReal_ && std::signbit(value))) minReal_ = value;
    if (first || value > maxReal_ || (value == maxReal_ && !std::signbit(value))) maxReal_ = value;
    percentiles_.add(value);
    addNumber(value);
}

void FieldProfile::addText(std::string_view value) {
    const bool first = valueCount() == 0;
    ++records_;
    if (first || value < std::string_view(minText_)) minText_.assign(value);
    if (first || value > std::string_view(maxText_)) maxText_.assign(value);
}

void FieldProfile::addDate(const MvbDate& value) noexcept {
    const bool first = valueCount() == 0;
    ++records_;
    if (first || dateKey(value) < dateKey(minDate_)) minDate_ = value;
    if (first || dateKey(value) > dateKey(maxDate_)) maxDate_ = value;
}

double FieldProfile::sum() const noexcept {
    if (kind_ == FieldKind::Integer) return static_cast<double>(intSum_);
    return withInfinities(static_cast<double>(sum_ + sumCompensation_));
}

double FieldProfile::mean() const noexcept {
    const uint64_t n = valueCount();
    if (!numeric() || n == 0) return 0.0;
    // The sum divided once is closer than the running mean.
    const long double total =
        kind_ == FieldKind::Integer ? static_cast<long double>(intSum_) : sum_ + sumCompensation_;
    return withInfinities(static_cast<double>(total / static_cast<long double>(n)));
}

double FieldProfile::standardDeviation() const noexcept {
    const uint64_t n = valueCount();
    if (!numeric() || n < 2) return 0.0;
    if (positiveInfinities_ + negativeInfinities_ != 0) {
        return std::numeric_limits<double>::quiet_NaN();
    }
    return static_cast<double>(std::sqrt(m2_ / static_cast<long double>(n - 1)));
}

void FieldProfile::format(Statistic statistic, double percent, std::string& out) {
    out.clear();
    const uint64_t n = valueCount();
    switch (statistic) {
        case Statistic::Records:
            putUnsigned(out, records_);
            return;
        case Statistic::Nulls:
            putUnsigned(out, nulls_);
            return;
        default:
            break;
    }
    if (numeric()) {
        switch (statistic) {
            case Statistic::Count:
                putUnsigned(out, n);
                return;
            case Statistic::Sum:
                if (n == 0) return;
                if (kind_ == FieldKind::Integer) {
                    putInteger128(out, intSum_);
                } else {
                    putFigure(out, sum());
                }
                return;
            case Statistic::Mean:
                if (n != 0) putFigure(out, mean());
                return;
            case Statistic::StandardDeviation:
                if (n >= 2) putFigure(out, standardDeviation());
                return;
            case Statistic::Percentile: {
                if (n == 0) return;
                // A whole percentile of integers is written whole, as the minimum is, rather
                // than rounded to the figures' digits.
                int64_t whole = 0;
                if (percentiles_.wholePercentile(percent, &whole)) {
                    putInteger(out, whole);
                } else {
                    putFigure(out, percentiles_.percentile(percent));
                }
                return;
            }
            default:
                break;
        }
    }
    if (n == 0 || (statistic != Statistic::Minimum && statistic != Statistic::Maximum)) return;
    const bool minimum = statistic == Statistic::Minimum;
    switch (kind_) {
        case FieldKind::Boolean:
            // false < true: the minimum is false whenever false occurs.
            out = (minimum ? !sawFalse_ : sawTrue_) ? "true" : "false";
            return;
        case FieldKind::Integer:
            putInteger(out, minimum ? minInt_ : maxInt_);
            return;
        case FieldKind::Real:
            putReal(out, minimum ? minReal_ : maxReal_);
            return;
        case FieldKind::Text:
            out = minimum ? minText_ : maxText_;
            return;
        case FieldKind::Date: {
            char buffer[40];
            const int length = (minimum ? minDate_ : maxDate_).format(buffer, sizeof buffer);
            out.assign(buffer, static_cast<size_t>(length));
            return;
        }
    }
}

}  // namespace texthost::profiler
