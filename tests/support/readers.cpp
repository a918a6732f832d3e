#include "support/readers.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <stdexcept>

#include "support/iso_reader.h"

extern char** environ;

namespace tavrine::testing {

namespace fs = std::filesystem;

namespace {

void ClosePipe(int fds[2]) {
  for (int i = 0; i < 2; ++i) {
    if (fds[i] >= 0) close(fds[i]);
    fds[i] = -1;
  }
}

}  // namespace

RunResult RunProgram(const std::vector<std::string>& argv) {
  if (argv.empty()) throw std::runtime_error("RunProgram: no program");
  int outPipe[2] = {-1, -1};
  int errPipe[2] = {-1, -1};
  if (pipe2(outPipe, O_CLOEXEC) != 0 || pipe2(errPipe, O_CLOEXEC) != 0) {
    ClosePipe(outPipe);
    ClosePipe(errPipe);
    throw std::runtime_error("RunProgram: pipe failed: " + std::string(std::strerror(errno)));
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
  posix_spawn_file_actions_adddup2(&actions, errPipe[1], 2);

  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  // Every tool runs in a UTF-8 locale, so that names outside ASCII come out as UTF-8.
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) {
    std::string_view v(*e);
    if (v.rfind("LC_ALL=", 0) != 0 && v.rfind("LANG=", 0) != 0) env.emplace_back(v);
  }
  env.emplace_back("LC_ALL=C.UTF-8");
  env.emplace_back("LANG=C.UTF-8");
  std::vector<char*> envp;
  for (std::string& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  pid_t pid = 0;
  int rc = posix_spawnp(&pid, argv[0].c_str(), &actions, nullptr, args.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  close(outPipe[1]);
  close(errPipe[1]);
  if (rc != 0) {
    close(outPipe[0]);
    close(errPipe[0]);
    throw std::runtime_error("cannot start " + argv[0] + ": " + std::strerror(rc));
  }

  RunResult result;
  pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
  std::string* sinks[2] = {&result.out, &result.err};
  int open = 2;
  char buffer[65536];
  while (open > 0) {
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        sinks[i]->append(buffer, static_cast<std::size_t>(n));
      } else if (n == 0 || errno != EINTR) {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open;
      }
    }
  }
  for (auto& f : fds) {
    if (f.fd >= 0) close(f.fd);
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return result;
}

bool ProgramAvailable(const std::string& program) {
  if (program.find('/') != std::string::npos) return access(program.c_str(), X_OK) == 0;
  const char* path = std::getenv("PATH");
  std::string dirs = path != nullptr ? path : "/usr/bin:/bin";
  std::size_t start = 0;
  while (start <= dirs.size()) {
    std::size_t end = dirs.find(':', start);
    if (end == std::string::npos) end = dirs.size();
    std::string candidate = dirs.substr(start, end - start) + "/" + program;
    if (access(candidate.c_str(), X_OK) == 0) return true;
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

std::string Lower(std::string s) {
  for (char& c : s) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return s;
}

// Tool output that is not UTF-8 (isoinfo prints Latin-1 bytes) becomes UTF-8.
std::string Latin1ToUtf8(std::string_view bytes) {
  std::u16string u;
  for (char c : bytes) u.push_back(static_cast<unsigned char>(c));
  return Utf8(u);
}

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

// Splits off `count` whitespace-separated fields; returns the rest after the separator that
// follows the last field (the separating whitespace itself is dropped up to `gap` characters).
std::vector<std::string> Fields(const std::string& line, std::size_t count, std::string* rest,
                                std::size_t gap = 1) {
  std::vector<std::string> fields;
  std::size_t pos = 0;
  while (fields.size() < count) {
    pos = line.find_first_not_of(' ', pos);
    if (pos == std::string::npos) break;
    std::size_t end = line.find(' ', pos);
    if (end == std::string::npos) end = line.size();
    fields.push_back(line.substr(pos, end - pos));
    pos = end;
  }
  if (rest != nullptr) *rest = pos + gap <= line.size() ? line.substr(pos + gap) : std::string();
  return fields;
}

RunResult Checked(const std::string& reader, const std::vector<std::string>& argv,
                  int worstExitCode = 0) {
  RunResult r = RunProgram(argv);
  if (r.exitCode < 0 || r.exitCode > worstExitCode) {
    std::string cmd;
    for (const std::string& a : argv) cmd += (cmd.empty() ? "" : " ") + a;
    throw std::runtime_error(reader + " failed (exit " + std::to_string(r.exitCode) + "): " + cmd +
                             "\n" + r.err + (r.err.empty() ? r.out.substr(0, 2000) : ""));
  }
  return r;
}

void AddEntry(Listing& listing, const std::string& reader, const std::string& path, bool dir,
              std::int64_t size, std::string toolPath) {
  if (path.empty() || path == "/") return;
  Listed e;
  e.directory = dir;
  e.size = dir ? 0 : size;
  e.toolPath = std::move(toolPath);
  if (!listing.emplace(path, std::move(e)).second) {
    throw std::runtime_error(reader + " lists " + path + " twice");
  }
}

// Parent directories that a tool shows only implicitly (as part of a file's path).
void AddImplicitDirectories(Listing& listing) {
  std::vector<std::string> missing;
  for (const auto& [path, e] : listing) {
    for (std::size_t slash = path.find('/', 1); slash != std::string::npos;
         slash = path.find('/', slash + 1)) {
      std::string parent = path.substr(0, slash);
      if (listing.find(parent) == listing.end()) missing.push_back(parent);
    }
  }
  for (const std::string& p : missing) {
    Listed d;
    d.directory = true;
    d.toolPath = p;
    listing.emplace(p, d);
  }
}

std::int64_t ToSize(const std::string& field, const std::string& reader) {
  try {
    std::size_t used = 0;
    std::int64_t v = std::stoll(field, &used);
    if (used == field.size()) return v;
  } catch (const std::exception&) {
  }
  throw std::runtime_error(reader + ": cannot read a size from \"" + field + "\"");
}

void MakeFolder(const std::string& folder) {
  fs::create_directories(folder);
}

// The name without a version (";1") and then without a trailing ".".
std::string WithoutVersionAndDot(std::u16string_view name) {
  std::string s = Utf8(name);
  if (s.size() > 2 && s.compare(s.size() - 2, 2, ";1") == 0) s.resize(s.size() - 2);
  if (!s.empty() && s.back() == '.') s.pop_back();
  return s;
}

// --- pycdlib: the helper script walks pycdlib's parsed records and uses get_file_from_iso_fp.
class PycdlibReader : public Reader {
 public:
  std::string Name() const override { return "pycdlib"; }
  std::vector<std::string> Programs() const override { return {"/usr/bin/python3"}; }
  bool Lists(Namespace) const override { return true; }
  bool Extracts(Namespace) const override { return true; }
  // pycdlib finds ISO 9660 paths through UTF-8 text, so a name holding bytes above 0x7F cannot
  // be named to get_file_from_iso_fp; such files are reached through their Joliet path.
  bool CanExtract(Namespace ns, std::u16string_view path) const override {
    if (ns == Namespace::kJoliet) return true;
    return std::all_of(path.begin(), path.end(), [](char16_t c) { return c < 0x80; });
  }
  Listing List(const std::string& image, Namespace ns) const override {
    RunResult r = Checked(Name(), {"/usr/bin/python3", Script(), "list", image});
    const std::string want = ns == Namespace::kJoliet ? "joliet" : "iso";
    Listing listing;
    for (const std::string& line : SplitLines(r.out)) {
      // namespace TAB kind TAB size TAB path
      std::vector<std::string> f;
      std::size_t start = 0;
      while (f.size() < 3) {
        std::size_t tab = line.find('\t', start);
        if (tab == std::string::npos) break;
        f.push_back(line.substr(start, tab - start));
        start = tab + 1;
      }
      if (f.size() != 3) continue;
      std::string path = line.substr(start);
      if (f[0] != want) continue;
      AddEntry(listing, Name(), path, f[1] == "D", ToSize(f[2], Name()), path);
    }
    return listing;
  }
  void ExtractAll(const std::string& image, Namespace ns,
                  const std::string& folder) const override {
    MakeFolder(folder);
    // ISO 9660 names with bytes above 0x7F are skipped by the script (see CanExtract).
    Checked(Name(), {"/usr/bin/python3", Script(), "extract", image,
                     ns == Namespace::kJoliet ? "joliet" : "iso", folder});
  }

 private:
  static std::string Script() { return ReaderScriptDir() + "/pycdlib_reader.py"; }
};

// --- isoinfo: -l (and -J -l) listings, -x (and -J -x) extraction to standard output.
class IsoinfoReader : public Reader {
 public:
  std::string Name() const override { return "isoinfo"; }
  std::vector<std::string> Programs() const override { return {"isoinfo"}; }
  bool Lists(Namespace) const override { return true; }
  bool Extracts(Namespace) const override { return true; }
  // isoinfo prints Joliet names in Latin-1; a character beyond it comes out as "_".
  std::string Shown(Namespace ns, std::u16string_view name) const override {
    if (ns == Namespace::kIso9660) return Utf8(name);
    std::u16string s(name);
    for (char16_t& c : s) {
      if (c > 0xFF) c = u'_';
    }
    return Utf8(s);
  }
  Listing List(const std::string& image, Namespace ns) const override {
    std::vector<std::string> argv = {"isoinfo", "-l", "-i", image};
    if (ns == Namespace::kJoliet) argv.insert(argv.begin() + 1, "-J");
    RunResult r = Checked(Name(), argv);
    Listing listing;
    std::string dir;  // raw bytes, "/" ... "/"
    for (const std::string& line : SplitLines(r.out)) {
      static const std::string kHeader = "Directory listing of ";
      if (line.rfind(kHeader, 0) == 0) {
        dir = line.substr(kHeader.size());
        continue;
      }
      if (line.empty() || (line[0] != 'd' && line[0] != '-')) continue;
      std::size_t bracket = line.find("]  ");
      if (bracket == std::string::npos) continue;
      std::string name = line.substr(bracket + 3);
      if (!name.empty() && name.back() == ' ') name.pop_back();  // isoinfo ends each line so
      if (name == "." || name == "..") continue;
      std::vector<std::string> f = Fields(line, 5, nullptr);
      std::string raw = dir + name;
      // ISO 9660 names are Windows-1252 bytes; Joliet names come out as Latin-1.
      std::string path =
          ns == Namespace::kIso9660 ? Utf8(DecodeWindows1252(raw)) : Latin1ToUtf8(raw);
      AddEntry(listing, Name(), path, line[0] == 'd', ToSize(f.at(4), Name()), raw);
    }
    return listing;
  }
  void ExtractAll(const std::string& image, Namespace ns,
                  const std::string& folder) const override {
    MakeFolder(folder);
    for (const auto& [path, e] : List(image, ns)) {
      fs::path target = fs::path(folder) / path.substr(1);
      if (e.directory) {
        fs::create_directories(target);
        continue;
      }
      std::vector<std::string> argv = {"isoinfo", "-i", image, "-x", e.toolPath};
      if (ns == Namespace::kJoliet) argv.insert(argv.begin() + 1, "-J");
      RunResult r = Checked(Name(), argv);
      fs::create_directories(target.parent_path());
      std::ofstream(target, std::ios::binary) << r.out;
    }
  }
};

// xorriso quotes each path of -exec lsdl in '...', writing a quote inside as '"'"'.
std::string XorrisoUnquote(const std::string& s) {
  std::string out;
  std::size_t i = 0;
  while (i < s.size()) {
    char q = s[i];
    if (q != '\'' && q != '"') {
      out.push_back(s[i++]);
      continue;
    }
    std::size_t end = s.find(q, i + 1);
    if (end == std::string::npos) end = s.size();
    out += s.substr(i + 1, end - i - 1);
    i = end + 1;
  }
  return out;
}

// The Windows-1252 bytes of a name decoded by DecodeWindows1252 (its exact inverse).
std::string Windows1252Bytes(std::u16string_view name) {
  std::string out;
  for (char16_t c : name) {
    unsigned char b = '?';
    for (unsigned v = 0; v < 256; ++v) {
      char byte = static_cast<char>(v);
      if (DecodeWindows1252(std::string_view(&byte, 1))[0] == c) {
        b = static_cast<unsigned char>(v);
        break;
      }
    }
    out.push_back(static_cast<char>(b));
  }
  return out;
}

// RFC 1321 MD5, lower-case hex: xorriso appends it to names it cannot show.
std::string Md5Hex(const std::string& message) {
  static const std::uint32_t k[64] = {
      0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613,
      0xfd469501, 0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193,
      0xa679438e, 0x49b40821, 0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d,
      0x02441453, 0xd8a1e681, 0xe7d3fbc8, 0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed,
      0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a, 0xfffa3942, 0x8771f681, 0x6d9d6122,
      0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70, 0x289b7ec6, 0xeaa127fa,
      0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665, 0xf4292244,
      0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
      0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb,
      0xeb86d391};
  static const int r[64] = {7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22,
                            5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20,
                            4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23,
                            6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21};
  std::string m = message;
  std::uint64_t bits = std::uint64_t{message.size()} * 8;
  m.push_back(static_cast<char>(0x80));
  while (m.size() % 64 != 56) m.push_back('\0');
  for (int i = 0; i < 8; ++i) m.push_back(static_cast<char>(bits >> (8 * i)));
  std::uint32_t h[4] = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476};
  for (std::size_t chunk = 0; chunk < m.size(); chunk += 64) {
    std::uint32_t w[16];
    for (int i = 0; i < 16; ++i) {
      w[i] = 0;
      for (int b = 3; b >= 0; --b) {
        w[i] = w[i] << 8 | static_cast<unsigned char>(m[chunk + std::size_t(4 * i + b)]);
      }
    }
    std::uint32_t a = h[0], b = h[1], c = h[2], d = h[3];
    for (int i = 0; i < 64; ++i) {
      std::uint32_t f;
      int g;
      if (i < 16) {
        f = (b & c) | (~b & d);
        g = i;
      } else if (i < 32) {
        f = (d & b) | (~d & c);
        g = (5 * i + 1) % 16;
      } else if (i < 48) {
        f = b ^ c ^ d;
        g = (3 * i + 5) % 16;
      } else {
        f = c ^ (b | ~d);
        g = (7 * i) % 16;
      }
      std::uint32_t sum = a + f + k[i] + w[g];
      a = d;
      d = c;
      c = b;
      b = b + (sum << r[i] | sum >> (32 - r[i]));
    }
    h[0] += a;
    h[1] += b;
    h[2] += c;
    h[3] += d;
  }
  static const char* digits = "0123456789abcdef";
  std::string hex;
  for (std::uint32_t v : h) {
    for (int i = 0; i < 4; ++i) {
      unsigned byte = v >> (8 * i) & 0xFF;
      hex.push_back(digits[byte >> 4]);
      hex.push_back(digits[byte & 15]);
    }
  }
  return hex;
}

// --- xorriso: -find / -exec lsdl on the ISO 9660 tree (-read_fs ecma119) or the Joliet tree
// (loaded by default when the image has no Rock Ridge); -osirrox on -extract for Joliet.
class XorrisoReader : public Reader {
 public:
  std::string Name() const override { return "xorriso"; }
  std::vector<std::string> Programs() const override { return {"xorriso"}; }
  bool Lists(Namespace) const override { return true; }
  bool Extracts(Namespace ns) const override { return ns == Namespace::kJoliet; }
  // xorriso shows ISO 9660 names without a version (";1"), and drops the "." that ends a name
  // right before its version ("MAKEFILE.;1" shows as "MAKEFILE"; "DATA." stays "DATA.").
  std::string Shown(Namespace ns, std::u16string_view name) const override {
    std::string s = Utf8(name);
    if (ns == Namespace::kIso9660 && s.size() > 2 && s.compare(s.size() - 2, 2, ";1") == 0) {
      s.resize(s.size() - 2);
      if (!s.empty() && s.back() == '.') s.pop_back();
    }
    return s;
  }
  // xorriso reads ISO 9660 names as ASCII whatever -in_charset says: a name holding a byte
  // above 0x7F comes out as the name with every character but digits, "." and "_" turned into
  // "_", padded with "_" to 8 characters, followed by the MD5 of the recorded bytes in hex.
  bool Matches(Namespace ns, std::u16string_view name, const std::string& shown) const override {
    if (Shown(ns, name) == shown) return true;
    if (ns != Namespace::kIso9660 ||
        std::all_of(name.begin(), name.end(), [](char16_t c) { return c < 0x80; })) {
      return false;
    }
    std::string mangled;
    for (char16_t c : name) {
      bool kept = (c >= u'0' && c <= u'9') || c == u'.' || c == u'_';
      mangled.push_back(kept ? static_cast<char>(c) : '_');
    }
    if (mangled.size() < 8) mangled.resize(8, '_');
    return shown == mangled + Md5Hex(Windows1252Bytes(name));
  }
  Listing List(const std::string& image, Namespace ns) const override {
    std::vector<std::string> argv = {"xorriso",      "-abort_on", "FAILURE",
                                     "-return_with", "SORRY",     "0"};
    if (ns == Namespace::kIso9660) argv.insert(argv.end(), {"-read_fs", "ecma119"});
    argv.insert(argv.end(), {"-indev", image, "-find", "/", "-exec", "lsdl", "--"});
    RunResult r = Checked(Name(), argv);
    Listing listing;
    for (const std::string& line : SplitLines(r.out)) {
      if (line.empty() || (line[0] != 'd' && line[0] != '-')) continue;
      std::string rest;
      std::vector<std::string> f = Fields(line, 8, &rest);
      if (f.size() != 8) continue;
      std::string path = XorrisoUnquote(rest);
      AddEntry(listing, Name(), path, line[0] == 'd', ToSize(f[4], Name()), path);
    }
    return listing;
  }
  void ExtractAll(const std::string& image, Namespace, const std::string& folder) const override {
    MakeFolder(folder);
    Checked(Name(), {"xorriso", "-abort_on", "FAILURE", "-return_with", "SORRY", "0", "-osirrox",
                     "on", "-indev", image, "-extract", "/", folder});
  }
};

// --- 7-Zip: "l -slt" and "x"; it shows the Joliet tree whenever the image has one, and the
// ISO 9660 tree only of an image without Joliet.
class SevenZipReader : public Reader {
 public:
  std::string Name() const override { return "7z"; }
  std::vector<std::string> Programs() const override { return {"7z"}; }
  bool Lists(Namespace) const override { return true; }
  // 7-Zip writes ISO 9660 names to disk as their recorded bytes; only Joliet names are text.
  bool Extracts(Namespace ns) const override { return ns == Namespace::kJoliet; }
  bool ShowsIso9660BesideJoliet() const override { return false; }
  // 7-Zip shows ISO 9660 names without a version (";1") and without a trailing ".".
  std::string Shown(Namespace ns, std::u16string_view name) const override {
    return ns == Namespace::kIso9660 ? WithoutVersionAndDot(name) : Utf8(name);
  }
  Listing List(const std::string& image, Namespace ns) const override {
    RunResult r = Checked(Name(), {"7z", "l", "-slt", image});
    Listing listing;
    bool inEntries = false;
    std::string path;
    std::string size;
    bool folder = false;
    auto flush = [&] {
      if (!path.empty()) {
        // ISO 9660 names come out as the recorded Windows-1252 bytes.
        std::string shown = ns == Namespace::kIso9660 ? Utf8(DecodeWindows1252(path)) : path;
        AddEntry(listing, Name(), "/" + shown, folder, folder ? 0 : ToSize(size, Name()), path);
      }
      path.clear();
      size.clear();
      folder = false;
    };
    for (const std::string& line : SplitLines(r.out)) {
      if (line == "----------") {
        inEntries = true;
        continue;
      }
      if (!inEntries) continue;
      if (line.empty()) {
        flush();
      } else if (line.rfind("Path = ", 0) == 0) {
        path = line.substr(7);
      } else if (line.rfind("Size = ", 0) == 0) {
        size = line.substr(7);
      } else if (line.rfind("Folder = ", 0) == 0) {
        folder = line.substr(9) == "+";
      }
    }
    flush();
    AddImplicitDirectories(listing);
    return listing;
  }
  void ExtractAll(const std::string& image, Namespace, const std::string& folder) const override {
    MakeFolder(folder);
    Checked(Name(), {"7z", "x", "-y", "-bd", "-o" + folder, image});
  }
};

// bsdtar's listing writes a byte that is not printable text in the locale as "\ooo" (octal).
std::string BsdtarUnescape(const std::string& s) {
  auto octal = [&](std::size_t k) { return k < s.size() && s[k] >= '0' && s[k] <= '7'; };
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\\' && octal(i + 1) && octal(i + 2) && octal(i + 3)) {
      out.push_back(
          static_cast<char>((s[i + 1] - '0') * 64 + (s[i + 2] - '0') * 8 + (s[i + 3] - '0')));
      i += 3;
    } else {
      out.push_back(s[i]);
    }
  }
  return out;
}

// --- bsdtar (libarchive): "tvf" for either tree (iso9660:!joliet selects ISO 9660), "xf" for
// the Joliet tree.
class BsdtarReader : public Reader {
 public:
  std::string Name() const override { return "bsdtar"; }
  std::vector<std::string> Programs() const override { return {"bsdtar"}; }
  bool Lists(Namespace) const override { return true; }
  bool Extracts(Namespace ns) const override { return ns == Namespace::kJoliet; }
  // libarchive shows ISO 9660 names without a version (";1") and without a trailing ".", and at
  // most 103 characters of a Joliet name.
  std::string Shown(Namespace ns, std::u16string_view name) const override {
    return ns == Namespace::kIso9660 ? WithoutVersionAndDot(name) : Utf8(name.substr(0, 103));
  }
  Listing List(const std::string& image, Namespace ns) const override {
    std::vector<std::string> argv = {"bsdtar", "-tvf", image};
    if (ns == Namespace::kIso9660) argv.insert(argv.begin() + 1, {"--options", "iso9660:!joliet"});
    RunResult r = Checked(Name(), argv);
    Listing listing;
    for (const std::string& line : SplitLines(r.out)) {
      if (line.empty()) continue;
      std::string rest;
      std::vector<std::string> f = Fields(line, 8, &rest);
      if (f.size() != 8 || rest == "." || rest == "./") continue;
      std::string raw = BsdtarUnescape(rest);
      if (!raw.empty() && raw.back() == '/') raw.pop_back();
      // ISO 9660 names come through as the recorded Windows-1252 bytes.
      std::string path = ns == Namespace::kIso9660 ? Utf8(DecodeWindows1252(raw)) : raw;
      AddEntry(listing, Name(), "/" + path, line[0] == 'd', ToSize(f[4], Name()), raw);
    }
    AddImplicitDirectories(listing);
    return listing;
  }
  void ExtractAll(const std::string& image, Namespace, const std::string& folder) const override {
    MakeFolder(folder);
    Checked(Name(), {"bsdtar", "-xf", image, "-C", folder});
  }
};

// --- libcdio: iso-info -l (Joliet unless --no-joliet), iso-read -e for the ISO 9660 tree.
class IsoInfoReader : public Reader {
 public:
  std::string Name() const override { return "iso-info"; }
  std::vector<std::string> Programs() const override { return {"iso-info", "iso-read"}; }
  bool Lists(Namespace) const override { return true; }
  bool Extracts(Namespace ns) const override { return ns == Namespace::kIso9660; }
  // libcdio shows ISO 9660 names with ASCII letters in lower case, without a version (";1"),
  // and drops the "." that ends a name right before its version ("MAKEFILE.;1" shows as
  // "makefile"; "DATA." as "data.").
  std::string Shown(Namespace ns, std::u16string_view name) const override {
    std::string s = Utf8(name);
    if (ns == Namespace::kIso9660) {
      if (s.size() > 2 && s.compare(s.size() - 2, 2, ";1") == 0) {
        s.resize(s.size() - 2);
        if (!s.empty() && s.back() == '.') s.pop_back();
      }
      s = Lower(s);
    }
    return s;
  }
  // libcdio converts a Joliet name into a UTF-8 buffer of the name's UCS-2 byte length, so a
  // name whose UTF-8 form is longer comes out cut: such a shown name must be a prefix of it.
  // It also shows a ";" of a Joliet name as "." (as if it began a version).
  bool Matches(Namespace ns, std::u16string_view name, const std::string& shown) const override {
    if (ns == Namespace::kJoliet && name.find(u';') != std::u16string_view::npos) {
      std::u16string dotted(name);
      std::replace(dotted.begin(), dotted.end(), u';', u'.');
      return Matches(ns, dotted, shown);
    }
    std::string full = Shown(ns, name);
    if (shown == full) return true;
    return ns == Namespace::kJoliet && full.size() > 2 * name.size() && !shown.empty() &&
           full.compare(0, shown.size(), shown) == 0;
  }
  // libcdio looks a Joliet directory up by its shown name, in which ";" became ".", and so
  // cannot open a directory whose name holds ";" ("Error getting above directory information").
  bool Reaches(Namespace ns, std::u16string_view path) const override {
    if (ns != Namespace::kJoliet) return true;
    std::size_t lastSlash = path.rfind(u'/');
    return path.substr(0, lastSlash == std::u16string_view::npos ? 0 : lastSlash).find(u';') ==
           std::u16string_view::npos;
  }
  Listing List(const std::string& image, Namespace ns) const override {
    std::vector<std::string> argv = {"iso-info", "--no-header", "-l", "-i", image};
    if (ns == Namespace::kIso9660) argv.push_back("--no-joliet");
    RunResult r = Checked(Name(), argv);
    Listing listing;
    std::string dir = "/";
    for (const std::string& line : SplitLines(r.out)) {
      if (!line.empty() && line[0] == '/' && line.size() >= 2 &&
          line.compare(line.size() - 2, 2, "/:") == 0) {
        dir = line.substr(0, line.size() - 1);
        // Headers keep a ";" of a Joliet name that the entry lines show as ".": the listing
        // takes the entries' form, so that children sit below their directory's shown name.
        if (ns == Namespace::kJoliet) std::replace(dir.begin(), dir.end(), ';', '.');
        continue;
      }
      if (line.size() < 4 || line[0] != ' ' || line[1] != ' ' || (line[2] != 'd' && line[2] != '-'))
        continue;
      std::size_t bracket = line.find(']');
      if (bracket == std::string::npos) continue;
      std::string name;
      // size, month, day, year, time, then two spaces and the name
      std::vector<std::string> f = Fields(line.substr(bracket + 1), 5, &name, 2);
      if (f.size() != 5 || name == "." || name == "..") continue;
      std::string raw = dir + name;
      std::string path = ns == Namespace::kIso9660 ? Utf8(DecodeWindows1252(raw)) : raw;
      AddEntry(listing, Name(), path, line[2] == 'd', ToSize(f[0], Name()), raw);
    }
    return listing;
  }
  void ExtractAll(const std::string& image, Namespace ns,
                  const std::string& folder) const override {
    MakeFolder(folder);
    for (const auto& [path, e] : List(image, ns)) {
      fs::path target = fs::path(folder) / path.substr(1);
      if (e.directory) {
        fs::create_directories(target);
        continue;
      }
      fs::create_directories(target.parent_path());
      Checked(Name(),
              {"iso-read", "--no-header", "-i", image, "-e", e.toolPath, "-o", target.string()});
    }
  }
};

}  // namespace

bool Reader::Available() const {
  for (const std::string& p : Programs()) {
    if (!ProgramAvailable(p)) return false;
  }
  return true;
}

std::string Reader::Shown(Namespace, std::u16string_view name) const {
  return Utf8(name);
}

bool Reader::Matches(Namespace ns, std::u16string_view name, const std::string& shown) const {
  return Shown(ns, name) == shown;
}

bool Reader::CanExtract(Namespace, std::u16string_view) const {
  return true;
}

bool Reader::Reaches(Namespace, std::u16string_view) const {
  return true;
}

const std::vector<const Reader*>& AllReaders() {
  static const PycdlibReader pycdlib;
  static const IsoinfoReader isoinfo;
  static const XorrisoReader xorriso;
  static const SevenZipReader sevenZip;
  static const BsdtarReader bsdtar;
  static const IsoInfoReader isoInfo;
  static const std::vector<const Reader*> all = {&pycdlib,  &isoinfo, &xorriso,
                                                 &sevenZip, &bsdtar,  &isoInfo};
  return all;
}

std::vector<std::string> CompareListing(const Reader& reader, Namespace ns,
                                        const std::vector<ExpectedEntry>& expected,
                                        const Listing& listing,
                                        std::map<std::u16string, std::string>* shownPaths) {
  const std::string who = reader.Name() + " (" + NamespaceName(ns) + ")";
  std::vector<std::string> problems;
  // Shown entries grouped by their parent's shown path.
  std::map<std::string, std::vector<std::pair<std::string, const Listed*>>> shownChildren;
  for (const auto& [path, e] : listing) {
    std::size_t slash = path.rfind('/');
    shownChildren[path.substr(0, slash)].emplace_back(path.substr(slash + 1), &e);
  }
  std::map<std::u16string, std::string> shownOf = {{u"", ""}};
  std::set<std::string> used;
  for (const ExpectedEntry& x : expected) {
    std::size_t slash = x.path.rfind(u'/');
    std::u16string parent = x.path.substr(0, slash);
    std::u16string name = x.path.substr(slash + 1);
    if (!reader.Reaches(ns, x.path)) continue;  // the reader's named limitation
    auto parentShown = shownOf.find(parent);
    if (parentShown == shownOf.end()) continue;  // its parent was missing already
    const std::string& dir = parentShown->second;
    // Where a reader's convention lets several shown names stand for this one, an entry of the
    // same kind and size is preferred.
    const std::pair<std::string, const Listed*>* hit = nullptr;
    for (int pass = 0; pass < 2 && hit == nullptr; ++pass) {
      for (const auto& c : shownChildren[dir]) {
        if (used.count(dir + "/" + c.first) != 0 || !reader.Matches(ns, name, c.first)) continue;
        bool alike = c.second->directory == x.directory && c.second->size == x.size;
        if (pass == 1 || alike) {
          hit = &c;
          break;
        }
      }
    }
    if (hit == nullptr) {
      problems.push_back(who + " does not list " + Utf8(x.path) + " (expected as \"" +
                         reader.Shown(ns, name) + "\" in " + (dir.empty() ? "/" : dir) + ")");
      continue;
    }
    std::string shownPath = dir + "/" + hit->first;
    used.insert(shownPath);
    shownOf[x.path] = shownPath;
    if (hit->second->directory != x.directory) {
      problems.push_back(who + " shows " + shownPath +
                         (x.directory ? " as a file" : " as a directory"));
    } else if (!x.directory && hit->second->size != x.size) {
      problems.push_back(who + " shows " + shownPath + " with " +
                         std::to_string(hit->second->size) + " bytes, the image records " +
                         std::to_string(x.size));
    }
  }
  for (const auto& [path, e] : listing) {
    if (used.count(path) == 0 && shownOf.size() > 0) {
      bool parentMissing = false;
      std::size_t slash = path.rfind('/');
      std::string parent = path.substr(0, slash);
      if (!parent.empty() && used.count(parent) == 0) parentMissing = true;
      if (!parentMissing)
        problems.push_back(who + " lists " + path + ", which the image does not hold");
    }
  }
  if (shownPaths != nullptr) {
    shownOf.erase(u"");
    *shownPaths = std::move(shownOf);
  }
  return problems;
}

std::vector<ExpectedEntry> ExpectedFrom(const Volume& volume) {
  std::vector<ExpectedEntry> out;
  WalkEntries(volume.root, [&](const std::u16string& path, const Entry& e) {
    out.push_back({path, e.IsDirectory(), e.IsDirectory() ? 0 : std::int64_t{e.size()}});
  });
  return out;
}

std::vector<std::string> CheckWithReader(
    const Reader& reader, Namespace ns, const std::string& image,
    const std::vector<ExpectedEntry>& expected,
    const std::function<std::string(const std::u16string& path)>& contentOf,
    const std::string& scratch) {
  const std::string who = reader.Name() + " (" + NamespaceName(ns) + ")";
  std::vector<std::string> problems;
  std::map<std::u16string, std::string> shown;
  try {
    problems = CompareListing(reader, ns, expected, reader.List(image, ns), &shown);
  } catch (const std::exception& e) {
    return {who + " cannot list the image: " + e.what()};
  }
  if (!reader.Extracts(ns)) return problems;
  std::string folder =
      scratch + "/" + reader.Name() + (ns == Namespace::kJoliet ? "-joliet" : "-iso");
  try {
    reader.ExtractAll(image, ns, folder);
  } catch (const std::exception& e) {
    problems.push_back(who + " cannot extract: " + e.what());
    return problems;
  }
  for (const ExpectedEntry& x : expected) {
    if (x.directory || !reader.CanExtract(ns, x.path)) continue;
    auto s = shown.find(x.path);
    if (s == shown.end()) continue;  // reported by the listing already
    std::string file = folder + s->second;
    std::ifstream in(file, std::ios::binary);
    if (!in) {
      problems.push_back(who + " did not extract " + Utf8(x.path) + " to " + file);
      continue;
    }
    std::string got((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::string want = contentOf(x.path);
    if (got != want) {
      std::size_t at = 0;
      while (at < got.size() && at < want.size() && got[at] == want[at]) ++at;
      problems.push_back(who + " extracts " + Utf8(x.path) + " as " + std::to_string(got.size()) +
                         " bytes, differing from the " + std::to_string(want.size()) +
                         " source bytes at offset " + std::to_string(at));
    }
  }
  return problems;
}

}  // namespace tavrine::testing
