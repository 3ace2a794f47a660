// Single-byte code pages to and from UTF-8, by tables made from the system's converter when the
// file is opened.

#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

#include "mvb/byte_scan.h"
#include "txtfile_codec.h"
#include "txtfile_direct_codec.h"
#include "utf8_internal.h"

namespace mvb::txt {
namespace {

/// The code pages whose characters are each one byte and one code point. In code pages 1255
/// and 1258 too each byte is read as a character of its own, accents included: the system's
/// converter would join a letter and the accents after it into one character, so that text
/// read and written again would not keep its bytes (kReadByTableOnly).
constexpr std::string_view kSingleByte[] = {
    "ASCII",       "CP437",       "CP850",      "CP866",      "CP1250",      "CP1251",
    "CP1252",      "CP1253",      "CP1254",     "CP1255",     "CP1256",      "CP1257",
    "CP1258",      "ISO-8859-1",  "ISO-8859-2", "ISO-8859-3", "ISO-8859-4",  "ISO-8859-5",
    "ISO-8859-6",  "ISO-8859-7",  "ISO-8859-8", "ISO-8859-9", "ISO-8859-10", "ISO-8859-11",
    "ISO-8859-13", "ISO-8859-14", "ISO-8859-15"};

constexpr int kNoCode = -1;

/// The code point of each byte of `name` (kNoCode where the code page has none), as the
/// system's converter reads the byte on its own. False when the system does not know the code
/// page, or reads some byte as more than one code point.
bool readTable(const char* name, int (&codes)[256]) {
    const iconv_t handle = iconv_open("UTF-32LE", name);
    if (handle == reinterpret_cast<iconv_t>(-1)) {
        return false;
    }
    bool sound = true;
    for (int byte = 0; byte < 256 && sound; ++byte) {
        iconv(handle, nullptr, nullptr, nullptr, nullptr);
        char in = static_cast<char>(byte);
        unsigned char out[8];
        char* inPos = &in;
        size_t inLeft = 1;
        char* outPos = reinterpret_cast<char*>(out);
        size_t outLeft = sizeof out;
        codes[byte] = kNoCode;
        if (iconv(handle, &inPos, &inLeft, &outPos, &outLeft) == static_cast<size_t>(-1)) {
            sound = errno == EILSEQ;
        } else {
            // A code page that joins a letter with the accents after it holds the letter back
            // to see what follows: the flush gives it.
            iconv(handle, nullptr, nullptr, &outPos, &outLeft);
            sound = outLeft == sizeof out - 4;
            codes[byte] = out[0] | (out[1] << 8) | (out[2] << 16) | (out[3] << 24);
        }
    }
    iconv_close(handle);
    return sound;
}

/// The byte `name` writes for each code point in `codes` (-1 where it writes none), as the
/// system's converter writes it: where two bytes read as one code point, the converter says
/// which of them the code point is written as.
bool writeTable(const char* name, const std::vector<int>& codes, std::vector<int>& bytes) {
    const iconv_t handle = iconv_open(name, "UTF-32LE");
    if (handle == reinterpret_cast<iconv_t>(-1)) {
        return false;
    }
    bytes.assign(codes.size(), -1);
    for (size_t k = 0; k < codes.size(); ++k) {
        iconv(handle, nullptr, nullptr, nullptr, nullptr);
        const auto c = static_cast<uint32_t>(codes[k]);
        char in[4] = {static_cast<char>(c), static_cast<char>(c >> 8), static_cast<char>(c >> 16),
                      static_cast<char>(c >> 24)};
        char out[8];
        char* inPos = in;
        size_t inLeft = sizeof in;
        char* outPos = out;
        size_t outLeft = sizeof out;
        if (iconv(handle, &inPos, &inLeft, &outPos, &outLeft) != static_cast<size_t>(-1) &&
            iconv(handle, nullptr, nullptr, &outPos, &outLeft) != static_cast<size_t>(-1) &&
            outLeft == sizeof out - 1) {
            bytes[k] = static_cast<unsigned char>(out[0]);
        }
    }
    iconv_close(handle);
    return true;
}

/// Copies the run of ASCII that starts `input` (`size` bytes) to `out` (`room` bytes), eight
/// bytes at a time while eight remain on both sides; returns the bytes copied. The code pages
/// whose first half is ASCII write an ASCII text as it is, either way.
size_t copyAscii(const char* input, size_t size, char* out, size_t room) noexcept {
    size_t done = 0;
    while (size - done >= 8 && room - done >= 8 &&
           (mvb::scan::load(input + done) & mvb::scan::kHighs) == 0) {
        std::memcpy(out + done, input + done, 8);
        done += 8;
    }
    return done;
}

/// The loop of both directions: a run of ASCII is copied as it is where the code page's first
/// half is ASCII, and each other character goes to `one`, which converts the character at
/// `at` into `out` after `*used` bytes and returns the input bytes it took; 0 stops, for want
/// of room or with `result` saying why.
template <typename One>
ConvertResult convertEach(const char* input, size_t size, char* out, size_t room, size_t* written,
                          bool asciiSame, One one) noexcept {
    size_t at = 0;
    size_t used = 0;
    ConvertResult result;
    while (at < size) {
        if (asciiSame) {
            const size_t run = copyAscii(input + at, size - at, out + used, room - used);
            at += run;
            used += run;
            if (at == size) {
                break;
            }
        }
        const size_t took = one(at, &used, &result);
        if (took == 0) {
            break;
        }
        at += took;
    }
    result.consumed = at;
    *written = used;
    return result;
}

/// A code page to UTF-8: each byte's UTF-8 bytes from a table.
class SingleByteDecoder final : public DirectCodec {
  public:
    explicit SingleByteDecoder(const int (&codes)[256]) noexcept {
        asciiSame_ = true;
        for (int byte = 0; byte < 256; ++byte) {
            char bytes[4] = {};
            const int length = codes[byte] == kNoCode ? 0 : utf8::encode(codes[byte], bytes);
            std::memcpy(&utf8_[byte], bytes, sizeof bytes);
            length_[byte] = static_cast<unsigned char>(length);
            if (byte < 0x80 && codes[byte] != byte) {
                asciiSame_ = false;
            }
        }
    }

    ConvertResult convertInto(const char* input, size_t size, char* out, size_t room,
                              size_t* written) const noexcept override {
        return convertEach(input, size, out, room, written, asciiSame_,
                           [&](size_t at, size_t* used, ConvertResult* result) noexcept -> size_t {
                               const auto byte = static_cast<unsigned char>(input[at]);
                               const size_t length = length_[byte];
                               if (length == 0) {
                                   result->status = ConvertResult::Invalid;
                                   return 0;
                               }
                               if (room - *used < length) return 0;
                               // Four bytes go as one store where they fit.
                               std::memcpy(out + *used, &utf8_[byte],
                                           room - *used >= 4 ? 4 : length);
                               *used += length;
                               return 1;
                           });
    }

  private:
    uint32_t utf8_[256];
    unsigned char length_[256];
    bool asciiSame_;
};

/// UTF-8 to a code page: code points below 256 by a table, the others by a search in a sorted
/// list of those the code page has.
class SingleByteEncoder final : public DirectCodec {
  public:
    SingleByteEncoder(const std::vector<int>& codes, const std::vector<int>& bytes) {
        std::fill(std::begin(low_), std::end(low_), static_cast<int16_t>(-1));
        for (size_t k = 0; k < codes.size(); ++k) {
            if (bytes[k] < 0) {
                continue;
            }
            if (codes[k] < 256) {
                low_[codes[k]] = static_cast<int16_t>(bytes[k]);
            } else {
                high_.push_back({static_cast<uint32_t>(codes[k]), static_cast<uint8_t>(bytes[k])});
            }
        }
        std::sort(high_.begin(), high_.end(),
                  [](const Entry& a, const Entry& b) { return a.code < b.code; });
        asciiSame_ = true;
        for (int code = 0; code < 0x80; ++code) {
            if (low_[code] != code) {
                asciiSame_ = false;
            }
        }
    }

    ConvertResult convertInto(const char* input, size_t size, char* out, size_t room,
                              size_t* written) const noexcept override {
        const auto* in = reinterpret_cast<const unsigned char*>(input);
        return convertEach(input, size, out, room, written, asciiSame_,
                           [&](size_t at, size_t* used, ConvertResult* result) noexcept -> size_t {
                               int code = 0;
                               const int length = decodeUtf8(in + at, size - at, &code, result);
                               if (length == 0 || *used == room) return 0;
                               const int byte = byteOf(code);
                               if (byte < 0) {
                                   result->status = ConvertResult::Invalid;
                                   return 0;
                               }
                               out[(*used)++] = static_cast<char>(byte);
                               return static_cast<size_t>(length);
                           });
    }

  private:
    struct Entry {
        uint32_t code;
        uint8_t byte;
    };

    int byteOf(int code) const noexcept {
        if (code < 256) {
            return low_[code];
        }
        const auto it =
            std::lower_bound(high_.begin(), high_.end(), static_cast<uint32_t>(code),
                             [](const Entry& entry, uint32_t value) { return entry.code < value; });
        return it != high_.end() && it->code == static_cast<uint32_t>(code) ? it->byte : -1;
    }

    int16_t low_[256];
    std::vector<Entry> high_;
    bool asciiSame_;
};

/// Code pages read through the table but written through the system's converter, which
/// writes a joined character the page has no byte for as the letter and its accents (and never
/// joins what it is given).
constexpr std::string_view kReadByTableOnly[] = {"CP1255", "CP1258"};

bool isSingleByte(std::string_view name) noexcept {
    return std::find(std::begin(kSingleByte), std::end(kSingleByte), name) != std::end(kSingleByte);
}

}  // namespace

std::unique_ptr<DirectCodec> makeSingleByteCodec(const char* name, bool decoding) {
    if (!isSingleByte(name) ||
        (!decoding && std::find(std::begin(kReadByTableOnly), std::end(kReadByTableOnly),
                                std::string_view(name)) != std::end(kReadByTableOnly))) {
        return nullptr;
    }
    int codes[256];
    if (!readTable(name, codes)) {
        return nullptr;
    }
    if (decoding) {
        return std::make_unique<SingleByteDecoder>(codes);
    }
    std::vector<int> image;
    for (const int code : codes) {
        if (code != kNoCode && std::find(image.begin(), image.end(), code) == image.end()) {
            image.push_back(code);
        }
    }
    std::vector<int> bytes;
    if (!writeTable(name, image, bytes)) {
        return nullptr;
    }
    return std::make_unique<SingleByteEncoder>(image, bytes);
}

}  // namespace mvb::txt
