#include "mvb/directory.h"

#include <dirent.h>
#include <fnmatch.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <string>
#include <vector>

#include "mvb/path.h"
#include "txtfile_codec.h"

MvbDirectoryListing::~MvbDirectoryListing() = default;

namespace mvb::txt {
namespace {

/// The regular files of one folder that match a name pattern, read once when it is made.
class DirectoryListing final : public MvbDirectoryListing {
  public:
    DirectoryListing(std::string folder, std::vector<std::string> names, std::string error)
        : folder_(std::move(folder)), names_(std::move(names)), error_(std::move(error)) {}

    void getLastError(MvbString& text) const override { text.assign(error_); }

    void getCurrentName(MvbString& text) const override {
        if (current_ == 0 || current_ > names_.size()) {
            text.assign("");
            return;
        }
        text = mvbConcatPath(folder_.c_str(), names_[current_ - 1].c_str());
    }

    bool moveNext() override {
        if (!error_.empty() || current_ > names_.size()) {
            return false;
        }
        ++current_;
        return current_ <= names_.size();
    }

    MvbTxtFile* openCurrent(int mode, int encoding, uint32_t flags, MvbString& errorText) override {
        if (current_ == 0 || current_ > names_.size()) {
            errorText.assign("cannot open a file of the listing: it has no current file");
            return nullptr;
        }
        MvbString path;
        getCurrentName(path);
        return mvbTxtFileOpen(path.asCstr(), mode, encoding, flags, errorText);
    }

    void close() override { delete this; }

  private:
    ~DirectoryListing() override = default;

    std::string folder_;
    std::vector<std::string> names_;
    std::string error_;
    size_t current_ = 0;  ///< 1-based; 0 before the first moveNext()
};

bool isRegularEntry(int dirFd, const dirent& entry) {
    if (entry.d_type == DT_REG) {
        return true;
    }
    if (entry.d_type != DT_LNK && entry.d_type != DT_UNKNOWN) {
        return false;
    }
    struct stat info {};
    return fstatat(dirFd, entry.d_name, &info, 0) == 0 && S_ISREG(info.st_mode);
}

/// Reads the matching regular files of `folder` into `names`; returns the failure's text.
std::string listFolder(const std::string& folder, const char* pattern, const char* namePattern,
                       std::vector<std::string>& names) {
    const char* where = folder.empty() ? "." : folder.c_str();
    DIR* dir = opendir(where);
    if (dir == nullptr) {
        const int error = errno;
        std::string text = "cannot list the files of \"" + std::string(pattern) + "\": ";
        if (error == ENOENT) {
            return text + "the folder \"" + where + "\" does not exist";
        }
        if (error == ENOTDIR) {
            return text + "\"" + where + "\" is not a folder";
        }
        return text + "cannot read the folder \"" + where + "\" (" + systemReason(error) + ")";
    }
    const int dirFd = dirfd(dir);
    for (;;) {
        errno = 0;
        const dirent* entry = readdir(dir);
        if (entry == nullptr) {
            const int error = errno;
            closedir(dir);
            if (error != 0) {
                return "cannot read the folder \"" + std::string(where) + "\" (" +
                       systemReason(error) + ")";
            }
            break;
        }
        // Like a shell, a leading dot is matched only by a pattern that spells it.
        if (fnmatch(namePattern, entry->d_name, FNM_PERIOD) == 0 && isRegularEntry(dirFd, *entry)) {
            names.emplace_back(entry->d_name);
        }
    }
    std::sort(names.begin(), names.end());  // byte order: char_traits compares as unsigned
    return {};
}

}  // namespace
}  // namespace mvb::txt

MvbDirectoryListing* mvbDirectoryOpen(const char* pattern, uint32_t /*flags*/,
                                      MvbString& errorText) {
    errorText.assign("");
    if (pattern == nullptr) {
        return nullptr;
    }
    MvbString name;
    const MvbString folder = mvbParsePath(pattern, &name);
    if (name.view().find_first_of("*?[") == std::string_view::npos) {
        return nullptr;  // a plain path names one file
    }
    std::vector<std::string> names;
    std::string error =
        mvb::txt::listFolder(std::string(folder.view()), pattern, name.asCstr(), names);
    errorText.assign(error);
    return new mvb::txt::DirectoryListing(std::string(folder.view()), std::move(names),
                                          std::move(error));
}

MvbString mvbLiteralFileName(const char* path) {
    const std::string_view text = path != nullptr ? path : "";
    const size_t slash = text.rfind('/');
    const size_t nameStart = slash == std::string_view::npos ? 0 : slash + 1;
    if (text.find_first_of("*?[", nameStart) == std::string_view::npos) return MvbString(text);
    std::string literal(text.substr(0, nameStart));
    for (const char c : text.substr(nameStart)) {
        if (c == '*' || c == '?' || c == '[' || c == '\\') literal.push_back('\\');
        literal.push_back(c);
    }
    return MvbString(literal);
}
