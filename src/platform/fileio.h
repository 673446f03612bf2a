#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>

// Reading and writing through POSIX descriptors the way every part of the program needs it:
// interrupted calls are made again, short reads and writes are resumed.
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

// open(2); -1 when it fails.
int OpenRetrying(const char* path, int flags, mode_t mode = 0);

// Opens for reading without blocking on a FIFO; -1 unless it is a regular file. Its size in
// `size` when asked.
int OpenRegular(const std::filesystem::path& path, std::uint64_t* size = nullptr);

// Reads until `size` bytes are in or the file ends; `count` says how many came. False on a read
// error.
bool ReadUpTo(int fd, void* buffer, std::size_t size, std::size_t& count);

// Writes all of `size` bytes. False when the file takes no more.
bool WriteAll(int fd, const void* data, std::size_t size);

}  // namespace platform
