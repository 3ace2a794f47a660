#pragma once

#include <initializer_list>
#include <string_view>

#include "mvb/export.h"
#include "mvb/string.h"

/// Formats message `number` of the catalogue as
/// `<domain> <number>: <text> (<sourceFile>:<line>)`, filling the text's placeholders with
/// `args` in order. An unknown number gives a text that says so and lists the arguments.
MVB_API MvbString mvbFormatMessage(const char* sourceFile, int line, const char* domain, int number,
                                   std::initializer_list<std::string_view> args);

/// The catalogue text of `number`, unformatted; null for a number the catalogue lacks.
MVB_API const char* mvbMessageTemplate(int number) noexcept;

/// Formats a catalogue message; every argument is text (anything a std::string_view is built from).
template <typename... Args>
MvbString mvb_get_message(const char* sourceFile, int line, const char* domain, int number,
                          const Args&... args) {
    return mvbFormatMessage(sourceFile, line, domain, number, {std::string_view(args)...});
}
