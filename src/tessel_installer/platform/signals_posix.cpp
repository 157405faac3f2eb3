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

// The signals of ours that the program was started with ignored, read before main() runs and
// before anything of ours changes their dispositions.
const sigset_t g_ignored_at_start = [] {
    sigset_t ignored;
    sigemptyset(&ignored);
    for (const int signal_number : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) {
        struct sigaction current {};
        if (::sigaction(signal_number, nullptr, &current) == 0 && current.sa_handler == SIG_IGN) {
            sigaddset(&ignored, signal_number);
        }
    }
    return ignored;
}();

}  // namespace

bool detail::ignored_at_start(int signal_number) noexcept {
    return sigismember(&g_ignored_at_start, signal_number) == 1;
}

void detail::forget_platform_interrupt() noexcept {}

void install_interrupt_handlers() {
    struct sigaction action {};
    action.sa_handler = record_signal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;
    for (int signal_number : {SIGINT, SIGTERM, SIGHUP}) {
        // What the program's starter chose to ignore (nohup's hang-up, a background job's
        // Ctrl-C) stays ignored: it was never meant to end this run.
        if (detail::ignored_at_start(signal_number)) continue;
        ::sigaction(signal_number, &action, nullptr);
    }
    ignore_broken_pipe();
}

}  // namespace tessel_installer::platform
