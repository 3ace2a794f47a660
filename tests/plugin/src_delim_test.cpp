// The delimited text source driven through the host's pipeline over generated files.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "support/src_support.h"
#include "texthost/pipeline.h"

namespace {

using nlohmann::json;
using srctest::readSource;
using srctest::TempDir;
using Rows = std::vector<std::vector<std::string>>;

const char* const kSource = "SOURCE_DELIMTEXT";
const char* const kSourceFile = "src/dts_txtdelimsrc";

/// `count` string fields f0, f1, ... of MAX_LENGTH `maxLength`.
json stringFields(int count, int maxLength = 100) {
    json fields = json::array();
    for (int i = 0; i < count; ++i)
        fields.push_back({"f" + std::to_string(i), "string", maxLength});
    return fields;
}

json properties(const std::string& file, const json& fields, const json& extra = json::object()) {
    json all = {{"FILENAME", file}, {"FIELDS", fields}};
    all.update(extra);
    return all;
}

struct SplitCase {
    const char* name;
    json extra;
    std::string line;
    std::vector<std::string> expected;
    const char* warning = nullptr;  ///< a warning the start gives
};

TEST(DelimitedSource, SplitsLinesAsConfigured) {
    const SplitCase cases[] = {
        {"comma", {{"DELIMITER", ","}}, "a,b;c", {"a", "b;c"}},
        {"empty delimiter is the comma", json::object(), "a,b", {"a", "b"}},
        {"empty encoding is detected", {{"ENCODING", ""}}, "a,b", {"a", "b"}},
        {"tab by code", {{"DELIMITER", "0x09"}}, "a\tb,c", {"a", "b,c"}},
        {"semicolon by code", {{"DELIMITER", "0x3b"}}, "a;b", {"a", "b"}},
        {"code 0 is the comma", {{"DELIMITER", "0x0"}}, "a,b", {"a", "b"}},
        {"multi-byte", {{"DELIMITER", "€"}}, "a€b€c", {"a", "b"}},
        {"0X is the digit 0", {{"DELIMITER", "0X09"}}, "a0b\tc", {"a", "b\tc"}},
        {"first character only", {{"DELIMITER", ";;"}}, "a;b", {"a", "b"}},
        {"quoted delimiter and doubled quote",
         {{"QUOTE", "\""}},
         R"("a,b","say ""hi""")",
         {"a,b", "say \"hi\""}},
        {"other quote character", {{"QUOTE", "'"}}, "'x,y',z", {"x,y", "z"}},
        {"no quote character", json::object(), R"("a,b")", {"\"a", "b\""}},
        {"a quote that is the delimiter",
         {{"QUOTE", ","}},
         "a,b",
         {"a", "b"},
         "QUOTE \",\" is also the DELIMITER"},
        {"blanks trimmed", {{"QUOTE", "\""}}, "  a  ,  \" b \"  ", {"a", " b "}},
        {"blanks kept",
         {{"QUOTE", "\""}, {"PRESERVE_WHITESPACE", true}},
         "  a  ,  \"b\"",
         {"  a  ", "  \"b\""}},
        {"escapes resolved", {{"UNESCAPE_BACKSLASH", true}}, R"(a\,b\tc,d\\e)", {"a,b\tc", "d\\e"}},
        {"escapes kept", json::object(), R"(a\,b)", {"a\\", "b"}},
    };
    TempDir dir;
    for (const SplitCase& c : cases) {
        SCOPED_TRACE(c.name);
        srctest::writeFile(dir.file("in.csv"), c.line + "\n");
        const auto read =
            readSource(kSource, properties("in.csv", stringFields(2), c.extra), dir.path());
        ASSERT_TRUE(read.started) << srctest::joinedTexts(read.errors());
        EXPECT_EQ(read.texts(), Rows{c.expected});
        EXPECT_EQ(
            srctest::joinedTexts(read.warnings()).find(c.warning != nullptr ? c.warning : "QUOTE"),
            c.warning != nullptr ? 0u : std::string::npos)
            << srctest::joinedTexts(read.warnings());
    }
}

TEST(DelimitedSource, ReportsEachConfigurationErrorByNumber) {
    struct ErrorCase {
        json change;
        int number;
    };
    const ErrorCase cases[] = {
        {{{"FIELDS", json::array({{"a", "blob", 5}})}}, 268},
        {{{"FIELDS", json::array({{"a", "string", "long"}})}}, 721},
        {{{"FIELDS", json::array({{"a", "string", true}})}}, 721},  // no length, though it yields 1
        {{{"FIELDS", json::array({{"a", "string", 0}})}}, 722},
        {{{"SKIPROWS", "one"}}, 723},
        {{{"MAX_OUTPUT_ROWS", "all"}}, 270},
        {{{"MAX_OUTPUT_ROWS", true}}, 270},  // no number, though it would yield 1
        {{{"PRESERVE_WHITESPACE", "maybe"}}, 724},
        {{{"UNESCAPE_BACKSLASH", "maybe"}}, 725},
        {{{"FILENAME", ""}}, 726},
        {{{"FILENAME", "nothing*.csv"}}, 97},
        {{{"DELIMITER", "0x"}}, 57},
        {{{"DELIMITER", "0xzz"}}, 57},
        {{{"DELIMITER", "0x110000"}}, 57},
        {{{"DELIMITER", "0xD800"}}, 57},
        {{{"DELIMITER", "0xDFFF"}}, 57},
        {{{"ENCODING", "latin-9x"}}, 801},
    };
    TempDir dir;
    srctest::writeFile(dir.file("in.csv"), "1,2\n");
    for (const ErrorCase& c : cases) {
        SCOPED_TRACE(c.change.dump());
        const auto read =
            readSource(kSource, properties("in.csv", stringFields(2), c.change), dir.path());
        EXPECT_FALSE(read.started);
        EXPECT_TRUE(srctest::hasMessage(read.errors(), c.number, kSourceFile))
            << srctest::joinedTexts(read.errors());
    }
    // An integer field of MAX_LENGTH 0 is fine; a missing file is reported with the open's text.
    auto read =
        readSource(kSource, properties("in.csv", json::array({{"n", "integer", 0}})), dir.path());
    EXPECT_TRUE(read.started) << srctest::joinedTexts(read.errors());
    read = readSource(kSource, properties("missing.csv", stringFields(1)), dir.path());
    ASSERT_EQ(read.errors().size(), 1u);
    EXPECT_NE(read.errors()[0].find("missing.csv"), std::string::npos) << read.errors()[0];
}

TEST(DelimitedSource, ConvertsEachType) {
    const json fields = json::array({{"b", "boolean", 0},
                                     {"i", "integer", 0},
                                     {"r", "real", 0},
                                     {"s", "string", 3},
                                     {"d", "date", 0},
                                     {"e", "date_dmy", 0}});
    TempDir dir;
    srctest::writeFile(dir.file("in.csv"),
                       "yes,-42,1.5,abcdef,2024-02-29,31/12/2023 10:30\n"
                       ",,,,,\n"
                       "maybe,4x,1e,ééééé,2023-02-29,32/01/2023\n");
    const auto read = readSource(kSource, properties("in.csv", fields), dir.path());
    ASSERT_TRUE(read.started) << srctest::joinedTexts(read.errors());
    const Rows expected = {
        {"true", "-42", "1.5", "abc", "2024-02-29", "2023-12-31 10:30:00"},
        {"<null>", "<null>", "<null>", "", "<null>", "<null>"},
        {"<null>", "<null>", "<null>", "ééé", "<null>", "<null>"},
    };
    EXPECT_EQ(read.texts(), expected);
    const int types[] = {1, 2, 3, 4, 5, 5};
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(read.rows[0][i].getType(), types[i]) << i;
    EXPECT_EQ(read.rows[1][3].getType(), 4);  // an empty string field is a string, not null
}

TEST(DelimitedSource, ReadsEveryFileOfAPatternWithItsHeadLinesSkipped) {
    TempDir dir;
    srctest::writeFile(dir.file("part0.csv"), "");
    srctest::writeFile(dir.file("part1.csv"), "h1,h2\n1,a\n2,b\n");
    srctest::writeFile(dir.file("part2.csv"), "h1,h2\n\n3,c");
    srctest::writeFile(dir.file("other.csv"), "h1,h2\n9,z\n");
    const json extra = {{"SKIPROWS", 1}, {"FILENAME_FIELD", "SOURCE"}};
    const auto read =
        readSource(kSource, properties("part*.csv", stringFields(2), extra), dir.path());
    ASSERT_TRUE(read.started) << srctest::joinedTexts(read.errors());
    const Rows expected = {{"1", "a", "part1.csv"},
                           {"2", "b", "part1.csv"},
                           {"", "<null>", "part2.csv"},
                           {"3", "c", "part2.csv"}};
    EXPECT_EQ(read.texts(), expected);
    EXPECT_EQ(read.endCode, 1);
    EXPECT_TRUE(srctest::isRunSummary(read.infos(), "part*.csv", 4))
        << srctest::joinedTexts(read.infos());

    // A plain path carries only its file-name part.
    std::filesystem::create_directory(dir.file("sub"));
    srctest::writeFile(dir.file("sub/one.csv"), "x,y\n");
    const auto plain =
        readSource(kSource, properties("sub/one.csv", stringFields(2), extra), dir.path());
    EXPECT_EQ(plain.texts(), Rows{});
    const auto noSkip = readSource(
        kSource, properties("sub/one.csv", stringFields(2), {{"FILENAME_FIELD", "SOURCE"}}),
        dir.path());
    EXPECT_EQ(noSkip.texts(), (Rows{{"x", "y", "one.csv"}}));

    // A name that is not UTF-8 is carried as text, U+FFFD for its bad byte, with a warning.
    srctest::writeFile(dir.file("sub/m\xE4rz.csv"), "x,y\n");
    const auto latin = readSource(
        kSource, properties("sub/m*.csv", stringFields(2), {{"FILENAME_FIELD", "SOURCE"}}),
        dir.path());
    EXPECT_EQ(latin.texts(), (Rows{{"x", "y", "sub/m\xEF\xBF\xBDrz.csv"}}));
    EXPECT_NE(srctest::joinedTexts(latin.warnings()).find("is not UTF-8"), std::string::npos);
}

TEST(DelimitedSource, WarnsAboutMissingFieldsUpToTheLimit) {
    TempDir dir;
    srctest::writeFile(dir.file("in.csv"), "header\n" + srctest::linesOf(1001, [](int i) {
                                               return std::to_string(i);
                                           }));
    const auto read =
        readSource(kSource, properties("in.csv", stringFields(2), {{"SKIPROWS", 1}}), dir.path());
    ASSERT_EQ(read.rows.size(), 1001u);
    EXPECT_EQ(read.texts()[1000], (std::vector<std::string>{"1000", "<null>"}));
    const auto warnings = read.warnings();
    ASSERT_EQ(warnings.size(), 1000u);
    EXPECT_EQ(warnings[0], "Delimited text: Missing field(s) on row 1");
    EXPECT_EQ(warnings[998], "Delimited text: Missing field(s) on row 999");
    EXPECT_EQ(warnings[999], "Max warning count reached");
}

TEST(DelimitedSource, NegativeSkipRowsSkipsEveryLineAndSaysSo) {
    TempDir dir;
    srctest::writeFile(dir.file("in.csv"), "a\nb\n");
    const auto read =
        readSource(kSource, properties("in.csv", stringFields(1), {{"SKIPROWS", -1}}), dir.path());
    EXPECT_TRUE(read.rows.empty());
    ASSERT_EQ(read.warnings().size(), 1u);
    EXPECT_NE(
        read.warnings()[0].find("SKIPROWS is negative, so every line of every file is skipped"),
        std::string::npos);
}

TEST(DelimitedSource, QuotedLineEndsJoinRecordsAndMessagesCountRowsAndLines) {
    TempDir dir;
    // Skipped head lines stay physical lines even where a quote opens; rows count records.
    srctest::writeFile(dir.file("in.csv"), "\"head\nx\na,\"1\r\n2\"\nb\n\"c\n\nd\",\"e\\\"\nf\"\n");
    const json options = {{"SKIPROWS", 2},
                          {"QUOTE", "\""},
                          {"NEWLINES_IN_VALUES", true},
                          {"UNESCAPE_BACKSLASH", true}};
    const auto read =
        readSource(kSource, properties("in.csv", stringFields(2), options), dir.path());
    EXPECT_EQ(read.texts(), (Rows{{"a", "1\r\n2"}, {"b", "<null>"}, {"c\n\nd", "e\"\nf"}}))
        << srctest::joinedTexts(read.errors());
    EXPECT_EQ(read.warnings(),
              std::vector<std::string>{"Delimited text: Missing field(s) on row 2"});
    EXPECT_EQ(read.endCode, 1);

    srctest::writeFile(dir.file("open.csv"), "a,b\nc,\"d\ne\nf\n");
    const auto open = readSource(
        kSource,
        properties("open.csv", stringFields(2), {{"QUOTE", "\""}, {"NEWLINES_IN_VALUES", true}}),
        dir.path());
    EXPECT_EQ(open.texts(), (Rows{{"a", "b"}}));
    EXPECT_EQ(open.endCode, 2);
    ASSERT_EQ(open.errors().size(), 1u);
    EXPECT_NE(open.errors()[0].find(
                  "open.csv\" ends inside a quoted value: the record that starts at line 2"),
              std::string::npos)
        << open.errors()[0];

    // A quote that is a blank is trimmed with the blanks, so it joins no lines either.
    srctest::writeFile(dir.file("blank.csv"), "a, ,b\nc,d,e\n");
    const auto blank = readSource(
        kSource,
        properties("blank.csv", stringFields(3), {{"QUOTE", " "}, {"NEWLINES_IN_VALUES", true}}),
        dir.path());
    EXPECT_EQ(blank.texts(), (Rows{{"a", "", "b"}, {"c", "d", "e"}}));
}

TEST(DelimitedSource, AQuotedLineEndIsOneLineInTheLineNumbersOfLaterMessages) {
    struct Case {
        const char* name;
        std::string text;
        const char* message;
    };
    const Case cases[] = {
        {"CR LF then an open quote", "a,\"1\r\n2\"\r\nb,2\r\nc,\"d\r\ne\r\n",
         "the record that starts at line 4"},
        {"lone CR then an open quote", "a,\"1\r2\"\rb,2\rc,\"d\re\r",
         "the record that starts at line 4"},
        {"CR LF then a byte that is not UTF-8", "a,\"1\r\n\r\n2\"\r\nb,\xFF\r\n", "at line 4"},
    };
    TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        srctest::writeFile(dir.file("in.csv"), c.text);
        const auto read = readSource(
            kSource,
            properties("in.csv", stringFields(2), {{"QUOTE", "\""}, {"NEWLINES_IN_VALUES", true}}),
            dir.path());
        ASSERT_EQ(read.errors().size(), 1u) << srctest::joinedTexts(read.errors());
        EXPECT_NE(read.errors()[0].find(c.message), std::string::npos) << read.errors()[0];
    }
}

TEST(DelimitedSource, StopsAtTheRowLimit) {
    TempDir dir;
    srctest::writeFile(dir.file("in.csv"),
                       srctest::linesOf(10, [](int i) { return std::to_string(i); }));
    texthost::Pipeline pipeline(srctest::sourceJob(
        kSource, properties("in.csv", stringFields(1), {{"MAX_OUTPUT_ROWS", 5}}), dir.path()));
    ASSERT_TRUE(pipeline.prepareAndStart());
    for (int i = 0; i < 5; ++i)
        ASSERT_EQ(pipeline.pull(), 0);
    EXPECT_EQ(srctest::text(srctest::outputItem(pipeline, 0).value), "4");
    EXPECT_EQ(pipeline.pull(), 1);
    StepPluginStep* step = pipeline.step(0);
    EXPECT_EQ(step->processRow(0), 1);
    uint64_t total = 0;
    EXPECT_TRUE(step->getProgress(&total));
    EXPECT_EQ(total, 5u);
    const auto status = srctest::statusOf(step);
    EXPECT_EQ(status.percent, 100);
    EXPECT_EQ(status.text, "Complete");

    const auto all = readSource(
        kSource, properties("in.csv", stringFields(1), {{"MAX_OUTPUT_ROWS", -1}}), dir.path());
    EXPECT_EQ(all.rows.size(), 10u);
}

TEST(DelimitedSource, DeclaresByteSizesFromTheProbedEncoding) {
    TempDir dir;
    srctest::writeFile(dir.file("utf16.csv"), std::string("\xFF\xFE"
                                                          "a\0,\0b\0\n\0",
                                                          10));
    srctest::writeFile(dir.file("plain.csv"), "a,b\n");
    struct ProbeCase {
        const char* file;
        json extra;
        int byteSize;
    };
    const ProbeCase cases[] = {
        // UTF-16 takes up to 4 bytes per character (a surrogate pair), Shift-JIS up to 2.
        {"utf16.csv", {{"BYTE_ORDER_MARK", true}}, 40},
        {"missing.csv", {{"ENCODING", 932}}, 20},
        {"plain.csv", json::object(), 40},
        {"missing.csv", json::object(), 40},
        {"missing.csv", {{"ENCODING", 28591}}, 10},
        {"missing.csv", {{"ENCODING", "latin1"}}, 10},
        {"missing.csv", {{"ENCODING", "Shift_JIS"}}, 20},
        {"missing.csv", {{"ENCODING", "no such"}}, 40},
        {"missing.csv", {{"ENCODING", ""}}, 40},
    };
    for (const ProbeCase& c : cases) {
        SCOPED_TRACE(std::string(c.file) + " " + c.extra.dump());
        json extra = c.extra;
        extra["FILENAME_FIELD"] = "SOURCE";
        texthost::Pipeline pipeline(srctest::sourceJob(
            kSource, properties(c.file, stringFields(1, 10), extra), dir.path()));
        pipeline.prepareAndStart();
        ASSERT_NE(pipeline.outputItems(0), nullptr);
        EXPECT_EQ(srctest::outputItem(pipeline, 0).length, 10);
        EXPECT_EQ(srctest::outputItem(pipeline, 0).byteSize, c.byteSize);
        EXPECT_EQ(srctest::outputItem(pipeline, 1).length, 256);
        EXPECT_EQ(srctest::outputItem(pipeline, 1).byteSize, 1024);
    }
}

TEST(DelimitedSource, StatusAndProgressFollowTheFile) {
    TempDir dir;
    struct SizeCase {
        uint64_t size;
        std::string text;
    };
    const SizeCase cases[] = {
        {31622776, "Read 0/31 MB (0 rows)"},
        {31622775, "Read 0/31622 KB (0 rows)"},
        {0, "Read 0/0 KB (0 rows)"},
    };
    for (const SizeCase& c : cases) {
        srctest::writeSparseFile(dir.file("big.csv"), c.size);
        texthost::Pipeline pipeline(
            srctest::sourceJob(kSource, properties("big.csv", stringFields(1)), dir.path()));
        ASSERT_TRUE(pipeline.prepareAndStart());
        const auto status = srctest::statusOf(pipeline.step(0));
        EXPECT_EQ(status.percent, 0);
        EXPECT_EQ(status.text, c.text);
        EXPECT_TRUE(status.ok);
        uint64_t total = 7;
        EXPECT_FALSE(pipeline.step(0)->getProgress(&total));
        EXPECT_EQ(total, 0u);
    }
}

TEST(DelimitedSource, NeverTouchesAFileThatIsNotOpen) {
    TempDir dir;
    srctest::writeFile(dir.file("in.csv"), "1\n2\n3\n");
    // After a failed start.
    texthost::Pipeline failed(
        srctest::sourceJob(kSource, properties("missing.csv", stringFields(1)), dir.path()));
    EXPECT_FALSE(failed.prepareAndStart());
    StepPluginStep* step = failed.step(0);
    EXPECT_EQ(step->processRow(0), 1);
    const auto status = srctest::statusOf(step);
    EXPECT_EQ(status.percent, 0);
    EXPECT_EQ(status.text, "Read 0 rows");
    uint64_t total = 7;
    EXPECT_FALSE(step->getProgress(&total));

    // A second start in the middle of a run begins again at the first line.
    texthost::Pipeline again(
        srctest::sourceJob(kSource, properties("in.csv", stringFields(1)), dir.path()));
    ASSERT_TRUE(again.prepareAndStart());
    ASSERT_EQ(again.pull(), 0);
    ASSERT_EQ(again.pull(), 0);
    ASSERT_TRUE(again.step(0)->start());
    ASSERT_EQ(again.step(0)->processRow(0), 0);
    EXPECT_EQ(srctest::text(srctest::outputItem(again, 0).value), "1");
}

TEST(DelimitedSource, StopsWhenTheHostSaysSo) {
    TempDir dir;
    srctest::writeFile(dir.file("in.csv"),
                       srctest::linesOf(2500, [](int i) { return std::to_string(i); }));
    texthost::Pipeline pipeline(
        srctest::sourceJob(kSource, properties("in.csv", stringFields(1)), dir.path()));
    ASSERT_TRUE(pipeline.prepareAndStart());
    texthost::requestStop();
    int pulled = 0;
    while (pipeline.pull() == 0)
        ++pulled;
    texthost::clearStopRequest();
    // The row the source stopped at (its 1000th) is handed on too.
    EXPECT_EQ(pulled, 1000);
    std::vector<std::string> errors;
    for (const auto& m : pipeline.messages()) {
        if (m.kind == texthost::RunMessage::Kind::Error) errors.push_back(m.text);
    }
    EXPECT_TRUE(srctest::hasMessage(errors, 421, kSourceFile)) << srctest::joinedTexts(errors);
}

TEST(DelimitedSource, GrowsItsLineBufferForLongLines) {
    TempDir dir;
    const std::string longField(5000, 'x');
    srctest::writeFile(dir.file("in.csv"), "a,b\n" + longField + ",c\nd,e\n");
    const auto read = readSource(kSource, properties("in.csv", stringFields(2, 6000)), dir.path());
    EXPECT_EQ(read.texts(), (Rows{{"a", "b"}, {longField, "c"}, {"d", "e"}}));
}

}  // namespace
