#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "common/printable.h"
#include "common/test_data.h"
#include "mvb/parse.h"

namespace {

using Fields = std::vector<std::string>;

constexpr unsigned kKeep = MVS_PARSE_KEEP_BLANKS;
constexpr unsigned kEscapes = MVS_PARSE_UNESCAPE;

/// Splits `line` with a field array of exactly `capacity` slots in a buffer of exactly
/// lineBytes + 1 bytes (the sanitizers catch any write past either). The byte after the line is
/// not a NUL, so the splitter cannot rely on one.
Fields split(const std::string& line, int delimiter, int quote, unsigned flags, bool inPlace,
             int capacity = 32) {
    std::vector<char> buffer(line.begin(), line.end());
    buffer.push_back('Z');
    std::vector<char> separate(line.size() + 1, 'Q');
    char* output = inPlace ? buffer.data() : separate.data();
    std::vector<char*> fields(static_cast<size_t>(capacity), nullptr);
    // In place the lengths are asked for too, as the sources do (a split that may take other
    // ways with them); into a separate output they are not.
    std::vector<int> lengths(static_cast<size_t>(capacity), -1);
    const int found =
        inPlace ? mvs_split_text(buffer.data(), static_cast<int>(line.size()), fields.data(),
                                 lengths.data(), capacity, delimiter, quote, flags, nullptr)
                : mvs_parse_text_ex2(buffer.data(), fields.data(), capacity, output,
                                     static_cast<int>(line.size()), delimiter, quote, flags);
    Fields result;
    for (int i = 0; i < found; ++i) {
        EXPECT_GE(fields[i], output);
        EXPECT_LE(fields[i], output + line.size());
        result.emplace_back(fields[i]);
        if (inPlace) {  // the length ends the text where its NUL is (a NUL in it is data)
            const std::string_view text(fields[i], static_cast<size_t>(lengths[i]));
            EXPECT_EQ(text.substr(0, text.find('\0')), result.back());
            EXPECT_EQ(fields[i][lengths[i]], '\0');
        }
    }
    if (!inPlace) {
        EXPECT_EQ(std::string(buffer.data(), line.size()), line) << "input changed";
    }
    return result;
}

struct SplitCase {
    const char* name;
    std::string line;
    int delimiter;
    int quote;
    unsigned flags;
    Fields expected;
};

const SplitCase kSplitCases[] = {
    {"Simple", "a,b,c", ',', '"', 0, {"a", "b", "c"}},
    {"EmptyLineIsOneEmptyField", "", ',', '"', 0, {""}},
    {"TrailingDelimiterGivesEmptyField", "a,b,", ',', '"', 0, {"a", "b", ""}},
    {"OnlyDelimiters", ",,", ',', '"', 0, {"", "", ""}},
    {"DelimiterCodeZeroIsComma", "a,b;c", 0, '"', 0, {"a", "b;c"}},
    {"QuotedDelimiterIsText", "\"a,b\",c", ',', '"', 0, {"a,b", "c"}},
    {"DoubledQuoteIsOneQuote", "\"say \"\"hi\"\"\",x", ',', '"', 0, {"say \"hi\"", "x"}},
    {"QuotedEmpty", "\"\",x", ',', '"', 0, {"", "x"}},
    {"UnclosedQuoteRunsToEnd", "a,\"open, still", ',', '"', 0, {"a", "open, still"}},
    {"LoneQuoteEndsTheLine", "x,\"", ',', '"', 0, {"x", ""}},
    {"QuotedValueEndingInTheQuote", "\"5\"\"\",x", ',', '"', 0, {"5\"", "x"}},
    {"TextAfterClosingQuoteKept", "\"ab\"cd,e", ',', '"', 0, {"abcd", "e"}},
    {"BlanksAfterClosingQuoteInnerKept", "\"ab\"  cd  ,e", ',', '"', 0, {"ab  cd", "e"}},
    {"QuoteInsideUnquotedIsText", "ab\"cd,e\"", ',', '"', 0, {"ab\"cd", "e\""}},
    {"NoQuotingWithQuoteZero", "\"a,b\"", ',', 0, 0, {"\"a", "b\""}},
    {"SingleQuoteCharacter", "'a,b',c", ',', '\'', 0, {"a,b", "c"}},
    {"MultiByteQuote",
     "\xC2\xA7"
     "a,\xC2\xA7\xC2\xA7"
     "b\xC2\xA7,c",
     ',',
     0xA7,
     0,
     {"a,\xC2\xA7"
      "b",
      "c"}},
    {"BlanksTrimmed", " a , b\t,\tc ", ',', '"', 0, {"a", "b", "c"}},
    {"BlanksKeptWithFlag1", " a , b\t,\tc ", ',', '"', kKeep, {" a ", " b\t", "\tc "}},
    {"BlanksAroundQuotesTrimmed", "  \"a b\"  ,c", ',', '"', 0, {"a b", "c"}},
    {"BlanksInsideQuotesKept", "\" a \",b", ',', '"', 0, {" a ", "b"}},
    {"BlankBeforeQuoteWithFlag1MeansUnquoted", " \"a,b\"", ',', '"', kKeep, {" \"a", "b\""}},
    {"BlanksAfterQuoteKeptWithFlag1", "\"a\" ,b", ',', '"', kKeep, {"a ", "b"}},
    {"EscapesResolved", "a\\,b,c\\td\\\\e\\\"", ',', '"', kEscapes, {"a,b", "c\td\\e\""}},
    {"EscapesNewlineAndReturn", "x\\ny\\rz", ',', '"', kEscapes, {"x\ny\rz"}},
    {"EscapeInsideQuotes", "\"a\\\"b\",c", ',', '"', kEscapes, {"a\"b", "c"}},
    {"BackslashOrdinaryWithoutFlag2", "a\\,b\\n", ',', '"', 0, {"a\\", "b\\n"}},
    {"BackslashEndingLineStaysWithFlag2", "ab\\", ',', '"', kEscapes, {"ab\\"}},
    {"EscapedBlankNotTrimmed", "ab\\ ,c", ',', '"', kEscapes, {"ab ", "c"}},
    {"EscapesWithKeptBlanks", " a\\,b ,c", ',', '"', kEscapes | kKeep, {" a,b ", "c"}},
    {"TwoByteDelimiter",
     "a\xC2\xA6"
     "b\xC2\xA6\xC2\xA6"
     "c",
     0xA6,
     '"',
     0,
     {"a", "b", "", "c"}},
    {"ThreeByteDelimiter",
     "1\xE2\x82\xAC"
     "2 \xE2\x82\xAC \"3\xE2\x82\xAC\"",
     0x20AC,
     '"',
     0,
     {"1", "2", "3\xE2\x82\xAC"}},
    {"FourByteDelimiter", "x\xF0\x9F\x98\x80y", 0x1F600, '"', 0, {"x", "y"}},
    {"SimilarMultiByteCharIsNotDelimiter", "\xC3\xA8x\xC3\xA9y", 0xE9, '"', 0, {"\xC3\xA8x", "y"}},
    {"MultiByteDelimiterWithEscape",
     "a\\\xC3\xA9"
     "b\xC3\xA9"
     "c",
     0xE9,
     '"',
     kEscapes,
     {"a\xC3\xA9"
      "b",
      "c"}},
    {"TabDelimiterTrimsBlanksNotTabs", "a\t b \t\tc", '\t', '"', 0, {"a", "b", "", "c"}},
    {"BlankDelimiterTrimsTabs", "a b  c\t", ' ', '"', 0, {"a", "b", "", "c"}},
    {"NonAsciiText",
     "\xC3\xA4,\xC3\xB6 ,\"\xE6\x97\xA5\"",
     ',',
     '"',
     0,
     {"\xC3\xA4", "\xC3\xB6", "\xE6\x97\xA5"}},
    {"LongFields",
     std::string(40, 'x') + "," + std::string(23, 'y') + "," + std::string(9, 'z'),
     ',',
     '"',
     0,
     {std::string(40, 'x'), std::string(23, 'y'), std::string(9, 'z')}},
    {"LongQuotedField",
     "\"" + std::string(50, 'q') + "\"\"" + std::string(30, 'r') + "\",s",
     ',',
     '"',
     0,
     {std::string(50, 'q') + "\"" + std::string(30, 'r'), "s"}},
    {"NulBytesAreData", std::string("a\0b,c", 5), ',', '"', 0, {"a", "c"}},
};

void PrintTo(const SplitCase& c, std::ostream* out) {
    *out << testfiles::printable(c.line);
}

class SplitTable : public testing::TestWithParam<SplitCase> {};

TEST_P(SplitTable, InPlace) {
    const SplitCase& c = GetParam();
    EXPECT_EQ(split(c.line, c.delimiter, c.quote, c.flags, true), c.expected);
}

TEST_P(SplitTable, IntoSeparateOutput) {
    const SplitCase& c = GetParam();
    EXPECT_EQ(split(c.line, c.delimiter, c.quote, c.flags, false), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Splitter, SplitTable, testing::ValuesIn(kSplitCases),
                         [](const testing::TestParamInfo<SplitCase>& info) {
                             return std::string(info.param.name);
                         });

TEST(Splitter, NeverStoresMoreThanTheCapacity) {
    for (unsigned flags = 0; flags < 4; ++flags) {
        constexpr int kCapacity = 2;
        std::string line = "a,\"b\",c,d";
        std::vector<char> buffer(line.begin(), line.end());
        buffer.push_back('\0');
        char* fields[kCapacity + 4];
        char canary = 0;
        for (char*& field : fields) {
            field = &canary;
        }
        const int found = mvs_parse_text_ex2(buffer.data(), fields, kCapacity, buffer.data(),
                                             static_cast<int>(line.size()), ',', '"', flags);
        ASSERT_EQ(found, kCapacity);
        EXPECT_STREQ(fields[0], "a");
        EXPECT_STREQ(fields[1], "b");  // the last stored field ends at its own delimiter
        for (int i = kCapacity; i < kCapacity + 4; ++i) {
            EXPECT_EQ(fields[i], &canary) << "slot " << i << " written, flags " << flags;
        }
    }
}

TEST(Splitter, WritesNothingPastTheOutput) {
    // A guard region after lineBytes + 1 output bytes must stay untouched for every setting.
    const std::string lines[] = {"", "a", "\"x\"", "a,\"b\"\"c\" , d\\,e", " \"open"};
    for (const std::string& line : lines) {
        for (unsigned flags = 0; flags < 4; ++flags) {
            std::vector<char> output(line.size() + 1 + 16, '\x5A');
            std::vector<char> input(line.begin(), line.end());
            input.push_back('\0');
            char* fields[8];
            const int found = mvs_parse_text_ex2(input.data(), fields, 8, output.data(),
                                                 static_cast<int>(line.size()), ',', '"', flags);
            EXPECT_GE(found, 1);
            for (size_t i = line.size() + 1; i < output.size(); ++i) {
                ASSERT_EQ(output[i], '\x5A') << "guard byte " << i << " of [" << line << "]";
            }
        }
    }
}

// A line without backslashes splits the same with escapes on, through the escape path's own
// stops: random quoted lines on both sides of the length up to which a quoted line's stops are
// found through masks made up front, fields, lengths and the text-after-quote note alike.
TEST(Splitter, QuotedLinesSplitAsTheEscapePathSplitsThem) {
    std::mt19937 random(20261211);
    const char* const pieces[] = {"a", "bc", " ", ",", "\"", "\"\"", "\xC3\xA9", "\t", ", \""};
    // Every third line is of whole fields, quoted or not, with blanks around some: the lines
    // most files hold.
    const char* const wholeFields[] = {"a", " b ", "\"c d\"", " \"e,f\" ", "\"\"", "\"\xC3\xA9\"\t",
                                       ""};
    for (int round = 0; round < 3000; ++round) {
        const size_t length = random() % 3 == 0 ? 480 + random() % 80 : random() % 1200;
        std::string line;
        while (line.size() < length) {
            if (round % 3 == 2) {
                line += wholeFields[random() % std::size(wholeFields)];
                line += ',';
            } else {
                line += pieces[random() % std::size(pieces)];
            }
        }
        const unsigned keep = round % 2 == 0 ? 0u : kKeep;
        struct Split {
            std::vector<std::string> fields;
            std::vector<int> lengths;
            bool afterQuote = false;
        } splits[2];
        for (int escapes = 0; escapes < 2; ++escapes) {
            std::vector<char> buffer(line.begin(), line.end());
            buffer.push_back('\0');
            std::vector<char*> fields(64);
            std::vector<int> lengths(64);
            Split& split = splits[escapes];
            const int found = mvs_split_text(
                buffer.data(), static_cast<int>(line.size()), fields.data(), lengths.data(), 64,
                ',', '"', keep | (escapes != 0 ? kEscapes : 0u), &split.afterQuote);
            for (int i = 0; i < found; ++i) {
                split.fields.emplace_back(fields[static_cast<size_t>(i)]);
                split.lengths.push_back(lengths[static_cast<size_t>(i)]);
                ASSERT_EQ(split.fields.back().size(), static_cast<size_t>(split.lengths.back()));
            }
        }
        ASSERT_EQ(splits[0].fields, splits[1].fields) << line;
        ASSERT_EQ(splits[0].lengths, splits[1].lengths) << line;
        ASSERT_EQ(splits[0].afterQuote, splits[1].afterQuote) << line;
    }
}

TEST(Splitter, RejectsUnusableArguments) {
    char line[] = "a,b";
    char* fields[2];
    EXPECT_EQ(mvs_parse_text_ex2(line, fields, 0, line, 3, ',', '"', 0), 0);
    EXPECT_EQ(mvs_parse_text_ex2(nullptr, fields, 2, line, 3, ',', '"', 0), 0);
    EXPECT_EQ(mvs_parse_text_ex2(line, nullptr, 2, line, 3, ',', '"', 0), 0);
    EXPECT_EQ(mvs_parse_text_ex2(line, fields, 2, nullptr, 3, ',', '"', 0), 0);
}

// A plan is a plain structure: blanks set in it by hand are trimmed as the prepared ones are,
// on every path, whatever their byte values.
TEST(Splitter, PlanBlanksSetByHandAreTrimmed) {
    MvsSplitPlan plan;
    mvs_split_prepare(',', '"', 0, &plan);
    plan.blank1 = 'x';
    plan.blank2 = static_cast<char>(0xFF);
    for (std::string line : {"xxa\xFF,bx", "xxa\xFF,\"b\"x"}) {
        char* fields[4];
        int lengths[4];
        ASSERT_EQ(mvs_split_planned(&plan, line.data(), static_cast<int>(line.size()), fields,
                                    lengths, 4, 0, nullptr),
                  2);
        EXPECT_EQ(std::string(fields[0], static_cast<size_t>(lengths[0])), "a") << line;
        EXPECT_EQ(std::string(fields[1], static_cast<size_t>(lengths[1])), "b") << line;
    }
}

// Quote-free lines with a one-byte delimiter take the block-wise path, quoted ones a path of
// their own and a two-byte delimiter or escapes the general one; a line without backslashes
// splits the same with escapes on. All must agree on random lines that cross 64-byte blocks,
// and so must the test whether such a line leaves a quoted field open.
TEST(Splitter, BlockPathAgreesWithGeneralPath) {
    const char alphabet[] = {'a', 'b', ' ', '\t', ',', 'x', '"', 'a', 'b', ','};
    uint32_t state = 12345;
    auto next = [&state] {
        state = state * 1103515245u + 12345u;
        return state >> 16;
    };
    for (int round = 0; round < 4000; ++round) {
        const size_t size = next() % 200;
        // Half the lines without quotes, for the quote-free path.
        const size_t letters = sizeof alphabet - (round % 2 == 0 ? 4 : 0);
        std::string line;
        for (size_t i = 0; i < size; ++i) {
            line += alphabet[next() % letters];
        }
        std::string wide;  // the same line with the two-byte delimiter U+00A6
        for (char c : line) {
            wide += c == ',' ? std::string("\xC2\xA6") : std::string(1, c);
        }
        for (unsigned flags : {0u, kKeep}) {
            const int capacity = 1 + static_cast<int>(next() % 40);
            const Fields fields = split(line, ',', '"', flags, true, capacity);
            Fields narrowed = split(wide, 0xA6, '"', flags, true, capacity);
            for (std::string& field : narrowed) {  // delimiters within quotes, or past the last
                for (size_t at; (at = field.find("\xC2\xA6")) != std::string::npos;)
                    field.replace(at, 2, ",");
            }
            EXPECT_EQ(fields, narrowed)
                << "[" << line << "] flags " << flags << " capacity " << capacity;
            EXPECT_EQ(fields, split(line, ',', '"', flags | kEscapes, true, capacity))
                << "[" << line << "] flags " << flags << " capacity " << capacity;
            for (bool inside : {false, true}) {
                const bool open = mvs_record_continues(line.data(), static_cast<int>(size), inside,
                                                       ',', '"', flags);
                EXPECT_EQ(open, mvs_record_continues(wide.data(), static_cast<int>(wide.size()),
                                                     inside, 0xA6, '"', flags))
                    << "[" << line << "] flags " << flags << " inside " << inside;
                EXPECT_EQ(open, mvs_record_continues(line.data(), static_cast<int>(size), inside,
                                                     ',', '"', flags | kEscapes))
                    << "[" << line << "] flags " << flags << " inside " << inside;
            }
        }
    }
}

// The public CSV edge-case suite: every case whose records are single lines.
TEST(Splitter, CsvSpectrumSingleLineCases) {
    const std::string dir = testdata::path("csv-edge-cases/");
    const nlohmann::json suite = testdata::readJson(dir + "expected_rows.json");
    int checked = 0;
    for (const auto& testCase : suite.at("cases")) {
        if (testCase.at("multiline_fields").get<bool>()) {
            continue;  // one record spans several lines: the line reader's concern
        }
        const std::string file = testCase.at("file").get<std::string>();
        std::ifstream in(dir + file, std::ios::binary);
        ASSERT_TRUE(in) << file;
        std::stringstream content;
        content << in.rdbuf();
        std::vector<std::string> lines;
        std::string line;
        std::istringstream stream(content.str());
        while (std::getline(stream, line)) {
            if (!line.empty() && line.back() == '\r') {
                line.pop_back();
            }
            lines.push_back(line);
        }
        const auto& rows = testCase.at("rows");
        ASSERT_EQ(lines.size(), rows.size()) << file;
        for (size_t i = 0; i < lines.size(); ++i) {
            EXPECT_EQ(split(lines[i], ',', '"', 0, true), rows[i].get<Fields>())
                << file << " line " << i + 1;
        }
        ++checked;
    }
    EXPECT_GE(checked, 9);
}

}  // namespace
