// The record's file operations on POSIX systems: flock for the lock, a temporary file + fsync +
// renameat for the rewrite, all relative to the folder's descriptor, and O_NOFOLLOW on every open
// of the folder, the record and its lock.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>

#include "tessel_installer/errors.hpp"
#include "tessel_installer/platform/descriptor.hpp"
#include "tessel_installer/utils/ledgerfile/record_io.hpp"

namespace tessel_installer::ledgerfile::detail {
namespace {

using platform::UniqueFd;

// The error kind of an errno value, with the text "[Errno N] reason: 'path'".
[[noreturn]] void raise_os_error(int error, const std::string& what) {
    std::string message =
        "[Errno " + std::to_string(error) + "] " + std::strerror(error) + ": " + what;
    switch (error) {
        case EACCES:
        case EPERM:
            throw PermissionError(message);
        case ENOENT:
            throw FileNotFoundError(message);
        default:
            throw OSError(message);
    }
}

int dir_fd(const RecordFolder& folder) noexcept { return static_cast<int>(folder.handle()); }

std::filesystem::path path_in(const RecordFolder& folder, std::string_view name) {
    return folder.path() / std::string(name);
}

// Opens a file of the folder without following a symbolic link in its place; -1 with errno set on
// failure. Only a regular file is taken: a FIFO planted in its place would otherwise block the run
// for good (so the open itself never waits), and a device is no record.
int open_no_follow(const RecordFolder& folder, std::string_view name, int flags, mode_t mode = 0) {
    const std::string file(name);
    int fd = -1;
    do {
        fd = ::openat(dir_fd(folder), file.c_str(), flags | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK,
                      mode);
    } while (fd < 0 && errno == EINTR);
    struct stat state {};
    if (fd >= 0 && (::fstat(fd, &state) != 0 || !S_ISREG(state.st_mode))) {
        const int error = S_ISDIR(state.st_mode) ? EISDIR : EINVAL;
        ::close(fd);
        errno = error;
        return -1;
    }
    return fd;
}

// The error of a failed open_no_follow: a symbolic link in the file's place is named as such, any
// other failure by its errno.
[[noreturn]] void raise_open_error(int error, const RecordFolder& folder, std::string_view name) {
    const std::filesystem::path path = path_in(folder, name);
    const std::string file(name);
    struct stat state {};
    const bool found = ::fstatat(dir_fd(folder), file.c_str(), &state, AT_SYMLINK_NOFOLLOW) == 0;
    if (error == ELOOP && found && S_ISLNK(state.st_mode)) {
        throw OSError(quoted_path(path) + " is a symbolic link; refusing to use it");
    }
    // A FIFO, socket or device: refused by the check after opening, or by the open itself (a FIFO
    // without a reader).
    if (found && !S_ISREG(state.st_mode) && !S_ISDIR(state.st_mode) && !S_ISLNK(state.st_mode)) {
        throw OSError(quoted_path(path) + " is not a regular file; refusing to use it");
    }
    raise_os_error(error, quoted_path(path));
}

// Writes everything (going on after partial writes and interruptions), flushes it to the disk and
// closes the file.
void write_to_disk(UniqueFd& fd, std::string_view bytes, const std::filesystem::path& path) {
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd.get(), bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR) continue;
            raise_os_error(errno, quoted_path(path));
        }
        bytes.remove_prefix(static_cast<size_t>(written));
    }
    while (::fsync(fd.get()) != 0) {
        if (errno != EINTR) raise_os_error(errno, quoted_path(path));
    }
    if (!fd.close()) raise_os_error(errno, quoted_path(path));
}

// Creates a new, empty temporary file in the folder (a dot, the file's name and a unique ending)
// and returns its descriptor.
UniqueFd make_temp_beside(const RecordFolder& folder, std::string_view name,
                          std::string& temp_name) {
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0;; ++attempt) {
        const auto ticks = static_cast<unsigned long long>(
            std::chrono::steady_clock::now().time_since_epoch().count());
        temp_name = "." + std::string(name) + "." + std::to_string(::getpid()) + "-" +
                    std::to_string(ticks % 1000000007ULL) + "-" + std::to_string(counter++);
        const int fd = ::openat(dir_fd(folder), temp_name.c_str(),
                                O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd >= 0) return UniqueFd(fd);
        if (errno == EINTR || (errno == EEXIST && attempt < 100)) continue;
        raise_os_error(errno, quoted_path(path_in(folder, temp_name)));
    }
}

}  // namespace

RecordFolder::RecordFolder(const std::filesystem::path& dir) : path_(dir), handle_(-1) {
    int fd = -1;
    do {
        fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        const int error = errno;
        struct stat state {};
        if ((error == ELOOP || error == ENOTDIR) && ::lstat(dir.c_str(), &state) == 0 &&
            S_ISLNK(state.st_mode)) {
            throw OSError(quoted_path(dir) + " is a symbolic link; refusing to use it");
        }
        // A path through something that is not a folder: no folder there, as when it is missing.
        raise_os_error(error == ENOTDIR ? ENOENT : error, quoted_path(dir));
    }
    handle_ = fd;
}

RecordFolder::~RecordFolder() {
    if (handle_ >= 0) ::close(static_cast<int>(handle_));
}

RecordLock::RecordLock(const RecordFolder& folder, std::string_view name)
    : path_(path_in(folder, name)), handle_(-1) {
    int fd = open_no_follow(folder, name, O_RDWR | O_CREAT, 0666);
    if (fd < 0 && (errno == EACCES || errno == EROFS)) {
        // An existing lock file that we may not write still serves: flock needs only a
        // descriptor. When there is none to open, the first failure is the one to report.
        const int cause = errno;
        fd = open_no_follow(folder, name, O_RDONLY);
        if (fd < 0) errno = cause;
    }
    if (fd < 0) raise_open_error(errno, folder, name);
    handle_ = fd;
}

bool RecordLock::try_lock() {
    const int fd = static_cast<int>(handle_);
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EWOULDBLOCK) return false;
        if (errno != EINTR) raise_os_error(errno, quoted_path(path_));
    }
    return true;
}

RecordLock::~RecordLock() {
    // Closing the descriptor releases the lock.
    if (handle_ >= 0) ::close(static_cast<int>(handle_));
}

std::optional<std::string> read_whole_file(const RecordFolder& folder, std::string_view name) {
    const std::filesystem::path path = path_in(folder, name);
    UniqueFd fd(open_no_follow(folder, name, O_RDONLY));
    if (fd.get() < 0) {
        if (errno == ENOENT) return std::nullopt;
        raise_open_error(errno, folder, name);
    }
    struct stat state {};
    if (::fstat(fd.get(), &state) != 0) raise_os_error(errno, quoted_path(path));
    const auto size = static_cast<std::uintmax_t>(state.st_size);
    return read_limited(size, path, [&](char* buffer, std::size_t capacity) {
        ssize_t got = -1;
        while ((got = ::read(fd.get(), buffer, capacity)) < 0) {
            if (errno != EINTR) raise_os_error(errno, quoted_path(path));
        }
        return static_cast<std::size_t>(got);
    });
}

void append_to_file(const RecordFolder& folder, std::string_view name, std::string_view bytes) {
    const std::filesystem::path path = path_in(folder, name);
    UniqueFd fd(open_no_follow(folder, name, O_WRONLY | O_APPEND | O_CREAT, 0666));
    if (fd.get() < 0) raise_open_error(errno, folder, name);
    // A hard link planted as the record would have the append land in the file it shares.
    struct stat state {};
    if (::fstat(fd.get(), &state) != 0) raise_os_error(errno, quoted_path(path));
    if (state.st_nlink > 1) {
        throw OSError(quoted_path(path) + " has another hard link; refusing to use it");
    }
    write_to_disk(fd, bytes, path);
}

void replace_file(const RecordFolder& folder, std::string_view name, std::string_view bytes) {
    // The rename replaces whatever is at the name itself: a symbolic link put there meanwhile is
    // replaced, never followed.
    const std::filesystem::path path = path_in(folder, name);
    std::string temp_name;
    UniqueFd fd = make_temp_beside(folder, name, temp_name);
    const std::filesystem::path temp = path_in(folder, temp_name);
    bool committed = false;
    struct RemoveUnlessCommitted {
        int dir;
        const std::string& temp_name;
        const bool& committed;
        ~RemoveUnlessCommitted() {
            if (!committed) ::unlinkat(dir, temp_name.c_str(), 0);
        }
    } cleanup{dir_fd(folder), temp_name, committed};

    // The new file keeps the permissions of the one it replaces.
    const std::string file(name);
    struct stat old_state {};
    if (::fstatat(dir_fd(folder), file.c_str(), &old_state, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISREG(old_state.st_mode) && ::fchmod(fd.get(), old_state.st_mode & 07777) != 0) {
        raise_os_error(errno, quoted_path(temp));
    }
    write_to_disk(fd, bytes, temp);
    if (::renameat(dir_fd(folder), temp_name.c_str(), dir_fd(folder), file.c_str()) != 0) {
        raise_os_error(errno, quoted_path(temp) + " -> " + quoted_path(path));
    }
    committed = true;

    // Make the rename itself durable; a folder that cannot be synced is no reason to fail after
    // the new content is already in place.
    ::fsync(dir_fd(folder));
}

void check_replaceable(const RecordFolder& folder, std::string_view name) {
    std::string temp_name;
    const UniqueFd fd = make_temp_beside(folder, name, temp_name);
    ::unlinkat(dir_fd(folder), temp_name.c_str(), 0);
}

bool is_writable_directory(const std::filesystem::path& dir) {
    return ::access(dir.c_str(), W_OK) == 0;
}

std::string path_text(const std::filesystem::path& path) {
    return path.string();
}

}  // namespace tessel_installer::ledgerfile::detail
