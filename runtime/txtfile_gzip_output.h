#pragma once

// Writing a file as gzip: the text file's bytes are deflated on their way to the file.
// Private to the runtime library.

#include <zlib.h>

#include <cstddef>
#include <functional>
#include <memory>
#include <string>

namespace mvb::txt {

/// True for a file name that ends in ".gz" (in any case): such a file is written compressed.
bool hasGzipName(const std::string& path) noexcept;

/// Deflates bytes into gzip members. Each finish() ends one member (header, data, CRC and
/// length); bytes given after it begin the next one, so that appending to a gzip file adds a
/// member and the file still reads as the whole text. A file that holds nothing yet gets a
/// member at the first finish() even when no bytes were given (an empty one), so that a run
/// that writes no text leaves gzip, not an empty file.
class GzipOutput {
  public:
    /// Takes compressed bytes for the file; false when they could not be written.
    using Sink = std::function<bool(const char* bytes, size_t size)>;

    /// `emptyFile`: the file holds no bytes yet (created, emptied, or empty when appended to).
    GzipOutput(std::string path, Sink sink, bool emptyFile);
    GzipOutput(const GzipOutput&) = delete;
    GzipOutput& operator=(const GzipOutput&) = delete;
    ~GzipOutput();

    /// Prepares the deflater. False with error() set when zlib cannot have its memory.
    [[nodiscard]] bool start();
    /// Compresses `size` bytes; what zlib hands out goes to the sink a buffer at a time.
    bool write(const char* bytes, size_t size);
    /// Ends the current member, when bytes were given since the last one ended, or when the
    /// file would otherwise hold no member at all.
    bool finish();
    const std::string& error() const noexcept { return error_; }

  private:
    bool run(int flush);

    std::string path_;
    Sink sink_;
    z_stream stream_{};
    bool open_ = false;
    /// True while bytes given have not been ended as a member, and from the start in a file
    /// that holds nothing yet.
    bool memberOpen_ = false;
    std::unique_ptr<unsigned char[]> output_;
    std::string error_;
};

}  // namespace mvb::txt
