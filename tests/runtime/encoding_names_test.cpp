#include <gtest/gtest.h>

#include <algorithm>
#include <initializer_list>
#include <string>

#include "mvb/charset.h"
#include "mvb/string.h"

namespace {

struct NameCase {
    const char* text;
    int number;
};

TEST(EncodingNames, NamesAndNumbersGiveTheEncodingNumber) {
    const NameCase cases[] = {
        {"1252", 1252},
        {"-1", -1},
        {" 65001 ", 65001},
        {"UTF-8", 65001},
        {"utf8", 65001},
        {"UTF-16LE", 1200},
        {"utf-16", 1200},
        {"UTF-16BE", 1201},
        {"utf_16be", 1201},
        {"UTF-32LE", 12000},
        {"UTF-32BE", 12001},
        {"windows-1252", 1252},
        {"CP1252", 1252},
        {"ISO-8859-1", 28591},
        {"latin1", 28591},
        {"iso8859_15", 28605},
        {"ISO-8859-11", 28601},
        {"Shift_JIS", 932},
        {"sjis", 932},
        {"GB18030", 54936},
        {"gbk", 936},
        {"EUC-KR", 949},
        {"big5", 950},
        {"US-ASCII", 20127},
        {"ibm866", 866},
        {"cp437", 437},
        {"IBM850", 850},
        {"windows-1258", 1258},
        {"ISO_8859-1:1987", 28591},
    };
    for (const NameCase& c : cases) {
        int number = 7;
        EXPECT_TRUE(mvbEncodingFromName(c.text, &number)) << c.text;
        EXPECT_EQ(number, c.number) << c.text;
    }
}

TEST(EncodingNames, EveryTableEncodingHasANameOfItsOwn) {
    // Each number's canonical spelling must read back to that number (a name listed twice
    // under different numbers would send one of them to the wrong encoding).
    const NameCase cases[] = {
        {"IBM437", 437},        {"IBM850", 850},        {"IBM866", 866},
        {"Shift_JIS", 932},     {"GBK", 936},           {"EUC-KR", 949},
        {"Big5", 950},          {"UTF-16LE", 1200},     {"UTF-16BE", 1201},
        {"windows-1250", 1250}, {"windows-1251", 1251}, {"windows-1253", 1253},
        {"windows-1254", 1254}, {"windows-1255", 1255}, {"windows-1256", 1256},
        {"windows-1257", 1257}, {"UTF-32LE", 12000},    {"UTF-32BE", 12001},
        {"ISO-8859-2", 28592},  {"ISO-8859-3", 28593},  {"ISO-8859-4", 28594},
        {"ISO-8859-5", 28595},  {"ISO-8859-6", 28596},  {"ISO-8859-7", 28597},
        {"ISO-8859-8", 28598},  {"ISO-8859-9", 28599},  {"ISO-8859-10", 28600},
        {"ISO-8859-13", 28603}, {"ISO-8859-14", 28604},
    };
    for (const NameCase& c : cases) {
        int number = 0;
        ASSERT_TRUE(mvbEncodingFromName(c.text, &number)) << c.text;
        EXPECT_EQ(number, c.number) << c.text;
        EXPECT_GE(np_uchar_chsize_min(number), 1) << c.text;
    }
}

TEST(EncodingNames, UnknownTextsAreRefusedAndLeaveTheNumber) {
    for (const char* text : std::initializer_list<const char*>{
             "", "utf", "UTF-9", "12x", "99999999999999", "latin", "-", nullptr}) {
        int number = 42;
        EXPECT_FALSE(mvbEncodingFromName(text, &number)) << (text ? text : "(null)");
        EXPECT_EQ(number, 42);
    }
}

TEST(EncodingNames, ClosestNamesSuggestThreeDistinctEncodings) {
    EXPECT_EQ(std::string(mvbClosestEncodingNames("UTF-9").view()).find("UTF-8"), 0u);
    const std::string latin(mvbClosestEncodingNames("latni1").view());
    EXPECT_EQ(latin.find("ISO-8859-1"), 0u) << latin;
    const std::string near(mvbClosestEncodingNames("windows-125").view());
    EXPECT_EQ(std::count(near.begin(), near.end(), ','), 2) << near;
    EXPECT_EQ(near.find("UTF-8"), std::string::npos) << near;
}

}  // namespace
