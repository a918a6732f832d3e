#include "cli/list.h"

#include <algorithm>
#include <cstdio>
#include <map>

#include "tree/text.h"

namespace tavrine::cli {

namespace {

using iso::Entry;

using FileKey = std::pair<std::uint32_t, std::uint64_t>;  // first block, size

FileKey KeyOf(const Entry& file) {
  return {file.extent(), file.size()};
}

class Pairer {
 public:
  explicit Pairer(TreePairing& out) : out_(out) {}

  void Pair(const Entry& joliet, const Entry& iso, const std::u16string& isoPath) {
    out_.isoOf[&joliet] = &iso;
    std::vector<const Entry*> jFiles, iFiles, jDirs, iDirs;
    for (const Entry& c : joliet.children) (c.IsDirectory() ? jDirs : jFiles).push_back(&c);
    for (const Entry& c : iso.children) (c.IsDirectory() ? iDirs : iFiles).push_back(&c);

    // Files: the same data first, then the same size, in record order.
    std::multimap<FileKey, const Entry*> byKey;
    for (const Entry* f : iFiles) byKey.emplace(KeyOf(*f), f);
    std::vector<const Entry*> jLeft;
    for (const Entry* f : jFiles) {
      auto it = byKey.find(KeyOf(*f));
      if (it == byKey.end()) {
        jLeft.push_back(f);
        continue;
      }
      out_.isoOf[f] = it->second;
      byKey.erase(it);
    }
    std::vector<const Entry*> iLeft;
    for (const Entry* f : iFiles) {
      auto range = byKey.equal_range(KeyOf(*f));
      if (std::any_of(range.first, range.second, [&](const auto& kv) { return kv.second == f; })) {
        iLeft.push_back(f);
      }
    }
    for (const Entry* f : jLeft) {
      auto it = std::find_if(iLeft.begin(), iLeft.end(),
                             [&](const Entry* i) { return i->size() == f->size(); });
      if (it == iLeft.end()) continue;
      out_.isoOf[f] = *it;
      iLeft.erase(it);
    }
    for (const Entry* f : iLeft) out_.unpairedIso.emplace_back(isoPath + u"/" + f->name, f);

    // Directories: the same content below them first, then in record order.
    std::vector<std::pair<const Entry*, const Entry*>> dirPairs;
    std::vector<const Entry*> iDirsLeft = iDirs;
    std::vector<const Entry*> jDirsLeft;
    for (const Entry* d : jDirs) {
      const std::uint64_t sig = Signature(*d);
      auto it = std::find_if(iDirsLeft.begin(), iDirsLeft.end(),
                             [&](const Entry* i) { return Signature(*i) == sig; });
      if (it == iDirsLeft.end()) {
        jDirsLeft.push_back(d);
        continue;
      }
      dirPairs.emplace_back(d, *it);
      iDirsLeft.erase(it);
    }
    for (std::size_t k = 0; k < jDirsLeft.size() && k < iDirsLeft.size(); ++k) {
      dirPairs.emplace_back(jDirsLeft[k], iDirsLeft[k]);
    }
    for (std::size_t k = jDirsLeft.size(); k < iDirsLeft.size(); ++k) {
      out_.unpairedIso.emplace_back(isoPath + u"/" + iDirsLeft[k]->name, iDirsLeft[k]);
    }
    for (const auto& [j, i] : dirPairs) Pair(*j, *i, isoPath + u"/" + i->name);
  }

 private:
  // A digest of what lies below a directory: the data of its files and, recursively, of its
  // directories, independent of names and record order.
  std::uint64_t Signature(const Entry& dir) {
    auto known = signatures_.find(&dir);
    if (known != signatures_.end()) return known->second;
    std::vector<std::uint64_t> parts;
    for (const Entry& c : dir.children) {
      parts.push_back(c.IsDirectory() ? Signature(c) ^ 0x9E3779B97F4A7C15ull
                                      : (std::uint64_t{c.extent()} << 40) ^ c.size());
    }
    std::sort(parts.begin(), parts.end());
    std::uint64_t h = 0xCBF29CE484222325ull;
    for (std::uint64_t p : parts) h = (h ^ p) * 0x100000001B3ull;
    signatures_.emplace(&dir, h);
    return h;
  }

  TreePairing& out_;
  std::unordered_map<const Entry*, std::uint64_t> signatures_;
};

// "2024-03-05 09:07:03 +01:00", or "-" for a date left zero.
std::string FormatDate(const iso::RecordingDate& date) {
  const auto& b = date.bytes;
  if (std::all_of(b.begin(), b.end(), [](std::uint8_t v) { return v == 0; })) return "-";
  const int offset = static_cast<std::int8_t>(b[6]) * 15;
  char text[40];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d %c%02d:%02d", 1900 + b[0], b[1],
                b[2], b[3], b[4], b[5], offset < 0 ? '-' : '+', std::abs(offset) / 60,
                std::abs(offset) % 60);
  return text;
}

void Line(std::ostream& out, const Entry& e, const std::u16string& joliet,
          const std::u16string& iso) {
  out << (e.IsDirectory() ? 'd' : '-') << '\t' << e.size() << '\t' << FormatDate(e.date()) << '\t'
      << e.extent() << '\t' << (joliet.empty() ? "-" : Printable(text::ToUtf8(joliet))) << '\t'
      << (iso.empty() ? "-" : Printable(text::ToUtf8(iso))) << '\n';
}

// The ISO 9660 path of every ISO 9660 entry.
void IsoPaths(const Entry& dir, const std::u16string& base,
              std::unordered_map<const Entry*, std::u16string>& paths) {
  for (const Entry& c : dir.children) {
    paths[&c] = base + u"/" + c.name;
    if (c.IsDirectory()) IsoPaths(c, paths[&c], paths);
  }
}

}  // namespace

std::string Printable(std::string_view utf8) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(utf8.size());
  for (std::size_t i = 0; i < utf8.size(); ++i) {
    const auto b = static_cast<unsigned char>(utf8[i]);
    // In UTF-8 a C1 control is 0xC2 and 0x80-0x9F; a byte below 0x80 is a character of its own.
    const bool c1 = b == 0xC2 && i + 1 < utf8.size() &&
                    (static_cast<unsigned char>(utf8[i + 1]) & 0xE0) == 0x80;
    if (b < 0x20 || b == 0x7F) {
      out += "\\x";
      out += kHex[b >> 4];
      out += kHex[b & 0xF];
    } else if (c1) {
      const auto c = static_cast<unsigned char>(utf8[++i]);
      out += "\\u00";
      out += kHex[c >> 4];
      out += kHex[c & 0xF];
    } else {
      out += static_cast<char>(b);
    }
  }
  return out;
}

TreePairing PairTrees(const Entry& jolietRoot, const Entry& isoRoot) {
  TreePairing pairing;
  Pairer(pairing).Pair(jolietRoot, isoRoot, u"");
  return pairing;
}

void ListImage(const iso::IsoImage& image, std::ostream& out) {
  const iso::Volume& primary = image.Primary();
  if (!image.HasJoliet()) {
    iso::WalkEntries(primary.root,
                     [&](const std::u16string& path, const Entry& e) { Line(out, e, path, path); });
    return;
  }
  const TreePairing pairing = PairTrees(image.Joliet().root, primary.root);
  std::unordered_map<const Entry*, std::u16string> isoPaths;
  IsoPaths(primary.root, u"", isoPaths);
  iso::WalkEntries(image.Joliet().root, [&](const std::u16string& path, const Entry& e) {
    auto it = pairing.isoOf.find(&e);
    Line(out, e, path, it == pairing.isoOf.end() ? std::u16string() : isoPaths[it->second]);
  });
  for (const auto& [path, e] : pairing.unpairedIso) Line(out, *e, {}, path);
}

}  // namespace tavrine::cli
