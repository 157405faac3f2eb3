#include <windows.h>

#include <shellapi.h>

#include "tessel_installer/platform/environment.hpp"
#include "tessel_installer/platform/windows_text.hpp"

namespace tessel_installer::platform {

std::optional<std::string> environment_variable(const char* name) {
    const std::wstring wide_name = widen(name);
    DWORD size = GetEnvironmentVariableW(wide_name.c_str(), nullptr, 0);
    if (size == 0) {
        if (GetLastError() == ERROR_ENVVAR_NOT_FOUND) return std::nullopt;
        return std::string();
    }
    // The value may change between the two calls (another thread): retry with the new size.
    for (;;) {
        std::wstring value(size, L'\0');
        const DWORD got = GetEnvironmentVariableW(wide_name.c_str(), value.data(), size);
        if (got == 0) {
            if (GetLastError() == ERROR_ENVVAR_NOT_FOUND) return std::nullopt;
            return std::string();
        }
        if (got < size) {
            value.resize(got);
            return narrow(value);
        }
        size = got;
    }
}

std::vector<std::string> command_line_arguments(int argc, char** argv) {
    int count = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (wide == nullptr) {
        // Without the wide command line the runtime's own split is the best there is.
        std::vector<std::string> arguments;
        for (int k = 1; k < argc; ++k) arguments.emplace_back(argv[k]);
        return arguments;
    }
    std::vector<std::string> arguments;
    for (int k = 1; k < count; ++k) arguments.push_back(narrow(wide[k]));
    LocalFree(wide);
    return arguments;
}

}  // namespace tessel_installer::platform
