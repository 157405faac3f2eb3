// Per-user directories and the program's own installation directory.
#pragma once

#include <filesystem>
#include <string>

namespace tessel_installer::platform {

// The per-user application data directory, computed (never created):
//   Linux and other XDG systems: $XDG_DATA_HOME/APP (when it is an absolute path), else
//     ~/.local/share/APP
//   macOS: ~/Library/Application Support/APP
//   Windows: %LOCALAPPDATA%\AUTHOR\APP
std::filesystem::path user_data_dir(const std::string& app_name, const std::string& app_author);

// The directory that holds the running executable, absolute with symbolic links resolved.
std::filesystem::path executable_dir();

}  // namespace tessel_installer::platform
