#pragma once

// Text shown in HTML, for whatever writes markup: the report destination's cells and the
// headings and titles that jobs give it.

#include <string>
#include <string_view>

namespace mvb::html {

/// The entity written for a byte that markup would read as its own ('"', '&', '\'', '<' and
/// '>'), or null for any other byte.
constexpr const char* entityFor(char byte) noexcept {
    switch (byte) {
        case '"':
            return "&quot;";
        case '&':
            return "&amp;";
        case '\'':
            return "&apos;";
        case '<':
            return "&lt;";
        case '>':
            return "&gt;";
        default:
            return nullptr;
    }
}

/// `text` as HTML shows it, each byte that markup would read as its own written as its entity:
/// for a heading or a title taken from a file into a job, where they are markup.
inline std::string escapedText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        if (const char* entity = entityFor(c)) {
            out += entity;
        } else {
            out += c;
        }
    }
    return out;
}

}  // namespace mvb::html
