// Detection over small generated files: each case is a file's bytes and what infer must find.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "common/printable.h"
#include "common/temp_files.h"
#include "infer.h"
#include "infer_layout.h"
#include "infer_values.h"

namespace {

using textjob::infer::FileLayout;
using textjob::infer::InferError;
using textjob::infer::InferOptions;
using textjob::infer::TypeMode;

/// -1 (or empty) leaves a property unchecked.
struct Case {
    const char* name;
    std::string bytes;
    int encoding = -1;
    int delimiter = -1;
    int quote = -1;
    int header = -1;  ///< 0 or 1
    int skipRows = -1;
    int newlines = -1;  ///< 0 or 1
    int preserve = -1;  ///< 0 or 1
    int rows = -1;
    std::vector<std::string> types;  ///< "name:type" of every column, in order
    TypeMode mode = TypeMode::Lossless;
};

std::string u16le(const std::string& ascii) {
    std::string out;
    for (char c : ascii) {
        out += c;
        out += '\0';
    }
    return out;
}
std::string u16be(const std::string& ascii) {
    std::string out;
    for (char c : ascii) {
        out += '\0';
        out += c;
    }
    return out;
}
std::string u32le(const std::string& ascii) {
    std::string out;
    for (char c : ascii) {
        out += c;
        out += std::string(3, '\0');
    }
    return out;
}

/// Text of any script as UTF-16 bytes.
std::string utf16(std::u16string_view text, bool bigEndian) {
    std::string out;
    for (char16_t unit : text) {
        const char low = static_cast<char>(unit & 0xFFu);
        const char high = static_cast<char>(unit >> 8u);
        out += bigEndian ? high : low;
        out += bigEndian ? low : high;
    }
    return out;
}

std::string repeated(const std::string& text, int times) {
    std::string out;
    for (int i = 0; i < times; ++i)
        out += text;
    return out;
}

const Case kCases[] = {
    // Delimiters.
    {"comma",
     "id,name\n1,ann\n2,bob\n",
     65001,
     ',',
     '"',
     1,
     1,
     0,
     0,
     2,
     {"id:integer", "name:string"}},
    {"semicolon_with_decimal_commas",
     "a;b\n1,5;x\n2,5;y\n",
     -1,
     ';',
     -1,
     1,
     1,
     -1,
     -1,
     2,
     {"a:string", "b:string"}},
    {"tab", "a\tb\tc\n1\t2\t3\n4\t5\t6\n", -1, '\t', -1, 1, -1, -1, -1, 2, {}},
    {"pipe", "a|b\nx, y|1\nz, w|2\n", -1, '|', -1, 1, -1, -1, -1, 2, {"a:string", "b:integer"}},
    {"other_character", "k^v\nx^1\ny^2\n", -1, '^', -1, 1, -1, -1, -1, 2, {}},
    {"one_column_keeps_commas",
     "text\nhello, world\nbye\n",
     -1,
     '\t',
     -1,
     -1,
     -1,
     -1,
     -1,
     -1,
     {"text:string"}},
    // Quotes.
    {"double_quote", "n,t\n1,\"a,b\"\n2,\"c \"\"d\"\"\"\n", -1, ',', '"', 1, 1, 0, -1, 2, {}},
    {"single_quote", "n,t\n1,'a,b'\n2,'c,d'\n", -1, ',', '\'', 1, 1, 0, -1, 2, {}},
    {"no_quote_used", "n,t\n1,it's\n2,ok\n", -1, ',', '"', 1, -1, -1, -1, 2, {}},
    {.name = "one_value_in_apostrophes",
     .bytes = "n,t\n1,a\n2,b\n3,c\n4,d\n5,e\n6,f\n7,g\n8,h\n9,i\n10,'Hello'\n11,k\n12,l\n",
     .quote = '"',
     .types = {}},
    // Encodings.
    {"utf8_bom",
     "\xEF\xBB\xBFid,v\n1,x\n",
     65001,
     ',',
     -1,
     1,
     1,
     -1,
     -1,
     1,
     {"id:integer", "v:string"}},
    {"utf16le_bom",
     "\xFF\xFE" + u16le("id,v\n1,x\n2,y\n"),
     1200,
     ',',
     -1,
     1,
     1,
     -1,
     -1,
     2,
     {"id:integer", "v:string"}},
    {"utf16be_no_bom",
     u16be("id,v\n1,x\n2,y\n"),
     1201,
     ',',
     -1,
     1,
     1,
     -1,
     -1,
     2,
     {"id:integer", "v:string"}},
    {"utf32le_no_bom", u32le("id,v\n1,x\n2,y\n"), 12000, ',', -1, 1, 1, -1, -1, 2, {}},
    // Too few Latin characters for the NUL pattern; every unit is a character of the one order.
    {.name = "utf16le_no_bom_not_latin",
     .bytes = utf16(u"名字,城市\n张伟,北京\n", false),
     .encoding = 1200,
     .delimiter = ',',
     .rows = 1,
     .types = {}},
    {.name = "utf16be_no_bom_not_latin",
     .bytes = utf16(u"Имя,Город\nИван,Москва\n", true),
     .encoding = 1201,
     .delimiter = ',',
     .rows = 1,
     .types = {}},
    {"windows1252", "id,city\n1,K\xF6ln\n2,\x80 5\n", 1252, ',', -1, 1, 1, -1, -1, 2, {}},
    {"windows1252_past_the_head",
     "id,v\n" +
         [] {
             std::string lines;
             for (int i = 0; i < 20000; ++i)
                 lines += "1,abc\n";
             return lines;
         }() +
         "2,K\xF6ln\n",
     1252,
     ',',
     -1,
     1,
     1,
     -1,
     -1,
     20001,
     {"id:integer", "v:string"}},
    {"latin1_when_not_1252", "id,c\n1,\x81x\n", 28591, ',', -1, -1, -1, -1, -1, -1, {}},
    // Header, head lines, line breaks inside quotes, blanks.
    {"no_header",
     "1,2.5\n3,4.5\n",
     -1,
     ',',
     -1,
     0,
     0,
     -1,
     -1,
     2,
     {"column_1:integer", "column_2:real"}},
    {"head_lines",
     "Sales report\nmade today\nid,amount\n1,2.5\n2,3\n",
     -1,
     ',',
     -1,
     1,
     3,
     -1,
     -1,
     2,
     {"id:integer", "amount:real"}},
    {"header_with_trailing_delimiter",
     "a,b,c,\n1,2,3\n4,5,6\n",
     -1,
     ',',
     -1,
     1,
     1,
     -1,
     -1,
     2,
     {"a:integer", "b:integer", "c:integer", "column_4:string"}},
    {"quoted_line_break",
     "id,text\n1,\"a\nb\"\n2,c\n",
     -1,
     ',',
     '"',
     1,
     1,
     1,
     -1,
     2,
     {"id:integer", "text:string"}},
    {"blanks_that_matter", "id,name\n1, ann\n2,bob \n3,cy\n", -1, ',', -1, 1, -1, -1, 1, 3, {}},
    {"blank_after_every_delimiter",
     "id, name, city\n1, ann, x\n2, bob, y\n",
     -1,
     ',',
     -1,
     1,
     -1,
     -1,
     0,
     2,
     {"id:integer", "name:string", "city:string"}},
    {"blanks_before_quotes",
     "id, name\n1, \"ann\"\n2, \"bob\"\n",
     -1,
     ',',
     '"',
     1,
     -1,
     -1,
     0,
     2,
     {}},
    // Types and date orders.
    {"types",
     "b,i,r,d,dt\nyes,-3,1.5,2024-01-31,2024-01-31 "
     "10:00\nNo,12,2e3,2023-12-01,2023-12-01T08:30:00\n",
     -1,
     ',',
     -1,
     1,
     1,
     -1,
     -1,
     2,
     {"b:boolean", "i:integer", "r:real", "d:date", "dt:date"},
     TypeMode::Loose},
    {"date_orders",
     "m,d,y\n1/18/2018,18/1/2018,2018/01/18\n2/3/2018,3/2/2018,2018/2/3\n",
     -1,
     ',',
     -1,
     1,
     1,
     -1,
     -1,
     2,
     {"m:date_mdy", "d:date_dmy", "y:date_ymd"},
     TypeMode::Loose},
    {"ambiguous_date_order", "d\n1/2/2018\n3/4/2019\n", -1, -1, -1, 1, -1, -1, -1, 2, {"d:string"}},
    {"numeric_but_one",
     "n,m\n1,x\n2,y\nthree,z\n",
     -1,
     ',',
     -1,
     1,
     -1,
     -1,
     -1,
     3,
     {"n:string", "m:string"}},
    {"lossy_numbers_stay_text",
     "zip,big,plus,ones\n07720,123456789012345678901,+5,0\n01640,2,+6,1\n",
     -1,
     ',',
     -1,
     1,
     -1,
     -1,
     -1,
     2,
     {"zip:string", "big:string", "plus:string", "ones:integer"}},
    // Reals at full precision (the shortest text of a double, up to 17 digits) are numbers, so
    // a first line of them is data; a text that a double cannot give back as it stands is not.
    {"full_precision_reals",
     "0.21672980046384815,249.33071444268663,0.10000000000000001\n"
     "0.8724077654368019,58.61412585033708,0.5\n",
     -1,
     ',',
     -1,
     0,
     0,
     -1,
     -1,
     2,
     {"column_1:real", "column_2:real", "column_3:string"}},
    // A real of more digits than the shortest of its double reads rounded (the run says so):
    // even a loose type keeps such a column a string.
    {"reals_beyond_a_double",
     "a,b\n0.10000000000000001,0.123456789012345678\n0.5,0.5\n",
     -1,
     ',',
     -1,
     1,
     1,
     -1,
     -1,
     2,
     {"a:string", "b:string"},
     TypeMode::Loose},
    // A line of one empty value, as writers quote it: the quote is known by that alone.
    {"quoted_empty_values_only", "h\n1\n\"\"\n2\n", -1, -1, '"', 1, 1, -1, -1, 3, {"h:integer"}},
    // Tabs and one comma on every line split alike: the delimiter gives more fields.
    {"tabs_with_a_comma_on_every_line",
     "name, full\tcity\tn\nSmith, Ann\tOslo\t1\nDoe, Jo\tRome\t2\n",
     -1,
     '\t',
     -1,
     1,
     1,
     -1,
     -1,
     2,
     {}},
    // A first line that names the delimiter, for spreadsheets, is skipped.
    {"delimiter_named_on_the_first_line",
     "sep=;\r\na;b\r\n1;x\r\n2;y\r\n",
     -1,
     ';',
     -1,
     1,
     2,
     -1,
     -1,
     2,
     {"a:integer", "b:string"}},
    // A quote that never closes, opened within the lines the dialect is chosen from and left
    // open past them: each line is a row, not a failure at the end of the file.
    {.name = "quote_that_never_closes_far_from_the_end",
     .bytes = "a,b\n1,\"abc\n" + repeated("x,y\n", 2100),
     .newlines = 0,
     .rows = 2101,
     .types = {}},
    // The end-of-file byte of old exports after a short text: text all the same.
    {.name = "end_of_file_byte_after_short_text",
     .bytes = "a,b\r\n1,2\r\n3,4\r\n\x1A",
     .newlines = 0,
     .rows = -1,
     .types = {}},
    // The same where a blank after a closing quote has the file read again keeping blanks.
    {.name = "quote_that_never_closes_after_kept_blanks",
     .bytes = "id,c\n1,\"a\nb\" \n2,\"oops\n",
     .newlines = 0,
     .rows = 3,
     .types = {}},
    // An underscore at the edges of two values on two lines is text, not a quote joining them.
    {.name = "underscores_at_value_edges_join_no_lines",
     .bytes = "a,b,c\n_,x,1\ny_,z,2\n_pq_,r,3\ns,t,4\n",
     .quote = '"',
     .rows = 4,
     .types = {}},
    // A title above the table is skipped whatever follows the table: a blank line, a total.
    {.name = "title_above_and_lines_below_the_table",
     .bytes = "Report 2024\nname,city,amount\nAl,Rome,1.5\nBo,Oslo,2.5\nCy,Lima,3\n\nTotal 7\n",
     .delimiter = ',',
     .header = 1,
     .skipRows = 2,
     .types = {"name:string", "city:string", "amount:real"}},
    // A blank line between groups of rows, or before a total, does not make the table ragged.
    {.name = "title_above_a_table_with_a_blank_line_inside",
     .bytes = "Sales by region\nName;Town;Amount\nA;B;1\nC;D;2\n\nE;F;3\nG;H;4\n",
     .delimiter = ';',
     .header = 1,
     .skipRows = 2,
     .types = {"Name:string", "Town:string", "Amount:integer"}},
    // A symbol once on every line is part of the values: one column, nothing split off.
    {.name = "percent_sign_in_every_value",
     .bytes = "pct\n12%\n50%\n7.5%\n",
     .header = 1,
     .rows = 3,
     .types = {"pct:string"}},
    {.name = "at_sign_in_every_value",
     .bytes = "email\nann@example.com\nbo@example.org\n",
     .header = 1,
     .rows = 2,
     .types = {"email:string"}},
    // Twice or more on every line, it is the file's delimiter.
    {.name = "tilde_between_three_fields",
     .bytes = "a~b~c\n1~x~2\n3~y~4\n",
     .delimiter = '~',
     .header = 1,
     .rows = 2,
     .types = {"a:integer", "b:string", "c:integer"}},
    // Some writers quote it: the same file.
    {.name = "delimiter_named_in_quotes",
     .bytes = "\"sep=;\"\na;b\n1;x\n2;y\n",
     .delimiter = ';',
     .header = 1,
     .skipRows = 2,
     .rows = 2,
     .types = {"a:integer", "b:string"}},
    {"empty_column",
     "a,b,c\n1,,x\n2,,y\n",
     -1,
     ',',
     -1,
     1,
     -1,
     -1,
     -1,
     2,
     {"a:integer", "b:string", "c:string"}},
    {"header_names_made_unique",
     "a,a,,A,column_3\n1,2,3,4,5\n",
     -1,
     ',',
     -1,
     1,
     -1,
     -1,
     -1,
     1,
     {"a:integer", "a_2:integer", "column_3_2:integer", "A_3:integer", "column_3:integer"}},
    {"one_line_header", "id,name\n", -1, ',', -1, 1, 1, -1, -1, 0, {"id:string", "name:string"}},
    {"one_line_data",
     "1,2,3\n",
     -1,
     ',',
     -1,
     0,
     0,
     -1,
     -1,
     1,
     {"column_1:integer", "column_2:integer", "column_3:integer"}},
    {"no_final_line_end", "id,v\r\n1,x\r\n2,y", -1, ',', -1, 1, 1, -1, -1, 2, {}},
    {"more_fields_than_header",
     "a,b\n1,2\n3,4,5\n",
     -1,
     ',',
     -1,
     1,
     -1,
     -1,
     -1,
     2,
     {"a:integer", "b:integer", "column_3:integer"}},
    // Quote characters: any punctuation that encloses whole values, doubled inside them.
    {"tilde_quote",
     "~id~,~t~\n~1~,~a,b~\n~2~,~c~~d~\n~3~,~e~\n",
     -1,
     ',',
     '~',
     1,
     1,
     0,
     -1,
     3,
     {"id:integer", "t:string"}},
    {"double_quote_preferred",
     "\"a\",\"b\"\n\"x\",\"~1~\"\n\"y\",\"~2~\"\n",
     -1,
     ',',
     '"',
     1,
     1,
     -1,
     -1,
     2,
     {"a:string", "b:string"}},
    {"doubled_quote_before_delimiter",
     "n,t\n1,\"x\"\",y\"\n2,\"z\"\n",
     -1,
     ',',
     '"',
     1,
     1,
     0,
     -1,
     2,
     {"n:integer", "t:string"}},
    {"sample_ends_inside_quoted_value",
     "id,t\n1,\"" +
         [] {
             std::string lines;
             for (int i = 0; i < 2500; ++i)
                 lines += "line\n";
             return lines;
         }() +
         "\"\n2,x\n",
     -1,
     ',',
     '"',
     1,
     1,
     1,
     -1,
     2,
     {"id:integer", "t:string"}},
    // Head lines above the header: titles, notes and blank lines.
    {"head_lines_half_the_sample",
     "Title\nNotes\nMore\nid,v\n1,x\n2,y\n",
     -1,
     ',',
     -1,
     1,
     4,
     -1,
     -1,
     2,
     {"id:integer", "v:string"}},
    {"head_lines_padded_with_delimiters",
     "Report,,\n,,\nid,name,v\n1,a,x\n2,b,y\n",
     -1,
     ',',
     -1,
     1,
     3,
     -1,
     -1,
     2,
     {"id:integer", "name:string", "v:string"}},
    {"year_header_after_preamble",
     "\"Source\",\"Indicators\",\n\n\"Updated\",\"2021-06-30\",\n\n"
     "\"Country\",\"1960\",\"1961\",\"1962\",\"Note\"\n\"Aruba\",\"\",\"1.5\",\"\",\"\"\n"
     "\"Chad\",\"3.25\",\"\",\"\",\"b\"\n",
     -1,
     ',',
     '"',
     1,
     5,
     -1,
     -1,
     2,
     {"Country:string", "1960:real", "1961:real", "1962:string", "Note:string"}},
    // Types: by default only those that write each value back as it stands.
    {"types_written_back",
     "a,b,c,d,e,f\n3.280,TRUE,-0,9999999999999999999,2024-01-31,0.5\n"
     "1.000,FALSE,1,1,2024-02-01,1.25\n",
     -1,
     ',',
     -1,
     1,
     1,
     -1,
     -1,
     2,
     {"a:string", "b:string", "c:real", "d:string", "e:date", "f:real"}},
    {"types_read_loosely",
     "a,b,c,d,e,f\n3.280,TRUE,-0,9999999999999999999,2024-01-31,0.5\n"
     "1.000,FALSE,1,1,2024-02-01,1.25\n",
     -1,
     ',',
     -1,
     1,
     1,
     -1,
     -1,
     2,
     {"a:real", "b:boolean", "c:real", "d:string", "e:date", "f:real"},
     TypeMode::Loose},
    // Blanks after delimiters are layout when nine in ten values have exactly one.
    {"one_blank_after_nine_in_ten",
     "k, v\n" + repeated("1, x\n", 8) + "2,y\n",
     -1,
     ',',
     -1,
     1,
     1,
     -1,
     0,
     9,
     {}},
    {"one_blank_after_eight_in_ten",
     "k, v\n" + repeated("1, x\n", 7) + repeated("2,y\n", 2),
     -1,
     ',',
     -1,
     1,
     1,
     -1,
     1,
     9,
     {}},
};

void PrintTo(const Case& c, std::ostream* out) {
    constexpr size_t kShown = 40;
    *out << testfiles::printable(std::string_view(c.bytes).substr(0, kShown))
         << (c.bytes.size() > kShown ? "..." : "");
}

class InferDetect : public ::testing::TestWithParam<Case> {};

TEST_P(InferDetect, FindsTheLayout) {
    const Case& c = GetParam();
    testfiles::TempDir dir;
    const std::string path = dir.file("data.csv");
    testfiles::writeFile(path, c.bytes);
    InferOptions options;
    options.types = c.mode;
    const FileLayout layout = textjob::infer::inferLayout(path, options);
    if (c.encoding != -1) {
        EXPECT_EQ(layout.encoding.number, c.encoding);
    }
    if (c.delimiter != -1) {
        EXPECT_EQ(layout.delimiter, c.delimiter);
    }
    if (c.quote != -1) {
        EXPECT_EQ(layout.quote, c.quote);
    }
    if (c.header != -1) {
        EXPECT_EQ(layout.header, c.header == 1);
    }
    if (c.skipRows != -1) {
        EXPECT_EQ(layout.skipRows, c.skipRows);
    }
    if (c.newlines != -1) {
        EXPECT_EQ(layout.newlinesInValues, c.newlines == 1);
    }
    if (c.preserve != -1) {
        EXPECT_EQ(layout.preserveWhitespace, c.preserve == 1);
    }
    if (c.rows != -1) {
        EXPECT_EQ(layout.rows, static_cast<uint64_t>(c.rows));
    }
    if (!c.types.empty()) {
        std::vector<std::string> types;
        for (const auto& column : layout.columns)
            types.push_back(column.name + ":" + column.type);
        EXPECT_EQ(types, c.types);
    }
}

INSTANTIATE_TEST_SUITE_P(Files, InferDetect, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(InferDetect, RefusesFilesWithNothingToRead) {
    const struct {
        const char* name;
        std::string bytes;
        const char* says;
        std::string encoding = {};        ///< given
        std::string encodingOption = {};  ///< of the command that asks
    } cases[] = {
        {"empty", "", "empty"},
        {"binary",
         std::string("\x7F"
                     "ELF\x02\x01\x01\0\0\0\0\0\0\0\0\0\x03\0>\0",
                     20),
         "not text"},
        {"only_a_mark", "\xEF\xBB\xBF", "no line"},
        // A bad byte further on, read in pieces: its line, and how to give the encoding.
        {"bad_byte_after_a_mark", "\xEF\xBB\xBFid,name\n1,a\n2,b\n3,Jos\xE9\n",
         "at line 4, byte offset 24: its start says UTF-8 (byte-order mark EF BB BF) but the bytes "
         "there are not; fix them, or give the file's encoding (such as 1252 or latin1) with "
         "--input-encoding",
         "", "--input-encoding"},
        {"bad_unit_in_utf16",
         u16le("id,name\n1,ab\n2,cd\n") + std::string("\0\xD8", 2) + u16le("x\n"),
         "at line 4, byte offset 36: its start says UTF-16LE", "", "--encoding"},
        {"bad_byte_in_the_encoding_given", "id,name\n1,a\n2,b\n3,Jos\xE9\n",
         "at line 4, byte offset 21: the file is not UTF-8 throughout; give the file's encoding, "
         "such as 1252 or latin1 (infer --encoding, convert --input-encoding)",
         "UTF-8"},
        // Units of UTF-16 characters but one, and its line ends: what it may be.
        {"utf16_but_for_a_unit",
         utf16(u"名字城市地址,电话号码\n张伟北京大街,一二\u0001四\n张伟北京大街,一二三四\n", false),
         "it may be UTF-16LE text without a byte-order mark: if so, give --encoding UTF-16LE", "",
         "--encoding"},
    };
    for (const auto& c : cases) {
        testfiles::TempDir dir;
        const std::string path = dir.file("data");
        testfiles::writeFile(path, c.bytes);
        InferOptions options;
        options.encoding = c.encoding;
        options.encodingOption = c.encodingOption;
        try {
            textjob::infer::inferLayout(path, options);
            ADD_FAILURE() << c.name << ": no error";
        } catch (const InferError& e) {
            EXPECT_NE(std::string(e.what()).find(c.says), std::string::npos)
                << c.name << ": " << e.what();
        }
    }
}

TEST(InferDetect, SplitHeaderVotesAreReportedAsUnsure) {
    testfiles::TempDir dir;
    const std::string path = dir.file("data.csv");
    // Year names over columns of numbers: two columns say data, one says header.
    testfiles::writeFile(path, "id,2019,2020\n1,5,6\n2,7,8\n");
    const FileLayout layout = textjob::infer::inferLayout(path, InferOptions{});
    bool unsure = false;
    for (const std::string& note : layout.notes) {
        if (note.find("--header") != std::string::npos) unsure = true;
    }
    EXPECT_TRUE(unsure);
}

TEST(InferDetect, TextModeMakesEveryColumnAString) {
    testfiles::TempDir dir;
    const std::string path = dir.file("data.csv");
    testfiles::writeFile(path, "id,when\n1,2024-01-02\n22,2024-02-03\n");
    InferOptions options;
    options.types = textjob::infer::TypeMode::Text;
    const FileLayout layout = textjob::infer::inferLayout(path, options);
    ASSERT_EQ(layout.columns.size(), 2u);
    for (const auto& column : layout.columns) {
        EXPECT_EQ(column.type, "string");
        EXPECT_GE(column.maxLength, column.longestChars);
    }
    EXPECT_EQ(layout.columns[0].longestChars, 2);
    EXPECT_EQ(layout.columns[1].longestChars, 10);
}

TEST(InferDetect, LengthsCountCharactersAndWidthsBytes) {
    testfiles::TempDir dir;
    const std::string path = dir.file("data.csv");
    // "Páramo" is 6 characters and 7 bytes; 1e5 is written 100000; yes is written true.
    testfiles::writeFile(path, "t,r,b\nPáramo,1e5,yes\nab,2.5,no\n");
    InferOptions options;
    options.types = textjob::infer::TypeMode::Loose;
    const FileLayout layout = textjob::infer::inferLayout(path, options);
    ASSERT_EQ(layout.columns.size(), 3u);
    EXPECT_EQ(layout.columns[0].longestChars, 6);
    EXPECT_EQ(layout.columns[0].outputWidth, 7);
    EXPECT_GT(layout.columns[0].maxLength, 6);
    EXPECT_EQ(layout.columns[1].outputWidth, 6);
    EXPECT_EQ(layout.columns[2].outputWidth, 5);
}

TEST(InferDetect, HeaderOptionsChooseTheHeaderLine) {
    const struct {
        int headerLine;
        bool noHeader;
        bool header;
        int skipRows;
        const char* firstName;
    } cases[] = {
        {0, false, true, 3, "id"},  // found: below the two head lines
        {3, false, true, 3, "id"},
        {4, false, true, 4, "1"},
        {0, true, false, 0, "column_1"},  // no header: every line is data, "Title" too
    };
    testfiles::TempDir dir;
    const std::string path = dir.file("data.csv");
    testfiles::writeFile(path, "Title\n\nid,v\n1,x\n2,y\n3,z\n");
    for (const auto& c : cases) {
        InferOptions options;
        options.headerLine = c.headerLine;
        options.noHeader = c.noHeader;
        const FileLayout layout = textjob::infer::inferLayout(path, options);
        EXPECT_EQ(layout.header, c.header) << c.headerLine;
        EXPECT_EQ(layout.skipRows, c.skipRows) << c.headerLine;
        ASSERT_FALSE(layout.columns.empty());
        EXPECT_EQ(layout.columns[0].name, c.firstName) << c.headerLine;
    }
}

std::string farQuoteFile(const char* value) {
    std::string bytes = "id,name\n";
    for (int i = 1; i <= 3000; ++i)
        bytes += std::to_string(i) + (i == 2500 ? value : ",\"n\"\n");
    return bytes;
}

// What detection decides but cannot be sure of is said in a note: of two delimiters that split
// every record alike, the one not taken (values may hold the one taken: addresses with commas,
// decimal commas); values that lose more blanks than the one after each delimiter taken for
// layout; a quoted value that spans lines only past the lines the dialect is chosen from; a
// stray quote, whose line is read alone, there or among those lines.
TEST(InferDetect, NotesSayWhatDetectionCouldNotBeSureOf) {
    const std::pair<std::string, std::string> cases[] = {
        {"1\tAnn\tMain St, Oslo\n2\tBo\tElm Rd, Rome\n", "TAB and ',' split every record"},
        {"1,5;2,5\n3,25;4,75\n10,0;11,5\n",
         "give the delimiter ';' (infer --delimiter, convert --input-delimiter)"},
        {"id, name\n1, Ann\n2,   Bob\n3, Cy  \n4, Di\n5, Ed\n6, Fa\n7, Gi\n8, Ho\n9, Io\n10, Ju\n",
         "2 values lose blanks besides the one after the delimiter"},
        {farQuoteFile(",\"Smith\nJones\"\n"), "spans lines first in row 2500"},
        // A quote that opens a value the next line's quote closes, text after it: stray.
        {farQuoteFile(",\"Smith\n"), "in row 2500 closes it neither on that line nor cleanly"},
        {"id,name\n1,\"a, b\"\n2,\"Smith\n3,\"c, d\"\n",
         "on line 3 closes it neither on that line nor cleanly"},
        // Where other values hold line breaks, the run joins the stray one's lines: said so.
        {"id,c\n1,\"a\nb\"\n2,\"oops\n3,\"c\nd\"\n",
         "the run reads such a value on over the lines after it, up to the next quote"},
        // One still open at the end has each line read as a row, which splits those values.
        {"id,c\n1,\"a\nb\"\n2,\"oops\n", "the values that hold line breaks are split at them"},
        // Why a column of typed values is a string: the first value that no type reads.
        {"id,day\n1,2023-02-28\n2,2023-02-29\n3,2023-03-01\n",
         "column day: kept as string: the values before 2023-02-29 read as dates, but it does not"},
        {"id,zip\n1,02134\n2,10001\n",
         "column zip: kept as string: 02134 would be written 2134 as a number"},
        // One that reads as a number after others that do is said to be written otherwise.
        {"id,n\n1,7\n2,+5\n", "column n: kept as string: +5 would be written 5 as a number"},
        // What a value would become is said in the order the loose type reads it.
        {"id,d\n1,05/01/2024\n2,31/12/2023\n",
         "05/01/2024 would be written 2024-01-05 (--types loose reads it as date_dmy)"},
        {"id,name\n1,caf\xC3\xA9\n2,na\xEFve\n",
         "the file is UTF-8 but for 1 byte (the first at line 3, byte offset 20): read as "
         "windows-1252, its one UTF-8 character"},
        {"id,name\n" + repeated("1,abc\n", 20000) + repeated("2,caf\xC3\xA9\n", 3) + "3,na\xEFve\n",
         "the file is UTF-8 but for 1 byte (the first at line 20005, byte offset 120036)"},
    };
    testfiles::TempDir dir;
    const std::string path = dir.file("data.csv");
    for (const auto& [bytes, note] : cases) {
        testfiles::writeFile(path, bytes);
        const FileLayout layout = textjob::infer::inferLayout(path, InferOptions{});
        const auto said = [&](const std::string& text) {
            return text.find(note) != std::string::npos;
        };
        EXPECT_TRUE(std::any_of(layout.notes.begin(), layout.notes.end(), said)) << note;
        EXPECT_FALSE(layout.preserveWhitespace) << note;
        EXPECT_EQ(layout.newlinesInValues,
                  note.starts_with("spans") || note.starts_with("the run reads"))
            << note;
    }
}

TEST(InferDetect, ReportsHeaderNamesAndLineEndsAsTheFileHasThem) {
    testfiles::TempDir dir;
    const std::string path = dir.file("data.csv");
    // The header name holds an LF inside quotes; the records end in CR LF.
    testfiles::writeFile(path, "\"a\nb\",c\r\n1,x\r\n2,y\r\n");
    const FileLayout layout = textjob::infer::inferLayout(path, InferOptions{});
    ASSERT_EQ(layout.columns.size(), 2u);
    EXPECT_EQ(layout.columns[0].heading, "a\nb");
    EXPECT_EQ(layout.lineEnds.crlf, 3u);
    EXPECT_EQ(layout.lineEnds.lf, 0u);
    EXPECT_TRUE(layout.newlinesInValues);
}

// A file of more columns than detection describes is refused, the widest lines split no
// further than that.
TEST(InferDetect, RefusesMoreColumnsThanItDescribes) {
    testfiles::TempDir dir;
    const std::string path = dir.file("wide.csv");
    for (const size_t commas : {size_t{250000}, size_t{3000000}}) {
        testfiles::writeFile(path, repeated("x,", 250000) + "x\n" + repeated("1,", commas) + "1\n");
        try {
            textjob::infer::inferLayout(path, InferOptions{});
            ADD_FAILURE() << "accepted";
        } catch (const InferError& e) {
            EXPECT_NE(std::string(e.what()).find("more columns than the 250000"), std::string::npos)
                << e.what();
        }
    }
}

TEST(InferDetect, BlanksFarIntoTheFileAreStillKept) {
    testfiles::TempDir dir;
    const std::string path = dir.file("data.csv");
    std::string text = "id,name\n";
    for (int i = 0; i < 5000; ++i)
        text += std::to_string(i) + ",name" + std::to_string(i) + "\n";
    text += "5000,trailing \n";
    testfiles::writeFile(path, text);
    const FileLayout layout = textjob::infer::inferLayout(path, InferOptions{});
    EXPECT_TRUE(layout.preserveWhitespace);
    EXPECT_EQ(layout.columns[1].longestChars, 9);
}

TEST(InferDetect, SampleBytesReadsPartOfTheFile) {
    testfiles::TempDir dir;
    const std::string path = dir.file("data.csv");
    std::string text = "id,v\n";
    for (int i = 0; i < 20000; ++i)
        text += std::to_string(i) + ",x\n";
    text += "20000,not a number either\n";
    testfiles::writeFile(path, text);
    InferOptions options;
    options.sampleBytes = 4096;
    const FileLayout layout = textjob::infer::inferLayout(path, options);
    EXPECT_FALSE(layout.wholeFile);
    EXPECT_LT(layout.rows, 20000u);
    EXPECT_FALSE(layout.notes.empty());

    // A first line longer than the sample is still read whole, with a row after it, plain and
    // compressed (where the limit counts the compressed bytes).
    std::string wide = "c0";
    for (int c = 1; c < 1000; ++c)
        wide += ",c" + std::to_string(c);
    testfiles::writeFile(path, wide + "\n" + std::string(999, ',') + "\n");
    ASSERT_EQ(std::system(("gzip -kf '" + path + "'").c_str()), 0);
    for (const std::string& file : {path, path + ".gz"}) {
        const FileLayout layout = textjob::infer::inferLayout(file, options);
        EXPECT_EQ(layout.columns.size(), 1000u) << file;
        EXPECT_EQ(layout.rows, 1u) << file;
    }
}

TEST(InferDetect, NulPaddedTextReadsTheNulsAsBlanks) {
    testfiles::TempDir dir;
    const std::string path = dir.file("data.txt");
    testfiles::writeFile(path, std::string("Ann\0\0\0 12\nBobby\0 34\n", 20));
    InferOptions options;
    options.fixedWidth = true;
    const FileLayout layout = textjob::infer::inferLayout(path, options);
    EXPECT_TRUE(layout.encoding.nulsAsBlanks);
    ASSERT_EQ(layout.columns.size(), 2u);
    EXPECT_EQ(layout.columns[0].startPos, 1);
    EXPECT_EQ(layout.columns[0].longestChars, 5);
    EXPECT_EQ(layout.columns[1].startPos, 8);
    EXPECT_EQ(layout.columns[1].type, "integer");

    // One NUL in a short delimited file is no sign of UTF-16: too few units show the pattern.
    testfiles::writeFile(path, std::string("id,name\n1,a\0b\n2,c\n", 18));
    const FileLayout shortFile = textjob::infer::inferLayout(path, InferOptions{});
    EXPECT_EQ(shortFile.encoding.number, 65001) << shortFile.encoding.name;
    EXPECT_EQ(shortFile.columns.size(), 2u);
}

TEST(InferDetect, FixedWidthColumnsAtSharedBlanksAndDigitChanges) {
    const struct {
        const char* name;
        std::string bytes;
        std::vector<std::string> columns;  ///< name:type:start:length
        int skipRows;
        std::string note = {};  ///< a note the report must give
    } cases[] = {
        {"header_and_blanks",
         "NAME   AGE CITY\nBob     42 Oslo\nAlice  123 Rome\n",
         {"NAME:string:1:7", "AGE:integer:8:4", "CITY:string:12:4"},
         1},
        {"text_then_digits",
         "ABC123\nDEF456\nGHI789\n",
         {"column_1:string:1:3", "column_2:integer:4:3"},
         0},
        {"multibyte_text_counts_bytes",
         "Zoë 1\nAnna 2\n",
         {"column_1:string:1:5", "column_2:integer:6:1"},
         0},
        // A title and a rule of dashes above the values; the rule marks the columns.
        {"title_header_and_rule",
         "Cities, 2024\n\nCity       Population\n---------- ----------\nOslo           709037\n"
         "Sao Paulo    12325232\n",
         {"City:string:1:11", "Population:integer:12:10"},
         4},
        // A number wider than its run of the rule begins in the blanks before it: its column
        // does too, so that its sign stays with it.
        {"value_wider_than_its_rule",
         "Item    Amount\n------  ------\nApple     1.50\nPear   -100.25\nFig      12.00\n",
         {"Item:string:1:7", "Amount:string:8:7"},
         2},
        // A title that runs across the blanks between columns is a head line.
        {"title_across_the_blanks",
         "Quarterly totals for all the regions\n" +
             repeated("North   12  x\nSouth    7  y\nEast   130  z\n", 3),
         {"column_1:string:1:7", "column_2:integer:8:5", "column_3:string:13:1"},
         1},
        // A first value longer than those below runs into the blanks after its column, but
        // not onto the blank before the next one: the line is data, not a title.
        {"longest_value_on_the_first_line",
         "Alexandrina 12\n" + repeated("Bob         7\nCy          9\n", 4),
         {"column_1:string:1:12", "column_2:integer:13:2"},
         0},
        // Values are cut at positions of the file: a letter of two UTF-8 bytes is one byte of a
        // windows-1252 file. (Cut a byte early, 12.50 would read 12.5, and the column real.)
        {"one_byte_encoding_cut_by_characters",
         "Zo\xEB  12.50\nAnna 3.25 \nBo   1.75 \n",
         {"column_1:string:1:5", "column_2:string:6:5"},
         0},
        {"utf8_cut_by_bytes",
         "Zo\xC3\xAB 12.50\nAnna 3.25 \nBo   1.75 \n",
         {"column_1:string:1:5", "column_2:string:6:5"},
         0},
        // The blank between a date and its time of day, on every line, parts no columns, nor
        // do the digits after a time's last colon begin right-aligned numbers.
        {"dates_with_times",
         "1 2024-02-29 13:00:00 x\n2 2024-03-01 07:15:09 y\n3 2024-03-02 23:59:58 z\n",
         {"column_1:integer:1:2", "column_2:date:3:20", "column_3:string:23:1"},
         0},
        // Lined up by characters, not bytes: the columns are found at byte positions, and a
        // note says so.
        {"lined_up_by_characters",
         "Name   City\nAnna   Oslo\nJ\xC3\xB6rg   Bonn\nBo     Rome\n",
         {"Name:string:1:7", "City:string:8:5"},
         1,
         "they seem to line up by characters"},
        // Right-aligned numbers right after left-aligned text begin where the widest begins.
        {"right_aligned_numbers_after_text",
         "NAME      QTY\nAlexandria 12\nBob       123\nCy          5\n",
         {"NAME:string:1:10", "QTY:integer:11:3"},
         1},
        // Right-aligned texts that stay strings keep their padding, and a note says so.
        {"right_aligned_strings",
         "name   code  price\nalpha   007  1.50\nbeta   0123 12.25\ngamma    12  3.00\n",
         {"name:string:1:7", "code:string:8:5", "price:string:13:6"},
         1,
         "column code: 2 values keep the blanks that pad them on the left"},
    };
    for (const auto& c : cases) {
        testfiles::TempDir dir;
        const std::string path = dir.file("data.txt");
        testfiles::writeFile(path, c.bytes);
        InferOptions options;
        options.fixedWidth = true;
        const FileLayout layout = textjob::infer::inferLayout(path, options);
        std::vector<std::string> columns;
        for (const auto& col : layout.columns) {
            columns.push_back(col.name + ":" + col.type + ":" + std::to_string(col.startPos) + ":" +
                              std::to_string(col.length));
        }
        EXPECT_EQ(columns, c.columns) << c.name;
        EXPECT_EQ(layout.skipRows, c.skipRows) << c.name;
        // The note a case expects; the one of lines lined up by characters only where expected.
        for (const std::string& note : {c.note, std::string("line up by characters")}) {
            if (note.empty()) continue;
            const bool said = std::any_of(
                layout.notes.begin(), layout.notes.end(),
                [&](const std::string& n) { return n.find(note) != std::string::npos; });
            EXPECT_EQ(said, c.note.find(note) != std::string::npos) << c.name << ": " << note;
        }
    }
}

}  // namespace

namespace {

// A real column takes a whole number of up to 15 digits as written back as it stands without
// writing it: the formatter must give every such number back, with or without its sign.
TEST(InferValues, WholeNumbersOfUpToFifteenDigitsWriteBackAsReals) {
    std::mt19937_64 random(15);
    std::uniform_int_distribution<int> digit(0, 9);
    for (int digits = 1; digits <= 15; ++digits) {
        for (int k = 0; k < 300; ++k) {
            std::string text(1, static_cast<char>('1' + digit(random) % 9));
            while (static_cast<int>(text.size()) < digits)
                text += static_cast<char>('0' + digit(random));
            // Trailing zeros too: 1000 must not come back as 1e+03.
            if (k % 3 == 0) text.replace(text.size() / 2, std::string::npos, (digits + 1) / 2, '0');
            for (const std::string& value : {text, "-" + text}) {
                ASSERT_EQ(textjob::infer::writtenAs(value, textjob::infer::kReal), value);
            }
        }
    }
    EXPECT_EQ(textjob::infer::writtenAs("0", textjob::infer::kReal), "0");
}

}  // namespace

namespace {

// A file read in two parts side by side: each column's statistics of the first part, with
// those of the second appended, decide as those of the whole file read in one pass, report
// included (its value is the first that loses a type in the whole file).
TEST(InferValues, PartsAppendedDecideAsOnePass) {
    using textjob::infer::ColumnStats;
    using textjob::infer::TypeMode;
    const std::vector<std::string> pool = {"1",
                                           "-7",
                                           "007",
                                           "3.280",
                                           "2.5",
                                           "1e5",
                                           "0.1",
                                           "true",
                                           "TRUE",
                                           "f",
                                           "2024-01-31",
                                           "2024-1-31",
                                           "1/2/2024",
                                           "13/2/2024",
                                           "x",
                                           "",
                                           "-0",
                                           "99999999999999999999",
                                           "2024-01-31 10:00:00",
                                           "3.28",
                                           "12.000",
                                           "0.10000000000000001"};
    std::mt19937 random(7);
    for (int round = 0; round < 3000; ++round) {
        std::vector<std::string> values(1 + random() % 12);
        for (std::string& v : values)
            v = pool[random() % pool.size()];
        const size_t split = random() % (values.size() + 1);
        ColumnStats whole;
        ColumnStats first;
        ColumnStats second;
        second.keepLosses();
        for (size_t i = 0; i < values.size(); ++i) {
            whole.observe(values[i]);
            (i < split ? first : second).observe(values[i]);
        }
        first.append(second);
        for (TypeMode mode : {TypeMode::Lossless, TypeMode::Loose, TypeMode::Text}) {
            const auto a = whole.decide(mode);
            const auto b = first.decide(mode);
            ASSERT_EQ(a.name + "|" + std::to_string(a.outputWidth) + "|" + a.note,
                      b.name + "|" + std::to_string(b.outputWidth) + "|" + b.note)
                << testing::PrintToString(values) << " split at " << split;
        }
        ASSERT_EQ(whole.values(), first.values());
        ASSERT_EQ(whole.longestChars(), first.longestChars());
    }
}

}  // namespace

namespace {

// Files read in two parts side by side (from any size here) give the job, the report and the
// faults that one pass gives. Delimited: records that cross the middle, blanks, extra and
// missing fields and types lost only late, head lines, a byte-order mark, a quote never
// closed. Fixed width: values longest, lossy or of another type only late, letters of two bytes.
TEST(InferDetect, PartsSideBySideFindWhatOnePassFinds) {
    const auto rows = [](int count, const std::string& late) {
        std::string text = "Report\nid,txt,num\n";
        for (int i = 0; i < count; ++i) {
            text += std::to_string(i) + (i % 7 == 0 ? ",\"two, words\"," : ",plain,") +
                    std::to_string(i % 10) + ".5";
            // Past the head of the file that decides the dialect.
            text += i > count * 9 / 10 && i % 11 == 0 ? late : "";
            text += "\n";
        }
        return text;
    };
    const auto lines = [](const std::string& late) {
        std::string text = "item   qty  price\n";
        for (int i = 0; i < 400; ++i) {
            text += (i % 5 == 0 ? "Bj\xC3\xB6rn " : "Ann    ") + std::to_string(100 + i % 900) +
                    "  " + (i > 300 && i % 13 == 0 ? late : std::string("2.5")) + "\n";
        }
        return text;
    };
    const std::pair<std::string, bool> cases[] = {{rows(2600, ""), false},
                                                  {rows(2600, ",extra"), false},
                                                  {rows(2600, "0"), false},
                                                  {rows(2600, " "), false},
                                                  {rows(2600, "\r"), false},
                                                  {rows(2600, "") + "9,\"open,1.5\n", false},
                                                  {rows(2, ""), false},
                                                  {"\xEF\xBB\xBF" + rows(2600, ",x,y"), false},
                                                  {rows(2600, ",\"a\nb\""), false},
                                                  {rows(2600, "") + "1\n2\n", false},
                                                  {lines("2.5"), true},
                                                  {lines("2.50"), true},
                                                  {lines("12345.5"), true},
                                                  {lines("x"), true}};
    for (const auto& [bytes, fixed] : cases) {
        testfiles::TempDir dir;
        const std::string path = dir.file("data.txt");
        testfiles::writeFile(path, bytes);
        std::string found[2];
        for (int parts = 0; parts < 2; ++parts) {
            textjob::infer::InferOptions options;
            options.fixedWidth = fixed;
            options.partsFromBytes = parts == 0 ? UINT64_MAX : 1;
            try {
                const auto result = textjob::infer::inferJob(
                    path, options, textjob::infer::Target::Csv, dir.path());
                found[parts] = result.jobText + result.report;
            } catch (const InferError& e) {
                found[parts] = e.what();
            }
        }
        EXPECT_EQ(found[0], found[1]) << testfiles::printable(bytes.substr(0, 60));
    }
}

}  // namespace
