#include "tree/directory.h"

#include <gtest/gtest.h>

#include <string>

#include "support/temp_dir.h"
#include "tree/errors.h"

namespace tavrine {
namespace {

// A new file's name beside files and sub-directories, ignoring case: "~n" before the extension,
// the first free number.
TEST(Directory, FreeFileNameIsTheFirstFreeNumberBeforeTheExtension) {
  testing::TempDir dir;
  const std::string local = dir.WriteFile("f", "x");
  auto root = clsISODirectory::Create();
  for (const char16_t* name : {u"fax.txt", u"FAX~1.TXT", u".profile", u"a.b.c"}) {
    ASSERT_NE(root->Files().Add(local, name), nullptr);
  }
  root->AddSubDirectory(u"Docs");
  const std::pair<const char16_t*, const char16_t*> cases[] = {{u"new.txt", u"new.txt"},
                                                               {u"fAx.txt", u"fAx~2.txt"},
                                                               {u".PROFILE", u".PROFILE~1"},
                                                               {u"a.B.c", u"a.B~1.c"},
                                                               {u"docs", u"docs~1"}};
  for (const auto& [name, free] : cases) EXPECT_EQ(root->FreeFileName(name), free);
}

TEST(Directory, ADirectoryCannotGoBelowItself) {
  auto root = clsISODirectory::Create();
  auto a = root->AddSubDirectory(u"a");
  auto b = a->AddSubDirectory(u"b");
  for (const auto& [parent, child] : {std::pair{root, root}, {b, a}, {b, root}}) {
    EXPECT_THROW(parent->AddSubDirectoryByRef(child), InputError);
  }
  EXPECT_EQ(b->SubDirectoryCount(), 0);
}

}  // namespace
}  // namespace tavrine
