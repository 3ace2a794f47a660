// read, readInLine, skip and skipRecords count bytes of the file's encoding; getPosition and
// getSize report bytes too. Each case runs through several buffer sizes.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "mvb/txtfile.h"
#include "mvb/types.h"
#include "support/textfile_support.h"

namespace textfile_test {
namespace {

const std::string kFffd = "\xEF\xBF\xBD";

/// One call on the file and what it must give.
struct Step {
    enum Kind { Read, ReadWhole, ReadInLine, Skip, SkipInLine, SkipRecords } kind;
    int count;
    int result;              ///< the return value (SkipRecords: 1 for true)
    std::string text = {};   ///< Read, ReadWhole, ReadInLine: the UTF-8 text
    bool lineEnded = false;  ///< ReadInLine, SkipInLine
    uint64_t position = 0;   ///< getPosition() afterwards
};

struct CountCase {
    const char* name;
    std::string bytes;
    int encoding;
    std::vector<Step> steps;
    int width = 0;  ///< SkipRecords: the record width
};

void PrintTo(const CountCase& c, std::ostream* out) {
    *out << c.name;
}

const std::vector<CountCase>& countCases() {
    static const std::vector<CountCase> cases = {
        {"records",
         "ABCDE--XYZ!!ABCDE--XYZ!!",
         65001,
         {{Step::Read, 5, 5, "ABCDE", false, 5},
          {Step::Skip, 2, 2, "", false, 7},
          {Step::Read, 3, 3, "XYZ", false, 10},
          {Step::Skip, 2, 2, "", false, 12},
          {Step::Read, 12, 12, "ABCDE--XYZ!!", false, 24},
          {Step::Read, 5, 0, "", false, 24},
          {Step::Skip, 5, 0, "", false, 24}}},
        {"read_keeps_line_ends_as_data",
         "ab\r\ncd",
         65001,
         {{Step::Read, 3, 3, "ab\r", false, 3}, {Step::Read, 9, 3, "\ncd", false, 6}}},
        {"read_in_line",
         "abc\r\nde\n\nf",
         65001,
         {{Step::ReadInLine, 9, 3, "abc", true, 5},
          {Step::ReadInLine, 1, 1, "d", false, 6},
          {Step::ReadInLine, 9, 1, "e", true, 8},
          {Step::ReadInLine, 4, 0, "", true, 9},
          {Step::ReadInLine, 4, 1, "f", false, 10},
          {Step::ReadInLine, 4, 0, "", false, 10}}},
        {"count_that_ends_at_the_line_end_leaves_it",
         "abc\nx",
         65001,
         {{Step::ReadInLine, 3, 3, "abc", false, 3},
          {Step::SkipInLine, 2, 0, "", true, 4},
          {Step::SkipInLine, 5, 1, "", false, 5}}},
        {"skip_rest_of_line_counts_its_line_end",
         "ab\r\n\nc",
         65001,
         {{Step::SkipInLine, -1, 4, "", true, 4},
          {Step::SkipInLine, -1, 1, "", true, 5},
          {Step::SkipInLine, -1, 1, "", false, 6},
          {Step::SkipInLine, -1, 0, "", false, 6}}},
        {"line_end_found_once_serves_every_field",
         "abcdef\r\nghij\rk\n\nlm",
         65001,
         {{Step::ReadInLine, 2, 2, "ab", false, 2},
          {Step::ReadInLine, 2, 2, "cd", false, 4},
          {Step::SkipInLine, 1, 1, "", false, 5},
          {Step::ReadInLine, 5, 1, "f", true, 8},
          {Step::ReadInLine, 2, 2, "gh", false, 10},
          {Step::SkipInLine, -1, 3, "", true, 13},
          {Step::ReadInLine, 3, 1, "k", true, 15},
          {Step::ReadInLine, 3, 0, "", true, 16},
          {Step::ReadInLine, 1, 1, "l", false, 17},
          {Step::Read, 5, 1, "m", false, 18},
          {Step::ReadInLine, 1, 0, "", false, 18}}},
        {"read_past_a_line_end_already_found",
         "abc\ndef\nxy",
         65001,
         {{Step::ReadInLine, 1, 1, "a", false, 1},
          {Step::Read, 4, 4, "bc\nd", false, 5},
          {Step::ReadInLine, 9, 2, "ef", true, 8},
          {Step::ReadInLine, 9, 2, "xy", false, 10}}},
        {"utf8_count_that_cuts_a_character_inside_a_line",
         "a\xC3\xA9z\nb",
         65001,
         {{Step::ReadInLine, 2, 2, "a" + kFffd, false, 2},
          {Step::ReadInLine, 5, 2, kFffd + "z", true, 5},
          {Step::ReadInLine, 5, 1, "b", false, 6}}},
        {"skip_records",
         "000111222333",
         65001,
         {{Step::SkipRecords, 2, 1, "", false, 6},
          {Step::Read, 3, 3, "222", false, 9},
          {Step::SkipRecords, 5, 1, "", false, 12},
          {Step::Read, 3, 0, "", false, 12}},
         3},
        {"utf8_cut_character",
         "a\xC3\xA9 b\xE2\x82\xAC",
         65001,
         {{Step::Read, 2, 2, "a" + kFffd, false, 2},
          {Step::Read, 2, 2, kFffd + " ", false, 4},
          {Step::Read, 2, 2, "b" + kFffd, false, 6},
          {Step::Read, 1, 1, kFffd, false, 7},
          {Step::Read, 9, 1, kFffd, false, 8}}},
        // Reads in pieces end before a character that the count would cut.
        {"utf8_whole_characters",
         "a\xC3\xA9 b\xE2\x82\xAC\xF0\x9F\x98\x80",
         65001,
         {{Step::ReadWhole, 2, 1, "a", false, 1},
          {Step::ReadWhole, 2, 2, "\xC3\xA9", false, 3},
          {Step::ReadWhole, 4, 2, " b", false, 5},
          {Step::ReadWhole, 1, 1, kFffd, false, 6},
          {Step::ReadWhole, 9, 6, kFffd + "\xF0\x9F\x98\x80", false, 12}}},
        {"utf8_skip_that_cuts_a_character",
         "\xE2\x82\xAC"
         "x",
         65001,
         {{Step::Skip, 1, 1, "", false, 1}, {Step::Read, 3, 3, kFffd + "x", false, 4}}},
        {"utf16_counts_bytes",
         toUtf16Le("ab\r\ncd"),
         1200,
         {{Step::Read, 2, 2, "a", false, 2},
          {Step::ReadInLine, 20, 2, "b", true, 8},
          {Step::Skip, 2, 2, "", false, 10},
          {Step::Read, 8, 2, "d", false, 12}}},
        {"utf16_odd_count_cuts_a_unit",
         toUtf16Le("a\xC3\xA9"
                   "b"),
         1200,
         {{Step::Read, 3, 3, "a" + kFffd, false, 3}, {Step::Read, 3, 3, kFffd + "b", false, 6}}},
        {"utf16_each_part_of_a_cut_unit_is_a_replacement",
         toUtf16Le("abcdef"),
         1200,
         {{Step::Read, 3, 3, "a" + kFffd, false, 3},
          {Step::Read, 3, 3, kFffd + "c", false, 6},
          {Step::Read, 3, 3, "d" + kFffd, false, 9},
          {Step::Read, 3, 3, kFffd + "f", false, 12}}},
        {"utf16_count_that_splits_a_surrogate_pair",
         toUtf16Le("\xF0\x9F\x98\x80x"),
         1200,
         {{Step::Read, 2, 2, kFffd, false, 2}, {Step::Read, 4, 4, kFffd + "x", false, 6}}},
        {"windows1252_one_byte_per_character",
         "\x80uro\n\x93ok\x94",
         1252,
         {{Step::Read, 1, 1, "\xE2\x82\xAC", false, 1},
          {Step::ReadInLine, 10, 3, "uro", true, 5},
          {Step::Read, 4, 4, "\xE2\x80\x9Cok\xE2\x80\x9D", false, 9}}},
        {"shift_jis_cut_double_byte",
         "a\x8A\xBF"
         "b",  // a, 漢, b
         932,
         {{Step::Read, 2, 2, "a" + kFffd, false, 2}, {Step::Read, 2, 2, kFffd + "b", false, 4}}},
        {"shift_jis_whole_double_byte",
         "a\x8A\xBF"
         "b",
         932,
         {{Step::ReadWhole, 2, 1, "a", false, 1},
          {Step::ReadWhole, 3, 3,
           "\xE6\xBC\xA2"
           "b",
           false, 4}}},
    };
    return cases;
}

class ByteCounts : public ::testing::TestWithParam<std::tuple<CountCase, size_t>> {};

TEST_P(ByteCounts, CountBytesOfTheFile) {
    const auto& [c, bufferBytes] = GetParam();
    TempDir dir;
    const std::string path = dir.file("in.dat");
    writeBytes(path, c.bytes);
    MvbTxtFile* file = openWith(path, MVB_OPEN_READ, c.encoding, 0, bufferBytes);
    ASSERT_NE(file, nullptr);
    FileCloser closer{file};
    EXPECT_EQ(file->getSize(), c.bytes.size());
    int index = 0;
    for (const Step& step : c.steps) {
        SCOPED_TRACE("step " + std::to_string(index++));
        MvbTextSpan text;
        bool lineEnded = !step.lineEnded;
        int result = 0;
        switch (step.kind) {
            case Step::Read:
                result = file->read(step.count, &text);
                break;
            case Step::ReadWhole:
                result = file->readWhole(step.count, &text);
                break;
            case Step::ReadInLine:
                result = file->readInLine(step.count, &text, &lineEnded);
                break;
            case Step::Skip:
                result = file->skip(step.count, nullptr);
                break;
            case Step::SkipInLine:
                result = file->skip(step.count, &lineEnded);
                break;
            case Step::SkipRecords:
                result = file->skipRecords(c.width, step.count) ? 1 : 0;
                break;
        }
        ASSERT_EQ(result, step.result) << lastError(file);
        if (step.kind == Step::Read || step.kind == Step::ReadWhole ||
            step.kind == Step::ReadInLine) {
            EXPECT_EQ(std::string(text.text, static_cast<size_t>(text.bytes)), step.text);
            EXPECT_EQ(text.text[text.bytes], '\0');
        }
        if (step.kind == Step::ReadInLine || step.kind == Step::SkipInLine) {
            EXPECT_EQ(lineEnded, step.lineEnded);
        }
        EXPECT_EQ(file->getPosition(), step.position);
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, ByteCounts,
                         ::testing::Combine(::testing::ValuesIn(countCases()),
                                            ::testing::ValuesIn(kBufferSizes)),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param).name) + "_buffer" +
                                    std::to_string(std::get<1>(info.param));
                         });

TEST(ByteCounts, ReadingOnFromALineAfterReadLineTakesTheRestOfItsLineEnd) {
    TempDir dir;
    const std::string path = dir.file("in.txt");
    writeBytes(path, "abc\r\nxyz");
    for (size_t bufferBytes : kBufferSizes) {
        MvbTxtFile* file = openWith(path, MVB_OPEN_READ, 65001, 0, bufferBytes);
        ASSERT_NE(file, nullptr);
        MvbTextSpan span;
        bool present = false;
        EXPECT_EQ(file->readLine(-1, &span, &present), 3);
        EXPECT_EQ(file->read(3, &span), 3);
        EXPECT_EQ(std::string(span.text), "xyz") << "buffer " << bufferBytes;
        file->close();
    }
}

TEST(ByteCounts, NegativeCountsFailWithAReason) {
    TempDir dir;
    const std::string path = dir.file("in.txt");
    writeBytes(path, "abc");
    MvbTxtFile* file = openWith(path, MVB_OPEN_READ, 65001, 0);
    ASSERT_NE(file, nullptr);
    FileCloser closer{file};
    EXPECT_LT(file->skip(-5, nullptr), 0);
    EXPECT_NE(lastError(file).find("-5"), std::string::npos) << lastError(file);
}

}  // namespace
}  // namespace textfile_test
