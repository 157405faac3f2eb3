// The pre-flight of the target environment.
#include "tessel_installer/preflight.hpp"

#include <algorithm>
#include <cctype>
#include <utility>

#include "tessel_installer/errors.hpp"
#include "tessel_installer/platform/environment.hpp"
#include "tessel_installer/terminal_text.hpp"

namespace tessel_installer::pyenv {
namespace {

// pip's reading of a yes/no setting ("1", "yes", "true", "on", any case).
bool _truthy(const std::optional<std::string>& value) {
    if (!value) return false;
    std::string text = *value;
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text == "1" || text == "y" || text == "yes" || text == "t" || text == "true" ||
           text == "on";
}

#if defined(_WIN32)
constexpr const char* kMakeVenv =
    "create a virtual environment: python -m venv %USERPROFILE%\\tessel-venv, run "
    "%USERPROFILE%\\tessel-venv\\Scripts\\activate and run tessel-installer again";
#else
constexpr const char* kMakeVenv =
    "create a virtual environment: python3 -m venv ~/tessel-venv && . ~/tessel-venv/bin/activate, "
    "then run tessel-installer again";
#endif

// A finding about the environment: its report line is the plain finding, rendered.
PreflightFinding _environment_finding(std::string found, std::string required,
                                      std::string action_error) {
    return {"Environment: " + text::terminal_safe(found), std::move(action_error), std::move(found),
            std::move(required)};
}

}  // namespace

std::vector<PreflightFinding> preflight_findings(
    const InterpreterFacts& facts, TargetUse use,
    const std::function<std::optional<std::string>(const char*)>& environment,
    const std::string& python) {
    auto variable = [&](const char* name) {
        return environment ? environment(name) : std::optional<std::string>();
    };
    const std::string shown = text::terminal_safe(python);
    std::vector<PreflightFinding> findings;
    if (facts.pip_version.empty() && use != TargetUse::Check) {
        findings.push_back({"", "pip is not installed in the target Python environment (" + shown +
                                    ")"});
    }
    const bool writes = use == TargetUse::Install || use == TargetUse::Uninstall;
    if (!facts.in_virtual_env && facts.externally_managed && use != TargetUse::Download &&
        !_truthy(variable("PIP_BREAK_SYSTEM_PACKAGES"))) {
        findings.push_back(_environment_finding(
            "externally managed (" + facts.stdlib_path +
                "/EXTERNALLY-MANAGED): pip installs nothing into it outside a virtual environment",
            "a virtual environment, or an environment that is not externally managed",
            "the Python environment of " + shown +
                " is externally managed, so pip refuses to change it: " + kMakeVenv));
    }
    if (!facts.in_virtual_env && _truthy(variable("PIP_REQUIRE_VIRTUALENV"))) {
        findings.push_back(_environment_finding(
            "PIP_REQUIRE_VIRTUALENV is set, and the interpreter is not in a virtual environment",
            "a virtual environment while PIP_REQUIRE_VIRTUALENV is set",
            "PIP_REQUIRE_VIRTUALENV is set and " + shown +
                " is not in a virtual environment, so pip refuses to run: " + kMakeVenv));
    }
    if ((writes || use == TargetUse::Check) && !facts.purelib_writable &&
        !_truthy(variable("PIP_USER"))) {
        findings.push_back(_environment_finding(
            facts.purelib_path + " cannot be written", "a site-packages folder that can be written",
            "the site-packages folder " + text::terminal_safe(facts.purelib_path) + " of " + shown +
                " cannot be written: " + kMakeVenv));
    }
    return findings;
}

std::string check_target_environment(TargetUse use) {
    const std::string python = interpreter_path();
    const InterpreterFacts facts = interpreter_facts();
    const auto findings = preflight_findings(
        facts, use, [](const char* name) { return platform::environment_variable(name); }, python);
    if (!findings.empty()) throw RuntimeError(findings.front().action_error);
    return facts.prefix;
}

}  // namespace tessel_installer::pyenv
