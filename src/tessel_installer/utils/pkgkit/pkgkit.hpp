// Package utilities: the inventory of the target environment, PEP 440 version comparison, the newest
// version on an index, package names from file names and requirements, and the split of packages
// into the base package and bundles.
#pragma once

#include <cstddef>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "tessel_installer/errors.hpp"
#include "tessel_installer/ordered_map.hpp"

namespace tessel_installer::pkgkit {

// ---- Error kinds -----------------------------------------------------------------------------

// A text that is not a PEP 440 version where one is required.
class InvalidVersion : public ValueError {
public:
    using ValueError::ValueError;
};

// A ".whl" file name that breaks the wheel naming convention.
class InvalidWheelFilename : public ValueError {
public:
    using ValueError::ValueError;
};

// A ".tar.gz" file name that is not "NAME-VERSION.tar.gz".
class InvalidSdistFilename : public ValueError {
public:
    using ValueError::ValueError;
};

// A text that is not a PEP 508 requirement.
class InvalidRequirement : public ValueError {
public:
    using ValueError::ValueError;
};

// ---- Inventory and versions ------------------------------------------------------------------

// Names of the installed distributions, in the environment's enumeration order, duplicates kept.
std::vector<std::string> list_current_installed_packages();

// Name to version, in enumeration order; a name seen again takes the later version.
OrderedMap<std::string> list_current_installed_packages_with_their_version();

// PEP 440 comparisons. False when either side is absent or not a valid version; never throw.
bool is_version_bigger(const std::optional<std::string>& installed_version,
                       const std::optional<std::string>& requested_version) noexcept;
bool is_version_equal(const std::optional<std::string>& installed_version,
                      const std::optional<std::string>& requested_version) noexcept;

// The newest version that the index offers for the package (pip index versions), or none when
// pip fails. Throws RuntimeError when pip succeeds without an "Available versions: " line.
std::optional<std::string> get_latest_package_version(
    const std::string& package_name, const std::optional<std::string>& index_url = std::nullopt);

// What one version look-up found: the version as above, and whether pip failed because the index
// asked for credentials that it could not supply.
struct VersionLookUp {
    std::optional<std::string> version;
    bool index_asked_for_credentials = false;
};
VersionLookUp look_up_latest_package_version(
    const std::string& package_name, const std::optional<std::string>& index_url = std::nullopt);

// ---- Naming and classification ---------------------------------------------------------------

// The name prefix that marks the base package.
inline constexpr std::string_view BASE_PREFIX = "tessel-enterprise";

// The length of the distribution name at the start of the text: ASCII letters and digits at both
// ends, letters, digits, '.', '_' and '-' between, as far as it goes; 0 when none starts there.
std::size_t distribution_name_length(std::string_view text) noexcept;

// A package text split into its distribution name and its extras, as written.
struct PackageText {
    std::string name;
    std::vector<std::string> extras;  // in order; empty for "name" and "name[]"
};

// A distribution name, optionally followed by extras in brackets ("name[extra]", "name[a, b]",
// blanks allowed around each extra, "name[]"); none for any other text.
std::optional<PackageText> parse_package_text(std::string_view text);

// Trims Unicode white space and lower-cases.
std::string clean_path(std::string_view path);

// The distribution name of a package file: wheel and sdist names parsed and normalised, any other
// file's lower-cased base name, none for an empty or blank path. Throws InvalidWheelFilename or
// InvalidSdistFilename (ValueError kinds) for a malformed wheel or sdist name.
std::optional<std::string> get_package_name(std::string_view file_path);

// The name of a PEP 508 requirement as written. Throws InvalidRequirement (a ValueError kind).
std::string get_requirement_name(std::string_view requirement);

using NameLists = std::pair<std::vector<std::string>, std::vector<std::string>>;

// (base names, bundle names), each sorted by code point. By kind: "base" and "bundle" values, other
// kinds dropped. By name (use_product_type false): names starting with BASE_PREFIX are base.
NameLists split_base_and_bundles(const OrderedMap<std::string>& packages,
                                 bool use_product_type = true);

// True when any name starts with BASE_PREFIX.
bool check_is_tessel_enterprise_included(const std::vector<std::string>& packages);

// The loose collections that callers pass: nothing, one name, a list of names, a set of names, or a
// mapping keyed by name.
using LooseCollection = std::variant<std::monostate, std::string, std::vector<std::string>,
                                     std::set<std::string>, OrderedMap<std::string>>;

std::set<std::string> convert_to_set(const LooseCollection& obj);
bool is_none_or_empty_iterate(const LooseCollection& obj);

// The related packages that an install brought in beyond those requested.
std::set<std::string> determine_additional_tessel_enterprise_deps(
    const LooseCollection& packages_before_install, const LooseCollection& packages_after_install,
    const LooseCollection& user_requested_packages,
    const LooseCollection& all_tessel_enterprise_related_pkgs);
// The same with the managed package names as the related set.
std::set<std::string> determine_additional_tessel_enterprise_deps(
    const LooseCollection& packages_before_install, const LooseCollection& packages_after_install,
    const LooseCollection& user_requested_packages);

}  // namespace tessel_installer::pkgkit
