#include "txtfile_gzip_output.h"

#include <algorithm>
#include <cstring>
#include <exception>

#include "mvb/cores.h"

namespace mvb::txt {
namespace {

/// zlib's default level: most of the best ratio for a fraction of its time.
constexpr int kLevel = 6;
/// Window bits of a raw deflate stream with zlib's largest window: the member's header and
/// trailer are written here.
constexpr int kRawWindow = -15;
/// The most threads that deflate one file.
constexpr unsigned kMostThreads = 8;

bool initDeflater(z_stream& stream) noexcept {
    stream = z_stream{};
    return deflateInit2(&stream, kLevel, Z_DEFLATED, kRawWindow, 8, Z_DEFAULT_STRATEGY) == Z_OK;
}

void putLittleEndian(unsigned char* at, uint32_t value) noexcept {
    for (int i = 0; i < 4; ++i)
        at[i] = static_cast<unsigned char>(value >> (8 * i));
}

}  // namespace

bool hasGzipName(const std::string& path) noexcept {
    if (path.size() < 4) return false;
    const std::string_view end = std::string_view(path).substr(path.size() - 3);
    return end[0] == '.' && (end[1] == 'g' || end[1] == 'G') && (end[2] == 'z' || end[2] == 'Z');
}

GzipOutput::GzipOutput(std::string path, Sink sink, bool emptyFile)
    : path_(std::move(path)), sink_(std::move(sink)), memberOpen_(emptyFile) {}

GzipOutput::~GzipOutput() {
    stopThreads();
    if (ownOpen_) deflateEnd(&own_);
}

void GzipOutput::stopThreads() noexcept {
    if (!threads_.empty()) {
        {
            const std::lock_guard<std::mutex> hold(mutex_);
            stop_ = true;
        }
        changed_.notify_all();
        for (std::thread& thread : threads_)
            thread.join();
        threads_.clear();
    }
    for (size_t i = 0; i < streamCount_; ++i)
        deflateEnd(&streams_[i]);
    streamCount_ = 0;
}

bool GzipOutput::fail(const std::string& what) {
    error_ = "cannot write file \"" + path_ + "\": " + what;
    return false;
}

bool GzipOutput::start() {
    if (!initDeflater(own_)) return fail("no memory to compress it as gzip");
    ownOpen_ = true;
    blocks_.resize(1);
    blocks_[0].bytes = std::make_unique_for_overwrite<unsigned char[]>(kWindowBytes + kBlockBytes);
    started_ = true;
    return true;
}

bool GzipOutput::write(const char* bytes, size_t size) {
    if (broken_) return false;
    memberOpen_ = memberOpen_ || size > 0;
    while (size > 0) {
        Block& block = blocks_[filling_];
        const size_t count = std::min(size, kBlockBytes - block.size);
        std::memcpy(block.bytes.get() + block.window + block.size, bytes, count);
        block.size += count;
        bytes += count;
        size -= count;
        if (block.size == kBlockBytes && !submit(false)) {
            broken_ = true;
            return false;
        }
    }
    return true;
}

bool GzipOutput::finish() {
    if (broken_) return false;
    if (!memberOpen_ || !started_) return true;
    if (!submit(true)) {
        broken_ = true;
        return false;
    }
    memberOpen_ = false;
    return true;
}

bool GzipOutput::deflateBlock(z_stream& stream, Block& block) {
    if (deflateReset(&stream) != Z_OK ||
        (block.window > 0 && deflateSetDictionary(&stream, block.bytes.get(),
                                                  static_cast<uInt>(block.window)) != Z_OK)) {
        return false;
    }
    unsigned char* const text = block.bytes.get() + block.window;
    block.crc = crc32(0, text, static_cast<uInt>(block.size));
    // Room for the whole of it at once; the empty stored block that ends a block that does not
    // end the member takes a few bytes more.
    block.packed.resize(deflateBound(&stream, block.size) + 16);
    stream.next_in = text;
    stream.avail_in = static_cast<uInt>(block.size);
    stream.next_out = block.packed.data();
    stream.avail_out = static_cast<uInt>(block.packed.size());
    const int status = deflate(&stream, block.last ? Z_FINISH : Z_SYNC_FLUSH);
    if (block.last ? status != Z_STREAM_END : (status != Z_OK || stream.avail_out == 0)) {
        return false;
    }
    block.packed.resize(block.packed.size() - stream.avail_out);
    return true;
}

bool GzipOutput::submit(bool last) {
    ++memberBlocks_;
    // The threads start with a member's second block: a text of one is deflated here.
    if (threads_.empty() && !(last && memberBlocks_ == 1) && !threadsTried_) {
        threadsTried_ = true;
        startThreads();
    }
    Block& block = blocks_[filling_];
    block.last = last;
    size_t next = filling_;
    if (threads_.empty()) {
        // A member of one block, or no threads to be had: deflated here, in order.
        if (!deflateBlock(own_, block)) return fail("the gzip compressor failed");
        if (!sendBlock(block)) return false;
    } else {
        {
            const std::lock_guard<std::mutex> hold(mutex_);
            block.state = Block::State::Queued;
        }
        changed_.notify_all();
        ++handedOver_;
        next = (filling_ + 1) % blocks_.size();
        // Whatever is deflated goes on to the file now; the block to fill next is one that was
        // sent; and a member's end waits for all of it.
        while (handedOver_ > 0 && (last || handedOver_ == blocks_.size() || isDone(oldest_))) {
            if (!sendOldest()) return false;
        }
    }
    // The next block of the member has the last of this one's text as its window.
    Block& following = blocks_[next];
    const size_t window = last ? 0 : std::min(kWindowBytes, block.size);
    std::memmove(following.bytes.get(), block.bytes.get() + block.window + block.size - window,
                 window);
    following.window = window;
    following.size = 0;
    filling_ = next;
    return true;
}

bool GzipOutput::isDone(size_t index) {
    const std::lock_guard<std::mutex> hold(mutex_);
    return blocks_[index].state == Block::State::Done;
}

bool GzipOutput::sendOldest() {
    Block& block = blocks_[oldest_];
    {
        std::unique_lock<std::mutex> hold(mutex_);
        changed_.wait(hold, [&] { return block.state == Block::State::Done; });
    }
    const bool sent = block.failed ? fail("the gzip compressor failed") : sendBlock(block);
    {
        const std::lock_guard<std::mutex> hold(mutex_);
        block.state = Block::State::Free;
    }
    oldest_ = (oldest_ + 1) % blocks_.size();
    --handedOver_;
    return sent;
}

bool GzipOutput::sendBlock(Block& block) {
    if (!headerSent_) {
        if (!sink_(reinterpret_cast<const char*>(kGzipHeader), sizeof kGzipHeader)) return false;
        headerSent_ = true;
    }
    crc_ = crc32_combine(crc_, block.crc, static_cast<z_off_t>(block.size));
    size_ += block.size;
    if (!block.packed.empty() &&
        !sink_(reinterpret_cast<const char*>(block.packed.data()), block.packed.size())) {
        return false;
    }
    if (!block.last) return true;
    unsigned char trailer[8];
    putLittleEndian(trailer, static_cast<uint32_t>(crc_));
    putLittleEndian(trailer + 4, static_cast<uint32_t>(size_));  // the length modulo 2^32
    headerSent_ = false;
    crc_ = 0;
    size_ = 0;
    memberBlocks_ = 0;
    return sink_(reinterpret_cast<const char*>(trailer), sizeof trailer);
}

void GzipOutput::startThreads() noexcept {
    const unsigned cores = mvbUsableCores();
    if (cores <= 1) return;
    const size_t count = std::min(cores, kMostThreads);
    try {
        streams_ = std::make_unique<z_stream[]>(count);
        for (; streamCount_ < count; ++streamCount_) {
            if (!initDeflater(streams_[streamCount_])) {
                stopThreads();
                return;
            }
        }
        // Each thread deflates one block, one is filled and one waits to be sent.
        const size_t first = blocks_.size();
        blocks_.resize(count + 2);
        for (size_t i = first; i < blocks_.size(); ++i)
            blocks_[i].bytes =
                std::make_unique_for_overwrite<unsigned char[]>(kWindowBytes + kBlockBytes);
        for (size_t i = 0; i < count; ++i)
            threads_.emplace_back(&GzipOutput::work, this, std::ref(streams_[i]));
    } catch (const std::exception&) {
        // No memory or no thread for them: the blocks are deflated here, as on one core.
        stopThreads();
        blocks_.resize(1);
    }
}

void GzipOutput::work(z_stream& stream) noexcept {
    for (;;) {
        Block* block = nullptr;
        {
            std::unique_lock<std::mutex> hold(mutex_);
            changed_.wait(
                hold, [&] { return stop_ || blocks_[nextToTake_].state == Block::State::Queued; });
            if (stop_) return;
            block = &blocks_[nextToTake_];
            block->state = Block::State::Working;
            nextToTake_ = (nextToTake_ + 1) % blocks_.size();
        }
        bool deflated = false;
        try {
            deflated = deflateBlock(stream, *block);
        } catch (...) {
            // No memory for its data: the block fails, and the writer says so.
        }
        {
            const std::lock_guard<std::mutex> hold(mutex_);
            block->failed = !deflated;
            block->state = Block::State::Done;
        }
        changed_.notify_all();
    }
}

}  // namespace mvb::txt
