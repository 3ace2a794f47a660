// End-to-end tests of the textjob program: real job files in a temporary folder, run by the
// built binary with the plug-in that TEXT_PLUGIN_PATH names (or the small fake plug-in).
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <string>
#include <vector>

#include "common/temp_files.h"
#include "support/textjob_process.h"

namespace hosttest {
namespace {

namespace fs = std::filesystem;
using std::chrono::seconds;

/// A delimited source of in.csv-like files: id (integer), name (string), one header line.
std::string sourceStep(const std::string& file) {
    return R"({"type": "SOURCE_DELIMTEXT", "name": "src", "properties": {"FILENAME": ")" + file +
           R"(", "SKIPROWS": 1, "FIELDS": [{"NAME": "id", "TYPE": "integer"},
              {"NAME": "name", "TYPE": "string", "MAX_LENGTH": 20}]}})";
}
std::string delimitedDestStep(const std::string& file) {
    return R"({"type": "DEST_DELIMTEXT", "name": "out", "properties": {"FILENAME": ")" + file +
           R"(", "FIELDS": [{"FIELDNAME": "id"}, {"FIELDNAME": "name"}]}})";
}
std::string jobOf(const std::vector<std::string>& steps) {
    std::string json = R"({"steps": [)";
    for (size_t i = 0; i < steps.size(); ++i)
        json += (i > 0 ? ", " : "") + steps[i];
    return json + "]}";
}

size_t countOf(const std::string& text, const std::string& piece) {
    size_t n = 0;
    for (size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at + 1))
        ++n;
    return n;
}

class RunnerTest : public ::testing::Test {
  protected:
    void SetUp() override { writeFile("in.csv", "id,name\n1,ann\n2,bob\n3,cy\n"); }

    void writeFile(const std::string& name, const std::string& text) {
        std::ofstream(folder / name, std::ios::binary) << text;
    }
    std::string writeJob(const std::string& json, const std::string& name = "job.json") {
        writeFile(name, json);
        return (folder / name).string();
    }

    /// Runs textjob to its end (standard error to a file) and keeps status and output.
    void run(const std::vector<std::string>& args) {
        TextjobProcess process(args, folder);
        ASSERT_TRUE(process.started());
        exitStatus = process.wait();
        out = process.out();
        err = process.err();
    }
    /// The same with the fake plug-in.
    void runFake(std::vector<std::string> args) {
        args.insert(args.begin(), {"--plugin", HOST_TEST_FAKE_PLUGIN});
        run(args);
    }

    testfiles::TempDir scratch;
    fs::path folder = scratch.path();
    int exitStatus = -1;
    std::string out;
    std::string err;
};

TEST_F(RunnerTest, SuccessPrintsTheSummaryOnStandardOutput) {
    runFake({"run", writeJob(R"({"steps": [{"type": "FAKE_SOURCE"}]})")});
    EXPECT_EQ(exitStatus, 0);
    EXPECT_EQ(withoutElapsedLine(out), "FAKE_SOURCE: fake source done\n");
    // The summary ends with the elapsed time, the rows read and the rate.
    EXPECT_TRUE(withoutElapsedLine(out) != out && out.find(" s, 2 rows read") != std::string::npos)
        << out;
    EXPECT_EQ(err, "");  // no progress line when standard error is not a terminal
}

TEST_F(RunnerTest, OptionsMayFollowTheCommand) {
    const std::string job = writeJob(R"({"steps": [{"type": "FAKE_SOURCE", "properties":
                                         {"ROWS": 1}}]})");
    run({"run", job, "--plugin", HOST_TEST_FAKE_PLUGIN, "--quiet"});
    EXPECT_EQ(exitStatus, 0) << err;
    EXPECT_EQ(out, "");
}

TEST_F(RunnerTest, StepFailureExitsWithOne) {
    runFake(
        {"run", writeJob(R"({"steps": [{"type": "FAKE_SOURCE", "properties": {"ROWS": -1}}]})")});
    EXPECT_EQ(exitStatus, 1);
    EXPECT_EQ(err, "error: FAKE_SOURCE: ROWS must not be negative\n");
}

TEST_F(RunnerTest, InterruptStopsAStepThatNeverAsksWithStatus130) {
    // The fake source never asks shouldContinue: the host stops the chain itself.
    TextjobProcess job({"--plugin", HOST_TEST_FAKE_PLUGIN, "run",
                        writeJob(R"({"steps": [{"type": "FAKE_SOURCE", "properties":
                                     {"ROWS": 1000000000000}}]})")},
                       folder, /*stderrOnTerminal=*/true);
    ASSERT_TRUE(job.started());
    ASSERT_TRUE(job.waitForError(" rows/s", std::chrono::seconds(60))) << job.err();
    job.interrupt();
    EXPECT_EQ(job.wait(std::chrono::seconds(60)), 130);
    EXPECT_NE(job.err().find("The run was stopped after "), std::string::npos) << job.err();
    // The step was still finished.
    EXPECT_EQ(withoutElapsedLine(job.out()), "FAKE_SOURCE: fake source done\n");
}

TEST_F(RunnerTest, RunsAJobFromItsOwnFolderAndWritesItsSummary) {
    const std::string job = writeJob(jobOf({sourceStep("in.csv"), delimitedDestStep("copy.csv")}));
    run({"run", job});
    EXPECT_EQ(exitStatus, 0) << err;
    EXPECT_EQ(err, "");
    EXPECT_EQ(slurp(folder / "copy.csv"), "1,ann\n2,bob\n3,cy\n");
    EXPECT_NE(out.find("src: Input file: in.csv, 3 rows read"), std::string::npos) << out;
    EXPECT_NE(out.find("out: Wrote 3 rows"), std::string::npos) << out;
}

// --strict fails a run that lost a value, whichever step lost it and whatever the warning cap
// let through; a run that kept every value passes as without it.
TEST_F(RunnerTest, StrictFailsARunThatLostAValue) {
    writeFile("bad.csv", "id,name\n1,ann\nx,bob\n");
    writeFile("long.csv", "id,name\n1," + std::string(30, 'n') + "\n");
    const std::string fixedCut = R"({"type": "DEST_FIXEDTEXT", "properties": {"FILENAME":
        "fixed.txt", "FIELDS": [{"FIELDNAME": "name", "WIDTH": 2}]}})";
    struct Case {
        const char* name;
        std::string job;
        int plain;   ///< exit status without --strict
        int strict;  ///< with it
        const char* said;
    };
    const Case cases[] = {
        {"all values kept", jobOf({sourceStep("in.csv"), delimitedDestStep("copy.csv")}), 0, 0,
         nullptr},
        {"unreadable integer", jobOf({sourceStep("bad.csv")}), 0, 1, "Text Plugin 810:"},
        {"string cut at MAX_LENGTH", jobOf({sourceStep("long.csv")}), 0, 1, "Text Plugin 811:"},
        {"value cut at WIDTH", jobOf({sourceStep("in.csv"), fixedCut}), 0, 1, "Text Plugin 813:"},
        {"value cut by the last destination",
         jobOf({sourceStep("in.csv"), delimitedDestStep("copy.csv"), fixedCut}), 0, 1,
         "Text Plugin 813:"},
        {"a failed step stays 1", jobOf({sourceStep("missing.csv")}), 1, 1, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string job = writeJob(c.job);
        run({"run", job});
        EXPECT_EQ(exitStatus, c.plain) << err;
        if (c.said != nullptr) {
            EXPECT_NE(err.find(c.said), std::string::npos) << err;
        }
        // The run stops at the first value lost, before a destination replaces its file, one
        // ahead of the step that lost it too.
        writeFile("fixed.txt", "old\n");
        writeFile("copy.csv", "old\n");
        run({"run", "--strict", "--quiet", job});
        EXPECT_EQ(exitStatus, c.strict) << err;
        const bool failed = c.strict == 1 && c.plain == 0;
        EXPECT_EQ(countOf(err, "error: --strict:"), failed ? 1u : 0u) << err;
        if (c.job.find("fixed.txt") != std::string::npos) {
            EXPECT_EQ(testfiles::readFile((folder / "fixed.txt").string()),
                      failed ? "old\n" : "nn\n");
        }
        if (failed) {
            EXPECT_EQ(testfiles::readFile((folder / "copy.csv").string()), "old\n");
        }
        // A dry run fails alike on a value a source lost (destinations write nothing in one),
        // and keeps no rows beside a file that it never wrote.
        if (c.job.find("fixed.txt") != std::string::npos) continue;
        run({"run", "--strict", "--dry-run", "--quiet", job});
        EXPECT_EQ(exitStatus, c.strict) << err;
        EXPECT_EQ(countOf(err, "error: --strict:"), failed ? 1u : 0u) << err;
        EXPECT_EQ(countOf(err, ".partial"), 0u) << err;
    }
}

// A step that fails, before the end of the data or at it, leaves every destination's file as
// it was, the one of a destination ahead of it in the chain too, which reached the end of its
// data: none is put in place until the whole run ended well.
TEST_F(RunnerTest, AFailedStepKeepsTheFileOfEveryDestinationAsItWas) {
    writeFile("in.csv", "id,name\n1,ann\n2,caf\xC3\xA9\n3,cy\n");
    const std::string job = writeJob(
        jobOf({sourceStep("in.csv"), delimitedDestStep("copy.csv"),
               R"({"type": "DEST_FIXEDTEXT", "name": "fx", "properties": {"FILENAME": "fixed.txt",
             "ENCODING": "ascii", "FIELDS": [{"FIELDNAME": "name", "WIDTH": 6}]}})"}));
    for (const char* threads : {"1", "2"}) {
        SCOPED_TRACE(threads);
        writeFile("copy.csv", "old\n");
        writeFile("fixed.txt", "old\n");
        run({"run", "--threads", threads, job});
        EXPECT_EQ(exitStatus, 1) << err;
        EXPECT_EQ(testfiles::readFile((folder / "copy.csv").string()), "old\n");
        EXPECT_EQ(testfiles::readFile((folder / "fixed.txt").string()), "old\n");
        EXPECT_TRUE(fs::exists(folder / "copy.csv.partial"));
    }
    // A report that got no row before the failure says it kept none, not that it wrote.
    writeFile("in.csv", "id,name\n1,caf\xC3\xA9\n");
    writeFile("report.html", "old\n");
    run({"run", "--threads", "1",
         writeJob(jobOf({sourceStep("in.csv"), R"({"type": "DEST_FIXEDTEXT", "name": "fx",
             "properties": {"FILENAME": "fixed.txt", "ENCODING": "ascii", "FIELDS":
             [{"FIELDNAME": "name", "WIDTH": 6}]}})",
                         R"({"type": "DEST_HTML", "name": "ht", "properties": {"FILENAME":
             "report.html", "STYLE": "modern", "FIELDS": [{"FIELDNAME": "id"}]}})"}))});
    EXPECT_NE(out.find("ht: No rows were kept: the run did not finish, so report.html was left "
                       "as it was"),
              std::string::npos)
        << out;
    EXPECT_EQ(testfiles::readFile((folder / "report.html").string()), "old\n");
}

// A classic report on standard output (or a device, a pipe) has no folder of its own: no
// style sheet is written into the working folder (or /dev) for it.
TEST_F(RunnerTest, AReportThatIsNoFileGetsNoStyleSheetBesideIt) {
    run({"run", writeJob(jobOf({sourceStep("in.csv"),
                                R"({"type": "DEST_HTML", "name": "ht", "properties": {"FILENAME":
             "-", "FIELDS": [{"FIELDNAME": "id"}]}})"}))});
    EXPECT_EQ(exitStatus, 0) << err;
    EXPECT_NE(out.find("<td>3</td>"), std::string::npos) << out;
    EXPECT_NE(err.find("no style sheet is written beside it"), std::string::npos) << err;
    EXPECT_FALSE(fs::exists(folder / "marovind.css"));
}

// A plug-in step type that cannot be set up is said, and the other types are still listed.
TEST_F(RunnerTest, StepsListsTheTypesThatCanBeDescribed) {
    setenv("HOST_TEST_FAKE_TYPES", "initfail", 1);
    runFake({"steps"});
    unsetenv("HOST_TEST_FAKE_TYPES");
    EXPECT_EQ(exitStatus, 2);
    EXPECT_NE(err.find("Step type FAKE_SOURCE of the plug-in"), std::string::npos) << err;
    EXPECT_NE(out.find("PROFILER"), std::string::npos) << out;
}

TEST_F(RunnerTest, DryRunPassesEveryRowButWritesNoFile) {
    const std::string job =
        writeJob(jobOf({sourceStep("in.csv"), delimitedDestStep("copy.csv"),
                        R"({"type": "DEST_FIXEDTEXT", "properties": {"FILENAME": "fixed.txt",
             "FIELDS": [{"FIELDNAME": "id", "WIDTH": 4}]}})",
                        R"({"type": "PROFILER"})",
                        R"({"type": "DEST_HTML", "properties": {"FILENAME": "report.html",
             "FIELDS": [{"FIELDNAME": "STATISTIC"}, {"FIELDNAME": "id"}]}})"}));
    run({"run", "--dry-run", job});
    EXPECT_EQ(exitStatus, 0) << err;
    EXPECT_EQ(err, "");
    EXPECT_NE(out.find("3 rows read"), std::string::npos) << out;
    EXPECT_NE(out.find("Dry run: 3 rows read, no files written"), std::string::npos) << out;
    std::vector<std::string> left;
    for (const auto& entry : fs::directory_iterator(folder))
        left.push_back(entry.path().filename().string());
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{"err", "in.csv", "job.json", "out"}));

    // It fails where the run would: a folder where the report's style sheet goes.
    fs::create_directory(folder / "marovind.css");
    run({"run", "--dry-run", job});
    EXPECT_EQ(exitStatus, 1) << err;
    EXPECT_NE(err.find("marovind.css\": it is a folder, not a file"), std::string::npos) << err;
    run({"run", "--dry-run", job, "--set", "DEST_HTML.STYLE=modern"});  // its sheet inside
    EXPECT_EQ(exitStatus, 0) << err;
    fs::remove(folder / "marovind.css");
    // A link to a file in no folder: the run writes where it leads.
    fs::create_symlink("nodir/x.csv", folder / "linked.csv");
    run({"run", "--dry-run", job, "--set", "out.FILENAME=linked.csv"});
    EXPECT_EQ(exitStatus, 1) << err;
    EXPECT_NE(err.find("the folder \"nodir\" does not exist"), std::string::npos) << err;
    fs::remove(folder / "linked.csv");

    run({"run", job});  // the same job for real writes all three
    EXPECT_EQ(exitStatus, 0) << err;
    EXPECT_TRUE(fs::exists(folder / "copy.csv"));
    EXPECT_TRUE(fs::exists(folder / "fixed.txt"));
    EXPECT_TRUE(fs::exists(folder / "report.html"));
}

TEST_F(RunnerTest, SetOverridesScalarPropertiesOfNamedSteps) {
    const std::string job = writeJob(jobOf({sourceStep("in.csv"), delimitedDestStep("copy.csv")}));
    // A number reads as an integer, other text as a string; the last --set for a property wins.
    run({"run", job, "--set", "src.SKIPROWS=2", "--set", "out.FILENAME=other.csv", "--set",
         "out.DELIMITER=;", "--set", "out.FILENAME=last.csv"});
    EXPECT_EQ(exitStatus, 0) << err;
    EXPECT_FALSE(fs::exists(folder / "copy.csv"));
    EXPECT_FALSE(fs::exists(folder / "other.csv"));
    EXPECT_EQ(slurp(folder / "last.csv"), "2;bob\n3;cy\n");
    // An unnamed step goes by its type id; true reads as a boolean.
    const std::string unnamed = writeJob(
        jobOf({sourceStep("in.csv"), R"({"type": "DEST_DELIMTEXT", "properties": {"FILENAME":
               "h.csv", "FIELDS": [{"FIELDNAME": "name", "OUTPUTNAME": "NAME"}]}})"}),
        "unnamed.json");
    run({"run", "--set", "DEST_DELIMTEXT.INCLUDE_HEADER=true", unnamed});
    EXPECT_EQ(exitStatus, 0) << err;
    EXPECT_EQ(slurp(folder / "h.csv"), "NAME\nann\nbob\ncy\n");
    // A property that takes text keeps what was typed, though it reads as a number.
    run({"run", job, "--set", "out.FILENAME=2024.10"});
    EXPECT_EQ(exitStatus, 0) << err;
    EXPECT_TRUE(fs::exists(folder / "2024.10"));
}

TEST_F(RunnerTest, ARelativePluginPathIsFoundFromWhereTheRunStarts) {
    // The run works from the job's folder; the plug-in's path is the command line's.
    fs::create_directories(folder / "jobs");
    const std::string job = writeJob(R"({"steps": [{"type": "FAKE_SOURCE"}]})", "jobs/job.json");
    run({"--plugin", fs::relative(HOST_TEST_FAKE_PLUGIN).string(), "run", job});
    EXPECT_EQ(exitStatus, 0) << err;
}

TEST_F(RunnerTest, AJobOnStandardInputLeavesNoStandardInputForItsSource) {
    const std::string job = writeJob(jobOf({sourceStep("in.csv"), delimitedDestStep("copy.csv")}));
    for (const char* name : {"-", "/dev/stdin"}) {
        ProcessSetup setup;
        setup.standardInput = job;
        TextjobProcess process({"run", "-", "--set", std::string("src.FILENAME=") + name}, folder,
                               setup);
        ASSERT_TRUE(process.started());
        EXPECT_EQ(process.wait(), 2) << name;
        EXPECT_NE(process.err().find("its source cannot read its data there too"),
                  std::string::npos)
            << process.err();
    }
}

/// A job or command that a new user might get wrong: the exit status and the one error line.
struct BadInput {
    const char* name;
    std::vector<std::string> steps;  ///< the job's steps; empty: no job file is written
    std::vector<std::string> args;   ///< after "run JOB"
    int status;
    std::string message;  ///< a piece of the one error line
};

void PrintTo(const BadInput& c, std::ostream* os) {
    *os << c.name;
}

class BadInputTest : public RunnerTest, public ::testing::WithParamInterface<BadInput> {};

TEST_P(BadInputTest, EndsWithOneClearMessageAndATestableStatus) {
    const BadInput& c = GetParam();
    std::vector<std::string> args = {"run"};
    args.push_back(c.steps.empty() ? (folder / "missing.json").string() : writeJob(jobOf(c.steps)));
    args.insert(args.end(), c.args.begin(), c.args.end());
    run(args);
    EXPECT_EQ(exitStatus, c.status) << err;
    EXPECT_EQ(countOf(err, "error: "), 1u) << err;
    EXPECT_EQ(err.rfind("error: ", 0), 0u) << err;
    EXPECT_NE(err.find(c.message), std::string::npos) << err;
    EXPECT_EQ(err.back(), '\n');
}

const std::string kSource = sourceStep("in.csv");
const std::string kDest = delimitedDestStep("copy.csv");

INSTANTIATE_TEST_SUITE_P(
    Cases, BadInputTest,
    ::testing::Values(
        BadInput{"MissingJobFile", {}, {}, 2, "missing.json: no such job file; check the name"},
        BadInput{"NotJson", {"{"}, {}, 2, "not valid JSON"},
        BadInput{"MistypedProperty",
                 {R"({"type": "SOURCE_DELIMTEXT", "name": "src", "properties": {"FILNAME": "a"}})"},
                 {},
                 2,
                 "Unknown property FILNAME for step \"src\" (SOURCE_DELIMTEXT); did you mean "
                 "FILENAME? Valid properties: FILENAME, FIELDS,"},
        BadInput{"MistypedColumn",
                 {R"({"type": "SOURCE_DELIMTEXT", "properties": {"FIELDS": [{"NAM": "a"}]}})"},
                 {},
                 2,
                 "row 1: unknown column NAM; did you mean NAME? Valid columns: NAME, TYPE, "
                 "MAX_LENGTH"},
        BadInput{"MistypedStepType",
                 {R"({"type": "SOURCE_DELIMTXT"})"},
                 {},
                 2,
                 "Unknown step type SOURCE_DELIMTXT for step \"SOURCE_DELIMTXT\"; did you mean "
                 "SOURCE_DELIMTEXT?"},
        BadInput{"SourceNotFirst", {kDest, kSource}, {}, 2, "The first step must be a source"},
        BadInput{"DestinationWithoutSource",
                 {kDest},
                 {},
                 2,
                 "Step \"out\" (DEST_DELIMTEXT) cannot begin a job"},
        BadInput{"TwoSources", {kSource, kSource}, {}, 2, "only the first step of a job"},
        BadInput{"InputFileMissing",
                 {sourceStep("nosuch.csv"), kDest},
                 {},
                 1,
                 "error: src: cannot read file \"nosuch.csv\": the file does not exist"},
        BadInput{"OutputFolderMissing",
                 {kSource, delimitedDestStep("nodir/copy.csv")},
                 {},
                 1,
                 "error: out: cannot write file \"nodir/copy.csv\": the folder \"nodir\" does "
                 "not exist"},
        BadInput{"DryRunOutputFolderMissing",
                 {kSource, delimitedDestStep("nodir/copy.csv")},
                 {"--dry-run"},
                 1,
                 "error: out: cannot write file \"nodir/copy.csv\": the folder \"nodir\" does "
                 "not exist"},
        BadInput{"DryRunOutputIsAFolder",
                 {kSource, delimitedDestStep(".")},
                 {"--dry-run"},
                 1,
                 "error: out: cannot write file \".\": it is a folder, not a file"},
        BadInput{"PatternMatchesNothing",
                 {sourceStep("x*.csv"), kDest},
                 {},
                 1,
                 "no file matches \"x*.csv\""},
        BadInput{"SetUnknownStep",
                 {kSource, kDest},
                 {"--set", "sr.SKIPROWS=1"},
                 2,
                 "--set sr.SKIPROWS=1: the job has no step named \"sr\"; did you mean src? Valid "
                 "steps: src, out"},
        BadInput{"SetMistypedProperty",
                 {kSource, kDest},
                 {"--set", "out.FILENAM=x"},
                 2,
                 "unknown property FILENAM for step \"out\" (DEST_DELIMTEXT); did you mean "
                 "FILENAME?"},
        BadInput{"SetTable",
                 {kSource, kDest},
                 {"--set", "src.FIELDS=x"},
                 2,
                 "FIELDS of step \"src\" (SOURCE_DELIMTEXT) is a table; --set changes single "
                 "values only"},
        BadInput{"SetWithoutValue",
                 {kSource, kDest},
                 {"--set", "src.SKIPROWS"},
                 2,
                 "expected STEP.PROPERTY=VALUE"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(RunnerTest, UsageErrorsExitWithTwo) {
    for (const std::vector<std::string>& args : {std::vector<std::string>{"frobnicate"},
                                                 {},
                                                 {"run"},
                                                 {"describe"},
                                                 {"run", "--nope", "x"}}) {
        run(args);
        EXPECT_EQ(exitStatus, 2) << (args.empty() ? "" : args[0]);
        EXPECT_FALSE(err.empty());
    }
    run({"run", folder.string()});
    EXPECT_EQ(exitStatus, 2);
    EXPECT_NE(err.find("is a folder, not a job file"), std::string::npos) << err;
}

TEST_F(RunnerTest, HelpAndVersion) {
    run({"--help"});
    EXPECT_EQ(exitStatus, 0);
    for (const char* piece : {"run", "steps", "describe", "--version", "130 stopped by Ctrl-C"})
        EXPECT_NE(out.find(piece), std::string::npos) << piece << "\n" << out;
    run({"run", "--help"});
    EXPECT_EQ(exitStatus, 0);
    for (const char* piece : {"--dry-run", "--quiet", "--set", "STEP.PROPERTY=VALUE"})
        EXPECT_NE(out.find(piece), std::string::npos) << piece << "\n" << out;
    run({"--version"});
    EXPECT_EQ(exitStatus, 0);
    EXPECT_EQ(out, "textjob " TEXTJOB_EXPECTED_VERSION "\n");
}

TEST_F(RunnerTest, StepsListsEveryTypeWithItsRole) {
    run({"steps"});
    ASSERT_EQ(exitStatus, 0) << err;
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"SOURCE_DELIMTEXT", "source       0      1       Text file source (comma delimited)"},
        {"SOURCE_FIXEDTEXT", "source       0      1       Text file source (fixed width)"},
        {"DEST_DELIMTEXT", "destination  1      1       Text file output (comma delimited)"},
        {"DEST_FIXEDTEXT", "destination  1      1       Text file output (fixed width)"},
        {"DEST_HTML", "destination  1      1       HTML report output"},
        {"PROFILER", "transform    1      1       Field profile"}};
    for (const auto& [type, rest] : expected) {
        const size_t at = out.find("\n" + type + " ");
        ASSERT_NE(at, std::string::npos) << type << "\n" << out;
        const std::string line = out.substr(at + 1, out.find('\n', at + 1) - at - 1);
        EXPECT_NE(line.find(rest), std::string::npos) << line;
    }
}

/// describe TYPE: the starts of lines that the step's declarations and notes give.
struct Described {
    const char* type;
    std::vector<std::string> lines;
};

void PrintTo(const Described& c, std::ostream* os) {
    *os << c.type;
}

class DescribeTest : public RunnerTest, public ::testing::WithParamInterface<Described> {};

TEST_P(DescribeTest, ShowsEveryPropertyAsTheStepDeclaresIt) {
    run({"describe", GetParam().type});
    ASSERT_EQ(exitStatus, 0) << err;
    const std::string lines = "\n" + out;
    for (const std::string& line : GetParam().lines)
        EXPECT_NE(lines.find("\n" + line), std::string::npos) << line << "\n" << out;
}

INSTANTIATE_TEST_SUITE_P(
    Types, DescribeTest,
    ::testing::Values(
        Described{"SOURCE_DELIMTEXT",
                  {"SOURCE_DELIMTEXT: Text file source (comma delimited)",
                   "Role: source (0 inputs, 1 output)",
                   "0     FILENAME               string   (required)   the file to read",
                   "      names a file or pattern read",
                   "1     FIELDS                 table    (no rows)",
                   "2     DELIMITER              string   ,            the field delimiter",
                   "      columns: NAME (string), TYPE (string), MAX_LENGTH (integer)",
                   "5     PRESERVE_WHITESPACE    boolean  false",
                   "9     ENCODING               integer  -1",
                   "11    REPLACE_NULLS          boolean  false"}},
        Described{"SOURCE_FIXEDTEXT",
                  {"Role: source (0 inputs, 1 output)",
                   "      columns: NAME (string), TYPE (string), START_POS (integer), LENGTH "
                   "(integer)",
                   "2     RECORDWIDTH            integer  (required)",
                   "7     ENCODING               integer  -1",
                   "9     REPLACE_NULLS          boolean  false"}},
        Described{"DEST_DELIMTEXT",
                  {"Role: destination (1 input, 1 output)",
                   "      columns: FIELDNAME (string), OUTPUTNAME (string)",
                   "2     DELIMITER              string   ,",
                   "3     QUALIFIER              string   (none)",
                   "4     INCLUDE_HEADER         boolean  false",
                   "      names a file written, appended to when APPEND is true",
                   "10    APPEND                 boolean  false",
                   "11    END_OF_LINE            integer  0"}},
        Described{"DEST_FIXEDTEXT",
                  {"Role: destination (1 input, 1 output)",
                   "      columns: FIELDNAME (string), WIDTH (integer)",
                   "2     LINE_END               string   (none)",
                   "5     APPEND                 boolean  false"}},
        Described{
            "DEST_HTML",
            {"DEST_HTML: HTML report output",
             "      columns: FIELDNAME (string), OUTPUTNAME (string)", "      names a file written",
             "2     TITLE                  string   Data Report  the page title",
             "Also writes marovind.css beside the file of FILENAME."}},
        Described{"PROFILER",
                  {"PROFILER: Field profile (statistics of every input field)",
                   "Role: transform (1 input, 1 output)", "Properties: none"}}),
    [](const auto& info) { return std::string(info.param.type); });

// The JSON says what the text says, the files a step writes included.
TEST_F(RunnerTest, DescribeAsJsonNamesTheFilesAStepWrites) {
    run({"describe", "DEST_HTML", "--json"});
    ASSERT_EQ(exitStatus, 0) << err;
    EXPECT_NE(out.find("\"file\": \"file written\""), std::string::npos) << out;
    EXPECT_NE(out.find("\"alsoWrites\": [\n    \"marovind.css beside the file of FILENAME\""),
              std::string::npos)
        << out;
}

TEST_F(RunnerTest, DescribeSuggestsTheClosestTypeForAnUnknownOne) {
    run({"describe", "DEST_HTM"});
    EXPECT_EQ(exitStatus, 2);
    EXPECT_EQ(
        err.rfind("error: Unknown step type DEST_HTM; did you mean DEST_HTML? Valid types: ", 0),
        0u)
        << err;
}

}  // namespace
}  // namespace hosttest
