// The pieces of the textjob program and the host that it relies on, checked directly: the
// closest-name suggestion, the reading of --set values and the progress line.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "progress_line.h"
#include "texthost/closest_name.h"
#include "texthost/describe.h"
#include "texthost/run.h"

namespace hosttest {
namespace {

TEST(ClosestName, SuggestsLikelyTyposOnly) {
    const std::vector<std::string> names = {"FILENAME", "FIELDS", "SKIPROWS", "MAX_OUTPUT_ROWS",
                                            "FILENAME_FIELD"};
    struct Case {
        const char* given;
        const char* expected;
    };
    for (const Case& c : std::vector<Case>{{"FILNAME", "FILENAME"},
                                           {"FILEANME", "FILENAME"},  // two letters swapped
                                           {"filename", "FILENAME"},  // case
                                           {"FIELD", "FIELDS"},
                                           {"SKIP_ROWS", "SKIPROWS"},
                                           {"MAX_ROWS", ""},  // too far from MAX_OUTPUT_ROWS
                                           {"COLOUR", ""},
                                           {"", ""}}) {
        EXPECT_EQ(texthost::closestName(c.given, names), c.expected) << c.given;
    }
    EXPECT_EQ(texthost::suggestionTail("FIELD", {"FIELDS", "X"}, "properties"),
              "; did you mean FIELDS? Valid properties: FIELDS, X");
    EXPECT_EQ(texthost::suggestionTail("Q", {}, "columns"), "; valid columns: (none)");
}

TEST(SetValue, ReadsAJsonScalarElseTakesTheText) {
    struct Case {
        const char* text;
        int type;
        const char* asText;
    };
    for (const Case& c :
         std::vector<Case>{{"12", mvbTypeInteger, "12"},
                           {"-3", mvbTypeInteger, "-3"},
                           {"1.5", mvbTypeReal, "1.5"},
                           {"true", mvbTypeBoolean, "true"},
                           {"false", mvbTypeBoolean, "false"},
                           {"null", mvbTypeNull, ""},
                           {"\"12\"", mvbTypeString, "12"},
                           // In quotes, the text as typed: no escapes.
                           {"\"out\\table \"x\".csv\"", mvbTypeString, "out\\table \"x\".csv"},
                           {"007", mvbTypeString, "007"},
                           {"orders.csv", mvbTypeString, "orders.csv"},
                           {";", mvbTypeString, ";"},
                           {"", mvbTypeString, ""},
                           {"[1]", mvbTypeString, "[1]"},
                           {"True", mvbTypeString, "True"},
                           {"18446744073709551615", mvbTypeString, "18446744073709551615"}}) {
        const MvbDatavar value = texthost::valueFromText(c.text);
        EXPECT_EQ(value.getType(), c.type) << c.text;
        EXPECT_EQ(std::string(value.asString().view()), c.asText) << c.text;
    }
}

TEST(SetValue, SplitsStepAndPropertyAtTheLastDotBeforeTheEqualsSign) {
    const texthost::PropertyOverride o = texthost::parseOverride("my.step.DELIMITER=a=b");
    EXPECT_EQ(o.step, "my.step");
    EXPECT_EQ(o.property, "DELIMITER");
    EXPECT_EQ(std::string(o.value.asString().view()), "a=b");
    for (const char* bad : {"FILENAME=x", "src.FILENAME", ".FILENAME=x", "src.=x", ""}) {
        EXPECT_THROW(texthost::parseOverride(bad), texthost::JobError) << bad;
    }
}

// --strict reads lost values from the messages 810-821 of steps, warnings and summaries alike.
TEST(ValuesLost, RecognisesTheLostValueMessagesOnly) {
    using Kind = texthost::RunMessage::Kind;
    struct Case {
        Kind kind;
        const char* text;
        bool lost;
    };
    const Case cases[] = {
        {Kind::Warning, "Text Plugin 810: Row 1, field \"a\": ...", true},
        {Kind::Info, "Text Plugin 814: Values not kept as read: ...", true},
        {Kind::Info, "Text Plugin 819: anything", true},
        {Kind::Warning, "Text Plugin 820: Row 1, field \"a\": its quote ...", true},
        {Kind::Warning, "Text Plugin 821: Row 1, field \"a\": \"a\xEF\xBF\xBD\" holds ...", true},
        {Kind::Warning, "Text Plugin 822: another helper's message", false},
        {Kind::Warning, "Text Plugin 81: short", false},
        {Kind::Warning, "Text Plugin 8100: long", false},
        {Kind::Error, "Text Plugin 810: an error is no lost value", false},
        {Kind::Warning, "Delimited text: Missing field(s) on row 1", false},
        {Kind::Info, "Input file: Text Plugin 810: a file name", false},
    };
    for (const Case& c : cases) {
        texthost::RunReport report;
        report.messages.push_back({c.kind, "step", c.text});
        EXPECT_EQ(report.valuesLost(), c.lost) << c.text;
    }
}

TEST(ProgressLine, ShowsWhatIsKnown) {
    using textjob::ProgressSample;
    struct Case {
        ProgressSample sample;
        const char* line;
    };
    const std::vector<Case> cases = {
        {{45, 1234567, true, 2743482, "12/40 MB", 5.0},
         " 45% | 1,234,567 rows | 12/40 MB | 246,913 rows/s | 0:06 left"},
        {{-1, 999, false, 0, "", 0.05}, "999 rows"},                    // too early for a rate
        {{0, 1, true, 1000000, "", 0.25}, "  0% | 1 rows | 4 rows/s"},  // and for the time left
        {{-1, 5000, false, 0, "", 2.0}, "5,000 rows | 2,500 rows/s"},
        {{100, 10, true, 10, "", 1.0}, "100% | 10 rows | 10 rows/s"},  // nothing left
        {{33, 3600, true, 3600 + 7200, "", 3600.0}, " 33% | 3,600 rows | 1 rows/s | 2:00:00 left"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(textjob::formatProgressLine(c.sample), c.line);
}

TEST(ProgressLine, TakesTheSourcesStatus) {
    texthost::StepStatus source;
    source.ok = true;
    source.percent = 30;
    source.text = "Read 12/40 MB (900 rows)";
    source.rows = 900;
    source.totalKnown = true;
    source.total = 3000;
    texthost::StepStatus destination;
    destination.text = "Written 800 rows";
    destination.rows = 800;
    textjob::ProgressSample sample = textjob::sampleProgress({source, destination}, 1.0);
    EXPECT_EQ(sample.percent, 30);
    EXPECT_EQ(sample.rows, 900u);
    EXPECT_EQ(sample.total, 3000u);
    EXPECT_EQ(sample.sizeRead, "12/40 MB");
    // A percent out of range (a source past its estimate) gives way to rows against the total.
    source.ok = false;
    source.percent = 150;
    source.text = "Read 15 of 10 rows";
    source.rows = 15;
    source.total = 20;
    sample = textjob::sampleProgress({source}, 1.0);
    EXPECT_EQ(sample.percent, 75);
    EXPECT_EQ(sample.sizeRead, "");
    EXPECT_EQ(textjob::sampleProgress({}, 1.0).rows, 0u);
    EXPECT_EQ(textjob::groupDigits(0), "0");
    EXPECT_EQ(textjob::groupDigits(1000), "1,000");
    EXPECT_EQ(textjob::groupDigits(18446744073709551615u), "18,446,744,073,709,551,615");
}

// A source read from a pipe knows neither its size nor its rows: no percentage and no total.
TEST(ProgressLine, FromAPipeShowsRowsBytesAndRateOnly) {
    texthost::StepStatus pipe;
    pipe.ok = true;
    pipe.percent = 0;
    pipe.text = "Read 333567/0 KB (3941376 rows)";
    pipe.rows = 3941376;
    const textjob::ProgressSample sample = textjob::sampleProgress({pipe}, 4.0);
    EXPECT_EQ(sample.percent, -1);
    EXPECT_EQ(textjob::formatProgressLine(sample), "3,941,376 rows | 333567 KB | 985,344 rows/s");
    pipe.totalKnown = true;  // a total of 0 rows is no total either
    EXPECT_EQ(textjob::sampleProgress({pipe}, 4.0).percent, -1);
    // Waiting for data since it was last asked: the bytes it said then are left out.
    pipe.current = false;
    EXPECT_EQ(textjob::formatProgressLine(textjob::sampleProgress({pipe}, 4.0)),
              "3,941,376 rows | 985,344 rows/s");
}

TEST(ProgressLine, TheSummaryGivesTheElapsedTimeAndRate) {
    EXPECT_EQ(textjob::elapsedLine(3.25, 1234567),
              "Elapsed 3.2 s, 1,234,567 rows read, 379,866 rows/s");
    EXPECT_EQ(textjob::elapsedLine(3725.0, 7450), "Elapsed 1:02:05, 7,450 rows read, 2 rows/s");
    EXPECT_EQ(textjob::elapsedLine(0.05, 40),
              "Elapsed 0.1 s, 40 rows read");  // too short for a rate
}

}  // namespace
}  // namespace hosttest
