#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <optional>

// Reading and writing through the system's file descriptors the way every part of the program
// needs it: interrupted calls are made again, short reads and writes are resumed.
namespace platform {

// A descriptor closed when it goes out of scope.
class UniqueFd {
 public:
  explicit UniqueFd(int fd = -1) : fd_(fd) {}
  ~UniqueFd();
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  int Get() const { return fd_; }
  // Closes now; false when closing reported an error (a write that did not reach the file).
  bool Close();

 private:
  int fd_;
};

// Opens for reading without blocking on a FIFO; -1 unless it is a regular file. Its size in
// `size` when asked.
int OpenRegular(const std::filesystem::path& path, std::uint64_t* size = nullptr);

// Opens an existing file for reading; -1 when it fails. Whether it is a regular file is the
// caller's question (RegularFileSize).
int OpenForReading(const std::filesystem::path& path);

// Opens an existing file for writing, neither creating nor truncating it; -1 when it fails.
int OpenForWriting(const std::filesystem::path& path);

// Opens an existing file for reading and writing in place, never through a symbolic link; -1
// when it fails.
int OpenForRewriting(const std::filesystem::path& path);

// The size of an open file when it is a regular file; nullopt for anything else (a FIFO, a
// device, a folder) or when it cannot be asked.
std::optional<std::uint64_t> RegularFileSize(int fd);
std::optional<std::uint64_t> RegularFileSize(std::FILE* file);

// Reads until `size` bytes are in or the file ends; `count` says how many came. False on a read
// error.
bool ReadUpTo(int fd, void* buffer, std::size_t size, std::size_t& count);

// ReadUpTo from `offset` on, leaving the file's position where it was.
bool ReadAt(int fd, void* buffer, std::size_t size, std::uint64_t offset, std::size_t& count);

// Moves the file's position to `offset`, or to its end.
bool SeekTo(int fd, std::uint64_t offset);
bool SeekToEnd(int fd);

// Writes all of `size` bytes. False when the file takes no more.
bool WriteAll(int fd, const void* data, std::size_t size);

// Removes the first `count` bytes of an open file of `size` bytes: the rest moves to the front in
// place, a chunk at a time, so that neither memory nor the disk holds a second copy of it; the
// file then ends after it. Cutting `size` bytes empties the file. False when `count` exceeds
// `size` or a read, a write or the cut fails (the file is then partly moved).
bool CutFront(int fd, std::uint64_t count, std::uint64_t size);

}  // namespace platform
