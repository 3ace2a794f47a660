#pragma once

#include <cstddef>
#include <vector>

namespace texthost {

/// How a chain of `steps` steps is spread over at most `threads` threads: the index of the
/// first step of each thread's share, in chain order (the first is 0). Each thread runs a
/// run of neighbouring steps, as one thread runs the whole chain, and rows cross between
/// threads only where a share ends.
///
/// More threads than cores would only take turns on them, each turn costing a sleep and a
/// wake-up, and each crossing costs both sides a pass over every value: with more steps than
/// threads, neighbouring steps share one. The shares are as even as contiguous runs can be,
/// by what a step costs: the source, which reads and converts every value, about half as much
/// again as a step that takes rows (a CSV copy spends 451 M instructions in its source and 285
/// M in its destination). So a source and two destinations on two threads run as the source
/// and the two destinations; with three destinations, as the source and the first, and the
/// other two.
std::vector<size_t> threadShares(size_t steps, size_t threads);

}  // namespace texthost
