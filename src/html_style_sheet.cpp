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

namespace {

// The page has no body tag of its own; the browser's implied body lays out the title table,
// the row count and the data table as a column, the count placed under the title.
constexpr char kModern[] =
    "body { display: flex; flex-direction: column; align-items: flex-start; margin: 24px;\n"
    "       font: 14px/1.45 system-ui, -apple-system, \"Segoe UI\", Roboto, sans-serif;\n"
    "       color: #1f2933; background: #ffffff; }\n"
    "body > table:first-of-type { order: -2; margin-bottom: 2px; }\n"
    ".rowcount { order: -1; margin: 0 0 12px; color: #52606d; }\n"
    ".pagetitle { font-size: 20px; font-weight: 600; padding-right: 24px; }\n"
    "table[border=\"1\"] { border-collapse: separate; border-spacing: 0;\n"
    "                     border: 1px solid #d9e2ec; }\n"
    "th, td { padding: 6px 12px; border: 0; border-bottom: 1px solid #e4e7eb;\n"
    "         text-align: left; vertical-align: top; white-space: nowrap; }\n"
    "th { position: sticky; top: 0; z-index: 1; background: #243b53; color: #ffffff;\n"
    "     font-weight: 600; text-transform: none; }\n"
    "th b { font-weight: inherit; }\n"
    "tr.rowon:nth-child(even) > td { background: #f0f4f8; }\n"
    ".subtitle { font-weight: 600; background: #ffffff; }\n";

}  // namespace

const std::string_view kHtmlModernStyle(kModern, sizeof(kModern) - 1);
