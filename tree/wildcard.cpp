#include "tree/wildcard.h"

#include <algorithm>

#include "tree/errors.h"
#include "tree/text.h"

namespace tavrine {

namespace {

[[noreturn]] void ThrowMalformed(std::u16string_view pattern, const std::string& why) {
  throw InputError("malformed name pattern '" + text::ToUtf8(pattern) + "': " + why);
}

}  // namespace

WildcardPattern::WildcardPattern(std::u16string_view pattern) : text_(pattern) {
  std::size_t i = 0;
  while (i < text_.size()) {
    const char16_t c = text_[i];
    switch (c) {
      case u'?':
        elements_.push_back({Kind::kAnyChar, 0, 0});
        ++i;
        break;
      case u'#':
        elements_.push_back({Kind::kDigit, 0, 0});
        ++i;
        break;
      case u'*':
        // "**" means the same as "*"; folding keeps the matcher's backtracking point unique.
        if (elements_.empty() || elements_.back().kind != Kind::kAnyRun) {
          elements_.push_back({Kind::kAnyRun, 0, 0});
        }
        ++i;
        break;
      case u'[':
        i = ParseList(i);
        break;
      default:
        elements_.push_back({Kind::kChar, c, 0});
        ++i;
        break;
    }
  }
}

// Parses the list whose "[" is at open; returns the index after its "]".
std::size_t WildcardPattern::ParseList(std::size_t open) {
  const std::size_t n = text_.size();
  List list;
  std::size_t i = open + 1;
  if (i < n && text_[i] == u'!') {
    list.negated = true;
    ++i;
  }
  const std::size_t first = i;
  for (;;) {
    if (i >= n) {
      ThrowMalformed(text_, "no ']' closes the '[' at position " + std::to_string(open + 1));
    }
    const char16_t c = text_[i];
    if (c == u']' && i != first) break;
    // A hyphen between two members makes a range; at either end of the list it is itself.
    if (i + 2 < n && text_[i + 1] == u'-' && text_[i + 2] != u']') {
      const char16_t last = text_[i + 2];
      if (last < c) {
        ThrowMalformed(text_, "the range '" + text::ToUtf8(text_.substr(i, 3)) + "' at position " +
                                  std::to_string(i + 1) +
                                  " runs backwards and would match nothing");
      }
      list.ranges.emplace_back(c, last);
      i += 3;
    } else {
      list.ranges.emplace_back(c, c);
      ++i;
    }
  }
  elements_.push_back({Kind::kList, 0, static_cast<std::uint32_t>(lists_.size())});
  lists_.push_back(std::move(list));
  return i + 1;
}

bool WildcardPattern::MatchesOne(const Element& element, char16_t c) const {
  switch (element.kind) {
    case Kind::kChar:
      return c == element.c;
    case Kind::kAnyChar:
      return true;
    case Kind::kDigit:
      return c >= u'0' && c <= u'9';
    case Kind::kList: {
      const List& list = lists_[element.list];
      const bool in = std::any_of(list.ranges.begin(), list.ranges.end(),
                                  [c](const auto& r) { return c >= r.first && c <= r.second; });
      return in != list.negated;
    }
    case Kind::kAnyRun:
      break;
  }
  return false;
}

// Every element but "*" takes exactly one character, so it is enough to remember the last star
// seen: when the elements after it fail, let that star take one character more and try again.
// An earlier star never needs to take more, since the later one can absorb the difference.
bool WildcardPattern::Matches(std::u16string_view name) const {
  const std::size_t count = elements_.size();
  constexpr std::size_t kNone = static_cast<std::size_t>(-1);
  std::size_t p = 0;
  std::size_t n = 0;
  std::size_t starP = kNone;
  std::size_t starN = 0;
  while (n < name.size()) {
    if (p < count && elements_[p].kind == Kind::kAnyRun) {
      starP = p++;
      starN = n;
    } else if (p < count && MatchesOne(elements_[p], name[n])) {
      ++p;
      ++n;
    } else if (starP != kNone) {
      p = starP + 1;
      n = ++starN;
    } else {
      return false;
    }
  }
  while (p < count && elements_[p].kind == Kind::kAnyRun) ++p;
  return p == count;
}

bool MatchesAny(const std::vector<WildcardPattern>& patterns, std::u16string_view name) {
  return std::any_of(patterns.begin(), patterns.end(),
                     [name](const WildcardPattern& p) { return p.Matches(name); });
}

}  // namespace tavrine
