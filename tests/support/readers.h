// Running the independent image readers on an image, and what they say about it: every
// directory and file of the ISO 9660 and of the Joliet namespace with name and size, and the
// files they extract. Programs run with posix_spawn and an argument vector (no shell).
#pragma once

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "image/reader.h"

namespace tavrine::testing {

using namespace iso;  // the product's image reader: IsoImage, Volume, Entry, Utf8

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

// One listed entry, keyed in a Listing by its path: the names as the reader shows them (UTF-8)
// joined by "/", starting with "/".
struct Listed {
  bool directory = false;
  std::int64_t size = 0;  // files only
  std::string toolPath;   // the path as the tool printed it (raw bytes), to hand back to it
};
using Listing = std::map<std::string, Listed>;  // the root itself is not listed

enum class Namespace { kIso9660, kJoliet };
const char* NamespaceName(Namespace ns);

// One independent reader. Each names its conventions (a version ";1" dropped, a trailing "."
// dropped, letters shown in lower case, characters it cannot show) in Shown and Matches, so that
// a listing can be held against the names the image records.
class Reader {
 public:
  virtual ~Reader() = default;
  virtual std::string Name() const = 0;
  // The programs it runs; the reader is available when all of them are installed.
  virtual std::vector<std::string> Programs() const = 0;
  bool Available() const;
  bool Lists(Namespace) const { return true; }  // every reader lists both namespaces
  virtual bool Extracts(Namespace ns) const = 0;
  // False for a reader that shows the Joliet tree instead whenever the image has one.
  virtual bool ShowsIso9660BesideJoliet() const { return true; }
  // The name as this reader shows a recorded name (UTF-8).
  virtual std::string Shown(Namespace, std::u16string_view name) const { return Utf8(name); }
  // Whether `shown` stands for the recorded name.
  virtual bool Matches(Namespace ns, std::u16string_view name, const std::string& shown) const {
    return Shown(ns, name) == shown;
  }
  // Whether the reader can show the entry of this recorded path ("/"-joined names) at all.
  virtual bool Reaches(Namespace, std::u16string_view) const { return true; }
  // Whether the reader can extract a file of this recorded path ("/"-joined names).
  virtual bool CanExtract(Namespace, std::u16string_view) const { return true; }
  // Throws std::runtime_error with the reader's own words when it fails on the image.
  virtual Listing List(const std::string& image, Namespace ns) const = 0;
  // Extracts every file of the namespace below folder (created if missing): each file lands at
  // folder + its path in List's listing.
  virtual void ExtractAll(const std::string& image, Namespace ns,
                          const std::string& folder) const = 0;
};

// pycdlib, isoinfo, xorriso, 7z, bsdtar, iso-info with iso-read: all of them, installed or not.
const std::vector<const Reader*>& AllReaders();

// A reader with a namespace, the parameter of tests run through every reader.
struct ReaderCase {
  std::size_t reader = 0;  // index in AllReaders()
  Namespace ns = Namespace::kJoliet;
};
// Every reader with each namespace.
std::vector<ReaderCase> AllReaderCases();
// "bsdtar_Joliet": a test name.
std::string ReaderCaseName(const ReaderCase& c);
void PrintTo(const ReaderCase& c, std::ostream* os);

// One entry the image records: its path of recorded names joined by "/" (starting with "/").
struct ExpectedEntry {
  std::u16string path;
  bool directory = false;
  std::int64_t size = 0;
};

// Every entry of a tree read by the image reader, in pre-order.
std::vector<ExpectedEntry> ExpectedFrom(const Volume& volume);

// Lists the namespace through the reader and holds it against expected (parents before their
// children), directory by directory, with the reader's Matches; then, where the reader extracts
// the namespace, extracts everything below scratch and compares each file that the reader can
// extract with contentOf(recorded path). Returns one line per disagreement.
std::vector<std::string> CheckWithReader(
    const Reader& reader, Namespace ns, const std::string& image,
    const std::vector<ExpectedEntry>& expected,
    const std::function<std::string(const std::u16string& path)>& contentOf,
    const std::string& scratch);

// The helper scripts' folder (tests/support/readers) in the source tree.
std::string ReaderScriptDir();

}  // namespace tavrine::testing
