// The progress animation and the outcome line, with children answered in process.
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "test_support.hpp"
#include "fake_child.hpp"
#include "tessel_installer/constants.hpp"
#include "tessel_installer/utils/termwrite/termwrite.hpp"

namespace tessel_installer::termwrite {
namespace {

using tessel_test::CapturedStdout;
using testing::FakeChild;

std::string text_of(const constants::MessageTable<1>& table) { return std::string(*table.find("install")); }
template <std::size_t N>
std::string text_of(const constants::MessageTable<N>& table, PipAction action) {
    return std::string(*table.find(constants::message_key(action)));
}

const std::string INSTALLED = text_of(constants::ACTION_SUCCESS_MESSAGE, PipAction::Install);
const std::string ALREADY_INSTALLED = text_of(constants::ACTION_SUCCESS_ALREADY_INSTALLED);
const std::string UP_TO_DATE = text_of(constants::ACTION_SUCCESS_ALREADY_UPDATED);
const std::string INSTALL_FAILED = text_of(constants::ACTION_ERROR_MESSAGE, PipAction::Install);
const std::string DOWNLOAD_FAILED = text_of(constants::ACTION_ERROR_MESSAGE, PipAction::Download);
const std::string UNINSTALL_FAILED = text_of(constants::ACTION_ERROR_MESSAGE, PipAction::Uninstall);

std::string frames(const std::string& label, int count) {
    static const char* const suffixes[] = {" .  ", " .. ", " ..."};
    std::string out;
    for (int i = 0; i < count; ++i) out += "\r" + label + suffixes[i % 3];
    return out;
}

std::string outcome_line(const std::string& label, const std::string& text) {
    return "\r" + label + " - " + text + "\n";
}

// ---- The outcome text ---------------------------------------------------------------------------

TEST(OutcomeLine, ChoosesTheTextFromStatusActionVersionsAndUpgrade) {
    constexpr auto Install = PipAction::Install;
    constexpr auto Download = PipAction::Download;
    constexpr auto Uninstall = PipAction::Uninstall;
    const std::optional<std::string> none;
    struct Case {
        const char* what;
        int status;
        PipAction action;
        std::optional<std::string> version;
        std::optional<std::string> installed;
        bool upgrade;
        std::string text;
    };
    const std::vector<Case> cases = {
        {"same version", 0, Install, "2.0.0", "2.0.0", false, ALREADY_INSTALLED},
        {"same version, upgrade", 0, Install, "2.0.0", "2.0.0", true, UP_TO_DATE},
        {"newer installed, upgrade", 0, Install, "2.0.0", "2.1.0", true, UP_TO_DATE},
        {"newer installed", 0, Install, "2.0.0", "2.1.0", false, INSTALLED},
        {"older installed", 0, Install, "2.0.0", "1.9.0", false, INSTALLED},
        {"older installed, upgrade", 0, Install, "2.0.0", "1.9.0", true, INSTALLED},
        {"nothing installed", 0, Install, "2.0.0", none, true, INSTALLED},
        {"blank installed version", 0, Install, "2.0.0", "", true, INSTALLED},
        {"no target version", 0, Install, none, "2.0.0", false, INSTALLED},
        {"no target version, upgrade", 0, Install, none, "2.0.0", true, INSTALLED},
        {"download never compares", 0, Download, "2.0.0", "2.0.0", true, "Downloaded!"},
        {"uninstall never compares", 0, Uninstall, "2.0.0", "2.0.0", false, "Uninstalled!"},
        {"install failed", 1, Install, "2.0.0", "2.0.0", true, INSTALL_FAILED},
        {"install failed, 255", 255, Install, none, none, false, INSTALL_FAILED},
        {"download failed", 1, Download, none, none, false, DOWNLOAD_FAILED},
        {"uninstall failed with 2", 2, Uninstall, none, none, false, UNINSTALL_FAILED},
        {"killed install", -9, Install, "2.0.0", "2.0.0", false, INSTALL_FAILED},
        {"terminated download", -15, Download, none, none, false, DOWNLOAD_FAILED},
        {"killed uninstall", -9, Uninstall, none, none, false, UNINSTALL_FAILED},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(handle_process_exit_code({.status = c.status,
                                            .action = c.action,
                                            .installed_version = c.installed,
                                            .version = c.version,
                                            .upgrade = c.upgrade}),
                  c.text)
            << c.what;
    }
}

// ---- The animation ------------------------------------------------------------------------------

TEST(Animation, FramesLabelAndOutcomeLine) {
    struct Case {
        const char* what;
        int waits;  // before the child is seen to have ended
        int status;
        PipAction action;
        std::optional<std::string> version;
        bool show_version;
        std::string label;
        int frames;
        std::string text;
    };
    const std::vector<Case> cases = {
        {"label with the version", 0, 0, PipAction::Download, "1.2.0", true,
         "bundle-alder (version 1.2.0)", 1, "Downloaded!"},
        {"asked, but no version", 0, 0, PipAction::Download, std::nullopt, true, "bundle-alder", 1,
         "Downloaded!"},
        {"asked, empty version", 0, 0, PipAction::Download, "", true, "bundle-alder", 1,
         "Downloaded!"},
        {"not asked", 0, 0, PipAction::Download, "1.2.0", false, "bundle-alder", 1, "Downloaded!"},
        // One frame before each wait: one, two, three, one, then the outcome.
        {"a long child cycles the frames", 3, 3, PipAction::Install, "1.2.0", true,
         "bundle-alder (version 1.2.0)", 4, INSTALL_FAILED},
        {"ended by a signal, still its line", 0, -9, PipAction::Install, std::nullopt, false,
         "bundle-alder", 1, INSTALL_FAILED},
    };
    for (const auto& c : cases) {
        FakeChild child(c.status, c.waits, false);
        CapturedStdout out;
        const int status = display_progress_animation({.process = child,
                                                       .package = "bundle-alder",
                                                       .version = c.version,
                                                       .show_version = c.show_version,
                                                       .action = c.action});
        EXPECT_EQ(out.text(), frames(c.label, c.frames) + outcome_line(c.label, c.text)) << c.what;
        EXPECT_EQ(status, c.status) << c.what;
    }
}

}  // namespace
}  // namespace tessel_installer::termwrite
