#include <filesystem>
#include <string>
#include <vector>

#include "texthost/job.h"
#include "texthost/plugin_library.h"

namespace texthost {

namespace {

/// The paths of a list separated by ':', empty ones left out.
std::vector<std::string> pathsOf(const std::string& list) {
    std::vector<std::string> paths;
    for (size_t at = 0; at <= list.size();) {
        size_t end = list.find(':', at);
        if (end == std::string::npos) end = list.size();
        if (end > at) paths.push_back(list.substr(at, end - at));
        at = end + 1;
    }
    return paths;
}

}  // namespace

std::string pluginPathsFromHere(const std::string& paths) {
    std::string absolute;
    for (const std::string& given : pathsOf(paths)) {
        std::filesystem::path path = given;
        std::error_code ec;
        if (path.is_relative()) {
            const std::filesystem::path made = std::filesystem::absolute(path, ec);
            if (!ec) path = made;
        }
        if (!absolute.empty()) absolute += ':';
        absolute += path.string();
    }
    // A list of no path stays as given, for the message that names it.
    return absolute.empty() ? paths : absolute;
}

PluginSet::PluginSet(const std::string& paths) {
    for (const std::string& path : pathsOf(paths)) {
        auto& library = libraries_.emplace_back(std::make_unique<PluginLibrary>(path));
        for (const PluginStepType& type : library->stepTypes()) {
            for (const auto& earlier : libraries_) {
                if (earlier == library || earlier->find(type.typeId) == nullptr) continue;
                throw JobError("Step type " + type.typeId + " is offered by both " +
                               earlier->path() + " and " + library->path() +
                               ": load only one of them");
            }
        }
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

std::string PluginSet::libraryOf(std::string_view typeId) const {
    for (const auto& library : libraries_) {
        if (library->find(typeId) != nullptr) return library->path();
    }
    return {};
}

}  // namespace texthost
