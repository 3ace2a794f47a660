// A destination replaces its file only when the step finishes: a run that fails or is stopped
// leaves the old file as it was and keeps the whole rows it wrote as <file>.partial.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "support/dest_support.h"
#include "texthost/pipeline.h"
#include "texthost/run.h"

using nlohmann::json;
using namespace desttest;

namespace {

const std::string kOld = "old contents\n";

/// How the run ends. A stop asked for before the third row ends the run after that row.
// A stop at the end: the data ended after the stop came (its writer was stopped with it).
enum class End { Finished, FailsAtRow3, StoppedAtRow3, StoppedAtTheEnd };
enum class Write { Replace, Append, InPlace };

struct LifeCase {
    const char* type;
    End end;
    Write write;
};

/// Five rows; the third holds a character that Windows-1252 lacks when `badThird`.
TestRows fiveRows(bool badThird) {
    TestRows rows{{{"s", mvbTypeString}}, {}};
    rows.honoursStop = true;
    for (int i = 1; i <= 5; ++i) {
        const std::string value = i == 3 && badThird ? "\xE6\x97\xA5" : "row" + std::to_string(i);
        rows.rows.push_back({text(value.c_str())});
    }
    return rows;
}

json destStep(const LifeCase& c, const std::string& file) {
    const bool fixed = std::string(c.type) == "DEST_FIXEDTEXT";
    json properties = {
        {"FILENAME", file},
        {"FIELDS", fixed ? fieldsTable({{"s", 5}}, "WIDTH") : fieldsTable({{"s", "S"}})}};
    if (fixed) properties["LINE_END"] = "LF";
    if (c.end == End::FailsAtRow3) properties["ENCODING"] = 1252;
    if (c.write == Write::Append) properties["APPEND"] = true;
    if (c.write == Write::InPlace) properties["IN_PLACE"] = true;
    return {{"type", c.type}, {"name", "dest"}, {"properties", properties}};
}

/// Rows of a written file: the values "row" and a digit it holds.
size_t rowLines(const std::string& bytes) {
    size_t count = 0;
    for (size_t at = 0; (at = bytes.find("row", at)) != std::string::npos; at += 3) {
        if (at + 3 < bytes.size() && bytes[at + 3] >= '0' && bytes[at + 3] <= '9') ++count;
    }
    return count;
}

std::vector<std::string> namesIn(const TempDir& dir) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

TEST(DestReplace, LifeCycle) {
    std::vector<LifeCase> cases;
    for (const char* type : {"DEST_DELIMTEXT", "DEST_FIXEDTEXT", "DEST_HTML"}) {
        for (const End end :
             {End::Finished, End::FailsAtRow3, End::StoppedAtRow3, End::StoppedAtTheEnd}) {
            for (const Write write : {Write::Replace, Write::Append, Write::InPlace}) {
                const bool html = std::string(type) == "DEST_HTML";
                // The report is UTF-8 and is never appended to.
                if (html && (end == End::FailsAtRow3 || write == Write::Append)) continue;
                cases.push_back({type, end, write});
            }
        }
    }
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.type) + " end " + std::to_string(static_cast<int>(c.end)) +
                     " write " + std::to_string(static_cast<int>(c.write)));
        TempDir dir;
        const std::string target = dir.file("out");
        writeFile(target, kOld);
        ASSERT_EQ(chmod(target.c_str(), 0640), 0);

        texthost::RunOptions options;
        options.extraSteps = {rowSource("ROWS", fiveRows(c.end == End::FailsAtRow3))};
        const json job = {{"steps", {{{"type", "ROWS"}}, destStep(c, target)}}};
        texthost::Pipeline pipeline(texthost::parseJobText(job.dump(), dir.path()), options);
        ASSERT_TRUE(pipeline.prepareAndStart());
        int code = 0;
        for (int row = 1; code == 0; ++row) {
            if ((c.end == End::StoppedAtRow3 && row == 3) ||
                (c.end == End::StoppedAtTheEnd && row == 6))
                texthost::requestStop();
            code = pipeline.pull();
        }
        texthost::clearStopRequest();
        pipeline.finish();
        std::string infos;
        for (const auto& m : pipeline.messages()) {
            if (m.kind == texthost::RunMessage::Kind::Info) infos += m.text + "\n";
        }

        const size_t rowsKept = c.end == End::FailsAtRow3       ? 2
                                : c.end == End::StoppedAtTheEnd ? 5
                                                                : 3;
        const std::string written = readFile(target);
        const bool partialExists = fileExists(target + ".partial");
        if (c.end == End::Finished) {
            EXPECT_EQ(code, 1);
            EXPECT_EQ(rowLines(written), 5u);
            EXPECT_EQ(written.rfind(kOld, 0) == 0, c.write == Write::Append);
            EXPECT_FALSE(partialExists);
        } else if (c.write == Write::Replace) {
            EXPECT_EQ(code, 2);
            // The old file stays; the rows written before the end are kept beside it, whole.
            EXPECT_EQ(written, kOld);
            ASSERT_TRUE(partialExists);
            EXPECT_EQ(rowLines(readFile(target + ".partial")), rowsKept);
            EXPECT_NE(infos.find("Kept the " + std::to_string(rowsKept) +
                                 " whole rows written in " + target + ".partial"),
                      std::string::npos)
                << infos;
        } else {
            // Written in place or appended to: the file ends at its last whole row.
            EXPECT_EQ(code, 2);
            EXPECT_FALSE(partialExists);
            EXPECT_EQ(rowLines(written), rowsKept);
            EXPECT_EQ(written.rfind(kOld, 0) == 0, c.write == Write::Append);
            if (std::string(c.type) == "DEST_FIXEDTEXT") {
                EXPECT_EQ(written.size(),
                          (c.write == Write::Append ? kOld.size() : 0) + rowsKept * 6);
            }
        }
        struct stat info {};
        ASSERT_EQ(stat(target.c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 0777, 0640u);
        // No temporary file is left behind.
        for (const std::string& name : namesIn(dir)) {
            EXPECT_EQ(name.find(".tmp"), std::string::npos) << name;
        }
    }
}

// Another step that fails in its finish, before the destination in the chain or after it, or
// that ends the data early after it (the first rows only, which leaves the destination short of
// its end), fails the run: the old file stays, whatever thread each step ran in.
TEST(DestReplace, AnotherStepsFaultKeepsTheOldFile) {
    TestRows rows{{{"s", mvbTypeString}}, {}};
    for (int i = 1; i <= 100000; ++i)
        rows.rows.push_back({text(("row" + std::to_string(i)).c_str())});
    const struct {
        PassBehaviour pass;
        bool after;
        const char* says;
    } cases[] = {{{.failsInFinish = true}, false, "failed in finish"},
                 {{.failsInFinish = true}, true, "failed in finish"},
                 {{.endsAfterRows = 2}, true, "did not reach the end of its data"}};
    for (const auto& c : cases) {
        for (const int threads : {1, 2}) {
            SCOPED_TRACE(std::string(c.says) + (c.after ? " after" : " before") + ", threads " +
                         std::to_string(threads));
            TempDir dir;
            const std::string target = dir.file("out");
            writeFile(target, kOld);
            texthost::RunOptions options;
            options.threads = threads;
            options.extraSteps = {rowSource("ROWS", rows), passStep("PASS", c.pass)};
            const json dest = destStep({"DEST_DELIMTEXT", End::Finished, Write::Replace}, target);
            const json job = {{"steps", c.after
                                            ? json{{{"type", "ROWS"}}, dest, {{"type", "PASS"}}}
                                            : json{{{"type", "ROWS"}}, {{"type", "PASS"}}, dest}}};
            const texthost::RunReport report =
                texthost::runJob(texthost::parseJobText(job.dump(), dir.path()), options);
            EXPECT_FALSE(report.ok);
            ASSERT_EQ(report.errors().size(), 1u);
            EXPECT_NE(report.errors()[0].find(c.says), std::string::npos) << report.errors()[0];
            EXPECT_EQ(readFile(target), kOld);
        }
    }
}

// A link stays a link: the file it names is replaced (created, for a link to no file yet), and
// is left as it was when the run fails. A file with other hard links is written in place, so
// that every name of it shows the rows.
TEST(DestReplace, ALinkStaysAndTheFileItNamesIsReplaced) {
    for (const bool fails : {false, true}) {
        for (const bool dangling : {false, true}) {
            SCOPED_TRACE(std::string(fails ? "failing" : "finished") +
                         (dangling ? ", a link to no file" : ", a link"));
            TempDir dir;
            if (!dangling) writeFile(dir.file("real"), kOld);
            ASSERT_EQ(symlink("real", dir.file("link").c_str()), 0);
            const LifeCase c{"DEST_DELIMTEXT", fails ? End::FailsAtRow3 : End::Finished,
                             Write::Replace};
            texthost::RunOptions options;
            options.extraSteps = {rowSource("ROWS", fiveRows(fails))};
            const json job = {{"steps", {{{"type", "ROWS"}}, destStep(c, dir.file("link"))}}};
            const texthost::RunReport report =
                texthost::runJob(texthost::parseJobText(job.dump(), dir.path()), options);
            EXPECT_EQ(report.ok, !fails);
            EXPECT_TRUE(std::filesystem::is_symlink(dir.file("link")));
            if (fails) {
                EXPECT_EQ(fileExists(dir.file("real")), !dangling);
                if (!dangling) {
                    EXPECT_EQ(readFile(dir.file("real")), kOld);
                }
            } else {
                EXPECT_EQ(rowLines(readFile(dir.file("real"))), 5u);
            }
        }
    }
    TempDir dir;
    writeFile(dir.file("one"), kOld);
    ASSERT_EQ(link(dir.file("one").c_str(), dir.file("two").c_str()), 0);
    texthost::RunOptions options;
    options.extraSteps = {rowSource("ROWS", fiveRows(false))};
    const LifeCase c{"DEST_DELIMTEXT", End::Finished, Write::Replace};
    const json job = {{"steps", {{{"type", "ROWS"}}, destStep(c, dir.file("one"))}}};
    ASSERT_TRUE(texthost::runJob(texthost::parseJobText(job.dump(), dir.path()), options).ok);
    EXPECT_EQ(rowLines(readFile(dir.file("two"))), 5u);
}

// The rows an earlier failed run kept stay, but a run that puts its file in place says they
// are not its own; so are the temporary file of a run killed outright, and only that.
TEST(DestReplace, RowsAnEarlierRunKeptAreWarnedOfOnceTheFileIsInPlace) {
    const pid_t gone = fork();
    if (gone == 0) _exit(0);
    ASSERT_GT(gone, 0);
    ASSERT_EQ(waitpid(gone, nullptr, 0), gone);
    const std::string killed = ".out." + std::to_string(gone) + "-7.tmp";
    const std::string running = ".out." + std::to_string(getpid()) + "-7.tmp";
    // Names that only look alike: a folder, a number written otherwise.
    const std::string folderOfTheName = ".out." + std::to_string(gone) + "-8.tmp";
    const std::string padded = ".out.0" + std::to_string(gone) + "-7.tmp";
    for (const bool failedBefore : {false, true}) {
        TempDir dir;
        const std::string target = dir.file("out");
        if (failedBefore) {
            writeFile(target + ".partial", kOld);
            writeFile(dir.file(killed), kOld);
            writeFile(dir.file(running), kOld);
            writeFile(dir.file(padded), kOld);
            std::filesystem::create_directory(dir.file(folderOfTheName));
        }
        texthost::RunOptions options;
        options.extraSteps = {rowSource("ROWS", fiveRows(false))};
        const LifeCase c{"DEST_DELIMTEXT", End::Finished, Write::Replace};
        const json job = {{"steps", {{{"type", "ROWS"}}, destStep(c, target)}}};
        const texthost::RunReport report =
            texthost::runJob(texthost::parseJobText(job.dump(), dir.path()), options);
        ASSERT_TRUE(report.ok);
        EXPECT_EQ(anyContains(report.warnings(), "out.partial is still there from an earlier run"),
                  failedBefore)
            << joined(report.warnings());
        EXPECT_EQ(fileExists(target + ".partial"), failedBefore);
        EXPECT_EQ(anyContains(report.warnings(), killed + " is left from an earlier run that was "
                                                          "killed while it wrote"),
                  failedBefore)
            << joined(report.warnings());
        for (const std::string& other : {running, folderOfTheName, padded})
            EXPECT_FALSE(anyContains(report.warnings(), other)) << joined(report.warnings());
    }
}

TEST(DestReplace, FolderWithoutWritePermissionIsAClearError) {
    if (geteuid() == 0) GTEST_SKIP() << "permissions do not bind the superuser";
    TempDir dir;
    const std::string folder = dir.file("locked");
    std::filesystem::create_directory(folder);
    const std::string target = folder + "/out.csv";
    writeFile(target, kOld);
    ASSERT_EQ(chmod(folder.c_str(), 0555), 0);
    texthost::RunOptions options;
    options.extraSteps = {rowSource("ROWS", fiveRows(false))};
    const LifeCase c{"DEST_DELIMTEXT", End::Finished, Write::Replace};
    const auto report = runJobFile(dir, {{{"type", "ROWS"}}, destStep(c, target)}, options);
    chmod(folder.c_str(), 0755);
    EXPECT_FALSE(report.ok);
    EXPECT_TRUE(anyContains(report.errors(), "set IN_PLACE")) << joined(report.errors());
    EXPECT_EQ(readFile(target), kOld);
}

}  // namespace
