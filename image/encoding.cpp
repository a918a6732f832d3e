#include "image/encoding.h"

#include <algorithm>
#include <cstdio>

namespace tavrine::detail {

namespace {

std::uint8_t Byte(std::uint32_t value, int index) {
  return static_cast<std::uint8_t>((value >> (8 * index)) & 0xFFu);
}

// ECMA-119 8.4.26.1 and 9.1.5: the offset from GMT in 15-minute units, from -48 to +52.
constexpr int kMinOffsetUnits = -48;
constexpr int kMaxOffsetUnits = 52;

// The signed offset byte of a recorded date.
std::uint8_t OffsetByte(const DateTime& recorded) {
  return static_cast<std::uint8_t>(static_cast<std::int8_t>(*recorded.utcOffsetMinutes / 15));
}

}  // namespace

std::array<std::uint8_t, 4> BothEndian16(std::uint16_t value) {
  return {Byte(value, 0), Byte(value, 1), Byte(value, 1), Byte(value, 0)};
}

std::array<std::uint8_t, 8> BothEndian32(std::uint32_t value) {
  return {Byte(value, 0), Byte(value, 1), Byte(value, 2), Byte(value, 3),
          Byte(value, 3), Byte(value, 2), Byte(value, 1), Byte(value, 0)};
}

std::array<std::uint8_t, 2> LittleEndian16(std::uint16_t value) {
  return {Byte(value, 0), Byte(value, 1)};
}

std::array<std::uint8_t, 4> LittleEndian32(std::uint32_t value) {
  return {Byte(value, 0), Byte(value, 1), Byte(value, 2), Byte(value, 3)};
}

std::array<std::uint8_t, 2> BigEndian16(std::uint16_t value) {
  return {Byte(value, 1), Byte(value, 0)};
}

std::array<std::uint8_t, 4> BigEndian32(std::uint32_t value) {
  return {Byte(value, 3), Byte(value, 2), Byte(value, 1), Byte(value, 0)};
}

void CopyUcs2BigEndian(std::u16string_view source, std::uint8_t* destination, std::int64_t count) {
  if (count < 1) return;
  std::size_t units = std::min(source.size(), static_cast<std::size_t>((count + 1) / 2));
  // A character beyond the basic plane takes two units; one that does not fit whole is left
  // out rather than cut after its high surrogate.
  if (units > 0 && units < source.size() && source[units - 1] >= 0xD800 &&
      source[units - 1] <= 0xDBFF) {
    --units;
  }
  for (std::size_t i = 0; i < units; ++i) {
    destination[2 * i] = static_cast<std::uint8_t>(source[i] >> 8);
    destination[2 * i + 1] = static_cast<std::uint8_t>(source[i] & 0xFFu);
  }
}

DateTime RecordedDate(const DateTime& date) {
  DateTime recorded = date;
  recorded.utcOffsetMinutes = date.EffectiveUtcOffsetMinutes();
  const int units = *recorded.utcOffsetMinutes / 15;
  if (units >= kMinOffsetUnits && units <= kMaxOffsetUnits) return recorded;
  DateTime utc = DateTime::FromUnixUtc(recorded.UnixSeconds());
  utc.utcOffsetMinutes = 0;  // also on the zero date of an instant gmtime_r cannot show
  return utc;
}

std::array<std::uint8_t, 7> EncodeRecordingDate(const DateTime& date) {
  const DateTime recorded = RecordedDate(date);
  if (recorded.year < kFirstRecordableYear || recorded.year > kLastRecordableYear) return {};
  return {static_cast<std::uint8_t>(recorded.year - kFirstRecordableYear),
          static_cast<std::uint8_t>(recorded.month),
          static_cast<std::uint8_t>(recorded.day),
          static_cast<std::uint8_t>(recorded.hour),
          static_cast<std::uint8_t>(recorded.minute),
          static_cast<std::uint8_t>(recorded.second),
          OffsetByte(recorded)};
}

std::array<std::uint8_t, 17> UnspecifiedVolumeDate() {
  std::array<std::uint8_t, 17> bytes{};
  for (std::size_t i = 0; i < 16; ++i) bytes[i] = '0';
  return bytes;
}

std::array<std::uint8_t, 17> EncodeVolumeDate(const DateTime& date) {
  if (date.IsZero()) return UnspecifiedVolumeDate();
  const DateTime recorded = RecordedDate(date);
  if (recorded.year < 0 || recorded.year > 9999) return UnspecifiedVolumeDate();
  char year[8];
  std::snprintf(year, sizeof year, "%04d", recorded.year);
  const std::string digits = std::string(year) + TwoDigits(recorded.month) +
                             TwoDigits(recorded.day) + TwoDigits(recorded.hour) +
                             TwoDigits(recorded.minute) + TwoDigits(recorded.second) +
                             "00";  // hundredths: whole seconds only
  std::array<std::uint8_t, 17> bytes{};
  for (std::size_t i = 0; i < 16; ++i) bytes[i] = static_cast<std::uint8_t>(digits[i]);
  bytes[16] = OffsetByte(recorded);
  return bytes;
}

std::string TwoDigits(int value) {
  const int clamped = value < 0 ? 0 : (value > 99 ? 99 : value);
  return {static_cast<char>('0' + clamped / 10), static_cast<char>('0' + clamped % 10)};
}

}  // namespace tavrine::detail
