#include "value_text.h"

#include <charconv>

#include "utf8_internal.h"

namespace mvb::text {

namespace {

bool equalsFolded(std::string_view text, std::string_view lower) noexcept {
    if (text.size() != lower.size()) {
        return false;
    }
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c + ('a' - 'A'));
        }
        if (c != lower[i]) {
            return false;
        }
    }
    return true;
}

// from_chars takes no '+' sign; a single leading '+' is allowed here, as people write it.
std::string_view dropPlus(std::string_view text) noexcept {
    if (text.size() > 1 && text[0] == '+' && text[1] != '-' && text[1] != '+') {
        text.remove_prefix(1);
    }
    return text;
}

}  // namespace

bool parseBool(std::string_view text, bool* value) noexcept {
    text = utf8::trimBlanks(text);
    static constexpr std::string_view truths[] = {"true", "yes", "y", "t", "1"};
    static constexpr std::string_view falsehoods[] = {"false", "no", "n", "f", "0"};
    for (std::string_view word : truths) {
        if (equalsFolded(text, word)) {
            *value = true;
            return true;
        }
    }
    for (std::string_view word : falsehoods) {
        if (equalsFolded(text, word)) {
            *value = false;
            return true;
        }
    }
    return false;
}

bool parseInt64(std::string_view text, int64_t* value) noexcept {
    text = dropPlus(utf8::trimBlanks(text));
    if (text.empty()) {
        return false;
    }
    int64_t result = 0;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, result, 10);
    if (ec != std::errc() || ptr != end) {
        return false;
    }
    *value = result;
    return true;
}

bool parseReal(std::string_view text, double* value) noexcept {
    text = dropPlus(utf8::trimBlanks(text));
    if (text.empty()) {
        return false;
    }
    double result = 0;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, result, std::chars_format::general);
    if (ec != std::errc() || ptr != end) {
        return false;
    }
    *value = result;
    return true;
}

int formatReal(double value, char* out) noexcept {
    const auto result = std::to_chars(out, out + 32, value);
    return static_cast<int>(result.ptr - out);
}

int formatInt64(int64_t value, char* out) noexcept {
    const auto result = std::to_chars(out, out + 21, value);
    return static_cast<int>(result.ptr - out);
}

}  // namespace mvb::text
