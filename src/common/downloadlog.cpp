#include "common/downloadlog.h"

#include "platform/paths.h"
#include "platform/profile.h"

#include <QLocale>

#include <mutex>

namespace downloadlog {

std::string SectionName(const QDateTime& when) {
  const QLocale locale = QLocale::system();
  QString name = locale.toString(when.date(), QLocale::ShortFormat);
  if (when.time() != QTime(0, 0)) name += ' ' + locale.toString(when.time(), QLocale::LongFormat);
  // "[" and "]" would end the section's name early.
  name.replace('[', '(').replace(']', ')');
  return name.toStdString();
}

namespace {

// An INI key ends at its first "="; keep the rest of the path in it readable.
std::string SafeKey(const std::string& key) {
  std::string safe = key;
  for (char& c : safe) {
    if (c == '=' || c == '\r' || c == '\n') c = '_';
  }
  return safe;
}

std::string SafeValue(const std::string& value) {
  std::string safe = value;
  for (char& c : safe) {
    if (c == '\r' || c == '\n') c = ' ';
  }
  return safe;
}

}  // namespace

bool Write(const std::filesystem::path& logFile, const QDateTime& when, const std::string& key,
           const std::string& value) {
  platform::ProfileFile log(logFile);
  return log.Write(SectionName(when), SafeKey(key), SafeValue(value));
}

bool Append(const std::filesystem::path& logFile, const QDateTime& when, const std::string& key,
            const std::string& value) {
  // The downloads of one process take turns, so two never pick the same free section.
  static std::mutex turn;
  const std::lock_guard lock(turn);
  platform::ProfileFile log(logFile);
  const std::string safeKey = SafeKey(key);
  const std::string base = SectionName(when);
  std::string section = base;
  for (int n = 2; log.Read(section, safeKey).has_value(); ++n) {
    section = base + " (" + std::to_string(n) + ")";
  }
  return log.Write(section, safeKey, SafeValue(value));
}

std::filesystem::path DefaultFile() { return platform::DataDir() / "DownLoad.log"; }

}  // namespace downloadlog
