#pragma once

#include <cstddef>
#include <memory>
#include <new>

/// An array of a plain type (pointers, numbers, bytes) that a step writes at every row, on cache
/// lines of its own. The steps of a job are set up one after the other, so small blocks of
/// different steps lie side by side; while the steps run in threads of their own, a line that
/// two of them write would go back and forth between their cores at every row.
template <typename T>
class LineArray {
  public:
    static constexpr size_t kLineBytes = 64;

    /// Room for `count` elements (their values undefined), in place of what was held; false
    /// (and the old array kept) when the memory cannot be had.
    [[nodiscard]] bool allocate(size_t count) noexcept {
        const size_t bytes = (count * sizeof(T) + kLineBytes - 1) / kLineBytes * kLineBytes;
        void* memory = ::operator new[](bytes == 0 ? kLineBytes : bytes,
                                        std::align_val_t{kLineBytes}, std::nothrow);
        if (memory == nullptr) return false;
        data_.reset(static_cast<T*>(memory));
        return true;
    }
    T* get() const noexcept { return data_.get(); }
    T& operator[](size_t index) const noexcept { return data_.get()[index]; }

  private:
    struct Release {
        void operator()(T* memory) const noexcept {
            ::operator delete[](memory, std::align_val_t{kLineBytes});
        }
    };
    std::unique_ptr<T, Release> data_;
};
