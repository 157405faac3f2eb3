// The per-user record of the packages this program installed, one name per line in
// installed_packages.txt, read by uninstall.
#pragma once

#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <string_view>

namespace tessel_installer::ledgerfile {

inline constexpr std::string_view APP_NAME = "Tessel-Installer";
inline constexpr std::string_view APP_AUTHOR = "Mirralune";
inline constexpr std::string_view PACKAGE_FILE_NAME = "installed_packages.txt";

// The per-user storage directory (computed, not created).
std::filesystem::path storage_dir();
// The directory of the installed program; the fallback for appending only.
std::filesystem::path config_path();

// The record, its lock and its folder are never used through a symbolic link in their place (an
// OSError saying so), and a record above 1 MiB is refused. Appending and removal wait while another
// run holds the lock. An interrupt during that wait is thrown as Interrupted: an append still
// writes its line first (one append, without the lock), a removal logs one line naming the package.

// Appends the name unless a line already names it. Never throws for file problems: a failed write
// is logged to standard error.
void store_package_name(const std::string& package);
// The distinct names of the record, or none when the file does not exist: no record yet is an
// ordinary state, not an error. Other read errors propagate as OSError kinds, undecodable text as
// ValueError.
std::optional<std::set<std::string>> read_stored_packages();
// Throws the OSError kind of the first obstacle to a later rewrite of an existing record: its lock
// cannot be opened or created, or its folder does not let us create the rewrite's temporary file.
void check_package_file_rewritable();
// The distinct names in the text of a record read from `file` (named in the error): one per line,
// blank lines skipped. Throws ValueError when the text is not UTF-8.
std::set<std::string> _parse_record_text(std::string_view text, const std::filesystem::path& file);
// Drops every line naming the package; a missing file is nothing to do.
void remove_package_name(const std::string& package);
// Drops every line naming the package's distribution, with or without extras, in any spelling that
// names the same distribution ("Bundle_Birch[mysql]" for "bundle-birch"); a missing file is
// nothing to do. For an uninstall that removed the distribution.
void remove_distribution(const std::string& package);

}  // namespace tessel_installer::ledgerfile
