#include "tessel_installer/cli/program_version.hpp"

#include <CLI/CLI.hpp>

#include "tessel_installer/config.hpp"

namespace tessel_installer::frontdoor {

namespace {
constexpr const char* kName = "--version";
}

void declare_program_version(CLI::App& top) {
    top.add_flag(kName)->description("Show the program's version and exit.");
}

bool program_version_requested(const CLI::App& top) {
    const CLI::Option* option = top.get_option_no_throw(kName);
    return option != nullptr && option->count() > 0;
}

std::string program_version_line() {
    return "tessel-installer " + std::string(config::PROGRAM_VERSION) + "\n";
}

}  // namespace tessel_installer::frontdoor
