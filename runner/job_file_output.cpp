#include "job_file_output.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "mvb/txtfile.h"

namespace textjob {
namespace {

namespace fs = std::filesystem;

/// Writes all of `text` to `fd`; false with errno set.
bool writeAll(int fd, const std::string& text) {
    const char* at = text.data();
    size_t left = text.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, at, left);
        if (written < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        at += written;
        left -= static_cast<size_t>(written);
    }
    return true;
}

/// The permissions a new file gets: the old file's where there is one, else what the
/// process's umask leaves of read and write for all.
mode_t modeFor(const std::string& target) {
    struct stat old {};
    if (::stat(target.c_str(), &old) == 0) return old.st_mode & 07777;
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

/// Writes `text` over the file open as `fd`; 0, or the error number.
int writeThrough(int fd, const std::string& text) {
    int error = writeAll(fd, text) ? 0 : errno;
    if (::close(fd) != 0 && error == 0) error = errno;
    return error;
}

}  // namespace

bool writeJobFile(const std::string& path, const std::string& text) {
    const auto fail = [&path](int error) {
        std::fprintf(stderr, "error: cannot write the job file %s: %s\n", path.c_str(),
                     std::strerror(error));
        return false;
    };
    // A link stays a link: the file it names is the one replaced.
    const fs::path target(std::string(mvbLinkTarget(path.c_str()).view()));
    struct stat existing {};
    const bool exists = ::stat(target.c_str(), &existing) == 0;
    if (!exists && errno == ELOOP) return fail(errno);  // links that lead round in a circle
    if (exists) {
        if (S_ISDIR(existing.st_mode)) {
            std::fprintf(stderr, "error: cannot write the job file %s: it is a folder\n",
                         path.c_str());
            return false;
        }
        // A device or a pipe is written into, as is a file of several names, which would keep
        // the old job under the others.
        if (!S_ISREG(existing.st_mode) || existing.st_nlink > 1) {
            const int fd = ::open(target.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
            const int error = fd < 0 ? errno : writeThrough(fd, text);
            return error == 0 || fail(error);
        }
    }
    const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
    std::string temporary = (folder / ("." + target.filename().string() + ".XXXXXX")).string();
    const int fd = ::mkstemp(temporary.data());
    int error = 0;
    if (fd < 0) {
        error = errno;
    } else {
        if (::fchmod(fd, modeFor(target.string())) != 0 || !writeAll(fd, text) ||
            ::fsync(fd) != 0) {
            error = errno;
        }
        if (::close(fd) != 0 && error == 0) error = errno;
        if (error == 0 && ::rename(temporary.c_str(), target.c_str()) != 0) error = errno;
        if (error != 0) ::unlink(temporary.c_str());
    }
    return error == 0 || fail(error);
}

}  // namespace textjob
