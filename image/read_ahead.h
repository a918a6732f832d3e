// Reading ahead of the writer. On a slow device (a network share, a USB disk) every lookup, open
// and read waits for the device, and the device could serve several at once: so while one file
// goes into the image, helper threads already open and read the files after it, within a window
// bounded by a count of files and a count of bytes. The writer still takes every file in its
// order and finds what it would have found opening and reading the file itself, only earlier.
//
// The window adapts: it opens only after a stretch of files was slow to come, and closes again
// when a trial shows that requests in flight gain nothing (a warm page cache, a local disk that
// serves one request at a time as fast as several), so that there it costs nothing. Names are
// looked up relative to their folder, held open, not by walking the whole path every time.
// Forced open or shut by fileio/read_ahead_mode.h. Internal to the writer.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "fileio/file_access.h"
#include "fileio/read_ahead_mode.h"
#include "image/sink.h"

namespace tavrine::detail {

// One input file as the writer receives it; closes its file when destroyed.
struct InputFile {
  FileRecord source;      // Handle -1 when the open failed
  int openError = 0;      // errno of the failed open, 0 when it gave none
  unsigned fileType = 0;  // S_IFMT bits of what was opened; not a regular file: Handle -1
  // Whether the file was read ahead: data then holds result.copied bytes, and result tells
  // whether the file holds more (it grew) or why reading stopped short.
  bool read = false;
  std::vector<std::uint8_t> data;
  CopyResult result;

  InputFile() = default;
  InputFile(InputFile&& other) noexcept;
  InputFile& operator=(InputFile&& other) noexcept;
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;
  ~InputFile();
};

// One local file to be read: its path and the number of bytes the image takes from it.
struct InputRequest {
  const std::string* path;
  std::int64_t size;
};

// The input files of the image in writing order, opened (and the small ones read) ahead of the
// writer once that gains. Files up to readLimit bytes are read whole.
class InputFiles {
 public:
  InputFiles(std::vector<InputRequest> files, std::int64_t readLimit);
  ~InputFiles();
  InputFiles(const InputFiles&) = delete;
  InputFiles& operator=(const InputFiles&) = delete;
  // The next file's, in order. Nothing is opened before the first call.
  InputFile Next();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// The lengths of the files at paths, in order (-1 where one cannot be read, with its errno),
// queried side by side where that gains.
struct FileLength {
  std::int64_t size;
  int error;
};
std::vector<FileLength> QueryLengths(const std::vector<const std::string*>& paths);

}  // namespace tavrine::detail
