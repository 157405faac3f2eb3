// The pip command lines: argument vectors, the printable commands, the download option words, and
// the wheel-folder listing.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "test_support.hpp"
#include "tessel_installer/constants.hpp"
#include "tessel_installer/errors.hpp"
#include "tessel_installer/installation/engine.hpp"

namespace tessel_installer::installer {
namespace {

namespace fs = std::filesystem;
using Words = std::vector<std::string>;

Words trusted_words() {
    Words words;
    for (const auto host : constants::TRUSTED_HOSTS) {
        words.emplace_back("--trusted-host");
        words.emplace_back(host);
    }
    return words;
}

std::string joined(const Words& words) {
    std::string text;
    for (const auto& w : words) text += (text.empty() ? "" : " ") + w;
    return text;
}

Words concat(std::initializer_list<Words> parts) {
    Words all;
    for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

TEST(PipCommand, EveryKindOfCallBuildsItsArgumentsAndPrintableCommand) {
    const std::string I = "/venv/bin/python";
    const std::string U = _index_url();
    const Words T = trusted_words();
    struct Case {
        const char* what;
        PipAction action;
        std::string token;
        OptionalText index_url;
        bool upgrade;
        Words extra;
        Words expected_tail;  // after I -m pip
    };
    const Case cases[] = {
        {"install pinned", PipAction::Install, "bundle-alder==1.2.3", U, false, {},
         concat({{"install", "bundle-alder==1.2.3", "--index-url", U}, T})},
        {"install connectors", PipAction::Install, "bundle-birch", U, false, {},
         concat({{"install", "bundle-birch", "--index-url", U}, T})},
        {"upgrade: hosts before --upgrade", PipAction::Install, "tessel-enterprise", U, true, {},
         concat({{"install", "tessel-enterprise", "--index-url", U}, T, {"--upgrade"}})},
        {"folder install: no index options", PipAction::Install, "bundle-alder", std::nullopt, false,
         {"--no-index", "--find-links", "out"},
         {"install", "bundle-alder", "--no-index", "--find-links", "out"}},
        {"empty index address counts as none", PipAction::Install, "bundle-alder", "", false, {},
         {"install", "bundle-alder"}},
        {"download: options after the hosts", PipAction::Download, "bundle-alder==1.1.0", U, false,
         {"--dest", "out", "--only-binary=:all:", "--platform", "win_amd64"},
         concat({{"download", "bundle-alder==1.1.0", "--index-url", U}, T,
                 {"--dest", "out", "--only-binary=:all:", "--platform", "win_amd64"}})},
        {"uninstall: the action is two words", PipAction::Uninstall, "bundle-cedar", std::nullopt, false,
         {}, {"uninstall", "-y", "bundle-cedar"}},
        {"upgrade with extra options last", PipAction::Install, "x", U, true, {"--pre"},
         concat({{"install", "x", "--index-url", U}, T, {"--upgrade", "--pre"}})},
    };
    for (const auto& tc : cases) {
        const PipCommand command = _build_pip_command({.interpreter = I,
                                                       .action = tc.action,
                                                       .package_token = tc.token,
                                                       .index_url = tc.index_url,
                                                       .upgrade = tc.upgrade,
                                                       .extra_options = tc.extra});
        EXPECT_EQ(command.argv, concat({{I, "-m", "pip"}, tc.expected_tail})) << tc.what;
        // The printable form names plain pip and keeps the action word as written.
        Words printed_tail = tc.expected_tail;
        if (tc.action == PipAction::Uninstall) {
            printed_tail.erase(printed_tail.begin(), printed_tail.begin() + 2);
            printed_tail.insert(printed_tail.begin(), "uninstall -y");
        }
        EXPECT_EQ(command.printable, "\npip " + joined(printed_tail)) << tc.what;
    }
}

TEST(PipCommand, ValuesWithBlanksStayOneArgumentAndPrintAsWritten) {
    const std::string interpreter = "/home/a user/my venv/bin/python";
    const std::string folder = "/tmp/wheel folder/out dir";
    const PipCommand command =
        _build_pip_command({.interpreter = interpreter,
                            .package_token = "bundle-alder",
                            .extra_options = {"--no-index", "--find-links", folder}});
    EXPECT_EQ(command.argv, (Words{interpreter, "-m", "pip", "install", "bundle-alder",
                                   "--no-index", "--find-links", folder}));
    EXPECT_EQ(command.printable,
              "\npip install bundle-alder --no-index --find-links /tmp/wheel folder/out dir");
}

TEST(DownloadOptions, OnlyBinaryOnceRightAfterTheDestination) {
    using Platforms = OptionalList;
    struct Case {
        Platforms platform;
        OptionalText python_version;
        Words expected;
    };
    const Case cases[] = {
        {std::nullopt, std::nullopt, {"--dest", "F"}},
        {Words{}, std::string(), {"--dest", "F"}},
        {Words{"A", "B"}, std::nullopt,
         {"--dest", "F", "--only-binary=:all:", "--platform", "A", "--platform", "B"}},
        {std::nullopt, "39", {"--dest", "F", "--only-binary=:all:", "--python-version", "39"}},
        {Words{"A"}, "39",
         {"--dest", "F", "--only-binary=:all:", "--platform", "A", "--python-version", "39"}},
        {Words{"A", "B"}, "3.11",
         {"--dest", "F", "--only-binary=:all:", "--platform", "A", "--platform", "B",
          "--python-version", "3.11"}},
    };
    for (const auto& tc : cases) {
        Request request;
        request.folder = "F";
        request.python_version = tc.python_version;
        request.platform = tc.platform;
        EXPECT_EQ(_download_options(request), tc.expected)
            << joined(tc.expected);
    }
    // A destination with a blank is one word.
    Request blank;
    blank.folder = "my out";
    EXPECT_EQ(_download_options(blank), (Words{"--dest", "my out"}));
}

class WheelFolder : public ::testing::Test {
protected:
    void touch(const std::string& name) { std::ofstream(root_ / name) << "x"; }

    const tessel_test::TempDir temp_{"tessel-wheels"};
    const fs::path root_ = temp_.path();
};

TEST_F(WheelFolder, ListsOnlyVisibleWheelEntriesDirectlyInside) {
    touch("bundle_alder-1.0.0-py3-none-any.whl");
    touch("tessel_enterprise-1.0.0-py3-none-any.whl");
    touch(".hidden-1.0-py3-none-any.whl");
    touch("readme.txt");
    touch("tessel_enterprise-1.0.0.tar.gz");
    touch("upper-1.0-py3-none-any.WHL");
    fs::create_directories(root_ / "sub");
    std::ofstream(root_ / "sub" / "bundle_cedar-1.0.0-py3-none-any.whl") << "x";

    const std::string folder = root_.string();
    Words wheels = _list_wheel_files(folder);
    std::sort(wheels.begin(), wheels.end());
    EXPECT_EQ(wheels, (Words{folder + "/bundle_alder-1.0.0-py3-none-any.whl",
                             folder + "/tessel_enterprise-1.0.0-py3-none-any.whl"}));
}

TEST_F(WheelFolder, TrailingSeparatorKeptAndAnUnreadableFolderIsAnError) {
    touch("bundle_alder-1.0.0-py3-none-any.whl");
    const std::string with_slash = root_.string() + "/";
    EXPECT_EQ(_list_wheel_files(with_slash),
              (Words{with_slash + "/bundle_alder-1.0.0-py3-none-any.whl"}));
    EXPECT_THROW(_list_wheel_files((root_ / "missing").string()), FileNotFoundError);
    try {
        _list_wheel_files((root_ / "bundle_alder-1.0.0-py3-none-any.whl").string());
        ADD_FAILURE() << "a file is no folder";
    } catch (const OSError& error) {
        EXPECT_NE(std::string(error.what()).find("bundle_alder-1.0.0-py3-none-any.whl'"),
                  std::string::npos)
            << error.what();
    }
}

}  // namespace
}  // namespace tessel_installer::installer
