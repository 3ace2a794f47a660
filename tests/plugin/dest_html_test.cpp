// DEST_HTML: the report's markup in both layouts, escaping, the title and the style sheet.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/printable.h"
#include "support/dest_support.h"

using nlohmann::json;
using namespace desttest;

namespace {

struct Report {
    texthost::RunReport report;
    std::string html;
    std::string css;
};

/// Runs `rows` from a step of type `sourceType` into DEST_HTML.
Report runHtml(const TempDir& dir, TestRows rows, json properties,
               const std::string& sourceType = "ROWS", const std::string& destType = "DEST_HTML") {
    texthost::RunOptions options;
    options.extraSteps = {rowSource(sourceType, std::move(rows)),
                          lenientStep("LENIENT_HTML", "DEST_HTML")};
    if (!properties.contains("FILENAME")) properties["FILENAME"] = dir.file("report.html");
    const json steps = {{{"type", sourceType}}, {{"type", destType}, {"properties", properties}}};
    Report r;
    r.report = runJobFile(dir, steps, options);
    r.html = readFile(dir.file("report.html"));
    r.css = readFile(dir.file("marovind.css"));
    return r;
}

std::string head(const std::string& title) {
    return "<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; "
           "charset=utf-8\"><title>" +
           title +
           "</title></head>\n"
           "<LINK href=\"marovind.css\" type=text/css rel=stylesheet>\n"
           "<TABLE cellSpacing=1 cellPadding=1 width=\"100%%\" border=0>\n"
           "<TR>\n"
           "<TD class=pagetitle>" +
           title + "</TD><TD>Date: " + todayDate() +
           "</TD></TR></TABLE>\n"
           "<p>\n";
}

const json kNameCity = fieldsTable({{"NAME", "Name"}, {"CITY", "City"}});

TestRows nameCity(std::vector<std::vector<MvbDatavar>> rows) {
    return {{{"NAME", mvbTypeString}, {"CITY", mvbTypeString}}, std::move(rows)};
}

TEST(HtmlDest, PlainReportByteForByte) {
    TempDir dir;
    const Report r = runHtml(dir, nameCity({{text("Ann & Bo"), null()}}),
                             {{"TITLE", "Sales"}, {"FIELDS", kNameCity}});
    ASSERT_TRUE(r.report.ok) << joined(r.report.errors());
    EXPECT_EQ(r.html, head("Sales") +
                          "<table border=\"1\" cellpadding=\"1\" cellspacing=\"0\">\n"
                          "<TBODY>\n"
                          "<TR class=\"rowon\">\n"
                          "<TH><B>Name</B></TH><TH><B>City</B></TH></TR>\n"
                          "<TR class=\"rowon\"><td>Ann &amp; Bo</td><td>&nbsp;</td></tr>\n"
                          "</TBODY></TABLE></BODY></HTML>");
    EXPECT_EQ(r.report.infos(),
              std::vector<std::string>{"Wrote 1 rows to HTML file " + dir.file("report.html")});
}

TEST(HtmlDest, ProfilerReportByteForByte) {
    TempDir dir;
    const Report r = runHtml(
        dir,
        nameCity({{text("Count"), text("5")}, {text(""), text("")}, {text("Mean"), text("2.5")}}),
        {{"TITLE", "Sales"}, {"FIELDS", kNameCity}}, "PROFILER");
    ASSERT_TRUE(r.report.ok) << joined(r.report.errors());
    EXPECT_EQ(
        r.html,
        head("Sales") +
            "<p><br><strong>Analysis:<br></strong>\n"
            "<A href=\"#Lbl0\">Record Count and Null Values<br></a>\n"
            "<A href=\"#Lbl1\">Numerical Analysis</a>\n"
            "<br><A href=\"#Lbl2\">Min/Max</a>\n"
            "<br><A href=\"#Lbl3\">Percentiles</a>\n"
            "<table border=\"1\" cellpadding=\"1\" cellspacing=\"0\">\n"
            "<tbody>\n"
            "<tr CLASS=\"ROWON\"><td class=\"subtitle\" colspan=\"2\"><a name=\"Lbl0\">Record "
            "Count "
            "and Null Values</a> | <A href=\"#Top\">Back</a> </td></tr><TR class=\"rowon\">\n"
            "<TH><B>Name</B></TH><TH><B>City</B></TH></TR>\n"
            "<TR class=\"rowon\"><td>Count</td><td>5</td></tr>\n"
            "<tr CLASS=\"ROWOFF\"><td colspan=\"2\">&nbsp;</td></tr>\n"
            "<tr CLASS=\"ROWON\"><td class=\"subtitle\" colspan=\"2\"><a name=\"Lbl1\">Numerical "
            "Analysis</a> | <A href=\"#Top\">Back</a> </td></tr><TR class=\"rowon\">\n"
            "<TH><B>Name</B></TH><TH><B>City</B></TH></TR>\n"
            "<TR class=\"rowon\"><td>Mean</td><td>2.5</td></tr>\n"
            "</TBODY></TABLE></BODY></HTML>");
}

size_t count(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++n;
    return n;
}

TEST(HtmlDest, ProfilerLayoutWithMoreThanFourSectionBreaks) {
    TempDir dir;
    std::vector<std::vector<MvbDatavar>> rows = {{text(""), text("first")}};
    for (int section = 1; section <= 6; ++section) {
        rows.push_back({null(), text("break")});
        rows.push_back({text(("row" + std::to_string(section)).c_str()), text("x")});
    }
    const Report r = runHtml(dir, nameCity(rows), {{"FIELDS", kNameCity}}, "PROFILER");
    ASSERT_TRUE(r.report.ok) << joined(r.report.errors());
    // The first row opens section 0 and is shown even though its first field is empty.
    EXPECT_NE(r.html.find("<td>&nbsp;</td><td>first</td>"), std::string::npos);
    EXPECT_EQ(count(r.html, "<td class=\"subtitle\""), 4u);
    for (int label = 0; label < 4; ++label) {
        EXPECT_EQ(count(r.html, "<a name=\"Lbl" + std::to_string(label) + "\">"), 1u);
    }
    EXPECT_EQ(count(r.html, "<tr CLASS=\"ROWOFF\">"), 6u);
    EXPECT_EQ(count(r.html, "<TH><B>Name</B></TH>"), 7u);
    EXPECT_EQ(count(r.html, "break"), 0u);
    EXPECT_EQ(count(r.html, "<td>row"), 6u);
    // Every input row is counted, the section breaks too.
    EXPECT_EQ(r.report.infos(),
              std::vector<std::string>{"Wrote 13 rows to HTML file " + dir.file("report.html")});
    // The modern page counts the rows it shows, and aligns the figures (texts) as numbers.
    const Report modern =
        runHtml(dir, nameCity(rows), {{"FIELDS", kNameCity}, {"STYLE", "modern"}}, "PROFILER");
    EXPECT_NE(modern.html.find("<p class=\"rowcount\">7 rows</p>"), std::string::npos);
    EXPECT_NE(modern.html.find("td:nth-child(2) { text-align: right;"), std::string::npos);
    EXPECT_EQ(count(modern.html, "text-align: right;"), 1u);
}

TEST(HtmlDest, PlainLayoutShowsRowsWithAnEmptyFirstField) {
    TempDir dir;
    const Report r = runHtml(dir, nameCity({{text(""), text("a")}, {null(), text("b")}}),
                             {{"FIELDS", kNameCity}});
    ASSERT_TRUE(r.report.ok) << joined(r.report.errors());
    EXPECT_NE(r.html.find("<td>&nbsp;</td><td>a</td></tr>\n"
                          "<TR class=\"rowon\"><td>&nbsp;</td><td>b</td></tr>"),
              std::string::npos);
}

TEST(HtmlDest, CellText) {
    struct Case {
        const char* name;
        MvbDatavar value;
        int type;
        std::string cell;
    };
    const std::vector<Case> cases = {
        {"markup characters", text("x<y & 'z'"), mvbTypeString, "x&lt;y &amp; &apos;z&apos;"},
        {"double quote and greater-than", text("\"a\">b"), mvbTypeString, "&quot;a&quot;&gt;b"},
        {"multi-byte characters copied whole", text("K\xC3\xB6ln \xE2\x82\xAC \xF0\x9F\x98\x80"),
         mvbTypeString, "K\xC3\xB6ln \xE2\x82\xAC \xF0\x9F\x98\x80"},
        {"one blank", text(" "), mvbTypeString, " "},
        {"empty string", text(""), mvbTypeString, "&nbsp;"},
        {"integer 0", integer(0), mvbTypeInteger, "0"},
        {"null integer", null(), mvbTypeInteger, "&nbsp;"},
        {"real", real(-1.25), mvbTypeReal, "-1.25"},
        {"date", date(2024, 3, 7), mvbTypeDate, "2024-03-07"},
        {"boolean", boolean(true), mvbTypeBoolean, "true"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const Report r = runHtml(dir, {{{"v", c.type}}, {{c.value}}},
                                 {{"FIELDS", fieldsTable({{"v", "<V>"}})}, {"TITLE", "A&B"}});
        ASSERT_TRUE(r.report.ok) << joined(r.report.errors());
        EXPECT_NE(r.html.find("<TR class=\"rowon\"><td>" + c.cell + "</td></tr>\n"),
                  std::string::npos)
            << r.html;
        // The title and the headings are the job's own markup, written as they are.
        EXPECT_NE(r.html.find("<title>A&B</title>"), std::string::npos);
        EXPECT_NE(r.html.find("<TH><B><V></B></TH>"), std::string::npos);
    }
}

// Texts are looked at eight bytes at a time and then byte by byte: each markup character in
// any place of a text of 1 to 19 bytes must become its entity there, and nothing else change.
TEST(HtmlDest, EveryMarkupCharacterEscapedInEveryPlace) {
    const std::pair<char, std::string> entities[] = {
        {'"', "&quot;"}, {'&', "&amp;"}, {'\'', "&apos;"}, {'<', "&lt;"}, {'>', "&gt;"}};
    std::vector<std::vector<MvbDatavar>> rows;
    std::string expected;
    for (size_t size = 1; size < 20; ++size) {
        for (size_t place = 0; place < size; ++place) {
            const auto& [mark, entity] = entities[(size + place) % 5];
            std::string value(size, 'x');
            value[place] = mark;
            rows.push_back({text(value.c_str())});
            expected += "<TR class=\"rowon\"><td>" + value.substr(0, place) + entity +
                        value.substr(place + 1) + "</td></tr>\n";
        }
    }
    TempDir dir;
    const Report r =
        runHtml(dir, {{{"v", mvbTypeString}}, rows}, {{"FIELDS", fieldsTable({{"v", "V"}})}});
    ASSERT_TRUE(r.report.ok) << joined(r.report.errors());
    EXPECT_NE(r.html.find(expected), std::string::npos) << r.html;
}

// A row is built where the file writes it; one longer than the room the file lends (here a
// cell of 20,000 ampersands, 100,000 bytes as entities) moves to the step's own storage on the
// way, and the rows around it stay whole and in order.
TEST(HtmlDest, RowLongerThanTheFilesRoom) {
    const std::string ampersands(20000, '&');
    std::string entities;
    for (size_t i = 0; i < ampersands.size(); ++i)
        entities += "&amp;";
    TempDir dir;
    const Report r = runHtml(dir,
                             {{{"s", mvbTypeString}, {"n", mvbTypeInteger}},
                              {{text("a"), integer(1)},
                               {text(ampersands.c_str()), integer(2)},
                               {text("b"), integer(3)}}},
                             {{"FIELDS", fieldsTable({{"s", "S"}, {"n", "N"}})}});
    ASSERT_TRUE(r.report.ok) << joined(r.report.errors());
    EXPECT_NE(r.html.find("<TR class=\"rowon\"><td>a</td><td>1</td></tr>\n"
                          "<TR class=\"rowon\"><td>" +
                          entities +
                          "</td><td>2</td></tr>\n"
                          "<TR class=\"rowon\"><td>b</td><td>3</td></tr>\n"),
              std::string::npos);
}

TEST(HtmlDest, EmptyTitleIsDataReport) {
    for (const json& title : {json(""), json(nullptr)}) {
        TempDir dir;
        const Report r = runHtml(dir, nameCity({}), {{"FIELDS", kNameCity}, {"TITLE", title}});
        ASSERT_TRUE(r.report.ok) << joined(r.report.errors());
        EXPECT_EQ(r.html.substr(0, head("Data Report").size()), head("Data Report"));
    }
}

TEST(HtmlDest, ReportWithoutRowsIsStillComplete) {
    TempDir dir;
    const Report r = runHtml(dir, nameCity({}), {{"FIELDS", kNameCity}, {"TITLE", "T"}});
    ASSERT_TRUE(r.report.ok) << joined(r.report.errors());
    EXPECT_TRUE(r.html.ends_with("<TH><B>City</B></TH></TR>\n</TBODY></TABLE></BODY></HTML>"));
}

TEST(HtmlDest, StyleSheetBesideTheReport) {
    TempDir dir;
    writeFile(dir.file("marovind.css"), "old");
    const Report r = runHtml(dir, nameCity({}), {{"FIELDS", kNameCity}});
    ASSERT_TRUE(r.report.ok) << joined(r.report.errors());
    ASSERT_EQ(r.css.size(), 703u);
    EXPECT_TRUE(r.css.starts_with(".bold_text\n{\n    FONT-WEIGHT: bold;\n    FONT-SIZE: 12px;\n"));
    EXPECT_NE(r.css.find("\nTABLE\n{\n}\n"), std::string::npos);
    EXPECT_TRUE(
        r.css.ends_with(".rowon\n{\n    FONT-SIZE: 10pt;\n    BACKGROUND-COLOR: #f0f0f0\n}\n"));
    EXPECT_EQ(count(r.css, "{\n"), 10u);
    EXPECT_EQ(r.css.find('\r'), std::string::npos);
}

TEST(HtmlDest, UnboundFieldIsNbsp) {
    TempDir dir;
    const Report r =
        runHtml(dir, nameCity({{text("a"), text("b")}}),
                {{"FIELDS", fieldsTable({{"NAME", "N"}, {"gone", "G"}})}}, "ROWS", "LENIENT_HTML");
    ASSERT_TRUE(r.report.ok) << joined(r.report.errors());
    EXPECT_NE(r.html.find("<td>a</td><td>&nbsp;</td></tr>"), std::string::npos);
}

// A row whose strings prove to be UTF-8 as they are escaped skips the file's own check; a
// string that is not UTF-8 must still fail the run.
TEST(HtmlDest, StringThatIsNotUtf8FailsTheRun) {
    for (const char* value : {"ab\xFF", "abcdefghij<\xFF", "K\xC3\xB6ln\xC3"}) {
        SCOPED_TRACE(testfiles::printable(value));
        TempDir dir;
        const Report r =
            runHtml(dir, nameCity({{text("a"), text(value)}, {text("later"), text("b")}}),
                    {{"FIELDS", kNameCity}});
        EXPECT_FALSE(r.report.ok);
        EXPECT_TRUE(anyContains(r.report.errors(), "not valid UTF-8")) << joined(r.report.errors());
        EXPECT_EQ(r.html.find("later"), std::string::npos);
    }
}

TEST(HtmlDest, HostProfilerFeedsTheSectionedLayout) {
    TempDir dir;
    writeFile(dir.file("in.csv"), "a,1\nb,2\nc,3\n");
    const json steps = {
        {{"type", "SOURCE_DELIMTEXT"},
         {"properties",
          {{"FILENAME", "in.csv"},
           {"FIELDS",
            {{{"NAME", "letter"}, {"TYPE", "string"}, {"MAX_LENGTH", 5}},
             {{"NAME", "number"}, {"TYPE", "integer"}, {"MAX_LENGTH", 0}}}}}}},
        {{"type", "PROFILER"}},
        {{"type", "DEST_HTML"},
         {"properties",
          {{"FILENAME", "report.html"},
           {"FIELDS", fieldsTable({{"STATISTIC", "Statistic"}, {"number", "Number"}})}}}}};
    const auto report = runJobFile(dir, steps);
    ASSERT_TRUE(report.ok) << joined(report.errors());
    const std::string html = readFile(dir.file("report.html"));
    for (int label = 0; label < 4; ++label) {
        EXPECT_EQ(count(html, "<a name=\"Lbl" + std::to_string(label) + "\">"), 1u);
    }
    EXPECT_NE(html.find("<TR class=\"rowon\"><td>Mean</td>"), std::string::npos) << html;

    // The sections break where the statistic is empty, wherever FIELDS shows it: a string
    // field first, empty in most of the profile's rows, keeps every row.
    json shuffled = steps;
    shuffled[2]["properties"]["FIELDS"] =
        fieldsTable({{"letter", "Letter"}, {"STATISTIC", "Statistic"}, {"number", "Number"}});
    ASSERT_TRUE(runJobFile(dir, shuffled).ok);
    const std::string other = readFile(dir.file("report.html"));
    EXPECT_EQ(count(other, "<TR class=\"rowon\"><td"), count(html, "<TR class=\"rowon\"><td"));
    EXPECT_NE(other.find("<td>Mean</td>"), std::string::npos) << other;

    // Without the statistic among FIELDS it is still read, with a thread per step too (which
    // hands on only the fields a step reads).
    json unshown = steps;
    unshown[2]["properties"]["FIELDS"] = fieldsTable({{"number", "Number"}});
    texthost::RunOptions threads;
    threads.threads = 2;
    ASSERT_TRUE(runJobFile(dir, unshown, threads).ok);
    EXPECT_EQ(count(readFile(dir.file("report.html")), "<TR class=\"rowon\"><td"),
              count(html, "<TR class=\"rowon\"><td"));
}

}  // namespace

namespace {

// The modern style: one file with its sheet inside, number columns right-aligned, the row
// count after the table (the sheet places it under the title); a STYLE it does not know fails.
TEST(HtmlDest, ModernStyleIsOneFileWithItsSheetInside) {
    struct Case {
        const char* style;
        int rows;
        bool ok;
        const char* countText;
    };
    const Case cases[] = {{"modern", 2, true, "2 rows"},
                          {"MODERN", 1, true, "1 row"},
                          {"modern", 0, true, "0 rows"},
                          {"fancy", 1, false, nullptr}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.style) + " " + std::to_string(c.rows));
        TempDir dir;
        TestRows rows = {{{"NAME", mvbTypeString}, {"CITY", mvbTypeString}, {"N", mvbTypeInteger}},
                         {}};
        for (int i = 0; i < c.rows; ++i)
            rows.rows.push_back({text("Ann"), null(), integer(i)});
        const Report r = runHtml(
            dir, std::move(rows),
            {{"TITLE", "T"},
             {"STYLE", c.style},
             {"FIELDS", fieldsTable({{"NAME", "Name"}, {"N", "Count"}, {"CITY", "City"}})}});
        EXPECT_FALSE(fileExists(dir.file("marovind.css")));
        if (!c.ok) {
            EXPECT_FALSE(r.report.ok);
            EXPECT_NE(joined(r.report.errors()).find("STYLE \"fancy\" is not a report style"),
                      std::string::npos);
            continue;
        }
        ASSERT_TRUE(r.report.ok) << joined(r.report.errors());
        EXPECT_EQ(r.html.find("<LINK"), std::string::npos);
        EXPECT_TRUE(
            r.html.starts_with("<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; "
                               "charset=utf-8\"><title>T</title>\n<style>\n"));
        // Only the second column shows a number field.
        EXPECT_NE(r.html.find("td:nth-child(2) { text-align: right;"), std::string::npos);
        EXPECT_EQ(count(r.html, "text-align: right;"), 1u);
        EXPECT_NE(r.html.find("</style></head>\n"), std::string::npos);
        EXPECT_TRUE(r.html.ends_with(std::string("</TBODY></TABLE>\n<p class=\"rowcount\">") +
                                     c.countText + "</p></BODY></HTML>"));
    }
}

}  // namespace
