// Values the sources cannot keep as read: texts a field's type cannot read, strings cut at
// MAX_LENGTH and text after a NUL. Each is still read as before, and now also said: a warning
// per value under the run's cap and one summary entry with the counts per field.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "support/src_support.h"

namespace {

using nlohmann::json;
using srctest::readSource;
using srctest::TempDir;
using Rows = std::vector<std::vector<std::string>>;

/// One field of `type` read from `text` by both sources: the delimited source reads the line,
/// the fixed-width source the same text as a 40-byte field of a line.
struct ValueCase {
    const char* type;
    std::string text;
    const char* value;     ///< what the field holds
    const char* typeName;  ///< the type the warning names; null: no warning
};

const ValueCase kValueCases[] = {
    {"boolean", "maybe", "<null>", "boolean"},
    {"bool", "yes", "true", nullptr},
    {"integer", "4x", "<null>", "integer"},
    {"int", "99999999999999999999", "<null>", "integer"},
    {"integer", "-12", "-12", nullptr},
    {"real", "1e", "<null>", "real"},
    {"real", "2.5", "2.5", nullptr},
    {"date", "2023-02-29", "<null>", "date"},
    {"datetime", "2024-01-01 25:00", "<null>", "date"},
    {"date", "2024-02-29", "2024-02-29", nullptr},
    {"date_mdy", "31/12/2023", "<null>", "date_mdy"},
    {"date_dmy", "31/12/2023", "2023-12-31", nullptr},
    {"date_ymd", "31/12/2023", "<null>", "date_ymd"},
    {"date", std::string(130, '1'), "<null>", "date"},
};

/// The warning of an unreadable value, without the source-file part that ends it.
std::string unreadableWarning(int row, const std::string& text, const std::string& type) {
    return "Text Plugin 810: Row " + std::to_string(row) + ", field \"v\": \"" + text +
           "\" is not a valid " + type + " value; the field is null.";
}

std::vector<srctest::SourceRead> readBothSources(const TempDir& dir, const char* type,
                                                 const std::string& text) {
    srctest::writeFile(dir.file("in.csv"), "head\n" + text + "\n");
    std::string padded = text;
    padded.resize(std::max<size_t>(text.size(), 40), ' ');
    srctest::writeFile(dir.file("in.dat"), padded + "\n");
    return {
        readSource(
            "SOURCE_DELIMTEXT",
            {{"FILENAME", "in.csv"}, {"SKIPROWS", 1}, {"FIELDS", json::array({{"v", type, 10}})}},
            dir.path()),
        readSource("SOURCE_FIXEDTEXT",
                   {{"FILENAME", "in.dat"},
                    {"CRLF_TERMINATE", true},
                    {"RECORDWIDTH", padded.size()},
                    {"FIELDS", json::array({{"v", type, 1, padded.size()}})}},
                   dir.path())};
}

TEST(SourceValues, AValueTheTypeCannotReadIsNullAndSaid) {
    TempDir dir;
    for (const ValueCase& c : kValueCases) {
        SCOPED_TRACE(std::string(c.type) + " " + c.text.substr(0, 20));
        for (const auto& read : readBothSources(dir, c.type, c.text)) {
            ASSERT_TRUE(read.started) << srctest::joinedTexts(read.errors());
            EXPECT_EQ(read.texts(), (Rows{{c.value}}));
            const auto warnings = read.warnings();
            const auto infos = read.infos();
            if (c.typeName == nullptr) {
                EXPECT_TRUE(warnings.empty()) << srctest::joinedTexts(warnings);
                EXPECT_EQ(infos.size(), 1u) << srctest::joinedTexts(infos);
                continue;
            }
            const std::string shown = c.text.size() > 40 ? c.text.substr(0, 40) + "…" : c.text;
            ASSERT_EQ(warnings.size(), 1u);
            EXPECT_EQ(warnings[0].rfind(unreadableWarning(1, shown, c.typeName), 0), 0u)
                << warnings[0];
            ASSERT_EQ(infos.size(), 2u);
            EXPECT_EQ(infos[1].rfind("Text Plugin 814: Values not kept as read: field \"v\": 1 "
                                     "value unreadable as " +
                                         std::string(c.typeName) + " and set to null. (src/dts_",
                                     0),
                      0u)
                << infos[1];
        }
    }
}

TEST(SourceValues, ARealOfMoreDigitsThanARealHoldsIsWarnedAsRounded) {
    TempDir dir;
    // Below the smallest normal real a short text can hold more digits than the real.
    srctest::writeFile(dir.file("in.csv"), "9007199254740993\n0.30000000000000004\n7e-324\n");
    const auto read = readSource(
        "SOURCE_DELIMTEXT", {{"FILENAME", "in.csv"}, {"FIELDS", {{"r", "real", 0}}}}, dir.path());
    EXPECT_EQ(read.texts(), (Rows{{"9007199254740992"}, {"0.30000000000000004"}, {"5e-324"}}));
    const std::string warnings = srctest::joinedTexts(read.warnings());
    EXPECT_NE(warnings.find("Text Plugin 819: Row 1, field \"r\": \"9007199254740993\" has more "
                            "digits than a real holds; it is read as 9007199254740992."),
              std::string::npos)
        << warnings;
    EXPECT_EQ(warnings.find("Row 2"), std::string::npos) << warnings;
    EXPECT_NE(warnings.find("Row 3, field \"r\": \"7e-324\" has more digits than a real holds; "
                            "it is read as 5e-324."),
              std::string::npos)
        << warnings;
    EXPECT_NE(srctest::joinedTexts(read.infos()).find("2 reals of more digits than a real holds"),
              std::string::npos);
}

TEST(SourceValues, SummaryCountsEachFieldAndCutStrings) {
    TempDir dir;
    srctest::writeFile(dir.file("in.csv"),
                       "1,31/12/2023,abcdef,ok\n"
                       "x,12/31/2023,ééééé,ok\n"
                       "y,13/13/2023,abc,ok\n");
    const json fields = json::array(
        {{"n", "integer", 0}, {"d", "date_mdy", 0}, {"s", "string", 3}, {"t", "string", 3}});
    const auto read =
        readSource("SOURCE_DELIMTEXT", {{"FILENAME", "in.csv"}, {"FIELDS", fields}}, dir.path());
    EXPECT_EQ(read.texts(), (Rows{{"1", "<null>", "abc", "ok"},
                                  {"<null>", "2023-12-31", "ééé", "ok"},
                                  {"<null>", "<null>", "abc", "ok"}}));
    const auto warnings = read.warnings();
    ASSERT_EQ(warnings.size(), 6u) << srctest::joinedTexts(warnings);
    EXPECT_EQ(warnings[1].rfind("Text Plugin 811: Row 1, field \"s\": \"abcdef\" is longer than "
                                "MAX_LENGTH 3 characters",
                                0),
              0u)
        << warnings[1];
    EXPECT_NE(warnings[3].find("Row 2, field \"s\": \"ééééé\""), std::string::npos);
    const auto infos = read.infos();
    ASSERT_EQ(infos.size(), 2u) << srctest::joinedTexts(infos);
    EXPECT_TRUE(srctest::isRunSummary({infos[0]}, "in.csv", 3)) << infos[0];
    EXPECT_EQ(infos[1].rfind("Text Plugin 814: Values not kept as read: field \"n\": 2 values "
                             "unreadable as integer and set to null; field \"d\": 2 values "
                             "unreadable as date_mdy and set to null; field \"s\": 2 strings cut "
                             "at MAX_LENGTH 3. (src/dts_txtdelimsrc:",
                             0),
              0u)
        << infos[1];
}

// Missing fields and unreadable values share one cap of warnings per run; the counts of the
// summary go on past it.
TEST(SourceValues, ValueWarningsShareTheMissingFieldCap) {
    TempDir dir;
    srctest::writeFile(dir.file("in.csv"), srctest::linesOf(1200, [](int i) {
                           return i % 2 == 0 ? std::string("1") : "x,2";
                       }));
    const json fields = json::array({{"a", "integer", 0}, {"b", "integer", 0}});
    const auto read =
        readSource("SOURCE_DELIMTEXT", {{"FILENAME", "in.csv"}, {"FIELDS", fields}}, dir.path());
    ASSERT_EQ(read.rows.size(), 1200u);
    const auto warnings = read.warnings();
    ASSERT_EQ(warnings.size(), 1000u);
    EXPECT_EQ(warnings[0], "Delimited text: Missing field(s) on row 1");
    EXPECT_EQ(warnings[1].rfind("Text Plugin 810: Row 2, field \"a\": \"x\"", 0), 0u);
    EXPECT_EQ(warnings[997].rfind("Text Plugin 810: Row 998,", 0), 0u) << warnings[997];
    EXPECT_EQ(warnings[998], "Delimited text: Missing field(s) on row 999");
    EXPECT_EQ(warnings[999], "Max warning count reached");
    const auto infos = read.infos();
    ASSERT_EQ(infos.size(), 2u);
    EXPECT_NE(infos[1].find("field \"a\": 600 values unreadable as integer"), std::string::npos)
        << infos[1];
}

struct NulCase {
    const char* name;
    std::string text;  ///< the field's bytes
    const char* type;
    const char* delimited;  ///< the value the delimited source reads
    const char* fixed;      ///< the value the fixed-width source reads (a 10-byte field)
    const char* dropped;    ///< the text a warning shows as dropped; null: no warning
};

TEST(SourceValues, AValueEndsAtItsFirstNul) {
    const NulCase cases[] = {
        {"NUL padding after a number", std::string("42\0\0\0", 5), "integer", "42", "42", nullptr},
        {"only NULs, a number", std::string("\0\0\0", 3), "integer", "<null>", "<null>", nullptr},
        {"only NULs, a string", std::string("\0\0\0", 3), "string", "", "<null>", nullptr},
        {"NULs then blanks are padding", std::string("ab\0\0  ", 6), "string", "ab", "ab", nullptr},
        {"text after a NUL is dropped", std::string("ab\0cd", 5), "string", "ab", "ab", "cd"},
        {"text after a NUL in a number", std::string("7\0\0x", 4), "integer", "7", "7", "x"},
        {"a NUL first drops all", std::string("\0abc", 4), "string", "", "<null>", "abc"},
        {"text after a NUL in a date", std::string("2024-01-02\0x", 12), "date", "2024-01-02",
         "2024-01-02", "x"},
        {"NULs inside the dropped text are shown", std::string("a\0b\0c", 5), "string", "a", "a",
         "b\\0c"},
    };
    TempDir dir;
    for (const NulCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::string record = c.text;
        record.resize(12, ' ');
        srctest::writeFile(dir.file("in.csv"), "first," + c.text + ",last\n");
        srctest::writeFile(dir.file("in.dat"), "first" + record + "last\n");
        const json delimitedFields =
            json::array({{"a", "string", 10}, {"v", c.type, 12}, {"z", "string", 10}});
        const json fixedFields =
            json::array({{"a", "string", 1, 5}, {"v", c.type, 6, 12}, {"z", "string", 18, 4}});
        const auto delimited = readSource(
            "SOURCE_DELIMTEXT", {{"FILENAME", "in.csv"}, {"FIELDS", delimitedFields}}, dir.path());
        const auto fixed = readSource("SOURCE_FIXEDTEXT",
                                      {{"FILENAME", "in.dat"},
                                       {"CRLF_TERMINATE", true},
                                       {"RECORDWIDTH", 21},
                                       {"FIELDS", fixedFields}},
                                      dir.path());
        EXPECT_EQ(delimited.texts(), (Rows{{"first", c.delimited, "last"}}));
        EXPECT_EQ(fixed.texts(), (Rows{{"first", c.fixed, "last"}}));
        for (const auto* read : {&delimited, &fixed}) {
            const auto warnings = read->warnings();
            if (c.dropped == nullptr) {
                EXPECT_TRUE(warnings.empty()) << srctest::joinedTexts(warnings);
                continue;
            }
            ASSERT_EQ(warnings.size(), 1u);
            EXPECT_EQ(warnings[0].rfind("Text Plugin 812: Row 1, field \"v\": the text \"" +
                                            std::string(c.dropped) +
                                            "\" after a NUL character "
                                            "was dropped; set "
                                            "REPLACE_NULLS to true",
                                        0),
                      0u)
                << warnings[0];
            EXPECT_NE(read->infos().back().find("1 text after a NUL character dropped"),
                      std::string::npos);
        }
    }
}

TEST(SourceValues, ReplaceNullsKeepsTheTextAfterANul) {
    TempDir dir;
    srctest::writeFile(dir.file("in.csv"), std::string("ab\0cd,x\n", 8));
    const auto read =
        readSource("SOURCE_DELIMTEXT",
                   {{"FILENAME", "in.csv"},
                    {"REPLACE_NULLS", true},
                    {"FIELDS", json::array({{"v", "string", 10}, {"w", "string", 5}})}},
                   dir.path());
    EXPECT_EQ(read.texts(), (Rows{{"ab cd", "x"}}));
    EXPECT_TRUE(read.warnings().empty()) << srctest::joinedTexts(read.warnings());
}

// A last line without a line end is a row whatever its length, as it is with one.
TEST(SourceValues, FixedWidthShortLastLineIsARow) {
    const std::vector<std::pair<std::string, Rows>> cases = {
        {"abcdefgh\nab\n", {{"efgh"}, {"<null>"}}},
        {"abcdefgh\nab", {{"efgh"}, {"<null>"}}},
        {"abcdefgh\nabcdef", {{"efgh"}, {"ef"}}},
        {"abcdefgh\n", {{"efgh"}}},
        {"abcdefgh", {{"efgh"}}},
        {"", {}},
    };
    TempDir dir;
    for (const auto& [bytes, expected] : cases) {
        SCOPED_TRACE(bytes);
        srctest::writeFile(dir.file("in.dat"), bytes);
        const auto read = readSource("SOURCE_FIXEDTEXT",
                                     {{"FILENAME", "in.dat"},
                                      {"CRLF_TERMINATE", true},
                                      {"RECORDWIDTH", 8},
                                      {"FIELDS", json::array({{"v", "string", 5, 4}})}},
                                     dir.path());
        EXPECT_EQ(read.texts(), expected);
        EXPECT_EQ(read.endCode, 1);
    }
}

}  // namespace
