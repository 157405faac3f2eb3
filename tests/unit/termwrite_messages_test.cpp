// The console primitives and the fixed messages after a run, read back from standard output.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdio_ext.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <set>
#include <string>

#include "tessel_installer/errors.hpp"
#include "tessel_installer/utils/termwrite/termwrite.hpp"
#include "test_support.hpp"

namespace tw = tessel_installer::termwrite;
using tessel_installer::KeyError;
using tessel_installer::OSError;
using tessel_installer::PackageStatus;

namespace {

using tessel_test::CapturedStdout;

const std::string kInstallSuccess =
    "Success! All packages have been installed. You are ready to use Tessel Enterprise.";
const std::string kDownloadSuccess =
    "Success! All packages have been downloaded. Please install the packages to use Tessel "
    "Enterprise.";
const std::string kInstallPartial =
    "Notice! All packages were installed, but `tessel-enterprise` was not included.\n"
    "To use Tessel Enterprise, please make sure it is installed.";
const std::string kDownloadPartial =
    "Notice! All packages were downloaded, but `tessel-enterprise` was not included.\n"
    "Please make sure that you have downloaded Tessel-Enterprise in order to be able to install it "
    "later.";
const std::string kInstallWarning =
    "Warning! Some packages that you have access to could not be installed. Please check your "
    "setup and contact Mirralune to troubleshoot.";
const std::string kDownloadWarning =
    "Warning! Some packages that you have access to could not be downloaded. Please check your "
    "setup and contact Mirralune to troubleshoot.";

struct SummaryCase {
    const char* label;
    tw::PipAction action;
    PackageStatus status;
    bool tessel_included;
    std::string message;
};

const PackageStatus kAllGood{{"tessel-enterprise", true}, {"bundle-alder", true}};
const PackageStatus kOneFailed{
    {"tessel-enterprise", true}, {"bundle-alder", false}, {"bundle-cedar", true}};

const SummaryCase kSummaryCases[] = {
    {"install, nothing ran, base included", tw::PipAction::Install, {}, true, kInstallSuccess},
    {"download, nothing ran, base missing", tw::PipAction::Download, {}, false, kDownloadPartial},
    {"install, all good, base included", tw::PipAction::Install, kAllGood, true, kInstallSuccess},
    {"install, all good, base missing", tw::PipAction::Install, kAllGood, false, kInstallPartial},
    {"download, all good, base included", tw::PipAction::Download, kAllGood, true, kDownloadSuccess},
    {"install, one failed, base included", tw::PipAction::Install, kOneFailed, true, kInstallWarning},
    {"install, one failed, base missing", tw::PipAction::Install, kOneFailed, false, kInstallWarning},
    {"download, one failed, base included", tw::PipAction::Download, kOneFailed, true, kDownloadWarning},
    {"download, only failures", tw::PipAction::Download, {{"a", false}}, false, kDownloadWarning},
};

TEST(TermwriteMessagesTest, SummaryChosenByOutcomesAndBase) {
    for (const auto& c : kSummaryCases) {
        SCOPED_TRACE(c.label);
        CapturedStdout out;
        tw::print_package_summary(c.action, c.status, c.tessel_included);
        EXPECT_EQ(out.text(), "\n" + c.message + "\n");
    }
}

// Every other fixed text after a run, and plain messages, exactly as they reach standard output.
TEST(TermwriteMessagesTest, NotesWarningsAndMessages) {
    const std::string note =
        "\nNote: This package has additional required dependencies that were also installed (";
    const struct {
        const char* label;
        std::function<void()> print;
        std::string expected;
    } cases[] = {
        {"an uninstall has no summary",
         [] { tw::print_package_summary(tw::PipAction::Uninstall, {}, true); }, ""},
        {"not even after a failure",
         [] { tw::print_package_summary(tw::PipAction::Uninstall, kOneFailed, true); }, ""},
        {"no dependencies, no note", [] { tw::print_additional_dependencies_installed({}); }, ""},
        {"one dependency", [] { tw::print_additional_dependencies_installed({"bundle-cedar"}); },
         note + "bundle-cedar).\n"},
        {"dependencies in order",
         [] { tw::print_additional_dependencies_installed({"bundle-dogwood", "bundle-alder"}); },
         note + "bundle-alder, bundle-dogwood).\n"},
        {"the connectors warning", [] { tw::print_warning_base_connector_package_installed(); },
         "\nWarning: In order to use Birch, you'll need to install database-specific packages. "
         "Please use the `--options` flag to specify your database variants.\n"},
        // A message gets one line break added, whatever it holds.
        {"empty message", [] { tw::print_message(""); }, "\n"},
        {"message", [] { tw::print_message("done"); }, "done\n"},
        {"message with a line break", [] { tw::print_message("done\n"); }, "done\n\n"},
        {"message with a carriage return", [] { tw::print_message("\ra"); }, "\ra\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        CapturedStdout out;
        c.print();
        EXPECT_EQ(out.text(), c.expected);
    }
}

TEST(TermwriteMessagesTest, PrintWithFlushReachesTheFileAtOnceAndInOrder) {
    CapturedStdout out;
    tw::print_with_flush("");
    EXPECT_EQ(out.so_far(), "");
    // A line still in the buffer goes out before the in-place text that follows it.
    tw::print_message("heading");
    tw::print_with_flush("\rbundle-alder .  ");
    EXPECT_EQ(out.so_far(), "heading\n\rbundle-alder .  ");
    tw::print_with_flush("\rbundle-alder - Installed!\n");
    EXPECT_EQ(out.so_far(), "heading\n\rbundle-alder .  \rbundle-alder - Installed!\n");
}

TEST(TermwriteMessagesTest, FailedWriteIsRaised) {
    std::fflush(stdout);
    const int saved = ::dup(STDOUT_FILENO);
    const int full = ::open("/dev/full", O_WRONLY);
    ASSERT_GE(full, 0);
    ::dup2(full, STDOUT_FILENO);
    bool raised = false;
    try {
        tw::print_with_flush("text");
    } catch (const OSError& error) {
        raised = true;
        EXPECT_NE(std::string(error.what()).find("No space left on device"), std::string::npos)
            << error.what();
    }
    __fpurge(stdout);  // drop what could not be written
    ::dup2(saved, STDOUT_FILENO);
    ::close(saved);
    ::close(full);
    EXPECT_TRUE(raised);
    EXPECT_EQ(std::ferror(stdout), 0);  // the stream is usable again
}

}  // namespace
