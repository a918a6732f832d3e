// The field encoders and the block arithmetic, byte for byte against values worked out by hand.
#include "image/encoding.h"

#include <gtest/gtest.h>

#include <string>

#include "image/sink.h"
#include "support/image_builder.h"
#include "support/time_zone.h"

namespace tavrine::detail {
namespace {

using testing::Hex;

// The descriptor and path table bytes of the whole-image tests hold the other number forms.
TEST(Encoding, NumbersKeepTheHighBitInPlace) {
  EXPECT_EQ(Hex(BothEndian32(0xFFFFFFFFu)), "FF FF FF FF FF FF FF FF");
  EXPECT_EQ(Hex(BigEndian16(0x8001)), "80 01");
}

TEST(Encoding, CopyUcs2BigEndianWritesWholeUnitsOfTheSourceOnly) {
  std::array<std::uint8_t, 6> out;
  struct Case {
    std::u16string source;
    std::int64_t count;
    const char* expected;
  };
  for (const Case& c :
       {Case{u"AB", 4, "00 41 00 42 EE EE"}, Case{u"\u00FC\u20AC", 0, "EE EE EE EE EE EE"},
        Case{u"\u00FC\u20AC", -1, "EE EE EE EE EE EE"}, Case{u"ABC", 4, "00 41 00 42 EE EE"},
        Case{u"AB", 6, "00 41 00 42 EE EE"},
        // A character of two units that does not fit whole is left out, not cut in half.
        Case{u"A\U0001F600", 4, "00 41 EE EE EE EE"},
        Case{u"A\U0001F600", 6, "00 41 D8 3D DE 00"}}) {
    out.fill(0xEE);
    CopyUcs2BigEndian(c.source, out.data(), c.count);
    EXPECT_EQ(Hex(out), c.expected) << "count " << c.count;
  }
}

TEST(Encoding, RecordingDates) {
  struct Case {
    DateTime date;
    const char* expected;
  };
  for (const Case& c : {
           Case{{1900, 1, 1, 0, 0, 0, 0}, "00 01 01 00 00 00 00"},
           Case{{2155, 12, 31, 23, 59, 59, 0}, "FF 0C 1F 17 3B 3B 00"},
           // Years a byte cannot count from 1900, and the zero date: all zero.
           Case{{1899, 12, 31, 23, 59, 59, 0}, "00 00 00 00 00 00 00"},
           Case{{2156, 1, 1, 0, 0, 0, 0}, "00 00 00 00 00 00 00"},
           Case{DateTime::Zero(), "00 00 00 00 00 00 00"},
           // Fields as stored; the offset from GMT in signed 15-minute units.
           Case{{2024, 3, 5, 9, 7, 3, 60}, "7C 03 05 09 07 03 04"},
           Case{{2024, 3, 5, 9, 7, 3, -300}, "7C 03 05 09 07 03 EC"},
           // The offsets' bounds, -48 and +52, are kept; beyond, the instant is written in UTC,
           // carrying into the day, month and year before.
           Case{{2024, 3, 5, 9, 7, 3, 52 * 15}, "7C 03 05 09 07 03 34"},
           Case{{2024, 3, 5, 9, 7, 3, -48 * 15}, "7C 03 05 09 07 03 D0"},
           Case{{2024, 1, 1, 5, 0, 0, 14 * 60}, "7B 0C 1F 0F 00 00 00"},
           Case{{2024, 12, 31, 20, 0, 0, -49 * 15}, "7D 01 01 08 0F 00 00"},
           // Before 1900 in UTC: no longer recordable.
           Case{{1900, 1, 1, 5, 0, 0, 14 * 60}, "00 00 00 00 00 00 00"},
       }) {
    EXPECT_EQ(Hex(EncodeRecordingDate(c.date)), c.expected) << c.date.year;
  }
}

TEST(Encoding, VolumeDates) {
  auto text = [](const std::array<std::uint8_t, 17>& b) {
    return std::string(b.begin(), b.begin() + 16) + "|" + std::to_string(std::int8_t(b[16]));
  };
  struct Case {
    DateTime date;
    const char* expected;
  };
  for (const Case& c : {
           Case{{999, 1, 2, 3, 4, 5, 0}, "0999010203040500|0"},
           Case{{2024, 3, 5, 9, 7, 3, 345}, "2024030509070300|23"},    // +5:45
           Case{{2024, 3, 5, 9, 7, 3, -210}, "2024030509070300|-14"},  // -3:30
           Case{{2024, 3, 5, 9, 7, 3, 52 * 15}, "2024030509070300|52"},
           // Chatham's summer, +13:45: UTC, into the leap day.
           Case{{2024, 3, 1, 0, 30, 0, 13 * 60 + 45}, "2024022910450000|0"},
           // Not specified: the zero date and years of five digits.
           Case{DateTime::Zero(), "0000000000000000|0"},
           Case{{10000, 1, 2, 3, 4, 5, 0}, "0000000000000000|0"},
       }) {
    EXPECT_EQ(text(EncodeVolumeDate(c.date)), c.expected) << c.date.year;
  }
  EXPECT_EQ(text(UnspecifiedVolumeDate()), "0000000000000000|0");
}

// A date without an offset is local time and takes the zone's offset at that date; the tests
// run in Europe/Berlin: +1:00 in March, +2:00 in July. (The zone rules: tree/date_test.)
TEST(Encoding, LocalDatesTakeTheMachineZoneAtTheirDate) {
  struct Case {
    int month;
    const char* recording;
    const char* offset;
  };
  for (const Case& c :
       {Case{3, "7C 03 05 09 07 03 04", "04"}, Case{7, "7C 07 05 09 07 03 08", "08"}}) {
    const DateTime date{2024, c.month, 5, 9, 7, 3, std::nullopt};
    const auto volume = EncodeVolumeDate(date);
    EXPECT_EQ(Hex(EncodeRecordingDate(date)), c.recording);
    EXPECT_EQ(Hex(std::span(volume).last<1>()), c.offset) << "month " << c.month;
  }
}

// A zone beyond GMT+13 records local dates as UTC.
TEST(Encoding, LocalDatesOfAZoneBeyondTheOffsetRangeAreRecordedInUtc) {
  testing::ScopedTimeZone zone("Pacific/Kiritimati");
  const DateTime date{2024, 3, 5, 9, 7, 3, std::nullopt};
  const auto recording = EncodeRecordingDate(date);
  const auto volume = EncodeVolumeDate(date);
  EXPECT_EQ(Hex(recording), "7C 03 04 13 07 03 00");
  EXPECT_EQ(std::string(volume.begin(), volume.end() - 1), "2024030419070300");
  EXPECT_EQ(volume[16], 0);
}

TEST(Encoding, BlockArithmeticMovesAnExactMultipleAWholeBlockOn) {
  EXPECT_EQ(NextBlockBoundary(0), 2048);
  EXPECT_EQ(NextBlockBoundary(2047), 2048);
  EXPECT_EQ(NextBlockBoundary(2048), 4096);
  EXPECT_EQ(NextBlockBoundary(0xFFFFFFFFll), 0x100000000ll);  // no 32-bit wrap
  EXPECT_EQ(BlocksFor(1), 1);
  EXPECT_EQ(BlocksFor(2048), 2);
  EXPECT_EQ(BlocksFor(2049), 2);

  CountingSink sink;
  EXPECT_EQ(PadToBlock(sink), 2048);
  sink.AppendZeros(1);
  EXPECT_EQ(PadToBlock(sink), 2047);
  EXPECT_EQ(sink.Position(), 4096);
  sink.AppendZeros(2047);
  EXPECT_EQ(PadToBlock(sink), 1);
}

}  // namespace
}  // namespace tavrine::detail
