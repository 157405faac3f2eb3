// The pre-flight of the target environment: what would make every pip child of an action fail
// the same way, found from the interpreter's facts before any child starts.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "tessel_installer/pyenv.hpp"

namespace tessel_installer::pyenv {

// What the environment is used for; pip applies each refusal to some of its commands only.
enum class TargetUse { Check, Install, Uninstall, Download };

// One finding: the requirement line of the check report and the error line of an action, both
// rendered for the terminal; and for a JSON document what was found and what is required, as
// plain text.
struct PreflightFinding {
    std::string requirement;
    std::string action_error;
    std::string found{};
    std::string required{};
};

// The findings for `use`, in a fixed order: no pip, an externally managed interpreter outside a
// venv (unless PIP_BREAK_SYSTEM_PACKAGES is set, pip's own opt-out), PIP_REQUIRE_VIRTUALENV
// outside a venv, a site-packages that cannot be written (install and uninstall, unless
// PIP_USER puts packages in the user's site). The check report leaves a missing pip to its own
// line. `environment` looks up a variable; `python` is the interpreter's path as shown.
std::vector<PreflightFinding> preflight_findings(
    const InterpreterFacts& facts, TargetUse use,
    const std::function<std::optional<std::string>(const char*)>& environment,
    const std::string& python);

// For an action: throws RuntimeError with the first finding's error line; otherwise returns the
// environment's prefix (sys.prefix). One interpreter child.
std::string check_target_environment(TargetUse use);

}  // namespace tessel_installer::pyenv
