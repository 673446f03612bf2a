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

// Adds `key`=`value` to the section of `when`, or, when that section holds the key already, to
// the first of the sections " (2)", " (3)"... of the same time that does not: no entry is lost
// when several downloads of the same file end in the same second. False when it could not be
// written.
bool Append(const std::filesystem::path& logFile, const QDateTime& when, const std::string& key,
            const std::string& value);

// Where the log lives: the user's data folder.
std::filesystem::path DefaultFile();

}  // namespace downloadlog
