// The three standard streams at start-up.
#pragma once

namespace tessel_installer::platform {

// Makes sure descriptors 0, 1 and 2 are open before anything else is: a program started with one
// of them closed would otherwise hand that number to the next file it opens (the record, a pipe to
// a child), and its lines would land there. A closed stream is replaced by the null device opened
// for reading only, so a write to it still fails as it would have (EBADF) and is reported.
void reserve_standard_streams() noexcept;

// A closed pipe on standard output becomes an ordinary write error (EPIPE) instead of ending the
// process with SIGPIPE while a child may still be running.
void ignore_broken_pipe() noexcept;

}  // namespace tessel_installer::platform
