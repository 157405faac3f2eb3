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

void write_all(HANDLE handle, std::string_view bytes, const std::filesystem::path& path) {
    while (!bytes.empty()) {
        const DWORD chunk =
            bytes.size() > 0x40000000 ? 0x40000000 : static_cast<DWORD>(bytes.size());
        DWORD written = 0;
        if (!WriteFile(handle, bytes.data(), chunk, &written, nullptr)) {
            raise_os_error(GetLastError(), quoted_path(path));
        }
        bytes.remove_prefix(written);
    }
}

// CreateFileW that opens a reparse point itself instead of its target, and refuses it, and
// anything else that is not a plain file.
HANDLE open_plain(const std::filesystem::path& path, DWORD access, DWORD disposition) {
    HANDLE handle = CreateFileW(path.c_str(), access, SHARE_ALL, nullptr, disposition,
                                FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return handle;
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(handle, &info)) {
        const DWORD code = GetLastError();
        CloseHandle(handle);
        raise_os_error(code, quoted_path(path));
    }
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        CloseHandle(handle);
        throw OSError(quoted_path(path) + " is a symbolic link or junction; refusing to use it");
    }
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        CloseHandle(handle);
        throw OSError(quoted_path(path) + " is not a regular file; refusing to use it");
    }
    return handle;
}

std::filesystem::path path_in(const RecordFolder& folder, std::string_view name) {
    return folder.path() / std::filesystem::path(std::u8string(name.begin(), name.end()));
}

[[noreturn]] void raise_too_large(const std::filesystem::path& path) {
    throw OSError(quoted_path(path) + " is larger than " +
                  std::to_string(MAX_RECORD_SIZE / (1024 * 1024)) +
                  " MiB, too large for a record of installed packages; refusing to read it");
}

}  // namespace

RecordFolder::RecordFolder(const std::filesystem::path& dir) : path_(dir), handle_(0) {
    HANDLE handle = CreateFileW(dir.c_str(), FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD code = GetLastError();
        raise_os_error(code == ERROR_DIRECTORY ? ERROR_PATH_NOT_FOUND : code, quoted_path(dir));
    }
    UniqueHandle owner(handle);
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(handle, &info)) raise_os_error(GetLastError(), quoted_path(dir));
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        throw OSError(quoted_path(dir) + " is a symbolic link or junction; refusing to use it");
    }
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        raise_os_error(ERROR_PATH_NOT_FOUND, quoted_path(dir));
    }
    handle_ = reinterpret_cast<std::intptr_t>(owner.release());
}

RecordFolder::~RecordFolder() {
    if (handle_ != 0) CloseHandle(reinterpret_cast<HANDLE>(handle_));
}

RecordLock::RecordLock(const RecordFolder& folder, std::string_view name)
    : path_(path_in(folder, name)), handle_(0) {
    const std::filesystem::path& lock_path = path_;
    HANDLE handle = open_plain(lock_path, GENERIC_READ | GENERIC_WRITE, OPEN_ALWAYS);
    if (handle == INVALID_HANDLE_VALUE && GetLastError() == ERROR_ACCESS_DENIED) {
        // An existing lock file that we may not write still serves; when there is none, the
        // denied access is the cause to report.
        handle = open_plain(lock_path, GENERIC_READ, OPEN_EXISTING);
        if (handle == INVALID_HANDLE_VALUE) SetLastError(ERROR_ACCESS_DENIED);
    }
    if (handle == INVALID_HANDLE_VALUE) raise_os_error(GetLastError(), quoted_path(lock_path));
    handle_ = reinterpret_cast<std::intptr_t>(handle);
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
    UniqueHandle file(open_plain(path, GENERIC_READ, OPEN_EXISTING));
    if (!file) {
        const DWORD code = GetLastError();
        if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) return std::nullopt;
        raise_os_error(code, quoted_path(path));
    }
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file.get(), &size)) raise_os_error(GetLastError(), quoted_path(path));
    if (static_cast<std::uintmax_t>(size.QuadPart) > MAX_RECORD_SIZE) raise_too_large(path);
    std::string content;
    char buffer[16384];
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(file.get(), buffer, sizeof buffer, &got, nullptr)) {
            raise_os_error(GetLastError(), quoted_path(path));
        }
        if (got == 0) break;
        // A file that grows while it is read is held to the same limit.
        if (content.size() + got > MAX_RECORD_SIZE) raise_too_large(path);
        content.append(buffer, got);
    }
    return content;
}

void append_to_file(const RecordFolder& folder, std::string_view name, std::string_view bytes) {
    const std::filesystem::path path = path_in(folder, name);
    UniqueHandle file(open_plain(path, FILE_APPEND_DATA | FILE_READ_ATTRIBUTES, OPEN_ALWAYS));
    if (!file) raise_os_error(GetLastError(), quoted_path(path));
    // A hard link planted as the record would have the append land in the file it shares.
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(file.get(), &info)) {
        raise_os_error(GetLastError(), quoted_path(path));
    }
    if (info.nNumberOfLinks > 1) {
        throw OSError(quoted_path(path) + " has another hard link; refusing to use it");
    }
    write_all(file.get(), bytes, path);
    if (!FlushFileBuffers(file.get())) raise_os_error(GetLastError(), quoted_path(path));
    if (!file.close()) raise_os_error(GetLastError(), quoted_path(path));
}

void replace_file(const RecordFolder& folder, std::string_view name, std::string_view bytes) {
    // The record itself is replaced, never the target of a link in its place.
    const std::filesystem::path target = path_in(folder, name);
    const std::filesystem::path& dir = folder.path();

    // A unique name in the record's directory, created empty.
    wchar_t temp_name[MAX_PATH + 1] = {};
    if (GetTempFileNameW(dir.c_str(), L"tsl", 0, temp_name) == 0) {
        raise_os_error(GetLastError(), quoted_path(dir));
    }
    const std::filesystem::path temp(temp_name);
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
    write_all(file.get(), bytes, temp);
    if (!FlushFileBuffers(file.get())) raise_os_error(GetLastError(), quoted_path(temp));
    if (!file.close()) raise_os_error(GetLastError(), quoted_path(temp));
    if (!MoveFileExW(temp.c_str(), target.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        raise_os_error(GetLastError(), quoted_path(temp) + " -> " + quoted_path(target));
    }
    committed = true;
}

void check_replaceable(const RecordFolder& folder, std::string_view) {
    const std::filesystem::path& dir = folder.path();
    wchar_t temp_name[MAX_PATH + 1] = {};
    if (GetTempFileNameW(dir.c_str(), L"tsl", 0, temp_name) == 0) {
        raise_os_error(GetLastError(), quoted_path(dir));
    }
    DeleteFileW(temp_name);
}

bool is_writable_directory(const std::filesystem::path& dir) {
    return _waccess(dir.c_str(), 2) == 0;
}

std::string path_text(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return std::string(reinterpret_cast<const char*>(text.data()), text.size());
}

}  // namespace tessel_installer::ledgerfile::detail
