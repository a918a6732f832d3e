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

TEST(Directory, StartsEmptyAndStoresItsValues) {
  auto root = clsISODirectory::Create();
  EXPECT_EQ(root->name(), u"");
  EXPECT_EQ(root->Parent(), nullptr);
  EXPECT_EQ(root->SubDirectoryCount(), 0);
  EXPECT_EQ(root->Files().Count(), 0);
  EXPECT_FALSE(root->NameValid());
  EXPECT_FALSE(root->SubDirExists(u""));
  EXPECT_FALSE(root->SubDirExists(u"a"));
  EXPECT_EQ(root->FullPath(), u"\\");

  root->name(u"Root");
  root->name(u"");  // ignored
  EXPECT_EQ(root->name(), u"Root");
  EXPECT_EQ(root->FullPath(), u"Root\\");
}

TEST(Directory, AddSubDirectoryTrimsAndFindsExistingIgnoringCase) {
  auto root = clsISODirectory::Create();
  auto docs = root->AddSubDirectory(u"docs");
  EXPECT_EQ(docs->Parent(), root);
  EXPECT_EQ(root->AddSubDirectory(u"  Docs  "), docs);
  EXPECT_EQ(root->SubDirectoryCount(), 1);
  EXPECT_EQ(docs->name(), u"docs");
  EXPECT_TRUE(root->SubDirExists(u"DOCS"));
  EXPECT_FALSE(root->SubDirExists(u" docs"));  // SubDirExists does not trim

  auto inner = docs->AddSubDirectory(u" Straße ");
  EXPECT_EQ(inner->name(), u"Straße");
  EXPECT_EQ(inner->FullPath(), u"\\docs\\Straße\\");
  EXPECT_NE(docs->AddSubDirectory(u"STRASSE"), inner);  // simple folding only
  EXPECT_EQ(docs->AddSubDirectory(u"STRAßE"), inner);

  // Only spaces: an unnamed sub-directory, found again the same way.
  auto unnamed = root->AddSubDirectory(u"   ");
  EXPECT_EQ(unnamed->name(), u"");
  EXPECT_EQ(root->AddSubDirectory(u""), unnamed);
  EXPECT_EQ(unnamed->FullPath(), u"\\\\");
}

TEST(Directory, AddSubDirectoryByRefAppendsWithoutNameTest) {
  auto root = clsISODirectory::Create();
  auto first = root->AddSubDirectory(u"same");
  auto other = clsISODirectory::Create();
  other->name(u"SAME");
  EXPECT_EQ(root->AddSubDirectoryByRef(other), other);
  EXPECT_EQ(root->SubDirectoryCount(), 2);
  EXPECT_EQ(other->Parent(), root);
  // The first of equal names is the one found.
  EXPECT_EQ(root->AddSubDirectory(u"same"), first);
  root->RemoveSubDirectory(0);
  EXPECT_EQ(root->AddSubDirectory(u"same"), other);
  EXPECT_EQ(root->SubDirectoryCount(), 1);

  EXPECT_EQ(root->AddSubDirectoryByRef(nullptr), nullptr);
  EXPECT_EQ(root->SubDirectoryCount(), 1);
}

TEST(Directory, ADirectoryCannotGoBelowItself) {
  auto root = clsISODirectory::Create();
  auto a = root->AddSubDirectory(u"a");
  auto b = a->AddSubDirectory(u"b");
  EXPECT_THROW(root->AddSubDirectoryByRef(root), InputError);
  EXPECT_THROW(b->AddSubDirectoryByRef(a), InputError);
  EXPECT_THROW(b->AddSubDirectoryByRef(root), InputError);
  EXPECT_EQ(b->SubDirectoryCount(), 0);
  EXPECT_EQ(a->Parent(), root);
  // A directory held twice in one place is allowed, and so is a sibling below a sibling.
  auto c = root->AddSubDirectory(u"c");
  EXPECT_EQ(b->AddSubDirectoryByRef(c), c);
  EXPECT_EQ(c->FullPath(), u"\\a\\b\\c\\");
}

TEST(Directory, RemoveSubDirectoryEmptiesTheWholeSubtree) {
  auto root = clsISODirectory::Create();
  auto first = root->AddSubDirectory(u"first");
  auto second = root->AddSubDirectory(u"second");
  auto third = root->AddSubDirectory(u"third");
  auto below = first->AddSubDirectory(u"below");
  auto deepest = below->AddSubDirectory(u"deepest");
  deepest->AddSubDirectory(u"leaf");
  ASSERT_NE(first->Files().Add(testing::TempDir().WriteFile("f", "x")), nullptr);

  root->RemoveSubDirectory(0);
  ASSERT_EQ(root->SubDirectoryCount(), 2);
  EXPECT_EQ(root->SubDirectory(0), second);
  EXPECT_EQ(root->SubDirectory(1), third);
  EXPECT_FALSE(root->SubDirExists(u"first"));
  EXPECT_EQ(first->SubDirectoryCount(), 0);
  EXPECT_EQ(below->SubDirectoryCount(), 0);
  EXPECT_EQ(deepest->SubDirectoryCount(), 0);
  EXPECT_FALSE(below->SubDirExists(u"deepest"));
  // The removed directory keeps its files and its parent reference.
  EXPECT_EQ(first->Files().Count(), 1);
  EXPECT_EQ(first->Parent(), root);
}

TEST(Directory, RemovedSubtreeLivesOnAndCanBeAttachedElsewhere) {
  auto root = clsISODirectory::Create();
  auto elsewhere = root->AddSubDirectory(u"elsewhere");
  std::weak_ptr<clsISODirectory> watch;
  std::shared_ptr<clsISODirectory> kept;
  {
    auto moving = root->AddSubDirectory(u"moving");
    moving->AddSubDirectory(u"x")->AddSubDirectory(u"y");
    watch = moving;
  }
  kept = watch.lock();
  root->RemoveSubDirectory(1, /*KeepSubDirs=*/true);
  EXPECT_EQ(root->SubDirectoryCount(), 1);
  ASSERT_EQ(kept->SubDirectoryCount(), 1);
  EXPECT_EQ(kept->SubDirectory(0)->SubDirectoryCount(), 1);

  elsewhere->AddSubDirectoryByRef(kept);
  EXPECT_EQ(kept->Parent(), elsewhere);
  EXPECT_EQ(kept->SubDirectory(0)->SubDirectory(0)->FullPath(), u"\\elsewhere\\moving\\x\\y\\");

  // Dropped by everybody, it goes; a sub-directory held alone loses only its parent.
  auto y = kept->SubDirectory(0)->SubDirectory(0);
  kept.reset();
  elsewhere->RemoveSubDirectory(0, true);
  EXPECT_TRUE(watch.expired());
  EXPECT_EQ(y->Parent(), nullptr);
  EXPECT_EQ(y->FullPath(), u"y\\");
}

TEST(Directory, OutOfRangeIndexes) {
  auto root = clsISODirectory::Create();
  EXPECT_THROW(root->SubDirectory(0), OutOfRangeError);
  EXPECT_THROW(root->RemoveSubDirectory(0), OutOfRangeError);
  root->AddSubDirectory(u"a");
  root->AddSubDirectory(u"b");
  try {
    root->RemoveSubDirectory(2, true);
    FAIL() << "no error";
  } catch (const OutOfRangeError& error) {
    EXPECT_EQ(std::string(error.what()), "subscript out of range: index 2, 2 sub-directories");
  }
  EXPECT_THROW(root->SubDirectory(-1), OutOfRangeError);
  EXPECT_EQ(root->SubDirectoryCount(), 2);
}

TEST(Directory, ClearEmptiesSubDirectoriesAndFilesOnly) {
  testing::TempDir dir;
  auto root = clsISODirectory::Create();
  auto a = root->AddSubDirectory(u"a");
  a->AddSubDirectory(u"inner");
  ASSERT_NE(root->Files().Add(dir.WriteFile("f", "x")), nullptr);
  root->Files().LBA(9);
  root->Clear();
  EXPECT_EQ(root->SubDirectoryCount(), 0);
  EXPECT_EQ(root->Files().Count(), 0);
  EXPECT_EQ(root->Files().LBA(), 9);
  EXPECT_FALSE(root->SubDirExists(u"a"));
  EXPECT_EQ(a->SubDirectoryCount(), 1);  // no recursion
  EXPECT_NE(root->AddSubDirectory(u"a"), a);
}

TEST(Directory, RenamingASubDirectoryKeepsTheIndexTrue) {
  auto root = clsISODirectory::Create();
  auto a = root->AddSubDirectory(u"a");
  auto b = root->AddSubDirectory(u"b");
  a->name(u"Renamed");
  EXPECT_FALSE(root->SubDirExists(u"a"));
  EXPECT_TRUE(root->SubDirExists(u"RENAMED"));
  EXPECT_EQ(root->AddSubDirectory(u"renamed"), a);
  EXPECT_NE(root->AddSubDirectory(u"a"), a);
  // Renaming onto a sibling's name: the first in index order is found.
  b->name(u"RENAMED");
  EXPECT_EQ(root->AddSubDirectory(u"renamed"), a);
  a->name(u"gone");
  EXPECT_EQ(root->AddSubDirectory(u"renamed"), b);
  EXPECT_EQ(root->SubDirectoryCount(), 3);
}

// The index against a plain linear search, over random adds, removes and renames.
TEST(Directory, IndexAgreesWithALinearSearch) {
  const std::vector<std::u16string> pool = {u"a", u" A", u"b ",  u"B",   u"ä", u"Ä ",
                                            u"σ", u"Σ",  u"dir", u"DIR", u"  "};
  std::mt19937 rng(7321);
  auto root = clsISODirectory::Create();
  std::vector<std::shared_ptr<clsISODirectory>> model;
  auto linearFind = [&](std::u16string_view name) -> std::shared_ptr<clsISODirectory> {
    for (const auto& held : model) {
      if (text::EqualsIgnoreCase(held->name(), name)) return held;
    }
    return nullptr;
  };
  for (int step = 0; step < 3000; ++step) {
    const std::u16string& name = pool[rng() % pool.size()];
    switch (rng() % 6) {
      case 0:
      case 1: {
        auto expected = linearFind(text::TrimSpaces(name));
        auto got = root->AddSubDirectory(name);
        if (expected) {
          ASSERT_EQ(got, expected) << step;
        } else {
          model.push_back(got);
        }
        break;
      }
      case 2: {
        auto extra = clsISODirectory::Create();
        extra->name(name);
        model.push_back(root->AddSubDirectoryByRef(extra));
        break;
      }
      case 3:
        if (!model.empty()) {
          const auto index = static_cast<std::int32_t>(rng() % model.size());
          root->RemoveSubDirectory(index, rng() % 2 == 0);
          model.erase(model.begin() + index);
        }
        break;
      default:
        if (!model.empty()) model[rng() % model.size()]->name(name);
    }
    ASSERT_EQ(root->SubDirectoryCount(), static_cast<std::int32_t>(model.size()));
    for (const auto& probe : pool) {
      ASSERT_EQ(root->SubDirExists(probe), linearFind(probe) != nullptr) << step;
    }
  }
}

// A chain far deeper than any image allows is still let go without exhausting the stack.
TEST(Directory, DeepChainIsReleasedAndEmptied) {
  auto root = clsISODirectory::Create();
  auto current = root;
  for (int depth = 0; depth < 200000; ++depth) current = current->AddSubDirectory(u"d");
  std::weak_ptr<clsISODirectory> deepest = current;
  current.reset();
  auto top = root->SubDirectory(0);
  root->RemoveSubDirectory(0);
  EXPECT_TRUE(deepest.expired());
  EXPECT_EQ(top->SubDirectoryCount(), 0);

  current = root;
  for (int depth = 0; depth < 200000; ++depth) current = current->AddSubDirectory(u"d");
  deepest = current;
  current.reset();
  root.reset();
  EXPECT_TRUE(deepest.expired());
}

}  // namespace
}  // namespace tavrine
