#include "support/readers.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "tree/text.h"

extern char** environ;

namespace tavrine::testing {

namespace fs = std::filesystem;

RunResult RunProgram(const std::vector<std::string>& argv) {
  if (argv.empty()) throw std::runtime_error("RunProgram: no program");
  // Both outputs go to unlinked temporary files: nothing to drain while the program runs.
  int fds[2] = {-1, -1};
  for (int& fd : fds) {
    char name[] = "/tmp/tavrine-run-XXXXXX";
    fd = mkostemp(name, O_CLOEXEC);
    if (fd >= 0) unlink(name);
  }
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  // Every tool runs in a UTF-8 locale, so that names outside ASCII come out as UTF-8.
  std::vector<std::string> env = {"LC_ALL=C.UTF-8", "LANG=C.UTF-8"};
  for (char** e = environ; *e != nullptr; ++e) {
    std::string_view v(*e);
    if (v.rfind("LC_ALL=", 0) != 0 && v.rfind("LANG=", 0) != 0) env.emplace_back(v);
  }
  std::vector<char*> envp;
  for (std::string& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  int rc = fds[0] < 0 || fds[1] < 0 ? errno : 0;
  pid_t pid = 0;
  if (rc == 0) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, fds[0], 1);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 2);
    rc = posix_spawnp(&pid, argv[0].c_str(), &actions, nullptr, args.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
  }
  RunResult result;
  int status = 0;
  while (rc == 0 && waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  std::string* sinks[2] = {&result.out, &result.err};
  for (int i = 0; i < 2; ++i) {
    char buffer[65536];
    ssize_t n = 0;
    lseek(fds[i], 0, SEEK_SET);
    while (rc == 0 && (n = read(fds[i], buffer, sizeof buffer)) > 0) {
      sinks[i]->append(buffer, static_cast<std::size_t>(n));
    }
    if (fds[i] >= 0) close(fds[i]);
  }
  if (rc != 0) throw std::runtime_error("cannot start " + argv[0] + ": " + std::strerror(rc));
  result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return result;
}

bool ProgramAvailable(const std::string& program) {
  if (program.find('/') != std::string::npos) return access(program.c_str(), X_OK) == 0;
  const char* path = std::getenv("PATH");
  std::string dirs = path != nullptr ? path : "/usr/bin:/bin";
  for (std::size_t start = 0; start <= dirs.size();) {
    std::size_t end = std::min(dirs.find(':', start), dirs.size());
    if (access((dirs.substr(start, end - start) + "/" + program).c_str(), X_OK) == 0) return true;
    start = end + 1;
  }
  return false;
}

const char* NamespaceName(Namespace ns) {
  return ns == Namespace::kIso9660 ? "ISO 9660" : "Joliet";
}

std::string ReaderScriptDir() {
  if (const char* source = std::getenv("TAVRINE_SOURCE_DIR"); source != nullptr && *source != 0) {
    return std::string(source) + "/tests/support/readers";
  }
  // Run outside CTest: the folder beside this source file.
  return (fs::path(__FILE__).parent_path() / "readers").string();
}

namespace {

RunResult Checked(const std::vector<std::string>& argv) {
  RunResult r = RunProgram(argv);
  if (r.exitCode != 0) {
    std::string cmd;
    for (const std::string& a : argv) cmd += " " + a;
    throw std::runtime_error("failed (exit " + std::to_string(r.exitCode) + "):" + cmd + "\n" +
                             r.err + (r.err.empty() ? r.out.substr(0, 2000) : ""));
  }
  return r;
}

// The helper script walks pycdlib's parsed records and uses get_file_from_iso_fp.
class PycdlibReader : public Reader {
 public:
  std::string Name() const override { return "pycdlib"; }
  bool Available() const override { return ProgramAvailable("/usr/bin/python3"); }
  Listing List(const std::string& image, Namespace ns) const override {
    Listing listing;
    // namespace TAB D|F TAB size TAB path
    const std::string out = Run({"list", image}).out;
    for (std::size_t start = 0, end; start < out.size(); start = end + 1) {
      end = std::min(out.find('\n', start), out.size());
      const std::string line = out.substr(start, end - start);
      const std::size_t a = line.find('\t');
      const std::size_t b = line.find('\t', a + 1);
      const std::size_t c = line.find('\t', b + 1);
      if (c == std::string::npos || line.substr(0, a) != Ns(ns)) continue;
      listing[line.substr(c + 1)] = {line[a + 1] == 'D', std::stoll(line.substr(b + 1, c - b - 1))};
    }
    return listing;
  }
  void ExtractAll(const std::string& image, Namespace ns,
                  const std::string& folder) const override {
    fs::create_directories(folder);
    Run({"extract", image, Ns(ns), folder});
  }

 private:
  static std::string Ns(Namespace ns) { return ns == Namespace::kJoliet ? "joliet" : "iso"; }
  static RunResult Run(std::vector<std::string> args) {
    args.insert(args.begin(), {"/usr/bin/python3", ReaderScriptDir() + "/pycdlib_reader.py"});
    return Checked(args);
  }
};

}  // namespace

const Reader& Pycdlib() {
  static const PycdlibReader pycdlib;
  return pycdlib;
}

const std::vector<const Reader*>& AllReaders() {
  static const std::vector<const Reader*> all = {&Pycdlib()};
  return all;
}

std::vector<std::string> CheckWithPycdlib(
    Namespace ns, const std::string& image, const std::vector<ExpectedEntry>& expected,
    const std::function<std::string(const std::u16string& path)>& contentOf,
    const std::string& scratch) {
  const std::string who = std::string("pycdlib (") + NamespaceName(ns) + ")";
  std::vector<std::string> problems;
  Listing listing;
  try {
    listing = Pycdlib().List(image, ns);
    Pycdlib().ExtractAll(image, ns, scratch);
  } catch (const std::exception& e) {
    return {who + " cannot read the image: " + e.what()};
  }
  for (const ExpectedEntry& x : expected) {
    const std::string path = text::ToUtf8(x.path);
    const auto it = listing.find(path);
    if (it == listing.end()) {
      problems.push_back(who + " does not list " + path);
      continue;
    }
    const Listed got = it->second;
    listing.erase(it);
    if (got.directory != x.directory || got.size != x.size) {
      problems.push_back(who + " shows " + path +
                         (got.directory ? " as a directory" : " as a file") + " of " +
                         std::to_string(got.size) + " bytes");
    }
    const bool reachable =
        ns == Namespace::kJoliet ||
        std::all_of(x.path.begin(), x.path.end(), [](char16_t c) { return c < 0x80; });
    if (x.directory || !reachable) continue;
    std::ifstream in(scratch + path, std::ios::binary);
    const std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!in || data != contentOf(x.path)) {
      problems.push_back(who + " extracts " + path + " as " + std::to_string(data.size()) +
                         " bytes that differ from its source");
    }
  }
  for (const auto& [path, e] : listing) problems.push_back(who + " lists " + path + " too");
  return problems;
}

}  // namespace tavrine::testing
