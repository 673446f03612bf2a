#pragma once

#include <string>
#include <string_view>
#include <vector>

// One row of the printer model table.
struct TDLPrinter {
  std::string Name;      // driver or model name, at most 31 bytes
  std::string CodeText;  // the code as text, at most 31 bytes
  int Code = 0;          // the code as a number; an icon index for rows that name an icon file
  int Command = 0;       // 1: the model takes the download command
};

// Length limit of a row's name and code text, in code page 932 bytes.
constexpr std::size_t kModelFieldLimit = 31;

// The model table: rows in the order they were added.
class TDLPrinterList {
 public:
  void Add(const TDLPrinter& row) { rows_.push_back(row); }
  void Clear() { rows_.clear(); }
  // The row at `index`, or nullptr when the index is out of range.
  TDLPrinter* Get(int index);
  const TDLPrinter* Get(int index) const;
  int Count() const { return static_cast<int>(rows_.size()); }
  // Index of the first row whose name equals `name` without regard to letter case, or -1.
  int IndexOf(std::string_view name) const;

 private:
  std::vector<TDLPrinter> rows_;
};
