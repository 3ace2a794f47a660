#pragma once

// Writing a file as gzip: the text file's bytes are deflated on their way to the file.
// Private to the runtime library.

#include <zlib.h>

#include <algorithm>
#include <array>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <iterator>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace mvb::txt {

/// A member's header as zlib's own gzip writer makes it: no name, no time, the default level's
/// flags, Unix.
inline constexpr unsigned char kGzipHeader[] = {0x1F, 0x8B, 8, 0, 0, 0, 0, 0, 0, 3};
/// A whole member that holds no text: the header, an empty last block, and a CRC and a length
/// of 0.
inline constexpr auto kEmptyGzipMember = [] {
    std::array<unsigned char, sizeof kGzipHeader + 10> member{};
    std::copy(std::begin(kGzipHeader), std::end(kGzipHeader), member.begin());
    member[sizeof kGzipHeader] = 3;  // an empty last block of fixed codes (3, 0)
    return member;
}();

/// True for a file name that ends in ".gz" (in any case): such a file is written compressed.
bool hasGzipName(const std::string& path) noexcept;

/// Deflates bytes into gzip members. Each finish() ends one member (header, data, CRC and
/// length); bytes given after it begin the next one, so that appending to a gzip file adds a
/// member and the file still reads as the whole text. A file that holds nothing yet gets a
/// member at the first finish() even when no bytes were given (an empty one), so that a run
/// that writes no text leaves gzip, not an empty file.
///
/// Deflating costs many times what writing the text does, so a member is deflated in blocks of
/// 128 KB of text on threads of their own, one per core the process may use, as many blocks at once
/// as there are threads, and the blocks' data goes to the sink in order from the caller's thread.
/// Each block is deflated with the 32 KB of text before it as its dictionary and ends on a byte
/// edge (an empty stored block), so that the member's data is one deflate stream, read as any
/// other; the member's CRC is the blocks' CRCs combined. A member of one block (a text under 128
/// KB) is deflated in the caller's thread, and its bytes are those of a plain deflate of the text.
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
    /// Compresses `size` bytes; each block's data goes to the sink once it is deflated.
    bool write(const char* bytes, size_t size);
    /// Ends the current member, when bytes were given since the last one ended, or when the
    /// file would otherwise hold no member at all.
    bool finish();
    const std::string& error() const noexcept { return error_; }

  private:
    static constexpr size_t kBlockBytes = size_t{128} << 10;
    static constexpr size_t kWindowBytes = size_t{32} << 10;

    /// A block of a member's text, with the window of text before it in front.
    struct Block {
        enum class State { Free, Queued, Working, Done };
        State state = State::Free;               ///< under mutex_ once threads run
        std::unique_ptr<unsigned char[]> bytes;  ///< window, then the block's text
        size_t window = 0;                       ///< bytes of window in front
        size_t size = 0;                         ///< bytes of text after it
        bool last = false;                       ///< ends the member
        std::vector<unsigned char> packed;       ///< its deflate data
        uLong crc = 0;                           ///< of its text
        bool failed = false;
    };

    /// Deflates `block` with `stream` (raw deflate, reset before): false when zlib fails.
    static bool deflateBlock(z_stream& stream, Block& block);
    /// Hands the block being filled to the threads (or, for a member of one block, deflates it
    /// here) and begins the next one with its window.
    bool submit(bool last);
    /// Waits for the oldest block handed over and sends its data on; false on a failure.
    bool sendOldest();
    /// Sends a deflated block on, after its member's header and, for its last, before its
    /// trailer.
    bool sendBlock(Block& block);
    bool isDone(size_t index);
    /// Starts the threads and their blocks; none where they cannot be had.
    void startThreads() noexcept;
    void stopThreads() noexcept;
    void work(z_stream& stream) noexcept;
    bool fail(const std::string& what);

    std::string path_;
    Sink sink_;
    bool started_ = false;
    /// A block could not be deflated or sent: the member is cut short, and nothing more is
    /// taken (the blocks handed over are let go when the object is).
    bool broken_ = false;
    /// True while bytes given have not been ended as a member, and from the start in a file
    /// that holds nothing yet.
    bool memberOpen_ = false;
    /// Blocks of the member given so far (the one being filled included).
    uint64_t memberBlocks_ = 0;
    bool headerSent_ = false;
    uLong crc_ = 0;      ///< of the member's text sent so far
    uint64_t size_ = 0;  ///< bytes of the member's text sent so far
    std::string error_;

    z_stream own_{};  ///< the caller's deflater, for members of one block
    bool ownOpen_ = false;
    std::vector<Block> blocks_;  ///< a ring: filled, handed over and sent in turn
    size_t filling_ = 0;         ///< the block being filled
    size_t oldest_ = 0;          ///< the oldest block handed over and not yet sent
    size_t handedOver_ = 0;      ///< blocks handed over and not yet sent

    bool threadsTried_ = false;
    std::unique_ptr<z_stream[]> streams_;  ///< one per thread; zlib's state points back to it
    size_t streamCount_ = 0;               ///< streams initialised
    std::vector<std::thread> threads_;
    std::mutex mutex_;
    std::condition_variable changed_;
    size_t nextToTake_ = 0;  ///< under mutex_
    bool stop_ = false;      ///< under mutex_
};

}  // namespace mvb::txt
