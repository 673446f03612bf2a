#pragma once

#include <filesystem>
#include <optional>
#include <string_view>

// Makes a unique empty file whose name begins with `prefix` in `dir`; an empty `dir` is the
// program's private temporary folder. A run that sends to several printers at once gives each
// its own folder. nullopt when no file could be made.
std::optional<std::filesystem::path> MakeTempFileName(std::string_view prefix,
                                                      const std::filesystem::path& dir = {});
