#include "support/iso_reader.h"

#include <algorithm>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

namespace tavrine::testing {

namespace {

// Windows-1252 0x80..0x9F; 0 marks the five bytes that the code page leaves undefined.
constexpr char16_t kWindows1252High[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

[[noreturn]] void Fail(const std::string& what) {
  throw IsoFormatError(what);
}

std::uint32_t Uint(std::string_view b, std::size_t at, int size, bool bigEndian) {
  std::uint32_t v = 0;
  for (int i = 0; i < size; ++i) {
    v |= std::uint32_t{static_cast<std::uint8_t>(b[at + std::size_t(i)])}
         << 8 * (bigEndian ? size - 1 - i : i);
  }
  return v;
}

// ECMA-119 7.2.3 / 7.3.3: both halves of a both-endian field must agree.
std::uint32_t Both(std::string_view b, std::size_t at, int size, const char* field) {
  std::uint32_t le = Uint(b, at, size, false);
  std::uint32_t be = Uint(b, at + std::size_t(size), size, true);
  if (le != be) {
    Fail(std::string(field) + ": both-endian halves differ (" + std::to_string(le) + " / " +
         std::to_string(be) + ")");
  }
  return le;
}

bool AllZero(std::string_view b) {
  return b.find_first_not_of('\0') == std::string_view::npos;
}

std::string Where(std::uint64_t imageOffset) {
  std::ostringstream s;
  s << "directory record at 0x" << std::hex << imageOffset;
  return s.str();
}

TextField Text(std::string_view block, std::size_t at, std::size_t width, bool joliet) {
  TextField f{std::string(block.substr(at, width)), {}};
  // A 37-byte Joliet field holds 18 whole characters; its last byte stays out of the text.
  f.text = joliet ? DecodeUcs2BigEndian(std::string_view(f.raw).substr(0, width & ~1u))
                  : DecodeWindows1252(f.raw);
  while (!f.text.empty() && (f.text.back() == u' ' || f.text.back() == u'\0')) f.text.pop_back();
  return f;
}

// ECMA-119 9.1: the record at `at` of `data`, which must lie wholly inside data.
DirectoryRecord ParseRecord(std::string_view data, std::size_t at, std::uint64_t imageOffset) {
  DirectoryRecord r;
  r.imageOffset = imageOffset;
  r.length = static_cast<std::uint8_t>(data[at]);
  const std::string where = Where(imageOffset);
  if (r.length < 34) Fail(where + ": length " + std::to_string(r.length) + " below 34");
  if (at + r.length > data.size()) Fail(where + " runs past its extent");
  std::string_view b = data.substr(at, r.length);
  r.bytes = std::string(b);
  r.extent = Both(b, 2, 4, "directory record extent");
  r.dataLength = Both(b, 10, 4, "directory record data length");
  std::copy_n(b.begin() + 18, 7, r.date.bytes.begin());
  r.flags = static_cast<std::uint8_t>(b[25]);
  std::size_t idLength = static_cast<std::uint8_t>(b[32]);
  // 9.1.12: a padding byte follows an identifier of even length.
  std::size_t idEnd = 33 + idLength + (idLength % 2 == 0 ? 1 : 0);
  if (idLength == 0 || idEnd > r.length) {
    Fail(where + ": identifier of " + std::to_string(idLength) + " bytes in a record of " +
         std::to_string(r.length));
  }
  r.identifier = std::string(b.substr(33, idLength));
  if (idLength % 2 == 0 && b[33 + idLength] != '\0') Fail(where + ": padding byte not zero");
  if (Both(b, 28, 2, "directory record volume sequence number") != 1 || b[1] != 0 || b[26] != 0 ||
      b[27] != 0 || (r.flags & 0x80) != 0) {
    Fail(where +
         ": volume sequence number not 1, or an extended attribute record, "
         "interleaving or a multi-extent file, none of which are expected");
  }
  return r;
}

std::vector<PathTableRecord> ParsePathTable(std::string_view table, bool bigEndian,
                                            const std::string& what) {
  std::vector<PathTableRecord> records;
  for (std::size_t at = 0; at < table.size();) {
    const std::string where = what + " record " + std::to_string(records.size() + 1);
    std::size_t n = at + 8 <= table.size() ? static_cast<std::uint8_t>(table[at]) : 0;
    if (n == 0 || at + 8 + n + n % 2 > table.size() || table[at + 1] != 0) {
      Fail(where + ": empty identifier, extended attributes or running past the table size");
    }
    if (n % 2 == 1 && table[at + 8 + n] != '\0') Fail(where + ": padding byte is not zero");
    records.push_back({Uint(table, at + 2, 4, bigEndian),
                       static_cast<std::uint16_t>(Uint(table, at + 6, 2, bigEndian)),
                       std::string(table.substr(at + 8, n))});
    at += 8 + n + n % 2;
  }
  return records;
}

}  // namespace

std::u16string DecodeWindows1252(std::string_view bytes) {
  std::u16string out;
  for (char ch : bytes) {
    auto c = static_cast<unsigned char>(ch);
    char16_t u = c >= 0x80 && c < 0xA0 ? kWindows1252High[c - 0x80] : c;
    out.push_back(u == 0 ? c : u);
  }
  return out;
}

std::u16string DecodeUcs2BigEndian(std::string_view bytes) {
  if (bytes.size() % 2 != 0) Fail("UCS-2 text of odd length " + std::to_string(bytes.size()));
  std::u16string out;
  for (std::size_t i = 0; i < bytes.size(); i += 2)
    out.push_back(static_cast<char16_t>(Uint(bytes, i, 2, true)));
  return out;
}

std::string Utf8(std::u16string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    std::uint32_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00u);
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;
    }
    int tail = c < 0x80 ? 0 : c < 0x800 ? 1 : c < 0x10000 ? 2 : 3;
    static constexpr std::uint8_t kLead[] = {0x00, 0xC0, 0xE0, 0xF0};
    out.push_back(static_cast<char>(kLead[tail] | c >> (6 * tail)));
    for (int k = tail - 1; k >= 0; --k)
      out.push_back(static_cast<char>(0x80 | (c >> 6 * k & 0x3F)));
  }
  return out;
}

const Entry* Entry::Child(std::u16string_view childName) const {
  for (const Entry& c : children) {
    if (c.name == childName) return &c;
  }
  return nullptr;
}

const Entry* Volume::Find(std::u16string_view path) const {
  const Entry* at = &root;
  for (std::size_t pos = 0; at != nullptr && pos < path.size();) {
    std::size_t end = std::min(path.find(u'/', pos), path.size());
    if (end > pos) at = at->Child(path.substr(pos, end - pos));
    pos = end + 1;
  }
  return at;
}

void WalkEntries(const Entry& dir,
                 const std::function<void(const std::u16string& path, const Entry&)>& visit) {
  std::function<void(const Entry&, const std::u16string&)> walk = [&](const Entry& d,
                                                                      const std::u16string& base) {
    for (const Entry& c : d.children) {
      visit(base + u"/" + c.name, c);
      if (c.IsDirectory()) walk(c, base + u"/" + c.name);
    }
  };
  walk(dir, u"");
}

IsoImage::IsoImage(const std::string& path) : label_(path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot open image " + path);
  std::ostringstream s;
  s << in.rdbuf();
  bytes_ = s.str();
  Parse();
}

IsoImage::IsoImage(std::string bytes, std::string label)
    : label_(std::move(label)), bytes_(std::move(bytes)) {
  Parse();
}

IsoImage IsoImage::FromBytes(std::string bytes, std::string label) {
  return IsoImage(std::move(bytes), std::move(label));
}

void IsoImage::Fail(const std::string& what) const {
  throw IsoFormatError(label_ + ": " + what);
}

const Volume& IsoImage::Joliet() const {
  if (!hasJoliet_) Fail("the image has no Joliet volume");
  return joliet_;
}

std::string_view IsoImage::Block(std::uint32_t lba) const {
  std::uint64_t start = std::uint64_t{lba} * kIsoBlockSize;
  if (start + kIsoBlockSize > bytes_.size()) {
    Fail("block " + std::to_string(lba) + " lies beyond the end of the image");
  }
  return std::string_view(bytes_).substr(start, kIsoBlockSize);
}

std::string IsoImage::ReadFile(const Entry& file) const {
  if (file.IsDirectory()) Fail(Utf8(file.name) + " is a directory");
  if (file.size() == 0) return {};
  std::uint64_t start = std::uint64_t{file.extent()} * kIsoBlockSize;
  if (start + file.size() > bytes_.size()) {
    Fail("file " + Utf8(file.name) + " runs past the end of the image");
  }
  return bytes_.substr(start, file.size());
}

void IsoImage::Parse() {
  try {
    if (bytes_.size() % kIsoBlockSize != 0) {
      Fail("length " + std::to_string(bytes_.size()) + " is not a multiple of 2048");
    }
    // ECMA-119 6.7.1: the descriptor set starts at block 16 and ends with a terminator.
    VolumeDescriptor primary;
    VolumeDescriptor joliet;
    for (std::uint32_t lba = 16;; ++lba) {
      std::string_view b = Block(lba);
      const std::string at = "descriptor at block " + std::to_string(lba);
      if (b.substr(1, 6) != std::string_view("CD001\1", 6)) {
        Fail("block " + std::to_string(lba) + " is not a volume descriptor (no \"CD001\" 1)");
      }
      auto type = static_cast<std::uint8_t>(b[0]);
      descriptorTypes_.push_back(type);
      if (type == 255) {
        if (!AllZero(b.substr(7))) Fail("terminator at block " + std::to_string(lba) + " not zero");
        terminatorBlock_ = lba;
        break;
      }
      bool isJoliet = type == 2 && b[88] == '%' && b[89] == '/' &&
                      (b[90] == '@' || b[90] == 'C' || b[90] == 'E');
      if (type != 1 && !isJoliet) continue;  // boot records and others are not ours to check
      if (type == 1 && lba != 16) Fail(at + ": the primary descriptor is not the first");
      if (isJoliet && hasJoliet_) Fail(at + ": a second Joliet descriptor");
      (type == 1 ? primary : joliet) = ParseDescriptor(b, lba, isJoliet);
      hasJoliet_ = hasJoliet_ || isJoliet;
    }
    if (primary.block != 16) Fail("no primary volume descriptor");
    if (bytes_.size() < std::uint64_t{primary.volumeSpaceSize} * kIsoBlockSize) {
      Fail("the image is shorter than its volume space size " +
           std::to_string(primary.volumeSpaceSize));
    }
    if (hasJoliet_ && joliet.volumeSpaceSize != primary.volumeSpaceSize) {
      Fail("Joliet volume space size differs from the primary one");
    }
    primary_ = ParseVolume(primary, false);
    if (hasJoliet_) joliet_ = ParseVolume(joliet, true);
  } catch (const IsoFormatError& e) {
    if (std::string_view(e.what()).substr(0, label_.size() + 1) == label_ + ":") throw;
    Fail(e.what());
  }
}

VolumeDescriptor IsoImage::ParseDescriptor(std::string_view b, std::uint32_t lba,
                                           bool joliet) const {
  const std::string at = "descriptor at block " + std::to_string(lba) + ": ";
  VolumeDescriptor d;
  d.block = lba;
  d.bytes = std::string(b);
  d.type = static_cast<std::uint8_t>(b[0]);
  d.systemId = Text(b, 8, 32, joliet);
  d.volumeId = Text(b, 40, 32, joliet);
  if (!AllZero(b.substr(72, 8))) Fail(at + "unused bytes 72-79 not zero");
  d.volumeSpaceSize = Both(b, 80, 4, "volume space size");
  if (Both(b, 120, 2, "volume set size") != 1 || Both(b, 124, 2, "volume sequence number") != 1) {
    Fail(at + "volume set size / sequence number are not 1 / 1");
  }
  if (Both(b, 128, 2, "logical block size") != kIsoBlockSize) Fail(at + "block size not 2048");
  d.pathTableSize = Both(b, 132, 4, "path table size");
  d.typeLPathTable = Uint(b, 140, 4, false);
  d.typeMPathTable = Uint(b, 148, 4, true);
  d.root = ParseRecord(b.substr(156, 34), 0, std::uint64_t{lba} * kIsoBlockSize + 156);
  if (d.root.length != 34 || d.root.identifier != std::string(1, '\0') || !d.root.IsDirectory()) {
    Fail(at + "root record is not a 34-byte directory record with identifier 0x00");
  }
  d.volumeSetId = Text(b, 190, 128, joliet);
  d.publisherId = Text(b, 318, 128, joliet);
  d.dataPreparerId = Text(b, 446, 128, joliet);
  d.applicationId = Text(b, 574, 128, joliet);
  d.creation = {std::string(b.substr(813, 16)), static_cast<std::int8_t>(b[829])};
  d.modification = {std::string(b.substr(830, 16)), static_cast<std::int8_t>(b[846])};
  if (b[881] != 1) Fail(at + "file structure version is not 1");
  return d;
}

Volume IsoImage::ParseVolume(const VolumeDescriptor& descriptor, bool joliet) const {
  Volume v;
  v.descriptor = descriptor;
  const std::string tree = joliet ? "Joliet" : "ISO 9660";
  const std::uint64_t volumeEnd = std::uint64_t{descriptor.volumeSpaceSize} * kIsoBlockSize;
  auto decode = [&](const std::string& id) {
    return Utf8(joliet ? DecodeUcs2BigEndian(id) : DecodeWindows1252(id));
  };

  // Path tables (ECMA-119 9.4): type L and type M hold the same records.
  auto table = [&](std::uint32_t lba, bool bigEndian) {
    const std::string what = tree + (bigEndian ? " type M" : " type L") + " path table";
    std::uint64_t start = std::uint64_t{lba} * kIsoBlockSize;
    if (lba <= descriptor.block || start + descriptor.pathTableSize > volumeEnd) {
      Fail(what + " at block " + std::to_string(lba) + " lies outside the volume");
    }
    return ParsePathTable(std::string_view(bytes_).substr(start, descriptor.pathTableSize),
                          bigEndian, what);
  };
  v.pathTable = table(descriptor.typeLPathTable, false);
  std::vector<PathTableRecord> typeM = table(descriptor.typeMPathTable, true);
  for (std::size_t i = 0; i < std::max(typeM.size(), v.pathTable.size()); ++i) {
    if (i >= typeM.size() || i >= v.pathTable.size() || typeM[i].extent != v.pathTable[i].extent ||
        typeM[i].parent != v.pathTable[i].parent ||
        typeM[i].identifier != v.pathTable[i].identifier) {
      Fail(tree + " path tables: record " + std::to_string(i + 1) +
           " differs between type L and M");
    }
  }
  if (v.pathTable.empty() || v.pathTable.size() > 0xFFFF ||
      v.pathTable[0].identifier != std::string(1, '\0') || v.pathTable[0].parent != 1 ||
      v.pathTable[0].extent != descriptor.root.extent) {
    Fail(tree + " path table: more than 65535 records, or the first is not the root");
  }
  std::map<std::uint32_t, std::size_t> pathIndexByExtent;
  for (std::size_t i = 0; i < v.pathTable.size(); ++i) {
    const PathTableRecord& r = v.pathTable[i];
    auto fail = [&](const std::string& why) {
      Fail(tree + " path table record " + std::to_string(i + 1) + " (" + decode(r.identifier) +
           "): parent " + std::to_string(r.parent) + why);
    };
    if (i > 0 && (r.parent < 1 || r.parent > i)) fail(" is not an earlier record");
    if (i > 0 && r.parent < v.pathTable[i - 1].parent) fail(" decreases");
    if (!pathIndexByExtent.emplace(r.extent, i).second) fail(": its extent is shared");
  }

  // Directory extents, walked from the root record of the descriptor.
  std::set<std::uint32_t> visited;
  std::function<void(Entry&, const Entry*, int)> readDirectory = [&](Entry& dir, const Entry* up,
                                                                     int depth) {
    const std::string where =
        tree + " directory " + Utf8(dir.name) + " (block " + std::to_string(dir.extent()) + ")";
    if (depth > 255) Fail(where + ": directories nested more than 255 deep");
    if (!visited.insert(dir.extent()).second) Fail(where + ": extent visited twice (a loop)");
    std::uint64_t start = std::uint64_t{dir.extent()} * kIsoBlockSize;
    if (dir.size() == 0 || dir.size() % kIsoBlockSize != 0 || dir.extent() <= descriptor.block ||
        start + dir.size() > volumeEnd) {
      Fail(where + ": data length " + std::to_string(dir.size()) +
           " is not a positive multiple of 2048 inside the volume");
    }
    std::string_view data = std::string_view(bytes_).substr(start, dir.size());
    std::vector<DirectoryRecord> records;
    for (std::size_t at = 0; at < data.size();) {
      std::size_t blockEnd = at - at % kIsoBlockSize + kIsoBlockSize;
      if (data[at] == 0) {
        // 6.8.1.1: the rest of a block after the last record is zero.
        if (!AllZero(data.substr(at, blockEnd - at))) {
          Fail(where + ": non-zero bytes after the last record of a block at offset " +
               std::to_string(at));
        }
        at = blockEnd;
        continue;
      }
      if (at + static_cast<std::uint8_t>(data[at]) > blockEnd) {
        Fail(where + ": record at offset " + std::to_string(at) + " straddles a block boundary");
      }
      records.push_back(ParseRecord(data, at, start + at));
      at += records.back().length;
    }
    auto sameTarget = [](const DirectoryRecord& a, const DirectoryRecord& b) {
      return a.extent == b.extent && a.dataLength == b.dataLength && a.flags == b.flags;
    };
    if (records.size() < 2 || records[0].identifier != std::string(1, '\0') ||
        records[1].identifier != std::string(1, '\1') || !records[0].IsDirectory() ||
        !records[1].IsDirectory()) {
      Fail(where + ": does not start with the \".\" and \"..\" directory records");
    }
    dir.self = records[0];
    dir.parent = records[1];
    if (!sameTarget(dir.self, dir.record)) {
      Fail(where + ": \".\" differs from the record pointing at it");
    }
    if (!sameTarget(dir.parent, (up != nullptr ? *up : dir).self)) {
      Fail(where + ": \"..\" (block " + std::to_string(dir.parent.extent) +
           ") does not point at the parent directory");
    }
    std::set<std::string> names;
    for (std::size_t i = 2; i < records.size(); ++i) {
      const DirectoryRecord& r = records[i];
      if (r.identifier == std::string(1, '\0') || r.identifier == std::string(1, '\1')) {
        Fail(where + ": a \".\" or \"..\" record after the first two records");
      }
      if (!names.insert(r.identifier).second)
        Fail(where + ": two records named " + decode(r.identifier));
      Entry child;
      child.record = r;
      child.name = joliet ? DecodeUcs2BigEndian(r.identifier) : DecodeWindows1252(r.identifier);
      if (!child.IsDirectory() && r.dataLength > 0 &&
          std::uint64_t{r.extent} * kIsoBlockSize + r.dataLength > volumeEnd) {
        Fail(where + ": file " + Utf8(child.name) + " runs past the volume space size");
      }
      dir.children.push_back(std::move(child));
    }
    // The path table record of this directory, checked against its parent and name.
    auto found = pathIndexByExtent.find(dir.extent());
    if (found == pathIndexByExtent.end()) Fail(where + ": no path table record points at it");
    const PathTableRecord& pt = v.pathTable[found->second];
    dir.directoryNumber = static_cast<std::uint16_t>(found->second + 1);
    if (up != nullptr && pt.parent != up->directoryNumber) {
      Fail(where + ": path table record " + std::to_string(dir.directoryNumber) + " names parent " +
           std::to_string(pt.parent) + ", the walk finds parent " +
           std::to_string(up->directoryNumber));
    }
    if (up != nullptr && pt.identifier != dir.record.identifier) {
      Fail(where + ": path table identifier " + decode(pt.identifier) +
           " differs from the directory record's");
    }
    ++v.directoryCount;
    for (Entry& child : dir.children) {
      if (child.IsDirectory()) {
        readDirectory(child, &dir, depth + 1);
      } else {
        ++v.fileCount;
      }
    }
  };
  v.root.record = descriptor.root;
  v.root.self = descriptor.root;  // checked against the extent's own "." below
  readDirectory(v.root, nullptr, 0);
  // The descriptor's root record is the root's "." record (ECMA-119 8.4.18).
  if (v.root.self.date.bytes != descriptor.root.date.bytes) {
    Fail(tree + ": the root's \".\" record differs from the descriptor's root record");
  }
  if (v.directoryCount != v.pathTable.size()) {
    Fail(tree + ": the path table lists " + std::to_string(v.pathTable.size()) +
         " directories, the directory extents hold " + std::to_string(v.directoryCount));
  }
  return v;
}

}  // namespace tavrine::testing
