// Validation of the facts against the requirements, and the report of check-requirements.
#include <algorithm>
#include <string>

#include "tessel_installer/constants.hpp"
#include "tessel_installer/errors.hpp"
#include "tessel_installer/platform/environment.hpp"
#include "tessel_installer/preflight.hpp"
#include "tessel_installer/pyenv.hpp"
#include "tessel_installer/terminal_text.hpp"
#include "tessel_installer/utils/hostcheck/host_facts.hpp"
#include "tessel_installer/utils/hostcheck/hostcheck.hpp"
#include "tessel_installer/utils/termwrite/termwrite.hpp"

namespace tessel_installer::hostcheck {
namespace {

pkgkit::Version bound(std::string_view text) {
    auto version = pkgkit::parse_version(text);
    if (!version) throw RuntimeError("invalid interpreter version bound: " + std::string(text));
    return *version;
}

}  // namespace

std::vector<std::string> validate_hostcheck(const SystemInfo& info,
                                            const pkgkit::Version& python_version_code) {
    std::vector<std::string> errors;
    // Both bounds are accepted; only major and minor take part, so 3.13.9 passes a 3.13 bound.
    if (python_version_code < bound(constants::MIN_PYTHON_VERSION) ||
        python_version_code > bound(constants::MAX_PYTHON_VERSION)) {
        errors.emplace_back("python_version");
    }
    if (info.system_bit != constants::REQUIRED_BITNESS) errors.emplace_back("system_bit");
    return errors;
}

std::vector<std::string> validate_hostcheck(const SystemInfo& info) {
    return validate_hostcheck(info, get_python_version_code());
}

int _print_report(const SystemInfo& info, const std::vector<std::string>& errors) {
    auto mark = [&errors](std::string_view key) {
        return std::find(errors.begin(), errors.end(), key) != errors.end() ? std::string(" (!)")
                                                                            : std::string();
    };
    using termwrite::print_message;
    // Every fact was read from the system, a release file or the interpreter: shown, not obeyed.
    using text::terminal_safe;
    print_message("Operating system: " + terminal_safe(info.os_system));
    print_message("OS Version: " + terminal_safe(info.os_version));
    if (info.is_linux && info.linux_distro && !info.linux_distro->empty()) {
        print_message("Linux Distribution: " + terminal_safe(*info.linux_distro));
    }
    print_message("Architecture: " + terminal_safe(info.architecture));
    print_message("Python Version: " + terminal_safe(info.python_version) + mark("python_version"));
    print_message("System bit: " + terminal_safe(info.system_bit) + mark("system_bit"));
    print_message("Pip version: " + terminal_safe(info.pip_version));
    // The pre-flight's findings about the environment, one requirement line each (already safe).
    for (const auto& error : errors) {
        if (error.rfind("Environment: ", 0) == 0) print_message(error + " (!)");
    }
    print_message(std::string("\nResult: ") + (errors.empty() ? "Passed" : "Failed"));
    if (errors.empty()) {
        print_message("Your system meets the technical requirements for Tessel Enterprise.");
        return constants::SUCCESS;
    }
    print_message(
        "Your system may not meet the technical requirements for Tessel Enterprise. Please check "
        "the items marked by (!) and try updating the Tessel Installer if something doesn't seem "
        "right.");
    print_message("The most up-to-date requirements are on the Tessel Enterprise docs site.");
    return constants::ERROR;
}

int print_check_results() {
    termwrite::print_message("Verifying system requirements for Tessel Enterprise: \n");
    // One interpreter child gives the record and the version that the validation reads.
    pyenv::InterpreterFacts facts;
    const SystemInfo info = get_system_info(&facts);
    std::vector<std::string> errors =
        validate_hostcheck(info, _python_version_code(facts.major, facts.minor));
    for (auto& finding : pyenv::preflight_findings(
             facts, pyenv::TargetUse::Check,
             [](const char* name) { return platform::environment_variable(name); },
             pyenv::interpreter_path())) {
        errors.push_back(std::move(finding.requirement));
    }
    return _print_report(info, errors);
}

}  // namespace tessel_installer::hostcheck
