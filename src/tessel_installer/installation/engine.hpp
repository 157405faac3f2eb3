// The installation engine's inner operations, shared by its files and reachable from its tests:
// the catalogue and selection, the pip runner, and the actions between the public operations and
// the runner.
#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tessel_installer/installation/installer.hpp"
#include "tessel_installer/logging.hpp"
#include "tessel_installer/ordered_map.hpp"

namespace tessel_installer::installer {

inline constexpr Logger LOGGER{"tessel_installer.installation.installer"};

// ---- Catalogue and selection -----------------------------------------------------------------

// The catalogue (package name -> product kind, in the service's order), or none when it could not
// be fetched or the reply was malformed; a notice saying what failed has then been printed.
std::optional<PackageKinds> _get_accessible_packages();

// One catalogue request: where it goes, its header lines, the limit of the whole request and the
// largest reply accepted. The fetch above uses the configured values.
struct CatalogueRequest {
    std::string url;
    std::vector<std::string> headers;  // "Name: value" lines; Content-Type is added
    std::chrono::milliseconds timeout{5000};
    std::size_t max_reply_bytes = 4 * 1024 * 1024;
};
CatalogueRequest _configured_catalogue_request();
std::optional<PackageKinds> _get_accessible_packages(const CatalogueRequest& request);

// A status-200 reply body read as a catalogue: the mapping, or (packages none) a short text saying
// what was wrong with it.
struct CatalogueReading {
    std::optional<PackageKinds> packages;
    std::string problem;
};
CatalogueReading _parse_catalogue_reply(std::string_view body);

// A valid distribution name: ASCII letters and digits at both ends, letters, digits, '.', '_' and
// '-' between. Such a name can never be read as an option by pip.
bool _is_valid_package_name(std::string_view name) noexcept;

// How a selection ended; the public operations turn it into their exit status.
enum class SelectionOutcome {
    Selected,        // at least one package
    EmptyCatalogue,  // the service offers nothing: nothing to do
    FetchFailed,     // the catalogue could not be fetched (its notice was printed)
    UnknownPackage,  // the asked-for package is not on offer ("Invalid package ..." printed)
};

struct Selection {
    std::optional<PackageKinds> packages;  // none unless Selected
    SelectionOutcome outcome = SelectionOutcome::FetchFailed;
};

// Resolves --package/--options against a freshly fetched catalogue.
Selection _select_packages(const OptionalText& package = std::nullopt,
                           const OptionalList& options = std::nullopt);
// The same, as the mapping alone (none for every outcome but Selected).
std::optional<PackageKinds> _get_packages(const OptionalText& package = std::nullopt,
                                          const OptionalList& options = std::nullopt);
// The resolution itself, against a catalogue already fetched (none: the fetch failed).
Selection _select_from_catalogue(const std::optional<PackageKinds>& catalogue,
                                 const OptionalText& package = std::nullopt,
                                 const OptionalList& options = std::nullopt);

}  // namespace tessel_installer::installer
