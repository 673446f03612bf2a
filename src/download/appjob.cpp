#include "download/appjob.h"

#include "printers/myapp.h"

TransferJob TransferJobOf(TFWLOADApp& app) {
  TransferJob job;
  job.Target = app.SelectedPrinter;
  job.Doc = app.GetDoc();
  // The model is looked up only when the setting allows the command at all.
  job.Wrap = app.EnableCommand && app.IsCommandModel(app.SelectedPrinter) ? 1 : 0;
  job.InitMemory = app.InitMemory;
  return job;
}
