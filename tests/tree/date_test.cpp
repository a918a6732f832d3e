#include "tree/date.h"

#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <random>
#include <string>
#include <tuple>

#include "support/time_zone.h"

namespace tavrine {
namespace {

using ZoneScope = testing::ScopedTimeZone;

TEST(Date, ZeroMeansUnknownWhateverItsOffset) {
  EXPECT_TRUE(DateTime{}.IsZero());
  EXPECT_TRUE((DateTime{1899, 12, 30, 0, 0, 0, 60}).IsZero());
  EXPECT_FALSE((DateTime{1899, 12, 30, 0, 0, 1, std::nullopt}).IsZero());
}

// Instants as local time: the fields and the offset in force at that instant, worked out by
// hand. The same fields given bare take the zone's offset at that date, except in the hour
// repeated when clocks go back, which they cannot tell apart.
TEST(Date, LocalTimeAndItsOffset) {
  struct Case {
    const char* zone;
    std::int64_t seconds;
    DateTime expected;
    bool ambiguous = false;
  };
  const Case cases[] = {
      {"Europe/Berlin", 1625140800, {2021, 7, 1, 14, 0, 0, 120}},  // summer time
      {"Europe/Berlin", 1610712000, {2021, 1, 15, 13, 0, 0, 60}},  // winter time
      // The last second of 1969: mktime gives -1, which is a time and not a failure.
      {"Europe/Berlin", -1, {1970, 1, 1, 0, 59, 59, 60}},
      // 2024-10-27 02:30 twice: at 00:30 UTC in summer time, at 01:30 UTC in winter time.
      {"Europe/Berlin", 1729989000, {2024, 10, 27, 2, 30, 0, 120}, true},
      {"Europe/Berlin", 1729992600, {2024, 10, 27, 2, 30, 0, 60}, true},
      {"America/St_Johns", 1610712000, {2021, 1, 15, 8, 30, 0, -210}},
      {"Asia/Kathmandu", 1610712000, {2021, 1, 15, 17, 45, 0, 345}},
      // Local mean time, -4:56:02: whole minutes, truncated toward zero.
      {"America/New_York", -2840097600, {1880, 1, 1, 7, 3, 58, -296}},
      {"UTC", 0, {1970, 1, 1, 0, 0, 0, 0}},
  };
  for (const Case& c : cases) {
    if (!std::filesystem::exists(std::string("/usr/share/zoneinfo/") + c.zone)) continue;
    ZoneScope zone(c.zone);
    SCOPED_TRACE(std::string(c.zone) + " " + std::to_string(c.seconds));
    EXPECT_EQ(DateTime::FromUnixLocal(c.seconds), c.expected);
    DateTime bare = c.expected;
    bare.utcOffsetMinutes.reset();
    if (!c.ambiguous) {
      EXPECT_EQ(bare.EffectiveUtcOffsetMinutes(), c.expected.utcOffsetMinutes);
    }
    bare.utcOffsetMinutes = -330;  // a given offset wins over the zone
    EXPECT_EQ(bare.EffectiveUtcOffsetMinutes(), -330);
  }
}

// Seconds from 1970 to the fields, the plain way: count whole years, then months and days.
std::int64_t PlainSeconds(const DateTime& d) {
  auto leap = [](int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; };
  static const int kMonthDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  std::int64_t days = d.day - 1;
  for (int y = 1970; y < d.year; ++y) days += leap(y) ? 366 : 365;
  for (int y = d.year; y < 1970; ++y) days -= leap(y) ? 366 : 365;
  for (int m = 1; m < d.month; ++m) days += kMonthDays[m - 1] + (m == 2 && leap(d.year) ? 1 : 0);
  return days * 86400 + d.hour * 3600 + d.minute * 60 + d.second;
}

// Random instants from 1901 to 2099: the UTC fields count back to the same second, and the
// local fields minus their offset do too, the hour repeated when clocks go back included.
TEST(Date, FieldsAndOffsetsRoundTripOnRandomInstants) {
  ZoneScope zone("Europe/Berlin");
  std::mt19937_64 rng(1899);
  std::uniform_int_distribution<std::int64_t> instants(-2177452800, 4102444799);
  for (int i = 0; i < 20000; ++i) {
    const std::int64_t seconds = instants(rng);
    const DateTime utc = DateTime::FromUnixUtc(seconds);
    ASSERT_EQ(PlainSeconds(utc), seconds) << seconds;
    ASSERT_EQ(utc.utcOffsetMinutes, 0) << seconds;
    const DateTime local = DateTime::FromUnixLocal(seconds);
    ASSERT_EQ(PlainSeconds(local) - local.EffectiveUtcOffsetMinutes() * 60, seconds) << seconds;
    ASSERT_EQ(local.UnixSeconds(), seconds) << seconds;
  }
}

}  // namespace
}  // namespace tavrine
