#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <string_view>

#include "common/printable.h"
#include "mvb/datavar.h"
#include "mvb/date.h"
#include "mvb/parse.h"
#include "mvb/types.h"

namespace {

using Parts = std::array<int, 6>;

struct DateCase {
    const char* text;
    int format;
    bool valid;
    Parts parts;  ///< year, month, day, hour, minute, second when valid
};

const DateCase kDateCases[] = {
    {"2024-02-29", 0, true, {2024, 2, 29, 0, 0, 0}},
    {"2000-02-29", 0, true, {2000, 2, 29, 0, 0, 0}},
    {"20240315", 0, true, {2024, 3, 15, 0, 0, 0}},
    {"2024-03-15 23:59:59", 0, true, {2024, 3, 15, 23, 59, 59}},
    {"2024-03-15T08:30", 0, true, {2024, 3, 15, 8, 30, 0}},
    {" 2024-03-15 ", 0, true, {2024, 3, 15, 0, 0, 0}},
    {"2024-02-29 23:59:59", 0, true, {2024, 2, 29, 23, 59, 59}},
    {"2024-02-29T00:00:01", 0, true, {2024, 2, 29, 0, 0, 1}},
    {"2024-03-15 8:30:00", 0, true, {2024, 3, 15, 8, 30, 0}},
    {"2024-03-15\t", 0, true, {2024, 3, 15, 0, 0, 0}},
    {"2023-02-29", 0, false, {}},
    {"2023-02-28", 0, true, {2023, 2, 28, 0, 0, 0}},
    {"2024-02-30", 0, false, {}},
    {"9999-12-31 23:59:59", 0, true, {9999, 12, 31, 23, 59, 59}},
    {"2023-02-29 12:00:00", 0, false, {}},
    {"2100-02-29", 0, false, {}},
    {"2024-03-15 23:59:59x", 0, false, {}},
    {"2024-03-15 23:59:5", 0, false, {}},
    {"2024-03-15 2a:00:00", 0, false, {}},
    {"2024-03-1", 0, false, {}},
    {"2024-03-15-", 0, false, {}},
    {"1900-02-29", 0, false, {}},
    {"2024-13-01", 0, false, {}},
    {"2024-00-10", 0, false, {}},
    {"2024-04-31", 0, false, {}},
    {"2024-01-00", 0, false, {}},
    {"0000-01-01", 0, false, {}},
    {"2024-03-15 24:00", 0, false, {}},
    {"2024-03-15 12:60", 0, false, {}},
    {"2024-03-15 12:00:60", 0, false, {}},
    {"2024-03-15 12", 0, false, {}},
    {"2024-03-15x", 0, false, {}},
    {"2024-3-15", 0, false, {}},
    {"2024/03/15", 0, false, {}},
    {"2024031", 0, false, {}},
    {"", 0, false, {}},
    {"12/31/2024", 1, true, {2024, 12, 31, 0, 0, 0}},
    {"2/3/2024", 1, true, {2024, 2, 3, 0, 0, 0}},
    {"02-03-2024", 1, true, {2024, 2, 3, 0, 0, 0}},
    {"2.3.2024 7:05", 1, true, {2024, 2, 3, 7, 5, 0}},
    {"13/01/2024", 1, false, {}},
    {"2/30/2024", 1, false, {}},
    {"2/3-2024", 1, false, {}},
    {"2/3/24", 1, false, {}},
    {"123/3/2024", 1, false, {}},
    {"31.12.2024", 2, true, {2024, 12, 31, 0, 0, 0}},
    {"1/2/2024 23:00:01", 2, true, {2024, 2, 1, 23, 0, 1}},
    {"29/02/2023", 2, false, {}},
    {"2024/12/31 23:59:59", 3, true, {2024, 12, 31, 23, 59, 59}},
    {"2024.1.2", 3, true, {2024, 1, 2, 0, 0, 0}},
    {"2024-02-30", 3, false, {}},
    {"2024-03-15", 9, false, {}},
};

void PrintTo(const DateCase& c, std::ostream* out) {
    *out << testfiles::printable(c.text) << " in format " << c.format
         << (c.valid ? " is valid" : " is invalid");
}

class DateTable : public testing::TestWithParam<DateCase> {};

TEST_P(DateTable, ParsesAndChecksTheCalendar) {
    const DateCase& c = GetParam();
    Parts parts{-1, -1, -1, -1, -1, -1};
    const int result = mvs_string_to_date(c.text, &parts[0], &parts[1], &parts[2], &parts[3],
                                          &parts[4], &parts[5], c.format);
    if (c.valid) {
        EXPECT_EQ(result, 0);
        EXPECT_EQ(parts, c.parts);
    } else {
        EXPECT_NE(result, 0);
    }
}

// The same text read by its length, from a buffer whose next bytes could extend it (digits, a
// time, blanks): nothing past the length may count.
TEST_P(DateTable, ReadsByLengthAlone) {
    const DateCase& c = GetParam();
    for (const char* after : {"", "0", " 12:00:00", "T1", "  ", "-01"}) {
        const std::string buffer = std::string(c.text) + after;
        Parts parts{-1, -1, -1, -1, -1, -1};
        const int result =
            mvs_text_to_date(buffer.data(), std::strlen(c.text), &parts[0], &parts[1], &parts[2],
                             &parts[3], &parts[4], &parts[5], c.format);
        if (c.valid) {
            EXPECT_EQ(result, 0) << "followed by \"" << after << "\"";
            EXPECT_EQ(parts, c.parts) << "followed by \"" << after << "\"";
        } else {
            EXPECT_NE(result, 0) << "followed by \"" << after << "\"";
        }
    }
}

// A value reads the text straight into itself as the parser reads it, and a text that is no
// date leaves it null whatever it held.
TEST_P(DateTable, ReadsIntoAValue) {
    const DateCase& c = GetParam();
    MvbDatavar value("held before");
    const bool read = value.assignDate(std::string_view(c.text), c.format);
    ASSERT_EQ(read, c.valid);
    if (!c.valid) {
        EXPECT_TRUE(value.isNull());
        return;
    }
    ASSERT_EQ(value.getType(), mvbTypeDate);
    const MvbDate date = value.asDate();
    EXPECT_EQ(
        (Parts{date.year(), date.month(), date.day(), date.hour(), date.minute(), date.second()}),
        c.parts);
}

INSTANTIATE_TEST_SUITE_P(Dates, DateTable, testing::ValuesIn(kDateCases));

// The common date shape is checked eight bytes at a time: any byte at any of its ten places is
// read as a character-by-character reading would, a digit where a digit goes (giving a valid
// calendar date) and exactly a dash where one goes.
TEST(Dates, IsoShapeTakesEveryByteAsOneCharacter) {
    const std::string base = "2024-08-15";
    for (size_t at = 0; at < base.size(); ++at) {
        for (int byte = 0; byte < 256; ++byte) {
            std::string text = base;
            text[at] = static_cast<char>(byte);
            const bool dash = at == 4 || at == 7;
            const bool digit = byte >= '0' && byte <= '9';
            int parts[3] = {0, 0,
                            0};  // year, month, day from the text's digits, as read one by one
            for (size_t k = 0; k < text.size(); ++k) {
                if (k == 4 || k == 7) continue;
                const int part = k < 4 ? 0 : k < 7 ? 1 : 2;
                parts[part] = parts[part] * 10 + (text[k] - '0');
            }
            const bool wellFormed = dash ? byte == '-' : digit;
            const bool expected = wellFormed && parts[0] >= 1 && parts[1] >= 1 && parts[1] <= 12 &&
                                  parts[2] >= 1 && parts[2] <= 31;
            int y = 0, mo = 0, d = 0, h = -1, mi = -1, se = -1;
            const int result =
                mvs_text_to_date(text.data(), text.size(), &y, &mo, &d, &h, &mi, &se, 0);
            ASSERT_EQ(result == 0, expected) << "byte " << byte << " at " << at;
            if (expected) {
                EXPECT_EQ((std::array<int, 6>{y, mo, d, h, mi, se}),
                          (std::array<int, 6>{parts[0], parts[1], parts[2], 0, 0, 0}));
            }
        }
    }
}

TEST(Dates, FormatWritesTimeOnlyWhenNotMidnight) {
    MvbDate date;
    char buffer[32];
    date.assign(812, 7, 4, 0, 0, 0, 0);
    EXPECT_EQ(date.format(buffer, sizeof buffer), 10);
    EXPECT_STREQ(buffer, "0812-07-04");
    date.assign(2024, 12, 1, 0, 0, 1, 0);
    EXPECT_EQ(date.format(buffer, sizeof buffer), 19);
    EXPECT_STREQ(buffer, "2024-12-01 00:00:01");
    EXPECT_EQ(date.format(buffer, 8), 7);  // a short buffer is cut, never overrun
    EXPECT_STREQ(buffer, "2024-12");
}

// Dates are laid out from their digits eight at a time: every field at every digit, in the
// shortest buffer each form fits, gives the printf form and writes nothing past the buffer.
TEST(Dates, FormatIsThePrintfForm) {
    std::mt19937 random(20261208);
    for (int i = 0; i < 20000; ++i) {
        const bool midnight = i % 3 == 0;
        int p[6] = {static_cast<int>(random() % 10000)};
        for (int k = 1; k < 6; ++k)
            p[k] = midnight && k >= 3 ? 0 : static_cast<int>(random() % 100);
        MvbDate date;
        date.assign(p[0], p[1], p[2], p[3], p[4], p[5], 0);
        char expected[32];
        std::snprintf(expected, sizeof expected, "%04d-%02d-%02d %02d:%02d:%02d", p[0], p[1], p[2],
                      p[3], p[4], p[5]);
        const bool hasTime = p[3] != 0 || p[4] != 0 || p[5] != 0;
        if (!hasTime) expected[10] = '\0';
        char buffer[32];
        std::memset(buffer, 'x', sizeof buffer);
        const int length = date.format(buffer, hasTime ? 20 : 11);
        ASSERT_STREQ(buffer, expected);
        ASSERT_EQ(length, static_cast<int>(std::strlen(expected)));
        ASSERT_EQ(buffer[length + 1], 'x') << expected;
    }
}

struct TypeNameCase {
    const char* name;
    int type;
    int format;
};

const TypeNameCase kTypeNames[] = {
    {"boolean", mvbTypeBoolean, 0}, {"BOOL", mvbTypeBoolean, 0},    {"integer", mvbTypeInteger, 0},
    {"Int", mvbTypeInteger, 0},     {"long", mvbTypeInteger, 0},    {"bigint", mvbTypeInteger, 0},
    {"real", mvbTypeReal, 0},       {"float", mvbTypeReal, 0},      {"double", mvbTypeReal, 0},
    {"number", mvbTypeReal, 0},     {"numeric", mvbTypeReal, 0},    {"Decimal", mvbTypeReal, 0},
    {"string", mvbTypeString, 0},   {"text", mvbTypeString, 0},     {"char", mvbTypeString, 0},
    {"VARCHAR", mvbTypeString, 0},  {"date", mvbTypeDate, 0},       {"DateTime", mvbTypeDate, 0},
    {"date_mdy", mvbTypeDate, 1},   {" Date_DMY ", mvbTypeDate, 2}, {"date_ymd", mvbTypeDate, 3},
    {"strings", mvbTypeNull, 0},    {"", mvbTypeNull, 0},           {"date_xyz", mvbTypeNull, 0},
};

void PrintTo(const TypeNameCase& c, std::ostream* out) {
    *out << testfiles::printable(c.name) << " gives type " << c.type << " format " << c.format;
}

class TypeNameTable : public testing::TestWithParam<TypeNameCase> {};

TEST_P(TypeNameTable, GivesTypeAndDateFormat) {
    const TypeNameCase& c = GetParam();
    int format = -1;
    EXPECT_EQ(mvbTypeFromString(c.name, &format), c.type);
    EXPECT_EQ(format, c.format);
}

INSTANTIATE_TEST_SUITE_P(TypeNames, TypeNameTable, testing::ValuesIn(kTypeNames));

TEST(TypeNames, NullNameIsUnknown) {
    int format = -1;
    EXPECT_EQ(mvbTypeFromString(nullptr, &format), mvbTypeNull);
    EXPECT_EQ(format, 0);
}

}  // namespace
