// The pre-flight of the target environment: which findings each use gets.
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "test_support.hpp"
#include "tessel_installer/preflight.hpp"

namespace tessel_installer::pyenv {
namespace {

TEST(Preflight, FindingsPerUse) {
    struct Case {
        const char* what;
        bool managed, venv, writable, pip;
        std::map<std::string, std::string> variables;
        TargetUse use;
        std::vector<std::string> starts;  // each finding's action line starts so
    };
    const std::string managed = "the Python environment of /py is externally managed";
    const std::string require = "PIP_REQUIRE_VIRTUALENV is set and /py";
    const std::string unwritable = "the site-packages folder /site of /py cannot be written";
    const std::string no_pip = "pip is not installed in the target Python environment (/py)";
    const std::vector<Case> cases{
        {"a healthy venv", true, true, true, true, {{"PIP_REQUIRE_VIRTUALENV", "1"}},
         TargetUse::Install, {}},
        {"externally managed, install", true, false, true, true, {}, TargetUse::Install, {managed}},
        {"externally managed, uninstall", true, false, true, true, {}, TargetUse::Uninstall,
         {managed}},
        {"externally managed, download: pip downloads", true, false, true, true, {},
         TargetUse::Download, {}},
        {"pip's own opt-out", true, false, true, true, {{"PIP_BREAK_SYSTEM_PACKAGES", "yes"}},
         TargetUse::Install, {}},
        {"PIP_REQUIRE_VIRTUALENV, download", false, false, true, true,
         {{"PIP_REQUIRE_VIRTUALENV", "true"}}, TargetUse::Download, {require}},
        {"PIP_REQUIRE_VIRTUALENV=0", false, false, true, true, {{"PIP_REQUIRE_VIRTUALENV", "0"}},
         TargetUse::Install, {}},
        {"unwritable, install", false, false, false, true, {}, TargetUse::Install, {unwritable}},
        {"unwritable, download", false, false, false, true, {}, TargetUse::Download, {}},
        {"unwritable, PIP_USER", false, false, false, true, {{"PIP_USER", "1"}},
         TargetUse::Install, {}},
        {"no pip first", true, false, true, false, {}, TargetUse::Install, {no_pip, managed}},
        {"no pip is the check's own line", false, true, true, false, {}, TargetUse::Check, {}},
    };
    for (const Case& c : cases) {
        InterpreterFacts facts;
        facts.externally_managed = c.managed;
        facts.in_virtual_env = c.venv;
        facts.purelib_writable = c.writable;
        facts.pip_version = c.pip ? "23.0.1" : "";
        facts.stdlib_path = "/std";
        facts.purelib_path = "/site";
        const auto findings =
            preflight_findings(facts, c.use, tessel_test::lookup_in(c.variables), "/py");
        ASSERT_EQ(findings.size(), c.starts.size()) << c.what;
        for (std::size_t i = 0; i < findings.size(); ++i) {
            EXPECT_EQ(findings[i].action_error.rfind(c.starts[i], 0), 0u)
                << c.what << ": " << findings[i].action_error;
            if (i > 0 || c.pip) {
                EXPECT_NE(findings[i].action_error.find("create a virtual environment: "),
                          std::string::npos)
                    << c.what;
            }
        }
    }
}

}  // namespace
}  // namespace tessel_installer::pyenv
