#include "mvb/date.h"

#include <cstdio>

void MvbDate::assign(int year, int month, int day, int hour, int minute, int second,
                     int /*fraction*/) {
    year_ = year;
    month_ = static_cast<int8_t>(month);
    day_ = static_cast<int8_t>(day);
    hour_ = static_cast<int8_t>(hour);
    minute_ = static_cast<int8_t>(minute);
    second_ = static_cast<int8_t>(second);
}

namespace {

char* putTwo(char* out, int value) noexcept {
    out[0] = static_cast<char>('0' + value / 10);
    out[1] = static_cast<char>('0' + value % 10);
    return out + 2;
}

bool inRange(int value, int low, int high) noexcept {
    return value >= low && value <= high;
}

}  // namespace

int MvbDate::format(char* buffer, int capacity) const noexcept {
    if (buffer == nullptr || capacity <= 0) {
        return 0;
    }
    const bool hasTime = hour_ != 0 || minute_ != 0 || second_ != 0;
    const bool plain = inRange(year_, 0, 9999) && inRange(month_, 0, 99) && inRange(day_, 0, 99) &&
                       inRange(hour_, 0, 99) && inRange(minute_, 0, 99) && inRange(second_, 0, 99);
    const int needed = hasTime ? 20 : 11;
    if (!plain || capacity < needed) {
        // Dates no parser produces (or a short buffer): the general, bounded path.
        const int n = hasTime ? std::snprintf(buffer, static_cast<size_t>(capacity),
                                              "%04d-%02d-%02d %02d:%02d:%02d", year_, month_, day_,
                                              hour_, minute_, second_)
                              : std::snprintf(buffer, static_cast<size_t>(capacity),
                                              "%04d-%02d-%02d", year_, month_, day_);
        return n < capacity ? n : capacity - 1;
    }
    char* out = buffer;
    out = putTwo(out, year_ / 100);
    out = putTwo(out, year_ % 100);
    *out++ = '-';
    out = putTwo(out, month_);
    *out++ = '-';
    out = putTwo(out, day_);
    if (hasTime) {
        *out++ = ' ';
        out = putTwo(out, hour_);
        *out++ = ':';
        out = putTwo(out, minute_);
        *out++ = ':';
        out = putTwo(out, second_);
    }
    *out = '\0';
    return static_cast<int>(out - buffer);
}
