// The record's file operations on POSIX systems: flock for the lock, mkstemp + fsync + rename for
// the rewrite, O_NOFOLLOW on every open of the record and its lock.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "tessel_installer/errors.hpp"
#include "tessel_installer/platform/descriptor.hpp"
#include "tessel_installer/utils/ledgerfile/record_io.hpp"

namespace tessel_installer::ledgerfile::detail {
namespace {

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

// Opens without following a symbolic link in the file's place; -1 with errno set on failure. Only
// a regular file is taken: a FIFO planted in its place would otherwise block the run for good (so
// the open itself never waits), and a device is no record.
int open_no_follow(const std::filesystem::path& path, int flags, mode_t mode = 0) {
    int fd = -1;
    do {
        fd = ::open(path.c_str(), flags | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, mode);
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
[[noreturn]] void raise_open_error(int error, const std::filesystem::path& path) {
    struct stat state {};
    if (error == ELOOP && ::lstat(path.c_str(), &state) == 0 && S_ISLNK(state.st_mode)) {
        throw OSError(quoted_path(path) + " is a symbolic link; refusing to use it");
    }
    // A FIFO, socket or device: refused by the check after opening, or by the open itself (a FIFO
    // without a reader).
    if (::lstat(path.c_str(), &state) == 0 && !S_ISREG(state.st_mode) && !S_ISDIR(state.st_mode) &&
        !S_ISLNK(state.st_mode)) {
        throw OSError(quoted_path(path) + " is not a regular file; refusing to use it");
    }
    raise_os_error(error, quoted_path(path));
}

using platform::UniqueFd;

// Writes everything, going on after partial writes and interruptions.
void write_all(int fd, std::string_view bytes, const std::filesystem::path& path) {
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR) continue;
            raise_os_error(errno, quoted_path(path));
        }
        bytes.remove_prefix(static_cast<size_t>(written));
    }
}

void sync_to_disk(int fd, const std::filesystem::path& path) {
    while (::fsync(fd) != 0) {
        if (errno != EINTR) raise_os_error(errno, quoted_path(path));
    }
}

}  // namespace

RecordLock::RecordLock(const std::filesystem::path& lock_path) : path_(lock_path), handle_(-1) {
    int fd = open_no_follow(lock_path, O_RDWR | O_CREAT, 0666);
    if (fd < 0 && (errno == EACCES || errno == EROFS)) {
        // An existing lock file that we may not write still serves: flock needs only a
        // descriptor. When there is none to open, the first failure is the one to report.
        const int cause = errno;
        fd = open_no_follow(lock_path, O_RDONLY);
        if (fd < 0) errno = cause;
    }
    if (fd < 0) raise_open_error(errno, lock_path);
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

std::optional<std::string> read_whole_file(const std::filesystem::path& path) {
    UniqueFd fd(open_no_follow(path, O_RDONLY));
    if (fd.get() < 0) {
        // A missing file, or a path through something that is not a directory: no file there.
        if (errno == ENOENT || errno == ENOTDIR) return std::nullopt;
        raise_open_error(errno, path);
    }
    std::string content;
    char buffer[16384];
    for (;;) {
        const ssize_t got = ::read(fd.get(), buffer, sizeof buffer);
        if (got < 0) {
            if (errno == EINTR) continue;
            raise_os_error(errno, quoted_path(path));
        }
        if (got == 0) break;
        content.append(buffer, static_cast<size_t>(got));
    }
    return content;
}

void append_to_file(const std::filesystem::path& path, std::string_view bytes) {
    UniqueFd fd(open_no_follow(path, O_WRONLY | O_APPEND | O_CREAT, 0666));
    if (fd.get() < 0) raise_open_error(errno, path);
    // A hard link planted as the record would have the append land in the file it shares.
    struct stat state {};
    if (::fstat(fd.get(), &state) != 0) raise_os_error(errno, quoted_path(path));
    if (state.st_nlink > 1) {
        throw OSError(quoted_path(path) + " has another hard link; refusing to use it");
    }
    write_all(fd.get(), bytes, path);
    sync_to_disk(fd.get(), path);
    if (fd.close() != 0) raise_os_error(errno, quoted_path(path));
}

namespace {

// Creates a new, empty temporary file beside the file (a dot, the file's name and a unique
// ending) and returns its descriptor.
int make_temp_beside(const std::filesystem::path& path, std::string& temp_name) {
    temp_name = (path.parent_path() / ("." + path.filename().string() + ".XXXXXX")).string();
    const int fd = ::mkostemp(temp_name.data(), O_CLOEXEC);
    if (fd < 0) raise_os_error(errno, quoted_path(std::filesystem::path(temp_name)));
    return fd;
}

}  // namespace

void replace_file(const std::filesystem::path& path, std::string_view bytes) {
    // The rename replaces whatever is at the path itself: a symbolic link put there meanwhile is
    // replaced, never followed.
    std::string temp_name;
    UniqueFd fd(make_temp_beside(path, temp_name));
    const std::filesystem::path temp(temp_name);
    bool committed = false;
    struct RemoveUnlessCommitted {
        const std::filesystem::path& temp;
        const bool& committed;
        ~RemoveUnlessCommitted() {
            if (!committed) ::unlink(temp.c_str());
        }
    } cleanup{temp, committed};

    // The new file keeps the permissions of the one it replaces.
    struct stat old_state {};
    if (::lstat(path.c_str(), &old_state) == 0 && S_ISREG(old_state.st_mode) &&
        ::fchmod(fd.get(), old_state.st_mode & 07777) != 0) {
        raise_os_error(errno, quoted_path(temp));
    }
    write_all(fd.get(), bytes, temp);
    sync_to_disk(fd.get(), temp);
    if (fd.close() != 0) raise_os_error(errno, quoted_path(temp));
    if (::rename(temp.c_str(), path.c_str()) != 0) {
        raise_os_error(errno, quoted_path(temp) + " -> " + quoted_path(path));
    }
    committed = true;

    // Make the rename itself durable; a directory that cannot be synced is no reason to fail
    // after the new content is already in place.
    const std::filesystem::path dir = path.parent_path().empty() ? "." : path.parent_path();
    UniqueFd dir_fd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir_fd.get() >= 0) ::fsync(dir_fd.get());
}

void check_replaceable(const std::filesystem::path& path) {
    std::string temp_name;
    const UniqueFd fd(make_temp_beside(path, temp_name));
    ::unlink(temp_name.c_str());
}

bool is_writable_directory(const std::filesystem::path& dir) {
    return ::access(dir.c_str(), W_OK) == 0;
}

std::string path_text(const std::filesystem::path& path) {
    return path.string();
}

}  // namespace tessel_installer::ledgerfile::detail
