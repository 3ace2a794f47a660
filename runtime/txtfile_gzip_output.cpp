#include "txtfile_gzip_output.h"

#include <algorithm>
#include <limits>

namespace mvb::txt {
namespace {

constexpr size_t kOutputBytes = size_t{256} << 10;
/// Window bits that make the deflater write a gzip header and trailer.
constexpr int kGzipWindow = 15 + 16;
/// zlib's default level: most of the best ratio for a fraction of its time.
constexpr int kLevel = 6;

}  // namespace

bool hasGzipName(const std::string& path) noexcept {
    if (path.size() < 4) return false;
    const std::string_view end = std::string_view(path).substr(path.size() - 3);
    return end[0] == '.' && (end[1] == 'g' || end[1] == 'G') && (end[2] == 'z' || end[2] == 'Z');
}

GzipOutput::GzipOutput(std::string path, Sink sink, bool emptyFile)
    : path_(std::move(path)), sink_(std::move(sink)), memberOpen_(emptyFile) {}

GzipOutput::~GzipOutput() {
    if (open_) {
        deflateEnd(&stream_);
    }
}

bool GzipOutput::start() {
    if (deflateInit2(&stream_, kLevel, Z_DEFLATED, kGzipWindow, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
        error_ = "cannot write file \"" + path_ + "\": no memory to compress it as gzip";
        return false;
    }
    open_ = true;
    output_ = std::make_unique_for_overwrite<unsigned char[]>(kOutputBytes);
    return true;
}

bool GzipOutput::run(int flush) {
    do {
        stream_.next_out = output_.get();
        stream_.avail_out = static_cast<uInt>(kOutputBytes);
        const int status = deflate(&stream_, flush);
        if (status == Z_STREAM_ERROR ||
            (status == Z_BUF_ERROR && stream_.avail_out == kOutputBytes)) {
            error_ = "cannot write file \"" + path_ + "\": the gzip compressor failed";
            return false;
        }
        const size_t produced = kOutputBytes - stream_.avail_out;
        if (produced > 0 && !sink_(reinterpret_cast<const char*>(output_.get()), produced)) {
            return false;
        }
        if (flush == Z_FINISH && status == Z_STREAM_END) return true;
    } while (stream_.avail_out == 0 || stream_.avail_in > 0 || flush == Z_FINISH);
    return true;
}

bool GzipOutput::write(const char* bytes, size_t size) {
    memberOpen_ = memberOpen_ || size > 0;
    while (size > 0) {
        // zlib counts its input in 32 bits.
        const size_t part = std::min<size_t>(size, std::numeric_limits<uInt>::max());
        stream_.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes));
        stream_.avail_in = static_cast<uInt>(part);
        if (!run(Z_NO_FLUSH)) return false;
        bytes += part;
        size -= part;
    }
    return true;
}

bool GzipOutput::finish() {
    if (!memberOpen_ || !open_) return true;
    stream_.next_in = nullptr;
    stream_.avail_in = 0;
    if (!run(Z_FINISH)) return false;
    memberOpen_ = false;
    return deflateReset(&stream_) == Z_OK;
}

}  // namespace mvb::txt
