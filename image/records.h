// The structures of the image: volume descriptors, path tables and directory extents. Each is
// built in a zero-filled buffer through the encoders and appended to a sink; the layout counts
// them by the same code. Internal to the writer; tests include it.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "image/layout.h"
#include "image/sink.h"
#include "tree/date.h"

namespace tavrine::detail {

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

// Counts the structures by writing them into a counting sink, so that the layout and the image
// agree by construction: stores the bytes of each path table and the blocks of every directory
// extent of each tree. InputError naming the entry for a name too long for its record, and for a
// directory extent beyond 4 GiB - 1 bytes. Needs the file sizes, not the addresses.
void CountStructures(ImageLayout& layout);

enum class Phase { PathTables, DirectoryRecords };
// The regions up to the file data, in image order: descriptors, the four (two without Joliet)
// path tables and the directory extents of each tree. beforePhase, when set, is told as each
// phase begins.
void WriteDirectoryStructures(ByteSink& sink, const DescriptorInput& input,
                              const ImageLayout& layout, const clsISODirectory& root,
                              const std::function<void(Phase)>& beforePhase = {});

}  // namespace tavrine::detail
