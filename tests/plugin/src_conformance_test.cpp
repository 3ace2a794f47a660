// The delimited source over the public CSV and encoding fixtures.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "common/test_data.h"
#include "support/src_support.h"

namespace {

using nlohmann::json;
using Rows = std::vector<std::vector<std::string>>;

json loadJson(const std::string& path) {
    return testdata::readJson(path);
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

// Each case reads line by line and with quoted line ends; only the three cases whose quoted
// fields hold line ends need the latter.
TEST(DelimitedConformance, ReadsEveryCsvSpectrumCase) {
    const std::string folder = testdata::path("csv-edge-cases");
    const json suite = loadJson(folder + "/expected_rows.json");
    int checked = 0;
    for (const auto& c : suite["cases"]) {
        const std::string file = c["file"];
        const Rows expected = expectedRows(c["rows"]);
        json properties = {{"FILENAME", folder + "/" + file},
                           {"FIELDS", stringFields(expected[0].size())},
                           {"DELIMITER", ","},
                           {"QUOTE", "\""}};
        for (bool newlines : {false, true}) {
            if (!newlines && c["multiline_fields"].get<bool>()) continue;
            SCOPED_TRACE(file + (newlines ? " with NEWLINES_IN_VALUES" : ""));
            properties["NEWLINES_IN_VALUES"] = newlines;
            const auto read = srctest::readSource("SOURCE_DELIMTEXT", properties, "/tmp");
            EXPECT_EQ(read.texts(), expected) << srctest::joinedTexts(read.errors());
            checked += newlines ? 1 : 0;
        }
    }
    EXPECT_EQ(checked, 12);
}

TEST(DelimitedConformance, ReadsQuotedLineFeedsAndBareCarriageReturnsOfPsqlExport) {
    const std::string folder = testdata::path("commons-csv");
    const json suite = loadJson(folder + "/expected_rows.json");
    for (const auto& c : suite["extra_cases"]) {
        if (c["input"] != "CSV-290/psql.csv") continue;
        Rows expected;
        for (const auto& record : c["records"]) {
            std::vector<std::string> row;
            // An unquoted empty field and "" both read as an empty string here.
            for (const auto& value : record)
                row.push_back(value.is_null() ? "" : value);
            expected.push_back(row);
        }
        const json properties = {{"FILENAME", folder + "/CSV-290/psql.csv"},
                                 {"FIELDS", stringFields(5)},
                                 {"QUOTE", "\""},
                                 {"PRESERVE_WHITESPACE", true},
                                 {"NEWLINES_IN_VALUES", true}};
        const auto read = srctest::readSource("SOURCE_DELIMTEXT", properties, "/tmp");
        EXPECT_EQ(read.texts(), expected) << srctest::joinedTexts(read.errors());
        return;
    }
    FAIL() << "psql.csv is not among the extra cases";
}

TEST(DelimitedConformance, ReadsEveryEncodingFixture) {
    const std::string folder = testdata::path("encodings");
    const json manifest = loadJson(folder + "/manifest.json");
    for (const auto& f : manifest["files"]) {
        const std::string file = f["file"];
        const Rows expected = expectedRows(f["rows"]);
        const bool hasBom = f["has_bom"];
        json properties = {{"FILENAME", folder + "/" + file},
                           {"FIELDS", stringFields(5)},
                           {"QUOTE", "\""},
                           {"BYTE_ORDER_MARK", hasBom}};
        for (const json& encoding : {f["codepage"], f["encoding"]}) {
            SCOPED_TRACE(file + " by its encoding " + encoding.dump());
            properties["ENCODING"] = encoding;
            const auto read = srctest::readSource("SOURCE_DELIMTEXT", properties, "/tmp");
            EXPECT_EQ(read.texts(), expected) << srctest::joinedTexts(read.errors());
        }
        // Unicode files are found by their mark, or without one by the NULs of UTF-16 or 32.
        if (f["encoding"].get<std::string>().starts_with("UTF")) {
            SCOPED_TRACE(file + " detected");
            properties["ENCODING"] = -1;
            properties["BYTE_ORDER_MARK"] = true;
            const auto read = srctest::readSource("SOURCE_DELIMTEXT", properties, "/tmp");
            EXPECT_EQ(read.texts(), expected) << srctest::joinedTexts(read.errors());
        }
    }
}

TEST(DelimitedConformance, NeverReadsAUtf8ByteOrderMarkAsData) {
    const std::string file = testdata::path("encodings/utf8_bom.csv");
    for (int encoding : {-1, 0, 65001}) {
        const json properties = {
            {"FILENAME", file},     {"FIELDS", stringFields(5)}, {"QUOTE", "\""},
            {"MAX_OUTPUT_ROWS", 1}, {"BYTE_ORDER_MARK", false},  {"ENCODING", encoding}};
        const auto read = srctest::readSource("SOURCE_DELIMTEXT", properties, "/tmp");
        ASSERT_EQ(read.rows.size(), 1u) << encoding;
        EXPECT_EQ(read.texts()[0][0], "id") << encoding;
    }
}

}  // namespace
