// Host facts on Windows: the version from the kernel (the manifest-dependent GetVersionEx would
// report 6.2 on newer systems), the processor description from the environment.
#include <windows.h>

#include <cstdlib>
#include <string>

#include "tessel_installer/utils/hostcheck/host_facts.hpp"
#include "tessel_installer/utils/hostcheck/hostcheck.hpp"

namespace tessel_installer::hostcheck {
namespace {

std::string windows_version() {
    using RtlGetVersionFn = LONG(WINAPI*)(PRTL_OSVERSIONINFOW);
    RTL_OSVERSIONINFOW info{};
    info.dwOSVersionInfoSize = sizeof info;
    if (HMODULE ntdll = GetModuleHandleW(L"ntdll.dll")) {
        auto fn = reinterpret_cast<RtlGetVersionFn>(
            reinterpret_cast<void*>(GetProcAddress(ntdll, "RtlGetVersion")));
        if (fn && fn(&info) == 0) {
            return std::to_string(info.dwMajorVersion) + "." + std::to_string(info.dwMinorVersion) +
                   "." + std::to_string(info.dwBuildNumber);
        }
    }
    return {};
}

}  // namespace

OsInfo get_os_info() {
    OsInfo info;
    info.os_system = "Windows";
    info.os_version = _major_component(windows_version());
    return info;
}

std::string _architecture(const std::string& build_platform) { return build_platform; }

std::string _processor() {
    const char* id = std::getenv("PROCESSOR_IDENTIFIER");
    return id ? std::string(id) : std::string();
}

}  // namespace tessel_installer::hostcheck
