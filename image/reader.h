// The image reader: a strict parser of an ISO 9660 image with an optional Joliet supplementary
// volume, this writer's or another's. It reads the image by block (never the whole file), parses
// the volume descriptors, both path tables of each tree (type L and type M, cross-checked) and
// every directory extent reachable from the root, and checks the structural rules of ECMA-119 on
// the way. A broken rule throws IsoFormatError naming the block, the field and the rule; memory
// stays proportional to the directories, however the image lies about its lengths.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "fileio/file_access.h"
#include "tree/errors.h"

namespace tavrine::iso {

// A damaged or hostile image: the message names the image, the block and the field at fault.
class IsoFormatError : public Error {
 public:
  using Error::Error;
};

inline constexpr std::uint32_t kIsoBlockSize = 2048;

// UCS-2 big-endian bytes (Joliet) to UTF-16; an odd trailing byte is an IsoFormatError.
std::u16string DecodeUcs2BigEndian(std::string_view bytes);

// ECMA-119 9.1.5: the 7-byte recording date of a directory record (years since 1900, month,
// day, hour, minute, second, signed offset from GMT in 15-minute units).
struct RecordingDate {
  std::array<std::uint8_t, 7> bytes{};
};

// ECMA-119 8.4.26.1: the 17-byte volume date: 16 digits and a signed offset byte.
struct VolumeDate {
  std::string digits;  // the 16 characters as written
  int offset = 0;      // 15-minute units
  // All sixteen digits "0" and the offset 0: "not specified".
  bool IsUnset() const { return digits == std::string(16, '0') && offset == 0; }
};

// A text field of a volume descriptor: the bytes as written, and the text decoded (single-byte
// text as Windows-1252, Joliet as UCS-2 big-endian) without trailing spaces and zeros.
struct TextField {
  std::string raw;
  std::u16string text;
};

// ECMA-119 9.1: one directory record.
struct DirectoryRecord {
  std::uint64_t imageOffset = 0;  // where the record starts in the image file
  std::uint8_t length = 0;
  std::uint32_t extent = 0;
  std::uint32_t dataLength = 0;
  RecordingDate date;
  std::uint8_t flags = 0;

  bool IsDirectory() const { return (flags & 0x02) != 0; }
  bool IsMultiExtent() const { return (flags & 0x80) != 0; }
};

// ECMA-119 9.4: one path table record.
struct PathTableRecord {
  std::uint32_t extent = 0;
  std::uint16_t parent = 0;  // 1-based number of the parent's record
  std::string identifier;    // raw bytes
};

// ECMA-119 8.4 / 8.5: a primary or supplementary volume descriptor.
struct VolumeDescriptor {
  std::uint32_t block = 0;
  std::uint8_t type = 0;
  TextField systemId;
  TextField volumeId;
  std::uint32_t volumeSpaceSize = 0;
  std::uint32_t pathTableSize = 0;
  std::uint32_t typeLPathTable = 0;
  std::uint32_t typeMPathTable = 0;
  DirectoryRecord root;
  TextField volumeSetId;
  TextField publisherId;
  TextField dataPreparerId;
  TextField applicationId;
  VolumeDate creation;
  VolumeDate modification;
  std::string bytes;  // the whole 2048-byte block
};

// One stretch of a file's data: a file of 4 GiB or more is written as a run of records, each
// with a section of it (ECMA-119 9.1.6, the multi-extent flag).
struct Section {
  std::uint32_t extent = 0;
  std::uint32_t length = 0;
};

// One directory or file of a tree, as found by walking the directory extents.
struct Entry {
  DirectoryRecord record;  // the (first) record in the parent; for the root its "." record
  std::u16string name;     // the identifier decoded, exactly as recorded (";1" kept if present)
  std::vector<Entry> children;        // directories: the entries in record order
  std::vector<Section> sections;      // multi-extent files: every section in order, else empty
  std::uint16_t directoryNumber = 0;  // directories: the number of its path table record

  bool IsDirectory() const { return record.IsDirectory(); }
  std::uint32_t extent() const { return record.extent; }
  // The data length; for a multi-extent file the sum of its sections.
  std::uint64_t size() const;
  // Where the data lie: the sections of a multi-extent file, else the one extent.
  std::vector<Section> Sections() const;
  const RecordingDate& date() const { return record.date; }
  // The child named name (exact comparison); throws InputError naming it when there is none.
  const Entry& Child(std::u16string_view name) const;
  bool HasChild(std::u16string_view name) const;
};

// One namespace: the ISO 9660 tree of the primary descriptor, or the Joliet tree.
struct Volume {
  VolumeDescriptor descriptor;
  std::vector<PathTableRecord> pathTable;  // type L; type M was checked to hold the same
  Entry root;
  DirectoryRecord rootSelf;        // the root's own "." record
  std::size_t directoryCount = 0;  // including the root
  std::size_t fileCount = 0;

  // The entry at a "/"-separated path of decoded names ("" or "/" is the root); throws
  // InputError naming the path when there is none.
  const Entry& Find(std::u16string_view path) const;
  bool Has(std::u16string_view path) const;
};

class IsoImage {
 public:
  // Opens and checks the image file; throws IoError when it cannot be read, IsoFormatError when
  // it breaks a rule. The file stays open for ReadFile and ReadAt.
  explicit IsoImage(const std::string& path);
  // The same on bytes already in memory; label names them in messages.
  static IsoImage FromBytes(std::string bytes, std::string label = "image");
  IsoImage(IsoImage&&) noexcept;
  IsoImage& operator=(IsoImage&&) noexcept;
  ~IsoImage();

  const Volume& Primary() const { return primary_; }
  bool HasJoliet() const { return hasJoliet_; }
  // The Joliet volume; throws IsoFormatError when the image has none.
  const Volume& Joliet() const;
  std::uint32_t TerminatorBlock() const { return terminatorBlock_; }
  // Every descriptor type from block 16 to the terminator, in order.
  const std::vector<std::uint8_t>& DescriptorTypes() const { return descriptorTypes_; }
  const std::string& Label() const { return label_; }
  // The length of the image file in bytes.
  std::uint64_t ImageSize() const { return size_; }

  // One 2048-byte block.
  std::string Block(std::uint32_t lba) const;
  // A directory record as written.
  std::string RecordBytes(const DirectoryRecord& record) const;
  // Fills out from the image at offset; throws IsoFormatError when that lies past its end.
  void ReadAt(std::uint64_t offset, std::span<char> out) const;
  // The data of a file entry, every section in order (for tests and small files: it is held in
  // memory whole).
  std::string ReadFile(const Entry& file) const;

 private:
  IsoImage(std::string bytes, std::string label);
  void Parse();
  VolumeDescriptor ParseDescriptor(std::string_view block, std::uint32_t lba, bool joliet) const;
  Volume ParseVolume(const VolumeDescriptor& descriptor, bool joliet) const;
  [[noreturn]] void Fail(const std::string& what) const;

  std::string label_;
  std::string bytes_;  // the image, when it was given in memory
  FileRecord file_{-1, {}};
  std::uint64_t size_ = 0;
  Volume primary_;
  Volume joliet_;
  bool hasJoliet_ = false;
  std::uint32_t terminatorBlock_ = 0;
  std::vector<std::uint8_t> descriptorTypes_;
};

// Pre-order walk of a tree below dir (dir itself not visited): each entry with its path, the
// decoded names joined by "/" and starting with "/".
void WalkEntries(const Entry& dir,
                 const std::function<void(const std::u16string& path, const Entry&)>& visit);

}  // namespace tavrine::iso
