// DEST_FIXEDTEXT: record shapes, line ends, widths and the checks of start.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "../../src/dest_line_buffer.h"
#include "support/dest_support.h"

using nlohmann::json;
using namespace desttest;

namespace {

struct Outcome {
    texthost::RunReport report;
    std::string output;
    bool created = false;
};

Outcome runFixed(const TempDir& dir, TestRows rows, json properties,
                 const std::string& destType = "DEST_FIXEDTEXT") {
    texthost::RunOptions options;
    options.extraSteps = {rowSource("ROWS", std::move(rows)),
                          lenientStep("LENIENT_FIXED", "DEST_FIXEDTEXT")};
    const std::string out = dir.file("out.txt");
    if (!properties.contains("FILENAME")) properties["FILENAME"] = out;
    const json steps = {{{"type", "ROWS"}}, {{"type", destType}, {"properties", properties}}};
    Outcome run;
    run.report = runJobFile(dir, steps, options);
    run.created = fileExists(out);
    run.output = readFile(out);
    return run;
}

TestRows nameAndCount() {
    return {{{"name", mvbTypeString}, {"count", mvbTypeInteger}},
            {{text("ab"), integer(12)}, {text("xyz"), integer(-3)}}};
}

// A value's text is copied as one chunk when it can be read, and written, past its end: for
// every length around the chunk's and a mark or a byte beyond ASCII at every place, the copy
// and what it finds must be those of the copy a word at a time.
TEST(FixedDest, PaddedCopyFindsWhatTheWordCopyFinds) {
    for (size_t size = 0; size <= kPaddedCopyBytes + 4; ++size) {
        for (size_t at = 0; at <= size; ++at) {
            for (const char odd : {',', '\n', '\xC3', 'b'}) {
                std::string text(size, 'a');
                if (at < size) text[at] = odd;
                text.append(kPaddedCopyBytes, ',');  // readable past the end: marks, not text
                const std::string_view value(text.data(), size);
                std::string padded(size + kPaddedCopyBytes, '-');
                std::string words(size, '-');
                uint64_t paddedHigh = 0;
                uint64_t wordsHigh = 0;
                const uint64_t paddedFound =
                    copyFindingPadded(padded.data(), value, &paddedHigh, ',', '\n');
                const uint64_t wordsFound =
                    copyFindingBytes(words.data(), value, &wordsHigh, ',', '\n');
                EXPECT_EQ(paddedFound != 0, wordsFound != 0) << size << " " << at << odd;
                EXPECT_EQ(paddedHigh != 0, wordsHigh != 0) << size << " " << at << odd;
                EXPECT_EQ(padded.substr(0, size), value) << size << " " << at << odd;
            }
        }
    }
}

// Padding of up to 16 blanks takes a few overlapping stores: each count must fill exactly its
// bytes, not one before or after.
TEST(FixedDest, PaddingFillsExactlyItsBytes) {
    for (size_t count = 0; count <= 40; ++count) {
        std::string bytes(48, 'x');
        putBlanks(bytes.data() + 2, count);
        EXPECT_EQ(bytes, "xx" + std::string(count, ' ') + std::string(46 - count, 'x')) << count;
    }
}

TEST(FixedDest, LineEnds) {
    const std::vector<std::pair<json, std::string>> cases = {
        {" crlf ", "ab   12 \r\nxyz  -3 \r\n"},
        {"lf", "ab   12 \nxyz  -3 \n"},
        {"LF", "ab   12 \nxyz  -3 \n"},
        {"CR", "ab   12 xyz  -3 "},
        {"", "ab   12 xyz  -3 "},
        {"unix", "ab   12 xyz  -3 "},
        {2, "ab   12 xyz  -3 "},
    };
    for (const auto& [lineEnd, expected] : cases) {
        SCOPED_TRACE(lineEnd.dump());
        TempDir dir;
        const Outcome run = runFixed(
            dir, nameAndCount(),
            {{"FIELDS", fieldsTable({{"name", 5}, {"count", 3}}, "WIDTH")}, {"LINE_END", lineEnd}});
        ASSERT_TRUE(run.report.ok) << joined(run.report.errors());
        EXPECT_EQ(run.output, expected);
        // A text that names no line end is warned, as it seldom means none.
        const bool named = expected.back() == '\n' || lineEnd == "";
        EXPECT_EQ(joined(run.report.warnings()).find("LINE_END") == std::string::npos, named)
            << joined(run.report.warnings());
    }
}

TEST(FixedDest, ValuesAtTheirWidths) {
    struct Case {
        const char* name;
        TestRows rows;
        json fields;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"width 0 writes nothing of the field", nameAndCount(),
         fieldsTable({{"name", 0}, {"count", 3}}, "WIDTH"), "12 \n-3 \n"},
        {"longer text is cut to the width", nameAndCount(),
         fieldsTable({{"name", 2}, {"count", 1}}, "WIDTH"), "ab1\nxy-\n"},
        {"null and empty strings and a null integer are blanks",
         {{{"s", mvbTypeString}, {"e", mvbTypeString}, {"n", mvbTypeInteger}},
          {{null(), text(""), null()}}},
         fieldsTable({{"s", 2}, {"e", 3}, {"n", 2}}, "WIDTH"),
         "       \n"},
        {"other kinds as their text",
         {{{"d", mvbTypeDate}, {"b", mvbTypeBoolean}, {"r", mvbTypeReal}},
          {{date(2024, 12, 25), boolean(false), real(0.5)}}},
         fieldsTable({{"d", 11}, {"b", 6}, {"r", 4}}, "WIDTH"),
         "2024-12-25 false 0.5 \n"},
        {"runs of blanks of every size up to the widest a field writes at once, and past it",
         {{{"a", mvbTypeString}, {"b", mvbTypeString}, {"n", mvbTypeInteger}},
          {{text("abcdefghi"), text("x"), integer(5)}}},
         fieldsTable({{"a", 41}, {"b", 34}, {"n", 1}}, "WIDTH"),
         "abcdefghi" + std::string(32, ' ') + "x" + std::string(33, ' ') + "5\n"},
        {"a multi-byte character is never split",
         {{{"s", mvbTypeString}}, {{text("\xC3\xA9\xC3\xA9")}}},
         fieldsTable({{"s", 3}}, "WIDTH"),
         "\xC3\xA9 \n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const Outcome run = runFixed(dir, c.rows, {{"FIELDS", c.fields}, {"LINE_END", "LF"}});
        ASSERT_TRUE(run.report.ok) << joined(run.report.errors());
        EXPECT_EQ(run.output, c.expected);
    }
}

// A UTF-8 record is padded and cut by the step and written at once; these pin the edges of that
// path against the field-by-field writing of other encodings.
TEST(FixedDest, Utf8RecordsCutOnCharactersAndPadAnyWidth) {
    const TestRows rows = {{{"a", mvbTypeString}, {"b", mvbTypeString}, {"c", mvbTypeInteger}},
                           {{text("\xE2\x82\xAC\xE2\x82\xAC"), text("wide"), integer(123456)},
                            {text("x"), null(), integer(7)}}};
    const std::string wide(70000 - 4, ' ');
    const std::string expected =
        "\xE2\x82\xAC  wide" + wide + "1234\n" + "x    " + std::string(70000, ' ') + "7   \n";
    for (const int encoding : {-1, 65001, 0}) {
        SCOPED_TRACE(encoding);
        TempDir dir;
        const Outcome run =
            runFixed(dir, rows,
                     {{"FIELDS", fieldsTable({{"a", 5}, {"b", 70000}, {"c", 4}}, "WIDTH")},
                      {"LINE_END", "LF"},
                      {"ENCODING", encoding}});
        ASSERT_TRUE(run.report.ok) << joined(run.report.errors());
        EXPECT_EQ(run.output, expected);
    }
}

// A value cut at its WIDTH is said, in the record written at once (UTF-8) and field by field
// (other encodings); a character past the cut that the encoding lacks never fails the write.
TEST(FixedDest, ValuesCutAtTheirWidthAreSaid) {
    const TestRows rows = {{{"name", mvbTypeString}, {"count", mvbTypeInteger}},
                           {{text("ab"), integer(12)},
                            {text("xyz\xE6\xBC\xA2"), integer(-3)},
                            {text("abc"), integer(12345)}}};
    const std::vector<std::pair<int, std::string>> cases = {
        {65001, "ab 12 \nxyz-3 \nabc123\n"},
        {1252, "ab 12 \nxyz-3 \nabc123\n"},
    };
    for (const auto& [encoding, expected] : cases) {
        SCOPED_TRACE(encoding);
        TempDir dir;
        const Outcome run = runFixed(dir, rows,
                                     {{"FIELDS", fieldsTable({{"name", 3}, {"count", 3}}, "WIDTH")},
                                      {"LINE_END", "LF"},
                                      {"ENCODING", encoding}});
        ASSERT_TRUE(run.report.ok) << joined(run.report.errors());
        EXPECT_EQ(run.output, expected);
        const auto warnings = run.report.warnings();
        ASSERT_EQ(warnings.size(), 2u) << joined(warnings);
        EXPECT_EQ(warnings[0].rfind("Text Plugin 813: Row 2, field \"name\": \"xyz\xE6\xBC\xA2\" "
                                    "is longer than WIDTH 3 bytes",
                                    0),
                  0u)
            << warnings[0];
        EXPECT_EQ(warnings[1].rfind("Text Plugin 813: Row 3, field \"count\": \"12345\"", 0), 0u)
            << warnings[1];
        const auto infos = run.report.infos();
        ASSERT_EQ(infos.size(), 2u) << joined(infos);
        EXPECT_EQ(infos[1].rfind("Text Plugin 815: Values not written whole: field \"name\": 1 "
                                 "value cut at WIDTH 3; field \"count\": 1 value cut at WIDTH 3.",
                                 0),
                  0u)
            << infos[1];
    }
}

TEST(FixedDest, TextThatIsNotUtf8FailsTheRun) {
    // Bad bytes are refused where the field keeps them and where its width cuts them off.
    for (const int width : {5, 2}) {
        SCOPED_TRACE(width);
        TempDir dir;
        const Outcome run = runFixed(
            dir, {{{"s", mvbTypeString}}, {{text("ok")}, {text("ab\xFF")}, {text("later")}}},
            {{"FIELDS", fieldsTable({{"s", width}}, "WIDTH")}, {"LINE_END", "LF"}});
        EXPECT_FALSE(run.report.ok);
        EXPECT_TRUE(anyContains(run.report.errors(), "not valid UTF-8"))
            << joined(run.report.errors());
        EXPECT_EQ(run.output.find("later"), std::string::npos);
    }
}

TEST(FixedDest, BadWidthsFailStart) {
    const std::vector<std::pair<json, std::vector<std::string>>> cases = {
        {-1, {"Text Plugin 732:"}},
        {"wide", {"Text Plugin 721:", "count"}},
        {true, {"Text Plugin 721:", "count"}},
    };
    for (const auto& [width, expected] : cases) {
        SCOPED_TRACE(width.dump());
        TempDir dir;
        const Outcome run = runFixed(
            dir, nameAndCount(),
            {{"FIELDS", fieldsTable({{"name", 3}, {"count", width}}, "WIDTH")}, {"FILENAME", ""}});
        EXPECT_FALSE(run.report.ok);
        // The widths are checked before FILENAME.
        for (const auto& part : expected) {
            EXPECT_TRUE(anyContains(run.report.errors(), part)) << joined(run.report.errors());
        }
        EXPECT_FALSE(anyContains(run.report.errors(), "Text Plugin 304:"));
    }
}

TEST(FixedDest, SummaryAppendAndEmptyRun) {
    // The summary has no blank before the file name; the host parts the two pieces by ", ".
    TempDir dir;
    const json fields = fieldsTable({{"name", 4}}, "WIDTH");
    const Outcome first = runFixed(dir, nameAndCount(), {{"FIELDS", fields}, {"LINE_END", "lf"}});
    ASSERT_TRUE(first.report.ok) << joined(first.report.errors());
    EXPECT_EQ(first.report.infos(),
              std::vector<std::string>{"Wrote 2 rows to text file " + dir.file("out.txt")});

    const Outcome appended =
        runFixed(dir, nameAndCount(), {{"FIELDS", fields}, {"LINE_END", "lf"}, {"APPEND", true}});
    EXPECT_EQ(appended.output, "ab  \nxyz \nab  \nxyz \n");
    EXPECT_EQ(appended.report.infos(),
              std::vector<std::string>{"Wrote 2 rows to text file " + dir.file("out.txt")});

    TempDir empty;
    const Outcome none = runFixed(empty, {{{"name", mvbTypeString}}, {}}, {{"FIELDS", fields}});
    ASSERT_TRUE(none.report.ok) << joined(none.report.errors());
    EXPECT_FALSE(none.created);
    EXPECT_EQ(none.report.infos(),
              std::vector<std::string>{"Wrote 0 rows to text file " + empty.file("out.txt")});
}

TEST(FixedDest, UnboundFieldIsBlanksAtItsWidth) {
    TempDir dir;
    const Outcome run =
        runFixed(dir, nameAndCount(),
                 {{"FIELDS", fieldsTable({{"name", 3}, {"missing", 2}, {"count", 2}}, "WIDTH")},
                  {"LINE_END", "LF"}},
                 "LENIENT_FIXED");
    ASSERT_TRUE(run.report.ok) << joined(run.report.errors());
    EXPECT_EQ(run.output, "ab   12\nxyz  -3\n");
}

TEST(FixedDest, ByteOrderMarkAndEncoding) {
    TempDir dir;
    const Outcome run = runFixed(dir, {{{"s", mvbTypeString}}, {{text("\xC3\xA9")}}},
                                 {{"FIELDS", fieldsTable({{"s", 4}}, "WIDTH")},
                                  {"ENCODING", 1200},
                                  {"BYTE_ORDER_MARK", true},
                                  {"LINE_END", "CRLF"}});
    ASSERT_TRUE(run.report.ok) << joined(run.report.errors());
    // WIDTH counts bytes of the file's encoding: é and one blank in UTF-16LE.
    EXPECT_EQ(run.output, std::string("\xFF\xFE\xE9\0 \0\r\0\n\0", 10));
}

}  // namespace
