// The layout: where every structure of the image goes, worked out before the first byte is
// written, and everything the format cannot hold refused before then. Internal to the writer.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tree/directory.h"

namespace tavrine::detail {

// ECMA-119 9.4: a path table record with an n-byte identifier, 8 + n bytes and a padding byte
// when n is odd. The root's record (n = 1) is 10 bytes.
constexpr std::int64_t PathRecordLength(std::int64_t identifierBytes) {
  return 8 + identifierBytes + (identifierBytes % 2);
}
// ECMA-119 9.1: a directory record with an n-byte identifier, 33 + n bytes and a padding byte
// when n is even. The "." and ".." records (n = 1) are 34 bytes.
constexpr std::int64_t DirRecordLength(std::int64_t identifierBytes) {
  return 33 + identifierBytes + (1 - identifierBytes % 2);
}
inline constexpr std::int64_t kSelfRecordLength = DirRecordLength(1);
inline constexpr std::int64_t kRootPathRecordLength = PathRecordLength(1);
// The record length is one byte.
inline constexpr std::int64_t kMaxRecordLength = 255;
// ECMA-119 9.4.2: directory numbers are 16-bit; this writer keeps them signed, 1 to 32766.
inline constexpr std::int64_t kMaxDirectories = 32766;

// The block rule: where a record of length bytes starts when the extent so far has position
// bytes. A record never crosses a block boundary, but may end exactly on one.
constexpr std::int64_t RecordStart(std::int64_t position, std::int64_t length) {
  const std::int64_t boundary = position + 2048 - position % 2048;
  return position + length > boundary ? boundary : position;
}

// The two trees differ only in the names they record and the extent fields they use. Both
// layout and writers are written once over one of these policies.
struct IsoTree {
  static constexpr const char* kLabel = "ISO 9660";
  // The longest names a directory record (255 bytes) and a path table record can carry.
  static constexpr std::int64_t kMaxRecordName = 221;
  static constexpr std::int64_t kMaxPathTableName = 255;
  static const std::u16string& Name(const clsISODirectory& d) { return d.DOSName(); }
  static const std::u16string& Name(const clsISOFile& f) { return f.DOSName(); }
  // Single-byte text: one byte per character.
  static std::int64_t IdentifierBytes(const std::u16string& name) {
    return static_cast<std::int64_t>(name.size());
  }
  static std::int64_t Blocks(const clsISOFiles& f) { return f.Blocks(); }
  static void Blocks(clsISOFiles& f, std::int64_t v) { f.Blocks(v); }
  static std::int64_t Lba(const clsISOFiles& f) { return f.LBA(); }
  static void Lba(clsISOFiles& f, std::int64_t v) { f.LBA(v); }
  // Writes IdentifierBytes(name) bytes.
  static void EncodeIdentifier(const std::u16string& name, std::uint8_t* destination);
};

struct JolietTree {
  static constexpr const char* kLabel = "Joliet";
  static constexpr std::int64_t kMaxRecordName = 110;
  static constexpr std::int64_t kMaxPathTableName = 127;
  static const std::u16string& Name(const clsISODirectory& d) { return d.JolietName(); }
  static const std::u16string& Name(const clsISOFile& f) { return f.JolietName(); }
  // UCS-2: two bytes per UTF-16 code unit.
  static std::int64_t IdentifierBytes(const std::u16string& name) {
    return 2 * static_cast<std::int64_t>(name.size());
  }
  static std::int64_t Blocks(const clsISOFiles& f) { return f.BlocksJoliet(); }
  static void Blocks(clsISOFiles& f, std::int64_t v) { f.BlocksJoliet(v); }
  static std::int64_t Lba(const clsISOFiles& f) { return f.LBAJoliet(); }
  static void Lba(clsISOFiles& f, std::int64_t v) { f.LBAJoliet(v); }
  static void EncodeIdentifier(const std::u16string& name, std::uint8_t* destination);
};

// The image path of an entry, for messages: its directory's FullPath and its name, in UTF-8.
std::string ImagePath(const clsISODirectory& directory);
std::string ImagePath(const clsISODirectory& directory, const clsISOFile& file);

// The directories in depth-first pre-order (a directory, then each sub-directory's subtree in
// index order): the order of the directory extents and of the file data.
std::vector<clsISODirectory*> PreOrder(clsISODirectory& root);
// The directories level by level, each level grouped by parent in the order the parents were
// numbered, each group in collection order (ECMA-119 9.4 numbering); sets each DirectoryNumber
// to its 1-based position. InputError beyond kMaxDirectories.
std::vector<clsISODirectory*> NumberDirectories(clsISODirectory& root);

// The length of the record of a sub-directory or file in the given tree; InputError naming the
// entry when it exceeds one byte.
template <class Tree>
std::int64_t RecordLength(const clsISODirectory& parent, const clsISODirectory& directory);
template <class Tree>
std::int64_t RecordLength(const clsISODirectory& parent, const clsISOFile& file);

// Bytes of the path table records of every directory in order except the first (the root).
// InputError for a name whose record cannot state its length.
template <class Tree>
std::int64_t PathTableSize(const std::vector<clsISODirectory*>& numbered);
// Stores the extent length in blocks of every directory in the tree's Blocks field.
template <class Tree>
void SizeDirectories(const std::vector<clsISODirectory*>& preOrder);

struct ImageLayout {
  bool joliet = false;
  std::int64_t isoPathBytes = 0;      // one ISO 9660 path table
  std::int64_t jolietPathBytes = 0;   // one Joliet path table; 0 without Joliet
  std::int64_t isoPathBlocks = 0;     // P
  std::int64_t jolietPathBlocks = 0;  // PJ (1 without Joliet, unused)
  std::int64_t isoPathLocation = 0;   // block of the ISO 9660 type L table
  std::int64_t jolietPathLocation = 0;
  std::int64_t firstDirectoryBlock = 0;  // D0
  std::int64_t firstFileBlock = 0;
  std::int64_t volumeBlocks = 0;
  std::vector<clsISODirectory*> numbered;  // path table order; numbered[0] is the root
  std::vector<clsISODirectory*> preOrder;  // extent and file data order
};

// Gives every directory extent and every file its first block, re-reading each file's length
// (IoError naming the path when it cannot be read, InputError for a file of 4 GiB or more).
// Returns volumeBlocks; InputError when the volume passes 2^32 - 1 blocks.
std::int64_t AssignBlockAddresses(ImageLayout& layout);

// The whole layout of a tree whose names are mapped.
ImageLayout LayOut(clsISODirectory& root, bool joliet);

}  // namespace tavrine::detail
