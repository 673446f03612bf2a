#pragma once

#include "download/printthread.h"

class TFWLOADApp;

// The transfer the main window starts: the application model's file to its selected printer,
// with the command when the setting allows it and the printer's model takes it, and the memory
// answer given so far.
TransferJob TransferJobOf(TFWLOADApp& app);
