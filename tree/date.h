// The date value of the image tree: a calendar date and time with whole seconds.
#pragma once

#include <cstdint>
#include <optional>

namespace tavrine {

// The years an image can record: a directory record holds the year as an offset from 1900 in
// one byte.
inline constexpr int kFirstRecordableYear = 1900;
inline constexpr int kLastRecordableYear = 2155;

// Days since 1970-01-01 of a date of the proleptic Gregorian calendar. A month outside 1..12
// counts on into the next or back into the previous years.
constexpr std::int64_t DaysFromCivil(std::int64_t y, int m, int d) {
  y -= m <= 2 ? 1 : 0;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const std::int64_t yoe = y - era * 400;
  const std::int64_t doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

struct DateTime {
  // The zero value, 30 December 1899 00:00:00, means "unknown".
  int year = 1899;
  int month = 12;
  int day = 30;
  int hour = 0;
  int minute = 0;
  int second = 0;
  // Offset of these fields from UTC, in minutes east. Set by FromUnixLocal, FromUnixUtc and
  // LocalNow. Absent (a date given as bare fields): the fields are local time, and the offset
  // is that of the machine's time zone at this date (daylight saving included), looked up when
  // asked; in the hour repeated when clocks go back that lookup picks one of the two.
  std::optional<int> utcOffsetMinutes;

  bool IsZero() const;
  // The offset to record with this date: utcOffsetMinutes, else the local zone's offset at it.
  int EffectiveUtcOffsetMinutes() const;
  // The instant these fields stand for, in seconds since 1970: the fields less that offset.
  std::int64_t UnixSeconds() const;

  static DateTime Zero() { return {}; }
  static DateTime LocalNow();
  // Seconds since 1970 as local time with the offset in force at that instant, or as UTC
  // (offset 0). LocalNow is FromUnixLocal of the current time.
  static DateTime FromUnixLocal(std::int64_t seconds);
  static DateTime FromUnixUtc(std::int64_t seconds);

  friend bool operator==(const DateTime&, const DateTime&) = default;
};

}  // namespace tavrine
