#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "mvb/datavar.h"
#include "mvb/date.h"
#include "profiler_percentile.h"

namespace texthost::profiler {

/// How a field's values are read, summed and ordered; follows the field's declared type.
enum class FieldKind {
    Boolean,  ///< ordered false < true; not numeric
    Integer,  ///< numeric; sums exactly while the sum fits in 64 bits
    Real,     ///< numeric
    Text,     ///< ordered by UTF-8 bytes; also any type code the profiler does not know
    Date,     ///< ordered chronologically
};

/// The kind for an mvbType code: 1 boolean, 2 integer, 3 real, 5 date, anything else text.
FieldKind fieldKindOf(int typeCode) noexcept;

/// What one profile cell shows.
enum class Statistic {
    Records,            ///< rows seen, nulls included
    Nulls,              ///< null values, and values the field's type cannot read
    Count,              ///< numeric values summed (numeric fields)
    Sum,                ///< numeric fields
    Mean,               ///< numeric fields
    StandardDeviation,  ///< sample standard deviation (n − 1), numeric fields
    Minimum,            ///< every kind, in its own order
    Maximum,            ///< every kind, in its own order
    Percentile,         ///< numeric fields; see PercentileEstimator
};

/// Running statistics of one field, one value at a time, in memory that does not grow with the
/// number of values (beyond the longest minimum or maximum text).
///
/// - A null value, a real NaN, and a value that the field's type cannot read (text in an
///   integer field, say, or a non-date in a date field) count as nulls and nowhere else.
/// - Numeric fields are integer and real fields; booleans are not numeric (their minimum and
///   maximum tell whether both values occur). Count, sum, mean and standard deviation stream
///   over every value, none sampled: the variance by Welford's update, the real sum with
///   compensated (Neumaier) summation, the integer sum exactly in 128 bits (which no count of
///   64-bit values can overflow), the mean as that sum over the count. Real figures are
///   accumulated in the extended precision of `long double`, whose range no sum of doubles can
///   leave, so a sum or mean whose true value is finite is never infinite or NaN (1e308, 1e308
///   and −1e308 sum to 1e308). The standard deviation is the sample one,
///   √(Σ(x − mean)² / (n − 1)), shown from two values on.
/// - Percentiles follow PercentileEstimator: exact up to its limit of values, sampled beyond.
class FieldProfile {
  public:
    FieldProfile(FieldKind kind, size_t exactLimit = PercentileEstimator::kDefaultExactLimit,
                 uint64_t seed = 0);

    /// Adds the value of one row, read according to the field's kind. Allocates only when a
    /// text becomes a longer minimum or maximum than any before it, or while the percentile
    /// storage grows to its limit.
    void add(const MvbDatavar& value);

    void addNull() noexcept { ++records_, ++nulls_; }
    void addBoolean(bool value) noexcept;
    void addInteger(int64_t value);
    /// NaN counts as a null.
    void addReal(double value);
    void addText(std::string_view value);
    void addDate(const MvbDate& value) noexcept;

    FieldKind kind() const noexcept { return kind_; }
    bool numeric() const noexcept {
        return kind_ == FieldKind::Integer || kind_ == FieldKind::Real;
    }
    uint64_t records() const noexcept { return records_; }
    uint64_t nulls() const noexcept { return nulls_; }
    /// Values that took part in the minimum and maximum (and, when numeric, every figure).
    uint64_t valueCount() const noexcept { return records_ - nulls_; }
    /// The sum, rounded to a double (an integer field's is held exactly; see format()).
    double sum() const noexcept;
    /// The sum divided by the count.
    double mean() const noexcept;
    /// The sample standard deviation; 0 with fewer than two values.
    double standardDeviation() const noexcept;
    const PercentileEstimator& percentiles() const noexcept { return percentiles_; }

    /// Replaces `out` with the text of `statistic` (`percent` is read for Percentile only),
    /// empty when the statistic does not apply to the field or has no value yet. Numbers are
    /// written without the locale: counts, integer sums, minimums and maximums exactly (reals in
    /// their shortest form that reads back the same), the other figures, which arithmetic has
    /// rounded, with 15 significant digits.
    void format(Statistic statistic, double percent, std::string& out);

  private:
    void addNumber(long double x);
    /// A sum or mean as the infinities make it; `finite` when there are none.
    double withInfinities(double finite) const noexcept;

    FieldKind kind_;
    uint64_t records_ = 0;
    uint64_t nulls_ = 0;

    // The infinite values of a real field, kept out of the sums below: a sum or mean with
    // them is infinite (undefined with both), a standard deviation undefined.
    uint64_t positiveInfinities_ = 0;
    uint64_t negativeInfinities_ = 0;

    // Welford's running mean and sum of squared deviations of the finite values, less the
    // first of them (`shift_`).
    long double shift_ = 0.0L;
    long double mean_ = 0.0L;
    long double m2_ = 0.0L;
    // Neumaier-compensated sum of a real field.
    long double sum_ = 0.0L;
    long double sumCompensation_ = 0.0L;
    // The exact sum of an integer field.
    Int128 intSum_ = 0;

    // The minimum and maximum, in the member that the kind uses.
    int64_t minInt_ = 0, maxInt_ = 0;
    double minReal_ = 0.0, maxReal_ = 0.0;
    std::string minText_, maxText_;
    MvbDate minDate_, maxDate_;
    bool sawFalse_ = false, sawTrue_ = false;

    PercentileEstimator percentiles_;
};

}  // namespace texthost::profiler
