#pragma once

#include <sys/types.h>

// What only the POSIX implementations of the other services share.
namespace platform {

// open(2) with its own flags and mode, made again when interrupted; -1 when it fails.
int OpenRetrying(const char* path, int flags, mode_t mode = 0);

}  // namespace platform
