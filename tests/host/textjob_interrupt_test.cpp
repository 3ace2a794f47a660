// Ctrl-C and the live progress line of the textjob program, end to end: the program runs over a
// large generated file set with standard error on a pseudo-terminal, or blocks on a pipe.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "common/temp_files.h"
#include "support/textjob_process.h"

namespace hosttest {
namespace {

namespace fs = std::filesystem;
using std::chrono::seconds;

class InterruptTest : public ::testing::Test {
  protected:
    /// A job that copies every file matching `pattern` (id, name) to copy.csv.
    std::string writeJob(const std::string& pattern) {
        const fs::path path = folder / "job.json";
        std::ofstream(path) << R"({"steps": [
            {"type": "SOURCE_DELIMTEXT", "name": "src", "properties": {"FILENAME": ")"
                            << pattern << R"(", "SKIPROWS": 1, "FIELDS": [
                {"NAME": "id", "TYPE": "integer"}, {"NAME": "name", "TYPE": "string",
                 "MAX_LENGTH": 30}]}},
            {"type": "DEST_DELIMTEXT", "name": "out", "properties": {"FILENAME": "copy.csv",
                "FIELDS": [{"FIELDNAME": "id"}, {"FIELDNAME": "name"}]}}]})";
        return path.string();
    }

    /// About 20 MB of rows, seen through 40 hard links (800 MB to read): far more than a run
    /// gets through before the test interrupts it, without filling the disk.
    void writeLargeFileSet() {
        {
            std::ofstream out(folder / "data00.csv", std::ios::binary);
            out << "id,name\n";
            std::string chunk;
            for (int i = 0; i < 800000; ++i) {
                chunk += std::to_string(i);
                chunk += ",name of row number ";
                chunk += std::to_string(i);
                chunk += '\n';
                if (chunk.size() > (1 << 20)) {
                    out << chunk;
                    chunk.clear();
                }
            }
            out << chunk;
        }
        for (int i = 1; i < 40; ++i) {
            char name[16];
            std::snprintf(name, sizeof name, "data%02d.csv", i);
            fs::create_hard_link(folder / "data00.csv", folder / name);
        }
    }

    testfiles::TempDir scratch;
    fs::path folder = scratch.path();
};

size_t lineCount(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    size_t lines = 0;
    char buffer[1 << 16];
    while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
        for (std::streamsize i = 0; i < in.gcount(); ++i)
            lines += buffer[i] == '\n' ? 1 : 0;
    }
    return lines;
}

TEST_F(InterruptTest, StopSignalsStopAtTheNextProgressPointCloseTheFilesAndExitWith128PlusSignal) {
    writeLargeFileSet();
    const std::string jobPath = writeJob("data*.csv");
    const struct {
        int signal;
        int exitStatus;
        /// The signal comes twice at once, as from a program that signals the process and then
        /// its group: still one stop, not a quit.
        bool twice;
    } cases[] = {
        {SIGINT, 130, false}, {SIGTERM, 143, false}, {SIGHUP, 129, false}, {SIGTERM, 143, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE("signal " + std::to_string(c.signal) + (c.twice ? " twice" : ""));
        TextjobProcess job({"run", jobPath}, folder, /*stderrOnTerminal=*/true);
        ASSERT_TRUE(job.started());
        // The live line shows the run is under way.
        ASSERT_TRUE(job.waitForError(" rows/s", seconds(60))) << job.err();
        job.signal(c.signal);
        if (c.twice) job.signal(c.signal);
        ASSERT_EQ(job.wait(seconds(120)), c.exitStatus) << job.err();

        const std::string err = job.err();
        EXPECT_EQ(err.find("Stopped at once"), std::string::npos) << err;
        EXPECT_NE(err.find("Stopping the job"), std::string::npos) << err;
        EXPECT_NE(err.find("Text Plugin 421"), std::string::npos) << err;
        const size_t stop = err.find("The run was stopped after ");
        ASSERT_NE(stop, std::string::npos) << err;
        const uint64_t rowsRead = std::stoull(err.substr(stop + 26));
        EXPECT_GT(rowsRead, 0u);
        EXPECT_NE(err.find("Run the job again"), std::string::npos) << err;
        // The progress line was cleared before the messages.
        const size_t lastProgress = err.rfind(" rows/s");
        EXPECT_NE(err.find("\r\033[K", lastProgress), std::string::npos);

        // finish ran: the destination says how many rows it kept beside the file it would
        // have replaced, and that file holds exactly those, whole.
        const std::string out = job.out();
        const std::string lead = "out: Kept the ";
        const size_t kept = out.find(lead);
        ASSERT_NE(kept, std::string::npos) << out;
        const uint64_t rowsWritten = std::stoull(out.substr(kept + lead.size()));
        EXPECT_LE(rowsWritten, rowsRead);
        EXPECT_FALSE(fs::exists(folder / "copy.csv"));
        EXPECT_EQ(lineCount(folder / "copy.csv.partial"), rowsWritten);
        fs::remove(folder / "copy.csv.partial");
    }
}

TEST_F(InterruptTest, AStopEndsASourceThatWaitsOnAPipe) {
    // A pipe that nobody writes to: with a writer that never writes, the source's first read
    // waits; with none, opening the pipe does; with a writer that stops after the head of a
    // gzip stream, a read of compressed data waits. Each wait ends with the stop, cleanly.
    std::string gzipHead;
    {
        FILE* gzip = popen("printf 'id,name\\n1,a\\n' | gzip -c", "r");
        ASSERT_NE(gzip, nullptr);
        char bytes[64];
        gzipHead.assign(bytes, fread(bytes, 1, sizeof bytes, gzip));
        pclose(gzip);
        ASSERT_GT(gzipHead.size(), 12u);
        gzipHead.resize(12);  // the member's header and no data
    }
    for (const char* wait : {"read", "open", "gzip"}) {
        SCOPED_TRACE(std::string("the ") + wait + " waits");
        const bool withWriter = std::string(wait) != "open";
        const fs::path pipe = folder / (std::string(wait) + ".csv");
        ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
        const int writer = withWriter ? open(pipe.c_str(), O_RDWR | O_CLOEXEC) : -1;
        if (std::string(wait) == "gzip") {
            ASSERT_EQ(write(writer, gzipHead.data(), gzipHead.size()),
                      static_cast<ssize_t>(gzipHead.size()));
        }
        TextjobProcess job({"run", writeJob(pipe.filename().string())}, folder);
        ASSERT_TRUE(job.started());
        EXPECT_TRUE(job.waitForOpenFile(pipe, seconds(30)));

        job.signal(SIGTERM);
        EXPECT_EQ(job.wait(seconds(30)), 143) << job.err();
        const std::string err = job.err();
        EXPECT_EQ(err.find("Stopped at once"), std::string::npos) << err;
        EXPECT_NE(err.find("stopped while the file waited for data"), std::string::npos) << err;
        EXPECT_NE(err.find("The run was stopped after 0 rows were read"), std::string::npos) << err;
        if (writer >= 0) close(writer);
    }
}

TEST_F(InterruptTest, AStopEndsADestinationThatWaitsForAPipesReader) {
    // The destination's file is a named pipe that no program reads: opening it waits, and the
    // stop ends the wait.
    testfiles::writeFile((folder / "in.csv").string(), "id,name\n1,a\n");
    ASSERT_EQ(mkfifo((folder / "copy.csv").c_str(), 0600), 0);
    TextjobProcess job({"run", writeJob("in.csv")}, folder);
    ASSERT_TRUE(job.started());
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    job.signal(SIGTERM);
    EXPECT_EQ(job.wait(seconds(10)), 143) << job.err();
    EXPECT_NE(job.err().find("stopped while the pipe waited for a program to read it"),
              std::string::npos)
        << job.err();
}

// A program that reads standard input to its end before anything else (a conversion, a
// detection, a job given as "-") ends on a stop while it waits, writing nothing.
TEST_F(InterruptTest, AStopWhileStandardInputIsReadWritesNothing) {
    const struct {
        std::vector<std::string> args;
        const char* says;
        const char* leaves;  ///< a file that must not be there after
    } cases[] = {
        {{"convert", "-", "out.csv"},
         "stopped before the conversion began: nothing was written",
         nullptr},
        {{"infer", "-", "-o", "job.json"}, "stopped before the end of the data", "job.json"},
        {{"run", "-"}, "stopped before the job on standard input was read", nullptr},
    };
    testfiles::writeFile((folder / "out.csv").string(), "old\n");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args[0]);
        // Standard input is a pipe whose writer sent a little and keeps it open.
        const fs::path pipe = folder / "in.pipe";
        ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
        const int writer = open(pipe.c_str(), O_RDWR | O_CLOEXEC);
        ASSERT_GE(writer, 0);
        ASSERT_EQ(write(writer, "a,b\n1,2\n", 8), 8);
        ProcessSetup setup;
        setup.standardInput = pipe.string();
        TextjobProcess program(c.args, folder, setup);
        ASSERT_TRUE(program.started());
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        program.interrupt();
        EXPECT_EQ(program.wait(seconds(10)), 130) << program.err();
        EXPECT_NE(program.err().find(c.says), std::string::npos) << program.err();
        EXPECT_TRUE(c.leaves == nullptr || !fs::exists(folder / c.leaves));
        close(writer);
        fs::remove(pipe);
    }
    EXPECT_EQ(testfiles::readFile((folder / "out.csv").string()), "old\n");
}

TEST_F(InterruptTest, SecondCtrlCEndsAProgramThatCannotStopAtOnce) {
    // The destination writes into a pipe whose reader never reads: once the pipe is full the
    // write waits, and the steps never get past the row where they stop. A second Ctrl-C, half
    // a second or more after the first, ends the program.
    {
        std::ofstream out(folder / "rows.csv");
        out << "id,name\n";
        for (int i = 0; i < 200000; ++i)
            out << i << ",a name that fills the pipe\n";
    }
    const fs::path pipe = folder / "copy.csv";
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    const int reader = open(pipe.c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(reader, 0);
    // A pipe of one page: the thousand rows the source reads before its first stop point do
    // not fit in it, however early the first Ctrl-C comes.
    ASSERT_GT(fcntl(reader, F_SETPIPE_SZ, 4096), 0);
    TextjobProcess job({"run", writeJob("rows.csv")}, folder);
    ASSERT_TRUE(job.started());
    EXPECT_TRUE(job.waitForOpenFile(pipe, seconds(30)));

    job.interrupt();
    ASSERT_TRUE(job.waitForError("press Ctrl-C again", seconds(30))) << job.err();
    EXPECT_TRUE(job.running());
    std::this_thread::sleep_for(std::chrono::milliseconds(700));
    job.interrupt();
    EXPECT_EQ(job.wait(seconds(30)), 130);
    EXPECT_NE(job.err().find("Stopped at once"), std::string::npos) << job.err();
    close(reader);
}

TEST_F(InterruptTest, QuietShowsNoProgressLineOnATerminal) {
    {
        std::ofstream out(folder / "small.csv");
        out << "id,name\n";
        for (int i = 0; i < 300000; ++i)
            out << i << ",n\n";
    }
    TextjobProcess job({"run", "--quiet", writeJob("small.csv")}, folder, true);
    ASSERT_TRUE(job.started());
    EXPECT_EQ(job.wait(seconds(60)), 0) << job.err();
    EXPECT_EQ(job.err(), "");
    EXPECT_EQ(job.out(), "");
    EXPECT_EQ(lineCount(folder / "copy.csv"), 300000u);
}

}  // namespace
}  // namespace hosttest
