#include "printers/funcs.h"

#include "common/ftpaddress.h"
#include "platform/text.h"

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
