// The cabinet walk with the callback's naming rules: nothing is ever written outside the
// extraction folder, whatever the member names and the damage.

#include "firmware/packages.h"
#include "fuzzenv.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto& root = fuzzenv::Setup();
  const auto cabinet = root / "in.cab";
  const auto sandbox = root / "sandbox";
  const auto target = sandbox / "x";
  std::error_code ec;
  std::filesystem::create_directories(sandbox, ec);
  fuzzenv::Write(cabinet, data, size);

  IterateCabinet(cabinet.c_str(), target.c_str());

  // Only the extraction folder may have appeared in the sandbox, and only folders and regular
  // files inside it.
  for (auto it = std::filesystem::directory_iterator(sandbox, ec);
       !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
    if (it->path() != target) std::abort();
  }
  for (auto it = std::filesystem::recursive_directory_iterator(target, ec);
       !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
    const auto type = it->symlink_status().type();
    if (type != std::filesystem::file_type::regular &&
        type != std::filesystem::file_type::directory) {
      std::abort();
    }
  }
  for (const char* outside : {"tmp", "data", "config"}) {
    if (!std::filesystem::is_empty(root / outside, ec)) std::abort();
  }
  DeleteTemp(target);
  return 0;
}
