// A large file is synced (when it replaces another) or written out while it is written: what a
// failed sync on the way means for the file, files of many stretches committed or abandoned,
// and what is on disk leaving the cache.

#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

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

/// Pages of the first `bytes` of the file open as `fd` that are in the cache; SIZE_MAX when
/// that cannot be told.
size_t residentPages(int fd, size_t bytes) {
    void* map = ::mmap(nullptr, bytes, PROT_READ, MAP_SHARED, fd, 0);
    if (map == MAP_FAILED) return SIZE_MAX;
    const size_t page = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
    std::vector<unsigned char> marks((bytes + page - 1) / page);
    size_t count = SIZE_MAX;
    if (::mincore(map, bytes, marks.data()) == 0) {
        count = 0;
        for (const unsigned char mark : marks)
            count += mark & 1;
    }
    ::munmap(map, bytes);
    return count;
}

// Every stretch but the last leaves the cache once it is on disk, whether the file is synced
// or only written out. (A file system that keeps a file's pages whatever it is told, as one
// in memory does, cannot show it.)
TEST(EarlyWriteBack, StretchesOnDiskLeaveTheCache) {
    constexpr size_t kStretch = size_t{256} << 10;
    constexpr size_t kStretches = 12;
    const std::string block(kStretch, 'x');
    {
        TempDir dir;
        const int fd = ::open(dir.file("probe").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        ASSERT_EQ(::write(fd, block.data(), kStretch), static_cast<ssize_t>(kStretch));
        const bool drops = ::fdatasync(fd) == 0 &&
                           ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED) == 0 &&
                           residentPages(fd, kStretch) == 0;
        ::close(fd);
        if (!drops) GTEST_SKIP() << "this file system keeps a file's pages in the cache";
    }
    for (const bool durable : {true, false}) {
        TempDir dir;
        const int fd = ::open(dir.file("f").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        ASSERT_GE(fd, 0);
        EarlyWriteBack writeBack;
        writeBack.enable(fd, kStretch, durable);
        for (size_t i = 0; i < kStretches; ++i) {
            ASSERT_EQ(::write(fd, block.data(), kStretch), static_cast<ssize_t>(kStretch));
            writeBack.wrote(kStretch);
        }
        // The thread catches up on its own while the writer goes on; here it is waited for.
        const size_t onDisk = (kStretches - 1) * kStretch;
        size_t resident = residentPages(fd, onDisk);
        for (int wait = 0; wait < 1000 && resident != 0; ++wait) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            resident = residentPages(fd, onDisk);
        }
        EXPECT_EQ(writeBack.finish(), 0);
        EXPECT_EQ(resident, 0u) << (durable ? "synced" : "written out");
        ::close(fd);
        EXPECT_EQ(readBytes(dir.file("f")).size(), kStretches * kStretch);
    }
}

// Syncs or write-outs run on their thread while the file is written and when it is committed or
// abandoned (a record cut short at the end): records of 4 KB, a buffer of 16 KB, stretches of
// 24 KB, a file that replaces another and a new one.
TEST(EarlyWriteBack, AFileOfManyStretchesIsPutInPlaceOrKeptWhole) {
    constexpr size_t kRecord = 4096;
    std::string records;
    for (int i = 0; records.size() < kRecord * 100; ++i)
        records += std::string(kRecord - 1, static_cast<char>('a' + i % 26)) + "\n";
    mvb::txt::FileTuning tuning;
    tuning.bufferBytes = 16384;
    tuning.syncStretchBytes = 24576;
    for (const auto& [complete, replacing] : {std::pair{true, true}, std::pair{false, true},
                                              std::pair{true, false}, std::pair{false, false}}) {
        TempDir dir;
        const std::string target = dir.file("out.txt");
        writeBytes(target, "old\n");
        MvbString error;
        MvbTxtFile* file =
            mvb::txt::openTextFile(target.c_str(), MVB_OPEN_CREATE, mvbEncodingUtf8,
                                   replacing ? MVB_FLAG_REPLACE_AT_END : 0u, error, tuning);
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
        if (!replacing) {
            EXPECT_TRUE(readBytes(target) == records);  // cut back to its last whole record
            continue;
        }
        EXPECT_EQ(readBytes(target), complete ? records : "old\n");
        if (!complete) {
            EXPECT_EQ(readBytes(target + ".partial"), records);
        }
    }
}

// A file whose folder was removed while it was written keeps no rows, and says so, rather than
// name a temporary file that is gone as where they are.
// A name near the longest a folder takes is written through a temporary name that fits too.
TEST(Replace, ALongNameIsWrittenThroughATemporaryNameThatFits) {
    TempDir dir;
    const std::string target = dir.file(std::string(247, 'x') + ".txt");
    MvbString error;
    MvbTxtFile* file = mvbTxtFileOpen(target.c_str(), MVB_OPEN_CREATE, mvbEncodingUtf8,
                                      MVB_FLAG_REPLACE_AT_END, error);
    ASSERT_NE(file, nullptr) << error.asCstr();
    ASSERT_TRUE(file->writeChars("a\n", 2));
    EXPECT_TRUE(file->commit()) << lastError(file);
    file->close();
    EXPECT_EQ(readBytes(target), "a\n");
}

TEST(Abandon, RowsWhoseFolderWasRemovedAreNotSaidToBeKept) {
    TempDir dir;
    const std::string folder = dir.file("gone");
    ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0);
    MvbString error;
    MvbTxtFile* file = mvbTxtFileOpen((folder + "/out.txt").c_str(), MVB_OPEN_CREATE,
                                      mvbEncodingUtf8, MVB_FLAG_REPLACE_AT_END, error);
    ASSERT_NE(file, nullptr) << error.asCstr();
    ASSERT_TRUE(file->writeChars("row\n", 4));
    file->markRecordEnd();
    ASSERT_TRUE(file->flush());
    std::filesystem::remove_all(folder);
    MvbString keptAs;
    EXPECT_EQ(file->abandon(true, keptAs), 0u);
    EXPECT_EQ(keptAs.view(), "");
    EXPECT_NE(lastError(file).find("the rows written could not be kept"), std::string::npos)
        << lastError(file);
    file->close();
}

}  // namespace
}  // namespace textfile_test
