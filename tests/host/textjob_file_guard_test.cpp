// A job never writes into a file it reads, nor one file from two steps: such a job is refused
// before any file is opened for writing, and every file is left as it was.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/textjob_process.h"

namespace hosttest {
namespace {

namespace fs = std::filesystem;

const char kInput[] = "id,name\n1,ann\n2,bob\n";

std::string source(const std::string& file) {
    return R"({"type": "SOURCE_DELIMTEXT", "name": "src", "properties": {"FILENAME": ")" + file +
           R"(", "SKIPROWS": 1, "FIELDS": [{"NAME": "id", "TYPE": "integer"},
              {"NAME": "name", "TYPE": "string", "MAX_LENGTH": 20}]}})";
}
std::string dest(const std::string& type, const std::string& name, const std::string& file,
                 const std::string& more = "") {
    return R"({"type": ")" + type + R"(", "name": ")" + name +
           R"(", "properties": {"FILENAME": ")" + file + "\"" + more + "}}";
}

struct GuardCase {
    const char* name;
    std::string sourceFile;
    std::vector<std::string> destinations;
    int exitStatus;
    std::vector<std::string> fragments;  ///< each in standard error
    std::vector<std::string> absent;     ///< files that must not exist after the run
};

void PrintTo(const GuardCase& c, std::ostream* os) {
    *os << c.name;
}

class FileGuardTest : public ::testing::TestWithParam<GuardCase> {
  protected:
    void SetUp() override {
        folder = fs::temp_directory_path() / ("textjob-guard-" + std::to_string(getpid()));
        fs::remove_all(folder);
        fs::create_directories(folder / "d");
        for (const char* name : {"in.csv", "d/a.csv", "d/b.csv"})
            std::ofstream(folder / name, std::ios::binary) << kInput;
        fs::create_symlink("in.csv", folder / "link.csv");
        fs::create_symlink("d/new.csv", folder / "dangling.csv");  // to a file not there yet
    }
    void TearDown() override { fs::remove_all(folder); }

    fs::path folder;
};

TEST_P(FileGuardTest, RefusesBeforeWritingAndTouchesNothing) {
    const GuardCase& c = GetParam();
    std::string json = R"({"steps": [)" + source(c.sourceFile);
    for (const std::string& d : c.destinations)
        json += ", " + d;
    std::ofstream(folder / "job.json") << json << "]}";

    for (const bool dryRun : {false, true}) {
        std::vector<std::string> args = {"run", (folder / "job.json").string()};
        if (dryRun) args.push_back("--dry-run");
        TextjobProcess job(args, folder);
        ASSERT_TRUE(job.started());
        EXPECT_EQ(job.wait(), c.exitStatus) << job.err();
        const std::string err = job.err();
        for (const std::string& fragment : c.fragments)
            EXPECT_NE(err.find(fragment), std::string::npos) << fragment << "\n" << err;
        for (const char* name : {"in.csv", "d/a.csv", "d/b.csv"})
            EXPECT_EQ(slurp(folder / name), kInput) << name;
        for (const std::string& name : c.absent)
            EXPECT_FALSE(fs::exists(folder / name)) << name;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FileGuardTest,
    ::testing::Values(
        GuardCase{"OwnInput",
                  "in.csv",
                  {dest("DEST_DELIMTEXT", "out", "in.csv")},
                  2,
                  {"\"out\" (DEST_DELIMTEXT)", "\"in.csv\"", "\"src\" (SOURCE_DELIMTEXT)"},
                  {}},
        GuardCase{"AppendOntoInputByAnotherPath",
                  "in.csv",
                  {dest("DEST_DELIMTEXT", "out", "./d/../in.csv", R"(, "APPEND": true)")},
                  2,
                  {"\"./d/../in.csv\", which is \"in.csv\"", "\"src\""},
                  {}},
        GuardCase{"LinkToInput",
                  "in.csv",
                  {dest("DEST_FIXEDTEXT", "fixed", "link.csv")},
                  2,
                  {"\"fixed\"", "\"link.csv\", which is \"in.csv\""},
                  {}},
        GuardCase{"PatternThatWouldMatchTheOutput",
                  "d/*.csv",
                  {dest("DEST_DELIMTEXT", "all", "d/z_all.csv")},
                  2,
                  {"\"all\"", "\"d/z_all.csv\"", "pattern \"d/*.csv\"", "\"src\""},
                  {"d/z_all.csv"}},
        GuardCase{"FileOfAPatternsListingByAnotherName",
                  "d/*.csv",
                  {dest("DEST_DELIMTEXT", "out", "d/../d/b.csv")},
                  2,
                  {"\"out\"", "\"src\""},
                  {}},
        GuardCase{"StyleSheetBesideTheReportMatchedByThePattern",
                  "d/*.css",
                  {dest("DEST_HTML", "report", "d/report.html")},
                  2,
                  {"\"report\" (DEST_HTML)", "its file \"d/", "pattern \"d/*.css\""},
                  {"d/report.html"}},
        GuardCase{"ReportNamedAsItsOwnStyleSheet",
                  "in.csv",
                  {dest("DEST_HTML", "report", "d/marovind.css")},
                  2,
                  {"\"report\" (DEST_HTML)", "which are one file"},
                  {}},
        GuardCase{
            "TwoDestinationsOnOneFile",
            "in.csv",
            {dest("DEST_DELIMTEXT", "one", "out.csv"), dest("DEST_FIXEDTEXT", "two", "./out.csv")},
            2,
            {"\"one\" (DEST_DELIMTEXT) and \"two\" (DEST_FIXEDTEXT)", "\"out.csv\""},
            {"out.csv"}},
        GuardCase{"TwoDestinationsOnOneNewFileOneThroughALink",
                  "in.csv",
                  {dest("DEST_DELIMTEXT", "one", "d/new.csv"),
                   dest("DEST_DELIMTEXT", "two", "dangling.csv")},
                  2,
                  {"\"one\" (DEST_DELIMTEXT) and \"two\" (DEST_DELIMTEXT)"},
                  {"d/new.csv"}},
        // A file replaced at the end keeps a failed run's rows as <file>.partial: that name is
        // written too. (Appending keeps nothing beside the file.)
        GuardCase{"RowsKeptForAFailedRunOntoAnotherOutput",
                  "in.csv",
                  {dest("DEST_DELIMTEXT", "out", "o.csv.partial"),
                   dest("DEST_FIXEDTEXT", "fixed", "o.csv")},
                  2,
                  {"\"out\" (DEST_DELIMTEXT) and \"fixed\" (DEST_FIXEDTEXT) would both write "
                   "\"o.csv.partial\""},
                  {"o.csv", "o.csv.partial"}},
        GuardCase{"DotFileAPatternSpells",
                  "d/.*.csv",
                  {dest("DEST_DELIMTEXT", "out", "d/.all.csv")},
                  2,
                  {"\"d/.all.csv\", which the pattern \"d/.*.csv\""},
                  {"d/.all.csv"}},
        // What the guard must let through.
        GuardCase{"DotFileAStarDoesNotList",
                  "d/*.csv",
                  {dest("DEST_DELIMTEXT", "out", "d/.all.csv")},
                  0,
                  {},
                  {}},
        GuardCase{"TwoReportsInOneFolderShareTheirStyleSheet",
                  "d/*.csv",
                  {dest("DEST_HTML", "r1", "r1.html"), dest("DEST_HTML", "r2", "r2.html"),
                   dest("DEST_DELIMTEXT", "txt", "d/all.txt")},
                  0,
                  {},
                  {}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace hosttest
