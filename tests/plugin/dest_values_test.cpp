// Every value a destination writes reads back as it was, or is counted and warned about: a
// value the written file cannot hold as one value (the delimiter or a line break without a
// qualifier, a line break in a fixed-width record).
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/dest_support.h"

using nlohmann::json;
using namespace desttest;

namespace {

struct ValueCase {
    const char* name;
    std::string value;
    bool breaksUnqualified;  ///< holds the delimiter, CR or LF
    bool breaksRecord;       ///< holds CR or LF
};

const std::vector<ValueCase> kValues = {
    {"plain", "plain", false, false},
    {"delimiter", "Smith, John", true, false},
    {"line feed", "two\nlines", true, true},
    {"carriage return", "cr\rhere", true, true},
    {"line feed before the last eight bytes", "a\nlong text.", true, true},
    {"qualifier", "say \"hi\"", false, false},
    {"blanks around", "  padded  ", false, false},
    {"empty", "", false, false},
    {"non-ASCII", "Zo\xC3\xAB", false, false},
};

struct Mode {
    const char* name;
    json properties;
    bool quotes;  ///< every value that needs it is enclosed
    /// The line a one-row file holds for value `plain` as id 7.
    const char* plainLine;
};

size_t countStarting(const std::vector<std::string>& texts, const std::string& lead) {
    return static_cast<size_t>(std::count_if(
        texts.begin(), texts.end(), [&](const auto& text) { return text.rfind(lead, 0) == 0; }));
}

TestRows oneRow(const std::string& value) {
    return {{{"id", mvbTypeInteger}, {"v", mvbTypeString}}, {{integer(7), text(value.c_str())}}};
}

texthost::RunReport writeOne(const TempDir& dir, const std::string& type, const std::string& value,
                             json properties) {
    texthost::RunOptions options;
    options.extraSteps = {rowSource("ROWS", oneRow(value))};
    properties["FILENAME"] = dir.file("out");
    const json steps = {{{"type", "ROWS"}}, {{"type", type}, {"properties", properties}}};
    return runJobFile(dir, steps, options);
}

TEST(DestValues, DelimitedReadsBackOrCountsWhatItCannotHold) {
    const json fields = fieldsTable({{"id", "id"}, {"v", "v"}});
    const std::vector<Mode> modes = {
        {"no qualifier", {{"FIELDS", fields}}, false, "7,plain\n"},
        {"qualifier", {{"FIELDS", fields}, {"QUALIFIER", "\""}}, true, "7,\"plain\"\n"},
        {"quote when needed", {{"FIELDS", fields}, {"QUOTE_WHEN_NEEDED", true}}, true, "7,plain\n"},
        {"quote when needed with a qualifier",
         {{"FIELDS", fields}, {"QUOTE_WHEN_NEEDED", true}, {"QUALIFIER", "'"}},
         true,
         "7,plain\n"},
    };
    const json readBack = {
        {"PRESERVE_WHITESPACE", true}, {"NEWLINES_IN_VALUES", true}, {"QUOTE", "\""}};
    for (const auto& mode : modes) {
        for (const auto& value : kValues) {
            SCOPED_TRACE(std::string(mode.name) + ", " + value.name);
            TempDir dir;
            const auto report = writeOne(dir, "DEST_DELIMTEXT", value.value, mode.properties);
            ASSERT_TRUE(report.ok) << joined(report.errors());
            const bool broken = !mode.quotes && value.breaksUnqualified;
            EXPECT_EQ(countStarting(report.warnings(), "Text Plugin 816:"), broken ? 1u : 0u)
                << joined(report.warnings());
            EXPECT_EQ(countStarting(report.infos(), "Text Plugin 815:"), broken ? 1u : 0u)
                << joined(report.infos());
            EXPECT_EQ(report.valuesLost(), broken);
            if (value.value == "plain") {
                EXPECT_EQ(readFile(dir.file("out")), mode.plainLine);
            }
            if (broken) continue;
            json properties = readBack;
            if (mode.properties.contains("QUALIFIER"))
                properties["QUOTE"] = mode.properties["QUALIFIER"];
            const auto rows = readDelimited(dir.file("out"), {"id", "v"}, properties);
            ASSERT_EQ(rows.size(), 1u);
            // An empty value reads back empty or, written as nothing, as null.
            const std::string back = rows[0].at(1) == "<null>" ? "" : rows[0].at(1);
            EXPECT_EQ(rows[0].at(0), "7");
            EXPECT_EQ(back, value.value);
        }
    }
}

TEST(DestValues, QuoteWhenNeededEnclosesOnlyWhatNeedsIt) {
    struct Case {
        const char* value;
        const char* line;
    };
    const std::vector<Case> cases = {
        {"a;b", "7;\"a;b\"\n"},     {"say \"hi\"", "7;\"say \"\"hi\"\"\"\n"},
        {" lead", "7;\" lead\"\n"}, {"trail\t", "7;\"trail\t\"\n"},
        {"in side", "7;in side\n"}, {"a,b", "7;a,b\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        TempDir dir;
        const json properties = {{"FIELDS", fieldsTable({{"id", "id"}, {"v", "v"}})},
                                 {"DELIMITER", ";"},
                                 {"QUOTE_WHEN_NEEDED", true}};
        const auto report = writeOne(dir, "DEST_DELIMTEXT", c.value, properties);
        ASSERT_TRUE(report.ok) << joined(report.errors());
        EXPECT_EQ(readFile(dir.file("out")), c.line);
    }
    // Header names are enclosed by the same rule.
    TempDir dir;
    const json properties = {{"FIELDS", fieldsTable({{"id", "the id"}, {"v", "v,alue"}})},
                             {"INCLUDE_HEADER", true},
                             {"QUOTE_WHEN_NEEDED", true}};
    ASSERT_TRUE(writeOne(dir, "DEST_DELIMTEXT", "x", properties).ok);
    EXPECT_EQ(readFile(dir.file("out")), "the id,\"v,alue\"\n7,x\n");
}

TEST(DestValues, FixedWidthKeepsEachRecordOnOneLine) {
    const json properties = {{"FIELDS", fieldsTable({{"id", 2}, {"v", 24}}, "WIDTH")},
                             {"LINE_END", "LF"}};
    for (const bool atOnce : {true, false}) {
        for (const auto& value : kValues) {
            SCOPED_TRACE(std::string(value.name) + (atOnce ? ", UTF-8" : ", UTF-16LE"));
            TempDir dir;
            json withEncoding = properties;
            // A file that is not UTF-8 is written field by field.
            if (!atOnce) withEncoding["ENCODING"] = 1200;
            const auto report = writeOne(dir, "DEST_FIXEDTEXT", value.value, withEncoding);
            ASSERT_TRUE(report.ok) << joined(report.errors());
            EXPECT_EQ(countStarting(report.warnings(), "Text Plugin 816:"),
                      value.breaksRecord ? 1u : 0u)
                << joined(report.warnings());
            EXPECT_EQ(report.valuesLost(), value.breaksRecord);
            if (!atOnce) continue;
            std::string expected = value.value;
            std::replace(expected.begin(), expected.end(), '\n', ' ');
            std::replace(expected.begin(), expected.end(), '\r', ' ');
            expected.resize(24, ' ');  // every value fits its WIDTH, in UTF-16 too
            EXPECT_EQ(readFile(dir.file("out")), "7 " + expected + "\n");
        }
    }
}

TEST(DestValues, FixedWidthWithoutLineEndWritesLineBreaksAsData) {
    TempDir dir;
    const json properties = {{"FIELDS", fieldsTable({{"v", 6}}, "WIDTH")}};
    const auto report = writeOne(dir, "DEST_FIXEDTEXT", "a\nb", properties);
    ASSERT_TRUE(report.ok) << joined(report.errors());
    EXPECT_FALSE(report.valuesLost());
    EXPECT_EQ(readFile(dir.file("out")), "a\nb   ");
}

}  // namespace
