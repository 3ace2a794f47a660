#include "working_directory.h"

#include "texthost/job.h"

namespace texthost {

ScopedWorkingDirectory::ScopedWorkingDirectory(const std::filesystem::path& folder) {
    if (folder.empty()) return;
    std::error_code ec;
    previous_ = std::filesystem::current_path(ec);
    if (ec) previous_.clear();
    std::filesystem::current_path(folder, ec);
    if (ec) {
        previous_.clear();
        throw JobError("Cannot work from the job's folder " + folder.string() + ": " +
                       ec.message());
    }
}

ScopedWorkingDirectory::~ScopedWorkingDirectory() {
    if (previous_.empty()) return;
    std::error_code ec;
    std::filesystem::current_path(previous_, ec);
}

}  // namespace texthost
