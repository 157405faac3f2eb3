// Finding a program on PATH on Windows: each directory in turn, the name as given and then with
// each extension of PATHEXT, as the command prompt does.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <cstdlib>
#include <filesystem>
#include <string_view>
#include <vector>

#include "tessel_installer/platform/process.hpp"

namespace tessel_installer::platform {
namespace {

std::wstring env(const wchar_t* name) {
    DWORD n = GetEnvironmentVariableW(name, nullptr, 0);
    if (n == 0) return {};
    std::wstring value(n, L'\0');
    n = GetEnvironmentVariableW(name, value.data(), n);
    value.resize(n);
    return value;
}

std::vector<std::wstring> split(const std::wstring& text) {
    std::vector<std::wstring> parts;
    std::size_t start = 0;
    for (;;) {
        std::size_t end = text.find(L';', start);
        std::wstring part = text.substr(start, end == std::wstring::npos ? end : end - start);
        if (!part.empty()) parts.push_back(part);
        if (end == std::wstring::npos) break;
        start = end + 1;
    }
    return parts;
}

}  // namespace

std::optional<std::string> find_on_path(const std::string& name) {
    namespace fs = std::filesystem;
    if (name.empty() || name.find_first_of("/\\:") != std::string::npos) return std::nullopt;
    const std::u8string utf8(name.begin(), name.end());
    fs::path base(utf8);
    std::vector<std::wstring> extensions{L""};
    for (auto& ext : split(env(L"PATHEXT").empty() ? L".COM;.EXE;.BAT;.CMD" : env(L"PATHEXT"))) {
        extensions.push_back(ext);
    }
    for (const auto& dir : split(env(L"PATH"))) {
        for (const auto& ext : extensions) {
            fs::path candidate = fs::path(dir) / base;
            candidate += ext;
            std::error_code ec;
            if (fs::is_regular_file(candidate, ec)) {
                fs::path absolute = fs::absolute(candidate, ec);
                if (!ec) {
                    auto text = absolute.lexically_normal().u8string();
                    return std::string(text.begin(), text.end());
                }
            }
        }
    }
    return std::nullopt;
}

}  // namespace tessel_installer::platform
