// The public operations behind the sub-commands. Each returns the process exit status: 0 when it
// did what was asked or found nothing to do, 1 when a package's child failed, the asked-for package
// is not on offer or not in the folder, or the catalogue could not be fetched. The run always goes
// on to its end (both phases, the warning, the summary, the note) before the status is decided.
#include <filesystem>
#include <iostream>
#include <set>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "tessel_installer/constants.hpp"
#include "tessel_installer/errors.hpp"
#include "tessel_installer/installation/bundle_manifest.hpp"
#include "tessel_installer/installation/engine.hpp"
#include "tessel_installer/preflight.hpp"
#include "tessel_installer/installation/installer.hpp"
#include "tessel_installer/installation/run_report.hpp"
#include "tessel_installer/json_document.hpp"
#include "tessel_installer/platform/signals.hpp"
#include "tessel_installer/terminal_text.hpp"
#include "tessel_installer/utils/ledgerfile/ledgerfile.hpp"
#include "tessel_installer/utils/pkgkit/pkgkit.hpp"
#include "tessel_installer/utils/pkgkit/unicode_text.hpp"
#include "tessel_installer/utils/termwrite/termwrite.hpp"

namespace tessel_installer::installer {

namespace {

using constants::ERROR;
using constants::SUCCESS;

// Runs a step on the record; when the record exists but fails it, the uninstall cannot go on:
// the error names the record and the cause and keeps its kind. (The paths in the cause are
// rendered terminal-safe where the error is made.)
template <typename Step>
void _stop_unless_record_usable(std::string_view what, Step step) {
    const std::string context = "Cannot " + std::string(what) +
                                " the record of installed packages, so nothing was uninstalled: ";
    try {
        step();
    } catch (const PermissionError& error) {
        throw PermissionError(context + error.what());
    } catch (const FileNotFoundError& error) {
        throw FileNotFoundError(context + error.what());
    } catch (const OSError& error) {
        throw OSError(context + error.what());
    } catch (const ValueError& error) {
        throw ValueError(context + error.what());
    }
}

// The names recorded by earlier installs, or none when there is no record, so that the catalogue
// stands in for it. A record that exists but cannot be read is an error: falling back would
// uninstall what was never recorded.
std::optional<std::set<std::string>> _read_record_for_uninstall() {
    std::optional<std::set<std::string>> recorded;
    _stop_unless_record_usable("read", [&recorded] { recorded = ledgerfile::read_stored_packages(); });
    return recorded;
}

// The status the front end will end the run with for the error being handled.
int _status_of_escaped_error() {
    try {
        throw;
    } catch (const Interrupted& interrupted) {
        return interrupt_status(interrupted.signal_number());
    } catch (...) {
        const int signal_number = platform::pending_interrupt();
        return signal_number != 0 ? interrupt_status(signal_number) : ERROR;
    }
}

// The pre-flight of the target environment; the report keeps the environment's prefix it read.
void _check_target(Children& children, pyenv::TargetUse use, RunJournal* journal) {
    const std::string prefix = children.check_target_environment(use);
    if (journal != nullptr) journal->set_prefix(prefix);
}

// The report's last reading of the installed versions, when the action did not take one after
// its last child (an uninstall, or a run that stopped early). Asked even when an interrupt is
// pending; a reading that fails leaves the versions unknown.
void _read_versions_after(RunJournal& journal, PipAction action, Children& children) {
    if (!journal.wants_report() || journal.dry_run() || action == PipAction::Download ||
        !journal.ran_children() || journal.has_versions_after()) {
        return;
    }
    try {
        const platform::InterruptShield shield;
        journal.set_versions_after(_take_inventory_snapshot(children).versions);
    } catch (const std::exception&) {
    }
}

// Runs an operation's body with the journal that --report and --log ask for, and writes the
// report however the body ends. Without either option the body runs without a journal, as it
// always did.
int _run_journaled(PipAction action, const Request& request, Children& children,
                   int (*body)(const Request&, Children&, RunJournal*)) {
    if (!request.report && !request.log) return body(request, children, nullptr);
    RunJournal journal(action, request);
    try {
        journal.set_interpreter(children.interpreter());
    } catch (const std::exception&) {
        // No interpreter: the report says so, and the run fails where it needs one.
    }
    int status = ERROR;
    try {
        status = body(request, children, &journal);
        if (const int signal_number = platform::pending_interrupt(); signal_number != 0) {
            status = interrupt_status(signal_number);
        }
        // Output that cannot be delivered fails the run: found now, so the report says so.
        termwrite::print_with_flush("");
    } catch (...) {
        const int escaped_status = _status_of_escaped_error();
        _read_versions_after(journal, action, children);
        try {
            journal.write_report(escaped_status);
        } catch (const std::exception& failure) {
            std::cerr << "tessel-installer: error: the report was not written: "
                      << text::terminal_safe(failure.what()) << '\n' << std::flush;
        }
        throw;
    }
    _read_versions_after(journal, action, children);
    journal.write_report(status);
    return status;
}

}  // namespace

std::vector<std::string> _list_wheel_files(const std::string& folder) {
    std::vector<std::string> wheels;
    std::error_code error;
    std::filesystem::directory_iterator entries(std::filesystem::path(folder), error);
    for (; !error && entries != std::filesystem::directory_iterator(); entries.increment(error)) {
        const std::string name = entries->path().filename().string();
        if (name.empty() || name.front() == '.') continue;
        if (name.size() < 4 || name.compare(name.size() - 4, 4, ".whl") != 0) continue;
        wheels.push_back(folder + "/" + name);
    }
    // A folder that cannot be read is not an empty one: an install from it would have installed
    // nothing and still reported success.
    if (error) {
        const std::string message = "cannot read the folder " +
                                    pkgkit::text::quote_for_message(folder) + ": " +
                                    error.message();
        if (error == std::errc::no_such_file_or_directory) throw FileNotFoundError(message);
        if (error == std::errc::permission_denied) throw PermissionError(message);
        throw OSError(message);
    }
    return wheels;
}

int install_packages(const Request& request, Children& children) {
    return _run_journaled(PipAction::Install, request, children, _install_packages);
}

int _install_packages(const Request& request, Children& children, RunJournal* journal) {
    const std::optional<PackageKinds> all_tessel_enterprise_related_pkgs =
        _get_accessible_packages(journal);
    platform::throw_if_interrupted();
    _check_target(children, pyenv::TargetUse::Install, journal);  // before the first child
    // One reading serves as the snapshot before the install and as the first phase's installed
    // versions: only the second catalogue request lies between the two.
    InventorySnapshot before = _take_inventory_snapshot(children);
    if (journal != nullptr) journal->set_versions_before(before.versions);
    const Selection selection = _select_packages(request.package, request.options, journal);
    platform::throw_if_interrupted();

    // A notice about a failed fetch was printed: the run cannot count as a success.
    const int fetch_status = all_tessel_enterprise_related_pkgs.has_value() ? SUCCESS : ERROR;
    switch (selection.outcome) {
        case SelectionOutcome::Selected:
            break;
        case SelectionOutcome::EmptyCatalogue:
            termwrite::print_message("No packages available for installation.");
            return fetch_status;
        case SelectionOutcome::FetchFailed:
        case SelectionOutcome::UnknownPackage:
            return ERROR;
    }

    const ActionResult result =
        _install_packages_action(*selection.packages, request, children,
                                 {.installed_versions = before.versions, .journal = journal});
    if (request.dry_run) return fetch_status;
    // The action's own after-install snapshot: nothing has been installed since it was taken.
    pkgkit::LooseCollection related;
    if (all_tessel_enterprise_related_pkgs.has_value()) related = *all_tessel_enterprise_related_pkgs;
    termwrite::print_additional_dependencies_installed(
        pkgkit::determine_additional_tessel_enterprise_deps(before.names, result.installed_after,
                                                            *selection.packages, related));
    return result.all_succeeded() ? fetch_status : ERROR;
}

int install_packages_from_folder(const Request& request, Children& children) {
    return _run_journaled(PipAction::Install, request, children, _install_packages_from_folder);
}

int _install_packages_from_folder(const Request& request, Children& children,
                                  RunJournal* journal) {
    const std::string folder = request.folder.value_or("");
    const std::optional<BundleManifest> manifest = check_bundle_folder(folder);
    // Names from wheel files are validated by the wheel-name parser; a malformed file name is a
    // ValueError that stops the operation before anything is installed.
    std::set<std::string> found;
    for (const auto& wheel : _list_wheel_files(folder)) {
        const auto package_name = pkgkit::get_package_name(wheel);
        if (package_name.has_value() && constants::is_expected_package(*package_name)) {
            found.insert(*package_name);
        }
    }

    PackageKinds packages;
    if (_non_empty(request.package)) {
        const std::string& package = *request.package;
        // Only a name found in the folder gets further, so no other text reaches pip.
        if (found.count(package) == 0) {
            termwrite::print_message("\nWarning: We couldn\u2019t find the requested package: '" +
                                     text::terminal_safe(package) +
                                     "' in the provided folder, no packages were installed.");
            return ERROR;
        }
        if (manifest) check_request_in_bundle(*manifest, folder, package, request.options);
        if (request.options.has_value() && !request.options->empty()) {
            for (const auto& option : *request.options) packages.set(package + "[" + option + "]", "");
        } else {
            packages.set(package, "");
        }
    } else {
        for (const auto& name : found) packages.set(name, "");
    }
    if (packages.empty()) {
        // Nothing of ours in the folder: nothing was installed, and the run must not say it was.
        termwrite::print_message("No packages found to install in the folder " +
                                 pkgkit::text::quote_for_message(folder) + ".");
        return ERROR;
    }

    if (!manifest) {
        termwrite::print_message("Notice! The folder has no manifest (" +
                                 std::string(BUNDLE_MANIFEST_NAME) + "); its files were not verified.");
    }
    _check_target(children, pyenv::TargetUse::Install, journal);  // before the first child
    InventorySnapshot before = _take_inventory_snapshot(children);
    if (journal != nullptr) journal->set_versions_before(before.versions);
    // pip is never asked to upgrade from a folder: the folder's files are what gets installed.
    RunSettings folder_settings = request;
    folder_settings.upgrade = false;
    const ActionResult result = _print_and_perform_action(
        {.action = PipAction::Install,
         .packages = packages,
         // Two words, so a folder with a blank in it stays one argument.
         .pip_options = {"--no-index", "--find-links", folder},
         .offline = true,
         .use_product_type = false,
         .installed_versions = before.versions,
         .settings = folder_settings,
         .journal = journal},
        children);
    if (request.dry_run) return SUCCESS;

    pkgkit::LooseCollection requested;
    if (request.package.has_value()) requested = *request.package;
    termwrite::print_additional_dependencies_installed(
        pkgkit::determine_additional_tessel_enterprise_deps(before.names, result.installed_after,
                                                            requested));
    return result.all_succeeded() ? SUCCESS : ERROR;
}

int download_packages(const Request& request, Children& children) {
    return _run_journaled(PipAction::Download, request, children, _download_packages);
}

int _download_packages(const Request& request, Children& children, RunJournal* journal) {
    const Selection selection = _select_packages(request.package, request.options, journal);
    platform::throw_if_interrupted();
    if (selection.outcome != SelectionOutcome::Selected) {
        termwrite::print_message("No packages available for download.");
        return selection.outcome == SelectionOutcome::EmptyCatalogue ? SUCCESS : ERROR;
    }
    _check_target(children, pyenv::TargetUse::Download, journal);  // before the first child
    const ActionResult result =
        _download_packages_action(*selection.packages, request, children, journal);
    PackageKinds downloaded;
    for (const auto& [name, kind] : *selection.packages) {
        if (result.package_status.get(name).value_or(false)) downloaded.set(name, kind);
    }
    write_bundle_manifest(request, downloaded);
    return result.all_succeeded() ? SUCCESS : ERROR;
}

int uninstall_packages(const Request& request, Children& children) {
    return _run_journaled(PipAction::Uninstall, request, children, _uninstall_packages);
}

int _uninstall_packages(const Request& request, Children& children, RunJournal* journal) {
    std::vector<std::string> packages;
    bool fetch_failed = false;
    const std::optional<std::set<std::string>> recorded = _read_record_for_uninstall();

    if (recorded.has_value()) {
        for (const auto& name : *recorded) {
            // The record is a file anyone can edit; pip must never see a line of it as an option.
            if (_is_valid_package_text(name)) {
                packages.push_back(name);
            } else {
                termwrite::print_message("Warning: Skipping '" + pkgkit::text::terminal_safe(name) +
                                         "' in the record of installed packages: not a valid "
                                         "package name.");
            }
        }
        // Each uninstall removes its name from the record: a record that cannot be rewritten
        // stops the run now, before any package is gone but still listed.
        if (!packages.empty()) {
            _stop_unless_record_usable("rewrite", ledgerfile::check_package_file_rewritable);
        }
    } else {
        const Selection selection = _select_packages(std::nullopt, std::nullopt, journal);
        platform::throw_if_interrupted();
        if (selection.outcome == SelectionOutcome::Selected) {
            packages = selection.packages->keys();
        } else {
            fetch_failed = selection.outcome == SelectionOutcome::FetchFailed;
        }
    }

    if (packages.empty()) {
        termwrite::print_message("No packages found to uninstall.");
        return fetch_failed ? ERROR : SUCCESS;
    }

    _check_target(children, pyenv::TargetUse::Uninstall, journal);  // before the first child
    const InventorySnapshot before = _take_inventory_snapshot(children);
    if (journal != nullptr) journal->set_versions_before(before.versions);
    const std::set<std::string> installed(before.names.begin(), before.names.end());
    // A recorded "bundle-birch[postgres]" is installed when its distribution "bundle-birch" is.
    bool any_installed = false;
    for (const auto& name : packages) {
        any_installed = any_installed || installed.count(name.substr(0, name.find('['))) != 0;
    }
    if (!any_installed) {
        termwrite::print_message("No packages found to uninstall.");
        return SUCCESS;
    }
    return termwrite::all_succeeded(_uninstall_packages_action(packages, request, children, journal))
               ? SUCCESS
               : ERROR;
}

int install_packages(const Request& request) { return install_packages(request, system_children()); }
int install_packages_from_folder(const Request& request) {
    return install_packages_from_folder(request, system_children());
}
int download_packages(const Request& request) {
    return download_packages(request, system_children());
}
int uninstall_packages(const Request& request) {
    return uninstall_packages(request, system_children());
}

int list_packages() {
    const std::optional<PackageKinds> package_to_product_type = _get_accessible_packages();
    platform::throw_if_interrupted();
    // The notice saying why was printed by the fetch.
    if (!package_to_product_type.has_value()) return ERROR;

    const auto [base_packages, bundles] = pkgkit::split_base_and_bundles(*package_to_product_type);
    termwrite::print_message("\nTessel Enterprise:\n" + text::join(base_packages, "\n"));
    if (!bundles.empty()) termwrite::print_message("\nTessel Bundles:\n" + text::join(bundles, "\n"));
    return SUCCESS;
}

int list_packages_json() {
    const PackageKinds package_to_product_type = _get_accessible_packages_or_raise();
    platform::throw_if_interrupted();

    const auto [base_packages, bundles] = pkgkit::split_base_and_bundles(package_to_product_type);
    json_document::Document document = json_document::start_document();
    auto& packages = document["packages"] = json_document::Document::array();
    const auto add = [&packages](const std::vector<std::string>& names,
                                 constants::ProductType kind) {
        for (const auto& name : names) {
            packages.push_back({{"name", name}, {"kind", std::string(constants::value_of(kind))}});
        }
    };
    add(base_packages, constants::ProductType::BASE);
    add(bundles, constants::ProductType::BUNDLE);
    termwrite::print_with_flush(json_document::document_text(document));
    return SUCCESS;
}

}  // namespace tessel_installer::installer
