// The record of installed packages: where it lives, how its lines are read, appended and removed.
#include "tessel_installer/utils/ledgerfile/ledgerfile.hpp"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <exception>
#include <memory>
#include <system_error>
#include <thread>

#include "tessel_installer/errors.hpp"
#include "tessel_installer/logging.hpp"
#include "tessel_installer/platform/paths.hpp"
#include "tessel_installer/platform/signals.hpp"
#include "tessel_installer/utils/ledgerfile/record_io.hpp"
#include "tessel_installer/utils/pkgkit/filenames.hpp"
#include "tessel_installer/utils/pkgkit/unicode_text.hpp"

namespace tessel_installer::ledgerfile {
namespace {

constexpr Logger LOGGER("tessel_installer.utils.ledgerfile");

namespace fs = std::filesystem;

fs::path package_file() {
    return storage_dir() / PACKAGE_FILE_NAME;
}

// Every change of the record happens under the lock of this file beside it, so that one run's
// rewrite never drops a name another run appended meanwhile.
constexpr std::string_view LOCK_FILE_NAME = "installed_packages.txt.lock";

// The record's folder, opened once for one operation; none when it does not exist.
std::unique_ptr<detail::RecordFolder> open_folder(const fs::path& dir) {
    try {
        return std::make_unique<detail::RecordFolder>(dir);
    } catch (const FileNotFoundError&) {
        return nullptr;
    }
}

// The distribution an entry names: the text before its extras, in its normalised form.
std::string distribution_of(std::string_view entry) {
    const std::string_view name = pkgkit::text::trim_unicode_space(entry.substr(0, entry.find('[')));
    return pkgkit::canonicalize_name(name);
}

// Checks that the text is well-formed UTF-8 (no overlong forms, no surrogates, nothing above
// U+10FFFF); a record that is not text is a decoding error, which uninstall knows how to handle.
void require_utf8(std::string_view text, const fs::path& path) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    const size_t size = text.size();
    size_t i = 0;
    while (i < size) {
        const unsigned char lead = bytes[i];
        size_t length = 0;
        unsigned char low = 0x80;
        unsigned char high = 0xBF;
        if (lead < 0x80) {
            ++i;
            continue;
        } else if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            if (lead == 0xE0) low = 0xA0;
            if (lead == 0xED) high = 0x9F;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            if (lead == 0xF0) low = 0x90;
            if (lead == 0xF4) high = 0x8F;
        }
        bool valid = length != 0 && i + length <= size;
        for (size_t k = 1; valid && k < length; ++k) {
            const unsigned char c = bytes[i + k];
            valid = k == 1 ? (c >= low && c <= high) : (c >= 0x80 && c <= 0xBF);
        }
        if (!valid) {
            char detail[96];
            std::snprintf(detail, sizeof detail,
                          "'utf-8' codec can't decode byte 0x%02x in position %zu",
                          static_cast<unsigned>(lead), i);
            throw ValueError(std::string(detail) + " of " + detail::quoted_path(path));
        }
        i += length;
    }
}

// Calls `each` with every line of the text, without its line break. "\n", "\r\n" and a lone "\r"
// all end a line, as text files are read on every platform; text after the last break is a line
// of its own when it is not empty.
template <typename Each>
void for_each_line(std::string_view text, Each each) {
    size_t start = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\n' && text[i] != '\r') continue;
        each(text.substr(start, i - start));
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
        start = i + 1;
    }
    if (start < text.size()) each(text.substr(start));
}

// Takes the record's lock, waiting as long as another run holds it. The wait is a series of
// attempts that never block, so that Ctrl-C or a termination request ends it within one step: it
// then throws Interrupted. The steps start short, as other runs hold the lock only for moments,
// and grow to a limit. After a second the user is told, once, what the run is waiting for.
void lock_record(detail::RecordLock& lock, const fs::path& record) {
    using Clock = std::chrono::steady_clock;
    constexpr auto kLongestStep = std::chrono::milliseconds(50);
    constexpr auto kBeforeTelling = std::chrono::seconds(1);
    const Clock::time_point start = Clock::now();
    auto step = std::chrono::milliseconds(1);
    bool told = false;
    while (!lock.try_lock()) {
        platform::throw_if_interrupted();
        if (!told && Clock::now() - start >= kBeforeTelling) {
            told = true;
            const std::string line =
                "Waiting for another run of tessel-installer to release the record of installed "
                "packages (" +
                pkgkit::text::terminal_safe(detail::path_text(record)) + ")\u2026\n";
            std::fwrite(line.data(), 1, line.size(), stderr);
            std::fflush(stderr);
        }
        std::this_thread::sleep_for(step);
        step = std::min(step * 2, kLongestStep);
    }
}

constexpr std::string_view kInterruptedWhileWaiting =
    "interrupted while waiting for another run of tessel-installer to release it";

// Whether a line of the record names exactly this package. The text is not decoded: a record that
// is not UTF-8 holds no line equal to a valid name.
bool is_recorded(const detail::RecordFolder& folder, std::string_view package) {
    const auto content = detail::read_whole_file(folder, PACKAGE_FILE_NAME);
    if (!content) return false;
    bool found = false;
    for_each_line(*content, [&](std::string_view line) {
        if (pkgkit::text::trim_unicode_space(line) == package) found = true;
    });
    return found;
}

// Rewrites the record without the entries that `drop` picks (white-space-stripped); empty lines
// stay, as empty entries. A missing record is nothing to do, and creates no file.
template <typename Drop>
void remove_entries(const std::string& package, Drop drop) {
    const fs::path file = package_file();
    const auto folder = open_folder(file.parent_path());
    if (!folder) return;
    // Checked before locking, so that removal without a record creates no file at all. A symbolic
    // link counts as present: reading it is refused below.
    std::error_code error;
    if (!fs::exists(fs::symlink_status(file, error))) return;

    detail::RecordLock lock(*folder, LOCK_FILE_NAME);
    try {
        lock_record(lock, file);
    } catch (const Interrupted&) {
        LOGGER.error("Failed to remove uninstalled package '" +
                     pkgkit::text::terminal_safe(package) + "' from " + detail::quoted_path(file) +
                     ": " + std::string(kInterruptedWhileWaiting));
        throw;
    }
    const auto content = detail::read_whole_file(*folder, PACKAGE_FILE_NAME);
    if (!content) return;  // removed by someone else meanwhile
    require_utf8(*content, file);

    std::string kept;
    kept.reserve(content->size());
    for_each_line(*content, [&](std::string_view line) {
        const std::string_view entry = pkgkit::text::trim_unicode_space(line);
        if (drop(entry)) return;
        kept += entry;
        kept += detail::LINE_END;
    });
    detail::replace_file(*folder, PACKAGE_FILE_NAME, kept);
}

}  // namespace

fs::path storage_dir() {
    return platform::user_data_dir(std::string(APP_NAME), std::string(APP_AUTHOR));
}

fs::path config_path() {
    return platform::executable_dir();
}

void store_package_name(const std::string& package) {
    fs::path dir;
    bool have_dir = false;
    try {
        dir = storage_dir();
        std::error_code error;
        fs::create_directories(dir, error);
        have_dir = !error;
    } catch (const OSError&) {
        // No per-user directory can be found: the same as one that cannot be created.
    }
    if (!have_dir) {
        try {
            dir = config_path();
        } catch (const OSError&) {
            return;
        }
        if (!detail::is_writable_directory(dir)) return;
    }

    const fs::path file = dir / PACKAGE_FILE_NAME;
    std::exception_ptr interrupted;
    try {
        const detail::RecordFolder folder(dir);
        detail::RecordLock lock(folder, LOCK_FILE_NAME);
        try {
            lock_record(lock, file);
        } catch (const Interrupted&) {
            // The package is installed: its entry is still written, without the lock, as one
            // append of one line (appends never mix; only a rewrite by another run at this very
            // moment could drop it). Then the interrupt stops the run.
            interrupted = std::current_exception();
        }
        // A package installed again is recorded once.
        if (!is_recorded(folder, package)) {
            detail::append_to_file(folder, PACKAGE_FILE_NAME, package + std::string(detail::LINE_END));
        }
    } catch (const OSError& error) {
        LOGGER.error("Failed to write installed package '" + pkgkit::text::terminal_safe(package) +
                     "' to " + detail::quoted_path(file) + ": " + error.what());
    }
    if (interrupted) std::rethrow_exception(interrupted);
}

std::optional<std::set<std::string>> read_stored_packages() {
    const fs::path file = package_file();
    const auto folder = open_folder(file.parent_path());
    const auto content =
        folder ? detail::read_whole_file(*folder, PACKAGE_FILE_NAME) : std::optional<std::string>();
    if (!content) return std::nullopt;
    return _parse_record_text(*content, file);
}

std::set<std::string> _parse_record_text(std::string_view text, const fs::path& file) {
    require_utf8(text, file);
    std::set<std::string> names;
    for_each_line(text, [&names](std::string_view line) {
        const std::string_view name = pkgkit::text::trim_unicode_space(line);
        if (!name.empty()) names.emplace(name);
    });
    return names;
}

void check_package_file_rewritable() {
    const fs::path file = package_file();
    const detail::RecordFolder folder(file.parent_path());
    // Opening the lock creates it when missing, as every rewrite would.
    const detail::RecordLock lock(folder, LOCK_FILE_NAME);
    detail::check_replaceable(folder, PACKAGE_FILE_NAME);
}

void remove_package_name(const std::string& package) {
    remove_entries(package, [&package](std::string_view entry) { return entry == package; });
}

void remove_distribution(const std::string& package) {
    const std::string distribution = distribution_of(package);
    remove_entries(package, [&distribution](std::string_view entry) {
        return !entry.empty() && distribution_of(entry) == distribution;
    });
}

}  // namespace tessel_installer::ledgerfile
