// A job run in parts (textjob run --part K/N): the parts' output files, joined in part order,
// are byte for byte the output of one run of the whole job.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "common/temp_files.h"
#include "mvb/parts.h"
#include "part_option.h"

namespace {

namespace fs = std::filesystem;

/// Deterministic numbers for generated data, the same on every platform.
struct Numbers {
    uint64_t state = 88172645463325252ull;
    uint64_t next(uint64_t bound) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return state % bound;
    }
};

/// Values of very different lengths: from empty to several thousand bytes.
std::string text(Numbers& numbers, bool lineBreaks) {
    static const char* const kWords[] = {"alpha", "b", "quite a long word", "x,y", "\"q\""};
    const uint64_t length = numbers.next(4) == 0 ? numbers.next(6000) : numbers.next(40);
    std::string value;
    while (value.size() < length) {
        value += kWords[numbers.next(5)];
        value += lineBreaks && numbers.next(7) == 0 ? (numbers.next(2) == 0 ? "\n" : "\r\n") : " ";
    }
    return value;
}

std::string quoted(const std::string& value) {
    std::string out = "\"";
    for (const char c : value) {
        out += c;
        if (c == '"') out += '"';
    }
    return out + "\"";
}

/// A delimited file with a header line and 400 records; with `lineBreaks` some quoted values
/// hold line ends, and the records end in CR LF.
std::string delimitedFile(bool lineBreaks) {
    Numbers numbers;
    std::string file = "id,name,note\n";
    for (int i = 0; i < 400; ++i) {
        file += std::to_string(i) + "," + quoted(text(numbers, lineBreaks)) + "," +
                (numbers.next(3) == 0 ? quoted(text(numbers, lineBreaks)) : "plain") +
                (lineBreaks ? "\r\n" : "\n");
    }
    return file;
}

/// Two head records, then records of 37 bytes without line ends.
std::string blockFile() {
    Numbers numbers;
    std::string file = std::string(37, 'H') + std::string(37, 'h');
    for (int i = 0; i < 3000; ++i) {
        std::string record = std::to_string(i);
        record.resize(12, ' ');
        record += std::string(1 + numbers.next(24), static_cast<char>('a' + i % 26));
        record.resize(37, ' ');
        file += record;
    }
    return file;
}

/// Lines whose quotes tell where a record starts only at the end of the file: each record is
/// two lines, `",x` and `",x,y`, and each line reads as well from inside quotes as outside.
std::string lateQuotesFile() {
    std::string file;
    for (int i = 0; i < 2000; ++i)
        file += "\",x\n\",x,y\n";
    return file;
}

const char* const kDelimitedJob = R"({"steps": [
  {"type": "SOURCE_DELIMTEXT", "name": "in", "properties": {"FILENAME": "%IN%", "QUOTE": "\"",
   "SKIPROWS": %SKIP%, "NEWLINES_IN_VALUES": %NEWLINES%,
   "FIELDS": [{"NAME": "id", "TYPE": "string", "MAX_LENGTH": 10},
              {"NAME": "name", "TYPE": "string", "MAX_LENGTH": 9000},
              {"NAME": "note", "TYPE": "string", "MAX_LENGTH": 9000}]}},
  {"type": "DEST_DELIMTEXT", "name": "out", "properties": {"FILENAME": "out.csv",
   "INCLUDE_HEADER": true, "BYTE_ORDER_MARK": true, "QUALIFIER": "\"",
   "FIELDS": [{"FIELDNAME": "id"}, {"FIELDNAME": "name"}, {"FIELDNAME": "note"}]}}]})";

const char* const kBlockJob = R"({"steps": [
  {"type": "SOURCE_FIXEDTEXT", "name": "in", "properties": {"FILENAME": "%IN%",
   "RECORDWIDTH": 37, "CRLF_TERMINATE": false, "SKIPROWS": 2,
   "FIELDS": [{"NAME": "id", "TYPE": "integer", "START_POS": 1, "LENGTH": 12},
              {"NAME": "text", "TYPE": "string", "START_POS": 13, "LENGTH": 25}]}},
  {"type": "DEST_FIXEDTEXT", "name": "out", "properties": {"FILENAME": "out.csv",
   "LINE_END": "LF", "FIELDS": [{"FIELDNAME": "id", "WIDTH": 6}, {"FIELDNAME": "text",
   "WIDTH": 25}]}}]})";

std::string replaced(std::string text, const std::map<std::string, std::string>& values) {
    for (const auto& [key, value] : values) {
        for (size_t at = text.find(key); at != std::string::npos; at = text.find(key, at))
            text.replace(at, key.size(), value);
    }
    return text;
}

class PartsTest : public ::testing::Test {
  protected:
    /// Runs textjob with `args` in the folder (standard output and error to files); gives the
    /// exit status.
    int textjob(const std::string& args, const std::string& environment = "") {
        const std::string command = "cd '" + folder.string() + "' && " + environment + " '" +
                                    std::string(TEXT_BINARY_DIR) + "/bin/textjob' " + args +
                                    " > stdout.txt 2> stderr.txt";
        const int status = std::system(command.c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    std::string read(const std::string& name) { return testfiles::readFile(scratch.file(name)); }
    std::string partFile(int part, int count) {
        return read(mvbPartFileName("out.csv", part, count));
    }

    /// Runs the whole job, then each of `count` parts; expects the parts' files joined to be
    /// the whole run's output and every part to have read some of the data (`emptyParts`
    /// aside).
    void expectPartsMakeTheWhole(int count, int emptyParts = 0) {
        ASSERT_EQ(textjob("run job.json"), 0) << read("stderr.txt");
        const std::string whole = read("out.csv");
        std::string joined;
        int empty = 0;
        for (int k = 0; k < count; ++k) {
            ASSERT_EQ(
                textjob("run job.json --part " + std::to_string(k) + "/" + std::to_string(count)),
                0)
                << read("stderr.txt");
            EXPECT_EQ(read("stderr.txt"), "") << "part " << k << " of " << count;
            EXPECT_NE(read("stdout.txt").find("Part " + std::to_string(k) + "/"),
                      std::string::npos);
            const std::string part = partFile(k, count);
            empty += part.empty() ? 1 : 0;
            joined += part;
        }
        EXPECT_EQ(empty, emptyParts) << count << " parts";
        EXPECT_TRUE(joined == whole) << count << " parts: " << joined.size() << " bytes joined, "
                                     << whole.size() << " in the whole run";
    }

    testfiles::TempDir scratch;
    fs::path folder = scratch.path();
};

TEST_F(PartsTest, PartsOfOneFileJoinToTheWholeRunsOutput) {
    struct Case {
        const char* name;
        std::string data;
        std::string job;
    };
    const std::vector<Case> cases = {
        {"lines of very different lengths", delimitedFile(false),
         replaced(kDelimitedJob, {{"%SKIP%", "1"}, {"%NEWLINES%", "false"}})},
        {"quoted line breaks", delimitedFile(true),
         replaced(kDelimitedJob, {{"%SKIP%", "1"}, {"%NEWLINES%", "true"}})},
        {"records whose start shows late", lateQuotesFile(),
         replaced(kDelimitedJob, {{"%SKIP%", "0"}, {"%NEWLINES%", "true"}})},
        {"fixed-width blocks", blockFile(), kBlockJob},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        testfiles::writeFile(scratch.file("in.txt"), c.data);
        testfiles::writeFile(scratch.file("job.json"), replaced(c.job, {{"%IN%", "in.txt"}}));
        for (const int count : {1, 2, 3, 7})
            expectPartsMakeTheWhole(count);
    }
}

TEST_F(PartsTest, AFileSetIsDealtWholeFilesInListingOrder) {
    fs::create_directory(folder / "in");
    testfiles::writeFile(scratch.file("in/a.txt"), "id,name,note\n" + delimitedFile(false));
    testfiles::writeFile(scratch.file("in/b.txt"), "h\nid,name,note\n1,b,c\n");
    testfiles::writeFile(scratch.file("in/c.txt"), "id,name,note\n" + delimitedFile(false));
    testfiles::writeFile(
        scratch.file("job.json"),
        replaced(kDelimitedJob, {{"%IN%", "in/*.txt"}, {"%SKIP%", "2"}, {"%NEWLINES%", "false"}}));
    // Three files for five parts: parts 0 and 4 get none; part 0 still writes the header.
    ASSERT_EQ(textjob("parts job.json 5"), 0) << read("stderr.txt");
    const std::string plan = read("stdout.txt");
    int planned = 0;
    for (int k = 0; k < 5; ++k)
        planned += plan.find("part " + std::to_string(k) + ": 0 files") == std::string::npos;
    EXPECT_EQ(planned, 3) << plan;
    expectPartsMakeTheWhole(5, 1);
}

TEST_F(PartsTest, WhatCannotBeSplitIsReadWholeByPartZero) {
    testfiles::writeFile(scratch.file("in.txt"), delimitedFile(false));
    ASSERT_EQ(std::system(("gzip -kn '" + scratch.file("in.txt") + "'").c_str()), 0);
    testfiles::writeFile(
        scratch.file("job.json"),
        replaced(kDelimitedJob, {{"%IN%", "in.txt.gz"}, {"%SKIP%", "1"}, {"%NEWLINES%", "false"}}));
    ASSERT_EQ(textjob("run job.json"), 0) << read("stderr.txt");
    const std::string whole = read("out.csv");
    ASSERT_EQ(textjob("run job.json --part 1/2"), 0) << read("stderr.txt");
    EXPECT_NE(read("stderr.txt").find("is read whole by part 0"), std::string::npos)
        << read("stderr.txt");
    EXPECT_EQ(partFile(1, 2), "");
    ASSERT_EQ(textjob("run job.json", "TEXTJOB_PART=0/2"), 0) << read("stderr.txt");
    EXPECT_TRUE(partFile(0, 2) == whole);

    // A row limit counts each part's rows, which joined are not the whole run's first rows.
    ASSERT_EQ(textjob("run job.json --part 0/2 --set in.MAX_OUTPUT_ROWS=5"), 0);
    EXPECT_NE(read("stderr.txt").find("MAX_OUTPUT_ROWS 5 counts the rows of this part only"),
              std::string::npos)
        << read("stderr.txt");
}

// A part counts its lines from where its reading starts, and a message that gives a line says
// so: the byte offset is the file's.
TEST_F(PartsTest, ALineNumberOfAPartSaysWhereItCountsFrom) {
    std::string data;
    for (int i = 0; i < 1000; ++i)
        data += std::to_string(i) + ",abc\n";
    const size_t bad = data.size() + 6;  // the byte after "1000,b"
    data += "1000,b\xFF\n1001,abc\n";
    testfiles::writeFile(scratch.file("in.txt"), data);
    testfiles::writeFile(
        scratch.file("job.json"),
        replaced(kDelimitedJob, {{"%IN%", "in.txt"}, {"%SKIP%", "0"}, {"%NEWLINES%", "false"}}));
    ASSERT_EQ(textjob("run job.json --part 1/2"), 1);
    const std::string error = read("stderr.txt");
    EXPECT_NE(error.find("(where this part's reading starts), byte offset " + std::to_string(bad)),
              std::string::npos)
        << error;
}

TEST_F(PartsTest, AnEmptyFileIsNothingForAnyPart) {
    testfiles::writeFile(scratch.file("in.txt"), "");
    testfiles::writeFile(
        scratch.file("job.json"),
        replaced(kDelimitedJob, {{"%IN%", "in.txt"}, {"%SKIP%", "0"}, {"%NEWLINES%", "false"}}));
    ASSERT_EQ(textjob("run job.json --part 1/2"), 0) << read("stderr.txt");
    EXPECT_EQ(read("stderr.txt").find("read whole by part 0"), std::string::npos)
        << read("stderr.txt");
}

TEST_F(PartsTest, BadPartsAndReportsAreRefused) {
    testfiles::writeFile(scratch.file("in.txt"), "a\n");
    testfiles::writeFile(scratch.file("job.json"), R"({"steps": [
      {"type": "SOURCE_DELIMTEXT", "properties": {"FILENAME": "in.txt",
       "FIELDS": [{"NAME": "a", "TYPE": "string", "MAX_LENGTH": 5}]}},
      {"type": "DEST_HTML", "properties": {"FILENAME": "r.html",
       "FIELDS": [{"FIELDNAME": "a"}]}}]})");
    EXPECT_EQ(textjob("run job.json --part 0/2"), 1);
    EXPECT_NE(read("stderr.txt").find("cannot be written in parts"), std::string::npos)
        << read("stderr.txt");
    EXPECT_FALSE(fs::exists(folder / "r.html"));
    EXPECT_EQ(textjob("run job.json --part 2/2"), 2);
    EXPECT_NE(read("stderr.txt").find("--part 2/2: the part K must be 0 to N-1 (1)"),
              std::string::npos)
        << read("stderr.txt");
    EXPECT_EQ(textjob("run job.json --part ''"), 2);
    EXPECT_NE(read("stderr.txt").find("--part: an empty value is not a part"), std::string::npos)
        << read("stderr.txt");
}

TEST_F(PartsTest, APartNeverWritesIntoWhatTheJobReads) {
    const std::string input = "1,a,b\n2,c,d\n";
    testfiles::writeFile(scratch.file("out.part-0001-of-0002.csv"), input);
    for (const char* source : {"out.part-0001-of-0002.csv", "out.part-*.csv"}) {
        testfiles::writeFile(
            scratch.file("job.json"),
            replaced(kDelimitedJob, {{"%IN%", source}, {"%SKIP%", "0"}, {"%NEWLINES%", "false"}}));
        for (const std::string run : {"run -n", "run"}) {
            EXPECT_EQ(textjob(run + " job.json --part 1/2"), 2) << source << ": " << run;
            EXPECT_NE(read("stderr.txt").find("would write \"out.part-0001-of-0002.csv\""),
                      std::string::npos)
                << read("stderr.txt");
            EXPECT_EQ(read("out.part-0001-of-0002.csv"), input);
        }
    }
}

TEST_F(PartsTest, DevicesAndPipesAreWrittenAsTheyAre) {
    testfiles::writeFile(scratch.file("in.txt"), "1,a,b\n2,c,d\n");
    testfiles::writeFile(
        scratch.file("job.json"),
        replaced(kDelimitedJob, {{"%IN%", "in.txt"}, {"%SKIP%", "0"}, {"%NEWLINES%", "false"}}));
    textjob("run job.json -q --part 1/2 --set out.FILENAME=/dev/stdout 2>&1 | cat");
    EXPECT_EQ(read("stdout.txt"), "\"2\",\"c\",\"d\"\n");
    const std::string pipe = scratch.file("pipe.csv");
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    EXPECT_EQ(mvbPartFileName(pipe, 1, 2), pipe);
}

TEST_F(PartsTest, GnuParallelRunsThePartsOfAJob) {
    if (std::system("command -v parallel > /dev/null 2>&1") != 0) {
        GTEST_SKIP() << "GNU parallel is not installed";
    }
    testfiles::writeFile(scratch.file("in.txt"), delimitedFile(true));
    testfiles::writeFile(
        scratch.file("job.json"),
        replaced(kDelimitedJob, {{"%IN%", "in.txt"}, {"%SKIP%", "1"}, {"%NEWLINES%", "true"}}));
    ASSERT_EQ(textjob("run job.json"), 0) << read("stderr.txt");
    const std::string whole = read("out.csv");
    const std::string command =
        "cd '" + folder.string() + "' && parallel --will-cite -j2 '" +
        std::string(TEXT_BINARY_DIR) +
        "/bin/textjob' run job.json -q --part {}/4 ::: 0 1 2 3 2> stderr.txt && "
        "cat out.part-*-of-0004.csv > joined.csv";
    ASSERT_EQ(std::system(command.c_str()), 0) << read("stderr.txt");
    EXPECT_TRUE(read("joined.csv") == whole);
}

TEST(JobPart, ComesFromTheOptionTheEnvironmentOrTheScheduler) {
    using Environment = std::map<std::string, std::string>;
    struct Case {
        const char* part;  // --part
        int parts;         // --parts
        Environment environment;
        int index;  // -1: no part
        int count;
        const char* error;  // a part of the error text; null when none is expected
    };
    const std::vector<Case> cases = {
        {"", 0, {}, -1, 0, nullptr},
        {"3/16", 0, {}, 3, 16, nullptr},
        {"0/1", 0, {}, 0, 1, nullptr},
        {"", 0, {{"TEXTJOB_PART", "2/4"}}, 2, 4, nullptr},
        {"1/4", 0, {{"TEXTJOB_PART", "2/4"}}, 1, 4, nullptr},
        {"auto", 0, {{"SLURM_ARRAY_TASK_ID", "5"}, {"SLURM_ARRAY_TASK_COUNT", "8"}}, 5, 8, nullptr},
        {"auto",
         0,
         {{"SLURM_ARRAY_TASK_ID", "5"},
          {"SLURM_ARRAY_TASK_MIN", "1"},
          {"SLURM_ARRAY_TASK_COUNT", "8"}},
         4,
         8,
         nullptr},
        {"auto", 6, {{"JOB_COMPLETION_INDEX", "5"}}, 5, 6, nullptr},
        {"auto", 8, {{"SLURM_ARRAY_TASK_ID", "3"}, {"SLURM_ARRAY_TASK_COUNT", "8"}}, 3, 8, nullptr},
        {"auto",
         8,
         {{"SLURM_ARRAY_TASK_ID", "3"}, {"SLURM_ARRAY_TASK_COUNT", "4"}},
         -1,
         0,
         "differs"},
        {"", 0, {{"TEXTJOB_PART", "auto"}, {"JOB_COMPLETION_INDEX", "0"}}, -1, 0, "--parts N"},
        {"auto", 0, {{"JOB_COMPLETION_INDEX", "5"}}, -1, 0, "--parts N"},
        {"auto", 5, {{"JOB_COMPLETION_INDEX", "5"}}, -1, 0, "0 to N-1"},
        {"auto", 0, {}, -1, 0, "neither"},
        {"4/4", 0, {}, -1, 0, "0 to N-1"},
        {"-1/4", 0, {}, -1, 0, "0 to N-1"},
        {"0/0", 0, {}, -1, 0, "1 or more"},
        {"1/-2", 0, {}, -1, 0, "1 or more"},
        {"3", 0, {}, -1, 0, "K/N"},
        {"a/4", 0, {}, -1, 0, "K/N"},
        {"1/4x", 0, {}, -1, 0, "K/N"},
        {"", 0, {{"TEXTJOB_PART", "9/4"}}, -1, 0, "TEXTJOB_PART=9/4"},
        {"", 4, {}, -1, 0, "goes with --part auto"},
        {"1/4", 4, {}, -1, 0, "goes with --part auto"},
        {"", 0, {{"TEXTJOB_PART", ""}}, -1, 0, nullptr},
    };
    for (const Case& c : cases) {
        textjob::CommandLine line;
        line.part = c.part;
        line.partCount = c.parts;
        const auto lookup = [&c](const char* name) -> const char* {
            const auto found = c.environment.find(name);
            return found == c.environment.end() ? nullptr : found->second.c_str();
        };
        SCOPED_TRACE(std::string("--part ") + c.part);
        if (c.error != nullptr) {
            try {
                textjob::resolveJobPart(line, lookup);
                ADD_FAILURE() << "no error";
            } catch (const std::invalid_argument& e) {
                EXPECT_NE(std::string(e.what()).find(c.error), std::string::npos) << e.what();
            }
            continue;
        }
        const std::optional<textjob::JobPart> part = textjob::resolveJobPart(line, lookup);
        ASSERT_EQ(part.has_value(), c.index >= 0);
        if (part) {
            EXPECT_EQ(part->index, c.index);
            EXPECT_EQ(part->count, c.count);
        }
    }
    // convert runs its own job whole, whatever part the environment gives a run.
    textjob::CommandLine convert;
    convert.command = textjob::CommandLine::Command::Convert;
    EXPECT_FALSE(textjob::resolveJobPart(convert, [](const char*) { return "1/2"; }));
}

TEST(JobPart, FilesAreDealtInRunsBalancedBySize) {
    struct Case {
        std::vector<uint64_t> sizes;
        int count;
        std::vector<int> parts;
    };
    const std::vector<Case> cases = {
        {{9, 9, 9}, 5, {0, 2, 4}},         {{99, 0, 0, 99}, 2, {0, 0, 1, 1}},
        {{999, 9, 9, 9}, 2, {0, 1, 1, 1}}, {{5, 5, 5, 5}, 1, {0, 0, 0, 0}},
        {{0, 0, 0, 0}, 2, {0, 0, 1, 1}},
    };
    for (const Case& c : cases) {
        std::vector<int> parts(c.sizes.size(), -1);
        mvbDealFiles(c.sizes.data(), c.sizes.size(), c.count, parts.data());
        EXPECT_EQ(parts, c.parts) << c.count << " parts";
    }
}

TEST(JobPart, EachPartWritesAFileOfItsOwn) {
    struct Case {
        const char* path;
        int part;
        int count;
        const char* expected;
    };
    for (const Case& c : std::vector<Case>{
             {"out.csv", 3, 16, "out.part-0003-of-0016.csv"},
             {"d.v2/out", 0, 2, "d.v2/out.part-0000-of-0002"},
             {"d/.hidden", 1, 2, "d/.hidden.part-0001-of-0002"},
             {"d/out.csv.gz", 1, 2, "d/out.part-0001-of-0002.csv.gz"},
             {"d.v2/out.gz", 0, 2, "d.v2/out.part-0000-of-0002.gz"},
             {"out-{part}.csv", 3, 16, "out-0003.csv"},
             {"{part}/{part}.txt", 7, 8, "0007/0007.txt"},
             {"a.csv", 12345, 20000, "a.part-12345-of-20000.csv"},
             {"-", 1, 2, "-"},
             {"/dev/null", 1, 2, "/dev/null"},
             {"/dev/fd/1", 1, 2, "/dev/fd/1"},
             {"/dev/shm/o.csv", 1, 2, "/dev/shm/o.part-0001-of-0002.csv"},
             {"out.CSV.GZ", 1, 2, "out.part-0001-of-0002.CSV.GZ"},
         }) {
        EXPECT_EQ(mvbPartFileName(c.path, c.part, c.count), c.expected) << c.path;
    }
}

}  // namespace
