#pragma once

#include <string>

namespace textjob {

/// Writes `text` as the job file `path`, as a destination writes its file: replaced whole or
/// not at all (a new file beside it, made durable and renamed over it), or written into where it
/// is a device, a pipe or a file of several names; a link leads to the file it names. A name
/// ending in .gz is refused (it would be written compressed). False after saying why on
/// standard error.
bool writeJobFile(const std::string& path, const std::string& text);

}  // namespace textjob
