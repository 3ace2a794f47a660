#include "txtfile_codec.h"

#include <algorithm>
#include <cerrno>
#include <string_view>

#include "txtfile_direct_codec.h"
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

Converter::Converter() = default;

Converter::~Converter() {
    if (handle_ != reinterpret_cast<iconv_t>(-1)) {
        iconv_close(handle_);
    }
}

bool Converter::open(const char* to, const char* from) {
    handle_ = iconv_open(to, from);
    if (handle_ == reinterpret_cast<iconv_t>(-1)) {
        return false;
    }
    direct_ = makeDirectCodec(to, from);
    checksOneWay_ = direct_ == nullptr && std::string_view(from) == "UTF-8";
    target_ = to;
    return true;
}

namespace {

constexpr uint32_t kBasicPlane = 0x10000;

/// The characters of the basic plane that `encoding` takes and gives back as others: each
/// written, then read back.
std::unique_ptr<uint64_t[]> oneWayCharacters(const char* encoding) {
    auto bits = std::make_unique<uint64_t[]>(kBasicPlane / 64);  // all clear
    const iconv_t to = iconv_open(encoding, "UTF-32LE");
    const iconv_t back = iconv_open("UTF-32LE", encoding);
    if (to != reinterpret_cast<iconv_t>(-1) && back != reinterpret_cast<iconv_t>(-1)) {
        for (uint32_t code = 0x80; code < kBasicPlane; ++code) {
            if (code >= 0xD800 && code < 0xE000) continue;  // surrogates are no characters
            char encoded[16];
            char* in = reinterpret_cast<char*>(&code);
            size_t inLeft = sizeof code;
            char* out = encoded;
            size_t outLeft = sizeof encoded;
            iconv(to, nullptr, nullptr, nullptr, nullptr);
            if (iconv(to, &in, &inLeft, &out, &outLeft) == static_cast<size_t>(-1) ||
                iconv(to, nullptr, nullptr, &out, &outLeft) == static_cast<size_t>(-1)) {
                continue;  // not taken at all: the converter refuses it itself
            }
            uint32_t decoded[4] = {};
            char* encodedPos = encoded;
            size_t encodedLeft = static_cast<size_t>(out - encoded);
            char* decodedPos = reinterpret_cast<char*>(decoded);
            size_t decodedLeft = sizeof decoded;
            iconv(back, nullptr, nullptr, nullptr, nullptr);
            // Flushed too: a reader that combines a character with the marks after it holds
            // the last one back.
            const bool read =
                iconv(back, &encodedPos, &encodedLeft, &decodedPos, &decodedLeft) !=
                    static_cast<size_t>(-1) &&
                iconv(back, nullptr, nullptr, &decodedPos, &decodedLeft) != static_cast<size_t>(-1);
            const bool same =
                read && decodedLeft == sizeof decoded - sizeof code && decoded[0] == code;
            if (!same) bits[code / 64] |= uint64_t{1} << (code % 64);
        }
    }
    if (to != reinterpret_cast<iconv_t>(-1)) iconv_close(to);
    if (back != reinterpret_cast<iconv_t>(-1)) iconv_close(back);
    return bits;
}

}  // namespace

size_t Converter::firstOneWay(const char* input, size_t size) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(input);
    size_t at = 0;
    while (at < size) {
        if (bytes[at] < 0x80u) {
            ++at;
            continue;
        }
        if (oneWay_ == nullptr) oneWay_ = oneWayCharacters(target_.c_str());
        int code = 0;
        const int length = utf8::decode(bytes + at, size - at, &code);
        if (length == 0) return size;  // the converter finds the bad sequence itself
        const auto point = static_cast<uint32_t>(code);
        if (point < kBasicPlane && (oneWay_[point / 64] >> (point % 64) & 1u) != 0) return at;
        at += static_cast<size_t>(length);
    }
    return size;
}

void Converter::reset() noexcept {
    if (direct_ == nullptr) {
        iconv(handle_, nullptr, nullptr, nullptr, nullptr);
    }
}

ConvertResult Converter::convertInto(const char* input, size_t size, char* out, size_t room,
                                     size_t* written) {
    if (direct_ != nullptr) {
        return direct_->convertInto(input, size, out, room, written);
    }
    // A character that would come back as another stops the conversion as an invalid one.
    const size_t taken = checksOneWay_ ? firstOneWay(input, size) : size;
    char* in = const_cast<char*>(input);
    size_t inLeft = taken;
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
    } else if (taken < size && inLeft == 0) {
        result.status = ConvertResult::Invalid;
    }
    result.consumed = taken - inLeft;
    *written = room - outLeft;
    return result;
}

ConvertResult Converter::convert(const char* input, size_t size, ByteBuffer& out) {
    reset();
    ConvertResult total;
    for (;;) {
        // Three output bytes per input byte hold any character of the table's encodings.
        const size_t room = roomFor(size - total.consumed);
        out.reserveMore(room);
        size_t written = 0;
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
    if (direct_ != nullptr) {
        return 0;
    }
    char* outPos = out;
    size_t outLeft = room;
    iconv(handle_, nullptr, nullptr, &outPos, &outLeft);
    return room - outLeft;
}

ConvertResult::Status utf8Fault(const unsigned char* at, size_t avail) noexcept {
    // The length of the sequence each lead byte starts, as the system's converter counts it
    // (its old forms of five and six bytes too); it checks no more than that the bytes after
    // the lead continue a sequence.
    const unsigned lead = at[0];
    const size_t length = lead < 0xC2   ? 0
                          : lead < 0xE0 ? 2
                          : lead < 0xF0 ? 3
                          : lead < 0xF8 ? 4
                          : lead < 0xFC ? 5
                          : lead < 0xFE ? 6
                                        : 0;
    if (length == 0 || avail >= length) {
        return ConvertResult::Invalid;
    }
    for (size_t k = 1; k < avail; ++k) {
        if (!utf8::isContinuation(at[k])) {
            return ConvertResult::Invalid;
        }
    }
    return ConvertResult::Incomplete;
}

std::unique_ptr<DirectCodec> makeDirectCodec(const char* to, const char* from) {
    const std::string_view target(to);
    const std::string_view source(from);
    if ((target == "UTF-8") == (source == "UTF-8")) {
        return nullptr;
    }
    const bool decoding = target == "UTF-8";
    const char* const name = decoding ? from : to;
    const std::string_view other(name);
    if (other == "UTF-16LE" || other == "UTF-16BE") {
        return makeUtf16Codec(other == "UTF-16BE", decoding);
    }
    return makeSingleByteCodec(name, decoding);
}

std::string systemReason(int error) {
    char buffer[256];
    return strerror_r(error, buffer, sizeof buffer);
}

}  // namespace mvb::txt
