#include "tree/files.h"

#include <gtest/gtest.h>

#include <string>

#include "support/temp_dir.h"
#include "tree/errors.h"

namespace tavrine {
namespace {

// Adds in order to one collection: the name taken, or nothing added (nullptr in the table).
TEST(Files, NamesFromPathsOrGivenAndDuplicatesIgnoringCase) {
  struct Case {
    const char* local;
    const char16_t* given;
    const char16_t* expected;
  };
  const Case cases[] = {
      {"a/readme.txt", u"", u"readme.txt"},
      {"b/README.TXT", u"", nullptr},  // duplicate ignoring case
      {"b/README.TXT", u"Other.dat", u"Other.dat"},
      {"c/ärger.TXT", u"", u"ärger.TXT"},
      {"d/ÄRGER.txt", u"", nullptr},  // folding is Unicode, not ASCII only
      {"plain", u"a/b.txt", nullptr},
      {"plain", u".", nullptr},
      {"plain", u"..", nullptr},
      {"back\\slash.txt", u"", u"back_slash.txt"},  // "\\" would read as a path in the image
      {"caf\xe9.txt", u"", u"caf\u00E9.txt"},       // Windows-1252; the local path keeps the bytes
  };
  testing::TempDir dir;
  clsISOFiles files;
  for (const Case& c : cases) {
    const std::string path = dir.WriteFile(c.local, c.local);
    clsISOFile* entry = files.Add(path, c.given);
    if (c.expected == nullptr) {
      EXPECT_EQ(entry, nullptr) << c.local;
      continue;
    }
    ASSERT_NE(entry, nullptr) << c.local;
    EXPECT_EQ(entry->name(), c.expected) << c.local;
    EXPECT_EQ(entry->LocalPath(), path);
  }
  EXPECT_THROW(files.Add(dir / "missing.txt"), IoError);
  EXPECT_THROW(files.Add(dir.MakeDir("folder")), InputError);
  EXPECT_EQ(files.Count(), 5);
}

}  // namespace
}  // namespace tavrine
