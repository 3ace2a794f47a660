#include "txtfile_gzip.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <exception>

#include "mvb/cores.h"
#include "txtfile_codec.h"
#include "txtfile_wait.h"

namespace mvb::txt {
namespace {

/// Window bits that make the inflater read a gzip header and check the trailer's CRC.
constexpr int kGzipWindow = 15 + 16;

}  // namespace

size_t inflatedHead(int fd, char* into, size_t size) noexcept {
    z_stream stream{};
    if (size == 0 || inflateInit2(&stream, kGzipWindow) != Z_OK) {
        return 0;
    }
    unsigned char input[4096];
    off_t offset = 0;
    stream.next_out = reinterpret_cast<Bytef*>(into);
    stream.avail_out = static_cast<uInt>(size);
    while (stream.avail_out > 0) {
        if (stream.avail_in == 0) {
            const ssize_t got = ::pread(fd, input, sizeof input, offset);
            if (got <= 0) {
                break;
            }
            offset += got;
            stream.next_in = input;
            stream.avail_in = static_cast<uInt>(got);
        }
        const int status = inflate(&stream, Z_NO_FLUSH);
        if (status == Z_STREAM_END) {
            inflateReset(&stream);  // the next member, if one follows
        } else if (status != Z_OK) {
            break;
        }
    }
    inflateEnd(&stream);
    return size - stream.avail_out;
}

bool inflatedTail(int fd, unsigned char* into, size_t size, uint64_t* total) noexcept {
    z_stream stream{};
    if (size > 4 || inflateInit2(&stream, kGzipWindow) != Z_OK) return false;
    unsigned char input[1 << 16];
    unsigned char output[1 << 16];
    unsigned char last[4] = {};  // the last bytes inflated, the latest at the end
    off_t offset = 0;
    *total = 0;
    bool ended = false;  // at the end of a member: the file may end there
    bool full = false;   // the output was filled: the inflater may hold more without input
    for (;;) {
        if (stream.avail_in == 0 && !full) {
            const ssize_t got = ::pread(fd, input, sizeof input, offset);
            if (got <= 0) break;
            offset += got;
            stream.next_in = input;
            stream.avail_in = static_cast<uInt>(got);
        }
        stream.next_out = output;
        stream.avail_out = sizeof output;
        const int status = inflate(&stream, Z_NO_FLUSH);
        const size_t made = sizeof output - stream.avail_out;
        full = stream.avail_out == 0;
        *total += made;
        for (size_t i = made > 4 ? made - 4 : 0; i < made; ++i) {
            std::memmove(last, last + 1, 3);
            last[3] = output[i];
        }
        ended = status == Z_STREAM_END;
        if (ended) {
            inflateReset(&stream);  // the next member, if one follows
        } else if (status != Z_OK && status != Z_BUF_ERROR) {
            break;
        }
    }
    inflateEnd(&stream);
    std::memcpy(into, last + 4 - size, size);
    return ended;
}

GzipInput::GzipInput(std::string path, size_t inputBytes, bool mayWait)
    : path_(std::move(path)), mayWait_(mayWait), inputCapacity_(std::max<size_t>(inputBytes, 2)) {}

GzipInput::~GzipInput() {
    if (thread_.joinable()) {
        {
            const std::lock_guard<std::mutex> hold(mutex_);
            stop_ = true;
        }
        changed_.notify_all();
        thread_.join();
    }
    if (open_) {
        inflateEnd(&stream_);
    }
}

long GzipInput::fail(std::string text) {
    error_ = std::move(text);
    return -1;
}

bool GzipInput::start(const char* head, size_t size) {
    if (inflateInit2(&stream_, kGzipWindow) != Z_OK) {
        fail("cannot read file \"" + path_ + "\": no memory to inflate its gzip data");
        return false;
    }
    open_ = true;
    inputCapacity_ = std::max(inputCapacity_, size);
    input_ = std::make_unique_for_overwrite<unsigned char[]>(inputCapacity_);
    std::memcpy(input_.get(), head, size);
    stream_.next_in = input_.get();
    stream_.avail_in = static_cast<uInt>(size);
    compressedRead_ = size;
    return true;
}

bool GzipInput::readMore(int fd) {
    // Bytes not inflated yet stay in front of the new ones.
    const size_t kept = stream_.avail_in;
    if (kept > 0 && stream_.next_in != input_.get()) {
        std::memmove(input_.get(), stream_.next_in, kept);
    }
    if (mayWait_ && !waitForData(fd)) [[unlikely]] {
        fail("cannot read file \"" + path_ + "\": " + stoppedWaitReason());
        return false;
    }
    for (;;) {
        const ssize_t got = ::read(fd, input_.get() + kept, inputCapacity_ - kept);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            fail("cannot read file \"" + path_ + "\": " + systemReason(errno));
            return false;
        }
        inputEnded_ = got == 0;
        stream_.next_in = input_.get();
        stream_.avail_in = static_cast<uInt>(kept + static_cast<size_t>(got));
        compressedRead_ += static_cast<uint64_t>(got);
        return true;
    }
}

long GzipInput::read(int fd, char* into, size_t room) {
    if (ahead_) {
        return readAhead(into, room);
    }
    // The first read decides, once, where the rest is inflated.
    if (!aheadDecided_) {
        aheadDecided_ = true;
        if (error_.empty() && !mayWait_ && !finished_ && worthAhead(fd) && startAhead(fd)) {
            return readAhead(into, room);
        }
    }
    return inflateSome(fd, into, room);
}

bool GzipInput::worthAhead(int fd) noexcept {
    // Starting and ending a thread takes about as long as inflating 20 KB of text: a file of less
    // than a chunk's compressed bytes is inflated here. Of many small files (a day's logs, say), a
    // thread for each made reading them three times slower.
    struct stat file {};
    return ::fstat(fd, &file) == 0 && file.st_size > static_cast<off_t>(kChunkBytes) &&
           mvbUsableCores() > 1;
}

bool GzipInput::startAhead(int fd) noexcept {
    try {
        for (Chunk& chunk : chunks_)
            chunk.bytes = std::make_unique_for_overwrite<char[]>(kChunkBytes);
        takenCompressed_ = compressedRead_;
        thread_ = std::thread(&GzipInput::inflateAhead, this, fd);
        ahead_ = true;
        return true;
    } catch (const std::exception&) {
        // No memory or no thread for it: the file is inflated here, as on one core.
        for (Chunk& chunk : chunks_)
            chunk.bytes.reset();
        return false;
    }
}

long GzipInput::readAhead(char* into, size_t room) {
    size_t copied = 0;
    while (copied < room) {
        if (!holding_) {
            if (ended_ != 1) {
                break;
            }
            std::unique_lock<std::mutex> hold(mutex_);
            if (filled_ == 0 && copied > 0) {
                break;  // what there is now, rather than a wait for more
            }
            changed_.wait(hold, [&] { return filled_ > 0; });
            holding_ = true;
            readFrom_ = 0;
        }
        const Chunk& chunk = chunks_[reading_];
        const size_t count = std::min(room - copied, chunk.size - readFrom_);
        std::memcpy(into + copied, chunk.bytes.get() + readFrom_, count);
        copied += count;
        readFrom_ += count;
        if (readFrom_ < chunk.size) {
            break;
        }
        // Used up: the end or failure after its bytes counts from now on, and the thread may
        // fill it again.
        takenCompressed_ = chunk.compressedRead;
        ended_ = chunk.last;
        holding_ = false;
        reading_ = (reading_ + 1) % kChunks;
        {
            const std::lock_guard<std::mutex> hold(mutex_);
            --filled_;
        }
        changed_.notify_all();
    }
    if (copied > 0 || room == 0) {
        return static_cast<long>(copied);
    }
    if (ended_ < 0 && error_.empty()) {
        error_ = "cannot read file \"" + path_ + "\": no memory to inflate its gzip data";
    }
    return ended_ < 0 ? -1 : 0;
}

void GzipInput::inflateAhead(int fd) noexcept {
    size_t filling = 0;
    for (;;) {
        {
            std::unique_lock<std::mutex> hold(mutex_);
            changed_.wait(hold, [&] { return stop_ || filled_ < kChunks; });
            if (stop_) {
                return;
            }
        }
        Chunk& chunk = chunks_[filling];
        chunk.size = 0;
        chunk.last = 1;
        try {
            while (chunk.size < kChunkBytes) {
                const long got =
                    inflateSome(fd, chunk.bytes.get() + chunk.size, kChunkBytes - chunk.size);
                if (got <= 0) {
                    chunk.last = got;
                    break;
                }
                chunk.size += static_cast<size_t>(got);
            }
        } catch (...) {
            chunk.last = -1;  // no memory for a message: the reader says what it can
        }
        chunk.compressedRead = compressedRead_;
        {
            const std::lock_guard<std::mutex> hold(mutex_);
            ++filled_;
        }
        changed_.notify_all();
        if (chunk.last != 1) {
            return;
        }
        filling = (filling + 1) % kChunks;
    }
}

long GzipInput::inflateSome(int fd, char* into, size_t room) {
    if (!error_.empty()) {
        return -1;
    }
    stream_.next_out = reinterpret_cast<unsigned char*>(into);
    stream_.avail_out = static_cast<uInt>(std::min<size_t>(room, 1u << 30));
    const uInt wanted = stream_.avail_out;
    while (stream_.avail_out == wanted && !finished_) {
        if (stream_.avail_in == 0 && !inputEnded_ && !readMore(fd)) {
            return -1;
        }
        if (stream_.avail_in == 0 && inputEnded_) {
            return fail("file \"" + path_ +
                        "\" is cut short: its gzip data ends before the end of the stream");
        }
        const int result = inflate(&stream_, Z_NO_FLUSH);
        if (result == Z_STREAM_END) {
            // Another member may follow (files joined with cat); anything else after the end
            // of the stream is damage. Its two magic bytes may lie on both sides of a read.
            while (stream_.avail_in < 2 && !inputEnded_) {
                if (!readMore(fd)) {
                    return -1;
                }
            }
            if (stream_.avail_in == 0) {
                finished_ = true;
            } else if (stream_.avail_in >= 2 && stream_.next_in[0] == 0x1Fu &&
                       stream_.next_in[1] == 0x8Bu) {
                inflateReset(&stream_);
            } else {
                return fail("file \"" + path_ +
                            "\" is damaged: bytes that are not gzip data follow its gzip stream");
            }
        } else if (result != Z_OK && result != Z_BUF_ERROR) {
            return fail("file \"" + path_ + "\" is damaged: its gzip data cannot be inflated (" +
                        (stream_.msg != nullptr ? stream_.msg : "error " + std::to_string(result)) +
                        ")");
        }
    }
    return static_cast<long>(wanted - stream_.avail_out);
}

}  // namespace mvb::txt
