#include "thread_shares.h"

#include <algorithm>
#include <limits>

namespace texthost {

std::vector<size_t> threadShares(size_t steps, size_t threads) {
    if (steps == 0) return {};
    const size_t shares = std::clamp<size_t>(threads, 1, steps);
    // What a step costs, in halves of a step that takes rows.
    const auto cost = [](size_t step) -> size_t { return step == 0 ? 3 : 2; };
    std::vector<size_t> before(steps + 1, 0);  // the cost of the steps before each one
    for (size_t i = 0; i < steps; ++i)
        before[i + 1] = before[i] + cost(i);

    // most[s][n]: the least cost of the dearest share when the first n steps make s shares;
    // start[s][n]: where the last of those shares begins. Chains are a few steps long.
    constexpr size_t kNone = std::numeric_limits<size_t>::max();
    std::vector<std::vector<size_t>> most(shares + 1, std::vector<size_t>(steps + 1, kNone));
    std::vector<std::vector<size_t>> start(shares + 1, std::vector<size_t>(steps + 1, 0));
    most[0][0] = 0;
    for (size_t s = 1; s <= shares; ++s) {
        for (size_t n = s; n <= steps; ++n) {
            for (size_t first = s - 1; first < n; ++first) {
                if (most[s - 1][first] == kNone) continue;
                const size_t dearest = std::max(most[s - 1][first], before[n] - before[first]);
                if (dearest < most[s][n]) {
                    most[s][n] = dearest;
                    start[s][n] = first;
                }
            }
        }
    }
    std::vector<size_t> firsts(shares);
    size_t n = steps;
    for (size_t s = shares; s > 0; --s) {
        firsts[s - 1] = start[s][n];
        n = start[s][n];
    }
    return firsts;
}

}  // namespace texthost
