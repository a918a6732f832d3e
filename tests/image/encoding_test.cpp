// The field encoders and the block arithmetic, byte for byte against values worked out by hand.
#include "image/encoding.h"

#include <gtest/gtest.h>

#include "image/sink.h"
#include "support/image_builder.h"

namespace tavrine::detail {
namespace {

using testing::Hex;

TEST(Encoding, Numbers) {
  EXPECT_EQ(Hex(BothEndian16(1)), "01 00 00 01");
  EXPECT_EQ(Hex(BothEndian16(2048)), "00 08 08 00");
  EXPECT_EQ(Hex(BothEndian32(300)), "2C 01 00 00 00 00 01 2C");
  EXPECT_EQ(Hex(BothEndian32(0xFFFFFFFFu)), "FF FF FF FF FF FF FF FF");
  EXPECT_EQ(Hex(LittleEndian32(300)), "2C 01 00 00");
  EXPECT_EQ(Hex(BigEndian32(300)), "00 00 01 2C");
  EXPECT_EQ(Hex(LittleEndian16(128)), "80 00");
  EXPECT_EQ(Hex(BigEndian16(128)), "00 80");
  // The high bit must not spread as a sign.
  EXPECT_EQ(SwapBytes16(0x0080), 0x8000);
  EXPECT_EQ(SwapBytes16(0x8000), 0x0080);
  EXPECT_EQ(SwapBytes32(0x80000001u), 0x01000080u);
  EXPECT_EQ(SwapBytes32(0x01020304u), 0x04030201u);
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
        Case{u"AB", 6, "00 41 00 42 EE EE"}}) {
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
           Case{{2024, 3, 5, 9, 7, 3, 0}, "7C 03 05 09 07 03 00"},
           Case{{1900, 1, 1, 0, 0, 0, 0}, "00 01 01 00 00 00 00"},
           Case{{2155, 12, 31, 23, 59, 59, 0}, "FF 0C 1F 17 3B 3B 00"},
           // Years a byte cannot count from 1900, and the zero date: all zero.
           Case{{1899, 12, 31, 23, 59, 59, 0}, "00 00 00 00 00 00 00"},
           Case{{2156, 1, 1, 0, 0, 0, 0}, "00 00 00 00 00 00 00"},
           Case{DateTime::Zero(), "00 00 00 00 00 00 00"},
           // Fields as stored; the offset from GMT in signed 15-minute units.
           Case{{2024, 3, 5, 9, 7, 3, 60}, "7C 03 05 09 07 03 04"},
           Case{{2024, 3, 5, 9, 7, 3, -300}, "7C 03 05 09 07 03 EC"},
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
           Case{{2024, 3, 5, 9, 7, 3, 0}, "2024030509070300|0"},
           Case{{999, 1, 2, 3, 4, 5, 0}, "0999010203040500|0"},
           Case{{2024, 3, 5, 9, 7, 3, 345}, "2024030509070300|23"},    // +5:45
           Case{{2024, 3, 5, 9, 7, 3, -210}, "2024030509070300|-14"},  // -3:30
           // Not specified: the zero date and years of five digits.
           Case{DateTime::Zero(), "0000000000000000|0"},
           Case{{10000, 1, 2, 3, 4, 5, 0}, "0000000000000000|0"},
       }) {
    EXPECT_EQ(text(EncodeVolumeDate(c.date)), c.expected) << c.date.year;
  }
  EXPECT_EQ(text(UnspecifiedVolumeDate()), "0000000000000000|0");
}

// A date without an offset is local time: it takes the zone's offset at that date.
TEST(Encoding, LocalDatesTakeTheMachineZoneAtTheirDate) {
  struct Case {
    const char* zone;
    int month;
    std::int8_t offset;
  };
  for (const Case& c : {Case{"UTC", 3, 0}, Case{"Europe/Berlin", 3, 4}, Case{"Europe/Berlin", 7, 8},
                        Case{"America/New_York", 1, -20}}) {
    testing::ScopedTimeZone zone(c.zone);
    const DateTime date{2024, c.month, 5, 9, 7, 3, std::nullopt};
    const auto recording = EncodeRecordingDate(date);
    const auto volume = EncodeVolumeDate(date);
    EXPECT_EQ(recording[3], 9) << c.zone << " month " << c.month;  // fields stay as given
    EXPECT_EQ(std::int8_t(recording[6]), c.offset) << c.zone << " month " << c.month;
    EXPECT_EQ(std::string(volume.begin() + 8, volume.begin() + 10), "09") << c.zone;
    EXPECT_EQ(std::int8_t(volume[16]), c.offset) << c.zone << " month " << c.month;
  }
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
