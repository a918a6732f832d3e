#include "image/records.h"

#include <algorithm>
#include <span>
#include <type_traits>

#include "image/encoding.h"
#include "tree/errors.h"
#include "tree/text.h"

namespace tavrine::detail {

namespace {

// ECMA-119 9.1: directory record fields.
constexpr std::size_t kRecLength = 0;             // 9.1.1 length of directory record
constexpr std::size_t kRecExtAttrLength = 1;      // 9.1.2 extended attribute record length
constexpr std::size_t kRecExtent = 2;             // 9.1.3 location of extent (both-endian)
constexpr std::size_t kRecDataLength = 10;        // 9.1.4 data length (both-endian)
constexpr std::size_t kRecDate = 18;              // 9.1.5 recording date and time
constexpr std::size_t kRecFlags = 25;             // 9.1.6 file flags
constexpr std::size_t kRecFileUnitSize = 26;      // 9.1.7 file unit size
constexpr std::size_t kRecInterleaveGap = 27;     // 9.1.8 interleave gap size
constexpr std::size_t kRecVolumeSequence = 28;    // 9.1.9 volume sequence number
constexpr std::size_t kRecIdentifierLength = 32;  // 9.1.10 length of file identifier
constexpr std::size_t kRecIdentifier = 33;        // 9.1.11 file identifier (+ 9.1.12 padding)
static_assert(kRecExtAttrLength + 1 == kRecExtent && kRecFlags + 1 == kRecFileUnitSize &&
              kRecFileUnitSize + 1 == kRecInterleaveGap &&
              kRecIdentifier == kRecIdentifierLength + 1 && kRecVolumeSequence + 4 == 32 &&
              kRecDate + 7 == kRecFlags && kRecDataLength + 8 == kRecDate);

constexpr std::uint8_t kFlagDirectory = 0x02;    // 9.1.6 bit 1
constexpr std::uint8_t kFlagMultiExtent = 0x80;  // 9.1.6 bit 7: not the file's last record

// ECMA-119 9.1: a directory record with an n-byte identifier is 33 + n bytes, plus a padding
// byte when n is even; its length is one byte. 9.4: a path table record is 8 + n bytes, plus a
// padding byte when n is odd; n is one byte.
constexpr std::int64_t kMaxRecordLength = 255;
constexpr std::int64_t kMaxPathTableIdentifier = 255;

// A file up to kMaxUint32 bytes is one extent; a longer one is a run of extents of
// kMultiExtentBytes (the most whole blocks a 32-bit length holds) and a last one with the rest.
constexpr std::int64_t kMultiExtentBytes = kMaxUint32 + 1 - kBlockSize;

// ECMA-119 8.4 (8.5 for the supplementary descriptor): volume descriptor fields.
constexpr std::size_t kVdType = 0;                 // 8.4.1 volume descriptor type
constexpr std::size_t kVdStandardId = 1;           // 8.4.2 standard identifier "CD001"
constexpr std::size_t kVdVersion = 6;              // 8.4.3 volume descriptor version
constexpr std::size_t kVdFlags = 7;                // 8.5.3 volume flags (unused in 8.4)
constexpr std::size_t kVdSystemId = 8;             // 8.4.5 system identifier, 32 bytes
constexpr std::size_t kVdVolumeId = 40;            // 8.4.6 volume identifier, 32 bytes
constexpr std::size_t kVdVolumeSpaceSize = 80;     // 8.4.8 volume space size (both-endian)
constexpr std::size_t kVdEscapeSequences = 88;     // 8.5.6 escape sequences, 32 bytes
constexpr std::size_t kVdVolumeSetSize = 120;      // 8.4.10 volume set size
constexpr std::size_t kVdVolumeSequence = 124;     // 8.4.11 volume sequence number
constexpr std::size_t kVdBlockSize = 128;          // 8.4.12 logical block size
constexpr std::size_t kVdPathTableSize = 132;      // 8.4.13 path table size (both-endian)
constexpr std::size_t kVdTypeLPathTable = 140;     // 8.4.14 location of type L path table
constexpr std::size_t kVdOptTypeLPathTable = 144;  // 8.4.15 optional type L path table
constexpr std::size_t kVdTypeMPathTable = 148;     // 8.4.16 location of type M path table
constexpr std::size_t kVdOptTypeMPathTable = 152;  // 8.4.17 optional type M path table
constexpr std::size_t kVdRootRecord = 156;         // 8.4.18 root directory record, 34 bytes
constexpr std::size_t kVdVolumeSetId = 190;        // 8.4.19 volume set identifier, 128 bytes
constexpr std::size_t kVdPublisherId = 318;        // 8.4.20 publisher identifier, 128 bytes
constexpr std::size_t kVdDataPreparerId = 446;     // 8.4.21 data preparer identifier, 128 bytes
constexpr std::size_t kVdApplicationId = 574;      // 8.4.22 application identifier, 128 bytes
constexpr std::size_t kVdCopyrightFileId = 702;    // 8.4.23 copyright file identifier, 37 bytes
constexpr std::size_t kVdAbstractFileId = 739;     // 8.4.24 abstract file identifier, 37 bytes
constexpr std::size_t kVdBibliographicId = 776;    // 8.4.25 bibliographic file identifier, 37
constexpr std::size_t kVdCreationDate = 813;       // 8.4.26 volume creation date, 17 bytes
constexpr std::size_t kVdModificationDate = 830;   // 8.4.27 volume modification date
constexpr std::size_t kVdExpirationDate = 847;     // 8.4.28 volume expiration date
constexpr std::size_t kVdEffectiveDate = 864;      // 8.4.29 volume effective date
constexpr std::size_t kVdFileStructure = 881;      // 8.4.30 file structure version
constexpr std::size_t kVdApplicationUse = 883;     // 8.4.32 application use, 512 bytes
constexpr std::size_t kVdReserved = 1395;          // 8.4.33 reserved, 653 bytes
static_assert(kVdSystemId + 32 == kVdVolumeId && kVdVolumeId + 32 + 8 == kVdVolumeSpaceSize &&
              kVdEscapeSequences + 32 == kVdVolumeSetSize && kVdRootRecord + 34 == kVdVolumeSetId &&
              kVdVolumeSetId + 128 == kVdPublisherId && kVdPublisherId + 128 == kVdDataPreparerId &&
              kVdDataPreparerId + 128 == kVdApplicationId &&
              kVdApplicationId + 128 == kVdCopyrightFileId &&
              kVdCopyrightFileId + 37 == kVdAbstractFileId &&
              kVdAbstractFileId + 37 == kVdBibliographicId &&
              kVdBibliographicId + 37 == kVdCreationDate &&
              kVdCreationDate + 4 * 17 == kVdFileStructure &&
              kVdFileStructure + 2 == kVdApplicationUse && kVdApplicationUse + 512 == kVdReserved &&
              kVdReserved + 653 == 2048);

using Block = std::array<std::uint8_t, 2048>;

constexpr std::uint8_t kStandardId[5] = {'C', 'D', '0', '0', '1'};

// Any fixed run of bytes (an encoder's result) into a buffer at offset.
template <class Bytes>
void PutField(std::span<std::uint8_t> buffer, std::size_t offset, const Bytes& bytes) {
  Put(buffer, offset, std::span<const std::uint8_t>(bytes));
}

std::uint32_t U32(std::int64_t value) {
  return static_cast<std::uint32_t>(value);
}
std::uint16_t U16(std::int64_t value) {
  return static_cast<std::uint16_t>(value);
}

// ECMA-119 9.1: one directory record in a zero-filled buffer. The identifier, and with it the
// length, are set once; the location, data length, date and flags are set for each append, so
// that the records of a multi-extent file differ only there.
class DirectoryRecord {
 public:
  // A "." (identifier 0x00) or ".." (0x01) record.
  static DirectoryRecord Dot(std::uint8_t identifier) {
    DirectoryRecord record(1);
    record.bytes_[kRecIdentifier] = identifier;
    return record;
  }

  // The record of a sub-directory or file named name in the tree. InputError naming pathOf()
  // (built only then) when the name makes it longer than a record can say.
  template <class Tree, class PathOf>
  static DirectoryRecord Named(const std::u16string& name, PathOf pathOf) {
    DirectoryRecord record(Tree::IdentifierBytes(name));
    if (record.length_ > kMaxRecordLength) {
      throw InputError(
          pathOf() + ": its " + Tree::kLabel + " name has " + std::to_string(name.size()) +
          " characters; a directory record holds at most " + std::to_string(Tree::kMaxRecordName));
    }
    Tree::EncodeIdentifier(name, record.bytes_.data() + kRecIdentifier);
    return record;
  }

  void Set(std::int64_t extent, std::int64_t dataLength, const std::array<std::uint8_t, 7>& date,
           std::uint8_t flags) {
    PutField(bytes_, kRecExtent, BothEndian32(U32(extent)));
    PutField(bytes_, kRecDataLength, BothEndian32(U32(dataLength)));
    PutField(bytes_, kRecDate, date);
    bytes_[kRecFlags] = flags;
  }

  std::span<const std::uint8_t> Bytes() const { return {bytes_.data(), length_}; }

 private:
  explicit DirectoryRecord(std::int64_t identifierBytes)
      : length_(static_cast<std::size_t>(33 + identifierBytes + 1 - identifierBytes % 2)) {
    if (length_ > bytes_.size()) return;  // refused by Named
    bytes_[kRecLength] = static_cast<std::uint8_t>(length_);
    // kRecExtAttrLength, kRecFileUnitSize and kRecInterleaveGap stay 0.
    PutField(bytes_, kRecVolumeSequence, BothEndian16(1));
    bytes_[kRecIdentifierLength] = static_cast<std::uint8_t>(identifierBytes);
  }

  std::array<std::uint8_t, kMaxRecordLength> bytes_{};
  std::size_t length_;
};

// The "." record of directory (identifier 0x00), or a ".." record naming it (0x01).
template <class Tree>
DirectoryRecord DotRecord(const clsISODirectory& directory, const std::array<std::uint8_t, 7>& date,
                          std::uint8_t identifier) {
  DirectoryRecord record = DirectoryRecord::Dot(identifier);
  record.Set(Tree::Lba(directory.Files()), Tree::Blocks(directory.Files()) * kBlockSize, date,
             kFlagDirectory);
  return record;
}

// Single-byte text into a field of width bytes: at most width characters, the rest of the field
// spaces (spaceFill) or left zero.
void PutSingleByteText(Block& block, std::size_t offset, std::size_t width,
                       const std::u16string& value, bool spaceFill) {
  if (spaceFill) {
    for (std::size_t i = 0; i < width; ++i) block[offset + i] = ' ';
  }
  const std::size_t count = std::min(width, value.size());
  for (std::size_t i = 0; i < count; ++i) block[offset + i] = text::ToWindows1252(value[i]);
}

// UCS-2 big-endian text into a field of width bytes: whole characters only, the rest zero.
void PutUcs2Text(Block& block, std::size_t offset, std::size_t width, const std::u16string& value) {
  const auto count = static_cast<std::int64_t>(std::min(width / 2, value.size()) * 2);
  CopyUcs2BigEndian(value, block.data() + offset, count);
}

// The fields common to the primary and the supplementary descriptor.
Block VolumeDescriptor(std::uint8_t type, const DescriptorInput& input, const ImageLayout& layout,
                       std::int64_t pathBytes, std::int64_t pathLocation, std::int64_t pathBlocks,
                       std::span<const std::uint8_t> rootRecord) {
  Block block{};
  block[kVdType] = type;
  PutField(block, kVdStandardId, kStandardId);
  block[kVdVersion] = 1;
  PutField(block, kVdVolumeSpaceSize, BothEndian32(U32(layout.volumeBlocks)));
  PutField(block, kVdVolumeSetSize, BothEndian16(1));
  PutField(block, kVdVolumeSequence, BothEndian16(1));
  PutField(block, kVdBlockSize, BothEndian16(static_cast<std::uint16_t>(kBlockSize)));
  PutField(block, kVdPathTableSize, BothEndian32(U32(pathBytes)));
  PutField(block, kVdTypeLPathTable, LittleEndian32(U32(pathLocation)));
  PutField(block, kVdOptTypeLPathTable, LittleEndian32(0));
  PutField(block, kVdTypeMPathTable, BigEndian32(U32(pathLocation + pathBlocks)));
  PutField(block, kVdOptTypeMPathTable, BigEndian32(0));
  Put(block, kVdRootRecord, rootRecord);
  PutField(block, kVdCreationDate, EncodeVolumeDate(input.creation));
  PutField(block, kVdModificationDate, UnspecifiedVolumeDate());
  PutField(block, kVdExpirationDate, UnspecifiedVolumeDate());
  PutField(block, kVdEffectiveDate, UnspecifiedVolumeDate());
  block[kVdFileStructure] = 1;
  return block;
}

// The root's "." record of the tree, which each volume descriptor holds.
template <class Tree>
DirectoryRecord RootRecord(const clsISODirectory& root, const DateTime& creation) {
  return DotRecord<Tree>(root, EncodeRecordingDate(creation), 0x00);
}

Block PrimaryVolumeDescriptor(const DescriptorInput& input, const ImageLayout& layout,
                              const clsISODirectory& root) {
  Block block =
      VolumeDescriptor(1, input, layout, layout.isoPathBytes, layout.isoPathLocation,
                       layout.isoPathBlocks, RootRecord<IsoTree>(root, input.creation).Bytes());
  const VolumeTexts& t = input.iso;
  // The system and volume identifiers are left zero-filled; the others are space-filled.
  PutSingleByteText(block, kVdSystemId, 32, t.system, false);
  PutSingleByteText(block, kVdVolumeId, 32, t.volume, false);
  PutSingleByteText(block, kVdVolumeSetId, 128, t.volumeSet, true);
  PutSingleByteText(block, kVdPublisherId, 128, t.publisher, true);
  PutSingleByteText(block, kVdDataPreparerId, 128, t.dataPreparer, true);
  PutSingleByteText(block, kVdApplicationId, 128, t.application, true);
  PutSingleByteText(block, kVdCopyrightFileId, 37, t.copyrightFile, true);
  PutSingleByteText(block, kVdAbstractFileId, 37, t.abstractFile, true);
  PutSingleByteText(block, kVdBibliographicId, 37, t.bibliographicFile, true);
  return block;
}

Block SupplementaryVolumeDescriptor(const DescriptorInput& input, const ImageLayout& layout,
                                    const clsISODirectory& root) {
  Block block = VolumeDescriptor(2, input, layout, layout.jolietPathBytes,
                                 layout.jolietPathLocation, layout.jolietPathBlocks,
                                 RootRecord<JolietTree>(root, input.creation).Bytes());
  block[kVdFlags] = 0;
  // "%/E": Joliet UCS-2 Level 3.
  block[kVdEscapeSequences] = 0x25;
  block[kVdEscapeSequences + 1] = 0x2F;
  block[kVdEscapeSequences + 2] = 0x45;
  const VolumeTexts& t = input.joliet;
  PutUcs2Text(block, kVdSystemId, 32, t.system);
  PutUcs2Text(block, kVdVolumeId, 32, t.volume);
  PutUcs2Text(block, kVdVolumeSetId, 128, t.volumeSet);
  PutUcs2Text(block, kVdPublisherId, 128, t.publisher);
  PutUcs2Text(block, kVdDataPreparerId, 128, t.dataPreparer);
  PutUcs2Text(block, kVdApplicationId, 128, t.application);
  PutUcs2Text(block, kVdCopyrightFileId, 37, t.copyrightFile);
  PutUcs2Text(block, kVdAbstractFileId, 37, t.abstractFile);
  PutUcs2Text(block, kVdBibliographicId, 37, t.bibliographicFile);
  return block;
}

Block VolumeDescriptorSetTerminator() {
  Block block{};
  block[kVdType] = 255;
  PutField(block, kVdStandardId, kStandardId);
  block[kVdVersion] = 1;
  return block;
}

void WriteVolumeDescriptors(ByteSink& sink, const DescriptorInput& input, const ImageLayout& layout,
                            const clsISODirectory& root) {
  ExpectPosition(sink, 0, "the system area");
  sink.AppendZeros(16 * kBlockSize);  // ECMA-119 6.2.1 system area
  sink.Append(PrimaryVolumeDescriptor(input, layout, root));
  if (layout.joliet) sink.Append(SupplementaryVolumeDescriptor(input, layout, root));
  sink.Append(VolumeDescriptorSetTerminator());
  ExpectPosition(sink, layout.isoPathLocation * kBlockSize, "the end of the volume descriptors");
}

// ECMA-119 9.4: the records of one path table of the tree (type L, or type M when bigEndian),
// the root first; InputError for a name whose length a record cannot state.
template <class Tree>
void AppendPathTableRecords(ByteSink& sink, const std::vector<clsISODirectory*>& numbered,
                            bool bigEndian) {
  // 9.4.1 identifier length, 9.4.2 extended attribute length, 9.4.3 extent (4 bytes), 9.4.4
  // parent directory number (2 bytes), 9.4.5 identifier, 9.4.6 padding.
  std::array<std::uint8_t, 8 + kMaxPathTableIdentifier + 1> record{};
  for (std::size_t i = 0; i < numbered.size(); ++i) {
    const clsISODirectory& directory = *numbered[i];
    const bool isRoot = i == 0;
    const std::u16string& name = Tree::Name(directory);
    const std::int64_t identifierBytes = isRoot ? 1 : Tree::IdentifierBytes(name);
    if (identifierBytes > kMaxPathTableIdentifier) {
      throw InputError(ImagePath(directory) + ": its " + Tree::kLabel + " name has " +
                       std::to_string(name.size()) +
                       " characters; a path table record holds at most " +
                       std::to_string(Tree::kMaxPathTableName));
    }
    const auto length = static_cast<std::size_t>(8 + identifierBytes + identifierBytes % 2);
    std::fill(record.begin(), record.begin() + static_cast<std::ptrdiff_t>(length), 0);
    record[0] = static_cast<std::uint8_t>(identifierBytes);
    const std::uint32_t extent = U32(Tree::Lba(directory.Files()));
    const auto parent = directory.Parent();
    const std::uint16_t parentNumber = isRoot || !parent ? 1 : U16(parent->DirectoryNumber());
    if (bigEndian) {
      PutField(record, 2, BigEndian32(extent));
      PutField(record, 6, BigEndian16(parentNumber));
    } else {
      PutField(record, 2, LittleEndian32(extent));
      PutField(record, 6, LittleEndian16(parentNumber));
    }
    if (!isRoot) Tree::EncodeIdentifier(name, record.data() + 8);
    sink.Append(std::span<const std::uint8_t>(record.data(), length));
  }
}

// One path table of the tree, padded to whole blocks.
template <class Tree>
void WritePathTable(ByteSink& sink, const ImageLayout& layout, bool bigEndian) {
  const bool joliet = std::is_same_v<Tree, JolietTree>;
  const std::int64_t location = joliet ? layout.jolietPathLocation : layout.isoPathLocation;
  const std::int64_t blocks = joliet ? layout.jolietPathBlocks : layout.isoPathBlocks;
  const std::int64_t bytes = joliet ? layout.jolietPathBytes : layout.isoPathBytes;
  const std::int64_t start = (location + (bigEndian ? blocks : 0)) * kBlockSize;
  ExpectPosition(sink, start, "the start of a path table");
  AppendPathTableRecords<Tree>(sink, layout.numbered, bigEndian);
  ExpectPosition(sink, start + bytes, "the end of a path table");
  PadToBlock(sink);
  ExpectPosition(sink, start + blocks * kBlockSize, "the padding of a path table");
}

// Appends a record by the block rule: a record never crosses a block boundary, but may end
// exactly on one; one that would cross it starts the next block, after zero padding. An extent
// starts on a block boundary, so the sink's own position tells where in its block a record falls.
void AppendRecord(ByteSink& sink, const DirectoryRecord& record) {
  const std::int64_t position = sink.Position();
  const auto length = static_cast<std::int64_t>(record.Bytes().size());
  if (position % kBlockSize + length > kBlockSize) PadToBlock(sink);
  sink.Append(record.Bytes());
}

// ECMA-119 9.1 and 6.8.1: the records of directory's extent in the tree, in the order ".", "..",
// sub-directories, files (each in collection order), without the padding that closes it.
template <class Tree>
void AppendExtentRecords(ByteSink& sink, const clsISODirectory& directory,
                         const DateTime& creation) {
  const auto date = EncodeRecordingDate(creation);
  const auto parent = directory.Parent();
  AppendRecord(sink, DotRecord<Tree>(directory, date, 0x00));
  AppendRecord(sink, DotRecord<Tree>(parent ? *parent : directory, date, 0x01));
  for (std::int32_t i = 0; i < directory.SubDirectoryCount(); ++i) {
    const clsISODirectory& sub = *directory.SubDirectory(i);
    DirectoryRecord record =
        DirectoryRecord::Named<Tree>(Tree::Name(sub), [&] { return ImagePath(sub); });
    record.Set(Tree::Lba(sub.Files()), Tree::Blocks(sub.Files()) * kBlockSize, date,
               kFlagDirectory);
    AppendRecord(sink, record);
  }
  const clsISOFiles& files = directory.Files();
  for (std::int32_t i = 0; i < files.Count(); ++i) {
    const clsISOFile& file = files.File(i);
    DirectoryRecord record =
        DirectoryRecord::Named<Tree>(Tree::Name(file), [&] { return ImagePath(directory, file); });
    const auto fileDate = EncodeRecordingDate(file.CreationDate());
    // ECMA-119 6.5.1: a file too long for one 32-bit data length is a run of records of one
    // name, one per extent, the extents following each other; all but the last are flagged.
    std::int64_t extent = file.LBA();
    std::int64_t rest = file.Size();
    if (rest > kMaxUint32) {
      for (; rest > kMultiExtentBytes; rest -= kMultiExtentBytes) {
        record.Set(extent, kMultiExtentBytes, fileDate, kFlagMultiExtent);
        AppendRecord(sink, record);
        extent += kMultiExtentBytes / kBlockSize;
      }
    }
    record.Set(extent, rest, fileDate, 0);
    AppendRecord(sink, record);
  }
}

template <class Tree>
void WriteExtent(ByteSink& sink, const clsISODirectory& directory, const DateTime& creation) {
  const std::int64_t start = Tree::Lba(directory.Files()) * kBlockSize;
  const std::int64_t end = start + Tree::Blocks(directory.Files()) * kBlockSize;
  if (sink.Position() != start) {
    ExpectPosition(sink, start,
                   std::string("the ") + Tree::kLabel + " extent of " + ImagePath(directory));
  }
  AppendExtentRecords<Tree>(sink, directory, creation);
  PadToBlock(sink);
  if (sink.Position() != end) {
    ExpectPosition(
        sink, end,
        std::string("the end of the ") + Tree::kLabel + " extent of " + ImagePath(directory));
  }
}

template <class Tree>
void CountTree(ImageLayout& layout) {
  CountingSink table;
  AppendPathTableRecords<Tree>(table, layout.numbered, false);
  (std::is_same_v<Tree, JolietTree> ? layout.jolietPathBytes : layout.isoPathBytes) =
      table.Position();
  for (clsISODirectory* directory : layout.preOrder) {
    CountingSink extent;
    AppendExtentRecords<Tree>(extent, *directory, DateTime{});
    const std::int64_t blocks = BlocksFor(extent.Position());
    if (blocks * kBlockSize > kMaxUint32) {
      throw InputError(ImagePath(*directory) + ": too many entries for one " + Tree::kLabel +
                       " directory extent (" + std::to_string(blocks * kBlockSize) +
                       " bytes; an extent holds at most " + std::to_string(kMaxUint32) + ")");
    }
    Tree::Blocks(directory->Files(), blocks);
  }
}

}  // namespace

void CountStructures(ImageLayout& layout) {
  CountTree<IsoTree>(layout);
  layout.jolietPathBytes = 0;
  if (layout.joliet) CountTree<JolietTree>(layout);
}

void WriteDirectoryStructures(ByteSink& sink, const DescriptorInput& input,
                              const ImageLayout& layout, const clsISODirectory& root,
                              const std::function<void(Phase)>& beforePhase) {
  WriteVolumeDescriptors(sink, input, layout, root);
  if (beforePhase) beforePhase(Phase::PathTables);
  WritePathTable<IsoTree>(sink, layout, false);
  WritePathTable<IsoTree>(sink, layout, true);
  if (layout.joliet) {
    WritePathTable<JolietTree>(sink, layout, false);
    WritePathTable<JolietTree>(sink, layout, true);
  }
  if (beforePhase) beforePhase(Phase::DirectoryRecords);
  for (const clsISODirectory* directory : layout.preOrder) {
    WriteExtent<IsoTree>(sink, *directory, input.creation);
  }
  if (layout.joliet) {
    for (const clsISODirectory* directory : layout.preOrder) {
      WriteExtent<JolietTree>(sink, *directory, input.creation);
    }
  }
  ExpectPosition(sink, layout.firstFileBlock * kBlockSize, "the end of the directory extents");
}

}  // namespace tavrine::detail
