// Interrupt handlers on POSIX. The handler only records the signal; installing it without
// SA_RESTART makes a blocking poll() or waitpid() return with EINTR, so the waits notice at once.
#include <signal.h>

#include <initializer_list>

#include "tessel_installer/platform/signal_state.hpp"
#include "tessel_installer/platform/signals.hpp"
#include "tessel_installer/platform/standard_streams.hpp"

namespace tessel_installer::platform {
namespace {

extern "C" void record_signal(int signal_number) { detail::record_signal(signal_number); }

}  // namespace

void detail::forget_platform_interrupt() noexcept {}

void install_interrupt_handlers() {
    struct sigaction action {};
    action.sa_handler = record_signal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;
    for (int signal_number : {SIGINT, SIGTERM, SIGHUP}) ::sigaction(signal_number, &action, nullptr);
    ignore_broken_pipe();
}

}  // namespace tessel_installer::platform
