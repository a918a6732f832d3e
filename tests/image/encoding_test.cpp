// Recording dates, byte for byte against values worked out by hand (the other fields: the
// golden images).
#include "image/encoding.h"

#include <gtest/gtest.h>

#include "support/image_builder.h"

namespace tavrine::detail {
namespace {

using testing::Hex;

TEST(Encoding, RecordingDates) {
  struct Case {
    DateTime date;
    const char* expected;
  };
  for (const Case& c : {
           Case{{2155, 12, 31, 23, 59, 59, 0}, "FF 0C 1F 17 3B 3B 00"},
           // Years a byte cannot count from 1900: all zero.
           Case{{2156, 1, 1, 0, 0, 0, 0}, "00 00 00 00 00 00 00"},
           // Fields as stored; the offset from GMT in signed 15-minute units.
           Case{{2024, 3, 5, 9, 7, 3, 60}, "7C 03 05 09 07 03 04"},
           // The offsets' bounds, -48 and +52, are kept; beyond, the instant is written in UTC,
           // carrying into the day, month and year before.
           Case{{2024, 3, 5, 9, 7, 3, 52 * 15}, "7C 03 05 09 07 03 34"},
           Case{{2024, 1, 1, 5, 0, 0, 14 * 60}, "7B 0C 1F 0F 00 00 00"},
           Case{{2024, 12, 31, 20, 0, 0, -49 * 15}, "7D 01 01 08 0F 00 00"},
           // Before 1900 in UTC: no longer recordable.
           Case{{1900, 1, 1, 5, 0, 0, 14 * 60}, "00 00 00 00 00 00 00"},
       }) {
    EXPECT_EQ(Hex(EncodeRecordingDate(c.date)), c.expected) << c.date.year;
  }
}

}  // namespace
}  // namespace tavrine::detail
