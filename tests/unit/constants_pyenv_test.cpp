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

#include "test_support.hpp"
#include "tessel_installer/errors.hpp"
#include "tessel_installer/platform/process.hpp"
#include "tessel_installer/pyenv.hpp"

namespace fs = std::filesystem;
namespace pyenv = tessel_installer::pyenv;
namespace platform = tessel_installer::platform;
using tessel_installer::RuntimeError;

namespace {

using tessel_test::ScopedEnv;
using tessel_test::write_file;
using tessel_test::write_script;

const char* const kBasePython = "/usr/bin/python3";

class PyenvTest : public ::testing::Test {
protected:
    void SetUp() override {
#if defined(_WIN32)
        GTEST_SKIP() << "needs real Linux venvs and /bin/sh stand-in interpreters; "
                        "pyenv_windows_test covers discovery on Windows, the end-to-end leg the queries";
#endif
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

    const tessel_test::TempDir temp_{"tessel-pyenv"};
    const fs::path dir_ = temp_.path();
    ScopedEnv env_;
};

TEST_F(PyenvTest, InterpreterDiscovery) {
    fs::create_directories(dir_ / "both");
    fs::create_directories(dir_ / "only-python");
    fs::create_directories(dir_ / "only-python3");
    fs::create_directories(dir_ / "empty");
    write_script(dir_ / "both" / "python", "exit 0");
    write_script(dir_ / "both" / "python3", "exit 0");
    write_script(dir_ / "only-python" / "python", "exit 0");
    write_script(dir_ / "only-python3" / "python3", "exit 0");
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
            write_file(e.file, "Metadata-Version: 2.1\n" + e.text);
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

// Hex of UTF-8 bytes, so that any character of a name or version survives the comparison.
std::string hex(const std::string& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

// The inventory is read by hand in the usual layout and by importlib.metadata otherwise; in every
// layout, each compared with importlib.metadata in the same venv, the answer is importlib's: names
// and versions as written, in its order, duplicates kept. TESSEL_TEST_INVENTORY_READER=direct
// makes the child fail where it leaves the layout to importlib.metadata, which shows the way taken.
TEST_F(PyenvTest, InventoryAgreesWithImportlibMetadataInEveryLayout) {
    struct File {
        std::string path;  // under "site/" (the venv's site-packages) or "extra/" (another folder)
        std::string text;  // "@EXTRA@" stands for the other folder's path
    };
    struct Case {
        const char* what;
        std::vector<File> files;
        bool by_hand;          // the usual layout: read without importlib.metadata
        std::size_t listed;    // how many distributions importlib.metadata shows
        std::string prepare;   // Python run in the venv, given the site and extra folders
    };
    const std::string plain_a = "Metadata-Version: 2.1\nName: alpha\nVersion: 1.0\n";
    const std::vector<Case> cases{
        {"plain dist-infos",
         {{"site/alpha-1.0.dist-info/METADATA",
           plain_a + "Requires-Dist: beta\nSummary: s\n\nName: not-a-header\nVersion: 9\n"},
          {"site/Beta_Two-2.0rc1.dist-info/METADATA",
           "Metadata-Version: 2.1\nName: Beta_Two\nVersion: 2.0rc1\nDescription-Content-Type: x\n"},
          {"site/no_version-1.dist-info/METADATA", "Name: no_version\n"}},
         true, 3, ""},
        {"a distribution twice on sys.path",
         {{"site/Twice-1.0.dist-info/METADATA", "Name: Twice\nVersion: 1.0\n"},
          {"extra/Twice-2.0.dist-info/METADATA", "Name: Twice\nVersion: 2.0\n"},
          {"site/zz-extra.pth", "@EXTRA@\n"}},
         true, 2, ""},
        {"an .egg-info directory",
         {{"site/Legacy.Thing-0.5-py3.11.egg-info/PKG-INFO", "Name: Legacy.Thing\nVersion: 0.5\n"},
          {"site/alpha-1.0.dist-info/METADATA", plain_a}},
         true, 2, ""},
        {"an egg-info file",
         {{"site/Flat-0.3-py3.11.egg-info", "Name: Flat\nVersion: 0.3\n"},
          {"site/alpha-1.0.dist-info/METADATA", plain_a}},
         false, 2, ""},
        {"two versions of one name in one directory",
         {{"site/dup-1.0.dist-info/METADATA", "Name: dup\nVersion: 1.0\n"},
          {"site/alpha-1.0.dist-info/METADATA", plain_a},
          {"site/Dup-2.0.dist-info/METADATA", "Name: Dup\nVersion: 2.0\n"}},
         false, 3, ""},
        {"two names equal once normalised",
         {{"site/a.b-1.0.dist-info/METADATA", "Name: a.b\nVersion: 1.0\n"},
          {"site/A__B-2.0.dist-info/METADATA", "Name: A__B\nVersion: 2.0\n"}},
         false, 2, ""},
        {"a folded header",
         {{"site/fold-1.0.dist-info/METADATA", "Name: fold\nVersion: 1.0\n  and more\n"}},
         false, 1, ""},
        {"a line that is no header",
         {{"site/odd-1.0.dist-info/METADATA", "Name: odd\nnot a header\nVersion: 1.0\n"}},
         false, 1, ""},
        {"a field without a name",
         {{"site/stray-1.0.dist-info/METADATA", "Name: stray\n: value\nVersion: 1.0\n"}},
         false, 1, ""},
        {"odd case of field names",
         {{"site/oddcase-3.dist-info/METADATA", "NAME: OddCase\nversion: 3\n"}}, true, 1, ""},
        {"blanks around values, first occurrence wins",
         {{"site/blanks-1.0.dist-info/METADATA",
           "Name: \t blanks  \nVersion:1.0 \t\nName: second\nVersion: 2\n"}},
         true, 1, ""},
        {"CRLF and CR line ends",
         {{"site/crlf-1.0.dist-info/METADATA", "Name: crlf\r\nSummary: x\rVersion: 1.0\r\n\r\nb"}},
         true, 1, ""},
        {"non-ASCII text",
         {{"site/cafe-1.0.dist-info/METADATA",
           "Name: Caf\xc3\xa9\nVersion: 1.0\xe2\x80\xa8x\x0c\n"}},
         true, 1, ""},
        {"a dist-info without METADATA",
         {{"site/bare-1.0.dist-info/RECORD", ""}, {"site/alpha-1.0.dist-info/METADATA", plain_a}},
         false, 1, ""},
        {"no Name", {{"site/anon-1.0.dist-info/METADATA", "Version: 1.0\n"}}, false, 0, ""},
        {"bytes that are not UTF-8 after the header",
         {{"site/latin-1.0.dist-info/METADATA", "Name: latin\nVersion: 1.0\n\nCaf\xe9\n"},
          {"site/alpha-1.0.dist-info/METADATA", plain_a}},
         false, 1, ""},
        {"a zip archive on sys.path",
         {{"site/alpha-1.0.dist-info/METADATA", plain_a}},
         false, 2,
         "import sys, zipfile, os\n"
         "z = os.path.join(sys.argv[2], 'extra.zip')\n"
         "with zipfile.ZipFile(z, 'w') as f:\n"
         "    f.writestr('zipped-1.0.dist-info/METADATA', 'Name: zipped\\nVersion: 1.0\\n')\n"
         "open(os.path.join(sys.argv[1], 'zip.pth'), 'w').write(z + '\\n')\n"},
        {"another finder of distributions",
         {{"site/alpha-1.0.dist-info/METADATA", plain_a},
          {"site/finder_hook.pth", "import finder_hook\n"},
          {"site/finder_hook.py",
           "import sys\n"
           "from importlib.metadata import Distribution, DistributionFinder\n"
           "class Found(Distribution):\n"
           "    def read_text(self, filename):\n"
           "        if filename == 'METADATA':\n"
           "            return 'Name: from-finder\\nVersion: 7.7\\n'\n"
           "    def locate_file(self, path):\n"
           "        return path\n"
           "class Finder(DistributionFinder):\n"
           "    def find_spec(self, *args, **kwargs):\n"
           "        return None\n"
           "    def find_distributions(self, context=DistributionFinder.Context()):\n"
           "        return iter([Found()] if context.name in (None, 'from-finder') else [])\n"
           "sys.meta_path.append(Finder())\n"}},
         false, 2, ""},
    };
    const std::string oracle_code =
        "import sys\n"
        "sys.path[:] = [p for p in sys.path if p != '']\n"
        "import importlib.metadata as m\n"
        "for d in m.distributions():\n"
        "    try:\n"
        "        n, v = d.metadata.get('Name'), d.metadata.get('Version')\n"
        "    except Exception:\n"
        "        continue\n"
        "    if n is not None:\n"
        "        print(n.encode().hex(), (v or '').encode().hex())\n";
    env_.set("PYTHONPATH", std::nullopt);
    int index = 0;
    for (const Case& c : cases) {
        const fs::path venv = make_venv("venv" + std::to_string(++index));
        const fs::path python = venv / "bin" / "python";
        const std::string site =
            oracle(python, "import sysconfig; print(sysconfig.get_paths()['purelib'], end='')");
        const fs::path extra = dir_ / ("extra" + std::to_string(index));
        fs::create_directories(extra);
        for (const File& f : c.files) {
            const bool in_site = f.path.rfind("site/", 0) == 0;
            const fs::path path =
                fs::path(in_site ? site : extra.string()) / f.path.substr(in_site ? 5 : 6);
            std::string text = f.text;
            if (auto at = text.find("@EXTRA@"); at != std::string::npos) {
                text.replace(at, 7, extra.string());
            }
            write_file(path, text);
        }
        if (!c.prepare.empty()) {
            auto done = platform::run({python.string(), "-c", c.prepare, site, extra.string()},
                                      {platform::Stream::Capture, platform::Stream::Capture});
            ASSERT_EQ(done.returncode, 0) << c.what << ": " << done.err;
        }
        env_.set("VIRTUAL_ENV", venv.string());

        const std::string expected = oracle(python, oracle_code);
        EXPECT_EQ(std::count(expected.begin(), expected.end(), '\n'), static_cast<long>(c.listed))
            << c.what << ": the layout did not come out as built:\n" << expected;
        auto listing = [] {
            std::string out;
            for (const pyenv::Distribution& d : pyenv::installed_distributions()) {
                out += hex(d.name) + " " + hex(d.version) + "\n";
            }
            return out;
        };
        EXPECT_EQ(listing(), expected) << c.what;
        env_.set("TESSEL_TEST_INVENTORY_READER", std::string("importlib"));
        EXPECT_EQ(listing(), expected) << c.what << ", through importlib.metadata";

        env_.set("TESSEL_TEST_INVENTORY_READER", std::string("direct"));
        if (c.by_hand) {
            EXPECT_EQ(listing(), expected) << c.what << ", read by hand";
        } else {
            try {
                pyenv::installed_distributions();
                ADD_FAILURE() << c.what << ": read by hand";
            } catch (const RuntimeError& e) {
                const std::string message = e.what();
                EXPECT_NE(message.find("left to importlib.metadata"), std::string::npos)
                    << c.what << ": " << e.what();
            }
        }
        env_.set("TESSEL_TEST_INVENTORY_READER", std::nullopt);
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
        write_script(venv / "bin" / "python", c.body);
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
