#include "image/reader.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>
#include <utility>

#include "tree/text.h"

namespace tavrine::iso {

namespace {

// The longest path table ECMA-119 allows: 65535 records of at most 8 + 255 + 1 bytes. A larger
// size is refused before anything is read, so a hostile size cannot claim the memory.
constexpr std::uint64_t kMaxPathTableSize = 65535ull * 264;
// Deeper trees are refused, so that a hostile image cannot exhaust the stack.
constexpr int kMaxDepth = 255;

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

// ECMA-119 7.2.3 / 7.3.3: both halves of a both-endian field must agree. field() names the field
// for the message; it is only called when they differ, so that no text is made per record.
template <typename Field>
std::uint32_t Both(std::string_view b, std::size_t at, int size, const Field& field) {
  const std::uint32_t le = Uint(b, at, size, false);
  const std::uint32_t be = Uint(b, at + std::size_t(size), size, true);
  if (le != be) {
    Fail(field() + ": both-endian halves differ (" + std::to_string(le) + " / " +
         std::to_string(be) + ")");
  }
  return le;
}

bool AllZero(std::string_view b) {
  return b.find_first_not_of('\0') == std::string_view::npos;
}

std::string Where(std::uint64_t imageOffset) {
  std::ostringstream s;
  s << "block " << imageOffset / kIsoBlockSize << ", directory record at offset "
    << imageOffset % kIsoBlockSize;
  return s.str();
}

TextField Text(std::string_view block, std::size_t at, std::size_t width, bool joliet) {
  TextField f{std::string(block.substr(at, width)), {}};
  // A 37-byte Joliet field holds 18 whole characters; its last byte stays out of the text.
  f.text = joliet ? DecodeUcs2BigEndian(std::string_view(f.raw).substr(0, width & ~1u))
                  : text::FromWindows1252(f.raw);
  while (!f.text.empty() && (f.text.back() == u' ' || f.text.back() == u'\0')) f.text.pop_back();
  return f;
}

// A directory record with its identifier bytes (0x00 for ".", 0x01 for ".."), which are kept
// only while its directory is read: entries keep the decoded name.
struct RawRecord {
  DirectoryRecord record;
  std::string identifier;
};

// ECMA-119 9.1: the record at `at` of `data`, which must lie wholly inside data.
RawRecord ParseRecord(std::string_view data, std::size_t at, std::uint64_t imageOffset) {
  DirectoryRecord r;
  r.imageOffset = imageOffset;
  r.length = static_cast<std::uint8_t>(data[at]);
  const auto where = [imageOffset] { return Where(imageOffset); };
  if (r.length < 34) Fail(where() + ": record length " + std::to_string(r.length) + " below 34");
  if (at + r.length > data.size()) Fail(where() + ": record length runs past the block");
  const std::string_view b = data.substr(at, r.length);
  r.extent = Both(b, 2, 4, [&] { return where() + ": location of extent"; });
  r.dataLength = Both(b, 10, 4, [&] { return where() + ": data length"; });
  std::copy_n(b.begin() + 18, 7, r.date.bytes.begin());
  r.flags = static_cast<std::uint8_t>(b[25]);
  const std::size_t idLength = static_cast<std::uint8_t>(b[32]);
  // 9.1.12: a padding byte follows an identifier of even length.
  const std::size_t idEnd = 33 + idLength + (idLength % 2 == 0 ? 1 : 0);
  if (idLength == 0 || idEnd > r.length) {
    Fail(where() + ": identifier length " + std::to_string(idLength) + " in a record of " +
         std::to_string(r.length) + " bytes");
  }
  if (idLength % 2 == 0 && b[33 + idLength] != '\0') Fail(where() + ": padding byte not zero");
  if (Both(b, 28, 2, [&] { return where() + ": volume sequence number"; }) != 1 || b[1] != 0 ||
      b[26] != 0 || b[27] != 0) {
    Fail(where() +
         ": volume sequence number not 1, or an extended attribute record or interleaving, "
         "none of which a single-volume image holds");
  }
  return {r, std::string(b.substr(33, idLength))};
}

std::vector<PathTableRecord> ParsePathTable(std::string_view table, bool bigEndian,
                                            const std::string& what) {
  std::vector<PathTableRecord> records;
  for (std::size_t at = 0; at < table.size();) {
    const auto where = [&] { return what + " record " + std::to_string(records.size() + 1); };
    const std::size_t n = at + 8 <= table.size() ? static_cast<std::uint8_t>(table[at]) : 0;
    if (n == 0 || at + 8 + n + n % 2 > table.size() || table[at + 1] != 0) {
      Fail(where() + ": empty identifier, extended attributes or running past the table size");
    }
    if (n % 2 == 1 && table[at + 8 + n] != '\0') Fail(where() + ": padding byte is not zero");
    records.push_back({Uint(table, at + 2, 4, bigEndian),
                       static_cast<std::uint16_t>(Uint(table, at + 6, 2, bigEndian)),
                       std::string(table.substr(at + 8, n))});
    at += 8 + n + n % 2;
    if (records.size() > 0xFFFF) Fail(what + ": more than 65535 records");
  }
  return records;
}

// The entry at a '/'-separated path below root (empty parts skipped), or nullptr.
const Entry* Lookup(const Entry& root, std::u16string_view path) {
  const Entry* at = &root;
  for (std::size_t pos = 0; pos < path.size();) {
    const std::size_t end = std::min(path.find(u'/', pos), path.size());
    if (end > pos) {
      const std::u16string_view part = path.substr(pos, end - pos);
      auto it = std::find_if(at->children.begin(), at->children.end(),
                             [&](const Entry& c) { return c.name == part; });
      if (it == at->children.end()) return nullptr;
      at = &*it;
    }
    pos = end + 1;
  }
  return at;
}

}  // namespace

std::u16string DecodeUcs2BigEndian(std::string_view bytes) {
  if (bytes.size() % 2 != 0) Fail("UCS-2 text of odd length " + std::to_string(bytes.size()));
  std::u16string out;
  out.reserve(bytes.size() / 2);
  for (std::size_t i = 0; i < bytes.size(); i += 2)
    out.push_back(static_cast<char16_t>(Uint(bytes, i, 2, true)));
  return out;
}

std::vector<Section> Entry::Sections() const {
  if (!sections.empty()) return sections;
  return {{record.extent, record.dataLength}};
}

std::uint64_t Entry::size() const {
  if (sections.size() <= 1) return record.dataLength;
  std::uint64_t total = 0;
  for (const Section& s : sections) total += s.length;
  return total;
}

bool Entry::HasChild(std::u16string_view childName) const {
  return std::any_of(children.begin(), children.end(),
                     [&](const Entry& c) { return c.name == childName; });
}

const Entry& Entry::Child(std::u16string_view childName) const {
  for (const Entry& c : children) {
    if (c.name == childName) return c;
  }
  throw InputError("no entry named '" + text::ToUtf8(childName) + "' in directory '" +
                   text::ToUtf8(name) + "'");
}

bool Volume::Has(std::u16string_view path) const {
  return Lookup(root, path) != nullptr;
}

const Entry& Volume::Find(std::u16string_view path) const {
  const Entry* found = Lookup(root, path);
  if (found == nullptr) throw InputError("no entry '" + text::ToUtf8(path) + "' in the image");
  return *found;
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
  std::error_code ignored;
  if (std::filesystem::is_directory(path, ignored)) {
    throw InputError("'" + path + "' is a folder, not an image file");
  }
  file_ = OpenFileRecord(path, GENERIC_READ, SHARE_READ_WRITE, OPEN_EXISTING);
  if (file_.Handle < 0) {
    throw IoError("cannot open the image '" + path + "': " + std::strerror(errno));
  }
  const std::int64_t size = FileRecordSize(file_);
  if (size < 0) {
    const std::string why = std::strerror(errno);
    CloseFileRecord(file_);
    throw IoError("cannot read the image '" + path + "': " + why);
  }
  size_ = static_cast<std::uint64_t>(size);
  try {
    Parse();
  } catch (...) {
    CloseFileRecord(file_);
    throw;
  }
}

IsoImage::IsoImage(std::string bytes, std::string label)
    : label_(std::move(label)), bytes_(std::move(bytes)), size_(bytes_.size()) {
  Parse();
}

IsoImage::IsoImage(IsoImage&& other) noexcept
    : label_(std::move(other.label_)),
      bytes_(std::move(other.bytes_)),
      file_(std::exchange(other.file_, FileRecord{-1, {}})),
      size_(other.size_),
      primary_(std::move(other.primary_)),
      joliet_(std::move(other.joliet_)),
      hasJoliet_(other.hasJoliet_),
      terminatorBlock_(other.terminatorBlock_),
      descriptorTypes_(std::move(other.descriptorTypes_)) {}

IsoImage& IsoImage::operator=(IsoImage&& other) noexcept {
  if (this != &other) {
    CloseFileRecord(file_);
    label_ = std::move(other.label_);
    bytes_ = std::move(other.bytes_);
    file_ = std::exchange(other.file_, FileRecord{-1, {}});
    size_ = other.size_;
    primary_ = std::move(other.primary_);
    joliet_ = std::move(other.joliet_);
    hasJoliet_ = other.hasJoliet_;
    terminatorBlock_ = other.terminatorBlock_;
    descriptorTypes_ = std::move(other.descriptorTypes_);
  }
  return *this;
}

IsoImage::~IsoImage() {
  CloseFileRecord(file_);
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

void IsoImage::ReadAt(std::uint64_t offset, std::span<char> out) const {
  if (offset > size_ || out.size() > size_ - offset) {
    Fail("block " + std::to_string(offset / kIsoBlockSize) + " lies beyond the end of the image (" +
         std::to_string(size_) + " bytes)");
  }
  if (file_.Handle < 0) {
    std::memcpy(out.data(), bytes_.data() + offset, out.size());
    return;
  }
  const auto count = static_cast<std::int64_t>(out.size());
  const std::int64_t got =
      ReadFileRecordAt(file_, out.data(), count, static_cast<std::int64_t>(offset));
  if (got != count) {
    throw IoError("cannot read block " + std::to_string(offset / kIsoBlockSize) +
                  " of the image '" + label_ +
                  "': " + (got < 0 ? std::strerror(errno) : "the file ended early"));
  }
}

std::string IsoImage::Block(std::uint32_t lba) const {
  std::string block(kIsoBlockSize, '\0');
  ReadAt(std::uint64_t{lba} * kIsoBlockSize, block);
  return block;
}

std::string IsoImage::RecordBytes(const DirectoryRecord& record) const {
  std::string bytes(record.length, '\0');
  ReadAt(record.imageOffset, bytes);
  return bytes;
}

std::string IsoImage::ReadFile(const Entry& file) const {
  if (file.IsDirectory()) Fail(text::ToUtf8(file.name) + " is a directory");
  std::string data;
  for (const Section& s : file.Sections()) {
    const std::size_t at = data.size();
    data.resize(at + s.length);
    ReadAt(std::uint64_t{s.extent} * kIsoBlockSize, std::span<char>(data.data() + at, s.length));
  }
  return data;
}

void IsoImage::Parse() {
  try {
    if (size_ % kIsoBlockSize != 0) {
      Fail("length " + std::to_string(size_) + " is not a multiple of 2048");
    }
    // ECMA-119 6.7.1: the descriptor set starts at block 16 and ends with a terminator.
    VolumeDescriptor primary;
    VolumeDescriptor joliet;
    for (std::uint32_t lba = 16;; ++lba) {
      if (std::uint64_t{lba} * kIsoBlockSize >= size_) {
        Fail("no volume descriptor set terminator before the end of the image (block " +
             std::to_string(lba) + ")");
      }
      const std::string block = Block(lba);
      const std::string_view b = block;
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
      const bool isJoliet = type == 2 && b[88] == '%' && b[89] == '/' &&
                            (b[90] == '@' || b[90] == 'C' || b[90] == 'E');
      if (type != 1 && !isJoliet) continue;  // boot records and others are not ours to check
      if (type == 1 && lba != 16) Fail(at + ": the primary descriptor is not the first");
      if (isJoliet && hasJoliet_) Fail(at + ": a second Joliet descriptor");
      (type == 1 ? primary : joliet) = ParseDescriptor(b, lba, isJoliet);
      hasJoliet_ = hasJoliet_ || isJoliet;
    }
    if (primary.block != 16) Fail("no primary volume descriptor");
    if (size_ < std::uint64_t{primary.volumeSpaceSize} * kIsoBlockSize) {
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
  d.volumeSpaceSize = Both(b, 80, 4, [&] { return at + "volume space size"; });
  if (Both(b, 120, 2, [&] { return at + "volume set size"; }) != 1 ||
      Both(b, 124, 2, [&] { return at + "volume sequence number"; }) != 1) {
    Fail(at + "volume set size / sequence number are not 1 / 1");
  }
  if (Both(b, 128, 2, [&] { return at + "logical block size"; }) != kIsoBlockSize) {
    Fail(at + "logical block size not 2048");
  }
  d.pathTableSize = Both(b, 132, 4, [&] { return at + "path table size"; });
  d.typeLPathTable = Uint(b, 140, 4, false);
  d.typeMPathTable = Uint(b, 148, 4, true);
  const RawRecord root =
      ParseRecord(b.substr(156, 34), 0, std::uint64_t{lba} * kIsoBlockSize + 156);
  d.root = root.record;
  if (d.root.length != 34 || root.identifier != std::string_view("\0", 1) ||
      !d.root.IsDirectory() || d.root.IsMultiExtent()) {
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
  // where() names the identifier's place, made only for a message.
  auto decode = [&](std::string_view id, const auto& where) {
    try {
      return joliet ? DecodeUcs2BigEndian(id) : text::FromWindows1252(id);
    } catch (const IsoFormatError& e) {
      Fail(where() + ": identifier: " + e.what());
    }
  };

  // Path tables (ECMA-119 9.4): type L and type M hold the same records.
  auto table = [&](std::uint32_t lba, bool bigEndian) {
    const std::string what =
        tree + (bigEndian ? " type M" : " type L") + " path table at block " + std::to_string(lba);
    const std::uint64_t start = std::uint64_t{lba} * kIsoBlockSize;
    if (descriptor.pathTableSize > kMaxPathTableSize) {
      Fail(what + ": path table size " + std::to_string(descriptor.pathTableSize) +
           " exceeds what 65535 records can fill");
    }
    if (lba <= descriptor.block || start + descriptor.pathTableSize > volumeEnd) {
      Fail(what + ": location lies outside the volume");
    }
    std::string bytes(descriptor.pathTableSize, '\0');
    ReadAt(start, bytes);
    return ParsePathTable(bytes, bigEndian, what);
  };
  v.pathTable = table(descriptor.typeLPathTable, false);
  const std::vector<PathTableRecord> typeM = table(descriptor.typeMPathTable, true);
  for (std::size_t i = 0; i < std::max(typeM.size(), v.pathTable.size()); ++i) {
    if (i >= typeM.size() || i >= v.pathTable.size() || typeM[i].extent != v.pathTable[i].extent ||
        typeM[i].parent != v.pathTable[i].parent ||
        typeM[i].identifier != v.pathTable[i].identifier) {
      Fail(tree + " path tables: record " + std::to_string(i + 1) +
           " differs between type L and M");
    }
  }
  if (v.pathTable.empty() || v.pathTable[0].identifier != std::string(1, '\0') ||
      v.pathTable[0].parent != 1 || v.pathTable[0].extent != descriptor.root.extent) {
    Fail(tree + " path table at block " + std::to_string(descriptor.typeLPathTable) +
         ": the first record is not the root");
  }
  std::map<std::uint32_t, std::size_t> pathIndexByExtent;
  for (std::size_t i = 0; i < v.pathTable.size(); ++i) {
    const PathTableRecord& r = v.pathTable[i];
    auto fail = [&](const std::string& why) {
      Fail(
          tree + " path table record " + std::to_string(i + 1) + " (" +
          text::ToUtf8(decode(
              r.identifier, [&] { return tree + " path table record " + std::to_string(i + 1); })) +
          "): parent " + std::to_string(r.parent) + why);
    };
    if (i > 0 && (r.parent < 1 || r.parent > i)) fail(" is not an earlier record");
    if (i > 0 && r.parent < v.pathTable[i - 1].parent) fail(" decreases");
    if (!pathIndexByExtent.emplace(r.extent, i).second) fail(": its extent is shared");
  }

  // Directory extents, walked from the root record of the descriptor, one block at a time.
  std::set<std::uint32_t> visited;
  std::string block(kIsoBlockSize, '\0');
  std::function<void(Entry&, std::string_view, const Entry*, const DirectoryRecord*, int)>
      readDirectory = [&](Entry& dir, std::string_view rawName, const Entry* up,
                          const DirectoryRecord* upSelf, int depth) {
        const std::string where = tree + " directory '" + text::ToUtf8(dir.name) + "' (block " +
                                  std::to_string(dir.extent()) + ")";
        if (depth > kMaxDepth) Fail(where + ": directories nested more than 255 deep");
        if (!visited.insert(dir.extent()).second) {
          Fail(where + ": location of extent visited twice (a loop)");
        }
        const std::uint64_t start = std::uint64_t{dir.extent()} * kIsoBlockSize;
        const std::uint32_t length = dir.record.dataLength;
        if (length == 0 || length % kIsoBlockSize != 0 || dir.extent() <= descriptor.block ||
            start + length > volumeEnd || dir.record.IsMultiExtent()) {
          Fail(where + ": data length " + std::to_string(length) +
               " is not a positive multiple of 2048 inside the volume");
        }
        std::vector<RawRecord> records;
        for (std::uint64_t blockStart = start; blockStart < start + length;
             blockStart += kIsoBlockSize) {
          ReadAt(blockStart, block);
          for (std::size_t at = 0; at < kIsoBlockSize;) {
            if (block[at] == 0) {
              // 6.8.1.1: the rest of a block after its last record is zero.
              if (!AllZero(std::string_view(block).substr(at))) {
                Fail("block " + std::to_string(blockStart / kIsoBlockSize) + " of " + where +
                     ": record length 0 at offset " + std::to_string(at) +
                     " followed by non-zero bytes");
              }
              break;
            }
            records.push_back(ParseRecord(block, at, blockStart + at));
            at += records.back().record.length;
          }
        }
        auto sameTarget = [](const DirectoryRecord& a, const DirectoryRecord& b) {
          return a.extent == b.extent && a.dataLength == b.dataLength &&
                 (a.flags & 0x82) == (b.flags & 0x82);
        };
        if (records.size() < 2 || records[0].identifier != std::string_view("\0", 1) ||
            records[1].identifier != std::string_view("\1", 1) ||
            !records[0].record.IsDirectory() || !records[1].record.IsDirectory()) {
          Fail(where + ": does not start with the \".\" and \"..\" directory records");
        }
        const DirectoryRecord self = records[0].record;
        const DirectoryRecord& parent = records[1].record;
        if (!sameTarget(self, dir.record)) {
          Fail(Where(self.imageOffset) + " of " + where +
               ": \".\" differs from the record pointing at it");
        }
        // One common writer points ".." of every Joliet directory at the directory itself;
        // readers never follow "..", so that much is let pass.
        if (!sameTarget(parent, upSelf != nullptr ? *upSelf : self) &&
            !(joliet && sameTarget(parent, self))) {
          Fail(Where(parent.imageOffset) + " of " + where + ": \"..\" (block " +
               std::to_string(parent.extent) + ") does not point at the parent directory");
        }
        if (up == nullptr) v.rootSelf = self;
        std::vector<std::string> dirNames;  // the raw names of the sub-directories, in order
        std::set<std::string> names;
        for (std::size_t i = 2; i < records.size(); ++i) {
          DirectoryRecord& r = records[i].record;
          const std::string& id = records[i].identifier;
          const auto at = [&, offset = r.imageOffset] { return Where(offset) + " of " + where; };
          if (id == std::string_view("\0", 1) || id == std::string_view("\1", 1)) {
            Fail(at() + ": a \".\" or \"..\" record after the first two records");
          }
          // 9.1.6: the records of one multi-extent file follow each other, every one but the
          // last flagged, with the same name, each section but the last whole blocks.
          std::vector<Section> sections{{r.extent, r.dataLength}};
          std::size_t last = i;
          while (records[last].record.IsMultiExtent()) {
            const DirectoryRecord& section = records[last].record;
            if (section.IsDirectory()) Fail(at() + ": a directory flagged multi-extent");
            if (last + 1 == records.size() || records[last + 1].identifier != id ||
                records[last + 1].record.IsDirectory()) {
              Fail(Where(section.imageOffset) + " of " + where +
                   ": a multi-extent run ends without its final record");
            }
            if (section.dataLength % kIsoBlockSize != 0) {
              Fail(Where(section.imageOffset) + " of " + where + ": data length " +
                   std::to_string(section.dataLength) +
                   " of a section before the last is not a multiple of 2048");
            }
            ++last;
            sections.push_back({records[last].record.extent, records[last].record.dataLength});
          }
          if (!names.insert(id).second) {
            Fail(at() + ": a second record named '" + text::ToUtf8(decode(id, at)) + "'");
          }
          Entry child;
          child.name = decode(id, at);
          child.record = std::move(r);
          for (const Section& s : sections) {
            if (!child.IsDirectory() && s.length > 0 &&
                std::uint64_t{s.extent} * kIsoBlockSize + s.length > volumeEnd) {
              Fail(at() + ": file '" + text::ToUtf8(child.name) + "': data at block " +
                   std::to_string(s.extent) + " run past the volume space size");
            }
          }
          if (child.IsDirectory()) dirNames.push_back(id);
          if (sections.size() > 1) child.sections = std::move(sections);
          dir.children.push_back(std::move(child));
          i = last;
        }
        records.clear();
        records.shrink_to_fit();
        // The path table record of this directory, checked against its parent and name.
        auto found = pathIndexByExtent.find(dir.extent());
        if (found == pathIndexByExtent.end()) {
          Fail(where + ": no path table record points at it");
        }
        const PathTableRecord& pt = v.pathTable[found->second];
        dir.directoryNumber = static_cast<std::uint16_t>(found->second + 1);
        if (up != nullptr && pt.parent != up->directoryNumber) {
          Fail(where + ": path table record " + std::to_string(dir.directoryNumber) +
               " names parent " + std::to_string(pt.parent) + ", the walk finds parent " +
               std::to_string(up->directoryNumber));
        }
        if (up != nullptr && pt.identifier != rawName) {
          Fail(where + ": path table identifier '" +
               text::ToUtf8(decode(pt.identifier, [&] { return where; })) +
               "' differs from the directory record's");
        }
        ++v.directoryCount;
        std::size_t nextDir = 0;
        for (Entry& child : dir.children) {
          if (child.IsDirectory()) {
            readDirectory(child, dirNames[nextDir++], &dir, &self, depth + 1);
          } else {
            ++v.fileCount;
          }
        }
      };
  v.root.record = descriptor.root;
  readDirectory(v.root, {}, nullptr, nullptr, 0);
  // The root's "." record is held against the descriptor's root record by its target above; its
  // date may differ, as one common writer dates the descriptor's copy 1970 for graft points.
  if (v.directoryCount != v.pathTable.size()) {
    Fail(tree + ": the path table lists " + std::to_string(v.pathTable.size()) +
         " directories, the directory extents hold " + std::to_string(v.directoryCount));
  }
  return v;
}

}  // namespace tavrine::iso
