// What a delimited source drops or reshapes without the file saying so is counted and warned
// about: extra fields, text after a closing quote, and property values read leniently.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/src_support.h"

using nlohmann::json;
using namespace srctest;

namespace {

size_t countStarting(const std::vector<std::string>& texts, const std::string& lead) {
    size_t count = 0;
    for (const std::string& text : texts)
        count += text.rfind(lead, 0) == 0 ? 1 : 0;
    return count;
}

struct LineCase {
    const char* line;
    std::vector<std::string> values;  ///< the row, as the source has always read it
    bool extraCounted;
    const char* afterQuote;          ///< the text warned about after a closing quote; "" for none
    const char* shown;               ///< a text the warning must name; "" for none
    json settings = json::object();  ///< properties besides FILENAME, QUOTE and FIELDS
    bool openQuote = false;          ///< a quote that never closes on the line is warned of
};

TEST(SourceDropped, RowWidthsAndTextAfterClosingQuotes) {
    const std::vector<LineCase> cases = {
        {"1,2", {"1", "2"}, false, "", ""},
        {"1,2,", {"1", "2"}, false, "", ""},
        {"1,2,  ", {"1", "2"}, false, "", ""},
        {"1,2,LOST", {"1", "2"}, true, "", "LOST"},
        {"1,2,,later", {"1", "2"}, true, "", "later"},
        {"1,2, kept ", {"1", "2"}, true, "", " kept ", {{"PRESERVE_WHITESPACE", true}}},
        {"1,\"2,3\",x", {"1", "2,3"}, true, "", "x"},
        {"3,\"4\"junk", {"3", "4junk"}, false, "junk", "junk"},
        {"3,\"4\"  ", {"3", "4"}, false, "", ""},
        {"\"a\"\"b\" ,c", {"a\"b", "c"}, false, "", ""},
        {"\"x\" y ,\"z\"", {"x y", "z"}, false, "y", "y"},
        // A quote of more than one byte, and quotes and backslashes that escapes take.
        {"3,«4«junk", {"3", "4junk"}, false, "junk", "junk", {{"QUOTE", "«"}}},
        {"3,«4««5« ", {"3", "4«5"}, false, "", "", {{"QUOTE", "«"}}},
        {"3,«4»«,x", {"3", "4»"}, true, "", "x", {{"QUOTE", "«"}}},
        {"3,\"4\\\"5\"junk",
         {"3", "4\"5junk"},
         false,
         "junk",
         "junk",
         {{"UNESCAPE_BACKSLASH", true}}},
        {"3,\"4\\\\\"x", {"3", "4\\x"}, false, "x", "x", {{"UNESCAPE_BACKSLASH", true}}},
        {"3,\"4\\\"", {"3", "4\""}, false, "", "", {{"UNESCAPE_BACKSLASH", true}}, true},
        // A quote that never closes runs its value over the delimiters after it.
        {"1,\"2,3", {"1", "2,3"}, false, "", "", json::object(), true},
        {"1,«2,3", {"1", "2,3"}, false, "", "", {{"QUOTE", "«"}}, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        TempDir dir;
        writeFile(dir.file("in.csv"), std::string(c.line) + "\n");
        json properties = {{"FILENAME", "in.csv"},
                           {"QUOTE", "\""},
                           {"FIELDS",
                            {{{"NAME", "a"}, {"TYPE", "string"}, {"MAX_LENGTH", 20}},
                             {{"NAME", "b"}, {"TYPE", "string"}, {"MAX_LENGTH", 20}}}}};
        properties.update(c.settings);
        const SourceRead read = readSource("SOURCE_DELIMTEXT", properties, dir.path());
        ASSERT_EQ(read.endCode, 1) << joinedTexts(read.errors());
        ASSERT_EQ(read.texts().size(), 1u);
        EXPECT_EQ(read.texts()[0], c.values);

        const auto warnings = read.warnings();
        EXPECT_EQ(countStarting(warnings, "Text Plugin 817:"), c.extraCounted ? 1u : 0u)
            << joinedTexts(warnings);
        EXPECT_EQ(countStarting(warnings, "Text Plugin 818:"), *c.afterQuote != '\0' ? 1u : 0u)
            << joinedTexts(warnings);
        if (*c.shown != '\0') {
            EXPECT_NE(joinedTexts(warnings).find(std::string("\"") + c.shown + "\""),
                      std::string::npos)
                << joinedTexts(warnings);
        }
        EXPECT_EQ(countStarting(warnings, "Text Plugin 820:"), c.openQuote ? 1u : 0u)
            << joinedTexts(warnings);
        // Whatever was dropped or reshaped is in the summary, which --strict fails on.
        const bool lost = c.extraCounted || *c.afterQuote != '\0' || c.openQuote;
        EXPECT_EQ(countStarting(read.infos(), "Text Plugin 814:"), lost ? 1u : 0u)
            << joinedTexts(read.infos());
    }
}

TEST(SourceDropped, SummaryCountsRowsWithExtraFields) {
    TempDir dir;
    writeFile(dir.file("in.csv"), "1,2,x\n3,4\n5,6,y,z\n7,8,\n");
    const json properties = {{"FILENAME", "in.csv"},
                             {"FIELDS",
                              {{{"NAME", "a"}, {"TYPE", "integer"}, {"MAX_LENGTH", 0}},
                               {{"NAME", "b"}, {"TYPE", "integer"}, {"MAX_LENGTH", 0}}}}};
    const SourceRead read = readSource("SOURCE_DELIMTEXT", properties, dir.path());
    ASSERT_EQ(read.endCode, 1) << joinedTexts(read.errors());
    EXPECT_EQ(read.texts().size(), 4u);
    EXPECT_NE(joinedTexts(read.infos()).find("2 rows with more fields than FIELDS"),
              std::string::npos)
        << joinedTexts(read.infos());
    EXPECT_NE(joinedTexts(read.warnings()).find("Row 3 has 4 fields where FIELDS has 2"),
              std::string::npos)
        << joinedTexts(read.warnings());
}

TEST(SourceDropped, LenientPropertyValuesAreWarnedAndReadAsBefore) {
    struct Case {
        json setting;
        const char* named;
        const char* readAs;
    };
    const std::vector<Case> cases = {
        {{{"REPLACE_NULLS", "ture"}}, "REPLACE_NULLS \"ture\"", "read as false"},
        {{{"REPLACE_NULLS", "yes please"}}, "REPLACE_NULLS \"yes please\"", "read as false"},
        // A number is a boolean as 0 or 1 only, as its text is.
        {{{"REPLACE_NULLS", 2}}, "REPLACE_NULLS \"2\"", "read as false"},
        // A number for a character is its digits, seldom what was meant.
        {{{"DELIMITER", 59}},
         "DELIMITER \"59\"",
         "(\"0x3B\" is the character of code 59); it is read as \"5\""},
        {{{"QUOTE", 34}}, "QUOTE \"34\" is not a character in quotes", "read as \"3\""},
        // A text of several characters counts by its first.
        {{{"DELIMITER", "tab"}}, "DELIMITER \"tab\" is not one character", "its first, \"t\""},
        {{{"QUOTE", "\u00AB\u00BB"}}, "QUOTE \"\u00AB\u00BB\"", "its first, \"\u00AB\""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.named);
        TempDir dir;
        writeFile(dir.file("in.csv"), std::string("a\0b\n", 4));
        json properties = {{"FILENAME", "in.csv"},
                           {"FIELDS", {{{"NAME", "a"}, {"TYPE", "string"}, {"MAX_LENGTH", 9}}}}};
        properties.update(c.setting);
        const SourceRead read = readSource("SOURCE_DELIMTEXT", properties, dir.path());
        ASSERT_EQ(read.endCode, 1) << joinedTexts(read.errors());
        // Read as false: the value still ends at its NUL.
        EXPECT_EQ(read.texts().at(0).at(0), "a");
        const std::string warnings = joinedTexts(read.warnings());
        EXPECT_EQ(countStarting(read.warnings(), "Text Plugin 831:"), 1u) << warnings;
        EXPECT_NE(warnings.find(c.named), std::string::npos) << warnings;
        EXPECT_NE(warnings.find(c.readAs), std::string::npos) << warnings;
    }
}

}  // namespace
