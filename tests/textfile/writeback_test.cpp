// A file that replaces another is synced while it is written: what a failed sync on the way
// means for the file, and files of more than one stretch committed or abandoned.

#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "../../runtime/txtfile_internal.h"
#include "../../runtime/txtfile_replace.h"
#include "../../runtime/txtfile_writeback.h"
#include "mvb/charset.h"
#include "mvb/txtfile.h"
#include "mvb/types.h"
#include "support/textfile_support.h"

namespace textfile_test {
namespace {

using mvb::txt::EarlyWriteBack;
using ::testing::HasSubstr;

struct SyncCase {
    const char* name;
    int (*open)(const TempDir& dir);  ///< the descriptor synced; closed by the case
    int error;                        ///< what finish() tells
};

TEST(EarlyWriteBack, FinishTellsASyncThatFailedButNotAFileThatCannotBeSynced) {
    const SyncCase cases[] = {
        {"regular file",
         [](const TempDir& dir) {
             return ::open(dir.file("f").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
         },
         0},
        // A pipe cannot be synced (EINVAL): its final sync says the same, so it is no failure.
        {"pipe",
         [](const TempDir&) {
             int ends[2];
             if (::pipe(ends) != 0) return -1;
             ::close(ends[0]);
             return ends[1];
         },
         0},
        {"closed descriptor",
         [](const TempDir& dir) {
             const int fd = ::open(dir.file("g").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
             ::close(fd);
             return fd;
         },
         EBADF},
    };
    for (const SyncCase& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const int fd = c.open(dir);
        ASSERT_GE(fd, 0);
        EarlyWriteBack writeBack;
        writeBack.enable(fd, 4096);
        writeBack.wrote(4096);  // asks for a sync
        EXPECT_EQ(writeBack.finish(), c.error);
        EXPECT_EQ(writeBack.finish(), c.error);
        if (c.error != EBADF) ::close(fd);
    }
}

TEST(EarlyWriteBack, AFailedEarlySyncKeepsTheTargetAsItWas) {
    TempDir dir;
    const std::string target = dir.file("out.txt");
    const std::string temporary = dir.file(".out.txt.tmp");
    writeBytes(target, "old\n");
    writeBytes(temporary, "new\n");
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    std::string error;
    EXPECT_FALSE(mvb::txt::putInPlace(fd, temporary, target, EIO, &error));
    ::close(fd);
    EXPECT_THAT(error, HasSubstr("could not be made durable"));
    EXPECT_EQ(readBytes(target), "old\n");
}

/// Lines of 64 bytes, numbered, of `bytes` in all.
std::string numberedLines(size_t bytes) {
    std::string text;
    text.reserve(bytes);
    for (size_t i = 0; text.size() + 64 <= bytes; ++i) {
        std::string line = std::to_string(i);
        line.resize(63, '.');
        text += line;
        text += '\n';
    }
    return text;
}

// Many stretches, so that syncs run on their thread while the file is written and when it is
// committed or abandoned (a record cut short at the end).
TEST(EarlyWriteBack, AFileOfSeveralStretchesIsPutInPlaceOrKeptWhole) {
    // Records of 4 KB, of whole lines, in a buffer of 16 KB and stretches of 24 KB.
    constexpr size_t kRecord = 4096;
    const std::string lines = numberedLines(kRecord * 100);
    mvb::txt::FileTuning tuning;
    tuning.bufferBytes = 16384;
    tuning.syncStretchBytes = 24576;
    for (const bool complete : {true, false}) {
        SCOPED_TRACE(complete ? "committed" : "abandoned");
        TempDir dir;
        const std::string target = dir.file("out.txt");
        writeBytes(target, "old\n");
        MvbString error;
        MvbTxtFile* file = mvb::txt::openTextFile(target.c_str(), MVB_OPEN_CREATE, mvbEncodingUtf8,
                                                  MVB_FLAG_REPLACE_AT_END, error, tuning);
        ASSERT_NE(file, nullptr) << error.asCstr();
        for (size_t at = 0; at < lines.size(); at += kRecord) {
            ASSERT_TRUE(file->writeChars(lines.data() + at, static_cast<int>(kRecord)))
                << lastError(file);
            file->markRecordEnd();
        }
        if (complete) {
            EXPECT_TRUE(file->commit()) << lastError(file);
            file->close();
            EXPECT_EQ(readBytes(target), lines);
            continue;
        }
        ASSERT_TRUE(file->writeChars("cut short", 9));
        MvbString keptAs;
        EXPECT_EQ(file->abandon(true, keptAs), lines.size() / kRecord);
        file->close();
        EXPECT_EQ(readBytes(target), "old\n");
        EXPECT_EQ(std::string(keptAs.view()), target + ".partial");
        EXPECT_EQ(readBytes(target + ".partial"), lines);
    }
}

}  // namespace
}  // namespace textfile_test
