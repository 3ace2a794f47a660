// Writing: line ends, byte-order marks, appending, the probe open, padded fields, and
// failures of the file system that surface at a write or at flush().

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <string>
#include <vector>

#include "../../runtime/txtfile_internal.h"
#include "mvb/txtfile.h"
#include "mvb/types.h"
#include "support/textfile_support.h"

namespace textfile_test {
namespace {

using ::testing::HasSubstr;

std::string writeLines(const std::string& path, int mode, int encoding, uint32_t flags,
                       const std::vector<std::string>& lines) {
    MvbTxtFile* file = openWith(path, mode, encoding, flags);
    if (file == nullptr) return "<open failed>";
    for (const std::string& line : lines) {
        EXPECT_TRUE(file->writeLine(line.c_str())) << lastError(file);
    }
    EXPECT_TRUE(file->flush()) << lastError(file);
    file->close();
    return readBytes(path);
}

struct LineEndCase {
    uint32_t flags;
    int encoding;
    std::string bytes;
};

TEST(Writing, LineEndsFollowTheFlags) {
    using namespace std::string_literals;
    const std::vector<LineEndCase> cases = {
        {0, -1, "a\nb\n"},
        {MVB_FLAG_EOL_LF, -1, "a\nb\n"},
        {MVB_FLAG_EOL_NATIVE, 65001, "a\nb\n"},
        {MVB_FLAG_EOL_CRLF, 0, "a\r\nb\r\n"},
        {MVB_FLAG_EOL_CR, 65001, "a\rb\r"},
        {MVB_FLAG_EOL_CRLF, 1201, "\0a\0\r\0\n\0b\0\r\0\n"s},
        {MVB_FLAG_EOL_CR, 12000, "a\0\0\0\r\0\0\0b\0\0\0\r\0\0\0"s},
    };
    TempDir dir;
    for (const LineEndCase& c : cases) {
        EXPECT_EQ(writeLines(dir.file("f.txt"), MVB_OPEN_CREATE, c.encoding, c.flags, {"a", "b"}),
                  c.bytes)
            << "flags " << std::hex << c.flags << " encoding " << std::dec << c.encoding;
    }
}

struct BomCase {
    int encoding;
    std::string bom;
};

TEST(Writing, ByteOrderMarkOnlyStartsANewOrEmptiedFile) {
    using namespace std::string_literals;
    const std::vector<BomCase> cases = {
        {0, "\xEF\xBB\xBF"},
        {65001, "\xEF\xBB\xBF"},
        {1200, "\xFF\xFE"},
        {1201, "\xFE\xFF"},
        {12000, "\xFF\xFE\0\0"s},
        {12001, "\0\0\xFE\xFF"s},
        {1252, ""},
        {28591, ""},
        {932, ""},
    };
    TempDir dir;
    for (const BomCase& c : cases) {
        SCOPED_TRACE("encoding " + std::to_string(c.encoding));
        const std::string path = dir.file("bom" + std::to_string(c.encoding) + ".txt");
        const std::string once =
            writeLines(path, MVB_OPEN_CREATE, c.encoding, MVB_FLAG_WRITE_BOM, {"x"});
        ASSERT_EQ(once.substr(0, c.bom.size()), c.bom);
        // Appending never puts a mark in the middle.
        const std::string twice =
            writeLines(path, MVB_OPEN_APPEND, c.encoding, MVB_FLAG_WRITE_BOM, {"x"});
        EXPECT_EQ(twice, once + once.substr(c.bom.size()));
        // Emptying starts the file again, with its mark.
        EXPECT_EQ(writeLines(path, MVB_OPEN_CREATE, c.encoding, MVB_FLAG_WRITE_BOM, {"x"}), once);
    }
    // Appending to a file that does not exist yet starts it.
    EXPECT_EQ(writeLines(dir.file("new.txt"), MVB_OPEN_APPEND, 1200, MVB_FLAG_WRITE_BOM, {}),
              "\xFF\xFE");
}

TEST(Writing, AppendKeepsWhatIsThereAndCountsFromIt) {
    TempDir dir;
    const std::string path = dir.file("f.txt");
    writeBytes(path, "head\n");
    MvbTxtFile* file = openWith(path, MVB_OPEN_APPEND, -1, 0);
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(file->getPosition(), 5u);
    EXPECT_TRUE(file->writeString(MvbString("more", true)));
    EXPECT_TRUE(file->writeChars("!?", 1));
    EXPECT_TRUE(file->writeText("\n"));
    EXPECT_EQ(file->getPosition(), 11u);
    EXPECT_EQ(file->getSize(), 11u);
    file->close();
    EXPECT_EQ(readBytes(path), "head\nmore!\n");
}

TEST(Writing, AppendedLinesStartOnALineOfTheirOwn) {
    using namespace std::string_literals;
    struct Case {
        std::string before;
        int encoding;
        uint32_t flags;
        std::string after;  ///< once the line "x" is appended
    };
    const Case cases[] = {
        {"old", 65001, MVB_FLAG_APPEND_LINES, "old\nx\n"},
        {"old\n", 65001, MVB_FLAG_APPEND_LINES, "old\nx\n"},
        {"old\r", 65001, MVB_FLAG_APPEND_LINES | MVB_FLAG_EOL_CRLF, "old\rx\r\n"},
        {"old", 65001, MVB_FLAG_APPEND_LINES | MVB_FLAG_EOL_CRLF, "old\r\nx\r\n"},
        {"o\0"s, 1200, MVB_FLAG_APPEND_LINES, "o\0\n\0x\0\n\0"s},
        {"\0\n"s, 1201, MVB_FLAG_APPEND_LINES, "\0\n\0x\0\n"s},
        {"\n\0"s, 1201, MVB_FLAG_APPEND_LINES, "\n\0\0\n\0x\0\n"s},  // U+0A00 ends no line
        // A file of only a mark has no line to end.
        {"\xEF\xBB\xBF", 65001, MVB_FLAG_APPEND_LINES, "\xEF\xBB\xBFx\n"},
        {"\xFF\xFE", 1200, MVB_FLAG_APPEND_LINES, "\xFF\xFEx\0\n\0"s},
        {"\xFF\xFE\0\0"s, 12000, MVB_FLAG_APPEND_LINES, "\xFF\xFE\0\0x\0\0\0\n\0\0\0"s},
        {"old", 65001, 0, "oldx\n"},  // records that are not lines are joined
    };
    TempDir dir;
    const std::string path = dir.file("f.txt");
    for (const Case& c : cases) {
        writeBytes(path, c.before);
        EXPECT_EQ(writeLines(path, MVB_OPEN_APPEND, c.encoding, c.flags, {"x"}), c.after)
            << c.encoding << " " << std::hex << c.flags;
    }
}

TEST(Writing, AppendRefusesAFileOfAnotherEncoding) {
    using namespace std::string_literals;
    constexpr const char* kMark = "byte-order mark";
    struct Case {
        std::string head;
        int encoding;
        const char* refusal;  ///< what the refusal says; null when the append goes ahead
    };
    const Case cases[] = {
        {"\xFF\xFEx\0"s, 65001, kMark},
        {"\xFF\xFEx\0"s, -1, kMark},
        {"\xFE\xFF\0x"s, 1200, kMark},
        {"\xEF\xBB\xBFx", 1252, kMark},
        {"\xFF\xFE\0\0k\0\0\0"s, 1200, kMark},  // a UTF-32LE mark starts as a UTF-16LE one does
        {"\xFF\xFE\0\0"s, 1200, kMark},
        {"x", 1200, "it is 1 byte long, not a whole number of UTF-16LE code units (2 bytes"},
        {"abcdef", 12001, "it is 6 bytes long, not a whole number of UTF-32BE code units (4"},
        {"\xFF\xFEx\0"s, 1200, nullptr},
        {"\xFF\xFE\0\0k\0\0\0"s, 12000, nullptr},
        {"\xEF\xBB\xBFx", 65001, nullptr},
        {"\xEF\xBB\xBFx", -1, nullptr},
        {"plaintxt", 1200, nullptr},
    };
    TempDir dir;
    const std::string path = (dir.path() / "marked.txt").string();
    for (const Case& c : cases) {
        for (uint32_t flags : {0u, uint32_t{MVB_FLAG_PROBE}}) {
            writeBytes(path, c.head);
            MvbString error;
            MvbTxtFile* file =
                mvbTxtFileOpen(path.c_str(), MVB_OPEN_APPEND, c.encoding, flags, error);
            EXPECT_EQ(file == nullptr, c.refusal != nullptr) << c.encoding << " " << error.view();
            if (file != nullptr) {
                file->close();
            } else if (c.refusal != nullptr) {
                EXPECT_THAT(std::string(error.view()), HasSubstr(c.refusal));
                EXPECT_THAT(std::string(error.view()), HasSubstr(path));
            }
            EXPECT_EQ(readBytes(path), c.head) << "an open for appending changes nothing";
        }
    }
}

TEST(Probe, ChangesNothing) {
    TempDir dir;
    const std::string existing = dir.file("existing.txt");
    writeBytes(existing, "keep me\n");
    struct stat before {};
    ASSERT_EQ(stat(existing.c_str(), &before), 0);
    for (int mode : {MVB_OPEN_CREATE, MVB_OPEN_APPEND}) {
        for (const std::string& path : {existing, dir.file("missing.txt")}) {
            MvbTxtFile* file = openWith(path, mode, 1200, MVB_FLAG_PROBE | MVB_FLAG_WRITE_BOM);
            ASSERT_NE(file, nullptr);
            EXPECT_FALSE(file->writeLine("x"));
            EXPECT_THAT(lastError(file), HasSubstr("only to check"));
            EXPECT_TRUE(file->flush());
            file->close();
        }
    }
    struct stat after {};
    ASSERT_EQ(stat(existing.c_str(), &after), 0);
    EXPECT_EQ(readBytes(existing), "keep me\n");
    EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
    EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
    EXPECT_FALSE(std::filesystem::exists(dir.file("missing.txt")));
}

struct PadCase {
    const char* name;
    int encoding;
    std::string text;
    int width;
    std::string bytes;  ///< the field as written
};

void PrintTo(const PadCase& c, std::ostream* out) {
    *out << c.name;
}

class Padded : public ::testing::TestWithParam<PadCase> {};

TEST_P(Padded, FillsOrCutsWithoutSplittingACharacter) {
    const PadCase& c = GetParam();
    TempDir dir;
    const std::string path = dir.file("f.txt");
    MvbTxtFile* file = openWith(path, MVB_OPEN_CREATE, c.encoding, 0);
    ASSERT_NE(file, nullptr);
    EXPECT_TRUE(file->writePadded(c.text.c_str(), static_cast<int>(c.text.size()), c.width))
        << lastError(file);
    EXPECT_EQ(file->getPosition(), static_cast<uint64_t>(c.width));
    file->close();
    EXPECT_EQ(readBytes(path), c.bytes);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Padded,
    ::testing::Values(
        PadCase{"utf8_pads", 65001, "abc", 5, "abc  "},
        PadCase{"utf8_exact", 65001, "abc", 3, "abc"},
        PadCase{"utf8_cuts_before_a_two_byte_character", 65001, "Jos\xC3\xA9", 4, "Jos "},
        PadCase{"utf8_cuts_before_a_four_byte_character", 65001, "a\xF0\x9F\x98\x80", 4, "a   "},
        PadCase{"utf8_zero_width", 65001, "abc", 0, ""},
        PadCase{"utf8_empty_text", 65001, "", 2, "  "},
        PadCase{"utf16_pads", 1200, "ab", 6, std::string("a\0b\0 \0", 6)},
        PadCase{"utf16_keeps_a_pair_that_fits", 1200, "a\xF0\x9F\x98\x80", 6,
                std::string("a\0\x3D\xD8\x00\xDE", 6)},
        PadCase{"utf16_cuts_before_a_pair", 1200, "ab\xF0\x9F\x98\x80", 6,
                std::string("a\0b\0 \0", 6)},
        PadCase{"utf32_cuts", 12000, "abc", 8, std::string("a\0\0\0b\0\0\0", 8)},
        PadCase{"windows1252", 1252, "\xE2\x82\xACuro", 2, "\x80u"},
        PadCase{"shift_jis_cuts_before_a_double_byte", 932, "a\xE6\xBC\xA2", 2, "a "},
        PadCase{"windows1252_lacks_a_character_past_the_cut", 1252, "ab\xE6\xBC\xA2", 2, "ab"},
        PadCase{"utf16_lacks_nothing_past_the_cut", 1200, "ab\xE6\xBC\xA2", 4,
                std::string("a\0b\0", 4)}),
    [](const auto& info) { return std::string(info.param.name); });

// writePaddedField tells a cut text from one that fit, in every encoding path.
TEST(Padded, SaysWhetherTheTextWasCut) {
    struct CutCase {
        int encoding;
        std::string text;
        int width;
        bool cut;
    };
    const CutCase cases[] = {
        {65001, "abc", 3, false},
        {65001, "abcd", 3, true},
        {65001, "J\xC3\xA9", 2, true},
        {1252, "abc", 3, false},
        {1252, "ab\xE6\xBC\xA2", 2, true},
        {1200, "ab", 4, false},
        {1200, "abc", 4, true},
        {65001, "", 0, false},
    };
    TempDir dir;
    for (const CutCase& c : cases) {
        SCOPED_TRACE(std::to_string(c.encoding) + " " + c.text);
        MvbTxtFile* file = openWith(dir.file("f.txt"), MVB_OPEN_CREATE, c.encoding, 0);
        ASSERT_NE(file, nullptr);
        FileCloser closer{file};
        bool cut = !c.cut;
        EXPECT_TRUE(
            file->writePaddedField(c.text.data(), static_cast<int>(c.text.size()), c.width, &cut))
            << lastError(file);
        EXPECT_EQ(cut, c.cut);
    }
}

TEST(Padded, WidthThatHoldsNoWholeCharactersFails) {
    TempDir dir;
    MvbTxtFile* file = openWith(dir.file("f.txt"), MVB_OPEN_CREATE, 1200, 0);
    ASSERT_NE(file, nullptr);
    FileCloser closer{file};
    EXPECT_FALSE(file->writePadded("ab", 2, 5));
    EXPECT_THAT(lastError(file), HasSubstr("5 bytes"));
    EXPECT_FALSE(file->writePadded("ab", 2, -1));
    // Not a failure of the file: later writes go on.
    EXPECT_TRUE(file->writePadded("ab", 2, 4));
}

// Blanks are filled a buffer's room at a time: fields narrower and wider than a 64-byte buffer,
// starting anywhere in it, come out whole and in order.
TEST(Padded, FieldsAcrossASmallBufferComeOutWhole) {
    struct Field {
        std::string text;
        int width;          ///< in characters, which are all one UTF-16 unit here
        std::string field;  ///< the field as UTF-8 (blanks included)
    };
    const std::vector<Field> ascii = {
        {"ab", 1, "a"},
        {"abc", 63, "abc" + std::string(60, ' ')},
        {"x", 64, "x" + std::string(63, ' ')},
        {"", 130, std::string(130, ' ')},
        {std::string(70, 'q'), 65, std::string(65, 'q')},
        {"end", 200, "end" + std::string(197, ' ')},
    };
    std::vector<Field> utf8 = ascii;
    utf8.push_back({"J\xC3\xA9", 65, "J\xC3\xA9" + std::string(62, ' ')});
    utf8.push_back({std::string(70, 'q') + "\xC3\xA9", 71, std::string(70, 'q') + " "});
    utf8.push_back({"tail", 3, "tai"});

    for (const int encoding : {65001, 1200}) {
        SCOPED_TRACE(encoding);
        const int unit = encoding == 1200 ? 2 : 1;
        TempDir dir;
        const std::string path = dir.file("f.txt");
        mvb::txt::FileTuning tuning;
        tuning.bufferBytes = 64;
        MvbString openError;
        MvbTxtFile* file =
            mvb::txt::openTextFile(path.c_str(), MVB_OPEN_CREATE, encoding, 0, openError, tuning);
        ASSERT_NE(file, nullptr) << openError.asCstr();
        std::string expected;
        for (const Field& f : unit == 1 ? utf8 : ascii) {
            ASSERT_TRUE(
                file->writePadded(f.text.data(), static_cast<int>(f.text.size()), unit * f.width))
                << lastError(file);
            for (const char c : f.field) {
                expected += c;
                if (unit == 2) expected += '\0';
            }
            EXPECT_EQ(file->getPosition(), expected.size());
        }
        EXPECT_TRUE(file->flush()) << lastError(file);
        file->close();
        EXPECT_EQ(readBytes(path), expected);
    }
}

// A line built in the room the file lends is written where it stands, with the file's line
// end; room left unused writes nothing; a small buffer is emptied to make room, and a request
// larger than the buffer, a file in another encoding or one open only to read lend none.
TEST(Writing, LinesBuiltInTheFilesRoomComeOutInOrder) {
    TempDir dir;
    const std::string path = dir.file("f.txt");
    mvb::txt::FileTuning tuning;
    tuning.bufferBytes = 64;
    MvbString openError;
    MvbTxtFile* file = mvb::txt::openTextFile(path.c_str(), MVB_OPEN_CREATE, 65001,
                                              MVB_FLAG_EOL_CRLF, openError, tuning);
    ASSERT_NE(file, nullptr) << openError.asCstr();
    EXPECT_EQ(file->reserveCheckedText(65), nullptr);
    std::string expected;
    const std::string lines[] = {"K\xC3\xB6ln", "", std::string(40, 'a'), "z",
                                 std::string(60, 'b')};
    for (const std::string& line : lines) {
        char* room = file->reserveCheckedText(static_cast<int>(line.size()) + 2);
        ASSERT_NE(room, nullptr) << line;
        std::memcpy(room, line.data(), line.size());
        ASSERT_TRUE(file->commitCheckedText(room + line.size(), true)) << lastError(file);
        expected += line + "\r\n";
        // Room taken and left unused is not written.
        char* unused = file->reserveCheckedText(4);
        ASSERT_NE(unused, nullptr);
        std::memcpy(unused, "junk", 4);
    }
    ASSERT_TRUE(file->writeLine("last")) << lastError(file);
    expected += "last\r\n";
    EXPECT_EQ(file->getPosition(), expected.size());
    EXPECT_TRUE(file->flush()) << lastError(file);
    file->close();
    EXPECT_EQ(readBytes(path), expected);

    MvbTxtFile* latin = openWith(dir.file("l.txt"), MVB_OPEN_CREATE, 1252, 0);
    ASSERT_NE(latin, nullptr);
    EXPECT_EQ(latin->reserveCheckedText(4), nullptr);
    latin->close();
    MvbTxtFile* reading = openWith(path, MVB_OPEN_READ, 65001, 0);
    ASSERT_NE(reading, nullptr);
    EXPECT_EQ(reading->reserveCheckedText(4), nullptr);
    reading->close();
}

// The cut drops bytes, but never the check of them: a padded text is valid UTF-8 as a whole or
// it is refused, and nothing of it is written.
TEST(Padded, InvalidTextIsRefusedEvenWhereTheCutWouldDropIt) {
    TempDir dir;
    const std::string path = dir.file("f.txt");
    MvbTxtFile* file = openWith(path, MVB_OPEN_CREATE, 65001, 0);
    ASSERT_NE(file, nullptr);
    EXPECT_FALSE(file->writePadded("ab\xFF", 3, 2));
    EXPECT_THAT(lastError(file), HasSubstr("not valid UTF-8"));
    EXPECT_FALSE(file->writePadded("ab\xC3", 3, 4));
    EXPECT_TRUE(file->writePadded("ok", 2, 3));
    file->close();
    EXPECT_EQ(readBytes(path), "ok ");
}

TEST(Writing, CharacterTheEncodingLacksFailsThatWriteOnly) {
    TempDir dir;
    const std::string path = dir.file("f.txt");
    MvbTxtFile* file = openWith(path, MVB_OPEN_CREATE, 1252, 0);
    ASSERT_NE(file, nullptr);
    EXPECT_TRUE(file->writeText("K\xC3\xB6ln "));
    EXPECT_FALSE(file->writeText("x\xE6\xBC\xA2"));
    EXPECT_THAT(lastError(file), HasSubstr("U+6F22"));
    EXPECT_THAT(lastError(file), HasSubstr(path));
    EXPECT_FALSE(file->writePadded("\xE6\xBC\xA2", 3, 4));
    EXPECT_FALSE(file->writeText("bad \xFF utf-8"));
    EXPECT_THAT(lastError(file), HasSubstr("not valid UTF-8"));
    EXPECT_TRUE(file->writeLine("ok"));
    file->close();
    EXPECT_EQ(readBytes(path), "K\xF6ln ok\n");
}

// 932 takes the yen sign but writes it as the backslash's byte, which reads back as a
// backslash: a character the file cannot give back is one the encoding lacks.
TEST(Writing, CharacterThatWouldReadBackAsAnotherFailsThatWrite) {
    TempDir dir;
    const std::string path = dir.file("f.txt");
    MvbTxtFile* file = openWith(path, MVB_OPEN_CREATE, 932, 0);
    ASSERT_NE(file, nullptr);
    EXPECT_TRUE(file->writeText("\xE6\x9D\xB1 \\ "));  // a kanji and the backslash itself
    EXPECT_FALSE(
        file->writeText("\xC2\xA5"
                        "100"));
    EXPECT_THAT(lastError(file), HasSubstr("U+00A5"));
    EXPECT_FALSE(file->writePadded("x\xE2\x88\x92", 4, 5));  // the minus sign
    EXPECT_TRUE(file->writeLine("ok"));
    file->close();
    EXPECT_EQ(readBytes(path), "\x93\x8C \\ ok\n");
}

// /dev/full takes the open and refuses every byte, as a full disk does.
TEST(WriteFailures, FullDeviceFailsAtFlushAndEveryWriteAfter) {
    MvbTxtFile* file = openWith("/dev/full", MVB_OPEN_CREATE, -1, 0);
    ASSERT_NE(file, nullptr);
    EXPECT_TRUE(file->writeLine("buffered"));
    EXPECT_FALSE(file->flush());
    const std::string error = lastError(file);
    EXPECT_THAT(error, HasSubstr("/dev/full"));
    EXPECT_THAT(error, HasSubstr("No space left on device"));
    EXPECT_FALSE(file->writeLine("later"));
    EXPECT_FALSE(file->writePadded("x", 1, 3));
    EXPECT_FALSE(file->flush());
    EXPECT_EQ(lastError(file), error);
    file->close();
}

TEST(WriteFailures, FullDeviceFailsAtTheWriteThatFillsTheBuffer) {
    mvb::txt::FileTuning tuning;
    tuning.bufferBytes = 64;
    MvbString openError;
    MvbTxtFile* file =
        mvb::txt::openTextFile("/dev/full", MVB_OPEN_APPEND, 1200, 0, openError, tuning);
    ASSERT_NE(file, nullptr) << openError.asCstr();
    bool failed = false;
    for (int i = 0; i < 100 && !failed; ++i) {
        failed = !file->writeLine("a line that soon fills a small buffer");
    }
    EXPECT_TRUE(failed);
    EXPECT_THAT(lastError(file), HasSubstr("No space left on device"));
    file->close();
}

}  // namespace
}  // namespace textfile_test
