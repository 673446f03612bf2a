#include "platform/mspacksys.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <new>

namespace platform::detail {

namespace {

struct PosixFile {
  mspack_file base;  // what the library holds; never read
  int fd;
};

int Descriptor(mspack_file* file) { return reinterpret_cast<PosixFile*>(file)->fd; }

mspack_file* Open(mspack_system*, const char* filename, int mode) {
  int flags = O_CLOEXEC;
  switch (mode) {
    case MSPACK_SYS_OPEN_READ:
      flags |= O_RDONLY;
      break;
    case MSPACK_SYS_OPEN_WRITE:
      flags |= O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW;
      break;
    default:
      return nullptr;  // neither decompressor updates or appends
  }
  int fd = -1;
  do {
    fd = ::open(filename, flags, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return nullptr;
  auto* file = new (std::nothrow) PosixFile{{0}, fd};
  if (!file) {
    ::close(fd);
    return nullptr;
  }
  return &file->base;
}

void Close(mspack_file* file) {
  if (!file) return;
  auto* posix = reinterpret_cast<PosixFile*>(file);
  ::close(posix->fd);
  delete posix;
}

int Read(mspack_file* file, void* buffer, int bytes) {
  if (bytes < 0) return -1;
  auto* out = static_cast<char*>(buffer);
  int done = 0;
  while (done < bytes) {
    const ssize_t n = ::read(Descriptor(file), out + done, static_cast<size_t>(bytes - done));
    if (n < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (n == 0) break;
    done += static_cast<int>(n);
  }
  return done;
}

int Write(mspack_file* file, void* buffer, int bytes) {
  if (bytes < 0) return -1;
  const auto* in = static_cast<const char*>(buffer);
  int done = 0;
  while (done < bytes) {
    const ssize_t n = ::write(Descriptor(file), in + done, static_cast<size_t>(bytes - done));
    if (n < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    done += static_cast<int>(n);
  }
  return done;
}

int Seek(mspack_file* file, off_t offset, int mode) {
  int whence = SEEK_SET;
  switch (mode) {
    case MSPACK_SYS_SEEK_START:
      whence = SEEK_SET;
      break;
    case MSPACK_SYS_SEEK_CUR:
      whence = SEEK_CUR;
      break;
    case MSPACK_SYS_SEEK_END:
      whence = SEEK_END;
      break;
    default:
      return -1;
  }
  return ::lseek(Descriptor(file), offset, whence) < 0 ? -1 : 0;
}

off_t Tell(mspack_file* file) { return ::lseek(Descriptor(file), 0, SEEK_CUR); }

void Message(mspack_file*, const char*, ...) {}

void* Alloc(mspack_system*, size_t bytes) { return std::malloc(bytes); }

void Free(void* ptr) { std::free(ptr); }

void Copy(void* src, void* dest, size_t bytes) { std::memmove(dest, src, bytes); }

mspack_system posixSystem = {Open, Close, Read, Write, Seek, Tell, Message,
                             Alloc, Free,  Copy, nullptr};

}  // namespace

mspack_system* PosixMspackSystem() { return &posixSystem; }

}  // namespace platform::detail
