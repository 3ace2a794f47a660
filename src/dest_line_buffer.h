#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>

#include "mvb/byte_scan.h"
#include "mvb/text_bytes.h"

/// The bytes of one output line (or a few lines of markup), built with plain stores and reused
/// from row to row: it grows only when a line is longer than any before it.
///
/// A line may also be built straight in room that the output file lends (clearInto()), so that
/// it is not copied again to be written; a line that outgrows the room moves to the buffer's
/// own storage, and inRoom() tells which happened.
class LineBuffer {
  public:
    /// Starts a new line in the buffer's own storage.
    void clear() noexcept {
        data_ = own_.get();
        capacity_ = ownCapacity_;
        size_ = 0;
    }
    /// Starts a new line in `room`, `bytes` long, which the buffer does not own.
    void clearInto(char* room, size_t bytes) noexcept {
        data_ = room;
        capacity_ = bytes;
        size_ = 0;
    }
    /// True while the line is in the room given to clearInto().
    bool inRoom() const noexcept { return data_ != own_.get(); }
    /// Moves a line that is in the room to the own storage, so that the room may be reused.
    void leaveRoom() {
        if (inRoom()) moveToOwn(size_);
    }

    const char* data() const noexcept { return data_; }
    size_t size() const noexcept { return size_; }

    /// Makes room for `extra` more bytes and returns where they go; commit() then says how
    /// many were written. The pointer stays valid until the next reserve() or append().
    char* reserve(size_t extra) {
        if (capacity_ - size_ < extra) [[unlikely]]
            moveToOwn(size_ + extra);
        return data_ + size_;
    }
    /// The end of the room the line has now: reserve() makes sure of more.
    char* limit() const noexcept { return data_ + capacity_; }
    /// For a line built through a write position `at` (as reserve() gave it) up to `limit`
    /// (limit()): makes sure of room for `bytes` more after `at`, moving both when the line
    /// has to grow, and returns `at`.
    char* roomAt(char* at, size_t bytes, char*& limit) {
        if (static_cast<size_t>(limit - at) < bytes) [[unlikely]] {
            commit(at);
            at = reserve(bytes);
            limit = this->limit();
        }
        return at;
    }
    /// Ends a reserve(): `end` is one past the last byte written.
    void commit(char* end) noexcept { size_ = static_cast<size_t>(end - data_); }

    void append(std::string_view text) {
        char* at = reserve(text.size());
        if (!text.empty()) std::memcpy(at, text.data(), text.size());
        size_ += text.size();
    }

  private:
    /// Continues the line in the own storage, grown to hold `needed` bytes when it is smaller.
    [[gnu::noinline]] void moveToOwn(size_t needed) {
        if (ownCapacity_ < needed) {
            size_t capacity = ownCapacity_ < 256 ? 256 : ownCapacity_ * 2;
            while (capacity < needed)
                capacity *= 2;
            auto bigger = std::make_unique<char[]>(capacity);
            if (size_ != 0) std::memcpy(bigger.get(), data_, size_);
            own_ = std::move(bigger);
            ownCapacity_ = capacity;
        } else if (size_ != 0 && data_ != own_.get()) {
            std::memcpy(own_.get(), data_, size_);
        }
        data_ = own_.get();
        capacity_ = ownCapacity_;
    }

    std::unique_ptr<char[]> own_;
    size_t ownCapacity_ = 0;
    char* data_ = nullptr;  ///< own_ or the room lent by clearInto()
    size_t size_ = 0;
    size_t capacity_ = 0;
};

/// The room a destination asks its file to lend for building a line in place; a longer line
/// moves to the line's own storage. The file empties its buffer early by up to this much.
inline constexpr size_t kLineRoomBytes = size_t{64} << 10;

/// Copies `text` to `at` and returns the end of the copy.
inline char* putBytes(char* at, std::string_view text) noexcept {
    if (!text.empty()) std::memcpy(at, text.data(), text.size());
    return at + text.size();
}

/// Writes `count` blanks at `at`. Most padding is short: up to 16 blanks take a few stores
/// and no call.
inline void putBlanks(char* at, size_t count) noexcept {
    constexpr uint64_t kBlanks = 0x2020202020202020ull;
    if (count > 16) {
        std::memset(at, ' ', count);
    } else if (count >= 8) {
        std::memcpy(at, &kBlanks, sizeof kBlanks);
        std::memcpy(at + count - 8, &kBlanks, sizeof kBlanks);
    } else if (count >= 4) {
        const auto half = static_cast<uint32_t>(kBlanks);
        std::memcpy(at, &half, sizeof half);
        std::memcpy(at + count - 4, &half, sizeof half);
    } else if (count != 0) {
        at[0] = ' ';
        at[count / 2] = ' ';
        at[count - 1] = ' ';
    }
}

/// Copies `text` to `to` a word at a time and tells, in the result, whether it holds one of
/// `marks` (non-zero when it does) and, in `*high`, whether it holds a byte outside ASCII.
template <typename... Marks>
inline uint64_t copyFindingBytes(char* to, std::string_view text, uint64_t* high,
                                 Marks... marks) noexcept {
    const size_t size = text.size();
    uint64_t found = 0;
    uint64_t highs = 0;
    size_t i = 0;
    for (; i + 8 <= size; i += 8) {
        const uint64_t word = mvb::scan::load(text.data() + i);
        std::memcpy(to + i, &word, sizeof word);
        found |= (mvb::scan::wordHasByte(word, marks) | ...);
        highs |= word;
    }
    // The last bytes: one word that ends with the text (it overlaps bytes already copied,
    // which are looked at and written again to no harm), or a short text whole.
    if (i < size) {
        const uint64_t word = mvb::scan::lastBytesWord(text.data(), size);
        if (size >= 8) {
            std::memcpy(to + size - 8, &word, sizeof word);
        } else {
            mvb::copyShortBytes(to, text.data(), size);
        }
        found |= (mvb::scan::wordHasByte(word, marks) | ...);
        highs |= word;
    }
    *high = highs & mvb::scan::kHighs;
    return found;
}

/// Bytes that copyFindingPadded() may read from a text's start and write from `to`, whatever
/// the text's length.
inline constexpr size_t kPaddedCopyBytes = 16;

/// copyFindingBytes() for a text that can be read for kPaddedCopyBytes from its start, into
/// room for that many bytes at `to` (the bytes past the copy's end are then garbage). A text of
/// up to that length is one chunk, looked at and copied without a branch on its length: the
/// loop over words ends where the text ends, which varies from value to value and is a branch
/// that the processor mostly guesses wrong.
template <typename... Marks>
inline uint64_t copyFindingPadded(char* to, std::string_view text, uint64_t* high,
                                  Marks... marks) noexcept {
#if defined(__SSE2__)
    const size_t size = text.size();
    if (size <= kPaddedCopyBytes) [[likely]] {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text.data()));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(to), bytes);
        const auto inText = static_cast<uint32_t>((uint32_t{1} << size) - 1);
        __m128i any = _mm_setzero_si128();
        ((any = _mm_or_si128(any, _mm_cmpeq_epi8(bytes, _mm_set1_epi8(marks)))), ...);
        const auto found = static_cast<uint32_t>(_mm_movemask_epi8(any));
        *high = static_cast<uint32_t>(_mm_movemask_epi8(bytes)) & inText;
        return found & inText;
    }
#endif
    return copyFindingBytes(to, text, high, marks...);
}
