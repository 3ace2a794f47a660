// A file that replaces another is synced while it is written: what a failed sync on the way
// means for the file, and files of many stretches committed or abandoned.

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

// After a sync it asked for: nothing for a file, nothing for a pipe (no sync applies to it, as
// its final sync says too), and the error of a sync that failed, at every call.
TEST(EarlyWriteBack, FinishTellsASyncThatFailedButNotAFileThatCannotBeSynced) {
    TempDir dir;
    int ends[2];
    ASSERT_EQ(::pipe(ends), 0);
    const int file = ::open(dir.file("f").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    const int closed = ::dup(file);
    ::close(closed);
    const struct {
        int fd;
        int error;
    } cases[] = {{file, 0}, {ends[1], 0}, {closed, EBADF}};
    for (const auto& c : cases) {
        EarlyWriteBack writeBack;
        writeBack.enable(c.fd, 4096);
        writeBack.wrote(4096);
        EXPECT_EQ(writeBack.finish(), c.error) << c.fd;
        EXPECT_EQ(writeBack.finish(), c.error) << c.fd;
    }
    ::close(file);
    ::close(ends[0]);
    ::close(ends[1]);
}

TEST(EarlyWriteBack, AFailedEarlySyncKeepsTheTargetAsItWas) {
    TempDir dir;
    const std::string target = dir.file("out.txt");
    writeBytes(target, "old\n");
    writeBytes(target + ".tmp", "new\n");
    const int fd = ::open((target + ".tmp").c_str(), O_WRONLY | O_CLOEXEC);
    std::string error;
    EXPECT_FALSE(mvb::txt::putInPlace(fd, target + ".tmp", target, EIO, &error));
    ::close(fd);
    EXPECT_THAT(error, ::testing::HasSubstr("could not be made durable"));
    EXPECT_EQ(readBytes(target), "old\n");
}

// Syncs run on their thread while the file is written and when it is committed or abandoned
// (a record cut short at the end): records of 4 KB, a buffer of 16 KB, stretches of 24 KB.
TEST(EarlyWriteBack, AFileOfManyStretchesIsPutInPlaceOrKeptWhole) {
    constexpr size_t kRecord = 4096;
    std::string records;
    for (int i = 0; records.size() < kRecord * 100; ++i)
        records += std::string(kRecord - 1, static_cast<char>('a' + i % 26)) + "\n";
    mvb::txt::FileTuning tuning;
    tuning.bufferBytes = 16384;
    tuning.syncStretchBytes = 24576;
    for (const bool complete : {true, false}) {
        TempDir dir;
        const std::string target = dir.file("out.txt");
        writeBytes(target, "old\n");
        MvbString error;
        MvbTxtFile* file = mvb::txt::openTextFile(target.c_str(), MVB_OPEN_CREATE, mvbEncodingUtf8,
                                                  MVB_FLAG_REPLACE_AT_END, error, tuning);
        ASSERT_NE(file, nullptr) << error.asCstr();
        for (size_t at = 0; at < records.size(); at += kRecord) {
            ASSERT_TRUE(file->writeChars(records.data() + at, static_cast<int>(kRecord)));
            file->markRecordEnd();
        }
        if (complete) {
            EXPECT_TRUE(file->commit()) << lastError(file);
        } else {
            ASSERT_TRUE(file->writeChars("cut short", 9));
            MvbString keptAs;
            EXPECT_EQ(file->abandon(true, keptAs), records.size() / kRecord);
        }
        file->close();
        EXPECT_EQ(readBytes(target), complete ? records : "old\n");
        if (!complete) {
            EXPECT_EQ(readBytes(target + ".partial"), records);
        }
    }
}

}  // namespace
}  // namespace textfile_test
