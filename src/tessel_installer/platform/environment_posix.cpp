#include <cstdlib>

#include "tessel_installer/platform/environment.hpp"

namespace tessel_installer::platform {

std::optional<std::string> environment_variable(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr) return std::nullopt;
    return std::string(value);
}

std::vector<std::string> command_line_arguments(int argc, char** argv) {
    std::vector<std::string> arguments;
    for (int k = 1; k < argc; ++k) arguments.emplace_back(argv[k]);
    return arguments;
}

}  // namespace tessel_installer::platform
