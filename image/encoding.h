// Field encoders of the image: the number, text and date forms of ECMA-119, and the block
// arithmetic every region of the image shares. Internal to the writer; tests include it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "tree/date.h"

namespace tavrine::detail {

// ECMA-119 6.1.2: the logical block of this writer.
inline constexpr std::int64_t kBlockSize = 2048;
// The largest value of a 32-bit field of the format (extent locations, data lengths, sizes).
inline constexpr std::int64_t kMaxUint32 = 0xFFFFFFFFll;

// ECMA-119 7.2.3: 16-bit both-endian (little-endian, then big-endian).
std::array<std::uint8_t, 4> BothEndian16(std::uint16_t value);
// ECMA-119 7.3.3: 32-bit both-endian.
std::array<std::uint8_t, 8> BothEndian32(std::uint32_t value);
// ECMA-119 7.2.1 / 7.3.1: little-endian; 7.2.2 / 7.3.2: big-endian.
std::array<std::uint8_t, 2> LittleEndian16(std::uint16_t value);
std::array<std::uint8_t, 4> LittleEndian32(std::uint32_t value);
std::array<std::uint8_t, 2> BigEndian16(std::uint16_t value);
std::array<std::uint8_t, 4> BigEndian32(std::uint32_t value);

// Writes the UTF-16 code units of source high byte first (UCS-2 big-endian) into destination:
// ceil(count / 2) whole code units, never more than source holds. Nothing for count < 1.
void CopyUcs2BigEndian(std::u16string_view source, std::uint8_t* destination, std::int64_t count);

// A date as the image records it, utcOffsetMinutes set: the date itself with its offset (for
// bare fields the zone's offset at it), or, when that offset lies outside the -48..+52 units of
// 15 minutes ECMA-119 allows (GMT-12 to GMT+13), the same instant as UTC fields with offset 0.
// Readers ignore an offset out of range, and real zones lie beyond it: Pacific/Kiritimati is
// +14:00 (56 units), Pacific/Chatham +13:45 in summer (55).
DateTime RecordedDate(const DateTime& date);
// ECMA-119 9.1.5: years since 1900, month, day, hour, minute, second, offset from GMT. A year
// outside 1900..2155 (the zero date among them) gives seven zero bytes.
std::array<std::uint8_t, 7> EncodeRecordingDate(const DateTime& date);
// ECMA-119 8.4.26.1: sixteen digits (year, month, day, hour, minute, second, hundredths) and the
// offset from GMT. The zero date, and a year that four digits cannot show, give the "not
// specified" form: sixteen "0" digits and offset 0.
std::array<std::uint8_t, 17> EncodeVolumeDate(const DateTime& date);
// The not-specified volume date.
std::array<std::uint8_t, 17> UnspecifiedVolumeDate();
// A number from 0 to 99 as exactly two decimal digits.
std::string TwoDigits(int value);

// The first multiple of the block size strictly above x: an exact multiple moves a whole block
// on. n bytes therefore occupy NextBlockBoundary(n) / 2048 = floor(n / 2048) + 1 blocks, a rule
// the layout and the writers share everywhere.
constexpr std::int64_t NextBlockBoundary(std::int64_t x) {
  return x + kBlockSize - x % kBlockSize;
}
constexpr std::int64_t BlocksFor(std::int64_t bytes) {
  return NextBlockBoundary(bytes) / kBlockSize;
}

// Copies bytes into buffer at offset (the buffer must hold them).
inline void Put(std::span<std::uint8_t> buffer, std::size_t offset,
                std::span<const std::uint8_t> bytes) {
  for (std::size_t i = 0; i < bytes.size(); ++i) buffer[offset + i] = bytes[i];
}

}  // namespace tavrine::detail
