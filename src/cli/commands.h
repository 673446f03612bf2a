#pragma once

#include "cli/cmdline.h"
#include "cli/console.h"

// fwload-cli's commands, one unit each. Each returns the exit code.
namespace cli {

int Inspect(const CommandLine& line, Console& console);
int Printers(const CommandLine& line, Console& console);
int Send(const CommandLine& line, Console& console);
int History(const CommandLine& line, Console& console);

// Main of fwload-cli: the arguments after the program's name.
int Main(int argc, char** argv);

}  // namespace cli
