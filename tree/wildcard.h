// Name patterns of the folder import: parsed once, matched against many names.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tavrine {

// A wildcard pattern over UTF-16 code units (one code unit is one character), compared by code:
// upper and lower case are distinct.
//
//   ?        any one character
//   *        any run of characters, also none
//   #        any one digit 0-9
//   [list]   any one character of the list; "a-z" in the list stands for every character from
//            a to z by code
//   [!list]  any one character not in the list
//   other    that character itself ("]" and "!" outside a list too)
//
// Inside a list, "?", "*", "#" and "[" stand for themselves. A hyphen stands for itself at
// either end of a list ("[-a]", "[a-]", "[!-a]") and right after a range ("[a-c-e]" is a-c, "-"
// and "e"). A "]" right after "[" or "[!" is a member of the list, so "[]]" matches "]" and
// "[!]]" any character but "]"; this is the one way to put "]" into a list.
//
// Malformed patterns raise InputError naming the pattern when they are parsed:
//   - a "[" that no "]" closes ("[abc", and also "[]" and "[!]", since their "]" is a member);
//   - a reversed range such as "[z-a]": it could only ever match nothing, which in an import
//     would silently import nothing, so the user is told instead.
//
// Matching takes at worst time proportional to the name's length times the pattern's length,
// never exponential time ("a*a*a*a*a*b" against 10,000 "a" is quick).
class WildcardPattern {
 public:
  explicit WildcardPattern(std::u16string_view pattern);

  bool Matches(std::u16string_view name) const;

 private:
  enum class Kind : std::uint8_t { kChar, kAnyChar, kDigit, kList, kAnyRun };
  struct Element {
    Kind kind;
    char16_t c;          // kChar: the character
    std::uint32_t list;  // kList: index into lists_
  };
  struct List {
    std::vector<std::pair<char16_t, char16_t>> ranges;  // inclusive; a single character is c-c
    bool negated = false;
  };

  std::size_t ParseList(std::size_t open);
  bool MatchesOne(const Element& element, char16_t c) const;

  std::u16string text_;
  std::vector<Element> elements_;  // consecutive stars are folded into one
  std::vector<List> lists_;
};

// True when name matches one of patterns, tried in order.
bool MatchesAny(const std::vector<WildcardPattern>& patterns, std::u16string_view name);

}  // namespace tavrine
