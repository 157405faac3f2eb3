// The per-user data directory against pip's own platformdirs, and the executable's directory.
#include "tessel_installer/platform/paths.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "test_support.hpp"

namespace fs = std::filesystem;
using tessel_installer::platform::executable_dir;
using tessel_installer::platform::user_data_dir;

namespace {

// The child half of ExecutableDirHoldsThisTestThroughALink: started with the variable set, the
// program prints its directory and ends before any test runs.
[[maybe_unused]] const bool kPrintedExecutableDir = [] {
    if (std::getenv("TESSEL_PRINT_EXECUTABLE_DIR") == nullptr) return false;
    std::printf("executable_dir=%s\n", executable_dir().c_str());
    std::fflush(stdout);
    std::_Exit(0);
}();

constexpr const char* kApp = "Tessel-Installer";
constexpr const char* kAuthor = "Mirralune";

// What pip's platformdirs answers in a real child that inherits our environment.
std::string oracle_user_data_dir() {
    return tessel_test::command_output(
               "/usr/bin/python3 -c \"import sys; from pip._vendor import platformdirs; "
               "sys.stdout.write(platformdirs.user_data_dir(appname='Tessel-Installer', "
               "appauthor='Mirralune'))\"")
        .value_or("<oracle failed>");
}

struct DirCase {
    const char* label;
    std::optional<std::string> xdg_data_home;  // nullopt: unset
    std::optional<std::string> home;           // nullopt: unset
    const char* expected;                      // nullptr: only compared with the oracle
    // platformdirs takes a relative XDG_DATA_HOME as written; we ignore it, as XDG requires.
    bool oracle_agrees = true;
};

const DirCase kDirCases[] = {
    {"xdg absolute", "/srv/data", "/home/ann", "/srv/data/Tessel-Installer"},
    {"xdg trailing slash", "/srv/data/", "/home/ann", "/srv/data/Tessel-Installer"},
    {"xdg empty falls back to home", "", "/home/ann", "/home/ann/.local/share/Tessel-Installer"},
    {"xdg blanks fall back to home", " \t ", "/home/ann",
     "/home/ann/.local/share/Tessel-Installer"},
    {"xdg unset", std::nullopt, "/home/ann", "/home/ann/.local/share/Tessel-Installer"},
    {"home trailing slash", std::nullopt, "/home/ann/", "/home/ann/.local/share/Tessel-Installer"},
    {"home is root", std::nullopt, "/", "/.local/share/Tessel-Installer"},
    {"home empty", std::nullopt, "", "/.local/share/Tessel-Installer"},
    {"xdg relative ignored", "rel/data", "/home/ann", "/home/ann/.local/share/Tessel-Installer",
     false},
    {"xdg dot-relative ignored", "./data", "/home/ann", "/home/ann/.local/share/Tessel-Installer",
     false},
    {"xdg tilde is relative", "~/data", "/home/ann", "/home/ann/.local/share/Tessel-Installer",
     false},
    {"xdg blank before absolute is relative", " /srv/data", "/home/ann",
     "/home/ann/.local/share/Tessel-Installer", false},
    {"xdg with blanks inside", "/srv/my data", "/home/ann", "/srv/my data/Tessel-Installer"},
    // Without HOME the password database decides; only the oracle knows the answer here.
    {"home unset", std::nullopt, std::nullopt, nullptr},
};

TEST(PlatformPathsTest, UserDataDirFollowsXdgAndHome) {
    for (const auto& c : kDirCases) {
        SCOPED_TRACE(c.label);
        tessel_test::ScopedEnv env;
        env.set("XDG_DATA_HOME", c.xdg_data_home);
        env.set("HOME", c.home);
        const fs::path got = user_data_dir(kApp, kAuthor);
        if (c.expected != nullptr) {
            EXPECT_EQ(got.string(), c.expected);
        }
        if (c.oracle_agrees) {
            EXPECT_EQ(got.string(), oracle_user_data_dir());
        }
    }
}

TEST(PlatformPathsTest, UserDataDirWithoutHomeUsesPasswordDatabase) {
    tessel_test::ScopedEnv env;
    env.set("XDG_DATA_HOME", std::nullopt);
    env.set("HOME", std::nullopt);
    const fs::path got = user_data_dir(kApp, kAuthor);
    EXPECT_EQ(got.filename(), kApp);
    EXPECT_EQ(got.parent_path().filename(), "share");
    EXPECT_TRUE(got.is_absolute()) << got;
}

TEST(PlatformPathsTest, UserDataDirIsOnlyComputed) {
    const tessel_test::TempDir root("tessel-paths");
    tessel_test::ScopedEnv env;
    env.set("XDG_DATA_HOME", (root.path() / "not-yet").string());
    EXPECT_EQ(user_data_dir(kApp, kAuthor), root.path() / "not-yet" / kApp);
    EXPECT_FALSE(fs::exists(root.path() / "not-yet"));
}

TEST(PlatformPathsTest, ExecutableDirHoldsThisTestThroughALink) {
    const fs::path dir = executable_dir();
    EXPECT_TRUE(dir.is_absolute());
    EXPECT_TRUE(fs::exists(dir / "platform_paths_test")) << dir;

    // Started through a symbolic link elsewhere, a child still reports the real directory.
    const tessel_test::TempDir root("tessel-paths");
    const fs::path link = root.path() / "linked-test";
    fs::create_symlink(dir / "platform_paths_test", link);
    tessel_test::ScopedEnv env;
    env.set("TESSEL_PRINT_EXECUTABLE_DIR", "1");
    const auto out = tessel_test::command_output(link.string() + " 2>/dev/null");
    ASSERT_TRUE(out.has_value());
    EXPECT_NE(out->find("executable_dir=" + dir.string() + "\n"), std::string::npos) << *out;
}

}  // namespace
