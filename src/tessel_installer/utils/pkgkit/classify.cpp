// Splitting packages into the base package and bundles, and working out which managed packages an
// install brought in beyond those the user asked for.
#include <algorithm>
#include <iterator>
#include <type_traits>

#include "tessel_installer/constants.hpp"
#include "tessel_installer/utils/pkgkit/pkgkit.hpp"

namespace tessel_installer::pkgkit {
namespace {

bool has_base_prefix(std::string_view name) noexcept { return name.starts_with(BASE_PREFIX); }

}  // namespace

NameLists split_base_and_bundles(const OrderedMap<std::string>& packages, bool use_product_type) {
    NameLists result;
    for (const auto& [name, kind] : packages) {
        if (use_product_type ? constants::ProductType::BASE == kind : has_base_prefix(name)) {
            result.first.push_back(name);
        } else if (!use_product_type || constants::ProductType::BUNDLE == kind) {
            result.second.push_back(name);
        }
        // By kind, any other kind belongs to neither group and is left out.
    }
    // std::string compares by unsigned char, which is code-point order for UTF-8.
    std::sort(result.first.begin(), result.first.end());
    std::sort(result.second.begin(), result.second.end());
    return result;
}

bool check_is_tessel_enterprise_included(const std::vector<std::string>& packages) {
    return std::any_of(packages.begin(), packages.end(),
                       [](const std::string& name) { return has_base_prefix(name); });
}

std::set<std::string> convert_to_set(const LooseCollection& obj) {
    return std::visit(
        [](const auto& value) -> std::set<std::string> {
            using T = std::decay_t<decltype(value)>;
            if constexpr (std::is_same_v<T, std::monostate>) {
                // Nothing counts as no names, so set arithmetic on it stays well defined.
                return {};
            } else if constexpr (std::is_same_v<T, std::string>) {
                return {value};  // one name, never split into characters
            } else if constexpr (std::is_same_v<T, OrderedMap<std::string>>) {
                const auto keys = value.keys();
                return {keys.begin(), keys.end()};
            } else {
                return {value.begin(), value.end()};
            }
        },
        obj);
}

bool is_none_or_empty_iterate(const LooseCollection& obj) {
    return std::visit(
        [](const auto& value) -> bool {
            using T = std::decay_t<decltype(value)>;
            if constexpr (std::is_same_v<T, std::monostate>) {
                return true;
            } else {
                return value.empty();
            }
        },
        obj);
}

std::set<std::string> determine_additional_tessel_enterprise_deps(
    const LooseCollection& packages_before_install, const LooseCollection& packages_after_install,
    const LooseCollection& user_requested_packages,
    const LooseCollection& all_tessel_enterprise_related_pkgs) {
    if (is_none_or_empty_iterate(user_requested_packages)) return {};

    const auto before = convert_to_set(packages_before_install);
    const auto after = convert_to_set(packages_after_install);
    std::set<std::string> requested;
    for (const auto& entry : convert_to_set(user_requested_packages)) {
        // "bundle-alder>=1.0" was a request for "bundle-alder".
        requested.insert(get_requirement_name(entry));
    }
    const auto related = convert_to_set(all_tessel_enterprise_related_pkgs);

    std::set<std::string> additional;
    for (const auto& name : after) {
        if (!before.contains(name) && related.contains(name) && !requested.contains(name)) {
            additional.insert(name);
        }
    }
    return additional;
}

std::set<std::string> determine_additional_tessel_enterprise_deps(
    const LooseCollection& packages_before_install, const LooseCollection& packages_after_install,
    const LooseCollection& user_requested_packages) {
    return determine_additional_tessel_enterprise_deps(
        packages_before_install, packages_after_install, user_requested_packages,
        std::set<std::string>(constants::EXPECTED_PACKAGES.begin(),
                              constants::EXPECTED_PACKAGES.end()));
}

}  // namespace tessel_installer::pkgkit
