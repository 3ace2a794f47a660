#pragma once

#include <string_view>

#include "mvb/datavar.h"

/// Scratch space for the text of a value that is not a string; 64 bytes hold every such text.
struct ValueTextBuffer {
    char bytes[64];
};

/// The text a destination writes for `value`, without allocating: a string's own bytes, nothing
/// for null (or for no value at all), and for the other kinds their text formatted into
/// `buffer`. The view stays valid while the value and the buffer are unchanged.
inline std::string_view destValueText(const MvbDatavar* value, ValueTextBuffer& buffer) noexcept {
    if (value == nullptr || value->isNull()) return {};
    if (value->getType() == mvbTypeString) return value->stringView();
    const int length = value->formatText(buffer.bytes, static_cast<int>(sizeof buffer.bytes));
    constexpr int kMost = static_cast<int>(sizeof buffer.bytes) - 1;
    return std::string_view(buffer.bytes,
                            length <= 0 ? 0 : static_cast<size_t>(length < kMost ? length : kMost));
}
