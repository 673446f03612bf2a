#pragma once

#include "cli/outcome.h"

#include <QJsonObject>

#include <filesystem>
#include <string>
#include <vector>

class TDownDocFile;

// The JSON document of fwload-cli and its text form: {"schema", "file", "results", "exit"}.
namespace cli {

inline constexpr int kSchema = 1;

// The file's part: path, recognised, description, version, models, data_bytes, begin_message,
// done_message; the header's values are null when the file did not open or was not recognised.
QJsonObject FileJson(const std::filesystem::path& path, const TDownDocFile* doc);
// One target's part.
QJsonObject ResultJson(const TargetOutcome& outcome);
// The whole document, indented, with a line break at its end.
std::string Document(const QJsonObject& body, int exitCode);
// One target as a line of text.
std::string ResultLine(const TargetOutcome& outcome);
// A path as text: UTF-8 as it is, other bytes as the system decodes them.
QString PathText(const std::filesystem::path& path);

}  // namespace cli
