// DEST_DELIMTEXT: line shapes, delimiters, line ends, append, runs that write nothing.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "../../runtime/value_text.h"
#include "../../src/dest_value_text.h"
#include "common/printable.h"
#include "support/dest_support.h"
#include "texthost/pipeline.h"

using nlohmann::json;
using namespace desttest;

namespace {

struct Outcome {
    texthost::RunReport report;
    std::string output;
    bool created = false;
};

/// Runs test rows into a DEST_DELIMTEXT step with `properties` (FILENAME added) and reads the
/// file back.
Outcome runDelim(const TempDir& dir, TestRows rows, json properties,
                 const std::string& destType = "DEST_DELIMTEXT") {
    texthost::RunOptions options;
    options.extraSteps = {rowSource("ROWS", std::move(rows)),
                          lenientStep("LENIENT_DELIM", "DEST_DELIMTEXT")};
    const std::string out = dir.file("out.csv");
    if (!properties.contains("FILENAME")) properties["FILENAME"] = out;
    const json steps = {{{"type", "ROWS"}},
                        {{"type", destType}, {"name", "dest"}, {"properties", properties}}};
    Outcome run;
    run.report = runJobFile(dir, steps, options);
    run.created = fileExists(out);
    run.output = readFile(out);
    return run;
}

TestRows twoStrings() {
    return {{{"a", mvbTypeString}, {"b", mvbTypeString}}, {{text("a"), text("b")}}};
}

struct ShapeCase {
    const char* name;
    TestRows rows;
    json properties;
    std::string expected;
};

TEST(DelimDest, LineShapes) {
    const json ab = fieldsTable({{"s", "S"}, {"n", "N"}});
    const std::vector<ShapeCase> cases = {
        {"delimiter inside a qualified string; integer unqualified",
         {{{"s", mvbTypeString}, {"n", mvbTypeInteger}}, {{text("a,b"), integer(5)}}},
         {{"FIELDS", ab}, {"QUALIFIER", "\""}},
         "\"a,b\",5\n"},
        {"null string: no qualifiers, no bytes",
         {{{"s", mvbTypeString}, {"n", mvbTypeInteger}}, {{null(), integer(5)}}},
         {{"FIELDS", ab}, {"QUALIFIER", "\""}},
         ",5\n"},
        {"reals never qualified; dates and booleans qualified; null integer empty",
         {{{"r", mvbTypeReal}, {"d", mvbTypeDate}, {"b", mvbTypeBoolean}, {"n", mvbTypeInteger}},
          {{real(2.5), date(2024, 3, 7), boolean(true), null()}}},
         {{"FIELDS", fieldsTable({{"r", ""}, {"d", ""}, {"b", ""}, {"n", ""}})},
          {"QUALIFIER", "\""}},
         "2.5,\"2024-03-07\",\"true\",\n"},
        {"a qualifier that a date or a boolean holds is doubled in them too",
         {{{"d", mvbTypeDate}, {"b", mvbTypeBoolean}}, {{date(2021, 1, 1), boolean(true)}}},
         {{"FIELDS", fieldsTable({{"d", ""}, {"b", ""}})}, {"QUALIFIER", "1"}},
         "120211-011-0111,1true1\n"},
        {"qualifier inside a value is doubled; empty string is qualified",
         {{{"s", mvbTypeString}, {"e", mvbTypeString}}, {{text("say \"hi\""), text("")}}},
         {{"FIELDS", fieldsTable({{"s", ""}, {"e", ""}})}, {"QUALIFIER", "\""}},
         "\"say \"\"hi\"\"\",\"\"\n"},
        {"value ending in the qualifier, then another field",
         {{{"s", mvbTypeString}, {"t", mvbTypeString}}, {{text("5\""), text("x")}}},
         {{"FIELDS", fieldsTable({{"s", ""}, {"t", ""}})}, {"QUALIFIER", "\""}},
         "\"5\"\"\",\"x\"\n"},
        {"multi-character qualifier doubled as a whole",
         {{{"s", mvbTypeString}}, {{text("x##y")}}},
         {{"FIELDS", fieldsTable({{"s", ""}})}, {"QUALIFIER", "##"}},
         "##x####y##\n"},
        {"no qualifier: values written as they are",
         {{{"s", mvbTypeString}, {"n", mvbTypeInteger}}, {{text(" a,b "), integer(-7)}}},
         {{"FIELDS", ab}},
         " a,b ,-7\n"},
        {"header always qualified, numeric fields too; empty OUTPUTNAME",
         {{{"x", mvbTypeInteger}, {"y", mvbTypeInteger}}, {{integer(1), integer(2)}}},
         {{"FIELDS", fieldsTable({{"x", "X"}, {"y", ""}})},
          {"QUALIFIER", "'"},
          {"INCLUDE_HEADER", true}},
         "'X',''\n1,2\n"},
        {"one field whose first values are empty: empty lines, also under the header",
         {{{"s", mvbTypeString}}, {{text("")}, {null()}, {text("z")}}},
         {{"FIELDS", fieldsTable({{"s", ""}})}, {"INCLUDE_HEADER", true}},
         "\n\n\nz\n"},
        {"one empty field with a qualifier: an empty value qualified, not a blank line; the "
         "header of one empty name too",
         {{{"s", mvbTypeString}}, {{text("")}, {null()}, {text("z")}}},
         {{"FIELDS", fieldsTable({{"s", ""}})},
          {"QUALIFIER", "\""},
          {"QUOTE_WHEN_NEEDED", true},
          {"INCLUDE_HEADER", true}},
         "\"\"\n\"\"\n\"\"\nz\n"},
        {"a value ending in the start of a delimiter that overlaps itself is qualified when "
         "needed; one starting with the delimiter's end is read whole as it is",
         {{{"s", mvbTypeString}, {"t", mvbTypeString}, {"u", mvbTypeString}},
          {{text("a|"), text("|b"), text("c")}}},
         {{"FIELDS", fieldsTable({{"s", ""}, {"t", ""}, {"u", ""}})},
          {"DELIMITER", "||"},
          {"QUOTE_WHEN_NEEDED", true}},
         "\"a|\"|||b||c\n"},
        {"FIELDS order chooses the columns",
         {{{"a", mvbTypeString}, {"b", mvbTypeInteger}}, {{text("p"), integer(9)}}},
         {{"FIELDS", fieldsTable({{"b", ""}, {"a", ""}, {"b", ""}})}},
         "9,p,9\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const Outcome run = runDelim(dir, c.rows, c.properties);
        ASSERT_TRUE(run.report.ok) << joined(run.report.errors());
        EXPECT_EQ(run.output, c.expected);
    }
}

// The qualifier is looked for eight bytes at a time and then byte by byte: a mark in any
// place of a text of 0 to 19 bytes, or none, must be doubled exactly where it is.
TEST(DelimDest, QualifierFoundInEveryPlace) {
    std::vector<std::vector<MvbDatavar>> rows;
    std::string expected;
    for (size_t size = 0; size < 20; ++size) {
        for (size_t mark = 0; mark <= size; ++mark) {
            std::string value(size, 'x');
            std::string written = "'" + value + "'";
            if (mark < size) {
                value[mark] = '\'';
                written = "'" + value.substr(0, mark) + "''" + value.substr(mark + 1) + "'";
            }
            rows.push_back({text(value.c_str())});
            expected += written + "\n";
        }
    }
    TempDir dir;
    const Outcome run = runDelim(dir, {{{"s", mvbTypeString}}, rows},
                                 {{"FIELDS", fieldsTable({{"s", ""}})}, {"QUALIFIER", "'"}});
    ASSERT_TRUE(run.report.ok) << joined(run.report.errors());
    EXPECT_EQ(run.output, expected);
}

// Lines are built where the file writes them; one longer than the room the file lends moves to
// the step's own storage on the way, and the lines around it stay whole and in order.
TEST(DelimDest, LineLongerThanTheFilesRoom) {
    const std::string longText(100000, 'x');
    TempDir dir;
    const Outcome run = runDelim(
        dir,
        {{{"s", mvbTypeString}, {"n", mvbTypeInteger}},
         {{text("a"), integer(1)}, {text(longText.c_str()), integer(2)}, {text("b"), integer(3)}}},
        {{"FIELDS", fieldsTable({{"s", ""}, {"n", ""}})}, {"QUALIFIER", "\""}});
    ASSERT_TRUE(run.report.ok) << joined(run.report.errors());
    EXPECT_EQ(run.output, "\"a\",1\n\"" + longText + "\",2\n\"b\",3\n");
}

TEST(DelimDest, SevenCharacterLine) {
    TempDir dir;
    const Outcome run =
        runDelim(dir, {{{"s", mvbTypeString}, {"n", mvbTypeInteger}}, {{text("a,b"), integer(5)}}},
                 {{"FIELDS", fieldsTable({{"s", ""}, {"n", ""}})}, {"QUALIFIER", "\""}});
    ASSERT_TRUE(run.report.ok) << joined(run.report.errors());
    EXPECT_EQ(run.output.substr(0, run.output.find('\n')).size(), 7u);
}

TEST(DelimDest, Delimiters) {
    const std::vector<std::pair<json, std::string>> cases = {
        {"", "a,b\n"},
        {"0x09", "a\tb\n"},
        {"0X09", "a0X09b\n"},
        {"||", "a||b\n"},
        {"0x2Cqq", "a,b\n"},
        {"0x0", "a,b\n"},
        {"0xe9",
         "a\xC3\xA9"
         "b\n"},
        {";", "a;b\n"},
        // The characters on both sides of the surrogates.
        {"0xD7FF",
         "a\xED\x9F\xBF"
         "b\n"},
        {"0xE000",
         "a\xEE\x80\x80"
         "b\n"},
    };
    for (const auto& [delimiter, expected] : cases) {
        SCOPED_TRACE(delimiter.dump());
        TempDir dir;
        const Outcome run =
            runDelim(dir, twoStrings(),
                     {{"FIELDS", fieldsTable({{"a", ""}, {"b", ""}})}, {"DELIMITER", delimiter}});
        ASSERT_TRUE(run.report.ok) << joined(run.report.errors());
        EXPECT_EQ(run.output, expected);
    }
}

// Settings with which the file does not read back as written are written as asked, with a
// warning: a header name that holds the delimiter without a qualifier, a delimiter that shares
// characters with the qualifier, holds a line end or spells a character's name, and a number
// (never enclosed) that begins with the qualifier or holds the delimiter, counted as a value the
// file cannot hold (816), with the setting that helps.
TEST(DelimDest, SettingsThatDoNotReadBackAreWarnedOf) {
    const std::vector<std::pair<json, std::string>> cases = {
        {{{"INCLUDE_HEADER", true}, {"FIELDS", fieldsTable({{"a", "x, y"}, {"b", "z"}})}},
         "Header name \"x, y\" holds the delimiter"},
        {{{"QUALIFIER", ","}}, "DELIMITER \",\" and QUALIFIER \",\" share characters"},
        {{{"DELIMITER", "ab"}, {"QUALIFIER", "a"}}, "share characters"},
        {{{"DELIMITER", "0x0A"}}, "holds a line end"},
        {{{"QUALIFIER", "\r"}}, "QUALIFIER \"\\r\" holds a line end"},
        {{{"DELIMITER", "Tab"}}, "DELIMITER \"Tab\" is written as those 3 characters"},
        {{{"DELIMITER", "||"}}, "DELIMITER \"||\" is 2 characters, written whole"},
        {{{"QUALIFIER", "<>"}}, "QUALIFIER \"<>\" is 2 characters, written whole"},
        {{{"QUALIFIER", "7"}}, "Text Plugin 816: Row 1, field \"a\": \"7\" holds the qualifier"},
        {{{"DELIMITER", "7"}, {"QUALIFIER", "\""}},
         "(set QUOTE_WHEN_NEEDED, or choose a DELIMITER"},
        {{{"INCLUDE_HEADER", true}, {"QUALIFIER", "\""}}, ""},
    };
    const TestRows rows = {{{"a", mvbTypeInteger}, {"b", mvbTypeString}},
                           {{integer(7), text("b")}}};
    for (auto [properties, warning] : cases) {
        SCOPED_TRACE(properties.dump());
        TempDir dir;
        if (!properties.contains("FIELDS"))
            properties["FIELDS"] = fieldsTable({{"a", ""}, {"b", ""}});
        const Outcome run = runDelim(dir, rows, properties);
        ASSERT_TRUE(run.report.ok) << joined(run.report.errors());
        EXPECT_EQ(joined(run.report.warnings()).find(warning) != std::string::npos &&
                      !run.report.warnings().empty(),
                  !warning.empty())
            << joined(run.report.warnings());
    }
}

// A NUL in a text another step gives is written, but warned of: a reader stops at it.
TEST(DelimDest, ATextHoldingANulIsWarnedOf) {
    MvbDatavar withNul;
    withNul.assign(std::string_view("be\0fore", 7));
    const TestRows rows = {{{"a", mvbTypeString}, {"b", mvbTypeString}}, {{withNul, text("b")}}};
    TempDir dir;
    const Outcome run = runDelim(dir, rows, {{"FIELDS", fieldsTable({{"a", ""}, {"b", ""}})}});
    ASSERT_TRUE(run.report.ok) << joined(run.report.errors());
    EXPECT_TRUE(anyContains(run.report.warnings(),
                            "Text Plugin 816: Row 1, field \"a\": \"be\\0fore\" holds a NUL "
                            "character"))
        << joined(run.report.warnings());
}

TEST(DelimDest, HexDelimiterWithoutCodeFailsWith57) {
    for (const char* delimiter : {"0x", "0xZ", "0x110000", "0xD800", "0xDFFF"}) {
        SCOPED_TRACE(delimiter);
        TempDir dir;
        const Outcome run =
            runDelim(dir, twoStrings(),
                     {{"FIELDS", fieldsTable({{"a", ""}, {"b", ""}})}, {"DELIMITER", delimiter}});
        EXPECT_FALSE(run.report.ok);
        EXPECT_TRUE(anyContains(run.report.errors(), "Text Plugin 57:"))
            << joined(run.report.errors());
        EXPECT_TRUE(anyContains(run.report.errors(), "src/dts_txtdelimdest:"));
        EXPECT_FALSE(run.created);
    }
}

TEST(DelimDest, EndOfLine) {
    const std::vector<std::pair<json, std::string>> cases = {
        {1, "a\rb\r"},
        {2, "a\nb\n"},
        {3, "a\r\nb\r\n"},
        {4, "a\nb\n"},
        {0, "a\nb\n"},
        {7, "a\nb\n"},
        {"three", "a\nb\n"},
        // A JSON boolean is no number: read as 0, not as the 1 (CR) it yields.
        {true, "a\nb\n"},
    };
    for (const auto& [endOfLine, expected] : cases) {
        SCOPED_TRACE(endOfLine.dump());
        TempDir dir;
        const Outcome run =
            runDelim(dir, {{{"a", mvbTypeString}}, {{text("a")}, {text("b")}}},
                     {{"FIELDS", fieldsTable({{"a", ""}})}, {"END_OF_LINE", endOfLine}});
        ASSERT_TRUE(run.report.ok) << joined(run.report.errors());
        EXPECT_EQ(run.output, expected);
    }
}

TEST(DelimDest, AppendAddsARunWithItsHeaderAndSaysAppended) {
    TempDir dir;
    const TestRows rows = {{{"a", mvbTypeString}}, {{text("x")}, {text("y")}, {text("z")}}};
    const json properties = {{"FIELDS", fieldsTable({{"a", "A"}})}, {"INCLUDE_HEADER", true}};
    json appending = properties;
    appending["APPEND"] = true;

    const Outcome first = runDelim(dir, rows, properties);
    ASSERT_TRUE(first.report.ok) << joined(first.report.errors());
    EXPECT_EQ(first.report.infos(),
              std::vector<std::string>{"Wrote 3 rows to text file " + dir.file("out.csv")});

    const Outcome second = runDelim(dir, rows, appending);
    ASSERT_TRUE(second.report.ok) << joined(second.report.errors());
    EXPECT_EQ(second.output, "A\nx\ny\nz\nA\nx\ny\nz\n");
    EXPECT_EQ(second.report.infos(),
              std::vector<std::string>{"Appended 3 rows to text file " + dir.file("out.csv")});

    const Outcome replaced = runDelim(dir, rows, properties);
    EXPECT_EQ(replaced.output, "A\nx\ny\nz\n");
}

// Lines whose strings prove to be UTF-8 as they are copied skip the file's own check; a string
// that is not UTF-8 must still fail the run, wherever its bad bytes sit (within the first eight
// bytes, in the tail after whole words, after good multi-byte characters), qualified or not.
TEST(DelimDest, StringThatIsNotUtf8FailsTheRun) {
    const std::string bad[] = {"ab\xFF",   "abcdefghij\xFF", "K\xC3\xB6ln\xC3",
                               "\xC0\xAF", "x\xED\xA0\x80",  "Malm\xC3\xB6 \x80xyz12345"};
    for (const std::string& value : bad) {
        for (const bool qualified : {true, false}) {
            SCOPED_TRACE(testfiles::printable(value) + (qualified ? " qualified" : " plain"));
            TempDir dir;
            json properties = {{"FIELDS", fieldsTable({{"s", "S"}})}};
            if (qualified) properties["QUALIFIER"] = "\"";
            const Outcome run = runDelim(
                dir,
                {{{"s", mvbTypeString}}, {{text("ok")}, {text(value.c_str())}, {text("later")}}},
                properties);
            EXPECT_FALSE(run.report.ok);
            EXPECT_TRUE(anyContains(run.report.errors(), "not valid UTF-8"))
                << joined(run.report.errors());
            EXPECT_EQ(run.output.find("later"), std::string::npos);
        }
    }
}

TEST(DelimDest, RunWithoutRowsCreatesNoFile) {
    TempDir dir;
    const Outcome run = runDelim(dir, {{{"a", mvbTypeString}}, {}},
                                 {{"FIELDS", fieldsTable({{"a", "A"}})}, {"INCLUDE_HEADER", true}});
    ASSERT_TRUE(run.report.ok) << joined(run.report.errors());
    EXPECT_FALSE(run.created);
    EXPECT_EQ(run.report.infos(),
              std::vector<std::string>{"Wrote 0 rows to text file " + dir.file("out.csv")});
    EXPECT_EQ(
        run.report.warnings(),
        std::vector<std::string>{"No rows came, so " + dir.file("out.csv") + " was not written"});

    // A file an earlier run wrote is left as it is, and the run says so; one appended to is not
    // said to hold anything else.
    testfiles::writeFile(dir.file("out.csv"), "old\n");
    for (const bool append : {false, true}) {
        const Outcome again = runDelim(dir, {{{"a", mvbTypeString}}, {}},
                                       {{"FIELDS", fieldsTable({{"a", "A"}})}, {"APPEND", append}});
        EXPECT_EQ(again.output, "old\n");
        const std::vector<std::string> warned{
            "No rows came, so " + dir.file("out.csv") +
            " was left as it was: it holds what an earlier run wrote, not this run's output"};
        EXPECT_EQ(again.report.warnings(), append ? std::vector<std::string>{} : warned);
    }
}

TEST(DelimDest, ACharacterTheEncodingLacksNamesItsRow) {
    TempDir dir;
    const Outcome run = runDelim(
        dir, {{{"s", mvbTypeString}}, {{text("ok")}, {text("Zo\xc3\xab \xe2\x86\x92 Ann")}}},
        {{"FIELDS", fieldsTable({{"s", ""}})}, {"ENCODING", "latin1"}});
    EXPECT_FALSE(run.report.ok);
    EXPECT_TRUE(anyContains(run.report.errors(), "cannot write character U+2192"))
        << joined(run.report.errors());
    EXPECT_TRUE(anyContains(run.report.errors(), "(writing row 2)")) << joined(run.report.errors());
}

TEST(DelimDest, UnboundFieldIsAnEmptyField) {
    TempDir dir;
    const Outcome run = runDelim(
        dir, {{{"s", mvbTypeString}, {"n", mvbTypeInteger}}, {{text("x"), integer(5)}}},
        {{"FIELDS", fieldsTable({{"s", ""}, {"missing", ""}, {"n", ""}})}, {"QUALIFIER", "\""}},
        "LENIENT_DELIM");
    ASSERT_TRUE(run.report.ok) << joined(run.report.errors());
    EXPECT_EQ(run.output, "\"x\",,5\n");
}

TEST(DelimDest, UnknownFieldNameFailsValidationWith311) {
    TempDir dir;
    const Outcome run =
        runDelim(dir, twoStrings(), {{"FIELDS", fieldsTable({{"a", ""}, {"nope", ""}})}});
    EXPECT_FALSE(run.report.ok);
    EXPECT_TRUE(anyContains(run.report.errors(), "Text Plugin 311:"));
    EXPECT_TRUE(anyContains(run.report.errors(), "nope"));
}

TEST(DelimDest, StartChecksFileNameAndHeaderFlag) {
    const std::vector<std::pair<json, std::string>> cases = {
        {{{"FILENAME", ""}}, "Text Plugin 304:"},
        {{{"INCLUDE_HEADER", "maybe"}}, "Text Plugin 729:"},
        // Read leniently as false, it would replace the file it means to add to.
        {{{"APPEND", "on"}}, "Text Plugin 832:"},
        {{{"INCLUDE_HEADER", 2}}, "Text Plugin 729:"},
        {{{"ENCODING", "utf-9"}}, "Text Plugin 801:"},
        {{{"FILENAME", "/nonexistent-dir/out.csv"}}, "/nonexistent-dir/out.csv"},
    };
    for (const auto& [extra, expected] : cases) {
        SCOPED_TRACE(expected);
        TempDir dir;
        json properties = {{"FIELDS", fieldsTable({{"a", ""}})}};
        for (const auto& [key, value] : extra.items())
            properties[key] = value;
        const Outcome run = runDelim(dir, twoStrings(), properties);
        EXPECT_FALSE(run.report.ok);
        EXPECT_TRUE(anyContains(run.report.errors(), expected)) << joined(run.report.errors());
    }
}

TEST(DelimDest, DryRunPassesRowsOnAndWritesNothing) {
    TempDir dir;
    texthost::RunOptions options;
    options.runMode = 0;
    options.extraSteps = {rowSource("ROWS", twoStrings())};
    const json job = {
        {"steps",
         {{{"type", "ROWS"}},
          {{"type", "DEST_DELIMTEXT"},
           {"properties",
            {{"FILENAME", dir.file("out.csv")}, {"FIELDS", fieldsTable({{"a", ""}})}}}},
          {{"type", "DEST_FIXEDTEXT"},
           {"properties", {{"FILENAME", ""}, {"FIELDS", fieldsTable({{"b", 3}}, "WIDTH")}}}}}}};
    texthost::Pipeline pipeline(texthost::parseJobText(job.dump(), dir.path()), options);
    ASSERT_TRUE(pipeline.prepareAndStart());
    ASSERT_EQ(pipeline.pull(), 0);
    // The row reached the last step unchanged through the first destination.
    EXPECT_EQ(pipeline.outputItems(2)->items[1].value.asString().view(), "b");
    ASSERT_EQ(pipeline.pull(), 1);
    const auto status = pipeline.status();
    EXPECT_EQ(status.at(1).text, "Read 1 rows");
    EXPECT_EQ(status.at(1).percent, 100);
    EXPECT_EQ(status.at(2).text, "Read 1 rows");
    pipeline.finish();
    EXPECT_FALSE(fileExists(dir.file("out.csv")));
    for (const auto& m : pipeline.messages()) {
        EXPECT_NE(m.kind, texthost::RunMessage::Kind::Info) << m.text;
    }
}

TEST(DelimDest, StatusCountsWrittenRows) {
    TempDir dir;
    texthost::RunOptions options;
    TestRows rows = {{{"a", mvbTypeString}}, {{text("1")}, {text("2")}, {text("3")}, {text("4")}}};
    rows.countKnown = true;
    options.extraSteps = {rowSource("ROWS", rows)};
    const json job = {
        {"steps",
         {{{"type", "ROWS"}},
          {{"type", "DEST_DELIMTEXT"},
           {"properties",
            {{"FILENAME", dir.file("out.csv")}, {"FIELDS", fieldsTable({{"a", ""}})}}}}}}};
    texthost::Pipeline pipeline(texthost::parseJobText(job.dump(), dir.path()), options);
    ASSERT_TRUE(pipeline.prepareAndStart());
    EXPECT_EQ(pipeline.status().at(1).text, "Written 0 rows");
    ASSERT_EQ(pipeline.pull(), 0);
    const auto afterOne = pipeline.status().at(1);
    EXPECT_EQ(afterOne.text, "Written 1 rows");
    EXPECT_EQ(afterOne.percent, 25);
    uint64_t total = 0;
    EXPECT_TRUE(pipeline.step(1)->getProgress(&total));
    EXPECT_EQ(total, 4u);
}

}  // namespace

namespace {

std::string shortestText(double value) {
    char bytes[64];
    return std::string(bytes, static_cast<size_t>(mvb::text::formatRealGeneral(value, bytes)));
}

std::string writtenText(double value) {
    ValueTextBuffer buffer;
    const MvbDatavar var(value);
    return std::string(destValueText(&var, buffer));
}

// Reals are written with the shortest digits that read back, as the runtime's general real
// formatter lays them out; the short texts most data holds take a quicker path that must agree
// with it exactly, also at the edges of that path's range.
TEST(DelimDest, RealsAsTheirShortestText) {
    std::vector<double> values = {0.0,
                                  -0.0,
                                  0.5,
                                  -2.25,
                                  0.1,
                                  0.2,
                                  0.1 + 0.2,
                                  1.0 / 3,
                                  1e-3,
                                  0.00099999999999999,
                                  1e-4,
                                  0.0012,
                                  0.00012,
                                  123456.0,
                                  100000.0,
                                  10000.0,
                                  1e6,
                                  1500.0,
                                  1e14,
                                  1e15,
                                  999999999999999.9,
                                  1e15 - 1,
                                  123456789012345.6,
                                  9007199254740993.0,
                                  4503599627370497.5,
                                  0.9999999999999999,
                                  5e-324,
                                  std::numeric_limits<double>::max(),
                                  std::numeric_limits<double>::infinity(),
                                  std::numeric_limits<double>::quiet_NaN(),
                                  1234.5678,
                                  7.0e-3,
                                  0.000123456789012345};
    std::mt19937_64 random(20240607);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    for (int i = 0; i < 200000; ++i) {
        // Decimals of up to 17 digits at magnitudes from 1e-6 to 1e17, as data holds them, and
        // arbitrary bit patterns.
        const int fraction = static_cast<int>(random() % 10);
        const double magnitude = std::pow(10.0, static_cast<int>(random() % 24) - 6);
        const double scale = std::pow(10.0, fraction);
        values.push_back(std::round(unit(random) * magnitude * scale) / scale);
        values.push_back(-std::round(unit(random) * scale * 1e4) / scale);
        const uint64_t bits = random();
        double any = 0;
        std::memcpy(&any, &bits, sizeof any);
        values.push_back(any);
    }
    for (const double value : values) {
        const std::string expected = shortestText(value);
        ASSERT_EQ(writtenText(value), expected) << expected;
    }
}

}  // namespace
