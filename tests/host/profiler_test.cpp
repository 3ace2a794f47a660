#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "../../host/profiler_percentile.h"
#include "../../host/profiler_stats.h"
#include "step/host.h"
#include "support/test_step.h"
#include "texthost/pipeline.h"
#include "texthost/profiler.h"
#include "texthost/run.h"

namespace {

using texthost::profiler::FieldKind;
using texthost::profiler::FieldProfile;
using texthost::profiler::PercentileEstimator;
using texthost::profiler::Statistic;

double percentileOf(std::vector<double> values, double p, size_t limit = 100) {
    PercentileEstimator estimator(limit);
    for (double v : values)
        estimator.add(v);
    return estimator.percentile(p);
}

TEST(PercentileEstimator, InterpolatesBetweenClosestRanks) {
    struct Case {
        std::vector<double> values;
        double p;
        double expected;
    };
    const Case cases[] = {
        {{1, 2, 3, 4}, 25, 1.75},
        {{1, 2, 3, 4}, 50, 2.5},
        {{4, 3, 2, 1}, 75, 3.25},
        {{1, 2, 3, 4}, 0, 1},
        {{1, 2, 3, 4}, 100, 4},
        {{7}, 99, 7},
        {{5, 1, 3}, 50, 3},
        {{2, 2, 2, 9}, 50, 2},
        {{-1, 1}, 50, 0},
        {{1, 2, 3, 4, 10}, 90, 7.6},
        {{0, 100}, 99, 99},
        // Neighbours whose difference overflows a double.
        {{1e308, 1e308, -1e308}, 25, 0},
        {{-1.5e308, 1.5e308}, 75, 0.75e308},
        // An infinite neighbour makes every point towards it infinite.
        {{-HUGE_VAL, 1, 2}, 25, -HUGE_VAL},
        {{5, HUGE_VAL}, 25, HUGE_VAL},
    };
    for (const Case& c : cases) {
        if (std::isinf(c.expected)) {
            EXPECT_EQ(percentileOf(c.values, c.p), c.expected) << "p=" << c.p;
            continue;
        }
        EXPECT_NEAR(percentileOf(c.values, c.p), c.expected, 1e-12 * std::max(1.0, c.expected))
            << "p=" << c.p;
    }
    EXPECT_TRUE(std::isnan(percentileOf({-HUGE_VAL, HUGE_VAL}, 50)));
}

// The answer is the true value rounded once: the rank of a whole percentile is found in
// integers (0.99 · 99 is not 98.01 in doubles), and integers beyond 2^53 are not rounded before
// they are interpolated.
TEST(PercentileEstimator, IsTheTrueValueRoundedOnce) {
    std::vector<double> zeros(99, 0.0);
    zeros.push_back(1e10);
    EXPECT_EQ(percentileOf(zeros, 99, 1000), 1e8);
    // Integers beyond 2^53 are not rounded before they are interpolated, and a whole
    // percentile of integers is told exactly (0: none, it falls between two integers).
    const std::tuple<std::vector<int64_t>, double, double, int64_t> integers[] = {
        {{-9007199254740993, 9007199254740992}, 50, -0.5, 0},
        {{INT64_MIN, INT64_MAX}, 50, -0.5, 0},
        {{9007199254740993, 9007199254740995}, 50, 9007199254740994.0, 9007199254740994},
        {{1234567890123456789, 1234567890123456789},
         50,
         1234567890123456789.0,
         1234567890123456789},
        {{0, 1000, INT64_MAX}, 100, static_cast<double>(INT64_MAX), INT64_MAX},
        {{0, 100}, 37.5, 37.5, 0},
    };
    for (const auto& [values, p, percentile, whole] : integers) {
        PercentileEstimator estimator;
        for (const int64_t v : values)
            estimator.addInteger(v);
        EXPECT_EQ(estimator.percentile(p), percentile) << values.front();
        int64_t told = 0;
        EXPECT_EQ(estimator.wholePercentile(p, &told), whole != 0) << values.front();
        EXPECT_EQ(told, whole) << values.front();
    }
}

TEST(PercentileEstimator, SwitchesToABoundedSampleAtItsLimit) {
    PercentileEstimator estimator(1000, 3);
    for (int i = 1; i <= 1000; ++i)
        estimator.add(i);
    EXPECT_TRUE(estimator.exact());
    EXPECT_EQ(estimator.percentile(50), 500.5);
    estimator.add(1001);
    EXPECT_FALSE(estimator.exact());
    EXPECT_EQ(estimator.keptCount(), 1000u);
    EXPECT_LE(estimator.keptCapacity(), 1000u);
}

TEST(PercentileEstimator, SampleOfAnOrderedStreamEstimatesEveryPercentile) {
    // Ascending input defeats any scheme that keeps the first or last values.
    constexpr int kValues = 1000000;
    PercentileEstimator a(10000), b(10000);
    for (int i = 1; i <= kValues; ++i) {
        a.add(i);
        b.add(i);
    }
    EXPECT_EQ(a.count(), static_cast<uint64_t>(kValues));
    EXPECT_EQ(a.keptCount(), 10000u);
    EXPECT_LE(a.keptCapacity(), 10000u);
    for (double p : {25.0, 50.0, 75.0, 90.0, 99.0}) {
        // 10,000 kept values: a rank error beyond 2 points has probability 2·e^-8.
        EXPECT_NEAR(a.percentile(p), p / 100 * kValues, 0.02 * kValues) << "p=" << p;
        EXPECT_EQ(a.percentile(p), b.percentile(p)) << "the sample is reproducible";
    }
}

TEST(PercentileEstimator, DefaultLimitIsExactUpToItsDocumentedSize) {
    PercentileEstimator estimator;
    for (size_t i = 0; i < PercentileEstimator::kDefaultExactLimit; ++i)
        estimator.add(0);
    EXPECT_TRUE(estimator.exact());
    estimator.add(0);
    EXPECT_FALSE(estimator.exact());
    EXPECT_EQ(estimator.keptCapacity(), PercentileEstimator::kDefaultExactLimit);
}

MvbDatavar dateValue(int y, int mo, int d, int h = 0, int mi = 0, int s = 0) {
    MvbDate date;
    date.assign(y, mo, d, h, mi, s, 0);
    MvbDatavar value;
    value.assign(date);
    return value;
}

MvbDatavar nullValue() {
    return MvbDatavar();
}

std::string cell(FieldProfile& profile, Statistic statistic, double percent = 0) {
    std::string out = "stale";
    profile.format(statistic, percent, out);
    return out;
}

/// Texts each field of a small table must show, worked out by hand.
struct ProfileCase {
    const char* name;
    FieldKind kind;
    std::vector<MvbDatavar> values;
    std::map<Statistic, std::string> expected;
};

TEST(FieldProfile, HandComputedFiguresPerKind) {
    const int64_t kMax = std::numeric_limits<int64_t>::max();
    const std::vector<ProfileCase> cases = {
        {"integers with a null and an unreadable text",
         FieldKind::Integer,
         {MvbDatavar(4), nullValue(), MvbDatavar(1), MvbDatavar(3), MvbDatavar(2),
          MvbDatavar("abc"), MvbDatavar(10)},
         {{Statistic::Records, "7"},
          {Statistic::Nulls, "2"},
          {Statistic::Count, "5"},
          {Statistic::Sum, "20"},
          {Statistic::Mean, "4"},
          {Statistic::Minimum, "1"},
          {Statistic::Maximum, "10"}}},
        {"reals with a NaN",
         FieldKind::Real,
         {MvbDatavar(1.5), MvbDatavar(-2.5), MvbDatavar(std::nan("")), MvbDatavar(0.25)},
         {{Statistic::Records, "4"},
          {Statistic::Nulls, "1"},
          {Statistic::Count, "3"},
          {Statistic::Sum, "-0.75"},
          {Statistic::Mean, "-0.25"},
          {Statistic::Minimum, "-2.5"},
          {Statistic::Maximum, "1.5"},
          {Statistic::Percentile, "0.25"}}},
        {"an infinite real makes the sum and mean infinite and the spread undefined",
         FieldKind::Real,
         {MvbDatavar(5.0), MvbDatavar(HUGE_VAL), MvbDatavar(1.0)},
         {{Statistic::Count, "3"},
          {Statistic::Sum, "inf"},
          {Statistic::Mean, "inf"},
          {Statistic::StandardDeviation, "nan"},
          {Statistic::Maximum, "inf"}}},
        {"infinities of both signs leave the sum undefined",
         FieldKind::Real,
         {MvbDatavar(-HUGE_VAL), MvbDatavar(HUGE_VAL), MvbDatavar(2.0)},
         {{Statistic::Sum, "nan"}, {Statistic::Mean, "nan"}, {Statistic::Minimum, "-inf"}}},
        {"one number has no standard deviation",
         FieldKind::Real,
         {MvbDatavar(2.0)},
         {{Statistic::Count, "1"}, {Statistic::StandardDeviation, ""}}},
        {"integer sum past 64 bits stays exact",
         FieldKind::Integer,
         {MvbDatavar(kMax), MvbDatavar(int64_t{1}), MvbDatavar(kMax)},
         {{Statistic::Sum, "18446744073709551615"},
          {Statistic::Mean, "6148914691236520000"},
          {Statistic::Maximum, "9223372036854775807"}}},
        {"integer sum back below 64 bits after passing them",
         FieldKind::Integer,
         {MvbDatavar(kMax), MvbDatavar(kMax), MvbDatavar(-kMax), MvbDatavar(-kMax),
          MvbDatavar(int64_t{-3})},
         {{Statistic::Sum, "-3"}}},
        {"most negative integer sum",
         FieldKind::Integer,
         {MvbDatavar(INT64_MIN), MvbDatavar(INT64_MIN)},
         {{Statistic::Sum, "-18446744073709551616"}, {Statistic::Mean, "-9223372036854780000"}}},
        {"real sum and mean near the top of the range stay finite",
         FieldKind::Real,
         {MvbDatavar(1e308), MvbDatavar(1e308), MvbDatavar(-1e308)},
         {{Statistic::Sum, "1e+308"},
          {Statistic::Mean, "3.33333333333333e+307"},
          {Statistic::StandardDeviation, "1.15470053837925e+308"},
          {Statistic::Percentile, "1e+308"}}},
        {"real sum beyond the range is infinite",
         FieldKind::Real,
         {MvbDatavar(1e308), MvbDatavar(1e308)},
         {{Statistic::Sum, "inf"}, {Statistic::Mean, "1e+308"}}},
        {"texts by bytes, not by locale",
         FieldKind::Text,
         {MvbDatavar("pear"), MvbDatavar("Apple"), MvbDatavar("\xC3\xA4pfel"), MvbDatavar("apple")},
         {{Statistic::Nulls, "0"},
          {Statistic::Minimum, "Apple"},
          {Statistic::Maximum, "\xC3\xA4pfel"},
          {Statistic::Count, ""},
          {Statistic::Mean, ""},
          {Statistic::Percentile, ""}}},
        {"dates chronologically, time included",
         FieldKind::Date,
         {dateValue(2024, 3, 1), dateValue(2023, 12, 31, 23, 59, 59), MvbDatavar("2020-01-01"),
          dateValue(2024, 2, 29)},
         {{Statistic::Nulls, "1"},
          {Statistic::Minimum, "2023-12-31 23:59:59"},
          {Statistic::Maximum, "2024-03-01"},
          {Statistic::Sum, ""}}},
        {"booleans false before true",
         FieldKind::Boolean,
         {MvbDatavar(true), MvbDatavar(false), MvbDatavar(true)},
         {{Statistic::Minimum, "false"}, {Statistic::Maximum, "true"}, {Statistic::Count, ""}}},
        {"booleans all true",
         FieldKind::Boolean,
         {MvbDatavar(true), nullValue()},
         {{Statistic::Minimum, "true"}, {Statistic::Maximum, "true"}, {Statistic::Nulls, "1"}}},
        {"only nulls",
         FieldKind::Real,
         {nullValue(), nullValue()},
         {{Statistic::Records, "2"},
          {Statistic::Nulls, "2"},
          {Statistic::Count, "0"},
          {Statistic::Sum, ""},
          {Statistic::Mean, ""},
          {Statistic::Minimum, ""},
          {Statistic::Percentile, ""}}},
    };
    for (const ProfileCase& c : cases) {
        FieldProfile profile(c.kind);
        for (const MvbDatavar& v : c.values)
            profile.add(v);
        for (const auto& [statistic, text] : c.expected) {
            EXPECT_EQ(cell(profile, statistic, 50), text)
                << c.name << ", statistic " << static_cast<int>(statistic);
        }
    }
}

TEST(FieldProfile, SpreadAndPercentilesOfIntegers) {
    FieldProfile profile(FieldKind::Integer);
    for (int v : {4, 1, 3, 2, 10})
        profile.add(MvbDatavar(v));
    // Deviations from the mean 4: 0, −3, −1, −2, 6; squares sum to 50; 50 / (5 − 1) = 12.5.
    EXPECT_NEAR(std::strtod(cell(profile, Statistic::StandardDeviation).c_str(), nullptr),
                std::sqrt(12.5), 1e-12);
    const std::pair<double, double> expected[] = {{25, 2}, {50, 3}, {75, 4}, {90, 7.6}, {99, 9.76}};
    for (const auto& [p, value] : expected) {
        EXPECT_NEAR(std::strtod(cell(profile, Statistic::Percentile, p).c_str(), nullptr), value,
                    1e-12);
    }
}

// Of two zeros the negative one is the smaller, in whichever order they come.
TEST(FieldProfile, NegativeZeroIsTheMinimumOfTwoZeros) {
    for (const bool negativeFirst : {true, false}) {
        FieldProfile profile(FieldKind::Real);
        profile.add(MvbDatavar(negativeFirst ? -0.0 : 0.0));
        profile.add(MvbDatavar(negativeFirst ? 0.0 : -0.0));
        EXPECT_EQ(cell(profile, Statistic::Minimum), "-0") << negativeFirst;
        EXPECT_EQ(cell(profile, Statistic::Maximum), "0") << negativeFirst;
    }
}

TEST(FieldProfile, WelfordKeepsTheSpreadOfLargeNearlyEqualValues) {
    // 4, 7, 13, 16 have sample variance 30; shifted by 1e9 a sum-of-squares formula loses it.
    FieldProfile profile(FieldKind::Real);
    for (double v : {4.0, 7.0, 13.0, 16.0})
        profile.add(MvbDatavar(1e9 + v));
    EXPECT_NEAR(profile.standardDeviation(), std::sqrt(30.0), 1e-6);
    EXPECT_EQ(cell(profile, Statistic::Mean), "1000000010");
    // Integers beyond what a real holds (timestamps in nanoseconds): base + 0, 1, 2, ... has
    // the spread of 0, 1, 2, ..., whatever the base.
    for (const int64_t base : {int64_t{1} << 53, int64_t{1700000000000000000}, int64_t{4} << 60}) {
        FieldProfile integers(FieldKind::Integer);
        for (int k = 0; k < 30; ++k)
            integers.add(MvbDatavar(base + k % 3));
        EXPECT_NEAR(integers.standardDeviation(), std::sqrt(20.0 / 29.0), 1e-12) << base;
    }
}

}  // namespace

namespace {

/// Stands in for the host around one profiler step: feeds `rows` through its input list and
/// keeps what the step reports.
class FakeHost final : public StepHost, StepFlow, StepNode {
  public:
    std::vector<StepOutputItem> input;
    std::vector<std::vector<MvbDatavar>> rows;
    size_t nextRow = 0;
    int failAtRow = -1;  ///< readInputRow answers failCode instead of this row
    int failCode = 0;
    int continueAnswers = 1 << 30;  ///< shouldContinue answers true this many times
    int continueCalls = 0;
    bool knowsExpected = true;
    std::vector<StepOutputItem> output;
    StepOutputItems inputList, outputList;
    std::vector<std::string> errors, infos;

    StepLog* getLog() override { return nullptr; }
    PropertyValues* getPropertyValues() override { return nullptr; }
    PropertySchema* getPropertySchema() override { return nullptr; }
    void reportError(const MvbString& m) override { errors.emplace_back(m.view()); }
    void reportInfo(const MvbString& text, bool newEntry) override {
        if (newEntry || infos.empty()) infos.emplace_back();
        infos.back() += text.view();
    }
    StepFlow* getFlow() override { return this; }
    int readInputRow(int) override {
        if (static_cast<int>(nextRow) == failAtRow) return failCode;
        if (nextRow == rows.size()) return 1;
        for (size_t i = 0; i < input.size(); ++i)
            input[i].value = rows[nextRow][i];
        ++nextRow;
        return 0;
    }
    StepOutputItems* getInputItems(int, bool) override {
        if (input.empty()) return nullptr;
        inputList = {static_cast<int>(input.size()), input.data()};
        return &inputList;
    }
    StepOutputItems* createOutputItems(int count) override {
        output.assign(static_cast<size_t>(count), StepOutputItem{});
        outputList = {count, output.data()};
        return &outputList;
    }
    StepOutputItems* getOutputRow() override { return &outputList; }
    void clearUsedFields() override {}
    void addUsedField(const MvbString&, int) override {}
    int getRunMode() override { return 1; }
    bool shouldContinue() override { return ++continueCalls <= continueAnswers; }
    bool getPart(int*, int*) override { return false; }
    StepNode* getInputNode(int, int, int) override { return this; }
    MvbString getTypeId() override { return MvbString("TEST_SOURCE", true); }
    bool getExpectedRows(uint64_t* count) override {
        *count = rows.size();
        return knowsExpected;
    }

    void addField(const char* name, int type) {
        StepOutputItem item;
        item.name = MvbString(name, true);
        item.type = type;
        input.push_back(item);
    }
};

struct StepRun {
    FakeHost host;
    StepPluginStep* step = texthost::createProfilerStep();
    ~StepRun() { step->release(); }

    /// Every row the step emits until it answers non-zero, which goes to `*status`.
    std::vector<std::vector<std::string>> emitted(int* status) {
        std::vector<std::vector<std::string>> out;
        while ((*status = step->processRow(0)) == 0) {
            out.emplace_back();
            for (const StepOutputItem& item : host.output) {
                out.back().emplace_back(item.value.stringView());
            }
        }
        return out;
    }
};

TEST(ProfilerStep, DeclaresStatisticThenOneTextFieldPerInputField) {
    StepRun run;
    int inputs = 0, outputs = 0;
    EXPECT_TRUE(run.step->initialize(&run.host, &inputs, &outputs));
    EXPECT_EQ(inputs, 1);
    EXPECT_EQ(outputs, 1);
    EXPECT_EQ(run.step->prepare(2), 1) << "no input list yet: nothing declared";
    EXPECT_FALSE(run.step->start());
    ASSERT_EQ(run.host.errors.size(), 1u);
    EXPECT_NE(run.host.errors[0].find("315"), std::string::npos);

    run.host.addField("AMOUNT", mvbTypeReal);
    run.host.addField("NAME", mvbTypeString);
    run.host.input[1].length = 40;
    EXPECT_EQ(run.step->prepare(2), 7);
    EXPECT_EQ(run.step->prepare(0), 3);
    ASSERT_EQ(run.host.output.size(), 3u);
    const char* names[] = {"STATISTIC", "AMOUNT", "NAME"};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(run.host.output[i].name.view(), names[i]);
        EXPECT_EQ(run.host.output[i].type, mvbTypeString);
    }
    EXPECT_EQ(run.host.output[2].length, 40);
}

TEST(ProfilerStep, EmitsFourSectionsAfterReadingAllInput) {
    StepRun run;
    int inputs = 0, outputs = 0;
    run.step->initialize(&run.host, &inputs, &outputs);
    run.host.addField("QTY", mvbTypeInteger);
    run.host.addField("CITY", mvbTypeString);
    run.host.rows = {{MvbDatavar(3), MvbDatavar("Oslo")},
                     {MvbDatavar(5), MvbDatavar("Bergen")},
                     {MvbDatavar(1), MvbDatavar("")}};
    run.host.rows[2][1].setNull();
    ASSERT_EQ(run.step->prepare(2), 7);
    ASSERT_TRUE(run.step->start());

    int status = -1;
    const auto rows = run.emitted(&status);
    EXPECT_EQ(status, 1);
    EXPECT_EQ(run.step->processRow(0), 1) << "stays at the end";
    const std::vector<std::vector<std::string>> expected = {
        {"Records", "3", "3"},
        {"Nulls", "0", "1"},
        {"", "", ""},
        {"Count", "3", ""},
        {"Sum", "9", ""},
        {"Mean", "3", ""},
        {"Standard deviation", "2", ""},
        {"", "", ""},
        {"Minimum", "1", "Bergen"},
        {"Maximum", "5", "Oslo"},
        {"", "", ""},
        {"25th percentile", "2", ""},
        {"50th percentile", "3", ""},
        {"75th percentile", "4", ""},
        {"90th percentile", "4.6", ""},
        {"99th percentile", "4.96", ""},
    };
    EXPECT_EQ(rows, expected);
    uint64_t total = 0;
    EXPECT_TRUE(run.step->getProgress(&total));
    EXPECT_EQ(total, expected.size());

    int percent = -1;
    MvbString text;
    EXPECT_TRUE(run.step->getStatus(&percent, &text));
    EXPECT_EQ(percent, 100);
    EXPECT_EQ(text.view(), "Profiled 3 rows");
    run.step->finish();
    EXPECT_EQ(run.host.infos, std::vector<std::string>{"Profiled 3 rows of 2 fields"});
    EXPECT_TRUE(run.host.errors.empty());
}

TEST(ProfilerStep, PassesAnUpstreamFailureOnUnchanged) {
    StepRun run;
    int inputs = 0, outputs = 0;
    run.step->initialize(&run.host, &inputs, &outputs);
    run.host.addField("N", mvbTypeInteger);
    run.host.rows.assign(10, {MvbDatavar(1)});
    run.host.failAtRow = 4;
    run.host.failCode = 5;
    run.step->prepare(2);
    ASSERT_TRUE(run.step->start());
    EXPECT_EQ(run.step->processRow(0), 5);
    EXPECT_EQ(run.step->processRow(0), 5);
    EXPECT_TRUE(run.host.errors.empty());
}

TEST(ProfilerStep, StopsWithMessage421WhenTheHostSaysSo) {
    StepRun run;
    int inputs = 0, outputs = 0;
    run.step->initialize(&run.host, &inputs, &outputs);
    run.host.addField("N", mvbTypeInteger);
    run.host.rows.assign(2500, {MvbDatavar(1)});
    run.host.continueAnswers = 1;
    run.step->prepare(2);
    ASSERT_TRUE(run.step->start());
    EXPECT_EQ(run.step->processRow(0), 2);
    EXPECT_EQ(run.host.continueCalls, 2) << "asked after rows 1000 and 2000";
    EXPECT_EQ(run.host.nextRow, 2000u);
    ASSERT_EQ(run.host.errors.size(), 1u);
    EXPECT_NE(run.host.errors[0].find("421"), std::string::npos);

    int percent = -1;
    MvbString text;
    run.step->getStatus(&percent, &text);
    EXPECT_EQ(percent, 80);
    EXPECT_EQ(text.view(), "Profiled 2000 rows");
}

TEST(ProfilerStep, ProfilesTheRowsOfAChainThroughTheHost) {
    hosttest::Journal journal;
    texthost::RunOptions options;
    options.pluginPath = "/nonexistent/libtext.so";
    options.extraSteps = hosttest::testStepTypes(journal);
    options.extraSteps.push_back(
        {texthost::kProfilerTypeId, texthost::kProfilerDescription, texthost::createProfilerStep});
    // The test source gives field i of row r the value r * (i + 1): A = 1..5, B = 2, 4, ..., 10.
    texthost::Pipeline pipeline(texthost::parseJobText(R"({"steps": [
        {"type": "TEST_SOURCE", "properties": {"ROWS": 5, "FIELDS": [["A"], ["B"]]}},
        {"type": "PROFILER", "name": "profile"}]})",
                                                       ""),
                                options);
    ASSERT_TRUE(pipeline.prepareAndStart());
    std::vector<std::vector<std::string>> rows;
    while (pipeline.pull() == 0) {
        const StepOutputItems* out = pipeline.outputItems(1);
        rows.emplace_back();
        for (int i = 0; i < out->count; ++i)
            rows.back().emplace_back(out->items[i].value.stringView());
    }
    EXPECT_EQ(pipeline.pull(), 1);
    ASSERT_EQ(pipeline.outputItems(1)->count, 3);
    EXPECT_EQ(pipeline.outputItems(1)->items[2].name.view(), "B");

    // Exact texts where the figures are whole; spread and percentiles compared as numbers.
    const std::vector<std::vector<std::string>> exact = {{"Records", "5", "5"},
                                                         {"Nulls", "0", "0"},
                                                         {"", "", ""},
                                                         {"Count", "5", "5"},
                                                         {"Sum", "15", "30"},
                                                         {"Mean", "3", "6"},
                                                         {},
                                                         {"", "", ""},
                                                         {"Minimum", "1", "2"},
                                                         {"Maximum", "5", "10"},
                                                         {"", "", ""},
                                                         {"25th percentile", "2", "4"},
                                                         {"50th percentile", "3", "6"},
                                                         {"75th percentile", "4", "8"},
                                                         {},
                                                         {}};
    const std::vector<std::vector<double>> numeric = {
        {6, std::sqrt(2.5), std::sqrt(10.0)}, {14, 4.6, 9.2}, {15, 4.96, 9.92}};
    ASSERT_EQ(rows.size(), exact.size());
    for (size_t r = 0; r < rows.size(); ++r) {
        if (!exact[r].empty()) {
            EXPECT_EQ(rows[r], exact[r]) << "row " << r;
        }
    }
    for (const auto& n : numeric) {
        const auto& row = rows[static_cast<size_t>(n[0])];
        for (size_t i = 1; i < 3; ++i)
            EXPECT_NEAR(std::strtod(row[i].c_str(), nullptr), n[i], 1e-12);
    }
    EXPECT_EQ(rows[6][0], "Standard deviation");
    EXPECT_EQ(rows[14][0], "90th percentile");
    EXPECT_EQ(rows[15][0], "99th percentile");

    pipeline.finish();
    ASSERT_FALSE(pipeline.messages().empty());
    EXPECT_EQ(pipeline.messages().back().step, "profile");
    EXPECT_EQ(pipeline.messages().back().text, "Profiled 5 rows of 2 fields");
}

}  // namespace
