// Host facts on Linux, macOS and other POSIX systems: the kernel's own names from uname(2), the
// product version from sw_vers on macOS, and the release files on Linux.
#include <sys/utsname.h>

#include <algorithm>
#include <cctype>
#include <string>

#include "tessel_installer/errors.hpp"
#include "tessel_installer/platform/process.hpp"
#include "tessel_installer/utils/hostcheck/host_facts.hpp"
#include "tessel_installer/utils/hostcheck/hostcheck.hpp"

namespace tessel_installer::hostcheck {
namespace {

struct utsname kernel_names() {
    struct utsname names {};
    if (::uname(&names) != 0) throw OSError("cannot read the operating system's names (uname)");
    return names;
}

std::string strip(std::string text) {
    auto blank = [](unsigned char c) { return std::isspace(c) != 0; };
    text.erase(text.begin(), std::find_if_not(text.begin(), text.end(), blank));
    text.erase(std::find_if_not(text.rbegin(), text.rend(), blank).base(), text.end());
    return text;
}

#if defined(__APPLE__)
std::string macos_product_version() {
    auto done = platform::run({"sw_vers", "-productVersion"},
                              {platform::Stream::Capture, platform::Stream::Capture});
    if (done.returncode != 0) {
        throw RuntimeError("sw_vers -productVersion exited with status " +
                           std::to_string(done.returncode) + ": " + strip(done.err));
    }
    return strip(done.out);
}
#endif

#if defined(__linux__)
std::optional<std::string> linux_distribution() {
    // The one command that goes through a shell: the shell expands the release files' names.
    try {
        auto done = platform::run({"/bin/sh", "-c", "cat /etc/*-release"},
                                  {platform::Stream::Capture, platform::Stream::Capture});
        return _find_pretty_name(strip(done.out));
    } catch (const OSError&) {
        return std::nullopt;  // no distribution name is never an error
    }
}
#endif

}  // namespace

OsInfo get_os_info() {
    const struct utsname names = kernel_names();
    OsInfo info;
    info.os_system = names.sysname;
    std::string version = names.version;
#if defined(__APPLE__)
    version = macos_product_version();
    info.os_system = "macOS";
#elif defined(__linux__)
    info.is_linux = true;
    version = names.release;
    info.linux_distro = linux_distribution();
#endif
    info.os_version = _major_component(version);
    return info;
}

std::string _architecture(const std::string&) {
    std::string machine = kernel_names().machine;
    std::transform(machine.begin(), machine.end(), machine.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return strip(machine);
}

std::string _processor() {
#if defined(__APPLE__)
    // What the system's uname -p reports on the two kinds of Mac.
    const std::string machine = kernel_names().machine;
    if (machine == "arm64") return "arm";
    if (machine == "x86_64") return "i386";
    return machine;
#else
    return {};  // Linux reports no processor description apart from the machine name
#endif
}

}  // namespace tessel_installer::hostcheck
