// The program's own version, asked for with --version before any action. An action's
// -v/--version is a different option: the version of the package to act on.
#pragma once

#include <string>

namespace CLI {
class App;
}

namespace tessel_installer::frontdoor {

// Declares --version on the top-level parser, after its help option.
void declare_program_version(CLI::App& top);

// Whether the last parse of `top` met --version.
bool program_version_requested(const CLI::App& top);

// "tessel-installer VERSION" and a line break: what --version prints.
std::string program_version_line();

}  // namespace tessel_installer::frontdoor
