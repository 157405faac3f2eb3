// The state that the interrupt handlers of both platforms record, and its readers.
#include <csignal>

#include "tessel_installer/errors.hpp"
#include "tessel_installer/platform/signal_state.hpp"
#include "tessel_installer/platform/signals.hpp"

namespace tessel_installer::platform {
namespace {

// The one piece of process-wide mutable state: written by the handler, read by the wait loops.
volatile std::sig_atomic_t g_pending = 0;
volatile std::sig_atomic_t g_termination = 0;
volatile std::sig_atomic_t g_count = 0;
int g_shields = 0;  // one thread runs everything

}  // namespace

void detail::record_signal(int signal_number) noexcept {
    if (g_pending == 0) g_pending = signal_number;
    if (g_termination == 0 && signal_number != SIGINT) g_termination = signal_number;
    g_count = g_count + 1;
}

int pending_interrupt() noexcept { return static_cast<int>(g_pending); }

int pending_termination() noexcept { return static_cast<int>(g_termination); }

void throw_if_interrupted() {
    if (const int signal_number = pending_interrupt(); signal_number != 0) {
        throw Interrupted(signal_number);
    }
}

unsigned long interrupt_count() noexcept { return static_cast<unsigned long>(g_count); }

InterruptShield::InterruptShield() noexcept { ++g_shields; }
InterruptShield::~InterruptShield() { --g_shields; }
bool interrupts_shielded() noexcept { return g_shields > 0; }

void clear_pending_interrupt() noexcept {
    g_pending = 0;
    g_termination = 0;
    detail::forget_platform_interrupt();
}

}  // namespace tessel_installer::platform
