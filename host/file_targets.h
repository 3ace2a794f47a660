#pragma once

#include <string>
#include <vector>

#include "texthost/job.h"

namespace texthost {

/// What a step does with the file that one of its properties names.
enum class FileUse {
    Reads,   ///< a source: the file, or every file of a name pattern's listing
    Writes,  ///< a destination: the file, created, emptied or appended to
};

/// One property that names a file, for one step type. This table is the one place that knows
/// which properties of which step types are files.
struct FileProperty {
    const char* typeId;
    const char* property;
    FileUse use;
    /// A file the step writes in the same folder as the named one, under this fixed name (the
    /// HTML report's style sheet); null for none. Every step writes the same text into it.
    const char* besideFile = nullptr;
};

/// The file properties of the step types the host knows.
const std::vector<FileProperty>& fileProperties();

/// Refuses a job that would write into a file it reads, or write one file from two steps:
/// every file a destination writes is compared with every file the sources read (a pattern's
/// listing, and any file the pattern would match in its folder, since a later run would read
/// it) and with the files of the other destinations. Files are the same when they have the
/// same device and inode, or, when they do not exist yet, the same resolved path. "-"
/// (standard input or output) and empty or non-text values never clash.
///
/// Relative paths resolve against the current working directory. Throws JobError naming both
/// steps and the file; touches no file.
void refuseWriteClashes(const JobDefinition& job);

}  // namespace texthost
