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

void ExpectCases(const std::vector<Case>& cases) {
  for (const Case& c : cases) {
    EXPECT_EQ(WildcardPattern(c.pattern).Matches(c.name), c.matches)
        << "pattern '" << Narrow(c.pattern) << "' name '" << Narrow(c.name) << "'";
  }
}

TEST(WildcardTest, PlainCharactersCompareByCode) {
  ExpectCases({
      {u"readme.txt", u"readme.txt", true},
      {u"readme.txt", u"README.TXT", false},
      {u"*.txt", u"a.TXT", false},
      {u"*.TXT", u"a.TXT", true},
      {u"abc", u"ab", false},
      {u"ab", u"abc", false},
      {u"\u00e9t\u00e9", u"\u00e9t\u00e9", true},
      {u"\u00e9t\u00e9", u"\u00c9t\u00e9", false},
      {u"]", u"]", true},  // "]" outside a list is itself
      {u"a]b", u"a]b", true},
      {u"!a", u"!a", true},
      {u"-", u"-", true},
      {u"\\", u"\\", true},  // no escape character
  });
}

TEST(WildcardTest, EmptyPatternAndEmptyName) {
  ExpectCases({
      {u"", u"", true},
      {u"", u"a", false},
      {u"*", u"", true},
      {u"**", u"", true},
      {u"?", u"", false},
      {u"#", u"", false},
      {u"[a]", u"", false},
  });
}

TEST(WildcardTest, QuestionMarkTakesExactlyOneCodeUnit) {
  ExpectCases({
      {u"?", u"a", true},
      {u"?", u"ab", false},
      {u"a?c", u"abc", true},
      {u"a?c", u"ac", false},
      {u"???", u"a.b", true},
      {u"?", u"\u4e2d", true},
      // A character beyond the BMP is two code units, so two "?".
      {u"?", u"\U0001F600", false},
      {u"??", u"\U0001F600", true},
  });
}

TEST(WildcardTest, StarTakesAnyRunAlsoNone) {
  ExpectCases({
      {u"*", u"anything at all", true},
      {u"*", u".hidden", true},
      {u"*.*", u"one.txt", true},
      {u"*.*", u"sub", false},  // only names with a full stop
      {u"*.*", u".", true},
      {u"*.*", u"a.b.c", true},
      {u"a*", u"a", true},
      {u"*a", u"a", true},
      {u"a*b", u"ab", true},
      {u"a*b", u"axxxb", true},
      {u"a*b", u"axxxbx", false},
      {u"a*b*c", u"abbbcbc", true},
      {u"a*b*c", u"abbbcb", false},
      {u"*b", u"bbb", true},
      {u"*ab", u"aab", true},
      {u"*aab", u"aaab", true},
      {u"*?", u"", false},
      {u"*?", u"x", true},
      {u"?*?", u"x", false},
      {u"?*?", u"xy", true},
      {u"***x***", u"x", true},
      {u"*.t?t", u"notes.txt", true},
      {u"*.t?t", u"notes.tx", false},
  });
}

TEST(WildcardTest, HashTakesOneDigit) {
  ExpectCases({
      {u"#", u"0", true},
      {u"#", u"9", true},
      {u"#", u"a", false},
      {u"#", u"/", false},  // just below '0'
      {u"#", u":", false},  // just above '9'
      {u"#", u"12", false},
      {u"#", u"\u0663", false},  // Arabic-Indic three is not 0-9
      {u"img##.png", u"img07.png", true},
      {u"img##.png", u"img7.png", false},
      {u"*#", u"track12", true},
  });
}

TEST(WildcardTest, ListsAndRanges) {
  ExpectCases({
      {u"[abc]", u"b", true},
      {u"[abc]", u"d", false},
      {u"[abc]", u"B", false},
      {u"[a-c]", u"a", true},
      {u"[a-c]", u"c", true},
      {u"[a-c]", u"d", false},
      {u"[a-c]", u"`", false},  // just below 'a'
      {u"[a-cx-z]", u"y", true},
      {u"[a-cx-z]", u"m", false},
      {u"[A-Za-z]", u"Q", true},
      {u"[0-9]", u"5", true},
      {u"[a-a]", u"a", true},
      {u"[\u00e0-\u00ff]", u"\u00e9", true},
      {u"[\u00e0-\u00ff]", u"e", false},
      {u"[ab][cd]", u"ad", true},
      {u"[ab][cd]", u"ba", false},
      {u"file[0-9].txt", u"file3.txt", true},
      {u"file[0-9].txt", u"fileX.txt", false},
  });
}

TEST(WildcardTest, NegatedLists) {
  ExpectCases({
      {u"[!abc]", u"d", true},
      {u"[!abc]", u"a", false},
      {u"[!a-z]", u"A", true},
      {u"[!a-z]", u"m", false},
      {u"[!a]", u"", false},  // still one character
      {u"[!a]", u"bb", false},
      {u"[a!]", u"!", true},  // "!" is only a negation first
      {u"[a!]", u"b", false},
      {u"[!!]", u"!", false},
      {u"[!!]", u"x", true},
  });
}

TEST(WildcardTest, SpecialCharactersStandForThemselvesInLists) {
  ExpectCases({
      {u"[?]", u"?", true},
      {u"[?]", u"a", false},
      {u"[*]", u"*", true},
      {u"[*]", u"ab", false},
      {u"[*]", u"", false},
      {u"[#]", u"#", true},
      {u"[#]", u"5", false},
      {u"[[]", u"[", true},
      {u"[[]x", u"[x", true},
      {u"a[*?#[]b", u"a#b", true},
      {u"a[*?#[]b", u"a[b", true},
      {u"a[*?#[]b", u"axb", false},
      {u"[]]", u"]", true},  // "]" first is a member
      {u"[]a]", u"a", true},
      {u"[!]]", u"]", false},
      {u"[!]]", u"x", true},
  });
}

TEST(WildcardTest, HyphenAtEitherEndIsItself) {
  ExpectCases({
      {u"[-a]", u"-", true},
      {u"[-a]", u"a", true},
      {u"[-a]", u"b", false},
      {u"[a-]", u"-", true},
      {u"[a-]", u"a", true},
      {u"[a-]", u"b", false},
      {u"[-]", u"-", true},
      {u"[!-]", u"-", false},
      {u"[!-]", u"x", true},
      {u"[!-a]", u"-", false},
      {u"[!-a]", u"b", true},
      {u"[a-c-e]", u"-", true},  // after a range a hyphen is itself
      {u"[a-c-e]", u"e", true},
      {u"[a-c-e]", u"d", false},
  });
}

TEST(WildcardTest, MalformedPatternsRaiseNamingThePattern) {
  for (const char16_t* bad : {u"[", u"[abc", u"*.[tx", u"[!", u"[]", u"[!]", u"a[b-", u"[z-a]",
                              u"x[9-0]y", u"[a-cz-a]"}) {
    try {
      WildcardPattern pattern(bad);
      ADD_FAILURE() << "no error for '" << Narrow(bad) << "'";
    } catch (const InputError& e) {
      EXPECT_NE(std::string(e.what()).find("'" + Narrow(bad) + "'"), std::string::npos) << e.what();
    }
  }
}

TEST(WildcardTest, MalformedMessagesSayWhatIsWrong) {
  try {
    WildcardPattern pattern(u"ab[cd");
    FAIL();
  } catch (const InputError& e) {
    EXPECT_STREQ(e.what(), "malformed name pattern 'ab[cd': no ']' closes the '[' at position 3");
  }
  try {
    WildcardPattern pattern(u"[z-a]");
    FAIL();
  } catch (const InputError& e) {
    EXPECT_STREQ(e.what(),
                 "malformed name pattern '[z-a]': the range 'z-a' at position 2 runs backwards "
                 "and would match nothing");
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

TEST(WildcardTest, MatchesAnyTriesEveryPattern) {
  const std::vector<WildcardPattern> patterns = {WildcardPattern(u"*.txt"),
                                                 WildcardPattern(u"*.dat")};
  EXPECT_TRUE(MatchesAny(patterns, u"a.txt"));
  EXPECT_TRUE(MatchesAny(patterns, u"b.dat"));
  EXPECT_FALSE(MatchesAny(patterns, u"c.bin"));
  EXPECT_FALSE(MatchesAny({}, u"a.txt"));  // no pattern, no match
}

// Random ASCII patterns against the C library's fnmatch. The two agree on "?", "*" and
// "[...]" / "[!...]" lists with simple members and ascending ranges, with no escape character;
// "#" has no fnmatch counterpart and is handed to it as "[0-9]".
TEST(WildcardTest, AgreesWithFnmatchOnRandomPatterns) {
  std::mt19937 rng(20240611);
  const std::string nameAlphabet = "ab.1-]!x";
  const std::string listMembers = "ab.1x!?*#";
  auto pick = [&rng](const std::string& from) {
    return from[std::uniform_int_distribution<std::size_t>(0, from.size() - 1)(rng)];
  };
  auto below = [&rng](int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng); };
  int matched = 0;
  for (int round = 0; round < 20000; ++round) {
    std::string ours;
    std::string theirs;
    const int elements = below(7);
    for (int e = 0; e < elements; ++e) {
      switch (below(7)) {
        case 0:
          ours += '?';
          theirs += '?';
          break;
        case 1:
          ours += '*';
          theirs += '*';
          break;
        case 2:
          ours += '#';
          theirs += "[0-9]";
          break;
        case 3: {
          std::string list = "[";
          if (below(3) == 0) list += '!';
          if (list.back() == '!' && below(2) == 0) list += '!';
          const int members = 1 + below(3);
          for (int m = 0; m < members; ++m) {
            if (below(4) == 0) {
              char a = pick("ab1.");
              char b = pick("ab1.");
              if (b < a) std::swap(a, b);
              list += std::string{a, '-', b};
            } else {
              list += pick(listMembers);
            }
          }
          if (list == "[!") list += 'a';  // a lone "!" would negate an empty list
          if (below(5) == 0) list += '-';
          list += ']';
          ours += list;
          theirs += list;
          break;
        }
        default: {
          const char c = pick(nameAlphabet);
          ours += c;
          theirs += c;
          break;
        }
      }
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
