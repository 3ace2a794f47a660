#include "profiler_percentile.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>

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

void PercentileEstimator::add(double value) {
    ++count_;
    if (kept_.size() < limit_) {
        if (kept_.size() == kept_.capacity()) [[unlikely]] {
            // Grow geometrically but never past the limit, so the storage stays within it.
            const size_t grown = std::max<size_t>(64, kept_.capacity() * 2);
            kept_.reserve(std::min(limit_, grown));
        }
        kept_.push_back(value);
        return;
    }
    // Value number count_ replaces a kept one with probability limit_ / count_. The modulo's
    // bias is below count_ / 2^64, far under any other error here.
    const uint64_t slot = nextRandom() % count_;
    if (slot < limit_) kept_[static_cast<size_t>(slot)] = value;
}

double PercentileEstimator::percentile(double p) {
    const size_t n = kept_.size();
    if (n == 0) return 0.0;
    const double h = static_cast<double>(n - 1) * std::clamp(p, 0.0, 100.0) / 100.0;
    const size_t low = static_cast<size_t>(std::floor(h));
    if (low + 1 >= n) return *std::max_element(kept_.begin(), kept_.end());
    // Only the two ranks the answer needs are found: rank `low` in place, and rank low + 1 as
    // the smallest of the values that partitioning left above it.
    const auto lowAt = kept_.begin() + static_cast<std::ptrdiff_t>(low);
    std::nth_element(kept_.begin(), lowAt, kept_.end());
    const double a = *lowAt;
    const double b = *std::min_element(lowAt + 1, kept_.end());
    const double fraction = h - static_cast<double>(low);
    // Equal neighbours and whole ranks answer without arithmetic, which keeps infinities intact.
    if (fraction == 0.0 || a == b) return a;
    // An infinite neighbour: every point between it and a finite one is infinite too, and
    // between the two infinities none is defined.
    if (std::isinf(a) || std::isinf(b)) {
        if (std::isinf(a) && std::isinf(b)) return std::numeric_limits<double>::quiet_NaN();
        return std::isinf(a) ? a : b;
    }
    const double span = b - a;
    // Neighbours of opposite signs near the limits of the range: their span overflows, while
    // the weighted mean of the two, which lies between them, cannot.
    if (std::isinf(span)) return (1.0 - fraction) * a + fraction * b;
    return a + fraction * span;
}

}  // namespace texthost::profiler
