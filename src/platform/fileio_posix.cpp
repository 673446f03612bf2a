#include "platform/fileio.h"

#include "platform/fileio_posix.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <new>

namespace platform {

namespace {

// One call never asks for more than this: the kernel caps a single read or write below 2 GiB.
constexpr std::size_t kMaxCall = std::size_t{1} << 30;

// How much of a file moves at a time when its front is cut.
constexpr std::size_t kCutChunk = std::size_t{1} << 20;

// Repeats a read until `size` bytes are in, the file ends or it fails; `read` is one system call
// for `want` bytes at `done` bytes in.
template <typename Read>
bool ReadRepeating(void* buffer, std::size_t size, std::size_t& count, Read read) {
  auto* out = static_cast<char*>(buffer);
  count = 0;
  while (count < size) {
    const ssize_t n = read(out + count, std::min(size - count, kMaxCall), count);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) break;
    count += static_cast<std::size_t>(n);
  }
  return true;
}

// Repeats a write until all of `size` bytes are out; `write` is one system call for `want` bytes
// at `done` bytes in. False when the file takes no more.
template <typename Write>
bool WriteRepeating(const void* data, std::size_t size, Write write) {
  const auto* bytes = static_cast<const char*>(data);
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = write(bytes + done, std::min(size - done, kMaxCall), done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

bool WriteAllAt(int fd, const char* data, std::size_t size, std::uint64_t offset) {
  return WriteRepeating(data, size, [&](const char* in, std::size_t want, std::size_t done) {
    return ::pwrite(fd, in, want, static_cast<off_t>(offset + done));
  });
}

}  // namespace

UniqueFd::~UniqueFd() {
  if (fd_ >= 0) ::close(fd_);
}

bool UniqueFd::Close() {
  const int fd = fd_;
  fd_ = -1;
  return fd < 0 || ::close(fd) == 0;
}

int OpenRetrying(const char* path, int flags, mode_t mode) {
  int fd = -1;
  do {
    fd = ::open(path, flags, mode);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

int OpenRegular(const std::filesystem::path& path, std::uint64_t* size) {
  const int fd = OpenRetrying(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return -1;
  const auto regular = RegularFileSize(fd);
  if (!regular) {
    ::close(fd);
    return -1;
  }
  if (size) *size = *regular;
  return fd;
}

int OpenForReading(const std::filesystem::path& path) {
  return OpenRetrying(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
}

int OpenForWriting(const std::filesystem::path& path) {
  return OpenRetrying(path.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
}

int OpenForRewriting(const std::filesystem::path& path) {
  return OpenRetrying(path.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC);
}

std::optional<std::uint64_t> RegularFileSize(int fd) {
  struct stat st {};
  if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
  return static_cast<std::uint64_t>(st.st_size);
}

std::optional<std::uint64_t> RegularFileSize(std::FILE* file) {
  if (!file) return std::nullopt;
  return RegularFileSize(::fileno(file));
}

bool ReadUpTo(int fd, void* buffer, std::size_t size, std::size_t& count) {
  return ReadRepeating(buffer, size, count, [fd](char* out, std::size_t want, std::size_t) {
    return ::read(fd, out, want);
  });
}

bool ReadAt(int fd, void* buffer, std::size_t size, std::uint64_t offset, std::size_t& count) {
  return ReadRepeating(buffer, size, count, [&](char* out, std::size_t want, std::size_t done) {
    return ::pread(fd, out, want, static_cast<off_t>(offset + done));
  });
}

bool SeekTo(int fd, std::uint64_t offset) {
  return ::lseek(fd, static_cast<off_t>(offset), SEEK_SET) >= 0;
}

bool SeekToEnd(int fd) { return ::lseek(fd, 0, SEEK_END) >= 0; }

bool WriteAll(int fd, const void* data, std::size_t size) {
  return WriteRepeating(data, size, [fd](const char* in, std::size_t want, std::size_t) {
    return ::write(fd, in, want);
  });
}

bool CutFront(int fd, std::uint64_t count, std::uint64_t size) {
  if (count > size) return false;
  std::unique_ptr<char[]> buffer;
  if (count < size) buffer.reset(new (std::nothrow) char[kCutChunk]);
  if (count < size && !buffer) return false;
  for (std::uint64_t from = count; from < size;) {
    const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(kCutChunk, size - from));
    std::size_t got = 0;
    if (!ReadAt(fd, buffer.get(), want, from, got) || got == 0) return false;
    if (!WriteAllAt(fd, buffer.get(), got, from - count)) return false;
    from += got;
  }
  return ::ftruncate(fd, static_cast<off_t>(size - count)) == 0;
}

}  // namespace platform
