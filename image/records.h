// The structures of the image: volume descriptors, path tables and directory extents. Each is
// built in a zero-filled buffer through the encoders and appended to a sink. Internal to the
// writer; tests include it.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>

#include "image/layout.h"
#include "image/sink.h"
#include "tree/date.h"

namespace tavrine::detail {

using Block = std::array<std::uint8_t, 2048>;
using DirectoryRecordBytes = std::array<std::uint8_t, 34>;

// The identifiers of one volume descriptor, as stored in the writer.
struct VolumeTexts {
  std::u16string system;
  std::u16string volume;
  std::u16string volumeSet;
  std::u16string publisher;
  std::u16string dataPreparer;
  std::u16string application;
  std::u16string copyrightFile;
  std::u16string abstractFile;
  std::u16string bibliographicFile;
};

// What every descriptor reads besides its texts.
struct DescriptorInput {
  VolumeTexts iso;
  VolumeTexts joliet;
  DateTime creation;
};

// ECMA-119 9.1: the "." record of directory in the given tree, which is also the root record
// of a volume descriptor.
template <class Tree>
DirectoryRecordBytes SelfRecord(const clsISODirectory& directory, const DateTime& creation);

// ECMA-119 8.4: the primary volume descriptor.
Block PrimaryVolumeDescriptor(const DescriptorInput& input, const ImageLayout& layout,
                              const clsISODirectory& root);
// ECMA-119 8.5: the supplementary volume descriptor of the Joliet tree (UCS-2 Level 3).
Block SupplementaryVolumeDescriptor(const DescriptorInput& input, const ImageLayout& layout,
                                    const clsISODirectory& root);
// ECMA-119 8.3: the volume descriptor set terminator.
Block VolumeDescriptorSetTerminator();

// The 16 blocks of system area and the descriptors, up to the first path table.
void WriteVolumeDescriptors(ByteSink& sink, const DescriptorInput& input, const ImageLayout& layout,
                            const clsISODirectory& root);
// ECMA-119 9.4: one path table of the tree (type L, or type M when bigEndian), padded to whole
// blocks.
template <class Tree>
void WritePathTable(ByteSink& sink, const ImageLayout& layout, bool bigEndian);
// ECMA-119 9.1 and 6.8.1: every directory extent of the tree, in pre-order, each padded to
// whole blocks.
template <class Tree>
void WriteDirectoryExtents(ByteSink& sink, const ImageLayout& layout, const DateTime& creation);

enum class Phase { PathTables, DirectoryRecords };
// The regions up to the file data, in image order: descriptors, the four (two without Joliet)
// path tables and the directory extents of each tree. beforePhase, when set, is told as each
// phase begins.
void WriteDirectoryStructures(ByteSink& sink, const DescriptorInput& input,
                              const ImageLayout& layout, const clsISODirectory& root,
                              const std::function<void(Phase)>& beforePhase = {});

}  // namespace tavrine::detail
