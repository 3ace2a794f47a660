#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "support/test_step.h"
#include "texthost/pipeline.h"
#include "texthost/run.h"

namespace hosttest {
namespace {

using texthost::JobError;
using texthost::parseJobText;

/// The message of the JobError that `action` throws; empty when it throws none.
template <typename Action>
std::string jobErrorOf(Action&& action) {
    try {
        action();
    } catch (const JobError& e) {
        return e.what();
    }
    return {};
}

TEST(JobFileTest, JsonValuesBecomeTypedValues) {
    const texthost::JobDefinition job = parseJobText(R"({"$schema": "s.json", "strict": true,
        "steps": [{"type": "T", "properties": {
        "S": "text", "I": -42, "R": 1.5, "B": true, "N": null,
        "TABLE": [{"A": 1, "B": "x"}, [2, false]], "EMPTY": []}}]})",
                                                     "/jobs");
    EXPECT_EQ(job.baseDirectory, "/jobs");
    // A key of the job's own is read; one for editors is left; any other is told.
    EXPECT_EQ(job.ignoredKeys, std::vector<std::string>{"strict"});
    ASSERT_EQ(job.steps.size(), 1u);
    EXPECT_EQ(job.steps[0].name, "T");  // the type id stands in for a missing name
    const auto& p = job.steps[0].properties;
    ASSERT_EQ(p.size(), 7u);
    const std::vector<int> scalarTypes = {mvbTypeString, mvbTypeInteger, mvbTypeReal,
                                          mvbTypeBoolean, mvbTypeNull};
    for (size_t i = 0; i < scalarTypes.size(); ++i) {
        EXPECT_FALSE(p[i].isTable) << p[i].name;
        EXPECT_EQ(p[i].value.getType(), scalarTypes[i]) << p[i].name;
    }
    EXPECT_EQ(p[1].value.asInt(nullptr), -42);
    EXPECT_EQ(p[2].value.asReal(nullptr), 1.5);
    ASSERT_TRUE(p[5].isTable);
    ASSERT_EQ(p[5].table.rows.size(), 2u);
    EXPECT_FALSE(p[5].table.rows[0].positional);
    EXPECT_EQ(p[5].table.rows[0].cells[1].first, "B");
    EXPECT_TRUE(p[5].table.rows[1].positional);
    EXPECT_EQ(p[5].table.rows[1].cells[1].second.getType(), mvbTypeBoolean);
    EXPECT_TRUE(p[6].isTable);
    EXPECT_TRUE(p[6].table.rows.empty());
}

struct BadJob {
    const char* name;
    std::string_view json;
    std::vector<const char*> fragments;  ///< each must appear in the message
};

void PrintTo(const BadJob& c, std::ostream* os) {
    *os << c.name;
}

class BadJobTextTest : public ::testing::TestWithParam<BadJob> {};

TEST_P(BadJobTextTest, IsRejectedWithAClearMessage) {
    const std::string message = jobErrorOf([] { parseJobText(std::string(GetParam().json), ""); });
    ASSERT_FALSE(message.empty()) << "accepted";
    for (const char* fragment : GetParam().fragments) {
        EXPECT_NE(message.find(fragment), std::string::npos) << message;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BadJobTextTest,
    ::testing::Values(
        BadJob{"NotJson", "{\"steps\": [\n  {\"type\": }]}", {"not valid JSON", "line 2, column"}},
        BadJob{"Empty", "", {"not valid JSON"}},
        // The JSON reader would stop at the NUL and run the job before it.
        BadJob{"NulAfterTheJob",
               std::string_view("{\"steps\": [{\"type\": \"T\"}]}\n\0{junk", 33),
               {"not valid JSON", "line 2, column 1", "NUL"}},
        BadJob{"NotAnObject", "[]", {"a job must be a JSON object"}},
        BadJob{"NoSteps", R"({"step": []})", {"missing \"steps\""}},
        BadJob{"StepsNotArray", R"({"steps": {}})", {"\"steps\" must be an array"}},
        BadJob{"NoStep", R"({"steps": []})", {"\"steps\" is empty"}},
        BadJob{"StepNotObject", R"({"steps": [1]})", {"step 1 must be an object"}},
        BadJob{"NoType", R"({"steps": [{"name": "a"}]})", {"step 1 (\"a\")", "\"type\""}},
        BadJob{"UnknownKey",
               R"({"steps": [{"type": "T", "propertes": {}}]})",
               {"unknown key \"propertes\"", "\"properties\""}},
        BadJob{"PropertiesNotObject",
               R"({"steps": [{"type": "T", "properties": []}]})",
               {"\"properties\" must be an object"}},
        BadJob{"ObjectValue",
               R"({"steps": [{"type": "T", "properties": {"X": {"a": 1}}}]})",
               {"property X", "a value must be"}},
        BadJob{"ScalarRow",
               R"({"steps": [{"type": "T", "properties": {"F": [1]}}]})",
               {"property F, row 1", "a table row must be an object"}},
        BadJob{"NestedCell",
               R"({"steps": [{"type": "T", "properties": {"F": [{"FIELDNAME": [1]}]}}]})",
               {"row 1, column FIELDNAME", "a cell must be"}},
        BadJob{"NestedPositionalCell",
               R"({"steps": [{"type": "T", "properties": {"F": [["A"], ["B", {}]]}}]})",
               {"row 2, cell 2", "a cell must be"}},
        BadJob{"DuplicateKey",
               R"({"steps": [{"type": "T", "properties": {"ROWS": 1, "LABEL": "", "ROWS": 2}}]})",
               {"step 1, properties: the key \"ROWS\" appears twice"}},
        BadJob{"HugeNumber",
               R"({"steps": [{"type": "T", "properties": {"N": 18446744073709551615}}]})",
               {"too large"}},
        BadJob{"RealBeyondDoubleInATableCell",
               "{\"steps\": [{\"type\": \"T\", \"properties\": {\"F\": [\n"
               "  {\"W\": -1e999}]}}]}",
               {"not valid JSON", "-1e999", "line 2", "too large"}},
        BadJob{"IntegerBeyondDoubleInAnUnusedKey",
               R"({"x": 1E+400, "steps": []})",
               {"not valid JSON", "too large"}},
        BadJob{"DuplicateKeyInARow",
               R"({"steps": [{"type": "T", "properties": {"F": [{"A": 1, "B": 2, "A": 3}]}}]})",
               {"step 1, property F, row 1: the key \"A\" appears twice"}},
        BadJob{"DuplicateKeyInASecondStep",
               R"({"steps": [{"type": "T"}, {"type": "U", "type": "V"}]})",
               {"step 2: the key \"type\" appears twice"}},
        BadJob{"DuplicateKeyAtTheTop",
               R"({"steps": [], "x": {"y": [1, {"z": 1, "z": 2}]}})",
               {"at /x/y/1: the key \"z\" appears twice"}},
        BadJob{"NulInAProperty",
               R"({"steps": [{"type": "T", "properties": {"FILENAME": "in.csv\u0000x"}}]})",
               {"step 1, property FILENAME: the text holds a NUL character"}},
        BadJob{"NulInAPositionalCell",
               R"({"steps": [{"type": "T", "properties": {"F": [["a", "b\u0000"]]}}]})",
               {"step 1, property F, row 1 (at /steps/0/properties/F/0/1)", "NUL"}},
        BadJob{"NestedTooDeep",
               "[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[",
               {"nested more than 64 deep"}},
        BadJob{
            "ALongNumberIsNotEchoedWhole",
            R"({"steps": [], "n": 1000000000000000000000000000000000000000000000000000000000000)"
            R"(000000000000000000000000000000000000000000000000000000000000000000000000000000000)"
            R"(000000000000000000000000000000000000000000000000000000000000000000000000000000000)"
            R"(000000000000000000000000000000000000000000000000000000000000000000000000000000000)"
            R"(0000000000000000000000000000000000000000000000000000000})",
            {"the number 1000000000000000000000000000000000000000… at"}}),
    [](const auto& info) { return std::string(info.param.name); });

/// Jobs that parse but do not fit the steps' declarations.
class JobSetupTest : public ::testing::TestWithParam<BadJob> {
  protected:
    void SetUp() override {
        options.extraSteps = testStepTypes(journal);
        options.pluginPath = HOST_TEST_FAKE_PLUGIN;
    }
    Journal journal;
    texthost::RunOptions options;
};

TEST_P(JobSetupTest, IsRejectedBeforeAnythingRunsAndEveryStepIsReleased) {
    const texthost::JobDefinition job = parseJobText(std::string(GetParam().json), "");
    const std::string message = jobErrorOf([&] { texthost::Pipeline pipeline(job, options); });
    ASSERT_FALSE(message.empty()) << "accepted";
    for (const char* fragment : GetParam().fragments) {
        EXPECT_NE(message.find(fragment), std::string::npos) << message;
    }
    EXPECT_TRUE(journal.with("src:prepare").empty());
    EXPECT_EQ(journal.with("src:release").size(), journal.with("src:initialize").size());

    const texthost::RunReport report = texthost::runJob(job, options);
    EXPECT_TRUE(report.badJob);
    EXPECT_EQ(report.errors(), std::vector<std::string>{message});
}

INSTANTIATE_TEST_SUITE_P(
    Cases, JobSetupTest,
    ::testing::Values(
        BadJob{"UnknownType",
               R"({"steps": [{"type": "TEST_SOURCE"}, {"type": "NOPE", "name": "n"}]})",
               {"Unknown step type NOPE for step \"n\"",
                "; valid types: TEST_SOURCE, TEST_PASS, PROFILER, FAKE_SOURCE"}},
        BadJob{"MistypedType",
               R"({"steps": [{"type": "TEST_SORCE", "name": "n"}]})",
               {"Unknown step type TEST_SORCE for step \"n\"; did you mean TEST_SOURCE? Valid "
                "types: TEST_SOURCE, TEST_PASS"}},
        BadJob{"UnknownProperty",
               R"({"steps": [{"type": "TEST_SOURCE", "name": "in", "properties": {"ROW": 1}}]})",
               {"Unknown property ROW for step \"in\" (TEST_SOURCE); did you mean ROWS? Valid "
                "properties: ROWS, FAIL_AT, LABEL, FIELDS, FAIL_START, WARNING, SILENT_FAIL_AT, "
                "RESHAPE_AT"}},
        BadJob{"FarFromEveryProperty",
               R"({"steps": [{"type": "TEST_SOURCE", "name": "in", "properties": {"COLOUR": 1}}]})",
               {"Unknown property COLOUR for step \"in\" (TEST_SOURCE); valid properties: ROWS"}},
        BadJob{"UnknownColumn",
               R"({"steps": [{"type": "TEST_SOURCE", "properties":
                   {"FIELDS": [{"FIELDNAME": "A"}, {"NAME": "B"}]}}]})",
               {"FIELDS", "row 2", "unknown column NAME; valid columns: FIELDNAME, WIDTH"}},
        BadJob{
            "MistypedColumn",
            R"({"steps": [{"type": "TEST_SOURCE", "properties":
                   {"FIELDS": [{"FIELDNAME": "A", "WITDH": 3}]}}]})",
            {"row 1: unknown column WITDH; did you mean WIDTH? Valid columns: FIELDNAME, WIDTH"}},
        BadJob{"TooManyCells",
               R"({"steps": [{"type": "TEST_SOURCE", "properties": {"FIELDS": [["A", 1, 2]]}}]})",
               {"row 1: 3 cells", "2 columns: FIELDNAME, WIDTH"}},
        BadJob{"TableGivenAsValue",
               R"({"steps": [{"type": "TEST_SOURCE", "properties": {"FIELDS": "A"}}]})",
               {"FIELDS", "is a table: give an array of rows"}},
        BadJob{"ValueGivenAsTable",
               R"({"steps": [{"type": "TEST_SOURCE", "properties": {"ROWS": [[1]]}}]})",
               {"ROWS", "takes a single value, not an array"}},
        BadJob{"FirstStepNotSource",
               R"({"steps": [{"type": "TEST_PASS", "name": "p"}]})",
               {"Step \"p\"", "The first step must be a source"}},
        BadJob{"SecondSource",
               R"({"steps": [{"type": "TEST_SOURCE"}, {"type": "TEST_SOURCE", "name": "again"}]})",
               {"\"again\"", "only the first step of a job can be a source"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(JobFileTest, FileGivesItsFolderAsBaseAndNamesItselfInErrors) {
    const std::filesystem::path folder = std::filesystem::temp_directory_path() / "texthost-job";
    std::filesystem::create_directories(folder);
    const std::filesystem::path good = folder / "good.json";
    const std::filesystem::path bad = folder / "bad.json";
    std::ofstream(good) << R"({"steps": [{"type": "T"}]})";
    std::ofstream(bad) << R"({"steps": 1})";

    EXPECT_EQ(texthost::parseJobFile(good.string()).baseDirectory, folder.string());
    const std::string badMessage = jobErrorOf([&] { texthost::parseJobFile(bad.string()); });
    EXPECT_EQ(badMessage, bad.string() + ": \"steps\" must be an array of steps");
    const std::string missing = (folder / "missing.json").string();
    EXPECT_EQ(jobErrorOf([&] {
                  texthost::parseJobFile(missing);
              }).rfind(missing + ": no such job file; check", 0),
              0u);
    std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace hosttest
