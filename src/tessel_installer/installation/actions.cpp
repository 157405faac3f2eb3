// The actions between the public operations and the pip runner: the index address and pip options
// of an install or a download, the base phase and the bundle phase under their headers, the
// connectors warning and the summary; and the uninstall under its single header.
#include <cctype>
#include <string>
#include <string_view>
#include <vector>

#include "tessel_installer/constants.hpp"
#include "tessel_installer/errors.hpp"
#include "tessel_installer/installation/engine.hpp"
#include "tessel_installer/utils/pkgkit/pkgkit.hpp"
#include "tessel_installer/utils/termwrite/termwrite.hpp"

namespace tessel_installer::installer {

namespace {

constexpr std::string_view ONLY_BINARY = "--only-binary=:all:";

// "install" gives "Install", "download" gives "Download".
std::string _action_cap(std::string_view action) {
    std::string cap(action);
    for (auto& c : cap) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (!cap.empty()) cap[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(cap[0])));
    return cap;
}

}  // namespace

bool ActionResult::all_succeeded() const {
    for (const auto& [package, succeeded] : package_status) {
        if (!succeeded) return false;
    }
    return true;
}

std::vector<std::string> _download_options(const std::string& folder,
                                           const OptionalList& platform,
                                           const OptionalText& python_version) {
    const bool by_platform = platform.has_value() && !platform->empty();
    const bool by_python = python_version.has_value() && !python_version->empty();
    std::vector<std::string> options{"--dest", folder};
    // Either restriction asks for wheels only; the switch comes once, right after the folder.
    if (by_platform || by_python) options.emplace_back(ONLY_BINARY);
    if (by_platform) {
        for (const auto& tag : *platform) {
            options.emplace_back("--platform");
            options.push_back(tag);
        }
    }
    if (by_python) {
        options.emplace_back("--python-version");
        options.push_back(*python_version);
    }
    return options;
}

ActionResult _install_packages_action(const PackageKinds& user_requested_packages,
                                      const OptionalText& version, bool debug, bool upgrade,
                                      const OrderedMap<std::string>* inventory_before) {
    return _print_and_perform_action("install", user_requested_packages, _index_url(), debug,
                                     version, {}, upgrade, true, inventory_before);
}

ActionResult _download_packages_action(const PackageKinds& packages,
                                       const OptionalText& python_version,
                                       const OptionalList& platform, const std::string& folder,
                                       const OptionalText& version, bool debug) {
    return _print_and_perform_action("download", packages, _index_url(), debug, version,
                                     _download_options(folder, platform, python_version));
}

PackageStatus _uninstall_packages_action(const std::vector<std::string>& packages, bool debug) {
    termwrite::print_message("Uninstalling:");
    return _perform_pip_action("uninstall -y", packages, std::nullopt, std::nullopt, {}, false,
                               debug);
}

ActionResult _print_and_perform_action(std::string_view action, const PackageKinds& packages,
                                       const OptionalText& index_url, bool debug,
                                       const OptionalText& version,
                                       const std::vector<std::string>& pip_options, bool upgrade,
                                       bool use_product_type,
                                       const OrderedMap<std::string>* inventory_before) {
    // Every text is checked before the first phase, so a bad one stops the action before any
    // child has run rather than between the phases.
    for (const auto& [package, kind] : packages) {
        if (!_is_valid_package_text(package)) {
            throw ValueError("Invalid package name '" + package + "': not passed to pip.");
        }
    }

    const auto [base_packages, bundles] = pkgkit::split_base_and_bundles(packages, use_product_type);
    const std::string action_cap = _action_cap(action);

    ActionResult result;
    if (!base_packages.empty()) {
        termwrite::print_message("\n" + action_cap + "ing Tessel Enterprise:");
        result.package_status =
            _perform_pip_action(action, base_packages, version, index_url, pip_options,
                                /*show_version=*/true, debug, upgrade,
                                std::move(result.package_status), inventory_before);
        inventory_before = nullptr;  // the bundles see what the base phase installed
    }
    if (!bundles.empty()) {
        termwrite::print_message("\n" + action_cap + "ing Bundles:");
        result.package_status =
            _perform_pip_action(action, bundles, version, index_url, pip_options,
                                /*show_version=*/false, debug, upgrade,
                                std::move(result.package_status), inventory_before);
    }

    // Decided by what was asked for, by exact name: "bundle-birch[postgres]" already names its
    // database variant.
    for (const auto& [package, kind] : packages) {
        if (constants::is_connectors_package(package)) {
            termwrite::print_warning_base_connector_package_installed();
            break;
        }
    }

    std::vector<std::string> successful_packages;
    if (action == "install") {
        result.installed_after = pkgkit::list_current_installed_packages();
        successful_packages = result.installed_after;
    } else {
        for (const auto& [package, succeeded] : result.package_status) {
            if (succeeded) successful_packages.push_back(package);
        }
    }
    const bool tessel_included = pkgkit::check_is_tessel_enterprise_included(successful_packages);
    termwrite::print_package_summary(action, result.package_status, tessel_included);
    return result;
}

}  // namespace tessel_installer::installer
