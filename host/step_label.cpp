#include <string>
#include <string_view>

#include "texthost/job.h"

namespace texthost {

std::string stepLabel(std::string_view name, std::string_view type, StepWord word) {
    std::string label = word == StepWord::Lower     ? "step \""
                        : word == StepWord::Capital ? "Step \""
                                                    : "\"";
    label.append(name).append("\" (").append(type).append(")");
    return label;
}

}  // namespace texthost
