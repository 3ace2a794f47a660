// The fixed-width text source driven through the host's pipeline over generated files.
#include <gtest/gtest.h>

#include <algorithm>
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

const char* const kSource = "SOURCE_FIXEDTEXT";
const char* const kSourceFile = "src/dts_txtfixedsrc";

/// The layout of the record ABCDE--XYZ!!: a at 1 for 5, b at 8 for 3.
json twoFields() {
    return json::array({{"a", "string", 1, 5}, {"b", "string", 8, 3}});
}

json properties(const std::string& file, const json& fields, int width, bool lineMode,
                const json& extra = json::object()) {
    json all = {{"FILENAME", file},
                {"FIELDS", fields},
                {"RECORDWIDTH", width},
                {"CRLF_TERMINATE", lineMode}};
    all.update(extra);
    return all;
}

// A field's edge that cuts a character leaves a replacement for each part of it, and a warning
// (a value not kept as read) for each field that holds one: in records of UTF-16 units, and in
// lines of UTF-8, where the line is read field by field.
TEST(FixedWidthSource, FieldsThatCutACharacterKeepAReplacementForEachPartAndWarn) {
    TempDir dir;
    std::string bytes;
    for (char c : std::string("abcdef"))
        bytes += std::string{c, '\0'};
    srctest::writeFile(dir.file("cut.dat"), bytes);
    srctest::writeFile(dir.file("cut.txt"), "ab\xE4\xB8\xAD\xE5\x9B\xBDz\nabcdefgh\n");
    const json fields = json::array({{"f1", "string", 1, 3},
                                     {"f2", "string", 4, 3},
                                     {"f3", "string", 7, 3},
                                     {"f4", "string", 10, 3}});
    const std::string fffd = "\xEF\xBF\xBD";
    const auto records = readSource(
        kSource, properties("cut.dat", fields, 12, false, {{"ENCODING", 1200}}), dir.path());
    EXPECT_EQ(records.texts(), (Rows{{"a" + fffd, fffd + "c", "d" + fffd, fffd + "f"}}))
        << srctest::joinedTexts(records.errors());
    const auto lines = readSource(kSource, properties("cut.txt", fields, 12, true), dir.path());
    EXPECT_EQ(lines.texts(), (Rows{{"ab" + fffd, fffd + fffd, fffd + "z", "<null>"},
                                   {"abc", "def", "gh", "<null>"}}));
    // Records of 5 bytes of UTF-16: every other one starts inside a unit, and its 2-byte field
    // holds the two halves of two characters.
    const auto odd = readSource(
        kSource,
        properties("cut.dat", json::array({{"a", "string", 1, 2}}), 5, false, {{"ENCODING", 1200}}),
        dir.path());
    EXPECT_EQ(odd.texts(), (Rows{{"a"}, {fffd + fffd}, {"f"}}))
        << srctest::joinedTexts(odd.warnings());
    EXPECT_EQ(srctest::joinedTexts(odd.warnings()).find(" 811: "), std::string::npos)
        << srctest::joinedTexts(odd.warnings());
    for (const auto& [read, warned] : {std::pair{&records, 4}, std::pair{&lines, 3}}) {
        const std::vector<std::string> warnings = read->warnings();
        EXPECT_EQ(
            std::count_if(warnings.begin(), warnings.end(),
                          [](const std::string& w) { return w.find(" 821: Row 1,") != w.npos; }),
            warned)
            << srctest::joinedTexts(warnings);
    }
}

struct ReadCase {
    const char* name;
    bool lineMode;
    std::string bytes;
    Rows expected;
};

TEST(FixedWidthSource, CutsRecordsAndLinesIntoFields) {
    const ReadCase cases[] = {
        {"two records", false, "ABCDE--XYZ!!ABCDE--XYZ!!", {{"ABCDE", "XYZ"}, {"ABCDE", "XYZ"}}},
        {"file ends inside the second field",
         false,
         "ABCDE--XYZ!!ABCDE--X",
         {{"ABCDE", "XYZ"}, {"ABCDE", "X"}}},
        {"file ends after the first field",
         false,
         "ABCDE--XYZ!!ABC",
         {{"ABCDE", "XYZ"}, {"ABC", "<null>"}}},
        {"blank fields are null",
         false,
         "     --XY !!A    --   !!",
         {{"<null>", "XY"}, {"A", "<null>"}}},
        {"lines",
         true,
         "ABCDE--XYZ\nAB\n\nABCDE--XYZ and more\n     --   \nVWXYZ..Q",
         {{"ABCDE", "XYZ"},
          {"AB", "<null>"},
          {"<null>", "<null>"},
          {"ABCDE", "XYZ"},
          {"<null>", "<null>"},
          {"VWXYZ", "Q"}}},
        {"CR LF lines", true, "ABCDE--XYZ\r\nABCDE--\r\n", {{"ABCDE", "XYZ"}, {"ABCDE", "<null>"}}},
    };
    TempDir dir;
    for (const ReadCase& c : cases) {
        SCOPED_TRACE(c.name);
        srctest::writeFile(dir.file("in.dat"), c.bytes);
        const auto read =
            readSource(kSource, properties("in.dat", twoFields(), 12, c.lineMode), dir.path());
        ASSERT_TRUE(read.started) << srctest::joinedTexts(read.errors());
        EXPECT_EQ(read.texts(), c.expected);
        EXPECT_EQ(read.endCode, 1);
    }
}

TEST(FixedWidthSource, ConvertsEachType) {
    const json fields = json::array({{"b", "bool", 1, 5},
                                     {"i", "integer", 6, 4},
                                     {"r", "real", 10, 5},
                                     {"d", "date", 15, 10},
                                     {"s", "string", 25, 3}});
    TempDir dir;
    srctest::writeFile(dir.file("in.dat"),
                       "no   -12 2.25 2024-02-29abc\n"
                       "x    1x  .    2023-02-29   \n");
    const auto read = readSource(kSource, properties("in.dat", fields, 27, true), dir.path());
    const Rows expected = {{"false", "-12", "2.25", "2024-02-29", "abc"},
                           {"<null>", "<null>", "<null>", "<null>", "<null>"}};
    EXPECT_EQ(read.texts(), expected) << srctest::joinedTexts(read.errors());
}

TEST(FixedWidthSource, TrimsOnlyTrailingBlanksAndTabs) {
    // Padding is trimmed eight bytes at a time: the cases put the last kept byte at every place
    // in a word, and bytes that look like a blank or a tab in their low bits stay.
    const std::string pad(24, ' ');
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"abc", "abc"},
        {"a b\t\t \t", "a b"},
        {"", "<null>"},
        {" \t", "<null>"},
        {"\xE2\x80\x89"
         "abcdefgh\xC2\xA0",
         "\xE2\x80\x89"
         "abcdefgh\xC2\xA0"},
        {"abcdefghijklmnopqrstuvwx", "abcdefghijklmnopqrstuvwx"},
        {"abcdefghi       j", "abcdefghi       j"},
        {"abcdefg\xC2\x80", "abcdefg\xC2\x80"},
        {"abcdefgh", "abcdefgh"},
        {"abcdefghijklmnop\t", "abcdefghijklmnop"},
    };
    std::string bytes;
    Rows expected;
    for (const auto& [text, value] : cases) {
        bytes += (text + pad).substr(0, 24) + "\n";
        expected.push_back({value});
    }
    TempDir dir;
    srctest::writeFile(dir.file("in.dat"), bytes);
    const auto read = readSource(
        kSource, properties("in.dat", json::array({{"s", "string", 1, 26}}), 26, true), dir.path());
    EXPECT_EQ(read.texts(), expected) << srctest::joinedTexts(read.errors());
}

TEST(FixedWidthSource, SkipsHeadRecordsOfEveryFile) {
    TempDir dir;
    const json fields = json::array({{"v", "string", 1, 4}});
    const json extra = {{"SKIPROWS", 1}, {"FILENAME_FIELD", "SOURCE"}};
    {
        SCOPED_TRACE("record mode");
        srctest::writeFile(dir.file("r1.dat"), "HEADAAAABBBB");
        srctest::writeFile(dir.file("r2.dat"), "HEADCCCC");
        const auto read =
            readSource(kSource, properties("r*.dat", fields, 4, false, extra), dir.path());
        EXPECT_EQ(read.texts(), (Rows{{"AAAA", "r1.dat"}, {"BBBB", "r1.dat"}, {"CCCC", "r2.dat"}}))
            << srctest::joinedTexts(read.errors());
    }
    {
        SCOPED_TRACE("line mode; an empty head line is a line too");
        srctest::writeFile(dir.file("l1.txt"), "head\nAAAA\nBBBB\n");
        srctest::writeFile(dir.file("l2.txt"), "\nCCCC");
        const auto read =
            readSource(kSource, properties("l*.txt", fields, 4, true, extra), dir.path());
        EXPECT_EQ(read.texts(), (Rows{{"AAAA", "l1.txt"}, {"BBBB", "l1.txt"}, {"CCCC", "l2.txt"}}))
            << srctest::joinedTexts(read.errors());
        EXPECT_TRUE(srctest::isRunSummary(read.infos(), "l*.txt", 3))
            << srctest::joinedTexts(read.infos());
    }
    // A negative SKIPROWS skips every record, as it skips every line.
    for (const bool lineMode : {false, true}) {
        SCOPED_TRACE(lineMode);
        const auto read = readSource(
            kSource,
            properties(lineMode ? "l*.txt" : "r*.dat", fields, 4, lineMode, {{"SKIPROWS", -1}}),
            dir.path());
        EXPECT_TRUE(read.started) << srctest::joinedTexts(read.errors());
        EXPECT_TRUE(read.errors().empty()) << srctest::joinedTexts(read.errors());
        EXPECT_TRUE(read.texts().empty());
        EXPECT_NE(srctest::joinedTexts(read.warnings())
                      .find(lineMode ? "every line of every file is skipped"
                                     : "every record of every file is skipped"),
                  std::string::npos);
    }
}

// A last record that ends before its first field is a row of nulls, as a short line is.
TEST(FixedWidthSource, AShortLastRecordBeforeTheFirstFieldIsARowOfNulls) {
    TempDir dir;
    srctest::writeFile(dir.file("in.dat"), "xxAAyyxx");
    const json fields = json::array({{"a", "string", 3, 2}, {"b", "string", 5, 2}});
    EXPECT_EQ(readSource(kSource, properties("in.dat", fields, 6, false), dir.path()).texts(),
              (Rows{{"AA", "yy"}, {"<null>", "<null>"}}));
}

TEST(FixedWidthSource, ReadsRecordsWithoutFieldsUntilTheFileEnds) {
    TempDir dir;
    srctest::writeFile(dir.file("in.dat"), "aaaa\nbbbb\ncccc\n");
    const json extra = {{"FILENAME_FIELD", "SOURCE"}};
    EXPECT_EQ(readSource(kSource, properties("in.dat", json::array(), 4, true, extra), dir.path())
                  .rows.size(),
              3u);
    EXPECT_EQ(readSource(kSource, properties("in.dat", json::array(), 5, false, extra), dir.path())
                  .rows.size(),
              3u);
}

TEST(FixedWidthSource, ReportsEachConfigurationErrorByNumber) {
    struct ErrorCase {
        json change;
        int number;
    };
    const json twoSpans = json::array({{"a", "string", 1, 10}, {"b", "string", 11, 5}});
    const ErrorCase cases[] = {
        {{{"FIELDS", json::array({{"a", "blob", 1, 5}})}}, 268},
        {{{"FIELDS", json::array({{"a", "string", 0, 5}})}}, 734},
        {{{"FIELDS", json::array({{"a", "string", "x", 5}})}}, 734},
        {{{"FIELDS", json::array({{"a", "string", 1, 0}})}}, 721},
        {{{"FIELDS", json::array({{"a", "string", 1, true}})}}, 721},
        {{{"FIELDS", json::array({{"a", "string", true, 5}})}}, 734},
        {{{"RECORDWIDTH", "wide"}}, 735},
        {{{"CRLF_TERMINATE", "maybe"}}, 736},
        {{{"RECORDWIDTH", 0}}, 737},
        {{{"RECORDWIDTH", 0}, {"CRLF_TERMINATE", true}}, 737},
        {{{"FIELDS", twoSpans}, {"RECORDWIDTH", 14}}, 738},
        {{{"FIELDS", json::array()}, {"RECORDWIDTH", -1}}, 738},
        // A field that ends past the largest width does not seem to end at it.
        {{{"FIELDS", json::array({{"a", "string", 2147483647, 5}})}, {"RECORDWIDTH", 2147483647}},
         738},
        {{{"SKIPROWS", "one"}}, 723},
        {{{"MAX_OUTPUT_ROWS", "all"}}, 739},
        {{{"FILENAME", ""}}, 726},
        {{{"FILENAME", "nothing*.dat"}}, 97},
    };
    TempDir dir;
    srctest::writeFile(dir.file("in.dat"), "ABCDE--XYZ!!ABCDE--XYZ!!");
    for (const ErrorCase& c : cases) {
        SCOPED_TRACE(c.change.dump());
        const auto read =
            readSource(kSource, properties("in.dat", twoFields(), 12, false, c.change), dir.path());
        EXPECT_FALSE(read.started);
        EXPECT_TRUE(srctest::hasMessage(read.errors(), c.number, kSourceFile))
            << srctest::joinedTexts(read.errors());
    }
    auto read = readSource(kSource, properties("in.dat", twoSpans, 15, false), dir.path());
    EXPECT_TRUE(read.started) << srctest::joinedTexts(read.errors());

    // Fields that overlap cannot be read forwards; the run says so instead of reading garbage.
    const json overlapping = json::array({{"a", "string", 1, 10}, {"b", "string", 5, 2}});
    read = readSource(kSource, properties("in.dat", overlapping, 12, true), dir.path());
    EXPECT_FALSE(read.started);
    ASSERT_EQ(read.errors().size(), 1u);
    EXPECT_TRUE(srctest::hasMessage(read.errors(), 800, kSourceFile)) << read.errors()[0];
    EXPECT_NE(read.errors()[0].find("\"b\" starts at START_POS 5"), std::string::npos)
        << read.errors()[0];
}

TEST(FixedWidthSource, DeclaresSizesFromTheProbedEncoding) {
    TempDir dir;
    srctest::writeFile(dir.file("utf16.dat"), std::string("\xFF\xFE"
                                                          "a\0b\0\n\0",
                                                          8));
    srctest::writeFile(dir.file("plain.dat"), "ab\n");
    srctest::writeFile(dir.file("utf8.dat"),
                       "\xEF\xBB\xBF"
                       "0123456789\n");
    struct ProbeCase {
        const char* file;
        json extra;
        int length;
        int byteSize;
    };
    const ProbeCase cases[] = {
        {"utf16.dat", {{"BYTE_ORDER_MARK", true}}, 5, 40},
        {"plain.dat", {{"ENCODING", 28591}}, 10, 10},
        // A mark may choose an encoding of shorter characters than the configured one: the
        // field is not held to the characters of the configured encoding.
        {"utf8.dat", {{"ENCODING", 1200}, {"BYTE_ORDER_MARK", true}}, 10, 40},
        {"plain.dat", json::object(), 10, 40},
        {"missing.dat", json::object(), 10, 40},
    };
    const json fields = json::array({{"s", "string", 1, 10}, {"n", "integer", 11, 4}});
    for (const ProbeCase& c : cases) {
        SCOPED_TRACE(c.file);
        texthost::Pipeline pipeline(
            srctest::sourceJob(kSource, properties(c.file, fields, 20, true, c.extra), dir.path()));
        pipeline.prepareAndStart();
        ASSERT_NE(pipeline.outputItems(0), nullptr);
        EXPECT_EQ(srctest::outputItem(pipeline, 0).length, c.length);
        EXPECT_EQ(srctest::outputItem(pipeline, 0).byteSize, c.byteSize);
        EXPECT_EQ(srctest::outputItem(pipeline, 1).length, 0);
        EXPECT_EQ(srctest::outputItem(pipeline, 1).byteSize, 0);
    }
}

/// Pulls `count` rows, failing the test on anything but a row.
void pullRows(texthost::Pipeline& pipeline, int count) {
    for (int i = 0; i < count; ++i)
        ASSERT_EQ(pipeline.pull(), 0) << "row " << i;
}

TEST(FixedWidthSource, CountsAgainstTheRecordEstimate) {
    TempDir dir;
    const json fields = json::array({{"v", "integer", 1, 3}});
    srctest::writeFile(dir.file("p1.dat"),
                       srctest::linesOf(10, [](int i) { return std::to_string(100 + i); }));
    srctest::writeFile(dir.file("p2.dat"),
                       srctest::linesOf(10, [](int i) { return std::to_string(200 + i); }));
    texthost::Pipeline pipeline(
        srctest::sourceJob(kSource, properties("p*.dat", fields, 4, false), dir.path()));
    ASSERT_TRUE(pipeline.prepareAndStart());
    StepPluginStep* step = pipeline.step(0);
    pullRows(pipeline, 15);
    auto status = srctest::statusOf(step);
    EXPECT_EQ(status.percent, 150);
    EXPECT_EQ(status.text, "Read 15 of 10 rows");
    EXPECT_FALSE(status.ok);
    uint64_t total = 0;
    EXPECT_TRUE(step->getProgress(&total));
    EXPECT_EQ(total, 10u);
    pullRows(pipeline, 5);
    EXPECT_EQ(srctest::text(srctest::outputItem(pipeline, 0).value), "209");
    EXPECT_EQ(pipeline.pull(), 1);
    EXPECT_EQ(step->processRow(0), 1);
    status = srctest::statusOf(step);
    EXPECT_EQ(status.percent, 100);
    EXPECT_EQ(status.text, "Read 20 of 20 rows");
    EXPECT_TRUE(status.ok);
    EXPECT_TRUE(step->getProgress(&total));
    EXPECT_EQ(total, 20u);
}

TEST(FixedWidthSource, StopsAtTheRowLimit) {
    TempDir dir;
    srctest::writeFile(dir.file("in.dat"),
                       srctest::linesOf(10, [](int i) { return std::to_string(100 + i); }));
    texthost::Pipeline pipeline(
        srctest::sourceJob(kSource,
                           properties("in.dat", json::array({{"v", "string", 1, 3}}), 4, false,
                                      {{"MAX_OUTPUT_ROWS", 3}}),
                           dir.path()));
    ASSERT_TRUE(pipeline.prepareAndStart());
    pullRows(pipeline, 3);
    EXPECT_EQ(pipeline.pull(), 1);
    const auto status = srctest::statusOf(pipeline.step(0));
    EXPECT_EQ(status.percent, 100);
    EXPECT_EQ(status.text, "Read 3 of 3 rows");
}

TEST(FixedWidthSource, EstimatesFromTheFileSizeAndPosition) {
    TempDir dir;
    const json field = json::array({{"v", "string", 1, 4}});
    {
        SCOPED_TRACE("record mode: 1000 bytes, width 100, 2 head records");
        srctest::writeFile(dir.file("rec.dat"), std::string(1000, 'r'));
        texthost::Pipeline pipeline(srctest::sourceJob(
            kSource, properties("rec.dat", field, 100, false, {{"SKIPROWS", 2}}), dir.path()));
        ASSERT_TRUE(pipeline.prepareAndStart());
        uint64_t total = 0;
        EXPECT_TRUE(pipeline.step(0)->getProgress(&total));
        EXPECT_EQ(total, 8u);
    }
    {
        SCOPED_TRACE("line mode, 50,000,000 bytes, nothing read");
        srctest::writeSparseFile(dir.file("big.txt"), 50000000);
        texthost::Pipeline pipeline(
            srctest::sourceJob(kSource, properties("big.txt", field, 4, true), dir.path()));
        ASSERT_TRUE(pipeline.prepareAndStart());
        const auto status = srctest::statusOf(pipeline.step(0));
        EXPECT_EQ(status.percent, 0);
        EXPECT_EQ(status.text, "Read 0/50 MB (0 rows)");
        uint64_t total = 7;
        EXPECT_FALSE(pipeline.step(0)->getProgress(&total));
        EXPECT_EQ(total, 0u);
    }
    {
        SCOPED_TRACE("line mode, 10,000 bytes, 100 rows of 25 bytes");
        srctest::writeFile(dir.file("lines.txt"),
                           srctest::linesOf(400, [](int) { return std::string(24, 'x'); }));
        texthost::Pipeline pipeline(
            srctest::sourceJob(kSource, properties("lines.txt", field, 4, true), dir.path()));
        ASSERT_TRUE(pipeline.prepareAndStart());
        pullRows(pipeline, 100);
        const auto status = srctest::statusOf(pipeline.step(0));
        EXPECT_EQ(status.percent, 25);
        EXPECT_EQ(status.text, "Read 2/10 KB (100 rows)");
        uint64_t total = 0;
        EXPECT_TRUE(pipeline.step(0)->getProgress(&total));
        EXPECT_EQ(total, 400u);
    }
}

TEST(FixedWidthSource, NeverTouchesAFileThatIsNotOpen) {
    TempDir dir;
    srctest::writeFile(dir.file("in.txt"), "one\ntwo\n");
    const json field = json::array({{"v", "string", 1, 3}});
    texthost::Pipeline failed(
        srctest::sourceJob(kSource, properties("missing.txt", field, 3, true), dir.path()));
    EXPECT_FALSE(failed.prepareAndStart());
    EXPECT_EQ(failed.step(0)->processRow(0), 1);
    const auto status = srctest::statusOf(failed.step(0));
    EXPECT_EQ(status.percent, 0);
    EXPECT_EQ(status.text, "Read 0 rows");
    uint64_t total = 7;
    EXPECT_FALSE(failed.step(0)->getProgress(&total));

    texthost::Pipeline again(
        srctest::sourceJob(kSource, properties("in.txt", field, 3, true), dir.path()));
    ASSERT_TRUE(again.prepareAndStart());
    pullRows(again, 2);
    ASSERT_TRUE(again.step(0)->start());
    ASSERT_EQ(again.step(0)->processRow(0), 0);
    EXPECT_EQ(srctest::text(srctest::outputItem(again, 0).value), "one");
}

TEST(FixedWidthSource, StopsWhenTheHostSaysSo) {
    TempDir dir;
    // 250 expected records: the host is asked every 2 rows.
    srctest::writeFile(dir.file("in.dat"), std::string(250 * 4, 'z'));
    texthost::Pipeline pipeline(srctest::sourceJob(
        kSource, properties("in.dat", json::array({{"v", "string", 1, 4}}), 4, false), dir.path()));
    ASSERT_TRUE(pipeline.prepareAndStart());
    texthost::requestStop();
    const int first = pipeline.pull();
    const int second = pipeline.pull();
    const int third = pipeline.pull();
    texthost::clearStopRequest();
    EXPECT_EQ(first, 0);
    // The source stops at its second row, which is handed on; then the run ends.
    EXPECT_EQ(second, 0);
    EXPECT_EQ(third, 2);
    std::vector<std::string> errors;
    for (const auto& m : pipeline.messages()) {
        if (m.kind == texthost::RunMessage::Kind::Error) errors.push_back(m.text);
    }
    EXPECT_TRUE(srctest::hasMessage(errors, 421, kSourceFile)) << srctest::joinedTexts(errors);
}

}  // namespace
