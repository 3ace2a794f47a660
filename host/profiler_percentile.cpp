#include "profiler_percentile.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <utility>
#include <vector>

namespace texthost::profiler {

PercentileEstimator::PercentileEstimator(size_t exactLimit, uint64_t seed)
    : limit_(exactLimit == 0 ? 1 : exactLimit), state_(seed ^ 0x5DEECE66D2545F49ull) {}

uint64_t PercentileEstimator::nextRandom() noexcept {
    // splitmix64: statistically strong, tiny state, reproducible.
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

template <class T>
void PercentileEstimator::keep(std::vector<T>& kept, T value) {
    ++count_;
    if (kept.size() < limit_) {
        if (kept.size() == kept.capacity()) [[unlikely]] {
            // Grow geometrically but never past the limit, so the storage stays within it.
            const size_t grown = std::max<size_t>(64, kept.capacity() * 2);
            kept.reserve(std::min(limit_, grown));
        }
        kept.push_back(value);
        return;
    }
    // Value number count_ replaces a kept one with probability limit_ / count_. The modulo's
    // bias is below count_ / 2^64, far under any other error here.
    const uint64_t slot = nextRandom() % count_;
    if (slot < limit_) kept[static_cast<size_t>(slot)] = value;
}

void PercentileEstimator::add(double value) {
    keep(kept_, value);
}

void PercentileEstimator::addInteger(int64_t value) {
    keep(keptIntegers_, value);
}

namespace {

/// The rank h = (n − 1)·p/100 as its whole part and the part beyond, the latter as
/// `hundredths` of a rank (exact) when p is whole, else as `fraction`.
struct Rank {
    size_t low = 0;
    uint64_t hundredths = 0;
    long double fraction = 0;
    bool whole = true;
    bool between() const noexcept { return whole ? hundredths != 0 : fraction != 0; }
};

Rank rankOf(size_t n, double p) noexcept {
    p = std::clamp(p, 0.0, 100.0);
    Rank rank;
    if (p == std::floor(p)) {
        const uint64_t scaled = static_cast<uint64_t>(n - 1) * static_cast<uint64_t>(p);
        rank.low = static_cast<size_t>(scaled / 100);
        rank.hundredths = scaled % 100;
        return rank;
    }
    const long double h = static_cast<long double>(n - 1) * p / 100;
    rank.whole = false;
    rank.low = static_cast<size_t>(std::floor(h));
    rank.fraction = h - static_cast<long double>(rank.low);
    return rank;
}

/// Ranks `rank.low` and the next one of `kept`: the first in place, the second as the smallest
/// of the values that partitioning left above it.
template <class T>
std::pair<T, T> neighbours(std::vector<T>& kept, size_t low) {
    const auto lowAt = kept.begin() + static_cast<std::ptrdiff_t>(low);
    std::nth_element(kept.begin(), lowAt, kept.end());
    return {*lowAt, *std::min_element(lowAt + 1, kept.end())};
}

/// a + (b − a) times the rank's part beyond its whole, in long double (which holds every
/// double and integer exactly), rounded once to a double.
double interpolate(long double a, long double b, const Rank& rank) noexcept {
    const long double step = rank.whole ? (b - a) * static_cast<long double>(rank.hundredths) / 100
                                        : (b - a) * rank.fraction;
    return static_cast<double>(a + step);
}

}  // namespace

bool PercentileEstimator::integerPercentile(double p, int64_t* whole, double* between) {
    const size_t n = keptIntegers_.size();
    const Rank rank = rankOf(n, p);
    if (rank.low + 1 >= n) {
        *whole = *std::max_element(keptIntegers_.begin(), keptIntegers_.end());
        return true;
    }
    const auto [a, b] = neighbours(keptIntegers_, rank.low);
    if (!rank.between() || a == b) {
        *whole = a;
        return true;
    }
    if (!rank.whole) {
        *between = interpolate(a, b, rank);
        return false;
    }
    // a·(100 − k) + b·k hundredths, exact in 128 bits: only the division and the narrowing to
    // a double round it, and a whole number of hundreds lies between a and b.
    const Int128 total = static_cast<Int128>(a) * static_cast<Int128>(100 - rank.hundredths) +
                         static_cast<Int128>(b) * static_cast<Int128>(rank.hundredths);
    if (total % 100 == 0) {
        *whole = static_cast<int64_t>(total / 100);
        return true;
    }
    *between = static_cast<double>(static_cast<long double>(total) / 100);
    return false;
}

bool PercentileEstimator::wholePercentile(double p, int64_t* whole) {
    double between = 0;
    return !keptIntegers_.empty() && integerPercentile(p, whole, &between);
}

double PercentileEstimator::percentile(double p) {
    if (!keptIntegers_.empty()) {
        int64_t whole = 0;
        double between = 0;
        return integerPercentile(p, &whole, &between) ? static_cast<double>(whole) : between;
    }
    const size_t n = kept_.size();
    if (n == 0) return 0.0;
    const Rank rank = rankOf(n, p);
    if (rank.low + 1 >= n) return *std::max_element(kept_.begin(), kept_.end());
    const auto [a, b] = neighbours(kept_, rank.low);
    // Equal neighbours and whole ranks answer without arithmetic, which keeps infinities intact.
    if (!rank.between() || a == b) return a;
    // An infinite neighbour: every point between it and a finite one is infinite too, and
    // between the two infinities none is defined.
    if (std::isinf(a) || std::isinf(b)) {
        if (std::isinf(a) && std::isinf(b)) return std::numeric_limits<double>::quiet_NaN();
        return std::isinf(a) ? a : b;
    }
    return interpolate(a, b, rank);
}

}  // namespace texthost::profiler
