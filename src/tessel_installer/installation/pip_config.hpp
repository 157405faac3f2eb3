// pip's own settings as pip would read them, for the parts of this program that must agree with
// pip without asking it (the catalogue request takes pip's certificate bundle and proxy): the
// configuration files in pip's order and its PIP_* variables, which take precedence over them.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tessel_installer::installer {

// Looks up an environment variable: its value, or none when it is not set.
using EnvironmentLookup = std::function<std::optional<std::string>(const char*)>;

// Where pip's configuration files are, for a given environment.
struct PipConfigPlaces {
    EnvironmentLookup environment;
    std::string platform;     // "linux", "darwin" or "win32"
    std::string home;         // the user's home folder
    std::string site_prefix;  // sys.prefix of the target interpreter (a venv's own folder)
};

// The configuration files pip reads, lowest precedence first: the global ones, the user's (unless
// PIP_CONFIG_FILE names a file that exists), the site's (in sys.prefix), then PIP_CONFIG_FILE's.
// None at all when PIP_CONFIG_FILE is the null device, which is how pip is told to read none.
std::vector<std::string> _pip_config_files(const PipConfigPlaces& places);

// One setting as pip would take it: the value and where it came from ("PIP_CERT", or the file).
struct PipSetting {
    std::string value;
    std::string source;
};

// A file's value for `key` (pip's spelling: "cert", "proxy"), from its [global] section and then
// the section of `command`, which wins; names are compared as pip does (case, '_' for '-').
// Continuation lines are joined with a line break, as Python's configparser does.
std::optional<std::string> _pip_config_value(std::string_view file_text, std::string_view key,
                                             std::string_view command);

// The setting pip would use for `key` in `command`: the PIP_ variable when it is set and not
// empty, else the last file that has it. `read_file` reads a file (none when it cannot).
std::optional<PipSetting> _pip_setting(
    const PipConfigPlaces& places, std::string_view key, std::string_view command,
    const std::function<std::optional<std::string>(const std::string&)>& read_file);

// The places of this process and the target interpreter, without starting it: sys.prefix is taken
// as the folder above the interpreter's bin (Scripts) folder, which is what it is for a venv.
PipConfigPlaces _current_pip_config_places();

// A file's whole text, or none when it cannot be read.
std::optional<std::string> _read_text_file(const std::string& path);

}  // namespace tessel_installer::installer
