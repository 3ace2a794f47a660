#include "txtfile_codec.h"

#include <algorithm>
#include <cerrno>

#include "utf8_internal.h"

namespace mvb::txt {

void ByteBuffer::reserveMore(size_t extra) {
    const size_t needed = size_ + extra + 1;
    if (needed <= capacity_) [[likely]] {
        return;
    }
    const size_t capacity = std::max<size_t>({needed, capacity_ * 2, 256});
    auto bigger = std::make_unique_for_overwrite<char[]>(capacity);
    if (size_ > 0) {
        std::memcpy(bigger.get(), data_.get(), size_);
    }
    data_ = std::move(bigger);
    capacity_ = capacity;
}

Converter::~Converter() {
    if (handle_ != reinterpret_cast<iconv_t>(-1)) {
        iconv_close(handle_);
    }
}

bool Converter::open(const char* to, const char* from) noexcept {
    handle_ = iconv_open(to, from);
    return handle_ != reinterpret_cast<iconv_t>(-1);
}

void Converter::reset() noexcept {
    iconv(handle_, nullptr, nullptr, nullptr, nullptr);
}

ConvertResult Converter::convertInto(const char* input, size_t size, char* out, size_t room,
                                     size_t* written) {
    char* in = const_cast<char*>(input);
    size_t inLeft = size;
    char* outPos = out;
    size_t outLeft = room;
    ConvertResult result;
    if (iconv(handle_, &in, &inLeft, &outPos, &outLeft) == static_cast<size_t>(-1)) {
        if (errno == EILSEQ) {
            result.status = ConvertResult::Invalid;
        } else if (errno == EINVAL) {
            result.status = ConvertResult::Incomplete;
        }
        // E2BIG: the caller sees fewer bytes taken than given and makes room.
    }
    result.consumed = size - inLeft;
    *written = room - outLeft;
    return result;
}

ConvertResult Converter::convert(const char* input, size_t size, ByteBuffer& out) {
    reset();
    ConvertResult total;
    for (;;) {
        // Three output bytes per input byte hold any character of the table's encodings.
        out.reserveMore((size - total.consumed) * 3 + 16);
        size_t written = 0;
        const size_t room = (size - total.consumed) * 3 + 16;
        ConvertResult step = convertInto(input + total.consumed, size - total.consumed,
                                         out.data() + out.size(), room, &written);
        out.grow(written);
        total.consumed += step.consumed;
        if (step.status != ConvertResult::Done) {
            total.status = step.status;
            return total;
        }
        if (total.consumed == size) {
            break;
        }
    }
    // Encodings that combine a character with the marks after it hold the last one back.
    out.reserveMore(16);
    out.grow(finish(out.data() + out.size(), 16));
    return total;
}

size_t Converter::finish(char* out, size_t room) noexcept {
    char* outPos = out;
    size_t outLeft = room;
    iconv(handle_, nullptr, nullptr, &outPos, &outLeft);
    return room - outLeft;
}

std::string systemReason(int error) {
    char buffer[256];
    return strerror_r(error, buffer, sizeof buffer);
}

}  // namespace mvb::txt
