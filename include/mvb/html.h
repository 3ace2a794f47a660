#pragma once

// Text shown in HTML, for whatever writes markup: the report destination's cells and the
// headings and titles that jobs give it.

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

}  // namespace mvb::html
