// A stand-in target environment for the engine's tests: a fresh temporary directory used as
// VIRTUAL_ENV whose bin/python is a small shell script. "python -m pip ..." is answered by the
// script (each call logged, one line per call with its arguments separated by '\x1f'); every
// other use of the interpreter (the inventory) goes to the real /usr/bin/python3, with a private
// site directory on PYTHONPATH where tests put the distributions they want installed.
// XDG_DATA_HOME points into the directory, so the record of installed packages is private too.
#pragma once

#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <stdexcept>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace tessel_installer::testing {

namespace fs = std::filesystem;

// The script. Rules, one per line in $FAKE_PIP_RULES: "NAME BEHAVIOUR", where NAME is the package
// token with any "==VERSION" cut off and BEHAVIOUR is
//   nothing               (the run succeeds; an install adds NAME, extras cut off, to the site
//                          directory, an uninstall removes it),
//   "brings:OTHER"        (like nothing, and an install adds OTHER as well),
//   an exit status        (the pip run ends with it),
//   "signal"              (the pip run kills itself with SIGKILL),
//   "interrupt"           (the pip run sends SIGINT to its parent, then ends with status 1),
//   "term"                (the pip run sends SIGTERM to its parent, then waits up to 20 s for a
//                          SIGTERM of its own and ends with status 143; without one it logs
//                          a line saying so and ends with 99),
//   "noversion"           (the version look-up fails),
//   "lookup-interrupt"    (the version look-up sends SIGINT to its parent and then succeeds).
inline constexpr const char* FAKE_PYTHON = R"SH(#!/bin/sh
if [ "$1" != "-m" ] || [ "$2" != "pip" ]; then exec /usr/bin/python3 "$@"; fi
shift 2
line=""
for arg in "$@"; do
  if [ -z "$line" ]; then line="$arg"; else line="$line$(printf '\037')$arg"; fi
done
printf '%s\n' "$line" >> "$FAKE_PIP_LOG"
if [ "$1" = "index" ]; then name="$3"; elif [ "$1" = "uninstall" ]; then name="$3"; else name="$2"; fi
name="${name%%==*}"
rule=$(awk -v n="$name" '$1 == n { print $2; exit }' "$FAKE_PIP_RULES" 2>/dev/null)
if [ "$1" = "index" ]; then
  case "$rule" in
    noversion) exit 1 ;;
    lookup-interrupt) kill -INT "$PPID" ;;
  esac
  echo "$name (9.9.9)"
  echo "Available versions: 9.9.9, 1.0.0"
  exit 0
fi
base="${name%%\[*}"
case "$rule" in
  ""|brings:*)
    if [ "$1" = "install" ]; then
      for dist in "$base" "${rule#brings:}"; do
        [ -n "$dist" ] || continue
        mkdir -p "$FAKE_PIP_SITE/$dist-1.0.dist-info"
        printf 'Metadata-Version: 2.1\nName: %s\nVersion: 1.0\n' "$dist" \
          > "$FAKE_PIP_SITE/$dist-1.0.dist-info/METADATA"
      done
    elif [ "$1" = "uninstall" ]; then
      rm -rf "$FAKE_PIP_SITE/$base"-*.dist-info
    fi
    exit 0 ;;
  signal) kill -KILL $$ ;;
  interrupt) kill -INT "$PPID"; exit 1 ;;
  term)
    trap 'exit 143' TERM
    kill -TERM "$PPID"
    i=0
    while [ $i -lt 400 ]; do sleep 0.05; i=$((i + 1)); done
    echo "the termination request never reached this child" >> "$FAKE_PIP_LOG"
    exit 99 ;;
  *) exit "$rule" ;;
esac
)SH";

// The text with the progress frames taken out: a frame is a carriage return and text that is
// followed by another carriage return before any line break. How many frames a child shows
// depends on how long it runs, so tests compare what remains.
inline std::string without_frames(const std::string& text) {
    std::string out;
    std::size_t i = 0;
    while (i < text.size()) {
        if (text[i] == '\r') {
            const std::size_t next = text.find_first_of("\r\n", i + 1);
            if (next != std::string::npos && text[next] == '\r') {
                i = next;
                continue;
            }
        }
        out += text[i++];
    }
    return out;
}

class FakeEnvironment {
public:
    FakeEnvironment() {
        std::string pattern = (fs::temp_directory_path() / "tessel-engine-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
        root_ = pattern;
        fs::create_directories(root_ / "venv" / "bin");
        fs::create_directories(root_ / "site");
        const fs::path python = root_ / "venv" / "bin" / "python";
        std::ofstream(python) << FAKE_PYTHON;
        ::chmod(python.c_str(), 0755);
        std::ofstream rules(rules_path());
        set("VIRTUAL_ENV", (root_ / "venv").string());
        set("XDG_DATA_HOME", (root_ / "data").string());
        set("PYTHONPATH", (root_ / "site").string());
        set("FAKE_PIP_LOG", (root_ / "pip.log").string());
        set("FAKE_PIP_RULES", rules_path().string());
        set("FAKE_PIP_SITE", (root_ / "site").string());
        unset("CONDA_PREFIX");
        // The stand-in answers interpreter queries with the system's interpreter, which is no
        // venv and may be externally managed: pip's own opt-out keeps the pre-flight out of it.
        set("PIP_BREAK_SYSTEM_PACKAGES", "1");
        unset("PIP_REQUIRE_VIRTUALENV");
    }
    FakeEnvironment(const FakeEnvironment&) = delete;
    FakeEnvironment& operator=(const FakeEnvironment&) = delete;
    ~FakeEnvironment() {
        for (const auto& [name, value] : saved_) {
            if (value.has_value()) {
                ::setenv(name.c_str(), value->c_str(), 1);
            } else {
                ::unsetenv(name.c_str());
            }
        }
        // Kept on failure, for a look at what the children saw.
        if (!::testing::Test::HasFailure()) {
            std::error_code ignored;
            fs::remove_all(root_, ignored);
        }
    }

    const fs::path& root() const { return root_; }
    std::string interpreter() const { return (root_ / "venv" / "bin" / "python").string(); }

    void rule(const std::string& name, const std::string& behaviour) {
        std::ofstream(rules_path(), std::ios::app) << name << ' ' << behaviour << '\n';
    }

    // Makes the inventory report the distribution as installed.
    void install(const std::string& name, const std::string& version) {
        const fs::path info = root_ / "site" / (name + "-" + version + ".dist-info");
        fs::create_directories(info);
        std::ofstream(info / "METADATA") << "Metadata-Version: 2.1\nName: " << name
                                         << "\nVersion: " << version << "\n";
    }

    // Every pip call so far, each as its argument list (after "-m pip").
    std::vector<std::vector<std::string>> pip_calls() const {
        std::vector<std::vector<std::string>> calls;
        std::ifstream in(root_ / "pip.log");
        std::string line;
        while (std::getline(in, line)) {
            std::vector<std::string> args;
            std::string arg;
            std::istringstream fields(line);
            while (std::getline(fields, arg, '\x1f')) args.push_back(arg);
            calls.push_back(args);
        }
        return calls;
    }

    fs::path record_path() const {
        return root_ / "data" / "Tessel-Installer" / "installed_packages.txt";
    }
    void write_record(const std::string& text) const {
        fs::create_directories(record_path().parent_path());
        std::ofstream(record_path()) << text;
    }
    // The record's text, or none when the file does not exist.
    std::optional<std::string> record() const {
        if (!fs::exists(record_path())) return std::nullopt;
        std::ifstream in(record_path());
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }

private:
    fs::path rules_path() const { return root_ / "rules"; }

    void save(const std::string& name) {
        if (saved_.count(name) != 0) return;
        const char* old = ::getenv(name.c_str());
        saved_[name] = old ? std::optional<std::string>(old) : std::nullopt;
    }
    void set(const std::string& name, const std::string& value) {
        save(name);
        ::setenv(name.c_str(), value.c_str(), 1);
    }
    void unset(const std::string& name) {
        save(name);
        ::unsetenv(name.c_str());
    }

    fs::path root_;
    std::map<std::string, std::optional<std::string>> saved_;
};

}  // namespace tessel_installer::testing
