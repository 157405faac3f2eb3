// The file operations under the record: a lock beside it, whole reads, appends and atomic
// replacement. record_io_posix.cpp and record_io_win32.cpp implement them; every failure is thrown
// as an OSError kind (PermissionError, FileNotFoundError or OSError) naming the file. On POSIX
// systems the record and its lock are never opened through a symbolic link in their place: in a
// folder that another user controls, a planted link would aim our writes at a file of their choice.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "tessel_installer/errors.hpp"
#include "tessel_installer/utils/pkgkit/unicode_text.hpp"

namespace tessel_installer::ledgerfile::detail {

// The line end of the platform's text files.
#if defined(_WIN32)
inline constexpr std::string_view LINE_END = "\r\n";
#else
inline constexpr std::string_view LINE_END = "\n";
#endif

// The largest record read: one short line per installed package is a few kilobytes at most. A
// larger file is no record of ours (a sparse file planted in its place would otherwise be read
// into memory whole), and is refused with an error naming it.
inline constexpr std::uintmax_t MAX_RECORD_SIZE = 1024 * 1024;

// The record's folder, opened once; every file operation below works relative to it (openat and
// renameat on POSIX systems), so that the folder cannot be swapped for another between two steps.
// A symbolic link (or, on Windows, a junction) in the folder's place is refused: under a data
// folder that another user owns it would aim our writes at a folder of their choice.
class RecordFolder {
public:
    // Throws the OSError kind naming the folder; FileNotFoundError when it does not exist.
    explicit RecordFolder(const std::filesystem::path& dir);
    ~RecordFolder();
    RecordFolder(const RecordFolder&) = delete;
    RecordFolder& operator=(const RecordFolder&) = delete;

    const std::filesystem::path& path() const noexcept { return path_; }
    std::intptr_t handle() const noexcept { return handle_; }

private:
    std::filesystem::path path_;
    std::intptr_t handle_;
};

// An exclusive advisory lock on a lock file in the folder, held from a successful try_lock()
// until destruction. Construction only opens the file (created when missing); waiting is the
// caller's business, so that it can give up when the run is interrupted.
class RecordLock {
public:
    RecordLock(const RecordFolder& folder, std::string_view name);
    ~RecordLock();
    RecordLock(const RecordLock&) = delete;
    RecordLock& operator=(const RecordLock&) = delete;

    // One attempt that never waits: true when the lock is now held, false when another process
    // holds it.
    bool try_lock();

private:
    std::filesystem::path path_;
    std::intptr_t handle_;
};

// The file's bytes, or none when it does not exist. A file above MAX_RECORD_SIZE is refused
// (OSError), by its size before reading and by what the reading finds.
std::optional<std::string> read_whole_file(const RecordFolder& folder, std::string_view name);

// Appends the bytes with one write and flushes them to the disk; creates the file when missing.
void append_to_file(const RecordFolder& folder, std::string_view name, std::string_view bytes);

// Replaces the file's content so that it is always either the old or the new content: a temporary
// file in the same folder is written, flushed to the disk and renamed over the file; it is removed
// again when anything fails before the rename.
void replace_file(const RecordFolder& folder, std::string_view name, std::string_view bytes);

// Creates and removes the temporary file that replace_file would create, so that a record whose
// folder does not allow its rewrite is found out before anything depends on the rewrite.
void check_replaceable(const RecordFolder& folder, std::string_view name);

// Whether the current user may create files in the directory (an access test).
bool is_writable_directory(const std::filesystem::path& dir);

// The path as UTF-8 text, for messages.
std::string path_text(const std::filesystem::path& path);

// The path in single quotes as a message shows it. The folder comes from the environment, so its
// name is rendered safe for a terminal.
inline std::string quoted_path(const std::filesystem::path& path) {
    return "'" + pkgkit::text::terminal_safe(path_text(path)) + "'";
}

// The bytes of the file at `path`, `size` bytes long when opened, read by `read_some(buffer,
// capacity)` (the count read; 0 at end of file). A file above MAX_RECORD_SIZE is refused by its
// size, and one that grows while it is read by what the reading finds.
template <typename ReadSome>
std::string read_limited(std::uintmax_t size, const std::filesystem::path& path, ReadSome read_some) {
    const auto limit = [&path](std::uintmax_t bytes) {
        if (bytes <= MAX_RECORD_SIZE) return;
        throw OSError(quoted_path(path) + " is larger than " +
                      std::to_string(MAX_RECORD_SIZE / (1024 * 1024)) +
                      " MiB, too large for a record of installed packages; refusing to read it");
    };
    limit(size);
    std::string content;
    char buffer[16384];
    while (const std::size_t got = read_some(buffer, sizeof buffer)) {
        limit(content.size() + got);
        content.append(buffer, got);
    }
    return content;
}

}  // namespace tessel_installer::ledgerfile::detail
