#pragma once

#include <optional>
#include <vector>

#include "texthost/file_roles.h"
#include "texthost/job.h"
#include "texthost/run.h"

namespace texthost {

/// Refuses a job that would write into a file it reads, or write one file from two steps.
/// Which properties name files, and which extra files a step writes beside them, comes from
/// `roles` (one entry per step of `job`, in order: what each step declared). Every file a
/// step writes is compared with every file the job reads (a pattern's listing, and any file
/// the pattern would match in its folder, since a later run would read it) and with the files
/// the other writes name. Files are the same when they have the same device and inode, or,
/// when they do not exist yet, the same resolved path. In a part of a job (StepFileRoles::
/// partCount) a step writes the part's own files, and those are the ones compared.
///
/// "-" is standard input when read and standard output when written; their descriptors are
/// compared by device and inode as named files are, except that a write never clashes with a
/// read where either is a terminal, a pipe or a socket, and a closed descriptor clashes with
/// nothing. Two steps that both write "-" always clash. Empty or non-text values name no file.
///
/// Relative paths resolve against the current working directory. Throws JobError naming both
/// steps and the file; touches no file.
void refuseWriteClashes(const JobDefinition& job, const std::vector<StepFileRoles>& roles);

/// For a dry run, whose destinations open nothing: the failure a real run would meet first on
/// a file to write in a folder that is not there or cannot be written (unless the file is there
/// and is appended to or written in place, which needs no room in the folder), as that run's
/// destination says it, under its step's name; none when there is none.
std::optional<RunMessage> unwritableFolder(const JobDefinition& job,
                                           const std::vector<StepFileRoles>& roles);

}  // namespace texthost
