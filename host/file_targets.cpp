#include "file_targets.h"

#include <fnmatch.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <optional>

#include "mvb/directory.h"
#include "mvb/path.h"
#include "mvb/txtfile.h"

namespace texthost {
namespace {

/// Which file a path or descriptor names: its device and inode when it exists, else its
/// resolved path.
struct FileIdentity {
    bool exists = false;
    /// A standard stream that was closed: the same as no other file.
    bool closed = false;
    /// A standard stream on a terminal, pipe or socket: never the file that a step reads.
    bool stream = false;
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
    std::filesystem::path absolute = std::filesystem::absolute(path, error);
    // A link to a file not there yet names that file: writing through it creates it. (The
    // system follows at most 40 links in a row; so does this.)
    for (int links = 0; !id.exists && links < 40; ++links) {
        std::error_code linkError;
        if (!std::filesystem::is_symlink(absolute, linkError)) break;
        const std::filesystem::path target = std::filesystem::read_symlink(absolute, linkError);
        if (linkError) break;
        absolute = target.is_absolute() ? target : absolute.parent_path() / target;
    }
    const std::filesystem::path resolved = std::filesystem::weakly_canonical(absolute, error);
    id.resolved = (error ? absolute.lexically_normal() : resolved).string();
    return id;
}

/// The identity of standard input (0) or output (1); `resolved` is the path of a regular file
/// on it, when the system tells it.
FileIdentity identifyStandard(int fd) {
    FileIdentity id;
    struct stat info {};
    if (fstat(fd, &info) != 0) {
        id.closed = true;
        return id;
    }
    id.exists = true;
    id.device = info.st_dev;
    id.inode = info.st_ino;
    id.stream = S_ISFIFO(info.st_mode) || S_ISSOCK(info.st_mode) || S_ISCHR(info.st_mode);
    std::error_code error;
    const std::filesystem::path target =
        std::filesystem::read_symlink("/proc/self/fd/" + std::to_string(fd), error);
    if (!error && S_ISREG(info.st_mode)) id.resolved = target.string();
    return id;
}

/// True when two writes go into one file.
bool sameFile(const FileIdentity& a, const FileIdentity& b) {
    if (a.closed || b.closed || a.exists != b.exists) return false;
    if (a.exists) return a.device == b.device && a.inode == b.inode;
    return a.resolved == b.resolved;
}

/// True when a write goes into a file read; a terminal or pipe is never that.
bool writesRead(const FileIdentity& write, const FileIdentity& read) {
    return !write.stream && !read.stream && sameFile(write, read);
}

/// The folder and file-name parts of a path ("." for a path without a folder).
std::pair<std::string, std::string> splitPath(const std::string& path) {
    MvbString name;
    const MvbString folder = mvbParsePath(path.c_str(), &name);
    return {folder.empty() ? std::string(".") : std::string(folder.view()),
            std::string(name.view())};
}

std::string quoted(const std::string& text) {
    return "\"" + text + "\"";
}

constexpr int kNotStandard = -1;

/// One file a step reads or writes.
struct StepFile {
    const JobStep* step = nullptr;
    std::string path;
    FileIdentity id;
    int standard = kNotStandard;       ///< 0 or 1 for "-": standard input or output
    const ExtraFile* extra = nullptr;  ///< the extra file written beside the named one
    bool keptRows = false;             ///< `<file>.partial`, where a failed run keeps its rows
};

/// How a message begins to name a file a step writes beside the one its property names.
std::string besideText(const StepFile& write) {
    if (write.keptRows) return "(should the run fail) its file ";
    return write.extra != nullptr ? "its file " : "";
}

StepFile namedFile(const JobStep& step, const std::string& path) {
    return {&step, path, identify(path)};
}

StepFile standardFile(const JobStep& step, int fd) {
    return {&step, "-", identifyStandard(fd), fd};
}

/// How a message names the file.
std::string nameOf(const StepFile& file) {
    if (file.standard == kNotStandard) return quoted(file.path);
    std::string text = file.standard == 0 ? "standard input (\"-\")" : "standard output (\"-\")";
    if (!file.id.resolved.empty()) text += " on " + quoted(file.id.resolved);
    return text;
}

/// A source's name pattern: its folder, the name pattern, and the files it lists today.
struct PatternRead {
    const JobStep* step = nullptr;
    std::string pattern;
    FileIdentity folder;
    std::string namePattern;
    std::vector<StepFile> listed;
};

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
        read.listed.push_back(namedFile(step, std::string(current.view())));
    }
    listing->close();
    return read;
}

/// "the file" text of a write, with the name it is known by elsewhere when that differs.
std::string writtenText(const StepFile& write, const StepFile& other) {
    std::string text = besideText(write) + nameOf(write);
    if (nameOf(other) != nameOf(write)) text += ", which is " + nameOf(other);
    return text + ",";
}

[[noreturn]] void refuseRead(const StepFile& write, const StepFile& read) {
    throw JobError(stepLabel(*write.step, StepWord::Capital) + " would write " +
                   writtenText(write, read) + " the file that " + stepLabel(*read.step) +
                   " reads: a job never writes into a file it reads, which would destroy it. "
                   "Write to another file");
}

[[noreturn]] void refusePattern(const StepFile& write, const PatternRead& read) {
    throw JobError(stepLabel(*write.step, StepWord::Capital) + " would write " + besideText(write) +
                   nameOf(write) + ", which the pattern " + quoted(read.pattern) + " of " +
                   stepLabel(*read.step) +
                   " matches: the job would read its own output. Write to another folder, or "
                   "use a pattern that does not match the file written");
}

[[noreturn]] void refuseTwoWrites(const StepFile& first, const StepFile& second) {
    if (first.step == second.step) {
        throw JobError(stepLabel(*first.step, StepWord::Capital) + " would write " + nameOf(first) +
                       " and " + besideText(second) + nameOf(second) +
                       ", which are one file: choose another file name");
    }
    std::string file = nameOf(first);
    if (nameOf(second) != file) file += " (as " + nameOf(second) + ")";
    throw JobError("Steps " + stepLabel(*first.step, StepWord::None) + " and " +
                   stepLabel(*second.step, StepWord::None) + " would both write " + file +
                   ", mixing their rows: give each destination a file of its own");
}

/// Extra files of one name that every step of one type fills with the same bytes.
bool sharedExtra(const StepFile& a, const StepFile& b) {
    return a.extra != nullptr && b.extra != nullptr && a.extra->sameText && b.extra->sameText &&
           a.extra->name == b.extra->name && a.step->type == b.step->type;
}

/// The files the steps read (plain files and patterns) and write.
struct JobFiles {
    std::vector<StepFile> reads;
    std::vector<PatternRead> patternReads;
    std::vector<StepFile> writes;

    void addRead(const JobStep& step, const FileProperty& property, const std::string& path) {
        if (path == "-") {
            reads.push_back(standardFile(step, STDIN_FILENO));
        } else if (auto pattern = property.role == FileRole::PatternRead ? listPattern(step, path)
                                                                         : std::nullopt) {
            patternReads.push_back(std::move(*pattern));
        } else {
            reads.push_back(namedFile(step, path));
        }
    }

    void addWrite(const JobStep& step, const StepFileRoles& roles, const FileProperty& property,
                  const std::string& path) {
        writes.push_back(path == "-" ? standardFile(step, STDOUT_FILENO) : namedFile(step, path));
        if (path != "-" && !property.appendsIn(step)) {
            // A file replaced at the end keeps a failed run's rows beside it: that file is
            // written too, and must be no file the job reads or another step writes.
            StepFile kept = namedFile(step, path + MVB_KEPT_RECORDS_SUFFIX);
            kept.keptRows = true;
            writes.push_back(std::move(kept));
        }
        for (const ExtraFile& extra : roles.extras) {
            if (extra.beside != property.property) continue;
            const MvbString folder = mvbParsePath(path.c_str(), nullptr);
            const MvbString beside = mvbConcatPath(folder.asCstr(), extra.name.c_str());
            StepFile file = namedFile(step, std::string(beside.view()));
            file.extra = &extra;
            writes.push_back(std::move(file));
        }
    }
};

}  // namespace

void refuseWriteClashes(const JobDefinition& job, const std::vector<StepFileRoles>& roles) {
    JobFiles files;
    for (size_t s = 0; s < job.steps.size() && s < roles.size(); ++s) {
        const JobStep& step = job.steps[s];
        // Without the step's files the run could write what it reads.
        if (!roles[s].failure.empty()) {
            throw JobError(stepLabel(step, StepWord::Capital) +
                           " failed when asked which files it reads and writes (unexpected "
                           "failure: " +
                           roles[s].failure +
                           "), so the run cannot make sure that it does not write a file it "
                           "reads");
        }
        for (const FileProperty& property : roles[s].properties) {
            const std::string path = fileNameIn(step, property.property);
            if (path.empty()) continue;
            if (property.writes()) {
                files.addWrite(step, roles[s], property, roles[s].writtenFile(path));
            } else {
                files.addRead(step, property, path);
            }
        }
    }

    const std::vector<StepFile>& writes = files.writes;
    for (size_t w = 0; w < writes.size(); ++w) {
        const StepFile& write = writes[w];
        for (const StepFile& read : files.reads) {
            if (writesRead(write.id, read.id)) refuseRead(write, read);
        }
        const auto [folder, name] = splitPath(write.path);
        const FileIdentity folderId = identify(folder);
        for (const PatternRead& read : files.patternReads) {
            for (const StepFile& listed : read.listed) {
                if (writesRead(write.id, listed.id)) refuseRead(write, listed);
            }
            // As the listing matches names: a leading dot only where the pattern spells it.
            if (write.standard == kNotStandard && sameFile(folderId, read.folder) &&
                fnmatch(read.namePattern.c_str(), name.c_str(), FNM_PERIOD) == 0) {
                refusePattern(write, read);
            }
        }
        for (size_t other = 0; other < w; ++other) {
            if (sharedExtra(write, writes[other])) continue;
            const bool bothStandard = write.standard == 1 && writes[other].standard == 1;
            if (bothStandard || sameFile(write.id, writes[other].id))
                refuseTwoWrites(writes[other], write);
        }
    }
}

std::optional<RunMessage> unwritableFolder(const JobDefinition& job,
                                           const std::vector<StepFileRoles>& roles) {
    for (size_t s = 0; s < job.steps.size() && s < roles.size(); ++s) {
        const JobStep& step = job.steps[s];
        for (const FileProperty* property : roles[s].written()) {
            const std::string named = fileNameIn(step, property->property);
            if (named.empty() || named == "-") continue;
            // Where a link leads, the run writes.
            const std::string path(mvbLinkTarget(roles[s].writtenFile(named).c_str()).view());
            const std::string shown = splitPath(path).first;
            struct stat info {};
            std::string why;
            if (::stat(shown.c_str(), &info) != 0) {
                why = "does not exist";
            } else if (!S_ISDIR(info.st_mode)) {
                why = "is no folder";
            } else if (::access(shown.c_str(), W_OK | X_OK) != 0 &&
                       !((property->appendsIn(step) || flagIn(step, "IN_PLACE")) &&
                         ::access(path.c_str(), F_OK) == 0)) {
                why = "cannot be written";
            }
            if (!why.empty()) {
                return RunMessage{RunMessage::Kind::Error, step.name,
                                  "cannot write file " + quoted(path) + ": the folder " +
                                      quoted(shown) + " " + why};
            }
            if (::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
                return RunMessage{
                    RunMessage::Kind::Error, step.name,
                    "cannot write file " + quoted(path) + ": it is a folder, not a file"};
            }
        }
    }
    return std::nullopt;
}

}  // namespace texthost
