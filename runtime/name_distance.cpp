#include "mvb/name_distance.h"

#include <algorithm>
#include <vector>

namespace {

char fold(char c) noexcept {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

}  // namespace

size_t mvbNameDistance(std::string_view a, std::string_view b) {
    // Optimal string alignment, three rows of the table at a time.
    const size_t m = b.size();
    std::vector<size_t> before(m + 1), previous(m + 1), current(m + 1);
    for (size_t j = 0; j <= m; ++j)
        previous[j] = j;
    for (size_t i = 1; i <= a.size(); ++i) {
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
