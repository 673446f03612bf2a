#pragma once

#include <cstdint>

// The library's per-thread last-error value.
namespace access {
void SetLastError(std::uint32_t code);
}
