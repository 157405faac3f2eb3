// The pip runner: one pip child per package, strictly one after the other, each with an argument
// vector built here, its outcome recorded and the record of installed packages kept up to date.
#include <chrono>
#include <cstdio>
#include <exception>
#include <iostream>
#include <string>
#include <string_view>
#include <vector>

#include "tessel_installer/config.hpp"
#include "tessel_installer/constants.hpp"
#include "tessel_installer/errors.hpp"
#include "tessel_installer/installation/engine.hpp"
#include "tessel_installer/platform/process.hpp"
#include "tessel_installer/platform/signals.hpp"
#include "tessel_installer/pyenv.hpp"
#include "tessel_installer/utils/ledgerfile/ledgerfile.hpp"
#include "tessel_installer/utils/pkgkit/pkgkit.hpp"
#include "tessel_installer/utils/termwrite/termwrite.hpp"

namespace tessel_installer::installer {

namespace {

bool _non_empty(const OptionalText& text) { return text.has_value() && !text->empty(); }

// The action word's own words: "uninstall -y" is the sub-command and its confirmation switch.
std::vector<std::string> _action_words(std::string_view action) {
    std::vector<std::string> words;
    std::size_t start = 0;
    while (start < action.size()) {
        const std::size_t blank = action.find(' ', start);
        const std::size_t end = blank == std::string_view::npos ? action.size() : blank;
        if (end > start) words.emplace_back(action.substr(start, end - start));
        start = end + 1;
    }
    return words;
}

}  // namespace

void _stop_if_interrupted() {
    if (const int signal_number = platform::pending_interrupt(); signal_number != 0) {
        throw Interrupted(signal_number);
    }
}

bool _is_valid_package_text(std::string_view text) {
    const std::size_t open = text.find('[');
    if (open == std::string_view::npos) return _is_valid_package_name(text);
    if (!_is_valid_package_name(text.substr(0, open)) || text.back() != ']') return false;
    // Extras: one or more names separated by commas, blanks allowed around each.
    std::string_view extras = text.substr(open + 1, text.size() - open - 2);
    if (extras.find_first_not_of(" \t") == std::string_view::npos) return true;  // "name[]"
    while (true) {
        const std::size_t comma = extras.find(',');
        std::string_view extra = extras.substr(0, comma);
        while (!extra.empty() && (extra.front() == ' ' || extra.front() == '\t')) {
            extra.remove_prefix(1);
        }
        while (!extra.empty() && (extra.back() == ' ' || extra.back() == '\t')) {
            extra.remove_suffix(1);
        }
        if (!_is_valid_package_name(extra)) return false;
        if (comma == std::string_view::npos) return true;
        extras.remove_prefix(comma + 1);
    }
}

InventorySnapshot _take_inventory_snapshot() {
    InventorySnapshot snapshot;
    for (auto& distribution : pyenv::installed_distributions()) {
        snapshot.versions.set(distribution.name, distribution.version);
        snapshot.names.push_back(std::move(distribution.name));
    }
    return snapshot;
}

std::string _index_url() { return "https://" + std::string(config::PYPI_URL) + "/"; }

PipCommand _build_pip_command(const std::string& interpreter, std::string_view action,
                              const std::string& package_token, const OptionalText& index_url,
                              bool upgrade, const std::vector<std::string>& extra_options) {
    PipCommand command;
    command.argv = {interpreter, "-m", "pip"};
    for (auto& word : _action_words(action)) command.argv.push_back(std::move(word));
    command.argv.push_back(package_token);
    command.printable = "\npip " + std::string(action) + " " + package_token;

    auto append = [&command](const std::string& word) {
        command.argv.push_back(word);
        command.printable += ' ';
        command.printable += word;
    };
    if (_non_empty(index_url)) {
        append("--index-url");
        append(*index_url);
        for (const auto host : constants::TRUSTED_HOSTS) {
            append("--trusted-host");
            append(std::string(host));
        }
    }
    if (upgrade) append("--upgrade");
    for (const auto& word : extra_options) append(word);
    return command;
}

PackageStatus _perform_pip_action(std::string_view action, const std::vector<std::string>& packages,
                                  const OptionalText& version, const OptionalText& index_url,
                                  const std::vector<std::string>& extra_options, bool show_version,
                                  bool debug, bool upgrade, PackageStatus package_status,
                                  const OrderedMap<std::string>* inventory_before) {
    // Checked before anything runs, so a text that pip would read as an option never reaches a
    // command line and no package of the call is half done.
    for (const auto& package : packages) {
        if (!_is_valid_package_text(package)) {
            throw ValueError("Invalid package name '" + package + "': not passed to pip.");
        }
    }

    // Only an install's outcome line compares versions; each inventory costs an interpreter child.
    OrderedMap<std::string> installed_packages_with_versions;
    if (action == "install" && !packages.empty()) {
        installed_packages_with_versions =
            inventory_before != nullptr
                ? *inventory_before
                : pkgkit::list_current_installed_packages_with_their_version();
    }
    const std::string interpreter = packages.empty() ? std::string() : pyenv::interpreter_path();

    bool online_access = true;
    for (const auto& option : extra_options) {
        if (option == "--no-index") online_access = false;
    }

    // Kept from one package to the next on purpose: only a look-up changes it.
    std::optional<std::string> package_version;
    for (const auto& package : packages) {
        _stop_if_interrupted();
        const bool is_connectors = constants::is_connectors_package(package);
        const bool use_version = (_non_empty(version) || _non_empty(index_url)) && !is_connectors;

        std::string package_name = package;
        if (use_version && online_access) {
            package_version = _non_empty(version)
                                  ? version
                                  : pkgkit::get_latest_package_version(package, index_url);
            if (!upgrade && package_version.has_value() && !package_version->empty()) {
                package_name = package + "==" + *package_version;
            }
        } else if (is_connectors && online_access) {
            // Never pinned: the version found only labels the progress line.
            package_version = pkgkit::get_latest_package_version(package, index_url);
        }
        // A look-up is a child of its own: an interrupt during it stops the run before the
        // package's own child starts.
        _stop_if_interrupted();

        const PipCommand command =
            _build_pip_command(interpreter, action, package_name, index_url, upgrade, extra_options);
        LOGGER.debug("Launching subprocess with: " + command.printable);

        int returncode = constants::ERROR;
        // A line that cannot be written (a full disk, a closed pipe) must not cost the package its
        // record: the child is waited for and its outcome kept, then the failure ends the run.
        std::exception_ptr output_failure;
        if (debug) {
            termwrite::print_message(command.printable);
            // Our buffered lines must reach the terminal before the child's own output does.
            std::cout.flush();
            std::fflush(stdout);
            auto process = platform::Process::spawn(command.argv);
            returncode = process.wait();
        } else {
            auto process = platform::Process::spawn(
                command.argv, {platform::Stream::Discard, platform::Stream::Discard});
            try {
                termwrite::display_progress_animation(process, package, package_version,
                                                      std::string(action),
                                                      &installed_packages_with_versions, upgrade,
                                                      show_version);
            } catch (const OSError&) {
                output_failure = std::current_exception();
            }
            returncode = process.wait();
        }

        // A child ended by a signal has a negative status: a failure like any other non-zero one.
        const bool was_successful = returncode == constants::SUCCESS;
        package_status.set(package, was_successful);
        if (action == "install" && was_successful) {
            ledgerfile::store_package_name(package);
        }
        if (action.find("uninstall") != std::string_view::npos) {
            ledgerfile::remove_package_name(package);
        }
        if (output_failure) std::rethrow_exception(output_failure);
        _stop_if_interrupted();
    }
    return package_status;
}

}  // namespace tessel_installer::installer
