// A stand-in target environment for the engine's tests, answered in process: no interpreter and no
// shell, so the tests run wherever the engine does. Each pip child is logged with its arguments
// after "-m pip"; each version look-up as "index versions NAME [--index-url URL]". The record of
// installed packages lives in a fresh temporary directory (XDG_DATA_HOME, or LOCALAPPDATA on
// Windows), kept when a test fails.
#pragma once

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "fake_child.hpp"
#include "test_support.hpp"
#include "tessel_installer/errors.hpp"
#include "tessel_installer/installation/engine.hpp"
#include "tessel_installer/platform/signals.hpp"

namespace tessel_installer::testing {

namespace fs = std::filesystem;
using Words = std::vector<std::string>;
using Calls = std::vector<Words>;

// Rules, by package name (the token with any "==VERSION" cut off):
//   none                  the run succeeds; an install adds the distribution (extras cut off), an
//                         uninstall removes it,
//   "brings:OTHER"        like none, and an install adds OTHER as well,
//   "waits:N"             like none, after N waits of the animation,
//   an exit status        the pip run ends with it ("-9": ended by a signal), after 25 lines
//                         on a standard error that goes to a file,
//   "interrupt"           Ctrl-C arrives while the pip run goes on, which then ends with 1,
//   "removes:N"           an uninstall removes the distribution, then the run ends with N,
//   "term"                a termination request arrives, and the run ends once it was passed on,
//   "noversion"           the version look-up finds nothing,
//   "credentials"         the version look-up fails: the index asked for credentials,
//   "lookup-interrupt"    Ctrl-C arrives during the version look-up.
class FakeEnvironment final : public installer::Children {
public:
    FakeEnvironment() {
        env_.set("XDG_DATA_HOME", (root_ / "data").string());
        env_.set("LOCALAPPDATA", (root_ / "data").string());
    }
    FakeEnvironment(const FakeEnvironment&) = delete;
    FakeEnvironment& operator=(const FakeEnvironment&) = delete;

    const fs::path& root() const { return root_; }
    void rule(const std::string& name, const std::string& behaviour) { rules_[name] = behaviour; }
    // Makes the inventory report the distribution as installed.
    void install(const std::string& name, const std::string& version) {
        const auto it = std::find_if(site_.begin(), site_.end(), [&](const auto& d) { return d.name == name; });
        if (it != site_.end()) it->version = version;
        else site_.push_back({name, version});
    }
    const Calls& pip_calls() const { return calls_; }

    fs::path record_path() const {
#if defined(_WIN32)
        return root_ / "data" / "Mirralune" / "Tessel-Installer" / "installed_packages.txt";
#else
        return root_ / "data" / "Tessel-Installer" / "installed_packages.txt";
#endif
    }
    void write_record(const std::string& text) const { tessel_test::write_file(record_path(), text); }
    // The record's lines, or none when the file does not exist.
    std::optional<std::string> record() const {
        if (!fs::exists(record_path())) return std::nullopt;
        std::string lines = tessel_test::read_file(record_path());
        for (std::size_t at; (at = lines.find("\r\n")) != std::string::npos;) lines.erase(at, 1);
        return lines;
    }

    // ---- Children ----
    std::string interpreter() override { return "/fake/venv/bin/python"; }
    std::vector<pyenv::Distribution> installed_distributions() override { return site_; }
    pkgkit::VersionLookUp latest_version(const std::string& package,
                                         const installer::OptionalText& index_url) override {
        Words call{"index", "versions", package};
        if (index_url && !index_url->empty()) call.insert(call.end(), {"--index-url", *index_url});
        calls_.push_back(call);
        const std::string behaviour = rule_of(package);
        if (behaviour == "noversion") return {};
        if (behaviour == "credentials") return {.version = std::nullopt, .index_asked_for_credentials = true};
        if (behaviour == "lookup-interrupt") deliver_signal(SIGINT);
        return {.version = "9.9.9"};
    }
    // An environment that takes pip's changes, unless a test says what it refuses.
    std::string check_target_environment(pyenv::TargetUse) override {
        if (refusal_) throw RuntimeError(*refusal_);
        return "/fake/venv";
    }
    void refuse(const std::string& message) { refusal_ = message; }
    std::unique_ptr<platform::Child> start(const Words& argv,
                                           platform::SpawnOptions options) override {
        if (argv.size() < 4 || argv[0] != interpreter() || argv[1] != "-m" || argv[2] != "pip") {
            throw std::runtime_error("not a pip command line");
        }
        const Words call(argv.begin() + 3, argv.end());
        calls_.push_back(call);
        const bool uninstall = call[0] == "uninstall";
        std::string name = call[uninstall ? 2 : 1];
        name = name.substr(0, name.find("=="));
        const std::string base = name.substr(0, name.find('['));
        const std::string behaviour = rule_of(name);

        const auto remove = [&] { std::erase_if(site_, [&](const auto& d) { return d.name == base; }); };
        if (behaviour == "term" || behaviour == "interrupt") {
            deliver_signal(behaviour == "term" ? SIGTERM : SIGINT);
            return std::make_unique<FakeChild>(behaviour == "term" ? 0 : 1, 0, behaviour == "term");
        }
        if (uninstall && behaviour.rfind("removes:", 0) == 0) {
            remove();
            return std::make_unique<FakeChild>(std::stoi(behaviour.substr(8)), 0, false);
        }
        if (!behaviour.empty() && behaviour.find_first_not_of("-0123456789") == std::string::npos) {
            // A failing pip explains itself on standard error, when that is kept.
            if (options.err == platform::Stream::File) {
                std::ofstream err(options.err_file, std::ios::app);
                for (int line = 1; line <= 25; ++line) err << "ERROR: " << name << " line " << line << "\n";
            }
            return std::make_unique<FakeChild>(std::stoi(behaviour), 0, false);
        }
        if (call[0] == "install") {
            install(base, "1.0");
            if (behaviour.rfind("brings:", 0) == 0) install(behaviour.substr(7), "1.0");
        } else if (uninstall) {
            remove();
        }
        const int waits = behaviour.rfind("waits:", 0) == 0 ? std::stoi(behaviour.substr(6)) : 0;
        return std::make_unique<FakeChild>(0, waits, false);
    }

private:
    std::string rule_of(const std::string& name) { return rules_[name]; }

    const tessel_test::TempDir temp_{"tessel-engine"};
    const fs::path root_ = temp_.path();
    tessel_test::ScopedEnv env_;
    std::map<std::string, std::string> rules_;
    std::vector<pyenv::Distribution> site_;
    Calls calls_;
    std::optional<std::string> refusal_;
};

}  // namespace tessel_installer::testing
