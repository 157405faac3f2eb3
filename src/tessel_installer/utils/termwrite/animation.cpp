// The progress line while a pip child runs, and the outcome line that replaces it.
#include <array>
#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "tessel_installer/constants.hpp"
#include "tessel_installer/platform/process.hpp"
#include "tessel_installer/terminal_text.hpp"
#include "tessel_installer/utils/pkgkit/pkgkit.hpp"
#include "tessel_installer/utils/termwrite/termwrite.hpp"

namespace tessel_installer::termwrite {

namespace {

constexpr std::chrono::milliseconds FRAME_INTERVAL{300};

// The three frames are four characters longer than the label each, so every redraw covers the one
// before it completely.
constexpr std::array<std::string_view, 3> FRAME_SUFFIXES{" .  ", " .. ", " ..."};

std::string _label(const std::string& package, const std::optional<std::string>& version,
                   bool show_version) {
    if (show_version && version.has_value() && !version->empty()) {
        // The version may come from the index's answer: shown, never obeyed.
        return package + " (version " + text::terminal_safe(*version) + ")";
    }
    return package;
}

std::string_view _outcome_text(int status, const std::string& package,
                               const std::optional<std::string>& version,
                               const std::optional<std::string>& action,
                               const OrderedMap<std::string>* installed_packages, bool upgrade) {
    const std::string_view word = action.has_value() ? std::string_view(*action) : "";
    if (status != constants::SUCCESS) {
        // Every status but success is a failure here, a child ended by a signal (negative status)
        // included: the package always gets a line, and its failure is not hidden.
        return constants::ACTION_ERROR_MESSAGE.find(word).value_or("");
    }
    std::string_view text = constants::ACTION_SUCCESS_MESSAGE.find(word).value_or("");
    if (word != "install") return text;

    std::optional<std::string> installed_version;
    if (installed_packages != nullptr && !installed_packages->empty()) {
        installed_version = installed_packages->get(package);
    }
    const bool was_installed = installed_version.has_value() && !installed_version->empty();
    bool is_installed_bigger = false;
    bool is_installed_equal = false;
    if (was_installed) {
        is_installed_bigger = pkgkit::is_version_bigger(installed_version, version);
        is_installed_equal = pkgkit::is_version_equal(installed_version, version);
    }
    if (upgrade && (is_installed_bigger || is_installed_equal)) {
        return constants::ACTION_SUCCESS_ALREADY_UPDATED.find(word).value_or(text);
    }
    if (was_installed && is_installed_equal) {
        return constants::ACTION_SUCCESS_ALREADY_INSTALLED.find(word).value_or(text);
    }
    return text;
}

}  // namespace

void display_progress_animation(platform::Process& process, const std::string& package,
                                const std::optional<std::string>& version,
                                const std::optional<std::string>& action,
                                const OrderedMap<std::string>* installed_packages, bool upgrade,
                                bool show_version) {
    const std::string printable_package = _label(package, version, show_version);
    std::array<std::string, 3> frames;
    for (std::size_t i = 0; i < frames.size(); ++i) {
        frames[i] = "\r" + printable_package + std::string(FRAME_SUFFIXES[i]);
    }

    for (std::size_t frame = 0;; frame = (frame + 1) % frames.size()) {
        print_with_flush(frames[frame]);
        // A termination request is passed on to the child; the frames keep their cadence.
        if (platform::wait_passing_on_termination(process, FRAME_INTERVAL)) {
            break;
        }
    }
    handle_process_exit_code(process, package, printable_package, version, action,
                             installed_packages, upgrade);
}

void handle_process_exit_code(platform::Process& process, const std::string& package,
                              const std::string& printable_package,
                              const std::optional<std::string>& version,
                              const std::optional<std::string>& action,
                              const OrderedMap<std::string>* installed_packages, bool upgrade) {
    const std::optional<int> returncode = process.returncode();
    const int status = returncode.has_value() ? *returncode : process.wait();
    const std::string_view text =
        _outcome_text(status, package, version, action, installed_packages, upgrade);

    std::string line = "\r";
    line += printable_package;
    line += " - ";
    line += text;
    line += "\n";
    print_with_flush(line);
}

}  // namespace tessel_installer::termwrite
