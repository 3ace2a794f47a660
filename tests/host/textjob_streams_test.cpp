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
#include <utility>
#include <vector>

#include "common/temp_files.h"

namespace {

namespace fs = std::filesystem;

std::string slurpFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

/// A job reading `source` with a DEST_DELIMTEXT for each of `destinations`, named "out",
/// "out2", ...
std::string jobWith(const std::string& source, const std::vector<std::string>& destinations) {
    std::string job =
        R"({"steps": [{"type": "SOURCE_DELIMTEXT", "name": "src", "properties": {"FILENAME": ")" +
        source + R"(", "QUOTE": "\"", "FIELDS": [{"NAME": "id", "TYPE": "integer"},
              {"NAME": "name", "TYPE": "string", "MAX_LENGTH": 40}]}})";
    for (size_t i = 0; i < destinations.size(); ++i) {
        job += R"(, {"type": "DEST_DELIMTEXT", "name": "out)" +
               (i == 0 ? std::string() : std::to_string(i + 1)) +
               R"(", "properties": {"FILENAME": ")" + destinations[i] +
               R"(", "FIELDS": [{"FIELDNAME": "id"}, {"FIELDNAME": "name"}]}})";
    }
    return job + "]}";
}
std::string jobWith(const std::string& source, const std::string& destination) {
    return jobWith(source, std::vector<std::string>{destination});
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
    // What came on standard input is named so in the report's title, the detection and the
    // summary, not by the copy convert reads, which leaves no file behind.
    fs::create_directory(folder / "spool");
    ASSERT_EQ(
        runShell("",
                 "TMPDIR=$PWD/spool $TEXTJOB convert - out.html <in.csv >summary.txt 2>err.txt"),
        0)
        << slurpFile(folder / "err.txt");
    EXPECT_NE(slurpFile(folder / "out.html").find("<title>standard input</title>"),
              std::string::npos);
    const std::string said = slurpFile(folder / "err.txt") + slurpFile(folder / "summary.txt");
    EXPECT_NE(said.find("infer: standard input ("), std::string::npos) << said;
    EXPECT_NE(said.find("Input file: -, 60000 rows read"), std::string::npos) << said;
    EXPECT_TRUE(fs::is_empty(folder / "spool"));
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

TEST_F(StreamsTest, StandardStreamsThatAreTheJobsFilesAreRefusedBeforeAnythingIsOpened) {
    struct Case {
        const char* name;
        std::string source;
        std::vector<std::string> destinations;
        const char* shell;  ///< after $TEXTJOB run job.json; standard error goes to err.txt
        std::vector<std::string> fragments;
        const char* before = "";  ///< shell commands run first
    };
    const Case cases[] = {
        {"standard input is the destination's file",
         "-",
         {"in.csv"},
         "<in.csv",
         {"\"out\" (DEST_DELIMTEXT) would write \"in.csv\", which is standard input (\"-\")",
          "\"src\" (SOURCE_DELIMTEXT) reads"}},
        {"standard output appends to the source's file",
         "in.csv",
         {"-"},
         ">>in.csv",
         {"\"out\" (DEST_DELIMTEXT) would write standard output (\"-\") on \"",
          "which is \"in.csv\""}},
        {"standard output and /dev/stdout into one file",
         "in.csv",
         {"-", "/dev/stdout"},
         ">o.csv",
         {"Steps \"out\" (DEST_DELIMTEXT) and \"out2\" (DEST_DELIMTEXT) would both write "
          "standard output"}},
        {"two destinations on standard output, a pipe",
         "in.csv",
         {"-", "-"},
         ">pipe.csv",
         {"would both write standard output (\"-\")"},
         "rm -f pipe.csv && mkfifo pipe.csv && (cat pipe.csv >o.csv &) && "},
        {"standard input and output on one file",
         "-",
         {"-"},
         "<in.csv >>in.csv",
         {"standard output (\"-\") on", "which is standard input"}},
    };
    const std::string original = slurpFile(folder / "in.csv");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove(folder / "o.csv");
        EXPECT_EQ(
            runShell(jobWith(c.source, c.destinations),
                     c.before + std::string("$TEXTJOB run job.json ") + c.shell + " 2>err.txt"),
            2);
        const std::string err = slurpFile(folder / "err.txt");
        for (const std::string& fragment : c.fragments)
            EXPECT_NE(err.find(fragment), std::string::npos) << fragment << "\n" << err;
        EXPECT_TRUE(slurpFile(folder / "in.csv") == original) << "in.csv changed";
        EXPECT_EQ(slurpFile(folder / "o.csv"), "");
    }
}

TEST_F(StreamsTest, AStreamClosedAtStartIsNoFileForData) {
    struct Case {
        const char* name;
        std::string source;
        std::string destination;
        const char* shell;
        const char* fragment;
    };
    const Case cases[] = {
        {"standard output", "in.csv", "-", ">&-",
         "cannot write to standard output (\"-\"): it was closed when the program started"},
        {"standard input", "-", "out.csv", "<&-",
         "cannot read standard input (\"-\"): it was closed when the program started"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(runShell(jobWith(c.source, c.destination),
                           std::string("$TEXTJOB run job.json ") + c.shell + " 2>err.txt"),
                  1);
        const std::string err = slurpFile(folder / "err.txt");
        EXPECT_NE(err.find(c.fragment), std::string::npos) << err;
    }
    // convert copies standard input before it reads it: closed, or with no folder to copy it
    // to, it fails as a run that cannot read or write does, saying why.
    for (const auto& [shell, fragment] :
         {std::pair{"$TEXTJOB convert - o.csv <&- 2>err.txt",
                    "cannot read standard input (\"-\"): it was closed when the program started"},
          std::pair{"TMPDIR=/nonexistent $TEXTJOB convert - o.csv <in.csv 2>err.txt",
                    "(TMPDIR is \"/nonexistent\"): No such file or directory"}}) {
        EXPECT_EQ(runShell(jobWith("in.csv", "o.csv"), shell), 1) << shell;
        const std::string err = slurpFile(folder / "err.txt");
        EXPECT_NE(err.find(fragment), std::string::npos) << err;
    }
    // What a command makes for standard output (a schema, a job, a listing, help) fails the
    // command when it cannot get there, as a job's data does.
    for (const auto& [shell, fragment] :
         {std::pair{"$TEXTJOB schema >/dev/full 2>err.txt", "No space left on device"},
          std::pair{"$TEXTJOB steps --json >&- 2>err.txt",
                    "it was closed when the program started"},
          std::pair{"$TEXTJOB --help >/dev/full 2>err.txt", "No space left on device"},
          std::pair{"$TEXTJOB infer in.csv >&- 2>err.txt",
                    "it was closed when the program started"}}) {
        EXPECT_EQ(runShell(jobWith("in.csv", "o.csv"), shell), 1) << shell;
        const std::string err = slurpFile(folder / "err.txt");
        EXPECT_NE(err.find("error: cannot write to standard output: " + std::string(fragment)),
                  std::string::npos)
            << err;
    }
    // Nor may a job go into the file infer reads, appended there through standard output.
    EXPECT_EQ(runShell("", "$TEXTJOB infer in.csv >>in.csv 2>err.txt"), 2);
    EXPECT_TRUE(slurpFile(folder / "in.csv") == expected);
    // Standard output on /dev/null from the start is the user's choice, and takes the data.
    EXPECT_EQ(runShell(jobWith("in.csv", "-"), "$TEXTJOB run job.json >/dev/null 2>err.txt"), 0)
        << slurpFile(folder / "err.txt");
}

}  // namespace
