// The field encoders and block arithmetic, byte for byte against values worked out by hand.
#include "image/encoding.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

#include "image/sink.h"

namespace tavrine::detail {
namespace {

template <std::size_t N>
std::string Hex(const std::array<std::uint8_t, N>& bytes) {
  std::string out;
  for (std::size_t i = 0; i < N; ++i) {
    char piece[4];
    std::snprintf(piece, sizeof piece, "%02X", bytes[i]);
    if (i > 0) out += ' ';
    out += piece;
  }
  return out;
}

DateTime Date(int year, int month, int day, int hour, int minute, int second,
              std::optional<int> offset = 0) {
  DateTime d;
  d.year = year;
  d.month = month;
  d.day = day;
  d.hour = hour;
  d.minute = minute;
  d.second = second;
  d.utcOffsetMinutes = offset;
  return d;
}

// Sets TZ for one test and restores the zone of the test run afterwards.
class ScopedTimeZone {
 public:
  explicit ScopedTimeZone(const char* zone) {
    if (const char* old = std::getenv("TZ")) saved_ = old;
    setenv("TZ", zone, 1);
    tzset();
  }
  ~ScopedTimeZone() {
    if (saved_) {
      setenv("TZ", saved_->c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }

 private:
  std::optional<std::string> saved_;
};

TEST(Encoding, BothEndianNumbers) {
  EXPECT_EQ(Hex(BothEndian16(1)), "01 00 00 01");
  EXPECT_EQ(Hex(BothEndian16(2048)), "00 08 08 00");
  EXPECT_EQ(Hex(BothEndian32(300)), "2C 01 00 00 00 00 01 2C");
  EXPECT_EQ(Hex(BothEndian32(2048)), "00 08 00 00 00 00 08 00");
  EXPECT_EQ(Hex(BothEndian32(0xFFFFFFFFu)), "FF FF FF FF FF FF FF FF");
  EXPECT_EQ(Hex(LittleEndian32(300)), "2C 01 00 00");
  EXPECT_EQ(Hex(BigEndian32(300)), "00 00 01 2C");
  EXPECT_EQ(Hex(BigEndian16(128)), "00 80");
  EXPECT_EQ(Hex(LittleEndian16(128)), "80 00");
}

TEST(Encoding, SwapBytesTakesEveryBitPattern) {
  EXPECT_EQ(SwapBytes16(128), 0x8000);
  EXPECT_EQ(SwapBytes16(255), 0xFF00);
  EXPECT_EQ(SwapBytes16(0x8000), 128);
  EXPECT_EQ(SwapBytes32(128), 0x80000000u);
  EXPECT_EQ(SwapBytes32(0x80000000u), 128u);
  EXPECT_EQ(SwapBytes32(0x01020304u), 0x04030201u);
  for (std::uint32_t v = 0; v <= 0xFFFF; ++v) {
    ASSERT_EQ(SwapBytes16(SwapBytes16(static_cast<std::uint16_t>(v))), v);
  }
}

TEST(Encoding, CopyUcs2BigEndian) {
  std::array<std::uint8_t, 6> out{};
  CopyUcs2BigEndian(u"AB", out.data(), 4);
  EXPECT_EQ(Hex(out), "00 41 00 42 00 00");
  out.fill(0xEE);
  CopyUcs2BigEndian(u"\u00FC\u20AC", out.data(), 0);
  EXPECT_EQ(Hex(out), "EE EE EE EE EE EE");  // count < 1 writes nothing
  CopyUcs2BigEndian(u"\u00FC\u20AC", out.data(), 4);
  EXPECT_EQ(Hex(out), "00 FC 20 AC EE EE");
  out.fill(0xEE);
  CopyUcs2BigEndian(u"AB", out.data(), 6);  // never more than the source holds
  EXPECT_EQ(Hex(out), "00 41 00 42 EE EE");
}

TEST(Encoding, RecordingDateRangeAndFields) {
  EXPECT_EQ(Hex(EncodeRecordingDate(Date(2155, 12, 31, 23, 59, 59))), "FF 0C 1F 17 3B 3B 00");
  EXPECT_EQ(Hex(EncodeRecordingDate(Date(1900, 1, 1, 0, 0, 0))), "00 01 01 00 00 00 00");
  EXPECT_EQ(Hex(EncodeRecordingDate(Date(1899, 12, 31, 23, 59, 59))), "00 00 00 00 00 00 00");
  EXPECT_EQ(Hex(EncodeRecordingDate(Date(2156, 1, 1, 0, 0, 0))), "00 00 00 00 00 00 00");
  EXPECT_EQ(Hex(EncodeRecordingDate(DateTime::Zero())), "00 00 00 00 00 00 00");
  EXPECT_EQ(Hex(EncodeRecordingDate(Date(2024, 3, 5, 9, 7, 3))), "7C 03 05 09 07 03 00");
}

TEST(Encoding, VolumeDate) {
  auto digits = [](const std::array<std::uint8_t, 17>& b) {
    return std::string(b.begin(), b.begin() + 16) + "|" + std::to_string(static_cast<int>(b[16]));
  };
  EXPECT_EQ(digits(EncodeVolumeDate(Date(2024, 3, 5, 9, 7, 3))), "2024030509070300|0");
  EXPECT_EQ(digits(EncodeVolumeDate(Date(2024, 12, 31, 23, 59, 59))), "2024123123595900|0");
  EXPECT_EQ(digits(EncodeVolumeDate(DateTime::Zero())), "0000000000000000|0");
  EXPECT_EQ(digits(UnspecifiedVolumeDate()), "0000000000000000|0");
  EXPECT_EQ(digits(EncodeVolumeDate(Date(999, 1, 2, 3, 4, 5))), "0999010203040500|0");
  EXPECT_EQ(digits(EncodeVolumeDate(Date(10000, 1, 2, 3, 4, 5))), "0000000000000000|0");
}

TEST(Encoding, DatesCarryTheirZoneOffset) {
  // Fields stay as stored; the last byte is the offset in 15-minute units, signed.
  EXPECT_EQ(Hex(EncodeRecordingDate(Date(2024, 3, 5, 9, 7, 3, 60))), "7C 03 05 09 07 03 04");
  EXPECT_EQ(Hex(EncodeRecordingDate(Date(2024, 3, 5, 9, 7, 3, -300))), "7C 03 05 09 07 03 EC");
  EXPECT_EQ(EncodeVolumeDate(Date(2024, 3, 5, 9, 7, 3, 345))[16], 23);     // +5:45
  EXPECT_EQ(EncodeVolumeDate(Date(2024, 3, 5, 9, 7, 3, -210))[16], 0xF2);  // -3:30 = -14
}

TEST(Encoding, LocalDatesTakeTheMachineZone) {
  {
    ScopedTimeZone zone("UTC");
    EXPECT_EQ(Hex(EncodeRecordingDate(Date(2024, 3, 5, 9, 7, 3, std::nullopt))),
              "7C 03 05 09 07 03 00");
    EXPECT_EQ(EncodeVolumeDate(Date(2024, 3, 5, 9, 7, 3, std::nullopt))[16], 0);
  }
  {
    ScopedTimeZone zone("Europe/Berlin");
    EXPECT_EQ(Hex(EncodeRecordingDate(Date(2024, 3, 5, 9, 7, 3, std::nullopt))),
              "7C 03 05 09 07 03 04");  // CET, +1:00
    EXPECT_EQ(Hex(EncodeRecordingDate(Date(2024, 7, 5, 9, 7, 3, std::nullopt))),
              "7C 07 05 09 07 03 08");  // CEST, +2:00
    const auto volume = EncodeVolumeDate(Date(2024, 3, 5, 9, 7, 3, std::nullopt));
    EXPECT_EQ(std::string(volume.begin(), volume.begin() + 16), "2024030509070300");
    EXPECT_EQ(volume[16], 4);
    EXPECT_EQ(EncodeVolumeDate(Date(2024, 7, 5, 9, 7, 3, std::nullopt))[16], 8);
  }
}

TEST(Encoding, TwoDigits) {
  EXPECT_EQ(TwoDigits(0), "00");
  EXPECT_EQ(TwoDigits(7), "07");
  EXPECT_EQ(TwoDigits(12), "12");
  EXPECT_EQ(TwoDigits(59), "59");
}

TEST(Encoding, BlockArithmetic) {
  EXPECT_EQ(NextBlockBoundary(0), 2048);
  EXPECT_EQ(NextBlockBoundary(1), 2048);
  EXPECT_EQ(NextBlockBoundary(2047), 2048);
  EXPECT_EQ(NextBlockBoundary(2048), 4096);
  EXPECT_EQ(NextBlockBoundary(0xFFFFFFFFll), 0x100000000ll);  // no 32-bit wrap
  EXPECT_EQ(BlocksFor(1), 1);
  EXPECT_EQ(BlocksFor(2048), 2);
  EXPECT_EQ(BlocksFor(2049), 2);
  EXPECT_EQ(BlocksFor(4096), 3);
  EXPECT_EQ(MinLong(3, -4), -4);
}

TEST(Encoding, PadToBlockWritesOneToAWholeBlock) {
  CountingSink sink;
  EXPECT_EQ(PadToBlock(sink), 2048);  // on a boundary: a whole block
  sink.AppendZeros(1);
  EXPECT_EQ(sink.Position(), 2049);
  EXPECT_EQ(PadToBlock(sink), 2047);
  EXPECT_EQ(sink.Position(), 4096);
  EXPECT_EQ(PadToBlock(sink), 2048);
  sink.AppendZeros(2047);
  EXPECT_EQ(PadToBlock(sink), 1);
}

}  // namespace
}  // namespace tavrine::detail
