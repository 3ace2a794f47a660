// The delimited source over the public CSV and encoding fixtures.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "support/src_support.h"

namespace {

using nlohmann::json;
using Rows = std::vector<std::vector<std::string>>;

json loadJson(const std::string& path) {
    std::ifstream in(path);
    return json::parse(in);
}

json stringFields(size_t count) {
    json fields = json::array();
    for (size_t i = 0; i < count; ++i)
        fields.push_back({"f" + std::to_string(i), "string", 1000});
    return fields;
}

Rows expectedRows(const json& rows) {
    Rows out;
    for (const auto& row : rows)
        out.push_back(row.get<std::vector<std::string>>());
    return out;
}

// A line reader cannot take a quoted field across a line end; those cases are left out here.
TEST(DelimitedConformance, ReadsTheSingleLineCsvSpectrumCases) {
    const std::string folder = std::string(TEXT_TESTDATA_DIR) + "/csv-spectrum";
    const json suite = loadJson(folder + "/expected_rows.json");
    int checked = 0;
    std::vector<std::string> multiLine;
    for (const auto& c : suite["cases"]) {
        const std::string file = c["file"];
        if (c["multiline_fields"].get<bool>()) {
            multiLine.push_back(file);
            continue;
        }
        SCOPED_TRACE(file);
        const Rows expected = expectedRows(c["rows"]);
        const json properties = {{"FILENAME", folder + "/" + file},
                                 {"FIELDS", stringFields(expected[0].size())},
                                 {"DELIMITER", ","},
                                 {"QUOTE", "\""}};
        const auto read = srctest::readSource("SOURCE_DELIMTEXT", properties, "/tmp");
        EXPECT_EQ(read.texts(), expected) << srctest::joinedTexts(read.errors());
        ++checked;
    }
    EXPECT_EQ(checked, 9);
    EXPECT_EQ(multiLine, (std::vector<std::string>{"csvs/newlines.csv", "csvs/newlines_crlf.csv",
                                                   "csvs/quotes_and_newlines.csv"}));
}

TEST(DelimitedConformance, ReadsEveryEncodingFixture) {
    const std::string folder = std::string(TEXT_TESTDATA_DIR) + "/encodings";
    const json manifest = loadJson(folder + "/manifest.json");
    for (const auto& f : manifest["files"]) {
        const std::string file = f["file"];
        const Rows expected = expectedRows(f["rows"]);
        const bool hasBom = f["has_bom"];
        json properties = {{"FILENAME", folder + "/" + file},
                           {"FIELDS", stringFields(5)},
                           {"QUOTE", "\""},
                           {"ENCODING", f["codepage"]},
                           {"BYTE_ORDER_MARK", hasBom}};
        {
            SCOPED_TRACE(file + " by its encoding number");
            const auto read = srctest::readSource("SOURCE_DELIMTEXT", properties, "/tmp");
            EXPECT_EQ(read.texts(), expected) << srctest::joinedTexts(read.errors());
        }
        if (hasBom) {
            SCOPED_TRACE(file + " detected from its byte-order mark");
            properties["ENCODING"] = -1;
            const auto read = srctest::readSource("SOURCE_DELIMTEXT", properties, "/tmp");
            EXPECT_EQ(read.texts(), expected) << srctest::joinedTexts(read.errors());
        }
    }
}

TEST(DelimitedConformance, KeepsAByteOrderMarkAsDataWhenNotAskedToHonourIt) {
    const std::string file = std::string(TEXT_TESTDATA_DIR) + "/encodings/utf8_bom.csv";
    const json properties = {
        {"FILENAME", file}, {"FIELDS", stringFields(5)}, {"QUOTE", "\""}, {"MAX_OUTPUT_ROWS", 1}};
    const auto read = srctest::readSource("SOURCE_DELIMTEXT", properties, "/tmp");
    ASSERT_EQ(read.rows.size(), 1u);
    EXPECT_EQ(read.texts()[0][0], "\xEF\xBB\xBFid");
}

}  // namespace
