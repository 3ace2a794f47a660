#include "mvb/string.h"

#include <algorithm>
#include <cstring>

#include "utf8_internal.h"

MvbString::MvbString(const char* text, bool /*literal*/) : text_(text != nullptr ? text : "") {}

MvbString::MvbString(std::string_view text) : text_(text) {}

MvbString::~MvbString() = default;

MvbString& MvbString::operator=(const char* text) {
    assign(text);
    return *this;
}

void MvbString::assign(const char* text) {
    if (text == nullptr) {
        text_.clear();
        return;
    }
    text_.assign(text);
}

void MvbString::assign(const char* bytes, size_t byteCount) {
    if (bytes == nullptr) {
        text_.clear();
        return;
    }
    text_.assign(bytes, byteCount);
}

int MvbString::length() const noexcept {
    return static_cast<int>(mvb::utf8::countChars(text_));
}

MvbString MvbString::mid(int start, int count) const {
    const std::string_view all(text_);
    const size_t from = mvb::utf8::charsToBytes(all, start > 0 ? static_cast<size_t>(start) : 0);
    const std::string_view rest = all.substr(from);
    if (count < 0) {
        return MvbString(rest);
    }
    return MvbString(rest.substr(0, mvb::utf8::charsToBytes(rest, static_cast<size_t>(count))));
}

namespace {

constexpr unsigned char foldAscii(unsigned char c) noexcept {
    return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + ('a' - 'A')) : c;
}

}  // namespace

int MvbString::compare(const char* text, bool ignoreCase) const noexcept {
    const auto* a = reinterpret_cast<const unsigned char*>(text_.c_str());
    const auto* b = reinterpret_cast<const unsigned char*>(text != nullptr ? text : "");
    const size_t aSize = text_.size();
    const size_t bSize = std::strlen(reinterpret_cast<const char*>(b));
    const size_t common = std::min(aSize, bSize);
    for (size_t i = 0; i < common; ++i) {
        const unsigned char ca = ignoreCase ? foldAscii(a[i]) : a[i];
        const unsigned char cb = ignoreCase ? foldAscii(b[i]) : b[i];
        if (ca != cb) {
            return ca < cb ? -1 : 1;
        }
    }
    if (aSize == bSize) {
        return 0;
    }
    return aSize < bSize ? -1 : 1;
}

void MvbString::trim(bool left, bool right) {
    size_t begin = 0;
    size_t end = text_.size();
    if (left) {
        while (begin < end && mvb::utf8::isBlank(text_[begin])) {
            ++begin;
        }
    }
    if (right) {
        while (end > begin && mvb::utf8::isBlank(text_[end - 1])) {
            --end;
        }
    }
    text_.erase(end);
    text_.erase(0, begin);
}
