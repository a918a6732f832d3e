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

std::uint16_t Le16(std::string_view b, std::size_t at) {
  return static_cast<std::uint16_t>(static_cast<std::uint8_t>(b[at]) |
                                    static_cast<std::uint8_t>(b[at + 1]) << 8);
}
std::uint16_t Be16(std::string_view b, std::size_t at) {
  return static_cast<std::uint16_t>(static_cast<std::uint8_t>(b[at]) << 8 |
                                    static_cast<std::uint8_t>(b[at + 1]));
}
std::uint32_t Le32(std::string_view b, std::size_t at) {
  return static_cast<std::uint32_t>(Le16(b, at)) | static_cast<std::uint32_t>(Le16(b, at + 2))
                                                       << 16;
}
std::uint32_t Be32(std::string_view b, std::size_t at) {
  return static_cast<std::uint32_t>(Be16(b, at)) << 16 |
         static_cast<std::uint32_t>(Be16(b, at + 2));
}

std::string Hex(std::uint64_t v) {
  std::ostringstream s;
  s << "0x" << std::hex << v;
  return s.str();
}

// ECMA-119 7.2.3 / 7.3.3: both halves of a both-endian field must agree.
std::uint16_t Both16(std::string_view b, std::size_t at, const char* field) {
  std::uint16_t le = Le16(b, at);
  if (le != Be16(b, at + 2)) {
    throw IsoFormatError(std::string(field) + ": both-endian halves differ (" + std::to_string(le) +
                         " / " + std::to_string(Be16(b, at + 2)) + ")");
  }
  return le;
}
std::uint32_t Both32(std::string_view b, std::size_t at, const char* field) {
  std::uint32_t le = Le32(b, at);
  if (le != Be32(b, at + 4)) {
    throw IsoFormatError(std::string(field) + ": both-endian halves differ (" + std::to_string(le) +
                         " / " + std::to_string(Be32(b, at + 4)) + ")");
  }
  return le;
}

std::u16string TrimTrailing(std::u16string s) {
  while (!s.empty() && (s.back() == u' ' || s.back() == u'\0')) s.pop_back();
  return s;
}

TextField Text(std::string_view block, std::size_t at, std::size_t width, bool joliet) {
  TextField f;
  f.raw = std::string(block.substr(at, width));
  // A 37-byte Joliet field holds 18 whole characters; its last byte stays out of the text.
  f.text = TrimTrailing(joliet ? DecodeUcs2BigEndian(std::string_view(f.raw).substr(0, width & ~1u))
                               : DecodeWindows1252(f.raw));
  return f;
}

VolumeDate ParseVolumeDate(std::string_view block, std::size_t at) {
  VolumeDate d;
  d.digits = std::string(block.substr(at, 16));
  d.offset = static_cast<std::int8_t>(block[at + 16]);
  return d;
}

// ECMA-119 9.1: parses the record at `at` of `data`, which must lie wholly inside data.
DirectoryRecord ParseRecord(std::string_view data, std::size_t at, std::uint64_t imageOffset) {
  DirectoryRecord r;
  r.imageOffset = imageOffset;
  r.length = static_cast<std::uint8_t>(data[at]);
  if (r.length < 34) {
    throw IsoFormatError("directory record at " + Hex(imageOffset) + ": length " +
                         std::to_string(r.length) + " below the minimum of 34");
  }
  if (at + r.length > data.size()) {
    throw IsoFormatError("directory record at " + Hex(imageOffset) + " runs past its extent");
  }
  std::string_view b = data.substr(at, r.length);
  r.bytes = std::string(b);
  r.extendedAttributeLength = static_cast<std::uint8_t>(b[1]);
  r.extent = Both32(b, 2, "directory record extent");
  r.dataLength = Both32(b, 10, "directory record data length");
  std::copy_n(b.begin() + 18, 7, r.date.bytes.begin());
  r.flags = static_cast<std::uint8_t>(b[25]);
  r.fileUnitSize = static_cast<std::uint8_t>(b[26]);
  r.interleaveGap = static_cast<std::uint8_t>(b[27]);
  r.volumeSequenceNumber = Both16(b, 28, "directory record volume sequence number");
  std::size_t idLength = static_cast<std::uint8_t>(b[32]);
  if (idLength == 0) {
    throw IsoFormatError("directory record at " + Hex(imageOffset) + ": empty identifier");
  }
  // 9.1.12: a padding byte follows an identifier of even length.
  std::size_t idEnd = 33 + idLength + (idLength % 2 == 0 ? 1 : 0);
  if (idEnd > r.length) {
    throw IsoFormatError("directory record at " + Hex(imageOffset) + ": identifier of " +
                         std::to_string(idLength) + " bytes does not fit a record of " +
                         std::to_string(r.length));
  }
  r.identifier = std::string(b.substr(33, idLength));
  if (idLength % 2 == 0 && b[33 + idLength] != '\0') {
    throw IsoFormatError("directory record at " + Hex(imageOffset) +
                         ": padding byte after the identifier is not zero");
  }
  r.systemUse = std::string(b.substr(idEnd));
  if (r.volumeSequenceNumber != 1) {
    throw IsoFormatError("directory record at " + Hex(imageOffset) + ": volume sequence number " +
                         std::to_string(r.volumeSequenceNumber));
  }
  if ((r.flags & 0x80) != 0) {
    throw IsoFormatError("directory record at " + Hex(imageOffset) +
                         ": multi-extent files are not expected");
  }
  return r;
}

std::vector<PathTableRecord> ParsePathTable(std::string_view table, bool bigEndian) {
  std::vector<PathTableRecord> records;
  std::size_t at = 0;
  while (at < table.size()) {
    if (at + 8 > table.size()) throw IsoFormatError("path table record header cut off");
    PathTableRecord r;
    r.identifierLength = static_cast<std::uint8_t>(table[at]);
    r.extendedAttributeLength = static_cast<std::uint8_t>(table[at + 1]);
    r.extent = bigEndian ? Be32(table, at + 2) : Le32(table, at + 2);
    r.parent = bigEndian ? Be16(table, at + 6) : Le16(table, at + 6);
    if (r.identifierLength == 0) {
      throw IsoFormatError("path table record " + std::to_string(records.size() + 1) +
                           ": empty identifier");
    }
    std::size_t length = 8 + r.identifierLength + (r.identifierLength % 2);
    if (at + length > table.size()) {
      throw IsoFormatError("path table record " + std::to_string(records.size() + 1) +
                           " runs past the path table size");
    }
    r.identifier = std::string(table.substr(at + 8, r.identifierLength));
    if (r.identifierLength % 2 == 1 && table[at + 8 + r.identifierLength] != '\0') {
      throw IsoFormatError("path table record " + std::to_string(records.size() + 1) +
                           ": padding byte is not zero");
    }
    records.push_back(std::move(r));
    at += length;
  }
  return records;
}

bool SameRecord(const PathTableRecord& a, const PathTableRecord& b) {
  return a.identifierLength == b.identifierLength &&
         a.extendedAttributeLength == b.extendedAttributeLength && a.extent == b.extent &&
         a.parent == b.parent && a.identifier == b.identifier;
}

}  // namespace

std::u16string DecodeWindows1252(std::string_view bytes) {
  std::u16string out;
  out.reserve(bytes.size());
  for (char ch : bytes) {
    auto c = static_cast<unsigned char>(ch);
    char16_t u = c;
    if (c >= 0x80 && c <= 0x9F && kWindows1252High[c - 0x80] != 0) u = kWindows1252High[c - 0x80];
    out.push_back(u);
  }
  return out;
}

std::u16string DecodeUcs2BigEndian(std::string_view bytes) {
  if (bytes.size() % 2 != 0) {
    throw IsoFormatError("UCS-2 text of odd length " + std::to_string(bytes.size()));
  }
  std::u16string out;
  for (std::size_t i = 0; i < bytes.size(); i += 2)
    out.push_back(static_cast<char16_t>(Be16(bytes, i)));
  return out;
}

std::string Utf8(std::u16string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    std::uint32_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00u);
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;
    }
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
      out.push_back(static_cast<char>(0xC0 | c >> 6));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | c >> 12));
      out.push_back(static_cast<char>(0x80 | (c >> 6 & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | c >> 18));
      out.push_back(static_cast<char>(0x80 | (c >> 12 & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c >> 6 & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
  return out;
}

bool RecordingDate::IsZero() const {
  return std::all_of(bytes.begin(), bytes.end(), [](std::uint8_t b) { return b == 0; });
}

bool VolumeDate::IsUnset() const {
  return digits == std::string(16, '0') && offset == 0;
}

const Entry* Entry::Child(std::u16string_view childName) const {
  for (const Entry& c : children) {
    if (c.name == childName) return &c;
  }
  return nullptr;
}

const Entry* Volume::Find(std::u16string_view path) const {
  const Entry* at = &root;
  std::size_t pos = 0;
  while (pos < path.size()) {
    if (path[pos] == u'/') {
      ++pos;
      continue;
    }
    std::size_t end = path.find(u'/', pos);
    if (end == std::u16string_view::npos) end = path.size();
    at = at->Child(path.substr(pos, end - pos));
    if (at == nullptr) return nullptr;
    pos = end;
  }
  return at;
}

void WalkEntries(const Entry& dir,
                 const std::function<void(const std::u16string& path, const Entry&)>& visit) {
  std::function<void(const Entry&, const std::u16string&)> walk = [&](const Entry& d,
                                                                      const std::u16string& base) {
    for (const Entry& c : d.children) {
      std::u16string path = base + u"/" + c.name;
      visit(path, c);
      if (c.IsDirectory()) walk(c, path);
    }
  };
  walk(dir, u"");
}

IsoImage::IsoImage(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot open image " + path);
  std::ostringstream s;
  s << in.rdbuf();
  bytes_ = s.str();
  label_ = path;
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
    Fail("block " + std::to_string(lba) + " lies beyond the end of the image (" +
         std::to_string(bytes_.size()) + " bytes)");
  }
  return std::string_view(bytes_).substr(start, kIsoBlockSize);
}

std::string IsoImage::ReadFile(const Entry& file) const {
  if (file.IsDirectory()) Fail(Utf8(file.name) + " is a directory");
  if (file.size() == 0) return {};
  std::uint64_t start = std::uint64_t{file.extent()} * kIsoBlockSize;
  if (start + file.size() > bytes_.size()) {
    Fail("file " + Utf8(file.name) + " (block " + std::to_string(file.extent()) + ", " +
         std::to_string(file.size()) + " bytes) runs past the end of the image");
  }
  return bytes_.substr(start, file.size());
}

void IsoImage::Parse() {
  if (bytes_.size() % kIsoBlockSize != 0) {
    Fail("length " + std::to_string(bytes_.size()) + " is not a multiple of 2048");
  }
  // ECMA-119 6.7.1: the descriptor set starts at block 16 and ends with a terminator (type 255).
  std::vector<VolumeDescriptor> descriptors;
  bool havePrimary = false;
  VolumeDescriptor primary;
  VolumeDescriptor joliet;
  for (std::uint32_t lba = 16;; ++lba) {
    std::string_view b = Block(lba);
    if (b.substr(1, 5) != "CD001" || b[6] != 1) {
      Fail("block " + std::to_string(lba) + " is not a volume descriptor (no \"CD001\" version 1)");
    }
    auto type = static_cast<std::uint8_t>(b[0]);
    descriptorTypes_.push_back(type);
    if (type == 255) {
      if (b.substr(7).find_first_not_of('\0') != std::string_view::npos) {
        Fail("terminator at block " + std::to_string(lba) + " has non-zero bytes after byte 6");
      }
      terminatorBlock_ = lba;
      break;
    }
    if (type != 1 && type != 2) continue;  // boot records and partitions are not ours to check
    bool isJoliet = false;
    if (type == 2) {
      std::string_view esc = b.substr(88, 3);
      isJoliet = esc == "%/@" || esc == "%/C" || esc == "%/E";
      if (!isJoliet) continue;
      if (hasJoliet_) Fail("second Joliet descriptor at block " + std::to_string(lba));
    } else if (havePrimary) {
      Fail("second primary descriptor at block " + std::to_string(lba));
    }
    if (type == 1 && lba != 16) Fail("the first descriptor is not the primary descriptor");
    VolumeDescriptor d;
    try {
      d.block = lba;
      d.bytes = std::string(b);
      d.type = type;
      d.version = static_cast<std::uint8_t>(b[6]);
      d.flags = static_cast<std::uint8_t>(b[7]);
      d.systemId = Text(b, 8, 32, isJoliet);
      d.volumeId = Text(b, 40, 32, isJoliet);
      if (b.substr(72, 8).find_first_not_of('\0') != std::string_view::npos) {
        Fail("descriptor at block " + std::to_string(lba) + ": unused bytes 72-79 not zero");
      }
      d.volumeSpaceSize = Both32(b, 80, "volume space size");
      d.escapeSequences = std::string(b.substr(88, 32));
      d.volumeSetSize = Both16(b, 120, "volume set size");
      d.volumeSequenceNumber = Both16(b, 124, "volume sequence number");
      d.logicalBlockSize = Both16(b, 128, "logical block size");
      d.pathTableSize = Both32(b, 132, "path table size");
      d.typeLPathTable = Le32(b, 140);
      d.optionalTypeLPathTable = Le32(b, 144);
      d.typeMPathTable = Be32(b, 148);
      d.optionalTypeMPathTable = Be32(b, 152);
      d.root = ParseRecord(b.substr(156, 34), 0, std::uint64_t{lba} * kIsoBlockSize + 156);
      d.volumeSetId = Text(b, 190, 128, isJoliet);
      d.publisherId = Text(b, 318, 128, isJoliet);
      d.dataPreparerId = Text(b, 446, 128, isJoliet);
      d.applicationId = Text(b, 574, 128, isJoliet);
      d.copyrightFileId = Text(b, 702, 37, isJoliet);
      d.abstractFileId = Text(b, 739, 37, isJoliet);
      d.bibliographicFileId = Text(b, 776, 37, isJoliet);
      d.creation = ParseVolumeDate(b, 813);
      d.modification = ParseVolumeDate(b, 830);
      d.expiration = ParseVolumeDate(b, 847);
      d.effective = ParseVolumeDate(b, 864);
      d.fileStructureVersion = static_cast<std::uint8_t>(b[881]);
    } catch (const IsoFormatError& e) {
      if (std::string_view(e.what()).substr(0, label_.size()) == label_) throw;
      Fail("descriptor at block " + std::to_string(lba) + ": " + e.what());
    }
    if (d.root.length != 34 || d.root.identifier != std::string(1, '\0') || !d.root.IsDirectory()) {
      Fail("descriptor at block " + std::to_string(lba) +
           ": root directory record is not a 34-byte directory record with identifier 0x00");
    }
    if (d.logicalBlockSize != kIsoBlockSize) {
      Fail("logical block size " + std::to_string(d.logicalBlockSize) + " is not 2048");
    }
    if (d.volumeSetSize != 1 || d.volumeSequenceNumber != 1) {
      Fail("volume set size / sequence number are not 1 / 1");
    }
    if (d.fileStructureVersion != 1) Fail("file structure version is not 1");
    if (type == 1) {
      primary = std::move(d);
      havePrimary = true;
    } else {
      joliet = std::move(d);
      hasJoliet_ = true;
    }
  }
  if (!havePrimary) Fail("no primary volume descriptor");
  if (bytes_.size() < std::uint64_t{primary.volumeSpaceSize} * kIsoBlockSize) {
    Fail("the image is " + std::to_string(bytes_.size() / kIsoBlockSize) +
         " blocks long, shorter than its volume space size " +
         std::to_string(primary.volumeSpaceSize));
  }
  if (hasJoliet_ && joliet.volumeSpaceSize != primary.volumeSpaceSize) {
    Fail("Joliet volume space size differs from the primary one");
  }
  primary_ = ParseVolume(primary, false);
  if (hasJoliet_) joliet_ = ParseVolume(joliet, true);
}

Volume IsoImage::ParseVolume(const VolumeDescriptor& descriptor, bool joliet) const {
  Volume v;
  v.joliet = joliet;
  v.descriptor = descriptor;
  const std::string tree = joliet ? "Joliet" : "ISO 9660";
  const std::uint32_t volumeBlocks = descriptor.volumeSpaceSize;

  auto decode = [&](const std::string& id) {
    return joliet ? DecodeUcs2BigEndian(id) : DecodeWindows1252(id);
  };
  auto tableBytes = [&](std::uint32_t lba, const char* kind) {
    std::uint64_t start = std::uint64_t{lba} * kIsoBlockSize;
    std::uint64_t end = start + descriptor.pathTableSize;
    if (lba <= descriptor.block || end > std::uint64_t{volumeBlocks} * kIsoBlockSize) {
      Fail(tree + " " + kind + " path table at block " + std::to_string(lba) + " (" +
           std::to_string(descriptor.pathTableSize) + " bytes) lies outside the volume");
    }
    return std::string_view(bytes_).substr(start, descriptor.pathTableSize);
  };

  // Path tables (ECMA-119 9.4): type L and type M hold the same records.
  std::vector<PathTableRecord> typeM;
  try {
    v.pathTable = ParsePathTable(tableBytes(descriptor.typeLPathTable, "type L"), false);
    typeM = ParsePathTable(tableBytes(descriptor.typeMPathTable, "type M"), true);
  } catch (const IsoFormatError& e) {
    if (std::string_view(e.what()).substr(0, label_.size()) == label_) throw;
    Fail(tree + " path table: " + e.what());
  }
  if (v.pathTable.size() != typeM.size()) {
    Fail(tree + " path tables: type L has " + std::to_string(v.pathTable.size()) +
         " records, type M " + std::to_string(typeM.size()));
  }
  for (std::size_t i = 0; i < typeM.size(); ++i) {
    if (!SameRecord(v.pathTable[i], typeM[i])) {
      Fail(tree + " path tables: record " + std::to_string(i + 1) +
           " differs between type L and M");
    }
  }
  if (v.pathTable.empty() || v.pathTable[0].identifier != std::string(1, '\0') ||
      v.pathTable[0].parent != 1 || v.pathTable[0].extent != descriptor.root.extent) {
    Fail(tree +
         " path table: the first record is not the root (identifier 0x00, parent 1, "
         "extent of the root record)");
  }
  if (v.pathTable.size() > 0xFFFF) Fail(tree + " path table: more than 65535 records");
  for (std::size_t i = 1; i < v.pathTable.size(); ++i) {
    const PathTableRecord& r = v.pathTable[i];
    if (r.parent < 1 || r.parent > i) {
      Fail(tree + " path table record " + std::to_string(i + 1) + " (" +
           Utf8(decode(r.identifier)) + "): parent " + std::to_string(r.parent) +
           " is not an earlier record");
    }
    if (r.parent < v.pathTable[i - 1].parent) {
      Fail(tree + " path table record " + std::to_string(i + 1) + ": parent number " +
           std::to_string(r.parent) + " decreases (previous " +
           std::to_string(v.pathTable[i - 1].parent) + ")");
    }
  }

  // Directory extents, walked from the root record of the descriptor.
  std::map<std::uint32_t, std::size_t> pathIndexByExtent;
  for (std::size_t i = 0; i < v.pathTable.size(); ++i) {
    if (!pathIndexByExtent.emplace(v.pathTable[i].extent, i).second) {
      Fail(tree + " path table: two records share extent " + std::to_string(v.pathTable[i].extent));
    }
  }
  std::set<std::uint32_t> visited;

  std::function<void(Entry&, const Entry*, int)> readDirectory = [&](Entry& dir,
                                                                     const Entry* parentDir,
                                                                     int depth) {
    const std::string where =
        tree + " directory " + Utf8(dir.name) + " (block " + std::to_string(dir.extent()) + ")";
    if (depth > 255) Fail(where + ": directories nested more than 255 deep");
    if (!visited.insert(dir.extent()).second) Fail(where + ": extent visited twice (a loop)");
    if (dir.size() == 0 || dir.size() % kIsoBlockSize != 0) {
      Fail(where + ": data length " + std::to_string(dir.size()) +
           " is not a positive multiple of 2048");
    }
    std::uint64_t start = std::uint64_t{dir.extent()} * kIsoBlockSize;
    if (dir.extent() <= descriptor.block ||
        std::uint64_t{dir.extent()} + dir.size() / kIsoBlockSize > volumeBlocks) {
      Fail(where + ": extent lies outside the volume");
    }
    std::string_view data = std::string_view(bytes_).substr(start, dir.size());
    std::vector<DirectoryRecord> records;
    std::size_t at = 0;
    while (at < data.size()) {
      std::size_t inBlock = at % kIsoBlockSize;
      if (data[at] == 0) {
        // 6.8.1.1: the rest of a block after the last record is zero.
        std::size_t blockEnd = at - inBlock + kIsoBlockSize;
        if (data.substr(at, blockEnd - at).find_first_not_of('\0') != std::string_view::npos) {
          Fail(where + ": non-zero bytes after the last record of a block at offset " +
               std::to_string(at));
        }
        at = blockEnd;
        continue;
      }
      auto length = static_cast<std::uint8_t>(data[at]);
      if (inBlock + length > kIsoBlockSize) {
        Fail(where + ": record at offset " + std::to_string(at) + " (" + std::to_string(length) +
             " bytes) straddles a block boundary");
      }
      try {
        records.push_back(ParseRecord(data, at, start + at));
      } catch (const IsoFormatError& e) {
        Fail(where + ": " + e.what());
      }
      at += length;
    }
    if (records.size() < 2 || records[0].identifier != std::string(1, '\0') ||
        records[1].identifier != std::string(1, '\1')) {
      Fail(where + ": does not start with the \".\" and \"..\" records");
    }
    dir.self = records[0];
    dir.parent = records[1];
    auto sameTarget = [](const DirectoryRecord& a, const DirectoryRecord& b) {
      return a.extent == b.extent && a.dataLength == b.dataLength && a.flags == b.flags;
    };
    if (!dir.self.IsDirectory() || !dir.parent.IsDirectory()) {
      Fail(where + ": \".\" or \"..\" lacks the directory flag");
    }
    if (!sameTarget(dir.self, dir.record)) {
      Fail(where + ": \".\" (block " + std::to_string(dir.self.extent) + ", " +
           std::to_string(dir.self.dataLength) + " bytes) differs from the record pointing at it");
    }
    const Entry& up = parentDir != nullptr ? *parentDir : dir;
    if (!sameTarget(dir.parent, up.self)) {
      Fail(where + ": \"..\" (block " + std::to_string(dir.parent.extent) +
           ") does not point at the parent directory (block " + std::to_string(up.self.extent) +
           ")");
    }
    std::set<std::string> names;
    for (std::size_t i = 2; i < records.size(); ++i) {
      const DirectoryRecord& r = records[i];
      if (r.identifier == std::string(1, '\0') || r.identifier == std::string(1, '\1')) {
        Fail(where + ": a \".\" or \"..\" record after the first two records");
      }
      if (!names.insert(r.identifier).second) {
        Fail(where + ": two records named " + Utf8(decode(r.identifier)));
      }
      Entry child;
      child.record = r;
      try {
        child.name = decode(r.identifier);
      } catch (const IsoFormatError& e) {
        Fail(where + ": record at " + Hex(r.imageOffset) + ": " + e.what());
      }
      if (!child.IsDirectory() && r.dataLength > 0 &&
          std::uint64_t{r.extent} * kIsoBlockSize + r.dataLength >
              std::uint64_t{volumeBlocks} * kIsoBlockSize) {
        Fail(where + ": file " + Utf8(child.name) + " runs past the volume space size");
      }
      dir.children.push_back(std::move(child));
    }
    // Path table number of this directory, checked against its parent and name.
    auto found = pathIndexByExtent.find(dir.extent());
    if (found == pathIndexByExtent.end()) {
      Fail(where + ": no path table record points at it");
    }
    const PathTableRecord& pt = v.pathTable[found->second];
    dir.directoryNumber = static_cast<std::uint16_t>(found->second + 1);
    if (parentDir != nullptr) {
      if (pt.parent != parentDir->directoryNumber) {
        Fail(where + ": path table record " + std::to_string(dir.directoryNumber) +
             " names parent " + std::to_string(pt.parent) + ", the walk finds parent " +
             std::to_string(parentDir->directoryNumber));
      }
      if (pt.identifier != dir.record.identifier) {
        Fail(where + ": path table identifier " + Utf8(decode(pt.identifier)) +
             " differs from the directory record's");
      }
      if (pt.extendedAttributeLength != dir.record.extendedAttributeLength) {
        Fail(where + ": extended attribute lengths differ between path table and record");
      }
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
  v.root.name.clear();
  v.root.self = descriptor.root;  // checked against the extent's own "." below
  readDirectory(v.root, nullptr, 0);
  // The descriptor's root record is the root's "." record (ECMA-119 8.4.18).
  if (v.root.self.extent != descriptor.root.extent ||
      v.root.self.dataLength != descriptor.root.dataLength ||
      v.root.self.date.bytes != descriptor.root.date.bytes ||
      v.root.self.flags != descriptor.root.flags) {
    Fail(tree + ": the root's \".\" record differs from the descriptor's root record");
  }
  if (v.directoryCount != v.pathTable.size()) {
    Fail(tree + ": the path table lists " + std::to_string(v.pathTable.size()) +
         " directories, the directory extents hold " + std::to_string(v.directoryCount));
  }
  return v;
}

}  // namespace tavrine::testing
