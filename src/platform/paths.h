#pragma once

#include <filesystem>

// Where the program keeps its files on this platform.
namespace platform {

// $XDG_CONFIG_HOME/fwload/FWLOAD.INI, else ~/.config/fwload/FWLOAD.INI.
std::filesystem::path SettingsFilePath();

// $XDG_DATA_HOME/fwload, else ~/.local/share/fwload: the download log and icon files.
std::filesystem::path DataDir();

// The folder of the running executable (the help file and the access library lie there).
std::filesystem::path ProgramDir();

// The program's private temporary folder: made once per run with mode 0700 inside $TMPDIR
// (else /tmp), so that temporary names and relative data-file names only ever meet the program's
// own files. Empty when it cannot be made.
std::filesystem::path TempDir();

// Removes the private temporary folder with everything in it (at exit).
void RemoveTempDir();

}  // namespace platform
