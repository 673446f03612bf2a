#pragma once

#include <mspack.h>

// libmspack's file operations over POSIX descriptors: outputs are created without following a
// symbolic link and descriptors are not inherited by programs started meanwhile; the library's
// diagnostics are dropped (failures come back as result codes).
namespace platform::detail {

mspack_system* PosixMspackSystem();

}  // namespace platform::detail
