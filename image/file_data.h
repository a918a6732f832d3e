// The file data of the image: every file's bytes at the block the layout gave it. Internal to
// the writer.
#pragma once

#include <cstdint>
#include <vector>

#include "image/layout.h"
#include "image/sink.h"
#include "image/writer.h"

namespace tavrine::detail {

// What the file data writer tells its caller on the way.
class FileDataObserver {
 public:
  virtual ~FileDataObserver() = default;
  // Before each file entry, with the sink's position (WritingFiles).
  virtual void BeforeFile(std::int64_t position) { (void)position; }
  // After each copied chunk and each file, with the sink's position (BytesWritten).
  virtual void Progress(std::int64_t position) { (void)position; }
  // At every file and chunk boundary; throws to stop.
  virtual void CheckCancel() {}
};

// Copies every file in chunks of this many bytes: progress and cancel requests come between.
inline constexpr std::int64_t kCopyChunk = std::int64_t{4} << 20;

// Writes the data of every file of the layout, each padded to whole blocks. Whatever the local
// file does, exactly the laid-out Size bytes go out: zeros where it cannot be opened or read or
// has become shorter, only Size bytes where it has grown. Each such file is added to unreadable.
void WriteFileData(ByteSink& sink, const ImageLayout& layout, FileDataObserver& observer,
                   std::vector<UnreadableFile>& unreadable);

}  // namespace tavrine::detail
