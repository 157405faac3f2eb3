// The target Python environment: the interpreter the packages go into, and the facts the system
// reads from it. Every interpreter child starts with exactly interpreter_path().
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace tessel_installer::pyenv {

// The target interpreter: $VIRTUAL_ENV/bin/python when VIRTUAL_ENV is set and not empty, else
// $CONDA_PREFIX/bin/python when CONDA_PREFIX is set and not empty, else the first python3, then
// python, on PATH. Absolute, symbolic links not resolved (a venv's python links out of the venv).
// Throws RuntimeError when there is none.
std::string interpreter_path();

// One installed distribution, its metadata fields as written.
struct Distribution {
    std::string name;
    std::string version;
};

// Every installed distribution in the environment's enumeration order, duplicates kept.
// One interpreter child.
std::vector<Distribution> installed_distributions();

// Facts about the interpreter, read by one interpreter child.
struct InterpreterFacts {
    std::string platform_id;      // sys.platform: "linux", "darwin", "win32"
    int major = 0;
    int minor = 0;
    std::string version_text;     // platform.python_version(), e.g. "3.12.1"
    unsigned long long maxsize = 0;  // sys.maxsize
    std::string build_platform;   // sysconfig.get_platform(), e.g. "linux-x86_64"
    std::string pip_version;      // from the environment's installed metadata; empty when no pip
    std::string stdlib_path;      // sysconfig's "stdlib" path
    bool externally_managed = false;  // an EXTERNALLY-MANAGED file in it
    bool in_virtual_env = false;      // sys.prefix != sys.base_prefix
    std::string purelib_path;     // sysconfig's "purelib" path (site-packages)
    bool purelib_writable = false;    // it, or the folder that would hold it, can be written
    std::string prefix;           // sys.prefix: the environment's folder
};
InterpreterFacts interpreter_facts();

// The platform parts of every wheel tag the interpreter accepts ("any" included), one child.
std::vector<std::string> supported_platform_tags();

}  // namespace tessel_installer::pyenv
