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

// Owns one value of Traits::Type; Traits::none means "none", and Traits::adopt maps every other
// spelling of "none" to it.
template <typename Traits>
class UniqueOwner {
public:
    using Type = typename Traits::Type;

    UniqueOwner() = default;
    explicit UniqueOwner(Type h) noexcept : h_(Traits::adopt(h)) {}
    UniqueOwner(UniqueOwner&& o) noexcept : h_(std::exchange(o.h_, Traits::none)) {}
    UniqueOwner& operator=(UniqueOwner&& o) noexcept {
        if (this != &o) reset(std::exchange(o.h_, Traits::none));
        return *this;
    }
    UniqueOwner(const UniqueOwner&) = delete;
    UniqueOwner& operator=(const UniqueOwner&) = delete;
    ~UniqueOwner() { reset(); }

    Type get() const noexcept { return h_; }
    explicit operator bool() const noexcept { return h_ != Traits::none; }
    void reset(Type h = Traits::none) noexcept {
        if (h_ != Traits::none) Traits::close(h_);
        h_ = Traits::adopt(h);
    }
    // Gives the value up without closing it.
    Type release() noexcept { return std::exchange(h_, Traits::none); }
    // Closes now and reports whether that worked (errno or GetLastError() says why not), so that a
    // failed close is not lost.
    bool close() noexcept {
        const bool ok = h_ == Traits::none || Traits::close(h_);
        h_ = Traits::none;
        return ok;
    }

private:
    Type h_ = Traits::none;
};

#if defined(_WIN32)
// INVALID_HANDLE_VALUE and null both mean "none".
struct HandleTraits {
    using Type = HANDLE;
    static constexpr HANDLE none = nullptr;
    static HANDLE adopt(HANDLE h) noexcept { return h == INVALID_HANDLE_VALUE ? nullptr : h; }
    static bool close(HANDLE h) noexcept { return CloseHandle(h) != 0; }
};
using UniqueHandle = UniqueOwner<HandleTraits>;
#else
// -1 means "none".
struct FdTraits {
    using Type = int;
    static constexpr int none = -1;
    static int adopt(int fd) noexcept { return fd < 0 ? -1 : fd; }
    static bool close(int fd) noexcept { return ::close(fd) == 0; }
};
using UniqueFd = UniqueOwner<FdTraits>;
#endif

}  // namespace tessel_installer::platform
