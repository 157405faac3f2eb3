// The recorded interrupts, shared by both platforms' handlers (signals.cpp). Private to platform.
#pragma once

namespace tessel_installer::platform::detail {

// Records one interrupt: the first signal, the first termination request (anything but SIGINT) and
// the count. Safe to call from a signal handler.
void record_signal(int signal_number) noexcept;

// What a platform forgets besides the flags when a recorded signal is cleared (the Windows event).
void forget_platform_interrupt() noexcept;

#if !defined(_WIN32)
// Whether the signal was ignored when the program was loaded (by nohup, or by a shell that starts a
// background job). Such a signal stays ignored: no handler of ours replaces it, and children are
// started with it still ignored.
bool ignored_at_start(int signal_number) noexcept;
#endif

}  // namespace tessel_installer::platform::detail
