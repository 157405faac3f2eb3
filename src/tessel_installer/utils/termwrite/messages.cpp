// Lines, in-place writes and the fixed messages after a run. Everything goes through C stdio on
// standard output, so the animation's in-place writes and whole lines keep their order.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "tessel_installer/constants.hpp"
#include "tessel_installer/errors.hpp"
#include "tessel_installer/utils/termwrite/termwrite.hpp"

namespace tessel_installer::termwrite {
namespace {

// A failed write to the terminal is the caller's problem, not something to swallow here.
[[noreturn]] void raise_write_error() {
    const int error = errno;
    std::clearerr(stdout);
    throw OSError("[Errno " + std::to_string(error) + "] " + std::strerror(error) +
                  ": cannot write to standard output");
}

void write_out(std::string_view text) {
    if (!text.empty() && std::fwrite(text.data(), 1, text.size(), stdout) != text.size()) {
        raise_write_error();
    }
}

}  // namespace

void print_with_flush(std::string_view text) {
    write_out(text);
    if (std::fflush(stdout) != 0) raise_write_error();
}

void print_message(std::string_view message) {
    write_out(message);
    if (std::fputc('\n', stdout) == EOF) raise_write_error();
}

void print_warning_base_connector_package_installed() {
    print_message(
        "\nWarning: In order to use Birch, you'll need to install database-specific packages. "
        "Please "
        "use the `--options` flag to specify your database variants.");
}

void print_additional_dependencies_installed(const std::set<std::string>& additional_dependencies) {
    if (additional_dependencies.empty()) return;
    std::string note = "\n";
    note += constants::ADDITIONAL_DEPS_MESSAGE_PREFIX;
    note += " (";
    bool first = true;
    for (const auto& name : additional_dependencies) {
        if (!first) note += ", ";
        note += name;
        first = false;
    }
    note += ").";
    print_message(note);
}

void print_package_summary(std::string_view action, const PackageStatus& package_status,
                           bool tessel_included) {
    bool all_success = true;
    for (const auto& [package, succeeded] : package_status) {
        if (!succeeded) {
            all_success = false;
            break;
        }
    }
    const auto message = !all_success ? constants::SUMMARY_WARNING_MESSAGE.find(action)
                         : tessel_included
                             ? constants::SUMMARY_SUCCESS_MESSAGE.find(action)
                             : constants::SUMMARY_PARTIAL_SUCCESS_MESSAGE.find(action);
    // Only install and download have summaries; the key is named as a lookup failure names it.
    if (!message) throw KeyError("'" + std::string(action) + "'");
    print_message("\n" + std::string(*message));
}

}  // namespace tessel_installer::termwrite
