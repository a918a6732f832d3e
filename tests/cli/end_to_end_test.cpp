// tavrine-cli through the real binary: each PATH form, the options' bytes in the descriptors,
// reproducible dates, --print-size, the exit statuses and the progress display.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <iconv.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <map>

#include "cli/options.h"
#include "image/reader.h"
#include "support/readers.h"
#include "support/temp_dir.h"

namespace tavrine::testing {
namespace {

// $TAVRINE_BIN_DIR/tavrine-cli, else the one beside this test program.
std::string Binary() {
  if (const char* dir = std::getenv("TAVRINE_BIN_DIR"); dir != nullptr && *dir != '\0') {
    return std::string(dir) + "/tavrine-cli";
  }
  return (std::filesystem::read_symlink("/proc/self/exe").parent_path() / "tavrine-cli").string();
}

class CliTest : public ::testing::Test {
 protected:
  // Runs tavrine-cli in the temporary folder with the given NAME=VALUE settings;
  // SOURCE_DATE_EPOCH is unset unless given.
  RunResult Run(const std::vector<std::string>& args,
                const std::vector<std::string>& settings = {}) const {
    std::vector<std::string> argv{"env", "-u", "SOURCE_DATE_EPOCH", "-C", dir_.path().string()};
    argv.insert(argv.end(), settings.begin(), settings.end());
    argv.push_back(Binary());
    argv.insert(argv.end(), args.begin(), args.end());
    return RunProgram(argv);
  }
  std::string Path(std::string_view relative) const { return dir_ / relative; }
  bool Exists(std::string_view relative) const {
    return std::filesystem::exists(dir_.path() / relative);
  }
  TempDir dir_;
};

// Every file of the Joliet tree: path -> contents.
std::map<std::string, std::string> JolietFiles(const IsoImage& image) {
  std::map<std::string, std::string> files;
  WalkEntries(image.Joliet().root, [&](const std::u16string& path, const Entry& entry) {
    if (!entry.IsDirectory()) files[Utf8(path)] = image.ReadFile(entry);
  });
  return files;
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
  const std::map<std::string, std::string> contents = {
      {"/css/site.css", "body{}"},       {"/docs/2024/css/site.css", "body{}"},
      {"/docs/2024/extra.txt", "extra"}, {"/docs/2024/index.html", "<p>index</p>"},
      {"/docs/a.txt", "renamed"},        {"/a.txt", "plain file"},
      {"/index.html", "<p>index</p>"},   {"/eq=name.txt", "a local name with ="},
      {"/esc=aped.txt", "renamed"}};
  EXPECT_EQ(JolietFiles(image), contents);
  EXPECT_EQ(image.Joliet().directoryCount, 5u) << "docs and Docs are one directory";
  // Every independent reader installed sees the same tree and the same bytes.
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

TEST_F(CliTest, NamesTakenAlreadyAreRenamedWarningsNamingBoth) {
  dir_.WriteFile("one/readme.txt", "first");
  dir_.WriteFile("two/README.TXT", "second");
  dir_.WriteFile("in/a.txt", "a");
  dir_.WriteFile("in/b.dat", "b");
  dir_.WriteFile("in/c.md", "c");
  dir_.WriteFile("again/a.txt", "A");
  const RunResult r = Run({"-q", "--pattern", "*.txt", "--pattern=*.md", "-o", "img.iso",
                           "one/readme.txt", "two/README.TXT", "in", "again"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.err,
            "tavrine-cli: warning: renamed 'two/README.TXT' to '\\README~1.TXT': 'one/readme.txt' "
            "is in '\\' under the same name already (case is ignored)\n"
            "tavrine-cli: warning: renamed 'again/a.txt' to '\\a~1.txt': 'a.txt' is in \\ "
            "already (case is ignored)\n");
  // Patterns filter folder imports only.
  EXPECT_EQ(JolietFiles(IsoImage(Path("img.iso"))),
            (std::map<std::string, std::string>{{"/readme.txt", "first"},
                                                {"/README~1.TXT", "second"},
                                                {"/a.txt", "a"},
                                                {"/a~1.txt", "A"},
                                                {"/c.md", "c"}}));
}

// A byte of Windows-1252 as UTF-8, through iconv; the five bytes it leaves out are C1 controls.
std::string FromWindows1252(char byte) {
  if (std::string_view("\x81\x8D\x8F\x90\x9D").find(byte) != std::string_view::npos) {
    return std::string{'\xC2', byte};
  }
  iconv_t convert = iconv_open("UTF-8", "CP1252");
  char in[1] = {byte};
  char out[8] = {};
  char* from = in;
  char* to = out;
  std::size_t left = 1, room = sizeof out;
  iconv(convert, &from, &left, &to, &room);
  iconv_close(convert);
  return std::string(out, sizeof out - room);
}

// Hostile local names all go in under the names stated, with warnings and exit 0; a folder that
// cannot be listed (too few descriptors) makes the exit status 3.
TEST_F(CliTest, EveryLocalNameGoesInAndTheExitStatusSaysWhatIsMissing) {
  std::map<std::string, std::string> expected = {
      // local name below t/ -> Joliet path
      {"back\\slash.txt", "/back_slash.txt"},
      {"fax.txt", "/fax~1.txt"},  // byte order: "fAx.txt" comes first
      {"fAx.txt", "/fAx.txt"},
      {"d /in", "/d/in~1"},  // " d" and "d " merge into "d"
      {" d/in", "/d/in"},
      {std::string(120, 'x') + ".txt", std::string(1, '/').append(104, 'x') + "~1.txt"},
      {"a:b*c?.txt", "/a_b_c_~1.txt"},
      {"a_b_c_.txt", "/a_b_c_.txt"},
      {"t\tq\"<>|;", "/t_q_____"}};
  for (int b = 0x80; b <= 0xFF; ++b) {
    const bool twin = b == 0x9A || b == 0x9C || b == 0x9E || b == 0xFF || (b >= 0xE0 && b != 0xF7);
    const char byte = static_cast<char>(b);
    expected[std::string("raw/") + byte] = "/raw/" + FromWindows1252(byte) + (twin ? "~1" : "");
  }
  std::string chain, jolietChain;
  for (int level = 0; level < 70; ++level) {  // 70 * 121 bytes of path, beyond PATH_MAX
    const std::string name = std::to_string(100 + level) + std::string(117, 'y');
    chain += name + "/";
    jolietChain += '/';
    jolietChain += name.substr(0, 108) + "~1";
  }
  expected[chain + "deep.txt"] = jolietChain + "/deep.txt";
  for (const auto& [local, joliet] : expected) {
    // Made with descriptors: std::filesystem, too, stops at the path limit.
    int folder = open(dir_.path().c_str(), O_RDONLY | O_DIRECTORY);
    const std::string path = "t/" + local;
    for (std::size_t start = 0, slash; (slash = path.find('/', start)) != std::string::npos;
         start = slash + 1) {
      const std::string part = path.substr(start, slash - start);
      mkdirat(folder, part.c_str(), 0700);
      const int next = openat(folder, part.c_str(), O_RDONLY | O_DIRECTORY);
      close(folder);
      ASSERT_GE(folder = next, 0) << part;
    }
    const int file =
        openat(folder, path.substr(path.rfind('/') + 1).c_str(), O_WRONLY | O_CREAT, 0600);
    ASSERT_EQ(write(file, local.data(), local.size()), static_cast<ssize_t>(local.size()));
    close(file);
    close(folder);
  }
  // Left out by the stated rules, which keep the exit status 0.
  std::filesystem::create_directory_symlink(Path("t/raw"), Path("t/link"));
  ASSERT_EQ(mkfifo(Path("t/fifo").c_str(), 0600), 0);
  const RunResult r = Run({"-q", "-o", "img.iso", "t"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.err.find("warning: renamed 't/raw/\\xC9' to '\\raw\\\xC3\x89': the name is not "
                       "UTF-8; its bytes are read as Windows-1252\n"),
            std::string::npos);
  EXPECT_NE(r.err.find("warning: '\\a:b*c?.txt' is 'a_b_c_~1.txt' in the Joliet tree: Windows "
                       "refuses some of its characters in file names\n"),
            std::string::npos);
  std::map<std::string, std::string> contents;
  for (const auto& [local, joliet] : expected) contents[joliet] = local;
  EXPECT_EQ(JolietFiles(IsoImage(Path("img.iso"))), contents);
  for (const Reader* reader : AllReaders()) {
    if (reader->Name() != "pycdlib" || !reader->Available()) continue;
    std::map<std::string, std::string> sizes, listed;
    for (const auto& [joliet, local] : contents) sizes[joliet] = std::to_string(local.size());
    for (const auto& [path, entry] : reader->List(Path("img.iso"), Namespace::kJoliet)) {
      if (!entry.directory) listed[path] = std::to_string(entry.size);
    }
    EXPECT_EQ(listed, sizes);
  }

  // Too few descriptors for the deep chain, whatever the test runner leaves open: the image is
  // written without the folders beyond, and the exit status says so.
  if (!ProgramAvailable("prlimit")) GTEST_SKIP() << "prlimit (util-linux) is not installed";
  const RunResult limited = RunProgram(
      {"prlimit", "--nofile=40:40", Binary(), "-q", "-o", Path("limited.iso"), Path("t")});
  EXPECT_EQ(limited.exitCode, 3) << limited.err;
  EXPECT_NE(limited.err.find("the folder cannot be listed: Too many open files\n"),
            std::string::npos);
  EXPECT_NE(limited.err.find("entry is missing from it"), std::string::npos) << limited.err;
}

TEST_F(CliTest, IdentifierOptionsReachBothDescriptorsAndNoJolietDropsTheSecond) {
  dir_.WriteFile("f.txt", "f");
  const RunResult r = Run({"-q", "-o", "img.iso", "-V", "my disk 2024", "-sysid", "Linux 6%",
                           "--application-id", "mkimg (1.0)", "-publisher", "Acme 100% Ltd", "-p",
                           "Jo Bloggs", "--volume-set=set/1", "f.txt"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const IsoImage image(Path("img.iso"));
  // ISO 9660: volume and volume set cleaned to d-characters (spaces become "_", upper case),
  // the others to a-characters ("%" goes, lower case stays). Joliet: as typed.
  const std::tuple<TextField VolumeDescriptor::*, std::u16string, std::u16string> cases[] = {
      {&VolumeDescriptor::volumeId, u"MY_DISK_2024", u"my disk 2024"},
      {&VolumeDescriptor::systemId, u"Linux 6", u"Linux 6%"},
      {&VolumeDescriptor::applicationId, u"mkimg (1.0)", u"mkimg (1.0)"},
      {&VolumeDescriptor::publisherId, u"Acme 100 Ltd", u"Acme 100% Ltd"},
      {&VolumeDescriptor::dataPreparerId, u"Jo Bloggs", u"Jo Bloggs"},
      {&VolumeDescriptor::volumeSetId, u"SET1", u"set/1"}};
  for (const auto& [field, iso, joliet] : cases) {
    EXPECT_EQ((image.Primary().descriptor.*field).text, iso) << Utf8(joliet);
    EXPECT_EQ((image.Joliet().descriptor.*field).text, joliet);
  }
  EXPECT_EQ(image.Joliet().descriptor.volumeId.raw.substr(0, 6), std::string("\0m\0y\0 ", 6));

  // Identifiers not given keep the writer's defaults.
  ASSERT_EQ(Run({"-q", "-o", "plain.iso", "f.txt"}).exitCode, 0);
  const IsoImage plain(Path("plain.iso"));
  EXPECT_EQ(plain.Primary().descriptor.volumeId.text, u"MY_VOL");
  EXPECT_EQ(plain.Joliet().descriptor.volumeId.text, u"My Volume");
  EXPECT_EQ(plain.DescriptorTypes(), (std::vector<std::uint8_t>{1, 2, 255}));
  ASSERT_EQ(Run({"-q", "--no-joliet", "-o", "n.iso", "f.txt"}).exitCode, 0);
  EXPECT_EQ(IsoImage(Path("n.iso")).DescriptorTypes(), (std::vector<std::uint8_t>{1, 255}));
}

TEST_F(CliTest, DateSetsEveryDateAndMakesBuildsReproducibleAcrossZones) {
  dir_.WriteFile("in/a.txt", "a");
  dir_.WriteFile("in/sub/b.txt", "bb");
  const auto build = [&](const std::string& name, std::vector<std::string> args,
                         const std::vector<std::string>& settings) {
    args.insert(args.end(), {"-q", "-o", name, "in"});
    const RunResult r = Run(args, settings);
    EXPECT_EQ(r.exitCode, 0) << name << ": " << r.err;
    return ReadFile(Path(name));
  };
  const std::vector<std::string> date = {"--date", "2024-03-05T09:07:03Z"};
  const std::string berlin = build("berlin.iso", date, {"TZ=Europe/Berlin"});
  EXPECT_EQ(build("tokyo.iso", date, {"TZ=Asia/Tokyo"}), berlin);
  EXPECT_EQ(build("epoch.iso", {}, {"TZ=America/New_York", "SOURCE_DATE_EPOCH=1709629623"}),
            berlin);

  const IsoImage image(Path("berlin.iso"));
  // ECMA-119 9.1.5: year since 1900, month, day, hour, minute, second, offset 0.
  const std::array<std::uint8_t, 7> expected{124, 3, 5, 9, 7, 3, 0};
  int records = 0;
  for (const Volume* volume : {&image.Primary(), &image.Joliet()}) {
    EXPECT_EQ(volume->descriptor.creation.digits, "2024030509070300");  // ECMA-119 8.4.26.1
    EXPECT_EQ(volume->descriptor.creation.offset, 0);
    EXPECT_EQ(volume->rootSelf.date.bytes, expected);
    WalkEntries(volume->root, [&](const std::u16string& path, const Entry& entry) {
      EXPECT_EQ(entry.date().bytes, expected) << Utf8(path);
      ++records;
    });
  }
  EXPECT_EQ(records, 6);
}

TEST_F(CliTest, PrintSizeIsTheWrittenSizeInBlocks) {
  dir_.WritePatternFile("in/big.bin", 3 * 2048 + 17, 1);
  dir_.WritePatternFile("in/exact.bin", 2048, 2);
  dir_.WriteFile("in/empty.txt", "");
  for (int i = 0; i < 40; ++i)
    dir_.WriteFile("in/d" + std::to_string(i % 7) + "/f" + std::to_string(i), "x");
  for (const char* joliet : {"-J", "--no-joliet"}) {
    const RunResult size = Run({"--print-size", joliet, "in", "g/h=in/big.bin"});
    ASSERT_EQ(size.exitCode, 0) << size.err;
    EXPECT_EQ(size.err, "");
    ASSERT_EQ(Run({"-q", "-o", "img.iso", joliet, "in", "g/h=in/big.bin"}).exitCode, 0);
    const std::uintmax_t bytes = std::filesystem::file_size(Path("img.iso"));
    EXPECT_EQ(size.out, std::to_string(bytes / 2048) + "\n") << joliet;
    EXPECT_EQ(bytes % 2048, 0u);
  }
  // Writes nothing, even when -o is given.
  ASSERT_EQ(Run({"--print-size", "-o", "never.iso", "in"}).exitCode, 0);
  EXPECT_FALSE(Exists("never.iso"));
}

TEST_F(CliTest, FailuresExitOneWithOneLineAndNoImage) {
  dir_.WriteFile("f.txt", "f");
  dir_.WriteFile("old.iso", "previous image");
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"-o", "missing/out.iso", "f.txt"},
       "cannot create the image 'missing/out.iso': the folder 'missing' does not exist"},
      // Root may write anywhere on a disk; /proc takes no new files from anybody.
      {{"-o", "/proc/tavrine-test.iso", "f.txt"},
       "cannot create the image '/proc/tavrine-test.iso': the folder '/proc' refused a new file"},
      {{"-o", "old.iso", "f.txt", "nothere.txt"},
       "cannot read 'nothere.txt': No such file or directory"},
      {{"-o", "old.iso", "f.txt", "docs=nothere"},
       "cannot read 'nothere' (from 'docs=nothere'): No such file or directory"},
      {{"-o", ".", "f.txt"}, "cannot create the image '.': it is a folder"},
  };
  for (const auto& [args, message] : cases) {
    const RunResult r = Run(args);
    EXPECT_EQ(r.exitCode, 1) << message;
    EXPECT_EQ(r.err, "tavrine-cli: " + message + "\n");
    EXPECT_EQ(r.out, "");
  }
  EXPECT_EQ(ReadFile(Path("old.iso")), "previous image") << "an earlier image stays untouched";
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_.path()), {}), 2)
      << "no temporary file left behind";
}

TEST_F(CliTest, UsageErrorsExitTwoWithAHint) {
  dir_.WriteFile("f.txt", "f");
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"--bogus", "-o", "x.iso", "f.txt"}, ""},
      {{"-o", "./f.txt", "f.txt"}, ""},  // would replace its own input
      {{"-o", "x.iso", "../a=f.txt"}, ""},
      {{"--pattern=[z-a]", "-o", "x.iso", "f.txt"}, ""},  // even with no folder to import
      {{"-o", "x.iso", "f.txt"}, "SOURCE_DATE_EPOCH=tomorrow"},
  };
  for (const auto& [args, setting] : cases) {
    const RunResult r =
        Run(args, setting.empty() ? std::vector<std::string>{} : std::vector<std::string>{setting});
    EXPECT_EQ(r.exitCode, 2) << args[0] << setting;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_EQ(r.err.rfind("tavrine-cli: ", 0), 0u) << r.err;
    EXPECT_NE(r.err.find("; try 'tavrine-cli --help'\n"), std::string::npos) << r.err;
  }
  EXPECT_FALSE(Exists("x.iso"));
  EXPECT_EQ(ReadFile(Path("f.txt")), "f") << "-o naming an input file must not replace it";

  const RunResult help = Run({"--help"});
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_EQ(help.out, cli::HelpText());
  EXPECT_EQ(help.err, "");
  EXPECT_EQ(Run({"--version"}).out, cli::VersionText());
}

TEST_F(CliTest, AnImageWrittenIntoItsInputFolderLeavesOutItsPreviousCopy) {
  dir_.WriteFile("in/a.txt", "a");
  ASSERT_EQ(Run({"-q", "-o", "in/img.iso", "in"}).exitCode, 0);
  const RunResult again = Run({"-q", "-o", "in/img.iso", "in"});
  ASSERT_EQ(again.exitCode, 0);
  EXPECT_EQ(again.err,
            "tavrine-cli: warning: left out 'in/img.iso': it is the image being written\n");
  EXPECT_EQ(JolietFiles(IsoImage(Path("in/img.iso"))),
            (std::map<std::string, std::string>{{"/a.txt", "a"}}));
  // --print-size with the same -o leaves it out as well.
  const RunResult size = Run({"--print-size", "-o", "in/img.iso", "in"});
  ASSERT_EQ(size.exitCode, 0);
  EXPECT_EQ(size.out, std::to_string(std::filesystem::file_size(Path("in/img.iso")) / 2048) + "\n");
  EXPECT_EQ(size.err, "tavrine-cli: warning: left out 'in/img.iso': it is the image -o names\n");
}

TEST_F(CliTest, ProgressIsOneLinePerPhaseWhenNotATerminal) {
  dir_.WriteFile("f.txt", "f");
  const RunResult r = Run({"-o", "img.iso", "f.txt"});
  ASSERT_EQ(r.exitCode, 0);
  const auto blocks = std::filesystem::file_size(Path("img.iso")) / 2048;
  EXPECT_EQ(r.err,
            "Building file system\nWriting path tables\nWriting directory records\n"
            "Writing files\nFinished\nWrote img.iso: " +
                std::to_string(blocks) + " blocks (" + std::to_string(blocks * 2) + ".0 KiB)\n");
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(Run({"-q", "-o", "img.iso", "f.txt"}).err, "");
}

TEST_F(CliTest, ProgressLineIsRedrawnOnATerminal) {
  if (!ProgramAvailable("script")) GTEST_SKIP() << "script (util-linux) is not installed";
  dir_.WritePatternFile("big.bin", 24 << 20, 7);
  // script gives the program a pseudo-terminal and copies what it shows to our pipe.
  std::string command;
  for (const std::string& part : {Binary(), std::string("-o"), Path("img.iso"), Path("big.bin")})
    command.append("'").append(part).append("' ");
  const RunResult r = RunProgram({"script", "-qec", command, "/dev/null"});
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  const std::string& shown = r.out;
  // A terminal turns "\n" into "\r\n"; the redraws are the other carriage returns.
  std::size_t redraws = 0;
  for (std::size_t i = 0; i + 1 < shown.size(); ++i)
    redraws += shown[i] == '\r' && shown[i + 1] != '\n';
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
