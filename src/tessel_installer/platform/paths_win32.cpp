// Per-user directories and the executable's directory on Windows.
#include "tessel_installer/platform/paths.hpp"

// windows.h comes first: the other two rely on its definitions.
#include <windows.h>

#include <knownfolders.h>
#include <shlobj.h>

#include <string>
#include <vector>

#include "tessel_installer/errors.hpp"
#include "tessel_installer/platform/environment.hpp"
#include "tessel_installer/platform/windows_text.hpp"

namespace tessel_installer::platform {
namespace {

// Our texts are UTF-8; paths on Windows are UTF-16.
std::filesystem::path from_utf8(const std::string& text) {
    return std::filesystem::path(
        std::u8string(reinterpret_cast<const char8_t*>(text.data()), text.size()));
}

// The local (non-roaming) application data folder of the user, e.g. C:\Users\NAME\AppData\Local:
// LOCALAPPDATA when it is set (so a user or a test can move it), else the shell's known folder.
std::filesystem::path local_app_data() {
    if (const auto value = environment_variable("LOCALAPPDATA"); value && !value->empty()) {
        return from_utf8(*value);
    }
    PWSTR raw = nullptr;
    const HRESULT result =
        SHGetKnownFolderPath(FOLDERID_LocalAppData, KF_FLAG_DONT_VERIFY, nullptr, &raw);
    if (FAILED(result) || raw == nullptr) {
        if (raw != nullptr) CoTaskMemFree(raw);
        throw OSError("Cannot determine the local application data folder (HRESULT " +
                      std::to_string(static_cast<long>(result)) + ")");
    }
    std::filesystem::path folder(raw);
    CoTaskMemFree(raw);
    return folder;
}

}  // namespace

std::filesystem::path user_data_dir(const std::string& app_name, const std::string& app_author) {
    std::filesystem::path dir = local_app_data();
    // Applications live below their author's folder; without an author the name stands in.
    if (!app_name.empty()) {
        dir /= from_utf8(app_author.empty() ? app_name : app_author);
        dir /= from_utf8(app_name);
    }
    return dir;
}

std::filesystem::path executable_dir() {
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD length =
            GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) {
            throw OSError("Cannot determine the path of the running program: " +
                          windows_error_text(GetLastError()));
        }
        if (length < buffer.size()) {
            buffer.resize(length);
            break;
        }
        // Truncated: the path is longer than the buffer.
        buffer.resize(buffer.size() * 2);
    }
    const std::filesystem::path exe(std::wstring(buffer.begin(), buffer.end()));
    // Resolve links and junctions on the way, as on the other platforms.
    std::error_code error;
    const auto resolved = std::filesystem::canonical(exe, error);
    return (error ? exe : resolved).parent_path();
}

}  // namespace tessel_installer::platform
