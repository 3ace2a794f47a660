#pragma once

#include <filesystem>

namespace texthost {

/// Makes `folder` the process's working directory for the object's life and restores the
/// previous one afterwards. An empty folder changes nothing.
class ScopedWorkingDirectory {
  public:
    /// Throws JobError when the folder cannot be entered.
    explicit ScopedWorkingDirectory(const std::filesystem::path& folder);
    ~ScopedWorkingDirectory();
    ScopedWorkingDirectory(const ScopedWorkingDirectory&) = delete;
    ScopedWorkingDirectory& operator=(const ScopedWorkingDirectory&) = delete;

  private:
    std::filesystem::path previous_;
};

}  // namespace texthost
