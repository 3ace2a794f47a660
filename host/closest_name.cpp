#include "texthost/closest_name.h"

#include <algorithm>
#include <cstddef>

#include "mvb/name_distance.h"

namespace texthost {

std::string closestName(std::string_view given, const std::vector<std::string>& candidates) {
    std::string best;
    size_t bestDistance = 0;
    for (const std::string& candidate : candidates) {
        const size_t distance = mvbNameDistance(given, candidate);
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
