#include "platform/cabinet.h"

#include "platform/mspacksys.h"
#include "platform/text.h"

#include <sys/stat.h>
#include <unistd.h>

#include <memory>

namespace platform {

namespace {

// Larger input buffers make MSZIP decoding markedly faster than the library's 4 KiB default.
constexpr int kDecompressionBuffer = 1 << 16;

std::string MemberName(const mscabd_file* file) {
  const std::string raw = file->filename ? file->filename : "";
  if (file->attribs & MSCAB_ATTRIB_UTF_NAME) return raw;
  return text::DecodeCp932(raw);
}

// A member that did not come out whole leaves nothing behind: it counts as missing.
void RemovePartial(const std::filesystem::path& target) {
  struct stat st {};
  if (::lstat(target.c_str(), &st) == 0 && !S_ISDIR(st.st_mode)) ::unlink(target.c_str());
}

}  // namespace

int WalkCabinet(const std::filesystem::path& cabinet, ICabinetVisitor& visitor) {
  std::unique_ptr<mscab_decompressor, void (*)(mscab_decompressor*)> cabd(
      mspack_create_cab_decompressor(detail::PosixMspackSystem()), mspack_destroy_cab_decompressor);
  if (!cabd) return MSPACK_ERR_NOMEMORY;
  cabd->set_param(cabd.get(), MSCABD_PARAM_DECOMPBUF, kDecompressionBuffer);

  mscabd_cabinet* cab = cabd->open(cabd.get(), const_cast<char*>(cabinet.c_str()));
  if (!cab) {
    const int error = cabd->last_error(cabd.get());
    return error != MSPACK_ERR_OK ? error : MSPACK_ERR_DATAFORMAT;
  }

  int result = MSPACK_ERR_OK;
  if (!visitor.CabinetOpened(cabinet)) {
    result = kCabinetStopped;
  } else {
    for (mscabd_file* file = cab->files; file; file = file->next) {
      CabinetMember member;
      member.name = MemberName(file);
      member.size = file->length;
      member.attributes = static_cast<std::uint16_t>(file->attribs);
      const auto target = visitor.FileInCabinet(member);
      if (!target) continue;

      int error = cabd->extract(cabd.get(), file, const_cast<char*>(target->c_str()));
      if (error == MSPACK_ERR_OK) {
        struct stat st {};
        if (::lstat(target->c_str(), &st) != 0 || !S_ISREG(st.st_mode) ||
            static_cast<std::uint64_t>(st.st_size) != file->length) {
          error = kCabinetSizeMismatch;
        }
      }
      if (error != MSPACK_ERR_OK) RemovePartial(*target);
      visitor.FileExtracted(member, *target, error);
    }
  }
  cabd->close(cabd.get(), cab);
  return result;
}

}  // namespace platform
