#include "tree/date.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <random>
#include <string>

namespace tavrine {
namespace {

// Runs the test body under another time zone and restores the one CTest set.
class ZoneScope {
 public:
  explicit ZoneScope(const char* zone) {
    const char* old = std::getenv("TZ");
    hadOld_ = old != nullptr;
    if (hadOld_) old_ = old;
    setenv("TZ", zone, 1);
    tzset();
  }
  ~ZoneScope() {
    if (hadOld_) {
      setenv("TZ", old_.c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }

 private:
  bool hadOld_ = false;
  std::string old_;
};

bool ZoneInstalled(const char* zone) {
  return std::filesystem::exists(std::string("/usr/share/zoneinfo/") + zone);
}

DateTime Local(int y, int mo, int d, int h, int mi, int s) {
  return DateTime{y, mo, d, h, mi, s, std::nullopt};
}

TEST(Date, ZeroMeansUnknown) {
  EXPECT_TRUE(DateTime::Zero().IsZero());
  EXPECT_TRUE(DateTime{}.IsZero());
  EXPECT_EQ(DateTime::Zero(), Local(1899, 12, 30, 0, 0, 0));
  EXPECT_FALSE(Local(1899, 12, 30, 0, 0, 1).IsZero());
  EXPECT_FALSE(Local(1980, 1, 1, 0, 0, 0).IsZero());
}

TEST(Date, FromUnixUtcAndLocal) {
  ZoneScope zone("Europe/Berlin");
  DateTime epoch = DateTime::FromUnixUtc(0);
  EXPECT_EQ(epoch, (DateTime{1970, 1, 1, 0, 0, 0, 0}));
  EXPECT_EQ(epoch.EffectiveUtcOffsetMinutes(), 0);
  // 2000-02-29 23:59:59 UTC, a leap day.
  EXPECT_EQ(DateTime::FromUnixUtc(951868799), (DateTime{2000, 2, 29, 23, 59, 59, 0}));
  EXPECT_EQ(DateTime::FromUnixUtc(-1), (DateTime{1969, 12, 31, 23, 59, 59, 0}));

  // 2021-07-01 12:00:00 UTC is 14:00 summer time in Berlin; 2021-01-15 12:00 UTC is 13:00.
  DateTime summer = DateTime::FromUnixLocal(1625140800);
  EXPECT_EQ(summer, (DateTime{2021, 7, 1, 14, 0, 0, 120}));
  EXPECT_EQ(summer.EffectiveUtcOffsetMinutes(), 120);
  DateTime winter = DateTime::FromUnixLocal(1610712000);
  EXPECT_EQ(winter, (DateTime{2021, 1, 15, 13, 0, 0, 60}));
  EXPECT_EQ(winter.EffectiveUtcOffsetMinutes(), 60);
  // The last second of 1969 UTC is a real time, not a failure of mktime.
  EXPECT_EQ(Local(1970, 1, 1, 0, 59, 59).EffectiveUtcOffsetMinutes(), 60);

  DateTime given = summer;
  given.utcOffsetMinutes = -330;
  EXPECT_EQ(given.EffectiveUtcOffsetMinutes(), -330);
}

TEST(Date, OffsetsOfOtherZones) {
  if (!ZoneInstalled("America/St_Johns") || !ZoneInstalled("Asia/Kathmandu")) {
    GTEST_SKIP() << "time zone data not installed";
  }
  {
    ZoneScope zone("America/St_Johns");  // -03:30, summer -02:30
    EXPECT_EQ(Local(2021, 1, 15, 12, 0, 0).EffectiveUtcOffsetMinutes(), -210);
    EXPECT_EQ(Local(2021, 7, 15, 12, 0, 0).EffectiveUtcOffsetMinutes(), -150);
    EXPECT_EQ(DateTime::FromUnixLocal(1610712000), (DateTime{2021, 1, 15, 8, 30, 0, -210}));
  }
  {
    ZoneScope zone("Asia/Kathmandu");  // +05:45
    EXPECT_EQ(Local(2021, 1, 15, 12, 0, 0).EffectiveUtcOffsetMinutes(), 345);
  }
  {
    ZoneScope zone("UTC");
    EXPECT_EQ(Local(2021, 7, 15, 12, 0, 0).EffectiveUtcOffsetMinutes(), 0);
  }
}

TEST(Date, LocalNowLiesBetweenTwoReadingsOfTheClock) {
  auto key = [](const DateTime& d) {
    return std::make_tuple(d.year, d.month, d.day, d.hour, d.minute, d.second);
  };
  const DateTime before = DateTime::FromUnixLocal(std::time(nullptr));
  const DateTime now = DateTime::LocalNow();
  const DateTime after = DateTime::FromUnixLocal(std::time(nullptr));
  EXPECT_LE(key(before), key(now));
  EXPECT_LE(key(now), key(after));
  EXPECT_EQ(now.utcOffsetMinutes, before.utcOffsetMinutes);
}

// 2024-10-27 02:30 happens twice in Berlin: first in summer time, an hour later in winter time.
// Each instant keeps the offset in force at it; the bare fields can only name one of them.
TEST(Date, RepeatedHourKeepsTheOffsetOfEachInstant) {
  ZoneScope zone("Europe/Berlin");
  const DateTime first = DateTime::FromUnixLocal(1729989000);   // 00:30 UTC
  const DateTime second = DateTime::FromUnixLocal(1729992600);  // 01:30 UTC
  EXPECT_EQ(first, (DateTime{2024, 10, 27, 2, 30, 0, 120}));
  EXPECT_EQ(second, (DateTime{2024, 10, 27, 2, 30, 0, 60}));
  EXPECT_EQ(first.EffectiveUtcOffsetMinutes(), 120);
  EXPECT_EQ(second.EffectiveUtcOffsetMinutes(), 60);
}

// Days from 1970-01-01 to a civil date, the plain way: count whole years, then months.
std::int64_t PlainDaysFromCivil(int year, int month, int day) {
  auto leap = [](int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; };
  static const int kMonthDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  std::int64_t days = 0;
  for (int y = 1970; y < year; ++y) days += leap(y) ? 366 : 365;
  for (int y = year; y < 1970; ++y) days -= leap(y) ? 366 : 365;
  for (int m = 1; m < month; ++m) days += kMonthDays[m - 1] + (m == 2 && leap(year) ? 1 : 0);
  return days + day - 1;
}

std::int64_t PlainSeconds(const DateTime& d) {
  return PlainDaysFromCivil(d.year, d.month, d.day) * 86400 + d.hour * 3600 + d.minute * 60 +
         d.second;
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
    const DateTime local = DateTime::FromUnixLocal(seconds);
    const std::int64_t back = PlainSeconds(local) - local.EffectiveUtcOffsetMinutes() * 60;
    ASSERT_EQ(back, seconds) << seconds;
  }
}

}  // namespace
}  // namespace tavrine
