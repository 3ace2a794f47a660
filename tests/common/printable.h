#pragma once

// Test parameters as readable text, so that a parameterised test's listed name says which case
// it runs.

#include <cstdio>
#include <string>
#include <string_view>

namespace testfiles {

/// `text` in double quotes, with every byte outside printable ASCII, and the characters that
/// test lists treat specially, written as \xHH.
inline std::string printable(std::string_view text) {
    std::string out = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte >= 0x7F || c == '"' || c == '\\' || c == ';' || c == '[' ||
            c == ']' || c == '$' || c == '#') {
            char escaped[5];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
            out += escaped;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

}  // namespace testfiles
