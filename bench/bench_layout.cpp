// PlanImage (name mapping and layout, nothing written) on a wide tree of 20,000 files in one
// directory and a deep tree of 2,000 nested directories. The files are empty, so the one stat
// per file is cheap and the benchmark shows the mapping and layout themselves.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "image/writer.h"

namespace {

class EmptyFile {
 public:
  EmptyFile() {
    char pattern[] = "/tmp/tavrine-bench-layout-XXXXXX";
    const int fd = mkstemp(pattern);
    if (fd != -1) close(fd);
    path_ = pattern;
  }
  ~EmptyFile() { std::remove(path_.c_str()); }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

std::u16string Name(const char* prefix, int i) {
  const std::string text = prefix + std::to_string(i) + ".txt";
  return std::u16string(text.begin(), text.end());
}

void BM_PlanWideTree(benchmark::State& state) {
  EmptyFile file;
  tavrine::clsISOWriter writer;
  auto& files = writer.Root()->Files();
  for (int i = 0; i < 20000; ++i) files.Add(file.path(), Name("a long file name number ", i));
  for (auto _ : state) benchmark::DoNotOptimize(writer.PlanImage());
  state.SetItemsProcessed(state.iterations() * 20000);
}
BENCHMARK(BM_PlanWideTree)->Unit(benchmark::kMillisecond);

void BM_PlanDeepTree(benchmark::State& state) {
  EmptyFile file;
  tavrine::clsISOWriter writer;
  auto directory = writer.Root();
  for (int i = 0; i < 2000; ++i) {
    directory = directory->AddSubDirectory(Name("level ", i));
    directory->Files().Add(file.path(), u"f.txt");
  }
  for (auto _ : state) benchmark::DoNotOptimize(writer.PlanImage());
  state.SetItemsProcessed(state.iterations() * 2000);
}
BENCHMARK(BM_PlanDeepTree)->Unit(benchmark::kMillisecond);

}  // namespace
