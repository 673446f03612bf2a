#pragma once

class TfrmMain;
class TfrmPrntView;
class TDlgMsgBox;
class TFtpConnect;
class TdlgPrnModel;

// The five forms, created once at start-up in this order and alive until the end.
extern TfrmMain* frmMain;
extern TfrmPrntView* frmPrntView;
extern TDlgMsgBox* DlgMsgBox;
extern TFtpConnect* FtpConnect;
extern TdlgPrnModel* dlgPrnModel;
