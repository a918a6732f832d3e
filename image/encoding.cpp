#include "image/encoding.h"

#include <algorithm>
#include <cstdio>

namespace tavrine::detail {

namespace {

std::uint8_t Byte(std::uint32_t value, int index) {
  return static_cast<std::uint8_t>((value >> (8 * index)) & 0xFFu);
}

}  // namespace

std::array<std::uint8_t, 4> BothEndian16(std::uint16_t value) {
  return {Byte(value, 0), Byte(value, 1), Byte(value, 1), Byte(value, 0)};
}

std::array<std::uint8_t, 8> BothEndian32(std::uint32_t value) {
  return {Byte(value, 0), Byte(value, 1), Byte(value, 2), Byte(value, 3),
          Byte(value, 3), Byte(value, 2), Byte(value, 1), Byte(value, 0)};
}

std::uint16_t SwapBytes16(std::uint16_t value) {
  return static_cast<std::uint16_t>((value >> 8) | (value << 8));
}

std::uint32_t SwapBytes32(std::uint32_t value) {
  return (value >> 24) | ((value >> 8) & 0xFF00u) | ((value << 8) & 0xFF0000u) | (value << 24);
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
  const std::size_t units = std::min(source.size(), static_cast<std::size_t>((count + 1) / 2));
  for (std::size_t i = 0; i < units; ++i) {
    destination[2 * i] = static_cast<std::uint8_t>(source[i] >> 8);
    destination[2 * i + 1] = static_cast<std::uint8_t>(source[i] & 0xFFu);
  }
}

std::int8_t GmtOffsetUnits(const DateTime& date) {
  // ECMA-119 allows -48..52 (GMT-12 to GMT+13); every real zone lies inside.
  return static_cast<std::int8_t>(date.EffectiveUtcOffsetMinutes() / 15);
}

std::array<std::uint8_t, 7> EncodeRecordingDate(const DateTime& date) {
  if (date.year < 1900 || date.year > 2155) return {};
  return {static_cast<std::uint8_t>(date.year - 1900),
          static_cast<std::uint8_t>(date.month),
          static_cast<std::uint8_t>(date.day),
          static_cast<std::uint8_t>(date.hour),
          static_cast<std::uint8_t>(date.minute),
          static_cast<std::uint8_t>(date.second),
          static_cast<std::uint8_t>(GmtOffsetUnits(date))};
}

std::array<std::uint8_t, 17> UnspecifiedVolumeDate() {
  std::array<std::uint8_t, 17> bytes{};
  for (std::size_t i = 0; i < 16; ++i) bytes[i] = '0';
  return bytes;
}

std::array<std::uint8_t, 17> EncodeVolumeDate(const DateTime& date) {
  if (date.IsZero() || date.year < 0 || date.year > 9999) return UnspecifiedVolumeDate();
  char year[8];
  std::snprintf(year, sizeof year, "%04d", date.year);
  const std::string digits = std::string(year) + TwoDigits(date.month) + TwoDigits(date.day) +
                             TwoDigits(date.hour) + TwoDigits(date.minute) +
                             TwoDigits(date.second) + "00";  // hundredths: whole seconds only
  std::array<std::uint8_t, 17> bytes{};
  for (std::size_t i = 0; i < 16; ++i) bytes[i] = static_cast<std::uint8_t>(digits[i]);
  bytes[16] = static_cast<std::uint8_t>(GmtOffsetUnits(date));
  return bytes;
}

std::string TwoDigits(int value) {
  const int clamped = value < 0 ? 0 : (value > 99 ? 99 : value);
  return {static_cast<char>('0' + clamped / 10), static_cast<char>('0' + clamped % 10)};
}

}  // namespace tavrine::detail
