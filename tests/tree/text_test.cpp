// The text module: UTF-8 decoding of invalid input, case mapping and folding against the
// Unicode data files, Windows-1252 against the system's iconv, and the number test.

#include "tree/text.h"

#include <gtest/gtest.h>
#include <iconv.h>

#include <array>
#include <fstream>
#include <sstream>
#include <string>
#include <unordered_map>
#include <vector>

namespace tavrine::text {
namespace {

std::u16string Units(std::initializer_list<char16_t> units) {
  return std::u16string(units);
}

TEST(Utf8, EachMaximalInvalidSubpartBecomesOneReplacement) {
  const char16_t r = 0xFFFD;
  EXPECT_EQ(FromUtf8("\x80x"), Units({r, u'x'}));                // lone continuation
  EXPECT_EQ(FromUtf8("\xC0\xAF"), Units({r, r}));                // overlong "/"
  EXPECT_EQ(FromUtf8("\xE0\x80\xAF"), Units({r, r, r}));         // overlong, 3 bytes
  EXPECT_EQ(FromUtf8("\xED\xA0\x80"), Units({r, r, r}));         // encoded surrogate
  EXPECT_EQ(FromUtf8("\xF4\x90\x80\x80"), Units({r, r, r, r}));  // above U+10FFFF
  EXPECT_EQ(FromUtf8("\xF5\xFF"), Units({r, r}));                // never-valid bytes
  EXPECT_EQ(FromUtf8("\xE2\x82x"), Units({r, u'x'}));            // truncated, then text
  EXPECT_EQ(FromUtf8("a\xF0\x9F\x98"), Units({u'a', r}));        // truncated at the end
  EXPECT_EQ(FromUtf8("\xC3\xC3\xA9"), Units({r, 0x00E9}));       // restart at a lead byte
  // Unpaired surrogates become U+FFFD (EF BF BD) on the way out.
  EXPECT_EQ(ToUtf8(Units({0xD800, u'x'})), "\xEF\xBF\xBDx");
  EXPECT_EQ(ToUtf8(Units({0xDC00, 0xD800})), "\xEF\xBF\xBD\xEF\xBF\xBD");
  EXPECT_EQ(ToUtf8(Units({u'x', 0xDBFF})), "x\xEF\xBF\xBD");
}

// Local names: every byte of an invalid subpart is its own Windows-1252 character.
TEST(Utf8, LocalNamesReadInvalidBytesAsWindows1252) {
  EXPECT_EQ(FromLocalName("\xE2\x82x\xC3\xA9"), Units({0x00E2, 0x201A, u'x', 0x00E9}));
  EXPECT_EQ(FromLocalName("\xED\xA0\x80\x9D"), Units({0x00ED, 0x00A0, 0x20AC, 0x009D}));
  EXPECT_EQ(ShowLocalName("a\xE9\xC3\xA9\xF0\x9F"), "a\\xE9\xC3\xA9\\xF0\\x9F");
  EXPECT_TRUE(IsUtf8("\xC3\xA9"));
  EXPECT_FALSE(IsUtf8("\xC3"));
}

TEST(Utf8, EncodesAndRoundTripsEveryCodePoint) {
  const std::string bytes = "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\xF4\x8F\xBF\xBF";
  const std::u16string units = Units({u'a', 0x00E9, 0x20AC, 0xD83D, 0xDE00, 0xDBFF, 0xDFFF});
  EXPECT_EQ(FromUtf8(bytes), units);
  EXPECT_EQ(ToUtf8(units), bytes);
  EXPECT_EQ(FromUtf8(std::string_view("\0x", 2)), Units({0, u'x'}));

  std::u16string all;
  for (char32_t cp = 1; cp <= 0x10FFFF; cp += (cp < 0x10000 ? 1 : 97)) {
    if (cp >= 0xD800 && cp <= 0xDFFF) continue;
    if (cp < 0x10000) {
      all += static_cast<char16_t>(cp);
    } else {
      all += static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10));
      all += static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
    }
  }
  EXPECT_EQ(FromUtf8(ToUtf8(all)), all);
}

// The string forms; every single code unit is checked against the Unicode data below.
TEST(CaseMapping, StringsAndTheCasesThatTripLocaleBasedMappings) {
  EXPECT_EQ(SimpleUpper(u'i'), u'I');      // no Turkish dotted capital, whatever the locale
  EXPECT_EQ(SimpleUpper(0x00FF), 0x0178);  // ÿ -> Ÿ, outside Latin-1
  EXPECT_EQ(SimpleUpper(0x00B5), 0x039C);  // micro sign -> Greek capital mu
  EXPECT_EQ(SimpleFold(0x212A), u'k');     // Kelvin sign
  EXPECT_EQ(SimpleFold(0x0130), 0x0130);   // İ folds only fully or for Turkish
  EXPECT_EQ(ToUpper(u"straße ǳ"), u"STRAßE Ǳ");
  EXPECT_EQ(Fold(u"ÀÉ Kelvin"), u"àé kelvin");
  EXPECT_EQ(Fold(u"ΣΑΣ ǅ"), Fold(u"σας ǆ"));
}

// The generated tables against the Unicode data files, read here independently of the
// generator. Skipped where the files are not installed.
TEST(CaseMapping, EveryCodeUnitMatchesTheUnicodeDataFiles) {
  std::ifstream data("/usr/share/unicode/UnicodeData.txt");
  std::ifstream folding("/usr/share/unicode/CaseFolding.txt");
  if (!data || !folding) GTEST_SKIP() << "Unicode data files not installed";
  auto fields = [](const std::string& line) {
    std::vector<std::string> out;
    std::stringstream row(line);
    for (std::string field; std::getline(row, field, ';');) out.push_back(field);
    return out;
  };
  std::unordered_map<char32_t, char32_t> upper, fold;
  for (std::string line; std::getline(data, line);) {
    const auto f = fields(line);
    if (f.size() > 12 && !f[12].empty())
      upper[std::stoul(f[0], nullptr, 16)] = std::stoul(f[12], nullptr, 16);
  }
  for (std::string line; std::getline(folding, line);) {
    if (line.empty() || line[0] == '#') continue;
    const auto f = fields(line);
    if (f[1] == " C" || f[1] == " S")
      fold[std::stoul(f[0], nullptr, 16)] = std::stoul(f[2], nullptr, 16);
  }
  ASSERT_GT(upper.size(), 1000u);
  ASSERT_GT(fold.size(), 1000u);
  auto expected = [](const std::unordered_map<char32_t, char32_t>& map, char32_t c) {
    const auto found = map.find(c);
    return found == map.end() || found->second > 0xFFFF ? c : found->second;
  };
  for (char32_t c = 0; c <= 0xFFFF; ++c) {
    const auto unit = static_cast<char16_t>(c);
    ASSERT_EQ(SimpleUpper(unit), expected(upper, c)) << std::hex << static_cast<unsigned>(c);
    ASSERT_EQ(SimpleFold(unit), expected(fold, c)) << std::hex << static_cast<unsigned>(c);
  }
}

// Windows-1252 against the system's converter: every byte it defines maps back to its
// character; the five bytes it leaves undefined stand for the C1 controls of that number.
TEST(Windows1252, AgreesWithIconvForEveryCodeUnit) {
  iconv_t cd = iconv_open("UTF-16LE", "CP1252");
  if (cd == reinterpret_cast<iconv_t>(-1)) GTEST_SKIP() << "iconv has no CP1252";
  std::unordered_map<char16_t, unsigned char> byteOf;
  for (int b = 0; b < 256; ++b) {
    char in = static_cast<char>(b);
    std::array<unsigned char, 4> out{};
    char* inPtr = &in;
    char* outPtr = reinterpret_cast<char*>(out.data());
    std::size_t inLeft = 1, outLeft = out.size();
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    if (iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) == static_cast<std::size_t>(-1)) {
      byteOf[static_cast<char16_t>(b)] = static_cast<unsigned char>(b);  // undefined byte
    } else {
      byteOf[static_cast<char16_t>(out[0] | (out[1] << 8))] = static_cast<unsigned char>(b);
    }
  }
  iconv_close(cd);
  ASSERT_EQ(byteOf.size(), 256u);
  for (char32_t c = 0; c <= 0xFFFF; ++c) {
    const auto unit = static_cast<char16_t>(c);
    const auto found = byteOf.find(unit);
    ASSERT_EQ(InWindows1252(unit), found != byteOf.end()) << std::hex << static_cast<unsigned>(c);
    ASSERT_EQ(ToWindows1252(unit), found != byteOf.end() ? found->second : '?')
        << std::hex << static_cast<unsigned>(c);
  }
  EXPECT_EQ(ToWindows1252(u"a€\u0081Ÿ日😀"), "a\x80\x81\x9F???");
}

TEST(Numbers, DecimalNumbers) {
  for (const char16_t* yes : {u"1", u"12", u" 3 ", u"+1", u"-2", u"1.5", u".5", u"5.", u"1e5",
                              u"1E+5", u"2.5e-3", u"007", u"  -0.0  "}) {
    EXPECT_TRUE(IsDecimalNumber(yes)) << ToUtf8(yes);
  }
  for (const char16_t* no :
       {u"",   u" ",  u"+",   u"-",   u".",      u"1.2.3", u"0x1F",  u"inf", u"nan",  u"1,000",
        u"1e", u"e5", u"1 2", u"+-1", u"\uFF11", u"\t1",   u"1e2.5", u"- 1", u"&H10", u"1d"}) {
    EXPECT_FALSE(IsDecimalNumber(no)) << ToUtf8(no);
  }
}

TEST(Spaces, TrimSpacesRemovesOnlyU0020) {
  EXPECT_EQ(TrimSpaces(u"  a b  "), u"a b");
  EXPECT_EQ(TrimSpaces(u"\t\u3000x\u00A0"), u"\t\u3000x\u00A0");
  EXPECT_EQ(TrimSpaces(u"   "), u"");
}

}  // namespace
}  // namespace tavrine::text
