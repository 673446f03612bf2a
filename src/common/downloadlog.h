#pragma once

#include <QDateTime>

#include <filesystem>
#include <string>

// The download log "DownLoad.log": one section per download, named by the local date and time.
namespace downloadlog {

// The user's short date, a blank and the long time; the time is left out at exactly midnight.
std::string SectionName(const QDateTime& when);

// Adds (or replaces) `key`=`value` in the section of `when`. False when it could not be written.
bool Write(const std::filesystem::path& logFile, const QDateTime& when, const std::string& key,
           const std::string& value);

// Where the log lives: the user's data folder.
std::filesystem::path DefaultFile();

}  // namespace downloadlog
