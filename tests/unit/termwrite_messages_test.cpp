// The console primitives and the fixed messages after a run, read back from standard output.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdio_ext.h>
#include <unistd.h>

#include <cstdio>
#include <set>
#include <string>

#include "tessel_installer/errors.hpp"
#include "tessel_installer/utils/termwrite/termwrite.hpp"

namespace tw = tessel_installer::termwrite;
using tessel_installer::KeyError;
using tessel_installer::OSError;
using tessel_installer::PackageStatus;

namespace {

// Points descriptor 1 at a temporary file; contents() reads what reached the file so far without
// flushing standard output, so it sees only what our code flushed itself.
class StdoutToFile {
public:
    StdoutToFile() {
        std::fflush(stdout);
        char pattern[] = "/tmp/tessel-termwrite-XXXXXX";
        fd_ = ::mkstemp(pattern);
        ::unlink(pattern);
        saved_ = ::dup(STDOUT_FILENO);
        ::dup2(fd_, STDOUT_FILENO);
    }
    ~StdoutToFile() {
        std::fflush(stdout);
        ::dup2(saved_, STDOUT_FILENO);
        ::close(saved_);
        ::close(fd_);
    }
    StdoutToFile(const StdoutToFile&) = delete;
    StdoutToFile& operator=(const StdoutToFile&) = delete;

    std::string contents() const {
        std::string out;
        char buffer[4096];
        off_t at = 0;
        ssize_t n = 0;
        while ((n = ::pread(fd_, buffer, sizeof buffer, at)) > 0) {
            out.append(buffer, static_cast<size_t>(n));
            at += n;
        }
        return out;
    }
    std::string flushed_contents() const {
        std::fflush(stdout);
        return contents();
    }

private:
    int fd_ = -1;
    int saved_ = -1;
};

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
        StdoutToFile out;
        tw::print_package_summary(c.action, c.status, c.tessel_included);
        EXPECT_EQ(out.flushed_contents(), "\n" + c.message + "\n");
    }
}

TEST(TermwriteMessagesTest, AnUninstallHasNoSummary) {
    for (const auto& status : {PackageStatus{}, kOneFailed}) {
        StdoutToFile out;
        tw::print_package_summary(tw::PipAction::Uninstall, status, true);
        EXPECT_EQ(out.flushed_contents(), "");
    }
}

TEST(TermwriteMessagesTest, AdditionalDependenciesNote) {
    const std::string prefix =
        "\nNote: This package has additional required dependencies that were also installed (";
    const struct {
        std::set<std::string> names;
        std::string expected;
    } cases[] = {
        {{}, ""},
        {{"bundle-cedar"}, prefix + "bundle-cedar).\n"},
        {{"bundle-dogwood", "bundle-alder"}, prefix + "bundle-alder, bundle-dogwood).\n"},
    };
    for (const auto& c : cases) {
        StdoutToFile out;
        tw::print_additional_dependencies_installed(c.names);
        EXPECT_EQ(out.flushed_contents(), c.expected);
    }
}

TEST(TermwriteMessagesTest, ConnectorsWarning) {
    StdoutToFile out;
    tw::print_warning_base_connector_package_installed();
    EXPECT_EQ(
        out.flushed_contents(),
        "\nWarning: In order to use Birch, you'll need to install database-specific packages. "
        "Please use the `--options` flag to specify your database variants.\n");
}

TEST(TermwriteMessagesTest, PrintMessageAddsOneLineBreak) {
    const struct {
        const char* message;
        const char* expected;
    } cases[] = {{"", "\n"}, {"done", "done\n"}, {"done\n", "done\n\n"}, {"\ra", "\ra\n"}};
    for (const auto& c : cases) {
        StdoutToFile out;
        tw::print_message(c.message);
        EXPECT_EQ(out.flushed_contents(), c.expected);
    }
}

TEST(TermwriteMessagesTest, PrintWithFlushReachesTheFileAtOnceAndInOrder) {
    StdoutToFile out;
    tw::print_with_flush("");
    EXPECT_EQ(out.contents(), "");
    // A line still in the buffer goes out before the in-place text that follows it.
    tw::print_message("heading");
    tw::print_with_flush("\rbundle-alder .  ");
    EXPECT_EQ(out.contents(), "heading\n\rbundle-alder .  ");
    tw::print_with_flush("\rbundle-alder - Installed!\n");
    EXPECT_EQ(out.contents(), "heading\n\rbundle-alder .  \rbundle-alder - Installed!\n");
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
