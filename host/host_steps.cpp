#include "host_steps.h"

#include "texthost/plugin_library.h"
#include "texthost/profiler.h"

namespace texthost {

std::vector<HostStepType> builtinStepTypes() {
    return {
        {kProfilerTypeId, kProfilerDescription, createProfilerStep},
    };
}

std::vector<HostStepType> listStepTypes(const RunOptions& options) {
    std::vector<HostStepType> all = options.extraSteps;
    for (HostStepType& type : builtinStepTypes())
        all.push_back(std::move(type));
    const PluginSet plugin(options.pluginPath.empty() ? defaultPluginPath() : options.pluginPath);
    for (const PluginStepType& type : plugin.stepTypes()) {
        all.push_back({type.typeId, type.description, nullptr});
    }
    return all;
}

}  // namespace texthost
