#include "tree/date.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support/time_zone.h"

namespace tavrine {
namespace {

// Instants as local time with the offset in force, worked out by hand; the same fields given
// bare take the zone's offset at that date.
TEST(Date, LocalTimeAndItsOffset) {
  struct Case {
    const char* zone;
    std::int64_t seconds;
    DateTime expected;
  };
  const Case cases[] = {
      {"Europe/Berlin", 1625140800, {2021, 7, 1, 14, 0, 0, 120}},  // summer time
      {"Europe/Berlin", -1, {1970, 1, 1, 0, 59, 59, 60}},          // -1 is a time, not a failure
      {"America/St_Johns", 1610712000, {2021, 1, 15, 8, 30, 0, -210}},
      {"Asia/Kathmandu", 1610712000, {2021, 1, 15, 17, 45, 0, 345}},
  };
  for (const Case& c : cases) {
    if (!std::filesystem::exists(std::string("/usr/share/zoneinfo/") + c.zone)) continue;
    testing::ScopedTimeZone zone(c.zone);
    SCOPED_TRACE(std::string(c.zone) + " " + std::to_string(c.seconds));
    EXPECT_EQ(DateTime::FromUnixLocal(c.seconds), c.expected);
    DateTime bare = c.expected;
    bare.utcOffsetMinutes.reset();
    EXPECT_EQ(bare.EffectiveUtcOffsetMinutes(), c.expected.utcOffsetMinutes);
    EXPECT_EQ(bare.UnixSeconds(), c.seconds);
  }
}

}  // namespace
}  // namespace tavrine
