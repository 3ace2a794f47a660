// textjob with standard input, standard output and named pipes as files ("-"), run through
// a shell so that the data really comes through a pipe.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "common/temp_files.h"

namespace {

namespace fs = std::filesystem;

std::string slurpFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string jobWith(const std::string& source, const std::string& destination) {
    return R"({"steps": [{"type": "SOURCE_DELIMTEXT", "name": "src", "properties": {"FILENAME": ")" +
           source + R"(", "QUOTE": "\"", "FIELDS": [{"NAME": "id", "TYPE": "integer"},
              {"NAME": "name", "TYPE": "string", "MAX_LENGTH": 40}]}},
           {"type": "DEST_DELIMTEXT", "name": "out", "properties": {"FILENAME": ")" +
           destination + R"(", "FIELDS": [{"FIELDNAME": "id"}, {"FIELDNAME": "name"}]}}]})";
}

class StreamsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        // More than 1 MiB, so that the data spans many pipe buffers and reader buffers.
        std::ofstream data(folder / "in.csv", std::ios::binary);
        for (int i = 0; i < 60000; ++i) {
            data << i << ",name number " << i << "\n";
            expected += std::to_string(i) + ",name number " + std::to_string(i) + "\n";
        }
    }

    /// Runs `shell` (with TEXTJOB and the folder's job.json set up) in the folder; gives the
    /// exit status.
    int runShell(const std::string& job, const std::string& shell) {
        std::ofstream(folder / "job.json") << job;
        const std::string command = "cd '" + folder.string() + "' && TEXTJOB='" +
                                    std::string(TEXT_BINARY_DIR) + "/bin/textjob' && " + shell;
        const int status = std::system(command.c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    testfiles::TempDir scratch;
    fs::path folder = scratch.path();
    std::string expected;
};

TEST_F(StreamsTest, EveryRowComesThroughStandardInputAndOutput) {
    struct Case {
        const char* name;
        std::string source;
        std::string destination;
        const char* shell;
        const char* output;
    };
    const Case cases[] = {
        {"pipe into a file", "-", "out.csv",
         "cat in.csv | $TEXTJOB run job.json >summary.txt 2>err.txt", "out.csv"},
        {"pipe to standard output", "-", "-",
         "cat in.csv | $TEXTJOB run job.json >out.csv 2>err.txt", "out.csv"},
        {"/dev/stdin", "/dev/stdin", "-", "$TEXTJOB run job.json <in.csv >out.csv 2>err.txt",
         "out.csv"},
        {"named pipe", "fifo.csv", "out.csv",
         "rm -f fifo.csv && mkfifo fifo.csv && (cat in.csv >fifo.csv &) && "
         "$TEXTJOB run job.json >summary.txt 2>err.txt",
         "out.csv"},
        {"gzip file", "in.csv.gz", "out.csv",
         "gzip -c in.csv >in.csv.gz && $TEXTJOB run job.json >summary.txt 2>err.txt", "out.csv"},
        {"gzip through a pipe", "-", "-",
         "gzip -c in.csv | $TEXTJOB run job.json >out.csv 2>err.txt", "out.csv"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove(folder / "out.csv");
        ASSERT_EQ(runShell(jobWith(c.source, c.destination), c.shell), 0)
            << slurpFile(folder / "err.txt");
        EXPECT_TRUE(slurpFile(folder / c.output) == expected)
            << "output differs; messages: " << slurpFile(folder / "err.txt");
        const std::string summary =
            slurpFile(folder / (c.destination == "-" ? "err.txt" : "summary.txt"));
        EXPECT_NE(summary.find("60000 rows read"), std::string::npos) << summary;
    }
}

TEST_F(StreamsTest, ACutGzipFileFailsTheRunNamingTheFile) {
    const int status =
        runShell(jobWith("cut.csv.gz", "out.csv"),
                 "gzip -c in.csv | head -c 100000 >cut.csv.gz && $TEXTJOB run job.json "
                 ">summary.txt 2>err.txt");
    EXPECT_EQ(status, 1);
    const std::string messages = slurpFile(folder / "err.txt");
    EXPECT_NE(messages.find("\"cut.csv.gz\" is cut short"), std::string::npos) << messages;
}

}  // namespace
