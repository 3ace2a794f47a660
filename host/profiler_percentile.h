#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace texthost::profiler {

/// A 128-bit integer: wide enough for the exact sum of any count of 64-bit values.
__extension__ typedef __int128 Int128;

/// Percentiles of a stream of numbers in bounded memory.
///
/// Up to `exactLimit` values every value is kept and the percentiles are exact. From value
/// `exactLimit` + 1 on, the kept values become a uniform random sample of everything seen
/// (reservoir sampling: value n replaces a kept value, chosen at random, with probability
/// `exactLimit` / n), so memory never grows past `exactLimit` values.
///
/// Error bound of the sampled state: with k = `exactLimit` kept values, the sample's
/// distribution lies within ε of the distribution of all values, at every point at once, except
/// with probability at most 2·exp(−2·k·ε²) (Dvoretzky–Kiefer–Wolfowitz). For the default
/// k = 100,000 that is a rank error of at most 0.5 percentile points except with probability
/// 1.4 %, and of at most 1 percentile point except with probability below 10⁻⁸. The random
/// numbers come from a fixed-seed generator, so a run over the same values in the same order
/// always gives the same answer.
///
/// Method: the p-th percentile of n sorted values x[0..n−1] is the linear interpolation between
/// the closest ranks: h = (n − 1)·p/100, x[⌊h⌋] + (h − ⌊h⌋)·(x[⌊h⌋+1] − x[⌊h⌋]). So the 50th
/// percentile of 1, 2, 3, 4 is 2.5 and the 25th is 1.75. For a whole p the rank is found in
/// integers, and integers are kept as integers and interpolated exactly, so that the answer is
/// the true value rounded once to a double.
class PercentileEstimator {
  public:
    /// Values kept exactly before sampling begins.
    static constexpr size_t kDefaultExactLimit = 100000;

    /// `exactLimit` is at least 1 (0 counts as 1). `seed` makes separate streams draw
    /// different (but still reproducible) samples.
    explicit PercentileEstimator(size_t exactLimit = kDefaultExactLimit, uint64_t seed = 0);

    /// Adds one value. NaN must not be added (it has no place in an order). An estimator takes
    /// reals (add) or integers (addInteger), not both.
    void add(double value);
    void addInteger(int64_t value);

    /// Values added since construction.
    uint64_t count() const noexcept { return count_; }
    /// True while every added value is kept, so that percentiles are exact.
    bool exact() const noexcept { return count_ <= limit_; }
    /// The most values ever kept.
    size_t limit() const noexcept { return limit_; }
    /// Values kept now (at most limit()).
    size_t keptCount() const noexcept { return kept_.size() + keptIntegers_.size(); }
    /// Values the kept storage has room for; never more than limit().
    size_t keptCapacity() const noexcept { return kept_.capacity() + keptIntegers_.capacity(); }

    /// The `p`-th percentile (0 ≤ p ≤ 100) by the method above; 0 when no value was added.
    /// Reorders the kept values (a partial selection, linear on average).
    double percentile(double p);
    /// percentile() of integers (addInteger) when it is a whole number: true with it, exactly,
    /// in `*whole`, so that it need not be written as a rounded double. False for a percentile
    /// that falls between two integers, for reals and when no value was added.
    bool wholePercentile(double p, int64_t* whole);

  private:
    /// percentile() of the kept integers: true with a whole one in `*whole`, else false with
    /// the value between two integers, rounded once, in `*between`.
    bool integerPercentile(double p, int64_t* whole, double* between);
    uint64_t nextRandom() noexcept;
    /// Keeps `value`, or lets it replace a kept one at random once `kept` is full.
    template <class T>
    void keep(std::vector<T>& kept, T value);

    std::vector<double> kept_;
    std::vector<int64_t> keptIntegers_;
    size_t limit_;
    uint64_t count_ = 0;
    uint64_t state_;
};

}  // namespace texthost::profiler
