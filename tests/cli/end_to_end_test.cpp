// tavrine-cli through the real binary: each PATH form, the options' bytes in the descriptors,
// reproducible dates, --print-size, the exit statuses and the progress display.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <map>

#include "support/iso_reader.h"
#include "support/readers.h"
#include "support/temp_dir.h"

namespace tavrine::testing {
namespace {

// $TAVRINE_BIN_DIR/tavrine-cli, else the one beside this test program (the build puts every
// program into one folder).
std::string Binary() {
  if (const char* dir = std::getenv("TAVRINE_BIN_DIR"); dir != nullptr && *dir != '\0') {
    return std::string(dir) + "/tavrine-cli";
  }
  return (std::filesystem::read_symlink("/proc/self/exe").parent_path() / "tavrine-cli").string();
}

// Runs tavrine-cli in folder cwd with the given NAME=VALUE settings; SOURCE_DATE_EPOCH is unset
// unless given.
RunResult Cli(const std::string& cwd, std::vector<std::string> args,
              std::vector<std::string> settings = {}) {
  std::vector<std::string> argv{"env", "-u", "SOURCE_DATE_EPOCH", "-C", cwd};
  argv.insert(argv.end(), settings.begin(), settings.end());
  argv.push_back(Binary());
  argv.insert(argv.end(), args.begin(), args.end());
  return RunProgram(argv);
}

bool Exists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

std::size_t Lines(const std::string& text) {
  return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
}

class CliTest : public ::testing::Test {
 protected:
  RunResult Run(std::vector<std::string> args, std::vector<std::string> settings = {}) {
    return Cli(dir_.path().string(), std::move(args), std::move(settings));
  }
  std::string Path(std::string_view relative) const { return dir_ / relative; }
  TempDir dir_;
};

// The Joliet tree of an image as "path size" lines ("/" for directories), in record order.
std::vector<std::string> JolietTree(const IsoImage& image) {
  std::vector<std::string> lines;
  WalkEntries(image.Joliet().root, [&](const std::u16string& path, const Entry& entry) {
    std::string line = Utf8(path);
    line += entry.IsDirectory() ? '/' : ' ';
    if (!entry.IsDirectory()) line += std::to_string(entry.size());
    lines.push_back(std::move(line));
  });
  return lines;
}

TEST_F(CliTest, EachPathFormAndGraftPointsMergingIntoOneDirectory) {
  dir_.WriteFile("a.txt", "plain file");
  dir_.WriteFile("out/index.html", "<p>index</p>");
  dir_.WriteFile("out/css/site.css", "body{}");
  dir_.WriteFile("more/extra.txt", "extra");
  dir_.WriteFile("x.txt", "renamed");
  dir_.WriteFile("eq=name.txt", "a local name with =");
  const RunResult r =
      Run({"-q", "-o", "img.iso", "a.txt", "out", "docs/2024=./out", "Docs/2024/=more/extra.txt",
           "docs/a.txt=./x.txt", "eq=name.txt", "esc\\=aped.txt=x.txt"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.err, "");
  const IsoImage image(Path("img.iso"));
  EXPECT_EQ(JolietTree(image), (std::vector<std::string>{
                                   "/css/",
                                   "/css/site.css 6",
                                   "/docs/",
                                   "/docs/2024/",
                                   "/docs/2024/css/",
                                   "/docs/2024/css/site.css 6",
                                   "/docs/2024/index.html 12",
                                   "/docs/2024/extra.txt 5",
                                   "/docs/a.txt 7",
                                   "/a.txt 10",
                                   "/index.html 12",
                                   "/eq=name.txt 19",
                                   "/esc=aped.txt 7",
                               }));
  // Every independent reader installed sees the same tree and the same bytes.
  const std::map<std::string, std::string> contents = {
      {"/css/site.css", "body{}"},       {"/docs/2024/css/site.css", "body{}"},
      {"/docs/2024/extra.txt", "extra"}, {"/docs/2024/index.html", "<p>index</p>"},
      {"/docs/a.txt", "renamed"},        {"/a.txt", "plain file"},
      {"/index.html", "<p>index</p>"},   {"/eq=name.txt", "a local name with ="},
      {"/esc=aped.txt", "renamed"}};
  int readers = 0;
  for (const Reader* reader : AllReaders()) {
    if (!reader->Available() || !reader->Lists(Namespace::kJoliet)) continue;
    ++readers;
    const std::vector<std::string> problems = CheckWithReader(
        *reader, Namespace::kJoliet, Path("img.iso"), ExpectedFrom(image.Joliet()),
        [&](const std::u16string& path) { return contents.at(Utf8(path)); },
        Path("scratch-" + reader->Name()));
    EXPECT_TRUE(problems.empty()) << reader->Name() << ": " << ::testing::PrintToString(problems);
  }
  EXPECT_GT(readers, 0) << "no independent reader installed";
}

TEST_F(CliTest, DuplicateNamesAreSkippedWithAWarningNamingBoth) {
  dir_.WriteFile("one/readme.txt", "first");
  dir_.WriteFile("two/README.TXT", "second");
  const RunResult r = Run({"-q", "-o", "img.iso", "one/readme.txt", "two/README.TXT"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.err,
            "tavrine-cli: warning: skipped 'two/README.TXT': 'one/readme.txt' is in \\ under the "
            "same name already (case is ignored)\n");
  const IsoImage image(Path("img.iso"));
  ASSERT_EQ(image.Joliet().fileCount, 1u);
  EXPECT_EQ(image.ReadFile(*image.Joliet().Find(u"/readme.txt")), "first");
}

TEST_F(CliTest, EveryIdentifierOptionReachesBothDescriptors) {
  dir_.WriteFile("f.txt", "f");
  const RunResult r = Run({"-q", "-o", "img.iso", "-V", "my disk 2024", "-sysid", "Linux 6%",
                           "--application-id", "mkimg (1.0)", "-publisher", "Acme 100% Ltd", "-p",
                           "Jo Bloggs", "--volume-set=set/1", "f.txt"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const IsoImage image(Path("img.iso"));
  const VolumeDescriptor& pvd = image.Primary().descriptor;
  const VolumeDescriptor& svd = image.Joliet().descriptor;
  // ISO 9660: volume and volume set cleaned to d-characters (spaces become "_", upper case);
  // the others to a-characters ("%" goes, lower case stays).
  const std::pair<const TextField*, std::string> primary[] = {
      {&pvd.volumeId, "MY_DISK_2024"},     {&pvd.systemId, "Linux 6"},
      {&pvd.applicationId, "mkimg (1.0)"}, {&pvd.publisherId, "Acme 100 Ltd"},
      {&pvd.dataPreparerId, "Jo Bloggs"},  {&pvd.volumeSetId, "SET1"}};
  for (const auto& [field, expected] : primary) {
    ASSERT_GE(field->raw.size(), expected.size());
    EXPECT_EQ(field->raw.substr(0, expected.size()), expected);
    const std::string rest = field->raw.substr(expected.size());
    EXPECT_TRUE(rest.find_first_not_of(' ') == std::string::npos ||
                rest.find_first_not_of('\0') == std::string::npos)
        << expected << ": not padded";
  }
  // Joliet: as typed, UCS-2 big-endian; the exact bytes of the volume identifier.
  EXPECT_EQ(svd.volumeId.raw.substr(0, 8), std::string("\0m\0y\0 \0d", 8));
  EXPECT_EQ(svd.volumeId.text, u"my disk 2024");
  EXPECT_EQ(svd.systemId.text, u"Linux 6%");
  EXPECT_EQ(svd.applicationId.text, u"mkimg (1.0)");
  EXPECT_EQ(svd.publisherId.text, u"Acme 100% Ltd");
  EXPECT_EQ(svd.dataPreparerId.text, u"Jo Bloggs");
  EXPECT_EQ(svd.volumeSetId.text, u"set/1");

  // Identifiers not given keep the writer's defaults.
  ASSERT_EQ(Run({"-q", "-o", "plain.iso", "f.txt"}).exitCode, 0);
  const IsoImage plain(Path("plain.iso"));
  EXPECT_EQ(plain.Primary().descriptor.volumeId.text, u"MY_VOL");
  EXPECT_EQ(plain.Joliet().descriptor.volumeId.text, u"My Volume");
  EXPECT_EQ(plain.Primary().descriptor.applicationId.text, u"Tavrine");
  EXPECT_EQ(plain.Primary().descriptor.dataPreparerId.text, u"");
}

TEST_F(CliTest, NoJolietLeavesOutTheSupplementaryDescriptor) {
  dir_.WriteFile("f.txt", "f");
  ASSERT_EQ(Run({"-q", "-J", "-o", "j.iso", "f.txt"}).exitCode, 0);
  ASSERT_EQ(Run({"-q", "--no-joliet", "-o", "n.iso", "f.txt"}).exitCode, 0);
  EXPECT_EQ(IsoImage(Path("j.iso")).DescriptorTypes(), (std::vector<std::uint8_t>{1, 2, 255}));
  const IsoImage noJoliet(Path("n.iso"));
  EXPECT_EQ(noJoliet.DescriptorTypes(), (std::vector<std::uint8_t>{1, 255}));
  EXPECT_FALSE(noJoliet.HasJoliet());
}

TEST_F(CliTest, PatternsFilterFolderImports) {
  dir_.WriteFile("in/a.txt", "a");
  dir_.WriteFile("in/b.dat", "b");
  dir_.WriteFile("in/c.md", "c");
  dir_.WriteFile("again/a.txt", "A");
  const RunResult r =
      Run({"-q", "--pattern", "*.txt", "--pattern=*.md", "-o", "img.iso", "in", "again"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  // What the folder import passes over is a warning, not a silent loss.
  EXPECT_EQ(r.err,
            "tavrine-cli: warning: passed over 'again/a.txt': a file named 'a.txt' is "
            "already in \\\n");
  EXPECT_EQ(JolietTree(IsoImage(Path("img.iso"))),
            (std::vector<std::string>{"/a.txt 1", "/c.md 1"}));
}

TEST_F(CliTest, DateSetsEveryDateAndMakesBuildsReproducibleAcrossZones) {
  dir_.WriteFile("in/a.txt", "a");
  dir_.WriteFile("in/sub/b.txt", "bb");
  const std::vector<std::string> args = {"-q", "--date", "2024-03-05T09:07:03Z", "in"};
  auto build = [&](const std::string& name, std::vector<std::string> extra,
                   std::vector<std::string> settings) {
    std::vector<std::string> all = {"-o", name};
    all.insert(all.end(), extra.begin(), extra.end());
    const RunResult r = Run(all, settings);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    return ReadFile(Path(name));
  };
  const std::string berlin = build("berlin.iso", args, {"TZ=Europe/Berlin"});
  const std::string tokyo = build("tokyo.iso", args, {"TZ=Asia/Tokyo"});
  const std::string seconds =
      build("seconds.iso", {"-q", "--date", "1709629623", "in"}, {"TZ=America/New_York"});
  const std::string epochNy =
      build("epoch-ny.iso", {"-q", "in"}, {"TZ=America/New_York", "SOURCE_DATE_EPOCH=1709629623"});
  const std::string epochUtc =
      build("epoch-utc.iso", {"-q", "in"}, {"TZ=UTC", "SOURCE_DATE_EPOCH=1709629623"});
  // --date wins over SOURCE_DATE_EPOCH.
  const std::string both = build("both.iso", args, {"TZ=Asia/Kolkata", "SOURCE_DATE_EPOCH=0"});
  EXPECT_TRUE(berlin == tokyo && tokyo == seconds && seconds == epochNy && epochNy == epochUtc &&
              epochUtc == both);

  const IsoImage image(Path("berlin.iso"));
  for (const VolumeDescriptor* d : {&image.Primary().descriptor, &image.Joliet().descriptor}) {
    EXPECT_EQ(d->creation.digits, "2024030509070300");  // ECMA-119 8.4.26.1
    EXPECT_EQ(d->creation.offset, 0);
  }
  // ECMA-119 9.1.5: year since 1900, month, day, hour, minute, second, offset 0.
  const std::array<std::uint8_t, 7> expected{124, 3, 5, 9, 7, 3, 0};
  int records = 0;
  for (const Volume* volume : {&image.Primary(), &image.Joliet()}) {
    EXPECT_EQ(volume->root.self.date.bytes, expected);
    WalkEntries(volume->root, [&](const std::u16string& path, const Entry& entry) {
      EXPECT_EQ(entry.date().bytes, expected) << Utf8(path);
      ++records;
    });
  }
  EXPECT_EQ(records, 6);

  const RunResult bad = Run({"-o", "x.iso", "in"}, {"SOURCE_DATE_EPOCH=tomorrow"});
  EXPECT_EQ(bad.exitCode, 2);
  EXPECT_NE(bad.err.find("SOURCE_DATE_EPOCH 'tomorrow'"), std::string::npos) << bad.err;
  EXPECT_FALSE(Exists(Path("x.iso")));
}

TEST_F(CliTest, PrintSizeIsTheWrittenSizeInBlocks) {
  dir_.WritePatternFile("in/big.bin", 3 * 2048 + 17, 1);
  dir_.WritePatternFile("in/exact.bin", 2048, 2);
  dir_.WriteFile("in/empty.txt", "");
  for (int i = 0; i < 40; ++i)
    dir_.WriteFile("in/d" + std::to_string(i % 7) + "/f" + std::to_string(i), "x");
  for (const std::vector<std::string>& extra :
       {std::vector<std::string>{}, std::vector<std::string>{"--no-joliet"}}) {
    std::vector<std::string> args = {"--print-size", "in", "g/h=in/big.bin"};
    args.insert(args.end(), extra.begin(), extra.end());
    const RunResult size = Run(args);
    ASSERT_EQ(size.exitCode, 0) << size.err;
    EXPECT_EQ(size.err, "");
    args.erase(args.begin());
    args.insert(args.begin(), {"-q", "-o", "img.iso"});
    ASSERT_EQ(Run(args).exitCode, 0);
    const std::uintmax_t bytes = std::filesystem::file_size(Path("img.iso"));
    EXPECT_EQ(size.out, std::to_string(bytes / 2048) + "\n");
    EXPECT_EQ(bytes % 2048, 0u);
  }
  // Writes nothing, even when -o is given.
  ASSERT_EQ(Run({"--print-size", "-o", "never.iso", "in"}).exitCode, 0);
  EXPECT_FALSE(Exists(Path("never.iso")));
}

TEST_F(CliTest, FailuresExitOneWithOneLineAndNoImage) {
  dir_.WriteFile("f.txt", "f");
  dir_.WriteFile("old.iso", "previous image");
  struct Case {
    std::vector<std::string> args;
    std::string message;
  };
  const Case cases[] = {
      {{"-o", "missing/out.iso", "f.txt"},
       "tavrine-cli: cannot create the image 'missing/out.iso': the folder 'missing' does not "
       "exist\n"},
      // Root may write anywhere on a disk; /proc takes no new files from anybody.
      {{"-o", "/proc/tavrine-test.iso", "f.txt"},
       "tavrine-cli: cannot create the image '/proc/tavrine-test.iso': the folder '/proc' "
       "refused a new file\n"},
      {{"-o", "old.iso", "f.txt", "nothere.txt"},
       "tavrine-cli: cannot read 'nothere.txt': No such file or directory\n"},
      {{"-o", "old.iso", "f.txt", "docs=nothere"},
       "tavrine-cli: cannot read 'nothere' (from 'docs=nothere'): No such file or directory\n"},
      {{"-o", ".", "f.txt"}, "tavrine-cli: cannot create the image '.': it is a folder\n"},
  };
  for (const Case& c : cases) {
    const RunResult r = Run(c.args);
    EXPECT_EQ(r.exitCode, 1) << c.message;
    EXPECT_EQ(r.err, c.message);
    EXPECT_EQ(r.out, "");
  }
  EXPECT_EQ(ReadFile(Path("old.iso")), "previous image") << "an earlier image stays untouched";
  std::size_t left = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir_.path()))
    ++left;
  EXPECT_EQ(left, 2u) << "no temporary file left behind";
}

TEST_F(CliTest, UsageErrorsExitTwoWithAHint) {
  dir_.WriteFile("f.txt", "f");
  const std::vector<std::string> cases[] = {{"--bogus", "-o", "x.iso", "f.txt"},
                                            {"-o", "x.iso"},
                                            {"f.txt"},
                                            {"-o", "x.iso", "f.txt", "-V"},
                                            {"-o", "f.txt", "f.txt"},
                                            {"-o", "x.iso", "../a=f.txt"},
                                            {"--date", "noon", "-o", "x.iso", "f.txt"}};
  for (const std::vector<std::string>& args : cases) {
    const RunResult r = Run(args);
    EXPECT_EQ(r.exitCode, 2) << args[0];
    EXPECT_EQ(Lines(r.err), 1u) << r.err;
    EXPECT_EQ(r.err.rfind("tavrine-cli: ", 0), 0u) << r.err;
    EXPECT_NE(r.err.find("; try 'tavrine-cli --help'\n"), std::string::npos) << r.err;
  }
  EXPECT_FALSE(Exists(Path("x.iso")));
  EXPECT_EQ(ReadFile(Path("f.txt")), "f") << "-o naming an input file must not replace it";

  const RunResult help = Run({"--help"});
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_NE(help.out.find("Usage: tavrine-cli"), std::string::npos);
  const RunResult version = Run({"--version"});
  EXPECT_EQ(version.exitCode, 0);
  EXPECT_EQ(version.out.rfind("tavrine-cli ", 0), 0u);
}

// A write-only attribute of sysfs reports 4096 bytes but refuses to be read, even by root: a
// file that fails while the image is written, without any help from the test.
std::string WriteOnlySysfsFile() {
  for (const char* candidate :
       {"/sys/bus/pci/rescan", "/sys/devices/pci0000:00/pci_bus/0000:00/rescan",
        "/sys/kernel/mm/hugepages/hugepages-1048576kB/demote",
        "/sys/class/zram-control/hot_remove"}) {
    struct stat st {};
    if (::stat(candidate, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0 &&
        (st.st_mode & 0444) == 0) {
      return candidate;
    }
  }
  return {};
}

TEST_F(CliTest, UnreadableFileGivesExitThreeAndAWholeImage) {
  const std::string sysfs = WriteOnlySysfsFile();
  if (sysfs.empty())
    GTEST_SKIP() << "no write-only sysfs file here (see run_test.cpp for the seam)";
  dir_.WriteFile("good.txt", "good");
  const RunResult r = Run({"-q", "-o", "img.iso", "good.txt", "dir/attr=" + sysfs});
  EXPECT_EQ(r.exitCode, 3) << r.err;
  EXPECT_EQ(r.err,
            "tavrine-cli: could not read all of '" + sysfs +
                "' (\\dir\\attr in the image): Permission denied; the image holds zeros "
                "in its place\ntavrine-cli: wrote 'img.iso', but 1 file is incomplete in it\n");
  const IsoImage image(Path("img.iso"));
  EXPECT_EQ(image.ReadFile(*image.Joliet().Find(u"/good.txt")), "good");
  EXPECT_EQ(image.ReadFile(*image.Joliet().Find(u"/dir/attr")), std::string(4096, '\0'));
}

TEST_F(CliTest, AnImageWrittenIntoItsInputFolderLeavesOutItsPreviousCopy) {
  dir_.WriteFile("in/a.txt", "a");
  ASSERT_EQ(Run({"-q", "-o", "in/img.iso", "in"}).exitCode, 0);
  const RunResult again = Run({"-q", "-o", "in/img.iso", "in"});
  ASSERT_EQ(again.exitCode, 0);
  EXPECT_EQ(again.err,
            "tavrine-cli: warning: left out 'in/img.iso': it is the image being written\n");
  EXPECT_EQ(JolietTree(IsoImage(Path("in/img.iso"))), std::vector<std::string>{"/a.txt 1"});
}

TEST_F(CliTest, ProgressIsOneLinePerPhaseWhenNotATerminal) {
  dir_.WriteFile("f.txt", "f");
  const RunResult r = Run({"-o", "img.iso", "f.txt"});
  ASSERT_EQ(r.exitCode, 0);
  const std::string blocks = std::to_string(std::filesystem::file_size(Path("img.iso")) / 2048);
  EXPECT_EQ(r.err,
            "Building file system\nWriting path tables\nWriting directory records\nWriting "
            "files\nFinished\nWrote img.iso: " +
                blocks + " blocks (" + std::to_string(std::stoi(blocks) * 2) + ".0 KiB)\n");
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(Run({"-q", "-o", "img.iso", "f.txt"}).err, "");
}

TEST_F(CliTest, ProgressLineIsRedrawnOnATerminal) {
  if (!ProgramAvailable("script")) GTEST_SKIP() << "script (util-linux) is not installed";
  dir_.WritePatternFile("big.bin", 24 << 20, 7);
  // script gives the program a pseudo-terminal and copies what it shows to our pipe.
  std::string command = "'";
  for (const std::string& part : {Binary(), Path("img.iso"), Path("big.bin")}) {
    command += part;
    command += part == Binary() ? "' -o '" : "' '";
  }
  command.resize(command.size() - 2);
  const RunResult r = RunProgram({"script", "-qec", command, "/dev/null"});
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  const std::string& shown = r.out;
  // A terminal turns "\n" into "\r\n"; the redraws are the other carriage returns.
  std::size_t redraws = 0;
  for (std::size_t i = 0; i + 1 < shown.size(); ++i) {
    if (shown[i] == '\r' && shown[i + 1] != '\n') ++redraws;
  }
  EXPECT_GE(redraws, 5u) << shown;
  EXPECT_NE(shown.find("\rWriting files ["), std::string::npos) << shown;
  EXPECT_NE(shown.find("\rFinished [####################] 100%  24.1 MiB of 24.1 MiB"),
            std::string::npos)
      << shown;
  EXPECT_EQ(shown.find("\nWriting"), std::string::npos) << "phases must not get lines of their own";
  EXPECT_NE(shown.find("\r\nWrote "), std::string::npos) << shown;
}

}  // namespace
}  // namespace tavrine::testing
