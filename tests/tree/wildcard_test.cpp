#include "tree/wildcard.h"

#include <gtest/gtest.h>

#include <string>

#include "tree/errors.h"

namespace tavrine {
namespace {

TEST(WildcardTest, Matches) {
  struct Case {
    const char16_t* pattern;
    const char16_t* name;
    bool matches;
  };
  const std::u16string as(10000, u'a');
  const Case cases[] = {
      {u"*.txt", u"a.TXT", false},                             // case counts
      {u"\\", u"\\", true},                                    // no escape character
      {u"??", u"\U0001F600", true},                            // beyond the BMP: two code units
      {u"#", u"/", false},                                     // just below '0'
      {u"#", u":", false},                                     // just above '9'
      {u"#0#", u"909", true},       {u"[a-c-e]", u"-", true},  // after a range a hyphen is itself
      {u"[!a-c]*", u"d", true},     {u"a*a*a*b", as.c_str(), false},  // no exponential backtracking
  };
  for (const Case& c : cases) {
    EXPECT_EQ(WildcardPattern(c.pattern).Matches(c.name), c.matches)
        << std::u16string(c.pattern).size();
  }
  try {
    WildcardPattern pattern(u"x[a-cz-a]");
    ADD_FAILURE() << "no error";
  } catch (const InputError& e) {
    EXPECT_EQ(std::string(e.what()),
              "malformed name pattern 'x[a-cz-a]': the range 'z-a' at position 6 runs "
              "backwards and would match nothing");
  }
  EXPECT_THROW(WildcardPattern(u"ab[cd"), InputError);
}

}  // namespace
}  // namespace tavrine
