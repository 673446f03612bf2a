#include "printers/funcs.h"

#include "common/ftpaddress.h"
#include "platform/paths.h"
#include "platform/text.h"

#include <unistd.h>

std::uint32_t PortFlagsOf(std::string_view portText) {
  std::vector<std::string_view> ports;
  std::size_t start = 0;
  while (start <= portText.size()) {
    std::size_t comma = portText.find(',', start);
    if (comma == std::string_view::npos) comma = portText.size();
    if (comma > start) ports.push_back(portText.substr(start, comma - start));
    start = comma + 1;
  }
  std::uint32_t flags = 0;
  if (ports.size() > 1) flags |= kPortSeveral;
  if (!ports.empty()) {
    const std::string_view first = ports[0];
    if (first.size() == 5 && text::StartsWithNoCase(first, "LPT") && first[3] >= '1' &&
        first[3] <= '9' && first[4] == ':') {
      flags |= kPortParallel;
    }
  }
  return flags;
}

std::optional<std::string> GetFtpHost(std::string_view target) {
  const ftpaddress::ParsedAddress parsed = ftpaddress::ParseTarget(target);
  if (!parsed.HostOk()) return std::nullopt;
  return parsed.Address.Authority();
}

std::string CanonicalPrinterName(const std::string& name) {
  if (!IsFtpTarget(name)) return name;
  const ftpaddress::ParsedAddress parsed = ftpaddress::ParseTarget(name);
  return parsed.HostOk() ? parsed.Address.Target() : name;
}

std::string ConvertLineBreaks(std::string_view textIn) {
  std::string out;
  out.reserve(textIn.size());
  for (std::size_t i = 0; i < textIn.size(); ++i) {
    if (textIn[i] == '\\' && i + 1 < textIn.size() && textIn[i + 1] == 'n') {
      out += '\r';
      ++i;
    } else {
      out += textIn[i];
    }
  }
  return out;
}

std::optional<std::filesystem::path> MakeTempFileName(std::string_view prefix,
                                                      const std::filesystem::path& folder) {
  const std::filesystem::path dir = folder.empty() ? platform::TempDir() : folder;
  if (dir.empty()) return std::nullopt;
  std::string name = (dir / (std::string(prefix) + "XXXXXX")).string();
  const int fd = ::mkstemp(name.data());
  if (fd < 0) return std::nullopt;
  ::close(fd);
  return std::filesystem::path(name);
}
