#include <string_view>

#include "mvb/parse.h"
#include "utf8_internal.h"

namespace {

/// Reads a date text left to right.
class DateReader {
  public:
    explicit DateReader(std::string_view text) noexcept
        : p_(text.data()), end_(text.data() + text.size()) {}

    bool atEnd() const noexcept { return p_ == end_; }

    /// Reads at least `least` and at most `most` digits.
    bool number(int least, int most, int* value) noexcept {
        int count = 0;
        int result = 0;
        while (count < most && p_ < end_ && *p_ >= '0' && *p_ <= '9') {
            result = result * 10 + (*p_ - '0');
            ++p_;
            ++count;
        }
        *value = result;
        return count >= least;
    }

    bool accept(char c) noexcept {
        if (p_ < end_ && *p_ == c) {
            ++p_;
            return true;
        }
        return false;
    }

    /// Takes one of `/`, `-`, `.` and gives it in `*separator`.
    bool separator(char* separator) noexcept {
        if (p_ < end_ && (*p_ == '/' || *p_ == '-' || *p_ == '.')) {
            *separator = *p_++;
            return true;
        }
        return false;
    }

    /// Digits from the current position on.
    int digitRun() const noexcept {
        int n = 0;
        while (p_ + n < end_ && p_[n] >= '0' && p_[n] <= '9') {
            ++n;
        }
        return n;
    }

  private:
    const char* p_;
    const char* const end_;
};

struct DateParts {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};

bool isLeapYear(int year) noexcept {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int daysInMonth(int year, int month) noexcept {
    static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && isLeapYear(year) ? 29 : kDays[month - 1];
}

bool isValid(const DateParts& d) noexcept {
    return d.year >= 1 && d.year <= 9999 && d.month >= 1 && d.month <= 12 && d.day >= 1 &&
           d.day <= daysInMonth(d.year, d.month) && d.hour >= 0 && d.hour <= 23 && d.minute >= 0 &&
           d.minute <= 59 && d.second >= 0 && d.second <= 59;
}

/// The optional time after the date: nothing, or a blank or `T` and H:MM or H:MM:SS.
bool readTime(DateReader& in, DateParts& d) noexcept {
    if (in.atEnd()) {
        return true;
    }
    if (!in.accept(' ') && !in.accept('T')) {
        return false;
    }
    if (!in.number(1, 2, &d.hour) || !in.accept(':') || !in.number(2, 2, &d.minute)) {
        return false;
    }
    if (in.accept(':') && !in.number(2, 2, &d.second)) {
        return false;
    }
    return in.atEnd();
}

/// YYYY-MM-DD or YYYYMMDD.
bool readIso(DateReader& in, DateParts& d) noexcept {
    if (in.digitRun() == 8) {
        return in.number(4, 4, &d.year) && in.number(2, 2, &d.month) && in.number(2, 2, &d.day);
    }
    return in.number(4, 4, &d.year) && in.accept('-') && in.number(2, 2, &d.month) &&
           in.accept('-') && in.number(2, 2, &d.day);
}

/// Three parts with one separator kind; `order` names the parts: "mdy", "dmy" or "ymd".
bool readOrdered(DateReader& in, DateParts& d, const char* order) noexcept {
    char first = 0;
    for (int i = 0; i < 3; ++i) {
        if (i > 0) {
            char sep = 0;
            if (!in.separator(&sep) || (i == 2 && sep != first)) {
                return false;
            }
            first = sep;
        }
        bool ok = false;
        switch (order[i]) {
            case 'y':
                ok = in.number(4, 4, &d.year);
                break;
            case 'm':
                ok = in.number(1, 2, &d.month);
                break;
            default:
                ok = in.number(1, 2, &d.day);
                break;
        }
        if (!ok) {
            return false;
        }
    }
    return true;
}

}  // namespace

int mvs_string_to_date(const char* text, int* year, int* month, int* day, int* hour, int* minute,
                       int* second, int format) noexcept {
    if (text == nullptr) {
        return 1;
    }
    DateReader in(mvb::utf8::trimBlanks(text));
    DateParts d;
    bool ok = false;
    switch (format) {
        case 0:
            ok = readIso(in, d);
            break;
        case 1:
            ok = readOrdered(in, d, "mdy");
            break;
        case 2:
            ok = readOrdered(in, d, "dmy");
            break;
        case 3:
            ok = readOrdered(in, d, "ymd");
            break;
        default:
            return 2;
    }
    if (!ok || !readTime(in, d) || !isValid(d)) {
        return 1;
    }
    int* const outs[] = {year, month, day, hour, minute, second};
    const int values[] = {d.year, d.month, d.day, d.hour, d.minute, d.second};
    for (int i = 0; i < 6; ++i) {
        if (outs[i] != nullptr) {
            *outs[i] = values[i];
        }
    }
    return 0;
}
