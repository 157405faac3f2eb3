// The program's inputs from its environment as UTF-8 text, the encoding of every text inside it.
// On Windows the C runtime's argv and getenv are in the ANSI code page, which loses whatever that
// page cannot hold (a user folder named in another script, say); the wide forms are read instead.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace tessel_installer::platform {

// The value of an environment variable, or none when it is not set.
std::optional<std::string> environment_variable(const char* name);

// The command-line arguments after the program's name.
std::vector<std::string> command_line_arguments(int argc, char** argv);

}  // namespace tessel_installer::platform
