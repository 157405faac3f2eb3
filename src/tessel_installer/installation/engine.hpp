// The installation engine's inner operations, shared by its files and reachable from its tests:
// the catalogue and selection, the pip runner, and the actions between the public operations and
// the runner.
#pragma once

#include <optional>
#include <string>
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

}  // namespace tessel_installer::installer
