// Interrupt handlers on POSIX. The handler only records the signal; installing it without
// SA_RESTART makes a blocking poll() or waitpid() return with EINTR, so the waits notice at once.
#include <signal.h>

#include <csignal>
#include <initializer_list>

#include "tessel_installer/platform/signals.hpp"
#include "tessel_installer/platform/standard_streams.hpp"

namespace tessel_installer::platform {
namespace {

// The one piece of process-wide mutable state: written by the handler, read by the wait loops.
volatile std::sig_atomic_t g_pending = 0;
volatile std::sig_atomic_t g_termination = 0;
volatile std::sig_atomic_t g_count = 0;

extern "C" void record_signal(int signal_number) {
    if (g_pending == 0) g_pending = signal_number;
    if (g_termination == 0 && signal_number != SIGINT) g_termination = signal_number;
    g_count = g_count + 1;
}

}  // namespace

void install_interrupt_handlers() {
    struct sigaction action {};
    action.sa_handler = record_signal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;
    for (int signal_number : {SIGINT, SIGTERM, SIGHUP}) ::sigaction(signal_number, &action, nullptr);
    ignore_broken_pipe();
}

int pending_interrupt() noexcept { return static_cast<int>(g_pending); }

int pending_termination() noexcept { return static_cast<int>(g_termination); }

unsigned long interrupt_count() noexcept { return static_cast<unsigned long>(g_count); }

void clear_pending_interrupt() noexcept {
    g_pending = 0;
    g_termination = 0;
}

}  // namespace tessel_installer::platform
