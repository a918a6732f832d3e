// Round trips: generated trees (fixed seeds) built with clsISOWriter::SaveISO, read back by the
// image reader and by pycdlib, in the ISO 9660 and the Joliet namespace.
// Expected names are the ones the writer assigned (DOSName, JolietName), read back from the
// tree after SaveISO; every extracted file must equal its source byte for byte.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "image/reader.h"
#include "image/writer.h"
#include "support/readers.h"
#include "support/temp_dir.h"
#include "tree/directory.h"
#include "tree/files.h"

namespace tavrine::testing {
namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr std::uint32_t kTreesPerReader = 1;
#else
constexpr std::uint32_t kTreesPerReader = 3;
#endif

// Name pools: plain, accented, CJK, with spaces, several dots or characters that ISO 9660 and
// Joliet reserve ("?", ":", "*", ";"), and long ones whose ISO 9660
// names get "~" numbers (directories beyond 31 characters, file bases beyond 31, and siblings
// that agree in their first 29 characters).
const std::vector<std::u16string> kWords = {u"readme",
                                            u"Data",
                                            u"notes",
                                            u"Program Files",
                                            u"caf\u00E9",
                                            u"\u00DCbersicht",
                                            u"stra\u00DFe",
                                            u"\u00C5ngstr\u00F6m",
                                            u"\u65E5\u672C\u8A9E",
                                            u"\u6587\u66F8",
                                            u"\u4E2D\u6587 \u8D44\u6599",
                                            u"r\u00E9sum\u00E9 final",
                                            u"archive.tar",
                                            u"x",
                                            u"a_very_long_directory_name_that_goes_on",
                                            u"a_very_long_directory_name_that_goes_further",
                                            u"Makefile",
                                            u"v1.2.3",
                                            u"what?",
                                            u"a:b",
                                            u"star*",
                                            u"semi;colon"};
const std::vector<std::u16string> kExtensions = {u".txt", u".TXT",  u".bin",  u"",
                                                 u".gz",  u".html", u".jpeg", u".\u00E9t\u00E9"};

class TreeBuilder {
 public:
  TreeBuilder(std::uint32_t seed, const TempDir& dir) : rng_(seed), dir_(dir), seed_(seed) {}

  void Fill(clsISODirectory& d, int depth) {
    const int files = Pick(0, depth == 0 ? 8 : 5);
    for (int i = 0; i < files; ++i) AddFile(d);
    if (depth >= 5) return;
    const int subdirs = depth == 0 ? Pick(2, 4) : Pick(0, 2);
    for (int i = 0; i < subdirs; ++i) {
      std::u16string name = Word();
      if (Pick(0, 3) == 0)
        name += u" " + std::u16string(1, static_cast<char16_t>(u'0' + Pick(0, 9)));
      // A file and a directory of one name cannot share a directory: the layout refuses it.
      if (d.Files().FileExists(name)) continue;
      Fill(*d.AddSubDirectory(name), depth + 1);
    }
  }

  // One wide directory: many long names that share their first 29 characters (two-digit "~"
  // numbers), extents of several blocks, and Joliet path tables longer than the ISO 9660 ones.
  void FillWide(clsISODirectory& d) {
    for (int i = 0; i < 40; ++i) {
      AddNamedFile(d, u"a_shared_prefix_of_thirty_chars_" + Number(i) + u".txt", Pick(0, 3000));
      auto sub = d.AddSubDirectory(u"a_shared_directory_prefix_of_29_more_" + Number(i));
      if (i % 4 == 0) AddNamedFile(*sub, u"inside.txt", 10);
    }
    // The longest Joliet names a record holds: 110 code units (a 254-byte record).
    auto longest = d.AddSubDirectory(std::u16string(110, u'd'));
    AddNamedFile(*longest, std::u16string(106, u'f') + u".txt", 5);
  }

  // A root whose ISO 9660 records end exactly at 2048 bytes (68 + 45 x 44), so that its extent
  // gets the whole block of padding; files of exactly one and two blocks get theirs too.
  void FillExactBlock(clsISODirectory& d) {
    for (int i = 0; i < 45; ++i) {
      std::u16string n = Number(i);
      if (n.size() < 2) n = u"0" + n;
      AddNamedFile(d, u"file_" + n + u".txt", i % 3 == 0 ? 2048 : (i % 3 == 1 ? 4096 : 0));
    }
  }

  const std::map<const clsISOFile*, std::string>& sources() const { return sources_; }

 private:
  int Pick(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }
  static std::u16string Number(int n) {
    std::string s = std::to_string(n);
    return std::u16string(s.begin(), s.end());
  }
  std::u16string Word() {
    return kWords[static_cast<std::size_t>(Pick(0, int(kWords.size()) - 1))];
  }

  std::int64_t Size() {
    static const std::int64_t kEdges[] = {0, 1, 2047, 2048, 2049, 4096, 2000, 2001};
    int kind = Pick(0, 9);
    if (kind < 5) return kEdges[Pick(0, 7)];
    if (kind < 9) return Pick(2, 9000);
    return Pick(60000, 140000);
  }

  void AddFile(clsISODirectory& d) {
    std::u16string name =
        Word() + kExtensions[static_cast<std::size_t>(Pick(0, int(kExtensions.size()) - 1))];
    if (Pick(0, 2) == 0) name = Number(Pick(0, 99)) + u"_" + name;
    AddNamedFile(d, name, Size());
  }

  void AddNamedFile(clsISODirectory& d, const std::u16string& name, std::int64_t size) {
    std::string local = "src/" + std::to_string(seed_) + "_" + std::to_string(counter_++) + ".bin";
    std::string path = dir_.WritePatternFile(local, static_cast<std::uint64_t>(size),
                                             seed_ * 7919u + static_cast<std::uint32_t>(counter_));
    if (d.SubDirExists(name)) return;
    clsISOFile* f = d.Files().Add(path, name);
    if (f != nullptr) sources_[f] = path;  // nullptr: the name exists ignoring case
  }

  std::mt19937 rng_;
  const TempDir& dir_;
  std::uint32_t seed_;
  int counter_ = 0;
  std::map<const clsISOFile*, std::string> sources_;
};

struct Expected {
  std::vector<ExpectedEntry> entries;            // pre-order, parents before their entries
  std::map<std::u16string, std::string> source;  // recorded path -> local file
};

// The names the writer assigned (DOSName or JolietName), in the order the records are written:
// sub-directories, then files, each in collection order (never sorted); a directory's entries
// come before its sub-directories' entries, which keeps every parent ahead of its children.
void Collect(const clsISODirectory& d, const std::u16string& base, bool joliet,
             const std::map<const clsISOFile*, std::string>& sources, Expected& out) {
  auto name = [&](const auto& e) { return base + u"/" + (joliet ? e.JolietName() : e.DOSName()); };
  for (std::int32_t i = 0; i < d.SubDirectoryCount(); ++i) {
    out.entries.push_back({name(*d.SubDirectory(i)), true, 0});
  }
  for (std::int32_t i = 0; i < d.Files().Count(); ++i) {
    const clsISOFile& f = d.Files().File(i);
    out.entries.push_back({name(f), false, f.Size()});
    out.source[name(f)] = sources.at(&f);
  }
  for (std::int32_t i = 0; i < d.SubDirectoryCount(); ++i) {
    Collect(*d.SubDirectory(i), name(*d.SubDirectory(i)), joliet, sources, out);
  }
}

struct BuiltImage {
  std::string path;
  Expected iso;
  Expected joliet;
  const Expected& Of(Namespace ns) const { return ns == Namespace::kJoliet ? joliet : iso; }
};

enum class Shape { kRandom, kWide, kExactBlock };

BuiltImage Build(std::uint32_t seed, const TempDir& dir, Shape shape, bool joliet = true) {
  clsISOWriter writer;
  writer.Joliet(joliet);
  writer.VolumeCreation(DateTime{2024, 3, 5, 9, 7, 3, 60});
  TreeBuilder builder(seed, dir);
  if (shape == Shape::kRandom) builder.Fill(*writer.Root(), 0);
  if (shape == Shape::kWide) builder.FillWide(*writer.Root());
  if (shape == Shape::kExactBlock) builder.FillExactBlock(*writer.Root());
  BuiltImage out;
  out.path = dir / ("tree" + std::to_string(seed) + (joliet ? "" : "-iso") + ".iso");
  if (!writer.SaveISO(out.path)) throw std::runtime_error("SaveISO refused " + out.path);
  Collect(*writer.Root(), u"", false, builder.sources(), out.iso);
  Collect(*writer.Root(), u"", true, builder.sources(), out.joliet);
  return out;
}

// Every entry of a tree read by the image reader, in pre-order.
std::vector<ExpectedEntry> ExpectedFrom(const Volume& volume) {
  std::vector<ExpectedEntry> out;
  WalkEntries(volume.root, [&](const std::u16string& path, const Entry& e) {
    out.push_back(
        {path, e.IsDirectory(), e.IsDirectory() ? 0 : static_cast<std::int64_t>(e.size())});
  });
  return out;
}

// The image reader sees exactly the tree the writer was given, in collection order, with
// every file's data equal to its source.
TEST(RoundTrip, TestReaderSeesTheWriterTree) {
  TempDir dir;
  std::vector<BuiltImage> images;
  for (std::uint32_t seed = 1; seed <= 6; ++seed)
    images.push_back(Build(seed, dir, Shape::kRandom));
  images.push_back(Build(100, dir, Shape::kWide));
  for (const BuiltImage& built : images) {
    SCOPED_TRACE(built.path);
    IsoImage image(built.path);
    for (Namespace ns : {Namespace::kIso9660, Namespace::kJoliet}) {
      const Volume& v = ns == Namespace::kJoliet ? image.Joliet() : image.Primary();
      const Expected& want = built.Of(ns);
      // ExpectedFrom descends into each directory right away: compare as maps of paths.
      std::map<std::u16string, ExpectedEntry> got;
      for (const ExpectedEntry& e : ExpectedFrom(v)) got[e.path] = e;
      ASSERT_EQ(got.size(), want.entries.size()) << NamespaceName(ns);
      for (const ExpectedEntry& e : want.entries) {
        auto it = got.find(e.path);
        ASSERT_NE(it, got.end()) << "missing " << Utf8(e.path);
        EXPECT_EQ(it->second.directory, e.directory) << Utf8(e.path);
        EXPECT_EQ(it->second.size, e.size) << Utf8(e.path);
        if (!e.directory) {
          EXPECT_EQ(image.ReadFile(v.Find(e.path)), ReadFile(want.source.at(e.path)))
              << "data of " << Utf8(e.path);
        }
        // The choice the independent readers meet: ISO 9660 names without a version (";1");
        // a ";" of a name never reaches the ISO 9660 tree.
        if (ns == Namespace::kIso9660) {
          EXPECT_EQ(e.path.find(u';'), std::u16string::npos) << Utf8(e.path);
        }
      }
      // Records keep the order of the collections: sub-directories, then files, never sorted.
      std::vector<std::u16string> wantOrder;
      for (const ExpectedEntry& e : want.entries) {
        if (e.path.rfind(u'/') == 0) wantOrder.push_back(e.path.substr(1));
      }
      std::vector<std::u16string> gotOrder;
      for (const Entry& c : v.root.children) gotOrder.push_back(c.name);
      EXPECT_EQ(gotOrder, wantOrder) << NamespaceName(ns);
    }
  }
}

// The identifiers and dates of an image as the image reader and pycdlib read them: ISO 9660
// values filtered, Joliet values as given (cut to their fields), recording dates with the offset
// from GMT of each date.
TEST(RoundTrip, IdentifiersAndDatesReadBack) {
  TempDir dir;
  clsISOWriter writer;
  writer.VolumeID(false, u"my disc 1");
  writer.VolumeID(true, u"Disque \u00E9t\u00E9 \u65E5\u672C");
  writer.PublisherID(false, u"Pub & Co %1");
  writer.PublisherID(true, u"\u00C9ditions \u65E5\u672C\u8A9E");
  writer.DataPreparerID(true, u"Pr\u00E9parateur");
  writer.VolumeSetID(false, u"set one");
  writer.VolumeCreation(DateTime{2024, 3, 5, 9, 7, 3, 60});
  clsISOFile* summer = writer.Root()->Files().Add(dir.WriteFile("a", "a"), u"summer.txt");
  clsISOFile* winter = writer.Root()->Files().Add(dir.WriteFile("b", "bb"), u"winter.txt");
  clsISOFile* unknown = writer.Root()->Files().Add(dir.WriteFile("c", "ccc"), u"unknown.txt");
  ASSERT_TRUE(summer && winter && unknown);
  summer->CreationDate(DateTime{2021, 6, 15, 14, 34, 56, 120});
  winter->CreationDate(DateTime{2023, 1, 2, 3, 4, 5, std::nullopt});  // local: Berlin, +1 h
  unknown->CreationDate(DateTime::Zero());
  const std::string path = dir / "ids.iso";
  ASSERT_TRUE(writer.SaveISO(path));

  IsoImage image(path);
  const VolumeDescriptor& p = image.Primary().descriptor;
  const VolumeDescriptor& j = image.Joliet().descriptor;
  EXPECT_EQ(p.volumeId.text, u"MY_DISC_1");
  EXPECT_EQ(p.publisherId.text, u"Pub & Co 1");
  EXPECT_EQ(p.volumeSetId.text, u"SET_ONE");
  EXPECT_EQ(p.systemId.text, u"WIN32");
  EXPECT_EQ(j.volumeId.text, u"Disque \u00E9t\u00E9 \u65E5\u672C");
  EXPECT_EQ(j.publisherId.text, u"\u00C9ditions \u65E5\u672C\u8A9E");
  EXPECT_EQ(j.dataPreparerId.text, u"Pr\u00E9parateur");
  for (const Volume* v : {&image.Primary(), &image.Joliet()}) {
    EXPECT_EQ(v->descriptor.creation.digits, "2024030509070300");
    EXPECT_EQ(v->descriptor.creation.offset, 4);
    EXPECT_TRUE(v->descriptor.modification.IsUnset());
    EXPECT_EQ(v->rootSelf.date.bytes, (std::array<std::uint8_t, 7>{124, 3, 5, 9, 7, 3, 4}));
    using Date = std::array<std::uint8_t, 7>;
    const std::pair<std::size_t, Date> dates[] = {
        {0, {121, 6, 15, 14, 34, 56, 8}}, {1, {123, 1, 2, 3, 4, 5, 4}}, {2, {}}};
    ASSERT_EQ(v->root.children.size(), 3u);
    for (const auto& [i, date] : dates) {
      EXPECT_EQ(v->root.children[i].date().bytes, date) << Utf8(v->root.children[i].name);
    }
  }

  RunResult ids =
      RunProgram({"/usr/bin/python3", ReaderScriptDir() + "/pycdlib_reader.py", "ids", path});
  ASSERT_EQ(ids.exitCode, 0) << ids.err;
  for (const char* line :
       {"iso\tvolume\tMY_DISC_1\n", "iso\tpublisher\tPub & Co 1\n", "iso\tvolume_set\tSET_ONE\n",
        "iso\tcreation\t20240305090703 60\n", "joliet\tcreation\t20240305090703 60\n",
        "joliet\tvolume\tDisque \xC3\xA9t\xC3\xA9 \xE6\x97\xA5\xE6\x9C\xAC\n",
        "joliet\tpublisher\t\xC3\x89"
        "ditions \xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E\n",
        "iso\tdate:/SUMMER.TXT\t20210615143456 120\n",
        "joliet\tdate:/winter.txt\t20230102030405 60\n"}) {
    EXPECT_NE(ids.out.find(line), std::string::npos) << "pycdlib lacks: " << line << ids.out;
  }
}

// Generated trees (random, wide, records ending at a block) through pycdlib; for the ISO 9660
// namespace also images without Joliet.
TEST(RoundTrip, PycdlibListsAndExtractsEveryEntry) {
  ASSERT_TRUE(Pycdlib().Available()) << "python3 is not installed (scripts/deps.sh)";
  TempDir dir;
  for (Namespace ns : {Namespace::kJoliet, Namespace::kIso9660}) {
    std::vector<BuiltImage> images;
    for (std::uint32_t seed = 11; seed < 11 + kTreesPerReader; ++seed) {
      images.push_back(Build(seed, dir, Shape::kRandom));
    }
    images.push_back(Build(100, dir, Shape::kWide));
    images.push_back(Build(200, dir, Shape::kExactBlock, ns == Namespace::kJoliet));
    if (ns == Namespace::kIso9660) images.push_back(Build(21, dir, Shape::kRandom, false));
    for (const BuiltImage& built : images) {
      SCOPED_TRACE(built.path + " " + NamespaceName(ns));
      TempDir scratch;
      const Expected& want = built.Of(ns);
      for (const std::string& p : CheckWithPycdlib(
               ns, built.path, want.entries,
               [&](const std::u16string& path) { return ReadFile(want.source.at(path)); },
               scratch.path().string())) {
        ADD_FAILURE() << p;
      }
    }
  }
}

}  // namespace
}  // namespace tavrine::testing
