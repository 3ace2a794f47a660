#include "closest_name.h"

#include <algorithm>
#include <cctype>
#include <cstddef>

namespace texthost {
namespace {

char fold(char c) {
    return static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
}

/// Optimal string alignment distance: edits plus swaps of adjacent characters, so that the
/// common typing slip "FILEANME" counts as one edit.
size_t editDistance(std::string_view a, std::string_view b) {
    const size_t n = a.size();
    const size_t m = b.size();
    std::vector<size_t> before(m + 1), previous(m + 1), current(m + 1);
    for (size_t j = 0; j <= m; ++j)
        previous[j] = j;
    for (size_t i = 1; i <= n; ++i) {
        current[0] = i;
        for (size_t j = 1; j <= m; ++j) {
            const size_t cost = fold(a[i - 1]) == fold(b[j - 1]) ? 0 : 1;
            current[j] = std::min({previous[j] + 1, current[j - 1] + 1, previous[j - 1] + cost});
            if (i > 1 && j > 1 && fold(a[i - 1]) == fold(b[j - 2]) &&
                fold(a[i - 2]) == fold(b[j - 1])) {
                current[j] = std::min(current[j], before[j - 2] + 1);
            }
        }
        std::swap(before, previous);
        std::swap(previous, current);
    }
    return previous[m];
}

}  // namespace

std::string closestName(std::string_view given, const std::vector<std::string>& candidates) {
    std::string best;
    size_t bestDistance = 0;
    for (const std::string& candidate : candidates) {
        const size_t distance = editDistance(given, candidate);
        const size_t allowed = std::max<size_t>(1, std::max(given.size(), candidate.size()) / 3);
        if (distance > allowed) continue;
        if (best.empty() || distance < bestDistance) {
            best = candidate;
            bestDistance = distance;
        }
    }
    return best;
}

std::string joinNames(const std::vector<std::string>& names) {
    std::string out;
    for (const std::string& name : names) {
        if (!out.empty()) out += ", ";
        out += name;
    }
    return out.empty() ? std::string("(none)") : out;
}

std::string suggestionTail(std::string_view given, const std::vector<std::string>& candidates,
                           std::string_view label) {
    const std::string best = closestName(given, candidates);
    std::string tail = best.empty() ? "; valid " : "; did you mean " + best + "? Valid ";
    tail.append(label);
    tail += ": ";
    tail += joinNames(candidates);
    return tail;
}

}  // namespace texthost
