#include <windows.h>

#include <shellapi.h>

#include "tessel_installer/platform/environment.hpp"
#include "tessel_installer/platform/windows_text.hpp"

namespace tessel_installer::platform {

std::optional<std::string> environment_variable(const char* name) {
    const std::wstring wide_name = widen(name);
    // The first call asks for the size. The value may change between two calls (another
    // thread): retry with the new size.
    for (std::wstring value;;) {
        const auto size = static_cast<DWORD>(value.size());
        const DWORD got =
            GetEnvironmentVariableW(wide_name.c_str(), size ? value.data() : nullptr, size);
        if (got == 0) {
            if (GetLastError() == ERROR_ENVVAR_NOT_FOUND) return std::nullopt;
            return std::string();
        }
        if (got < size) {
            value.resize(got);
            return narrow(value);
        }
        value.assign(got, L'\0');
    }
}

std::vector<std::string> command_line_arguments(int argc, char** argv) {
    int count = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
    std::vector<std::string> arguments;
    if (wide == nullptr) {
        // Without the wide command line the runtime's own split is the best there is.
        for (int k = 1; k < argc; ++k) arguments.emplace_back(argv[k]);
        return arguments;
    }
    for (int k = 1; k < count; ++k) arguments.push_back(narrow(wide[k]));
    LocalFree(wide);
    return arguments;
}

}  // namespace tessel_installer::platform
