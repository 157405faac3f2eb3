// pip's configuration files and PIP_* variables, read the way pip reads them.
#include "tessel_installer/installation/pip_config.hpp"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "tessel_installer/platform/environment.hpp"
#include "tessel_installer/pyenv.hpp"

namespace tessel_installer::installer {
namespace {

#if defined(_WIN32)
constexpr const char* kNullDevice = "nul";
#else
constexpr const char* kNullDevice = "/dev/null";
#endif

std::string _non_empty(const EnvironmentLookup& environment, const char* name) {
    std::optional<std::string> value = environment ? environment(name) : std::nullopt;
    return value.value_or(std::string());
}

std::string _join(const std::string& folder, std::string_view leaf, char separator) {
    if (folder.empty()) return std::string(leaf);
    std::string path = folder;
    if (path.back() != '/' && path.back() != '\\') path += separator;
    path += leaf;
    return path;
}

// Names as pip compares them: lower case, '_' read as '-', leading "--" dropped.
std::string _normal_name(std::string_view name) {
    std::string text(name);
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) {
        return c == '_' ? '-' : static_cast<char>(std::tolower(c));
    });
    if (text.rfind("--", 0) == 0) text.erase(0, 2);
    return text;
}

std::string_view _trim(std::string_view text) {
    const std::size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string_view::npos) return {};
    const std::size_t last = text.find_last_not_of(" \t\r");
    return text.substr(first, last - first + 1);
}

bool _exists(const std::string& path) {
    std::error_code error;
    return std::filesystem::exists(std::filesystem::u8path(path), error);
}

}  // namespace

std::vector<std::string> _pip_config_files(const PipConfigPlaces& places) {
    const bool windows = places.platform == "win32";
    const char separator = windows ? '\\' : '/';
    const std::string_view basename = windows ? "pip.ini" : "pip.conf";
    const std::optional<std::string> named =
        places.environment ? places.environment("PIP_CONFIG_FILE") : std::nullopt;
    if (named && (*named == kNullDevice || *named == "/dev/null" ||
                  (windows && _normal_name(*named) == "nul"))) {
        return {};
    }

    std::vector<std::string> files;
    // Global: each of XDG_CONFIG_DIRS (default /etc/xdg) with pip/, then /etc; on macOS the
    // site data folder; on Windows %ProgramData%\pip.
    if (windows) {
        std::string data = _non_empty(places.environment, "ProgramData");
        if (data.empty()) data = _non_empty(places.environment, "ALLUSERSPROFILE");
        if (!data.empty()) files.push_back(_join(_join(data, "pip", separator), basename, separator));
    } else if (places.platform == "darwin") {
        files.push_back(_join("/Library/Application Support/pip", basename, '/'));
    } else {
        std::string dirs = _non_empty(places.environment, "XDG_CONFIG_DIRS");
        if (dirs.empty()) dirs = "/etc/xdg";
        std::size_t start = 0;
        while (start <= dirs.size()) {
            const std::size_t colon = std::min(dirs.find(':', start), dirs.size());
            const std::string dir = dirs.substr(start, colon - start);
            if (!dir.empty()) files.push_back(_join(_join(dir, "pip", '/'), basename, '/'));
            start = colon + 1;
        }
        files.push_back(_join("/etc", basename, '/'));
    }

    // The user's: the legacy file in the home folder, then the per-user configuration folder.
    if (!(named && !named->empty() && _exists(*named))) {
        files.push_back(_join(_join(places.home, windows ? "pip" : ".pip", separator), basename,
                              separator));
        std::string user_dir;
        if (windows) {
            user_dir = _join(_non_empty(places.environment, "APPDATA"), "pip", separator);
        } else if (places.platform == "darwin") {
            const std::string library = _join(places.home, "Library/Application Support", '/');
            user_dir = _join(std::filesystem::is_directory(std::filesystem::u8path(_join(
                                 library, "pip", '/')))
                                 ? library
                                 : _join(places.home, ".config", '/'),
                             "pip", '/');
        } else {
            std::string config_home = _non_empty(places.environment, "XDG_CONFIG_HOME");
            if (config_home.empty()) config_home = _join(places.home, ".config", '/');
            user_dir = _join(config_home, "pip", '/');
        }
        files.push_back(_join(user_dir, basename, separator));
    }

    if (!places.site_prefix.empty()) files.push_back(_join(places.site_prefix, basename, separator));
    if (named && !named->empty()) files.push_back(*named);
    return files;
}

std::optional<std::string> _pip_config_value(std::string_view file_text, std::string_view key,
                                             std::string_view command) {
    const std::string wanted = _normal_name(key);
    std::optional<std::string> from_global;
    std::optional<std::string> from_command;
    std::string section;
    std::optional<std::string>* current = nullptr;  // the value a continuation line extends
    std::istringstream lines{std::string(file_text)};
    for (std::string raw; std::getline(lines, raw);) {
        const std::string_view line = _trim(raw);
        const bool indented = !raw.empty() && (raw.front() == ' ' || raw.front() == '\t');
        if (line.empty() || line.front() == '#' || line.front() == ';') {
            if (line.empty()) current = nullptr;
            continue;
        }
        if (indented && current != nullptr && current->has_value()) {
            **current += '\n';
            **current += line;
            continue;
        }
        current = nullptr;
        if (line.front() == '[' && line.back() == ']') {
            section = std::string(_trim(line.substr(1, line.size() - 2)));
            continue;
        }
        const std::size_t equals = line.find_first_of("=:");
        if (equals == std::string_view::npos) continue;
        if (_normal_name(_trim(line.substr(0, equals))) != wanted) continue;
        const std::string value(_trim(line.substr(equals + 1)));
        if (section == "global") {
            from_global = value;
            current = &from_global;
        } else if (section == command) {
            from_command = value;
            current = &from_command;
        }
    }
    return from_command ? from_command : from_global;
}

std::optional<PipSetting> _pip_setting(
    const PipConfigPlaces& places, std::string_view key, std::string_view command,
    const std::function<std::optional<std::string>(const std::string&)>& read_file) {
    std::string variable = "PIP_" + _normal_name(key);
    std::transform(variable.begin(), variable.end(), variable.begin(), [](unsigned char c) {
        return c == '-' ? '_' : static_cast<char>(std::toupper(c));
    });
    // pip ignores an empty value, wherever it comes from.
    if (std::string value = _non_empty(places.environment, variable.c_str()); !value.empty()) {
        return PipSetting{value, variable};
    }
    std::optional<PipSetting> found;
    for (const std::string& file : _pip_config_files(places)) {
        const std::optional<std::string> text = read_file(file);
        if (!text) continue;
        std::optional<std::string> value = _pip_config_value(*text, key, command);
        if (value && !value->empty()) found = PipSetting{*value, file};
    }
    return found;
}

std::optional<std::string> _read_text_file(const std::string& path) {
    std::error_code error;
    const auto native = std::filesystem::u8path(path);
    if (!std::filesystem::is_regular_file(native, error)) return std::nullopt;
    std::ifstream in(native, std::ios::binary);
    if (!in) return std::nullopt;
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return text;
}

PipConfigPlaces _current_pip_config_places() {
    PipConfigPlaces places;
    places.environment = [](const char* name) { return platform::environment_variable(name); };
#if defined(_WIN32)
    places.platform = "win32";
    places.home = platform::environment_variable("USERPROFILE").value_or(std::string());
#elif defined(__APPLE__)
    places.platform = "darwin";
    places.home = platform::environment_variable("HOME").value_or(std::string());
#else
    places.platform = "linux";
    places.home = platform::environment_variable("HOME").value_or(std::string());
#endif
    try {
        const std::filesystem::path python = std::filesystem::u8path(pyenv::interpreter_path());
        std::filesystem::path prefix = python.parent_path();
        const std::string folder = prefix.filename().string();
        if (folder == "bin" || folder == "Scripts") prefix = prefix.parent_path();
        const std::u8string text = prefix.u8string();
        places.site_prefix.assign(text.begin(), text.end());
    } catch (const std::exception&) {
        // No interpreter: no site file; the interpreter's absence is reported where it matters.
    }
    return places;
}

}  // namespace tessel_installer::installer
