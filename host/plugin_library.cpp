#include "texthost/plugin_library.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <new>

#include "texthost/job.h"

namespace texthost {

std::string defaultPluginPath() {
    if (const char* env = std::getenv("TEXT_PLUGIN_PATH"); env != nullptr && *env != '\0') {
        return env;
    }
    Dl_info self{};
    if (dladdr(reinterpret_cast<void*>(&defaultPluginPath), &self) == 0 ||
        self.dli_fname == nullptr) {
        return "libtext.so";
    }
    std::error_code ec;
    const std::filesystem::path library = std::filesystem::canonical(self.dli_fname, ec);
    if (ec) return "libtext.so";
    return (library.parent_path() / "libtext.so").string();
}

PluginLibrary::PluginLibrary(const std::string& path) : path_(path) {
    std::error_code ec;
    if (!std::filesystem::exists(path_, ec)) {
        throw JobError("Plug-in library not found: " + path_ +
                       " (set TEXT_PLUGIN_PATH or give the plug-in's path)");
    }
    handle_ = dlopen(path_.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle_ == nullptr) {
        const char* reason = dlerror();
        throw JobError("Cannot load plug-in library " + path_ + ": " +
                       (reason != nullptr ? reason : "unknown reason"));
    }
    try {
        dlerror();
        void* symbol = dlsym(handle_, kStepEntryFunctionName);
        if (symbol == nullptr) {
            throw JobError("Not a step plug-in: " + path_ + " has no entry function " +
                           kStepEntryFunctionName);
        }
        StepPluginEntry entry;
        const int entryResult = reinterpret_cast<StepEntryFunction>(symbol)(&entry);
        if (entryResult != 0 || entry.createFactory == nullptr) {
            throw JobError("The plug-in " + path_ +
                           " refused to load: its entry function answered " +
                           std::to_string(entryResult) +
                           (entry.createFactory == nullptr ? " and gave no factory" : ""));
        }
        name_ = entry.name != nullptr ? entry.name : "";
        factory_ = entry.createFactory();
        if (factory_ == nullptr) {
            throw JobError("The plug-in " + path_ + " gave no factory");
        }
        const int count = factory_->getStepCount();
        for (int i = 0; i < count; ++i) {
            PluginStepType type;
            type.typeId = std::string(factory_->getStepTypeId(i).view());
            // A job names its steps' types: one without a name, or one the library offers
            // twice, could never be told apart.
            if (type.typeId.empty()) {
                throw JobError("The plug-in " + path_ + " offers a step type without a name (" +
                               std::to_string(i + 1) + " of " + std::to_string(count) + ")");
            }
            if (find(type.typeId) != nullptr) {
                throw JobError("The plug-in " + path_ + " offers step type " + type.typeId +
                               " twice");
            }
            type.description = std::string(factory_->getStepDescription(i).view());
            type.create = factory_->getStepCreateFunction(i);
            types_.push_back(std::move(type));
        }
    } catch (const JobError&) {
        unload();
        throw;
    } catch (const std::exception& e) {
        // Thrown by the library's own code: its load fails, named as the others are.
        unload();
        throw JobError("The plug-in " + path_ + " failed while loading: " + e.what());
    } catch (...) {
        unload();
        throw JobError("The plug-in " + path_ + " failed while loading (unknown exception)");
    }
}

void PluginLibrary::unload() noexcept {
    try {
        if (factory_ != nullptr) factory_->release();
    } catch (...) {
        // Its release failing too leaves nothing more to do for it.
    }
    factory_ = nullptr;
    dlclose(handle_);
    handle_ = nullptr;
}

PluginLibrary::~PluginLibrary() {
    if (factory_ != nullptr) factory_->release();
    if (handle_ != nullptr) dlclose(handle_);
}

const PluginStepType* PluginLibrary::find(std::string_view typeId) const {
    for (const PluginStepType& type : types_) {
        if (type.typeId == typeId) return &type;
    }
    return nullptr;
}

}  // namespace texthost
