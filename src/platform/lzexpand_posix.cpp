#include "platform/lzexpand.h"

#include "platform/fileio.h"
#include "platform/fileio_posix.h"
#include "platform/mspacksys.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

namespace platform {

namespace {

// The two signatures the expansion library knows: the compression tool's and QBasic's.
constexpr unsigned char kSzddSignature[8] = {'S', 'Z', 'D', 'D', 0x88, 0xF0, 0x27, 0x33};
constexpr unsigned char kQBasicSignature[8] = {'S', 'Z', ' ', 0x88, 0xF0, 0x27, 0x33, 0xD1};

bool HasSzddSignature(int fd) {
  unsigned char head[8];
  ssize_t n = -1;
  do {
    n = ::pread(fd, head, sizeof head, 0);
  } while (n < 0 && errno == EINTR);
  if (n != static_cast<ssize_t>(sizeof head)) return false;
  return std::memcmp(head, kSzddSignature, sizeof head) == 0 ||
         std::memcmp(head, kQBasicSignature, sizeof head) == 0;
}

// Copies from the current positions to the end of `in`; the kernel copies where it can.
bool CopyRest(int in, int out) {
  bool kernelCopy = true;
  for (;;) {
    if (kernelCopy) {
      const ssize_t n = ::copy_file_range(in, nullptr, out, nullptr, 1 << 30, 0);
      if (n > 0) continue;
      if (n == 0) return true;
      if (errno == EINTR) continue;
      if (errno != EXDEV && errno != ENOSYS && errno != EINVAL && errno != EOPNOTSUPP &&
          errno != EPERM) {
        return false;
      }
      kernelCopy = false;  // another file system or kernel: copy through a buffer
    }
    std::vector<char> buffer(1 << 20);
    for (;;) {
      const ssize_t n = ::read(in, buffer.data(), buffer.size());
      if (n < 0) {
        if (errno == EINTR) continue;
        return false;
      }
      if (n == 0) return true;
      if (!WriteAll(out, buffer.data(), static_cast<std::size_t>(n))) return false;
    }
  }
}

LzResult CopyPlain(int in, const std::filesystem::path& target) {
  UniqueFd out(
      OpenRetrying(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0666));
  if (out.Get() < 0) return LzResult::TargetCreate;
  if (!CopyRest(in, out.Get()) || !out.Close()) return LzResult::Failed;
  return LzResult::Ok;
}

LzResult ExpandSzdd(const std::filesystem::path& source, const std::filesystem::path& target) {
  mspack_system* sys = detail::PosixMspackSystem();
  std::unique_ptr<msszdd_decompressor, void (*)(msszdd_decompressor*)> szdd(
      mspack_create_szdd_decompressor(sys), mspack_destroy_szdd_decompressor);
  if (!szdd) return LzResult::Failed;
  msszddd_header* header = szdd->open(szdd.get(), const_cast<char*>(source.c_str()));
  if (!header) {
    return szdd->last_error(szdd.get()) == MSPACK_ERR_OPEN ? LzResult::SourceOpen
                                                           : LzResult::Failed;
  }
  const off_t announced = header->length;
  const int error = szdd->extract(szdd.get(), header, const_cast<char*>(target.c_str()));
  szdd->close(szdd.get(), header);
  // The header keeps the source open, so a failed open is the target's.
  if (error == MSPACK_ERR_OPEN) return LzResult::TargetCreate;
  if (error != MSPACK_ERR_OK) return LzResult::Failed;
  // A truncated stream expands "successfully" but short; a longer one is no better.
  struct stat st {};
  if (::lstat(target.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size != announced) {
    return LzResult::Failed;
  }
  return LzResult::Ok;
}

void RemoveTarget(const std::filesystem::path& target) {
  struct stat st {};
  if (::lstat(target.c_str(), &st) == 0 && !S_ISDIR(st.st_mode)) ::unlink(target.c_str());
}

}  // namespace

LzResult LzExpand(const std::filesystem::path& source, const std::filesystem::path& target) {
  UniqueFd in(OpenRegular(source));  // a FIFO cannot hold the program
  if (in.Get() < 0) return LzResult::SourceOpen;

  LzResult result = LzResult::Failed;
  if (HasSzddSignature(in.Get())) {
    in.Close();
    result = ExpandSzdd(source, target);
  } else {
    result = CopyPlain(in.Get(), target);
  }
  if (result == LzResult::Failed) RemoveTarget(target);
  return result;
}

}  // namespace platform
