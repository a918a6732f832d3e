// Round trips: generated trees (fixed seeds) built with clsISOWriter::SaveISO, read back by the
// test-side reader and by every independent reader, in the ISO 9660 and the Joliet namespace.
// Expected names are the ones the writer assigned (DOSName, JolietName), read back from the
// tree after SaveISO; every extracted file must equal its source byte for byte.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "image/writer.h"
#include "support/iso_reader.h"
#include "support/readers.h"
#include "support/temp_dir.h"
#include "tree/directory.h"
#include "tree/files.h"

namespace tavrine::testing {
namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr int kTreesPerReader = 1;
#else
constexpr int kTreesPerReader = 3;
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

struct Source {
  std::string localPath;
  std::int64_t size = 0;
};

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

  const std::map<const clsISOFile*, Source>& sources() const { return sources_; }

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
    if (f != nullptr) sources_[f] = {path, size};  // nullptr: the name exists ignoring case
  }

  std::mt19937 rng_;
  const TempDir& dir_;
  std::uint32_t seed_;
  int counter_ = 0;
  std::map<const clsISOFile*, Source> sources_;
};

struct Expected {
  std::vector<ExpectedEntry> iso;
  std::vector<ExpectedEntry> joliet;
  std::map<std::u16string, std::string> isoSource;  // recorded path -> local file
  std::map<std::u16string, std::string> jolietSource;
};

// The names the writer assigned, in the order the records are written: sub-directories, then
// files, each in collection order (never sorted).
void Collect(const clsISODirectory& d, const std::u16string& iso, const std::u16string& joliet,
             const std::map<const clsISOFile*, Source>& sources, Expected& out) {
  for (std::int32_t i = 0; i < d.SubDirectoryCount(); ++i) {
    const clsISODirectory& s = *d.SubDirectory(i);
    out.iso.push_back({iso + u"/" + s.DOSName(), true, 0});
    out.joliet.push_back({joliet + u"/" + s.JolietName(), true, 0});
  }
  for (std::int32_t i = 0; i < d.Files().Count(); ++i) {
    const clsISOFile& f = d.Files().File(i);
    std::u16string isoPath = iso + u"/" + f.DOSName();
    std::u16string jolietPath = joliet + u"/" + f.JolietName();
    out.iso.push_back({isoPath, false, f.Size()});
    out.joliet.push_back({jolietPath, false, f.Size()});
    out.isoSource[isoPath] = sources.at(&f).localPath;
    out.jolietSource[jolietPath] = sources.at(&f).localPath;
  }
  for (std::int32_t i = 0; i < d.SubDirectoryCount(); ++i) {
    const clsISODirectory& s = *d.SubDirectory(i);
    Collect(s, iso + u"/" + s.DOSName(), joliet + u"/" + s.JolietName(), sources, out);
  }
}

// Pre-order of CompareListing: a directory before its entries. Collect lists a directory's
// entries before descending, which keeps every parent ahead of its children.

struct BuiltImage {
  std::string path;
  Expected expected;
};

enum class Shape { kRandom, kWide, kExactBlock };

BuiltImage Build(std::uint32_t seed, const TempDir& dir, Shape shape, bool joliet = true) {
  clsISOWriter writer;
  writer.Joliet(joliet);
  writer.VolumeCreation(DateTime{2024, 3, 5, 9, 7, 3, 60});
  TreeBuilder builder(seed, dir);
  switch (shape) {
    case Shape::kRandom:
      builder.Fill(*writer.Root(), 0);
      break;
    case Shape::kWide:
      builder.FillWide(*writer.Root());
      break;
    case Shape::kExactBlock:
      builder.FillExactBlock(*writer.Root());
      break;
  }
  BuiltImage out;
  out.path = dir / ("tree" + std::to_string(seed) + (joliet ? "" : "-iso") + ".iso");
  if (!writer.SaveISO(out.path)) throw std::runtime_error("SaveISO refused " + out.path);
  Collect(*writer.Root(), u"", u"", builder.sources(), out.expected);
  // TAVRINE_KEEP_IMAGES=folder keeps a copy of every image, to look at a failure by hand.
  if (const char* keep = std::getenv("TAVRINE_KEEP_IMAGES"); keep != nullptr && *keep != 0) {
    std::filesystem::copy_file(out.path,
                               std::string(keep) + "/tree" + std::to_string(seed) + ".iso",
                               std::filesystem::copy_options::overwrite_existing);
  }
  return out;
}

// The test-side reader sees exactly the tree the writer was given, in collection order, with
// every file's data equal to its source.
void CheckWithTestReader(const BuiltImage& built) {
  IsoImage image(built.path);
  ASSERT_TRUE(image.HasJoliet());
  for (bool joliet : {false, true}) {
    const Volume& v = joliet ? image.Joliet() : image.Primary();
    const auto& want = joliet ? built.expected.joliet : built.expected.iso;
    const auto& sources = joliet ? built.expected.jolietSource : built.expected.isoSource;
    std::vector<ExpectedEntry> got = ExpectedFrom(v);
    // ExpectedFrom walks in pre-order with each directory descended right away; compare as
    // sets of paths, then the record order within each directory.
    std::map<std::u16string, ExpectedEntry> gotByPath;
    for (const ExpectedEntry& e : got) gotByPath[e.path] = e;
    ASSERT_EQ(got.size(), want.size()) << (joliet ? "Joliet" : "ISO 9660");
    for (const ExpectedEntry& e : want) {
      auto it = gotByPath.find(e.path);
      ASSERT_NE(it, gotByPath.end()) << "missing " << Utf8(e.path);
      EXPECT_EQ(it->second.directory, e.directory) << Utf8(e.path);
      EXPECT_EQ(it->second.size, e.size) << Utf8(e.path);
      if (!e.directory) {
        EXPECT_EQ(image.ReadFile(*v.Find(e.path)), ReadFile(sources.at(e.path)))
            << "data of " << Utf8(e.path);
      }
    }
    // Records keep the order of the collections: sub-directories, then files, never sorted.
    std::vector<std::u16string> wantOrder;
    for (const ExpectedEntry& e : want) {
      if (e.path.rfind(u'/') == 0) wantOrder.push_back(e.path.substr(1));
    }
    std::vector<std::u16string> gotOrder;
    for (const Entry& c : v.root.children) gotOrder.push_back(c.name);
    EXPECT_EQ(gotOrder, wantOrder);
    // The deliberate choice that the independent readers meet: ISO 9660 names without a
    // version (";1"); a ";" of a name never reaches the ISO 9660 tree.
    if (!joliet) {
      for (const ExpectedEntry& e : got) EXPECT_EQ(e.path.find(u';'), std::u16string::npos);
    }
  }
}

// What the generated trees are meant to exercise is really in them.
TEST(RoundTrip, GeneratedTreesHoldTheCasesTheyAreFor) {
  TempDir dir;
  bool unsorted = false;
  bool tilde = false;
  bool nonAscii = false;
  bool empty = false;
  for (std::uint32_t seed : {11u, 12u, 13u}) {
    IsoImage image(Build(seed, dir, Shape::kRandom).path);
    WalkEntries(image.Primary().root, [&](const std::u16string& path, const Entry& e) {
      tilde = tilde || path.find(u'~') != std::u16string::npos;
      nonAscii =
          nonAscii || std::any_of(path.begin(), path.end(), [](char16_t c) { return c > 0x7F; });
      empty = empty || (!e.IsDirectory() && e.size() == 0);
      if (e.IsDirectory()) {
        unsorted = unsorted || !std::is_sorted(e.children.begin(), e.children.end(),
                                               [](const Entry& a, const Entry& b) {
                                                 return a.record.identifier < b.record.identifier;
                                               });
      }
    });
  }
  EXPECT_TRUE(unsorted) << "no directory with records out of identifier order";
  EXPECT_TRUE(tilde) << "no \"~\" numbered name";
  EXPECT_TRUE(nonAscii) << "no name beyond ASCII";
  EXPECT_TRUE(empty) << "no empty file";

  IsoImage exact(Build(200, dir, Shape::kExactBlock).path);
  const Entry& root = exact.Primary().root;
  EXPECT_EQ(root.size(), 4096u) << "records ending at 2048 are followed by a whole block";
  ASSERT_EQ(root.children.size(), 45u);
  EXPECT_EQ(root.children.back().record.imageOffset + 44,
            (std::uint64_t{root.extent()} + 1) * 2048);

  IsoImage wide(Build(100, dir, Shape::kWide).path);
  const VolumeDescriptor& p = wide.Primary().descriptor;
  const VolumeDescriptor& j = wide.Joliet().descriptor;
  EXPECT_GT(wide.Primary().root.size(), 2048u) << "the wide root extent fits one block";
  EXPECT_GT(j.pathTableSize, 2048u) << "the Joliet path table fits one block";
  EXPECT_LT(p.pathTableSize, j.pathTableSize);
  EXPECT_NE(wide.Primary().root.Child(u"A_SHARED_PREFIX_OF_THIRTY_CH~10.TXT"), nullptr);
}

TEST(RoundTrip, TestReaderSeesTheWriterTree) {
  TempDir dir;
  for (std::uint32_t seed = 1; seed <= 6; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    CheckWithTestReader(Build(seed, dir, Shape::kRandom));
  }
  SCOPED_TRACE("wide tree");
  CheckWithTestReader(Build(100, dir, Shape::kWide));
}

// The identifiers and dates of an image as the test-side reader, pycdlib and isoinfo read them
// (7-Zip is left out: it reads recording dates as local time and ignores their offset): ISO 9660
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
  for (const VolumeDescriptor* d : {&p, &j}) {
    EXPECT_EQ(d->creation.digits, "2024030509070300");
    EXPECT_EQ(d->creation.offset, 4);
    EXPECT_TRUE(d->modification.IsUnset());
    EXPECT_EQ(d->root.date.bytes, (std::array<std::uint8_t, 7>{124, 3, 5, 9, 7, 3, 4}));
  }
  for (const Volume* v : {&image.Primary(), &image.Joliet()}) {
    bool joliet = v == &image.Joliet();
    auto date = [&](const char16_t* iso, const char16_t* jol) {
      const Entry* e = v->Find(joliet ? jol : iso);
      return e == nullptr ? std::array<std::uint8_t, 7>{} : e->date().bytes;
    };
    EXPECT_EQ(date(u"/SUMMER.TXT", u"/summer.txt"),
              (std::array<std::uint8_t, 7>{121, 6, 15, 14, 34, 56, 8}));
    EXPECT_EQ(date(u"/WINTER.TXT", u"/winter.txt"),
              (std::array<std::uint8_t, 7>{123, 1, 2, 3, 4, 5, 4}));
    EXPECT_EQ(date(u"/UNKNOWN.TXT", u"/unknown.txt"), (std::array<std::uint8_t, 7>{}));
  }

  // pycdlib
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
  // isoinfo, primary descriptor
  RunResult d = RunProgram({"isoinfo", "-d", "-i", path});
  ASSERT_EQ(d.exitCode, 0) << d.err;
  EXPECT_NE(d.out.find("Volume id: MY_DISC_1\n"), std::string::npos) << d.out;
  EXPECT_NE(d.out.find("Publisher id: Pub & Co 1\n"), std::string::npos) << d.out;
  EXPECT_NE(d.out.find("Joliet with UCS level 3 found"), std::string::npos) << d.out;
}

struct Case {
  std::size_t reader;
  Namespace ns;
};

void PrintTo(const Case& c, std::ostream* os) {
  *os << AllReaders().at(c.reader)->Name() << " " << NamespaceName(c.ns);
}

class RoundTripThroughReader : public ::testing::TestWithParam<Case> {};

TEST_P(RoundTripThroughReader, ListsAndExtractsEveryEntry) {
  const Reader& reader = *AllReaders().at(GetParam().reader);
  const Namespace ns = GetParam().ns;
  ASSERT_TRUE(reader.Available()) << reader.Name() << " is not installed (scripts/deps.sh)";
  if (ns == Namespace::kIso9660 && !reader.ShowsIso9660BesideJoliet()) {
    GTEST_SKIP() << reader.Name() << " shows only the Joliet namespace of an image that has one";
  }
  TempDir dir;
  std::vector<BuiltImage> images;
  for (int i = 0; i < kTreesPerReader; ++i) {
    images.push_back(Build(static_cast<std::uint32_t>(11 + i), dir, Shape::kRandom));
  }
  images.push_back(Build(100, dir, Shape::kWide));
  images.push_back(Build(200, dir, Shape::kExactBlock));
  for (const BuiltImage& built : images) {
    SCOPED_TRACE(built.path);
    const auto& want = ns == Namespace::kJoliet ? built.expected.joliet : built.expected.iso;
    const auto& sources =
        ns == Namespace::kJoliet ? built.expected.jolietSource : built.expected.isoSource;
    TempDir scratch;
    std::vector<std::string> problems = CheckWithReader(
        reader, ns, built.path, want,
        [&](const std::u16string& path) { return ReadFile(sources.at(path)); },
        scratch.path().string());
    for (const std::string& p : problems) ADD_FAILURE() << p;
  }
}

std::vector<Case> AllCases() {
  std::vector<Case> cases;
  for (std::size_t i = 0; i < AllReaders().size(); ++i) {
    cases.push_back({i, Namespace::kIso9660});
    cases.push_back({i, Namespace::kJoliet});
  }
  return cases;
}

std::string CaseName(const ::testing::TestParamInfo<Case>& info) {
  std::string name = AllReaders().at(info.param.reader)->Name();
  for (char& c : name) {
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  }
  return name + (info.param.ns == Namespace::kJoliet ? "_Joliet" : "_Iso9660");
}

INSTANTIATE_TEST_SUITE_P(Readers, RoundTripThroughReader, ::testing::ValuesIn(AllCases()),
                         CaseName);

// Images without Joliet: every reader, 7-Zip included, shows the ISO 9660 tree.
class IsoOnlyRoundTrip : public ::testing::TestWithParam<std::size_t> {};

TEST_P(IsoOnlyRoundTrip, ListsAndExtractsEveryEntry) {
  const Reader& reader = *AllReaders().at(GetParam());
  ASSERT_TRUE(reader.Available()) << reader.Name() << " is not installed (scripts/deps.sh)";
  TempDir dir;
  for (std::uint32_t seed : {21u, 22u}) {
    BuiltImage built = Build(seed, dir, seed == 22u ? Shape::kExactBlock : Shape::kRandom, false);
    SCOPED_TRACE(built.path);
    IsoImage image(built.path);
    EXPECT_FALSE(image.HasJoliet());
    EXPECT_EQ(image.DescriptorTypes(), (std::vector<std::uint8_t>{1, 255}));
    TempDir scratch;
    std::vector<std::string> problems = CheckWithReader(
        reader, Namespace::kIso9660, built.path, built.expected.iso,
        [&](const std::u16string& path) { return ReadFile(built.expected.isoSource.at(path)); },
        scratch.path().string());
    for (const std::string& p : problems) ADD_FAILURE() << p;
  }
}

INSTANTIATE_TEST_SUITE_P(Readers, IsoOnlyRoundTrip,
                         ::testing::Range<std::size_t>(0, AllReaders().size()),
                         [](const ::testing::TestParamInfo<std::size_t>& info) {
                           std::string name = AllReaders().at(info.param)->Name();
                           for (char& c : name) {
                             if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                           }
                           return name;
                         });

}  // namespace
}  // namespace tavrine::testing
