#include "common/downloadlog.h"

#include "platform/paths.h"
#include "platform/profile.h"

#include <QLocale>

namespace downloadlog {

std::string SectionName(const QDateTime& when) {
  const QLocale locale = QLocale::system();
  QString name = locale.toString(when.date(), QLocale::ShortFormat);
  if (when.time() != QTime(0, 0)) name += ' ' + locale.toString(when.time(), QLocale::LongFormat);
  // "[" and "]" would end the section's name early.
  name.replace('[', '(').replace(']', ')');
  return name.toStdString();
}

bool Write(const std::filesystem::path& logFile, const QDateTime& when, const std::string& key,
           const std::string& value) {
  // An INI key ends at its first "="; keep the rest of the path in it readable.
  std::string safeKey = key;
  for (char& c : safeKey) {
    if (c == '=' || c == '\r' || c == '\n') c = '_';
  }
  std::string safeValue = value;
  for (char& c : safeValue) {
    if (c == '\r' || c == '\n') c = ' ';
  }
  platform::ProfileFile log(logFile);
  return log.Write(SectionName(when), safeKey, safeValue);
}

std::filesystem::path DefaultFile() { return platform::DataDir() / "DownLoad.log"; }

}  // namespace downloadlog
