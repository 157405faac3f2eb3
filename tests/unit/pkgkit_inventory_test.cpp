// The inventory against importlib.metadata in a real venv, and the newest-version query against a
// stand-in interpreter that records its command line.
#include <gtest/gtest.h>

#include "tessel_installer/constants.hpp"
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "test_support.hpp"
#include "tessel_installer/errors.hpp"
#include "tessel_installer/platform/process.hpp"
#include "tessel_installer/utils/pkgkit/pkgkit.hpp"

namespace fs = std::filesystem;
namespace platform = tessel_installer::platform;
namespace pkgkit = tessel_installer::pkgkit;

namespace {

using tessel_test::ScopedEnv;
using tessel_test::write_file;

class InventoryTest : public ::testing::Test {
protected:
    void SetUp() override {
#if defined(_WIN32)
        GTEST_SKIP() << "needs a real Linux venv and /bin/sh stand-in interpreters; under wine the "
                        "Windows end-to-end leg reads the inventory from the stand-in python.exe";
#endif
        env_.set("CONDA_PREFIX", std::nullopt);
    }

    static void dist_info(const fs::path& site, const std::string& dir_name, const std::string& name,
                          const std::string& version) {
        write_file(site / dir_name / "METADATA",
                   "Metadata-Version: 2.1\nName: " + name + "\nVersion: " + version + "\n\nbody\n");
    }

    const tessel_test::TempDir temp_{"tessel-inventory"};
    const fs::path dir_ = temp_.path();
    ScopedEnv env_;
};

using Pairs = std::vector<std::pair<std::string, std::string>>;

// What importlib.metadata itself enumerates in the venv, run from a neutral directory.
Pairs oracle_inventory(const fs::path& python) {
    auto done = platform::run(
        {python.string(), "-c",
         "import sys\n"
         "sys.path[:] = [p for p in sys.path if p != '']\n"
         "import importlib.metadata as m\n"
         "for d in m.distributions():\n"
         "    print(d.metadata['Name'] + '\\t' + d.metadata['Version'])\n"},
        {platform::Stream::Capture, platform::Stream::Capture});
    EXPECT_EQ(done.returncode, 0) << done.err;
    Pairs pairs;
    std::istringstream lines(done.out);
    for (std::string line; std::getline(lines, line);) {
        auto tab = line.find('\t');
        pairs.emplace_back(line.substr(0, tab), line.substr(tab + 1));
    }
    return pairs;
}

// A real venv with one distribution on sys.path twice (its own site-packages, and a second site
// directory that a .pth file adds), a legacy .egg-info distribution, and a name whose case and
// punctuation must survive untouched.
TEST_F(InventoryTest, MatchesImportlibMetadataInARealVenv) {
    fs::path venv = dir_ / "venv";
    auto made = platform::run({"/usr/bin/python3", "-m", "venv", "--without-pip", venv.string()},
                              {platform::Stream::Capture, platform::Stream::Capture});
    ASSERT_EQ(made.returncode, 0) << made.err;
    const fs::path python = venv / "bin" / "python";
    auto site_query = platform::run(
        {python.string(), "-c", "import sysconfig; print(sysconfig.get_paths()['purelib'], end='')"},
        {platform::Stream::Capture, platform::Stream::Capture});
    const fs::path site = site_query.out;
    const fs::path extra = dir_ / "extra site";

    dist_info(site, "Twice_Pkg-1.0.dist-info", "Twice_Pkg", "1.0");
    dist_info(site, "bundle_alder-2.1.0.dist-info", "bundle_Alder", "2.1.0");
    write_file(site / "Legacy.Thing-0.5-py3.11.egg-info" / "PKG-INFO",
               "Metadata-Version: 1.1\nName: Legacy.Thing\nVersion: 0.5\n");
    dist_info(extra, "Twice_Pkg-2.0.dist-info", "Twice_Pkg", "2.0.post1+local");
    write_file(site / "zz-extra.pth", extra.string() + "\n");
    env_.set("VIRTUAL_ENV", venv.string());
    // PYTHONPATH is part of the environment the user runs in (isolated mode would drop it).
    dist_info(dir_ / "pythonpath", "From_PythonPath-0.1.dist-info", "From_PythonPath", "0.1");
    env_.set("PYTHONPATH", (dir_ / "pythonpath").string());

    // A stray distribution in the working directory is not part of the environment.
    fs::path before = fs::current_path();
    dist_info(dir_ / "cwd", "Stray-9.9.dist-info", "Stray", "9.9");
    fs::current_path(dir_ / "cwd");
    std::vector<std::string> names = pkgkit::list_current_installed_packages();
    auto mapping = pkgkit::list_current_installed_packages_with_their_version();
    fs::current_path(before);

    const Pairs expected = oracle_inventory(python);
    ASSERT_EQ(expected.size(), 5u) << "the venv does not hold what the test built";
    std::vector<std::string> expected_names;
    for (const auto& [name, version] : expected) expected_names.push_back(name);
    EXPECT_EQ(names, expected_names);

    tessel_installer::OrderedMap<std::string> expected_mapping;
    for (const auto& [name, version] : expected) expected_mapping.set(name, version);
    EXPECT_EQ(mapping, expected_mapping);

    // What the oracle showed, spelled out: the duplicate listed twice, the later one winning.
    EXPECT_EQ(std::count(names.begin(), names.end(), "Twice_Pkg"), 2);
    EXPECT_EQ(mapping.size(), 4u);
    EXPECT_EQ(names.front(), "From_PythonPath");  // PYTHONPATH comes before the site directories
    EXPECT_EQ(mapping.get("Twice_Pkg"), "2.0.post1+local");
    EXPECT_EQ(mapping.get("Legacy.Thing"), "0.5");
    EXPECT_EQ(mapping.get("bundle_Alder"), "2.1.0");
    EXPECT_FALSE(mapping.contains("Stray"));

    // A second snapshot sees what was installed in between.
    dist_info(site, "bundle_birch-1.0.dist-info", "bundle-birch", "1.0");
    std::vector<std::string> after = pkgkit::list_current_installed_packages();
    EXPECT_EQ(after.size(), names.size() + 1);
    EXPECT_NE(std::find(after.begin(), after.end(), "bundle-birch"), after.end());
}

// Distributions without a name have nothing to be listed by and are left out; one without a
// version keeps its name with an empty version. Names are taken byte for byte, non-ASCII too.
TEST_F(InventoryTest, IncompleteAndUnusualMetadata) {
    fs::path venv = dir_ / "venv";
    ASSERT_EQ(platform::run({"/usr/bin/python3", "-m", "venv", "--without-pip", venv.string()}).returncode,
              0);
    const fs::path python = venv / "bin" / "python";
    auto site_query = platform::run(
        {python.string(), "-c", "import sysconfig; print(sysconfig.get_paths()['purelib'], end='')"},
        {platform::Stream::Capture, platform::Stream::Capture});
    const fs::path site = site_query.out;
    write_file(site / "noname-1.0.dist-info" / "METADATA", "Metadata-Version: 2.1\nVersion: 1.0\n");
    write_file(site / "noversion-1.0.dist-info" / "METADATA",
               "Metadata-Version: 2.1\nName: NoVersion\n");
    fs::create_directories(site / "empty-1.0.dist-info");
    dist_info(site, "caf-1.0.dist-info", "Caf\xc3\xa9:Odd 12", "1.0");
    env_.set("VIRTUAL_ENV", venv.string());

    auto mapping = pkgkit::list_current_installed_packages_with_their_version();
    EXPECT_EQ(mapping.size(), 2u);
    EXPECT_EQ(mapping.get("NoVersion"), "");
    EXPECT_EQ(mapping.get("Caf\xc3\xa9:Odd 12"), "1.0");
}

// ---- get_latest_package_version ------------------------------------------------------------

class LatestVersionTest : public InventoryTest {
protected:
    void SetUp() override {
        InventoryTest::SetUp();
        if (IsSkipped()) return;
        // A stand-in interpreter: records its arguments, prints the prepared output, exits with
        // the prepared status.
        tessel_test::write_script(dir_ / "venv" / "bin" / "python",
                                  "d=$(dirname \"$0\")\n"
                                  "printf '%s\\n' \"$@\" > \"$d/args\"\n"
                                  "cat \"$d/out\"\n"
                                  "echo 'pip noise on stderr' >&2\n"
                                  "exit $(cat \"$d/status\")");
        env_.set("VIRTUAL_ENV", (dir_ / "venv").string());
    }

    void prepare(const std::string& out, int status) {
        write_file(dir_ / "venv" / "bin" / "out", out);
        write_file(dir_ / "venv" / "bin" / "status", std::to_string(status));
    }

    std::string recorded_args() {
        std::ifstream in(dir_ / "venv" / "bin" / "args");
        std::string all, line;
        while (std::getline(in, line)) all += (all.empty() ? "" : " ") + line;
        return all;
    }
};

std::string trusted_hosts() {
    std::string words;
    for (const auto host : tessel_installer::constants::TRUSTED_HOSTS) words += " --trusted-host " + std::string(host);
    return words;
}

TEST_F(LatestVersionTest, CommandLine) {
    struct Case {
        std::optional<std::string> index_url;
        std::string args;
    };
    for (const Case& c : {Case{std::nullopt, "-m pip index versions bundle-alder"},
                          Case{std::string(), "-m pip index versions bundle-alder"},
                          Case{std::string("https://127.0.0.1:18443/"),
                               "-m pip index versions bundle-alder --index-url https://127.0.0.1:18443/" +
                                   trusted_hosts()}}) {
        prepare("Available versions: 1.0\n", 0);
        EXPECT_EQ(pkgkit::get_latest_package_version("bundle-alder", c.index_url), "1.0");
        EXPECT_EQ(recorded_args(), c.args);
    }
}

TEST_F(LatestVersionTest, OutputParsing) {
    struct Case {
        const char* what;
        std::string out;
        int status;
        std::optional<std::string> expected;
    };
    const std::vector<Case> cases{
        {"pip's usual output", "bundle-alder (2.1.0)\nAvailable versions: 2.1.0, 2.0.3, 1.9.0\n", 0,
         "2.1.0"},
        {"single version, no newline", "Available versions: 3.0", 0, "3.0"},
        {"CRLF line ends", "bundle-alder (2.1.0)\r\nAvailable versions: 2.1.0, 2.0.3\r\n", 0, "2.1.0"},
        {"lone CR line ends", "x (1)\rAvailable versions: 4.0, 3.0\r", 0, "4.0"},
        {"first matching line wins", "Available versions: 1.0\nAvailable versions: 2.0\n", 0, "1.0"},
        {"blanks around the piece dropped", "Available versions: 2.1.0 ,2.0\n", 0, "2.1.0"},
        {"every occurrence removed", "Available versions: 1.0Available versions: 2.0, 3\n", 0,
         "1.02.0"},
        {"failed run, whatever it printed", "Available versions: 2.1.0\n", 1, std::nullopt},
        {"failed run, nothing printed", "", 2, std::nullopt},
    };
    for (const Case& c : cases) {
        prepare(c.out, c.status);
        EXPECT_EQ(pkgkit::get_latest_package_version("bundle-alder"), c.expected) << c.what;
    }
}

TEST_F(LatestVersionTest, SuccessWithoutTheLineIsAnError) {
    for (const std::string out : {"WARNING: nothing useful\n", " Available versions: 1.0\n", ""}) {
        prepare(out, 0);
        try {
            pkgkit::get_latest_package_version("bundle-alder");
            ADD_FAILURE() << "no error for: " << out;
        } catch (const tessel_installer::RuntimeError& e) {
            std::string message = e.what();
            EXPECT_NE(message.find("pip index versions bundle-alder"), std::string::npos) << message;
            EXPECT_NE(message.find(out), std::string::npos) << message;
        }
    }
}

}  // namespace
