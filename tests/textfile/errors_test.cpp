// Failures of opening and reading: the text names the file and says what is wrong. None of
// these depend on permission bits, so they hold when the tests run as root.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "../../runtime/txtfile_internal.h"
#include "mvb/txtfile.h"
#include "mvb/types.h"
#include "support/textfile_support.h"

namespace textfile_test {
namespace {

using ::testing::HasSubstr;

struct OpenCase {
    const char* name;
    std::string path;  ///< relative to the test folder, which holds the file "plain.txt"
    int mode;
    int encoding;
    uint32_t flags;
    std::vector<std::string> says;  ///< pieces the error text holds
};

void PrintTo(const OpenCase& c, std::ostream* out) {
    *out << c.name;
}

class OpenFailures : public ::testing::TestWithParam<OpenCase> {};

TEST_P(OpenFailures, GiveNoFileAndAClearText) {
    const OpenCase& c = GetParam();
    TempDir dir;
    writeBytes(dir.file("plain.txt"), "x\n");
    const std::string path = dir.file(c.path);
    MvbString error;
    MvbTxtFile* file = mvbTxtFileOpen(path.c_str(), c.mode, c.encoding, c.flags, error);
    EXPECT_EQ(file, nullptr);
    if (file != nullptr) {
        file->close();
    }
    for (const std::string& piece : c.says) {
        const std::string wanted = piece == "PATH" ? path : piece;
        EXPECT_THAT(std::string(error.asCstr()), HasSubstr(wanted));
    }
    // Nothing was left behind by a failed open.
    EXPECT_FALSE(std::filesystem::exists(dir.file("missing.txt")));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, OpenFailures,
    ::testing::Values(
        OpenCase{
            "read_missing_file", "missing.txt", MVB_OPEN_READ, -1, 0, {"PATH", "does not exist"}},
        OpenCase{"read_missing_folder",
                 "nofolder/a.txt",
                 MVB_OPEN_READ,
                 -1,
                 0,
                 {"PATH", "folder", "does not exist"}},
        OpenCase{"write_missing_folder",
                 "nofolder/a.txt",
                 MVB_OPEN_CREATE,
                 -1,
                 0,
                 {"PATH", "folder", "does not exist"}},
        OpenCase{"probe_missing_folder",
                 "nofolder/a.txt",
                 MVB_OPEN_CREATE,
                 -1,
                 MVB_FLAG_PROBE,
                 {"PATH", "does not exist"}},
        OpenCase{"read_through_a_file",
                 "plain.txt/a.txt",
                 MVB_OPEN_READ,
                 -1,
                 0,
                 {"PATH", "plain.txt\" is a file, not a folder"}},
        OpenCase{"write_through_a_file",
                 "plain.txt/a.txt",
                 MVB_OPEN_APPEND,
                 -1,
                 0,
                 {"PATH", "plain.txt\" is a file, not a folder"}},
        OpenCase{"read_a_folder", ".", MVB_OPEN_READ, -1, 0, {"is a folder, not a file"}},
        OpenCase{"write_a_folder", ".", MVB_OPEN_CREATE, -1, 0, {"is a folder, not a file"}},
        OpenCase{"probe_a_folder",
                 ".",
                 MVB_OPEN_CREATE,
                 -1,
                 MVB_FLAG_PROBE,
                 {"is a folder, not a file"}},
        OpenCase{"unknown_encoding_read",
                 "plain.txt",
                 MVB_OPEN_READ,
                 12345,
                 0,
                 {"PATH", "encoding number 12345"}},
        OpenCase{"unknown_encoding_write",
                 "missing.txt",
                 MVB_OPEN_CREATE,
                 28602,
                 0,
                 {"encoding number 28602"}},
        OpenCase{"unknown_mode", "plain.txt", 7, -1, 0, {"mode 7"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(OpenFailures, EmptyNameIsRefused) {
    MvbString error;
    EXPECT_EQ(mvbTxtFileOpen("", MVB_OPEN_READ, -1, 0, error), nullptr);
    EXPECT_FALSE(error.empty());
}

struct InvalidCase {
    const char* name;
    std::string bytes;
    int encoding;
    size_t goodLines;    ///< lines read before the failure
    std::string line;    ///< "line N"
    std::string offset;  ///< "byte offset N"
};

void PrintTo(const InvalidCase& c, std::ostream* out) {
    *out << c.name;
}

class InvalidInput : public ::testing::TestWithParam<std::tuple<InvalidCase, size_t>> {};

TEST_P(InvalidInput, FailsWithFileLineAndOffset) {
    const auto& [c, bufferBytes] = GetParam();
    TempDir dir;
    const std::string path = dir.file("bad.txt");
    writeBytes(path, c.bytes);
    MvbTxtFile* file = openWith(path, MVB_OPEN_READ, c.encoding, 0, bufferBytes);
    ASSERT_NE(file, nullptr);
    FileCloser closer{file};
    const std::vector<std::string> lines = readAllLines(file);
    ASSERT_EQ(lines.size(), c.goodLines + 1);
    const std::string& error = lines.back();
    EXPECT_THAT(error, HasSubstr(path));
    EXPECT_THAT(error, HasSubstr(c.line));
    EXPECT_THAT(error, HasSubstr(c.offset));
    // A file read as UTF-8 that is not says how to read it as what it is.
    EXPECT_EQ(error.find("set ENCODING to its encoding") != std::string::npos, c.encoding == 65001);
    // The failure is kept.
    MvbTextSpan span;
    bool present = true;
    EXPECT_LT(file->readLine(-1, &span, &present), 0);
    EXPECT_LT(file->read(1, &span), 0);

    // Read in pieces of many lines (as detection reads a file), the failure names the same line.
    MvbTxtFile* pieces = openWith(path, MVB_OPEN_READ, c.encoding, 0, bufferBytes);
    ASSERT_NE(pieces, nullptr);
    FileCloser piecesCloser{pieces};
    int got = 0;
    while ((got = pieces->readWhole(1 << 16, &span)) > 0) {
    }
    ASSERT_LT(got, 0);
    EXPECT_THAT(lastError(pieces), HasSubstr(c.line + ", " + c.offset));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, InvalidInput,
    ::testing::Combine(::testing::Values(InvalidCase{"utf8_stray_byte", "ok\nbad \xFF here\n",
                                                     65001, 1, "line 2", "byte offset 7"},
                                         InvalidCase{"utf8_overlong", "\xC0\xAF\n", 65001, 0,
                                                     "line 1", "byte offset 0"},
                                         InvalidCase{"utf8_surrogate", "a\nb\nc\xED\xA0\x80\n",
                                                     65001, 2, "line 3", "byte offset 5"},
                                         InvalidCase{"utf8_cut_by_line_end", "ab\xE2\x82\ncd\n",
                                                     65001, 0, "line 1", "byte offset 2"},
                                         InvalidCase{"utf8_cut_by_end_of_file", "ab\ncd\xE2\x82",
                                                     65001, 1, "line 2", "byte offset 5"},
                                         InvalidCase{"utf16_lone_low_surrogate",
                                                     toUtf16Le("a\n") + std::string("\x00\xDC", 2) +
                                                         toUtf16Le("b\n"),
                                                     1200, 1, "line 2", "byte offset 4"},
                                         InvalidCase{"utf16_odd_length", toUtf16Le("a\nb") + "c",
                                                     1200, 1, "line 2", "byte offset 6"},
                                         InvalidCase{"ascii_high_byte", "abc\n\xE9t\xE9\n", 20127,
                                                     1, "line 2", "byte offset 4"}),
                       ::testing::ValuesIn(kBufferSizes)),
    [](const auto& info) {
        return std::string(std::get<0>(info.param).name) + "_buffer" +
               std::to_string(std::get<1>(info.param));
    });

TEST(InvalidInput, ByteCountReadsFailToo) {
    TempDir dir;
    const std::string path = dir.file("bad.txt");
    writeBytes(path, "abcd\xFF");
    MvbTxtFile* file = openWith(path, MVB_OPEN_READ, 65001, 0);
    ASSERT_NE(file, nullptr);
    FileCloser closer{file};
    MvbTextSpan span;
    EXPECT_EQ(file->read(4, &span), 4);
    EXPECT_LT(file->read(4, &span), 0);
    EXPECT_THAT(lastError(file), HasSubstr("byte offset 4"));
}

TEST(InvalidInput, FieldReadsFailAtABadByteInALaterLineOnlyWhenTheyReachIt) {
    TempDir dir;
    const std::string path = dir.file("bad.txt");
    writeBytes(path, "abc\nde\xFF\n");
    for (size_t bufferBytes : kBufferSizes) {
        SCOPED_TRACE("buffer " + std::to_string(bufferBytes));
        MvbTxtFile* file = openWith(path, MVB_OPEN_READ, 65001, 0, bufferBytes);
        ASSERT_NE(file, nullptr);
        FileCloser closer{file};
        MvbTextSpan span;
        bool lineEnded = false;
        EXPECT_EQ(file->readInLine(2, &span, &lineEnded), 2);
        EXPECT_EQ(file->readInLine(5, &span, &lineEnded), 1);
        EXPECT_TRUE(lineEnded);
        EXPECT_EQ(file->readInLine(2, &span, &lineEnded), 2);
        EXPECT_EQ(std::string(span.text), "de");
        EXPECT_LT(file->skip(-1, &lineEnded), 0);
        EXPECT_THAT(lastError(file), HasSubstr("line 2, byte offset 6"));
    }
}

// Cut behind what was read (emptied by its writer, say) or ahead of it, at a line end (a copy
// cut short): either way the rows after the cut are missing.
TEST(InvalidInput, AFileCutShorterWhileReadFailsAtItsEnd) {
    for (const off_t cut : {3, 14}) {
        TempDir dir;
        const std::string path = dir.file("log.txt");
        writeBytes(path, "line 1\nline 2\nline 3\n");
        MvbTxtFile* file = openWith(path, MVB_OPEN_READ, 65001, 0, 8);
        ASSERT_NE(file, nullptr);
        FileCloser closer{file};
        MvbTextSpan span;
        bool present = false;
        ASSERT_GT(file->readLine(-1, &span, &present), 0);
        ASSERT_EQ(truncate(path.c_str(), cut), 0);
        int got = 0;
        while ((got = file->readLine(-1, &span, &present)) > 0) {
        }
        EXPECT_LT(got, 0) << cut;
        EXPECT_THAT(lastError(file), HasSubstr("was cut shorter while it was read")) << cut;
    }
}

TEST(InvalidInput, OverlongLineFailsInsteadOfGrowingWithoutBound) {
    TempDir dir;
    const std::string path = dir.file("long.txt");
    writeBytes(path, std::string(100, 'x') + "\nshort\n");
    mvb::txt::FileTuning tuning;
    tuning.bufferBytes = 16;
    tuning.maxRecordBytes = 64;
    MvbString error;
    MvbTxtFile* file = mvb::txt::openTextFile(path.c_str(), MVB_OPEN_READ, -1, 0, error, tuning);
    ASSERT_NE(file, nullptr);
    FileCloser closer{file};
    MvbTextSpan span;
    bool present = false;
    EXPECT_LT(file->readLine(-1, &span, &present), 0);
    EXPECT_THAT(lastError(file), HasSubstr("longer than 64 bytes"));
}

TEST(WrongDirection, ReadingAWrittenFileAndWritingARead) {
    TempDir dir;
    const std::string path = dir.file("f.txt");
    MvbTxtFile* out = openWith(path, MVB_OPEN_CREATE, -1, 0);
    ASSERT_NE(out, nullptr);
    MvbTextSpan span;
    bool present = false;
    EXPECT_LT(out->readLine(-1, &span, &present), 0);
    EXPECT_THAT(lastError(out), HasSubstr("open for writing"));
    out->close();
    MvbTxtFile* in = openWith(path, MVB_OPEN_READ, -1, 0);
    ASSERT_NE(in, nullptr);
    EXPECT_FALSE(in->writeText("x"));
    EXPECT_THAT(lastError(in), HasSubstr("open for reading"));
    in->close();
}

}  // namespace
}  // namespace textfile_test
