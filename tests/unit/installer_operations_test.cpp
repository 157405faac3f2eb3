// The public operations that need no package service, against an in-process stand-in environment:
// the install from a wheel folder and the uninstall from the record of installed packages, their
// output and their exit statuses.
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "test_support.hpp"
#include "engine_fake.hpp"
#include "tessel_installer/constants.hpp"
#include "tessel_installer/errors.hpp"
#include "tessel_installer/installation/engine.hpp"
#include "tessel_installer/installation/installer.hpp"
#include "tessel_installer/utils/pkgkit/unicode_text.hpp"

namespace tessel_installer::installer {
namespace {

namespace fs = std::filesystem;
using testing::Calls;
using tessel_test::CapturedStdout;
using testing::FakeEnvironment;
using testing::Words;

const std::string SUCCESS_SUMMARY =
    "\n" + std::string(*constants::SUMMARY_SUCCESS_MESSAGE.find("install")) + "\n";
const std::string WARNING_SUMMARY =
    "\n" + std::string(*constants::SUMMARY_WARNING_MESSAGE.find("install")) + "\n";

// A wheel folder whose path holds blanks, inside the fake environment.
// A request to install from the folder; Request's settings keep their defaults.
Request from_folder(const std::string& folder, OptionalText package = std::nullopt,
                    OptionalList options = std::nullopt) {
    Request request;
    request.folder = folder;
    request.package = std::move(package);
    request.options = std::move(options);
    return request;
}

std::string make_folder(const FakeEnvironment& env, const Words& files) {
    const fs::path folder = env.root() / "wheel folder" / "out dir";
    fs::create_directories(folder);
    for (const auto& file : files) std::ofstream(folder / file) << "not a real wheel";
    return folder.string();
}

const Words FOLDER_FILES{"tessel_enterprise-1.0.0-py3-none-any.whl",
                         "bundle_alder-1.1.0-py3-none-any.whl",
                         "tessel_common_utils-1.4.0-py3-none-any.whl", "notes.txt"};

TEST(FolderInstall, InstallsTheManagedWheelsBaseFirstEachFolderOneArgument) {
    FakeEnvironment env;
    const std::string folder = make_folder(env, FOLDER_FILES);
    CapturedStdout out;
    EXPECT_EQ(install_packages_from_folder(from_folder(folder), env), 0);
    const std::string text = testing::without_frames(out.text());
    EXPECT_EQ(env.pip_calls(),
              (Calls{{"install", "tessel-enterprise", "--no-index", "--find-links", folder},
                     {"install", "bundle-alder", "--no-index", "--find-links", folder}}));
    EXPECT_EQ(text,
              "Notice! The folder has no manifest (tessel-bundle.json); its files were not "
              "verified.\n"
              "\nInstalling Tessel Enterprise:\n"
              "\rtessel-enterprise - Installed!\n"
              "\nInstalling Bundles:\n"
              "\rbundle-alder - Installed!\n" +
                  SUCCESS_SUMMARY);
    // Recorded as an online install is, so that an uninstall offline needs no catalogue.
    EXPECT_EQ(env.record(), "tessel-enterprise\nbundle-alder\n");
}

TEST(FolderInstall, NamedPackageWithOptionsAndTheAdditionalDependenciesNote) {
    FakeEnvironment env;
    env.rule("bundle-alder", "brings:tessel-enterprise");
    const std::string folder = make_folder(env, FOLDER_FILES);
    {
        CapturedStdout out;
        EXPECT_EQ(install_packages_from_folder(from_folder(folder, "bundle-alder"), env), 0);
        const std::string text = out.text();
        EXPECT_NE(text.find("\nNote: This package has additional required dependencies that were "
                            "also installed (tessel-enterprise).\n"),
                  std::string::npos)
            << text;
    }
    CapturedStdout out;
    EXPECT_EQ(install_packages_from_folder(
                  from_folder(folder, "tessel-enterprise", Words{"alder", "birch"}), env), 0);
    out.text();
    const Calls calls = env.pip_calls();
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[1][1], "tessel-enterprise[alder]");
    EXPECT_EQ(calls[2][1], "tessel-enterprise[birch]");
}

TEST(FolderInstall, RequestedPackageNotInTheFolderIsAWarningAndStatusOne) {
    // Not there, written differently from the normalised names, or a text pip would read as an
    // option: all end in the same warning, and no pip child.
    for (const std::string package :
         {"bundle-cedar", "Tessel_Enterprise", "-r/etc/passwd", "--index-url=http://x/"}) {
        FakeEnvironment env;
        const std::string folder = make_folder(env, FOLDER_FILES);
        CapturedStdout out;
        EXPECT_EQ(install_packages_from_folder(from_folder(folder, package), env), 1) << package;
        EXPECT_EQ(out.text(), "\nWarning: We couldn\u2019t find the requested package: '" + package +
                                  "' in the provided folder, no packages were installed.\n");
        EXPECT_TRUE(env.pip_calls().empty()) << package;
    }
}

TEST(FolderInstall, FailedPackageGivesStatusOneAfterTheWholeRun) {
    FakeEnvironment env;
    env.rule("tessel-enterprise", "1");
    const std::string folder = make_folder(env, FOLDER_FILES);
    CapturedStdout out;
    EXPECT_EQ(install_packages_from_folder(from_folder(folder), env), 1);
    const std::string text = out.text();
    EXPECT_EQ(env.pip_calls().size(), 2u);
    EXPECT_NE(text.find("\rbundle-alder - Installed!\n"), std::string::npos);
    EXPECT_TRUE(text.size() >= WARNING_SUMMARY.size() &&
                text.compare(text.size() - WARNING_SUMMARY.size(), WARNING_SUMMARY.size(),
                             WARNING_SUMMARY) == 0)
        << text;
}

TEST(FolderInstall, MalformedWheelNameStopsBeforeAnything) {
    FakeEnvironment env;
    Words files = FOLDER_FILES;
    files.push_back("broken.whl");
    const std::string folder = make_folder(env, files);
    CapturedStdout out;
    EXPECT_THROW(install_packages_from_folder(from_folder(folder), env), ValueError);
    EXPECT_EQ(out.text(), "");
    EXPECT_TRUE(env.pip_calls().empty());
}

TEST(FolderInstall, EmptyOrMissingFolderRunsNothingAndFails) {
    FakeEnvironment env;
    CapturedStdout out;
    EXPECT_THROW(install_packages_from_folder(from_folder((env.root() / "missing").string()), env),
                 FileNotFoundError);
    const std::string empty = make_folder(env, {"readme.txt"});
    EXPECT_EQ(install_packages_from_folder(from_folder(empty), env), 1);
    EXPECT_TRUE(env.pip_calls().empty());
    EXPECT_EQ(out.text(), "No packages found to install in the folder " +
                              pkgkit::text::quote_for_message(empty) + ".\n");
}

TEST(UninstallFromRecord, InvalidRecordedNamesAreSkippedWithAWarning) {
    FakeEnvironment env;
    env.install("bundle-alder", "1.0");
    env.write_record("-r/etc/passwd\nbundle-alder\n--index-url=http://x/\n");
    CapturedStdout out;
    EXPECT_EQ(uninstall_packages({}, env), 0);
    const std::string text = testing::without_frames(out.text());
    EXPECT_EQ(env.pip_calls(), (Calls{{"uninstall", "-y", "bundle-alder"}}));
    EXPECT_EQ(text,
              "Warning: Skipping '--index-url=http://x/' in the record of installed packages: "
              "not a valid package name.\n"
              "Warning: Skipping '-r/etc/passwd' in the record of installed packages: not a "
              "valid package name.\n"
              "Uninstalling:\n"
              "\rbundle-alder - Uninstalled!\n");
}

TEST(UninstallFromRecord, NothingToDoIsStatusZeroAndAFailedChildIsOne) {
    struct Case {
        const char* what;
        std::string record;
        bool installed;
        const char* rule;
        int status;
        std::size_t calls;
    };
    const Case cases[] = {
        {"empty record: no fallback to the catalogue", "", true, "", 0, 0},
        {"recorded names not installed", "bundle-cedar\n", true, "", 0, 0},
        {"names compare exactly", "Bundle-Alder\n", true, "", 0, 0},
        {"every known name goes to pip, installed or not", "bundle-alder\nbundle-cedar\n", true,
         "", 0, 2},
        {"a failed uninstall child", "bundle-alder\n", true, "4", 1, 1},
    };
    for (const auto& tc : cases) {
        FakeEnvironment env;
        if (tc.installed) env.install("bundle-alder", "1.0");
        if (*tc.rule != '\0') env.rule("bundle-alder", tc.rule);
        env.write_record(tc.record);
        CapturedStdout out;
        EXPECT_EQ(uninstall_packages({}, env), tc.status) << tc.what;
        const std::string text = out.text();
        EXPECT_EQ(env.pip_calls().size(), tc.calls) << tc.what;
        if (tc.calls == 0) {
            EXPECT_EQ(text, "No packages found to uninstall.\n") << tc.what;
        }
    }
}

}  // namespace
}  // namespace tessel_installer::installer
