// The line splitter over any bytes, with any delimiter, quote and flags: it must stay inside
// its buffers and split the same way in place and into a separate output.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "mvb/parse.h"

namespace {

constexpr int kDelimiters[] = {',', ';', '\t', ' ', 0, 0xA6, 0x20AC, 0x1F600};
constexpr int kQuotes[] = {'"', '\'', 0, 0xA7};

struct Split {
    std::vector<char> buffer;
    std::vector<char*> fields;
    int count = 0;
};

/// Splits `line` into a buffer of exactly its size + 1 and a field array of `capacity` slots.
Split split(const uint8_t* line, size_t size, int capacity, int delimiter, int quote,
            unsigned flags, bool inPlace) {
    Split result;
    result.buffer.assign(line, line + size);
    result.buffer.push_back('Z');
    std::vector<char> separate(size + 1, 'Q');
    result.fields.assign(static_cast<size_t>(capacity), nullptr);
    char* output = inPlace ? result.buffer.data() : separate.data();
    result.count = mvs_parse_text_ex2(result.buffer.data(), result.fields.data(), capacity, output,
                                      static_cast<int>(size), delimiter, quote, flags);
    if (result.count < 0 || result.count > capacity) __builtin_trap();
    for (int i = 0; i < result.count; ++i) {
        char* field = result.fields[static_cast<size_t>(i)];
        if (field < output || field > output + size) __builtin_trap();
    }
    if (!inPlace) {
        if (std::memcmp(result.buffer.data(), line, size) != 0) __builtin_trap();
        result.buffer = std::move(separate);
        // The fields now point into the moved vector's storage, which moved with it.
    }
    return result;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1 || size > (1u << 16)) return 0;
    const uint8_t options = data[0];
    const int delimiter = kDelimiters[options & 7];
    const int quote = kQuotes[(options >> 3) & 3];
    const unsigned flags = (options >> 5) & 3;
    const int capacity = (options & 0x80) != 0 ? 3 : 256;
    const Split inPlace = split(data + 1, size - 1, capacity, delimiter, quote, flags, true);
    const Split separate = split(data + 1, size - 1, capacity, delimiter, quote, flags, false);
    if (inPlace.count != separate.count) __builtin_trap();
    for (size_t i = 0; i < static_cast<size_t>(inPlace.count); ++i) {
        if (std::strcmp(inPlace.fields[i], separate.fields[i]) != 0) __builtin_trap();
    }
    return 0;
}
