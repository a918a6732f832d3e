#include "image/layout.h"

#include <cerrno>
#include <cstring>
#include <unordered_map>

#include "fileio/file_access.h"
#include "image/encoding.h"
#include "image/read_ahead.h"
#include "image/records.h"
#include "tree/errors.h"
#include "tree/text.h"

namespace tavrine::detail {

void IsoTree::EncodeIdentifier(const std::u16string& name, std::uint8_t* destination) {
  for (std::size_t i = 0; i < name.size(); ++i) destination[i] = text::ToWindows1252(name[i]);
}

void JolietTree::EncodeIdentifier(const std::u16string& name, std::uint8_t* destination) {
  CopyUcs2BigEndian(name, destination, IdentifierBytes(name));
}

std::string ImagePath(const clsISODirectory& directory) {
  return text::ToUtf8(directory.FullPath());
}

std::string ImagePath(const clsISODirectory& directory, const clsISOFile& file) {
  return text::ToUtf8(directory.FullPath() + file.name());
}

std::vector<clsISODirectory*> PreOrder(clsISODirectory& root) {
  // An explicit stack: a tree may be deeper than the call stack would like.
  std::vector<clsISODirectory*> order;
  std::vector<clsISODirectory*> pending{&root};
  while (!pending.empty()) {
    clsISODirectory* directory = pending.back();
    pending.pop_back();
    order.push_back(directory);
    for (std::int32_t i = directory->SubDirectoryCount(); i-- > 0;) {
      pending.push_back(directory->SubDirectory(i).get());
    }
  }
  return order;
}

std::vector<clsISODirectory*> NumberDirectories(clsISODirectory& root) {
  // Breadth first: a level's directories come grouped by parent in the order the parents were
  // numbered, which is the order ECMA-119 9.4 asks of a path table.
  std::vector<clsISODirectory*> order{&root};
  for (std::size_t next = 0; next < order.size(); ++next) {
    clsISODirectory* directory = order[next];
    for (std::int32_t i = 0; i < directory->SubDirectoryCount(); ++i) {
      clsISODirectory* child = directory->SubDirectory(i).get();
      if (static_cast<std::int64_t>(order.size()) == kMaxDirectories) {
        throw InputError(ImagePath(*child) + ": the image holds more than " +
                         std::to_string(kMaxDirectories) +
                         " directories, the most its path tables can number");
      }
      order.push_back(child);
    }
  }
  for (std::size_t i = 0; i < order.size(); ++i) {
    order[i]->DirectoryNumber(static_cast<std::int32_t>(i + 1));
  }
  return order;
}

namespace {

void CheckJolietNamesUnique(const std::vector<clsISODirectory*>& preOrder) {
  // Files are unique among files and sub-directories among sub-directories (ignoring case), but
  // a file and a sub-directory may share a name, and a directory attached by reference may
  // repeat one. Joliet records carry the names as given, and readers compare them ignoring
  // case: two equal records would make one entry unreachable, so the build is refused.
  std::unordered_map<std::u16string, bool> seen;  // folded name -> is a directory
  for (const clsISODirectory* directory : preOrder) {
    seen.clear();
    auto check = [&](const std::u16string& name, bool isDirectory) {
      const auto [it, added] = seen.emplace(text::Fold(name), isDirectory);
      if (added) return;
      const char* entries = it->second != isDirectory ? "a directory and a file"
                            : isDirectory             ? "two directories"
                                                      : "two files";
      throw InputError(ImagePath(*directory) + ": " + entries + " are both named '" +
                       text::ToUtf8(name) +
                       "' (names in one directory must differ, ignoring case)");
    };
    for (std::int32_t i = 0; i < directory->SubDirectoryCount(); ++i) {
      check(directory->SubDirectory(i)->JolietName(), true);
    }
    const clsISOFiles& files = directory->Files();
    for (std::int32_t i = 0; i < files.Count(); ++i) check(files.File(i).JolietName(), false);
  }
}

template <class Tree>
void AssignDirectoryAddresses(const std::vector<clsISODirectory*>& preOrder, std::int64_t& next) {
  for (clsISODirectory* directory : preOrder) {
    Tree::Lba(directory->Files(), next);
    next += Tree::Blocks(directory->Files());
  }
}

[[noreturn]] void ThrowVolumeTooLarge(const clsISODirectory& directory, const clsISOFile& file,
                                      std::int64_t blocks) {
  throw InputError(ImagePath(directory, file) + " (" + file.LocalPath() + ", " +
                   std::to_string(file.Size()) + " bytes) takes the image to " +
                   std::to_string(blocks) + " blocks; a volume holds at most " +
                   std::to_string(kMaxUint32));
}

// Reads every file's length again: the records and the data written later must agree with it.
// Files alone beyond what a volume can address are refused here, before the records are
// counted, naming the file that passes the limit.
void ReadFileLengths(const std::vector<clsISODirectory*>& preOrder) {
  // Side by side where the storage gains from it, each name looked up in its folder.
  std::vector<const std::string*> paths;
  for (const clsISODirectory* directory : preOrder) {
    const clsISOFiles& files = directory->Files();
    for (std::int32_t i = 0; i < files.Count(); ++i) paths.push_back(&files.File(i).LocalPath());
  }
  const std::vector<FileLength> lengths = QueryLengths(paths);
  std::size_t at = 0;
  std::int64_t blocks = 0;
  for (const clsISODirectory* directory : preOrder) {
    const clsISOFiles& files = directory->Files();
    for (std::int32_t i = 0; i < files.Count(); ++i) {
      clsISOFile& file = files.File(i);
      const std::int64_t size = lengths[at].size;
      const int error = lengths[at++].error;
      if (size < 0) {
        throw IoError("cannot read the length of " + file.LocalPath() + " (" +
                      ImagePath(*directory, file) +
                      "): " + (error != 0 ? std::strerror(error) : "unknown error"));
      }
      file.Size(size);
      if (size > 0) blocks += BlocksFor(size);
      if (blocks > kMaxUint32) ThrowVolumeTooLarge(*directory, file, blocks);
    }
  }
}

void AssignFileAddresses(const std::vector<clsISODirectory*>& preOrder, std::int64_t& next) {
  for (const clsISODirectory* directory : preOrder) {
    const clsISOFiles& files = directory->Files();
    for (std::int32_t i = 0; i < files.Count(); ++i) {
      clsISOFile& file = files.File(i);
      if (file.Size() > 0) {
        file.LBA(next);
        next += BlocksFor(file.Size());
        if (next > kMaxUint32) ThrowVolumeTooLarge(*directory, file, next);
      } else {
        file.LBA(0);
      }
    }
  }
}

}  // namespace

ImageLayout LayOut(clsISODirectory& root, bool joliet) {
  ImageLayout layout;
  layout.joliet = joliet;
  layout.numbered = NumberDirectories(root);
  layout.preOrder = PreOrder(root);
  if (joliet) CheckJolietNamesUnique(layout.preOrder);
  // The file lengths first: a file beyond one extent takes more than one record.
  ReadFileLengths(layout.preOrder);
  CountStructures(layout);
  layout.isoPathBlocks = BlocksFor(layout.isoPathBytes);
  layout.jolietPathBlocks = BlocksFor(layout.jolietPathBytes);
  // Blocks 0-15 system area, 16 primary descriptor, 17 supplementary (Joliet only), then the
  // terminator; the path tables follow, type L then type M of each tree.
  const std::int64_t j = joliet ? 1 : 0;
  layout.isoPathLocation = 18 + j;
  layout.jolietPathLocation = 19 + 2 * layout.isoPathBlocks;
  layout.firstDirectoryBlock = joliet ? 19 + 2 * layout.isoPathBlocks + 2 * layout.jolietPathBlocks
                                      : 18 + 2 * layout.isoPathBlocks;
  std::int64_t next = layout.firstDirectoryBlock;
  AssignDirectoryAddresses<IsoTree>(layout.preOrder, next);
  if (joliet) AssignDirectoryAddresses<JolietTree>(layout.preOrder, next);
  layout.firstFileBlock = next;
  AssignFileAddresses(layout.preOrder, next);
  if (next > kMaxUint32) {
    throw InputError("the image would have " + std::to_string(next) +
                     " blocks; a volume holds at most 4294967295");
  }
  layout.volumeBlocks = next;
  return layout;
}

}  // namespace tavrine::detail
