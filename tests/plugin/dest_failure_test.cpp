// Failures of the destinations: a full disk is never reported as written, and a stop request
// ends the run at a progress point.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/dest_support.h"
#include "texthost/pipeline.h"

using nlohmann::json;
using namespace desttest;

namespace {

TestRows manyRows(int count) {
    TestRows rows{{{"s", mvbTypeString}, {"n", mvbTypeInteger}}, {}};
    for (int i = 0; i < count; ++i)
        rows.rows.push_back({text("some text to fill the disk"), integer(i)});
    return rows;
}

struct FullDiskCase {
    const char* type;
    json fields;
    /// Name of the report inside the test folder that links to /dev/full; empty: FILENAME is
    /// /dev/full itself.
    const char* linkedName;
};

TEST(DestFailure, FullDiskIsReportedAndNeverWritten) {
    const std::vector<FullDiskCase> cases = {
        {"DEST_DELIMTEXT", fieldsTable({{"s", ""}, {"n", ""}}), ""},
        {"DEST_FIXEDTEXT", fieldsTable({{"s", 30}, {"n", 8}}, "WIDTH"), ""},
        // The report's style sheet goes beside it, so the report is a link in a folder of its own.
        {"DEST_HTML", fieldsTable({{"s", "S"}, {"n", "N"}}), "report.html"},
        {"DEST_HTML", fieldsTable({{"s", "S"}, {"n", "N"}}), "marovind.css"},
    };
    // One row fails only when the buffer is written out at the end, or when a stopped run
    // keeps what it wrote (0 rows: stopped); many rows fail on the way.
    for (const int rowCount : {0, 1, 60000}) {
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(c.type) + " " + c.linkedName + " rows " +
                         std::to_string(rowCount));
            TempDir dir;
            std::string fileName = "/dev/full";
            if (*c.linkedName != '\0') {
                ASSERT_EQ(symlink("/dev/full", dir.file(c.linkedName).c_str()), 0);
                fileName = dir.file("report.html");
            }
            texthost::RunOptions options;
            TestRows rows = manyRows(std::max(rowCount, 2));
            rows.honoursStop = rowCount == 0;
            options.extraSteps = {rowSource("ROWS", rows)};
            const json steps = {
                {{"type", "ROWS"}},
                {{"type", c.type}, {"properties", {{"FILENAME", fileName}, {"FIELDS", c.fields}}}}};
            if (rowCount == 0) texthost::requestStop();
            const auto report = runJobFile(dir, steps, options);
            texthost::clearStopRequest();
            EXPECT_FALSE(report.ok);
            // A stopped report writes no style sheet.
            const bool written = rowCount != 0 || std::string(c.linkedName) != "marovind.css";
            EXPECT_EQ(anyContains(report.errors(), "No space left on device"), written)
                << joined(report.errors());
            EXPECT_FALSE(anyContains(report.infos(), "Wrote")) << joined(report.infos());
        }
    }
}

TEST(DestFailure, AStopIsTheSourcesToTakeNotTheDestinations) {
    // Only the first step of a chain is told to stop, so that every destination ends at the
    // row the source stopped at: a destination asked at its progress points goes on, here to
    // the end of a source that never asks. There the stop holds: the data may have ended only
    // because the stop ended its writer, so the file is kept beside its place, whole.
    for (const char* type : {"DEST_DELIMTEXT", "DEST_FIXEDTEXT", "DEST_HTML"}) {
        SCOPED_TRACE(type);
        TempDir dir;
        texthost::RunOptions options;
        options.extraSteps = {rowSource("ROWS", manyRows(3))};
        const json fields = std::string(type) == "DEST_FIXEDTEXT" ? fieldsTable({{"s", 4}}, "WIDTH")
                                                                  : fieldsTable({{"s", "S"}});
        const json job = {
            {"steps",
             {{{"type", "ROWS"}},
              {{"type", type},
               {"properties", {{"FILENAME", dir.file("out")}, {"FIELDS", fields}}}}}}};
        texthost::Pipeline pipeline(texthost::parseJobText(job.dump(), dir.path()), options);
        ASSERT_TRUE(pipeline.prepareAndStart());
        ASSERT_EQ(pipeline.pull(), 0);
        texthost::requestStop();
        int code = 0;
        while ((code = pipeline.pull()) == 0) {
        }
        texthost::clearStopRequest();
        EXPECT_EQ(code, 2);
        std::vector<std::string> errors;
        for (const auto& m : pipeline.messages()) {
            if (m.kind == texthost::RunMessage::Kind::Error) errors.push_back(m.text);
        }
        EXPECT_EQ(errors.size(), 1u) << joined(errors);
        EXPECT_TRUE(anyContains(errors, "Text Plugin 421:")) << joined(errors);
        EXPECT_EQ(pipeline.status().at(1).text, "Written 3 rows");
        pipeline.finish();
        EXPECT_FALSE(fileExists(dir.file("out")));
        EXPECT_TRUE(fileExists(dir.file("out") + ".partial"));
    }
}

}  // namespace
