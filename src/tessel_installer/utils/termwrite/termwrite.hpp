// Console output: whole lines, in-place writes, the fixed messages after a run, and the progress
// animation with the per-package outcome line. Everything goes to standard output.
#pragma once

#include <optional>
#include <set>
#include <string>
#include <string_view>

#include "tessel_installer/ordered_map.hpp"

namespace tessel_installer::platform {
class Process;
}

namespace tessel_installer::termwrite {

// Writes the text unchanged, no line break, and flushes at once.
void print_with_flush(std::string_view text);
// Writes the message and one line break.
void print_message(std::string_view message);
// Delivers what is still buffered for standard output and checks that everything written reached
// it; the error text when it did not (a full disk, a closed pipe or stream), else none. Run once,
// at exit, so that a run whose output was lost never ends with success.
std::optional<std::string> close_standard_output();

void print_warning_base_connector_package_installed();
// Prints the additional-dependencies note; nothing for an empty set.
void print_additional_dependencies_installed(const std::set<std::string>& additional_dependencies);
// Prints one summary for "install" or "download"; throws KeyError for any other word.
void print_package_summary(std::string_view action, const PackageStatus& package_status,
                           bool tessel_included);

// Animates "LABEL .  " / " .. " / " ..." every 0.3 s until the child ends, then prints the outcome
// line. The wait ends the moment the child ends.
void display_progress_animation(platform::Process& process, const std::string& package,
                                const std::optional<std::string>& version = std::nullopt,
                                const std::optional<std::string>& action = std::nullopt,
                                const OrderedMap<std::string>* installed_packages = nullptr,
                                bool upgrade = false, bool show_version = false);

// Prints "\rLABEL - OUTCOME\n" for a child that has ended.
void handle_process_exit_code(platform::Process& process, const std::string& package,
                              const std::string& printable_package,
                              const std::optional<std::string>& version = std::nullopt,
                              const std::optional<std::string>& action = std::nullopt,
                              const OrderedMap<std::string>* installed_packages = nullptr,
                              bool upgrade = false);

}  // namespace tessel_installer::termwrite
