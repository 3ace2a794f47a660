// The date parser over any text in each of its formats: what it accepts must be a real calendar
// date and time of day, and a value reading the same text straight into itself must agree.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "mvb/datavar.h"
#include "mvb/parse.h"

namespace {

bool leapYear(int year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int daysInMonth(int year, int month) {
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && leapYear(year) ? 29 : kDays[month - 1];
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1 || size > 4096) return 0;
    const int format = data[0] & 3;
    const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
    int year = -1, month = -1, day = -1, hour = -1, minute = -1, second = -1;
    // The text up to its first NUL, as the NUL-terminated form reads it.
    const std::string_view read(text.c_str());
    MvbDatavar value;
    const bool valueRead = value.assignDate(read, format);
    if (mvs_string_to_date(text.c_str(), &year, &month, &day, &hour, &minute, &second, format) !=
        0) {
        if (valueRead || !value.isNull()) __builtin_trap();
        return 0;
    }
    const MvbDate date = value.asDate();
    if (!valueRead || date.year() != year || date.month() != month || date.day() != day ||
        date.hour() != hour || date.minute() != minute || date.second() != second)
        __builtin_trap();
    if (month < 1 || month > 12) __builtin_trap();
    if (day < 1 || day > daysInMonth(year, month)) __builtin_trap();
    if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59)
        __builtin_trap();
    return 0;
}
