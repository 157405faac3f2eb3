// One owner of an open file descriptor (POSIX) or kernel handle (Windows), closed on every way out
// of a scope. Shared by the child processes and the record's file operations.
#pragma once

#include <utility>

#if defined(_WIN32)
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace tessel_installer::platform {

#if defined(_WIN32)

// Owns one HANDLE; INVALID_HANDLE_VALUE and null both mean "none".
class UniqueHandle {
public:
    UniqueHandle() = default;
    explicit UniqueHandle(HANDLE h) noexcept : h_(h == INVALID_HANDLE_VALUE ? nullptr : h) {}
    UniqueHandle(UniqueHandle&& o) noexcept : h_(std::exchange(o.h_, nullptr)) {}
    UniqueHandle& operator=(UniqueHandle&& o) noexcept {
        if (this != &o) reset(std::exchange(o.h_, nullptr));
        return *this;
    }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    ~UniqueHandle() { reset(); }

    HANDLE get() const noexcept { return h_; }
    explicit operator bool() const noexcept { return h_ != nullptr; }
    void reset(HANDLE h = nullptr) noexcept {
        if (h_) CloseHandle(h_);
        h_ = h == INVALID_HANDLE_VALUE ? nullptr : h;
    }
    // Gives the handle up without closing it.
    HANDLE release() noexcept { return std::exchange(h_, nullptr); }
    // Closes now and reports whether that worked, so that a failed close is not lost.
    bool close() noexcept {
        const BOOL ok = h_ ? CloseHandle(h_) : TRUE;
        h_ = nullptr;
        return ok != 0;
    }

private:
    HANDLE h_ = nullptr;
};

#else

// Owns one file descriptor; -1 means "none".
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) noexcept : fd_(fd) {}
    UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) reset(std::exchange(other.fd_, -1));
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    ~UniqueFd() { reset(); }

    int get() const noexcept { return fd_; }
    explicit operator bool() const noexcept { return fd_ >= 0; }
    void reset(int fd = -1) noexcept {
        if (fd_ >= 0) ::close(fd_);
        fd_ = fd;
    }
    // Closes now and reports the result (0 or -1 with errno), so that a failed close is not lost.
    int close() noexcept {
        const int result = fd_ >= 0 ? ::close(fd_) : 0;
        fd_ = -1;
        return result;
    }

private:
    int fd_ = -1;
};

#endif

}  // namespace tessel_installer::platform
