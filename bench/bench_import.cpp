// Importing a folder tree of 20,000 files in 2,000 folders, against merely listing it.

#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "tree/directory.h"

namespace {

namespace fs = std::filesystem;

constexpr int kTopFolders = 50;
constexpr int kSubFoldersEach = 39;  // 50 + 50 * 39 = 2,000 folders
constexpr int kFilesPerFolder = 10;  // 20,000 files

// The tree, made once on first use and removed when the program ends.
class SampleTree {
 public:
  SampleTree() {
    std::string pattern = (fs::temp_directory_path() / "tavrine-bench-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    root_ = pattern;
    for (int top = 0; top < kTopFolders; ++top) {
      const fs::path topFolder = root_ / ("folder " + std::to_string(top));
      Fill(topFolder);
      for (int sub = 0; sub < kSubFoldersEach; ++sub)
        Fill(topFolder / ("Sub" + std::to_string(sub)));
    }
  }
  ~SampleTree() {
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }
  const fs::path& path() const { return root_; }

 private:
  static void Fill(const fs::path& folder) {
    fs::create_directories(folder);
    for (int i = 0; i < kFilesPerFolder; ++i) {
      std::ofstream(folder / ("file" + std::to_string(i) + ".txt")) << i;
    }
  }
  fs::path root_;
};

const SampleTree& Tree() {
  static const SampleTree tree;
  return tree;
}

void BM_AddLocalDirectory(benchmark::State& state) {
  const std::string path = Tree().path().string();
  for (auto _ : state) {
    auto root = tavrine::clsISODirectory::Create();
    auto passed = root->AddLocalDirectory(path, {u"*"}, true);
    benchmark::DoNotOptimize(passed);
    if (root->SubDirectoryCount() != kTopFolders) state.SkipWithError("import incomplete");
  }
  state.SetItemsProcessed(state.iterations() * kTopFolders * (kSubFoldersEach + 1) *
                          kFilesPerFolder);
}
BENCHMARK(BM_AddLocalDirectory)->Unit(benchmark::kMillisecond);

// The floor: listing the tree with the standard library, using only the listing's own types.
void BM_RecursiveDirectoryIterator(benchmark::State& state) {
  for (auto _ : state) {
    std::size_t files = 0;
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(Tree().path())) {
      files += entry.is_regular_file() ? 1 : 0;
    }
    if (files != kTopFolders * (kSubFoldersEach + 1) * kFilesPerFolder) {
      state.SkipWithError("listing incomplete");
    }
  }
}
BENCHMARK(BM_RecursiveDirectoryIterator)->Unit(benchmark::kMillisecond);

// Listing plus one size query per file, which the import needs for every entry.
void BM_RecursiveDirectoryIteratorWithSizes(benchmark::State& state) {
  for (auto _ : state) {
    std::uintmax_t bytes = 0;
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(Tree().path())) {
      if (entry.is_regular_file()) bytes += fs::file_size(entry.path());
    }
    benchmark::DoNotOptimize(bytes);
  }
}
BENCHMARK(BM_RecursiveDirectoryIteratorWithSizes)->Unit(benchmark::kMillisecond);

}  // namespace
