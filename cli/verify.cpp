#include "cli/verify.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <deque>
#include <unordered_map>
#include <unordered_set>

#include "cli/list.h"
#include "cli/sources.h"
#include "image/names.h"
#include "tree/errors.h"
#include "tree/text.h"

namespace tavrine::cli {

namespace {

using iso::Entry;

// A name without the version suffix (";1") that other writers add.
std::u16string_view VersionLess(std::u16string_view recorded) {
  const std::size_t semicolon = recorded.rfind(u';');
  if (semicolon != std::u16string_view::npos && semicolon + 1 < recorded.size() &&
      std::all_of(recorded.begin() + static_cast<std::ptrdiff_t>(semicolon) + 1, recorded.end(),
                  [](char16_t c) { return c >= u'0' && c <= u'9'; })) {
    recorded = recorded.substr(0, semicolon);
  }
  return recorded;
}

// The unit of reading: the image is read through a window of this size, a source in pieces of it.
constexpr std::size_t kChunk = std::size_t{1} << 20;

class Differences {
 public:
  explicit Differences(std::ostream& out) : out_(out) {}
  void Add(const std::string& line) {
    if (count_++ < kMaxDifferenceLines) out_ << Printable(line) << '\n';
  }
  std::size_t Count() const { return count_; }

 private:
  std::ostream& out_;
  std::size_t count_ = 0;
};

// One file whose bytes are compared: the data of an image entry against a source file. Its
// path is put together only for a difference: for 20,000 files the paths would cost megabytes.
struct DataCheck {
  const Entry* entry;
  const clsISOFile* source;
  const std::u16string* directory;  // the path of its directory; for an ISO 9660 copy its own
  bool isoCopy;
};

// Reads the image forwards through a window, so that the data of many small files cost one
// read per window rather than one each.
class ImageWindow {
 public:
  explicit ImageWindow(const iso::IsoImage& image) : image_(image) {}
  std::string_view View(std::uint64_t offset, std::size_t count) {
    if (offset < start_ || offset + count > start_ + buffer_.size()) {
      const std::uint64_t room = image_.ImageSize() > offset ? image_.ImageSize() - offset : 0;
      buffer_.resize(std::max<std::size_t>(
          count, static_cast<std::size_t>(std::min<std::uint64_t>(kChunk, room))));
      image_.ReadAt(offset, buffer_);
      start_ = offset;
    }
    return std::string_view(buffer_.data() + (offset - start_), count);
  }

 private:
  const iso::IsoImage& image_;
  std::vector<char> buffer_;
  std::uint64_t start_ = 0;
};

class Verifier {
 public:
  // byJoliet: names are held against the Joliet names the build would give, else against its
  // ISO 9660 names.
  Verifier(const iso::IsoImage& image, Differences& differences, bool byJoliet)
      : image_(image), differences_(differences), byJoliet_(byJoliet) {}

  // Holds a source directory against an image directory by name.
  void MatchByName(const clsISODirectory& source, const Entry& dir, const std::u16string& path) {
    // "x" and "x." compare equal: each source name takes its own record first, and no record
    // stands for two sources.
    std::unordered_multimap<std::u16string, const Entry*> byName;
    for (const Entry& c : dir.children) byName.emplace(ComparableName(c.name), &c);
    std::unordered_set<const Entry*> seen;
    const std::u16string* directory = &directories_.emplace_back(path);
    auto find = [&](const std::u16string& name, bool directory,
                    const std::u16string& where) -> const Entry* {
      const Entry* e = nullptr;
      auto [first, last] = byName.equal_range(ComparableName(name));
      for (auto it = first; it != last; ++it) {
        if (seen.count(it->second) != 0) continue;
        if (e == nullptr || VersionLess(it->second->name) == name) e = it->second;
      }
      if (e == nullptr) {
        differences_.Add("missing from the image: " + text::ToUtf8(where));
        return nullptr;
      }
      seen.insert(e);
      if (e->IsDirectory() != directory) {
        differences_.Add(text::ToUtf8(where) +
                         (directory ? ": a folder in the sources, a file"
                                    : ": a file in the sources, a directory") +
                         " in the image");
        return nullptr;
      }
      return e;
    };
    for (std::int32_t i = 0; i < source.SubDirectoryCount(); ++i) {
      const clsISODirectory& sub = *source.SubDirectory(i);
      const std::u16string& name = byJoliet_ ? sub.JolietName() : sub.DOSName();
      const std::u16string where = path + u"/" + name;
      if (const Entry* e = find(name, true, where)) MatchByName(sub, *e, where);
    }
    for (std::int32_t i = 0; i < source.Files().Count(); ++i) {
      const clsISOFile& file = source.Files().File(i);
      const std::u16string& name = byJoliet_ ? file.JolietName() : file.DOSName();
      const std::u16string where = path + u"/" + name;
      const Entry* e = find(name, false, where);
      if (e == nullptr) continue;
      sourceOf_[e] = &file;
      ++files_;
      if (e->size() != static_cast<std::uint64_t>(file.Size())) {
        differences_.Add("size differs: " + text::ToUtf8(where) + ": " + std::to_string(e->size()) +
                         " bytes in the image, " + std::to_string(file.Size()) +
                         " in the source '" + file.LocalPath() + "'");
        continue;
      }
      checks_.push_back({e, &file, directory, false});
    }
    for (const Entry& c : dir.children) {
      if (seen.count(&c) == 0)
        differences_.Add("not in the sources: " + text::ToUtf8(path + u"/" + c.name));
    }
  }

  // Holds the ISO 9660 tree against the Joliet tree already held against the sources: the same
  // directories and files, the same data.
  void MatchIsoTree(const Entry& jolietRoot, const Entry& isoRoot) {
    const TreePairing pairing = PairTrees(jolietRoot, isoRoot);
    iso::WalkEntries(jolietRoot, [&](const std::u16string& path, const Entry& j) {
      auto it = pairing.isoOf.find(&j);
      if (it == pairing.isoOf.end()) {
        differences_.Add("ISO 9660 tree: nothing stands for " + text::ToUtf8(path));
        return;
      }
      const Entry& i = *it->second;
      auto source = sourceOf_.find(&j);
      if (j.IsDirectory() || source == sourceOf_.end() || i.extent() == j.extent()) return;
      // Another writer may keep a second copy of the data: that copy is compared too.
      checks_.push_back({&i, source->second, &directories_.emplace_back(path), true});
    });
    for (const auto& [path, e] : pairing.unpairedIso) {
      differences_.Add("ISO 9660 tree: not in the sources: " + text::ToUtf8(path));
    }
  }

  // Compares the data of every matched file with its source, in the order of the data in the
  // image, so that the image is read forwards once.
  void CompareData(ProgressDisplay& progress) {
    std::sort(checks_.begin(), checks_.end(), [](const DataCheck& a, const DataCheck& b) {
      return a.entry->extent() < b.entry->extent();
    });
    std::int64_t total = 0;
    for (const DataCheck& c : checks_) total += static_cast<std::int64_t>(c.entry->size());
    progress.EnterPhase("Comparing files");
    ImageWindow window(image_);
    std::vector<char> buffer(kChunk);
    std::int64_t done = 0;
    for (const DataCheck& check : checks_) {
      done += static_cast<std::int64_t>(check.entry->size());
      CompareFile(check, window, buffer);
      bytes_ += check.entry->size();
      progress.BytesWritten(done, total);
    }
  }

  std::size_t Files() const { return files_; }
  std::uint64_t Bytes() const { return bytes_; }

 private:
  std::string PathOf(const DataCheck& check) const {
    if (check.isoCopy) return "ISO 9660 copy of " + text::ToUtf8(*check.directory);
    return text::ToUtf8(*check.directory + u"/" +
                        (byJoliet_ ? check.source->JolietName() : check.source->DOSName()));
  }

  void CompareFile(const DataCheck& check, ImageWindow& window, std::vector<char>& buffer) {
    const std::string& local = check.source->LocalPath();
    FileRecord file = OpenFileRecord(local, GENERIC_READ, SHARE_READ_WRITE, OPEN_EXISTING);
    if (file.Handle < 0) {
      differences_.Add("cannot read " + PathOf(check) + ": '" + local +
                       "': " + std::strerror(errno));
      return;
    }
    std::uint64_t offset = 0;  // in the file
    for (const iso::Section& section : check.entry->Sections()) {
      for (std::uint32_t at = 0; at < section.length;) {
        const std::size_t count = std::min<std::size_t>(kChunk, section.length - at);
        const std::string_view image =
            window.View(std::uint64_t{section.extent} * iso::kIsoBlockSize + at, count);
        std::size_t got = 0;
        while (got < count) {
          const std::int64_t n =
              ReadFileRecord(file, buffer.data() + got, static_cast<std::int64_t>(count - got));
          if (n <= 0) break;
          got += static_cast<std::size_t>(n);
        }
        if (std::memcmp(image.data(), buffer.data(), got) != 0) {
          // memcmp runs at the speed of memory; the offset is looked for only after a mismatch.
          const std::size_t same = static_cast<std::size_t>(
              std::mismatch(image.begin(), image.begin() + static_cast<std::ptrdiff_t>(got),
                            buffer.begin())
                  .first -
              image.begin());
          differences_.Add("content differs: " + PathOf(check) + ": first at byte " +
                           std::to_string(offset + same) + " (source '" + local + "')");
          CloseFileRecord(file);
          return;
        }
        offset += got;
        if (got < count) {
          differences_.Add("size differs: " + PathOf(check) + ": the source '" + local +
                           "' ends after " + std::to_string(offset) + " of the " +
                           std::to_string(check.entry->size()) + " bytes in the image");
          CloseFileRecord(file);
          return;
        }
        at += static_cast<std::uint32_t>(count);
      }
    }
    char extra = 0;
    if (ReadFileRecord(file, &extra, 1) > 0) {
      differences_.Add("size differs: " + PathOf(check) + ": the source '" + local +
                       "' holds more than the " + std::to_string(offset) + " bytes in the image");
    }
    CloseFileRecord(file);
  }

  const iso::IsoImage& image_;
  Differences& differences_;
  std::vector<DataCheck> checks_;
  std::unordered_map<const Entry*, const clsISOFile*> sourceOf_;
  std::deque<std::u16string> directories_;
  const bool byJoliet_;
  std::size_t files_ = 0;
  std::uint64_t bytes_ = 0;
};

}  // namespace

std::u16string ComparableName(std::u16string_view recorded) {
  recorded = VersionLess(recorded);
  if (recorded.size() > 1 && recorded.back() == u'.') recorded.remove_suffix(1);
  return std::u16string(recorded);
}

int Verify(const Options& options, const Environment& environment, std::ostream& out,
           std::ostream& err) {
  const ProgressDisplay::Mode mode = options.quiet               ? ProgressDisplay::Mode::kQuiet
                                     : environment.errIsTerminal ? ProgressDisplay::Mode::kTerminal
                                                                 : ProgressDisplay::Mode::kLines;
  ProgressDisplay::Clock clock = environment.clock;
  if (!clock) {
    clock = [] {
      return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
          .count();
    };
  }
  ProgressDisplay progress(err, mode, environment.terminalWidth, clock);

  // The tree the build would write, with the names it would give.
  progress.EnterPhase("Reading the sources");
  clsISOWriter writer;
  writer.Joliet(options.joliet);
  std::vector<std::u16string> patterns;
  for (const std::string& pattern : options.patterns) patterns.push_back(text::FromUtf8(pattern));
  std::vector<Warning> warnings;
  for (const std::string& path : options.paths) {
    const Source source = SplitPathArgument(path, LocalPathExists);
    InspectSource(source);
    AddSource(*writer.Root(), source, patterns, warnings);
  }
  LeaveOutLocalFile(*writer.Root(), options.image);
  // The names alone: the layout would ask every file's length once more, for nothing here.
  detail::MapNames(*writer.Root());
  progress.EndLine();
  for (const Warning& warning : warnings)
    err << "tavrine-cli: warning: " << Printable(warning.text) << '\n';

  progress.EnterPhase("Reading the image");
  const iso::IsoImage image(options.image);
  Differences differences(out);
  const bool byJoliet = options.joliet && image.HasJoliet();
  Verifier verifier(image, differences, byJoliet);
  if (!options.joliet && image.HasJoliet()) {
    differences.Add("the image has a Joliet volume, the sources are given with --no-joliet");
  }
  const iso::Volume& named = byJoliet ? image.Joliet() : image.Primary();
  verifier.MatchByName(*writer.Root(), named.root, u"");
  if (byJoliet) verifier.MatchIsoTree(image.Joliet().root, image.Primary().root);
  verifier.CompareData(progress);
  progress.EndLine();

  const std::size_t count = differences.Count();
  if (count > kMaxDifferenceLines) {
    out << "... and " << count - kMaxDifferenceLines << " more\n";
  }
  if (count > 0) {
    out << count << (count == 1 ? " difference" : " differences") << " between '" << options.image
        << "' and its sources\n";
    return kExitError;
  }
  if (!options.quiet) {
    err << "Verified " << options.image << ": " << verifier.Files() << " files, "
        << FormatBytes(static_cast<std::int64_t>(verifier.Bytes())) << ", as in the sources\n";
  }
  return kExitOk;
}

}  // namespace tavrine::cli
