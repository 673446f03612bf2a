#include "access/lasterror.h"

#include "access/fwloadaccess.h"

namespace {
thread_local std::uint32_t lastError = 0;
}

namespace fwlaccess {
void SetLastError(std::uint32_t code) { lastError = code; }
}  // namespace fwlaccess

extern "C" uint32_t FwlGetLastError(void) { return lastError; }
