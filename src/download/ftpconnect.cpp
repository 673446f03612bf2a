#include "download/ftpconnect.h"

TFtpConnect::TFtpConnect(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("FtpConnect"));
  setWindowTitle(QStringLiteral("FTP接続ﾌﾟﾘﾝﾀの指定"));
}
