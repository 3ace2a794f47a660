// The program never dies without a word: a write past the file-size limit or into a pipe whose
// reader quit is a failed write with the file's error text; messages that cannot be shown never
// stop the job's own output; a number no double can hold is a job-file error.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "common/temp_files.h"
#include "support/textjob_process.h"

namespace hosttest {
namespace {

namespace fs = std::filesystem;
using std::chrono::seconds;

class WriteFailureTest : public ::testing::Test {
  protected:
    /// `rows` rows of id,name; with `shortRows` each row lacks its name, which warns.
    void writeInput(int rows, bool shortRows = false) {
        std::ofstream out(folder / "in.csv", std::ios::binary);
        out << "id,name\n";
        for (int i = 0; i < rows; ++i) {
            out << i;
            if (!shortRows) out << ",name of row " << i;
            out << '\n';
        }
    }
    std::string writeJob(const std::string& output, const std::string& skipRows = "1") {
        std::ofstream(folder / "job.json") << R"({"steps": [
            {"type": "SOURCE_DELIMTEXT", "name": "src", "properties": {"FILENAME": "in.csv",
             "SKIPROWS": )" << skipRows << R"(, "FIELDS": [{"NAME": "id", "TYPE": "integer"},
                {"NAME": "name", "TYPE": "string", "MAX_LENGTH": 30}]}},
            {"type": "DEST_DELIMTEXT", "name": "out", "properties": {"FILENAME": ")"
                                           << output << R"(",
             "FIELDS": [{"FIELDNAME": "id"}, {"FIELDNAME": "name"}]}}]})";
        return (folder / "job.json").string();
    }

    testfiles::TempDir scratch;
    fs::path folder = scratch.path();
};

TEST_F(WriteFailureTest, WritePastTheFileSizeLimitFailsWithTheFilesErrorText) {
    writeInput(100000);
    ProcessSetup setup;
    setup.fileSizeLimit = 64 * 1024;
    // Replaced at the end, the file never appears and its rows are kept, whole, beside it;
    // written in place, it ends at its last whole row.
    for (const bool inPlace : {false, true}) {
        SCOPED_TRACE(inPlace ? "in place" : "replaced at the end");
        fs::remove(folder / "copy.csv");
        fs::remove(folder / "copy.csv.partial");
        std::vector<std::string> arguments = {"run", writeJob("copy.csv")};
        if (inPlace) arguments.push_back("--in-place");
        TextjobProcess job(arguments, folder, setup);
        ASSERT_TRUE(job.started());
        EXPECT_EQ(job.wait(), 1) << job.err();
        EXPECT_NE(job.err().find("error: out: cannot write file \"copy.csv\": File too large"),
                  std::string::npos)
            << job.err();
        EXPECT_EQ(job.out().find("Wrote"), std::string::npos) << job.out();
        const fs::path kept = folder / (inPlace ? "copy.csv" : "copy.csv.partial");
        EXPECT_EQ(fs::exists(folder / "copy.csv.partial"), !inPlace);
        std::ifstream in(kept, std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(in)), {});
        ASSERT_FALSE(bytes.empty());
        EXPECT_EQ(bytes.back(), '\n');
        // The summary counts the whole rows kept, in place too.
        const auto rows = std::count(bytes.begin(), bytes.end(), '\n');
        EXPECT_NE(job.out().find("Kept the " + std::to_string(rows) + " whole rows"),
                  std::string::npos)
            << job.out();
    }
}

TEST_F(WriteFailureTest, AJobFileThatCannotBeWrittenWholeKeepsTheOldOne) {
    // Forty columns: the job (about 80 bytes a column) outgrows the limit, while the report
    // on standard error, which the limit holds to as well (about 20 a column), does not.
    {
        std::ofstream in(folder / "in.csv");
        for (const char* prefix : {"c", ""})
            for (int column = 1; column <= 40; ++column)
                in << prefix << column << (column == 40 ? "\n" : ",");
    }
    const std::string old = slurp(writeJob("copy.csv"));
    ProcessSetup setup;
    setup.fileSizeLimit = 2000;
    const std::string in = (folder / "in.csv").string();
    const std::string jobFile = (folder / "job.json").string();
    for (const std::vector<std::string>& arguments :
         {std::vector<std::string>{"infer", in, "-o", jobFile},
          std::vector<std::string>{"convert", in, (folder / "o.csv").string(), "--save-job",
                                   jobFile}}) {
        SCOPED_TRACE(arguments[0]);
        TextjobProcess job(arguments, folder, setup);
        ASSERT_TRUE(job.started());
        EXPECT_EQ(job.wait(), 1) << job.err();
        EXPECT_NE(
            job.err().find("error: cannot write the job file " + jobFile + ": File too large"),
            std::string::npos)
            << job.err();
        EXPECT_EQ(slurp(folder / "job.json"), old);
        for (const auto& entry : fs::directory_iterator(folder))
            EXPECT_FALSE(entry.path().filename().string().starts_with(".job.json")) << entry.path();
    }
}

// A job file that is no plain file of one name is written into, never replaced: a pipe stays
// a pipe, and a file of two names holds the new job under both.
TEST_F(WriteFailureTest, AJobFileOntoAPipeOrALinkedFileIsWrittenThrough) {
    writeInput(3);
    const std::string in = (folder / "in.csv").string();
    const fs::path pipe = folder / "job.pipe";
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    std::string received;
    // Read without waiting on the open, and for ten seconds at most: a pipe replaced by a file
    // would leave a waiting reader waiting for ever.
    std::thread reader([&pipe, &received] {
        const int fd = open(pipe.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) return;
        const auto until = std::chrono::steady_clock::now() + seconds(10);
        char buffer[4096];
        while (std::chrono::steady_clock::now() < until) {
            const ssize_t n = read(fd, buffer, sizeof buffer);
            if (n > 0) received.append(buffer, static_cast<size_t>(n));
            if (n == 0 && !received.empty()) break;  // the writer came and went
            if (n <= 0) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        close(fd);
    });
    TextjobProcess toPipe({"infer", in, "-o", pipe.string()}, folder);
    ASSERT_TRUE(toPipe.started());
    EXPECT_EQ(toPipe.wait(), 0) << toPipe.err();
    reader.join();
    EXPECT_TRUE(fs::is_fifo(pipe));
    EXPECT_NE(received.find("\"steps\""), std::string::npos) << received;

    std::ofstream(folder / "one.json") << "old";
    fs::create_hard_link(folder / "one.json", folder / "two.json");
    TextjobProcess linked({"infer", in, "-o", (folder / "one.json").string()}, folder);
    ASSERT_TRUE(linked.started());
    EXPECT_EQ(linked.wait(), 0) << linked.err();
    EXPECT_EQ(slurp(folder / "two.json"), slurp(folder / "one.json"));
    EXPECT_NE(slurp(folder / "two.json").find("\"steps\""), std::string::npos);
}

TEST_F(WriteFailureTest, PipeWhoseReaderQuitsFailsTheWriteWithTheFilesErrorText) {
    writeInput(100000);  // far more than a pipe holds
    const fs::path pipe = folder / "pipe.csv";
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    // The job starts before the pipe has a reader (proving it writable must not need one, nor
    // hand the reader an early end), then the reader takes a little and leaves.
    TextjobProcess job({"run", writeJob("pipe.csv")}, folder);
    ASSERT_TRUE(job.started());
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    std::string received;
    std::thread reader([&pipe, &received] {
        const int fd = open(pipe.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) return;
        char buffer[4096];
        while (received.size() < 8192) {
            const ssize_t n = read(fd, buffer, sizeof buffer);
            if (n <= 0) break;
            received.append(buffer, static_cast<size_t>(n));
        }
        close(fd);
    });
    const int status = job.wait();
    reader.join();
    EXPECT_EQ(status, 1) << job.err();
    EXPECT_NE(job.err().find("error: out: cannot write file \"pipe.csv\": Broken pipe"),
              std::string::npos)
        << job.err();
    EXPECT_EQ(received.substr(0, 20), "0,name of row 0\n1,na");
}

TEST_F(WriteFailureTest, MessagesThatCannotBeShownNeverStopTheJobsOutput) {
    // Every row warns (a missing field), far more than the pipe's reader would ever have read.
    writeInput(5000, /*shortRows=*/true);
    ProcessSetup setup;
    setup.outputToClosedPipe = true;
    TextjobProcess job({"run", writeJob("copy.csv")}, folder, setup);
    ASSERT_TRUE(job.started());
    EXPECT_EQ(job.wait(), 0);
    const std::string copy = slurp(folder / "copy.csv");
    EXPECT_EQ(std::count(copy.begin(), copy.end(), '\n'), 5000);
    EXPECT_NE(copy.find("\n4999,\n"), std::string::npos);
}

TEST_F(WriteFailureTest, NumberBeyondTheRangeOfADoubleIsAJobFileError) {
    writeInput(1);
    TextjobProcess job({"run", writeJob("copy.csv", "1e999")}, folder);
    ASSERT_TRUE(job.started());
    EXPECT_EQ(job.wait(), 2) << job.err();
    EXPECT_NE(job.err().find("the number 1e999 at line 3"), std::string::npos) << job.err();
    EXPECT_FALSE(fs::exists(folder / "copy.csv"));
}

}  // namespace
}  // namespace hosttest
