#pragma once

// Byte buffers, the converter between a file's encoding and UTF-8, and the UTF-8 checks that
// the text file's reader and writer share. Private to the runtime library.

#include <iconv.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "utf8_internal.h"

namespace mvb::txt {

class DirectCodec;

/// A growable byte array that keeps its storage between uses (no zero-filling on growth).
class ByteBuffer {
  public:
    char* data() noexcept { return data_.get(); }
    const char* data() const noexcept { return data_.get(); }
    size_t size() const noexcept { return size_; }
    void clear() noexcept { size_ = 0; }
    /// Makes room for `extra` more bytes after size(), plus one for a terminating NUL.
    void reserveMore(size_t extra);
    void append(const char* bytes, size_t count) {
        reserveMore(count);
        std::memcpy(data_.get() + size_, bytes, count);
        size_ += count;
    }
    /// Marks `count` bytes written directly after size() as used.
    void grow(size_t count) noexcept { size_ += count; }
    /// Puts a NUL after the used bytes (room for it is always reserved).
    const char* terminated() {
        reserveMore(0);
        data_[size_] = '\0';
        return data_.get();
    }

  private:
    std::unique_ptr<char[]> data_;
    size_t size_ = 0;
    size_t capacity_ = 0;
};

/// Outcome of one conversion.
struct ConvertResult {
    enum Status { Done, Incomplete, Invalid } status = Done;
    size_t consumed = 0;  ///< input bytes converted (where an incomplete or invalid one starts)
};

/// One direction of character-set conversion: through the C library's converter, or, between
/// UTF-8 and an encoding of one code point per character, directly (see DirectCodec).
class Converter {
  public:
    Converter();
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;
    ~Converter();

    /// Opens the conversion from `from` to `to`. False when the system cannot convert them.
    [[nodiscard]] bool open(const char* to, const char* from);
    /// Converts all of `input` and appends the result to `out`, starting from the initial
    /// shift state and flushing it at the end.
    ConvertResult convert(const char* input, size_t size, ByteBuffer& out);
    /// The room that convert() makes in its output for `bytes` bytes of input, for each step
    /// and for the flush at the end. Where the encoding writes at most three bytes for one,
    /// this much room made before converting the parts of a text of `bytes` bytes one after
    /// the other holds them all: the output never moves meanwhile.
    static constexpr size_t roomFor(size_t bytes) noexcept { return bytes * 3 + 16; }
    /// Converts into `out` (`room` bytes, `*written` of them used). Stops early when the
    /// output is full (status Done, fewer bytes consumed than given) or at an incomplete or
    /// invalid input character.
    ConvertResult convertInto(const char* input, size_t size, char* out, size_t room,
                              size_t* written);
    /// Writes what the shift state still holds into `out` (`room` bytes, 16 are enough) and
    /// returns the byte count.
    size_t finish(char* out, size_t room) noexcept;
    void reset() noexcept;

  private:
    /// The offset in `input` of the first character that the encoding written takes but gives
    /// back as another (932 writes U+00A5 as the backslash's byte), or `size`.
    size_t firstOneWay(const char* input, size_t size);

    iconv_t handle_ = reinterpret_cast<iconv_t>(-1);
    std::unique_ptr<DirectCodec> direct_;
    /// Writing from UTF-8 through the C library's converter: such characters are refused as
    /// characters the encoding has not, since the file could not give them back.
    bool checksOneWay_ = false;
    std::string target_;
    /// A bit for each character of the basic plane that does not come back as itself, made
    /// when the first character beyond ASCII is written.
    std::unique_ptr<uint64_t[]> oneWay_;
};

using mvb::utf8::validPrefix;

/// Byte length of the UTF-8 character that starts with `lead` (1 for bytes that cannot start
/// one, so that a scan always moves on).
inline int utf8SequenceLength(unsigned char lead) noexcept {
    if (lead < 0xC0u) return 1;
    if (lead < 0xE0u) return 2;
    if (lead < 0xF0u) return 3;
    return 4;
}

/// The system's text for `error` (an errno value).
std::string systemReason(int error);

inline constexpr char kReplacementChar[] = "\xEF\xBF\xBD";

}  // namespace mvb::txt
