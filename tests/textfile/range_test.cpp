// Reading a file in byte ranges that start and end at record starts: split at every byte, the
// ranges together hold every line or record of the file once, in order.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/textfile_support.h"

namespace textfile_test {
namespace {

/// Every record of the file (readRecord with `quoting`, else readLine); a failure ends the list
/// with "<error>".
std::vector<std::string> readRecords(MvbTxtFile* file, const MvbRecordQuoting* quoting) {
    std::vector<std::string> records;
    for (;;) {
        MvbTextSpan text;
        bool present = false;
        const int bytes = quoting != nullptr ? file->readRecord(*quoting, &text, &present)
                                             : file->readLine(-1, &text, &present);
        if (bytes < 0) {
            records.push_back("<error: " + lastError(file) + ">");
            return records;
        }
        if (bytes == 0 && !present) return records;
        records.emplace_back(text.text, static_cast<size_t>(bytes));
    }
}

TEST(ReadRange, SplitAtAnyByteTheRangesHoldEveryRecordOnce) {
    const MvbRecordQuoting csv{',', '"', 0};
    struct Case {
        const char* name;
        std::string bytes;
        int encoding;
        uint32_t flags;
        const MvbRecordQuoting* quoting;
    };
    const std::vector<Case> cases = {
        {"LF", "a,1\nbb,22\n\nccc,333\nd", 0, 0, nullptr},
        {"CR LF", "a,1\r\nbb,22\r\n\r\nccc,333\r\n", 0, 0, nullptr},
        {"CR", "a,1\rbb,22\r\rccc,333\r", 0, 0, nullptr},
        {"mixed", "a\r\nb\rc\nd\r\n\re", 0, 0, nullptr},
        {"UTF-8 mark and characters", "\xEF\xBB\xBFx\xC3\xA9,1\n\xE2\x82\xAC\r\nz\n", 65001,
         MVB_FLAG_READ_BOM, nullptr},
        {"UTF-16LE with a mark", "\xFF\xFE" + toUtf16Le("a,1\r\nbb\n\xC3\xA9t\xC3\xA9\rc\r\n"),
         1200, MVB_FLAG_READ_BOM, nullptr},
        {"quoted line ends", "1,\"a\nb\"\n2,\"\"\"\n\"\"\"\r\n3,x\n4,\"\n\n\"\n5,\"y\"\n", 0, 0,
         &csv},
        {"quotes that settle late", "\",x\n\",x\n\",x\n\",x\n\",x\n\",x\n", 0, 0, &csv},
        // Lines without a quote between quoted values are skimmed, whatever ends them.
        {"quotes far apart", "1,\"a\nb\"\r\nx\ry\r\nz\n2,\"c\rd\"\nw\n\n3,\"\"\n", 0, 0, &csv},
    };
    TempDir dir;
    for (const Case& c : cases) {
        const std::string path = dir.file("in.txt");
        writeBytes(path, c.bytes);
        for (const size_t buffer : kBufferSizes) {
            MvbTxtFile* whole = openWith(path, MVB_OPEN_READ, c.encoding, c.flags, buffer);
            ASSERT_NE(whole, nullptr);
            FileCloser closeWhole{whole};
            const std::vector<std::string> expected = readRecords(whole, c.quoting);
            for (uint64_t offset = 0; offset <= c.bytes.size(); ++offset) {
                MvbTxtFile* file = openWith(path, MVB_OPEN_READ, c.encoding, c.flags, buffer);
                ASSERT_NE(file, nullptr);
                FileCloser closeFile{file};
                uint64_t start = 0;
                ASSERT_EQ(file->findRecordStart(offset, c.quoting, &start), 1)
                    << c.name << " at " << offset << ": " << lastError(file);
                ASSERT_GE(start, offset) << c.name;
                ASSERT_TRUE(file->readRange(0, start)) << lastError(file);
                std::vector<std::string> got = readRecords(file, c.quoting);
                ASSERT_TRUE(file->readRange(start, c.bytes.size())) << lastError(file);
                for (std::string& record : readRecords(file, c.quoting))
                    got.push_back(std::move(record));
                EXPECT_EQ(got, expected) << c.name << ", split at " << start << " for offset "
                                         << offset << ", buffer " << buffer;
            }
        }
    }
}

// A damaged byte past a record start is left to whoever reads it: the start is found.
TEST(ReadRange, ARecordStartIsFoundBeforeADamagedByte) {
    const MvbRecordQuoting csv{',', '"', 0};
    TempDir dir;
    const std::string path = dir.file("in.txt");
    writeBytes(path, "id,v\n1,\"a\nb\"\n3,d\n4,e\n5,\xFF\n");
    MvbTxtFile* file = openWith(path, MVB_OPEN_READ, 0, 0, kBufferSizes[0]);
    ASSERT_NE(file, nullptr);
    FileCloser closeFile{file};
    uint64_t start = 0;
    ASSERT_EQ(file->findRecordStart(14, &csv, &start), 1) << lastError(file);
    EXPECT_EQ(start, 17u);
}

}  // namespace
}  // namespace textfile_test
