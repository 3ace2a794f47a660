#include <cstdint>
#include <cstring>
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

inline bool isValid(const DateParts& d) noexcept {
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

constexpr bool isDigit(char c) noexcept {
    return c >= '0' && c <= '9';
}

/// The two digits at `p` as a number; -1 when they are not both digits.
inline int twoDigits(const char* p) noexcept {
    return isDigit(p[0]) && isDigit(p[1]) ? (p[0] - '0') * 10 + (p[1] - '0') : -1;
}

/// `YYYY-MM-DD` at `t` (ten bytes) as its parts, the bytes checked eight and two at a time: each
/// digit's byte less '0' must be at most 9 and each dash's byte less '-' zero. False for any
/// other text.
inline bool readIsoDateWords(const char* t, DateParts& d) noexcept {
    uint64_t head = 0;  // YYYY-MM-, its first byte lowest
    uint16_t tail = 0;  // DD
    std::memcpy(&head, t, sizeof head);
    std::memcpy(&tail, t + sizeof head, sizeof tail);
    head ^= 0x2D30302D30303030ull;
    tail ^= 0x3030u;
    // A byte of at most 9 keeps its high half clear with 6 added; the dashes' bytes must be 0.
    constexpr uint64_t kHighHalves = 0xF0F0F0F0F0F0F0F0ull;
    constexpr uint64_t kDashes = 0xFF0000FF00000000ull;
    if (((head | (head + 0x0606060606060606ull)) & kHighHalves) != 0 || (head & kDashes) != 0 ||
        ((tail | (tail + 0x0606u)) & 0xF0F0u) != 0) {
        return false;
    }
    const auto digit = [head](int at) noexcept {
        return static_cast<int>((head >> (8 * at)) & 0xFF);
    };
    d.year = digit(0) * 1000 + digit(1) * 100 + digit(2) * 10 + digit(3);
    d.month = digit(5) * 10 + digit(6);
    d.day = (tail & 0xFF) * 10 + (tail >> 8);
    return true;
}

/// The shape most data has, exactly `YYYY-MM-DD` or `YYYY-MM-DD HH:MM:SS` (`size` bytes) with
/// nothing around it, read in one pass. False for any other text, which the general reader
/// then takes; calendar checks come after either.
bool readIsoShape(const char* t, size_t size, DateParts& d) noexcept {
    if ((size != 10 && size != 19) || !readIsoDateWords(t, d)) {
        return false;
    }
    d.hour = 0;
    d.minute = 0;
    d.second = 0;
    if (size == 19) {
        if (t[10] != ' ' && t[10] != 'T') {
            return false;
        }
        d.hour = twoDigits(t + 11);
        d.minute = d.hour < 0 || t[13] != ':' ? -1 : twoDigits(t + 14);
        d.second = d.minute < 0 || t[16] != ':' ? -1 : twoDigits(t + 17);
        if (d.second < 0) {
            return false;
        }
    }
    return true;
}

/// Where the parts go; a null pointer drops that part.
struct DateOuts {
    int* year;
    int* month;
    int* day;
    int* hour;
    int* minute;
    int* second;
};

/// 0 with the parts stored when they make a valid date and time, else 1.
inline int store(const DateParts& d, const DateOuts& outs) noexcept {
    if (!isValid(d)) {
        return 1;
    }
    // One store per part, straight from the registers (a loop over arrays of them would first
    // put them on the stack).
    const auto put = [](int* target, int value) noexcept {
        if (target != nullptr) {
            *target = value;
        }
    };
    put(outs.year, d.year);
    put(outs.month, d.month);
    put(outs.day, d.day);
    put(outs.hour, d.hour);
    put(outs.minute, d.minute);
    put(outs.second, d.second);
    return 0;
}

/// Any text in `format` (0 to 3), blanks around allowed.
[[gnu::noinline]] int parseGeneral(std::string_view text, int format,
                                   const DateOuts& outs) noexcept {
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
        default:
            ok = readOrdered(in, d, "ymd");
            break;
    }
    return ok && readTime(in, d) ? store(d, outs) : 1;
}

}  // namespace

int mvs_string_to_date(const char* text, int* year, int* month, int* day, int* hour, int* minute,
                       int* second, int format) noexcept {
    if (text == nullptr) {
        return 1;
    }
    return mvs_text_to_date(text, std::strlen(text), year, month, day, hour, minute, second,
                            format);
}

int mvs_text_to_date(const char* text, size_t bytes, int* year, int* month, int* day, int* hour,
                     int* minute, int* second, int format) noexcept {
    if (text == nullptr) {
        return 1;
    }
    if (format < 0 || format > 3) {
        return 2;
    }
    // The parts of the common shape stay in registers; everything else takes the general path.
    // Each path makes its own outs, so that the common one puts nothing on the stack.
    if (DateParts d; format == 0 && readIsoShape(text, bytes, d)) [[likely]] {
        return store(d, DateOuts{year, month, day, hour, minute, second});
    }
    return parseGeneral(std::string_view(text, bytes), format,
                        DateOuts{year, month, day, hour, minute, second});
}
