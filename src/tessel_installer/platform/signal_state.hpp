// The recorded interrupts, shared by both platforms' handlers (signals.cpp). Private to platform.
#pragma once

namespace tessel_installer::platform::detail {

// Records one interrupt: the first signal, the first termination request (anything but SIGINT) and
// the count. Safe to call from a signal handler.
void record_signal(int signal_number) noexcept;

// What a platform forgets besides the flags when a recorded signal is cleared (the Windows event).
void forget_platform_interrupt() noexcept;

}  // namespace tessel_installer::platform::detail
