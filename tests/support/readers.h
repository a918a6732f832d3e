// Running the independent image readers on an image, and what they say about it: every
// directory and file of the ISO 9660 and of the Joliet namespace with name and size, and the
// files they extract. Programs run with posix_spawn and an argument vector (no shell).
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace tavrine::testing {

struct RunResult {
  int exitCode = -1;  // the program's exit status; 128 + signal when killed
  std::string out;
  std::string err;
};

// Runs argv[0] (searched on PATH) with argv, stdin from /dev/null, and collects both outputs.
// Throws std::runtime_error when the program cannot be started.
RunResult RunProgram(const std::vector<std::string>& argv);
// True when the program is found on PATH (or is an executable path).
bool ProgramAvailable(const std::string& program);

// One listed entry: a path of names joined by "/" and starting with "/" (UTF-8), and for a file
// its size.
struct Listed {
  bool directory = false;
  std::int64_t size = 0;
  friend bool operator==(const Listed&, const Listed&) = default;
};
// path -> entry; the root itself is not listed.
using Listing = std::map<std::string, Listed>;

enum class Namespace { kIso9660, kJoliet };
const char* NamespaceName(Namespace ns);

// One independent reader. Names are reported as the reader shows them after the adaptations
// that each implementation names (a version ";1" removed, a trailing "." removed, ...), so that
// a listing can be compared with the names the image holds.
class Reader {
 public:
  virtual ~Reader() = default;
  virtual std::string Name() const = 0;
  // Whether the reader can show this namespace at all (7-Zip shows only Joliet when present).
  virtual bool Lists(Namespace ns) const = 0;
  virtual bool Extracts(Namespace ns) const = 0;
  // Throws std::runtime_error with the reader's own words when it fails on the image.
  virtual Listing List(const std::string& image, Namespace ns) const = 0;
  // Extracts every file of the namespace below folder (created if missing), keeping the
  // image's directory structure with the reader's names.
  virtual void ExtractAll(const std::string& image, Namespace ns,
                          const std::string& folder) const = 0;
};

// pycdlib, isoinfo, xorriso, 7z, bsdtar, iso-info / iso-read: every reader whose programs are
// installed (the test names the missing ones).
std::vector<const Reader*> AllReaders();
// The names of the programs each reader needs, for reporting the missing ones.
std::vector<std::string> MissingReaders();

// The helper scripts' folder (tests/support/readers) in the source tree.
std::string ReaderScriptDir();

}  // namespace tavrine::testing
