#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "step/plugin.h"

namespace texthost {

/// The plug-in path used when a run names none: the environment variable TEXT_PLUGIN_PATH when
/// set and not empty, else ../lib/libtext.so from the folder of the running executable.
std::string defaultPluginPath();

/// One step type of a plug-in's catalogue.
struct PluginStepType {
    std::string typeId;
    std::string description;
    StepCreateFunction create = nullptr;
};

/// A loaded plug-in library: its entry function's name, its factory and the factory's catalogue.
/// The destructor releases the factory and unloads the library; every step created from it must
/// have been released before.
class PluginLibrary {
  public:
    /// Loads `path` (dlopen), calls its entry function "dtstep_text_entry", creates the factory
    /// and reads its catalogue. Throws JobError naming the path when the library is missing,
    /// cannot be loaded, lacks the entry function or yields no usable factory.
    explicit PluginLibrary(const std::string& path);
    ~PluginLibrary();
    PluginLibrary(const PluginLibrary&) = delete;
    PluginLibrary& operator=(const PluginLibrary&) = delete;

    const std::string& path() const { return path_; }
    /// The name the entry function gave (e.g. "Text").
    const std::string& name() const { return name_; }
    StepPluginFactory* factory() const { return factory_; }
    /// The catalogue in the factory's index order.
    const std::vector<PluginStepType>& stepTypes() const { return types_; }
    /// The catalogue entry with this type id; null when there is none.
    const PluginStepType* find(std::string_view typeId) const;

  private:
    std::string path_;
    std::string name_;
    void* handle_ = nullptr;
    StepPluginFactory* factory_ = nullptr;
    std::vector<PluginStepType> types_;
};

}  // namespace texthost
