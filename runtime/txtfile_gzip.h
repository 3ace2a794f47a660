#pragma once

// Reading a gzip-compressed file as the bytes it holds. Private to the runtime library.

#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace mvb::txt {

/// True when `bytes` start with the two bytes that open every gzip stream.
inline bool startsGzip(const char* bytes, size_t size) noexcept {
    return size >= 2 && static_cast<unsigned char>(bytes[0]) == 0x1Fu &&
           static_cast<unsigned char>(bytes[1]) == 0x8Bu;
}

/// The first bytes (up to `size`) that the gzip file open as `fd` holds, read with pread() so
/// that the file's offset stays where it is: their count, short when the data is shorter or
/// damaged. An empty member before them is passed over.
size_t inflatedHead(int fd, char* into, size_t size) noexcept;

/// Inflates the whole gzip file open as `fd` (with pread(), as inflatedHead()) and gives its
/// last `size` bytes (at most 4) at `into`, the bytes it holds in all in `*total`. False when
/// the data is damaged or cut short.
bool inflatedTail(int fd, unsigned char* into, size_t size, uint64_t* total) noexcept;

/// Inflates the gzip stream (one member or several in a row) read from a file descriptor,
/// which the caller owns. A damaged stream, or one that the file cuts short, is an error.
class GzipInput {
  public:
    /// Reads the compressed bytes `inputBytes` at a time (at least 2).
    /// `mayWait`: the file is a pipe, a terminal or a socket, whose reads wait for data in a
    /// way a stop of the run ends.
    GzipInput(std::string path, size_t inputBytes, bool mayWait);
    GzipInput(const GzipInput&) = delete;
    GzipInput& operator=(const GzipInput&) = delete;
    ~GzipInput();

    /// Starts inflating; `head` is what was already read from the file's start. False with
    /// error() set when the inflater cannot be had.
    [[nodiscard]] bool start(const char* head, size_t size);
    /// Reads up to `room` inflated bytes from `fd` into `into`: the count, 0 at the end of the
    /// stream, -1 with error() set on failure.
    long read(int fd, char* into, size_t room);
    /// Compressed bytes read from the file so far.
    uint64_t compressedRead() const noexcept { return compressedRead_; }
    const std::string& error() const noexcept { return error_; }

  private:
    long fail(std::string text);
    [[nodiscard]] bool readMore(int fd);

    std::string path_;
    z_stream stream_{};
    bool open_ = false;
    bool mayWait_ = false;
    bool inputEnded_ = false;
    bool finished_ = false;
    std::unique_ptr<unsigned char[]> input_;
    size_t inputCapacity_ = 0;
    uint64_t compressedRead_ = 0;
    std::string error_;
};

}  // namespace mvb::txt
