#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace texthost {

/// The name among `candidates` closest to `given` by mvbNameDistance, or empty when
/// none is close enough to be a likely typo: at most a third of the longer name's length, and
/// at least one edit always allowed. Ties go to the earlier candidate.
std::string closestName(std::string_view given, const std::vector<std::string>& candidates);

/// The names joined with ", "; "(none)" when there are none.
std::string joinNames(const std::vector<std::string>& names);

/// The end of an "unknown name" message: "; did you mean NAME? Valid <label>: A, B" when a
/// candidate is close to `given`, else "; valid <label>: A, B".
std::string suggestionTail(std::string_view given, const std::vector<std::string>& candidates,
                           std::string_view label);

}  // namespace texthost
