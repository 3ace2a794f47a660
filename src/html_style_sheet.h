#pragma once

#include <string_view>

#include "step/plugin.h"

/// The name of the style sheet file written beside every HTML report, and named by its LINK.
inline constexpr const char* kHtmlStyleSheetName = "marovind.css";

/// The style sheet's fixed text (703 bytes, LF line ends, ending with a line feed).
extern const std::string_view kHtmlStyleSheet;

/// The sheet of the "modern" report style, written inside the page's head so that the report
/// is one file: headings as written, alternate rows shaded, the heading row kept in view while
/// the page scrolls, and the row count (written after the table) shown under the title.
extern const std::string_view kHtmlModernStyle;

/// The style sheet as the file the HTML report step writes beside its FILENAME: every report
/// writes the same text into it, so reports in one folder share it.
inline constexpr StepExtraFile kHtmlStyleSheetFiles[] = {{kHtmlStyleSheetName, "FILENAME", 1}};
