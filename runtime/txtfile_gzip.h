#pragma once

// Reading a gzip-compressed file as the bytes it holds. Private to the runtime library.

#include <zlib.h>

#include <array>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

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
///
/// Inflating takes longer than splitting and converting the text it gives, so where the process
/// may use more than one core a file (not a pipe, whose reads wait in a way a stop must end) of
/// more than a chunk's compressed bytes is inflated ahead on a thread of its own, a few chunks
/// ahead of the reader, which copies them out: the reader gets the same bytes, then the same end or
/// the same error, at the same place in the text. The thread reads the descriptor until the
/// GzipInput is destroyed, which the caller does before it closes it.
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
    /// Compressed bytes read from the file so far (inflating ahead: to give what the reader
    /// has taken).
    uint64_t compressedRead() const noexcept { return ahead_ ? takenCompressed_ : compressedRead_; }
    const std::string& error() const noexcept { return error_; }

  private:
    /// Inflated text that the thread handed over, or the end of the stream or a failure after
    /// it.
    struct Chunk {
        std::unique_ptr<char[]> bytes;
        size_t size = 0;
        long last = 1;                ///< 1 more may follow; 0 the stream ended; -1 failed
        uint64_t compressedRead = 0;  ///< compressed bytes read once it was inflated
    };
    static constexpr size_t kChunks = 4;
    static constexpr size_t kChunkBytes = size_t{256} << 10;

    long fail(std::string text);
    [[nodiscard]] bool readMore(int fd);
    /// read() in the calling thread.
    long inflateSome(int fd, char* into, size_t room);
    /// Whether the file open as `fd` is worth inflating on a thread of its own: it holds more
    /// than a chunk's compressed bytes, and the process may use more than one core.
    static bool worthAhead(int fd) noexcept;
    /// Starts the thread that inflates ahead from `fd`; false when it cannot be had.
    bool startAhead(int fd) noexcept;
    /// read() from the chunks the thread inflated.
    long readAhead(char* into, size_t room);
    /// The thread: fills chunks from `fd` until the stream ends or fails, or stop_.
    void inflateAhead(int fd) noexcept;

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

    // Inflating ahead. The thread owns the inflater, the input and error_ while it runs; the
    // reader reads error_ once a chunk said it failed, after which the thread is done.
    bool aheadDecided_ = false;
    bool ahead_ = false;
    std::thread thread_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::array<Chunk, kChunks> chunks_;
    size_t filled_ = 0;     ///< chunks handed over and not yet taken back (under mutex_)
    bool stop_ = false;     ///< under mutex_
    size_t reading_ = 0;    ///< the chunk the reader takes bytes from (reader only)
    size_t readFrom_ = 0;   ///< bytes of it taken (reader only)
    bool holding_ = false;  ///< the reader holds chunk reading_ (reader only)
    long ended_ = 1;        ///< the end or failure the reader reached (reader only)
    uint64_t takenCompressed_ = 0;
};

}  // namespace mvb::txt
