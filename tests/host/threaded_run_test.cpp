// The chain driven with a thread per step must end every run as the one-thread driver does:
// same rows, same messages, same summaries, every step finished once, and no run left hanging.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "../../host/thread_shares.h"
#include "support/test_step.h"
#include "support/textjob_process.h"
#include "texthost/run.h"

namespace hosttest {
namespace {

using texthost::RunMessage;
using texthost::RunReport;

struct ChainCase {
    const char* name;
    const char* steps;
    bool ok;
    uint64_t rows;  ///< rows the last step handled
    /// Steps before a failing one, which may have handled rows ahead of the failure: their
    /// summaries may count more rows than in one thread.
    size_t mayReadAhead = 0;
};

void PrintTo(const ChainCase& c, std::ostream* os) {
    *os << c.name;
}

class ThreadedChainTest : public ::testing::TestWithParam<ChainCase> {
  protected:
    void SetUp() override { texthost::clearStopRequest(); }
    void TearDown() override { texthost::clearStopRequest(); }

    RunReport run(int threads, Journal& journal) {
        texthost::RunOptions options;
        options.extraSteps = testStepTypes(journal);
        options.pluginPath = "/nonexistent/libtext.so";
        options.threads = threads;
        return texthost::runJob(
            texthost::parseJobText(std::string(R"({"steps": )") + GetParam().steps + "}", ""),
            options);
    }
    void expectSameEndAsOneThread(int threads);
};

TEST_P(ThreadedChainTest, EndsTheRunAsTheOneThreadDriverDoes) {
    // Two threads: a chain of three steps runs its two passes in one of them.
    for (const int threads : {2, 3}) {
        SCOPED_TRACE(threads);
        expectSameEndAsOneThread(threads);
    }
}

void ThreadedChainTest::expectSameEndAsOneThread(int threads) {
    const ChainCase& c = GetParam();
    Journal single;
    Journal threaded;
    const RunReport one = run(1, single);
    const RunReport many = run(threads, threaded);
    for (const RunReport* report : {&one, &many}) {
        EXPECT_EQ(report->ok, c.ok);
        EXPECT_FALSE(report->stopped);
        EXPECT_EQ(report->rows, c.rows);
    }
    EXPECT_EQ(many.errors(), one.errors());
    EXPECT_EQ(many.warnings(), one.warnings());
    const std::vector<std::string> oneInfos = one.infos();
    const std::vector<std::string> manyInfos = many.infos();
    ASSERT_EQ(manyInfos.size(), oneInfos.size());
    ASSERT_GE(oneInfos.size(), c.mayReadAhead);
    const auto from = static_cast<std::ptrdiff_t>(c.mayReadAhead);
    EXPECT_EQ(std::vector<std::string>(manyInfos.begin() + from, manyInfos.end()),
              std::vector<std::string>(oneInfos.begin() + from, oneInfos.end()));
    for (const Journal* journal : {&single, &threaded}) {
        EXPECT_TRUE(journal->with("pass1:out of order").empty()) << journal->with("pass1:out")[0];
        EXPECT_TRUE(journal->with("pass2:out of order").empty()) << journal->with("pass2:out")[0];
        for (const char* step : {"src", "pass1", "pass2"}) {
            const size_t created = journal->with(std::string(step) + ":initialize").size();
            EXPECT_EQ(journal->with(std::string(step) + ":finish").size(), created) << step;
            EXPECT_EQ(journal->with(std::string(step) + ":release").size(), created) << step;
        }
    }
}

// Rows of more fields than a batch holds values: each batch holds one row.
const std::string kWideChain = [] {
    std::string fields;
    for (int i = 0; i < 5000; ++i)
        fields += (i == 0 ? "[\"F" : ", [\"F") + std::to_string(i) + "\", 4]";
    return R"([{"type": "TEST_SOURCE", "properties": {"ROWS": 40, "FIELDS": [)" + fields +
           R"(]}}, {"type": "TEST_PASS"}, {"type": "TEST_PASS"}])";
}();

// Several batches of rows, with the end falling inside a batch, on a batch's edge, and a
// failure reported (or not) in each place of the chain; and rows wider than a batch.
INSTANTIATE_TEST_SUITE_P(
    Chains, ThreadedChainTest,
    ::testing::Values(
        ChainCase{"ThreeStepsManyBatches",
                  R"([{"type": "TEST_SOURCE", "properties": {"ROWS": 5000,
                         "FIELDS": [["A", 5], ["B", 6], ["C", 7]]}},
                      {"type": "TEST_PASS"}, {"type": "TEST_PASS"}])",
                  true, 5000},
        ChainCase{
            "EndOnABatchEdge",
            R"([{"type": "TEST_SOURCE", "properties": {"ROWS": 1024}}, {"type": "TEST_PASS"}])",
            true, 1024},
        ChainCase{"NoRows",
                  R"([{"type": "TEST_SOURCE", "properties": {"ROWS": 0}}, {"type": "TEST_PASS"}])",
                  true, 0},
        ChainCase{
            "SourceFailsAtRow",
            R"([{"type": "TEST_SOURCE", "name": "in", "properties": {"ROWS": 5000, "FAIL_AT": 3001}},
                      {"type": "TEST_PASS"}, {"type": "TEST_PASS"}])",
            false, 3000},
        ChainCase{"MiddleFailsAtRow",
                  R"([{"type": "TEST_SOURCE", "properties": {"ROWS": 5000}},
                      {"type": "TEST_PASS", "properties": {"FAIL_AT": 777}}, {"type": "TEST_PASS"}])",
                  false, 776, 1},
        ChainCase{"LastFailsAtRow",
                  R"([{"type": "TEST_SOURCE", "properties": {"ROWS": 5000}},
                      {"type": "TEST_PASS"}, {"type": "TEST_PASS", "properties": {"FAIL_AT": 2049}}])",
                  false, 2048, 2},
        ChainCase{"LastFailsAtTheFirstRow",
                  R"([{"type": "TEST_SOURCE", "properties": {"ROWS": 100000}},
                      {"type": "TEST_PASS", "properties": {"FAIL_AT": 1}}])",
                  false, 0, 1},
        ChainCase{
            "LastAfterAPassFailsAtTheFirstRow",
            R"([{"type": "TEST_SOURCE", "properties": {"ROWS": 100000}}, {"type": "TEST_PASS"},
                      {"type": "TEST_PASS", "properties": {"FAIL_AT": 1}}])",
            false, 0, 2},
        ChainCase{"SourceFailsUnreported",
                  R"([{"type": "TEST_SOURCE", "properties": {"ROWS": 5000, "SILENT_FAIL_AT": 300}},
                      {"type": "TEST_PASS"}])",
                  false, 299},
        ChainCase{"RowsWiderThanABatch", kWideChain.c_str(), true, 40}),
    [](const auto& info) { return std::string(info.param.name); });

/// Runs the chain `steps` (a JSON array) of test steps with `threads` threads; `adjust` sets
/// further options.
RunReport runTestChain(const char* steps, int threads,
                       const std::function<void(texthost::RunOptions&)>& adjust = {}) {
    Journal journal;
    texthost::RunOptions options;
    options.extraSteps = testStepTypes(journal);
    options.pluginPath = "/nonexistent/libtext.so";
    options.threads = threads;
    if (adjust) adjust(options);
    return texthost::runJob(texthost::parseJobText(std::string(R"({"steps": )") + steps + "}", ""),
                            options);
}

// The next step's input list was made for the fields declared before rows began to flow: a
// source that declares others midway ends the run with an error, never a row read past its end
// (nor, in one thread, rows of values lost).
TEST(ThreadedChainShapeTest, OutputFieldsChangedMidwayEndTheRun) {
    for (const int threads : {1, 2}) {
        SCOPED_TRACE(threads);
        const RunReport report = runTestChain(R"([
            {"type": "TEST_SOURCE", "properties": {"ROWS": 5000, "RESHAPE_AT": 700,
                                                   "FIELDS": [["A", 5], ["B", 6], ["C", 7]]}},
            {"type": "TEST_PASS"}])",
                                              threads);
        EXPECT_FALSE(report.ok);
        EXPECT_EQ(report.rows, 699u);
        ASSERT_FALSE(report.errors().empty());
        EXPECT_NE(report.errors().front().find("changed its output fields"), std::string::npos)
            << report.errors().front();
    }
}

// Only the fields a step names as used cross to its thread, unless it names one its input
// lacks: a misspelt name leaves nothing out.
TEST(ThreadedChainShapeTest, AStepNamingAFieldItsInputLacksGetsEveryField) {
    Journal journal;
    texthost::RunOptions options;
    options.extraSteps = testStepTypes(journal);
    options.pluginPath = "/nonexistent/libtext.so";
    options.threads = 2;
    const RunReport report = texthost::runJob(texthost::parseJobText(R"({"steps": [
        {"type": "TEST_SOURCE"}, {"type": "TEST_PASS", "properties": {"USED": "nope"}}]})",
                                                                     ""),
                                              options);
    EXPECT_TRUE(report.ok);
    EXPECT_TRUE(journal.with("pass1:out of order").empty());
}

TEST(ThreadedStopTest, AStopRequestMidwayEndsEveryStepAndIsReported) {
    texthost::clearStopRequest();
    Journal journal;
    texthost::RunOptions options;
    options.extraSteps = testStepTypes(journal);
    options.pluginPath = "/nonexistent/libtext.so";
    options.threads = 2;
    options.progressIntervalMs = 1;
    // The driver's thread asks for the stop while the steps' threads run.
    options.onProgress = [](const std::vector<texthost::StepStatus>&) { texthost::requestStop(); };
    const RunReport report = texthost::runJob(texthost::parseJobText(R"({"steps": [
        {"type": "TEST_SOURCE", "properties": {"ROWS": 100000000}},
        {"type": "TEST_PASS"}, {"type": "TEST_PASS"}]})",
                                                                     ""),
                                              options);
    texthost::clearStopRequest();
    EXPECT_TRUE(report.stopped);
    EXPECT_FALSE(report.ok);
    EXPECT_LT(report.rows, 100000000u);
    ASSERT_FALSE(report.errors().empty());
    EXPECT_NE(report.errors().front().find("stopped at row"), std::string::npos)
        << report.errors().front();
    EXPECT_NE(report.errors().back().find("The run was stopped after"), std::string::npos);
    EXPECT_TRUE(journal.with("pass1:out of order").empty());
    EXPECT_TRUE(journal.with("pass2:out of order").empty());
    for (const char* step : {"src", "pass1", "pass2"})
        EXPECT_EQ(journal.with(std::string(step) + ":finish").size(), 1u) << step;
}

// A step that reports an error fails the run whatever it answered, from finish() too.
TEST(ThreadedChainErrors, AnErrorReportedInFinishFailsTheRun) {
    for (const int threads : {1, 2}) {
        const RunReport report = runTestChain(R"([{"type": "TEST_SOURCE"},
            {"type": "TEST_PASS", "properties": {"FINISH_ERROR": true}}])",
                                              threads);
        EXPECT_FALSE(report.ok) << threads;
        EXPECT_EQ(report.errors().size(), 1u) << threads;
    }
}

// A step at fault fails the run with one error that names it, in one thread or many: one whose
// progress throws (told once, not at every progress point), a source that never asks which part
// it reads (every part would hold all of its rows), two fields of one name (with no advice on
// settings the step lacks), a row asked for in prepare (not blamed on the step before).
TEST(ThreadedChainErrors, AStepAtFaultIsNamedOnce) {
    const struct {
        const char* steps;
        int parts;
        const char* step;
        const char* says;
    } cases[] = {
        {R"([{"type": "TEST_SOURCE", "name": "src", "properties": {"ROWS": 200000,
             "PROGRESS_THROWS": true}}, {"type": "TEST_PASS"}])",
         0, "src", "unexpected failure: no "},
        {R"([{"type": "TEST_SOURCE", "name": "src"}, {"type": "TEST_PASS"}])", 2, "src",
         "never asked which part"},
        {R"([{"type": "TEST_SOURCE", "name": "src", "properties": {"FIELDS": [["A", 5],
             ["A", 6]]}}, {"type": "TEST_PASS"}])",
         0, "", "names two of its fields A (fields 1 and 2)"},
        {R"([{"type": "TEST_SOURCE", "properties": {"FIELDS": [["STATISTIC", 5]]}},
             {"type": "PROFILER"}, {"type": "TEST_PASS"}])",
         0, "", "rename that field in the step before it"},
        {R"([{"type": "TEST_SOURCE"}, {"type": "TEST_PASS", "name": "mid",
             "properties": {"READ_IN_PREPARE": true}}])",
         0, "mid", "before the steps before it started"},
    };
    for (const auto& c : cases) {
        for (const int threads : {1, 2}) {
            SCOPED_TRACE(std::string(c.says) + ", threads " + std::to_string(threads));
            const RunReport report = runTestChain(c.steps, threads, [&](auto& options) {
                options.onProgress = [](const auto&) {};
                options.progressIntervalMs = 0;
                options.part = c.parts > 0 ? 1 : 0;
                options.partCount = c.parts;
            });
            EXPECT_FALSE(report.ok);
            ASSERT_EQ(report.errors().size(), 1u);
            const auto error =
                std::find_if(report.messages.begin(), report.messages.end(),
                             [](const auto& m) { return m.kind == RunMessage::Kind::Error; });
            EXPECT_EQ(error->step, c.step);
            EXPECT_NE(error->text.find(c.says), std::string::npos) << error->text;
            EXPECT_EQ(error->text.find("FIELDS"), std::string::npos) << error->text;
        }
    }
}

// A step that declares no output fields is named as the fault, not the step after it.
TEST(ThreadedChainErrors, AStepThatDeclaresNoFieldsIsNamed) {
    const RunReport report = runTestChain(R"([{"type": "TEST_SOURCE"},
        {"type": "TEST_PASS", "properties": {"NO_OUTPUT": true}}, {"type": "TEST_PASS"}])",
                                          0);
    EXPECT_FALSE(report.ok);
    ASSERT_EQ(report.errors().size(), 1u);
    EXPECT_EQ(report.errors().front(),
              "the step declared no output fields, so the step after it has no input to read");
}

// A step inside a long call (a source waiting for data) cannot be asked for its status: the
// progress reports count its rows as they stand, not as they stood at its last answer.
TEST(ThreadedProgressTest, ASourceThatWaitsIsShownWithTheRowsItGaveSoFar) {
    uint64_t mostWhileWaiting = 0;
    const RunReport report = runTestChain(
        R"([{"type": "TEST_SOURCE", "properties": {"ROWS": 5001, "PAUSE_AT": 5001}},
            {"type": "TEST_PASS"}])",
        2, [&](texthost::RunOptions& options) {
            options.progressIntervalMs = 20;
            options.onProgress = [&](const std::vector<texthost::StepStatus>& status) {
                if (!status.empty() && !status.front().current)
                    mostWhileWaiting = std::max(mostWhileWaiting, status.front().rows);
            };
        });
    EXPECT_TRUE(report.ok);
    EXPECT_EQ(mostWhileWaiting, 5000u);
}

// Steps that share a thread are each in the progress reports, in chain order, once their
// thread has been asked (the rows before the source's pause wake it).
TEST(ThreadedProgressTest, StepsSharingAThreadAreEachReported) {
    std::vector<std::string> seen;
    const RunReport report = runTestChain(
        R"([{"type": "TEST_SOURCE", "name": "in", "properties": {"ROWS": 40001, "PAUSE_AT": 40001}},
            {"type": "TEST_PASS", "name": "a"}, {"type": "TEST_PASS", "name": "b"}])",
        2, [&](texthost::RunOptions& options) {
            options.progressIntervalMs = 20;
            options.onProgress = [&](const std::vector<texthost::StepStatus>& status) {
                std::string names;
                for (const texthost::StepStatus& step : status)
                    names += step.step + " ";
                seen.push_back(names);
            };
        });
    EXPECT_TRUE(report.ok);
    EXPECT_NE(std::ranges::find(seen, "in a b "), seen.end());
    for (const std::string& names : seen)
        EXPECT_TRUE(names == "in " || names == "in a b ") << names;
}

TEST(ThreadSharesTest, NeighbouringStepsShareWhenThreadsAreFewer) {
    struct Case {
        size_t steps;
        size_t threads;
        std::vector<size_t> firsts;
    };
    // The source costs half as much again as a later step.
    const Case cases[] = {
        {1, 2, {0}},    {2, 2, {0, 1}},       {3, 2, {0, 1}},    {4, 2, {0, 2}},
        {5, 2, {0, 2}}, {5, 3, {0, 1, 3}},    {3, 8, {0, 1, 2}}, {3, 1, {0}},
        {3, 0, {0}},    {7, 4, {0, 1, 3, 5}}, {0, 2, {}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(texthost::threadShares(c.steps, c.threads), c.firsts)
            << c.steps << " steps, " << c.threads << " threads";
    }
}

/// The lines of a run's messages, each step's own in their order: with a thread per step, the
/// messages of different steps may interleave otherwise than in one thread.
std::map<std::string, std::vector<std::string>> linesByStep(const std::string& text) {
    std::map<std::string, std::vector<std::string>> lines;
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        const std::string line = text.substr(at, end - at);
        // "warning: STEP: ..." or "error: STEP: ...": the step is the second part.
        const size_t kind = line.find(": ");
        const size_t step = kind == std::string::npos ? kind : line.find(": ", kind + 2);
        lines[step == std::string::npos ? "" : line.substr(kind + 2, step - kind - 2)].push_back(
            line);
        at = end + 1;
    }
    return lines;
}

// The real steps through textjob: a job of three destinations over a file of several batches
// of rows writes the same bytes and says the same with a thread per step and with one thread.
class ThreadedTextjobTest : public ::testing::Test {
  protected:
    void SetUp() override {
        folder = std::filesystem::temp_directory_path() /
                 ("textjob-threads-" + std::to_string(getpid()));
        std::filesystem::remove_all(folder);
        std::filesystem::create_directories(folder);
        std::string csv = "id,name,amount,note\n";
        for (int i = 1; i <= 5000; ++i) {
            csv += std::to_string(i) + ",Zoë " + std::to_string(i % 97) + "," +
                   std::to_string(i * 7 % 1000) + "." + std::to_string(i % 10) + ",";
            csv += i % 3 == 0 ? "\"says \"\"hi\"\", <b>\"\n" : "plain & simple\n";
        }
        write("in.csv", csv);
        std::string bad = csv;
        bad.insert(bad.find("\n4000,") + 1, "4000,\xff\xfe,1.0,x\n");
        write("bad.csv", bad);
        // Rows of several kilobytes: batches end by their bytes before their rows.
        std::string long_csv = "id,name,amount,note\n";
        for (int i = 1; i <= 1500; ++i) {
            long_csv +=
                std::to_string(i) + ",n,1.5," + std::string(3000 + i % 4000, "abc<"[i % 4]) + "\n";
        }
        write("long.csv", long_csv);
        // Rows around the largest that the producer packs in its own memory (256 KB) before
        // the batch, and past it.
        std::string huge_csv = "id,name,amount,note\n";
        for (int i = 1; i <= 24; ++i) {
            const size_t size = i % 3 == 0 ? 250000 + 1000 * static_cast<size_t>(i) : 50;
            huge_csv += std::to_string(i) + ",n,2.5," + std::string(size, "xyz"[i % 3]) + "\n";
        }
        write("huge.csv", huge_csv);
        write("job.json", R"({"steps": [
            {"type": "SOURCE_DELIMTEXT", "name": "in", "properties": {"FILENAME": "in.csv",
             "SKIPROWS": 1, "QUOTE": "\"", "FIELDS": [{"NAME": "id", "TYPE": "integer"},
             {"NAME": "name", "TYPE": "string", "MAX_LENGTH": 10},
             {"NAME": "amount", "TYPE": "real"},
             {"NAME": "note", "TYPE": "string", "MAX_LENGTH": 400000}]}},
            {"type": "DEST_DELIMTEXT", "name": "csv", "properties": {"FILENAME": "written/out.csv",
             "QUALIFIER": "\"", "FIELDS": [{"FIELDNAME": "id"}, {"FIELDNAME": "name"},
             {"FIELDNAME": "amount"}, {"FIELDNAME": "note"}]}},
            {"type": "DEST_FIXEDTEXT", "name": "fixed", "properties": {"FILENAME": "written/out.txt",
             "FIELDS": [{"FIELDNAME": "id", "WIDTH": 6}, {"FIELDNAME": "note", "WIDTH": 12}]}},
            {"type": "DEST_HTML", "name": "html", "properties": {"FILENAME": "written/out.html",
             "FIELDS": [{"FIELDNAME": "name"}, {"FIELDNAME": "note"}]}}]})");
    }
    void TearDown() override { std::filesystem::remove_all(folder); }

    void write(const std::string& name, const std::string& text) {
        std::ofstream(folder / name, std::ios::binary) << text;
    }

    struct Outcome {
        int status = -1;
        std::string out;
        std::string err;
        std::vector<std::string> files;
    };
    Outcome run(const std::string& threads, const std::vector<std::string>& extra) {
        std::filesystem::remove_all(folder / "written");
        std::filesystem::create_directories(folder / "written");
        std::vector<std::string> args = {"run", "--threads", threads,
                                         (folder / "job.json").string()};
        args.insert(args.end(), extra.begin(), extra.end());
        TextjobProcess process(args, folder);
        Outcome o;
        if (!process.started()) return o;
        o.status = process.wait();
        o.out = withoutElapsedLine(process.out());
        o.err = process.err();
        // A run that fails keeps the rows it wrote beside the file it would have replaced.
        for (const std::string name : {"out.csv", "out.txt", "out.html"}) {
            std::filesystem::path file = folder / "written" / name;
            if (!std::filesystem::exists(file)) file += ".partial";
            o.files.push_back(slurp(file));
        }
        return o;
    }

    std::filesystem::path folder;
};

TEST_F(ThreadedTextjobTest, WritesTheSameBytesAndSaysTheSameInBothDrivers) {
    const struct {
        const char* name;
        std::vector<std::string> extra;
        int status;
    } cases[] = {
        {"whole file", {}, 0},
        {"MAX_OUTPUT_ROWS inside a batch", {"--set", "in.MAX_OUTPUT_ROWS=1234"}, 0},
        {"source fails at row 4000", {"--set", "in.FILENAME=bad.csv"}, 1},
        {"long texts", {"--set", "in.FILENAME=long.csv"}, 0},
        {"rows of hundreds of kilobytes", {"--set", "in.FILENAME=huge.csv"}, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Outcome one = run("1", c.extra);
        const Outcome many = run("2", c.extra);
        EXPECT_EQ(one.status, c.status) << one.err;
        EXPECT_EQ(many.status, c.status) << many.err;
        EXPECT_EQ(linesByStep(many.err), linesByStep(one.err));
        EXPECT_EQ(many.out, one.out);
        ASSERT_EQ(many.files.size(), one.files.size());
        for (size_t i = 0; i < one.files.size(); ++i) {
            EXPECT_FALSE(one.files[i].empty()) << i;
            // The HTML report's date is the day's; both runs are on the same day.
            EXPECT_TRUE(many.files[i] == one.files[i]) << "output file " << i << " differs";
        }
    }
}

/// The first number after `lead` in `text`; -1 when `lead` is not there.
int64_t numberAfter(const std::string& text, const std::string& lead) {
    const size_t at = text.find(lead);
    return at == std::string::npos ? -1 : std::stoll(text.substr(at + lead.size()));
}

/// How often `part` occurs in `text`.
int64_t occurrences(const std::string& text, std::string_view part) {
    int64_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}

TEST_F(ThreadedTextjobTest, EveryStopEndsEveryDestinationAtTheSameRow) {
    std::string csv;
    for (int i = 1; i <= 400000; ++i)
        csv += std::to_string(i) + ",n" + std::to_string(i % 89) + ",1.5,plain & simple\n";
    write("big.csv", csv);
    // Stops at many points of the run, from before the first row to late in the file.
    for (int round = 0; round < 12; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        std::filesystem::remove_all(folder / "written");
        std::filesystem::create_directories(folder / "written");
        TextjobProcess process({"run", "--threads", "2", (folder / "job.json").string(), "--set",
                                "in.FILENAME=big.csv", "--set", "in.SKIPROWS=0"},
                               folder);
        ASSERT_TRUE(process.started());
        ASSERT_TRUE(process.waitForOpenFile(folder / "big.csv", std::chrono::seconds(30)));
        std::this_thread::sleep_for(std::chrono::milliseconds(15 * round));
        process.signal(SIGTERM);
        const int status = process.wait();
        ASSERT_TRUE(status == 143 || status == 0) << status << process.err();

        const std::string out = process.out();
        const int64_t read = numberAfter(out, "Input file: big.csv, ");
        ASSERT_GE(read, 0) << out;
        if (status == 143) {
            // Before the end of the data, or as it ended, too late to keep the files out of
            // place.
            EXPECT_EQ(std::max(numberAfter(process.err(), "The run was stopped after "),
                               numberAfter(process.err(), "as its data ended, after ")),
                      read)
                << process.err();
        }
        // What each destination says it wrote (or kept beside its file, when the stop came
        // before the end) and what its file holds.
        for (const std::string step : {"csv: ", "fixed: ", "html: "}) {
            const int64_t wrote = numberAfter(out, step + "Wrote ");
            EXPECT_EQ(wrote >= 0 ? wrote : numberAfter(out, step + "Kept the "), read) << out;
        }
        const auto written = [&](const char* name) {
            const std::filesystem::path partial =
                folder / "written" / (name + std::string(".partial"));
            return slurp(std::filesystem::exists(partial) ? partial : folder / "written" / name);
        };
        EXPECT_EQ(occurrences(written("out.csv"), "\n"), read);
        // Fixed-width records of 6 + 12 bytes, without line ends.
        const std::string records = written("out.txt");
        EXPECT_EQ(records.size() % 18, 0u);
        EXPECT_EQ(static_cast<int64_t>(records.size() / 18), read);
        EXPECT_EQ(occurrences(written("out.html"), "<TR class=\"rowon\"><td>"), read);
    }
    // A value lost in a --strict run (the fixed-width file cuts every note, and a real does
    // not read far into the file) stops it as a stop request does: the source at its next
    // check, every destination at the rows it handed on, with one thread or two.
    const size_t bad = csv.find("\n200000,") + 1;
    write("bad.csv", csv.substr(0, bad) + "200000,n,x.5" + csv.substr(csv.find(",plain", bad)));
    for (const char* threads : {"1", "2"}) {
        SCOPED_TRACE(std::string("--threads ") + threads);
        std::filesystem::remove_all(folder / "written");
        std::filesystem::create_directories(folder / "written");
        TextjobProcess process(
            {"run", "--strict", "--threads", threads, (folder / "job.json").string(), "--set",
             "in.FILENAME=bad.csv", "--set", "in.SKIPROWS=0"},
            folder);
        ASSERT_TRUE(process.started());
        ASSERT_EQ(process.wait(), 1) << process.err();
        const int64_t read = numberAfter(process.out(), "Input file: bad.csv, ");
        EXPECT_GT(read, 0) << process.out();
        EXPECT_LT(read, 400000) << process.out();
        for (const std::string step : {"csv: ", "fixed: ", "html: "})
            EXPECT_EQ(numberAfter(process.out(), step + "Kept the "), read) << process.out();
    }
}

}  // namespace
}  // namespace hosttest
