// Growing one file collection and one directory: the cost per entry must not grow with the
// number of entries already there.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "tree/directory.h"
#include "tree/files.h"
#include "tree/text.h"

namespace {

// One small local file, made once and added under many explicit names.
const std::string& SampleFile() {
  static const std::string path = [] {
    std::string folder = "/tmp/tavrine-bench-XXXXXX";
    if (mkdtemp(folder.data()) == nullptr) std::abort();
    std::string file = folder + "/sample.txt";
    std::ofstream(file) << "sample";
    std::atexit([] {
      unlink(SampleFile().c_str());
      rmdir(SampleFile().substr(0, SampleFile().rfind('/')).c_str());
    });
    return file;
  }();
  return path;
}

std::vector<std::u16string> Names(std::int64_t count) {
  std::vector<std::u16string> names;
  names.reserve(static_cast<std::size_t>(count));
  for (std::int64_t i = 0; i < count; ++i) {
    names.push_back(tavrine::text::FromUtf8("File Number " + std::to_string(i) + ".txt"));
  }
  return names;
}

void BM_FilesAdd(benchmark::State& state) {
  const auto names = Names(state.range(0));
  const std::string& file = SampleFile();
  for (auto _ : state) {
    tavrine::clsISOFiles files;
    for (const auto& name : names) benchmark::DoNotOptimize(files.Add(file, name));
    if (files.Count() != state.range(0)) state.SkipWithError("entries missing");
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_FilesAdd)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

// Adds refused as duplicates: the name test alone, without touching the disk.
void BM_FilesAddDuplicate(benchmark::State& state) {
  const auto names = Names(state.range(0));
  tavrine::clsISOFiles files;
  for (const auto& name : names) files.Add(SampleFile(), name);
  for (auto _ : state) {
    for (const auto& name : names) benchmark::DoNotOptimize(files.Add(SampleFile(), name));
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_FilesAddDuplicate)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

void BM_AddSubDirectory(benchmark::State& state) {
  const auto names = Names(state.range(0));
  for (auto _ : state) {
    auto root = tavrine::clsISODirectory::Create();
    for (const auto& name : names) benchmark::DoNotOptimize(root->AddSubDirectory(name));
    if (root->SubDirectoryCount() != state.range(0)) state.SkipWithError("entries missing");
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_AddSubDirectory)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

}  // namespace
