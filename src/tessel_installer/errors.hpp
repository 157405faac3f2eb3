// The error kinds of the system. Operations throw them low and the front end catches them once, at
// the top, where it prints "tessel-installer: error: MESSAGE" and ends with a non-zero status.
#pragma once

#include <stdexcept>
#include <string>

namespace tessel_installer {

// The general kind; every error of the system is one of these.
class Exception : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A value was malformed or rejected (an invalid file name, requirement or version, bad data).
class ValueError : public Exception {
public:
    using Exception::Exception;
};

// An HTTP endpoint does not exist (404).
class NotFoundError : public ValueError {
public:
    using ValueError::ValueError;
};

// A looked-up key has no entry (a message table without the asked-for action word).
class KeyError : public Exception {
public:
    using Exception::Exception;
};

// A failure at run time that fits no other kind (a server error, a misbehaving child process).
class RuntimeError : public Exception {
public:
    using Exception::Exception;
};

// A failure of the operating system: files, directories, child processes.
class OSError : public Exception {
public:
    using Exception::Exception;
};

class PermissionError : public OSError {
public:
    using OSError::OSError;
};

class FileNotFoundError : public OSError {
public:
    using OSError::OSError;
};

// The run was stopped by a signal (Ctrl-C or a termination request) after the running child ended.
// The front end turns it into one line and the status 128 + signal.
class Interrupted : public Exception {
public:
    explicit Interrupted(int signal_number)
        : Exception("interrupted"), signal_(signal_number) {}
    int signal_number() const noexcept { return signal_; }

private:
    int signal_;
};

// The status a run stopped by a signal ends with: the one a shell shows for a process ended by it.
inline int interrupt_status(int signal_number) noexcept {
    return signal_number > 0 && signal_number < 128 ? 128 + signal_number : 1;
}

}  // namespace tessel_installer
