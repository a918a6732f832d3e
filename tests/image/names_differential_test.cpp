// The fast name mapping against the literal transcription in names_reference.cpp, on many
// generated sibling lists (fixed seeds), then the postconditions of the uniqueness step.

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <unordered_map>
#include <vector>

#include "image/names.h"
#include "names_reference.h"
#include "tree/text.h"

namespace tavrine {
namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr int kDirectories = 1000;
#else
constexpr int kDirectories = 10000;
#endif

// Names built from pieces chosen so that the interesting cases meet often: shared long
// prefixes (28 to 31 characters, so that 29-character keys agree or just miss), "~" with and
// without numbers, dots, case variants, characters beyond Windows-1252 and ";".
class NameGenerator {
 public:
  explicit NameGenerator(std::uint32_t seed) : rng_(seed) {}

  std::vector<std::u16string> Siblings() {
    const std::uint32_t roll = Below(1000);
    std::size_t n = 0;
    if (roll < 3) {
      n = 1000 + Below(1500);  // a few directories with thousands of siblings
    } else if (roll < 60) {
      n = 50 + Below(250);
    } else {
      n = Below(25);
    }
    std::vector<std::u16string> names;
    names.reserve(n);
    for (std::size_t i = 0; i < n; ++i) {
      if (Below(200) == 0) {
        names.emplace_back();  // a blank name, as a blank directory name trims to
      } else if (!names.empty() && Below(6) == 0) {
        names.push_back(Variant(names[Below(static_cast<std::uint32_t>(names.size()))]));
      } else {
        names.push_back(Fresh());
      }
    }
    return names;
  }

 private:
  std::uint32_t Below(std::uint32_t n) { return static_cast<std::uint32_t>(rng_() % n); }

  const std::u16string& Pick(const std::vector<std::u16string>& pool) {
    return pool[Below(static_cast<std::uint32_t>(pool.size()))];
  }

  std::u16string Fresh() {
    static const std::vector<std::u16string> kPrefixes = {
        u"abcdefghijklmnopqrstuvwxyzabc",    // 29
        u"ABCDEFGHIJKLMNOPQRSTUVWXYZABC",    // the same, upper case
        u"abcdefghijklmnopqrstuvwxyzab",     // 28
        u"abcdefghijklmnopqrstuvwxyzabcd",   // 30
        u"abcdefghijklmnopqrstuvwxyzabcde",  // 31
        u"Long Directory Name Shared By M",  // 31, with spaces
        u"abcdefghijklmnopqrstuvwxyz~bc",    // "~" inside the key
        u"abcdefghijklmnopqrstuvwxyzab~",    // "~" at position 28
        u"abcdefghijklmnopqrstuvwxyzabc~",   // "~" at position 29
        u"abcdefghijklmnopqrstuvwxyzabcd~",  // "~" at position 30
    };
    static const std::vector<std::u16string> kPieces = {
        u"data",   u"DATA",   u"x",    u"readme", u"Notes", u"a", u"A",  u"~",  u"~",
        u"~",      u"1",      u"2",    u"12",     u"123",   u"9", u".",  u".",  u".",
        u"txt",    u"TXT",    u"txtx", u"tar",    u"gz",    u" ", u";",  u"-1", u"e2",
        u"日本語", u"中文字", u"ß",    u"ẞ",      u"µ",     u"ÿ", u"σς", u"😀",  u"0.5",
    };
    std::u16string name;
    if (Below(3) == 0) name = Pick(kPrefixes);
    const std::uint32_t pieces = (name.empty() ? 1 : 0) + Below(5);
    for (std::uint32_t p = 0; p < pieces; ++p) name += Pick(kPieces);
    if (Below(5) == 0) {
      // Random filler, so that long names also differ after their shared prefixes.
      const std::uint32_t extra = Below(12);
      for (std::uint32_t c = 0; c < extra; ++c) name += static_cast<char16_t>(u'a' + Below(4));
    }
    return name;
  }

  // The same name, a case variant, or the name with a piece added.
  std::u16string Variant(std::u16string name) {
    switch (Below(3)) {
      case 0:
        return name;
      case 1:
        for (auto& c : name) {
          if (Below(2) == 0) c = text::SimpleUpper(c);
        }
        return name;
      default:
        return name + (Below(2) == 0 ? u"~1" : u"x");
    }
  }

  std::mt19937 rng_;
};

// Unique together, within limits, and unchanged where the passes left a unique name that fit.
void CheckUnique(const std::vector<std::u16string>& dirs, const std::vector<std::u16string>& files,
                 const std::vector<std::u16string>& uniqueDirs,
                 const std::vector<std::u16string>& uniqueFiles, int directory) {
  auto fits = [](const std::u16string& name, bool isFile) {
    const auto dot = isFile ? name.rfind(u'.') : std::u16string::npos;
    if (dot == std::u16string::npos) return !name.empty() && name.size() <= 31;
    return dot <= 31 && name.size() - dot - 1 <= 3;
  };
  std::unordered_map<std::u16string, int> before, after;
  for (const auto& name : dirs) ++before[name];
  for (const auto& name : files) ++before[name];
  auto check = [&](const std::vector<std::u16string>& was, const std::vector<std::u16string>& now,
                   bool isFile) {
    ASSERT_EQ(was.size(), now.size());
    for (std::size_t i = 0; i < now.size(); ++i) {
      const std::string at = "directory " + std::to_string(directory) + ": " + text::ToUtf8(now[i]);
      EXPECT_EQ(++after[now[i]], 1) << at << " is a duplicate";
      EXPECT_TRUE(fits(now[i], isFile)) << at << " is too long";
      if (before[was[i]] == 1 && fits(was[i], isFile)) {
        EXPECT_EQ(now[i], was[i]) << at;
      }
    }
  };
  check(dirs, uniqueDirs, false);
  check(files, uniqueFiles, true);
}

// Each directory: the fast passes against the literal ones, then the uniqueness step.
TEST(NamesDifferential, FastPassesMatchLiteralPassesAndUniquenessHolds) {
  NameGenerator generator(20240611);
  auto expectSame = [](const std::vector<std::u16string>& names,
                       const std::vector<std::u16string>& fast,
                       const std::vector<std::u16string>& literal, const std::string& where) {
    ASSERT_EQ(fast.size(), literal.size());
    for (std::size_t i = 0; i < fast.size(); ++i) {
      ASSERT_EQ(text::ToUtf8(fast[i]), text::ToUtf8(literal[i]))
          << where << " " << i << " " << text::ToUtf8(names[i]);
    }
  };
  for (int d = 0; d < kDirectories && !HasFailure(); ++d) {
    const std::vector<std::u16string> dirNames = generator.Siblings();
    const std::vector<std::u16string> fileNames = generator.Siblings();
    const std::vector<std::u16string> dirs = detail::MapSiblingDirectoryNames(dirNames);
    const std::vector<std::u16string> files = detail::MapSiblingFileNames(fileNames);
    const std::string where = "directory " + std::to_string(d);
    expectSame(dirNames, dirs, reference::MapDirectoryNames(dirNames), where + ", sub-directory");
    expectSame(fileNames, files, reference::MapFileNames(fileNames), where + ", file");
    std::vector<std::u16string> uniqueDirs = dirs;
    std::vector<std::u16string> uniqueFiles = files;
    detail::MakeSiblingNamesUnique(uniqueDirs, uniqueFiles);
    CheckUnique(dirs, files, uniqueDirs, uniqueFiles, d);
  }
}

}  // namespace
}  // namespace tavrine
