// Block file access: open, read, write, position and measure local files by handle.
// Every operation reports by its integer result and never throws: -1 for a failed system call,
// 0 for an operation on a record without an open file, otherwise a byte count or a position.
#pragma once

#include <cstdint>
#include <string>

namespace tavrine {

// Access rights, share modes and dispositions keep the numbers callers already know.
inline constexpr std::uint32_t GENERIC_READ = 0x80000000u;
inline constexpr std::uint32_t GENERIC_WRITE = 0x40000000u;
inline constexpr std::uint32_t GENERIC_READ_WRITE = GENERIC_READ | GENERIC_WRITE;
inline constexpr std::uint32_t SHARE_READ_WRITE = 3;  // accepted and ignored: POSIX has no shares
inline constexpr std::uint32_t CREATE_ALWAYS = 2;     // create, or truncate an existing file
inline constexpr std::uint32_t OPEN_EXISTING = 3;

inline constexpr int SEEK_FROM_BEGIN = 0;
inline constexpr int SEEK_FROM_CURRENT = 1;
inline constexpr int SEEK_FROM_END = 2;

struct FileRecord {
  // The file descriptor; -1 when the record holds no open file. A record never opened holds 0.
  int Handle = 0;
  // The path the record was opened with (kept after a failed open); empty after closing.
  std::string Path;
};

// Opens path (a native path, passed to the system unchanged) with O_CLOEXEC. Handle is -1 on
// failure, and Path is the path either way.
FileRecord OpenFileRecord(const std::string& path, std::uint32_t access, std::uint32_t shareMode,
                          std::uint32_t disposition);
// Opens a local file for reading without waiting: a FIFO without a writer or a device that
// waits for its line opens at once (the descriptor keeps O_NONBLOCK, which reads of a regular
// file ignore). Then fstat tells what
// was opened: fileType is its S_IFMT bits, and a file that is not a regular file is closed
// again (Handle -1, errno 0). When the open fails, Handle is -1, fileType 0, and errno says why.
// With folder (see OpenFolderOf) the last part of path is looked up in it; -1 walks the path.
FileRecord OpenInputFileRecord(int folder, const std::string& path, unsigned& fileType);
// Closes the file; Handle becomes -1 and Path empty either way. 0 on success or when the record
// held no file, -1 when close failed (errno tells why): written data may then be lost, as on
// NFS or a full disk that reports late.
int CloseFileRecord(FileRecord& record);

// Bytes read or written (fewer than count at the end of a file), -1, or 0 without an open file.
std::int64_t ReadFileRecord(const FileRecord& record, void* buffer, std::int64_t count);
std::int64_t WriteFileRecord(const FileRecord& record, const void* buffer, std::int64_t count);
// Reads count bytes at offset without moving the file position (pread).
std::int64_t ReadFileRecordAt(const FileRecord& record, void* buffer, std::int64_t count,
                              std::int64_t offset);
// One read of up to count bytes at offset (one pread, repeated only when interrupted): fewer
// bytes than asked when the file ends sooner, or when the system gives less at once.
std::int64_t ReadFileRecordOnceAt(const FileRecord& record, void* buffer, std::int64_t count,
                                  std::int64_t offset);
// Copies up to count bytes from `from` at fromOffset to the current position of `to`: through a
// mapping of the source where the two offsets differ within a page, else inside the kernel where
// it can (copy_file_range), else through a buffer. Result as for writing. Where the source is cut
// short during the copy, zeros may stand in the output past the bytes counted.
std::int64_t CopyFileRecordRange(const FileRecord& from, std::int64_t fromOffset,
                                 const FileRecord& to, std::int64_t count);

// The new position, -1 on failure, 0 without an open file.
std::int64_t SeekFileRecord(const FileRecord& record, std::int64_t distance, int origin);
std::int64_t FileRecordPosition(const FileRecord& record);
std::int64_t FileRecordSize(const FileRecord& record);

// The length of the file at path (stat), or -1 when it cannot be read.
std::int64_t FileLengthByPath(const std::string& path);

// The folder of path held open, so that the names in it are looked up without walking the
// folder's path again: one lookup per file instead of one per component. The folder is the part
// of path before its last "/" ("." when there is none). -1 when it cannot be opened.
int OpenFolderOf(const std::string& path);
void CloseFolder(int folder);
// As FileLengthByPath, with the last part of path looked up in folder (opened by OpenFolderOf
// for this path, or one with the same folder part); folder -1 walks the whole path.
std::int64_t FileLengthIn(int folder, const std::string& path);

// A symbolic link: its text, and the path it names (the text read relative to the link's
// folder). Both empty when path is no symbolic link or its text cannot be read whole.
struct LinkTarget {
  std::string text;
  std::string path;
};
LinkTarget ReadLinkTarget(const std::string& path);

}  // namespace tavrine
