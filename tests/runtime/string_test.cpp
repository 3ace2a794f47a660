#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "../../runtime/utf8_internal.h"  // decode, the one-character reference
#include "mvb/charset.h"
#include "mvb/path.h"
#include "mvb/string.h"

namespace {

TEST(String, LengthCountsCharacters) {
    EXPECT_EQ(MvbString("h\xC3\xA9llo", true).length(), 5);
    EXPECT_EQ(MvbString("\xE6\x97\xA5\xE6\x9C\xAC", true).length(), 2);
    EXPECT_EQ(MvbString("\xF0\x9F\x98\x80x", true).length(), 2);
    EXPECT_EQ(MvbString().length(), 0);
    EXPECT_EQ(MvbString("h\xC3\xA9", true).cStrSize(), 4);
    EXPECT_TRUE(MvbString(nullptr, false).empty());
}

struct MidCase {
    int start;
    int count;
    const char* expected;
};

TEST(String, MidCountsCharacters) {
    const MvbString text("h\xC3\xA9llo w\xC3\xB6rld", true);
    const MidCase cases[] = {
        {6, -1, "w\xC3\xB6rld"}, {1, 3, "\xC3\xA9ll"}, {0, 2, "h\xC3\xA9"}, {20, 2, ""},
        {9, 10, "ld"},           {-3, 1, "h"},         {3, 0, ""},
    };
    for (const MidCase& c : cases) {
        EXPECT_STREQ(text.mid(c.start, c.count).asCstr(), c.expected)
            << "mid(" << c.start << ", " << c.count << ")";
    }
}

TEST(String, CompareFoldsAsciiCaseOnlyWhenAsked) {
    const MvbString text("FileName", true);
    EXPECT_EQ(text.compare("filename", true), 0);
    EXPECT_NE(text.compare("filename", false), 0);
    EXPECT_EQ(text.compare("FileName", false), 0);
    EXPECT_LT(text.compare("FileNamez", false), 0);
    EXPECT_GT(text.compare("File", true), 0);
    EXPECT_LT(text.compare("G", true), 0);
    EXPECT_NE(MvbString("\xC3\x89", true).compare("\xC3\xA9", true), 0);  // only ASCII folds
    EXPECT_EQ(MvbString().compare(nullptr, false), 0);
}

TEST(String, TrimRemovesBlanksAndTabsAtTheChosenEnds) {
    struct Case {
        const char* text;
        bool left;
        bool right;
        const char* expected;
    };
    const Case cases[] = {
        {" \t a b \t", true, true, "a b"},
        {" \t a b \t", true, false, "a b \t"},
        {" \t a b \t", false, true, " \t a b"},
        {" \t a b \t", false, false, " \t a b \t"},
        {"   ", true, true, ""},
        {"", true, true, ""},
        {"\na\n", true, true, "\na\n"},
    };
    for (const Case& c : cases) {
        MvbString text(c.text, true);
        text.trim(c.left, c.right);
        EXPECT_STREQ(text.asCstr(), c.expected) << "[" << c.text << "] " << c.left << c.right;
    }
}

struct DecodeCase {
    const char* text;
    int code;
    int length;
};

TEST(Charset, ToIntDecodesOneCharacter) {
    const DecodeCase cases[] = {
        {"A", 'A', 1},
        {"\xC3\xA9x", 0xE9, 2},
        {"\xE2\x82\xAC", 0x20AC, 3},
        {"\xF0\x9F\x98\x80", 0x1F600, 4},
        {"", 0, 0},
        {"\xC3", 0xC3, 1},              // cut short by the terminator
        {"\x80x", 0x80, 1},             // a stray continuation byte
        {"\xC0\xAF", 0xC0, 1},          // overlong
        {"\xED\xA0\x80", 0xED, 1},      // a surrogate
        {"\xF4\x90\x80\x80", 0xF4, 1},  // past U+10FFFF
        {"\xFF", 0xFF, 1},
    };
    for (const DecodeCase& c : cases) {
        int length = -1;
        EXPECT_EQ(np_uchar_toint(c.text, &length), c.code) << c.text;
        EXPECT_EQ(length, c.length) << c.text;
    }
}

TEST(Charset, IntCopyRoundTripsEveryScalarValue) {
    for (int code = 1; code <= 0x10FFFF; ++code) {
        if (code >= 0xD800 && code <= 0xDFFF) {
            continue;
        }
        char buffer[5] = {};
        const int written = np_uchar_intcopy(code, buffer, 4);
        ASSERT_GT(written, 0) << code;
        int length = 0;
        ASSERT_EQ(np_uchar_toint(buffer, &length), code);
        ASSERT_EQ(length, written);
        ASSERT_TRUE(mvbIsValidUtf8(buffer, written)) << code;
    }
}

TEST(Charset, IntCopyRefusesWhatItCannotWrite) {
    char buffer[5] = {};
    EXPECT_EQ(np_uchar_intcopy(0xD800, buffer, 4), 0);
    EXPECT_EQ(np_uchar_intcopy(0x110000, buffer, 4), 0);
    EXPECT_EQ(np_uchar_intcopy(-1, buffer, 4), 0);
    EXPECT_EQ(np_uchar_intcopy(0x20AC, buffer, 2), 0);  // needs three bytes
    EXPECT_STREQ(buffer, "");
    EXPECT_EQ(np_uchar_intcopy(0x09, buffer, 4), 1);
    EXPECT_STREQ(buffer, "\t");
}

TEST(Charset, ValidatesUtf8) {
    struct Case {
        std::string bytes;
        bool valid;
    };
    const Case cases[] = {
        {"", true},
        {"plain ascii", true},
        {"h\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80", true},
        {std::string("a\0b", 3), true},
        {"\xC3", false},
        {"\xE2\x82", false},
        {"\xC0\x80", false},
        {"\xE0\x80\x80", false},
        {"\xED\xBF\xBF", false},
        {"\xF4\x90\x80\x80", false},
        {"\xF8\x88\x80\x80\x80", false},
        {"\x80", false},
        {"\xC3\x28", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(mvbIsValidUtf8(c.bytes.data(), static_cast<long>(c.bytes.size())), c.valid)
            << testing::PrintToString(c.bytes);
    }
}

TEST(Charset, FindsABadByteAtEveryPositionOfALongRun) {
    // Exercises the word-wise ASCII skip: the bad byte sits before, inside and after each word.
    for (size_t size = 1; size < 80; ++size) {
        for (size_t bad = 0; bad < size; ++bad) {
            std::string bytes(size, 'a');
            bytes[bad] = '\xFF';
            ASSERT_FALSE(mvbIsValidUtf8(bytes.data(), static_cast<long>(size)))
                << size << "/" << bad;
            bytes[bad] = 'b';
            ASSERT_TRUE(mvbIsValidUtf8(bytes.data(), static_cast<long>(size)));
        }
        std::string cut(size, 'a');
        cut += "\xE2\x82";  // a character cut at the very end
        ASSERT_FALSE(mvbIsValidUtf8(cut.data(), static_cast<long>(cut.size()))) << size;
    }
}

// Long texts are checked 32 or 16 bytes at a time where the processor can (and 64 ASCII bytes at
// once); the valid prefix must end exactly where a character-by-character decode stops,
// whichever bytes cross a block's edge.
TEST(Charset, ValidPrefixEndsWhereDecodingStops) {
    const char* const pieces[] = {
        "a", "Z", " ", "\x7F", "\xC3\xA9", "\xC2\x80", "\xDF\xBF", "\xE0\xA0\x80", "\xE2\x82\xAC",
        "\xED\x9F\xBF", "\xEE\x80\x80", "\xEF\xBF\xBF", "\xF0\x90\x80\x80", "\xF4\x8F\xBF\xBF",
        "\xF3\xA0\x80\x81",
        // Wrong: overlong, surrogate, past U+10FFFF, stray or missing continuations, bad leads.
        "\xC0\xAF", "\xC1\xBF", "\xE0\x9F\xBF", "\xED\xA0\x80", "\xF0\x8F\xBF\xBF",
        "\xF4\x90\x80\x80", "\xF5\x80\x80\x80", "\xFF", "\x80", "\xBF", "\xC3", "\xE2\x82",
        "\xF0\x9F\x98"};
    constexpr size_t kValidPieces = 15;
    std::mt19937 random(20261208);
    for (int round = 0; round < 4000; ++round) {
        std::string text;
        // Every other round is mostly ASCII and longer, so that runs of 64 ASCII bytes (which
        // are skipped whole) meet characters and errors on both sides.
        const bool ascii = round % 2 == 1;
        const size_t length = 1 + random() % (ascii ? 300 : 120);
        const bool spoil = round % 4 != 0;
        const size_t spoilAt = random() % length;
        for (size_t i = 0; text.size() < length; ++i) {
            const size_t piece = spoil && i == spoilAt         ? kValidPieces + random() % 13
                                 : ascii && random() % 40 != 0 ? random() % 4
                                                               : random() % kValidPieces;
            text += pieces[piece];
        }
        // A prefix is valid exactly when it ends where a decoded character ends.
        const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
        std::vector<bool> ends(text.size() + 1, false);
        ends[0] = true;
        for (size_t at = 0; at < text.size();) {
            int code = 0;
            const int n = mvb::utf8::decode(bytes + at, text.size() - at, &code);
            if (n == 0) break;
            at += static_cast<size_t>(n);
            ends[at] = true;
        }
        for (size_t size = 0; size <= text.size(); ++size) {
            ASSERT_EQ(mvbIsValidUtf8(text.data(), static_cast<long>(size)), ends[size])
                << size << " bytes of " << testing::PrintToString(text);
            // The narrower blocks that processors without the wider ones take.
            for (const int blockBytes : {0, 16}) {
                ASSERT_EQ(mvb::utf8::validPrefixInBlocks(text.data(), size, blockBytes) == size,
                          ends[size])
                    << size << " bytes in blocks of " << blockBytes;
            }
        }
    }
}

struct PathCase {
    const char* path;
    const char* directory;
    const char* name;
};

const PathCase kPathCases[] = {
    {"dir/file.txt", "dir", "file.txt"},
    {"file.txt", "", "file.txt"},
    {"/file", "/", "file"},
    {"/a/b/c.csv", "/a/b", "c.csv"},
    {"a//b", "a", "b"},
    {"dir/", "dir", ""},
    {"", "", ""},
    {"./x y.csv", ".", "x y.csv"},
};

TEST(Paths, ParsePathSplitsDirectoryAndName) {
    for (const PathCase& c : kPathCases) {
        MvbString name;
        EXPECT_STREQ(mvbParsePath(c.path, &name).asCstr(), c.directory) << c.path;
        EXPECT_STREQ(name.asCstr(), c.name) << c.path;
        char dir[256];
        char file[256];
        EXPECT_EQ(np_fio_pparse(c.path, dir, 256, file, 256), 0);
        EXPECT_STREQ(dir, c.directory) << c.path;
        EXPECT_STREQ(file, c.name) << c.path;
    }
    EXPECT_STREQ(mvbParsePath("x/y", nullptr).asCstr(), "x");
}

TEST(Paths, ConcatJoinsWithOneSlash) {
    EXPECT_STREQ(mvbConcatPath("dir", "marovind.css").asCstr(), "dir/marovind.css");
    EXPECT_STREQ(mvbConcatPath("dir/", "x").asCstr(), "dir/x");
    EXPECT_STREQ(mvbConcatPath("", "x").asCstr(), "x");
    EXPECT_STREQ(mvbConcatPath("/", "x").asCstr(), "/x");
    EXPECT_STREQ(mvbConcatPath("a//", "/x").asCstr(), "a/x");
}

TEST(Paths, PparseKeepsTheNameWhenTheDirectoryIsTooLong) {
    const std::string deep = std::string(300, 'd') + "/data.csv";
    char dir[256];
    char name[256];
    std::memset(dir, 'X', sizeof dir);
    EXPECT_EQ(np_fio_pparse(deep.c_str(), dir, 256, name, 256), 0);
    EXPECT_STREQ(dir, "");
    EXPECT_STREQ(name, "data.csv");

    const std::string longName = "dir/" + std::string(256, 'n');
    EXPECT_NE(np_fio_pparse(longName.c_str(), dir, 256, name, 256), 0);
    EXPECT_STREQ(name, "");
    const std::string fitting = "dir/" + std::string(255, 'n');
    EXPECT_EQ(np_fio_pparse(fitting.c_str(), dir, 256, name, 256), 0);
    EXPECT_EQ(std::strlen(name), 255u);
    EXPECT_NE(np_fio_pparse(nullptr, dir, 256, name, 256), 0);
}

}  // namespace
