#include "platform/mspacksys.h"

#include "platform/fileio.h"
#include "platform/fileio_posix.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

namespace platform::detail {

namespace {

// The decoders write a byte at a time: outputs are gathered into blocks before they reach the
// system. A block that cannot be written shows later as an output of the wrong size.
constexpr std::size_t kWriteBuffer = 1 << 16;

struct PosixFile {
  mspack_file base;  // what the library holds; never read
  int fd;
  bool failed = false;
  std::size_t used = 0;
  std::unique_ptr<char[]> buffer;  // for outputs only
};

PosixFile* Posix(mspack_file* file) { return reinterpret_cast<PosixFile*>(file); }
int Descriptor(mspack_file* file) { return Posix(file)->fd; }

bool Flush(PosixFile* file) {
  if (file->used == 0) return !file->failed;
  if (!WriteAll(file->fd, file->buffer.get(), file->used)) file->failed = true;
  file->used = 0;
  return !file->failed;
}

mspack_file* Open(mspack_system*, const char* filename, int mode) {
  if (!filename) return nullptr;
  int flags = O_CLOEXEC;
  switch (mode) {
    case MSPACK_SYS_OPEN_READ:
      break;
    case MSPACK_SYS_OPEN_WRITE:
      flags |= O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW;
      break;
    default:
      return nullptr;  // neither decompressor updates or appends
  }
  // A source that is no regular file is refused, and a FIFO cannot hold the program.
  const int fd =
      mode == MSPACK_SYS_OPEN_READ ? OpenRegular(filename) : OpenRetrying(filename, flags, 0666);
  if (fd < 0) return nullptr;
  auto* file = new (std::nothrow) PosixFile{{0}, fd, false, 0, nullptr};
  if (file && mode == MSPACK_SYS_OPEN_WRITE)
    file->buffer.reset(new (std::nothrow) char[kWriteBuffer]);
  if (!file || (mode == MSPACK_SYS_OPEN_WRITE && !file->buffer)) {
    delete file;
    ::close(fd);
    return nullptr;
  }
  return &file->base;
}

void Close(mspack_file* file) {
  if (!file) return;
  auto* posix = Posix(file);
  Flush(posix);
  ::close(posix->fd);
  delete posix;
}

// The cabinet decoder may ask to read from a file it never opened (a folder whose blocks are
// missing): every operation refuses a null file, as the library's own functions do.
int Read(mspack_file* file, void* buffer, int bytes) {
  if (!file || !buffer || bytes < 0) return -1;
  std::size_t done = 0;
  if (!ReadUpTo(Descriptor(file), buffer, static_cast<std::size_t>(bytes), done)) return -1;
  return static_cast<int>(done);
}

int Write(mspack_file* file, void* buffer, int bytes) {
  if (!file || !buffer) return -1;
  PosixFile* posix = Posix(file);
  if (bytes < 0 || !posix->buffer || posix->failed) return -1;
  const auto* in = static_cast<const char*>(buffer);
  const auto size = static_cast<std::size_t>(bytes);
  if (posix->used + size > kWriteBuffer && !Flush(posix)) return -1;
  if (size >= kWriteBuffer) return WriteAll(posix->fd, in, size) ? bytes : -1;
  std::memcpy(posix->buffer.get() + posix->used, in, size);
  posix->used += size;
  return bytes;
}

int Seek(mspack_file* file, off_t offset, int mode) {
  if (!file) return -1;
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
  if (!Flush(Posix(file))) return -1;
  return ::lseek(Descriptor(file), offset, whence) < 0 ? -1 : 0;
}

off_t Tell(mspack_file* file) {
  if (!file) return -1;
  if (!Flush(Posix(file))) return -1;
  return ::lseek(Descriptor(file), 0, SEEK_CUR);
}

void Message(mspack_file*, const char*, ...) {}

void* Alloc(mspack_system*, size_t bytes) { return std::malloc(bytes); }

void Free(void* ptr) { std::free(ptr); }

void Copy(void* src, void* dest, size_t bytes) {
  if (bytes) std::memmove(dest, src, bytes);
}

mspack_system posixSystem = {Open,    Close, Read, Write, Seek,   Tell,
                             Message, Alloc, Free, Copy,  nullptr};

}  // namespace

mspack_system* PosixMspackSystem() { return &posixSystem; }

}  // namespace platform::detail
