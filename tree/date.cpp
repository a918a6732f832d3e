#include "tree/date.h"

#include <cerrno>
#include <ctime>

namespace tavrine {

namespace {

std::tm ToTm(const DateTime& date) {
  std::tm fields{};
  fields.tm_year = date.year - 1900;
  fields.tm_mon = date.month - 1;
  fields.tm_mday = date.day;
  fields.tm_hour = date.hour;
  fields.tm_min = date.minute;
  fields.tm_sec = date.second;
  fields.tm_isdst = -1;  // let the zone decide whether daylight saving applies at this date
  return fields;
}

DateTime FromTm(const std::tm& fields) {
  DateTime date;
  date.year = fields.tm_year + 1900;
  date.month = fields.tm_mon + 1;
  date.day = fields.tm_mday;
  date.hour = fields.tm_hour;
  date.minute = fields.tm_min;
  date.second = fields.tm_sec;
  return date;
}

}  // namespace

bool DateTime::IsZero() const {
  const DateTime zero = Zero();
  return year == zero.year && month == zero.month && day == zero.day && hour == zero.hour &&
         minute == zero.minute && second == zero.second;
}

int DateTime::EffectiveUtcOffsetMinutes() const {
  if (utcOffsetMinutes) return *utcOffsetMinutes;
  // The same fields read once as local time and once as UTC: the difference is the zone's
  // offset at that date. mktime and timegm normalise their copies alike (a time in the gap of
  // a daylight-saving change included), so the difference stays the offset.
  std::tm asLocal = ToTm(*this);
  std::tm asUtc = ToTm(*this);
  errno = 0;
  const std::time_t local = std::mktime(&asLocal);
  const std::time_t utc = timegm(&asUtc);
  // -1 is also a real second (the last one of 1969), so errno tells a failure apart.
  if (errno != 0 && (local == -1 || utc == -1)) return 0;
  // Zones before standard time had offsets in seconds (local mean time); whole minutes,
  // truncated toward zero.
  return static_cast<int>((utc - local) / 60);
}

std::int64_t DateTime::UnixSeconds() const {
  return DaysFromCivil(year, month, day) * 86400 + std::int64_t{hour} * 3600 + minute * 60 +
         second - std::int64_t{EffectiveUtcOffsetMinutes()} * 60;
}

DateTime DateTime::LocalNow() {
  return FromUnixLocal(static_cast<std::int64_t>(std::time(nullptr)));
}

DateTime DateTime::FromUnixLocal(std::int64_t seconds) {
  const auto time = static_cast<std::time_t>(seconds);
  std::tm fields{};
  if (localtime_r(&time, &fields) == nullptr) return Zero();
  DateTime date = FromTm(fields);
  // The offset in force at this instant. Read back from the fields alone, the hour repeated
  // when clocks go back would be ambiguous, and every record would look the zone up again.
  // Offsets before standard time were in seconds (local mean time): whole minutes, truncated
  // toward zero like EffectiveUtcOffsetMinutes.
  date.utcOffsetMinutes = static_cast<int>(fields.tm_gmtoff / 60);
  return date;
}

DateTime DateTime::FromUnixUtc(std::int64_t seconds) {
  const auto time = static_cast<std::time_t>(seconds);
  std::tm fields{};
  if (gmtime_r(&time, &fields) == nullptr) return Zero();
  DateTime date = FromTm(fields);
  date.utcOffsetMinutes = 0;
  return date;
}

}  // namespace tavrine
