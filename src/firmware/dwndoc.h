#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

// One opened firmware file: its header values, the models it is meant for, the model-table rows
// it brings and the data block that is sent to the printer. Constructing it opens the file; the
// result is read from FError and FFormatValid.
class TDownDocFile {
 public:
  explicit TDownDocFile(const std::string& path = std::string());
  virtual ~TDownDocFile();
  TDownDocFile(const TDownDocFile&) = delete;
  TDownDocFile& operator=(const TDownDocFile&) = delete;

  std::string FFileName;
  std::string FWorkDir;
  int FFormatValid = 0;
  std::string FDownLoadDesc;
  std::string FDownLoadVersion;
  int FEnableCommand = 1;
  int FReboot = 1;
  std::string FDownLoadFile;
  std::string FBeginMessage;
  std::string FDoneMessage;
  std::vector<std::string> FDownLoadPrinter;
  std::vector<std::pair<std::string, std::string>> FPrinters;  // name=value, file order
  std::uint16_t FError = 0;
  std::unique_ptr<std::uint8_t[]> FData;
  std::uint32_t FDataSize = 0;
};
