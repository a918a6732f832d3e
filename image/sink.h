// Where the writers put the image: a byte sink that only grows. The file sink buffers the small
// structures and writes them in large pieces; its counting twin only counts, so that a test can
// hold every region the writers produce against the layout without writing a byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "fileio/file_access.h"

namespace tavrine::detail {

// What AppendFrom took from its source.
struct CopyResult {
  std::int64_t copied = 0;  // bytes of the source appended (fewer than asked: the source ended)
  int readError = 0;        // errno of a failed read of the source, 0 when none
  // Whether the source holds bytes past the range asked for: known where the copy read one
  // byte further (a small copy through the buffer), so that the caller need not measure the
  // source again; empty where the copy did not look.
  std::optional<bool> moreBeyond;
};

class ByteSink {
 public:
  virtual ~ByteSink() = default;
  virtual void Append(std::span<const std::uint8_t> bytes) = 0;
  virtual void AppendZeros(std::int64_t count) = 0;
  // Appends up to count bytes of source from offset. Stops early, without an exception, where
  // the source ends or cannot be read; a failed write to the sink throws.
  virtual CopyResult AppendFrom(const FileRecord& source, std::int64_t offset,
                                std::int64_t count) = 0;
  // Bytes appended so far, counted from the first byte of the image.
  virtual std::int64_t Position() const = 0;
};

class CountingSink final : public ByteSink {
 public:
  void Append(std::span<const std::uint8_t> bytes) override;
  void AppendZeros(std::int64_t count) override;
  CopyResult AppendFrom(const FileRecord& source, std::int64_t offset, std::int64_t count) override;
  std::int64_t Position() const override { return position_; }

 private:
  std::int64_t position_ = 0;
};

// Appends to an open output file. Every write is checked: a failed write throws IoError naming
// displayName (the image the user asked for) and the system's reason. Call Flush() at the end.
class FileSink final : public ByteSink {
 public:
  static constexpr std::size_t kBufferSize = std::size_t{1} << 20;
  // AppendFrom reads ranges up to this long straight into the buffer: for small files one read
  // costs less than a flush and an in-kernel copy, and the padding after them stays buffered.
  static constexpr std::int64_t kBufferedCopyLimit = std::int64_t{256} << 10;

  FileSink(const FileRecord& output, std::string displayName);
  FileSink(const FileSink&) = delete;
  FileSink& operator=(const FileSink&) = delete;

  void Append(std::span<const std::uint8_t> bytes) override;
  void AppendZeros(std::int64_t count) override;
  CopyResult AppendFrom(const FileRecord& source, std::int64_t offset, std::int64_t count) override;
  std::int64_t Position() const override { return position_; }
  void Flush();

 private:
  void WriteAll(const std::uint8_t* data, std::size_t size);
  CopyResult ReadIntoBuffer(const FileRecord& source, std::int64_t offset, std::int64_t count);
  CopyResult CopyInKernel(const FileRecord& source, std::int64_t offset, std::int64_t count);
  [[noreturn]] void Fail(int error) const;

  FileRecord output_;
  std::string displayName_;
  std::vector<std::uint8_t> buffer_;
  std::size_t buffered_ = 0;
  std::int64_t position_ = 0;
};

// Reads up to count bytes of source from offset into at, which has room for count + 1: one byte
// more than asked tells whether the source has grown past the range (moreBeyond). Reads on
// after a short read, and asks once more where the source ended early, so that a failed read
// shows as readError. copied is at most count.
CopyResult ReadRange(const FileRecord& source, std::uint8_t* at, std::int64_t offset,
                     std::int64_t count);

// Appends zero bytes up to the next block boundary: 1 to 2048 of them, a whole block when the
// sink already stands on a boundary (the rule of NextBlockBoundary). Returns the count.
std::int64_t PadToBlock(ByteSink& sink);

// The sink must stand at expected; a mismatch means that the layout and the writers disagree.
void ExpectPosition(const ByteSink& sink, std::int64_t expected, std::string_view region);

}  // namespace tavrine::detail
