#include "access/lasterror.h"

#include "access/fwloadaccess.h"

namespace {
thread_local std::uint32_t lastError = 0;
}

namespace access {
void SetLastError(std::uint32_t code) { lastError = code; }
}  // namespace access

extern "C" uint32_t FwlGetLastError(void) { return lastError; }
