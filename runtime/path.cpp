#include "mvb/path.h"

#include <cstring>
#include <string>
#include <string_view>

namespace {

struct PathParts {
    std::string_view directory;  ///< without trailing '/', "/" for the root, "" for none
    std::string_view name;
};

PathParts splitPath(std::string_view path) noexcept {
    const size_t slash = path.rfind('/');
    if (slash == std::string_view::npos) {
        return {std::string_view(), path};
    }
    size_t dirEnd = slash;
    while (dirEnd > 0 && path[dirEnd - 1] == '/') {
        --dirEnd;
    }
    // Only slashes before the name: the root directory.
    const std::string_view directory = dirEnd == 0 ? path.substr(0, 1) : path.substr(0, dirEnd);
    return {directory, path.substr(slash + 1)};
}

/// Copies `text` with a NUL into `buffer` when it fits; otherwise leaves the buffer empty.
bool copyFitting(std::string_view text, char* buffer, int size) noexcept {
    if (buffer == nullptr || size <= 0) {
        return false;
    }
    if (text.size() >= static_cast<size_t>(size)) {
        buffer[0] = '\0';
        return false;
    }
    if (!text.empty()) {
        std::memcpy(buffer, text.data(), text.size());
    }
    buffer[text.size()] = '\0';
    return true;
}

}  // namespace

MvbString mvbParsePath(const char* path, MvbString* fileName) {
    const PathParts parts = splitPath(path != nullptr ? path : "");
    if (fileName != nullptr) {
        fileName->assign(parts.name);
    }
    return MvbString(parts.directory);
}

MvbString mvbConcatPath(const char* directory, const char* name) {
    std::string_view dir = directory != nullptr ? directory : "";
    std::string_view file = name != nullptr ? name : "";
    if (dir.empty()) {
        return MvbString(file);
    }
    while (!file.empty() && file.front() == '/') {
        file.remove_prefix(1);
    }
    while (dir.size() > 1 && dir.back() == '/') {
        dir.remove_suffix(1);
    }
    std::string joined(dir);
    if (joined.back() != '/') {
        joined.push_back('/');
    }
    joined.append(file);
    return MvbString(std::string_view(joined));
}

int np_fio_pparse(const char* path, char* dirBuffer, int dirSize, char* nameBuffer, int nameSize) {
    if (path == nullptr) {
        copyFitting({}, dirBuffer, dirSize);
        copyFitting({}, nameBuffer, nameSize);
        return 1;
    }
    const PathParts parts = splitPath(path);
    copyFitting(parts.directory, dirBuffer, dirSize);
    return copyFitting(parts.name, nameBuffer, nameSize) ? 0 : 1;
}
