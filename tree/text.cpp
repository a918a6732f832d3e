#include "tree/text.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>

namespace tavrine::text {

namespace detail {
// Generated range tables (tree/unicode_tables.cpp): rows {first, last, delta, stride}.
extern const std::uint16_t kUpperRanges[][4];
extern const std::size_t kUpperRangesSize;
extern const std::uint16_t kFoldRanges[][4];
extern const std::size_t kFoldRangesSize;
}  // namespace detail

namespace {

constexpr char16_t kReplacement = u'\uFFFD';

bool IsSurrogate(char32_t c) {
  return c >= 0xD800 && c <= 0xDFFF;
}

// Looks c up in a sorted range table; a code unit outside every range maps to itself.
char16_t MapByRanges(const std::uint16_t (*table)[4], std::size_t size, char16_t c) {
  const auto* end = table + size;
  // First row whose last code unit is not below c.
  const auto* row = std::lower_bound(
      table, end, c, [](const std::uint16_t(&r)[4], char16_t v) { return r[1] < v; });
  if (row == end || c < (*row)[0] || (c - (*row)[0]) % (*row)[3] != 0) return c;
  return static_cast<char16_t>(c + (*row)[2]);
}

void AppendUtf16(std::u16string& out, char32_t cp) {
  if (cp < 0x10000) {
    out.push_back(static_cast<char16_t>(cp));
  } else {
    cp -= 0x10000;
    out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
  }
}

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

// Windows-1252 bytes 0x80 to 0x9F. The five bytes the code page leaves undefined (0x81, 0x8D,
// 0x8F, 0x90, 0x9D) stand for the C1 controls of the same number, as in Windows' own table.
constexpr std::array<char16_t, 32> kHighControls = {
    u'\u20AC', u'\u0081', u'\u201A', u'\u0192', u'\u201E', u'\u2026', u'\u2020', u'\u2021',
    u'\u02C6', u'\u2030', u'\u0160', u'\u2039', u'\u0152', u'\u008D', u'\u017D', u'\u008F',
    u'\u0090', u'\u2018', u'\u2019', u'\u201C', u'\u201D', u'\u2022', u'\u2013', u'\u2014',
    u'\u02DC', u'\u2122', u'\u0161', u'\u203A', u'\u0153', u'\u009D', u'\u017E', u'\u0178'};

// The Windows-1252 byte of c, or -1 when the code page has none.
int Windows1252Byte(char16_t c) {
  if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) return c;
  for (std::size_t i = 0; i < kHighControls.size(); ++i) {
    if (kHighControls[i] == c) return static_cast<int>(0x80 + i);
  }
  return -1;
}

bool IsDigit(char16_t c) {
  return c >= u'0' && c <= u'9';
}

}  // namespace

namespace {

// Walks utf8, calling valid(code point, first byte, length) for each well-formed sequence and
// invalid(first byte, length) for each maximal invalid subpart.
template <typename Valid, typename Invalid>
void WalkUtf8(std::string_view utf8, Valid valid, Invalid invalid) {
  std::size_t i = 0;
  const std::size_t n = utf8.size();
  while (i < n) {
    const auto b0 = static_cast<unsigned char>(utf8[i]);
    if (b0 < 0x80) {
      valid(char32_t{b0}, i, std::size_t{1});
      ++i;
      continue;
    }
    // Length of the sequence and the range its second byte must fall in, so that overlong
    // forms, surrogates and values above U+10FFFF are refused at the earliest byte.
    std::size_t len = 0;
    unsigned char lo = 0x80, hi = 0xBF;
    char32_t cp = 0;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
      len = 2;
      cp = b0 & 0x1F;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
      len = 3;
      cp = b0 & 0x0F;
      if (b0 == 0xE0) lo = 0xA0;
      if (b0 == 0xED) hi = 0x9F;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
      len = 4;
      cp = b0 & 0x07;
      if (b0 == 0xF0) lo = 0x90;
      if (b0 == 0xF4) hi = 0x8F;
    } else {
      invalid(i, std::size_t{1});
      ++i;
      continue;
    }
    std::size_t k = 1;
    for (; k < len && i + k < n; ++k) {
      const auto b = static_cast<unsigned char>(utf8[i + k]);
      if (b < lo || b > hi) break;
      cp = (cp << 6) | (b & 0x3F);
      lo = 0x80;
      hi = 0xBF;
    }
    if (k == len) {
      valid(cp, i, k);
    } else {
      invalid(i, k);
    }
    i += k;
  }
}

char16_t Windows1252Character(unsigned char byte) {
  return byte >= 0x80 && byte <= 0x9F ? kHighControls[byte - 0x80u] : char16_t{byte};
}

}  // namespace

std::u16string FromUtf8(std::string_view utf8) {
  std::u16string out;
  out.reserve(utf8.size());
  WalkUtf8(
      utf8, [&](char32_t cp, std::size_t, std::size_t) { AppendUtf16(out, cp); },
      [&](std::size_t, std::size_t) { out.push_back(kReplacement); });
  return out;
}

std::u16string FromLocalName(std::string_view name) {
  std::u16string out;
  out.reserve(name.size());
  WalkUtf8(
      name, [&](char32_t cp, std::size_t, std::size_t) { AppendUtf16(out, cp); },
      [&](std::size_t first, std::size_t length) {
        for (std::size_t k = first; k < first + length; ++k) {
          out.push_back(Windows1252Character(static_cast<unsigned char>(name[k])));
        }
      });
  return out;
}

bool IsUtf8(std::string_view bytes) {
  bool valid = true;
  WalkUtf8(
      bytes, [](char32_t, std::size_t, std::size_t) {},
      [&](std::size_t, std::size_t) { valid = false; });
  return valid;
}

std::string ShowLocalName(std::string_view bytes) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(bytes.size());
  WalkUtf8(
      bytes,
      [&](char32_t, std::size_t first, std::size_t length) {
        out.append(bytes.substr(first, length));
      },
      [&](std::size_t first, std::size_t length) {
        for (std::size_t k = first; k < first + length; ++k) {
          const auto b = static_cast<unsigned char>(bytes[k]);
          out += "\\x";
          out += kHex[b >> 4];
          out += kHex[b & 0xF];
        }
      });
  return out;
}

std::string ToUtf8(std::u16string_view utf16) {
  std::string out;
  out.reserve(utf16.size());
  for (std::size_t i = 0; i < utf16.size(); ++i) {
    const char16_t c = utf16[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < utf16.size() && utf16[i + 1] >= 0xDC00 &&
        utf16[i + 1] <= 0xDFFF) {
      AppendUtf8(out, 0x10000 + ((char32_t{c} - 0xD800) << 10) + (utf16[i + 1] - 0xDC00));
      ++i;
    } else {
      AppendUtf8(out, IsSurrogate(c) ? kReplacement : c);
    }
  }
  return out;
}

char16_t SimpleUpper(char16_t c) {
  // Names are mostly ASCII: no table search for them.
  if (c < 0x80) return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 0x20) : c;
  return MapByRanges(detail::kUpperRanges, detail::kUpperRangesSize, c);
}

std::u16string ToUpper(std::u16string_view s) {
  std::u16string out(s);
  for (auto& c : out) c = SimpleUpper(c);
  return out;
}

char16_t SimpleFold(char16_t c) {
  if (c < 0x80) return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 0x20) : c;
  return MapByRanges(detail::kFoldRanges, detail::kFoldRangesSize, c);
}

std::u16string Fold(std::u16string_view s) {
  std::u16string out(s);
  for (auto& c : out) c = SimpleFold(c);
  return out;
}

unsigned char ToWindows1252(char16_t c) {
  const int b = Windows1252Byte(c);
  return static_cast<unsigned char>(b < 0 ? '?' : b);
}

std::string ToWindows1252(std::u16string_view s) {
  std::string out;
  out.reserve(s.size());
  for (char16_t c : s) out.push_back(static_cast<char>(ToWindows1252(c)));
  return out;
}

std::u16string FromWindows1252(std::string_view bytes) {
  std::u16string out;
  out.reserve(bytes.size());
  for (char b : bytes) out.push_back(Windows1252Character(static_cast<unsigned char>(b)));
  return out;
}

bool InWindows1252(char16_t c) {
  return Windows1252Byte(c) >= 0;
}

bool IsDecimalNumber(std::u16string_view s) {
  std::size_t i = 0;
  const std::size_t n = s.size();
  auto digits = [&] {
    const std::size_t start = i;
    while (i < n && IsDigit(s[i])) ++i;
    return i - start;
  };
  while (i < n && s[i] == u' ') ++i;
  if (i < n && (s[i] == u'+' || s[i] == u'-')) ++i;
  std::size_t mantissa = digits();
  if (i < n && s[i] == u'.') {
    ++i;
    mantissa += digits();
  }
  if (mantissa == 0) return false;
  if (i < n && (s[i] == u'e' || s[i] == u'E')) {
    ++i;
    if (i < n && (s[i] == u'+' || s[i] == u'-')) ++i;
    if (digits() == 0) return false;
  }
  while (i < n && s[i] == u' ') ++i;
  return i == n;
}

std::u16string TrimSpaces(std::u16string_view s) {
  const auto first = s.find_first_not_of(u' ');
  if (first == std::u16string_view::npos) return {};
  const auto last = s.find_last_not_of(u' ');
  return std::u16string(s.substr(first, last - first + 1));
}

}  // namespace tavrine::text
