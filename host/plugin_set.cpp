#include <filesystem>
#include <string>

#include "texthost/job.h"
#include "texthost/plugin_library.h"

namespace texthost {

std::string pluginPathsFromHere(const std::string& paths) {
    std::string absolute;
    for (size_t at = 0; at <= paths.size();) {
        size_t end = paths.find(':', at);
        if (end == std::string::npos) end = paths.size();
        std::filesystem::path path = paths.substr(at, end - at);
        std::error_code ec;
        if (!path.empty() && path.is_relative()) {
            const std::filesystem::path made = std::filesystem::absolute(path, ec);
            if (!ec) path = made;
        }
        if (at != 0) absolute += ':';
        absolute += path.string();
        at = end + 1;
    }
    return absolute;
}

PluginSet::PluginSet(const std::string& paths) {
    for (size_t at = 0; at <= paths.size();) {
        size_t end = paths.find(':', at);
        if (end == std::string::npos) end = paths.size();
        if (end > at) {
            auto& library = libraries_.emplace_back(
                std::make_unique<PluginLibrary>(paths.substr(at, end - at)));
            for (const PluginStepType& type : library->stepTypes()) {
                for (const auto& earlier : libraries_) {
                    if (earlier == library || earlier->find(type.typeId) == nullptr) continue;
                    throw JobError("Step type " + type.typeId + " is offered by both " +
                                   earlier->path() + " and " + library->path() +
                                   ": load only one of them");
                }
            }
        }
        at = end + 1;
    }
    if (libraries_.empty()) throw JobError("No plug-in library named in \"" + paths + "\"");
}

std::vector<PluginStepType> PluginSet::stepTypes() const {
    std::vector<PluginStepType> all;
    for (const auto& library : libraries_)
        all.insert(all.end(), library->stepTypes().begin(), library->stepTypes().end());
    return all;
}

const PluginStepType* PluginSet::find(std::string_view typeId) const {
    for (const auto& library : libraries_) {
        if (const PluginStepType* type = library->find(typeId)) return type;
    }
    return nullptr;
}

}  // namespace texthost
