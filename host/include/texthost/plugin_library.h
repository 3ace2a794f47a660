#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "step/plugin.h"

namespace texthost {

/// The plug-in path used when a run names none: the environment variable TEXT_PLUGIN_PATH when
/// set and not empty, else libtext.so in the folder that holds the host library itself (lib/
/// of the build tree or of the installed tree, wherever that was moved).
std::string defaultPluginPath();

/// `paths` (a list as PluginSet takes it) with each relative path made absolute from the current
/// folder: a run works from its job's folder, and the plug-ins named on the command line or in
/// TEXT_PLUGIN_PATH are still the ones found from where the program was started.
std::string pluginPathsFromHere(const std::string& paths);

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
    /// Releases the factory, if made, and closes the library, after a failed load.
    void unload() noexcept;

    std::string path_;
    std::string name_;
    void* handle_ = nullptr;
    StepPluginFactory* factory_ = nullptr;
    std::vector<PluginStepType> types_;
};

/// The plug-ins of a path list (paths separated by ':'), loaded in order, as one catalogue.
class PluginSet {
  public:
    /// Loads every library of `paths`. Throws JobError as PluginLibrary does, for a list with
    /// no path, and for a step type that two of the libraries offer, naming both.
    explicit PluginSet(const std::string& paths);

    /// The step types of every library, in the order of the list and of each catalogue.
    std::vector<PluginStepType> stepTypes() const;
    /// The step type with this id; null when no library offers it.
    const PluginStepType* find(std::string_view typeId) const;
    /// The path of the library that offers the step type with this id; empty when none does.
    std::string libraryOf(std::string_view typeId) const;

  private:
    std::vector<std::unique_ptr<PluginLibrary>> libraries_;
};

}  // namespace texthost
