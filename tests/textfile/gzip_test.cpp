// gzip files read as the text they hold: whole, joined, cut and damaged streams.
#include <gtest/gtest.h>

#include <filesystem>
#include <iterator>
#include <string>
#include <vector>

#include "../../runtime/txtfile_internal.h"
#include "mvb/cores.h"
#include "mvb/txtfile.h"
#include "mvb/types.h"
#include "support/textfile_support.h"

namespace textfile_test {
namespace {

std::string numberedLines(int count) {
    std::string text;
    for (int i = 0; i < count; ++i)
        text += "line " + std::to_string(i) + ",value\n";
    return text;
}

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    for (size_t at = 0; at < text.size();) {
        const size_t end = text.find('\n', at);
        lines.push_back(text.substr(at, end - at));
        at = end + 1;
    }
    return lines;
}

TEST(Gzip, ReadsTheTextItHoldsOrSaysWhatIsWrong) {
    const std::string text = numberedLines(5000);
    const std::string packed = gzipped(text);
    std::string damaged = packed;
    damaged[packed.size() - 6] ^= 0x01;  // the CRC of the data
    struct Case {
        const char* name;
        std::string bytes;
        std::vector<std::string> lines;  ///< the lines before the failure, if any
        const char* error;               ///< part of the failure text; null: none
    };
    const Case cases[] = {
        {"whole", packed, linesOf(text), nullptr},
        {"two members", packed + gzipped("more,1\n"), linesOf(text + "more,1\n"), nullptr},
        {"cut", packed.substr(0, packed.size() / 2), {}, "is cut short"},
        {"damaged", damaged, {}, "is damaged"},
        {"followed by other bytes", packed + "xyz", {}, "is damaged"},
    };
    TempDir dir;
    const std::string path = (dir.path() / "data.csv.gz").string();
    for (const Case& c : cases) {
        writeBytes(path, c.bytes);
        for (size_t bufferBytes : {size_t{13}, size_t{1} << 20}) {
            mvb::txt::FileTuning tuning;
            tuning.bufferBytes = bufferBytes;
            MvbString openError;
            MvbTxtFile* file = mvb::txt::openTextFile(path.c_str(), MVB_OPEN_READ, -1,
                                                      MVB_FLAG_READ_BOM, openError, tuning);
            FileCloser closer{file};
            // A small file is inflated whole by the open, which then fails itself.
            const std::vector<std::string> lines =
                file != nullptr
                    ? readAllLines(file)
                    : std::vector<std::string>{"<error: " + std::string(openError.view()) + ">"};
            if (c.error == nullptr) {
                EXPECT_EQ(lines, c.lines) << c.name;
                ASSERT_NE(file, nullptr);
                EXPECT_EQ(file->getPosition(), file->getSize()) << c.name;
                EXPECT_EQ(file->getSize(), c.bytes.size()) << c.name;
                continue;
            }
            ASSERT_FALSE(lines.empty()) << c.name;
            EXPECT_NE(lines.back().find(c.error), std::string::npos) << lines.back();
            EXPECT_NE(lines.back().find(path), std::string::npos) << lines.back();
        }
    }
}

// Inflated text has no byte positions of its own: a reader of part of a file is told so.
TEST(Gzip, CannotBeReadFromTheMiddle) {
    TempDir dir;
    writeBytes(dir.file("in.gz"), gzipped(numberedLines(100)));
    MvbTxtFile* file = openWith(dir.file("in.gz"), MVB_OPEN_READ, 0, 0);
    ASSERT_NE(file, nullptr);
    FileCloser closeFile{file};
    uint64_t start = 0;
    EXPECT_EQ(file->findRecordStart(10, nullptr, &start), 0);
    EXPECT_FALSE(file->readRange(0, 10));
    EXPECT_NE(lastError(file).find("cannot read a part"), std::string::npos) << lastError(file);
}

/// The lines of the file at `path` read with `bufferBytes` at a time, or its error last.
std::vector<std::string> linesRead(const std::string& path, size_t bufferBytes) {
    mvb::txt::FileTuning tuning;
    tuning.bufferBytes = bufferBytes;
    MvbString openError;
    MvbTxtFile* file = mvb::txt::openTextFile(path.c_str(), MVB_OPEN_READ, -1, MVB_FLAG_READ_BOM,
                                              openError, tuning);
    FileCloser closer{file};
    if (file == nullptr) return {"<error: " + std::string(openError.view()) + ">"};
    return readAllLines(file);
}

/// A text of `size` bytes in lines, stored uncompressed into one gzip member.
std::string storedMemberOf(size_t size, std::string& text) {
    text.clear();
    for (int i = 0; text.size() < size; ++i)
        text += "row " + std::to_string(i) + "\n";
    text.resize(size);
    text.back() = '\n';
    return gzipped(text, 0);
}

TEST(Gzip, TheNextMembersMagicMayFallAnywhereAroundAReadEdge) {
    TempDir dir;
    const std::string path = (dir.path() / "joined.csv.gz").string();
    const std::string second = "next,1\nnext,2\n";
    // Tiny reads: the first member ends at every offset within a read, so that the two magic
    // bytes of the second lie before, across and after each edge.
    for (size_t bufferBytes : {size_t{2}, size_t{3}, size_t{4}, size_t{5}, size_t{7}}) {
        for (size_t size = 40; size < 40 + 2 * bufferBytes; ++size) {
            std::string text;
            writeBytes(path, storedMemberOf(size, text) + gzipped(second));
            EXPECT_EQ(linesRead(path, bufferBytes), linesOf(text + second))
                << "buffer " << bufferBytes << ", first text " << size;
        }
    }
    // The default reads: the first member ends one byte before the first 1 MiB edge.
    constexpr size_t kEdge = size_t{1} << 20;
    std::string text;
    size_t size = kEdge - 1000;
    std::string first = storedMemberOf(size, text);
    first = storedMemberOf(size + (kEdge - 1 - first.size()), text);
    ASSERT_EQ(first.size(), kEdge - 1);
    writeBytes(path, first + gzipped(second));
    EXPECT_EQ(linesRead(path, kEdge), linesOf(text + second));
}

// A text of many megabytes, inflated ahead of the reader where there are cores for it: the
// reader gets every line in order, and a failure only after the lines before it.
TEST(Gzip, ALargeFileGivesItsLinesThenItsEnd) {
    const std::string text = numberedLines(250000);
    const std::string packed = gzipped(text);
    std::string damaged = packed;
    damaged[packed.size() - 6] ^= 0x01;  // the CRC of the data
    const std::vector<std::string> all = linesOf(text);
    struct Case {
        const char* name;
        std::string bytes;
        const char* error;  ///< part of the failure text; null: none
    };
    const Case cases[] = {
        {"whole", packed, nullptr},
        {"damaged at the end", damaged, "is damaged"},
        {"cut", packed.substr(0, packed.size() * 3 / 4), "is cut short"},
    };
    TempDir dir;
    const std::string path = (dir.path() / "large.csv.gz").string();
    for (const Case& c : cases) {
        writeBytes(path, c.bytes);
        std::vector<std::string> lines = linesRead(path, size_t{64} << 10);
        if (c.error == nullptr) {
            EXPECT_EQ(lines, all) << c.name;
            continue;
        }
        ASSERT_FALSE(lines.empty()) << c.name;
        EXPECT_NE(lines.back().find(c.error), std::string::npos) << lines.back();
        lines.pop_back();
        // The lines before the failure: those the text begins with, a whole one or a head.
        ASSERT_GT(lines.size(), all.size() / 2) << c.name;
        ASSERT_LE(lines.size(), all.size()) << c.name;
        for (size_t i = 0; i + 1 < lines.size(); ++i)
            ASSERT_EQ(lines[i], all[i]) << c.name << ", line " << i;
        EXPECT_EQ(all[lines.size() - 1].rfind(lines.back(), 0), 0u) << c.name;
    }
    // A file closed after a few lines, while the rest is being inflated, closes at once.
    writeBytes(path, packed);
    MvbTxtFile* file = openWith(path, MVB_OPEN_READ, 0, 0);
    ASSERT_NE(file, nullptr);
    FileCloser closeFile{file};
    MvbTextSpan line;
    bool present = false;
    for (int i = 0; i < 10; ++i)
        ASSERT_GT(file->readLine(-1, &line, &present), 0);
    EXPECT_EQ(std::string(line.text, static_cast<size_t>(line.bytes)), all[9]);
}

// Only a file worth it is inflated on a thread of its own: one for each of many small files
// would cost more than inflating them.
TEST(Gzip, OnlyALargeFileIsInflatedOnAThreadOfItsOwn) {
    const auto threads = [] {
        const std::filesystem::directory_iterator tasks("/proc/self/task");
        return std::distance(begin(tasks), end(tasks));
    };
    TempDir dir;
    const std::string small = (dir.path() / "small.csv.gz").string();
    const std::string large = (dir.path() / "large.csv.gz").string();
    // Text enough to keep a thread inflating ahead waiting for the reader, but in few
    // compressed bytes.
    std::string same;
    for (int i = 0; i < 150000; ++i)
        same += "the same line,value\n";
    writeBytes(small, gzipped(same));
    writeBytes(large, gzipped(numberedLines(250000)));
    const auto before = threads();
    for (const std::string& path : {small, large}) {
        MvbTxtFile* file = openWith(path, MVB_OPEN_READ, 0, 0);
        ASSERT_NE(file, nullptr);
        FileCloser closeFile{file};
        MvbTextSpan line;
        bool present = false;
        ASSERT_GT(file->readLine(-1, &line, &present), 0);
        const bool ahead = path == large && mvbUsableCores() > 1;
        EXPECT_EQ(threads(), before + (ahead ? 1 : 0)) << path;
    }
}

}  // namespace
}  // namespace textfile_test
