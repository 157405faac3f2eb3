// Children answered in process, for the tests of the loops that wait for a child: how many waits
// a child takes and how it ends are set, never timed. Also the signals as their handlers record
// them, and the progress frames taken out of a captured text.
#pragma once

#include <chrono>
#include <csignal>
#include <string>

#include "tessel_installer/platform/child.hpp"
#include "tessel_installer/platform/signals.hpp"

namespace tessel_installer::testing {

// Records a signal as its handler would: Ctrl-C (SIGINT) or a termination request (SIGTERM).
inline void deliver_signal(int signal_number) {
#if defined(_WIN32)
    platform::detail::console_control(signal_number == SIGINT ? 0 /* CTRL_C_EVENT */
                                                              : 1 /* CTRL_BREAK_EVENT */);
#else
    std::raise(signal_number);
#endif
}

// The text with the progress frames taken out: a frame is a carriage return and text that is
// followed by another carriage return before any line break.
inline std::string without_frames(const std::string& text) {
    std::string out;
    std::size_t i = 0;
    while (i < text.size()) {
        if (text[i] == '\r') {
            const std::size_t next = text.find_first_of("\r\n", i + 1);
            if (next != std::string::npos && text[next] == '\r') {
                i = next;
                continue;
            }
        }
        out += text[i++];
    }
    return out;
}

// A child that ends after a given number of waits with a given status. One that waits for a
// termination request ends with 143 once one has been recorded, as pip does when it is passed on.
class FakeChild final : public platform::Child {
public:
    FakeChild(int status, int waits, bool until_termination)
        : status_(status), waits_(waits), until_termination_(until_termination) {}
    bool wait_for_end(std::chrono::milliseconds) override {
        if (until_termination_) {
            if (platform::pending_termination() == 0 && ++spins_ < 1000) return false;
            status_ = platform::pending_termination() != 0 ? 143 : 99;
            return true;
        }
        return waits_-- <= 0;
    }
    int wait() override {
        while (!wait_for_end(std::chrono::milliseconds(0))) continue;
        return status_;
    }

private:
    int status_;
    int waits_;
    bool until_termination_;
    int spins_ = 0;
};

}  // namespace tessel_installer::testing
