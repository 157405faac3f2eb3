// The actions between the public operations and the pip runner: the index address and pip options
// of an install or a download, the base phase and the bundle phase under their headers, the
// connectors warning and the summary; and the uninstall under its single header.
#include <string>
#include <string_view>
#include <vector>

#include "tessel_installer/constants.hpp"
#include "tessel_installer/errors.hpp"
#include "tessel_installer/installation/engine.hpp"
#include "tessel_installer/terminal_text.hpp"
#include "tessel_installer/utils/pkgkit/pip_child.hpp"
#include "tessel_installer/utils/pkgkit/pkgkit.hpp"
#include "tessel_installer/utils/termwrite/termwrite.hpp"

namespace tessel_installer::installer {

namespace {

constexpr std::string_view ONLY_BINARY = "--only-binary=:all:";

}  // namespace

bool ActionResult::all_succeeded() const { return termwrite::all_succeeded(package_status); }

std::vector<std::string> _download_options(const Request& request) {
    const bool by_platform = request.platform.has_value() && !request.platform->empty();
    const bool by_python = request.python_version.has_value() && !request.python_version->empty();
    std::vector<std::string> options{"--dest", request.folder.value_or("")};
    // Either restriction asks for wheels only; the switch comes once, right after the folder.
    if (by_platform || by_python) options.emplace_back(ONLY_BINARY);
    if (by_platform) {
        for (const auto& tag : *request.platform) {
            options.emplace_back("--platform");
            options.push_back(tag);
        }
    }
    if (by_python) {
        options.emplace_back("--python-version");
        options.push_back(*request.python_version);
    }
    return options;
}

ActionResult _install_packages_action(const PackageKinds& user_requested_packages,
                                      const Request& request, Children& children, ActionRun run) {
    run.action = PipAction::Install;
    run.packages = user_requested_packages;
    run.index_url = _index_url();
    run.version = request.version;
    run.settings = request;
    return _print_and_perform_action(std::move(run), children);
}

ActionResult _download_packages_action(const PackageKinds& packages, const Request& request,
                                       Children& children, RunJournal* journal) {
    return _print_and_perform_action({.action = PipAction::Download,
                                      .packages = packages,
                                      .index_url = _index_url(),
                                      .version = request.version,
                                      .pip_options = _download_options(request),
                                      .settings = request,
                                      .journal = journal},
                                     children);
}

PackageStatus _uninstall_packages_action(const std::vector<std::string>& packages,
                                         const Request& request, Children& children,
                                         RunJournal* journal) {
    if (journal != nullptr) {
        for (const auto& package : packages) journal->plan(package, "");
    }
    termwrite::print_message("Uninstalling:");
    return _perform_pip_action({.action = PipAction::Uninstall,
                                .packages = packages,
                                .settings = request,
                                .journal = journal},
                               children)
        .package_status;
}

ActionResult _print_and_perform_action(ActionRun run, Children& children) {
    const auto [base_packages, bundles] =
        pkgkit::split_base_and_bundles(run.packages, run.use_product_type);
    // Every text is checked before the first phase, so a bad one stops the action before any
    // child has run rather than between the phases.
    _check_package_texts(base_packages);
    _check_package_texts(bundles);
    const std::string title(constants::title(run.action));
    if (run.journal != nullptr) {
        // Planned in run order, so the packages an interrupt leaves behind are reported too.
        for (const auto& package : base_packages) {
            const std::string kind = run.use_product_type ? run.packages.get(package).value_or("") : "base";
            run.journal->plan(package, kind.empty() ? "base" : kind);
        }
        for (const auto& package : bundles) {
            const std::string kind = run.use_product_type ? run.packages.get(package).value_or("") : "bundle";
            run.journal->plan(package, kind.empty() ? "bundle" : kind);
        }
    }

    ActionResult result;
    const auto phase = [&](const std::vector<std::string>& packages, bool show_version) {
        PipRunResult ran = _perform_pip_action({.action = run.action,
                                                .packages = packages,
                                                .version = run.version,
                                                .index_url = run.index_url,
                                                .extra_options = run.pip_options,
                                                .offline = run.offline,
                                                .show_version = show_version,
                                                .package_status = std::move(result.package_status),
                                                .installed_versions = run.installed_versions,
                                                .settings = run.settings,
                                                .journal = run.journal},
                                               children);
        result.package_status = std::move(ran.package_status);
        result.index_asked_for_credentials =
            result.index_asked_for_credentials || ran.index_asked_for_credentials;
        // The bundles see what the base phase installed.
        run.installed_versions.reset();
    };
    if (!base_packages.empty()) {
        termwrite::print_message("\n" + title + "ing Tessel Enterprise:");
        phase(base_packages, true);
    }
    if (!bundles.empty()) {
        termwrite::print_message("\n" + title + "ing Bundles:");
        // Bundle labels never show a version.
        phase(bundles, false);
    }

    // Decided by what was asked for, by exact name: "bundle-birch[postgres]" already names its
    // database variant.
    for (const auto& [package, kind] : run.packages) {
        if (constants::is_connectors_package(package)) {
            termwrite::print_warning_base_connector_package_installed();
            break;
        }
    }

    // A dry run changed nothing: there is nothing to sum up.
    if (run.settings.dry_run) return result;

    std::vector<std::string> successful_packages;
    if (run.action == PipAction::Install) {
        OrderedMap<std::string> versions_after;
        for (auto& distribution : children.installed_distributions()) {
            versions_after.set(distribution.name, distribution.version);
            result.installed_after.push_back(std::move(distribution.name));
        }
        // The summary's own reading after the last child also gives the report its versions.
        if (run.journal != nullptr) run.journal->set_versions_after(versions_after);
        successful_packages = result.installed_after;
    } else {
        for (const auto& [package, succeeded] : result.package_status) {
            if (succeeded) successful_packages.push_back(package);
        }
    }
    const bool tessel_included = pkgkit::check_is_tessel_enterprise_included(successful_packages);
    termwrite::print_package_summary(run.action, result.package_status, tessel_included);
    if (result.index_asked_for_credentials) {
        termwrite::print_index_asked_for_credentials(
            text::terminal_safe(pkgkit::mask_url_credentials(run.index_url.value_or(""))));
    }
    return result;
}

}  // namespace tessel_installer::installer
