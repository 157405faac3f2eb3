// The record's file operations on Windows: LockFileEx for the lock, a temporary file +
// FlushFileBuffers + MoveFileExW for the rewrite. The folder, the record and its lock are opened
// as they are, never through a reparse point (a symbolic link or a junction): one planted in their
// place would otherwise have this program write, or lock, a file of the planter's choosing. The
// folder stays open for the whole operation without delete sharing, so it cannot be renamed or
// replaced by a junction meanwhile.
#include <io.h>
#include <windows.h>

#include <string>

#include "tessel_installer/errors.hpp"
#include "tessel_installer/platform/descriptor.hpp"
#include "tessel_installer/platform/windows_text.hpp"
#include "tessel_installer/utils/ledgerfile/record_io.hpp"

namespace tessel_installer::ledgerfile::detail {
namespace {

// The error kind of a Windows error code, with the text "[WinError N] reason: 'path'".
[[noreturn]] void raise_os_error(DWORD code, const std::string& what) {
    const std::string message =
        "[WinError " + std::to_string(code) + "] " + platform::windows_error_text(code) + ": " + what;
    switch (code) {
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
            throw PermissionError(message);
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
            throw FileNotFoundError(message);
        default:
            throw OSError(message);
    }
}

using platform::UniqueHandle;

constexpr DWORD SHARE_ALL = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Writes everything, flushes it to the disk and closes the file.
void write_to_disk(UniqueHandle& file, std::string_view bytes, const std::filesystem::path& path) {
    while (!bytes.empty()) {
        const DWORD chunk =
            bytes.size() > 0x40000000 ? 0x40000000 : static_cast<DWORD>(bytes.size());
        DWORD written = 0;
        if (!WriteFile(file.get(), bytes.data(), chunk, &written, nullptr)) {
            raise_os_error(GetLastError(), quoted_path(path));
        }
        bytes.remove_prefix(written);
    }
    if (!FlushFileBuffers(file.get())) raise_os_error(GetLastError(), quoted_path(path));
    if (!file.close()) raise_os_error(GetLastError(), quoted_path(path));
}

// What is open at `path`, refused when it is a reparse point (a symbolic link or a junction) in
// the path's place.
BY_HANDLE_FILE_INFORMATION information(HANDLE handle, const std::filesystem::path& path) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(handle, &info)) raise_os_error(GetLastError(), quoted_path(path));
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        throw OSError(quoted_path(path) + " is a symbolic link or junction; refusing to use it");
    }
    return info;
}

// CreateFileW that opens a reparse point itself instead of its target, and refuses it, and
// anything else that is not a plain file. None, with GetLastError() telling why, when the file
// cannot be opened.
UniqueHandle open_plain(const std::filesystem::path& path, DWORD access, DWORD disposition) {
    UniqueHandle file(CreateFileW(path.c_str(), access, SHARE_ALL, nullptr, disposition,
                                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (file && (information(file.get(), path).dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        throw OSError(quoted_path(path) + " is not a regular file; refusing to use it");
    }
    return file;
}

std::filesystem::path path_in(const RecordFolder& folder, std::string_view name) {
    return folder.path() / std::filesystem::path(std::u8string(name.begin(), name.end()));
}

// A new, empty file of a unique name in the folder.
std::filesystem::path make_temp_in(const std::filesystem::path& dir) {
    wchar_t temp_name[MAX_PATH + 1] = {};
    if (GetTempFileNameW(dir.c_str(), L"tsl", 0, temp_name) == 0) {
        raise_os_error(GetLastError(), quoted_path(dir));
    }
    return temp_name;
}

}  // namespace

RecordFolder::RecordFolder(const std::filesystem::path& dir) : path_(dir), handle_(0) {
    UniqueHandle owner(CreateFileW(dir.c_str(), FILE_READ_ATTRIBUTES,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                   FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                   nullptr));
    if (!owner) {
        const DWORD code = GetLastError();
        raise_os_error(code == ERROR_DIRECTORY ? ERROR_PATH_NOT_FOUND : code, quoted_path(dir));
    }
    if ((information(owner.get(), dir).dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        raise_os_error(ERROR_PATH_NOT_FOUND, quoted_path(dir));
    }
    handle_ = reinterpret_cast<std::intptr_t>(owner.release());
}

RecordFolder::~RecordFolder() {
    if (handle_ != 0) CloseHandle(reinterpret_cast<HANDLE>(handle_));
}

RecordLock::RecordLock(const RecordFolder& folder, std::string_view name)
    : path_(path_in(folder, name)), handle_(0) {
    UniqueHandle file = open_plain(path_, GENERIC_READ | GENERIC_WRITE, OPEN_ALWAYS);
    if (!file && GetLastError() == ERROR_ACCESS_DENIED) {
        // An existing lock file that we may not write still serves; when there is none, the
        // denied access is the cause to report.
        file = open_plain(path_, GENERIC_READ, OPEN_EXISTING);
        if (!file) SetLastError(ERROR_ACCESS_DENIED);
    }
    if (!file) raise_os_error(GetLastError(), quoted_path(path_));
    handle_ = reinterpret_cast<std::intptr_t>(file.release());
}

bool RecordLock::try_lock() {
    OVERLAPPED whole{};
    if (LockFileEx(reinterpret_cast<HANDLE>(handle_),
                   LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, MAXDWORD, MAXDWORD,
                   &whole)) {
        return true;
    }
    const DWORD code = GetLastError();
    if (code == ERROR_LOCK_VIOLATION || code == ERROR_IO_PENDING) return false;
    raise_os_error(code, quoted_path(path_));
}

RecordLock::~RecordLock() {
    // Closing the handle releases the lock.
    if (handle_ != 0) CloseHandle(reinterpret_cast<HANDLE>(handle_));
}

std::optional<std::string> read_whole_file(const RecordFolder& folder, std::string_view name) {
    const std::filesystem::path path = path_in(folder, name);
    const UniqueHandle file = open_plain(path, GENERIC_READ, OPEN_EXISTING);
    if (!file) {
        const DWORD code = GetLastError();
        if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) return std::nullopt;
        raise_os_error(code, quoted_path(path));
    }
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file.get(), &size)) raise_os_error(GetLastError(), quoted_path(path));
    const auto bytes = static_cast<std::uintmax_t>(size.QuadPart);
    return read_limited(bytes, path, [&](char* buffer, std::size_t capacity) {
        DWORD got = 0;
        if (!ReadFile(file.get(), buffer, static_cast<DWORD>(capacity), &got, nullptr)) {
            raise_os_error(GetLastError(), quoted_path(path));
        }
        return static_cast<std::size_t>(got);
    });
}

void append_to_file(const RecordFolder& folder, std::string_view name, std::string_view bytes) {
    const std::filesystem::path path = path_in(folder, name);
    UniqueHandle file = open_plain(path, FILE_APPEND_DATA | FILE_READ_ATTRIBUTES, OPEN_ALWAYS);
    if (!file) raise_os_error(GetLastError(), quoted_path(path));
    // A hard link planted as the record would have the append land in the file it shares.
    if (information(file.get(), path).nNumberOfLinks > 1) {
        throw OSError(quoted_path(path) + " has another hard link; refusing to use it");
    }
    write_to_disk(file, bytes, path);
}

void replace_file(const RecordFolder& folder, std::string_view name, std::string_view bytes) {
    // The record itself is replaced, never the target of a link in its place.
    const std::filesystem::path target = path_in(folder, name);
    const std::filesystem::path temp = make_temp_in(folder.path());
    bool committed = false;
    struct RemoveUnlessCommitted {
        const std::filesystem::path& temp;
        const bool& committed;
        ~RemoveUnlessCommitted() {
            if (!committed) DeleteFileW(temp.c_str());
        }
    } cleanup{temp, committed};

    UniqueHandle file(CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, TRUNCATE_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) raise_os_error(GetLastError(), quoted_path(temp));
    write_to_disk(file, bytes, temp);
    if (!MoveFileExW(temp.c_str(), target.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        raise_os_error(GetLastError(), quoted_path(temp) + " -> " + quoted_path(target));
    }
    committed = true;
}

void check_replaceable(const RecordFolder& folder, std::string_view) {
    DeleteFileW(make_temp_in(folder.path()).c_str());
}

bool is_writable_directory(const std::filesystem::path& dir) {
    return _waccess(dir.c_str(), 2) == 0;
}

std::string path_text(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return std::string(reinterpret_cast<const char*>(text.data()), text.size());
}

}  // namespace tessel_installer::ledgerfile::detail
