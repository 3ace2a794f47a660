#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "support/test_step.h"
#include "texthost/pipeline.h"
#include "texthost/run.h"

namespace hosttest {
namespace {

using texthost::JobDefinition;
using texthost::Pipeline;
using texthost::RunMessage;
using texthost::RunReport;

class PipelineTest : public ::testing::Test {
  protected:
    void SetUp() override {
        texthost::clearStopRequest();
        options.extraSteps = testStepTypes(journal);
        // Nothing here needs the plug-in; a path that does not exist proves it.
        options.pluginPath = "/nonexistent/libtext.so";
    }
    void TearDown() override { texthost::clearStopRequest(); }

    static JobDefinition job(const std::string& json) { return texthost::parseJobText(json, ""); }
    static TestStep* testStep(const Pipeline& pipeline, int index) {
        return dynamic_cast<TestStep*>(pipeline.step(index));
    }

    Journal journal;
    texthost::RunOptions options;
};

TEST_F(PipelineTest, DrivesEveryStepThroughItsLifeCycleInChainOrder) {
    const RunReport report = texthost::runJob(job(R"({"steps": [
        {"type": "TEST_SOURCE", "name": "src", "properties": {"ROWS": 2}},
        {"type": "TEST_PASS", "name": "first"},
        {"type": "TEST_PASS", "name": "second"}]})"),
                                              options);
    EXPECT_TRUE(report.ok);
    EXPECT_FALSE(report.stopped);
    EXPECT_EQ(report.rows, 2u);
    const std::vector<std::string> expected = {"src:initialize",
                                               "pass1:initialize",
                                               "pass2:initialize",
                                               "src:prepare 2 no-input",
                                               "pass1:prepare 2 input",
                                               "pass2:prepare 2 input",
                                               "src:start mode=1",
                                               "pass1:start mode=1",
                                               "pass2:start mode=1",
                                               "src:end",
                                               "pass1:end",
                                               "pass2:end",
                                               "src:finish",
                                               "pass1:finish",
                                               "pass2:finish",
                                               "src:release",
                                               "pass1:release",
                                               "pass2:release"};
    EXPECT_EQ(journal.events, expected);
    // Summary pieces of one entry arrive as one message, under the step's name; a comma
    // parts pieces that bring no blank or punctuation to the seam.
    ASSERT_EQ(report.messages.size(), 3u);
    EXPECT_EQ(report.messages[0].step, "src");
    EXPECT_EQ(report.messages[0].text, "src handled 2 rows done; ok");
    EXPECT_EQ(report.messages[2].step, "second");
    EXPECT_EQ(report.messages[2].text, "pass2 handled 2 rows done; ok");
}

TEST_F(PipelineTest, ReadsPropertiesByIndexWithDefaultsAndKeepsWrongKinds) {
    Pipeline pipeline(job(R"({"steps": [{"type": "TEST_SOURCE", "properties": {
        "ROWS": "many", "LABEL": "x", "WARNING": null,
        "FIELDS": [{"FIELDNAME": "A", "WIDTH": 4}, ["B"], {"WIDTH": 7}]}}]})"),
                      options);
    PropertyValues* values = testStep(pipeline, 0)->host()->getPropertyValues();
    EXPECT_EQ(values->getValue(kRows, true).getType(), mvbTypeString);
    EXPECT_EQ(values->getValue(kRows, true).asString().view(), "many");
    EXPECT_EQ(values->getValue(kFailAt, true).getType(), mvbTypeInteger);  // default
    EXPECT_EQ(values->getValue(kFailAt, true).asInt(nullptr), 0);
    EXPECT_EQ(values->getValue(kLabel, true).asString().view(), "x");
    EXPECT_TRUE(values->getValue(kWarning, true).isNull());     // null, no default
    EXPECT_TRUE(values->getValue(kSilentFail, true).isNull());  // no value, no default
    EXPECT_TRUE(values->getValue(kFields, true).isNull());      // a table has no scalar value
    EXPECT_TRUE(values->getValue(99, true).isNull());

    PropertyTable* fields = values->getTable(kFields);
    ASSERT_EQ(fields->getRowCount(), 3);
    EXPECT_EQ(fields->getCell(0, 0, true).asString().view(), "A");
    EXPECT_EQ(fields->getCell(1, 0, true).asInt(nullptr), 4);
    EXPECT_EQ(fields->getCell(0, 1, true).asString().view(), "B");
    EXPECT_TRUE(fields->getCell(1, 1, true).isNull());
    EXPECT_TRUE(fields->getCell(0, 2, true).isNull());
    EXPECT_EQ(fields->getCell(1, 2, true).asInt(nullptr), 7);
    EXPECT_TRUE(fields->getCell(2, 0, true).isNull());
    EXPECT_TRUE(fields->getCell(0, 3, true).isNull());
    EXPECT_EQ(values->getTable(kRows)->getRowCount(), 0);

    // The step itself reports the value of the wrong kind.
    EXPECT_FALSE(pipeline.prepareAndStart());
    ASSERT_FALSE(pipeline.messages().empty());
    EXPECT_EQ(pipeline.messages().back().text, "ROWS is not a number");
    EXPECT_EQ(pipeline.messages().back().step, "TEST_SOURCE");
}

TEST_F(PipelineTest, PassesRowsThroughAndEndsOnce) {
    Pipeline pipeline(job(R"({"steps": [
        {"type": "TEST_SOURCE", "properties": {"ROWS": 3, "FIELDS": [["A", 5], ["B", 6]]}},
        {"type": "TEST_PASS"}]})"),
                      options);
    ASSERT_TRUE(pipeline.prepareAndStart());
    const StepOutputItems* out = pipeline.outputItems(1);
    ASSERT_NE(out, nullptr);
    ASSERT_EQ(out->count, 2);
    EXPECT_EQ(out->items[1].name.view(), "B");
    EXPECT_EQ(out->items[1].length, 6);
    for (int row = 1; row <= 3; ++row) {
        ASSERT_EQ(pipeline.pull(), 0);
        EXPECT_EQ(out->items[0].value.asInt(nullptr), row);
        EXPECT_EQ(out->items[1].value.asInt(nullptr), 2 * row);
    }
    EXPECT_EQ(pipeline.pull(), 1);
    EXPECT_EQ(pipeline.pull(), 1);
    EXPECT_EQ(pipeline.rowsPulled(), 3u);
    EXPECT_EQ(journal.with("src:end").size(), 1u);
    EXPECT_EQ(journal.with("pass1:end").size(), 1u);
}

TEST_F(PipelineTest, LastStepLeftUnreadHandsOnItsInputRowInPlace) {
    for (const int threads : {1, 2}) {
        options.threads = threads;
        Pipeline pipeline(job(R"({"steps": [
            {"type": "TEST_SOURCE", "properties": {"ROWS": 3, "FIELDS": [["A", 5], ["B", 6]]}},
            {"type": "TEST_PASS"}]})"),
                          options);
        pipeline.leaveLastOutputUnread();
        ASSERT_TRUE(pipeline.prepareAndStart());
        StepHost* source = testStep(pipeline, 0)->host();
        StepHost* last = testStep(pipeline, 1)->host();
        EXPECT_EQ(source->getOutputRow(), pipeline.outputItems(0)) << threads;
        ASSERT_EQ(last->getOutputRow(), last->getInputItems(0, true)) << threads;
        bool stopped = false;
        EXPECT_EQ(pipeline.run(stopped), 1) << threads;
        EXPECT_EQ(pipeline.rowsPulled(), 3u) << threads;
        EXPECT_EQ(last->getInputItems(0, true)->items[1].value.asInt(nullptr), 6) << threads;
    }
}

TEST_F(PipelineTest, DestinationSeesUpstreamTypeExpectedRowsAndRunMode) {
    options.runMode = 0;
    Pipeline pipeline(job(R"({"steps": [{"type": "TEST_SOURCE", "properties": {"ROWS": 250}},
                                         {"type": "TEST_PASS"}]})"),
                      options);
    ASSERT_TRUE(pipeline.prepareAndStart());
    StepHost* dest = testStep(pipeline, 1)->host();
    StepNode* upstream = dest->getFlow()->getInputNode(0, 0, 0);
    ASSERT_NE(upstream, nullptr);
    EXPECT_EQ(upstream->getTypeId().view(), "TEST_SOURCE");
    uint64_t expected = 0;
    EXPECT_TRUE(upstream->getExpectedRows(&expected));
    EXPECT_EQ(expected, 250u);
    EXPECT_EQ(dest->getRunMode(), 0);
    StepHost* source = testStep(pipeline, 0)->host();
    EXPECT_EQ(source->getFlow()->getInputNode(0, 0, 0), nullptr);
    EXPECT_EQ(source->getInputItems(0, true), nullptr);
    EXPECT_EQ(journal.with("pass1:start").at(0), "pass1:start mode=0");
}

struct FailureCase {
    const char* name;
    const char* steps;      ///< the "steps" array of the job
    const char* errorStep;  ///< step named by the first error
    const char* errorText;  ///< part of the first error
    uint64_t rows;
    std::vector<std::string> finished;  ///< steps whose finish ran
};

void PrintTo(const FailureCase& c, std::ostream* os) {
    *os << c.name;
}

class PipelineFailureTest : public PipelineTest,
                            public ::testing::WithParamInterface<FailureCase> {};

TEST_P(PipelineFailureTest, StopsTheRunFinishesStartedStepsAndReleasesAll) {
    const FailureCase& c = GetParam();
    const RunReport report =
        texthost::runJob(job(std::string(R"({"steps": )") + c.steps + "}"), options);
    EXPECT_FALSE(report.ok);
    EXPECT_FALSE(report.badJob);
    EXPECT_EQ(report.rows, c.rows);
    ASSERT_FALSE(report.errors().empty());
    const RunMessage& first =
        *std::find_if(report.messages.begin(), report.messages.end(),
                      [](const RunMessage& m) { return m.kind == RunMessage::Kind::Error; });
    EXPECT_EQ(first.step, c.errorStep);
    EXPECT_NE(first.text.find(c.errorText), std::string::npos) << first.text;
    std::vector<std::string> finished;
    for (const std::string& e : journal.events) {
        if (e.ends_with(":finish")) finished.push_back(e.substr(0, e.find(':')));
    }
    EXPECT_EQ(finished, c.finished);
    EXPECT_EQ(journal.with("src:release").size(), 1u);
    EXPECT_EQ(journal.with("pass1:release").size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Failures, PipelineFailureTest,
    ::testing::Values(
        FailureCase{"SourceRow",
                    R"([{"type": "TEST_SOURCE", "name": "in", "properties": {"FAIL_AT": 2}},
                        {"type": "TEST_PASS", "name": "out"}])",
                    "in",
                    "src failed at row 2",
                    1,
                    {"src", "pass1"}},
        FailureCase{"DestinationRow",
                    R"([{"type": "TEST_SOURCE", "name": "in"},
                        {"type": "TEST_PASS", "name": "out", "properties": {"FAIL_AT": 3}}])",
                    "out",
                    "pass1 failed at row 3",
                    2,
                    {"src", "pass1"}},
        FailureCase{"DestinationStart",
                    R"([{"type": "TEST_SOURCE", "name": "in"},
                        {"type": "TEST_PASS", "name": "out", "properties": {"FAIL_START": true}}])",
                    "out",
                    "start failed as asked",
                    0,
                    {"src"}},
        FailureCase{"UnreportedFailure",
                    R"([{"type": "TEST_SOURCE", "name": "in", "properties": {"SILENT_FAIL_AT": 1}},
                        {"type": "TEST_PASS", "name": "out"}])",
                    "in",
                    "failed without a message (processRow answered 2)",
                    0,
                    {"src", "pass1"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(PipelineTest, StepsStopOnceAStopIsRequested) {
    Pipeline pipeline(job(R"({"steps": [{"type": "TEST_SOURCE", "properties": {"ROWS": 10}},
                                         {"type": "TEST_PASS"}]})"),
                      options);
    ASSERT_TRUE(pipeline.prepareAndStart());
    ASSERT_EQ(pipeline.pull(), 0);
    EXPECT_TRUE(testStep(pipeline, 1)->host()->shouldContinue());
    texthost::requestStop();
    // Only the first step is told to stop; the row it stopped at goes on to the others, which
    // then end with their input.
    EXPECT_FALSE(testStep(pipeline, 0)->host()->shouldContinue());
    EXPECT_TRUE(testStep(pipeline, 1)->host()->shouldContinue());
    EXPECT_EQ(pipeline.pull(), 0);
    EXPECT_EQ(pipeline.messages().back().text, "stopped at row 2");
    EXPECT_EQ(pipeline.pull(), 2);
    EXPECT_EQ(pipeline.rowsPulled(), 2u);
    EXPECT_EQ(pipeline.rowsRead(), 2u);
    EXPECT_EQ(journal.with("pass1:input failed 2").size(), 1u);
}

// Once their input has ended, the later steps go on or stop as the first of them to ask was
// told, so that a stop that comes between two of them finds every file in place or none.
TEST_F(PipelineTest, StepsWhoseInputEndedAllDoAsTheFirstToAskWasTold) {
    for (const bool stopFirst : {false, true}) {
        SCOPED_TRACE(stopFirst ? "stop before the first asks" : "stop after the first asks");
        texthost::clearStopRequest();
        Pipeline pipeline(job(R"({"steps": [{"type": "TEST_SOURCE", "properties": {"ROWS": 1}},
                                             {"type": "TEST_PASS"}, {"type": "TEST_PASS"}]})"),
                          options);
        ASSERT_TRUE(pipeline.prepareAndStart());
        ASSERT_EQ(pipeline.pull(), 0);
        ASSERT_EQ(pipeline.pull(), 1);
        if (stopFirst) texthost::requestStop();
        EXPECT_EQ(testStep(pipeline, 1)->host()->shouldContinue(), !stopFirst);
        if (stopFirst) texthost::clearStopRequest();
        if (!stopFirst) texthost::requestStop();
        EXPECT_EQ(testStep(pipeline, 2)->host()->shouldContinue(), !stopFirst);
    }
}

TEST_F(PipelineTest, RunReportsAStoppedRunAndStillFinishesTheSteps) {
    texthost::requestStop();
    const RunReport report = texthost::runJob(
        job(R"({"steps": [{"type": "TEST_SOURCE"}, {"type": "TEST_PASS"}]})"), options);
    EXPECT_FALSE(report.ok);
    EXPECT_TRUE(report.stopped);
    // The source stops at its first row, which the next step still gets.
    EXPECT_EQ(report.rows, 1u);
    EXPECT_EQ(journal.with("src:finish").size(), 1u);
    EXPECT_EQ(journal.with("pass1:finish").size(), 1u);
    EXPECT_NE(report.errors().back().find("stopped after 1 rows were read"), std::string::npos);
}

TEST_F(PipelineTest, ProgressSeesRowsAndTotalsAndAStopMidwayCountsTheRowsRead) {
    // The one-thread driver looks at the clock once per 1024 rows handed on by the steps
    // together; with no interval every look reports.
    options.threads = 1;
    options.progressIntervalMs = 0;
    std::vector<std::vector<texthost::StepStatus>> seen;
    options.onProgress = [&seen](const std::vector<texthost::StepStatus>& status) {
        seen.push_back(status);
        texthost::requestStop();
    };
    std::vector<RunMessage> live;
    options.onMessage = [&live](const RunMessage& m) { live.push_back(m); };
    const RunReport report = texthost::runJob(job(R"({"steps": [
        {"type": "TEST_SOURCE", "name": "src", "properties": {"ROWS": 5000}},
        {"type": "TEST_PASS", "name": "out"}]})"),
                                              options);
    ASSERT_EQ(seen.size(), 1u);
    ASSERT_EQ(seen[0].size(), 2u);
    EXPECT_EQ(seen[0][0].step, "src");
    EXPECT_TRUE(seen[0][0].totalKnown);
    EXPECT_EQ(seen[0][0].total, 5000u);
    // The 1024th row handed on (source and destination together) is the destination's 512th,
    // after the source's 512th; the source stops at its next row, which the destination still
    // gets, so both end at row 513.
    EXPECT_EQ(seen[0][0].rows, 512u);
    EXPECT_EQ(seen[0][1].rows, 512u);
    EXPECT_TRUE(report.stopped);
    EXPECT_EQ(report.rowsRead, 513u);
    EXPECT_EQ(report.rows, 513u);
    const std::string stop = report.errors().back();
    EXPECT_NE(stop.find("stopped after 513 rows were read"), std::string::npos) << stop;
    // Errors reach the listener as they happen, in the report's order.
    std::vector<std::string> liveTexts;
    for (const RunMessage& m : live)
        liveTexts.push_back(m.text);
    EXPECT_EQ(liveTexts, report.errors());
}

TEST_F(PipelineTest, WarningsKeepTheirOrderAndStep) {
    const RunReport report = texthost::runJob(
        job(R"({"steps": [{"type": "TEST_SOURCE", "name": "in", "properties": {"ROWS": 0}},
                          {"type": "TEST_PASS", "name": "out", "properties": {"WARNING": "careful"}}]})"),
        options);
    ASSERT_TRUE(report.ok);
    ASSERT_EQ(report.messages.size(), 3u);
    EXPECT_EQ(report.messages[0].kind, RunMessage::Kind::Warning);
    EXPECT_EQ(report.messages[0].step, "out");
    EXPECT_EQ(report.messages[0].text, "careful");
    EXPECT_EQ(report.infos(), (std::vector<std::string>{"src handled 0 rows done; ok",
                                                        "pass1 handled 0 rows done; ok"}));
}

TEST_F(PipelineTest, ReportsProgressWhileRowsFlow) {
    for (const int threads : {1, 2}) {
        SCOPED_TRACE(threads);
        options.threads = threads;
        options.progressIntervalMs = 0;
        std::vector<std::vector<texthost::StepStatus>> calls;
        options.onProgress = [&calls](const std::vector<texthost::StepStatus>& s) {
            calls.push_back(s);
        };
        const RunReport report = texthost::runJob(
            job(R"({"steps": [{"type": "TEST_SOURCE", "name": "in", "properties": {"ROWS": 300000}},
                              {"type": "TEST_PASS", "name": "out"}]})"),
            options);
        ASSERT_TRUE(report.ok);
        ASSERT_FALSE(calls.empty());
        ASSERT_EQ(calls.back().size(), 2u);
        EXPECT_EQ(calls.back()[0].step, "in");
        EXPECT_EQ(calls.back()[1].step, "out");
        EXPECT_TRUE(calls.back()[1].text.starts_with("Handled ")) << calls.back()[1].text;
    }
}

TEST_F(PipelineTest, WorksFromTheJobFolderAndRestoresTheWorkingDirectory) {
    const std::filesystem::path before = std::filesystem::current_path();
    const std::filesystem::path folder = std::filesystem::temp_directory_path() / "texthost-cwd";
    std::filesystem::create_directories(folder);
    JobDefinition definition = job(R"({"steps": [{"type": "TEST_SOURCE"}]})");
    definition.baseDirectory = folder.string();
    {
        Pipeline pipeline(definition, options);
        ASSERT_TRUE(pipeline.prepareAndStart());
        EXPECT_EQ(std::filesystem::path(testStep(pipeline, 0)->startDirectory()),
                  std::filesystem::canonical(folder));
    }
    EXPECT_EQ(std::filesystem::current_path(), before);
    std::filesystem::remove(folder);
}

}  // namespace
}  // namespace hosttest
