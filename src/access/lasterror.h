#pragma once

#include <cstdint>

// The library's per-thread last-error value. (Not "access": that name is the POSIX function
// that <unistd.h> declares, which almost every translation unit sees.)
namespace fwlaccess {
void SetLastError(std::uint32_t code);
}
