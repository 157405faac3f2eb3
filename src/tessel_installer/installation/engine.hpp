// The installation engine's inner operations, shared by its files and reachable from its tests:
// the catalogue and selection, the pip runner, and the actions between the public operations and
// the runner.
#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "tessel_installer/constants.hpp"
#include "tessel_installer/installation/catalogue.hpp"
#include "tessel_installer/installation/installer.hpp"
#include "tessel_installer/installation/run_report.hpp"
#include "tessel_installer/logging.hpp"
#include "tessel_installer/ordered_map.hpp"
#include "tessel_installer/platform/child.hpp"
#include "tessel_installer/platform/process.hpp"
#include "tessel_installer/preflight.hpp"
#include "tessel_installer/pyenv.hpp"
#include "tessel_installer/utils/pkgkit/pkgkit.hpp"

namespace tessel_installer::installer {

inline constexpr Logger LOGGER{"tessel_installer.installation.installer"};

// A text that is given and not empty.
inline bool _non_empty(const OptionalText& text) { return text.has_value() && !text->empty(); }

// ---- Catalogue and selection -----------------------------------------------------------------

// The catalogue (package name -> product kind, in the service's order), or none when it could not
// be fetched or the reply was malformed; a notice saying what failed has then been printed.
// With a journal, the request's address and status go into its log.
std::optional<PackageKinds> _get_accessible_packages(RunJournal* journal = nullptr);

// One catalogue request: where it goes, its header lines, the limit of the whole request and the
// largest reply accepted. The fetch above uses the configured values.
struct CatalogueRequest {
    std::string url;
    std::vector<std::string> headers;  // "Name: value" lines; Content-Type is added
    std::chrono::milliseconds timeout{5000};
    std::size_t max_reply_bytes = 4 * 1024 * 1024;
};
CatalogueRequest _configured_catalogue_request();
std::optional<PackageKinds> _get_accessible_packages(const CatalogueRequest& request,
                                                     RunJournal* journal = nullptr);
// The configured catalogue, or a RuntimeError carrying the notice that the fetch would print: for
// output that must hold nothing but a document.
PackageKinds _get_accessible_packages_or_raise();

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
                           const OptionalList& options = std::nullopt,
                           RunJournal* journal = nullptr);
// The same, as the mapping alone (none for every outcome but Selected).
std::optional<PackageKinds> _get_packages(const OptionalText& package = std::nullopt,
                                          const OptionalList& options = std::nullopt);
// The resolution itself, against a catalogue already fetched (none: the fetch failed).
Selection _select_from_catalogue(const std::optional<PackageKinds>& catalogue,
                                 const OptionalText& package = std::nullopt,
                                 const OptionalList& options = std::nullopt);

// ---- Children -------------------------------------------------------------------------------

// Everything the runner, the actions and the operations ask of the target environment through a
// child process. system_children() starts real interpreter children; the unit tests answer in
// process.
class Children {
public:
    virtual ~Children() = default;
    // The target interpreter's path (pyenv::interpreter_path).
    virtual std::string interpreter() = 0;
    // The installed distributions, in enumeration order (pyenv::installed_distributions).
    virtual std::vector<pyenv::Distribution> installed_distributions() = 0;
    // The newest version the index offers, or none, and whether the index asked for credentials
    // (pkgkit::look_up_latest_package_version).
    virtual pkgkit::VersionLookUp latest_version(const std::string& package,
                                                 const OptionalText& index_url) = 0;
    // Stops the run before its first child when the environment refuses pip's changes
    // (pyenv::check_target_environment); otherwise returns the environment's prefix.
    virtual std::string check_target_environment(pyenv::TargetUse use) = 0;
    // Starts one pip child.
    virtual std::unique_ptr<platform::Child> start(const std::vector<std::string>& argv,
                                                   platform::SpawnOptions options) = 0;
};
Children& system_children();

// ---- Pip runner and actions ------------------------------------------------------------------

using constants::PipAction;

// True for a distribution name (letters and digits, with ".", "_" or "-" only between them),
// optionally followed by extras in brackets ("name[extra]" or "name[a, b]"). pip reads a leading
// "-" as an option, so every package text is checked against this before it reaches a command line.
bool _is_valid_package_text(std::string_view text);
// Throws ValueError naming the first text that is not a package text: checked once, where the
// texts enter the engine, so none reaches a command line and no package is half done.
void _check_package_texts(const std::vector<std::string>& packages);

// "https://" + the configured index + "/".
std::string _index_url();

// One pip child: its argument vector and the command as shown to the user and logged.
struct PipCommand {
    std::vector<std::string> argv;
    std::string printable;
};

// What a command line is built from.
struct PipCommandParts {
    std::string interpreter{};
    PipAction action = PipAction::Install;
    std::string package_token{};  // the package text, pinned with "==VERSION" where it is
    OptionalText index_url{};
    bool upgrade = false;
    std::vector<std::string> extra_options{};  // words, each one argument
};
// The command line of one package. The action's words ("uninstall -y" is two) and the extra
// option words become separate arguments; every value stays one argument even with blanks in it.
PipCommand _build_pip_command(const PipCommandParts& parts);

// One call of the runner.
struct PipRun {
    PipAction action = PipAction::Install;
    std::vector<std::string> packages{};
    OptionalText version{};    // pins every eligible package; none: the newest is looked up
    OptionalText index_url{};  // none: no index options, nothing pinned unless a version is given
    std::vector<std::string> extra_options{};  // words, each one argument
    bool offline = false;    // the packages come from a folder: no look-up, no pin
    bool show_version = false;
    PackageStatus package_status{};  // the outcomes so far; the call's are added after them
    // The installed versions an install's outcome lines compare with. None: the runner reads them
    // once, before the first child (downloads and uninstalls never compare and read nothing).
    std::optional<OrderedMap<std::string>> installed_versions{};
    RunSettings settings{};
    RunJournal* journal = nullptr;  // what the run keeps for --report and --log; none: nothing
    // An uninstall's distributions installed when it began (canonical names), read by the runner:
    // the record loses entries only for one of them.
    std::set<std::string> installed_before{};
};

// Where the version of one package comes from, and whether its token is pinned to it.
struct VersionPlan {
    enum class Source { Kept, Given, LookUp };
    Source source = Source::Kept;  // Kept: no look-up, the version of the package before stays
    bool pin = false;              // "==VERSION" once a version is known
};
// The version policy of one package: pure, the look-up itself is the runner's.
VersionPlan _plan_version(const std::string& package, const PipRun& run);

// What one call of the runner leaves: the outcomes so far, and whether a version look-up found
// that the index asks for credentials pip could not supply.
struct PipRunResult {
    PackageStatus package_status;
    bool index_asked_for_credentials = false;
};

// Runs one pip child per package, in order, and records each outcome under the package's plain
// text. Throws Interrupted once the child that was running when a signal arrived has ended and its
// outcome is recorded; no later package is started.
PipRunResult _perform_pip_action(PipRun run, Children& children = system_children());

// One reading of the installed distributions, as both of the forms the engine uses.
struct InventorySnapshot {
    std::vector<std::string> names;      // enumeration order, repeats kept
    OrderedMap<std::string> versions;    // name -> version, the last one seen wins
};
InventorySnapshot _take_inventory_snapshot(Children& children = system_children());

// What an install or download action leaves for its operation.
struct ActionResult {
    PackageStatus package_status;
    // After an install: the installed names the summary was decided from (the operation's
    // after-install snapshot). Empty after a download.
    std::vector<std::string> installed_after;
    // A look-up of either phase met an index that asks for credentials (said after the summary).
    bool index_asked_for_credentials = false;

    bool all_succeeded() const;
};

// The download option words: --dest F, then --only-binary=:all: once when a platform or an
// interpreter version is given, the --platform pairs, and --python-version.
std::vector<std::string> _download_options(const Request& request);

// One install or download action: the base phase, then the bundle phase, the connectors warning
// and the summary.
struct ActionRun {
    PipAction action = PipAction::Install;
    PackageKinds packages{};
    OptionalText index_url{};
    OptionalText version{};
    std::vector<std::string> pip_options{};
    bool offline = false;
    bool use_product_type = true;  // false: the kinds are ignored and names alone decide (folder)
    // The first phase's reading of the installed versions, when the caller has just taken it.
    std::optional<OrderedMap<std::string>> installed_versions{};
    RunSettings settings{};
    RunJournal* journal = nullptr;
};
ActionResult _print_and_perform_action(ActionRun run, Children& children = system_children());

// `run` brings what the operation already has: the installed versions it has just read, its
// journal. The action fills in the rest from the request.
ActionResult _install_packages_action(const PackageKinds& user_requested_packages,
                                      const Request& request, Children& children, ActionRun run);
ActionResult _download_packages_action(const PackageKinds& packages, const Request& request,
                                       Children& children, RunJournal* journal = nullptr);
PackageStatus _uninstall_packages_action(const std::vector<std::string>& packages,
                                         const Request& request, Children& children,
                                         RunJournal* journal = nullptr);

// The operations' bodies, with the journal of --report and --log (none without either).
int _install_packages(const Request& request, Children& children, RunJournal* journal);
int _install_packages_from_folder(const Request& request, Children& children, RunJournal* journal);
int _download_packages(const Request& request, Children& children, RunJournal* journal);
int _uninstall_packages(const Request& request, Children& children, RunJournal* journal);

// The public operations, with the children they start through (the public ones use the system's).
int install_packages(const Request& request, Children& children);
int install_packages_from_folder(const Request& request, Children& children);
int download_packages(const Request& request, Children& children);
int uninstall_packages(const Request& request, Children& children);

// The "*.whl" entries directly inside the folder, hidden names excluded, in the file system's
// order, as the folder text followed by "/" and the entry name. A folder that is missing or cannot
// be listed is an OSError kind naming it and the cause.
std::vector<std::string> _list_wheel_files(const std::string& folder);

}  // namespace tessel_installer::installer
