#include "support/readers.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <set>
#include <stdexcept>

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

bool Reader::Available() const {
  const std::vector<std::string> programs = Programs();
  return std::all_of(programs.begin(), programs.end(), ProgramAvailable);
}

namespace {

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  for (std::size_t start = 0; start < text.size();) {
    std::size_t end = std::min(text.find('\n', start), text.size());
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

// Splits off `count` space-separated fields; *rest is what follows the last field after `gap`
// separating characters.
std::vector<std::string> Fields(const std::string& line, std::size_t count, std::string* rest,
                                std::size_t gap = 1) {
  std::vector<std::string> fields;
  std::size_t pos = 0;
  while (fields.size() < count && (pos = line.find_first_not_of(' ', pos)) != std::string::npos) {
    std::size_t end = std::min(line.find(' ', pos), line.size());
    fields.push_back(line.substr(pos, end - pos));
    pos = end;
  }
  if (rest != nullptr) *rest = pos + gap <= line.size() ? line.substr(pos + gap) : std::string();
  return fields;
}

RunResult Checked(const std::string& reader, const std::vector<std::string>& argv) {
  RunResult r = RunProgram(argv);
  if (r.exitCode != 0) {
    std::string cmd;
    for (const std::string& a : argv) cmd += " " + a;
    throw std::runtime_error(reader + " failed (exit " + std::to_string(r.exitCode) + "):" + cmd +
                             "\n" + r.err + (r.err.empty() ? r.out.substr(0, 2000) : ""));
  }
  return r;
}

std::int64_t ToSize(const std::string& field, const std::string& reader) {
  std::size_t used = 0;
  try {
    std::int64_t v = std::stoll(field, &used);
    if (used == field.size()) return v;
  } catch (const std::exception&) {
  }
  throw std::runtime_error(reader + ": cannot read a size from \"" + field + "\"");
}

// A path as most tools print it: ISO 9660 names as the recorded Windows-1252 bytes.
std::string FromTool(Namespace ns, const std::string& raw) {
  return ns == Namespace::kIso9660 ? Utf8(DecodeWindows1252(raw)) : raw;
}

// Adds an entry at path (UTF-8); raw is the path as the tool printed it.
void Add(Listing& listing, const std::string& reader, std::string path, const std::string& raw,
         bool dir, const std::string& size) {
  if (path.empty() || path[0] != '/') path = "/" + path;
  if (path == "/") return;
  if (!listing.emplace(path, Listed{dir, dir ? 0 : ToSize(size, reader), raw}).second) {
    throw std::runtime_error(reader + " lists " + path + " twice");
  }
}

// Parent directories that a tool shows only as part of a file's path.
void AddImplicitDirectories(Listing& listing) {
  Listing parents;
  for (const auto& [path, e] : listing) {
    for (std::size_t s = path.find('/', 1); s != std::string::npos; s = path.find('/', s + 1)) {
      parents.emplace(path.substr(0, s), Listed{true, 0, path.substr(0, s)});
    }
  }
  listing.merge(parents);
}

// Extraction one file at a time: writeOne(entry, target) writes the file at target.
void ExtractEach(const Listing& listing, const std::string& folder,
                 const std::function<void(const Listed&, const std::string&)>& writeOne) {
  for (const auto& [path, e] : listing) {
    fs::path target = fs::path(folder) / path.substr(1);
    fs::create_directories(e.directory ? target : target.parent_path());
    if (!e.directory) writeOne(e, target.string());
  }
}

// The ISO 9660 name without its version (";1"), and then without the "." that ended the name
// before the version, or (dotAlways) without any trailing ".".
std::string WithoutVersion(std::u16string_view name, bool dotAlways) {
  std::string s = Utf8(name);
  bool version = s.size() > 2 && s.compare(s.size() - 2, 2, ";1") == 0;
  if (version) s.resize(s.size() - 2);
  if ((version || dotAlways) && !s.empty() && s.back() == '.') s.pop_back();
  return s;
}

// --- pycdlib: the helper script walks pycdlib's parsed records and uses get_file_from_iso_fp.
class PycdlibReader : public Reader {
 public:
  std::string Name() const override { return "pycdlib"; }
  std::vector<std::string> Programs() const override { return {"/usr/bin/python3"}; }
  bool Extracts(Namespace) const override { return true; }
  // pycdlib finds ISO 9660 paths through UTF-8 text, so a name holding bytes above 0x7F cannot
  // be named to get_file_from_iso_fp; the script skips such files, reached through Joliet.
  bool CanExtract(Namespace ns, std::u16string_view path) const override {
    return ns == Namespace::kJoliet ||
           std::all_of(path.begin(), path.end(), [](char16_t c) { return c < 0x80; });
  }
  Listing List(const std::string& image, Namespace ns) const override {
    Listing listing;
    // namespace TAB D|F TAB size TAB path
    for (const std::string& line : SplitLines(Run({"list", image}).out)) {
      std::size_t a = line.find('\t');
      std::size_t b = line.find('\t', a + 1);
      std::size_t c = line.find('\t', b + 1);
      if (c == std::string::npos || line.substr(0, a) != Ns(ns)) continue;
      std::string path = line.substr(c + 1);
      Add(listing, Name(), path, path, line[a + 1] == 'D', line.substr(b + 1, c - b - 1));
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
  RunResult Run(std::vector<std::string> args) const {
    args.insert(args.begin(), {"/usr/bin/python3", ReaderScriptDir() + "/pycdlib_reader.py"});
    return Checked(Name(), args);
  }
};

// --- isoinfo: -l (and -J -l) listings, -x (and -J -x) extraction to standard output.
class IsoinfoReader : public Reader {
 public:
  std::string Name() const override { return "isoinfo"; }
  std::vector<std::string> Programs() const override { return {"isoinfo"}; }
  bool Extracts(Namespace) const override { return true; }
  // isoinfo prints Joliet names in Latin-1; a character beyond it comes out as "_".
  std::string Shown(Namespace ns, std::u16string_view name) const override {
    std::u16string s(name);
    for (char16_t& c : s) c = ns == Namespace::kJoliet && c > 0xFF ? u'_' : c;
    return Utf8(s);
  }
  Listing List(const std::string& image, Namespace ns) const override {
    Listing listing;
    std::string dir;  // raw bytes, "/" ... "/"
    for (const std::string& line : SplitLines(Checked(Name(), Argv(image, ns, {"-l"})).out)) {
      static const std::string kHeader = "Directory listing of ";
      std::size_t bracket = line.find("]  ");
      if (line.rfind(kHeader, 0) == 0) dir = line.substr(kHeader.size());
      if (line.empty() || (line[0] != 'd' && line[0] != '-') || bracket == std::string::npos) {
        continue;
      }
      std::string name = line.substr(bracket + 3);
      if (!name.empty() && name.back() == ' ') name.pop_back();  // isoinfo ends each line so
      if (name == "." || name == "..") continue;
      const std::string raw = dir + name;
      // Joliet names come out as Latin-1.
      std::u16string latin1;
      for (char c : raw) latin1.push_back(static_cast<unsigned char>(c));
      std::string path = ns == Namespace::kJoliet ? Utf8(latin1) : FromTool(ns, raw);
      Add(listing, Name(), path, raw, line[0] == 'd', Fields(line, 5, nullptr).at(4));
    }
    return listing;
  }
  void ExtractAll(const std::string& image, Namespace ns,
                  const std::string& folder) const override {
    ExtractEach(List(image, ns), folder, [&](const Listed& e, const std::string& target) {
      std::ofstream(target, std::ios::binary)
          << Checked(Name(), Argv(image, ns, {"-x", e.toolPath})).out;
    });
  }

 private:
  static std::vector<std::string> Argv(const std::string& image, Namespace ns,
                                       const std::vector<std::string>& more) {
    std::vector<std::string> argv = {"isoinfo", "-i", image};
    if (ns == Namespace::kJoliet) argv.push_back("-J");
    argv.insert(argv.end(), more.begin(), more.end());
    return argv;
  }
};

// xorriso quotes each path of -exec lsdl in '...', writing a quote inside as '"'"'.
std::string XorrisoUnquote(const std::string& s) {
  std::string out;
  for (std::size_t i = 0; i < s.size();) {
    char q = s[i];
    if (q != '\'' && q != '"') {
      out.push_back(s[i++]);
      continue;
    }
    std::size_t end = std::min(s.find(q, i + 1), s.size());
    out += s.substr(i + 1, end - i - 1);
    i = end + 1;
  }
  return out;
}

// RFC 1321 MD5 of the Windows-1252 bytes of a name (recorded bytes), lower-case hex.
std::string Md5Hex(std::u16string_view name) {
  std::string m;
  for (char16_t c : name) {  // the byte that DecodeWindows1252 turns into c
    unsigned v = 0;
    while (v < 255 && DecodeWindows1252(std::string(1, static_cast<char>(v)))[0] != c) ++v;
    m.push_back(static_cast<char>(v));
  }
  const std::uint64_t bits = std::uint64_t{m.size()} * 8;
  m.push_back(static_cast<char>(0x80));
  while (m.size() % 64 != 56) m.push_back('\0');
  for (int i = 0; i < 8; ++i) m.push_back(static_cast<char>(bits >> (8 * i)));
  static const int kShift[4][4] = {
      {7, 12, 17, 22}, {5, 9, 14, 20}, {4, 11, 16, 23}, {6, 10, 15, 21}};
  std::uint32_t h[4] = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476};
  for (std::size_t chunk = 0; chunk < m.size(); chunk += 64) {
    std::uint32_t a = h[0], b = h[1], c = h[2], d = h[3];
    for (std::uint32_t i = 0; i < 64; ++i) {
      std::uint32_t f = i < 16   ? (b & c) | (~b & d)
                        : i < 32 ? (d & b) | (~d & c)
                        : i < 48 ? b ^ c ^ d
                                 : c ^ (b | ~d);
      std::uint32_t g = i < 16   ? i
                        : i < 32 ? (5 * i + 1) % 16
                        : i < 48 ? (3 * i + 5) % 16
                                 : 7 * i % 16;
      std::uint32_t w = 0;
      for (int k = 3; k >= 0; --k)
        w = w << 8 | static_cast<unsigned char>(m[chunk + 4 * g + std::size_t(k)]);
      // The constants are the integer parts of |sin(i + 1)| * 2^32.
      std::uint32_t sum =
          a + f + w + static_cast<std::uint32_t>(std::fabs(std::sin(i + 1.0)) * 4294967296.0);
      int r = kShift[i / 16][i % 4];
      a = d;
      d = c;
      c = b;
      b += sum << r | sum >> (32 - r);
    }
    h[0] += a;
    h[1] += b;
    h[2] += c;
    h[3] += d;
  }
  std::string hex;
  for (std::uint32_t v : h) {
    for (int i = 0; i < 4; ++i) {
      hex.push_back("0123456789abcdef"[v >> (8 * i + 4) & 15]);
      hex.push_back("0123456789abcdef"[v >> (8 * i) & 15]);
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
  bool Extracts(Namespace ns) const override { return ns == Namespace::kJoliet; }
  // xorriso shows ISO 9660 names without a version (";1"), and drops the "." that ends a name
  // right before its version ("MAKEFILE.;1" shows as "MAKEFILE"; "DATA." stays "DATA.").
  std::string Shown(Namespace ns, std::u16string_view name) const override {
    return ns == Namespace::kIso9660 ? WithoutVersion(name, false) : Utf8(name);
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
    return shown == mangled + Md5Hex(name);
  }
  Listing List(const std::string& image, Namespace ns) const override {
    std::vector<std::string> argv = {"xorriso",      "-abort_on", "FAILURE",
                                     "-return_with", "SORRY",     "0"};
    if (ns == Namespace::kIso9660) argv.insert(argv.end(), {"-read_fs", "ecma119"});
    argv.insert(argv.end(), {"-indev", image, "-find", "/", "-exec", "lsdl", "--"});
    Listing listing;
    for (const std::string& line : SplitLines(Checked(Name(), argv).out)) {
      std::string rest;
      std::vector<std::string> f = Fields(line, 8, &rest);
      if (f.size() == 8 && (line[0] == 'd' || line[0] == '-')) {
        std::string path = XorrisoUnquote(rest);
        Add(listing, Name(), path, path, line[0] == 'd', f[4]);
      }
    }
    return listing;
  }
  void ExtractAll(const std::string& image, Namespace, const std::string& folder) const override {
    fs::create_directories(folder);
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
  // 7-Zip writes ISO 9660 names to disk as their recorded bytes; only Joliet names are text.
  bool Extracts(Namespace ns) const override { return ns == Namespace::kJoliet; }
  bool ShowsIso9660BesideJoliet() const override { return false; }
  // 7-Zip shows ISO 9660 names without a version (";1") and without a trailing ".".
  std::string Shown(Namespace ns, std::u16string_view name) const override {
    return ns == Namespace::kIso9660 ? WithoutVersion(name, true) : Utf8(name);
  }
  Listing List(const std::string& image, Namespace ns) const override {
    Listing listing;
    bool inEntries = false;
    std::map<std::string, std::string> entry;  // "Path", "Size", "Folder" of one block
    for (const std::string& line :
         SplitLines(Checked(Name(), {"7z", "l", "-slt", image}).out + "\n")) {
      inEntries = inEntries || line == "----------";
      std::size_t eq = line.find(" = ");
      if (inEntries && eq != std::string::npos) entry[line.substr(0, eq)] = line.substr(eq + 3);
      if (!line.empty() || entry.count("Path") == 0) continue;
      Add(listing, Name(), FromTool(ns, entry["Path"]), entry["Path"], entry["Folder"] == "+",
          entry["Size"]);
      entry.clear();
    }
    AddImplicitDirectories(listing);
    return listing;
  }
  void ExtractAll(const std::string& image, Namespace, const std::string& folder) const override {
    fs::create_directories(folder);
    Checked(Name(), {"7z", "x", "-y", "-bd", "-o" + folder, image});
  }
};

// --- bsdtar (libarchive): "tvf" for either tree (iso9660:!joliet selects ISO 9660), "xf" for
// the Joliet tree.
class BsdtarReader : public Reader {
 public:
  std::string Name() const override { return "bsdtar"; }
  std::vector<std::string> Programs() const override { return {"bsdtar"}; }
  bool Extracts(Namespace ns) const override { return ns == Namespace::kJoliet; }
  // libarchive shows ISO 9660 names without a version (";1") and without a trailing ".", and at
  // most 103 characters of a Joliet name.
  std::string Shown(Namespace ns, std::u16string_view name) const override {
    return ns == Namespace::kIso9660 ? WithoutVersion(name, true) : Utf8(name.substr(0, 103));
  }
  Listing List(const std::string& image, Namespace ns) const override {
    std::vector<std::string> argv = {"bsdtar", "-tvf", image};
    if (ns == Namespace::kIso9660) argv.insert(argv.begin() + 1, {"--options", "iso9660:!joliet"});
    Listing listing;
    for (const std::string& line : SplitLines(Checked(Name(), argv).out)) {
      std::string rest;
      std::vector<std::string> f = Fields(line, 8, &rest);
      if (f.size() != 8 || rest == "." || rest == "./") continue;
      // A byte that is not printable text in the locale is listed as "\ooo" (octal).
      std::string raw;
      for (std::size_t i = 0; i < rest.size(); ++i) {
        bool octal = rest[i] == '\\' && i + 3 < rest.size() &&
                     rest.find_first_not_of("01234567", i + 1) >= i + 4;
        raw.push_back(octal ? static_cast<char>(std::stoi(rest.substr(i + 1, 3), nullptr, 8))
                            : rest[i]);
        if (octal) i += 3;
      }
      if (!raw.empty() && raw.back() == '/') raw.pop_back();
      Add(listing, Name(), FromTool(ns, raw), raw, line[0] == 'd', f[4]);
    }
    AddImplicitDirectories(listing);
    return listing;
  }
  void ExtractAll(const std::string& image, Namespace, const std::string& folder) const override {
    fs::create_directories(folder);
    Checked(Name(), {"bsdtar", "-xf", image, "-C", folder});
  }
};

// --- libcdio: iso-info -l (Joliet unless --no-joliet), iso-read -e for the ISO 9660 tree.
class IsoInfoReader : public Reader {
 public:
  std::string Name() const override { return "iso-info"; }
  std::vector<std::string> Programs() const override { return {"iso-info", "iso-read"}; }
  bool Extracts(Namespace ns) const override { return ns == Namespace::kIso9660; }
  // libcdio shows ISO 9660 names with ASCII letters in lower case, without a version (";1"),
  // and drops the "." that ends a name right before its version ("MAKEFILE.;1" shows as
  // "makefile"; "DATA." as "data.").
  std::string Shown(Namespace ns, std::u16string_view name) const override {
    if (ns == Namespace::kJoliet) return Utf8(name);
    std::string s = WithoutVersion(name, false);
    for (char& c : s) c = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    return s;
  }
  // libcdio converts a Joliet name into a UTF-8 buffer of the name's UCS-2 byte length, so a
  // name whose UTF-8 form is longer comes out cut: such a shown name must be a prefix of it.
  // It also shows a ";" of a Joliet name as "." (as if it began a version).
  bool Matches(Namespace ns, std::u16string_view name, const std::string& shown) const override {
    std::u16string dotted(name);
    if (ns == Namespace::kJoliet) std::replace(dotted.begin(), dotted.end(), u';', u'.');
    std::string full = Shown(ns, dotted);
    return shown == full || (ns == Namespace::kJoliet && full.size() > 2 * name.size() &&
                             !shown.empty() && full.compare(0, shown.size(), shown) == 0);
  }
  // libcdio looks a Joliet directory up by its shown name, in which ";" became ".", and so
  // cannot open a directory whose name holds ";" ("Error getting above directory information").
  bool Reaches(Namespace ns, std::u16string_view path) const override {
    return ns != Namespace::kJoliet ||
           path.substr(0, path.rfind(u'/')).find(u';') == std::u16string_view::npos;
  }
  Listing List(const std::string& image, Namespace ns) const override {
    std::vector<std::string> argv = {"iso-info", "--no-header", "-l", "-i", image};
    if (ns == Namespace::kIso9660) argv.push_back("--no-joliet");
    Listing listing;
    std::string dir = "/";
    for (const std::string& line : SplitLines(Checked(Name(), argv).out)) {
      if (line.size() >= 2 && line[0] == '/' && line.compare(line.size() - 2, 2, "/:") == 0) {
        dir = line.substr(0, line.size() - 1);
        // Headers keep a ";" of a Joliet name that the entry lines show as ".": the listing
        // takes the entries' form, so that children sit below their directory's shown name.
        if (ns == Namespace::kJoliet) std::replace(dir.begin(), dir.end(), ';', '.');
        continue;
      }
      std::size_t bracket = line.find(']');
      if (line.rfind("  d", 0) != 0 && line.rfind("  -", 0) != 0) continue;
      if (bracket == std::string::npos) continue;
      std::string name;
      // size, month, day, year, time, then two spaces and the name
      std::vector<std::string> f = Fields(line.substr(bracket + 1), 5, &name, 2);
      if (f.size() == 5 && name != "." && name != "..") {
        Add(listing, Name(), FromTool(ns, dir + name), dir + name, line[2] == 'd', f[0]);
      }
    }
    return listing;
  }
  void ExtractAll(const std::string& image, Namespace ns,
                  const std::string& folder) const override {
    ExtractEach(List(image, ns), folder, [&](const Listed& e, const std::string& target) {
      Checked(Name(), {"iso-read", "--no-header", "-i", image, "-e", e.toolPath, "-o", target});
    });
  }
};

// Holds a reader's listing against the recorded entries, directory by directory, with the
// reader's Matches; fills shownPaths (recorded path -> listing path) for the matched entries.
std::vector<std::string> CompareListing(const Reader& reader, Namespace ns,
                                        const std::vector<ExpectedEntry>& expected,
                                        const Listing& listing,
                                        std::map<std::u16string, std::string>& shownOf) {
  const std::string who = reader.Name() + " (" + NamespaceName(ns) + ")";
  std::vector<std::string> problems;
  std::map<std::string, std::vector<std::pair<std::string, const Listed*>>> shownChildren;
  for (const auto& [path, e] : listing) {
    std::size_t slash = path.rfind('/');
    shownChildren[path.substr(0, slash)].emplace_back(path.substr(slash + 1), &e);
  }
  shownOf = {{u"", ""}};
  std::set<std::string> used = {""};
  for (const ExpectedEntry& x : expected) {
    std::size_t slash = x.path.rfind(u'/');
    std::u16string name = x.path.substr(slash + 1);
    auto parent = shownOf.find(x.path.substr(0, slash));
    // Skipped: the reader's named limitation, or a parent found missing already.
    if (!reader.Reaches(ns, x.path) || parent == shownOf.end()) continue;
    const std::string dir = parent->second;
    // Where a reader's convention lets several shown names stand for this one, an entry of the
    // same kind and size is preferred.
    const std::pair<std::string, const Listed*>* hit = nullptr;
    for (int pass = 0; pass < 2 && hit == nullptr; ++pass) {
      for (const auto& c : shownChildren[dir]) {
        bool alike = c.second->directory == x.directory && c.second->size == x.size;
        if (used.count(dir + "/" + c.first) == 0 && reader.Matches(ns, name, c.first) &&
            (pass == 1 || alike)) {
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
    const std::string shownPath = dir + "/" + hit->first;
    used.insert(shownPath);
    shownOf[x.path] = shownPath;
    if (hit->second->directory != x.directory) {
      problems.push_back(who + " shows " + shownPath +
                         (x.directory ? " as a file" : " as a directory"));
    } else if (hit->second->size != x.size) {
      problems.push_back(who + " shows " + shownPath + " with " +
                         std::to_string(hit->second->size) + " bytes, the image records " +
                         std::to_string(x.size));
    }
  }
  for (const auto& [path, e] : listing) {
    if (used.count(path) == 0 && used.count(path.substr(0, path.rfind('/'))) != 0) {
      problems.push_back(who + " lists " + path + ", which the image does not hold");
    }
  }
  return problems;
}

}  // namespace

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

std::vector<ReaderCase> AllReaderCases() {
  std::vector<ReaderCase> cases;
  for (std::size_t i = 0; i < AllReaders().size(); ++i) {
    cases.push_back({i, Namespace::kIso9660});
    cases.push_back({i, Namespace::kJoliet});
  }
  return cases;
}

std::string ReaderCaseName(const ReaderCase& c) {
  std::string name = AllReaders().at(c.reader)->Name();
  std::replace(name.begin(), name.end(), '-', '_');
  return name + (c.ns == Namespace::kJoliet ? "_Joliet" : "_Iso9660");
}

void PrintTo(const ReaderCase& c, std::ostream* os) {
  *os << AllReaders().at(c.reader)->Name() << " " << NamespaceName(c.ns);
}

std::vector<ExpectedEntry> ExpectedFrom(const Volume& volume) {
  std::vector<ExpectedEntry> out;
  WalkEntries(volume.root, [&](const std::u16string& path, const Entry& e) {
    out.push_back(
        {path, e.IsDirectory(), e.IsDirectory() ? 0 : static_cast<std::int64_t>(e.size())});
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
    problems = CompareListing(reader, ns, expected, reader.List(image, ns), shown);
  } catch (const std::exception& e) {
    return {who + " cannot list the image: " + e.what()};
  }
  if (!reader.Extracts(ns)) return problems;
  std::string folder = scratch + "/" + reader.Name() + (ns == Namespace::kJoliet ? "-j" : "-i");
  try {
    reader.ExtractAll(image, ns, folder);
  } catch (const std::exception& e) {
    problems.push_back(who + " cannot extract: " + e.what());
    return problems;
  }
  for (const ExpectedEntry& x : expected) {
    auto s = shown.find(x.path);
    // Not listed: reported by the listing already.
    if (x.directory || !reader.CanExtract(ns, x.path) || s == shown.end()) continue;
    std::ifstream in(folder + s->second, std::ios::binary);
    if (!in) {
      problems.push_back(who + " did not extract " + Utf8(x.path) + " to " + folder + s->second);
      continue;
    }
    std::string got((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::string want = contentOf(x.path);
    if (got != want) {
      auto at = std::mismatch(got.begin(), got.end(), want.begin(), want.end()).first - got.begin();
      problems.push_back(who + " extracts " + Utf8(x.path) + " as " + std::to_string(got.size()) +
                         " bytes, differing from the " + std::to_string(want.size()) +
                         " source bytes at offset " + std::to_string(at));
    }
  }
  return problems;
}

}  // namespace tavrine::testing
