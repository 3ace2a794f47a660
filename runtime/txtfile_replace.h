#pragma once

// Writing a file under a temporary name beside it, to be renamed into its place once it is
// complete. Private to the runtime library.

#include <cstdint>
#include <string>
#include <vector>

#include "mvb/export.h"

namespace mvb::txt {

/// The path that `path` names once its symbolic links are followed (the file a link names,
/// which may not exist yet); `path` itself when it is no link, or when it leads to no regular
/// file (a device or a pipe, written in place). A file is replaced there, and the link stays.
std::string linkTarget(const char* path);

/// True when an open of `path` (its links followed already: linkTarget()) in `mode` with `flags`
/// writes under a temporary name: the create mode with MVB_FLAG_REPLACE_AT_END, for a path that
/// names no file yet or a regular file of one name (not standard output, a device, a pipe, a
/// folder, or a file with other hard links, which would keep the old text: such are written in
/// place).
bool replacesAtEnd(const char* path, int mode, uint32_t flags);

/// Creates the temporary file that will replace `path`, in the same folder and, when `path`
/// exists, with its permissions (and owner, where the system allows). Returns its descriptor
/// and sets `*temporary` to its name; -1 with `*errorText` saying what failed, or left empty
/// (errno set) for a failure that an open of `path` itself would meet too (a missing folder).
int openReplacement(const char* path, std::string* temporary, std::string* errorText);

/// The temporary files that openReplacement() made for `path` in runs that ended without
/// removing them (killed outright): those whose process no longer runs.
std::vector<std::string> leftoverTemporaries(const char* path);

/// Proves that openReplacement() would succeed, leaving nothing behind. False with
/// `*errorText` set as openReplacement() sets it.
bool probeReplacement(const char* path, std::string* errorText);

/// Makes the temporary file durable and renames it to `target`. `syncError` is the error number
/// of an earlier sync of the file that failed (0 for none), which this one may no longer be told
/// of: the file is then not put in place either. False with `*errorText`.
MVB_API bool putInPlace(int fd, const std::string& temporary, const std::string& target,
                        int syncError, std::string* errorText);

}  // namespace mvb::txt
