#include "html_style_sheet.h"

namespace {

// Ten rules: the selector, "{" and "}" on lines of their own, each declaration on its own line
// indented by four blanks. Stored reports link to this text, so it never changes.
constexpr char kText[] =
    ".bold_text\n{\n"
    "    FONT-WEIGHT: bold;\n"
    "    FONT-SIZE: 12px;\n"
    "    COLOR: black;\n"
    "    FONT-FAMILY: Helvetica, Arial, Sans\n"
    "}\n"
    "BODY\n{\n"
    "    FONT-SIZE: 10pt;\n"
    "    COLOR: black;\n"
    "    FONT-FAMILY: Helvetica, Arial\n"
    "}\n"
    "TR\n{\n"
    "    COLOR: #194676;\n"
    "    FONT-FAMILY: helvetica, arial\n"
    "}\n"
    "TABLE\n{\n"
    "}\n"
    "TH\n{\n"
    "    TEXT-TRANSFORM: capitalize;\n"
    "    COLOR: #ffffff;\n"
    "    BACKGROUND-COLOR: #194676\n"
    "}\n"
    ".subtitle\n{\n"
    "    FONT-WEIGHT: bolder;\n"
    "    BACKGROUND-COLOR: #ffffff\n"
    "}\n"
    "P\n{\n"
    "    FONT-SIZE: 10pt;\n"
    "    COLOR: black;\n"
    "    FONT-FAMILY: helvetica, Arial\n"
    "}\n"
    ".pagetitle\n{\n"
    "    FONT-WEIGHT: bolder;\n"
    "    FONT-SIZE: 12pt;\n"
    "    TEXT-DECORATION: underline\n"
    "}\n"
    ".rowoff\n{\n"
    "    BACKGROUND-COLOR: #ffffff\n"
    "}\n"
    ".rowon\n{\n"
    "    FONT-SIZE: 10pt;\n"
    "    BACKGROUND-COLOR: #f0f0f0\n"
    "}\n";

static_assert(sizeof(kText) - 1 == 703, "the style sheet text is fixed");

}  // namespace

const std::string_view kHtmlStyleSheet(kText, sizeof(kText) - 1);
