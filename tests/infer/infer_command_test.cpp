// The infer command as a user runs it: where the job goes, what it writes, how it fails.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "common/temp_files.h"

namespace {

namespace fs = std::filesystem;

std::string quoted(const std::string& text) {
    return "'" + text + "'";
}

class InferCommand : public ::testing::Test {
  protected:
    /// Runs `cd FOLDER && textjob ARGS`, keeping the status, standard output and error.
    int textjob(const std::string& args) {
        const std::string command = "cd " + quoted(dir.path().string()) + " && " +
                                    quoted(TEXTJOB_PROGRAM) + " " + args + " >" +
                                    quoted(dir.file("stdout")) + " 2>" + quoted(dir.file("stderr"));
        const int status = std::system(command.c_str());
        out = testfiles::readFile(dir.file("stdout"));
        err = testfiles::readFile(dir.file("stderr"));
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    void write(const std::string& name, const std::string& bytes) {
        fs::create_directories(fs::path(dir.file(name)).parent_path());
        testfiles::writeFile(dir.file(name), bytes);
    }
    std::string read(const std::string& name) { return testfiles::readFile(dir.file(name)); }

    testfiles::TempDir dir;
    std::string out;
    std::string err;
};

TEST_F(InferCommand, EachTargetRunsAsWritten) {
    const std::string data =
        "name,when,n,ok\nZoë,2024-01-02 10:30:00,1e5,yes\nAl,2024-02-03,2.5,no\n";
    const struct {
        const char* to;
        const char* options;
        const char* written;  ///< the output file
        const char* expected;
    } cases[] = {
        // By default only types that write every value back as it stands: 1e5 and yes stay
        // strings.
        {"csv", "", "data.out.csv",
         "\"name\",\"when\",\"n\",\"ok\"\n\"Zoë\",\"2024-01-02 10:30:00\",\"1e5\",\"yes\"\n"
         "\"Al\",\"2024-02-03\",\"2.5\",\"no\"\n"},
        {"csv", "--types loose", "data.out.csv",
         "\"name\",\"when\",\"n\",\"ok\"\n\"Zoë\",\"2024-01-02 10:30:00\",100000,\"true\"\n"
         "\"Al\",\"2024-02-03\",2.5,\"false\"\n"},
        // Widths hold the longest value as written: 4 bytes, 19, 6 and 5.
        {"fixed", "--types loose", "data.out.txt",
         "Zoë2024-01-02 10:30:00100000true \nAl  2024-02-03         2.5   false\n"},
    };
    for (const auto& c : cases) {
        write("data.csv", data);
        ASSERT_EQ(textjob("infer data.csv " + std::string(c.options) + " --to " +
                          std::string(c.to) + " -o job.json"),
                  0)
            << err;
        ASSERT_EQ(textjob("run -q job.json"), 0) << err;
        EXPECT_EQ(err, "") << c.to;
        EXPECT_EQ(read(c.written), c.expected) << c.to;
    }
    // A line end inside a quoted value is kept as it stands in the file: CR LF is two bytes,
    // which the fixed-width record (one line each) writes as two blanks.
    write("data.csv", "id,text\r\n1,\"a\r\nb\"\r\n2,c\r\n");
    ASSERT_EQ(textjob("infer data.csv --to fixed -o job.json"), 0) << err;
    ASSERT_EQ(textjob("run -q job.json"), 0) << err;
    EXPECT_EQ(read("data.out.txt"), "1a  b\n2c   \n");

    // The file's headings and name are shown as they read, not taken for markup.
    write("r&d.csv", "<b>id</b>,a&amp;b\n1,2\n");
    ASSERT_EQ(textjob("infer 'r&d.csv' --to html -o job.json"), 0) << err;
    ASSERT_EQ(textjob("run -q job.json"), 0) << err;
    const std::string page = read("r&d.html");
    for (const char* shown : {"<title>r&amp;d.csv", "&lt;b&gt;id&lt;/b&gt;", "a&amp;amp;b"})
        EXPECT_NE(page.find(shown), std::string::npos) << shown << "\n" << page;
}

// A delimiter that detection cannot tell from another (every record splits alike at both) is
// given: the job reads with it, and convert reads IN with it.
TEST_F(InferCommand, TakesTheDelimiterGiven) {
    write("prices.csv", "Apfel;1,50;2,0\nBirne;2,25;3,5\n");
    ASSERT_EQ(textjob("infer prices.csv --no-header --delimiter ';'"), 0) << err;
    EXPECT_NE(out.find("\"DELIMITER\": \";\""), std::string::npos) << out;
    EXPECT_NE(err.find("';' (given;"), std::string::npos) << err;
    ASSERT_EQ(textjob("convert -q prices.csv out.csv --no-header --input-delimiter 0x3B"), 0)
        << err;
    EXPECT_EQ(read("out.csv"),
              "column_1,column_2,column_3\nApfel,\"1,50\",\"2,0\"\n"
              "Birne,\"2,25\",\"3,5\"\n");
    EXPECT_EQ(textjob("infer prices.csv --delimiter ab"), 2);
    EXPECT_NE(err.find("--delimiter ab: give one character"), std::string::npos) << err;
    EXPECT_EQ(textjob("convert prices.csv o.csv --input-delimiter 0xDC00"), 2);  // a surrogate
    EXPECT_NE(err.find("--input-delimiter 0xDC00: give one character"), std::string::npos) << err;
}

// A file whose name would read as a pattern is the one file read, by the job infer writes too.
TEST_F(InferCommand, ReadsTheFileNamedEvenWithPatternCharactersInItsName) {
    write("star*.csv", "a,b\n1,x\n");
    write("starX.csv", "a,b\n9,other\n");
    ASSERT_EQ(textjob("convert -q 'star*.csv' out.csv --save-job job.json"), 0) << err;
    EXPECT_EQ(read("out.csv"), "a,b\n1,x\n");
    ASSERT_EQ(textjob("run -q job.json --set out.FILENAME=again.csv"), 0) << err;
    EXPECT_EQ(read("again.csv"), "a,b\n1,x\n");
}

TEST_F(InferCommand, JobGoesToStandardOutputAndNamesTheFileFromItsFolder) {
    write("in/data.csv", "id\n1\n");
    ASSERT_EQ(textjob("infer in/data.csv --to none -o -"), 0) << err;
    EXPECT_NE(out.find("\"FILENAME\": \"in/data.csv\""), std::string::npos) << out;
    EXPECT_EQ(out.find("\"out\""), std::string::npos) << "--to none writes one step";
    EXPECT_NE(err.find("encoding"), std::string::npos) << "the decisions go to standard error";

    // A job in another folder names the data by its absolute path.
    fs::create_directories(dir.file("jobs"));
    ASSERT_EQ(textjob("infer in/data.csv -o jobs/job.json"), 0) << err;
    const std::string absolute = fs::absolute(dir.file("in/data.csv")).lexically_normal().string();
    EXPECT_NE(read("jobs/job.json").find("\"FILENAME\": \"" + absolute + "\""), std::string::npos);
    ASSERT_EQ(textjob("run -q jobs/job.json --set out.FILENAME=other.csv"), 0) << err;
    EXPECT_EQ(read("jobs/other.csv"), "\"id\"\n1\n");

    // A job convert saves names its files as infer's do: those in its folder from there.
    ASSERT_EQ(textjob("convert -q in/data.csv in/../in/copy.csv --save-job in/job.json"), 0) << err;
    EXPECT_NE(read("in/job.json").find("\"FILENAME\": \"data.csv\""), std::string::npos);
    EXPECT_NE(read("in/job.json").find("\"FILENAME\": \"copy.csv\""), std::string::npos);

    // A job written through a linked folder lands where the link leads ("near/.." is "far"),
    // and names its files from there.
    fs::create_directories(dir.file("far/deep"));
    fs::create_directory_symlink(dir.file("far/deep"), dir.file("near"));
    ASSERT_EQ(textjob("infer in/data.csv -o near/../job.json"), 0) << err;
    ASSERT_EQ(textjob("run -q far/job.json --set out.FILENAME=linked.csv"), 0) << err;
    EXPECT_EQ(read("far/linked.csv"), "\"id\"\n1\n");
}

TEST_F(InferCommand, ReportOfAWideFileNamesTheFirstColumnsAndTheJobAll) {
    // 150 columns of reals with a trailing zero: each is kept as string, with a note.
    std::string head, row;
    for (int c = 0; c < 150; ++c) {
        head += (c ? ",c" : "c") + std::to_string(c);
        row += (c ? ",1." : "1.") + std::to_string(c % 9 + 1) + "0";
    }
    write("wide.csv", head + "\n" + row + "\n" + row + "\n");
    ASSERT_EQ(textjob("infer wide.csv -o job.json"), 0) << err;
    EXPECT_NE(err.find("columns    150: c0 string"), std::string::npos) << err;
    const size_t more = err.find("and 50 more (the job lists every one)");
    ASSERT_NE(more, std::string::npos) << err;
    EXPECT_LT(err.find("c99 string"), more) << err;
    EXPECT_EQ(err.find("c100 string"), std::string::npos) << err;
    EXPECT_NE(err.find("column c19: kept as string"), std::string::npos) << err;
    EXPECT_EQ(err.find("column c20: kept"), std::string::npos) << err;
    EXPECT_NE(err.find("and 130 more columns with notes like these"), std::string::npos) << err;
    EXPECT_NE(read("job.json").find("\"c149\""), std::string::npos);
}

TEST_F(InferCommand, ReadsGzipByContentAndStandardInput) {
    const std::string data = "id,name\n1,ann\n2,bob\n";
    write("data.csv", data);
    const std::string pack =
        "cd " + quoted(dir.path().string()) + " && gzip -n -c data.csv > packed.bin";
    ASSERT_EQ(std::system(pack.c_str()), 0);
    ASSERT_EQ(textjob("infer packed.bin -o job.json"), 0) << err;
    ASSERT_EQ(textjob("run -q --strict job.json"), 0) << err;
    EXPECT_EQ(read("packed.out.csv"), "\"id\",\"name\"\n1,\"ann\"\n2,\"bob\"\n");

    // From standard input the job reads standard input too.
    ASSERT_EQ(textjob("infer - -o job.json < data.csv"), 0) << err;
    EXPECT_NE(read("job.json").find("\"FILENAME\": \"-\""), std::string::npos);
    ASSERT_EQ(textjob("run -q --strict job.json < data.csv"), 0) << err;
    EXPECT_EQ(read("stdin.out.csv"), "\"id\",\"name\"\n1,\"ann\"\n2,\"bob\"\n");
}

TEST_F(InferCommand, FailuresSayWhatAndExitNonZero) {
    write("empty.csv", "");
    write("data.csv", "id\n1\n");
    const struct {
        const char* args;
        int status;
        const char* says;
    } cases[] = {
        {"infer missing.csv", 1, "missing.csv"},
        {"infer - </dev/null", 1, "empty"},
        {"infer - <&-", 1, "closed when the program started"},
        {"infer \"$(printf 'bad\\377.csv')\"", 2, "is not UTF-8, which a job cannot hold"},
        {"convert data.csv \"$(printf 'bad\\377.csv')\"", 2, "is not UTF-8, which a job"},
        {"infer .", 1, "not a regular file"},
        {"infer data.csv --header 2 --no-header", 2, "excludes"},
        {"infer empty.csv", 1, "empty"},
        {"infer data.csv --to xml", 2, "xml"},
        {"infer data.csv -o data.csv", 2, "replace the file it reads"},
        {"infer data.csv -o data.out.csv", 2, "is the file the job writes"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(textjob(c.args), c.status) << c.args;
        EXPECT_NE(err.find(c.says), std::string::npos) << c.args << ": " << err;
    }
    EXPECT_EQ(read("data.csv"), "id\n1\n");
    EXPECT_FALSE(fs::exists(dir.file("data.out.csv")));
}

}  // namespace
