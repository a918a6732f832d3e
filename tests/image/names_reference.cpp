#include "names_reference.h"

#include <cstddef>
#include <cstdint>

#include "image/names.h"
#include "tree/text.h"

namespace tavrine::reference {

namespace {

using detail::BaseName;
using detail::ExtensionOf;
using detail::TildeName;

// The first n characters; all of s when shorter, nothing for a negative n.
std::u16string Left(const std::u16string& s, std::int64_t n) {
  if (n <= 0) return {};
  return s.substr(0, static_cast<std::size_t>(n));
}

std::int64_t Len(const std::u16string& s) {
  return static_cast<std::int64_t>(s.size());
}

bool Contains(const std::u16string& s, char16_t c) {
  return s.find(c) != std::u16string::npos;
}

std::int64_t Digits(std::int64_t n) {
  return static_cast<std::int64_t>(std::to_string(n).size());
}

// Upper-casing, then ";" to "_" and characters beyond Windows-1252 to "?".
std::u16string Upper(const std::u16string& s) {
  std::u16string out = text::ToUpper(s);
  for (auto& c : out) {
    if (c == u';') c = u'_';
    if (!text::InWindows1252(c)) c = u'?';
  }
  return out;
}

std::vector<std::u16string> Split(const std::u16string& s, char16_t sep) {
  std::vector<std::u16string> parts(1);
  for (char16_t c : s) {
    if (c == sep) {
      parts.emplace_back();
    } else {
      parts.back() += c;
    }
  }
  return parts;
}

}  // namespace

std::vector<std::u16string> MapDirectoryNames(const std::vector<std::u16string>& names) {
  const std::size_t n = names.size();
  std::vector<std::u16string> dos(n);
  std::vector<bool> valid(n);

  for (std::size_t d = 0; d < n; ++d) {
    dos[d] = Upper(Left(names[d], 31));
    if (Contains(dos[d], u'~')) {
      const std::size_t p = dos[d].find(u'~');
      if (text::IsDecimalNumber(dos[d].substr(p + 1))) {
        dos[d] = Left(dos[d], static_cast<std::int64_t>(p) + 1);
      } else if (Len(names[d]) > 31) {
        dos[d] = Left(dos[d], 29) + u"~";
      }
    }
    if (!Contains(dos[d], u'~') && Len(names[d]) > 31) dos[d] = Left(dos[d], 29) + u"~";
    valid[d] = false;
  }

  for (std::size_t i = 0; i < n; ++i) {
    const std::u16string key = dos[i];
    std::int64_t count = 0;
    for (std::size_t j = 0; j < n; ++j) {
      if (j != i && text::Fold(dos[j]) == text::Fold(key)) ++count;
    }
    if (!Contains(key, u'~')) continue;
    for (std::int64_t k = 1; k <= Digits(count); ++k) {
      const std::u16string pattern = Left(key, Len(key) - k) + u"~";
      for (std::size_t j = 0; j < n; ++j) {
        if (j != i && !valid[j] && text::Fold(dos[j]) == text::Fold(pattern)) dos[j] = key;
      }
    }
    std::int32_t seq = 1;
    for (std::size_t j = 0; j < n; ++j) {
      if (valid[j]) continue;
      if (j == i && Len(names[i]) <= 31) continue;
      if (text::Fold(dos[j]) == text::Fold(key)) {
        dos[j] = TildeName(dos[j] + u" ", seq);
        valid[j] = true;
        ++seq;
      }
    }
  }
  return dos;
}

std::vector<std::u16string> MapFileNames(const std::vector<std::u16string>& names) {
  const std::size_t m = names.size();
  std::vector<std::u16string> dos(m);
  for (std::size_t f = 0; f < m; ++f) {
    dos[f] = Upper(Left(BaseName(names[f]), 31)) + u"." + Upper(Left(ExtensionOf(names[f]), 3));
  }

  auto numbered = [](const std::u16string& name, std::int32_t seq) {
    const std::vector<std::u16string> parts = Split(name, u'.');
    std::u16string out = TildeName(parts[0], seq);
    if (parts.size() == 2 && !parts[1].empty()) out += u"." + parts[1];
    return out;
  };

  for (std::size_t i = 0; i < m; ++i) {
    const std::u16string key = Left(dos[i], 29);
    std::int64_t count = 0;
    if (!Contains(Left(dos[i], 31), u'~')) {
      for (std::size_t j = 0; j < m; ++j) {
        if (j != i && Left(dos[j], 29) == key) ++count;
      }
    }
    if (count > 0) {
      std::int32_t seq = 1;
      for (std::size_t j = 0; j < m; ++j) {
        if (Left(dos[j], 29) == key) dos[j] = numbered(dos[j], seq++);
      }
    }
    if (count == 0 && !Contains(dos[i], u'~') && Len(BaseName(names[i])) > 31) {
      dos[i] = numbered(dos[i], 1);
    }
  }
  return dos;
}

}  // namespace tavrine::reference
