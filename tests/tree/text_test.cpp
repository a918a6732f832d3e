#include "tree/text.h"

#include <gtest/gtest.h>

#include <string>

namespace tavrine::text {
namespace {

TEST(Utf8, InvalidInputAndRoundTrip) {
  const char16_t r = 0xFFFD;
  EXPECT_EQ(FromUtf8("\xE0\x80\xAF"), std::u16string({r, r, r}));  // overlong
  EXPECT_EQ(FromUtf8("\xE2\x82x"), std::u16string({r, u'x'}));     // truncated, then text
  EXPECT_EQ(ToUtf8(std::u16string({0xD800, u'x'})), "\xEF\xBF\xBDx");
  const std::string bytes = "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80";
  EXPECT_EQ(ToUtf8(FromUtf8(bytes)), bytes);
}

// Local names: every byte of an invalid subpart is its own Windows-1252 character; the five
// bytes it leaves undefined stand for the C1 controls of that number.
TEST(Utf8, LocalNamesReadInvalidBytesAsWindows1252) {
  EXPECT_EQ(FromLocalName("\xE2\x82x\xC3\xA9"), std::u16string({0x00E2, 0x201A, u'x', 0x00E9}));
  EXPECT_EQ(FromLocalName("\x80\x81\x8D\x8F\x90\x9D\x9F\xFF"),
            std::u16string({0x20AC, 0x81, 0x8D, 0x8F, 0x90, 0x9D, 0x0178, 0x00FF}));
  EXPECT_EQ(ToWindows1252(u"a€\u0081Ÿ日"), "a\x80\x81\x9F?");
}

TEST(CaseMapping, CasesThatTripLocaleBasedMappings) {
  EXPECT_EQ(SimpleUpper(u'i'), u'I');
  EXPECT_EQ(SimpleFold(0x212A), u'k');  // Kelvin sign
  EXPECT_EQ(Fold(u"ΣΑΣ ǅ"), Fold(u"σας ǆ"));
}

}  // namespace
}  // namespace tavrine::text
