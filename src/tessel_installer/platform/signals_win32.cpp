// Interrupts on Windows: a console control handler records Ctrl-C (as SIGINT) or Ctrl-Break and
// close, log-off and shutdown events (as SIGTERM, a termination request that the waits pass on to
// the child) and sets an event, so a timed wait for a child returns at once.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <csignal>

#include "tessel_installer/platform/signals.hpp"

namespace tessel_installer::platform {
namespace {

// The one piece of process-wide mutable state: written by the handler, read by the wait loops.
volatile std::sig_atomic_t g_pending = 0;
volatile std::sig_atomic_t g_termination = 0;
volatile std::sig_atomic_t g_count = 0;
HANDLE g_event = nullptr;

BOOL WINAPI record_control(DWORD type) noexcept {
    int signal_number = type == CTRL_C_EVENT ? SIGINT : SIGTERM;
    if (g_pending == 0) g_pending = signal_number;
    if (g_termination == 0 && signal_number != SIGINT) g_termination = signal_number;
    g_count = g_count + 1;
    if (g_event) SetEvent(g_event);
    if (type == CTRL_C_EVENT || type == CTRL_BREAK_EVENT) {
        // Handled: the wait loop lets the running child end and stops the run itself.
        return TRUE;
    }
    // A closed console, a log-off or a shutdown ends the process as soon as this handler returns,
    // before the running child was ended and its record entry kept. So the handler does not
    // return: the main thread finishes the run and exits, which ends this thread too (the system
    // allows a few seconds for that).
    Sleep(INFINITE);
    return TRUE;
}

}  // namespace

namespace detail {
HANDLE interrupt_event() noexcept { return g_event; }
int console_control(unsigned long event) noexcept { return record_control(event); }
}  // namespace detail

void install_interrupt_handlers() {
    if (!g_event) g_event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    SetConsoleCtrlHandler(record_control, TRUE);
}

int pending_interrupt() noexcept { return static_cast<int>(g_pending); }

int pending_termination() noexcept { return static_cast<int>(g_termination); }

unsigned long interrupt_count() noexcept { return static_cast<unsigned long>(g_count); }

void clear_pending_interrupt() noexcept {
    g_pending = 0;
    g_termination = 0;
    if (g_event) ResetEvent(g_event);
}

}  // namespace tessel_installer::platform
