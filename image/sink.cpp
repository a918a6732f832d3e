#include "image/sink.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "image/encoding.h"
#include "tree/errors.h"

namespace tavrine::detail {

void CountingSink::Append(std::span<const std::uint8_t> bytes) {
  position_ += static_cast<std::int64_t>(bytes.size());
}

void CountingSink::AppendZeros(std::int64_t count) {
  position_ += count;
}

CopyResult CountingSink::AppendFrom(const FileRecord&, std::int64_t, std::int64_t count) {
  position_ += count;
  return {count, 0, std::nullopt};
}

FileSink::FileSink(const FileRecord& output, std::string displayName)
    : output_(output), displayName_(std::move(displayName)), buffer_(kBufferSize) {}

void FileSink::Fail(int error) const {
  throw IoError("cannot write " + displayName_ + ": " +
                (error != 0 ? std::strerror(error) : "the system wrote nothing"));
}

void FileSink::WriteAll(const std::uint8_t* data, std::size_t size) {
  // A short write is followed up, so that a real failure shows its own reason (ENOSPC, EFBIG).
  while (size > 0) {
    errno = 0;
    const std::int64_t written = WriteFileRecord(output_, data, static_cast<std::int64_t>(size));
    if (written <= 0) Fail(written == 0 ? 0 : errno);
    data += written;
    size -= static_cast<std::size_t>(written);
  }
}

void FileSink::Flush() {
  if (buffered_ == 0) return;
  const std::size_t size = buffered_;
  buffered_ = 0;
  WriteAll(buffer_.data(), size);
}

void FileSink::Append(std::span<const std::uint8_t> bytes) {
  if (bytes.size() >= buffer_.size()) {
    Flush();
    WriteAll(bytes.data(), bytes.size());
  } else {
    if (buffered_ + bytes.size() > buffer_.size()) Flush();
    std::memcpy(buffer_.data() + buffered_, bytes.data(), bytes.size());
    buffered_ += bytes.size();
  }
  position_ += static_cast<std::int64_t>(bytes.size());
}

void FileSink::AppendZeros(std::int64_t count) {
  while (count > 0) {
    if (buffered_ == buffer_.size()) Flush();
    const std::size_t piece = std::min(buffer_.size() - buffered_, static_cast<std::size_t>(count));
    std::memset(buffer_.data() + buffered_, 0, piece);
    buffered_ += piece;
    position_ += static_cast<std::int64_t>(piece);
    count -= static_cast<std::int64_t>(piece);
  }
}

CopyResult FileSink::AppendFrom(const FileRecord& source, std::int64_t offset, std::int64_t count) {
  return count <= kBufferedCopyLimit ? ReadIntoBuffer(source, offset, count)
                                     : CopyInKernel(source, offset, count);
}

CopyResult ReadRange(const FileRecord& source, std::uint8_t* at, std::int64_t offset,
                     std::int64_t count) {
  const std::int64_t want = count + 1;
  CopyResult result;
  errno = 0;
  // One read usually does: a regular file reads short only at its end, so a whole small file
  // and the end of it come back together.
  std::int64_t got = ReadFileRecordOnceAt(source, at, want, offset);
  if (got >= 0 && got < count) {
    // Short: the source ended early, or the system gave less at once. Read on to be sure.
    const std::int64_t rest = ReadFileRecordAt(source, at + got, want - got, offset + got);
    if (rest > 0) got += rest;
  }
  if (got < 0) {
    result.readError = errno != 0 ? errno : EIO;
    return result;
  }
  result.copied = std::min(got, count);
  result.moreBeyond = got > count;
  if (got < count) {
    // The source ended early, or a read failed after the first: asking again tells which.
    std::uint8_t probe = 0;
    errno = 0;
    if (ReadFileRecordAt(source, &probe, 1, offset + got) < 0) {
      result.readError = errno != 0 ? errno : EIO;
    }
  }
  return result;
}

CopyResult FileSink::ReadIntoBuffer(const FileRecord& source, std::int64_t offset,
                                    std::int64_t count) {
  if (static_cast<std::int64_t>(buffer_.size() - buffered_) < count + 1) Flush();
  const CopyResult result = ReadRange(source, buffer_.data() + buffered_, offset, count);
  buffered_ += static_cast<std::size_t>(result.copied);
  position_ += result.copied;
  return result;
}

CopyResult FileSink::CopyInKernel(const FileRecord& source, std::int64_t offset,
                                  std::int64_t count) {
  Flush();
  CopyResult result;
  // In the kernel first. A result below what was asked does not tell whether the source ended,
  // the source failed or the output failed, so the rest goes through the buffer, where each
  // side reports for itself.
  while (result.copied < count) {
    const std::int64_t copied =
        CopyFileRecordRange(source, offset + result.copied, output_, count - result.copied);
    if (copied <= 0) {
      // A failed copy may still have appended something; the output's offset tells.
      const std::int64_t actual = FileRecordPosition(output_);
      if (actual > position_) {
        result.copied += actual - position_;
        position_ = actual;
      }
      break;
    }
    result.copied += copied;
    position_ += copied;
  }
  while (result.copied < count) {
    const std::int64_t want =
        std::min(static_cast<std::int64_t>(buffer_.size()), count - result.copied);
    errno = 0;
    const std::int64_t got = ReadFileRecordAt(source, buffer_.data(), want, offset + result.copied);
    if (got < 0) {
      result.readError = errno != 0 ? errno : EIO;
      break;
    }
    if (got == 0) break;  // the source ended
    WriteAll(buffer_.data(), static_cast<std::size_t>(got));
    result.copied += got;
    position_ += got;
  }
  return result;
}

std::int64_t PadToBlock(ByteSink& sink) {
  const std::int64_t position = sink.Position();
  const std::int64_t count = NextBlockBoundary(position) - position;
  sink.AppendZeros(count);
  return count;
}

void ExpectPosition(const ByteSink& sink, std::int64_t expected, std::string_view region) {
  if (sink.Position() != expected) {
    throw InternalError("the layout and the written image disagree at " + std::string(region) +
                        ": expected byte " + std::to_string(expected) + ", at byte " +
                        std::to_string(sink.Position()));
  }
}

}  // namespace tavrine::detail
