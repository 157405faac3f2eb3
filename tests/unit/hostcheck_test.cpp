// The requirements check: the release-file reading, the validation table, the report text, and a
// real run against this machine's interpreter.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <climits>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "test_support.hpp"
#include "tessel_installer/errors.hpp"
#include "tessel_installer/platform/process.hpp"
#include "tessel_installer/utils/hostcheck/hostcheck.hpp"

namespace fs = std::filesystem;
namespace hostcheck = tessel_installer::hostcheck;
namespace platform = tessel_installer::platform;
namespace pkgkit = tessel_installer::pkgkit;
using Strings = std::vector<std::string>;

namespace {

using tessel_test::ScopedEnv;

TEST(ReleaseText, PrettyNameInEveryQuoting) {
    struct Case {
        const char* what;
        std::string text;
        std::optional<std::string> expected;
    };
    const std::vector<Case> cases{
        {"double quotes (what real systems write)",
         "NAME=\"Debian GNU/Linux\"\nPRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\nID=debian",
         "Debian GNU/Linux 12 (bookworm)"},
        {"single quotes", "PRETTY_NAME='Example Linux 1.0'", "Example Linux 1.0"},
        {"bare value", "ID=arch\nPRETTY_NAME=Arch\nBUILD_ID=rolling", "Arch"},
        {"empty value names nothing", "PRETTY_NAME=\nID=x", std::nullopt},
        {"empty quotes name nothing", "PRETTY_NAME=\"\"", std::nullopt},
        {"an empty value gives way to a later file's",
         "PRETTY_NAME=\nDISTRIB_ID=x\nPRETTY_NAME=\"Later Linux\"", "Later Linux"},
        {"first named wins", "PRETTY_NAME='First'\nPRETTY_NAME=\"Second\"", "First"},
        {"quoted value runs to the last quote of the line", "PRETTY_NAME='It's 1.0'", "It's 1.0"},
        {"escapes inside double quotes", "PRETTY_NAME=\"Say \\\"hi\\\" \\$5 \\\\ ok\"",
         "Say \"hi\" $5 \\ ok"},
        {"unclosed quote is skipped", "PRETTY_NAME=\"broken\nPRETTY_NAME=Fine", "Fine"},
        {"CRLF line ends", "NAME=x\r\nPRETTY_NAME=\"Windows-edited Linux\"\r\nID=y\r\n",
         "Windows-edited Linux"},
        {"trailing blanks after the value", "PRETTY_NAME=\"Spaced\"   \nX=1", "Spaced"},
        {"leading blanks before the key", "  PRETTY_NAME=\"Indented\"", "Indented"},
        {"another key ending in the name", "DISTRIB_PRETTY_NAME=\"No\"\nNAME=x", std::nullopt},
        {"no such line", "NAME=\"Debian\"\nID=debian\n", std::nullopt},
        {"empty text", "", std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(hostcheck::_find_pretty_name(c.text), c.expected) << c.what;
    }
}

TEST(ReleaseText, MajorComponentAndPlatformTag) {
    const std::map<std::string, std::string> majors{
        {"6.5.0-21-generic", "6"}, {"10.0.22631", "10"}, {"14.4.1", "14"}, {"14", "14"}, {"", ""}};
    for (const auto& [version, major] : majors) {
        EXPECT_EQ(hostcheck::_major_component(version), major) << version;
    }
    const std::map<std::string, std::string> tags{{"macosx-11.0-arm64", "macosx_11_0_arm64"},
                                                  {"macosx-10.9-universal2", "macosx_10_9_universal2"},
                                                  {"linux-x86_64", "linux_x86_64"},
                                                  {"win-amd64", "win_amd64"}};
    for (const auto& [build, tag] : tags) EXPECT_EQ(hostcheck::_platform_tag_from(build), tag);
}

tessel_installer::pyenv::InterpreterFacts facts(int major, int minor, std::string text,
                                                unsigned long long maxsize) {
    tessel_installer::pyenv::InterpreterFacts f;
    f.platform_id = "linux";
    f.major = major;
    f.minor = minor;
    f.version_text = std::move(text);
    f.maxsize = maxsize;
    f.build_platform = "linux-x86_64";
    f.pip_version = "24.0";
    return f;
}

hostcheck::OsInfo linux_os() { return {"Linux", "6", std::string("Example Linux 1.0"), true}; }

constexpr unsigned long long k64 = 9223372036854775807ULL;
constexpr unsigned long long k32 = 2147483647ULL;

TEST(Validation, InterpreterVersionAndBitness) {
    struct Case {
        int major, minor;
        const char* text;
        unsigned long long maxsize;
        Strings errors;
    };
    const std::vector<Case> cases{
        {3, 7, "3.7.17", k64, {"python_version"}},
        {3, 8, "3.8.0", k64, {}},
        {3, 10, "3.10.12", k64, {}},  // 3.10 is above 3.8 although "3.10" < "3.8" as text
        {3, 12, "3.12.1", k64, {}},
        {3, 13, "3.13.9", k64, {}},
        {3, 14, "3.14.0", k64, {"python_version"}},
        {4, 0, "4.0.0", k64, {"python_version"}},
        {2, 7, "2.7.18", k64, {"python_version"}},
        {3, 12, "3.12.1", k32, {"system_bit"}},
        {3, 14, "3.14.0", k32, {"python_version", "system_bit"}},
        {3, 12, "3.12.1", 4294967296ULL, {"system_bit"}},  // exactly 2**32 is not above it
        {3, 12, "3.12.1", 4294967297ULL, {}},
    };
    for (const Case& c : cases) {
        auto f = facts(c.major, c.minor, c.text, c.maxsize);
        auto info = hostcheck::_system_info_from(linux_os(), "x86_64", f, "");
        EXPECT_EQ(hostcheck::validate_hostcheck(
                      info, hostcheck::_python_version_code(c.major, c.minor)),
                  c.errors)
            << c.text << " maxsize " << c.maxsize;
    }
    EXPECT_EQ(hostcheck::_python_version_code(3, 13), *pkgkit::parse_version("3.13.0"));
}

TEST(Validation, TheRecordFromTheFacts) {
    auto info = hostcheck::_system_info_from(linux_os(), "aarch64", facts(3, 12, "3.12.1rc1", k64),
                                             "proc");
    EXPECT_EQ(info.os_system, "Linux");
    EXPECT_EQ(info.os_version, "6");
    EXPECT_EQ(info.linux_distro, "Example Linux 1.0");
    EXPECT_EQ(info.architecture, "aarch64");
    EXPECT_EQ(info.python_version, "3.12.1rc1");
    EXPECT_EQ(info.system_bit, "64-bit");
    EXPECT_EQ(info.pip_version, "24.0");
    EXPECT_EQ(info.platform_tag, "linux_x86_64");
    EXPECT_EQ(info.processor, "proc");
    EXPECT_TRUE(info.is_linux);

    auto no_pip = facts(3, 12, "3.12.1", k64);
    no_pip.pip_version.clear();
    EXPECT_THROW(hostcheck::_system_info_from(linux_os(), "x86_64", no_pip, ""),
                 tessel_installer::RuntimeError);
}

std::string report(const hostcheck::SystemInfo& info, const Strings& errors, int* status) {
    ::testing::internal::CaptureStdout();
    *status = hostcheck::_print_report(info, errors);
    return ::testing::internal::GetCapturedStdout();
}

TEST(Report, PassingAndFailing) {
    const std::string failing_tail =
        "\nResult: Failed\n"
        "Your system may not meet the technical requirements for Tessel Enterprise. Please check "
        "the items marked by (!) and try updating the Tessel Installer if something doesn't seem "
        "right.\n"
        "The most up-to-date requirements are on the Tessel Enterprise docs site.\n";
    struct Case {
        const char* what;
        hostcheck::OsInfo os;
        tessel_installer::pyenv::InterpreterFacts f;
        int status;
        std::string expected;
    };
    const std::vector<Case> cases{
        {"passing, with the distribution", linux_os(), facts(3, 12, "3.12.1", k64), 0,
         "Operating system: Linux\nOS Version: 6\nLinux Distribution: Example Linux 1.0\n"
         "Architecture: x86_64\nPython Version: 3.12.1\nSystem bit: 64-bit\nPip version: 24.0\n"
         "\nResult: Passed\n"
         "Your system meets the technical requirements for Tessel Enterprise.\n"},
        {"too new an interpreter", linux_os(), facts(3, 14, "3.14.0", k64), 1,
         "Operating system: Linux\nOS Version: 6\nLinux Distribution: Example Linux 1.0\n"
         "Architecture: x86_64\nPython Version: 3.14.0 (!)\nSystem bit: 64-bit\n"
         "Pip version: 24.0\n" + failing_tail},
        {"both failing, no distribution found", {"Linux", "6", std::nullopt, true},
         facts(3, 7, "3.7.9", k32), 1,
         "Operating system: Linux\nOS Version: 6\nArchitecture: x86_64\n"
         "Python Version: 3.7.9 (!)\nSystem bit: 32-bit (!)\nPip version: 24.0\n" + failing_tail},
        {"not Linux: no distribution line", {"macOS", "14", std::string("ignored"), false},
         facts(3, 12, "3.12.1", k64), 0,
         "Operating system: macOS\nOS Version: 14\nArchitecture: x86_64\n"
         "Python Version: 3.12.1\nSystem bit: 64-bit\nPip version: 24.0\n\nResult: Passed\n"
         "Your system meets the technical requirements for Tessel Enterprise.\n"},
        {"empty distribution: no line", {"Linux", "6", std::string(), true},
         facts(3, 12, "3.12.1", k64), 0,
         "Operating system: Linux\nOS Version: 6\nArchitecture: x86_64\n"
         "Python Version: 3.12.1\nSystem bit: 64-bit\nPip version: 24.0\n\nResult: Passed\n"
         "Your system meets the technical requirements for Tessel Enterprise.\n"},
    };
    for (const Case& c : cases) {
        auto info = hostcheck::_system_info_from(c.os, "x86_64", c.f, "");
        auto errors = hostcheck::validate_hostcheck(info, hostcheck::_python_version_code(c.f.major, c.f.minor));
        int status = -1;
        EXPECT_EQ(report(info, errors, &status), c.expected) << c.what;
        EXPECT_EQ(status, c.status) << c.what;
    }
}

// ---- A real run ------------------------------------------------------------------------------

class RealCheck : public ::testing::Test {
protected:
    void SetUp() override {
#if defined(_WIN32)
        GTEST_SKIP() << "needs the machine's real Python, and there is no Windows Python under wine; "
                        "the end-to-end leg runs check-requirements with the stand-in python.exe";
#endif
        env_.set("VIRTUAL_ENV", std::nullopt);
        env_.set("CONDA_PREFIX", std::nullopt);
    }
    const tessel_test::TempDir temp_{"tessel-hostcheck"};
    const fs::path dir_ = temp_.path();
    ScopedEnv env_;
};

// The report on this machine's Debian interpreter (which has pip), with the expected lines read
// from the interpreter itself: the distribution from its os-release reader, the versions from
// its own modules and metadata.
TEST_F(RealCheck, TheReportOnThisMachine) {
    fs::create_directories(dir_ / "bin");
    fs::create_symlink("/usr/bin/python3", dir_ / "bin" / "python3");
    env_.set("PATH", (dir_ / "bin").string() + ":/usr/bin:/bin");
    // Debian's own interpreter outside a venv is externally managed; pip's own opt-out keeps
    // this report to the machine's facts (the pre-flight has tests of its own).
    env_.set("PIP_BREAK_SYSTEM_PACKAGES", "1");
    env_.set("PIP_REQUIRE_VIRTUALENV", std::nullopt);
    auto oracle = platform::run(
        {"/usr/bin/python3", "-c",
         "import platform, importlib.metadata as m\n"
         "print(platform.system())\n"
         "print(platform.release().split('.')[0])\n"
         "print(platform.freedesktop_os_release().get('PRETTY_NAME', ''))\n"
         "print(platform.machine().lower())\n"
         "print(platform.python_version())\n"
         "print(m.version('pip'))\n"},
        {platform::Stream::Capture, platform::Stream::Capture});
    ASSERT_EQ(oracle.returncode, 0) << oracle.err;
    Strings lines;
    for (std::size_t start = 0; start < oracle.out.size();) {
        std::size_t end = oracle.out.find('\n', start);
        lines.push_back(oracle.out.substr(start, end - start));
        start = end + 1;
    }
    ASSERT_EQ(lines.size(), 6u);

    ::testing::internal::CaptureStdout();
    int status = hostcheck::print_check_results();
    std::string out = ::testing::internal::GetCapturedStdout();

    std::string expected = "Verifying system requirements for Tessel Enterprise: \n\n"
                           "Operating system: " + lines[0] + "\nOS Version: " + lines[1] + "\n";
    if (!lines[2].empty()) expected += "Linux Distribution: " + lines[2] + "\n";
    expected += "Architecture: " + lines[3] + "\nPython Version: " + lines[4] +
                "\nSystem bit: 64-bit\nPip version: " + lines[5] +
                "\n\nResult: Passed\n"
                "Your system meets the technical requirements for Tessel Enterprise.\n";
    EXPECT_EQ(out, expected);
    EXPECT_EQ(status, 0);
}

// A venv without pip cannot give pip's version: an error, after the heading.
TEST_F(RealCheck, AVenvWithoutPipIsAnError) {
    fs::path venv = dir_ / "venv";
    ASSERT_EQ(platform::run({"/usr/bin/python3", "-m", "venv", "--without-pip", venv.string()}).returncode,
              0);
    env_.set("VIRTUAL_ENV", venv.string());
    ::testing::internal::CaptureStdout();
    std::string message;
    try {
        hostcheck::print_check_results();
    } catch (const tessel_installer::RuntimeError& e) {
        message = e.what();
    }
    std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(out, "Verifying system requirements for Tessel Enterprise: \n\n");
    EXPECT_NE(message.find("pip is not installed"), std::string::npos) << message;
}

}  // namespace
