// Interrupts. The handlers only record which signal arrived; the loops that wait for children
// notice it, let the running child end, and stop the run.
#pragma once

namespace tessel_installer::platform {

// Installs handlers for SIGINT, SIGTERM and SIGHUP (Ctrl-C, Ctrl-Break and console close events
// on Windows) that record the signal, and ignores SIGPIPE, so that a closed pipe on standard
// output is an ordinary write error rather than the end of the process while a child runs.
// A signal that was ignored when the program started (nohup, a background job) keeps being ignored,
// here and in children; children start with default dispositions for the others. On Windows a
// log-off event is handled and ignored: it is sent to programs under a service whenever any user
// logs off.
void install_interrupt_handlers();

// The first signal recorded since the handlers were installed, or 0.
int pending_interrupt() noexcept;

// Throws Interrupted for the first signal recorded, if any: the loops call it where stopping
// leaves nothing half done.
void throw_if_interrupted();

// The first termination request (SIGTERM or SIGHUP) recorded, or 0. A child leads a process group
// of its own, so neither Ctrl-C nor a termination request reaches it from outside: the waits for a
// child pass every interrupt on to the child's group.
int pending_termination() noexcept;

// How many of those signals have arrived since the handlers were installed. A wait compares it
// before and after sleeping, so a signal that lands just before the sleep still ends the wait.
unsigned long interrupt_count() noexcept;

// While one is alive, the waits for a child do not pass interrupts on: for a short query that the
// run still needs after an interrupt (is the distribution that an interrupted uninstall was
// removing still installed?). The interrupt stays recorded.
class InterruptShield {
public:
    InterruptShield() noexcept;
    ~InterruptShield();
    InterruptShield(const InterruptShield&) = delete;
    InterruptShield& operator=(const InterruptShield&) = delete;
};

// Whether an InterruptShield is alive.
bool interrupts_shielded() noexcept;

// Forgets a recorded signal (tests only).
void clear_pending_interrupt() noexcept;

#if defined(_WIN32)
namespace detail {
// The console control handler that install_interrupt_handlers registers, for the tests to call as
// the system does, on a thread of its own: for a close or shutdown event it never returns.
int console_control(unsigned long event) noexcept;
}  // namespace detail
#endif

}  // namespace tessel_installer::platform
