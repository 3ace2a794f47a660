#include "txtfile_replace.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <string_view>
#include <vector>

#include "mvb/txtfile.h"
#include "mvb/types.h"
#include "txtfile_codec.h"

namespace mvb::txt {
namespace {

/// The folder part of `path` with its slash ("" for a bare name) and the name after it.
void splitPath(const std::string& path, std::string* folder, std::string* name) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        folder->clear();
        *name = path;
    } else {
        *folder = path.substr(0, slash + 1);
        *name = path.substr(slash + 1);
    }
}

std::string failure(const char* path, const std::string& what, int error) {
    return "cannot write file \"" + std::string(path) + "\": " + what + " (" + systemReason(error) +
           ")";
}

/// The text for a temporary file that could not be created beside `path` for want of
/// permission; empty for any other reason, which the caller words as for any open.
std::string folderFailure(const char* path, const std::string& folder, int error) {
    if (error != EACCES && error != EPERM && error != EROFS) return {};
    const std::string shown = folder.empty() ? "." : folder;
    // Writing in place helps only where the file is there to be written.
    struct stat info {};
    if (::stat(path, &info) != 0) {
        return failure(path, "the folder \"" + shown + "\" cannot be written", error);
    }
    return failure(path,
                   "the file is written under a temporary name in its folder \"" + shown +
                       "\" and renamed into place at the end, but the folder cannot be "
                       "written; allow writing there, or set IN_PLACE to write straight into "
                       "the file",
                   error);
}

/// Refuses an existing file that may not be written, as writing it in place would.
bool existingWritable(const char* path, std::string* errorText) {
    if (::faccessat(AT_FDCWD, path, W_OK, AT_EACCESS) == 0) return true;
    // Any other reason (a missing folder, a file where a folder should be) the open meets too.
    const int error = errno;
    if (error != EACCES && error != EPERM && error != EROFS) return true;
    *errorText = failure(
        path, error == EROFS ? "it is on a file system mounted read-only" : "no permission", error);
    return false;
}

}  // namespace

std::string linkTarget(const char* path) {
    // What the path leads to is no regular file (a device; a pipe, through /dev/stdout): it is
    // written in place, and a link on the way need not name a path ("pipe:[…]").
    struct stat reached {};
    if (::stat(path, &reached) == 0 && !S_ISREG(reached.st_mode)) return path;
    std::string current = path;
    // As the system follows links: a bounded number of them, so that a loop ends.
    for (int hop = 0; hop < 40; ++hop) {
        struct stat info {};
        if (::lstat(current.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return current;
        std::string named(static_cast<size_t>(info.st_size > 0 ? info.st_size : 4096), '\0');
        const ssize_t got = ::readlink(current.c_str(), named.data(), named.size());
        if (got <= 0) return current;
        named.resize(static_cast<size_t>(got));
        if (named.front() != '/') {
            // A relative link names a file from the link's own folder.
            const size_t slash = current.rfind('/');
            if (slash != std::string::npos) named = current.substr(0, slash + 1) + named;
        }
        current = std::move(named);
    }
    return current;
}

bool replacesAtEnd(const char* path, int mode, uint32_t flags) {
    if ((flags & MVB_FLAG_REPLACE_AT_END) == 0 || mode != MVB_OPEN_CREATE) return false;
    if (path[0] == '-' && path[1] == '\0') return false;
    struct stat info {};
    if (::lstat(path, &info) != 0) return errno == ENOENT;
    return S_ISREG(info.st_mode) && info.st_nlink == 1;
}

namespace {

/// The head of the name `name` that temporary names hold: a long name gives only its head (cut
/// at a character's start) to leave room for what the temporary adds.
std::string temporaryStem(std::string name) {
    constexpr size_t kMostNameBytes = 200;
    if (name.size() > kMostNameBytes) {
        size_t cut = kMostNameBytes;
        while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80)
            --cut;
        name.resize(cut);
    }
    return name;
}

/// The process that made the temporary file `entry` for a file of the stem `stem`
/// (".STEM.PID-N.tmp"); 0 when `entry` is no such name.
pid_t temporaryMaker(std::string_view entry, const std::string& stem) {
    constexpr std::string_view kEnd = ".tmp";
    if (entry.size() < stem.size() + 2 + kEnd.size() || entry[0] != '.' ||
        entry.substr(1, stem.size()) != stem || entry[stem.size() + 1] != '.' ||
        !entry.ends_with(kEnd)) {
        return 0;
    }
    const std::string_view middle =
        entry.substr(stem.size() + 2, entry.size() - stem.size() - 2 - kEnd.size());
    const size_t dash = middle.find('-');
    // The process number as the name was made from it: no leading zero.
    if (dash == 0 || dash == std::string_view::npos || dash + 1 == middle.size() ||
        middle[0] == '0' || middle.find_first_not_of("0123456789-") != std::string_view::npos ||
        middle.find('-', dash + 1) != std::string_view::npos) {
        return 0;
    }
    long long pid = 0;
    for (const char c : middle.substr(0, dash)) {
        pid = pid * 10 + (c - '0');
        if (pid > 1 << 30) return 0;
    }
    return static_cast<pid_t>(pid);
}

}  // namespace

std::vector<std::string> leftoverTemporaries(const char* path) {
    std::string folder;
    std::string name;
    splitPath(path, &folder, &name);
    const std::string stem = temporaryStem(name);
    std::vector<std::string> found;
    DIR* const listing = ::opendir(folder.empty() ? "." : folder.c_str());
    if (listing == nullptr) return found;
    while (const dirent* entry = ::readdir(listing)) {
        const pid_t maker = temporaryMaker(entry->d_name, stem);
        // A process that is still running may be writing it; one of another machine sharing
        // the folder would be taken for a process of this one, which is told as well.
        if (maker <= 0 || maker == ::getpid() || ::kill(maker, 0) == 0 || errno != ESRCH) continue;
        // Only a file can be one (not a folder or a link of the same name).
        struct stat info {};
        const std::string name = folder + entry->d_name;
        if (::lstat(name.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) continue;
        found.push_back(name);
    }
    ::closedir(listing);
    std::sort(found.begin(), found.end());
    return found;
}

int openReplacement(const char* path, std::string* temporary, std::string* errorText) {
    if (!existingWritable(path, errorText)) return -1;
    struct stat existing {};
    const bool exists = ::stat(path, &existing) == 0;
    const mode_t mode = exists ? (existing.st_mode & 07777) : 0666;
    std::string folder;
    std::string name;
    splitPath(path, &folder, &name);
    // The temporary name must fit where the name does.
    name = temporaryStem(name);
    // A name of its own for each try: the process, a clock reading and the try.
    const auto seed =
        static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    for (uint64_t attempt = 0; attempt < 64; ++attempt) {
        *temporary = folder + "." + name + "." + std::to_string(::getpid()) + "-" +
                     std::to_string((seed + attempt * 7919) % 1000000007) + ".tmp";
        const int fd =
            ::open(temporary->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode & 0777);
        if (fd < 0) {
            if (errno == EEXIST) continue;
            const int error = errno;
            *errorText = folderFailure(path, folder, error);
            errno = error;
            return -1;
        }
        if (exists) {
            // The owner first: changing it may clear the set-id bits that the mode then sets.
            // Neither may be allowed; the file is then written as this user's.
            if (::fchown(fd, existing.st_uid, existing.st_gid) != 0) {
                errno = 0;
            }
            if (::fchmod(fd, mode) != 0) {
                errno = 0;
            }
        }
        return fd;
    }
    *errorText = failure(path, "no free temporary name in its folder", EEXIST);
    return -1;
}

bool probeReplacement(const char* path, std::string* errorText) {
    std::string temporary;
    const int fd = openReplacement(path, &temporary, errorText);
    if (fd < 0) return false;
    ::close(fd);
    ::unlink(temporary.c_str());
    return true;
}

bool putInPlace(int fd, const std::string& temporary, const std::string& target, int syncError,
                std::string* errorText) {
    if (syncError == 0 && ::fsync(fd) != 0 && errno != EINVAL) syncError = errno;
    if (syncError != 0) {
        *errorText = failure(target.c_str(), "its data could not be made durable", syncError);
        return false;
    }
    if (::rename(temporary.c_str(), target.c_str()) != 0) {
        *errorText =
            failure(target.c_str(),
                    "the complete file \"" + temporary + "\" could not be renamed to it", errno);
        return false;
    }
    return true;
}

}  // namespace mvb::txt

MvbString mvbLeftoverTemporaries(const char* path) {
    std::string names;
    for (const std::string& name : mvb::txt::leftoverTemporaries(path))
        names += (names.empty() ? "" : "\n") + name;
    return MvbString(names);
}

MvbString mvbLinkTarget(const char* path) {
    return MvbString(mvb::txt::linkTarget(path));
}
