// The facts of the requirements check. The interpreter's facts come from one interpreter child per
// public operation, never one child per fact.
#include <string>

#include "tessel_installer/errors.hpp"
#include "tessel_installer/utils/hostcheck/host_facts.hpp"
#include "tessel_installer/utils/hostcheck/hostcheck.hpp"

namespace tessel_installer::hostcheck {

std::string get_architecture() {
#if defined(_WIN32)
    return _architecture(pyenv::interpreter_facts().build_platform);
#else
    return _architecture(std::string());  // the kernel's machine name; no interpreter needed
#endif
}

pkgkit::Version get_python_version_code() {
    const pyenv::InterpreterFacts facts = pyenv::interpreter_facts();
    return _python_version_code(facts.major, facts.minor);
}

std::string get_current_platform_tag() {
    return _platform_tag_from(pyenv::interpreter_facts().build_platform);
}

std::set<std::string> get_user_supported_tags() {
    const std::vector<std::string> tags = pyenv::supported_platform_tags();
    return {tags.begin(), tags.end()};
}

SystemInfo get_system_info(pyenv::InterpreterFacts* facts_read) {
    const OsInfo os = get_os_info();
    const pyenv::InterpreterFacts facts = pyenv::interpreter_facts();
    if (facts_read != nullptr) *facts_read = facts;
    return _system_info_from(os, _architecture(facts.build_platform), facts, _processor());
}

std::string _platform_tag_from(std::string_view build_platform) {
    std::string tag(build_platform);
    for (char& c : tag) {
        if (c == '-' || c == '.') c = '_';
    }
    return tag;
}

pkgkit::Version _python_version_code(int major, int minor) {
    const std::string text = std::to_string(major) + "." + std::to_string(minor);
    auto version = pkgkit::parse_version(text);
    if (!version) throw RuntimeError("the interpreter reported an unreadable version: " + text);
    return *version;
}

std::string _system_bit(unsigned long long maxsize) {
    return maxsize > 4294967296ULL ? "64-bit" : "32-bit";
}

SystemInfo _system_info_from(const OsInfo& os, const std::string& architecture,
                             const pyenv::InterpreterFacts& facts, const std::string& processor) {
    // A fact the environment cannot give is an error, never a stand-in value.
    if (facts.pip_version.empty()) {
        throw RuntimeError("pip is not installed in the target Python environment (" +
                           pyenv::interpreter_path() + ")");
    }
    return {.os_system = os.os_system,
            .os_version = os.os_version,
            .linux_distro = os.linux_distro,
            .architecture = architecture,
            .python_version = facts.version_text,
            .system_bit = _system_bit(facts.maxsize),
            .pip_version = facts.pip_version,
            .platform_tag = _platform_tag_from(facts.build_platform),
            .processor = processor,
            .is_linux = os.is_linux};
}

}  // namespace tessel_installer::hostcheck
