#pragma once

#include <string>

// What is known about one printer: the spooler's data, the model fields from the model table and,
// for an FTP printer, the version text it reported.
struct TPrnInfo {
  std::string Name;
  std::string Driver;
  std::string Port;
  std::string Location;
  std::string Comment;
  std::string CodeText;
  int Code = 0;
  int Command = 0;
  int Known = 0;
  std::string Version;

  // Everything empty or 0.
  void Clear() { *this = TPrnInfo(); }
};

// Length limits of the record's texts, in code page 932 bytes.
constexpr std::size_t kPrnTextLimit = 259;
constexpr std::size_t kVersionLimit = 39;
