// Interrupts on Windows: a console control handler records Ctrl-C (as SIGINT) or Ctrl-Break and
// close and shutdown events (as SIGTERM, a termination request that the waits pass on to the
// child) and sets an event, so a timed wait for a child returns at once. A log-off event is handled
// and ignored: Windows sends it to console programs under a service (a CI agent) whenever any user
// logs off, which says nothing about this run.
#include <windows.h>

#include <csignal>

#include "tessel_installer/platform/signal_state.hpp"
#include "tessel_installer/platform/signals.hpp"

namespace tessel_installer::platform {
namespace {

HANDLE g_event = nullptr;

BOOL WINAPI record_control(DWORD type) noexcept {
    if (type == CTRL_LOGOFF_EVENT) return TRUE;
    detail::record_signal(type == CTRL_C_EVENT ? SIGINT : SIGTERM);
    if (g_event) SetEvent(g_event);
    if (type == CTRL_C_EVENT || type == CTRL_BREAK_EVENT) {
        // Handled: the wait loop lets the running child end and stops the run itself.
        return TRUE;
    }
    // A closed console or a shutdown ends the process as soon as this handler returns,
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
void forget_platform_interrupt() noexcept {
    if (g_event) ResetEvent(g_event);
}
}  // namespace detail

void install_interrupt_handlers() {
    if (!g_event) g_event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    SetConsoleCtrlHandler(record_control, TRUE);
}

}  // namespace tessel_installer::platform
