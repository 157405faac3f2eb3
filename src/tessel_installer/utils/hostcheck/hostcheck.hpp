// System requirements: facts about the machine and the target interpreter, their validation and
// the report of check-requirements.
#pragma once

#include <optional>
#include <set>
#include <string>
#include <vector>

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
std::string get_current_platform_tag();
std::set<std::string> get_user_supported_tags();
SystemInfo get_system_info();

// Keys of the failed requirements, in order: "python_version", "system_bit".
std::vector<std::string> validate_hostcheck(const SystemInfo& info);

// Prints the report; returns the exit status, 0 when every requirement is met, else 1.
int print_check_results();

}  // namespace tessel_installer::hostcheck
