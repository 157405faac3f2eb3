// The pip runner: one pip child per package, strictly one after the other, each with an argument
// vector built here, its outcome recorded and the record of installed packages kept up to date.
#include <chrono>
#include <cstdio>
#include <exception>
#include <iostream>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "tessel_installer/config.hpp"
#include "tessel_installer/constants.hpp"
#include "tessel_installer/errors.hpp"
#include "tessel_installer/installation/engine.hpp"
#include "tessel_installer/platform/signals.hpp"
#include "tessel_installer/utils/ledgerfile/ledgerfile.hpp"
#include "tessel_installer/utils/pkgkit/filenames.hpp"
#include "tessel_installer/utils/pkgkit/pip_child.hpp"
#include "tessel_installer/utils/pkgkit/pkgkit.hpp"
#include "tessel_installer/utils/termwrite/termwrite.hpp"

namespace tessel_installer::installer {

namespace {

// How one child ended: its status, read once, the outcome text its line showed, pip's standard
// error when the run keeps it, and a failure to write our own output meanwhile.
struct ChildEnd {
    int status = constants::ERROR;
    std::string outcome_text;
    std::string err;
    std::exception_ptr output_failure;
};

// The package a child is for, as its progress line names it, and the version its distribution
// had before.
struct ChildLabel {
    const std::string& package;
    const OptionalText& version;
    const OptionalText& installed_version;
};

// Runs one package's child: animated with its output discarded, or in debug mode with the command
// printed and pip writing to the terminal. With a journal that keeps pip's output, the output goes
// to files instead of the null device and into the log. Returns once the child has ended.
ChildEnd _run_one_child(const PipCommand& command, const ChildLabel& label, const PipRun& run,
                        Children& children) {
    ChildEnd end;
    const auto started = std::chrono::system_clock::now();
    if (run.settings.debug) {
        // Credentials in the index address are shown as pip shows them.
        termwrite::print_message(pkgkit::mask_url_credentials(command.printable));
        // Our buffered lines must reach the terminal before the child's own output does.
        std::cout.flush();
        std::fflush(stdout);
        end.status = children
                         .start(command.argv, {platform::Stream::Inherit, platform::Stream::Inherit,
                                               pkgkit::vendor_sources_only()})
                         ->wait();
        if (run.journal != nullptr) {
            run.journal->log_child({.command = command.printable,
                                    .started = started,
                                    .ended = std::chrono::system_clock::now(),
                                    .status = end.status,
                                    .output_on_terminal = true});
        }
        return end;
    }
    std::optional<ChildOutputFiles> files;
    platform::SpawnOptions spawn{platform::Stream::Discard, platform::Stream::Discard,
                                 pkgkit::vendor_sources_only()};
    if (run.journal != nullptr && run.journal->captures()) {
        files.emplace();
        spawn.out = platform::Stream::File;
        spawn.err = platform::Stream::File;
        spawn.out_file = files->out_path();
        spawn.err_file = files->err_path();
    }
    const auto process = children.start(command.argv, spawn);
    try {
        end.status = termwrite::display_progress_animation({.process = *process,
                                                            .package = label.package,
                                                            .version = label.version,
                                                            .show_version = run.show_version,
                                                            .action = run.action,
                                                            .installed_version = label.installed_version,
                                                            .upgrade = run.settings.upgrade,
                                                            .frames = !run.settings.no_progress});
    } catch (const OSError&) {
        // A line that cannot be written (a full disk, a closed pipe) must not cost the package
        // its record: the child is waited for and its outcome kept, then the failure ends the run.
        end.output_failure = std::current_exception();
        end.status = process->wait();
    }
    end.outcome_text = std::string(termwrite::handle_process_exit_code({.status = end.status,
                                                                        .action = run.action,
                                                                        .installed_version = label.installed_version,
                                                                        .version = label.version,
                                                                        .upgrade = run.settings.upgrade}));
    if (files) {
        end.err = files->read_err();
        run.journal->log_child({.command = command.printable,
                                .started = started,
                                .ended = std::chrono::system_clock::now(),
                                .status = end.status,
                                .out = files->read_out(),
                                .err = end.err});
    }
    return end;
}

// A dry run's line for one package: the line a real run would end with, its outcome text
// replaced by what the run would do.
DryOutcome _print_dry_outcome(const std::string& package, const OptionalText& package_version,
                              const OptionalText& installed_version, const PipRun& run) {
    const DryOutcome outcome =
        _predict_outcome(run.action, installed_version, package_version, run.settings.upgrade);
    termwrite::print_message(
        termwrite::progress_label(package, run.action == PipAction::Uninstall ? std::nullopt
                                                                              : package_version,
                                  run.show_version) +
        " - " + std::string(dry_outcome_text(outcome)));
    return outcome;
}

// Whether the distribution is still installed, asked even when an interrupt is pending: an
// interrupted uninstall may have removed it already.
bool _still_installed(const std::string& distribution, Children& children) {
    const platform::InterruptShield shield;
    for (const auto& installed : children.installed_distributions()) {
        if (pkgkit::canonicalize_name(installed.name) == distribution) return true;
    }
    return false;
}

// Keeps the record of installed packages in step with one package's outcome.
void _record_outcome(const std::string& package, bool was_successful, PipRun& run,
                     Children& children) {
    // An install from a folder is recorded too: on the offline machine the uninstall has no
    // catalogue to fall back on.
    if (run.action == PipAction::Install && was_successful) {
        ledgerfile::store_package_name(package);
    }
    if (run.action != PipAction::Uninstall) return;
    // The record is per user, and pip skips with status 0 a package that only some other
    // environment holds: entries go only for a distribution this environment held and no longer
    // holds. A child that failed after the removal (an interrupt, a broken pipe) still takes
    // them when the distribution is gone.
    const std::string distribution = _distribution_of(package);
    if (run.installed_before.count(distribution) != 0 &&
        (was_successful || !_still_installed(distribution, children))) {
        run.installed_before.erase(distribution);
        ledgerfile::remove_distribution(package);
    }
}

}  // namespace

bool _is_valid_package_text(std::string_view text) {
    return pkgkit::parse_package_text(text).has_value();
}

void _check_package_texts(const std::vector<std::string>& packages) {
    for (const auto& package : packages) {
        if (!_is_valid_package_text(package)) {
            throw ValueError("Invalid package name '" + package + "': not passed to pip.");
        }
    }
}

InventorySnapshot _take_inventory_snapshot(Children& children) {
    InventorySnapshot snapshot;
    for (auto& distribution : children.installed_distributions()) {
        snapshot.versions.set(distribution.name, distribution.version);
        snapshot.names.push_back(std::move(distribution.name));
    }
    return snapshot;
}

std::string _index_url() { return "https://" + std::string(config::PYPI_URL) + "/"; }

PipCommand _build_pip_command(const PipCommandParts& parts) {
    PipCommand command;
    command.argv = {parts.interpreter, "-m", "pip"};
    command.printable = "\npip";
    auto append = [&command](std::string_view word) {
        command.argv.emplace_back(word);
        command.printable += ' ';
        command.printable += word;
    };
    for (const std::string_view word : constants::pip_words(parts.action)) {
        if (!word.empty()) append(word);
    }
    append(parts.package_token);
    if (_non_empty(parts.index_url)) {
        append("--index-url");
        append(*parts.index_url);
        for (const auto host : constants::TRUSTED_HOSTS) {
            append("--trusted-host");
            append(host);
        }
    }
    if (parts.upgrade) append("--upgrade");
    for (const auto& word : parts.extra_options) append(word);
    return command;
}

VersionPlan _plan_version(const std::string& package, const PipRun& run) {
    if (run.offline) return {};
    // The connectors package is asked for with its database extras ("bundle-birch[postgres]").
    const bool is_connectors =
        constants::is_connectors_package(std::string_view(package).substr(0, package.find('[')));
    if ((_non_empty(run.version) || _non_empty(run.index_url)) && !is_connectors) {
        return {.source = _non_empty(run.version) ? VersionPlan::Source::Given
                                                  : VersionPlan::Source::LookUp,
                .pin = !run.settings.upgrade};
    }
    // The connectors package is never pinned: the version found only labels its progress line,
    // which an uninstall's line never shows, so an uninstall asks no index about it.
    if (is_connectors && run.action != PipAction::Uninstall) {
        return {.source = VersionPlan::Source::LookUp, .pin = false};
    }
    return {};
}

PipRunResult _perform_pip_action(PipRun run, Children& children) {
    // Only an install's outcome line compares versions; each inventory costs an interpreter child.
    if (run.action == PipAction::Install && !run.packages.empty() &&
        !run.installed_versions.has_value()) {
        run.installed_versions = _take_inventory_snapshot(children).versions;
    }
    const std::string interpreter = run.packages.empty() ? std::string() : children.interpreter();
    if (run.action == PipAction::Uninstall && !run.packages.empty()) {
        InventorySnapshot snapshot = _take_inventory_snapshot(children);
        for (const auto& name : snapshot.names) {
            run.installed_before.insert(pkgkit::canonicalize_name(name));
        }
        run.installed_versions = std::move(snapshot.versions);
    }

    // Kept from one package to the next on purpose: only a look-up or a given version changes it.
    OptionalText package_version;
    bool index_asked_for_credentials = false;
    for (const auto& package : run.packages) {
        platform::throw_if_interrupted();
        const VersionPlan plan = _plan_version(package, run);
        if (plan.source == VersionPlan::Source::Given) package_version = run.version;
        if (plan.source == VersionPlan::Source::LookUp) {
            // The index lists a distribution's versions: asked about "bundle-birch[postgres]",
            // pip finds nothing, and the package would go unpinned.
            pkgkit::VersionLookUp found =
                children.latest_version(package.substr(0, package.find('[')), run.index_url);
            package_version = std::move(found.version);
            // The package's own child still runs, unpinned, and its outcome line says it failed;
            // the cause is said once, after the summary.
            index_asked_for_credentials = index_asked_for_credentials || found.index_asked_for_credentials;
            // A look-up is a child of its own: an interrupt during it stops the run before the
            // package's own child starts.
            platform::throw_if_interrupted();
        }
        const bool pinned = plan.pin && plan.source != VersionPlan::Source::Kept &&
                            _non_empty(package_version);

        const PipCommand command =
            _build_pip_command({.interpreter = interpreter,
                                .action = run.action,
                                .package_token = pinned ? package + "==" + *package_version : package,
                                .index_url = run.index_url,
                                .upgrade = run.settings.upgrade,
                                .extra_options = run.extra_options});
        LOGGER.debug("Launching subprocess with: ", pkgkit::mask_url_credentials(command.printable));

        OptionalText installed_version;
        if (run.installed_versions.has_value()) {
            installed_version = _version_in(*run.installed_versions, package);
        }
        PackageReport* entry = run.journal != nullptr ? &run.journal->entry(package) : nullptr;
        if (entry != nullptr) {
            entry->reached = true;
            entry->version_before = installed_version;
            if (pinned) {
                entry->version_requested = package_version;
            } else if (plan.source == VersionPlan::Source::Given) {
                entry->version_requested = run.version;
            }
        }

        if (run.settings.dry_run) {
            // A version kept from the package before is not this package's target.
            const OptionalText target =
                plan.source == VersionPlan::Source::Kept ? std::nullopt : package_version;
            const DryOutcome outcome = _print_dry_outcome(package, target, installed_version, run);
            run.package_status.set(package, true);
            if (entry != nullptr) {
                entry->outcome = std::string(dry_outcome_word(outcome));
                entry->changed = dry_outcome_changes(outcome);
            }
            continue;
        }

        const ChildEnd end = _run_one_child(command,
                                            {.package = package,
                                             .version = package_version,
                                             .installed_version = installed_version},
                                            run, children);
        // A child ended by a signal has a negative status: a failure like any other non-zero one.
        const bool was_successful = end.status == constants::SUCCESS;
        run.package_status.set(package, was_successful);
        if (entry != nullptr) {
            const bool was_installed = run.installed_before.count(_distribution_of(package)) != 0;
            entry->outcome =
                std::string(_outcome_word(run.action, end.status, end.outcome_text, was_installed));
            entry->changed = entry->outcome == "installed" || entry->outcome == "downloaded" ||
                             entry->outcome == "uninstalled";
            entry->exit_status = end.status;
            if (!was_successful) entry->stderr_tail = _last_lines(end.err, STDERR_TAIL_LINES);
        }
        _record_outcome(package, was_successful, run, children);
        if (end.output_failure) std::rethrow_exception(end.output_failure);
        platform::throw_if_interrupted();
    }
    return {std::move(run.package_status), index_asked_for_credentials};
}

}  // namespace tessel_installer::installer
