// Finding a program on PATH on Windows: each directory in turn, the name as given and then with
// each extension of PATHEXT, as the command prompt does, with two exceptions:
// - only .exe and .com files are taken. CreateProcessW hands a .bat or .cmd file to cmd.exe,
//   which parses the command line again by its own rules: a folder or option value holding
//   "&" or "|" would then run commands. Other PATHEXT entries (.vbs, .py) it cannot start at all.
// - the Microsoft Store's aliases (in %LOCALAPPDATA%\Microsoft\WindowsApps) are passed over: where
//   Python is not installed, python.exe there opens the Store or exits with 9009.
#include <windows.h>

#include <algorithm>
#include <cwctype>
#include <filesystem>
#include <string_view>
#include <vector>

#include "tessel_installer/platform/environment.hpp"
#include "tessel_installer/platform/process.hpp"
#include "tessel_installer/platform/windows_text.hpp"

namespace tessel_installer::platform {
namespace {

namespace fs = std::filesystem;

std::vector<std::wstring> split(const std::wstring& text) {
    std::vector<std::wstring> parts;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = text.find(L';', start);
        std::wstring part = text.substr(start, end == std::wstring::npos ? end : end - start);
        // PATH entries may be quoted to hold a ';'.
        part.erase(std::remove(part.begin(), part.end(), L'"'), part.end());
        if (!part.empty()) parts.push_back(part);
        if (end == std::wstring::npos) break;
        start = end + 1;
    }
    return parts;
}

std::wstring lower(std::wstring text) {
    for (auto& c : text) c = static_cast<wchar_t>(std::towlower(c));
    return text;
}

std::wstring wide_env(const char* name) { return widen(environment_variable(name).value_or("")); }

std::string utf8(const fs::path& path) {
    const auto text = path.u8string();
    return std::string(text.begin(), text.end());
}

bool startable(const fs::path& file) {
    const std::wstring ext = lower(file.extension().wstring());
    return ext == L".exe" || ext == L".com";
}

bool is_store_alias_folder(const fs::path& dir) {
    // The folder's last two components, whatever drive or profile it sits under.
    return lower(dir.filename().wstring()) == L"windowsapps" &&
           lower(dir.parent_path().filename().wstring()) == L"microsoft";
}

}  // namespace

std::optional<std::string> find_on_path(const std::string& name, PathSearchNotes* notes) {
    if (name.empty() || name.find_first_of("/\\:") != std::string::npos) return std::nullopt;
    const fs::path base(std::u8string(name.begin(), name.end()));
    std::vector<std::wstring> extensions{L""};
    const std::wstring pathext = wide_env("PATHEXT");
    for (auto& ext : split(pathext.empty() ? L".COM;.EXE;.BAT;.CMD" : pathext)) {
        extensions.push_back(ext);
    }
    for (const auto& dir : split(wide_env("PATH"))) {
        for (const auto& ext : extensions) {
            fs::path candidate = fs::path(dir) / base;
            candidate += ext;
            std::error_code ec;
            if (!fs::is_regular_file(candidate, ec)) continue;
            fs::path absolute = fs::absolute(candidate, ec).lexically_normal();
            if (ec) continue;
            // The name as the folder spells it ("python.exe", not "python.EXE" from PATHEXT).
            WIN32_FIND_DATAW found{};
            if (HANDLE h = FindFirstFileW(absolute.c_str(), &found); h != INVALID_HANDLE_VALUE) {
                FindClose(h);
                absolute.replace_filename(found.cFileName);
            }
            if (!startable(absolute)) {
                if (notes) notes->not_started.push_back(utf8(absolute));
                continue;
            }
            if (is_store_alias_folder(absolute.parent_path())) {
                if (notes) notes->store_aliases.push_back(utf8(absolute));
                continue;
            }
            return utf8(absolute);
        }
    }
    return std::nullopt;
}

}  // namespace tessel_installer::platform
