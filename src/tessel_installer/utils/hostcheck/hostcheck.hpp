// System requirements: facts about the machine and the target interpreter, their validation and
// the report of check-requirements.
#pragma once

#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "tessel_installer/pyenv.hpp"
#include "tessel_installer/utils/pkgkit/version.hpp"

namespace tessel_installer::hostcheck {

struct OsInfo {
    std::string os_system;
    std::string os_version;
    std::optional<std::string> linux_distro;
    bool is_linux = false;
};

struct SystemInfo {
    std::string os_system;
    std::string os_version;
    std::optional<std::string> linux_distro;
    std::string architecture;
    std::string python_version;
    std::string system_bit;
    std::string pip_version;
    std::string platform_tag;
    std::string processor;
    bool is_linux = false;
};

OsInfo get_os_info();
std::string get_architecture();
// The interpreter's major and minor numbers as a version: 3.12.1 gives 3.12.
pkgkit::Version get_python_version_code();
std::string get_current_platform_tag();
std::set<std::string> get_user_supported_tags();
// Every fact of the record, the system's first, then the interpreter's from one interpreter child,
// which are also left in facts_read when given (the report validates their version numbers).
// Throws RuntimeError when the environment has no pip.
SystemInfo get_system_info(pyenv::InterpreterFacts* facts_read = nullptr);

// Keys of the failed requirements, in order: "python_version", "system_bit". The interpreter's
// version is queried afresh.
std::vector<std::string> validate_hostcheck(const SystemInfo& info);
// The same with the interpreter's version already known (the report passes the one it read).
std::vector<std::string> validate_hostcheck(const SystemInfo& info,
                                            const pkgkit::Version& python_version_code);

// Prints the report; returns the exit status, 0 when every requirement is met, else 1.
int print_check_results();
// The same facts and result as one JSON document on standard output, and the same status. A fact
// that cannot be gathered is an error raised to the caller, with nothing written.
int print_check_results_json();

// ---- Pieces of the above, pure, reachable from tests ----------------------------------------

// The distribution name from the text of the release files: the first PRETTY_NAME line with a
// non-empty value, double-quoted, single-quoted or bare. None when there is no such line.
std::optional<std::string> _find_pretty_name(std::string_view release_text);
// The part of a version text before its first "." (the whole text when it has none).
std::string _major_component(std::string_view version);
// "macosx-11.0-arm64" gives "macosx_11_0_arm64".
std::string _platform_tag_from(std::string_view build_platform);
pkgkit::Version _python_version_code(int major, int minor);
// "64-bit" when the interpreter's largest index exceeds 2 to the 32nd power, else "32-bit".
std::string _system_bit(unsigned long long maxsize);
// The record from facts already gathered. Throws RuntimeError when the facts show no pip.
SystemInfo _system_info_from(const OsInfo& os, const std::string& architecture,
                             const pyenv::InterpreterFacts& facts, const std::string& processor);
// Prints the report after its heading (the facts, the result and the verdict) and returns the
// exit status.
int _print_report(const SystemInfo& info, const std::vector<std::string>& errors);

}  // namespace tessel_installer::hostcheck
