// Running programs, and pycdlib, the independent reader of the round trips: every directory and
// file of the ISO 9660 or the Joliet namespace with name and size, and the files it extracts.
// Programs run with posix_spawn and an argument vector (no shell).
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "image/reader.h"

namespace tavrine::testing {

using namespace iso;  // the product's image reader: IsoImage, Volume, Entry

struct RunResult {
  int exitCode = -1;  // the program's exit status; 128 + signal when killed
  std::string out;
  std::string err;
};

// Runs argv[0] (searched on PATH) with argv, stdin from /dev/null, in a UTF-8 locale, and
// collects both outputs. Throws std::runtime_error when the program cannot be started.
RunResult RunProgram(const std::vector<std::string>& argv);
// True when the program is found on PATH (or is an executable path).
bool ProgramAvailable(const std::string& program);

// One listed entry, keyed in a Listing by its path: the recorded names (UTF-8) joined by "/",
// starting with "/".
struct Listed {
  bool directory = false;
  std::int64_t size = 0;  // files only
};
using Listing = std::map<std::string, Listed>;  // the root itself is not listed

enum class Namespace { kIso9660, kJoliet };
const char* NamespaceName(Namespace ns);

// An independent reader; pycdlib is the one the tests run.
class Reader {
 public:
  virtual ~Reader() = default;
  virtual std::string Name() const = 0;
  virtual bool Available() const = 0;
  // Throws std::runtime_error with the reader's own words when it fails on the image.
  virtual Listing List(const std::string& image, Namespace ns) const = 0;
  // Extracts every file of the namespace below folder: each at folder + its listed path.
  virtual void ExtractAll(const std::string& image, Namespace ns,
                          const std::string& folder) const = 0;
};

const std::vector<const Reader*>& AllReaders();
const Reader& Pycdlib();

// One entry the image records: its path of recorded names joined by "/" (starting with "/").
struct ExpectedEntry {
  std::u16string path;
  bool directory = false;
  std::int64_t size = 0;
};

// Lists the namespace through pycdlib and holds it against expected; then extracts everything
// below scratch and compares each file with contentOf(recorded path). pycdlib looks ISO 9660
// paths up as UTF-8 text, so files whose ISO 9660 path holds bytes above 0x7F are not extracted
// there. Returns one line per disagreement.
std::vector<std::string> CheckWithPycdlib(
    Namespace ns, const std::string& image, const std::vector<ExpectedEntry>& expected,
    const std::function<std::string(const std::u16string& path)>& contentOf,
    const std::string& scratch);

// The helper scripts' folder (tests/support/readers) in the source tree.
std::string ReaderScriptDir();

}  // namespace tavrine::testing
