// What a run of install, uninstall or download leaves for scripts: the JSON report written when
// the run ends (--report), the log of every child (--log), and the outcome a dry run predicts.
#pragma once

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tessel_installer/constants.hpp"
#include "tessel_installer/installation/installer.hpp"
#include "tessel_installer/ordered_map.hpp"

namespace tessel_installer::installer {

using constants::PipAction;

// The number of pip's last standard error lines a failed package keeps in the report.
inline constexpr std::size_t STDERR_TAIL_LINES = 20;

// One package of the report, in run order.
struct PackageReport {
    std::string name;
    std::string kind;  // "base" or "bundle"
    OptionalText version_requested{};
    OptionalText version_before{};
    OptionalText version_after{};
    std::string outcome = "not-run";
    bool changed = false;
    std::optional<int> exit_status{};
    std::vector<std::string> stderr_tail{};
    bool reached = false;  // the run got to it (a child ran, or a dry run decided it)
};

// What a dry run says of one package: the text of its line and the report's word.
enum class DryOutcome { WouldInstall, WouldUpgrade, AlreadyInstalled, UpToDate, WouldUninstall, NotInstalled };
std::string_view dry_outcome_text(DryOutcome outcome) noexcept;
std::string_view dry_outcome_word(DryOutcome outcome) noexcept;
bool dry_outcome_changes(DryOutcome outcome) noexcept;

// What a real run of the action would do to a package installed at `installed_version` (none:
// not installed), with `target` the version it would be pinned to or compared with.
DryOutcome _predict_outcome(PipAction action, const OptionalText& installed_version,
                            const OptionalText& target, bool upgrade);

// The report's word for a package whose child ended: from its outcome text, and for an uninstall
// from whether the environment held it before.
std::string_view _outcome_word(PipAction action, int status, std::string_view outcome_text,
                               bool was_installed);

// The canonical name of the distribution a package text names ("Bundle_Birch[pg]": bundle-birch).
std::string _distribution_of(std::string_view package);
// The version the inventory holds for the package text's distribution (the last one listed), or none.
OptionalText _version_in(const OrderedMap<std::string>& versions, std::string_view package);

// The last `count` lines of a text, without their line ends.
std::vector<std::string> _last_lines(std::string_view text, std::size_t count);

// An instant as "2024-05-01T12:00:00.123Z".
std::string _utc_text(std::chrono::system_clock::time_point when);

// The two files one pip child writes its output to, when the run keeps it. They are private
// temporary files, removed again when this ends; the child appends to them, so it never waits for
// us however much it writes.
class ChildOutputFiles {
public:
    ChildOutputFiles();
    ~ChildOutputFiles();
    ChildOutputFiles(const ChildOutputFiles&) = delete;
    ChildOutputFiles& operator=(const ChildOutputFiles&) = delete;

    const std::string& out_path() const noexcept { return out_; }
    const std::string& err_path() const noexcept { return err_; }
    std::string read_out() const;
    std::string read_err() const;

private:
    std::string out_;
    std::string err_;
};

// One child's entry in the log: its command as shown, when it ran, how it ended and its output
// (none kept when it went to the terminal).
struct ChildLog {
    std::string_view command;
    std::chrono::system_clock::time_point started{};
    std::chrono::system_clock::time_point ended{};
    int status = constants::ERROR;
    std::string out{};
    std::string err{};
    bool output_on_terminal = false;
};

// The journal of one run: the packages it plans and what became of each, and the log. A journal
// made without --report and --log keeps nothing, and the run starts its children as it always did.
class RunJournal {
public:
    RunJournal() = default;
    // Opens the log when one is asked for and writes its first entry, so that a log that cannot
    // be written stops the run before any child starts.
    RunJournal(PipAction action, const Request& request);

    bool active() const noexcept { return report_.has_value() || log_.has_value(); }
    // Whether pip's own output is kept (report or log).
    bool captures() const noexcept { return active(); }
    bool wants_report() const noexcept { return report_.has_value(); }
    bool dry_run() const noexcept { return dry_run_; }

    void set_interpreter(OptionalText interpreter);
    void set_prefix(OptionalText prefix);
    // The packages in the order the run takes them; each starts as not run.
    void plan(const std::string& name, std::string_view kind);
    // The entry of a planned package (added at the end when it was not planned).
    PackageReport& entry(const std::string& name);
    // The installed versions before the run: the ones of the packages that it never reaches.
    void set_versions_before(const OrderedMap<std::string>& versions);
    // The installed versions after the last child.
    void set_versions_after(const OrderedMap<std::string>& versions);
    bool has_versions_after() const noexcept { return versions_after_.has_value(); }
    // Whether a child of the action ran.
    bool ran_children() const noexcept { return ran_children_; }

    // Log entries.
    void log_catalogue(const std::string& url, long status, const std::string& problem);
    void log_child(const ChildLog& child);

    // The report as JSON text, with the status the run ends with.
    std::string report_text(int exit_status) const;
    // Writes the report atomically (a temporary file beside it, then a rename); nothing without
    // --report.
    void write_report(int exit_status) const;

private:
    void append_log(std::string_view text) const;

    PipAction action_ = PipAction::Install;
    Request request_{};
    bool dry_run_ = false;
    std::optional<std::filesystem::path> report_{};
    std::optional<std::filesystem::path> log_{};
    OptionalText interpreter_{};
    OptionalText prefix_{};
    std::vector<PackageReport> packages_{};
    std::optional<OrderedMap<std::string>> versions_before_{};
    std::optional<OrderedMap<std::string>> versions_after_{};
    bool ran_children_ = false;
};

}  // namespace tessel_installer::installer
