// Name mapping of one large directory: files whose names share their first 29 characters (one
// big duplicate group), random file names, and sub-directories with long shared prefixes.

#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>

#include "image/names.h"
#include "tree/directory.h"
#include "tree/text.h"

namespace {

using tavrine::clsISODirectory;

// One small local file that every entry refers to; removed at exit.
const std::string& LocalFile() {
  static const std::string path = [] {
    char name[] = "/tmp/bench_names_XXXXXX";
    const int fd = mkstemp(name);
    if (fd < 0) throw std::runtime_error("cannot create a temporary file");
    close(fd);
    return std::string(name);
  }();
  static const struct Remover {
    ~Remover() { unlink(path.c_str()); }
  } remover;
  return path;
}

std::u16string RandomText(std::mt19937& rng, std::size_t length) {
  static const std::u16string kAlphabet = u"abcdefghijklmnopqrstuvwxyzABCDEFGHIJ0123456789 _-~";
  std::u16string out;
  for (std::size_t i = 0; i < length; ++i) out += kAlphabet[rng() % kAlphabet.size()];
  return out;
}

std::u16string FileName(std::mt19937& rng, bool sharedPrefix) {
  if (sharedPrefix) return u"Quarterly Report Of The Depart" + RandomText(rng, 8) + u".txt";
  return RandomText(rng, 4 + rng() % 36) + u"." + RandomText(rng, 1 + rng() % 4);
}

std::shared_ptr<clsISODirectory> FileTree(std::int64_t count, bool sharedPrefix) {
  std::mt19937 rng(7);
  auto root = clsISODirectory::Create();
  while (root->Files().Count() < count) root->Files().Add(LocalFile(), FileName(rng, sharedPrefix));
  return root;
}

void BM_MapNamesFiles(benchmark::State& state, bool sharedPrefix) {
  const auto root = FileTree(state.range(0), sharedPrefix);
  for (auto _ : state) {
    tavrine::detail::MapNames(*root);
    benchmark::DoNotOptimize(root->Files().File(0).DOSName().data());
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_MapNamesSubDirectories(benchmark::State& state) {
  std::mt19937 rng(11);
  auto root = clsISODirectory::Create();
  while (root->SubDirectoryCount() < state.range(0)) {
    const bool shared = rng() % 2 == 0;
    root->AddSubDirectory(shared ? u"Long Directory Name Shared By" + RandomText(rng, 10)
                                 : RandomText(rng, 3 + rng() % 40));
  }
  for (auto _ : state) {
    tavrine::detail::MapNames(*root);
    benchmark::DoNotOptimize(root->SubDirectory(0)->DOSName().data());
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

BENCHMARK_CAPTURE(BM_MapNamesFiles, SharedPrefix, true)
    ->Arg(10000)
    ->Arg(100000)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_MapNamesFiles, Random, false)
    ->Arg(10000)
    ->Arg(100000)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MapNamesSubDirectories)->Arg(10000)->Unit(benchmark::kMillisecond);

}  // namespace
