// What textjob says when the command line or the job is wrong: the message starts with
// "error:", says what to do, suggests the name that was probably meant, and nothing runs.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "common/temp_files.h"
#include "support/textjob_process.h"

namespace hosttest {
namespace {

namespace fs = std::filesystem;

std::string jobWith(const std::string& destinationProperties) {
    return R"({"steps": [{"type": "SOURCE_DELIMTEXT", "name": "in", "properties": {
        "FILENAME": "in.csv", "SKIPROWS": 1, "FIELDS": [{"NAME": "id", "TYPE": "integer"},
        {"NAME": "name", "TYPE": "string", "MAX_LENGTH": 20}]}},
      {"type": "DEST_DELIMTEXT", "name": "out", "properties": {"FILENAME": "out.csv")" +
           destinationProperties + "}}]}";
}

struct ErrorCase {
    const char* name;
    std::vector<std::string> args;  ///< "@name" stands for the file in the test's folder
    std::string job;                ///< written to job.json when not empty
    int exitStatus;
    std::vector<std::string> fragments;  ///< each in standard error
    std::string output;                  ///< out.csv after the run; "-": must not exist
};

void PrintTo(const ErrorCase& c, std::ostream* os) {
    *os << c.name;
}

class TextjobErrors : public ::testing::TestWithParam<ErrorCase> {
  protected:
    testfiles::TempDir scratch;
    fs::path folder = scratch.path();
};

TEST_P(TextjobErrors, SayWhatToDo) {
    const ErrorCase& c = GetParam();
    std::ofstream(folder / "in.csv", std::ios::binary) << "id,name\n1,ann\n2,bob\n";
    if (!c.job.empty()) std::ofstream(folder / "job.json", std::ios::binary) << c.job;
    std::vector<std::string> args = c.args;
    for (std::string& arg : args)
        if (arg.starts_with("@")) arg = (folder / arg.substr(1)).string();
    TextjobProcess textjob(args, folder);
    ASSERT_TRUE(textjob.started());
    EXPECT_EQ(textjob.wait(), c.exitStatus) << textjob.err();
    const std::string err = textjob.err();
    for (const std::string& fragment : c.fragments)
        EXPECT_NE(err.find(fragment), std::string::npos)
            << "missing: " << fragment << "\nin: " << err;
    if (c.output == "-") {
        EXPECT_FALSE(fs::exists(folder / "out.csv"));
    } else if (!c.output.empty()) {
        EXPECT_EQ(slurp(folder / "out.csv"), c.output);
    }
}

const std::string kFields = R"(, "FIELDS": [{"FIELDNAME": "id"}, {"FIELDNAME": "name"}])";

INSTANTIATE_TEST_SUITE_P(
    CommandLineAndJob, TextjobErrors,
    ::testing::Values(
        ErrorCase{
            "subcommand typo", {"rn", "@job.json"}, "", 2, {"error: ", "did you mean run?"}, "-"},
        ErrorCase{"convert: an encoding of no name",
                  {"convert", "@in.csv", "@out.csv", "--encoding", "bogus"},
                  "",
                  2,
                  {"error: --encoding bogus: no encoding of that name; the nearest:"},
                  "-"},
        ErrorCase{"convert: an encoding of no number",
                  {"convert", "@in.csv", "@out.csv", "--input-encoding", "99999"},
                  "",
                  2,
                  {"error: --input-encoding 99999: no encoding has that number"},
                  "-"},
        ErrorCase{"a destination that writes the job file",
                  {"run", "@job.json"},
                  [] {
                      std::string job = jobWith(kFields);
                      job.replace(job.find(R"("FILENAME": "out.csv")"), 21,
                                  R"("FILENAME": "job.json")");
                      return job;
                  }(),
                  2,
                  {"error: out: its FILENAME is the job file"},
                  "-"},
        ErrorCase{"an empty job file name",
                  {"convert", "@in.csv", "@out.csv", "--save-job", ""},
                  "",
                  2,
                  {"error: --save-job: an empty name"},
                  "-"},
        ErrorCase{"no command at all",
                  {"nonsense"},
                  "",
                  2,
                  {"\"nonsense\" is no command (convert, run, infer"},
                  "-"},
        ErrorCase{"option typo",
                  {"run", "--dryrun", "@job.json"},
                  jobWith(kFields),
                  2,
                  {"error: ", "did you mean --dry-run?"},
                  "-"},
        ErrorCase{"option typo after a flag",
                  {"run", "-q", "--dryrun", "@job.json"},
                  jobWith(kFields),
                  2,
                  {"error: ", "did you mean --dry-run?"},
                  "-"},
        ErrorCase{"option typo after convert",
                  {"convert", "@in.csv", "@o.csv", "--selct", "id"},
                  "",
                  2,
                  {"did you mean --select?"},
                  "-"},
        ErrorCase{"a file name that begins with a dash",
                  {"convert", "-x.csv", "@o.csv"},
                  "",
                  2,
                  {"-x.csv begins with '-' and was read as an option", "put -- before"},
                  "-"},
        ErrorCase{"an option after --",
                  {"convert", "--", "-x.csv", "@o.csv", "-q"},
                  "",
                  2,
                  {"after -- every argument is a name, -q too: put the options before --"},
                  "-"},
        ErrorCase{"negative thread count",
                  {"run", "--threads", "-1", "@job.json"},
                  jobWith(kFields),
                  2,
                  {"error: ", "-1 is not a thread count: give 0", "from 2 up"},
                  "-"},
        ErrorCase{
            "FIELDNAME typo",
            {"run", "@job.json"},
            jobWith(R"(, "FIELDS": [{"FIELDNAME": "id"}, {"FIELDNAME": "nmae"}])"),
            2,
            {"FIELDS row 2: FIELDNAME \"nmae\" is not a field of its input; did you mean name? "
             "Input fields: id, name"},
            "-"},
        ErrorCase{"FIELDNAME typo in a row given in column order",
                  {"run", "@job.json"},
                  jobWith(R"(, "FIELDS": [["idd", "Id"]])"),
                  2,
                  {"FIELDS row 1: FIELDNAME \"idd\" is not a field of its input; did you mean id?"},
                  "-"},
        ErrorCase{"FIELDS row without a FIELDNAME",
                  {"run", "@job.json"},
                  jobWith(R"(, "FIELDS": [{"FIELDNAME": "id"}, {"OUTPUTNAME": "x"}])"),
                  2,
                  {"FIELDS row 2: no FIELDNAME names a field. Input fields: id, name"},
                  "-"},
        ErrorCase{"FILENAME_FIELD named as a field of FIELDS",
                  {"run", "@job.json", "--set", "in.FILENAME_FIELD=name"},
                  jobWith(kFields),
                  2,
                  {"error: Step \"in\" (SOURCE_DELIMTEXT) names two of its fields name (fields 2 "
                   "and 3)"},
                  "-"},
        ErrorCase{"a source field without a name",
                  {"run", "@job.json"},
                  [] {
                      std::string job = jobWith("");
                      job.replace(job.find(R"("NAME": "name")"), 14, R"("NAME": "")");
                      return job;
                  }(),
                  2,
                  {"error: Step \"in\" (SOURCE_DELIMTEXT) gives its field 2 no name"},
                  "-"},
        ErrorCase{"DELIMITER tab through --set",
                  {"run", "-q", "@job.json", "--set", "out.DELIMITER=tab"},
                  jobWith(kFields),
                  0,
                  {},
                  "1\tann\n2\tbob\n"},
        ErrorCase{"DELIMITER \\t through --set",
                  {"run", "-q", "@job.json", "--set", "out.DELIMITER=\\t"},
                  jobWith(kFields),
                  0,
                  {},
                  "1\tann\n2\tbob\n"},
        ErrorCase{"destination without FIELDS rows",
                  {"run", "-q", "@job.json"},
                  jobWith(""),
                  0,
                  {"warning: out: FIELDS has no rows, so the step writes nothing"},
                  "-"},
        ErrorCase{"two steps of one name",
                  {"run", "-q", "@job.json"},
                  [] {
                      std::string job = jobWith(kFields);
                      job.replace(job.find(R"("name": "out")"), 13, R"("name": "in")");
                      return job;
                  }(),
                  0,
                  {"warning: several steps are named \"in\", so their messages"},
                  "1,ann\n2,bob\n"},
        ErrorCase{"convert: a column --select does not know",
                  {"convert", "-q", "@in.csv", "@out.csv", "--select", "nmae"},
                  "",
                  2,
                  {"error: --select: the input has no column \"nmae\"; did you mean name?"},
                  "-"},
        ErrorCase{"convert: a job saved onto the input",
                  {"convert", "@in.csv", "@out.csv", "--save-job", "@in.csv"},
                  "",
                  2,
                  {"error: --save-job ", "in.csv is the input: save the job to a file of its own"},
                  "-"},
        ErrorCase{"convert: the quote mark as the delimiter",
                  {"convert", "@in.csv", "@out.csv", "--delimiter", "0x22"},
                  "",
                  2,
                  {"error: --delimiter 0x22: the quote mark or a line end would make the file "
                   "unreadable"},
                  "-"},
        ErrorCase{"convert: an output name that says no kind",
                  {"convert", "@in.csv", "@out.xlsx"},
                  "",
                  2,
                  {"out.xlsx: end it in .csv", "--to"},
                  "-"},
        ErrorCase{"convert: the output is the input",
                  {"convert", "@in.csv", "@./in.csv", "--to", "csv"},
                  "",
                  2,
                  {"in.csv is the input: write the conversion to another file"},
                  "-"}));

TEST(RunFromStandardInput, ReadsTheJobThereAndItsPathsFromTheCurrentFolder) {
    testfiles::TempDir scratch;
    const fs::path folder = scratch.path();
    std::ofstream(folder / "in.csv", std::ios::binary) << "id,name\n1,ann\n";
    const std::string textjob = std::string(TEXT_BINARY_DIR) + "/bin/textjob";
    const std::string job = jobWith(R"(, "FIELDS": [{"FIELDNAME": "name"}])");
    std::ofstream(folder / "job.json", std::ios::binary) << job;
    const std::string run = "cd '" + folder.string() + "' && '" + textjob + "' run -q - <job.json";
    EXPECT_EQ(std::system(run.c_str()), 0);
    EXPECT_EQ(slurp(folder / "out.csv"), "ann\n");

    // The source cannot read its data from where the job came from.
    std::string piped = job;
    piped.replace(piped.find("in.csv"), 6, "-");
    std::ofstream(folder / "job.json", std::ios::binary | std::ios::trunc) << piped;
    const std::string refused =
        "cd '" + folder.string() + "' && '" + textjob + "' run - <job.json 2>err.txt";
    const int status = std::system(refused.c_str());
    EXPECT_EQ(WEXITSTATUS(status), 2);
    EXPECT_NE(slurp(folder / "err.txt").find("cannot read its data there too"), std::string::npos);
}

}  // namespace
}  // namespace hosttest
