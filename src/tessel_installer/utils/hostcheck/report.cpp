// Validation of the facts against the requirements, and the report of check-requirements.
#include <algorithm>
#include <charconv>
#include <string>

#include "tessel_installer/constants.hpp"
#include "tessel_installer/errors.hpp"
#include "tessel_installer/json_document.hpp"
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

// What the check found: the record, the failed requirements' keys, and the environment's
// findings, whose report lines follow the keys in `errors`.
struct CheckFindings {
    SystemInfo info;
    std::vector<std::string> errors;
    std::vector<pyenv::PreflightFinding> environment;
};

CheckFindings _gather_check() {
    // One interpreter child gives the record and the version that the validation reads.
    pyenv::InterpreterFacts facts;
    CheckFindings found{get_system_info(&facts), {}, {}};
    found.errors = validate_hostcheck(found.info, _python_version_code(facts.major, facts.minor));
    found.environment = pyenv::preflight_findings(
        facts, pyenv::TargetUse::Check,
        [](const char* name) { return platform::environment_variable(name); },
        pyenv::interpreter_path());
    for (const auto& finding : found.environment) found.errors.push_back(finding.requirement);
    return found;
}

// The accepted interpreters as a version specifier. Only major and minor are compared, so the
// upper bound admits every micro release of its minor one: 3.13 reads "<3.14".
std::string _python_requirement() {
    const std::string_view max = constants::MAX_PYTHON_VERSION;
    const std::string minimum = ">=" + std::string(constants::MIN_PYTHON_VERSION) + ",";
    const auto dot = max.find('.');
    int minor = 0;
    if (dot != std::string_view::npos) {
        const char* const last = max.data() + max.size();
        const auto [end, error] = std::from_chars(max.data() + dot + 1, last, minor);
        if (error == std::errc() && end == last) {
            return minimum + "<" + std::string(max.substr(0, dot)) + "." +
                   std::to_string(minor + 1);
        }
    }
    return minimum + "<=" + std::string(max);
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
    const CheckFindings found = _gather_check();
    return _print_report(found.info, found.errors);
}

int print_check_results_json() {
    const CheckFindings found = _gather_check();
    const SystemInfo& info = found.info;
    json_document::Document document = json_document::start_document();
    // One fact per line of the text report, in its order; the values as found, unrendered.
    // A fact without a requirement has null for it and for whether it passed.
    auto& facts = document["facts"] = json_document::Document::array();
    const auto fact = [&facts](const char* name, const std::string& value,
                               json_document::Document requirement = nullptr,
                               json_document::Document passed = nullptr) {
        facts.push_back({{"name", name}, {"value", value}, {"requirement", requirement},
                         {"passed", passed}});
    };
    const auto passed = [&found](std::string_view key) {
        return std::find(found.errors.begin(), found.errors.end(), key) == found.errors.end();
    };
    fact("Operating system", info.os_system);
    fact("OS Version", info.os_version);
    if (info.is_linux && info.linux_distro && !info.linux_distro->empty()) {
        fact("Linux Distribution", *info.linux_distro);
    }
    fact("Architecture", info.architecture);
    fact("Python Version", info.python_version, _python_requirement(), passed("python_version"));
    fact("System bit", info.system_bit, std::string(constants::REQUIRED_BITNESS),
         passed("system_bit"));
    fact("Pip version", info.pip_version);
    for (const auto& finding : found.environment) {
        fact("Environment", finding.found, finding.required, false);
    }
    document["passed"] = found.errors.empty();
    termwrite::print_with_flush(json_document::document_text(document));
    return found.errors.empty() ? constants::SUCCESS : constants::ERROR;
}

}  // namespace tessel_installer::hostcheck
