// Interrupt handlers: the first signal is the one reported, every one is counted, and a recorded
// signal does not end the process.
#include <gtest/gtest.h>
#include <signal.h>

#include <csignal>

#include "tessel_installer/errors.hpp"
#include "tessel_installer/platform/signals.hpp"
#include "test_support.hpp"

namespace platform = tessel_installer::platform;

namespace {

TEST(InterruptHandlers, RecordTheFirstSignalAndCountEach) {
    const tessel_test::InterruptHandlers handlers;

    const unsigned long before = platform::interrupt_count();
    std::raise(SIGTERM);  // the process lives on: the handler only records it
    std::raise(SIGINT);
    const int pending = platform::pending_interrupt();
    const unsigned long counted = platform::interrupt_count() - before;
    int thrown = 0;
    try {
        platform::throw_if_interrupted();
    } catch (const tessel_installer::Interrupted& interrupted) {
        thrown = interrupted.signal_number();
    }
    platform::clear_pending_interrupt();
    const int after_clear = platform::pending_interrupt();
    bool quiet_after_clear = true;
    try {
        platform::throw_if_interrupted();
    } catch (const tessel_installer::Interrupted&) {
        quiet_after_clear = false;
    }
    struct sigaction installed {};
    ::sigaction(SIGINT, nullptr, &installed);
    EXPECT_EQ(pending, SIGTERM);
    EXPECT_EQ(counted, 2u);
    EXPECT_EQ(thrown, SIGTERM);  // the one that is pending, as the exit status reports it
    EXPECT_EQ(after_clear, 0);
    EXPECT_TRUE(quiet_after_clear);
    // Without SA_RESTART a blocking wait returns at once when a signal arrives.
    EXPECT_EQ(installed.sa_flags & SA_RESTART, 0);
}

}  // namespace
