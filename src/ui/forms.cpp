#include "ui/forms.h"

TfrmMain* frmMain = nullptr;
TfrmPrntView* frmPrntView = nullptr;
TDlgMsgBox* DlgMsgBox = nullptr;
TFtpConnect* FtpConnect = nullptr;
TdlgPrnModel* dlgPrnModel = nullptr;
