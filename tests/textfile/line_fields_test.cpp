// readLineFields() against the field-by-field reads it stands for: over random lines of
// multi-byte characters, blanks, CR LF, CR and LF line ends, short and empty lines and a last
// line without a line end, with every buffer size, both files give the same fields, end at the
// same positions and count the same lines. Layouts with gaps, adjacent fields and fields past
// the longest line take part.

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

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

std::string randomLine(std::mt19937& random) {
    static const char* const kPieces[] = {
        "a", "Z", "7", " ", "  ", "\xC3\xA9", "\xE2\x82\xAC", "\xF0\x9F\x98\x80", "-", "\t"};
    std::string line;
    const int pieces = static_cast<int>(random() % 30);
    for (int i = 0; i < pieces; ++i)
        line += kPieces[random() % std::size(kPieces)];
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
    std::mt19937 random(20241209);
    TempDir dir;
    for (int round = 0; round < 6; ++round) {
        std::string bytes;
        for (int i = 0; i < 300; ++i)
            bytes += randomLine(random);
        if (round % 2 == 1) bytes += "tail without a line end \xC3\xA9";
        const std::string path = dir.file("in" + std::to_string(round) + ".txt");
        writeBytes(path, bytes);
        for (const Layout& layout : layouts) {
            for (const size_t bufferBytes : kBufferSizes) {
                SCOPED_TRACE(testing::Message() << "round " << round << ", buffer " << bufferBytes
                                                << ", fields " << layout.starts.size());
                MvbTxtFile* whole = openWith(path, MVB_OPEN_READ, 65001, 0, bufferBytes);
                MvbTxtFile* single = openWith(path, MVB_OPEN_READ, 65001, 0, bufferBytes);
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
                        for (const MvbTextSpan& text : texts)
                            fields.push_back(
                                text.bytes == 0
                                    ? std::string("<null>")
                                    : std::string(text.text, static_cast<size_t>(text.bytes)));
                    } else {
                        fields = readOneByOne(whole, layout);
                    }
                    ASSERT_EQ(fields, expected) << "line " << line;
                    ASSERT_EQ(whole->getPosition(), single->getPosition()) << "line " << line;
                }
                if (bufferBytes == 0) {
                    EXPECT_GT(taken, 50);  // most lines cut a character somewhere
                }
            }
        }
    }
}

}  // namespace
}  // namespace textfile_test
