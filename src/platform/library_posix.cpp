#include "platform/library.h"

#include <dlfcn.h>

namespace platform {

bool Library::Load(const std::filesystem::path& file) {
  void* handle = ::dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) return false;
  handle_ = handle;
  return true;
}

void* Library::Symbol(const std::string& name) const {
  return handle_ ? ::dlsym(handle_, name.c_str()) : nullptr;
}

}  // namespace platform
