// The record's file operations on POSIX systems: flock for the lock, mkstemp + fsync + rename for
// the rewrite.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "tessel_installer/errors.hpp"
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

std::string in_quotes(const std::filesystem::path& path) {
    return "'" + path.string() + "'";
}

// Closes the descriptor on every way out of a scope.
class Fd {
public:
    explicit Fd(int fd) noexcept : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0) ::close(fd_);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const noexcept { return fd_; }
    // Closes now and reports the result, so that a failed close is not lost.
    int close() noexcept {
        const int result = ::close(fd_);
        fd_ = -1;
        return result;
    }

private:
    int fd_;
};

// Writes everything, going on after partial writes and interruptions.
void write_all(int fd, std::string_view bytes, const std::filesystem::path& path) {
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR) continue;
            raise_os_error(errno, in_quotes(path));
        }
        bytes.remove_prefix(static_cast<size_t>(written));
    }
}

void sync_to_disk(int fd, const std::filesystem::path& path) {
    while (::fsync(fd) != 0) {
        if (errno != EINTR) raise_os_error(errno, in_quotes(path));
    }
}

}  // namespace

RecordLock::RecordLock(const std::filesystem::path& lock_path) : handle_(-1) {
    int fd = ::open(lock_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    // An existing lock file that we may not write still serves: flock needs only a descriptor.
    if (fd < 0 && (errno == EACCES || errno == EROFS)) {
        fd = ::open(lock_path.c_str(), O_RDONLY | O_CLOEXEC);
    }
    if (fd < 0) raise_os_error(errno, in_quotes(lock_path));
    while (::flock(fd, LOCK_EX) != 0) {
        if (errno == EINTR) continue;
        const int error = errno;
        ::close(fd);
        raise_os_error(error, in_quotes(lock_path));
    }
    handle_ = fd;
}

RecordLock::~RecordLock() {
    // Closing the descriptor releases the lock.
    if (handle_ >= 0) ::close(static_cast<int>(handle_));
}

std::optional<std::string> read_whole_file(const std::filesystem::path& path) {
    Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) {
        // A missing file, or a path through something that is not a directory: no file there.
        if (errno == ENOENT || errno == ENOTDIR) return std::nullopt;
        raise_os_error(errno, in_quotes(path));
    }
    std::string content;
    char buffer[16384];
    for (;;) {
        const ssize_t got = ::read(fd.get(), buffer, sizeof buffer);
        if (got < 0) {
            if (errno == EINTR) continue;
            raise_os_error(errno, in_quotes(path));
        }
        if (got == 0) break;
        content.append(buffer, static_cast<size_t>(got));
    }
    return content;
}

void append_to_file(const std::filesystem::path& path, std::string_view bytes) {
    Fd fd(::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666));
    if (fd.get() < 0) raise_os_error(errno, in_quotes(path));
    write_all(fd.get(), bytes, path);
    sync_to_disk(fd.get(), path);
    if (fd.close() != 0) raise_os_error(errno, in_quotes(path));
}

void replace_file(const std::filesystem::path& path, std::string_view bytes) {
    // Through a symbolic link the file it names is replaced, not the link.
    std::error_code ignored;
    std::filesystem::path target = std::filesystem::canonical(path, ignored);
    if (ignored) target = path;

    std::string temp_name =
        (target.parent_path() / ("." + target.filename().string() + ".XXXXXX")).string();
    Fd fd(::mkostemp(temp_name.data(), O_CLOEXEC));
    if (fd.get() < 0) raise_os_error(errno, in_quotes(std::filesystem::path(temp_name)));
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
    if (::stat(target.c_str(), &old_state) == 0 &&
        ::fchmod(fd.get(), old_state.st_mode & 07777) != 0) {
        raise_os_error(errno, in_quotes(temp));
    }
    write_all(fd.get(), bytes, temp);
    sync_to_disk(fd.get(), temp);
    if (fd.close() != 0) raise_os_error(errno, in_quotes(temp));
    if (::rename(temp.c_str(), target.c_str()) != 0) {
        raise_os_error(errno, in_quotes(temp) + " -> " + in_quotes(target));
    }
    committed = true;

    // Make the rename itself durable; a directory that cannot be synced is no reason to fail
    // after the new content is already in place.
    const std::filesystem::path dir = target.parent_path().empty() ? "." : target.parent_path();
    Fd dir_fd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir_fd.get() >= 0) ::fsync(dir_fd.get());
}

bool is_writable_directory(const std::filesystem::path& dir) {
    return ::access(dir.c_str(), W_OK) == 0;
}

std::string path_text(const std::filesystem::path& path) {
    return path.string();
}

}  // namespace tessel_installer::ledgerfile::detail
