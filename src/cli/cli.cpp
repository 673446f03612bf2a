// fwload-cli: the download command without a window, for scripts and print servers.
#include "cli/commands.h"
#include "common/resultmessages.h"
#include "platform/closesignals.h"
#include "platform/paths.h"
#include "printers/accesslib.h"

#include <cstdio>
#include <memory>

namespace cli {

int Main(int argc, char** argv) {
  // A reader that goes away early costs the output, not the transfers.
  platform::IgnoreBrokenPipe();
  // The access library's FTP transfer and printer identity are linked in: the shared library would
  // bring its network printer dialog, and with it the window toolkit. Nothing is chosen here.
  const std::unique_ptr<IAccessLibrary> access = MakeAccessLibrary(
      {nullptr, &::GetFtpPrinterInfo, &::SendFileToFtpPrinter, &::FwlGetLastError});
  SetAccessLibrary(access.get());

  const std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
  const ParsedCommandLine parsed = ParseCommandLine(args);
  Console console;
  if (!parsed.Ok()) {
    console.Progress(parsed.Error + " (fwload-cli --help shows the usage)");
    SetAccessLibrary(nullptr);
    return exitcode::kStartFailed;
  }
  const CommandLine& line = parsed.Line;
  int code = exitcode::kSuccess;
  switch (line.What) {
    case Command::Help:
      console.Out(UsageText());
      break;
    case Command::Version:
      console.Out(std::string("fwload-cli ") + FWLOAD_VERSION + "\n");
      break;
    case Command::Inspect:
      code = Inspect(line, console);
      break;
    case Command::Printers:
      code = Printers(line, console);
      break;
    case Command::Send:
      // A close signal aborts every running transfer; a second one ends the program at once.
      platform::CatchCloseSignals(exitcode::kAborted);
      code = Send(line, console);
      break;
    case Command::History:
      code = History(line, console);
      break;
  }
  console.ReportOutputFailure();
  SetAccessLibrary(nullptr);
  platform::RemoveTempDir();
  return code;
}

}  // namespace cli
