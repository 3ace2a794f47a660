// Line ends, empty lines, the end of the file and NUL replacement, each case read through
// several buffer sizes and in UTF-8 and UTF-16LE.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "mvb/txtfile.h"
#include "mvb/types.h"
#include "support/textfile_support.h"

namespace textfile_test {
namespace {

struct LineCase {
    const char* name;
    std::string input;
    std::vector<std::string> lines;
    uint32_t flags = 0;
};

void PrintTo(const LineCase& c, std::ostream* out) {
    *out << c.name;
}

const std::vector<LineCase>& lineCases() {
    using namespace std::string_literals;
    static const std::vector<LineCase> cases = {
        {"lf", "ab\ncd\n", {"ab", "cd"}},
        {"crlf", "ab\r\ncd\r\n", {"ab", "cd"}},
        {"cr", "ab\rcd\r", {"ab", "cd"}},
        {"mixed", "a\r\nb\rc\nd", {"a", "b", "c", "d"}},
        {"no_final_line_end", "first\nlast", {"first", "last"}},
        {"empty_lines_are_lines", "\n\nx\n\n", {"", "", "x", ""}},
        {"cr_cr_lf_is_two_line_ends", "a\r\r\nb", {"a", "", "b"}},
        {"lf_cr_is_two_line_ends", "a\n\rb", {"a", "", "b"}},
        {"lone_cr_at_end", "a\r", {"a"}},
        {"empty_file", "", {}},
        {"only_a_line_end", "\r\n", {""}},
        {"long_line",
         std::string(100, 'x') + "\r\n" + std::string(37, 'y'),
         {std::string(100, 'x'), std::string(37, 'y')}},
        {"unicode", "Köln\r\n漢字😀\n", {"Köln", "漢字😀"}},
        {"nul_is_data", "a\0b\n\0\n"s, {"a\0b"s, "\0"s}},
        {"nul_replaced", "a\0b\n\0\0\n"s, {"a b", "  "}, MVB_FLAG_REPLACE_NULS},
    };
    return cases;
}

class LineEnds : public ::testing::TestWithParam<std::tuple<LineCase, size_t, bool /*utf16*/>> {};

TEST_P(LineEnds, SplitsLinesAndStopsAtTheEnd) {
    const auto& [c, bufferBytes, utf16] = GetParam();
    TempDir dir;
    const std::string path = dir.file("in.txt");
    writeBytes(path, utf16 ? toUtf16Le(c.input) : c.input);
    MvbTxtFile* file = openWith(path, MVB_OPEN_READ, utf16 ? 1200 : 65001, c.flags, bufferBytes);
    ASSERT_NE(file, nullptr);
    FileCloser closer{file};
    EXPECT_EQ(readAllLines(file), c.lines);
    EXPECT_EQ(file->getPosition(), file->getSize());
    // The end stays the end.
    MvbTextSpan line;
    bool present = true;
    EXPECT_EQ(file->readLine(-1, &line, &present), 0);
    EXPECT_FALSE(present);
}

INSTANTIATE_TEST_SUITE_P(Cases, LineEnds,
                         ::testing::Combine(::testing::ValuesIn(lineCases()),
                                            ::testing::ValuesIn(kBufferSizes), ::testing::Bool()),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param).name) + "_buffer" +
                                    std::to_string(std::get<1>(info.param)) +
                                    (std::get<2>(info.param) ? "_utf16" : "_utf8");
                         });

// A CR that ends one buffer and the LF that starts the next are one line end, wherever the
// buffer boundary falls.
TEST(LineEnds, CrLfAcrossEveryBufferBoundary) {
    TempDir dir;
    const std::string path = dir.file("in.txt");
    std::string input;
    std::vector<std::string> expected;
    for (int i = 0; i < 40; ++i) {
        expected.push_back(
            std::string(static_cast<size_t>(i % 7), static_cast<char>('a' + i % 26)));
        input += expected.back() + "\r\n";
    }
    writeBytes(path, input);
    for (size_t bufferBytes = 4; bufferBytes <= 24; ++bufferBytes) {
        MvbTxtFile* file = openWith(path, MVB_OPEN_READ, 65001, 0, bufferBytes);
        ASSERT_NE(file, nullptr);
        EXPECT_EQ(readAllLines(file), expected) << "buffer " << bufferBytes;
        file->close();
    }
}

}  // namespace
}  // namespace textfile_test
