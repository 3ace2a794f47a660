// End to end: `textjob infer` on the public test files, then `textjob run` on the job it wrote,
// and the output compared with the input through Python's csv module.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "common/temp_files.h"

namespace {

namespace fs = std::filesystem;

std::string quoted(const std::string& text) {
    return "'" + text + "'";
}

/// Runs a shell command line; its exit status, -1 when it did not end normally.
int shell(const std::string& command) {
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

/// Runs textjob with `args` (already quoted); standard output and error go to the files named.
int textjob(const std::string& args, const std::string& out, const std::string& err) {
    return shell(quoted(TEXTJOB_PROGRAM) + " " + args + " >" + quoted(out) + " 2>" + quoted(err));
}

bool sourceReadsQuotedLineBreaks() {
    static const bool known = [] {
        testfiles::TempDir dir;
        const std::string out = dir.file("out");
        textjob("describe SOURCE_DELIMTEXT", out, dir.file("err"));
        return testfiles::readFile(out).find("NEWLINES_IN_VALUES") != std::string::npos;
    }();
    return known;
}

std::vector<std::string> testFiles() {
    std::vector<std::string> files;
    for (const char* folder : {"real-world", "encodings"}) {
        const fs::path dir = fs::path(TEXT_TESTDATA_DIR) / folder;
        std::error_code error;
        if (!fs::is_directory(dir, error)) {
            files.push_back(dir.string());  // its test fails, naming the missing folder
            continue;
        }
        for (const auto& entry : fs::directory_iterator(dir)) {
            const std::string ext = entry.path().extension().string();
            if (entry.is_regular_file() && (ext == ".csv" || ext == ".tsv"))
                files.push_back(entry.path().string());
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

class InferRoundTrip : public ::testing::TestWithParam<std::string> {
  protected:
    /// Infers a job for the test file with `options`, runs it and checks the output with the
    /// Python checker in `mode`.
    void inferRunAndCheck(const std::string& options, const std::string& mode) {
        const std::string& file = GetParam();
        const std::string job = dir.file("job.json");
        ASSERT_EQ(textjob("infer " + options + " " + quoted(file) + " -o " + quoted(job),
                          dir.file("infer.out"), dir.file("infer.err")),
                  0)
            << testfiles::readFile(dir.file("infer.err"));
        const std::string jobText = testfiles::readFile(job);
        if (jobText.find("NEWLINES_IN_VALUES") != std::string::npos &&
            !sourceReadsQuotedLineBreaks()) {
            GTEST_SKIP() << "the delimited source has no NEWLINES_IN_VALUES yet";
        }
        ASSERT_EQ(
            textjob("run -q --strict " + quoted(job), dir.file("run.out"), dir.file("run.err")), 0)
            << testfiles::readFile(dir.file("run.err"));
        // Unreadable and cut values are warned about: a job infer wrote has none.
        EXPECT_EQ(testfiles::readFile(dir.file("run.err")), "");
        const std::string output = dir.file(fs::path(file).stem().string() + ".out.csv");
        EXPECT_EQ(shell("python3 " + quoted(INFER_CHECK_SCRIPT) + " " + quoted(file) + " " +
                        quoted(output) + " " + quoted(job) + " " + mode + " >" +
                        quoted(dir.file("check.out")) + " 2>&1"),
                  0)
            << testfiles::readFile(dir.file("check.out"));
    }

    testfiles::TempDir dir;
};

TEST_P(InferRoundTrip, TextJobWritesEveryValueBackExactly) {
    inferRunAndCheck("--text", "text");
}

// The default job types a column only where every value is written back as it stands.
TEST_P(InferRoundTrip, DefaultJobWritesEveryValueBackExactly) {
    inferRunAndCheck("", "text");
}

TEST_P(InferRoundTrip, LooselyTypedJobReadsEveryValue) {
    inferRunAndCheck("--types loose", "typed");
}

INSTANTIATE_TEST_SUITE_P(TestData, InferRoundTrip, ::testing::ValuesIn(testFiles()),
                         [](const auto& info) {
                             std::string name = fs::path(info.param).stem().string();
                             for (char& c : name) {
                                 if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                             }
                             return name;
                         });

}  // namespace
