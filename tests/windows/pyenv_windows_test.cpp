// Finding the target interpreter on Windows: the active environment first, then PATH with
// PATHEXT, passing over batch files and the Microsoft Store's aliases.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "test_support.hpp"
#include "tessel_installer/errors.hpp"
#include "tessel_installer/pyenv.hpp"

namespace fs = std::filesystem;

namespace {

std::string utf8(const fs::path& path) {
    const auto text = path.u8string();
    return std::string(text.begin(), text.end());
}

TEST(PyenvWindows, InterpreterDiscoveryOrder) {
    const tessel_test::TempDir temp("tessel-pyenv-win");
    const fs::path root = temp.path();
    const fs::path batch = root / "batch", store = root / "Local" / "Microsoft" / "WindowsApps",
                   installed = root / "Python312";
    for (const fs::path& file : {batch / "python3.cmd", batch / "python.bat", store / "python3.exe",
                                 store / "python.exe", installed / "python.exe"}) {
        tessel_test::write_file(file, "MZ");
    }
    const std::string venv = utf8(root / "\xc3\xa9t\xc3\xa9 venv");
    const struct {
        const char* name;
        std::optional<std::string> virtual_env, conda_prefix, path;
        std::string expected;  // the interpreter, or the start of the error
    } cases[] = {
        {"the active virtual environment", venv, utf8(root / "conda"), utf8(installed),
         venv + "\\Scripts\\python.exe"},
        {"then conda's", std::nullopt, utf8(root / "conda"), utf8(installed), utf8(root / "conda" / "python.exe")},
        {"then PATH, past batch files and the Store's aliases", std::nullopt, std::nullopt,
         utf8(batch) + ";" + utf8(store) + ";" + utf8(installed), utf8(installed / "python.exe")},
        {"only the Store's alias", std::nullopt, std::nullopt, utf8(batch) + ";" + utf8(store),
         "no Python interpreter found: " + utf8(store / "python3.exe") +
             " is the Microsoft Store alias, not an installed Python"},
        {"nothing at all", std::nullopt, std::nullopt, utf8(batch),
         "no Python interpreter found: activate the environment"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        tessel_test::ScopedEnv env;
        env.set("VIRTUAL_ENV", c.virtual_env);
        env.set("CONDA_PREFIX", c.conda_prefix);
        env.set("PATH", c.path);
        env.set("PATHEXT", std::string(".COM;.EXE;.BAT;.CMD"));
        try {
            EXPECT_EQ(tessel_installer::pyenv::interpreter_path(), c.expected);
        } catch (const tessel_installer::RuntimeError& error) {
            EXPECT_EQ(std::string(error.what()).rfind(c.expected, 0), 0u) << error.what();
        }
    }
}

}  // namespace
