// Records whose quoted fields hold line ends (readRecord), at every buffer size.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "../../runtime/txtfile_internal.h"
#include "mvb/parse.h"
#include "mvb/txtfile.h"
#include "mvb/types.h"
#include "support/textfile_support.h"

namespace textfile_test {
namespace {

/// Every record of the file; a failure ends the list with "<error: TEXT>".
std::vector<std::string> readAllRecords(MvbTxtFile* file, const MvbRecordQuoting& quoting) {
    std::vector<std::string> records;
    for (;;) {
        MvbTextSpan record;
        bool present = false;
        const int length = file->readRecord(quoting, &record, &present);
        if (length < 0) {
            records.push_back("<error: " + lastError(file) + ">");
            break;
        }
        if (!present) break;
        EXPECT_EQ(record.text[record.bytes], '\0');
        records.emplace_back(record.text, static_cast<size_t>(record.bytes));
    }
    return records;
}

struct RecordCase {
    const char* name;
    std::string input;
    unsigned flags;
    std::vector<std::string> records;
};

TEST(Records, QuotedLineEndsStayInTheRecordAsTheyStand) {
    const RecordCase cases[] = {
        {"lf", "a,\"x\ny\",b\nc,d\n", 0, {"a,\"x\ny\",b", "c,d"}},
        {"crlf", "a,\"x\r\ny\"\r\nc\r\n", 0, {"a,\"x\r\ny\"", "c"}},
        {"bare cr", "a,\"x\ry\"\rc", 0, {"a,\"x\ry\"", "c"}},
        {"several lines", "\"1\n2\n\n3\"\nz", 0, {"\"1\n2\n\n3\"", "z"}},
        {"doubled quote then line end", "\"a\"\"\nb\"\nc\n", 0, {"\"a\"\"\nb\"", "c"}},
        {"closed at line end", "\"a\"\n\"b\"\n", 0, {"\"a\"", "\"b\""}},
        {"quote inside unquoted text", "a\"b,c\nd\n", 0, {"a\"b,c", "d"}},
        {"blanks before a quote", "  \"a\nb\",c\n", 0, {"  \"a\nb\",c"}},
        {"blanks kept: the quote is text",
         "  \"a\nb\",c\n",
         MVS_PARSE_KEEP_BLANKS,
         {"  \"a", "b\",c"}},
        {"escaped quote", "\"a\\\"\nb\"\n", MVS_PARSE_UNESCAPE, {"\"a\\\"\nb\""}},
        {"escaped line end", "\"a\\\nb\"\n", MVS_PARSE_UNESCAPE, {"\"a\\\nb\""}},
        {"unclosed", "x\n\"a\nb\nc", 0, {"x", "<error>"}},
        {"unclosed before a final line end", "\"a\n", 0, {"<error>"}},
        {"empty lines are records", "\n\na\n", 0, {"", "", "a"}},
        {"doubled quote across 64 bytes",
         std::string(61, 'x') + ",\"\"\"a\nb\"\nc",
         0,
         {std::string(61, 'x') + ",\"\"\"a\nb\"", "c"}},
        {"quote after 64 bytes of text",
         std::string(70, 'x') + "\"y,\"a\nb\"\n",
         0,
         {std::string(70, 'x') + "\"y,\"a\nb\""}},
    };
    TempDir dir;
    const std::string path = (dir.path() / "records.csv").string();
    const MvbRecordQuoting base{',', '"', 0};
    for (const RecordCase& c : cases) {
        MvbRecordQuoting quoting = base;
        quoting.parseFlags = c.flags;
        for (int encoding : {65001, 1200}) {
            writeBytes(path, encoding == 1200 ? toUtf16Le(c.input) : c.input);
            for (size_t bufferBytes : kBufferSizes) {
                MvbTxtFile* file = openWith(path, MVB_OPEN_READ, encoding, 0, bufferBytes);
                ASSERT_NE(file, nullptr);
                FileCloser closer{file};
                std::vector<std::string> records = readAllRecords(file, quoting);
                if (!records.empty() && records.back().starts_with("<error: ")) {
                    EXPECT_NE(records.back().find("ends inside a quoted value"), std::string::npos)
                        << records.back();
                    records.back() = "<error>";
                }
                EXPECT_EQ(records, c.records)
                    << c.name << ", encoding " << encoding << ", buffer " << bufferBytes;
            }
        }
    }
}

TEST(Records, MessagesGiveThePhysicalLineOfTheRecordOrTheFault) {
    struct Case {
        std::string input;
        const char* expected;
    };
    const Case cases[] = {
        {"a\n\"b\nc\nd", "the record that starts at line 2 has an opening quote"},
        {"\"a\nb\"\nbad \xFF\n", "at line 3"},
        {"\"a\nb\nbad \xFF\"\n", "at line 3"},
    };
    TempDir dir;
    const std::string path = (dir.path() / "faults.csv").string();
    for (const Case& c : cases) {
        writeBytes(path, c.input);
        for (size_t bufferBytes : kBufferSizes) {
            MvbTxtFile* file = openWith(path, MVB_OPEN_READ, 65001, 0, bufferBytes);
            ASSERT_NE(file, nullptr);
            FileCloser closer{file};
            const std::vector<std::string> records = readAllRecords(file, {',', '"', 0});
            ASSERT_FALSE(records.empty());
            EXPECT_NE(records.back().find(c.expected), std::string::npos)
                << records.back() << " (buffer " << bufferBytes << ")";
        }
    }
}

TEST(Records, ARecordLongerThanTheLimitFailsNamingItsFirstLine) {
    TempDir dir;
    const std::string path = (dir.path() / "long.csv").string();
    writeBytes(path, "x\n\"" + std::string(100, 'a') + "\n" + std::string(100, 'b') + "\"\n");
    MvbString error;
    mvb::txt::FileTuning tuning;
    tuning.bufferBytes = 16;
    tuning.maxRecordBytes = 150;
    MvbTxtFile* file = mvb::txt::openTextFile(path.c_str(), MVB_OPEN_READ, 65001, 0, error, tuning);
    ASSERT_NE(file, nullptr);
    FileCloser closer{file};
    const std::vector<std::string> records = readAllRecords(file, {',', '"', 0});
    ASSERT_EQ(records.size(), 2u);
    EXPECT_NE(records[1].find("the record that starts at line 2"), std::string::npos) << records[1];
}

}  // namespace
}  // namespace textfile_test
