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

// ---- Pip runner and actions ------------------------------------------------------------------

// Throws Interrupted when Ctrl-C or a termination request has arrived: the run stops at the next
// point where no child of ours is running.
void _stop_if_interrupted();

// True for a distribution name (letters and digits, with ".", "_" or "-" only between them),
// optionally followed by extras in brackets ("name[extra]" or "name[a, b]"). pip reads a leading
// "-" as an option, so every package text is checked against this before it reaches a command line.
bool _is_valid_package_text(std::string_view text);

// "https://" + the configured index + "/".
std::string _index_url();

// One pip child: its argument vector and the command as shown to the user and logged.
struct PipCommand {
    std::vector<std::string> argv;
    std::string printable;
};

// The command line of one package. The action's words ("uninstall -y" is two) and the extra
// option words become separate arguments; every value stays one argument even with blanks in it.
PipCommand _build_pip_command(const std::string& interpreter, std::string_view action,
                              const std::string& package_token, const OptionalText& index_url,
                              bool upgrade, const std::vector<std::string>& extra_options);

// Runs one pip child per package, in order, and records each outcome under the package's plain
// text. extra_options are words, each one argument ({"--no-index", "--find-links", FOLDER}).
// Throws Interrupted once the child that was running when a signal arrived has ended and its
// outcome is recorded; no later package is started.
// The installed versions that the outcome lines of an install compare with are read once, before
// the first child; a caller that has just read them passes them in (inventory_before) to spare
// an interpreter child. Downloads and uninstalls never compare versions and read nothing.
PackageStatus _perform_pip_action(std::string_view action, const std::vector<std::string>& packages,
                                  const OptionalText& version = std::nullopt,
                                  const OptionalText& index_url = std::nullopt,
                                  const std::vector<std::string>& extra_options = {},
                                  bool show_version = false, bool debug = false,
                                  bool upgrade = false, PackageStatus package_status = {},
                                  const OrderedMap<std::string>* inventory_before = nullptr);

// One reading of the installed distributions, as both of the forms the engine uses.
struct InventorySnapshot {
    std::vector<std::string> names;      // enumeration order, repeats kept
    OrderedMap<std::string> versions;    // name -> version, the last one seen wins
};
InventorySnapshot _take_inventory_snapshot();

// What an install or download action leaves for its operation.
struct ActionResult {
    PackageStatus package_status;
    // After an install: the installed names the summary was decided from (the operation's
    // after-install snapshot). Empty after a download.
    std::vector<std::string> installed_after;

    bool all_succeeded() const;
};

// The download option words: --dest F, then --only-binary=:all: once when a platform or an
// interpreter version is given, the --platform pairs, and --python-version.
std::vector<std::string> _download_options(const std::string& folder,
                                           const OptionalList& platform,
                                           const OptionalText& python_version);

ActionResult _install_packages_action(const PackageKinds& user_requested_packages,
                                      const OptionalText& version = std::nullopt,
                                      bool debug = false, bool upgrade = false,
                                      const OrderedMap<std::string>* inventory_before = nullptr);

ActionResult _download_packages_action(const PackageKinds& packages,
                                       const OptionalText& python_version,
                                       const OptionalList& platform, const std::string& folder,
                                       const OptionalText& version = std::nullopt,
                                       bool debug = false);

PackageStatus _uninstall_packages_action(const std::vector<std::string>& packages,
                                         bool debug = false);

// The base phase, then the bundle phase, the connectors warning and the summary. With
// use_product_type false the kinds are ignored and names alone decide (folder install).
// inventory_before, when given, stands for the first phase's reading of the installed versions.
ActionResult _print_and_perform_action(std::string_view action, const PackageKinds& packages,
                                       const OptionalText& index_url, bool debug,
                                       const OptionalText& version,
                                       const std::vector<std::string>& pip_options = {},
                                       bool upgrade = false, bool use_product_type = true,
                                       const OrderedMap<std::string>* inventory_before = nullptr);

// The "*.whl" entries directly inside the folder, hidden names excluded, in the file system's
// order, as the folder text followed by "/" and the entry name. A folder that is missing or cannot
// be listed is an OSError kind naming it and the cause.
std::vector<std::string> _list_wheel_files(const std::string& folder);

}  // namespace tessel_installer::installer
