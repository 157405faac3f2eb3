// The pip runner against a stand-in interpreter: which version each package is pinned to, which
// look-ups run, what each outcome records, how the record of installed packages follows, and how a
// Ctrl-C or a termination request stops the run after the running child.
#include <csignal>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "captured_stdout.hpp"
#include "installer_fake_pip.hpp"
#include "tessel_installer/constants.hpp"
#include "tessel_installer/errors.hpp"
#include "tessel_installer/installation/engine.hpp"
#include "tessel_installer/platform/signals.hpp"

namespace tessel_installer::installer {
namespace {

using testing::CapturedStdout;
using testing::FakeEnvironment;
using Calls = std::vector<std::vector<std::string>>;
using Words = std::vector<std::string>;

// The pip words of each call, cut after the package token (index options are checked elsewhere).
Calls heads(const Calls& calls) {
    Calls out;
    for (const auto& call : calls) {
        const std::size_t keep = (call.size() > 1 && call[1] == "-y") ||
                                         (!call.empty() && call[0] == "index")
                                     ? 3
                                     : 2;
        out.emplace_back(call.begin(), call.begin() + std::min(keep, call.size()));
    }
    return out;
}

PackageStatus run(const std::string& action, const Words& packages,
                  const OptionalText& version = std::nullopt,
                  const OptionalText& index_url = std::nullopt, const Words& extra = {},
                  bool upgrade = false, bool debug = false) {
    return _perform_pip_action(action, packages, version, index_url, extra, false, debug, upgrade);
}

TEST(PipRunner, VersionChoiceAndPinning) {
    const std::string U = _index_url();
    struct Case {
        const char* what;
        std::string action;
        Words packages;
        OptionalText version;
        OptionalText index_url;
        Words extra;
        bool upgrade;
        Calls expected;  // heads of the pip calls, look-ups included, in order
    };
    const Case cases[] = {
        {"given version pins all but the connectors package, which is still looked up",
         "install", {"tessel-enterprise", "bundle-birch", "bundle-alder"}, "1.2.3", U, {}, false,
         {{"install", "tessel-enterprise==1.2.3"},
          {"index", "versions", "bundle-birch"},
          {"install", "bundle-birch"},
          {"install", "bundle-alder==1.2.3"}}},
        {"no version: each package is looked up and pinned to the newest", "install",
         {"bundle-alder", "bundle-cedar"}, std::nullopt, U, {}, false,
         {{"index", "versions", "bundle-alder"},
          {"install", "bundle-alder==9.9.9"},
          {"index", "versions", "bundle-cedar"},
          {"install", "bundle-cedar==9.9.9"}}},
        {"a look-up that finds nothing leaves the package unpinned", "install",
         {"noversion-pkg"}, std::nullopt, U, {}, false,
         {{"index", "versions", "noversion-pkg"}, {"install", "noversion-pkg"}}},
        {"upgrade never pins but still looks up", "install", {"bundle-alder"}, std::nullopt, U,
         {}, true, {{"index", "versions", "bundle-alder"}, {"install", "bundle-alder"}}},
        {"upgrade with a given version: no look-up, no pin", "install", {"bundle-alder"}, "1.0.0",
         U, {}, true, {{"install", "bundle-alder"}}},
        {"--no-index: no look-up and no pin even with a version", "install",
         {"tessel-enterprise", "bundle-birch"}, "1.2.3", std::nullopt,
         {"--no-index", "--find-links", "out"}, false,
         {{"install", "tessel-enterprise"}, {"install", "bundle-birch"}}},
        {"uninstall looks up only the connectors package", "uninstall -y",
         {"bundle-alder", "bundle-birch"}, std::nullopt, std::nullopt, {}, false,
         {{"uninstall", "-y", "bundle-alder"},
          {"index", "versions", "bundle-birch"},
          {"uninstall", "-y", "bundle-birch"}}},
        {"download pins like install", "download", {"bundle-alder"}, std::nullopt, U,
         {"--dest", "out"}, false,
         {{"index", "versions", "bundle-alder"}, {"download", "bundle-alder==9.9.9"}}},
        {"extras are pinned as part of the text", "install", {"tessel-enterprise[alder]"},
         "1.0.0", U, {}, false, {{"install", "tessel-enterprise[alder]==1.0.0"}}},
    };
    for (const auto& tc : cases) {
        FakeEnvironment env;
        env.rule("noversion-pkg", "noversion");
        CapturedStdout out;
        const PackageStatus status =
            run(tc.action, tc.packages, tc.version, tc.index_url, tc.extra, tc.upgrade);
        out.text();
        EXPECT_EQ(heads(env.pip_calls()), tc.expected) << tc.what;
        // Keyed by the plain text, never with the pinned version.
        EXPECT_EQ(status.keys(), tc.packages) << tc.what;
    }
}

TEST(PipRunner, LookUpsCarryTheIndexOnlyWhenGiven) {
    FakeEnvironment env;
    CapturedStdout out;
    run("install", {"bundle-alder"}, std::nullopt, _index_url());
    run("uninstall -y", {"bundle-birch"});
    out.text();
    const Calls calls = env.pip_calls();
    ASSERT_EQ(calls.size(), 4u);
    EXPECT_EQ(calls[0], (Words{"index", "versions", "bundle-alder", "--index-url", _index_url()}));
    EXPECT_EQ(calls[2], (Words{"index", "versions", "bundle-birch"}));
}

TEST(PipRunner, OutcomesFailuresAndSignalsAndTheLoopGoesOn) {
    FakeEnvironment env;
    env.rule("bundle-alder", "2");
    env.rule("bundle-cedar", "signal");
    CapturedStdout out;
    const PackageStatus status =
        run("install", {"tessel-enterprise", "bundle-alder", "bundle-cedar", "bundle-birch"});
    const std::string text = out.text();
    EXPECT_EQ(status, (PackageStatus{{"tessel-enterprise", true},
                                     {"bundle-alder", false},
                                     {"bundle-cedar", false},
                                     {"bundle-birch", true}}));
    EXPECT_EQ(heads(env.pip_calls()), (Calls{{"install", "tessel-enterprise"},
                                             {"install", "bundle-alder"},
                                             {"install", "bundle-cedar"},
                                             {"index", "versions", "bundle-birch"},
                                             {"install", "bundle-birch"}}));
    // A child ended by a signal gets the action's failure line like any other failure.
    EXPECT_NE(text.find("\rbundle-cedar - Installation failed. Use --debug for more details.\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("\rtessel-enterprise - Installed!\n"), std::string::npos) << text;
}

TEST(PipRunner, HandedInRecordGrowsInPlaceAndAnEmptyListRunsNothing) {
    FakeEnvironment env;
    env.rule("bundle-alder", "1");
    CapturedStdout out;
    PackageStatus given{{"tessel-enterprise", true}};
    const PackageStatus status = _perform_pip_action("install", {"bundle-alder", "bundle-cedar"},
                                                     std::nullopt, std::nullopt, {}, false, false,
                                                     false, given);
    out.text();
    EXPECT_EQ(status.keys(), (Words{"tessel-enterprise", "bundle-alder", "bundle-cedar"}));
    EXPECT_EQ(run("install", {}), PackageStatus{});
    EXPECT_EQ(env.pip_calls().size(), 2u);
}

TEST(PipRunner, RecordFileFollowsInstallsAndUninstalls) {
    FakeEnvironment env;
    env.rule("bundle-alder", "1");
    env.rule("bundle-dogwood", "1");
    CapturedStdout out;
    run("install", {"tessel-enterprise", "bundle-alder", "tessel-enterprise[alder]"});
    EXPECT_EQ(env.record(), "tessel-enterprise\ntessel-enterprise[alder]\n");
    // An install from a folder is recorded like an online one; a download is not.
    run("install", {"bundle-cedar"}, std::nullopt, std::nullopt, {"--no-index", "--find-links", "f"});
    run("download", {"bundle-birch"}, std::nullopt, std::nullopt, {"--dest", "f"});
    EXPECT_EQ(env.record(), "tessel-enterprise\ntessel-enterprise[alder]\nbundle-cedar\n");
    // Every uninstall run removes its package, also when the child failed.
    env.rule("tessel-enterprise", "1");
    const PackageStatus status = run("uninstall -y", {"tessel-enterprise", "bundle-cedar"});
    out.text();
    EXPECT_EQ(status, (PackageStatus{{"tessel-enterprise", false}, {"bundle-cedar", true}}));
    EXPECT_EQ(env.record(), "tessel-enterprise[alder]\n");
}

TEST(PipRunner, OutcomeLinesCompareWithTheInstalledVersionsBeforeTheCall) {
    FakeEnvironment env;
    env.install("bundle-cedar", "1.0.0");
    CapturedStdout out;
    // Read by the runner itself: bundle-cedar is there at the given version.
    run("install", {"bundle-cedar", "bundle-alder"}, "1.0.0");
    // Handed in by a caller that has just read them: they are what counts.
    const OrderedMap<std::string> handed_in{{"bundle-alder", "1.0.0"}};
    _perform_pip_action("install", {"bundle-cedar", "bundle-alder"}, "1.0.0", std::nullopt, {},
                        false, false, false, {}, &handed_in);
    const std::string text = testing::without_frames(out.text());
    EXPECT_EQ(text,
              "\rbundle-cedar - N/A (already installed)\n\rbundle-alder - Installed!\n"
              "\rbundle-cedar - Installed!\n\rbundle-alder - N/A (already installed)\n");
}

TEST(PipRunner, InvalidPackageTextStopsBeforeAnyChild) {
    FakeEnvironment env;
    CapturedStdout out;
    EXPECT_THROW(run("install", {"bundle-alder", "--index-url=http://elsewhere/"}), ValueError);
    EXPECT_THROW(run("uninstall -y", {"-r/etc/passwd"}), ValueError);
    out.text();
    EXPECT_TRUE(env.pip_calls().empty());
}

TEST(PipRunner, DebugModePrintsTheCommandAndLetsPipWrite) {
    FakeEnvironment env;
    env.rule("bundle-alder", "3");
    CapturedStdout out;
    const PackageStatus status =
        run("install", {"bundle-alder", "bundle-cedar"}, "1.0.0", _index_url(), {}, false, true);
    const std::string text = out.text();
    EXPECT_EQ(status, (PackageStatus{{"bundle-alder", false}, {"bundle-cedar", true}}));
    std::string hosts;
    for (const auto host : constants::TRUSTED_HOSTS) hosts += " --trusted-host " + std::string(host);
    EXPECT_EQ(text, "\npip install bundle-alder==1.0.0 --index-url " + _index_url() + hosts +
                        "\n" + "\npip install bundle-cedar==1.0.0 --index-url " + _index_url() +
                        hosts + "\n");
}

// Ctrl-C and termination requests: the running child ends, its outcome and the record are kept,
// and no later package or look-up starts.
class Interrupts : public ::testing::Test {
protected:
    void SetUp() override {
        platform::install_interrupt_handlers();
        platform::clear_pending_interrupt();
    }
    void TearDown() override { platform::clear_pending_interrupt(); }
};

TEST_F(Interrupts, CtrlCDuringAnInstallStopsAfterThatChild) {
    FakeEnvironment env;
    env.rule("bundle-alder", "interrupt");
    CapturedStdout out;
    try {
        run("install", {"tessel-enterprise", "bundle-alder", "bundle-cedar"});
        ADD_FAILURE() << "no interruption";
    } catch (const Interrupted& interrupted) {
        EXPECT_EQ(interrupted.signal_number(), SIGINT);
    }
    const std::string text = out.text();
    EXPECT_EQ(heads(env.pip_calls()),
              (Calls{{"install", "tessel-enterprise"}, {"install", "bundle-alder"}}));
    EXPECT_EQ(env.record(), "tessel-enterprise\n");
    EXPECT_NE(text.find("\rbundle-alder - Installation failed."), std::string::npos) << text;
}

TEST_F(Interrupts, TerminationIsPassedOnToTheChildAndTheUninstallRecordKept) {
    for (const bool debug : {false, true}) {
        platform::clear_pending_interrupt();
        FakeEnvironment env;
        env.write_record("bundle-alder\nbundle-cedar\n");
        env.rule("bundle-alder", "term");
        CapturedStdout out;
        try {
            run("uninstall -y", {"bundle-alder", "bundle-cedar"}, std::nullopt, std::nullopt, {},
                false, debug);
            ADD_FAILURE() << "no interruption";
        } catch (const Interrupted& interrupted) {
            EXPECT_EQ(interrupted.signal_number(), SIGTERM);
        }
        out.text();
        // The child only ends when the termination reaches it, so returning at all shows it did.
        EXPECT_EQ(heads(env.pip_calls()), (Calls{{"uninstall", "-y", "bundle-alder"}})) << debug;
        EXPECT_EQ(env.record(), "bundle-cedar\n") << debug;
    }
}

TEST_F(Interrupts, CtrlCDuringALookUpStartsNoPackageChild) {
    FakeEnvironment env;
    env.rule("bundle-alder", "lookup-interrupt");
    CapturedStdout out;
    EXPECT_THROW(run("install", {"bundle-alder", "bundle-cedar"}, std::nullopt, _index_url()),
                 Interrupted);
    out.text();
    EXPECT_EQ(heads(env.pip_calls()), (Calls{{"index", "versions", "bundle-alder"}}));
    EXPECT_FALSE(env.record().has_value());
}

}  // namespace
}  // namespace tessel_installer::installer
