// SZDD expansion: any input either expands to exactly the size it announces, is copied byte for
// byte, or fails without leaving a target.

#include "fuzzenv.h"
#include "platform/lzexpand.h"

#include <sys/stat.h>

#include <cstdint>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static fuzzenv::InputFile source(fuzzenv::Setup() / "in" / "in.FW_");
  static const auto target = fuzzenv::Root() / "out";
  source.Put(data, size);

  const platform::LzResult result = platform::LzExpand(source.Path(), target);
  struct stat st {};
  const bool exists = ::lstat(target.c_str(), &st) == 0;
  const bool szdd = size >= 8 && (std::memcmp(data, "SZDD\x88\xF0\x27\x33", 8) == 0 ||
                                  std::memcmp(data, "SZ \x88\xF0\x27\x33\xD1", 8) == 0);
  if (result == platform::LzResult::Ok) {
    if (!exists) std::abort();
    if (!szdd && static_cast<std::size_t>(st.st_size) != size) std::abort();
    if (szdd && std::memcmp(data, "SZDD", 4) == 0 && size >= 14) {
      std::uint32_t announced = 0;
      std::memcpy(&announced, data + 10, 4);
      if (static_cast<std::uint64_t>(st.st_size) != announced) std::abort();
    }
  } else if (exists) {
    std::abort();  // a failure leaves no target
  }
  ::unlink(target.c_str());
  return 0;
}
