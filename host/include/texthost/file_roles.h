#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "step/plugin.h"
#include "texthost/job.h"

namespace texthost {

class Pipeline;

/// What a step does with the file that one of its properties names (StepFileRole).
enum class FileRole {
    Read,         ///< reads the one file named
    PatternRead,  ///< reads the file named, or every file of a name pattern's listing
    Written,      ///< creates the file or replaces it
    Appended,     ///< adds to the file when `condition` is true, else replaces it
};

/// A property whose text names a file ("-": standard input or output).
struct FileProperty {
    std::string property;
    FileRole role = FileRole::Read;
    std::string condition;  ///< Appended: the boolean property that selects appending

    bool writes() const { return role == FileRole::Written || role == FileRole::Appended; }
    /// True when this property's file is appended to in `step` (its condition is true there).
    bool appendsIn(const JobStep& step) const;
};

/// A file written under a fixed name in the folder of the file that `beside` names.
struct ExtraFile {
    std::string name;
    std::string beside;
    bool sameText = false;  ///< every step of the type writes the same bytes, so may share it
};

/// The files one step declares, as the host keeps them.
struct StepFileRoles {
    std::vector<FileProperty> properties;
    std::vector<ExtraFile> extras;
    /// The part of a job split into parts that the step runs as (StepHost::getPart), 0-based,
    /// and the number of parts; 0 parts for a run of the whole job.
    int part = 0;
    int partCount = 0;
    /// What the step threw when asked for its files; empty when it answered.
    std::string failure;

    /// The file the step writes for the name `path` that a written property gives: in a part
    /// of a job the part's own file (mvbPartFileName), else `path` itself.
    std::string writtenFile(const std::string& path) const;
    /// The properties naming files the step writes (Written or Appended), in declaration order.
    std::vector<const FileProperty*> written() const;
    /// The property of this name; null when it names no file.
    const FileProperty* find(std::string_view property) const;
};

/// What `step` answers to kStepFilesExtension, copied. Empty when it answers null, and when it
/// throws, with what it threw in `failure`;
/// entries without a name, with a role the host does not know, or extra files beside a
/// property that names no written file are left out.
StepFileRoles fileRolesOf(StepPluginStep* step);

/// fileRolesOf every step of `pipeline`, in chain order, with the part the pipeline runs.
std::vector<StepFileRoles> fileRolesOf(const Pipeline& pipeline);

/// How `describe` shows a role: "file read", "file or pattern read", "file written", "file
/// written, appended to when APPEND is true".
std::string roleText(const FileProperty& property);

/// The text value of `property` in `step`; empty for a missing, non-text or empty one.
std::string fileNameIn(const JobStep& step, std::string_view property);
/// True when `property` of `step` is a boolean true (or a text that reads as one).
bool flagIn(const JobStep& step, std::string_view property);

}  // namespace texthost
