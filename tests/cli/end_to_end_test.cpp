// tavrine-cli through the real binary, where the process itself matters: hostile local names,
// a descriptor limit and signals. The rest of the command line is tested in-process (run_test.cpp).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <iconv.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <map>

#include "image/reader.h"
#include "support/readers.h"
#include "support/temp_dir.h"
#include "tree/text.h"

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
  TempDir dir_;
};

// Every file of the Joliet tree: path -> contents.
std::map<std::string, std::string> JolietFiles(const IsoImage& image) {
  std::map<std::string, std::string> files;
  WalkEntries(image.Joliet().root, [&](const std::u16string& path, const Entry& entry) {
    if (!entry.IsDirectory()) files[text::ToUtf8(path)] = image.ReadFile(entry);
  });
  return files;
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

TEST_F(CliTest, SignalsEndWithTheShellsStatusAndLeaveNothingBehind) {
  // A sparse gigabyte: long enough to copy that every signal lands inside the build, sent once
  // the program says it writes file data.
  dir_.WriteFile("in/big.bin", "");
  std::filesystem::resize_file(Path("in/big.bin"), std::uintmax_t{1} << 30);
  dir_.WriteFile("img.iso", "earlier image");
  const std::string script =
      "\"$0\" -o img.iso in 2>err & while ! grep -q '^Writing files' err; do "
      "kill -0 $! || break; done; kill -$1 $!; wait $!; echo $?; cat err; rm err";
  for (const auto& [signal, status] :
       {std::pair{"INT", "130"}, {"TERM", "143"}, {"HUP", "129"}, {"KILL", "137"}}) {
    const RunResult r =
        RunProgram({"env", "-C", dir_.path().string(), "sh", "-c", script, Binary(), signal});
    EXPECT_EQ(r.out.substr(0, r.out.find('\n')), status) << r.out;
    if (signal != std::string("KILL")) {
      EXPECT_NE(r.out.find("tavrine-cli: the build of img.iso was cancelled\n"), std::string::npos);
    }
    EXPECT_EQ(ReadFile(Path("img.iso")), "earlier image") << signal;
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_.path()), {}), 2)
        << "nothing left beside the image, even after SIGKILL";
  }
}

// An existing image we may write, in a folder that takes no new file, is overwritten in place
// (the same inode); a build the layout refuses must leave it whole. Root writes into any folder:
// the program then runs as nobody.
TEST_F(CliTest, AnImageInAFolderThatTakesNoNewFileSurvivesARefusedLayout) {
  std::vector<std::string> argv;
  if (geteuid() == 0) {
    if (!ProgramAvailable("setpriv")) GTEST_SKIP() << "setpriv (util-linux) is not installed";
    argv = {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"};
  }
  // 2048 names of one sparse file of 4 GiB - 1 bytes: more blocks than a volume holds.
  const std::string big = dir_.WriteFile("in/0", "");
  std::filesystem::resize_file(big, (std::uintmax_t{1} << 32) - 1);
  for (int i = 1; i < 2048; ++i)
    ASSERT_EQ(link(big.c_str(), Path("in/" + std::to_string(i)).c_str()), 0);
  const std::string image = dir_.WriteFile("ro/img.iso", "earlier image");
  ASSERT_EQ(chmod(image.c_str(), 0666) | chmod(Path("ro").c_str(), 0555) |
                chmod(dir_.path().c_str(), 0755),
            0);
  argv.insert(argv.end(), {Binary(), "-q", "-o", image, Path("in")});
  const RunResult r = RunProgram(argv);
  if (r.err.find("setpriv") != std::string::npos) GTEST_SKIP() << "no other user: " << r.err;
  EXPECT_EQ(r.exitCode, 1) << r.err;
  EXPECT_NE(r.err.find("a volume holds at most 4294967295"), std::string::npos) << r.err;
  EXPECT_EQ(ReadFile(image), "earlier image");
  struct stat before {};
  struct stat after {};
  argv.back() = dir_.WriteFile("ok.txt", "ok");
  ASSERT_EQ(stat(image.c_str(), &before), 0);
  EXPECT_EQ(RunProgram(argv).exitCode, 0);
  ASSERT_EQ(stat(image.c_str(), &after), 0);
  EXPECT_EQ(after.st_ino, before.st_ino) << "written in place: the folder took no new file";
  EXPECT_GT(after.st_size, 13);
}
}  // namespace
}  // namespace tavrine::testing
