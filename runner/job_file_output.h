#pragma once

#include <string>

namespace textjob {

/// Writes `text` as the job file `path`, replacing it whole or not at all: into a new file
/// beside it, synced and renamed over it, so that a full disk or a failed write leaves the
/// old job as it was. A link is followed to the file it names, which keeps its permissions.
/// False after saying why on standard error.
bool writeJobFile(const std::string& path, const std::string& text);

}  // namespace textjob
