#include "mvb/date.h"

#include <cstdio>
#include <cstring>

#include "decimal_digits.h"

void MvbDate::assign(int year, int month, int day, int hour, int minute, int second,
                     int /*fraction*/) {
    *this = MvbDate(year, month, day, hour, minute, second);
}

namespace {

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
    // "YYYYMMDD" from one number, laid out as "YYYY-MM-" and "DD"; the time likewise from
    // "00HHMMSS" as " HH:MM:S" and "S".
    using mvb::text::eightDigits;
    using mvb::text::putWord;
    const uint64_t date = eightDigits(static_cast<uint32_t>(year_ * 10000 + month_ * 100 + day_));
    putWord(buffer, (date & 0xFFFFFFFFull) | (uint64_t{'-'} << 32) |
                        ((date & 0xFFFF00000000ull) << 8) | (uint64_t{'-'} << 56));
    std::memcpy(buffer + 8, reinterpret_cast<const char*>(&date) + 6, 2);
    char* out = buffer + 10;
    if (hasTime) {
        const uint64_t time =
            eightDigits(static_cast<uint32_t>(hour_ * 10000 + minute_ * 100 + second_));
        putWord(out, uint64_t{' '} | ((time & 0xFFFF0000ull) >> 8) | (uint64_t{':'} << 24) |
                         (time & 0xFFFF00000000ull) | (uint64_t{':'} << 48) |
                         ((time & 0xFF000000000000ull) << 8));
        out[8] = static_cast<char>(time >> 56);
        out += 9;
    }
    *out = '\0';
    return static_cast<int>(out - buffer);
}
