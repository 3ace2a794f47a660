#include "job_file_output.h"

#include <strings.h>

#include <cstdio>
#include <string_view>

#include "mvb/charset.h"
#include "mvb/txtfile.h"

namespace textjob {
namespace {

/// The system's reason in a text file's error ("cannot write file "NAME": REASON"), for a
/// message that names the job file itself.
std::string_view reasonIn(std::string_view error) {
    const size_t quote = error.rfind("\": ");
    return error.starts_with("cannot ") && quote != std::string_view::npos ? error.substr(quote + 3)
                                                                           : error;
}

}  // namespace

bool writeJobFile(const std::string& path, const std::string& text) {
    // A text file named so is written compressed, which no run reads as a job.
    if (path.size() > 3 && ::strcasecmp(path.c_str() + path.size() - 3, ".gz") == 0) {
        std::fprintf(stderr,
                     "error: cannot write the job file %s: a name ending in .gz is written "
                     "compressed, and a job is read as JSON text; name it otherwise\n",
                     path.c_str());
        return false;
    }
    // Written as a destination writes its file: under a temporary name renamed into place, or
    // straight into a device, a pipe or a file of several names; a link leads to its file.
    MvbString error;
    MvbTxtFile* file = mvbTxtFileOpen(path.c_str(), MVB_OPEN_CREATE, mvbEncodingUtf8,
                                      MVB_FLAG_REPLACE_AT_END, error);
    bool written = file != nullptr;
    if (written &&
        !(file->writeChars(text.data(), static_cast<int>(text.size())) && file->commit())) {
        file->getLastError(error);
        MvbString kept;
        file->abandon(false, kept);
        written = false;
    }
    if (file != nullptr) file->close();
    if (!written) {
        const std::string_view reason = reasonIn(error.view());
        std::fprintf(stderr, "error: cannot write the job file %s: %.*s\n", path.c_str(),
                     static_cast<int>(reason.size()), reason.data());
    }
    return written;
}

}  // namespace textjob
