#include "printers/modeltable.h"

#include "common/strings.h"
#include "firmware/dwndoc.h"
#include "platform/profile.h"
#include "platform/text.h"
#include "printers/funcs.h"
#include "printers/printerfit.h"

namespace {

// A code or flag text read as a decimal integer (an optional sign, then digits only); nullopt
// for anything else, such as the name of an icon file.
std::optional<int> DecimalOf(std::string_view value) {
  const std::string_view v = text::Trim(value);
  if (v.empty() || (v.size() > 2 && v[0] == '0' && (v[1] == 'x' || v[1] == 'X'))) {
    return std::nullopt;
  }
  return text::ParseIniInteger(v);
}

// The built-in row of a string id: the key before the first "=", the value after it (up to a
// further "="); nullopt for an id without a text.
std::optional<std::pair<std::string, std::string>> BuiltinRow(int id) {
  const std::string_view row = strings::Load(id);
  if (row.empty()) return std::nullopt;
  const std::size_t eq = row.find('=');
  std::string value;
  if (eq != std::string_view::npos) {
    const std::string_view rest = row.substr(eq + 1);
    value = std::string(rest.substr(0, rest.find('=')));
  }
  return std::make_pair(std::string(row.substr(0, eq)), value);
}

// A key the user or a firmware file gave a value keeps it.
bool NeedsBuiltinValue(const std::optional<std::string>& current) {
  return text::CutCp932(current.value_or(std::string()), 254).empty();
}

}  // namespace

void ModelTable::Load(const std::filesystem::path& settingsFile) {
  Clear();
  MergeBuiltin(settingsFile);

  platform::IniText ini(platform::ReadFileBytes(settingsFile).value_or(std::string()));
  // Should the settings file refuse the merge (a folder that cannot be written), the built-in
  // rows still count for this run, or no printer at all would be a target.
  for (int id = strings::kFirstModelRow; id <= strings::kLastModelRow; ++id) {
    const auto row = BuiltinRow(id);
    if (row && NeedsBuiltinValue(ini.Value(kPrintersSection, row->first))) {
      ini.Set(kPrintersSection, row->first, row->second);
    }
  }
  for (const auto& key : ini.Keys(kPrintersSection)) {
    const std::string value =
        text::CutCp932(ini.Value(kPrintersSection, key).value_or("?"), kPrnTextLimit);
    // code[,flag[,ignored...]] with empty parts skipped
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start <= value.size() && parts.size() < 2) {
      std::size_t comma = value.find(',', start);
      if (comma == std::string::npos) comma = value.size();
      if (comma > start) parts.push_back(value.substr(start, comma - start));
      start = comma + 1;
    }
    TDLPrinter row;
    row.Name = text::CutCp932(key, kModelFieldLimit);
    row.CodeText = parts.empty() ? std::string() : text::CutCp932(parts[0], kModelFieldLimit);
    row.Code = DecimalOf(row.CodeText).value_or(0);
    row.Command = (parts.size() > 1 && DecimalOf(parts[1]) == 1) ? 1 : 0;
    Add(row);
  }
}

void ModelTable::MergeBuiltin(const std::filesystem::path& settingsFile) {
  platform::ProfileFile ini(settingsFile);
  for (int id = strings::kFirstModelRow; id <= strings::kLastModelRow; ++id) {
    const auto row = BuiltinRow(id);
    if (row && NeedsBuiltinValue(ini.Read(kPrintersSection, row->first))) {
      ini.Write(kPrintersSection, row->first, row->second);
    }
  }
}

void ModelTable::StoreFileModels(const TDownDocFile& doc,
                                 const std::filesystem::path& settingsFile) {
  platform::ProfileFile ini(settingsFile);
  for (const auto& [name, value] : doc.FPrinters) ini.Write(kPrintersSection, name, value);
}

int ModelTable::Lookup(TPrnInfo& info) const { return printerfit::LookupModel(*this, info); }
