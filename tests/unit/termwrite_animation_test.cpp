// The progress animation and the outcome line, with real child processes.
#include <csignal>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "captured_stdout.hpp"
#include "tessel_installer/platform/process.hpp"
#include "tessel_installer/platform/signals.hpp"
#include "tessel_installer/utils/termwrite/termwrite.hpp"

namespace tessel_installer::termwrite {
namespace {

using platform::Process;
using platform::SpawnOptions;
using platform::Stream;
using testing::CapturedStdout;

const std::string INSTALLED = "Installed!";
const std::string ALREADY_INSTALLED = "N/A (already installed)";
const std::string UP_TO_DATE = "N/A (already installed and up-to-date)";
const std::string INSTALL_FAILED = "Installation failed. Use --debug for more details.";
const std::string DOWNLOAD_FAILED = "Download failed. Use --debug for more details.";
const std::string UNINSTALL_FAILED = "Uninstall failed. Use --debug for more details.";

Process start(const std::string& script) {
    return Process::spawn({"/bin/sh", "-c", script},
                          SpawnOptions{Stream::Discard, Stream::Discard});
}

// A child that has already ended with the given shell script's status.
Process ended(const std::string& script) {
    Process child = start(script);
    child.wait();
    return child;
}

std::string frames(const std::string& label, int count) {
    static const char* const suffixes[] = {" .  ", " .. ", " ..."};
    std::string out;
    for (int i = 0; i < count; ++i)
        out += "\r" + label + suffixes[i % 3];
    return out;
}

std::string outcome_line(const std::string& label, const std::string& text) {
    return "\r" + label + " - " + text + "\n";
}

// ---- The outcome line ---------------------------------------------------------------------------

struct OutcomeCase {
    const char* what;
    std::string script;
    std::optional<std::string> action;
    std::optional<std::string> version;
    std::optional<OrderedMap<std::string>> installed;
    bool upgrade;
    std::string text;
};

TEST(OutcomeLine, ChoosesTheTextFromStatusActionVersionsAndUpgrade) {
    using Map = OrderedMap<std::string>;
    const Map at_200{{"bundle-alder", "2.0.0"}};
    const Map at_210{{"bundle-alder", "2.1.0"}};
    const Map at_190{{"bundle-alder", "1.9.0"}};
    const Map other{{"bundle-birch", "2.0.0"}};
    const Map blank{{"bundle-alder", ""}};
    const std::vector<OutcomeCase> cases = {
        {"same version", "exit 0", "install", "2.0.0", at_200, false, ALREADY_INSTALLED},
        {"same version, upgrade", "exit 0", "install", "2.0.0", at_200, true, UP_TO_DATE},
        {"newer installed, upgrade", "exit 0", "install", "2.0.0", at_210, true, UP_TO_DATE},
        {"newer installed", "exit 0", "install", "2.0.0", at_210, false, INSTALLED},
        {"older installed", "exit 0", "install", "2.0.0", at_190, false, INSTALLED},
        {"older installed, upgrade", "exit 0", "install", "2.0.0", at_190, true, INSTALLED},
        {"nothing installed", "exit 0", "install", "2.0.0", std::nullopt, true, INSTALLED},
        {"empty inventory", "exit 0", "install", "2.0.0", Map{}, false, INSTALLED},
        {"not in the inventory", "exit 0", "install", "2.0.0", other, true, INSTALLED},
        {"blank installed version", "exit 0", "install", "2.0.0", blank, true, INSTALLED},
        {"no target version", "exit 0", "install", std::nullopt, at_200, false, INSTALLED},
        {"no target version, upgrade", "exit 0", "install", std::nullopt, at_200, true, INSTALLED},
        {"download never compares", "exit 0", "download", "2.0.0", at_200, true, "Downloaded!"},
        {"uninstall never compares", "exit 0", "uninstall -y", "2.0.0", at_200, false,
         "Uninstalled!"},
        {"install failed", "exit 1", "install", "2.0.0", at_200, true, INSTALL_FAILED},
        {"install failed, 255", "exit 255", "install", std::nullopt, std::nullopt, false,
         INSTALL_FAILED},
        {"download failed", "exit 1", "download", std::nullopt, std::nullopt, false,
         DOWNLOAD_FAILED},
        {"uninstall failed with 2", "exit 2", "uninstall -y", std::nullopt, std::nullopt, false,
         UNINSTALL_FAILED},
        {"killed install", "kill -KILL $$", "install", "2.0.0", at_200, false, INSTALL_FAILED},
        {"terminated download", "kill -TERM $$", "download", std::nullopt, std::nullopt, false,
         DOWNLOAD_FAILED},
        {"killed uninstall", "kill -KILL $$", "uninstall -y", std::nullopt, std::nullopt, false,
         UNINSTALL_FAILED},
    };
    for (const auto& c : cases) {
        Process child = ended(c.script);
        CapturedStdout out;
        handle_process_exit_code(child, "bundle-alder", "bundle-alder (version 2.0.0)", c.version,
                                 c.action, c.installed ? &*c.installed : nullptr, c.upgrade);
        EXPECT_EQ(out.text(), outcome_line("bundle-alder (version 2.0.0)", c.text)) << c.what;
    }
}

TEST(OutcomeLine, AChildEndedByASignalHasANegativeStatusAndStillGetsItsLine) {
    Process child = ended("kill -KILL $$");
    ASSERT_EQ(child.returncode(), -SIGKILL);
    CapturedStdout out;
    display_progress_animation(child, "bundle-dogwood", std::nullopt, "install");
    const std::string printed = out.text();
    EXPECT_EQ(printed,
              frames("bundle-dogwood", 1) + outcome_line("bundle-dogwood", INSTALL_FAILED));
}

// ---- The animation ------------------------------------------------------------------------------

struct LabelCase {
    std::optional<std::string> version;
    bool show_version;
    std::string label;
};

TEST(Animation, TheLabelCarriesTheVersionOnlyWhenAskedAndKnown) {
    const std::vector<LabelCase> cases = {
        {"1.2.0", true, "bundle-alder (version 1.2.0)"},
        {std::nullopt, true, "bundle-alder"},
        {"", true, "bundle-alder"},
        {"1.2.0", false, "bundle-alder"},
        {std::nullopt, false, "bundle-alder"},
    };
    for (const auto& c : cases) {
        // An ended child: one frame is still drawn before the outcome line.
        Process child = ended("exit 0");
        CapturedStdout out;
        display_progress_animation(child, "bundle-alder", c.version, "download", nullptr, false,
                                   c.show_version);
        EXPECT_EQ(out.text(), frames(c.label, 1) + outcome_line(c.label, "Downloaded!")) << c.label;
    }
}

TEST(Animation, ASecondLongChildShowsTheFramesOneTwoThreeOneThenTheOutcome) {
    // Frames are drawn at 0, 0.3, 0.6 and 0.9 s; the child ends between the fourth frame and the
    // fifth (a little after 1 s, so the count does not hinge on a few milliseconds).
    Process child = start("sleep 1.05; exit 3");
    CapturedStdout out;
    display_progress_animation(child, "bundle-alder", "1.2.0", "install", nullptr, false, true);
    const std::string label = "bundle-alder (version 1.2.0)";
    EXPECT_EQ(out.text(), frames(label, 4) + outcome_line(label, INSTALL_FAILED));
}

TEST(Animation, ATerminationRequestIsPassedOnToTheChildWhichThenGetsItsLine) {
    platform::install_interrupt_handlers();
    platform::clear_pending_interrupt();
    Process child = Process::spawn({"sleep", "30"}, SpawnOptions{Stream::Discard, Stream::Discard});
    // The request arrives at the program alone, as from `kill PID`; the handler records it.
    ASSERT_EQ(std::raise(SIGTERM), 0);
    ASSERT_EQ(platform::pending_interrupt(), SIGTERM);

    CapturedStdout out;
    display_progress_animation(child, "bundle-alder", std::nullopt, "install");
    const std::string printed = out.text();
    platform::clear_pending_interrupt();

    // Passed on as an interrupt first, so that pip can roll a half-done change back.
    EXPECT_EQ(child.returncode(), -SIGINT);
    const std::string line = outcome_line("bundle-alder", INSTALL_FAILED);
    ASSERT_GE(printed.size(), line.size());
    EXPECT_EQ(printed.substr(printed.size() - line.size()), line);
    EXPECT_EQ(printed.substr(0, printed.size() - line.size()).find('\n'), std::string::npos);
}

TEST(Animation, AnInterruptIsPassedOnTheChildLeadsAGroupOutsideTheTerminals) {
    platform::install_interrupt_handlers();
    platform::clear_pending_interrupt();
    Process child = start("exec sleep 30");
    ASSERT_EQ(std::raise(SIGINT), 0);
    ASSERT_EQ(platform::pending_interrupt(), SIGINT);

    CapturedStdout out;
    display_progress_animation(child, "bundle-alder", std::nullopt, "install");
    const std::string printed = out.text();
    platform::clear_pending_interrupt();

    EXPECT_EQ(child.returncode(), -SIGINT);
    const std::string line = outcome_line("bundle-alder", INSTALL_FAILED);
    ASSERT_GE(printed.size(), line.size());
    EXPECT_EQ(printed.substr(printed.size() - line.size()), line);
}

}  // namespace
}  // namespace tessel_installer::termwrite
