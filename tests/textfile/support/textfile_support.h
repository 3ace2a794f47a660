#pragma once

// Files, folders and readers shared by the text-file tests.

#include <filesystem>
#include <string>
#include <vector>

#include "mvb/txtfile.h"

#include "common/temp_files.h"

namespace textfile_test {

/// Buffer sizes every read case runs with: tiny ones put line ends, CR LF pairs and
/// characters across buffer ends; 0 means the normal size.
inline const std::vector<size_t> kBufferSizes = {4, 5, 7, 13, 0};

using testfiles::TempDir;

void writeBytes(const std::string& path, const std::string& bytes);
std::string readBytes(const std::string& path);

/// Opens `path` with the given reader buffer size (0: the normal size); fails the test with
/// the error text when the open fails.
MvbTxtFile* openWith(const std::string& path, int mode, int encoding, uint32_t flags,
                     size_t bufferBytes = 0);

/// Closes on scope exit.
struct FileCloser {
    MvbTxtFile* file;
    ~FileCloser() {
        if (file != nullptr) file->close();
    }
};

/// Every line of the file by readLine(); a failure ends the list with "<error: TEXT>".
std::vector<std::string> readAllLines(MvbTxtFile* file);

/// The file's last error text.
std::string lastError(const MvbTxtFile* file);

/// `text` (UTF-8) as UTF-16LE bytes, for tests that build UTF-16 input by hand.
std::string toUtf16Le(const std::string& text);

/// One gzip member holding `text`, as zlib's own gzip writer makes it at `level`; level 0
/// stores it, so its size follows the text's exactly.
std::string gzipped(const std::string& text, int level = 6);

}  // namespace textfile_test
