#include "mvb/text_bytes.h"

#include <memory>

namespace mvb {

void TextBytes::assignGrown(const char* bytes, size_t count) {
    // Room for twice the old text at least, so that texts growing a little at a time do not
    // take new storage each time.
    size_t capacity = capacity_ * 2;
    if (capacity < count) capacity = count;
    auto grown = std::make_unique_for_overwrite<char[]>(capacity + 1);
    std::memcpy(grown.get(), bytes, count);
    grown[count] = '\0';
    if (data_ != inline_) delete[] data_;
    data_ = grown.release();
    capacity_ = capacity;
    size_ = count;
}

}  // namespace mvb
