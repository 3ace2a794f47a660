#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>

/// The bytes of one output line (or a few lines of markup), built with plain stores and reused
/// from row to row: it grows only when a line is longer than any before it.
class LineBuffer {
  public:
    void clear() noexcept { size_ = 0; }
    const char* data() const noexcept { return data_.get(); }
    size_t size() const noexcept { return size_; }

    /// Makes room for `extra` more bytes and returns where they go; commit() then says how
    /// many were written. The pointer stays valid until the next reserve() or append().
    char* reserve(size_t extra) {
        if (capacity_ - size_ < extra) [[unlikely]]
            grow(size_ + extra);
        return data_.get() + size_;
    }
    /// Ends a reserve(): `end` is one past the last byte written.
    void commit(char* end) noexcept { size_ = static_cast<size_t>(end - data_.get()); }

    void append(std::string_view text) {
        char* at = reserve(text.size());
        if (!text.empty()) std::memcpy(at, text.data(), text.size());
        size_ += text.size();
    }

  private:
    [[gnu::noinline]] void grow(size_t needed) {
        size_t capacity = capacity_ < 256 ? 256 : capacity_ * 2;
        while (capacity < needed)
            capacity *= 2;
        auto bigger = std::make_unique<char[]>(capacity);
        if (size_ != 0) std::memcpy(bigger.get(), data_.get(), size_);
        data_ = std::move(bigger);
        capacity_ = capacity;
    }

    std::unique_ptr<char[]> data_;
    size_t size_ = 0;
    size_t capacity_ = 0;
};

/// Copies `text` to `at` and returns the end of the copy.
inline char* putBytes(char* at, std::string_view text) noexcept {
    if (!text.empty()) std::memcpy(at, text.data(), text.size());
    return at + text.size();
}

/// Eight bytes at `at` as one word (in memory order), for looking at a text eight bytes at a
/// time.
inline uint64_t loadWord(const char* at) noexcept {
    uint64_t word;
    std::memcpy(&word, at, sizeof word);
    return word;
}

/// Non-zero when one of the eight bytes of `word` equals `byte`: such a byte is a zero byte of
/// word ^ byte-in-every-place, and only a zero byte turns its high bit on below.
inline uint64_t wordHasByte(uint64_t word, char byte) noexcept {
    constexpr uint64_t kOnes = 0x0101010101010101ull;
    constexpr uint64_t kHighs = 0x8080808080808080ull;
    const uint64_t x = word ^ (kOnes * static_cast<unsigned char>(byte));
    return (x - kOnes) & ~x & kHighs;
}
