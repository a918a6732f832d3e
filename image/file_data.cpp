#include "image/file_data.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>

#include "image/encoding.h"
#include "image/read_ahead.h"
#include "image/source_file.h"
#include "tree/errors.h"

namespace tavrine::detail {

namespace {

UnreadableFile Unreadable(const clsISODirectory& directory, const clsISOFile& file,
                          std::string reason) {
  return {file.LocalPath(), directory.FullPath() + file.name(), std::move(reason)};
}

// Copies one file, opened (and perhaps read) ahead; returns why its data are incomplete, or an
// empty string.
std::string CopyFile(ByteSink& sink, const clsISOFile& file, InputFile input,
                     FileDataObserver& observer) {
  const std::int64_t size = file.Size();
  if (input.source.Handle == -1) {
    sink.AppendZeros(size);
    return UnusableReason(input.openError, input.fileType, size);
  }

  std::int64_t copied = 0;
  int readError = 0;
  std::optional<bool> moreBeyond;
  if (input.read) {
    sink.Append(input.data);
    copied = input.result.copied;
    readError = input.result.readError;
    moreBeyond = input.result.moreBeyond;
    observer.Progress(sink.Position());
  } else {
    while (copied < size) {
      observer.CheckCancel();
      const std::int64_t chunk = std::min(kCopyChunk, size - copied);
      const CopyResult result = sink.AppendFrom(input.source, copied, chunk);
      copied += result.copied;
      moreBeyond = result.moreBeyond;
      observer.Progress(sink.Position());
      if (result.copied < chunk) {
        readError = result.readError;
        break;
      }
    }
  }
  if (copied < size) {
    // Zeros keep the layout's promise for the bytes the file no longer gives.
    sink.AppendZeros(size - copied);
    if (readError != 0) {
      return "reading failed after " + std::to_string(copied) + " bytes (" +
             std::strerror(readError) + "); zeros stand for the rest";
    }
    return "file shrank from " + std::to_string(size) + " to " + std::to_string(copied) +
           " bytes during the build; zeros stand for the rest";
  }
  if (moreBeyond.has_value() && !*moreBeyond) return {};  // the last read saw the file end
  const std::int64_t now = FileRecordSize(input.source);
  if (now > size) {
    return "file grew from " + std::to_string(size) + " to " + std::to_string(now) +
           " bytes during the build; " +
           (size > 0 ? "only the first " + std::to_string(size) + " bytes are in the image"
                     : InItsPlace(size));
  }
  return {};
}

}  // namespace

void WriteFileData(ByteSink& sink, const ImageLayout& layout, FileDataObserver& observer,
                   std::vector<UnreadableFile>& unreadable) {
  ExpectPosition(sink, layout.firstFileBlock * kBlockSize, "the start of the file data");
  std::vector<InputRequest> requests;
  for (const clsISODirectory* directory : layout.preOrder) {
    const clsISOFiles& files = directory->Files();
    for (std::int32_t i = 0; i < files.Count(); ++i) {
      const clsISOFile& file = files.File(i);
      if (file.Size() > 0) requests.push_back({&file.LocalPath(), file.Size()});
    }
  }
  InputFiles inputs(std::move(requests), FileSink::kBufferedCopyLimit);
  for (const clsISODirectory* directory : layout.preOrder) {
    const clsISOFiles& files = directory->Files();
    for (std::int32_t i = 0; i < files.Count(); ++i) {
      observer.CheckCancel();
      observer.BeforeFile(sink.Position());
      const clsISOFile& file = files.File(i);
      if (file.Size() <= 0) {
        // No data, no padding: the entry has no blocks. Still empty, still a file?
        std::string reason = CopyFile(sink, file, OpenSource(file), observer);
        if (!reason.empty()) unreadable.push_back(Unreadable(*directory, file, std::move(reason)));
        continue;
      }
      const std::int64_t start = file.LBA() * kBlockSize;
      if (sink.Position() != start) {
        ExpectPosition(sink, start, "the data of " + ImagePath(*directory, file));
      }
      std::string reason = CopyFile(sink, file, inputs.Next(), observer);
      if (!reason.empty()) unreadable.push_back(Unreadable(*directory, file, std::move(reason)));
      PadToBlock(sink);
      const std::int64_t end = start + BlocksFor(file.Size()) * kBlockSize;
      if (sink.Position() != end) {
        ExpectPosition(sink, end, "the end of the data of " + ImagePath(*directory, file));
      }
      observer.Progress(sink.Position());
    }
  }
  ExpectPosition(sink, layout.volumeBlocks * kBlockSize, "the end of the image");
}

}  // namespace tavrine::detail
