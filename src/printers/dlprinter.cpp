#include "printers/dlprinter.h"

#include "platform/text.h"

TDLPrinter* TDLPrinterList::Get(int index) {
  return (index >= 0 && index < Count()) ? &rows_[static_cast<std::size_t>(index)] : nullptr;
}

const TDLPrinter* TDLPrinterList::Get(int index) const {
  return (index >= 0 && index < Count()) ? &rows_[static_cast<std::size_t>(index)] : nullptr;
}

int TDLPrinterList::IndexOf(std::string_view name) const {
  for (int i = 0; i < Count(); ++i) {
    if (text::EqualsNoCase(rows_[static_cast<std::size_t>(i)].Name, name)) return i;
  }
  return -1;
}
