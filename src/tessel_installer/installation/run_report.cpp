// The report and the log of a run, and the outcome a dry run predicts.
#include "tessel_installer/installation/run_report.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#if defined(_WIN32)
#include <io.h>
#include <process.h>
#else
#include <unistd.h>
#endif

#include <atomic>
#include <cerrno>
#include <cstring>
#include <ctime>

#include <fmt/chrono.h>
#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include "tessel_installer/config.hpp"
#include "tessel_installer/errors.hpp"
#include "tessel_installer/installation/engine.hpp"
#include "tessel_installer/installation/pip_config.hpp"
#include "tessel_installer/utils/pkgkit/unicode_text.hpp"
#include "tessel_installer/utils/ledgerfile/record_io.hpp"
#include "tessel_installer/utils/pkgkit/filenames.hpp"
#include "tessel_installer/utils/pkgkit/pip_child.hpp"
#include "tessel_installer/utils/pkgkit/pkgkit.hpp"

namespace tessel_installer::installer {

namespace {

namespace fs = std::filesystem;
// Keys stay in the order written: every document starts with its schema.
using json = nlohmann::ordered_json;

json _text_or_null(const OptionalText& text) { return text ? json(*text) : json(nullptr); }

// The file's folder, with any links in its path resolved: a link in the folder's place is the
// user's own choice. The file's own name is never followed.
std::pair<fs::path, std::string> _folder_and_name(const fs::path& file) {
    fs::path folder = file.parent_path();
    if (folder.empty()) folder = ".";
    std::error_code error;
    const fs::path resolved = fs::canonical(folder, error);
    return {error ? folder : resolved, file.filename().string()};
}

// A new, empty file of our own in the temporary folder.
std::string _make_private_temp(std::string_view role) {
    static std::atomic<unsigned> counter{0};
    const fs::path folder = fs::temp_directory_path();
    for (int attempt = 0; attempt < 100; ++attempt) {
        const auto ticks = static_cast<unsigned long long>(
            std::chrono::steady_clock::now().time_since_epoch().count());
#if defined(_WIN32)
        const long pid = static_cast<long>(::_getpid());
#else
        const long pid = static_cast<long>(::getpid());
#endif
        const fs::path path = folder / ("tessel-installer-" + std::to_string(pid) + "-" +
                                        std::to_string(ticks % 1000000007ULL) + "-" +
                                        std::to_string(counter++) + "." + std::string(role));
#if defined(_WIN32)
        const int fd = ::_wopen(path.c_str(), _O_CREAT | _O_EXCL | _O_WRONLY | _O_BINARY,
                                _S_IREAD | _S_IWRITE);
        if (fd >= 0) {
            ::_close(fd);
            return path.string();
        }
#else
        const int fd = ::open(path.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd >= 0) {
            ::close(fd);
            return path.string();
        }
#endif
        if (errno != EEXIST) {
            throw OSError("cannot create a temporary file for pip's output in " +
                          pkgkit::text::quote_for_message(folder.string()) + ": " + std::strerror(errno));
        }
    }
    throw OSError("cannot create a temporary file for pip's output");
}

}  // namespace

std::string _distribution_of(std::string_view package) {
    return pkgkit::canonicalize_name(package.substr(0, package.find('[')));
}

OptionalText _version_in(const OrderedMap<std::string>& versions, std::string_view package) {
    const std::string distribution = _distribution_of(package);
    OptionalText found;
    for (const auto& [name, version] : versions) {
        if (pkgkit::canonicalize_name(name) == distribution) found = version;
    }
    return found;
}

std::string_view dry_outcome_text(DryOutcome outcome) noexcept {
    switch (outcome) {
        case DryOutcome::WouldInstall: return "would install";
        case DryOutcome::WouldUpgrade: return "would upgrade";
        case DryOutcome::AlreadyInstalled:
        case DryOutcome::UpToDate: return "already installed";
        case DryOutcome::WouldUninstall: return "would uninstall";
        case DryOutcome::NotInstalled: break;
    }
    return "not installed";
}

std::string_view dry_outcome_word(DryOutcome outcome) noexcept {
    switch (outcome) {
        case DryOutcome::WouldInstall: return "would-install";
        case DryOutcome::WouldUpgrade: return "would-upgrade";
        case DryOutcome::AlreadyInstalled: return "already-installed";
        case DryOutcome::UpToDate: return "up-to-date";
        case DryOutcome::WouldUninstall: return "would-uninstall";
        case DryOutcome::NotInstalled: break;
    }
    return "not-installed";
}

bool dry_outcome_changes(DryOutcome outcome) noexcept {
    return outcome == DryOutcome::WouldInstall || outcome == DryOutcome::WouldUpgrade ||
           outcome == DryOutcome::WouldUninstall;
}

DryOutcome _predict_outcome(PipAction action, const OptionalText& installed_version,
                            const OptionalText& target, bool upgrade) {
    const bool installed = _non_empty(installed_version);
    if (action == PipAction::Uninstall) {
        return installed ? DryOutcome::WouldUninstall : DryOutcome::NotInstalled;
    }
    if (!installed) return DryOutcome::WouldInstall;
    const bool known = _non_empty(target);
    // Without a version to go to, pip takes an installed package as it is, unless told to upgrade.
    if (!known) return upgrade ? DryOutcome::WouldUpgrade : DryOutcome::AlreadyInstalled;
    if (pkgkit::is_version_equal(installed_version, target)) {
        return upgrade ? DryOutcome::UpToDate : DryOutcome::AlreadyInstalled;
    }
    if (pkgkit::is_version_bigger(installed_version, target)) {
        // pip keeps a newer one on an upgrade; a pinned install goes back to the pin.
        return upgrade ? DryOutcome::UpToDate : DryOutcome::WouldInstall;
    }
    return DryOutcome::WouldUpgrade;
}

std::string_view _outcome_word(PipAction action, int status, std::string_view outcome_text,
                               bool was_installed) {
    if (status != constants::SUCCESS) return "failed";
    switch (action) {
        case PipAction::Download: return "downloaded";
        case PipAction::Uninstall: return was_installed ? "uninstalled" : "not-installed";
        case PipAction::Install: break;
    }
    if (outcome_text == *constants::ACTION_SUCCESS_ALREADY_UPDATED.find("install")) return "up-to-date";
    if (outcome_text == *constants::ACTION_SUCCESS_ALREADY_INSTALLED.find("install")) {
        return "already-installed";
    }
    return "installed";
}

std::vector<std::string> _last_lines(std::string_view text, std::size_t count) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        std::string line(text.substr(start, end - start));
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(std::move(line));
        start = end + 1;
    }
    if (lines.size() > count) lines.erase(lines.begin(), lines.end() - static_cast<long>(count));
    return lines;
}

std::string _utc_text(std::chrono::system_clock::time_point when) {
    const auto millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(when.time_since_epoch()).count() % 1000;
    return fmt::format("{:%Y-%m-%dT%H:%M:%S}.{:03d}Z",
                       fmt::gmtime(std::chrono::system_clock::to_time_t(when)),
                       static_cast<int>(millis));
}

ChildOutputFiles::ChildOutputFiles() : out_(_make_private_temp("out")) {
    try {
        err_ = _make_private_temp("err");
    } catch (...) {
        std::error_code ignored;
        fs::remove(fs::u8path(out_), ignored);
        throw;
    }
}

ChildOutputFiles::~ChildOutputFiles() {
    std::error_code ignored;
    fs::remove(fs::u8path(out_), ignored);
    fs::remove(fs::u8path(err_), ignored);
}

std::string ChildOutputFiles::read_out() const { return _read_text_file(out_).value_or(""); }
std::string ChildOutputFiles::read_err() const { return _read_text_file(err_).value_or(""); }

RunJournal::RunJournal(PipAction action, const Request& request)
    : action_(action), request_(request), dry_run_(request.dry_run) {
    if (request.report) report_ = fs::u8path(*request.report);
    if (request.log) log_ = fs::u8path(*request.log);
    append_log(fmt::format("=== tessel-installer {} {}{} started {}\n", config::PROGRAM_VERSION,
                           constants::pip_words(action)[0], dry_run_ ? " (dry run)" : "",
                           _utc_text(std::chrono::system_clock::now())));
}

void RunJournal::set_interpreter(OptionalText interpreter) { interpreter_ = std::move(interpreter); }
void RunJournal::set_prefix(OptionalText prefix) { prefix_ = std::move(prefix); }

void RunJournal::plan(const std::string& name, std::string_view kind) {
    PackageReport& package = entry(name);
    if (!kind.empty()) package.kind = std::string(kind);
}

PackageReport& RunJournal::entry(const std::string& name) {
    for (auto& package : packages_) {
        if (package.name == name) return package;
    }
    packages_.push_back({.name = name, .kind = name.starts_with(pkgkit::BASE_PREFIX) ? "base" : "bundle"});
    return packages_.back();
}

void RunJournal::set_versions_before(const OrderedMap<std::string>& versions) {
    versions_before_ = versions;
}

void RunJournal::set_versions_after(const OrderedMap<std::string>& versions) {
    versions_after_ = versions;
}

void RunJournal::append_log(std::string_view text) const {
    if (!log_) return;
    const auto [folder, name] = _folder_and_name(*log_);
    // The record's own way of appending: never through a link in the file's place, and only to a
    // regular file.
    const ledgerfile::detail::RecordFolder opened(folder);
    ledgerfile::detail::append_to_file(opened, name, text);
}

void RunJournal::log_catalogue(const std::string& url, long status, const std::string& problem) {
    std::string entry = "catalogue request: POST " + pkgkit::mask_url_credentials(url) +
                        " -> HTTP status " + (status != 0 ? std::to_string(status) : "none");
    if (!problem.empty()) entry += " (" + problem + ")";
    append_log(entry + "\n");
}

void RunJournal::log_child(const ChildLog& child) {
    ran_children_ = true;
    if (!log_) return;
    std::string_view shown = child.command;
    while (!shown.empty() && shown.front() == '\n') shown.remove_prefix(1);
    std::string entry = "--- " + pkgkit::mask_url_credentials(shown) + "\n";
    entry += "start: " + _utc_text(child.started) + "\nend: " + _utc_text(child.ended) + "\n";
    entry += "exit status: " + std::to_string(child.status) + "\n";
    if (child.output_on_terminal) {
        entry += "(pip's output went to the terminal)\n";
    } else {
        entry += "stdout:\n" + child.out + (child.out.empty() || child.out.back() == '\n' ? "" : "\n");
        entry += "stderr:\n" + child.err + (child.err.empty() || child.err.back() == '\n' ? "" : "\n");
    }
    append_log(entry);
}

std::string RunJournal::report_text(int exit_status) const {
    json packages = json::array();
    std::size_t changed = 0;
    std::size_t failed = 0;
    std::size_t not_run = 0;
    for (const auto& package : packages_) {
        OptionalText before = package.version_before;
        if (!package.reached && versions_before_) before = _version_in(*versions_before_, package.name);
        OptionalText after;
        if (versions_after_) after = _version_in(*versions_after_, package.name);
        json stderr_tail = json::array();
        for (const auto& line : package.stderr_tail) stderr_tail.push_back(line);
        packages.push_back({{"name", package.name},
                            {"kind", package.kind},
                            {"version_requested", _text_or_null(package.version_requested)},
                            {"version_before", _text_or_null(before)},
                            {"version_after", _text_or_null(after)},
                            {"outcome", package.outcome},
                            {"changed", package.changed},
                            {"exit_status", package.exit_status ? json(*package.exit_status)
                                                                : json(nullptr)},
                            {"stderr_tail", std::move(stderr_tail)}});
        changed += package.changed ? 1 : 0;
        failed += package.outcome == "failed" ? 1 : 0;
        not_run += package.outcome == "not-run" ? 1 : 0;
    }
    const json document = {
        {"schema", 1},
        {"program", {{"name", "tessel-installer"}, {"version", std::string(config::PROGRAM_VERSION)}}},
        {"action", constants::pip_words(action_)[0]},
        {"dry_run", dry_run_},
        {"interpreter", _text_or_null(interpreter_)},
        {"prefix", _text_or_null(prefix_)},
        {"request",
         {{"package", _text_or_null(request_.package)},
          {"version", _text_or_null(request_.version)},
          {"options", request_.options ? json(*request_.options) : json::array()},
          {"upgrade", request_.upgrade},
          {"folder", _text_or_null(request_.folder)},
          {"platform", request_.platform ? json(*request_.platform) : json(nullptr)},
          {"python_version", _text_or_null(request_.python_version)}}},
        {"packages", std::move(packages)},
        {"summary",
         {{"total", packages_.size()}, {"changed", changed}, {"failed", failed}, {"not_run", not_run}}},
        {"exit_status", exit_status}};
    // Names and pip's lines come from outside: escaped, and bytes that are not UTF-8 replaced.
    return document.dump(2, ' ', false, json::error_handler_t::replace) + "\n";
}

void RunJournal::write_report(int exit_status) const {
    if (!report_) return;
    const auto [folder, name] = _folder_and_name(*report_);
    const ledgerfile::detail::RecordFolder opened(folder);
    ledgerfile::detail::replace_file(opened, name, report_text(exit_status));
}

}  // namespace tessel_installer::installer
