// The file operations under the record: a lock beside it, whole reads, appends and atomic
// replacement. record_io_posix.cpp and record_io_win32.cpp implement them; every failure is thrown
// as an OSError kind (PermissionError, FileNotFoundError or OSError) naming the file.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace tessel_installer::ledgerfile::detail {

// The line end of the platform's text files.
#if defined(_WIN32)
inline constexpr std::string_view LINE_END = "\r\n";
#else
inline constexpr std::string_view LINE_END = "\n";
#endif

// An exclusive advisory lock on a lock file (created when missing), held until destruction.
// Construction waits until the lock is granted.
class RecordLock {
public:
    explicit RecordLock(const std::filesystem::path& lock_path);
    ~RecordLock();
    RecordLock(const RecordLock&) = delete;
    RecordLock& operator=(const RecordLock&) = delete;

private:
    std::intptr_t handle_;
};

// The file's bytes, or none when it does not exist.
std::optional<std::string> read_whole_file(const std::filesystem::path& path);

// Appends the bytes with one write and flushes them to the disk; creates the file when missing.
void append_to_file(const std::filesystem::path& path, std::string_view bytes);

// Replaces the file's content so that it is always either the old or the new content: a temporary
// file in the same directory is written, flushed to the disk and renamed over the file; it is
// removed again when anything fails before the rename.
void replace_file(const std::filesystem::path& path, std::string_view bytes);

// Whether the current user may create files in the directory (an access test).
bool is_writable_directory(const std::filesystem::path& dir);

// The path as UTF-8 text, for messages.
std::string path_text(const std::filesystem::path& path);

}  // namespace tessel_installer::ledgerfile::detail
