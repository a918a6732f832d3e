// The layout: where every structure of the image goes, worked out before the first byte is
// written, and everything the format cannot hold refused before then. Internal to the writer.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tree/directory.h"

namespace tavrine::detail {

// ECMA-119 9.4.2: directory numbers are 16-bit; this writer keeps them signed, 1 to 32766.
inline constexpr std::int64_t kMaxDirectories = 32766;

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

// The whole layout of a tree whose names are mapped: reads every file's length again (IoError
// naming the path when it cannot be read) and refuses, naming the entry, what the format cannot
// hold: a volume beyond 2^32 - 1 blocks, and the limits of CountStructures (records.h).
ImageLayout LayOut(clsISODirectory& root, bool joliet);

}  // namespace tavrine::detail
