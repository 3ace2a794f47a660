// Files whose names end in .gz are written as gzip: each run's text is one member, an
// appending run adds a member, and the runtime's own reader gives back every line.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>
#include <cstdio>

#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include "mvb/charset.h"
#include "mvb/txtfile.h"
#include "mvb/types.h"
#include "support/textfile_support.h"

namespace textfile_test {
namespace {

/// Inflates every member of a gzip file with zlib itself; `members` counts them.
std::string gunzip(const std::string& bytes, int& members) {
    members = 0;
    std::string text;
    z_stream stream{};
    EXPECT_EQ(inflateInit2(&stream, 15 + 16), Z_OK);
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
    stream.avail_in = static_cast<uInt>(bytes.size());
    char out[4096];
    while (stream.avail_in > 0) {
        stream.next_out = reinterpret_cast<Bytef*>(out);
        stream.avail_out = sizeof out;
        const int status = inflate(&stream, Z_NO_FLUSH);
        text.append(out, sizeof out - stream.avail_out);
        if (status == Z_STREAM_END) {
            ++members;
            inflateReset(&stream);
        } else if (status != Z_OK) {
            ADD_FAILURE() << "not gzip: zlib says " << status;
            break;
        }
    }
    inflateEnd(&stream);
    return text;
}

void writeRun(const std::string& path, int mode, int encoding,
              const std::vector<std::string>& lines) {
    MvbTxtFile* file = openWith(path, mode, encoding, MVB_FLAG_EOL_LF);
    ASSERT_NE(file, nullptr);
    FileCloser closer{file};
    for (const std::string& line : lines)
        ASSERT_TRUE(file->writeLine(line.c_str())) << lastError(file);
    ASSERT_TRUE(file->flush()) << lastError(file);
}

TEST(GzipWrite, EachRunIsAMemberThatReadsBackWhole) {
    std::vector<std::string> many;
    for (int i = 0; i < 200000; ++i)  // several write buffers and compressor outputs
        many.push_back("row " + std::to_string(i) + ",Zürich");
    struct Case {
        const char* name;
        const char* file;
        int encoding;
        std::vector<std::vector<std::string>> runs;  ///< the first creates, the others append
        std::string expectedBytes;                   ///< the inflated bytes; empty: the lines
    };
    const Case cases[] = {
        {"one run", "a.csv.gz", 65001, {{"id,city", "1,Zürich"}}, ""},
        {"upper-case ending", "b.CSV.GZ", 65001, {{"x"}}, ""},
        {"appended run", "c.csv.gz", 65001, {{"1,a"}, {"2,b", "3,c"}}, ""},
        {"large run", "d.csv.gz", 65001, {many}, ""},
        {"other encoding", "e.txt.gz", 1252, {{"Zürich"}}, std::string("Z\xFCrich\n")},
        {"runs of no lines", "f.csv.gz", 65001, {{}, {"1,a"}}, ""},
        {"large runs appended", "g.csv.gz", 65001, {many, {"1,a"}, many}, ""},
    };
    TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir.file(c.file);
        std::vector<std::string> all;
        for (size_t run = 0; run < c.runs.size(); ++run) {
            writeRun(path, run == 0 ? MVB_OPEN_CREATE : MVB_OPEN_APPEND, c.encoding, c.runs[run]);
            all.insert(all.end(), c.runs[run].begin(), c.runs[run].end());
        }
        std::string text;
        for (const std::string& line : all)
            text += line + "\n";
        int members = 0;
        EXPECT_EQ(gunzip(readBytes(path), members),
                  c.expectedBytes.empty() ? text : c.expectedBytes);
        EXPECT_EQ(members, static_cast<int>(c.runs.size()));
        if (c.expectedBytes.empty()) {
            MvbTxtFile* back = openWith(path, MVB_OPEN_READ, c.encoding, 0);
            ASSERT_NE(back, nullptr);
            FileCloser closer{back};
            EXPECT_EQ(readAllLines(back), all);
        }
    }
}

// A text deflated in one block is what zlib's own gzip writer makes of it, byte for byte.
TEST(GzipWrite, AShortTextIsZlibsOwnGzip) {
    TempDir dir;
    const std::string path = dir.file("short.csv.gz");
    writeRun(path, MVB_OPEN_CREATE, 65001, {"id,city", "1,Zürich", "2,Oslo"});
    EXPECT_EQ(readBytes(path), gzipped("id,city\n1,Z\xC3\xBCrich\n2,Oslo\n"));
}

// A flush ends the member; what is written after it is the next member of the same file.
TEST(GzipWrite, EachFlushEndsAMember) {
    TempDir dir;
    const std::string path = dir.file("flushed.csv.gz");
    MvbTxtFile* file = openWith(path, MVB_OPEN_CREATE, 65001, MVB_FLAG_EOL_LF);
    ASSERT_NE(file, nullptr);
    FileCloser closer{file};
    std::string text;
    for (int member = 0; member < 2; ++member) {
        for (int i = 0; i < 100000; ++i) {  // several blocks each
            const std::string line = std::to_string(member) + "," + std::to_string(i);
            ASSERT_TRUE(file->writeLine(line.c_str())) << lastError(file);
            text += line + "\n";
        }
        ASSERT_TRUE(file->flush()) << lastError(file);
    }
    int members = 0;
    EXPECT_EQ(gunzip(readBytes(path), members), text);
    EXPECT_EQ(members, 2);
}

TEST(GzipWrite, AppendLooksForTheMarkInWhatTheFileHolds) {
    TempDir dir;
    const std::string path = dir.file("marked.csv.gz");
    MvbTxtFile* first = openWith(path, MVB_OPEN_CREATE, 65001, MVB_FLAG_WRITE_BOM);
    ASSERT_NE(first, nullptr);
    ASSERT_TRUE(first->writeLine("x"));
    first->close();
    const std::string before = readBytes(path);
    for (uint32_t flags : {0u, uint32_t{MVB_FLAG_PROBE}}) {
        MvbString error;
        // UTF-16 after a UTF-8 mark is refused; UTF-8 adds a member.
        EXPECT_EQ(mvbTxtFileOpen(path.c_str(), MVB_OPEN_APPEND, 1200, flags, error), nullptr);
        EXPECT_NE(std::string(error.view()).find("UTF-8 byte-order mark"), std::string::npos)
            << error.view();
        EXPECT_EQ(readBytes(path), before);
        MvbTxtFile* fits = mvbTxtFileOpen(path.c_str(), MVB_OPEN_APPEND, 65001, flags, error);
        ASSERT_NE(fits, nullptr) << error.view();
        fits->close();
    }
    // A name ending in .gz on a file of plain text: a gzip member would spoil it.
    const std::string plain = dir.file("plain.csv.gz");
    writeBytes(plain, "1,a\n");
    MvbString error;
    EXPECT_EQ(mvbTxtFileOpen(plain.c_str(), MVB_OPEN_APPEND, 65001, 0, error), nullptr);
    EXPECT_NE(std::string(error.view()).find("does not hold gzip data"), std::string::npos);
    EXPECT_EQ(readBytes(plain), "1,a\n");
    // Gzip data cut short, or with bytes after it, would hide a member added after it; UTF-16
    // text of an odd byte count would put what is added out of step.
    const std::string cut = dir.file("cut.csv.gz");
    const std::string odd = dir.file("odd.csv.gz");
    writeBytes(cut, before.substr(0, before.size() - 6));
    writeRun(odd, MVB_OPEN_CREATE, 1252, {"abc"});  // 4 bytes
    MvbTxtFile* grow = openWith(odd, MVB_OPEN_APPEND, 1252, 0);
    ASSERT_NE(grow, nullptr);
    ASSERT_TRUE(grow->writeText("d"));
    grow->close();  // 5 bytes in two members
    for (const auto& [file, encoding, refusal] :
         {std::tuple{cut, 65001, "damaged or cut short"},
          std::tuple{odd, 1200, "not a whole number of UTF-16LE"}}) {
        EXPECT_EQ(mvbTxtFileOpen(file.c_str(), MVB_OPEN_APPEND, encoding, 0, error), nullptr);
        EXPECT_NE(std::string(error.view()).find(refusal), std::string::npos) << error.view();
    }
}

// The text a .gz holds ends in its last member: it is inflated whole to find whether its last
// line was ended.
TEST(GzipWrite, AppendedLinesStartOnALineOfTheirOwn) {
    const std::string longLine(300000, 'z');  // several of the inflater's outputs
    struct Case {
        std::string text;   ///< what the first run writes, as text (no line end added)
        uint32_t flags;     ///< of the first run
        std::string after;  ///< the text held once the line "x" is appended
    };
    const Case cases[] = {
        {"0,Zed", 0, "0,Zed\nx\n"},
        {"0,Zed\n", 0, "0,Zed\nx\n"},
        {longLine, 0, longLine + "\nx\n"},
        {"", MVB_FLAG_WRITE_BOM, "\xEF\xBB\xBFx\n"},  // only a mark: no line to end
    };
    TempDir dir;
    const std::string path = dir.file("log.csv.gz");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text.substr(0, 10));
        std::remove(path.c_str());
        MvbTxtFile* first = openWith(path, MVB_OPEN_CREATE, 65001, c.flags);
        ASSERT_NE(first, nullptr);
        ASSERT_TRUE(first->writeText(c.text.c_str())) << lastError(first);
        first->close();
        MvbTxtFile* again = openWith(path, MVB_OPEN_APPEND, 65001, MVB_FLAG_APPEND_LINES);
        ASSERT_NE(again, nullptr);
        ASSERT_TRUE(again->writeLine("x")) << lastError(again);
        again->close();
        int members = 0;
        EXPECT_EQ(gunzip(readBytes(path), members), c.after);
    }
}

TEST(GzipWrite, OtherNamesStayPlainText) {
    TempDir dir;
    for (const char* name : {"plain.csv", "archive.gzip", "x.gz.csv", "gz"}) {
        const std::string path = dir.file(name);
        writeRun(path, MVB_OPEN_CREATE, 65001, {"1,a"});
        EXPECT_EQ(readBytes(path), "1,a\n") << name;
    }
}

// A write of compressed bytes that fails (a file size limit here, as a full disk would) leaves
// a member that cannot be ended: no rows are said to be kept, a replacing file leaves nothing
// beside its target, an appended file is cut back to the members it held, which read whole,
// and a file written in place from its start holds one empty member.
TEST(GzipWrite, AFailedWriteKeepsNoMemberCutShort) {
    enum class Write { Replace, Append, InPlace };
    for (const Write write : {Write::Replace, Write::Append, Write::InPlace}) {
        SCOPED_TRACE(static_cast<int>(write));
        const bool append = write == Write::Append;
        TempDir dir;
        const std::string path = dir.file("out.csv.gz");
        if (append) writeRun(path, MVB_OPEN_CREATE, mvbEncodingUtf8, {"kept"});
        const size_t before = readBytes(path).size();
        const pid_t child = fork();
        ASSERT_NE(child, -1);
        if (child == 0) {
            signal(SIGXFSZ, SIG_IGN);
            const rlimit limit{32 << 10, 32 << 10};
            setrlimit(RLIMIT_FSIZE, &limit);
            MvbString error;
            MvbTxtFile* file = mvbTxtFileOpen(
                path.c_str(), append ? MVB_OPEN_APPEND : MVB_OPEN_CREATE, mvbEncodingUtf8,
                write == Write::Replace ? MVB_FLAG_REPLACE_AT_END : 0u, error);
            if (file == nullptr) _exit(10);
            uint64_t state = 88172645463325252ull;
            bool failed = false;
            for (int row = 0; row < 200000 && !failed; ++row) {
                state ^= state << 13, state ^= state >> 7, state ^= state << 17;
                const std::string line = std::to_string(state) + "\n";
                failed = !file->writeChars(line.data(), static_cast<int>(line.size()));
                file->markRecordEnd();
            }
            failed = failed || !file->flush();
            MvbString keptAs;
            const uint64_t kept = file->abandon(true, keptAs);
            file->close();
            _exit(!failed ? 11 : kept != 0 || !keptAs.empty() ? 12 : 0);
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 0);
        EXPECT_FALSE(std::filesystem::exists(path + ".partial"));
        size_t entries = 0;
        for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir.path()))
            ++entries;
        EXPECT_EQ(entries, write == Write::Replace ? 0u : 1u);
        if (write != Write::Replace) {
            const std::string bytes = readBytes(path);
            EXPECT_EQ(bytes.size(), append ? before : 20u);
            int members = 0;
            // Not printed: it may be long.
            EXPECT_TRUE(gunzip(bytes, members) == (append ? "kept\n" : ""));
        }
    }
}

}  // namespace
}  // namespace textfile_test
