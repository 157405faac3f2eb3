// The target interpreter: how it is found, and the facts read from it, against real interpreters
// in fresh temporary directories.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <climits>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <string>

#include "scoped_env.hpp"
#include "tessel_installer/errors.hpp"
#include "tessel_installer/platform/process.hpp"
#include "tessel_installer/pyenv.hpp"

namespace fs = std::filesystem;
namespace pyenv = tessel_installer::pyenv;
namespace platform = tessel_installer::platform;
using tessel_installer::RuntimeError;

namespace {

using tessel_test::ScopedEnv;

const char* const kBasePython = "/usr/bin/python3";

class PyenvTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = tessel_test::make_temp_dir("tessel-pyenv");
        ASSERT_FALSE(dir_.empty());
    }
    void TearDown() override {
        if (!HasFailure()) fs::remove_all(dir_);
    }

    void executable(const fs::path& path, const std::string& body) {
        fs::create_directories(path.parent_path());
        std::ofstream(path) << "#!/bin/sh\n" << body << "\n";
        fs::permissions(path, fs::perms(0755));
    }

    // A real venv of the base interpreter, without pip (the fast kind).
    fs::path make_venv(const std::string& name) {
        fs::path venv = dir_ / name;
        auto done = platform::run({kBasePython, "-m", "venv", "--without-pip", venv.string()},
                                  {platform::Stream::Capture, platform::Stream::Capture});
        EXPECT_EQ(done.returncode, 0) << done.err;
        return venv;
    }

    std::string oracle(const fs::path& python, const std::string& code) {
        auto done = platform::run({python.string(), "-c", code},
                                  {platform::Stream::Capture, platform::Stream::Capture});
        EXPECT_EQ(done.returncode, 0) << done.err;
        return done.out;
    }

    fs::path dir_;
    ScopedEnv env_;
};

TEST_F(PyenvTest, InterpreterDiscovery) {
    fs::create_directories(dir_ / "both");
    fs::create_directories(dir_ / "only-python");
    fs::create_directories(dir_ / "only-python3");
    fs::create_directories(dir_ / "empty");
    executable(dir_ / "both" / "python", "exit 0");
    executable(dir_ / "both" / "python3", "exit 0");
    executable(dir_ / "only-python" / "python", "exit 0");
    executable(dir_ / "only-python3" / "python3", "exit 0");
    const std::string both = (dir_ / "both").string();
    const std::string only_python = (dir_ / "only-python").string();
    const std::string only_python3 = (dir_ / "only-python3").string();
    const std::string empty = (dir_ / "empty").string();

    struct Case {
        const char* what;
        std::optional<std::string> virtual_env;
        std::optional<std::string> conda_prefix;
        std::string path;
        std::string expected;
    };
    const std::string venv = (dir_ / "venv").string();
    const std::string conda = (dir_ / "conda").string();
    const std::vector<Case> cases{
        {"venv first", venv, conda, both, venv + "/bin/python"},
        {"venv need not exist yet", venv, std::nullopt, empty, venv + "/bin/python"},
        {"empty venv falls to conda", std::string(), conda, both, conda + "/bin/python"},
        {"conda alone", std::nullopt, conda, both, conda + "/bin/python"},
        {"empty both falls to PATH", std::string(), std::string(), both, both + "/python3"},
        {"python3 before python", std::nullopt, std::nullopt, only_python + ":" + only_python3,
         only_python3 + "/python3"},
        {"python when no python3", std::nullopt, std::nullopt, empty + ":" + only_python,
         only_python + "/python"},
    };
    for (const Case& c : cases) {
        env_.set("VIRTUAL_ENV", c.virtual_env);
        env_.set("CONDA_PREFIX", c.conda_prefix);
        env_.set("PATH", c.path);
        EXPECT_EQ(pyenv::interpreter_path(), c.expected) << c.what;
    }
}

TEST_F(PyenvTest, RelativeEnvironmentDirectoriesAreMadeAbsolute) {
    fs::path before = fs::current_path();
    fs::current_path(dir_);
    const fs::path cwd = fs::current_path();
    env_.set("VIRTUAL_ENV", std::string("rel/venv"));
    std::string from_venv = pyenv::interpreter_path();
    env_.set("VIRTUAL_ENV", std::nullopt);
    env_.set("CONDA_PREFIX", std::string("rel/conda"));
    std::string from_conda = pyenv::interpreter_path();
    fs::current_path(before);
    EXPECT_EQ(from_venv, (cwd / "rel" / "venv" / "bin" / "python").string());
    EXPECT_EQ(from_conda, (cwd / "rel" / "conda" / "bin" / "python").string());
}

TEST_F(PyenvTest, NoInterpreterIsAClearError) {
    fs::create_directories(dir_ / "empty");
    env_.set("VIRTUAL_ENV", std::nullopt);
    env_.set("CONDA_PREFIX", std::nullopt);
    env_.set("PATH", (dir_ / "empty").string());
    try {
        pyenv::interpreter_path();
        ADD_FAILURE() << "an interpreter was found";
    } catch (const RuntimeError& e) {
        EXPECT_NE(std::string(e.what()).find("no Python interpreter found"), std::string::npos);
    }
}

// A venv's python is a link to the base interpreter; following it would leave the venv, so the
// path found on PATH and the venv's path stay as they are.
TEST_F(PyenvTest, SymbolicLinksAreKept) {
    fs::create_directories(dir_ / "bin");
    fs::create_symlink(kBasePython, dir_ / "bin" / "python3");
    env_.set("VIRTUAL_ENV", std::nullopt);
    env_.set("CONDA_PREFIX", std::nullopt);
    env_.set("PATH", (dir_ / "bin").string());
    EXPECT_EQ(pyenv::interpreter_path(), (dir_ / "bin" / "python3").string());

    fs::path venv = make_venv("venv");
    ASSERT_TRUE(fs::is_symlink(venv / "bin" / "python"));
    env_.set("VIRTUAL_ENV", venv.string());
    std::string python = pyenv::interpreter_path();
    EXPECT_EQ(python, (venv / "bin" / "python").string());
    // The child really runs inside the venv.
    auto done = platform::run({python, "-c", "import sys; print(sys.prefix)"},
                              {platform::Stream::Capture, platform::Stream::Inherit});
    EXPECT_EQ(done.out, venv.string() + "\n");
}

TEST_F(PyenvTest, FactsOfARealVenv) {
    fs::path venv = make_venv("venv");
    env_.set("VIRTUAL_ENV", venv.string());
    const fs::path python = venv / "bin" / "python";

    pyenv::InterpreterFacts facts = pyenv::interpreter_facts();
    const std::string expected = oracle(
        python,
        "import sys, platform, sysconfig\n"
        "print(sys.platform, sys.version_info[0], sys.version_info[1], platform.python_version(),"
        " sys.maxsize, sysconfig.get_platform())");
    EXPECT_EQ(facts.platform_id + " " + std::to_string(facts.major) + " " +
                  std::to_string(facts.minor) + " " + facts.version_text + " " +
                  std::to_string(facts.maxsize) + " " + facts.build_platform + "\n",
              expected);
    EXPECT_EQ(facts.maxsize, static_cast<unsigned long long>(LLONG_MAX));
    EXPECT_EQ(facts.pip_version, "");  // the venv has no pip

    // pip's version is what its installed metadata says, not what importing it would give.
    fs::path site = oracle(python, "import sysconfig; print(sysconfig.get_paths()['purelib'], end='')");
    fs::create_directories(site / "pip-99.1b2.dist-info");
    std::ofstream(site / "pip-99.1b2.dist-info" / "METADATA")
        << "Metadata-Version: 2.1\nName: pip\nVersion: 99.1b2\n";
    EXPECT_EQ(pyenv::interpreter_facts().pip_version, "99.1b2");
}

// pip's version is read by hand in the usual layout and by importlib.metadata otherwise; in every
// layout the answer is importlib.metadata's.
TEST_F(PyenvTest, PipVersionAgreesWithImportlibMetadata) {
    fs::path venv = make_venv("venv");
    env_.set("VIRTUAL_ENV", venv.string());
    const fs::path python = venv / "bin" / "python";
    const fs::path site =
        oracle(python, "import sysconfig; print(sysconfig.get_paths()['purelib'], end='')");
    const fs::path extra = dir_ / "extra";
    std::ofstream(site / "extra.pth") << extra.string() << "\n";

    struct Entry {
        fs::path file;
        std::string text;
    };
    struct Case {
        const char* what;
        std::vector<Entry> entries;
    };
    const std::vector<Case> cases{
        {"one dist-info", {{site / "pip-24.0.dist-info/METADATA", "Name: pip\nVersion: 24.0\n"}}},
        {"header case and blanks",
         {{site / "pip-3.dist-info/METADATA", "Name: pip\nVERSION:   3.0 \n\nVersion: 9\n"}}},
        {"a legacy egg-info", {{site / "pip-1.5.egg-info/PKG-INFO", "Name: pip\nVersion: 1.5\n"}}},
        {"two in one directory",
         {{site / "pip-1.0.dist-info/METADATA", "Name: pip\nVersion: 1.0\n"},
          {site / "pip-2.0.dist-info/METADATA", "Name: pip\nVersion: 2.0\n"}}},
        {"the first directory on sys.path wins",
         {{extra / "pip-7.0.dist-info/METADATA", "Name: pip\nVersion: 7.0\n"},
          {site / "pip-6.0.dist-info/METADATA", "Name: pip\nVersion: 6.0\n"}}},
        {"no version field", {{site / "pip-5.dist-info/METADATA", "Name: pip\n"}}},
        {"another package only", {{site / "pipx-1.0.dist-info/METADATA", "Name: pipx\nVersion: 1.0\n"}}},
    };
    for (const Case& c : cases) {
        for (const fs::path& dir : {site, extra}) {
            if (!fs::exists(dir)) continue;
            for (const auto& entry : fs::directory_iterator(dir)) {
                if (entry.path().extension() != ".pth") fs::remove_all(entry.path());
            }
        }
        for (const Entry& e : c.entries) {
            fs::create_directories(e.file.parent_path());
            std::ofstream(e.file) << "Metadata-Version: 2.1\n" << e.text;
        }
        const std::string expected = oracle(
            python,
            "import sys\n"
            "sys.path[:] = [p for p in sys.path if p != '']\n"
            "import importlib.metadata as m\n"
            "try:\n"
            "    print(m.version('pip') or '', end='')\n"
            "except m.PackageNotFoundError:\n"
            "    pass\n");
        EXPECT_EQ(pyenv::interpreter_facts().pip_version, expected) << c.what;
        EXPECT_EQ(expected.empty(), c.entries.front().text.find("Version") == std::string::npos ||
                                        c.entries.front().text.find("pipx") != std::string::npos)
            << c.what << ": the layout did not come out as built";
    }
}

TEST_F(PyenvTest, SupportedTagsOfTheBaseInterpreter) {
    fs::create_directories(dir_ / "bin");
    fs::create_symlink(kBasePython, dir_ / "bin" / "python3");
    env_.set("VIRTUAL_ENV", std::nullopt);
    env_.set("CONDA_PREFIX", std::nullopt);
    env_.set("PATH", (dir_ / "bin").string());

    std::vector<std::string> tags = pyenv::supported_platform_tags();
    const std::string expected = oracle(
        kBasePython,
        "from pip._vendor.packaging import tags\n"
        "seen = []\n"
        "for t in tags.sys_tags():\n"
        "    seen.append(t.platform) if t.platform not in seen else None\n"
        "print(' '.join(seen), end='')");
    std::string joined;
    for (const auto& tag : tags) joined += (joined.empty() ? "" : " ") + tag;
    EXPECT_EQ(joined, expected);
    EXPECT_NE(std::find(tags.begin(), tags.end(), "any"), tags.end());
    EXPECT_EQ(std::set<std::string>(tags.begin(), tags.end()).size(), tags.size());
}

// A child that fails, or answers something unreadable, is reported with what it did.
TEST_F(PyenvTest, MisbehavingInterpreters) {
    struct Case {
        const char* what;
        std::string body;
        std::vector<std::string> expected_parts;
    };
    const std::vector<Case> cases{
        {"fails", "echo 'Traceback: boom' >&2; exit 3", {"exited with status 3", "Traceback: boom"}},
        {"killed", "kill -KILL $$", {"exited with status -9"}},
        {"unreadable", "printf 'not the expected framing'; exit 0", {"unreadable output"}},
    };
    for (const Case& c : cases) {
        fs::path venv = dir_ / (std::string("fake-") + c.what);
        executable(venv / "bin" / "python", c.body);
        env_.set("VIRTUAL_ENV", venv.string());
        for (int op = 0; op < 2; ++op) {
            try {
                if (op == 0) {
                    pyenv::installed_distributions();
                } else {
                    pyenv::interpreter_facts();
                }
                ADD_FAILURE() << c.what << ": no error";
            } catch (const RuntimeError& e) {
                std::string message = e.what();
                EXPECT_NE(message.find((venv / "bin" / "python").string()), std::string::npos)
                    << message;
                for (const auto& part : c.expected_parts) {
                    EXPECT_NE(message.find(part), std::string::npos) << c.what << ": " << message;
                }
            }
        }
    }
}

TEST_F(PyenvTest, AMissingInterpreterCannotStart) {
    env_.set("VIRTUAL_ENV", (dir_ / "gone").string());
    EXPECT_THROW(pyenv::interpreter_facts(), tessel_installer::OSError);
}

}  // namespace
