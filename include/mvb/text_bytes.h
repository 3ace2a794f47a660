#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "mvb/export.h"

namespace mvb {

/// Copies `count` bytes, from one to two words of type `Word`, as a word from each end (the two
/// overlap when `count` is less than two words); both are loaded before either is stored.
template <typename Word>
inline void copyWordEnds(char* to, const char* from, size_t count) noexcept {
    Word head;
    Word tail;
    std::memcpy(&head, from, sizeof head);
    std::memcpy(&tail, from + count - sizeof tail, sizeof tail);
    std::memcpy(to, &head, sizeof head);
    std::memcpy(to + count - sizeof tail, &tail, sizeof tail);
}

/// Copies one to seven bytes without a loop: two overlapping halves, or for one to three bytes
/// the first, middle and last; every byte is loaded before the first store.
inline void copyShortBytes(char* to, const char* from, size_t count) noexcept {
    if (count >= 4) {
        copyWordEnds<uint32_t>(to, from, count);
    } else {
        const char first = from[0];
        const char middle = from[count / 2];
        const char last = from[count - 1];
        to[0] = first;
        to[count / 2] = middle;
        to[count - 1] = last;
    }
}

/// Copies `count` bytes from `from` to `to`; the two may overlap. Up to 16 bytes take a few
/// loads, all made before the first store, and no call: most texts in rows are that short.
inline void copyTextBytes(char* to, const char* from, size_t count) noexcept {
    if (count > 16) {
        std::memmove(to, from, count);
    } else if (count >= 8) {
        copyWordEnds<uint64_t>(to, from, count);
    } else if (count != 0) {
        copyShortBytes(to, from, count);
    }
}

/// The bytes of a value's text, always followed by a NUL. A short text lives inside the object;
/// a longer one on the heap, whose room is kept for the next text (it only grows until
/// release()). A row's texts are assigned several times on their way through a job (read,
/// handed to another thread, copied to a step's output), so assigning one that fits is a few
/// inline stores, not a call into the C++ or the C library.
class MVB_API TextBytes {
  public:
    TextBytes() noexcept { inline_[0] = '\0'; }
    TextBytes(const TextBytes& other) : TextBytes() { assign(other.data_, other.size_); }
    TextBytes(TextBytes&& other) noexcept : TextBytes() { take(other); }
    TextBytes& operator=(const TextBytes& other) {
        if (this == &other) return *this;
        // Every text's storage holds at least kInlineBytes and a NUL: a text that short goes
        // over with its NUL as one block of that size, without a branch on its length.
        if (other.size_ <= kInlineBytes) [[likely]] {
            other.copyBlock(data_);
            size_ = other.size_;
            return *this;
        }
        assign(other.data_, other.size_);
        return *this;
    }
    TextBytes& operator=(TextBytes&& other) noexcept {
        if (this != &other) {
            release();
            take(other);
        }
        return *this;
    }
    ~TextBytes() { release(); }

    const char* data() const noexcept { return data_; }
    /// The text with its NUL: data() itself.
    const char* c_str() const noexcept { return data_; }
    size_t size() const noexcept { return size_; }
    bool empty() const noexcept { return size_ == 0; }
    /// Bytes of text the storage holds without growing.
    size_t capacity() const noexcept { return capacity_; }
    operator std::string_view() const noexcept { return {data_, size_}; }

    /// Makes the text `count` bytes from `bytes`, which may lie in this text itself.
    void assign(const char* bytes, size_t count) {
        if (count > capacity_) [[unlikely]] {
            assignGrown(bytes, count);
            return;
        }
        copyTextBytes(data_, bytes, count);
        data_[count] = '\0';
        size_ = count;
    }
    /// Bytes that assignPadded() may read from its source, whatever the text's length.
    static constexpr size_t kPaddedReadBytes = 24;
    /// assign() from bytes outside this text that can be read for at least kPaddedReadBytes
    /// (and `count`): a short text goes over as one block of that size, without a branch on its
    /// length.
    void assignPadded(const char* bytes, size_t count) {
        if (count <= kInlineBytes) [[likely]] {
            std::memcpy(data_, bytes, kPaddedReadBytes);
            data_[count] = '\0';
            size_ = count;
            return;
        }
        assign(bytes, count);
    }
    /// Copies kPaddedReadBytes bytes from the start of the storage to `to`: a text shorter than
    /// that, its NUL and bytes that mean nothing, as one block.
    void copyBlock(char* to) const noexcept { std::memcpy(to, data_, kPaddedReadBytes); }
    /// Keeps the first `count` bytes, at most size().
    void truncate(size_t count) noexcept {
        size_ = count;
        data_[count] = '\0';
    }
    /// Empties the text and gives back its heap storage.
    void release() noexcept {
        if (data_ != inline_) delete[] data_;
        data_ = inline_;
        capacity_ = kInlineBytes;
        size_ = 0;
        inline_[0] = '\0';
    }

  private:
    /// Texts of up to this many bytes live inside the object.
    static constexpr size_t kInlineBytes = 23;
    static_assert(kPaddedReadBytes == kInlineBytes + 1, "a short text and its NUL, as one block");

    /// assign() for a text larger than the storage: takes larger storage first, so that
    /// `bytes` may lie in the old one.
    void assignGrown(const char* bytes, size_t count);
    /// Takes what `other` holds (this one being empty and inline), leaving `other` empty.
    void take(TextBytes& other) noexcept {
        if (other.data_ == other.inline_) {
            std::memcpy(inline_, other.inline_, sizeof inline_);
        } else {
            data_ = other.data_;
            capacity_ = other.capacity_;
            other.data_ = other.inline_;
            other.capacity_ = kInlineBytes;
        }
        size_ = other.size_;
        other.size_ = 0;
        other.inline_[0] = '\0';
    }

    char* data_ = inline_;
    size_t size_ = 0;
    size_t capacity_ = kInlineBytes;
    char inline_[kInlineBytes + 1];
};

}  // namespace mvb
