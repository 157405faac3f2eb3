// Console output: whole lines, in-place writes, the fixed messages after a run, and the progress
// animation with the per-package outcome line. Everything goes to standard output.
#pragma once

#include <optional>
#include <set>
#include <string>
#include <string_view>

#include "tessel_installer/constants.hpp"
#include "tessel_installer/ordered_map.hpp"

namespace tessel_installer::platform {
class Child;
}

namespace tessel_installer::termwrite {

using constants::PipAction;

// True when every package's child succeeded (also for none): the one decision that the summary,
// the actions and the exit statuses read.
bool all_succeeded(const PackageStatus& package_status) noexcept;

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
// Prints the one summary of an install or a download (an uninstall has none).
void print_package_summary(PipAction action, const PackageStatus& package_status,
                           bool tessel_included);
// The line after the summary when the index asked for credentials that pip could not supply:
// where to put them. `index` is the index address as it may be shown (credentials masked,
// terminal-safe).
void print_index_asked_for_credentials(std::string_view index);

// What the outcome text of one package is chosen from.
struct ExitCodeFacts {
    int status = constants::ERROR;                // the child's exit status, read once
    PipAction action = PipAction::Install;
    std::optional<std::string> installed_version{};  // before the child ran; none when not installed
    std::optional<std::string> version{};            // the target version; none when unknown
    bool upgrade = false;
};
// The outcome text: the action's failure text for any status but success (a negative one, from a
// signal, included); after a successful install, "already installed" when the version compares so.
std::string_view handle_process_exit_code(const ExitCodeFacts& facts);

// One package's progress line and the outcome line that replaces it.
struct ProgressLine {
    platform::Child& process;
    std::string package{};
    std::optional<std::string> version{};  // the label shows it when show_version is set
    bool show_version = false;
    // The rest of what the outcome text is chosen from.
    PipAction action = PipAction::Install;
    std::optional<std::string> installed_version{};
    bool upgrade = false;
    // False: no frames; the outcome line is printed once, when the child ends, as a line of its
    // own (no carriage return).
    bool frames = true;
};
// The label of a package's lines: the package, with " (version V)" when show_version is set and
// a version is known.
std::string progress_label(const std::string& package, const std::optional<std::string>& version,
                           bool show_version);
// Animates "LABEL .  " / " .. " / " ..." every 0.3 s until the child ends, then prints
// "\rLABEL - OUTCOME\n". The wait ends the moment the child ends. Returns the child's exit status.
int display_progress_animation(const ProgressLine& line);

}  // namespace tessel_installer::termwrite
