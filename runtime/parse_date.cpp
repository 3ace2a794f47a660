#include <cstdint>
#include <cstring>
#include <string_view>

#include "mvb/datavar.h"
#include "mvb/date.h"
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

inline bool isValid(const DateParts& d) noexcept {
    static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    // Each range as one unsigned compare; the leap year is looked at only for a 29 February.
    const auto month = static_cast<unsigned>(d.month - 1);
    if (static_cast<unsigned>(d.year - 1) > 9998u || month > 11u || d.day < 1 ||
        (d.day > kDays[month] && !(month == 1 && d.day == 29 && isLeapYear(d.year)))) {
        return false;
    }
    return static_cast<unsigned>(d.hour) <= 23u && static_cast<unsigned>(d.minute) <= 59u &&
           static_cast<unsigned>(d.second) <= 59u;
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
    // The year's four digits pairwise: two numbers of two digits, then one of four.
    uint64_t year = head & 0xFFFFFFFFu;
    year = (year * 10 + (year >> 8)) & 0x00FF00FFu;
    d.year = static_cast<int>((year * 100 + (year >> 16)) & 0xFFFFu);
    d.month = digit(5) * 10 + digit(6);
    d.day = (tail & 0xFF) * 10 + (tail >> 8);
    return true;
}

/// The shape most data has, exactly `YYYY-MM-DD` or `YYYY-MM-DD HH:MM:SS` (`size` bytes) with
/// nothing around it, read in one pass. False for any other text, which the general reader
/// then takes; calendar checks come after either.
[[gnu::always_inline]] inline bool readIsoShape(const char* t, size_t size, DateParts& d) noexcept {
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

/// Stores the parts, each where its pointer says.
inline void store(const DateParts& d, const DateOuts& outs) noexcept {
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
}

/// Any text in `format` (0 to 3), blanks around allowed, as a valid date and time.
[[gnu::noinline]] bool readGeneral(std::string_view text, int format, DateParts& d) noexcept {
    DateReader in(mvb::utf8::trimBlanks(text));
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
    return ok && readTime(in, d) && isValid(d);
}

/// The parts of the `bytes` bytes at `text` in `format` (0 to 3): the common shape in one pass,
/// any other text through the general reader. False when they make no valid date and time.
inline bool readParts(const char* text, size_t bytes, int format, DateParts& d) noexcept {
    if (format == 0 && readIsoShape(text, bytes, d)) [[likely]] {
        return isValid(d);
    }
    d = DateParts{};
    return readGeneral(std::string_view(text, bytes), format, d);
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
    // The parts stay in registers; only a valid date reaches the caller's pointers.
    DateParts d;
    if (!readParts(text, bytes, format, d)) {
        return 1;
    }
    store(d, DateOuts{year, month, day, hour, minute, second});
    return 0;
}

bool MvbDatavar::assignDate(std::string_view text, int format) noexcept {
    DateParts d;
    if (text.data() == nullptr || format < 0 || format > 3 ||
        !readParts(text.data(), text.size(), format, d)) {
        setNull();
        return false;
    }
    date_ = MvbDate(d.year, d.month, d.day, d.hour, d.minute, d.second);
    type_ = mvbTypeDate;
    return true;
}
