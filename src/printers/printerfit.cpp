#include "printers/printerfit.h"

#include "firmware/dwndoc.h"
#include "printers/funcs.h"

namespace printerfit {

int LookupModel(const TDLPrinterList& models, TPrnInfo& info) {
  const TDLPrinter* row = models.Get(models.IndexOf(info.Driver));
  if (!row) {
    info.CodeText.clear();
    info.Code = 0;
    info.Command = 0;
    info.Known = 0;
  } else {
    info.CodeText = row->CodeText;
    info.Code = row->Code;
    info.Command = row->Command;
    info.Known = 1;
  }
  return 1;
}

TPrnInfo ModelOf(const TDLPrinterList& models, const std::string& driver) {
  TPrnInfo info;
  info.Driver = driver;
  LookupModel(models, info);
  return info;
}

int IsTargetModel(const TDLPrinterList& models, const std::string& driver) {
  return ModelOf(models, driver).Known;
}

int IsCommandModel(const TDLPrinterList& models, const std::string& driver) {
  return ModelOf(models, driver).Command;
}

int IsUpgradable(const TPrnInfo& model, std::uint32_t portFlags) {
  if (!model.Known) return 0;
  return (model.Command || (portFlags & kPortParallel)) ? 1 : 0;
}

int FileFitsModel(const TDownDocFile* doc, const TPrnInfo& model, const TDLPrinterList& models) {
  if (!doc) return 0;
  for (const auto& name : doc->FDownLoadPrinter) {
    const TPrnInfo candidate = ModelOf(models, name);
    if (model.Code != 0 && model.Code == candidate.Code) return 1;
    if (!model.CodeText.empty() && model.CodeText == candidate.CodeText) return 1;
  }
  return 0;
}

int IsFileForPrinter(const TDownDocFile* doc, const TPrnInfo& model, const TDLPrinterList& models) {
  if (!doc || doc->FDownLoadPrinter.empty()) return 0;
  return FileFitsModel(doc, model, models);
}

}  // namespace printerfit
