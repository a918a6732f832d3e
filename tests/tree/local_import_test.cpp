// The folder import: a plain model on random trees for the walk, the patterns and the merging of
// names equal ignoring case; worked cases for the rest.

#include <fcntl.h>
#include <fnmatch.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "fileio/read_ahead_mode.h"
#include "support/temp_dir.h"
#include "tree/directory.h"
#include "tree/text.h"

namespace tavrine {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;
using Lines = std::vector<std::string>;

const std::vector<std::u16string> kAll = {u"*"};

std::string Entry(const std::string& image, const std::string& local) {
  return image + " <- " + local;
}

// The image tree as lines "\path\name <- local path", depth first, then what was passed over.
void Describe(const clsISODirectory& dir, Lines& lines) {
  const std::string path = text::ToUtf8(dir.FullPath());
  lines.push_back(path);
  for (std::int32_t i = 0; i < dir.Files().Count(); ++i) {
    const clsISOFile& file = dir.Files().File(i);
    lines.push_back(Entry(path + text::ToUtf8(file.name()), file.LocalPath()));
  }
  for (std::int32_t i = 0; i < dir.SubDirectoryCount(); ++i) Describe(*dir.SubDirectory(i), lines);
}

Lines Describe(const clsISODirectory& dir, const ImportReport& report = {}) {
  Lines lines;
  Describe(dir, lines);
  for (const PassedOver& p : report.passedOver) lines.push_back(p.LocalPath + ": " + p.Reason);
  for (const Renamed& r : report.renamed) {
    lines.push_back(r.LocalPath + " => " + text::ToUtf8(r.ImagePath));
  }
  return lines;
}

// Imports folder into a new root and describes the result.
Lines Import(const std::string& folder, const std::vector<std::u16string>& filter = kAll,
             bool recursive = true) {
  auto root = clsISODirectory::Create();
  return Describe(*root, root->AddLocalDirectory(folder, filter, recursive));
}

std::size_t OpenDescriptors() {
  std::size_t count = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator("/proc/self/fd")) ++count;
  return count;
}

// "\\" becomes "_"; invalid UTF-8 is read as Windows-1252 (0xFF is "ÿ"), the local path keeping
// the real bytes.
TEST(LocalImportTest, NamesTheImageCannotHoldAreRenamed) {
  TempDir tmp;
  tmp.WriteFile("back\\slash.txt", "b");
  tmp.WriteFile("folder\\x/in.txt", "i");
  tmp.WriteFile("bad\xff.txt", "invalid UTF-8");
  EXPECT_EQ(Import(tmp.path().string()),
            (Lines{"\\", Entry("\\back_slash.txt", tmp / "back\\slash.txt"),
                   Entry("\\bad\xc3\xbf.txt", tmp / "bad\xff.txt"), "\\folder_x\\",
                   Entry("\\folder_x\\in.txt", tmp / "folder\\x/in.txt"),
                   tmp / "back\\slash.txt => \\back_slash.txt",
                   tmp / "bad\xff.txt => \\bad\xc3\xbf.txt", tmp / "folder\\x => \\folder_x"}));
}

// The walk goes by folder descriptors: a path longer than the system accepts goes in whole.
TEST(LocalImportTest, FoldersBeyondThePathLimitGoIn) {
  TempDir tmp;
  tmp.WriteFile("a.txt", "a");
  tmp.WriteFile("z.txt", "z");
  const std::string component(200, 'd');
  int fd = open(tmp.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  for (int level = 0; level < 25; ++level) {  // 25 * 201 bytes, beyond PATH_MAX (4096)
    ASSERT_EQ(mkdirat(fd, component.c_str(), 0700), 0);
    const int next = openat(fd, component.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    close(fd);
    ASSERT_GE(fd = next, 0);
  }
  const int file = openat(fd, "deep.txt", O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
  ASSERT_GE(file, 0);
  close(file);
  close(fd);
  const std::size_t descriptors = OpenDescriptors();
  const Lines lines = Import(tmp.path().string());
  EXPECT_EQ(OpenDescriptors(), descriptors);
  ASSERT_EQ(lines.size(), 3u + 25 + 1);  // root, a.txt, z.txt, 25 folders, deep.txt
  EXPECT_EQ(lines.back().size() - lines.back().find(" <- ") - 4,
            tmp.path().string().size() + 25 * 201 + 9);
  // rm removes by handle, which the full path, being too long to name, does not allow.
  EXPECT_EQ(std::system(("rm -rf '" + tmp / component + "'").c_str()), 0);
}

// A plain model of the import, from std::filesystem listings and fnmatch.
std::string AsciiLower(std::string s) {
  for (char& c : s) c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
  return s;
}

struct ModelDir {
  std::string path;                                        // in the image
  std::vector<std::pair<std::string, std::string>> files;  // image name, local path
  std::vector<std::pair<std::string, ModelDir>> subs;      // name, directory
};

// A name no file or sub-directory of dir has (ignoring case): "~n" before the extension.
std::string ModelFreeName(const ModelDir& dir, const std::string& name) {
  const auto taken = [&](const std::string& candidate) {
    const auto same = [&](const auto& e) { return AsciiLower(e.first) == AsciiLower(candidate); };
    return std::any_of(dir.files.begin(), dir.files.end(), same) ||
           std::any_of(dir.subs.begin(), dir.subs.end(), same);
  };
  std::size_t dot = name.rfind('.');
  if (dot == 0 || dot == std::string::npos) dot = name.size();
  std::string candidate = name;
  for (int n = 1; taken(candidate); ++n) {
    candidate = name.substr(0, dot) + "~" + std::to_string(n) + name.substr(dot);
  }
  return candidate;
}

void ModelScan(const fs::path& folder, const std::vector<std::string>& patterns, bool recursive,
               ModelDir& into, Lines& renamed) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) {
    const std::string name = entry.path().filename().string();
    if (name[0] != '.') names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  for (const std::string& name : names) {
    if (std::none_of(patterns.begin(), patterns.end(), [&](const std::string& p) {
          return fnmatch(p.c_str(), name.c_str(), FNM_NOESCAPE) == 0;
        })) {
      continue;
    }
    const fs::path local = folder / name;
    const bool isFolder = fs::is_directory(local);
    if (isFolder && !recursive) continue;
    const auto first = name.find_first_not_of(' ');
    std::string trimmed = first == std::string::npos
                              ? ""
                              : name.substr(first, name.find_last_not_of(' ') - first + 1);
    const bool odd = trimmed.empty() || trimmed == "." || trimmed == "..";
    if (odd) trimmed = "_";
    const auto sub = std::find_if(into.subs.begin(), into.subs.end(), [&](const auto& d) {
      return AsciiLower(d.first) == AsciiLower(trimmed);
    });
    const bool merge = isFolder && sub != into.subs.end();
    const std::string free = merge ? trimmed : ModelFreeName(into, trimmed);
    if (free != trimmed || odd) {
      renamed.push_back(local.string() + " => " + into.path + free);
    }
    if (merge) {
      ModelScan(local, patterns, recursive, sub->second, renamed);
    } else if (isFolder) {
      into.subs.push_back({free, {into.path + free + "\\", {}, {}}});
      ModelScan(local, patterns, recursive, into.subs.back().second, renamed);
    } else {
      into.files.emplace_back(free, local.string());
    }
  }
}

void Describe(const ModelDir& dir, Lines& lines) {
  lines.push_back(dir.path);
  for (const auto& [name, local] : dir.files) lines.push_back(Entry(dir.path + name, local));
  for (const auto& sub : dir.subs) Describe(sub.second, lines);
}

// Names of one to three characters that meet ignoring case, carry spaces (or are blank) and
// full stops (or begin with one).
void MakeRandomTree(std::mt19937& rng, const fs::path& folder, int depth) {
  auto below = [&rng](int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng); };
  for (int e = below(7); e > 0; --e) {
    std::string name;
    for (int length = 1 + below(3); length > 0; --length) name += "aAbB ."[below(6)];
    if (below(2) == 0) name += below(2) == 0 ? ".txt" : ".TXT";
    const fs::path path = folder / name;
    if (fs::exists(path)) continue;
    if (depth > 0 && below(5) < 2) {
      fs::create_directory(path);
      MakeRandomTree(rng, path, depth - 1);
    } else {
      std::ofstream(path) << name;
    }
  }
}

TEST(LocalImportTest, AgreesWithPlainModelOnRandomTrees) {
  const std::vector<std::vector<std::string>> filters = {
      {"*"}, {"*.*"}, {"*.txt"}, {"[a ]*", "*B"}, {"?*", ".*"}, {"[!b]*", "A*"}, {"*a*"}, {}};
  std::mt19937 rng(7031);
  std::size_t renames = 0;
  for (int round = 0; round < 40; ++round) {
    // Every other round examines the entries ahead on helper threads, as on slow storage.
    const ScopedReadAheadMode ahead(round % 2 == 1 ? ReadAheadMode::kAlways
                                                   : ReadAheadMode::kNever);
    TempDir tmp;
    MakeRandomTree(rng, tmp.path(), 3);
    for (std::size_t f = 0; f < filters.size(); ++f) {
      const bool recursive = f % 4 != 3;
      std::vector<std::u16string> patterns;
      for (const std::string& p : filters[f]) patterns.push_back(text::FromUtf8(p));
      // A closing "/" or none is all one.
      const std::string folder = tmp.path().string() + (round % 2 == 0 ? "/" : "");
      ModelDir model{"\\", {}, {}};
      Lines expected, renamed;
      if (!filters[f].empty()) ModelScan(tmp.path(), filters[f], recursive, model, renamed);
      Describe(model, expected);
      expected.insert(expected.end(), renamed.begin(), renamed.end());
      renames += renamed.size();
      ASSERT_EQ(Import(folder, patterns, recursive), expected)
          << "round " << round << ", filter " << f;
    }
  }
  EXPECT_GT(renames, 40u);  // the trees must hold names met twice and blank names
}

// Wide and deep enough that the folders listed ahead fill their window and their limit many
// times over, with folders named alike at every level: the same tree and reports, and no
// descriptor left open.
TEST(LocalImportTest, ListingAheadGivesWhatTheWalkAloneGives) {
  TempDir tmp;
  std::function<void(const fs::path&, int)> make = [&](const fs::path& folder, int depth) {
    for (const char* name : {"a", "B", "b", "c d", "e.x"}) {
      fs::create_directory(folder / name);
      std::ofstream(folder / name / "f.txt") << name;
      if (depth > 0) make(folder / name, depth - 1);
    }
    std::ofstream(folder / "z") << "z";
  };
  make(tmp.path(), 3);  // 780 folders
  const std::size_t before = OpenDescriptors();
  for (const char16_t* pattern : {u"*", u"[!c]*"}) {
    Lines alone;
    {
      const ScopedReadAheadMode shut(ReadAheadMode::kNever);
      alone = Import(tmp.path().string(), {pattern});
    }
    const ScopedReadAheadMode ahead(ReadAheadMode::kAlways);
    EXPECT_EQ(Import(tmp.path().string(), {pattern}), alone);
  }
  EXPECT_EQ(OpenDescriptors(), before);
}

}  // namespace
}  // namespace tavrine
