#pragma once

#include <vector>

#include "texthost/run.h"

namespace texthost {

/// The step types built into the host, offered besides the plug-in's catalogue.
std::vector<HostStepType> builtinStepTypes();

}  // namespace texthost
