// readLineFields() against the field-by-field reads it stands for: over random lines of
// multi-byte characters, blanks, CR LF, CR and LF line ends, short and empty lines and a last
// line without a line end, with every buffer size, both files give the same fields, end at the
// same positions and count the same lines. Layouts with gaps, adjacent fields and fields past
// the longest line take part.

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "mvb/text_bytes.h"
#include "mvb/txtfile.h"
#include "support/textfile_support.h"

namespace textfile_test {
namespace {

struct Layout {
    std::vector<int> starts;
    std::vector<int> widths;
};

/// The fields of one line as a fixed-width source reads them one by one: a gap is skipped, a
/// field read up to the line's end, and the rest of the line skipped. Null fields are "<null>".
std::vector<std::string> readOneByOne(MvbTxtFile* file, const Layout& layout) {
    std::vector<std::string> fields;
    bool lineEnded = false;
    int position = 0;
    for (size_t i = 0; i < layout.starts.size(); ++i) {
        if (lineEnded) {
            fields.emplace_back("<null>");
            continue;
        }
        if (layout.starts[i] != position) {
            const int skipped = file->skip(layout.starts[i] - position, &lineEnded);
            EXPECT_GE(skipped, 0) << lastError(file);
            position += skipped;
            if (lineEnded) {
                fields.emplace_back("<null>");
                continue;
            }
        }
        MvbTextSpan text;
        const int got = file->readInLine(layout.widths[i], &text, &lineEnded);
        EXPECT_GE(got, 0) << lastError(file);
        position += got;
        if (got == 0) {
            lineEnded = true;
            fields.emplace_back("<null>");
        } else {
            fields.emplace_back(text.text, static_cast<size_t>(text.bytes));
        }
    }
    if (!lineEnded) {
        EXPECT_GE(file->skip(-1, &lineEnded), 0) << lastError(file);
    }
    return fields;
}

std::string randomLine(std::mt19937& random, const std::vector<std::string>& pieces) {
    std::string line;
    const int count = static_cast<int>(random() % 30);
    for (int i = 0; i < count; ++i)
        line += pieces[random() % pieces.size()];
    static const char* const kEnds[] = {"\n", "\r\n", "\r"};
    return line + kEnds[random() % 3];
}

TEST(LineFields, GivesWhatFieldByFieldReadsGive) {
    const std::vector<Layout> layouts = {
        {{0, 3, 6}, {3, 3, 3}},
        {{0, 2, 9}, {1, 5, 20}},
        {{1}, {4}},
        {{0, 4, 8, 12, 16, 20, 24, 28}, {4, 4, 4, 4, 4, 4, 4, 4}},
        {{5, 60}, {40, 10}},
    };
    // UTF-8, whose characters a byte count may cut, and a code page of one byte each, whose
    // fields are decoded one by one.
    const struct {
        int encoding;
        std::vector<std::string> pieces;
    } encodings[] = {
        {65001,
         {"a", "Z", "7", " ", "  ", "\xC3\xA9", "\xE2\x82\xAC", "\xF0\x9F\x98\x80", "-", "\t"}},
        {1252, {"a", "Z", "7", " ", "  ", "\xE9", "\x80", "-", "\t"}},
    };
    std::mt19937 random(20241209);
    TempDir dir;
    for (int round = 0; round < 12; ++round) {
        const auto& [encoding, pieces] = encodings[round % 2];
        std::string bytes;
        for (int i = 0; i < 300; ++i)
            bytes += randomLine(random, pieces);
        if (round % 4 >= 2) bytes += "tail without a line end" + pieces[5];
        const std::string path = dir.file("in" + std::to_string(round) + ".txt");
        writeBytes(path, bytes);
        for (const Layout& layout : layouts) {
            for (const size_t bufferBytes : kBufferSizes) {
                SCOPED_TRACE(testing::Message() << "round " << round << ", buffer " << bufferBytes
                                                << ", fields " << layout.starts.size());
                MvbTxtFile* whole = openWith(path, MVB_OPEN_READ, encoding, 0, bufferBytes);
                MvbTxtFile* single = openWith(path, MVB_OPEN_READ, encoding, 0, bufferBytes);
                ASSERT_NE(whole, nullptr);
                ASSERT_NE(single, nullptr);
                FileCloser closeWhole{whole};
                FileCloser closeSingle{single};
                const int count = static_cast<int>(layout.starts.size());
                std::vector<MvbTextSpan> texts(layout.starts.size());
                int taken = 0;
                for (int line = 0; single->getPosition() < single->getSize(); ++line) {
                    const std::vector<std::string> expected = readOneByOne(single, layout);
                    std::vector<std::string> fields;
                    if (whole->readLineFields(count, layout.starts.data(), layout.widths.data(),
                                              texts.data())) {
                        ++taken;
                        for (const MvbTextSpan& text : texts) {
                            if (text.bytes == 0) {
                                fields.emplace_back("<null>");
                                continue;
                            }
                            // Each text can be read as one block from its start, however near
                            // the end of the data read it lies.
                            mvb::TextBytes copy;
                            copy.assignPadded(text.text, static_cast<size_t>(text.bytes));
                            fields.emplace_back(copy);
                        }
                    } else {
                        fields = readOneByOne(whole, layout);
                    }
                    ASSERT_EQ(fields, expected) << "line " << line;
                    // A read that ends at a CR that ends the data read so far leaves the LF
                    // after it for the next read to take; which read does depends on where the
                    // reads before left the buffer.
                    const uint64_t at = std::min(whole->getPosition(), single->getPosition());
                    const uint64_t apart =
                        std::max(whole->getPosition(), single->getPosition()) - at;
                    ASSERT_TRUE(apart == 0 || (apart == 1 && at > 0 && bytes[at - 1] == '\r' &&
                                               bytes[at] == '\n'))
                        << "line " << line << ": " << whole->getPosition() << " against "
                        << single->getPosition();
                }
                if (bufferBytes == 0) {
                    EXPECT_GT(taken, 50);  // most lines cut a character somewhere
                }
            }
        }
    }
}

// A byte of no character between or after the fields fails the line as a skip over it would:
// the line is left to the reads one by one. (The line before it is read first, so that the
// line is in the buffer.)
TEST(LineFields, ACodePageByteOfNoCharacterOutsideTheFieldsIsLeftToTheReads) {
    TempDir dir;
    const std::string path = dir.file("in.txt");
    const int starts[] = {0, 4};
    const int widths[] = {2, 2};
    const struct {
        const char* line;
        bool taken;
    } cases[] = {{"ab\x80"
                  "defg\n",
                  false},
                 {"abcdef\x80\n", false},
                 {"abcdefg\n", true}};
    for (const auto& c : cases) {
        writeBytes(path, std::string("first\n") + c.line + "last\n");
        MvbTxtFile* file = openWith(path, MVB_OPEN_READ, 20127, 0);
        ASSERT_NE(file, nullptr);
        FileCloser close{file};
        MvbTextSpan texts[2];
        bool present = false;
        ASSERT_EQ(file->readLine(-1, texts, &present), 5);
        EXPECT_EQ(file->readLineFields(2, starts, widths, texts), c.taken) << c.line;
        EXPECT_EQ(file->getPosition(), c.taken ? 14u : 6u) << c.line;
    }
}

}  // namespace
}  // namespace textfile_test
