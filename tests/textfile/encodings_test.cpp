// Reading the shared encoding fixtures, byte-order marks, and write-then-read round trips.

#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "common/test_data.h"
#include "mvb/charset.h"
#include "mvb/txtfile.h"
#include "mvb/types.h"
#include "support/textfile_support.h"

namespace textfile_test {
namespace {

const std::string kFixtures = testdata::path("encodings/");

struct Fixture {
    std::string file;
    int codepage;
    bool hasBom;
    std::vector<std::vector<std::string>> rows;
};

void PrintTo(const Fixture& fixture, std::ostream* out) {
    *out << fixture.file;
}

/// The fixtures the manifest lists. Without a readable manifest the list is the manifest alone,
/// so that every test over the fixtures fails naming it instead of the program failing to start.
std::vector<Fixture> loadManifest() {
    nlohmann::json manifest;
    try {
        manifest = testdata::readJson(kFixtures + "manifest.json");
    } catch (const std::exception&) {
        return {Fixture{"manifest.json", 65001, true, {}}};
    }
    std::vector<Fixture> fixtures;
    for (const auto& entry : manifest["files"]) {
        fixtures.push_back({entry["file"], entry["codepage"], entry["has_bom"],
                            entry["rows"].get<std::vector<std::vector<std::string>>>()});
    }
    return fixtures;
}

/// Splits one line of the fixtures: comma, double quote, doubled quote inside quotes.
std::vector<std::string> splitCsv(const std::string& line) {
    std::vector<std::string> fields(1);
    bool quoted = false;
    for (size_t at = 0; at < line.size(); ++at) {
        const char c = line[at];
        if (quoted) {
            if (c == '"' && at + 1 < line.size() && line[at + 1] == '"') {
                fields.back() += '"';
                ++at;
            } else if (c == '"') {
                quoted = false;
            } else {
                fields.back() += c;
            }
        } else if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            fields.emplace_back();
        } else {
            fields.back() += c;
        }
    }
    return fields;
}

class FixtureRead : public ::testing::TestWithParam<std::tuple<Fixture, size_t>> {};

TEST_P(FixtureRead, DecodesEveryRowWithConfiguredEncodingAndMark) {
    const auto& [fixture, bufferBytes] = GetParam();
    ASSERT_FALSE(fixture.rows.empty()) << "missing test data: " << kFixtures + fixture.file;
    MvbTxtFile* file = openWith(kFixtures + fixture.file, MVB_OPEN_READ, fixture.codepage,
                                MVB_FLAG_READ_BOM, bufferBytes);
    ASSERT_NE(file, nullptr);
    FileCloser closer{file};
    EXPECT_EQ(file->getEncoding(), fixture.codepage);
    const std::vector<std::string> lines = readAllLines(file);
    ASSERT_EQ(lines.size(), fixture.rows.size()) << (lines.empty() ? "" : lines.back());
    for (size_t i = 0; i < lines.size(); ++i) {
        EXPECT_EQ(splitCsv(lines[i]), fixture.rows[i]) << "line " << i + 1;
    }
    EXPECT_EQ(file->getPosition(), file->getSize());
}

class FixtureDetect : public FixtureRead {};

TEST_P(FixtureDetect, DetectsUnicodeFromItsMark) {
    const auto& [fixture, bufferBytes] = GetParam();
    ASSERT_FALSE(fixture.rows.empty()) << "missing test data: " << kFixtures + fixture.file;
    MvbTxtFile* file =
        openWith(kFixtures + fixture.file, MVB_OPEN_READ, -1, MVB_FLAG_READ_BOM, bufferBytes);
    ASSERT_NE(file, nullptr);
    FileCloser closer{file};
    EXPECT_EQ(file->getEncoding(), fixture.codepage);
    const std::vector<std::string> lines = readAllLines(file);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines[0], "id,name,city,comment,amount");
    EXPECT_EQ(lines.size(), fixture.rows.size());
}

std::string fixtureName(const ::testing::TestParamInfo<std::tuple<Fixture, size_t>>& info) {
    std::string name = std::get<0>(info.param).file;
    for (char& c : name) {
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    }
    return name + "_buffer" + std::to_string(std::get<1>(info.param));
}

std::vector<Fixture> withMark() {
    std::vector<Fixture> marked;
    for (const Fixture& fixture : loadManifest()) {
        if (fixture.hasBom) marked.push_back(fixture);
    }
    return marked;
}

INSTANTIATE_TEST_SUITE_P(Fixtures, FixtureRead,
                         ::testing::Combine(::testing::ValuesIn(loadManifest()),
                                            ::testing::ValuesIn(kBufferSizes)),
                         fixtureName);
INSTANTIATE_TEST_SUITE_P(Fixtures, FixtureDetect,
                         ::testing::Combine(::testing::ValuesIn(withMark()),
                                            ::testing::ValuesIn(kBufferSizes)),
                         fixtureName);

TEST(ByteOrderMark, WithoutTheFlagOnlyAUtf8MarkIsDropped) {
    struct Case {
        const char* file;
        int encoding;
        const char* firstLine;
    };
    const std::string header = "id,name,city,comment,amount";
    for (const Case& c :
         {Case{"utf8_bom.csv", 65001, ""}, Case{"utf8_bom.csv", 0, ""},
          Case{"utf8_bom.csv", -1, ""}, Case{"utf16le_bom.csv", 1200, "\xEF\xBB\xBF"},
          Case{"utf16be_bom.csv", 1201, "\xEF\xBB\xBF"}}) {
        MvbTxtFile* file = openWith(kFixtures + c.file, MVB_OPEN_READ, c.encoding, 0);
        ASSERT_NE(file, nullptr);
        FileCloser closer{file};
        EXPECT_EQ(file->getEncoding(), c.encoding == -1 ? 65001 : c.encoding);
        const std::vector<std::string> lines = readAllLines(file);
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(lines[0], c.firstLine + header) << c.file << " " << c.encoding;
    }
}

TEST(ByteOrderMark, AnotherMarkOnAUtf8ReadSaysWhatToSet) {
    struct Case {
        const char* file;
        const char* expected;
    };
    for (const Case& c : {Case{"utf16le_bom.csv", "UTF-16LE byte-order mark"},
                          Case{"utf16be_bom.csv", "UTF-16BE byte-order mark"},
                          Case{"utf32le_bom.csv", "UTF-32LE byte-order mark"}}) {
        for (int encoding : {-1, 65001}) {
            MvbString error;
            MvbTxtFile* file =
                mvbTxtFileOpen((kFixtures + c.file).c_str(), MVB_OPEN_READ, encoding, 0, error);
            ASSERT_EQ(file, nullptr) << c.file;
            EXPECT_NE(std::string(error.view()).find(c.expected), std::string::npos)
                << error.view();
            EXPECT_NE(std::string(error.view()).find("set BYTE_ORDER_MARK true or ENCODING"),
                      std::string::npos)
                << error.view();
        }
    }
}

TEST(ByteOrderMark, DetectionReadsUtf16And32WithoutAMarkByTheirNuls) {
    TempDir dir;
    struct Case {
        std::string bytes;
        int encoding;
    };
    const Case cases[] = {
        {std::string("a\0b\0\n\0", 6), 1200},
        {std::string("\0a\0b\0\n", 6), 1201},
        {std::string("a\0\0\0b\0\0\0\n\0\0\0", 12), 12000},
        {std::string("\0\0\0a\0\0\0b\0\0\0\n", 12), 12001},
        {"ab\n", 65001},
    };
    for (const Case& c : cases) {
        const std::string path = (dir.path() / "nul.csv").string();
        writeBytes(path, c.bytes);
        for (size_t bufferBytes : kBufferSizes) {
            MvbTxtFile* file = openWith(path, MVB_OPEN_READ, -1, MVB_FLAG_READ_BOM, bufferBytes);
            ASSERT_NE(file, nullptr);
            FileCloser closer{file};
            EXPECT_EQ(file->getEncoding(), c.encoding);
            EXPECT_EQ(readAllLines(file), std::vector<std::string>{"ab"}) << c.encoding;
        }
    }
}

// Without a mark, NULs tell wide text where at least half of the characters read have them as a
// character below U+0100 has, and no unit is NUL or beyond U+10FFFF: records padded with NULs,
// or NULs read as blanks, are no such text. Read as UTF-8 for want of an encoding, such text
// fails the open naming the encoding to set. Read in units of two or four bytes, the mark of
// another encoding or byte order is no text either and fails the open; the encoding's own mark
// is read as text, as marks are not honoured.
TEST(ByteOrderMark, WideTextIsToldByItsNulsAndAnotherMarkIsNoText) {
    using namespace std::string_literals;
    TempDir dir;
    struct Case {
        std::string bytes;
        uint32_t flags;
        int encoding;          ///< what the file is read as; 0: the open fails
        const char* expected;  ///< in the error
        int configured = -1;   ///< the ENCODING given
    };
    const std::string cjk =
        "i\0d\0\n\0"
        "1\0,\0\x2D\x4E\x71\x5C\n\0"s;   // U+4E2D, U+5C71 among ASCII
    const std::string le = "\xFF\xFE"s;  // the UTF-16LE mark
    const Case cases[] = {
        {std::string("A\0B\0CDEF\nGHIJKLMN\n", 18), MVB_FLAG_READ_BOM, 65001, nullptr},
        {std::string("a\0b\0\n\0", 6), MVB_FLAG_READ_BOM | MVB_FLAG_REPLACE_NULS, 65001, nullptr},
        {std::string("a\0b\0,\0c\0\n\0", 10), 0, 0, "UTF-16LE text without a byte-order mark"},
        {std::string("\0a\0b\0\n", 6), 0, 0, "set ENCODING 1201"},
        {std::string("a\0\0\0b\0\0\0\n\0\0\0", 12), 0, 0, "set ENCODING 12000"},
        {std::string("A\0\0\0B\0\n", 7), 0, 65001, nullptr},
        {cjk, 0, 0, "set ENCODING 1200"},
        {cjk, MVB_FLAG_READ_BOM, 1200, nullptr},
        // A NUL unit, or one beyond U+10FFFF, is no such text.
        {std::string("a\0b\0\0\0c\0", 8), 0, 65001, nullptr},
        {std::string("a\0\0\0b\0c\0", 8), 0, 65001, nullptr},
        {std::string("a\0b\0\n\0", 6), MVB_FLAG_REPLACE_NULS, 65001, nullptr},
        // Marks read in wide units.
        {le + "a\0\n\0"s, 0, 0, "UTF-16LE byte-order mark but is read as UTF-16BE", 1201},
        {"\xFE\xFF\0a\0\n"s, 0, 0, "set BYTE_ORDER_MARK true or ENCODING 1201", 1200},
        {"\xEF\xBB\xBF"s + "ab", 0, 0, "UTF-8 byte-order mark", 1200},
        {le + "a\0\n\0"s, 0, 0, "UTF-16LE byte-order mark", 12000},
        {le + "\0\0a\0\0\0"s, 0, 12000, nullptr, 12000},
        {le + "a\0\n\0"s, 0, 1200, nullptr, 1200},
    };
    const std::string path = (dir.path() / "wide.csv").string();
    for (const Case& c : cases) {
        writeBytes(path, c.bytes);
        MvbString error;
        MvbTxtFile* file =
            mvbTxtFileOpen(path.c_str(), MVB_OPEN_READ, c.configured, c.flags, error);
        if (c.encoding == 0) {
            EXPECT_EQ(file, nullptr);
            EXPECT_NE(std::string(error.view()).find(c.expected), std::string::npos)
                << error.view();
            continue;
        }
        ASSERT_NE(file, nullptr) << error.view();
        EXPECT_EQ(file->getEncoding(), c.encoding) << c.flags;
        file->close();
    }
}

TEST(ByteOrderMark, DetectionWithoutAMarkFallsBackToUtf8) {
    MvbTxtFile* file = openWith(kFixtures + "utf8.csv", MVB_OPEN_READ, -1, MVB_FLAG_READ_BOM);
    ASSERT_NE(file, nullptr);
    FileCloser closer{file};
    EXPECT_EQ(file->getEncoding(), 65001);
    EXPECT_EQ(file->getPosition(), 0u);
}

TEST(ByteOrderMark, ConfiguredEncodingGivesWayToTheMarkOfAnother) {
    MvbTxtFile* file =
        openWith(kFixtures + "utf16le_bom.csv", MVB_OPEN_READ, 1252, MVB_FLAG_READ_BOM);
    ASSERT_NE(file, nullptr);
    FileCloser closer{file};
    EXPECT_EQ(file->getEncoding(), 1200);
    EXPECT_EQ(file->getPosition(), 2u);
}

// Every encoding number: its character sizes, and bytes that read as a text no other number's
// table gives (so a number mapped to a neighbour's table is caught). ASCII has no byte of its
// own: a byte above 127 is not a character in it.
TEST(EncodingNumbers, SizesAndATextOfTheirOwn) {
    using namespace std::string_literals;
    struct Case {
        int encoding, min, max;
        std::string bytes;
        const char* text;  ///< UTF-8; null when the bytes do not read
    };
    const Case cases[] = {
        {0, 1, 4, "\xC3\xA9", "\u00E9"},
        {437, 1, 1, "\x9B", "\u00A2"},
        {850, 1, 1, "\x9B", "\u00F8"},
        {866, 1, 1, "\x80", "\u0410"},
        {932, 1, 2, "\x82\xA0", "\u3042"},
        {936, 1, 2, "\x80\xD6\xD0", "\u20AC\u4E2D"},
        {949, 1, 2, "\xB0\xA1", "\uAC00"},
        {950, 1, 2, "\xA4\xA4", "\u4E2D"},
        {1200, 2, 4, "\xE9\0"s, "\u00E9"},
        {1201, 2, 4, "\0\xE9"s, "\u00E9"},
        {1250, 1, 1, "\x8C", "\u015A"},
        {1251, 1, 1, "\x80", "\u0402"},
        {1252, 1, 1, "\x8E\x83", "\u017D\u0192"},
        {1253, 1, 1, "\xA1", "\u0385"},
        {1254, 1, 1, "\xD0\x80", "\u011E\u20AC"},
        {1255, 1, 1, "\xA4", "\u20AA"},
        {1256, 1, 1, "\x81", "\u067E"},
        {1257, 1, 1, "\x8D", "\u00A8"},
        {1258, 1, 1, "\xD5", "\u01A0"},
        {12000, 4, 4, "\xE9\0\0\0"s, "\u00E9"},
        {12001, 4, 4, "\0\0\0\xE9"s, "\u00E9"},
        {20127, 1, 1, "\xE9", nullptr},
        {28591, 1, 1, "\xA4\xD0\x80", "\u00A4\u00D0\xC2\x80"},
        {28592, 1, 1, "\xA5", "\u013D"},
        {28593, 1, 1, "\xA1", "\u0126"},
        {28594, 1, 1, "\xA2", "\u0138"},
        {28595, 1, 1, "\xA1", "\u0401"},
        {28596, 1, 1, "\xAC", "\u060C"},
        {28597, 1, 1, "\xA1", "\u2018"},
        {28598, 1, 1, "\xDF", "\u2017"},
        {28599, 1, 1, "\xD0\x80", "\u011E\xC2\x80"},
        {28600, 1, 1, "\xA2", "\u0112"},
        {28601, 1, 1, "\xA1", "\u0E01"},
        {28603, 1, 1, "\xA1", "\u201D"},
        {28604, 1, 1, "\xA1", "\u1E02"},
        {28605, 1, 1, "\xA6", "\u0160"},
        {54936, 1, 4, "\xA2\xE3", "\u20AC"},
        {65001, 1, 4, "\xC3\xA9", "\u00E9"},
    };
    TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE("encoding " + std::to_string(c.encoding));
        EXPECT_EQ(np_uchar_chsize_min(c.encoding), c.min);
        EXPECT_EQ(np_uchar_xcsize_max(c.encoding), c.max);
        const std::string path = dir.file("e" + std::to_string(c.encoding) + ".txt");
        writeBytes(path, c.bytes);
        MvbTxtFile* file = openWith(path, MVB_OPEN_READ, c.encoding, 0);
        ASSERT_NE(file, nullptr);
        FileCloser closer{file};
        const std::vector<std::string> lines = readAllLines(file);
        ASSERT_EQ(lines.size(), 1u);
        if (c.text != nullptr) {
            EXPECT_EQ(lines[0], c.text);
        } else {
            EXPECT_EQ(lines[0].rfind("<error: ", 0), 0u) << lines[0];
        }
    }
    // Detection, and a number that is no encoding.
    for (const int encoding : {-1, 12345}) {
        EXPECT_EQ(np_uchar_chsize_min(encoding), 1) << encoding;
        EXPECT_EQ(np_uchar_xcsize_max(encoding), 4) << encoding;
    }
}

// Writing the header and rows of utf8.csv in another encoding must give exactly the bytes of
// the fixture in that encoding, and reading that back must give the lines again.
class RoundTrip : public ::testing::TestWithParam<const char*> {};

TEST_P(RoundTrip, WritesTheFixtureBytesAndReadsThemBack) {
    const std::string target = GetParam();
    const std::vector<Fixture> fixtures = loadManifest();
    const auto fixture = std::find_if(fixtures.begin(), fixtures.end(),
                                      [&](const Fixture& f) { return f.file == target; });
    ASSERT_NE(fixture, fixtures.end()) << "missing test data: " << kFixtures + target;
    const std::string source =
        fixture->codepage == 1252 || fixture->codepage == 28591 ? fixture->file : "utf8.csv";
    MvbTxtFile* in =
        openWith(kFixtures + source, MVB_OPEN_READ, fixture->codepage == 1252 ? 1252 : -1, 0);
    ASSERT_NE(in, nullptr);
    std::vector<std::string> lines = readAllLines(in);
    in->close();

    TempDir dir;
    const std::string path = dir.file("out.csv");
    const uint32_t flags = (fixture->hasBom ? MVB_FLAG_WRITE_BOM : 0u) |
                           (target == "utf8_crlf.csv" ? MVB_FLAG_EOL_CRLF : 0u) |
                           (target == "utf8_cr.csv" ? MVB_FLAG_EOL_CR : 0u);
    MvbTxtFile* out = openWith(path, MVB_OPEN_CREATE, fixture->codepage, flags);
    ASSERT_NE(out, nullptr);
    for (const std::string& line : lines) {
        ASSERT_TRUE(out->writeLine(line.c_str())) << lastError(out);
    }
    ASSERT_TRUE(out->flush()) << lastError(out);
    EXPECT_EQ(out->getPosition(), static_cast<uint64_t>(readBytes(kFixtures + target).size()));
    out->close();
    EXPECT_EQ(readBytes(path), readBytes(kFixtures + target));

    for (size_t bufferBytes : kBufferSizes) {
        MvbTxtFile* back =
            openWith(path, MVB_OPEN_READ, fixture->codepage, MVB_FLAG_READ_BOM, bufferBytes);
        ASSERT_NE(back, nullptr);
        EXPECT_EQ(readAllLines(back), lines) << "buffer " << bufferBytes;
        back->close();
    }
}

INSTANTIATE_TEST_SUITE_P(Encodings, RoundTrip,
                         ::testing::Values("utf8.csv", "utf8_bom.csv", "utf8_crlf.csv",
                                           "utf8_cr.csv", "utf16le_bom.csv", "utf16be_bom.csv",
                                           "utf16le_nobom.csv", "utf32le_bom.csv",
                                           "windows1252.csv"));

}  // namespace
}  // namespace textfile_test
