#include "file_targets.h"

#include <fnmatch.h>
#include <sys/stat.h>

#include <filesystem>
#include <optional>

#include "../src/html_style_sheet.h"
#include "mvb/directory.h"
#include "mvb/path.h"
#include "mvb/types.h"

namespace texthost {
namespace {

/// Which file a path names: its device and inode when it exists, else its resolved path.
struct FileIdentity {
    bool exists = false;
    dev_t device = 0;
    ino_t inode = 0;
    std::string resolved;
};

FileIdentity identify(const std::string& path) {
    FileIdentity id;
    struct stat info {};
    if (stat(path.c_str(), &info) == 0) {
        id.exists = true;
        id.device = info.st_dev;
        id.inode = info.st_ino;
    }
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(path, error);
    const std::filesystem::path resolved = std::filesystem::weakly_canonical(absolute, error);
    id.resolved = (error ? absolute.lexically_normal() : resolved).string();
    return id;
}

bool sameFile(const FileIdentity& a, const FileIdentity& b) {
    if (a.exists != b.exists) return false;
    if (a.exists) return a.device == b.device && a.inode == b.inode;
    return a.resolved == b.resolved;
}

/// The folder and file-name parts of a path ("." for a path without a folder).
std::pair<std::string, std::string> splitPath(const std::string& path) {
    MvbString name;
    const MvbString folder = mvbParsePath(path.c_str(), &name);
    return {folder.empty() ? std::string(".") : std::string(folder.view()),
            std::string(name.view())};
}

std::string label(const JobStep& step) {
    return "step \"" + step.name + "\" (" + step.type + ")";
}

std::string quoted(const std::string& text) {
    return "\"" + text + "\"";
}

/// One file a step reads or writes.
struct StepFile {
    const JobStep* step = nullptr;
    std::string path;
    FileIdentity id;
    bool beside = false;  ///< the fixed file written beside the named one
};

/// A source's name pattern: its folder, the name pattern, and the files it lists today.
struct PatternRead {
    const JobStep* step = nullptr;
    std::string pattern;
    FileIdentity folder;
    std::string namePattern;
    std::vector<StepFile> listed;
};

/// The text value of `property` in `step`; nothing for a missing, non-text, empty or "-" one.
std::optional<std::string> fileNameOf(const JobStep& step, const char* property) {
    for (const JobProperty& given : step.properties) {
        if (given.name != property || given.isTable) continue;
        if (given.value.getType() != mvbTypeString) return std::nullopt;
        std::string text(given.value.asString().view());
        if (text.empty() || text == "-") return std::nullopt;
        return text;
    }
    return std::nullopt;
}

/// The files of a pattern's listing; nothing when `path` is a plain path.
std::optional<PatternRead> listPattern(const JobStep& step, const std::string& path) {
    MvbString error;
    MvbDirectoryListing* listing = mvbDirectoryOpen(path.c_str(), 0, error);
    if (listing == nullptr) return std::nullopt;
    PatternRead read;
    read.step = &step;
    read.pattern = path;
    auto [folder, name] = splitPath(path);
    read.folder = identify(folder);
    read.namePattern = std::move(name);
    while (listing->moveNext()) {
        MvbString current;
        listing->getCurrentName(current);
        std::string file(current.view());
        read.listed.push_back({&step, file, identify(file)});
    }
    listing->close();
    return read;
}

/// "the file" text of a write, with the name it is known by elsewhere when that differs.
std::string writtenText(const StepFile& write, const std::string& otherName) {
    std::string text = write.beside ? "its file " + quoted(write.path) : quoted(write.path);
    if (otherName != write.path) text += ", which is " + quoted(otherName);
    return text + ",";
}

[[noreturn]] void refuseRead(const StepFile& write, const StepFile& read) {
    throw JobError("Step \"" + write.step->name + "\" (" + write.step->type + ") would write " +
                   writtenText(write, read.path) + " the file that " + label(*read.step) +
                   " reads: a job never writes into a file it reads, which would destroy it. "
                   "Write to another file");
}

[[noreturn]] void refusePattern(const StepFile& write, const PatternRead& read) {
    throw JobError("Step \"" + write.step->name + "\" (" + write.step->type + ") would write " +
                   (write.beside ? "its file " : "") + quoted(write.path) + ", which the pattern " +
                   quoted(read.pattern) + " of " + label(*read.step) +
                   " matches: the job would read its own output. Write to another folder, or "
                   "use a pattern that does not match the file written");
}

[[noreturn]] void refuseTwoWrites(const StepFile& first, const StepFile& second) {
    if (first.step == second.step) {
        throw JobError("Step \"" + first.step->name + "\" (" + first.step->type + ") would write " +
                       quoted(first.path) + " and its file " + quoted(second.path) +
                       ", which are one file: choose another FILENAME");
    }
    std::string file = quoted(first.path);
    if (second.path != first.path) file += " (as " + quoted(second.path) + ")";
    throw JobError("Steps \"" + first.step->name + "\" (" + first.step->type + ") and \"" +
                   second.step->name + "\" (" + second.step->type + ") would both write " + file +
                   ", mixing their rows: give each destination a file of its own");
}

}  // namespace

const std::vector<FileProperty>& fileProperties() {
    static const std::vector<FileProperty> kProperties = {
        {"SOURCE_DELIMTEXT", "FILENAME", FileUse::Reads},
        {"SOURCE_FIXEDTEXT", "FILENAME", FileUse::Reads},
        {"DEST_DELIMTEXT", "FILENAME", FileUse::Writes},
        {"DEST_FIXEDTEXT", "FILENAME", FileUse::Writes},
        {"DEST_HTML", "FILENAME", FileUse::Writes, kHtmlStyleSheetName},
    };
    return kProperties;
}

void refuseWriteClashes(const JobDefinition& job) {
    std::vector<StepFile> reads;
    std::vector<PatternRead> patternReads;
    std::vector<StepFile> writes;
    for (const JobStep& step : job.steps) {
        for (const FileProperty& property : fileProperties()) {
            if (step.type != property.typeId) continue;
            const std::optional<std::string> path = fileNameOf(step, property.property);
            if (!path) continue;
            if (property.use == FileUse::Reads) {
                if (auto pattern = listPattern(step, *path)) {
                    patternReads.push_back(std::move(*pattern));
                } else {
                    reads.push_back({&step, *path, identify(*path)});
                }
                continue;
            }
            writes.push_back({&step, *path, identify(*path)});
            if (property.besideFile != nullptr) {
                const MvbString folder = mvbParsePath(path->c_str(), nullptr);
                const MvbString beside = mvbConcatPath(folder.asCstr(), property.besideFile);
                const std::string besidePath(beside.view());
                writes.push_back({&step, besidePath, identify(besidePath), true});
            }
        }
    }

    for (size_t w = 0; w < writes.size(); ++w) {
        const StepFile& write = writes[w];
        for (const StepFile& read : reads) {
            if (sameFile(write.id, read.id)) refuseRead(write, read);
        }
        if (!patternReads.empty()) {
            const auto [folder, name] = splitPath(write.path);
            const FileIdentity folderId = identify(folder);
            for (const PatternRead& read : patternReads) {
                for (const StepFile& listed : read.listed) {
                    if (sameFile(write.id, listed.id)) refuseRead(write, listed);
                }
                // As the listing matches names: a leading dot only where the pattern spells it.
                if (sameFile(folderId, read.folder) &&
                    fnmatch(read.namePattern.c_str(), name.c_str(), FNM_PERIOD) == 0) {
                    refusePattern(write, read);
                }
            }
        }
        for (size_t other = 0; other < w; ++other) {
            // Beside files of one kind receive the same fixed text from every step.
            if (write.beside && writes[other].beside) continue;
            if (sameFile(write.id, writes[other].id)) refuseTwoWrites(writes[other], write);
        }
    }
}

}  // namespace texthost
