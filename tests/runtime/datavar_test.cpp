#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <charconv>
#include <clocale>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "../../runtime/value_text.h"
#include "common/printable.h"
#include "mvb/datavar.h"

namespace {

std::string text(const MvbDatavar& value) {
    return value.asString().asCstr();
}

TEST(Datavar, NullReadsAsZeroFalseAndEmptyWithoutError) {
    const MvbDatavar value;
    bool error = false;
    EXPECT_TRUE(value.isNull());
    EXPECT_FALSE(value.asBool(&error));
    EXPECT_EQ(value.asInt(&error), 0);
    EXPECT_EQ(value.asInt64(&error), 0);
    EXPECT_EQ(value.asReal(&error), 0.0);
    EXPECT_FALSE(error);
    EXPECT_EQ(text(value), "");
    int size = -1;
    EXPECT_EQ(value.getRaw(&size), nullptr);
    EXPECT_EQ(size, 0);
}

struct ConvertCase {
    const char* input;
    int type;
    std::optional<std::string> expected;  ///< the text after conversion; none when null
};

const ConvertCase kConvertCases[] = {
    {"true", mvbTypeBoolean, "true"},
    {" YES ", mvbTypeBoolean, "true"},
    {"y", mvbTypeBoolean, "true"},
    {"T", mvbTypeBoolean, "true"},
    {"1", mvbTypeBoolean, "true"},
    {"False", mvbTypeBoolean, "false"},
    {"no", mvbTypeBoolean, "false"},
    {"N", mvbTypeBoolean, "false"},
    {"f", mvbTypeBoolean, "false"},
    {"\t0", mvbTypeBoolean, "false"},
    {"maybe", mvbTypeBoolean, std::nullopt},
    {"2", mvbTypeBoolean, std::nullopt},
    {"tru", mvbTypeBoolean, std::nullopt},
    // Words are matched with their capitals made small, and only their capitals: a byte that
    // differs from a letter in the case bit alone, or in the high bit, is no letter.
    {"tRuE", mvbTypeBoolean, "true"},
    {"FALSE", mvbTypeBoolean, "false"},
    {"yEs", mvbTypeBoolean, "true"},
    {"nO", mvbTypeBoolean, "false"},
    {"\x11", mvbTypeBoolean, std::nullopt},
    {"\x10", mvbTypeBoolean, std::nullopt},
    {"\xD4rue", mvbTypeBoolean, std::nullopt},
    {"fals\xC5", mvbTypeBoolean, std::nullopt},
    {"n\x0F", mvbTypeBoolean, std::nullopt},
    {"[es", mvbTypeBoolean, std::nullopt},
    {"@", mvbTypeBoolean, std::nullopt},
    {"yes!", mvbTypeBoolean, std::nullopt},
    {"falsehood", mvbTypeBoolean, std::nullopt},
    {" 42 ", mvbTypeInteger, "42"},
    {"+7", mvbTypeInteger, "7"},
    {"-9223372036854775808", mvbTypeInteger, "-9223372036854775808"},
    {"9223372036854775808", mvbTypeInteger, std::nullopt},
    {"9223372036854775807", mvbTypeInteger, "9223372036854775807"},
    {"-9223372036854775809", mvbTypeInteger, std::nullopt},
    {"999999999999999999", mvbTypeInteger, "999999999999999999"},
    {"-1000000000000000000", mvbTypeInteger, "-1000000000000000000"},
    {"00000000000000000000042", mvbTypeInteger, "42"},
    {"-0", mvbTypeInteger, "0"},
    {"-", mvbTypeInteger, std::nullopt},
    {"--1", mvbTypeInteger, std::nullopt},
    {"12 ", mvbTypeInteger, "12"},
    {"4.0", mvbTypeInteger, std::nullopt},
    {"12abc", mvbTypeInteger, std::nullopt},
    {"1 2", mvbTypeInteger, std::nullopt},
    {"+-3", mvbTypeInteger, std::nullopt},
    {"", mvbTypeInteger, std::nullopt},
    {"0x10", mvbTypeInteger, std::nullopt},
    {"1.5", mvbTypeReal, "1.5"},
    {"1,5", mvbTypeReal, std::nullopt},
    {"1e3", mvbTypeReal, "1000"},
    {"0.1", mvbTypeReal, "0.1"},
    {" -2.5e-3 ", mvbTypeReal, "-0.0025"},
    {"+.5", mvbTypeReal, "0.5"},
    {"-0.0", mvbTypeReal, "-0"},
    {"5.", mvbTypeReal, "5"},
    {".5", mvbTypeReal, "0.5"},
    {"-.", mvbTypeReal, std::nullopt},
    {"1.2.3", mvbTypeReal, std::nullopt},
    {"123456789.012345", mvbTypeReal, "123456789.012345"},
    {"1234567890.1234567", mvbTypeReal, "1234567890.1234567"},
    {"1e400", mvbTypeReal, std::nullopt},
    {"abc", mvbTypeReal, std::nullopt},
    {"3.14xyz", mvbTypeReal, std::nullopt},
    // Short reals are read as one word: every byte must be a digit but one point inside, and
    // the bytes just outside '0' to '9', or with the high bit set, are not digits.
    {"-1.5", mvbTypeReal, "-1.5"},
    {"12345678", mvbTypeReal, "12345678"},
    {"-9999.999", mvbTypeReal, "-9999.999"},
    {"1234567.8", mvbTypeReal, "1234567.8"},
    {"00000.01", mvbTypeReal, "0.01"},
    {"12:5", mvbTypeReal, std::nullopt},
    {"1/25", mvbTypeReal, std::nullopt},
    {"1..2", mvbTypeReal, std::nullopt},
    {"1.-5", mvbTypeReal, std::nullopt},
    {"\xB1.5", mvbTypeReal, std::nullopt},
    {"1.\xB5", mvbTypeReal, std::nullopt},
    {"7\xAE"
     "5",
     mvbTypeReal, std::nullopt},
};

void PrintTo(const ConvertCase& c, std::ostream* out) {
    *out << testfiles::printable(c.input) << " as type " << c.type << " gives "
         << (c.expected ? testfiles::printable(*c.expected) : "null");
}

class ConvertTable : public testing::TestWithParam<ConvertCase> {};

TEST_P(ConvertTable, SetTypeConvertsHeldText) {
    const ConvertCase& c = GetParam();
    MvbDatavar value(c.input);
    const bool converted = value.setType(c.type);
    if (c.expected) {
        EXPECT_TRUE(converted);
        EXPECT_EQ(value.getType(), c.type);
        EXPECT_EQ(text(value), *c.expected);
    } else {
        EXPECT_FALSE(converted);
        EXPECT_TRUE(value.isNull()) << "now " << text(value);
    }
}

// Converting straight from the text must give what storing it and converting it gives.
TEST_P(ConvertTable, AssignConvertedMatchesSetType) {
    const ConvertCase& c = GetParam();
    MvbDatavar value("left over");
    const bool converted = value.assignConverted(c.input, c.type);
    EXPECT_EQ(converted, c.expected.has_value());
    if (c.expected) {
        EXPECT_EQ(value.getType(), c.type);
        EXPECT_EQ(text(value), *c.expected);
    } else {
        EXPECT_TRUE(value.isNull()) << "now " << text(value);
    }
}

INSTANTIATE_TEST_SUITE_P(Datavar, ConvertTable, testing::ValuesIn(kConvertCases));

TEST(Datavar, ReadErrorsSetTheFlagAndLeaveItOnSuccess) {
    bool error = false;
    EXPECT_FALSE(MvbDatavar("xyz").asBool(&error));
    EXPECT_TRUE(error);
    error = false;
    EXPECT_EQ(MvbDatavar(int64_t{3000000000}).asInt(&error), 0);
    EXPECT_TRUE(error);
    error = false;
    EXPECT_EQ(MvbDatavar(int64_t{3000000000}).asInt64(&error), 3000000000);
    EXPECT_FALSE(error);
    EXPECT_EQ(MvbDatavar(2.5).asInt(&error), 0);
    EXPECT_TRUE(error);
    error = false;
    EXPECT_EQ(MvbDatavar(-4.0).asInt(&error), -4);
    EXPECT_EQ(MvbDatavar(1e19).asInt64(&error), 0);
    EXPECT_TRUE(error);
    error = false;
    EXPECT_TRUE(MvbDatavar(5).asBool(&error));
    EXPECT_EQ(MvbDatavar(" -12 ").asInt(&error), -12);
    EXPECT_EQ(MvbDatavar(true).asInt(&error), 1);
    EXPECT_FALSE(error);
    MvbDate date;
    MvbDatavar dateValue;
    dateValue.assign(date);
    EXPECT_EQ(dateValue.asInt(&error), 0);
    EXPECT_TRUE(error);
    EXPECT_FALSE(MvbDatavar("bad").asBool(nullptr));  // no flag given: no crash
}

TEST(Datavar, FormatsEachKind) {
    EXPECT_EQ(text(MvbDatavar(true)), "true");
    EXPECT_EQ(text(MvbDatavar(false)), "false");
    EXPECT_EQ(text(MvbDatavar(int64_t{-9223372036854775807 - 1})), "-9223372036854775808");
    EXPECT_EQ(text(MvbDatavar(100.0)), "100");
    EXPECT_EQ(text(MvbDatavar(0.1 + 0.2)), "0.30000000000000004");
    EXPECT_EQ(text(MvbDatavar(1e21)), "1e+21");
    MvbDate date;
    date.assign(2024, 2, 29, 0, 0, 0, 0);
    MvbDatavar value;
    value.assign(date);
    EXPECT_EQ(value.getType(), mvbTypeDate);
    EXPECT_EQ(text(value), "2024-02-29");
    date.assign(1999, 12, 31, 23, 5, 9, 0);
    value.assign(date);
    EXPECT_EQ(text(value), "1999-12-31 23:05:09");
}

// Integers are written four or eight digits at a time: the ends of the range and, at every
// digit count and both signs, the edges of the count and values between give std::to_string.
TEST(Datavar, IntegerTextAtEveryDigitCount) {
    std::vector<int64_t> values = {0, std::numeric_limits<int64_t>::min(),
                                   std::numeric_limits<int64_t>::max()};
    std::mt19937_64 random(20261208);
    int64_t power = 1;
    for (int digits = 1; digits <= 19; ++digits) {
        for (int i = 0; i < 200; ++i) {
            const auto value = static_cast<int64_t>(random() % static_cast<uint64_t>(power));
            values.insert(values.end(), {power, power - 1, power + value, -power - value});
        }
        if (digits < 19) power *= 10;
    }
    for (const int64_t value : values) {
        char buffer[64];
        const int length = MvbDatavar(value).formatText(buffer, static_cast<int>(sizeof buffer));
        ASSERT_EQ(std::string(buffer, static_cast<size_t>(length) + 1),
                  std::to_string(value) + '\0');
    }
}

// Reals are written with their shortest digits, in plain decimal notation from 1e-6 up to
// 1e21 and with an exponent outside; every text reads back as the very same double.
TEST(Datavar, RealsInPlainNotationWithinTheRangeAndReadBackExactly) {
    const struct {
        double value;
        const char* text;
    } cases[] = {
        {2000000.0, "2000000"},
        {0.0001, "0.0001"},
        {-0.5, "-0.5"},
        {0.0, "0"},
        {-0.0, "-0"},
        {1e-6, "0.000001"},
        {-1e-6, "-0.000001"},
        {9.99999e-7, "9.99999e-07"},
        {1e-7, "1e-07"},
        {1.2345678901234567e-6, "0.0000012345678901234567"},
        {-1.2345678901234567e-6, "-0.0000012345678901234567"},
        {1e20, "100000000000000000000"},
        {std::nextafter(1e21, 0.0), "999999999999999900000"},
        {1e21, "1e+21"},
        {-1e21, "-1e+21"},
        {1.5e300, "1.5e+300"},
        {123456789012345680.0, "123456789012345680"},
        {1152921504606846976.0, "1152921504606847000"},  // 2^60: shortest digits, then zeros
        {123456789.123456789, "123456789.12345679"},
        {1e15, "1000000000000000"},
        {999999999999999.9, "999999999999999.9"},
        {0.1 + 0.2, "0.30000000000000004"},
        {1.0 / 3, "0.3333333333333333"},
        {std::numeric_limits<double>::max(), "1.7976931348623157e+308"},
        {-std::numeric_limits<double>::max(), "-1.7976931348623157e+308"},
        {std::numeric_limits<double>::min(), "2.2250738585072014e-308"},
        {std::numeric_limits<double>::denorm_min(), "5e-324"},
    };
    for (const auto& c : cases) {
        const MvbDatavar written(c.value);
        EXPECT_EQ(text(written), c.text);
        MvbDatavar read(c.text);
        ASSERT_TRUE(read.setType(mvbTypeReal)) << c.text;
        bool error = false;
        EXPECT_EQ(std::bit_cast<uint64_t>(read.asReal(&error)), std::bit_cast<uint64_t>(c.value))
            << c.text;
    }
}

// Reals with few digits take a shorter way to their text than the general shortest-digit
// search; it must give the very bytes the general formatter does, at every digit count, size
// and sign and at the edges of the shorter way's range.
// A text keeps its digits when the real read from it is written with the same ones.
TEST(Datavar, RealsKeepTheirDigitsUpToWhatARealHolds) {
    const struct {
        const char* text;
        bool kept;
    } cases[] = {
        {"123456789012345", true},
        {"0.30000000000000004", true},
        {"1234567890123456.000", true},
        {"-0.00012345678901234567", true},
        {"1.7976931348623157e308", true},
        {" +0.30000000000000004e1 ", true},
        {"9007199254740993", false},
        {"12345678901234567.89", false},
        {"0.10000000000000000555", false},
        {"1.00000000000000000001e-5", false},
        // Subnormal reals keep fewer digits than 15.
        {"5e-324", true},
        {"7e-324", false},
        {"1.2347e-320", true},
        {"1.23456789012341e-320", false},
    };
    for (const auto& c : cases) {
        double value = 0;
        ASSERT_TRUE(mvb::text::parseReal(c.text, &value)) << c.text;
        EXPECT_EQ(mvb::text::realKeepsDigits(c.text, value), c.kept) << c.text;
    }
}

TEST(Datavar, RealTextOfFewDigitsIsTheGeneralText) {
    std::mt19937_64 random(20261208);
    std::vector<double> values = {1e6, 1e5, 123456.0, 1e-4, 1e-5, 0.001, 1e-6, 9.5e-7, 1.5e-6, 1e14,
                                  1e15, 999999999999999.0, 99999999999999.98, 0.3, -0.3, 2.5, -1e6,
                                  1200, 0.1 + 0.2, 5e-324, 1e300, 1e-300, 4503599627370497.0,
                                  // Eight digits and the edges of eight.
                                  99999999.0, 99999999.5, 1e8, 12345678.9, 1.2345678e-4,
                                  0.00012345678};
    for (int i = 0; i < 200000; ++i) {
        // Decimals of 1 to 17 digits with 0 to 23 places, read from their text.
        const int digits = 1 + static_cast<int>(random() % 17);
        uint64_t most = 1;
        for (int d = 0; d < digits; ++d)
            most *= 10;
        const std::string decimal =
            std::to_string(random() % most) + "e-" + std::to_string(random() % 24);
        double value = 0;
        std::from_chars(decimal.data(), decimal.data() + decimal.size(), value);
        values.push_back(i % 2 == 0 ? value : -value);
        // Any bits at all that make a finite double.
        uint64_t bits = random();
        double any = 0;
        std::memcpy(&any, &bits, sizeof any);
        if (std::isfinite(any)) values.push_back(any);
    }
    for (double value : values) {
        char expected[64];
        const int expectedLength = mvb::text::formatRealGeneral(value, expected);
        char buffer[64];
        const int length = MvbDatavar(value).formatText(buffer, static_cast<int>(sizeof buffer));
        ASSERT_EQ(std::string(buffer, static_cast<size_t>(length)),
                  std::string(expected, static_cast<size_t>(expectedLength)))
            << "value bits " << std::bit_cast<uint64_t>(value);
    }
}

// A real read from a text keeps that text to write it when it is what the general formatter
// writes for the value. Every text of up to five characters of digits and points, with and
// without a minus sign, and random ones of six to nine: read as a real, each writes the general
// text, and every text of that text's shape (no zero leading its digits, none ending a
// fraction) is kept, so that the test sees the kept text written and not only the formatter.
TEST(Datavar, RealReadFromItsOwnTextWritesTheGeneralText) {
    std::vector<std::string> texts;
    const std::string kChars = "0123456789.";
    for (size_t length = 1; length <= 5; ++length) {
        std::string word(length, '0');
        std::vector<size_t> at(length, 0);
        for (;;) {
            for (size_t i = 0; i < length; ++i)
                word[i] = kChars[at[i]];
            texts.push_back(word);
            size_t i = 0;
            while (i < length && ++at[i] == kChars.size())
                at[i++] = 0;
            if (i == length) break;
        }
    }
    std::mt19937_64 random(20261210);
    for (int i = 0; i < 300000; ++i) {
        std::string word(6 + random() % 4, '0');
        for (char& c : word)
            c = random() % 4 == 0 ? '0' : static_cast<char>('0' + random() % 10);
        if (random() % 8 != 0) word[1 + random() % (word.size() - 2)] = '.';
        texts.push_back(word);
    }
    int kept = 0;
    for (const std::string& digitsAndPoints : texts) {
        for (const std::string& number : {digitsAndPoints, "-" + digitsAndPoints}) {
            double value = 0;
            bool asWritten = false;
            if (!mvb::text::parseRealAsWritten(number, &value, &asWritten)) continue;
            const std::string_view digits = std::string_view(number).substr(number[0] == '-');
            const size_t point = digits.find('.');
            const bool pointInside =
                point == std::string_view::npos || (point != 0 && point + 1 != digits.size());
            const bool shaped = pointInside &&
                                (digits[0] != '0' || digits.size() == 1 || point == 1) &&
                                (point == std::string_view::npos || digits.back() != '0');
            ASSERT_EQ(asWritten, shaped && digits.size() <= 8) << number;
            kept += asWritten ? 1 : 0;
            char expected[64];
            const int expectedLength = mvb::text::formatRealGeneral(value, expected);
            MvbDatavar read;
            ASSERT_TRUE(read.assignConverted(number, mvbTypeReal)) << number;
            ASSERT_EQ(read.asReal(nullptr), value) << number;
            char buffer[64];
            const int length = read.formatText(buffer, static_cast<int>(sizeof buffer));
            ASSERT_EQ(std::string_view(buffer, static_cast<size_t>(length)),
                      std::string_view(expected, static_cast<size_t>(expectedLength)))
                << number;
            // A copy writes the same, and the value once given a real of its own writes that.
            MvbDatavar copy("a text that held the storage before");
            copy = read;
            EXPECT_EQ(text(copy), std::string(expected, static_cast<size_t>(expectedLength)));
            read.assign(0.5);
            EXPECT_EQ(text(read), "0.5");
        }
    }
    EXPECT_GT(kept, 100000);
}

TEST(Datavar, PlainRealsReadTheSameDoubleAsTheFullParse) {
    // Plain decimals are read by a shortcut up to 15 digits; around that limit and at every
    // position of the point it must give exactly what std::from_chars gives.
    uint64_t state = 0x9E3779B97F4A7C15ull;
    for (int i = 0; i < 20000; ++i) {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        const int digits = 1 + static_cast<int>((state >> 20) % 17);
        std::string text = (state >> 60) % 2 == 0 ? "-" : "";
        std::string number = std::to_string(state >> 1).substr(0, static_cast<size_t>(digits));
        const size_t point = (state >> 40) % number.size();
        if (point > 0) number.insert(point, ".");
        text += number;
        double expected = 0;
        std::from_chars(text.data(), text.data() + text.size(), expected);
        MvbDatavar value(text.c_str());
        ASSERT_TRUE(value.setType(mvbTypeReal)) << text;
        bool error = false;
        ASSERT_EQ(value.asReal(&error), expected) << text;
    }
}

TEST(Datavar, PlainIntegersReadWhatTheFullParseReads) {
    // Integers of a sign and up to 8 digits are read as one word and up to 18 by a loop; around
    // both limits, with leading zeros and with a stray byte anywhere they must agree with
    // std::from_chars.
    std::mt19937_64 random(20261209);
    const char strays[] = {'+', '-', ' ', '.', 'x', '/', ':'};
    for (int i = 0; i < 20000; ++i) {
        const auto digits = static_cast<size_t>(1 + random() % 21);
        std::string text = random() % 2 == 0 ? "-" : "";
        for (size_t d = 0; d < digits; ++d)
            text += static_cast<char>('0' + (d == 0 && random() % 2 == 0 ? 0 : random() % 10));
        if (random() % 8 == 0) text.insert(random() % (text.size() + 1), 1, strays[random() % 7]);
        const std::string_view trimmed(text.data() + (text[0] == ' '),
                                       text.size() - (text[0] == ' ') - (text.back() == ' '));
        std::string_view number = trimmed;
        if (number.size() > 1 && number[0] == '+' && number[1] != '-' && number[1] != '+')
            number.remove_prefix(1);
        int64_t expected = 0;
        const auto [end, error] =
            std::from_chars(number.data(), number.data() + number.size(), expected);
        const bool readable = error == std::errc() && end == number.data() + number.size();
        MvbDatavar value;
        ASSERT_EQ(value.assignConverted(text, mvbTypeInteger), readable) << text;
        if (readable) {
            ASSERT_EQ(value.asInt64(nullptr), expected) << text;
        }
    }
}

TEST(Datavar, NumbersIgnoreTheLocale) {
    const char* previous = std::setlocale(LC_NUMERIC, nullptr);
    const std::string saved = previous != nullptr ? previous : "C";
    if (std::setlocale(LC_NUMERIC, "de_DE.UTF-8") == nullptr &&
        std::setlocale(LC_NUMERIC, "de_DE") == nullptr) {
        GTEST_SKIP() << "no German locale installed (locale -a)";
    }
    MvbDatavar value("1.5");
    EXPECT_TRUE(value.setType(mvbTypeReal));
    bool error = false;
    EXPECT_EQ(value.asReal(&error), 1.5);
    EXPECT_EQ(text(MvbDatavar(2.25)), "2.25");
    MvbDatavar comma("1,5");
    EXPECT_FALSE(comma.setType(mvbTypeReal));
    std::setlocale(LC_NUMERIC, saved.c_str());
}

TEST(Datavar, StringStorageIsReusedAcrossAssignments) {
    MvbDatavar value;
    const std::string longest(200, 'x');
    value.assign(longest);
    const char* storage = value.stringView().data();
    value.assign(std::string(120, 'y'));
    EXPECT_EQ(value.stringView().data(), storage);
    value.assign(int64_t{5});
    value.setNull();
    value.assign(std::string(150, 'z'));
    EXPECT_EQ(value.stringView().data(), storage);
    EXPECT_EQ(value.stringView(), std::string(150, 'z'));

    MvbDatavar source(std::string(180, 'w').c_str());
    value = source;  // copying keeps the target's capacity too
    EXPECT_EQ(value.stringView().data(), storage);
    EXPECT_EQ(value.stringView(), source.stringView());
}

TEST(Datavar, CopiesEveryKind) {
    MvbDatavar target("some text");
    target = MvbDatavar(2.5);
    EXPECT_EQ(target.getType(), mvbTypeReal);
    EXPECT_EQ(text(target), "2.5");
    target = MvbDatavar();
    EXPECT_TRUE(target.isNull());
    target = MvbDatavar("back");
    EXPECT_EQ(text(target), "back");
}

// Every kind copied and moved over every kind: the raw copy of the scalar storage must carry
// booleans, integers, reals and dates whole, and a text over any other kind must read back the
// same.
TEST(Datavar, CopiesAndMovesEveryKindOverEveryKind) {
    MvbDate date;
    date.assign(2024, 2, 29, 23, 59, 58, 0);
    const MvbDatavar kinds[] = {MvbDatavar(),
                                MvbDatavar(true),
                                MvbDatavar(int64_t{-9007199254740993}),
                                MvbDatavar(-0.1),
                                MvbDatavar("short"),
                                MvbDatavar("a text longer than any small-string buffer holds"),
                                [&] {
                                    MvbDatavar v;
                                    v.assign(date);
                                    return v;
                                }()};
    for (const MvbDatavar& a : kinds) {
        for (const MvbDatavar& b : kinds) {
            MvbDatavar copy = a;
            copy = b;
            EXPECT_EQ(copy.getType(), b.getType());
            EXPECT_EQ(text(copy), text(b));
            MvbDatavar moved = a;
            MvbDatavar from = b;
            moved = std::move(from);
            EXPECT_EQ(moved.getType(), b.getType());
            EXPECT_EQ(text(moved), text(b));
            // What is left behind takes a new value as any value does.
            from = a;
            EXPECT_EQ(text(from), text(a));
        }
    }
}

// A text proven UTF-8 where it was read is trusted by the writers without a check, so the mark
// must go with every later change of the text that nobody proved, and with copies of such.
TEST(Datavar, KnownUtf8MarkIsLostByEveryUnprovenText) {
    MvbDatavar known;
    known.assignKnownUtf8("K\xC3\xB6ln");
    EXPECT_TRUE(known.isKnownUtf8());
    MvbDatavar copy = known;
    EXPECT_TRUE(copy.isKnownUtf8());
    copy.truncate(2, 3);
    EXPECT_TRUE(copy.isKnownUtf8()) << "a cut at a character keeps the text UTF-8";

    MvbDatavar reassigned = known;
    reassigned.assign("\xFF");
    EXPECT_FALSE(reassigned.isKnownUtf8());
    MvbDatavar overwritten = known;
    overwritten = MvbDatavar("\xFF");
    EXPECT_FALSE(overwritten.isKnownUtf8());
    MvbDatavar number = known;
    number.assign(int64_t{5});
    EXPECT_FALSE(number.isKnownUtf8());
    number.setType(mvbTypeString);
    EXPECT_FALSE(number.isKnownUtf8());
    MvbDatavar nulled = known;
    nulled.setNull();
    EXPECT_FALSE(nulled.isKnownUtf8());
}

struct TruncateCase {
    const char* input;
    int length;
    const char* expected;
};

const TruncateCase kTruncateCases[] = {
    {"h\xC3\xA9llo w\xC3\xB6rld", 5, "h\xC3\xA9llo"},
    {"\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E\xE3\x83\x86", 3, "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E"},
    {"\xF0\x9F\x98\x80\xF0\x9F\x98\x80", 1, "\xF0\x9F\x98\x80"},
    {"abc", 5, "abc"},
    {"abc", 3, "abc"},
    {"abcdef", 0, ""},
    {"a\xC3\xA9", 2, "a\xC3\xA9"},
};

void PrintTo(const TruncateCase& c, std::ostream* out) {
    *out << testfiles::printable(c.input) << " cut to " << c.length << " gives "
         << testfiles::printable(c.expected);
}

class TruncateTable : public testing::TestWithParam<TruncateCase> {};

TEST_P(TruncateTable, KeepsWholeCharacters) {
    const TruncateCase& c = GetParam();
    MvbDatavar value(c.input);
    value.truncate(c.length, c.length * 4);
    EXPECT_EQ(value.stringView(), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Datavar, TruncateTable, testing::ValuesIn(kTruncateCases));

TEST(Datavar, TruncateLeavesOtherKindsAlone) {
    MvbDatavar value(int64_t{123456});
    value.truncate(2, 8);
    EXPECT_EQ(text(value), "123456");
}

TEST(Datavar, FormatTextCutsAtCharacterBoundary) {
    char buffer[8];
    std::memset(buffer, 'Z', sizeof buffer);
    MvbDatavar value("a\xC3\xA9z");
    EXPECT_EQ(value.formatText(buffer, 3), 1);  // the two-byte character does not fit
    EXPECT_STREQ(buffer, "a");
    EXPECT_EQ(buffer[2], 'Z');
    EXPECT_EQ(value.formatText(buffer, 8), 4);
    EXPECT_STREQ(buffer, "a\xC3\xA9z");
    EXPECT_EQ(MvbDatavar(int64_t{123456}).formatText(buffer, 4), 3);
    EXPECT_STREQ(buffer, "123");
}

TEST(Datavar, FormatScalarGivesFormatTextsText) {
    MvbDate time;
    time.assign(2024, 2, 29, 23, 59, 58, 0);
    MvbDate outOfRange;  // formatted by the general path, cut to the room
    outOfRange.assign(-2000000000, -2000000000, -2000000000, -2000000000, -2000000000, -2000000000,
                      0);
    const MvbDatavar values[] = {MvbDatavar(true),
                                 MvbDatavar(false),
                                 MvbDatavar(std::numeric_limits<int64_t>::min()),
                                 MvbDatavar(0.1 + 0.2),
                                 MvbDatavar(-1e300),
                                 MvbDatavar(std::nan("")),
                                 MvbDatavar(1234.5),
                                 [&] {
                                     MvbDatavar v;
                                     v.assign(time);
                                     return v;
                                 }(),
                                 [&] {
                                     MvbDatavar v;
                                     v.assign(outOfRange);
                                     return v;
                                 }()};
    for (const MvbDatavar& value : values) {
        char expected[MvbDatavar::kScalarTextRoom];
        const int length = value.formatText(expected, MvbDatavar::kScalarTextRoom);
        char out[MvbDatavar::kScalarTextRoom];
        ASSERT_EQ(value.formatScalar(out), length) << expected;
        EXPECT_EQ(std::string(out, static_cast<size_t>(length)), expected);
    }
    char out[MvbDatavar::kScalarTextRoom];
    EXPECT_EQ(MvbDatavar().formatScalar(out), 0);
    EXPECT_EQ(MvbDatavar("text").formatScalar(out), 0);
}

TEST(Datavar, GetRawGivesTheBytes) {
    int size = 0;
    MvbDatavar value("abc");
    const auto* bytes = static_cast<const char*>(value.getRaw(&size));
    EXPECT_EQ(size, 4);
    EXPECT_STREQ(bytes, "abc");
    MvbDatavar empty("");
    EXPECT_NE(empty.getRaw(&size), nullptr);
    EXPECT_EQ(size, 1);
    MvbDatavar number(int64_t{77});
    const void* raw = number.getRaw(&size);
    ASSERT_EQ(size, 8);
    int64_t read = 0;
    std::memcpy(&read, raw, 8);
    EXPECT_EQ(read, 77);
}

TEST(Datavar, ConvertsNonTextKinds) {
    MvbDatavar value(3.0);
    EXPECT_TRUE(value.setType(mvbTypeInteger));
    EXPECT_EQ(value.getType(), mvbTypeInteger);
    EXPECT_TRUE(value.setType(mvbTypeString));
    EXPECT_EQ(value.stringView(), "3");
    MvbDatavar fraction(0.5);
    EXPECT_FALSE(fraction.setType(mvbTypeInteger));
    EXPECT_TRUE(fraction.isNull());
    MvbDatavar nothing;
    EXPECT_FALSE(nothing.setType(mvbTypeReal));
}

// A row packed value after value and unpacked into values that held other kinds and longer
// texts comes back kind for kind and byte for byte, short texts of every length and long ones
// at the edges of their length's bytes included, with the UTF-8 mark kept only where it was.
TEST(Datavar, PackedRowUnpacksAsItWas) {
    std::vector<MvbDatavar> row;
    row.emplace_back();
    row.emplace_back(true);
    row.emplace_back(false);
    for (const int64_t number :
         {int64_t{-9007199254740993}, int64_t{0}, int64_t{-1}, int64_t{63}, int64_t{-64},
          int64_t{64}, std::numeric_limits<int64_t>::max(), std::numeric_limits<int64_t>::min()})
        row.emplace_back(number);
    row.emplace_back(-0.0);
    MvbDate date;
    date.assign(2024, 2, 29, 23, 59, 58, 0);
    row.emplace_back().assign(date);
    for (size_t length = 0; length <= 17; ++length) {
        const std::string text(length, static_cast<char>('a' + length));
        if (length % 2 == 0) {
            row.emplace_back().assignKnownUtf8(text);
        } else {
            row.emplace_back().assign(text);
        }
    }
    row.emplace_back().assign(std::string_view("nul\0inside", 10));
    // Lengths whose count takes one, two and three bytes, at each edge.
    for (const size_t length : {127, 128, 16383, 16384})
        row.emplace_back().assignKnownUtf8(std::string(length, 'L'));
    // A real read from the text it is written as crosses with that text, whose bytes count as
    // a string's do; one read from another text crosses as a real alone.
    std::vector<size_t> keptText(row.size(), 0);
    for (const auto& [number, kept] : {std::pair{"12.5", true}, std::pair{"12.50", false},
                                       std::pair{"-0.000001", true}, std::pair{"0", true}}) {
        ASSERT_TRUE(row.emplace_back().assignConverted(number, mvbTypeReal));
        keptText.push_back(kept ? std::strlen(number) : 0);
    }

    size_t size = 0;
    for (size_t i = 0; i < row.size(); ++i) {
        const MvbDatavar& value = row[i];
        // The room a filler leaves for a value before it knows the value's size, the fixed part
        // and the text it counts off the spare room, holds the value: the text's bytes
        // exactly, and one byte less refuses it without counting anything.
        const size_t text = value.stringView().size() + keptText[i];
        EXPECT_GE(MvbDatavar::packedFixedBytes() + text, value.packedSize());
        std::vector<unsigned char> room(MvbDatavar::packedFixedBytes() + text +
                                        MvbDatavar::kPackWithinOverrun);
        size_t spare = text;
        EXPECT_EQ(value.packWithin(room.data(), &spare), room.data() + value.packedSize());
        EXPECT_EQ(spare, 0u);
        // The same bytes as pack() writes, a short text's block copy included.
        std::vector<unsigned char> packed(value.packedSize());
        value.pack(packed.data());
        EXPECT_TRUE(std::equal(packed.begin(), packed.end(), room.begin()));
        if (text != 0) {
            spare = text - 1;
            EXPECT_EQ(value.packWithin(room.data(), &spare), nullptr);
            EXPECT_EQ(spare, text - 1);
        }
        size += value.packedSize();
    }
    std::vector<unsigned char> buffer(size + MvbDatavar::kUnpackReadAhead);
    unsigned char* bytes = buffer.data();
    unsigned char* end = bytes;
    for (const MvbDatavar& value : row)
        end = value.pack(end);
    ASSERT_EQ(static_cast<size_t>(end - bytes), size);

    std::vector<MvbDatavar> back(row.size(), MvbDatavar(std::string(40, 'x').c_str()));
    const unsigned char* at = bytes;
    for (MvbDatavar& value : back)
        at = value.unpack(at);
    ASSERT_EQ(at, end);
    for (size_t i = 0; i < row.size(); ++i) {
        SCOPED_TRACE(i);
        ASSERT_EQ(back[i].getType(), row[i].getType());
        EXPECT_EQ(back[i].isKnownUtf8(), row[i].isKnownUtf8());
        EXPECT_EQ(back[i].stringView(), row[i].stringView());
        EXPECT_EQ(text(back[i]), text(row[i]));
        EXPECT_EQ(back[i].packedSize(), row[i].packedSize());  // a real's text kept, too
    }
    EXPECT_TRUE(std::signbit(back[11].asReal(nullptr)));
}

}  // namespace
