// The progress line while a pip child runs, and the outcome line that replaces it.
#include <array>
#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "tessel_installer/constants.hpp"
#include "tessel_installer/platform/child.hpp"
#include "tessel_installer/terminal_text.hpp"
#include "tessel_installer/utils/pkgkit/pkgkit.hpp"
#include "tessel_installer/utils/termwrite/termwrite.hpp"

namespace tessel_installer::termwrite {

namespace {

constexpr std::chrono::milliseconds FRAME_INTERVAL{300};

// The three frames are four characters longer than the label each, so every redraw covers the one
// before it completely.
constexpr std::array<std::string_view, 3> FRAME_SUFFIXES{" .  ", " .. ", " ..."};

}  // namespace

std::string progress_label(const std::string& package, const std::optional<std::string>& version,
                           bool show_version) {
    if (show_version && version.has_value() && !version->empty()) {
        // The version may come from the index's answer: shown, never obeyed.
        return package + " (version " + text::terminal_safe(*version) + ")";
    }
    return package;
}

std::string_view handle_process_exit_code(const ExitCodeFacts& facts) {
    const std::string_view word = constants::message_key(facts.action);
    if (facts.status != constants::SUCCESS) {
        // Every status but success is a failure here, a child ended by a signal (negative status)
        // included: the package always gets a line, and its failure is not hidden.
        return constants::ACTION_ERROR_MESSAGE.find(word).value_or("");
    }
    const std::string_view text = constants::ACTION_SUCCESS_MESSAGE.find(word).value_or("");
    if (facts.action != PipAction::Install) return text;

    // Neither comparison holds for a version that is absent, empty or not a version.
    const bool installed_bigger = pkgkit::is_version_bigger(facts.installed_version, facts.version);
    const bool installed_equal = pkgkit::is_version_equal(facts.installed_version, facts.version);
    if (facts.upgrade && (installed_bigger || installed_equal)) {
        return constants::ACTION_SUCCESS_ALREADY_UPDATED.find(word).value_or(text);
    }
    if (installed_equal) {
        return constants::ACTION_SUCCESS_ALREADY_INSTALLED.find(word).value_or(text);
    }
    return text;
}

int display_progress_animation(const ProgressLine& line) {
    const std::string printable_package =
        progress_label(line.package, line.version, line.show_version);
    if (line.frames) {
        for (std::size_t frame = 0;; frame = (frame + 1) % FRAME_SUFFIXES.size()) {
            print_with_flush("\r" + printable_package + std::string(FRAME_SUFFIXES[frame]));
            // A termination request is passed on to the child; the frames keep their cadence.
            if (line.process.wait_for_end(FRAME_INTERVAL)) break;
        }
    }
    // Without frames the wait is the child's own, which passes a termination request on too.
    const int status = line.process.wait();
    const std::string_view text = handle_process_exit_code({.status = status,
                                                            .action = line.action,
                                                            .installed_version = line.installed_version,
                                                            .version = line.version,
                                                            .upgrade = line.upgrade});
    print_with_flush((line.frames ? "\r" : "") + printable_package + " - " + std::string(text) +
                     "\n");
    return status;
}

}  // namespace tessel_installer::termwrite
