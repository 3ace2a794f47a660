#pragma once

#include <string_view>

/// The name of the style sheet file written beside every HTML report, and named by its LINK.
inline constexpr const char* kHtmlStyleSheetName = "marovind.css";

/// The style sheet's fixed text (703 bytes, LF line ends, ending with a line feed).
extern const std::string_view kHtmlStyleSheet;
