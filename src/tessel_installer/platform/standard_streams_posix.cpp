#include <fcntl.h>
#include <cerrno>
#include <signal.h>
#include <unistd.h>

#include "tessel_installer/platform/standard_streams.hpp"

namespace tessel_installer::platform {

void reserve_standard_streams() noexcept {
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        // open() returns the lowest free number, which is this one. Not closed on exec: a child
        // that inherits the stream finds it as unusable as we do, not free for its own files.
        const int opened = ::open("/dev/null", O_RDONLY);
        if (opened >= 0 && opened != fd) ::close(opened);
    }
}

void ignore_broken_pipe() noexcept {
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    ::sigaction(SIGPIPE, &ignore, nullptr);
}

}  // namespace tessel_installer::platform
