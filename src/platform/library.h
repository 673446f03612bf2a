#pragma once

#include <filesystem>
#include <string>

namespace platform {

// A shared library loaded at run time. It stays loaded for the rest of the run.
class Library {
 public:
  // False when the file cannot be loaded.
  bool Load(const std::filesystem::path& file);
  bool Loaded() const { return handle_ != nullptr; }
  // The address of the exported symbol `name`; nullptr when the library has none (or none is
  // loaded).
  void* Symbol(const std::string& name) const;

 private:
  void* handle_ = nullptr;
};

}  // namespace platform
