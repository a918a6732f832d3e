// Recording dates, byte for byte against values worked out by hand (the other fields: the
// golden images).
#include "image/encoding.h"

#include <gtest/gtest.h>

#include "support/image_builder.h"

namespace tavrine::detail {
namespace {

using testing::Hex;

TEST(Encoding, RecordingDates) {
  // The last year a byte counts from 1900, the first it cannot (all zero), and the offset from
  // GMT in signed 15-minute units.
  EXPECT_EQ(Hex(EncodeRecordingDate({2155, 12, 31, 23, 59, 59, 0})), "FF 0C 1F 17 3B 3B 00");
  EXPECT_EQ(Hex(EncodeRecordingDate({2156, 1, 1, 0, 0, 0, 0})), "00 00 00 00 00 00 00");
  EXPECT_EQ(Hex(EncodeRecordingDate({2024, 3, 5, 9, 7, 3, 60})), "7C 03 05 09 07 03 04");
}

}  // namespace
}  // namespace tavrine::detail
