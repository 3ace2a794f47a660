#include "profiler_stats.h"

#include <charconv>
#include <cmath>
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

void putReal(std::string& out, double value) {
    char buffer[32];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    out.assign(buffer, result.ptr);
}

/// A computed figure: 15 significant digits, so that the last-bit rounding of the arithmetic
/// does not show (a mean of 54.199 rather than 54.199000000000005).
void putFigure(std::string& out, double value) {
    char buffer[32];
    const auto result =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 15);
    out.assign(buffer, result.ptr);
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

void FieldProfile::addNumber(double value) {
    const uint64_t n = valueCount();
    const double delta = value - mean_;
    mean_ += delta / static_cast<double>(n);
    m2_ += delta * (value - mean_);

    const double t = sum_ + value;
    sumCompensation_ +=
        std::fabs(sum_) >= std::fabs(value) ? (sum_ - t) + value : (value - t) + sum_;
    sum_ = t;

    percentiles_.add(value);
}

void FieldProfile::addInteger(int64_t value) {
    const bool first = valueCount() == 0;
    ++records_;
    if (first || value < minInt_) minInt_ = value;
    if (first || value > maxInt_) maxInt_ = value;
    if (!intSumOverflow_ && __builtin_add_overflow(intSum_, value, &intSum_)) {
        intSumOverflow_ = true;
    }
    addNumber(static_cast<double>(value));
}

void FieldProfile::addReal(double value) {
    if (std::isnan(value)) {
        addNull();
        return;
    }
    const bool first = valueCount() == 0;
    ++records_;
    if (first || value < minReal_) minReal_ = value;
    if (first || value > maxReal_) maxReal_ = value;
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
    return exactIntegerSum() ? static_cast<double>(intSum_) : sum_ + sumCompensation_;
}

double FieldProfile::mean() const noexcept {
    // The compensated sum divided once is closer than the running mean while it is finite.
    const double total = sum();
    return std::isfinite(total) && valueCount() != 0 ? total / static_cast<double>(valueCount())
                                                     : mean_;
}

double FieldProfile::standardDeviation() const noexcept {
    const uint64_t n = valueCount();
    if (!numeric() || n < 2) return 0.0;
    return std::sqrt(m2_ / static_cast<double>(n - 1));
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
                if (exactIntegerSum()) {
                    putInteger(out, intSum_);
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
            case Statistic::Percentile:
                if (n != 0) putFigure(out, percentiles_.percentile(percent));
                return;
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
