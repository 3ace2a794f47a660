#pragma once

#include <cstdint>

#include "mvb/export.h"

/// A calendar date with a time of day, without a time zone.
class MVB_API MvbDate {
  public:
    MvbDate() = default;
    /// The date of these parts, stored as given (each part of a month, day or time in a byte).
    MvbDate(int year, int month, int day, int hour, int minute, int second) noexcept
        : year_(year),
          month_(static_cast<int8_t>(month)),
          day_(static_cast<int8_t>(day)),
          hour_(static_cast<int8_t>(hour)),
          minute_(static_cast<int8_t>(minute)),
          second_(static_cast<int8_t>(second)) {}

    /// Sets the date from the parts the date parser gives, in its order. `fraction` is kept
    /// for callers that pass it (always 0 from the steps) and is not stored.
    void assign(int year, int month, int day, int hour, int minute, int second, int fraction);

    int year() const noexcept { return year_; }
    int month() const noexcept { return month_; }
    int day() const noexcept { return day_; }
    int hour() const noexcept { return hour_; }
    int minute() const noexcept { return minute_; }
    int second() const noexcept { return second_; }

    /// Writes `YYYY-MM-DD`, or `YYYY-MM-DD HH:MM:SS` when the time is not midnight, and a NUL.
    /// Returns the number of bytes written without the NUL. `capacity` must be at least 20.
    int format(char* buffer, int capacity) const noexcept;

    bool operator==(const MvbDate&) const = default;

  private:
    int32_t year_ = 1970;
    int8_t month_ = 1;
    int8_t day_ = 1;
    int8_t hour_ = 0;
    int8_t minute_ = 0;
    int8_t second_ = 0;
};
