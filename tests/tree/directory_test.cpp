#include "tree/directory.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "support/temp_dir.h"
#include "tree/errors.h"
#include "tree/text.h"

namespace tavrine {
namespace {

// A new file's name beside files and sub-directories, ignoring case: "~n" before the extension.
TEST(Directory, FreeFileNameIsTheFirstFreeNumberBeforeTheExtension) {
  testing::TempDir dir;
  const std::string local = dir.WriteFile("f", "x");
  auto root = clsISODirectory::Create();
  for (const char16_t* name : {u"fax.txt", u"FAX~1.TXT", u".profile", u"a.b.c", u"x"}) {
    ASSERT_NE(root->Files().Add(local, name), nullptr);
  }
  root->AddSubDirectory(u"Docs");
  const std::pair<const char16_t*, const char16_t*> cases[] = {
      {u"new.txt", u"new.txt"}, {u"fAx.txt", u"fAx~2.txt"}, {u".PROFILE", u".PROFILE~1"},
      {u"a.B.c", u"a.B~1.c"},   {u"docs", u"docs~1"},       {u"X", u"X~1"}};
  for (const auto& [name, free] : cases) EXPECT_EQ(root->FreeFileName(name), free);
}

// Finding names (trimmed, ignoring case) is left to the differential test below.
TEST(Directory, ParentsAndFullPaths) {
  auto root = clsISODirectory::Create();
  EXPECT_EQ(root->Parent(), nullptr);
  EXPECT_EQ(root->FullPath(), u"\\");
  auto inner = root->AddSubDirectory(u"docs")->AddSubDirectory(u" Straße ");
  EXPECT_EQ(inner->Parent()->Parent(), root);
  EXPECT_EQ(inner->FullPath(), u"\\docs\\Straße\\");
  // Only spaces: an unnamed sub-directory.
  auto unnamed = root->AddSubDirectory(u"   ");
  EXPECT_EQ(unnamed->FullPath(), u"\\\\");
  EXPECT_EQ(root->AddSubDirectory(u""), unnamed);
  root->name(u"Root");
  root->name(u"");  // ignored
  EXPECT_EQ(inner->FullPath(), u"Root\\docs\\Straße\\");
}

TEST(Directory, ADirectoryCannotGoBelowItself) {
  auto root = clsISODirectory::Create();
  auto a = root->AddSubDirectory(u"a");
  auto b = a->AddSubDirectory(u"b");
  for (const auto& [parent, child] : {std::pair{root, root}, {b, a}, {b, root}}) {
    EXPECT_THROW(parent->AddSubDirectoryByRef(child), InputError) << text::ToUtf8(child->name());
  }
  EXPECT_EQ(b->SubDirectoryCount(), 0);
  EXPECT_EQ(a->Parent(), root);
  // A directory held twice in one place is allowed, and so is a sibling below a sibling.
  auto c = root->AddSubDirectory(u"c");
  EXPECT_EQ(b->AddSubDirectoryByRef(c), c);
  EXPECT_EQ(c->FullPath(), u"\\a\\b\\c\\");
  EXPECT_EQ(b->AddSubDirectoryByRef(nullptr), nullptr);
  EXPECT_EQ(b->SubDirectoryCount(), 1);
}

TEST(Directory, RemoveEmptiesTheSubtreeUnlessKept) {
  testing::TempDir dir;
  auto root = clsISODirectory::Create();
  auto first = root->AddSubDirectory(u"first");
  auto kept = root->AddSubDirectory(u"kept");
  auto third = root->AddSubDirectory(u"third");
  auto below = first->AddSubDirectory(u"below");
  auto deepest = below->AddSubDirectory(u"deepest");
  deepest->AddSubDirectory(u"leaf");
  kept->AddSubDirectory(u"x")->AddSubDirectory(u"y");
  ASSERT_NE(first->Files().Add(dir.WriteFile("f", "x")), nullptr);

  root->RemoveSubDirectory(0);
  ASSERT_EQ(root->SubDirectoryCount(), 2);
  EXPECT_EQ(root->SubDirectory(0), kept);
  EXPECT_EQ(root->SubDirectory(1), third);
  EXPECT_FALSE(root->SubDirExists(u"first"));
  EXPECT_TRUE(root->SubDirExists(u"kept"));  // indexes moved down
  for (const auto& emptied : {first, below, deepest}) EXPECT_EQ(emptied->SubDirectoryCount(), 0);
  EXPECT_FALSE(below->SubDirExists(u"deepest"));
  // The removed directory keeps its files and its parent reference.
  EXPECT_EQ(first->Files().Count(), 1);
  EXPECT_EQ(first->Parent(), root);

  // Kept, the subtree lives on and can be attached elsewhere.
  root->RemoveSubDirectory(0, /*KeepSubDirs=*/true);
  third->AddSubDirectoryByRef(kept);
  auto y = kept->SubDirectory(0)->SubDirectory(0);
  EXPECT_EQ(y->FullPath(), u"\\third\\kept\\x\\y\\");
  // Dropped by everybody, it goes; a sub-directory held alone loses only its parent.
  std::weak_ptr<clsISODirectory> watch = kept;
  kept.reset();
  third->RemoveSubDirectory(0, true);
  EXPECT_TRUE(watch.expired());
  EXPECT_EQ(y->FullPath(), u"y\\");
}

TEST(Directory, OutOfRangeIndexesAndClear) {
  testing::TempDir dir;
  auto root = clsISODirectory::Create();
  EXPECT_THROW(root->SubDirectory(0), OutOfRangeError);
  auto a = root->AddSubDirectory(u"a");
  a->AddSubDirectory(u"inner");
  root->AddSubDirectory(u"b");
  try {
    root->RemoveSubDirectory(2, true);
    FAIL() << "no error";
  } catch (const OutOfRangeError& error) {
    EXPECT_EQ(std::string(error.what()), "subscript out of range: index 2, 2 sub-directories");
  }
  EXPECT_THROW(root->SubDirectory(-1), OutOfRangeError);
  EXPECT_EQ(root->SubDirectoryCount(), 2);

  // Clear empties sub-directories and files, without recursion; extent values stay.
  ASSERT_NE(root->Files().Add(dir.WriteFile("f", "x")), nullptr);
  root->Files().LBA(9);
  root->Clear();
  EXPECT_EQ(root->SubDirectoryCount(), 0);
  EXPECT_EQ(root->Files().Count(), 0);
  EXPECT_EQ(root->Files().LBA(), 9);
  EXPECT_EQ(a->SubDirectoryCount(), 1);
  EXPECT_NE(root->AddSubDirectory(u"a"), a);
}

// The index against a plain linear search, over random adds (by name and by reference, which
// skips the name test), removes and renames: the first of equal names is the one found.
TEST(Directory, IndexAgreesWithALinearSearch) {
  // ß, ẞ and SS: simple folding, as EqualsIgnoreCase compares.
  const std::vector<std::u16string> pool = {u"a", u" A", u"b ", u"B",  u"ä",   u"Ä ",  u"σ",
                                            u"Σ", u"ß",  u"ẞ",  u"SS", u"dir", u"DIR", u"  "};
  std::mt19937 rng(7321);
  auto root = clsISODirectory::Create();
  std::vector<std::shared_ptr<clsISODirectory>> model;
  auto linearFind = [&](std::u16string_view name) -> std::shared_ptr<clsISODirectory> {
    for (const auto& held : model) {
      if (text::Fold(held->name()) == text::Fold(name)) return held;
    }
    return nullptr;
  };
  for (int step = 0; step < 3000; ++step) {
    const std::u16string& name = pool[rng() % pool.size()];
    const auto index = static_cast<std::int32_t>(model.empty() ? 0 : rng() % model.size());
    const unsigned action = rng() % 6;
    if (action < 2) {
      auto expected = linearFind(text::TrimSpaces(name));
      auto got = root->AddSubDirectory(name);
      ASSERT_EQ(got, expected ? expected : got) << step;
      if (!expected) model.push_back(got);
    } else if (action == 2) {
      auto extra = clsISODirectory::Create();
      extra->name(name);
      model.push_back(root->AddSubDirectoryByRef(extra));
    } else if (action == 3 && !model.empty()) {
      root->RemoveSubDirectory(index, rng() % 2 == 0);
      model.erase(model.begin() + index);
    } else if (action > 3 && !model.empty()) {
      model[static_cast<std::size_t>(index)]->name(name);
    }
    ASSERT_EQ(root->SubDirectoryCount(), static_cast<std::int32_t>(model.size()));
    for (const auto& probe : pool) {
      ASSERT_EQ(root->SubDirExists(probe), linearFind(probe) != nullptr) << step;
    }
  }
}

// A chain far deeper than any image allows is let go without exhausting the stack, both when
// removed (emptied) and when its root goes.
TEST(Directory, DeepChainIsReleasedAndEmptied) {
  for (const bool removeFirst : {true, false}) {
    auto root = clsISODirectory::Create();
    auto current = root;
    for (int depth = 0; depth < 200000; ++depth) current = current->AddSubDirectory(u"d");
    std::weak_ptr<clsISODirectory> deepest = current;
    current.reset();
    if (removeFirst) root->RemoveSubDirectory(0);
    root.reset();
    EXPECT_TRUE(deepest.expired()) << removeFirst;
  }
}

}  // namespace
}  // namespace tavrine
