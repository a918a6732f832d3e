#include "tree/wildcard.h"

#include <fnmatch.h>
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "tree/errors.h"

namespace tavrine {
namespace {

struct Case {
  const char16_t* pattern;
  const char16_t* name;
  bool matches;
};

std::string Narrow(std::u16string_view s) {
  std::string out;
  for (char16_t c : s) out += c < 0x80 ? static_cast<char>(c) : '~';
  return out;
}

// What the random comparison with fnmatch below does not reach: case, characters beyond ASCII,
// "#" at the edges of the digits, "[" in a list and a hyphen after a range.
TEST(WildcardTest, CasesBeyondTheFnmatchComparison) {
  const std::vector<Case> cases = {
      {u"*.txt", u"a.TXT", false},  // by code: case counts
      {u"\u00e9t\u00e9", u"\u00c9t\u00e9", false},
      {u"\\", u"\\", true},  // no escape character
      {u"?", u"\u4e2d", true},
      // A character beyond the BMP is two code units, so two "?".
      {u"?", u"\U0001F600", false},
      {u"??", u"\U0001F600", true},
      {u"#", u"/", false},  // just below '0'
      {u"#", u":", false},  // just above '9'
      {u"#", u"9", true},
      {u"#", u"\u0663", false},  // Arabic-Indic three is not 0-9
      {u"[\u00e0-\u00ff]", u"\u00e9", true},
      {u"[\u00e0-\u00ff]", u"e", false},
      {u"a[*?#[]b", u"a[b", true},
      {u"[a-c-e]", u"-", true},  // after a range a hyphen is itself
      {u"[a-c-e]", u"e", true},
      {u"[a-c-e]", u"d", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(WildcardPattern(c.pattern).Matches(c.name), c.matches)
        << "pattern '" << Narrow(c.pattern) << "' name '" << Narrow(c.name) << "'";
  }
}

TEST(WildcardTest, MalformedPatternsRaiseSayingWhatIsWrong) {
  const std::string prefix = "malformed name pattern ";
  const std::pair<const char16_t*, const char*> cases[] = {
      {u"ab[cd", "'ab[cd': no ']' closes the '[' at position 3"},
      {u"[", "'[': no ']' closes the '[' at position 1"},
      {u"[!", "'[!': no ']' closes the '[' at position 1"},
      {u"[]", "'[]': no ']' closes the '[' at position 1"},  // "]" first is a member
      {u"[!]", "'[!]': no ']' closes the '[' at position 1"},
      {u"a[b-", "'a[b-': no ']' closes the '[' at position 2"},
      {u"[z-a]", "'[z-a]': the range 'z-a' at position 2 runs backwards and would match nothing"},
      {u"x[a-cz-a]",
       "'x[a-cz-a]': the range 'z-a' at position 6 runs backwards and would match "
       "nothing"},
  };
  for (const auto& [bad, message] : cases) {
    try {
      WildcardPattern pattern(bad);
      ADD_FAILURE() << "no error for '" << Narrow(bad) << "'";
    } catch (const InputError& e) {
      EXPECT_EQ(e.what(), prefix + message);
    }
  }
}

TEST(WildcardTest, PathologicalPatternDoesNotBacktrackExponentially) {
  // A matcher that tries every split of the name among the stars would not finish this.
  const std::u16string as(10000, u'a');
  EXPECT_FALSE(WildcardPattern(u"a*a*a*a*a*b").Matches(as));
  EXPECT_TRUE(WildcardPattern(u"a*a*a*a*a*a").Matches(as));
  EXPECT_FALSE(WildcardPattern(u"*a*a*a*a*a*a*a*a*a*a*a*a*b*").Matches(as));
  EXPECT_TRUE(WildcardPattern(u"*a*a*a*a*a*a*a*a*a*a*a*a*").Matches(as));
  EXPECT_FALSE(WildcardPattern(u"*?*?*?*?*?*?*?*?#").Matches(as));
}

// Random ASCII patterns against the C library's fnmatch. The two agree on "?", "*" and
// "[...]" / "[!...]" lists with simple members, ascending ranges and "]" or "-" first, with no
// escape character; "#" has no fnmatch counterpart and is handed to it as "[0-9]".
TEST(WildcardTest, AgreesWithFnmatchOnRandomPatterns) {
  std::mt19937 rng(20240611);
  const std::string nameAlphabet = "abA.1-]!x";
  const std::string listMembers = "ab.1x!?*#";
  auto pick = [&rng](const std::string& from) {
    return from[std::uniform_int_distribution<std::size_t>(0, from.size() - 1)(rng)];
  };
  auto below = [&rng](int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng); };
  int matched = 0;
  for (int round = 0; round < 20000; ++round) {
    std::string ours;
    std::string theirs;
    for (int e = below(7); e > 0; --e) {
      std::string piece;
      switch (below(7)) {
        case 0:
          piece += '?';
          break;
        case 1:
          piece += '*';
          break;
        case 2:
          ours += '#';
          theirs += "[0-9]";
          continue;
        case 3: {
          piece += '[';
          if (below(3) == 0) piece += '!';
          if (piece.back() == '!' && below(2) == 0) piece += '!';
          if (below(5) == 0) piece += below(2) == 0 ? ']' : '-';  // members only when first
          for (int m = 1 + below(3); m > 0; --m) {
            if (below(4) == 0) {
              char a = pick("ab1.");
              char b = pick("ab1.");
              if (b < a) std::swap(a, b);
              piece += std::string{a, '-', b};
            } else {
              piece += pick(listMembers);
            }
          }
          if (piece == "[!") piece += 'a';  // a lone "!" member would negate an empty list
          if (below(5) == 0) piece += '-';
          piece += ']';
          break;
        }
        default:
          piece += pick(nameAlphabet);
      }
      ours += piece;
      theirs += piece;
    }
    const int length = below(8);
    std::string name;
    for (int i = 0; i < length; ++i) name += pick(nameAlphabet);

    const WildcardPattern pattern(std::u16string(ours.begin(), ours.end()));
    const bool expected = fnmatch(theirs.c_str(), name.c_str(), FNM_NOESCAPE) == 0;
    ASSERT_EQ(pattern.Matches(std::u16string(name.begin(), name.end())), expected)
        << "pattern '" << ours << "' name '" << name << "'";
    matched += expected ? 1 : 0;
  }
  // The generator must exercise both outcomes.
  EXPECT_GT(matched, 1000);
  EXPECT_LT(matched, 19000);
}

}  // namespace
}  // namespace tavrine
