#pragma once

// Temporary folders and whole-file reads and writes, shared by the test programs.

#include <filesystem>
#include <string>

namespace testfiles {

/// A fresh folder under the system's temporary folder, removed with everything in it.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    /// The path of `name` inside the folder.
    std::string file(const std::string& name) const { return (path_ / name).string(); }

  private:
    std::filesystem::path path_;
};

/// Writes `bytes` as the whole file; throws when the file cannot be written.
void writeFile(const std::string& path, const std::string& bytes);
/// The whole file's bytes; empty when it cannot be read.
std::string readFile(const std::string& path);

}  // namespace testfiles
